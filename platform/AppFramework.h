#ifndef MORV_OS_APPFRAMEWORK_H
#define MORV_OS_APPFRAMEWORK_H

#include <string>
#include <vector>

namespace morv::os {

// Brings up the application framework the converter runs in. Returns false
// when the framework is not ready; the driver then reports it and stops.
bool InitAppFramework() noexcept;

// The program's command line, its name first, each argument as the path
// strings of morv::os::TInputFile take it: on POSIX systems `argv` as it
// is; on Windows the UTF-16 command line the system keeps (`argc` and
// `argv` are not used), so that any file name comes through.
std::vector<std::string> CommandLineArguments(int argc, char* argv[]);

}  // namespace morv::os

#endif  // MORV_OS_APPFRAMEWORK_H
