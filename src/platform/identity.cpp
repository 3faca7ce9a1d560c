#include "platform/identity.h"

namespace torvane {

void RestoreThreadIdentity() {
  // Nothing to restore until impersonation exists on this thread.
}

}  // namespace torvane
