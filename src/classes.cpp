// The component's creatable classes and public constants: one table each.
#include "ado/command.h"
#include "ado/connection.h"
#include "ado/recordset.h"
#include "archive/archive.h"
#include "archive/archive_entries.h"
#include "archive/archive_entry.h"
#include "automation/progid.h"
#include "dirs/cdirectories.h"
#include "dirs/cfiles.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "machine/computer.h"
#include "platform/fileservices.h"
#include "security/ace.h"
#include "security/ace_collection.h"
#include "security/rights.h"
#include "form/cform_input.h"
#include "form/cform_value.h"
#include "form/form_input.h"
#include "progress/progress_bar.h"
#include "upload/post.h"

namespace torvane {

const std::vector<ProgIdEntry>& ProgIdTable() {
  static const std::vector<ProgIdEntry> table = {
      {"Torvane.File", &File::Create},
      {"Torvane.Directory", &Directory::Create},
      {"Torvane.cFiles", &CFiles::Create},
      {"Torvane.cDirectories", &CDirectories::Create},
      {"Torvane.ACE", &Ace::Create},
      {"Torvane.cACE", &AceCollection::Create},
      {"Torvane.Computer", &Computer::Create},
      {"Torvane.Post", &Post::Create},
      {"Torvane.FormInput", &FormInput::Create},
      {"Torvane.cFormInput", &CFormInput::Create},
      {"Torvane.cFormValue", &CFormValue::Create},
      {"Torvane.ProgressBar", &ProgressBar::Create},
      {"Torvane.Archive", &Archive::Create},
      {"Torvane.ArchiveEntry", &ArchiveEntry::Create},
      {"Torvane.cArchiveEntry", &CArchiveEntry::Create},
      // The data-access stand-ins answer to the ProgIDs classic pages use.
      {"ADODB.Connection", &ado::Connection::Create},
      {"ADODB.Recordset", &ado::Recordset::Create},
      {"ADODB.Command", &ado::Command::Create},
  };
  return table;
}

const std::vector<NamedConstant>& ConstantTable() {
  static const std::vector<NamedConstant> table = {
      // TV_UPLOAD_TYPE
      {"TV_UPLOAD_USETEMP", kUploadUseTemp},
      {"TV_UPLOAD_OVERWRITE", kUploadOverwrite},
      {"TV_UPLOAD_MAKEVERSIONS", kUploadMakeVersions},
      {"TV_UPLOAD_ERRORIFEXISTS", kUploadErrorIfExists},
      {"TV_UPLOAD_INMEMORY", kUploadInMemory},
      // TV_FILE_ATTRIBUTES
      {"TV_ATTRIBUTE_READONLY", kAttrReadonly},
      {"TV_ATTRIBUTE_HIDDEN", kAttrHidden},
      {"TV_ATTRIBUTE_SYSTEM", kAttrSystem},
      {"TV_ATTRIBUTE_DIRECTORY", kAttrDirectory},
      {"TV_ATTRIBUTE_ARCHIVE", kAttrArchive},
      {"TV_ATTRIBUTE_NORMAL", kAttrNormal},
      {"TV_ATTRIBUTE_TEMPORARY", kAttrTemporary},
      {"TV_ATTRIBUTE_COMPRESSED", 2048},
      // TV_SORT_TYPE
      {"TV_SORT_NAME", 0},
      {"TV_SORT_SIZE", 1},
      {"TV_SORT_MODIFIED", 2},
      {"TV_SORT_EXTENSION", 3},
      {"TV_SORT_FILETYPE", 4},
      {"TV_SORT_MIMETYPE", 5},
      {"TV_SORT_NONE", 6},
      // TV_PERMISSIONS
      {"TV_PERMIT_NONE", 0},
      {"TV_PERMIT_READ", kPermitRead},
      {"TV_PERMIT_WRITE", kPermitWrite},
      {"TV_PERMIT_EXECUTE", kPermitExecute},
      {"TV_PERMIT_DELETE", kPermitDelete},
      {"TV_PERMIT_CHANGEPERMISSIONS", kPermitChangePermissions},
      {"TV_PERMIT_CHANGEOWNER", kPermitChangeOwner},
      {"TV_PERMIT_FULLCONTROL", kPermitFullControl},
      // TV_INHERITS
      {"TV_INHERIT_NONE", 0},
      {"TV_INHERIT_ALL", kInheritAll},
      {"TV_INHERIT_EXECUTE", kInheritExecute},
      {"TV_INHERIT_WRITE", kInheritWrite},
      {"TV_INHERIT_READ", kInheritRead},
      // TV_TRUSTEETYPE
      {"TV_TRUSTEE_IS_UNKNOWN", 0},
      {"TV_TRUSTEE_IS_USER", 1},
      {"TV_TRUSTEE_IS_GROUP", 2},
      // NT_ACCESS_MODE
      {"NT_ALLOW", 2},
      {"NT_DENY", 3},
      // TV_ACCESSMODE
      {"TV_NOT_USED_ACCESS", 0},
      {"TV_GRANT_ACCESS", 1},
      {"TV_SET_ACCESS", 2},
      {"TV_DENY_ACCESS", 3},
      {"TV_REVOKE_ACCESS", 4},
      {"TV_SET_AUDIT_SUCCESS", 5},
      {"TV_SET_AUDIT_FAILURE", 6},
      // TV_LOGINTYPE
      {"TV_LOGIN_INTERACTIVE", 2},
      {"TV_LOGIN_NETWORK", 3},
      {"TV_LOGIN_BATCH", 4},
      {"TV_LOGIN_SERVICE", 5},
      // TV_ARCHIVE_TYPE
      {"TV_ARCHIVE_ZIP", 0},
      {"TV_ARCHIVE_GZIP", 10},
      {"TV_ARCHIVE_MACBIN", 12},
      {"TV_ARCHIVE_MIME", 13},
      {"TV_ARCHIVE_STUFFIT", 20},
      {"TV_ARCHIVE_TAR", 21},
      // The ADO constants data-access pages use (a page may define its own).
      {"adOpenForwardOnly", 0},
      {"adOpenKeyset", 1},
      {"adOpenDynamic", 2},
      {"adOpenStatic", 3},
      {"adLockReadOnly", 1},
      {"adLockPessimistic", 2},
      {"adLockOptimistic", 3},
      {"adLockBatchOptimistic", 4},
      {"adCmdText", 1},
      {"adCmdTable", 2},
      {"adCmdUnknown", 8},
      {"adUseServer", 2},
      {"adUseClient", 3},
      {"adStateClosed", 0},
      {"adStateOpen", 1},
      {"adParamInput", 1},
      {"adEditNone", 0},
      {"adEditInProgress", 1},
      {"adEditAdd", 2},
      {"adSmallInt", 2},
      {"adInteger", 3},
      {"adSingle", 4},
      {"adDouble", 5},
      {"adDate", 7},
      {"adBoolean", 11},
      {"adBigInt", 20},
      {"adNumeric", 131},
      {"adDBDate", 133},
      {"adDBTime", 134},
      {"adDBTimeStamp", 135},
      {"adVarChar", 200},
      {"adLongVarChar", 201},
      {"adVarWChar", 202},
      {"adLongVarWChar", 203},
      {"adVarBinary", 204},
      {"adLongVarBinary", 205},
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

}  // namespace torvane
