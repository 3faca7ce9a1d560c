// The upload driver behind the first read of Post.FormInputs.
#include "host/script_context.h"
#include "upload/post.h"

namespace torvane {

void Post::ParseRequest() {
  // The record loop that fills the collection arrives with the File and
  // Directory storage; until then the first read ends the parse at once.
  parsed_ = true;
  EnsureFormInputs();
  if (dump_) {
    dump_->Close();
    dump_.reset();
  }
  Trace("Post.GetFormInputs - Returned FormInput object.");
  trace_.Close();
}

}  // namespace torvane
