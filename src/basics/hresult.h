// Failure codes of the host shared by every layer.
#pragma once

#include <cstdint>

namespace torvane {

// 0x80004005 (E_FAIL): the host's generic failure. A host call that fails
// (MapPath out of the site, a body read that failed, a stopped page, a value
// the Application store cannot keep) raises it with a text that says why.
inline constexpr int32_t kHostFailure = static_cast<int32_t>(0x80004005u);

// 0x800704CF (the network location cannot be reached): the host's state store
// (sessions, Application values, progress records) cannot be reached or did
// not answer in time. Raised with a text naming the store; the host connects
// again by itself, so a later page may succeed.
inline constexpr int32_t kStateStoreUnavailable = static_cast<int32_t>(0x800704CFu);

}  // namespace torvane
