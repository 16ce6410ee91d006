#pragma once

#include <string>
#include <vector>

namespace Host {

// Whether two paths name one file: the same device and inode where both
// exist (a hard link, a symbolic link, another spelling of the path), else
// the same path once made absolute and normal (a file not made yet).
bool sameFile(std::string const& a, std::string const& b);

// One file a run reads or writes, for the refusals that name it.
struct RunFile {
  std::string what;  // "the status file", "the appliance file"
  std::string path;
};

// The file of `files` that `path` names, or null.
RunFile const* runFileAt(std::vector<RunFile> const& files, std::string const& path);

}  // namespace Host
