// Winsock for the scripted server.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <stdexcept>
#include <utility>

#include "support/socket.h"

namespace launcher::support {

namespace {

SOCKET Raw(std::intptr_t handle) {
  return static_cast<SOCKET>(handle);
}
constexpr std::intptr_t kInvalid = -1;

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
  });
}

}  // namespace

Socket::~Socket() {
  Close();
}
Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}
Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
  }
  return *this;
}

void Socket::Close() {
  if (handle_ != kInvalid) ::closesocket(Raw(std::exchange(handle_, kInvalid)));
}

Socket::operator bool() const {
  return handle_ != kInvalid;
}

Socket Socket::ListenOnLoopback(std::uint16_t& port) {
  StartWinsock();
  const SOCKET raw = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  Socket listener(raw == INVALID_SOCKET ? kInvalid : static_cast<std::intptr_t>(raw));
  if (!listener) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (::bind(raw, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(raw, 64) != 0 ||
      ::getsockname(raw, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("listen");
  }
  port = ntohs(address.sin_port);
  return listener;
}

Socket Socket::Accept() const {
  const SOCKET raw = ::accept(Raw(handle_), nullptr, nullptr);
  if (raw == INVALID_SOCKET) return Socket(kInvalid);
  u_long nonBlocking = 1;
  ::ioctlsocket(raw, FIONBIO, &nonBlocking);
  return Socket(static_cast<std::intptr_t>(raw));
}

std::ptrdiff_t Socket::Receive(char* buffer, std::size_t size) const {
  return ::recv(Raw(handle_), buffer, static_cast<int>(size), 0);
}

bool Socket::Send(std::string_view bytes, const std::atomic<bool>& stop) const {
  while (!bytes.empty()) {
    if (stop) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(Raw(handle_), &writable);
    timeval wait{0, 20000};
    if (::select(0, nullptr, &writable, nullptr, &wait) <= 0) continue;
    const int sent = ::send(Raw(handle_), bytes.data(), static_cast<int>(bytes.size()), 0);
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void Socket::Reset() {
  // A linger of zero: closing sends a reset instead of ending the stream.
  const linger abort{1, 0};
  ::setsockopt(Raw(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof abort);
  Close();
}

void Socket::Shutdown() const {
  if (handle_ != kInvalid) ::shutdown(Raw(handle_), SD_BOTH);
}

bool Socket::WaitReadable(int milliseconds) const {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Raw(handle_), &readable);
  timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &wait) > 0;
}

}  // namespace launcher::support
