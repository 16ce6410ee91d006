#include "host/os/FileIdentity.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace Host {

bool sameFile(std::string const& a, std::string const& b) {
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ea, eb;
  auto ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

RunFile const* runFileAt(std::vector<RunFile> const& files, std::string const& path) {
  for (auto const& f : files) {
    if (!f.path.empty() && sameFile(f.path, path))
      return &f;
  }
  return nullptr;
}

}  // namespace Host
