// Live control: the control socket's server, protocol and command families; ctl/ is agentctl
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/control/ControlProtocol.h"
#include "platform/kiv/EventLoop.h"

namespace Host {

// The socket path is taken by a host that answers on it.
class ControlSocketBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The host's control socket: a Unix stream socket that its owner (the user
// the host runs as) and root may use for everything, and members of the
// socket file's group to look (Control::Access::look); anyone else is
// refused at the connection. Requests are lines of at most
// Control::kMaxRequestBytes; each is handed to the handler, whose answer is
// sent back as one line. Everything runs on the event loop without
// blocking it: a connection is read only while its previous answer is out,
// and one that leaves an answer unread or stays silent for long is closed.
class ControlServer {
 public:
  // Carries out one request's command words, with what the connection that
  // asks may do, and returns the response object. What it throws is
  // answered as an error.
  using Handler = std::function<nlohmann::ordered_json(std::vector<std::string> const& argv,
                                                       Control::Access access)>;

  // Makes the socket with mode 0660 (its group: the host's, or the
  // directory's when that is set-group-ID), creating its directory with mode 0700
  // when missing, and starts watching it. A socket file left by a host that
  // is gone is replaced. Throws ControlSocketBusy when a host answers on the
  // path, std::runtime_error for anything else that stops it.
  ControlServer(std::string path, Handler handler);
  // Closes every connection and removes the socket file (and the directory
  // when it made it).
  ~ControlServer();
  ControlServer(ControlServer const&) = delete;
  ControlServer& operator=(ControlServer const&) = delete;

  std::string const& path() const noexcept { return path_; }
  std::size_t connections() const noexcept { return clients_.size(); }

  // Serves what is ready on the socket and its connections, waiting up to
  // timeoutMs for something: for a loop that does not poll descriptors
  // itself (virtual time).
  void pollOnce(int timeoutMs);

  static constexpr Kiv::Seconds kIdleTimeout = 60;    // no request for that long
  static constexpr Kiv::Seconds kStuckTimeout = 10;   // an answer not taken for that long
  static constexpr std::size_t kMaxConnections = 16;  // more are answered and closed at once

 private:
  struct Client {
    int fd = -1;
    std::string in, out;
    bool closing = false;  // close once the answer is out
    bool watched = false;
    Control::Access access = Control::Access::look;
    Kiv::Seconds lastActive = 0;
    Kiv::Seconds outSince = 0;
  };
  struct Housekeeping : Kiv::Timer {
    explicit Housekeeping(ControlServer& s) : server(s) {}
    void onTimer() override { server.housekeeping(); }
    ControlServer& server;
  };

  void listen();
  void removeDir() const;  // the directory the socket is in, when made here
  void accept();
  // What the peer on fd may do, by its credentials; nothing (with the reason
  // in `why`) for anyone but the host's user, root and the socket's group.
  std::optional<Control::Access> peerAccess(int fd, std::string* why) const;
  void readable(int fd);
  bool serve(Client& c);  // false when it closed the connection
  std::string respond(std::string const& line, Control::Access access) const;
  bool flush(Client& c);  // false when the connection broke
  void watch(Client& c, bool on);
  void drop(int fd);
  Client* client(int fd);
  void housekeeping();
  void armHousekeeping();

  std::string path_;
  Handler handler_;
  int fd_ = -1;
  bool madeDir_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  gid_t group_ = 0;  // the socket file's: its members look
  std::vector<std::unique_ptr<Client>> clients_;
  Housekeeping timer_{*this};
};

}  // namespace Host
