#include "net/update_server_address.h"

#include <algorithm>

namespace {

bool IsNameUnit(char16_t unit) {
  return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9') ||
         unit == u'-' || unit == u'.' || unit == u'_';
}

bool IsIpv6Unit(char16_t unit) {
  return (unit >= u'a' && unit <= u'f') || (unit >= u'A' && unit <= u'F') || (unit >= u'0' && unit <= u'9') ||
         unit == u':' || unit == u'.';
}

std::optional<uint16_t> ParsePort(std::u16string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  uint32_t port = 0;
  for (char16_t unit : digits) {
    if (unit < u'0' || unit > u'9') return std::nullopt;
    port = port * 10 + static_cast<uint32_t>(unit - u'0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return static_cast<uint16_t>(port);
}

}  // namespace

UpdateServerAddress BuiltInUpdateServer() {
  return {u"" SOLMERE_UPDATE_HOST, SOLMERE_UPDATE_PORT};
}

std::vector<UpdateServerAddress> BuiltInUpdateServers() {
  return ServerAddressList(u"" SOLMERE_UPDATE_HOSTS, BuiltInUpdateServer());
}

std::vector<UpdateServerAddress> ServerAddressList(std::u16string_view text, const UpdateServerAddress& first) {
  std::vector<UpdateServerAddress> servers{first};
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(u','), text.size());
    const std::u16string_view entry = text.substr(0, comma);
    text.remove_prefix(std::min(comma + 1, text.size()));
    std::optional<UpdateServerAddress> address = ParseServerAddress(entry);
    if (!address) continue;
    // A server named without a port serves on the first one's.
    const bool bracketed = !entry.empty() && entry.front() == u'[';
    const bool portGiven =
        bracketed ? entry.find(u"]:") != std::u16string_view::npos : entry.find(u':') != std::u16string_view::npos;
    if (!portGiven) address->port = first.port;
    if (std::find(servers.begin(), servers.end(), *address) == servers.end()) servers.push_back(*address);
  }
  return servers;
}

std::optional<UpdateServerAddress> ParseServerAddress(std::u16string_view text) {
  UpdateServerAddress address;
  std::u16string_view rest;
  if (!text.empty() && text.front() == u'[') {
    const std::size_t close = text.find(u']');
    if (close == std::u16string_view::npos) return std::nullopt;
    const std::u16string_view literal = text.substr(1, close - 1);
    if (literal.find(u':') == std::u16string_view::npos) return std::nullopt;
    for (char16_t unit : literal)
      if (!IsIpv6Unit(unit)) return std::nullopt;
    address.host = literal;
    rest = text.substr(close + 1);
  } else {
    const std::size_t colon = text.find(u':');
    const std::u16string_view name = text.substr(0, colon);
    if (name.empty()) return std::nullopt;
    for (char16_t unit : name)
      if (!IsNameUnit(unit)) return std::nullopt;
    address.host = name;
    rest = colon == std::u16string_view::npos ? std::u16string_view() : text.substr(colon);
  }
  if (rest.empty()) return address;
  if (rest.front() != u':') return std::nullopt;
  const std::optional<uint16_t> port = ParsePort(rest.substr(1));
  if (!port) return std::nullopt;
  address.port = *port;
  return address;
}

std::u16string AddressText(const UpdateServerAddress& address) {
  const std::u16string host =
      address.host.find(u':') != std::u16string::npos ? u"[" + address.host + u"]" : address.host;
  std::u16string text = host + u":";
  for (char digit : std::to_string(address.port)) text += static_cast<char16_t>(digit);
  return text;
}
