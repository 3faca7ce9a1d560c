// The component's creatable classes and public constants: one table each.
#include "automation/progid.h"
#include "files/file.h"
#include "form/cform_input.h"
#include "form/cform_value.h"
#include "form/form_input.h"
#include "progress/progress_bar.h"
#include "upload/post.h"

namespace torvane {

const std::vector<ProgIdEntry>& ProgIdTable() {
  static const std::vector<ProgIdEntry> table = {
      {"Torvane.File", &File::Create},
      {"Torvane.Post", &Post::Create},
      {"Torvane.FormInput", &FormInput::Create},
      {"Torvane.cFormInput", &CFormInput::Create},
      {"Torvane.cFormValue", &CFormValue::Create},
      {"Torvane.ProgressBar", &ProgressBar::Create},
  };
  return table;
}

const std::vector<NamedConstant>& ConstantTable() {
  static const std::vector<NamedConstant> table = {
      // TV_UPLOAD_TYPE
      {"TV_UPLOAD_USETEMP", 0},
      {"TV_UPLOAD_OVERWRITE", 1},
      {"TV_UPLOAD_MAKEVERSIONS", 2},
      {"TV_UPLOAD_ERRORIFEXISTS", 3},
      {"TV_UPLOAD_INMEMORY", 4},
      // TV_FILE_ATTRIBUTES
      {"TV_ATTRIBUTE_READONLY", 1},
      {"TV_ATTRIBUTE_HIDDEN", 2},
      {"TV_ATTRIBUTE_SYSTEM", 4},
      {"TV_ATTRIBUTE_DIRECTORY", 16},
      {"TV_ATTRIBUTE_ARCHIVE", 32},
      {"TV_ATTRIBUTE_NORMAL", 128},
      {"TV_ATTRIBUTE_TEMPORARY", 256},
      {"TV_ATTRIBUTE_COMPRESSED", 2048},
  };
  return table;
}

}  // namespace torvane
