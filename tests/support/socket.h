#pragma once
// The few socket operations the scripted server needs, over BSD sockets or Winsock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace launcher::support {

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A socket listening on 127.0.0.1 at a port the system picks; `port` receives it.
  static Socket ListenOnLoopback(std::uint16_t& port);

  explicit operator bool() const;
  Socket Accept() const;  // a non-blocking connection, or an invalid socket
  std::ptrdiff_t Receive(char* buffer, std::size_t size) const;  // 0 at the end, < 0 on error
  // All of the bytes, or false when the connection fails, or when `stop` is set while the peer
  // isn't reading: a client that abandons a transfer without closing can't hold the server up.
  bool Send(std::string_view bytes, const std::atomic<bool>& stop) const;
  void Shutdown() const;                      // ends the connection in both directions
  void Reset();                               // ends it at once with a reset, and closes it
  bool WaitReadable(int milliseconds) const;  // something to accept or receive, or the end

 private:
  explicit Socket(std::intptr_t handle) : handle_(handle) {}
  void Close();

  std::intptr_t handle_ = -1;
};

}  // namespace launcher::support
