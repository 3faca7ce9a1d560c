// Every error number of the component's own, with its text.
//
// Each number is raised with ComponentError (automation/error.h), whose source
// is "Torvane." + the raising class, or (the data-access objects) AdoError,
// source "ADODB." + the class. A text in quotes is the description exactly; a
// "+" marks what the raising code appends. Numbers absent here are not raised.
// The archive engine's own failure codes (0x80040Axx) are listed in
// archive/engine_util.h; the platform numbers (5, 13, 457 ...) in
// automation/error.h.
#pragma once

#include <cstdint>

namespace torvane::component_error {

// ---- File, FormInput, Directory ---------------------------------------------
// "File.LetSize - Size is readonly for file " + name + "."
inline constexpr int32_t SizeReadOnly = 9000;
// "FormInput.LetFile - File is readonly for FormInput Objects."
inline constexpr int32_t InputFileReadOnly = 9001;
// "FormInput.LetContentType - ContentType is readonly for FormInput Objects."
inline constexpr int32_t InputContentTypeReadOnly = 9008;
// "FormInput.LetName - Name is readonly for FormInput Objects."
inline constexpr int32_t InputNameReadOnly = 9009;
// "Directory.SetFiles - The Files Collection is readonly."
inline constexpr int32_t FilesReadOnly = 9004;

// ---- Post: the upload ------------------------------------------------------
// "Post.GetFormInputs - Content type of request is \"" + type + "\" instead of \"multipart/form-data\""
inline constexpr int32_t NotMultipart = 9002;
// "Post.GetFormInputs - Post.Directory not Set"
inline constexpr int32_t NoDirectory = 9007;
// "Post.SetFormInputs - FormInputs is readonly for Post Objects."
inline constexpr int32_t FormInputsReadOnly = 9010;
// "Post.GetFormInputs - MaxTotalFileSize exceeded"
inline constexpr int32_t MaxTotalFileSizeExceeded = 9011;
// "Post.GetFormInputs - MaxFileSize exceeded"
inline constexpr int32_t MaxFileSizeExceeded = 9012;
// "Post.GetFormInputs - Error reading Post Stream.  The common cause for this is
// referencing the Request.Form collection which is not allowed." (two blanks after "Stream.")
inline constexpr int32_t PostStreamUnreadable = 9013;
// "Post.GetFormInputs - The version of the ASP.DLL in use is not supported. Make sure the version is
// 1.15.14.0 or higher, it is registered properly, and no other ASP.DLLs are on your system."
// (the host cannot tell the length of the request body)
inline constexpr int32_t BodyLengthUnknown = 9019;
// "Post.GetFormInputs - File " + field name + " exists."
inline constexpr int32_t UploadTargetExists = 9029;
// "An Input element has the same name as the input element for the file"
inline constexpr int32_t DuplicateFileInput = 9035;
// "Post.GetFormInputs - The request ended before its closing boundary."
inline constexpr int32_t TruncatedBody = 9037;
// "Post.GetFormInputs - MaxFiles exceeded (" + limit + ")"
inline constexpr int32_t MaxFilesExceeded = 9038;
// "Post.GetFormInputs - MaxParts exceeded (" + limit + ")"
inline constexpr int32_t MaxPartsExceeded = 9039;
// "Post.GetFormInputs - MaxFieldSize exceeded (" + limit + ")"
inline constexpr int32_t MaxFieldSizeExceeded = 9040;
// "Post.GetFormInputs - MaxTotalFieldSize exceeded (" + limit + ")"
inline constexpr int32_t MaxTotalFieldSizeExceeded = 9041;
// "Post.GetFormInputs - File " + name + " would be stored where the host runs pages; set
// Post.AllowPageFiles to store it there."
inline constexpr int32_t PageFileRefused = 9042;

// ---- File: content and download ---------------------------------------------
// "File.Download - A conflicting HTTP ContentType header was already sent"
inline constexpr int32_t ContentTypeConflict = 9014;
// "File " + name + " does not exist." (also for folders)
inline constexpr int32_t FileMissing = 9027;
// "The file is not in memory."
inline constexpr int32_t NotInMemory = 9036;

// ---- Archive ------------------------------------------------------------------
// "Unknown archive format for " + path
inline constexpr int32_t UnknownArchiveFormat = 9028;
// "This Archive type does not support folders and Recurse or Flatten was specified."
inline constexpr int32_t FoldersNotSupported = 9031;
// "Archive must be created or opened before being used."
inline constexpr int32_t ArchiveNotOpen = 9032;

// ---- the path and impersonation policies ------------------------------------
// "Only virtual directories may be used."
inline constexpr int32_t VirtualOnly = 9030;
// "Access Denied"
inline constexpr int32_t AccessDenied = 9033;

// ---- the data-access objects (source "ADODB." + class) -----------------------
// the database refused a statement: the database's own message
inline constexpr int32_t DatabaseError = 9050;
// "The connection string names no database Torvane can open: " + text
inline constexpr int32_t BadConnectionString = 9051;
// "Operation is not allowed when the object is closed."
inline constexpr int32_t ObjectClosed = 9052;
// "Operation is not allowed when the object is open."
inline constexpr int32_t ObjectOpen = 9053;
// "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a
// current record."
inline constexpr int32_t NoCurrentRecord = 9054;
// "Item cannot be found in the collection corresponding to the requested name or ordinal."
inline constexpr int32_t NoSuchItem = 9055;
// "The recordset cannot change rows: " + the reason
inline constexpr int32_t NotUpdatable = 9056;
// "No transaction is active."
inline constexpr int32_t NoTransaction = 9057;
// "The connection cannot be used to perform this operation. It is either closed or invalid in this
// context."
inline constexpr int32_t NoConnection = 9058;
// "Current Recordset does not support updating. This may be a limitation of the provider, or of the
// selected locktype."
inline constexpr int32_t ReadOnlyRecordset = 9059;

}  // namespace torvane::component_error
