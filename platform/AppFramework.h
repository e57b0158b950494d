#ifndef PLATFORM_APPFRAMEWORK_H
#define PLATFORM_APPFRAMEWORK_H

namespace platform {

// Brings up the application framework the converter runs in. Returns false
// when the framework is not ready; the driver then reports it and stops.
bool InitAppFramework() noexcept;

}  // namespace platform

#endif  // PLATFORM_APPFRAMEWORK_H
