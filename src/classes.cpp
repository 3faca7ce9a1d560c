// The component's creatable classes and public constants: one table each.
#include <map>

#include "ado/command.h"
#include "ado/connection.h"
#include "ado/recordset.h"
#include "archive/archive.h"
#include "archive/archive_entries.h"
#include "archive/archive_entry.h"
#include "automation/progid.h"
#include "host/host.h"
#include "dirs/cdirectories.h"
#include "dirs/cfiles.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "form/cform_input.h"
#include "form/cform_value.h"
#include "form/form_input.h"
#include "machine/computer.h"
#include "platform/fileservices.h"
#include "progress/progress_bar.h"
#include "security/ace.h"
#include "security/ace_collection.h"
#include "security/rights.h"
#include "upload/post.h"

namespace torvane {

const std::vector<ProgIdEntry>& ProgIdTable() {
  static const std::vector<ProgIdEntry> table = {
      {"Torvane.File", &File::Create, &File::Class},
      {"Torvane.Directory", &Directory::Create, &Directory::Class},
      {"Torvane.cFiles", &CFiles::Create, &CFiles::Class},
      {"Torvane.cDirectories", &CDirectories::Create, &CDirectories::Class},
      {"Torvane.ACE", &Ace::Create, &Ace::Class},
      {"Torvane.cACE", &AceCollection::Create, &AceCollection::Class},
      {"Torvane.Computer", &Computer::Create, &Computer::Class},
      {"Torvane.Post", &Post::Create, &Post::Class},
      {"Torvane.FormInput", &FormInput::Create, &FormInput::Class},
      {"Torvane.cFormInput", &CFormInput::Create, &CFormInput::Class},
      {"Torvane.cFormValue", &CFormValue::Create, &CFormValue::Class},
      {"Torvane.ProgressBar", &ProgressBar::Create, &ProgressBar::Class},
      {"Torvane.Archive", &Archive::Create, &Archive::Class},
      {"Torvane.ArchiveEntry", &ArchiveEntry::Create, &ArchiveEntry::Class},
      {"Torvane.cArchiveEntry", &CArchiveEntry::Create, &CArchiveEntry::Class},
      // The data-access stand-ins answer to the ProgIDs classic pages use.
      {"ADODB.Connection", &ado::Connection::Create, &ado::Connection::Class},
      {"ADODB.Recordset", &ado::Recordset::Create, &ado::Recordset::Class},
      {"ADODB.Command", &ado::Command::Create, &ado::Command::Class},
  };
  return table;
}

namespace {

// The enumerations the constants belong to, as the reference groups them.
constexpr const char* kCommandType = "CommandTypeEnum";
constexpr const char* kCursorLocation = "CursorLocationEnum";
constexpr const char* kCursorType = "CursorTypeEnum";
constexpr const char* kDataType = "DataTypeEnum";
constexpr const char* kEditMode = "EditModeEnum";
constexpr const char* kLockType = "LockTypeEnum";
constexpr const char* kNtAccessMode = "NT_ACCESS_MODE";
constexpr const char* kObjectState = "ObjectStateEnum";
constexpr const char* kParamDirection = "ParameterDirectionEnum";
constexpr const char* kTvAccessMode = "TV_ACCESSMODE";
constexpr const char* kTvArchiveType = "TV_ARCHIVE_TYPE";
constexpr const char* kTvFileAttributes = "TV_FILE_ATTRIBUTES";
constexpr const char* kTvInherits = "TV_INHERITS";
constexpr const char* kTvLoginType = "TV_LOGINTYPE";
constexpr const char* kTvPermissions = "TV_PERMISSIONS";
constexpr const char* kTvSortType = "TV_SORT_TYPE";
constexpr const char* kTvTrusteeType = "TV_TRUSTEETYPE";
constexpr const char* kTvUploadType = "TV_UPLOAD_TYPE";
}  // namespace

const std::vector<NamedConstant>& ConstantTable() {
  static const std::vector<NamedConstant> table = {
      {"TV_UPLOAD_USETEMP", kUploadUseTemp, kTvUploadType,
       "each uploaded file becomes a new temporary file in the folder"},
      {"TV_UPLOAD_OVERWRITE", kUploadOverwrite, kTvUploadType, "the client's file name; an existing file is replaced"},
      {"TV_UPLOAD_MAKEVERSIONS", kUploadMakeVersions, kTvUploadType,
       "the client's file name, or the first free \"name(n).ext\" variant"},
      {"TV_UPLOAD_ERRORIFEXISTS", kUploadErrorIfExists, kTvUploadType,
       "the client's file name; an existing file fails the upload"},
      {"TV_UPLOAD_INMEMORY", kUploadInMemory, kTvUploadType,
       "no disk file: the content stays in the File object's memory"},
      {"TV_ATTRIBUTE_READONLY", kAttrReadonly, kTvFileAttributes, "the file cannot be written"},
      {"TV_ATTRIBUTE_HIDDEN", kAttrHidden, kTvFileAttributes, "the file is hidden (its name starts with a dot)"},
      {"TV_ATTRIBUTE_SYSTEM", kAttrSystem, kTvFileAttributes, "a system file"},
      {"TV_ATTRIBUTE_DIRECTORY", kAttrDirectory, kTvFileAttributes, "the entry is a folder"},
      {"TV_ATTRIBUTE_ARCHIVE", kAttrArchive, kTvFileAttributes, "the file is marked for backup"},
      {"TV_ATTRIBUTE_NORMAL", kAttrNormal, kTvFileAttributes, "no other attribute is set"},
      {"TV_ATTRIBUTE_TEMPORARY", kAttrTemporary, kTvFileAttributes, "a temporary file"},
      {"TV_ATTRIBUTE_COMPRESSED", 2048, kTvFileAttributes, "the file is stored compressed"},
      {"TV_SORT_NAME", 0, kTvSortType, "by file name, ignoring case"},
      {"TV_SORT_SIZE", 1, kTvSortType, "by size"},
      {"TV_SORT_MODIFIED", 2, kTvSortType, "by last-modified time"},
      {"TV_SORT_EXTENSION", 3, kTvSortType, "by extension, ignoring case"},
      {"TV_SORT_FILETYPE", 4, kTvSortType, "by file type description, ignoring case"},
      {"TV_SORT_MIMETYPE", 5, kTvSortType, "by MIME type, ignoring case"},
      {"TV_SORT_NONE", 6, kTvSortType, "the order the file system returns"},
      {"TV_PERMIT_NONE", 0, kTvPermissions, "no rights"},
      {"TV_PERMIT_READ", kPermitRead, kTvPermissions, "read the content or list the folder"},
      {"TV_PERMIT_WRITE", kPermitWrite, kTvPermissions, "write the content or add entries"},
      {"TV_PERMIT_EXECUTE", kPermitExecute, kTvPermissions, "run the file or enter the folder"},
      {"TV_PERMIT_DELETE", kPermitDelete, kTvPermissions, "delete the entry"},
      {"TV_PERMIT_CHANGEPERMISSIONS", kPermitChangePermissions, kTvPermissions, "change the access list"},
      {"TV_PERMIT_CHANGEOWNER", kPermitChangeOwner, kTvPermissions, "take ownership"},
      {"TV_PERMIT_FULLCONTROL", kPermitFullControl, kTvPermissions, "every right above"},
      {"TV_INHERIT_NONE", 0, kTvInherits, "the entry applies to this object only"},
      {"TV_INHERIT_ALL", kInheritAll, kTvInherits, "inherited by files and folders below"},
      {"TV_INHERIT_EXECUTE", kInheritExecute, kTvInherits, "inherited for execute"},
      {"TV_INHERIT_WRITE", kInheritWrite, kTvInherits, "inherited for write"},
      {"TV_INHERIT_READ", kInheritRead, kTvInherits, "inherited for read"},
      {"TV_TRUSTEE_IS_UNKNOWN", 0, kTvTrusteeType, "the account kind is not known"},
      {"TV_TRUSTEE_IS_USER", 1, kTvTrusteeType, "a user account"},
      {"TV_TRUSTEE_IS_GROUP", 2, kTvTrusteeType, "a group"},
      {"NT_ALLOW", 2, kNtAccessMode, "the entry grants its rights"},
      {"NT_DENY", 3, kNtAccessMode, "the entry denies its rights"},
      {"TV_NOT_USED_ACCESS", 0, kTvAccessMode, "no access-mode change"},
      {"TV_GRANT_ACCESS", 1, kTvAccessMode, "add the rights to what the trustee has"},
      {"TV_SET_ACCESS", 2, kTvAccessMode, "replace the trustee's rights"},
      {"TV_DENY_ACCESS", 3, kTvAccessMode, "deny the rights"},
      {"TV_REVOKE_ACCESS", 4, kTvAccessMode, "remove the trustee's entries"},
      {"TV_SET_AUDIT_SUCCESS", 5, kTvAccessMode, "audit successful use"},
      {"TV_SET_AUDIT_FAILURE", 6, kTvAccessMode, "audit failed use"},
      {"TV_LOGIN_INTERACTIVE", 2, kTvLoginType, "interactive logon"},
      {"TV_LOGIN_NETWORK", 3, kTvLoginType, "network logon"},
      {"TV_LOGIN_BATCH", 4, kTvLoginType, "batch logon"},
      {"TV_LOGIN_SERVICE", 5, kTvLoginType, "service logon"},
      {"TV_ARCHIVE_ZIP", 0, kTvArchiveType, "ZIP archive (.zip)"},
      {"TV_ARCHIVE_GZIP", 10, kTvArchiveType, "gzip stream (.gz)"},
      {"TV_ARCHIVE_MACBIN", 12, kTvArchiveType, "MacBinary file (.bin)"},
      {"TV_ARCHIVE_MIME", 13, kTvArchiveType, "MIME multipart message (.mmm)"},
      {"TV_ARCHIVE_STUFFIT", 20, kTvArchiveType, "StuffIt archive (.sit)"},
      {"TV_ARCHIVE_TAR", 21, kTvArchiveType, "tar archive (.tar)"},
      // The ADO constants data-access pages use (a page may define its own).
      {"adOpenForwardOnly", 0, kCursorType, "cursor moves forward only"},
      {"adOpenKeyset", 1, kCursorType, "keyset cursor"},
      {"adOpenDynamic", 2, kCursorType, "dynamic cursor"},
      {"adOpenStatic", 3, kCursorType, "static copy of the rows"},
      {"adLockReadOnly", 1, kLockType, "rows cannot be changed"},
      {"adLockPessimistic", 2, kLockType, "rows locked while edited"},
      {"adLockOptimistic", 3, kLockType, "rows locked only on Update"},
      {"adLockBatchOptimistic", 4, kLockType, "changes sent in one batch"},
      {"adCmdText", 1, kCommandType, "the command is SQL text"},
      {"adCmdTable", 2, kCommandType, "the command is a table name"},
      {"adCmdUnknown", 8, kCommandType, "the command's kind is not stated"},
      {"adUseServer", 2, kCursorLocation, "cursor kept by the database"},
      {"adUseClient", 3, kCursorLocation, "cursor kept in memory by the page"},
      {"adStateClosed", 0, kObjectState, "the object is closed"},
      {"adStateOpen", 1, kObjectState, "the object is open"},
      {"adParamInput", 1, kParamDirection, "an input parameter"},
      {"adEditNone", 0, kEditMode, "no edit in progress"},
      {"adEditInProgress", 1, kEditMode, "the current row has unsaved changes"},
      {"adEditAdd", 2, kEditMode, "a new row is being added"},
      {"adSmallInt", 2, kDataType, "16-bit integer"},
      {"adInteger", 3, kDataType, "32-bit integer"},
      {"adSingle", 4, kDataType, "single-precision number"},
      {"adDouble", 5, kDataType, "double-precision number"},
      {"adDate", 7, kDataType, "date and time"},
      {"adBoolean", 11, kDataType, "true or false"},
      {"adBigInt", 20, kDataType, "64-bit integer"},
      {"adNumeric", 131, kDataType, "exact decimal number"},
      {"adDBDate", 133, kDataType, "date"},
      {"adDBTime", 134, kDataType, "time of day"},
      {"adDBTimeStamp", 135, kDataType, "date and time stamp"},
      {"adVarChar", 200, kDataType, "text"},
      {"adLongVarChar", 201, kDataType, "long text"},
      {"adVarWChar", 202, kDataType, "Unicode text"},
      {"adLongVarWChar", 203, kDataType, "long Unicode text"},
      {"adVarBinary", 204, kDataType, "bytes"},
      {"adLongVarBinary", 205, kDataType, "long bytes"},
  };
  return table;
}

// Creation by ProgID lives with its table, so the automation layer below
// needs nothing from the components.
ObjectRef CreateObject(std::string_view progid) {
  std::string key = FoldCase(progid);
  for (const auto& e : ProgIdTable())
    if (FoldCase(e.progid) == key) return e.create();
  throw Error(429, "ActiveX component can't create object");
}

ObjectRef Server::CreateObject(std::string_view progid) { return StartObject(torvane::CreateObject(progid)); }

namespace {

// The ProgID that names the class `info` ("" for a class none names): the
// source of the errors its members raise without one.
std::string_view ProgIdOf(const ClassInfo& info) {
  static const std::map<const ClassInfo*, std::string_view> byClass = [] {
    std::map<const ClassInfo*, std::string_view> out;
    for (const auto& e : ProgIdTable()) out.emplace(&e.classInfo(), e.progid);
    return out;
  }();
  auto it = byClass.find(&info);
  return it == byClass.end() ? std::string_view() : it->second;
}

// Installed while the program starts: this file is linked into every program
// that creates objects by ProgID (the table and CreateObject live here).
[[maybe_unused]] const bool kErrorSourcesInstalled = (SetErrorSourceLookup(&ProgIdOf), true);

}  // namespace

}  // namespace torvane
