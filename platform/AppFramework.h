#ifndef MORV_OS_APPFRAMEWORK_H
#define MORV_OS_APPFRAMEWORK_H

namespace morv::os {

// Brings up the application framework the converter runs in. Returns false
// when the framework is not ready; the driver then reports it and stops.
bool InitAppFramework() noexcept;

}  // namespace morv::os

#endif  // MORV_OS_APPFRAMEWORK_H
