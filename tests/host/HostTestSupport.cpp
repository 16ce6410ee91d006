#include "tests/host/HostTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace HostTest {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "agenthost-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data()))
    throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string const& name, std::string const& content) const {
  std::string p = path_ + "/" + name;
  std::ofstream(p) << content;
  return p;
}

std::string readFile(std::string const& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace HostTest
