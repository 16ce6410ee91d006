#include "platform/bus/record/RecordingBus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "platform/bus/record/BusRecord.h"
#include "platform/kiv/Type.h"

namespace Hardware::Mdio::Record {

namespace {

using Json = nlohmann::ordered_json;

// The buffer is written out when it holds this much, and holds at most
// twice that (a longer line is written on its own).
constexpr std::size_t kFlushAt = 64 * 1024;
// Room kept under the limit for the end line.
constexpr std::size_t kEndRoom = 96;

std::string utcNow() {
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  ::gmtime_r(&secs, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

// What a path names that is not a regular file, in a few words.
char const* kindOf(mode_t mode) {
  if (S_ISFIFO(mode))
    return "a FIFO";
  if (S_ISDIR(mode))
    return "a directory";
  if (S_ISLNK(mode))
    return "a symbolic link";
  if (S_ISSOCK(mode))
    return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return "a device";
  return "not a regular file";
}

// A new regular file at `path`, made exclusively: whatever is there already
// (a file with data of its own, a FIFO whose open would wait for a reader, a
// link planted there) is left alone and refused with what it is.
int newRecordFile(std::string const& path) {
  auto refuse = [&](std::string const& why) {
    throw std::runtime_error("record " + path + " " + why +
                             "; a record is only written to a new file: name one that "
                             "does not exist");
  };
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISREG(st.st_mode))
      refuse("exists already (" + std::to_string(st.st_size) + " bytes, left as it is)");
    refuse(std::string("is ") + kindOf(st.st_mode));
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST)
    refuse("was made by someone else just now");
  if (fd < 0)
    throw std::runtime_error("record " + path + " cannot be created: " + std::strerror(errno));
  return fd;
}

}  // namespace

Orba::Ptr<RecordingBus> RecordingBus::RecordingBusIs(Orba::Ptr<Bus> inner) {
  return Orba::Ptr<RecordingBus>::adopt(new RecordingBus(std::move(inner)));
}

RecordingBus::RecordingBus(Orba::Ptr<Bus> inner) : inner_(std::move(inner)) {}

RecordingBus::~RecordingBus() {
  recordingEnd();
}

AccessResult RecordingBus::read(PortAddr phy, std::uint8_t reg) {
  AccessResult r = inner_->read(phy, reg);
  if (fd_ >= 0)
    note(false, phy, reg, r.value, r.error);
  return r;
}

AccessResult RecordingBus::write(PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  AccessResult r = inner_->write(phy, reg, value);
  if (fd_ >= 0)
    note(true, phy, reg, value, r.error);
  return r;
}

Kiv::Seconds RecordingBus::since() const {
  return Kiv::EventLoop::instance().now() - t0_;
}

void RecordingBus::recordingIs(std::string const& path, Json const& members, std::size_t limit,
                               bool fromStart) {
  if (fd_ >= 0)
    throw std::runtime_error("a record is being written already, to " + path_);
  Json first = {{"record", kMagic},
                {"format", kFormat},
                {"start", utcNow()},
                {"from", fromStart ? "start" : "running"},
                {"transport", inner_->description()},
                {"accessTime", inner_->accessTime()}};
  for (auto const& [key, value] : members.items())
    first[key] = value;
  std::string head = jsonText(first) + "\n";
  if (head.size() + kEndRoom > limit) {
    throw std::runtime_error("record " + path + ": a size limit of " + std::to_string(limit) +
                             " bytes leaves no room for its first line (" +
                             std::to_string(head.size()) + " bytes)");
  }
  fd_ = newRecordFile(path);
  path_ = path;
  limit_ = limit;
  written_ = accesses_ = 0;
  t0_ = Kiv::EventLoop::instance().now();
  buffer_.reserve(2 * kFlushAt);
  line_.reserve(512);
  buffer_ = head;
  flush();
}

void RecordingBus::note(bool write, PortAddr phy, std::uint8_t reg, std::uint16_t value,
                        std::string const& error) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf,
                        "{\"t\":%.9f,\"phy\":%u,\"reg\":%u,\"op\":\"%s\",\"value\":%u", since(),
                        unsigned(phy), unsigned(reg), write ? "write" : "read", unsigned(value));
  line_.assign(buf, static_cast<std::size_t>(n));
  if (!error.empty())
    line_ += ",\"error\":" + jsonText(error);
  line_ += "}\n";
  if (bytes() + line_.size() + kEndRoom > limit_) {
    close("sizeLimit", "record " + path_ + ": its size limit of " + std::to_string(limit_) +
                           " bytes is reached after " + std::to_string(accesses_) +
                           " accesses; recording stopped, the agent runs on");
    return;
  }
  ++accesses_;
  append(line_);
}

void RecordingBus::append(std::string const& line) {
  if (buffer_.size() + line.size() > buffer_.capacity())
    flush();
  buffer_ += line;
  if (buffer_.size() >= kFlushAt)
    flush();
  else if (fd_ >= 0 && !timer_.armed())
    timer_.arm(Kiv::EventLoop::instance().now() + 1.0);
}

void RecordingBus::flush() {
  timer_.disarm();
  std::size_t done = 0;
  while (fd_ >= 0 && done < buffer_.size()) {
    ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      std::string why = n < 0 ? std::strerror(errno) : "nothing written";
      ::close(fd_);
      fd_ = -1;
      if (onEnd_)
        onEnd_("record " + path_ + ": writing failed (" + why +
               "); recording stopped, the record is cut short");
      break;
    }
    done += static_cast<std::size_t>(n);
    written_ += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

void RecordingBus::close(char const* reason, std::string const& tell) {
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, "{\"t\":%.9f,\"end\":\"%s\"", since(), reason);
  line_.assign(buf, static_cast<std::size_t>(n));
  if (std::strcmp(reason, "sizeLimit") == 0)
    line_ += ",\"limit\":" + std::to_string(limit_);
  line_ += "}\n";
  buffer_ += line_;
  flush();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    if (!tell.empty() && onEnd_)
      onEnd_(tell);
  }
}

void RecordingBus::recordingEnd(char const* reason) {
  if (fd_ >= 0)
    close(reason, "");
}

Kiv::TypeDesc const& RecordingBus::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Hardware::Mdio::Record::RecordingBus");
  return d;
}

}  // namespace Hardware::Mdio::Record
