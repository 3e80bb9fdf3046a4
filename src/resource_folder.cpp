#include "resource_folder.h"

#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace {
// The Resources folder of a bundle whose program is at path: path's folder + "/../Resources",
// or "" when path names no folder.
std::string ResourcesBeside(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash) + "/../Resources";
}
}  // namespace

std::string ResourceFolder::Find(const std::string& programPath, const std::string& executablePath) {
  const std::string given = ResourcesBeside(programPath);
  std::error_code error;
  if (!given.empty() && std::filesystem::is_directory(given + "/" + kContent, error)) return given;
  return ResourcesBeside(executablePath);
}

bool ResourceFolder::Enter(const char* programPath) {
  char executable[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  const std::string own = length > 0 ? std::string(executable, static_cast<size_t>(length)) : "";
  const std::string folder = Find(programPath != nullptr ? programPath : "", own);
  return !folder.empty() && chdir(folder.c_str()) == 0;
}
