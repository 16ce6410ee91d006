#include "tests/support/Loop.h"

#include <algorithm>

namespace TestSupport {

TraceCapture::TraceCapture(char const* spec) : previous_(Kiv::traceSinkIs(&sink)) {
  for (auto* h : Kiv::TraceHandle::handles())
    masks_.emplace_back(h, h->mask());
  if (spec)
    Kiv::TraceHandle::maskSpecIs(spec);
}

TraceCapture::~TraceCapture() {
  Kiv::traceSinkIs(previous_);
  for (auto* h : Kiv::TraceHandle::handles())
    h->maskIs(0);
  for (auto [h, m] : masks_)
    h->maskIs(m);
}

std::vector<std::string> TraceCapture::matching(std::string const& text) const {
  std::vector<std::string> r;
  for (auto& m : sink.messages()) {
    if (m.find(text) != std::string::npos)
      r.push_back(m);
  }
  return r;
}

bool TraceCapture::has(std::string const& message) const {
  auto msgs = sink.messages();
  return std::find(msgs.begin(), msgs.end(), message) != msgs.end();
}

std::vector<std::string> TraceCapture::leveled() const {
  std::vector<std::string> r;
  auto const msgs = sink.messages();
  for (std::size_t i = 0; i < msgs.size(); ++i)
    r.push_back("L" + std::to_string(sink.levels[i]) + " " + msgs[i]);
  return r;
}

}  // namespace TestSupport
