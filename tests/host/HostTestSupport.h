#pragma once

#include <string>

namespace HostTest {

// A directory of its own for one test, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;
  std::string const& path() const { return path_; }
  // Writes a file in the directory and returns its path.
  std::string file(std::string const& name, std::string const& content) const;

 private:
  std::string path_;
};

std::string readFile(std::string const& path);

}  // namespace HostTest
