#pragma once
// The nginx that tests/support/with_nginx.sh runs around a test program.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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

// One line of the access log.
struct AccessLogLine {
  std::string connection;  // nginx's serial number of the connection
  int requestOnConnection = 0;
  std::string target;  // as requested; nginx logs a "\" as "\x5C", given back as "\" here
  int status = 0;
  std::string line;  // the whole line
};

// The access log so far.
std::vector<AccessLogLine> ReadAccessLog(const NginxServer& server);
// The access log once it has at least `count` lines (nginx writes a line just after its
// response has gone out), or as it is when `limit` has passed.
std::vector<AccessLogLine> WaitForAccessLog(const NginxServer& server, std::size_t count,
                                            std::chrono::milliseconds limit = std::chrono::seconds(10));
// The file a target reaches: every "\" a "/", no "/" doubled.
std::string ServedPath(const std::string& target);

}  // namespace testsupport
