// Every error number of the component's own, with its text.
//
// Each number is raised with ComponentError (automation/error.h), whose source
// is "Torvane." + the raising class, or (the data-access objects) AdoError,
// source "ADODB." + the class. kErrorList below gives every number's text:
// the description exactly, with {braces} around what the raising code fills
// in. Numbers absent here are not raised.
// The archive engine's own failure codes (0x80040Axx) are listed in
// archive/engine_util.h; the platform numbers (5, 13, 457 ...) in
// automation/error.h.
#pragma once

#include <cstdint>

namespace torvane::component_error {

// ---- File, FormInput, Directory ---------------------------------------------
inline constexpr int32_t SizeReadOnly = 9000;
inline constexpr int32_t InputFileReadOnly = 9001;
inline constexpr int32_t InputContentTypeReadOnly = 9008;
inline constexpr int32_t InputNameReadOnly = 9009;
inline constexpr int32_t FilesReadOnly = 9004;

// ---- Post: the upload ------------------------------------------------------
inline constexpr int32_t NotMultipart = 9002;
inline constexpr int32_t NoDirectory = 9007;
inline constexpr int32_t FormInputsReadOnly = 9010;
inline constexpr int32_t MaxTotalFileSizeExceeded = 9011;
inline constexpr int32_t MaxFileSizeExceeded = 9012;
inline constexpr int32_t PostStreamUnreadable = 9013;
inline constexpr int32_t BodyLengthUnknown = 9019;
inline constexpr int32_t UploadTargetExists = 9029;
inline constexpr int32_t DuplicateFileInput = 9035;
inline constexpr int32_t TruncatedBody = 9037;
inline constexpr int32_t MaxFilesExceeded = 9038;
inline constexpr int32_t MaxPartsExceeded = 9039;
inline constexpr int32_t MaxFieldSizeExceeded = 9040;
inline constexpr int32_t MaxTotalFieldSizeExceeded = 9041;
inline constexpr int32_t PageFileRefused = 9042;

// ---- File: content and download ---------------------------------------------
inline constexpr int32_t ContentTypeConflict = 9014;
inline constexpr int32_t FileMissing = 9027;
inline constexpr int32_t NotInMemory = 9036;

// ---- Archive ------------------------------------------------------------------
inline constexpr int32_t UnknownArchiveFormat = 9028;
inline constexpr int32_t FoldersNotSupported = 9031;
inline constexpr int32_t ArchiveNotOpen = 9032;

// ---- the path and impersonation policies ------------------------------------
inline constexpr int32_t VirtualOnly = 9030;
inline constexpr int32_t AccessDenied = 9033;

// ---- the data-access objects (source "ADODB." + class) -----------------------
inline constexpr int32_t DatabaseError = 9050;
inline constexpr int32_t BadConnectionString = 9051;
inline constexpr int32_t ObjectClosed = 9052;
inline constexpr int32_t ObjectOpen = 9053;
inline constexpr int32_t NoCurrentRecord = 9054;
inline constexpr int32_t NoSuchItem = 9055;
inline constexpr int32_t NotUpdatable = 9056;
inline constexpr int32_t NoTransaction = 9057;
inline constexpr int32_t NoConnection = 9058;
inline constexpr int32_t ReadOnlyRecordset = 9059;

// One error of the list: its number, the constant's name, the description
// as raised ({name} marks what the raising code fills in) and, where the text
// alone does not say it, a note on when it is raised.
struct ErrorText {
  int32_t number;
  const char* name;
  const char* text;
  const char* note = "";
};

// Every number above, in number order (the generated reference lists them).
inline constexpr ErrorText kErrorList[] = {
    {SizeReadOnly, "SizeReadOnly", "File.LetSize - Size is readonly for file {name}."},
    {InputFileReadOnly, "InputFileReadOnly", "FormInput.LetFile - File is readonly for FormInput Objects."},
    {NotMultipart, "NotMultipart",
     "Post.GetFormInputs - Content type of request is \"{type}\" instead of \"multipart/form-data\""},
    {FilesReadOnly, "FilesReadOnly", "Directory.SetFiles - The Files Collection is readonly."},
    {NoDirectory, "NoDirectory", "Post.GetFormInputs - Post.Directory not Set"},
    {InputContentTypeReadOnly, "InputContentTypeReadOnly",
     "FormInput.LetContentType - ContentType is readonly for FormInput Objects."},
    {InputNameReadOnly, "InputNameReadOnly", "FormInput.LetName - Name is readonly for FormInput Objects."},
    {FormInputsReadOnly, "FormInputsReadOnly", "Post.SetFormInputs - FormInputs is readonly for Post Objects."},
    {MaxTotalFileSizeExceeded, "MaxTotalFileSizeExceeded", "Post.GetFormInputs - MaxTotalFileSize exceeded"},
    {MaxFileSizeExceeded, "MaxFileSizeExceeded", "Post.GetFormInputs - MaxFileSize exceeded"},
    {PostStreamUnreadable, "PostStreamUnreadable",
     "Post.GetFormInputs - Error reading Post Stream.  The common cause for this is referencing the Request.Form "
     "collection which is not allowed.",
     "two blanks after \"Stream.\""},
    {ContentTypeConflict, "ContentTypeConflict",
     "File.Download - A conflicting HTTP ContentType header was already sent"},
    {BodyLengthUnknown, "BodyLengthUnknown",
     "Post.GetFormInputs - The version of the ASP.DLL in use is not supported. Make sure the version is 1.15.14.0 or "
     "higher, it is registered properly, and no other ASP.DLLs are on your system.",
     "the host cannot tell the length of the request body"},
    {FileMissing, "FileMissing", "File {name} does not exist.", "also for folders"},
    {UnknownArchiveFormat, "UnknownArchiveFormat", "Unknown archive format for {path}"},
    {UploadTargetExists, "UploadTargetExists", "Post.GetFormInputs - File {field name} exists."},
    {VirtualOnly, "VirtualOnly", "Only virtual directories may be used.",
     "a path outside the site where the policy allows only site paths"},
    {FoldersNotSupported, "FoldersNotSupported",
     "This Archive type does not support folders and Recurse or Flatten was specified."},
    {ArchiveNotOpen, "ArchiveNotOpen", "Archive must be created or opened before being used."},
    {AccessDenied, "AccessDenied", "Access Denied", "the impersonation policy refused the account"},
    {DuplicateFileInput, "DuplicateFileInput", "An Input element has the same name as the input element for the file"},
    {NotInMemory, "NotInMemory", "The file is not in memory."},
    {TruncatedBody, "TruncatedBody", "Post.GetFormInputs - The request ended before its closing boundary."},
    {MaxFilesExceeded, "MaxFilesExceeded", "Post.GetFormInputs - MaxFiles exceeded ({limit})"},
    {MaxPartsExceeded, "MaxPartsExceeded", "Post.GetFormInputs - MaxParts exceeded ({limit})"},
    {MaxFieldSizeExceeded, "MaxFieldSizeExceeded", "Post.GetFormInputs - MaxFieldSize exceeded ({limit})"},
    {MaxTotalFieldSizeExceeded, "MaxTotalFieldSizeExceeded", "Post.GetFormInputs - MaxTotalFieldSize exceeded ({limit})"},
    {PageFileRefused, "PageFileRefused",
     "Post.GetFormInputs - File {name} would be stored where the host runs pages; set Post.AllowPageFiles to store "
     "it there."},
    {DatabaseError, "DatabaseError", "{the database's own message}", "the database refused a statement"},
    {BadConnectionString, "BadConnectionString", "The connection string names no database Torvane can open: {text}"},
    {ObjectClosed, "ObjectClosed", "Operation is not allowed when the object is closed."},
    {ObjectOpen, "ObjectOpen", "Operation is not allowed when the object is open."},
    {NoCurrentRecord, "NoCurrentRecord",
     "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
     "record."},
    {NoSuchItem, "NoSuchItem",
     "Item cannot be found in the collection corresponding to the requested name or ordinal."},
    {NotUpdatable, "NotUpdatable", "The recordset cannot change rows: {the reason}"},
    {NoTransaction, "NoTransaction", "No transaction is active."},
    {NoConnection, "NoConnection",
     "The connection cannot be used to perform this operation. It is either closed or invalid in this context."},
    {ReadOnlyRecordset, "ReadOnlyRecordset",
     "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected "
     "locktype."},
};

// The entry for `number`, or nullptr when the component does not raise it.
constexpr const ErrorText* FindError(int32_t number) {
  for (const ErrorText& e : kErrorList)
    if (e.number == number) return &e;
  return nullptr;
}

}  // namespace torvane::component_error
