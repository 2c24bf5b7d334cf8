// The two buffer sizes every layer shares. The platform API fills paths and
// texts into buffers of exactly these sizes, and a backup agent's message
// buffer is documented with the second, so no layer may pick its own.
#ifndef NSFMEND_SUPPORT_SIZES_H
#define NSFMEND_SUPPORT_SIZES_H

#include <stddef.h>

namespace nsfmend {

// A path or an option value: at most 1023 characters and the terminator.
constexpr size_t kPathSize = 1024;
// A message or error text, the agent's message buffer included.
constexpr size_t kMessageSize = 4096;

}  // namespace nsfmend

#endif
