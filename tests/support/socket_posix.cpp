// BSD sockets for the scripted server.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "support/socket.h"

namespace launcher::support {

Socket::~Socket() {
  Close();
}
Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

void Socket::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(std::exchange(handle_, -1)));
}

Socket::operator bool() const {
  return handle_ >= 0;
}

Socket Socket::ListenOnLoopback(std::uint16_t& port) {
  Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
  if (!listener) throw std::runtime_error("socket");
  const int yes = 1;
  setsockopt(static_cast<int>(listener.handle_), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const int fd = static_cast<int>(listener.handle_);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("listen");
  }
  port = ntohs(address.sin_port);
  return listener;
}

Socket Socket::Accept() const {
  const int fd = ::accept(static_cast<int>(handle_), nullptr, nullptr);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return Socket(fd);
}

std::ptrdiff_t Socket::Receive(char* buffer, std::size_t size) const {
  return ::recv(static_cast<int>(handle_), buffer, size, 0);
}

bool Socket::Send(std::string_view bytes, const std::atomic<bool>& stop) const {
  while (!bytes.empty()) {
    if (stop) return false;
    pollfd entry{static_cast<int>(handle_), POLLOUT, 0};
    if (::poll(&entry, 1, 20) <= 0) continue;
    const ssize_t sent =
        ::send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void Socket::Reset() {
  // A linger of zero: close sends a reset instead of ending the stream.
  const linger abort{1, 0};
  ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Close();
}

void Socket::Shutdown() const {
  if (handle_ >= 0) ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

bool Socket::WaitReadable(int milliseconds) const {
  pollfd entry{static_cast<int>(handle_), POLLIN, 0};
  return ::poll(&entry, 1, milliseconds) > 0;
}

}  // namespace launcher::support
