#include "platform/AppFramework.h"

namespace platform {

// A console process on Linux needs no framework of its own: there is no
// module handle, message loop or resource table to set up, so start-up
// cannot fail here.
bool InitAppFramework() noexcept { return true; }

}  // namespace platform
