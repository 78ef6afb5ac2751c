#include <winsock2.h>
#include <ws2tcpip.h>

#include "support/tcp_socket.h"

namespace testsupport {
namespace {

SOCKET Handle(std::uintptr_t handle) {
  return static_cast<SOCKET>(handle);
}

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
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
  if (!StartWinsock()) return TcpSocket();
  SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return TcpSocket();
  TcpSocket socket(static_cast<std::uintptr_t>(handle));
  // Without this a second listener could share the port silently.
  BOOL exclusive = TRUE;
  ::setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = ::htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return TcpSocket();
  if (::bind(handle, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 || ::listen(handle, backlog) != 0) {
    return TcpSocket();
  }
  return socket;
}

TcpSocket TcpSocket::Connect(const std::string& address, uint16_t port) {
  if (!StartWinsock()) return TcpSocket();
  SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return TcpSocket();
  TcpSocket socket(static_cast<std::uintptr_t>(handle));
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = ::htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1) return TcpSocket();
  if (::connect(handle, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) return TcpSocket();
  return socket;
}

uint16_t TcpSocket::LocalPort() const {
  sockaddr_in local{};
  int size = sizeof(local);
  if (::getsockname(Handle(handle_), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  return ::ntohs(local.sin_port);
}

bool TcpSocket::WaitReadable(int timeoutMs) const {
  WSAPOLLFD entry{};
  entry.fd = Handle(handle_);
  entry.events = POLLRDNORM;
  return ::WSAPoll(&entry, 1, timeoutMs) > 0;
}

TcpSocket TcpSocket::Accept() const {
  SOCKET handle = ::accept(Handle(handle_), nullptr, nullptr);
  if (handle == INVALID_SOCKET) return TcpSocket();
  // Head and body go out in separate sends: without this, Nagle's algorithm and the
  // client's delayed acknowledgement stall every response.
  BOOL on = TRUE;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
  return TcpSocket(static_cast<std::uintptr_t>(handle));
}

int TcpSocket::Receive(char* buffer, int size) const {
  return ::recv(Handle(handle_), buffer, size, 0);
}

bool TcpSocket::SendAll(const char* data, std::size_t size) const {
  while (size > 0) {
    int piece = size > 1 << 20 ? 1 << 20 : static_cast<int>(size);
    int sent = ::send(Handle(handle_), data, piece, 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void TcpSocket::ShutdownSend() const {
  ::shutdown(Handle(handle_), SD_SEND);
}

void TcpSocket::Close() {
  if (handle_ != kInvalid) ::closesocket(Handle(handle_));
  handle_ = kInvalid;
}

}  // namespace testsupport
