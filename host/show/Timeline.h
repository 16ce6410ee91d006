#pragma once

#include <cstdio>
#include <string>

namespace Host {

// Times and texts for the user, one line each: "   4.000  event   link 1 down".
class Timeline {
 public:
  explicit Timeline(std::FILE* out) : out_(out) {}
  void line(std::string const& kind, std::string const& text) const;
  // A line without a time, for what happens outside the loop.
  void note(std::string const& text) const;

 private:
  std::FILE* out_;
};

}  // namespace Host
