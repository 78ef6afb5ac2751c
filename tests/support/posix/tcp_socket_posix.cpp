#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "support/tcp_socket.h"

namespace testsupport {
namespace {

int Fd(std::uintptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = kInvalid;
  }
  return *this;
}

TcpSocket TcpSocket::Listen(const std::string& address, uint16_t port, int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return TcpSocket();
  TcpSocket socket(static_cast<std::uintptr_t>(fd));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return TcpSocket();
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 || ::listen(fd, backlog) != 0)
    return TcpSocket();
  return socket;
}

TcpSocket TcpSocket::Connect(const std::string& address, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return TcpSocket();
  TcpSocket socket(static_cast<std::uintptr_t>(fd));
  // A connection that the server never takes must not hold the caller for long.
  timeval wait{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait));
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1) return TcpSocket();
  if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) return TcpSocket();
  return socket;
}

uint16_t TcpSocket::LocalPort() const {
  sockaddr_in local{};
  socklen_t size = sizeof(local);
  if (::getsockname(Fd(handle_), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  return ntohs(local.sin_port);
}

bool TcpSocket::WaitReadable(int timeoutMs) const {
  pollfd entry{Fd(handle_), POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) > 0;
}

TcpSocket TcpSocket::Accept() const {
  int fd = ::accept4(Fd(handle_), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return TcpSocket();
  // Head and body go out in separate sends: without this, Nagle's algorithm and the
  // client's delayed acknowledgement stall every response by 40 ms.
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return TcpSocket(static_cast<std::uintptr_t>(fd));
}

int TcpSocket::Receive(char* buffer, int size) const {
  return static_cast<int>(::recv(Fd(handle_), buffer, static_cast<std::size_t>(size), 0));
}

bool TcpSocket::SendAll(const char* data, std::size_t size) const {
  while (size > 0) {
    ssize_t sent = ::send(Fd(handle_), data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void TcpSocket::ShutdownSend() const {
  ::shutdown(Fd(handle_), SHUT_WR);
}

void TcpSocket::Close() {
  if (handle_ != kInvalid) ::close(Fd(handle_));
  handle_ = kInvalid;
}

}  // namespace testsupport
