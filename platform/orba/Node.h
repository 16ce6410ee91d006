#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <type_traits>
#include <utility>

namespace Kiv {
struct TypeDesc;
}

namespace Orba {

class Publisher;

// The framework's value string.
using String = std::string;

// Base of every framework entity: an intrusive, single-threaded reference
// count and the two framework flags (notification-active and zombie).
//
// A node is born holding one reference, which its creator adopts
// (Ptr<T>::adopt or Orba::make). A handle to the node taken and dropped inside
// its own constructor therefore never brings the count to zero.
class Node {
 public:
  Node(Node const&) = delete;
  Node& operator=(Node const&) = delete;

  void refInc() const noexcept { ++references_; }
  void refDec() const noexcept {
    if (--references_ == 0)
      const_cast<Node*>(this)->lastUserGone();
  }
  std::uint32_t references() const noexcept { return references_; }

  bool notificationActive() const noexcept { return notificationActive_; }
  bool zombie() const noexcept { return zombie_; }

  // The descriptor of the node's most derived registered type.
  virtual Kiv::TypeDesc const* typeData() const;
  // The publisher that announces the node's attribute changes, if it has one.
  virtual Publisher* publisher() const;

  // Number of nodes alive in the process; tests use it to prove that
  // reference cycles are broken.
  static std::int64_t liveCount() noexcept;

 protected:
  Node() noexcept;
  virtual ~Node();
  // Called when the last reference goes; the default destroys the node.
  virtual void lastUserGone();

  void notificationActiveFlagIs(bool on) noexcept { notificationActive_ = on; }
  void zombieFlagIs(bool on) noexcept { zombie_ = on; }

 private:
  mutable std::uint32_t references_ = 1;
  bool notificationActive_ = false;
  bool zombie_ = false;
};

// Counted handle. May be empty; compared by identity.
template <class T>
class Ptr {
 public:
  Ptr() noexcept = default;
  Ptr(std::nullptr_t) noexcept {}
  // Takes a new reference to p.
  explicit Ptr(T* p) noexcept : p_(p) {
    if (p_)
      p_->refInc();
  }
  Ptr(Ptr const& o) noexcept : Ptr(o.p_) {}
  Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ptr(Ptr<U> const& o) noexcept : Ptr(static_cast<T*>(o.get())) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ptr(Ptr<U>&& o) noexcept : p_(static_cast<T*>(o.release())) {}
  ~Ptr() {
    if (p_)
      p_->refDec();
  }

  Ptr& operator=(Ptr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  // Takes over the reference that a new node is born with.
  static Ptr adopt(T* p) noexcept {
    Ptr r;
    r.p_ = p;
    return r;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller.
  T* release() noexcept { return std::exchange(p_, nullptr); }

  // Identity: two handles are equal when they hold the same object, whatever
  // base class each one sees it through.
  template <class U>
  bool operator==(Ptr<U> const& o) const noexcept {
    if constexpr (requires { p_ == o.get(); }) {
      return p_ == o.get();
    } else {
      return mostDerived(p_) == mostDerived(o.get());
    }
  }
  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }

 private:
  template <class U>
  static void const* mostDerived(U* p) noexcept {
    return p ? dynamic_cast<void const*>(p) : nullptr;
  }

  T* p_ = nullptr;
};

template <class T, class... A>
Ptr<T> make(A&&... args) {
  return Ptr<T>::adopt(new T(std::forward<A>(args)...));
}

// Streams an entity: its name, or its type name and address when unnamed.
// Declared here so that argument-dependent lookup finds it for every entity
// type; defined with the directory entity, which also names it Kiv::operator<<.
std::ostream& operator<<(std::ostream& os, Node const& entity);

// Checked downcast: empty when the node is not a T.
template <class T, class U>
Ptr<T> ptrCast(Ptr<U> const& p) {
  return Ptr<T>(dynamic_cast<T*>(p.get()));
}

}  // namespace Orba
