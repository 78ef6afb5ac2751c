#include "support/nginx_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/local_path.h"
#include "support/wait_until.h"

namespace testsupport {

bool NginxFromEnvironment(NginxServer* server, std::string* why) {
  const char* port = std::getenv("SOLMERE_NGINX_PORT");
  const char* root = std::getenv("SOLMERE_NGINX_ROOT");
  const char* accessLog = std::getenv("SOLMERE_NGINX_ACCESS_LOG");
  if (port == nullptr || root == nullptr || accessLog == nullptr) {
    *why = "no nginx: run this program through tests/support/with_nginx.sh";
    return false;
  }
  const long value = std::strtol(port, nullptr, 10);
  if (value <= 0 || value > 65535) {
    *why = std::string("bad SOLMERE_NGINX_PORT: ") + port;
    return false;
  }
  server->port = static_cast<uint16_t>(value);
  server->root = LocalPath(root);
  server->accessLog = LocalPath(accessLog);
  return true;
}

std::vector<AccessLogLine> ReadAccessLog(const NginxServer& server) {
  std::vector<AccessLogLine> lines;
  std::ifstream in{std::filesystem::path(server.accessLog)};
  for (std::string text; std::getline(in, text);) {
    // connection, request number, "request line", status, body bytes
    AccessLogLine line;
    line.line = text;
    std::istringstream fields(text);
    fields >> line.connection >> line.requestOnConnection;
    const std::size_t open = text.find('"');
    const std::size_t close = text.rfind('"');
    if (open != std::string::npos && close > open) {
      const std::string request = text.substr(open + 1, close - open - 1);
      const std::size_t first = request.find(' ');
      const std::size_t last = request.rfind(' ');
      const std::string logged = first < last ? request.substr(first + 1, last - first - 1) : request;
      for (std::size_t at = 0; at < logged.size(); ++at) {
        const bool backslash = logged.compare(at, 4, "\\x5C") == 0;
        line.target.push_back(backslash ? '\\' : logged[at]);
        if (backslash) at += 3;
      }
      std::istringstream(text.substr(close + 1)) >> line.status;
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<AccessLogLine> WaitForAccessLog(const NginxServer& server, std::size_t count,
                                            std::chrono::milliseconds limit) {
  std::vector<AccessLogLine> lines;
  WaitUntil(
      [&] {
        lines = ReadAccessLog(server);
        return lines.size() >= count;
      },
      limit);
  return lines;
}

std::string ServedPath(const std::string& target) {
  std::string path;
  for (char c : target) {
    const char unit = c == '\\' ? '/' : c;
    if (unit != '/' || path.empty() || path.back() != '/') path.push_back(unit);
  }
  return path;
}

}  // namespace testsupport
