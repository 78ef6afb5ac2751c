#pragma once
// The nginx that tests/support/with_nginx.sh runs around a test program.

#include <cstdint>
#include <string>

namespace testsupport {

struct NginxServer {
  uint16_t port = 0;
  // The document root as this program opens it.
  std::u16string root;
  // The access log: connection serial, request number, "request line", status, bytes.
  std::u16string accessLog;
};

// False, with the reason, when the program was not started through with_nginx.sh.
bool NginxFromEnvironment(NginxServer* server, std::string* why);

}  // namespace testsupport
