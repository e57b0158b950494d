#include "platform/ResourcePath.h"

namespace morv::os {

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool StartsWithDrive(const std::string&) { return false; }

std::size_t FolderLength(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string PathOfUrlPath(std::string url_path) { return url_path; }

std::string RefusalOf(const std::string&) { return {}; }

}  // namespace morv::os
