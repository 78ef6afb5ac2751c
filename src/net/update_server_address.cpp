#include "net/update_server_address.h"

UpdateServerAddress BuiltInUpdateServer() {
  return {u"" SOLMERE_UPDATE_HOST, SOLMERE_UPDATE_PORT};
}
