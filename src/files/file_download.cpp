// File.Download: sends the file or its in-memory content through the page's
// Response with conditional and range support.
#include "files/file.h"

namespace torvane {

struct File::DownloadState {};

bool File::Download(const Variant&, const Variant&, const Variant&, const Variant&) {
  throw Error(445, "File.Download is not available in this build yet");
}

bool File::DownloadSteps(DownloadState&, const Variant&, const Variant&) { return false; }
bool File::SendBody(DownloadState&) { return false; }

}  // namespace torvane
