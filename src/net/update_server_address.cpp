#include "net/update_server_address.h"

const char16_t kUpdateServerHost[] = u"" SOLMERE_UPDATE_HOST;
const uint16_t kUpdateServerPort = SOLMERE_UPDATE_PORT;
