#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Host {

// The appliance's CPU netdevices as real macvlan devices in a private network
// namespace that the host makes and moves itself into, so that the agent's
// netlink operations act there and nowhere else.
//
// As root the namespace is named (ip netns add) and can be inspected with
// "ip -n NAME ..." while the host runs and, when kept, after it ends. Without
// root the host makes an unnamed one inside a new user namespace, which lives
// only as long as the host. The macvlans hang off a parent device made for
// the purpose (a dummy device, or a veth pair where the kernel has no dummy
// driver).
class PrivateNetns {
 public:
  // Makes the namespace with one macvlan per name (up) and enters it. Throws
  // std::runtime_error saying why when no namespace can be made. The calling
  // process must not have started any thread yet.
  static std::unique_ptr<PrivateNetns> make(std::string const& name,
                                            std::vector<std::string> const& netdevs, bool keep);
  // A named namespace that is not kept: the process returns to its own
  // namespace and the namespace is deleted.
  ~PrivateNetns();
  PrivateNetns(PrivateNetns const&) = delete;
  PrivateNetns& operator=(PrivateNetns const&) = delete;

  bool named() const noexcept { return named_; }
  std::string const& name() const noexcept { return name_; }
  bool keep() const noexcept { return keep_ && named_; }
  std::string const& parent() const noexcept { return parent_; }
  std::vector<std::string> const& netdevs() const noexcept { return netdevs_; }

  // One line for the user: what was made and how to look at it.
  std::string describe() const;
  std::string inspectCommand() const;

  // Removes the name at once: the namespace then lives exactly as long as
  // the process in it, and no stopped run can leave it behind. For runs
  // that nobody inspects from outside (scenarios).
  void nameRelease();

  // Another macvlan, for a management interface added later.
  void netdevAdd(std::string const& name);
  // Removes a macvlan made here (a reload that is undone); false when it
  // is not one of ours or the kernel refuses.
  bool netdevDel(std::string const& name);
  // Whether "ip -d link show dev DEV" reports protodown on; empty, with the
  // reason, when the device cannot be shown.
  std::optional<bool> protodown(std::string const& dev, std::string* why) const;

 private:
  PrivateNetns() = default;
  void makeParent();

  std::string name_;
  bool named_ = false;
  bool keep_ = false;
  bool nameReleased_ = false;
  int ownNs_ = -1;  // the namespace the process came from (named mode)
  std::string parent_;
  std::vector<std::string> netdevs_;
};

// Whether the host is running as root.
bool runningAsRoot();

}  // namespace Host
