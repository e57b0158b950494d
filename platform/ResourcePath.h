#ifndef MORV_OS_RESOURCEPATH_H
#define MORV_OS_RESOURCEPATH_H

#include <cstddef>
#include <string>

namespace morv::os {

// How the system names local files, for the paths that documents give their
// external DTDs and entities (in the form of morv::os::TInputFile paths).

// True when `path` does not depend on the folder of the file that names it:
// "/x" on POSIX systems; on Windows also a drive ("C:\x", "C:/x", "C:x").
bool IsAbsolutePath(const std::string& path);

// True when `id` starts with a drive ("C:") that a URL scheme could be
// taken for: never on POSIX systems.
bool StartsWithDrive(const std::string& id);

// The length of the folder part of `path`, its last separator included
// ("/" everywhere, "\" too on Windows); 0 when it has none.
std::size_t FolderLength(const std::string& path);

// The path that the path part of a "file:" URL names, its escapes decoded:
// "/dir/x" as it stands; on Windows "/C:/x" is "C:/x".
std::string PathOfUrlPath(std::string url_path);

// Why `path` is no name of a local disk file that may be read, or empty when
// it may be one. On Windows only a relative path and a drive path ("C:\x",
// "C:/x") may be, and neither with a DOS device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, in any case, with any extension, in any folder, with
// trailing dots or spaces) nor with a colon past the drive (a stream):
// everything else (network shares, "\\?\", "\\.\", "\??\", rooted paths,
// "C:x") is refused, whatever is there. Nothing is refused by name on POSIX
// systems: what is not a regular file is refused once it is open.
std::string RefusalOf(const std::string& path);

}  // namespace morv::os

#endif  // MORV_OS_RESOURCEPATH_H
