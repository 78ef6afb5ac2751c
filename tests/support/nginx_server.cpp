#include "support/nginx_server.h"

#include <cstdlib>

#include "support/local_path.h"

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

}  // namespace testsupport
