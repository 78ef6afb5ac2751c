#pragma once
// A minimal blocking TCP socket for the test servers (BSD sockets or Winsock).

#include <cstddef>
#include <cstdint>
#include <string>

namespace testsupport {

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket() { Close(); }
  TcpSocket(TcpSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Listens on an IPv4 address; port 0 takes a free one. Invalid on failure.
  static TcpSocket Listen(const std::string& address, uint16_t port, int backlog = 64);
  // A connection to an IPv4 address, made within a few seconds or not at all.
  static TcpSocket Connect(const std::string& address, uint16_t port);

  bool isValid() const { return handle_ != kInvalid; }
  uint16_t LocalPort() const;
  // True when a connection waits to be accepted or data (or the peer's close) to be read.
  bool WaitReadable(int timeoutMs) const;
  TcpSocket Accept() const;
  // Bytes received, 0 when the peer closed, negative on error.
  int Receive(char* buffer, int size) const;
  bool SendAll(const char* data, std::size_t size) const;
  // Ends the sending side cleanly, so the peer sees the end of the stream.
  void ShutdownSend() const;
  void Close();

 private:
  static constexpr std::uintptr_t kInvalid = ~std::uintptr_t{0};
  explicit TcpSocket(std::uintptr_t handle) : handle_(handle) {}
  std::uintptr_t handle_ = kInvalid;
};

}  // namespace testsupport
