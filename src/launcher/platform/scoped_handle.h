#pragma once
// One owner for a handle of any kind: move-only, closed exactly once by its traits.
//   struct Traits { using Handle = ...; static Handle Invalid(); static void Close(Handle); };

#include <utility>

namespace launcher {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }

  void Reset() {
    if (handle_ != Traits::Invalid()) Traits::Close(std::exchange(handle_, Traits::Invalid()));
  }

 private:
  Handle handle_ = Traits::Invalid();
};

}  // namespace launcher
