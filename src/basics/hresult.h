// Failure codes of the host shared by every layer.
#pragma once

#include <cstdint>

namespace torvane {

// 0x80004005 (E_FAIL): the host's generic failure. A host call that fails
// (MapPath out of the site, a body read that failed, a stopped page, a value
// the Application store cannot keep) raises it with a text that says why.
inline constexpr int32_t kHostFailure = static_cast<int32_t>(0x80004005u);

}  // namespace torvane
