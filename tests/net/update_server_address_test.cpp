#include "net/update_server_address.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

struct AddressCase {
  std::u16string text;
  std::u16string host;
  uint16_t port;
};

TEST(ParseServerAddressTest, TakesHostsAndPorts) {
  const AddressCase cases[] = {
      {.text = u"updates.example.com", .host = u"updates.example.com", .port = 80},
      {.text = u"127.0.0.1:8080", .host = u"127.0.0.1", .port = 8080},
      {.text = u"my_host-2:65535", .host = u"my_host-2", .port = 65535},
      {.text = u"[::1]:80", .host = u"::1", .port = 80},
      {.text = u"[fe80::1:2]", .host = u"fe80::1:2", .port = 80},
      {.text = u"[::ffff:127.0.0.1]:81", .host = u"::ffff:127.0.0.1", .port = 81},
  };
  for (const AddressCase& c : cases) {
    const std::optional<UpdateServerAddress> parsed = ParseServerAddress(c.text);
    const std::string shown = platform::Utf8FromUtf16(c.text);
    ASSERT_TRUE(parsed.has_value()) << shown;
    EXPECT_EQ(parsed->host, c.host) << shown;
    EXPECT_EQ(parsed->port, c.port) << shown;
  }
}

TEST(ParseServerAddressTest, RefusesWhatIsNoAddress) {
  const std::u16string refused[] = {// Paths, schemes, users and other parts of a URL.
                                    u"127.0.0.1/x", u"127.0.0.1:80/x", u"http://127.0.0.1", u"user@host", u"host?x",
                                    u"host name", u"[::1]/x", u"[::1]x",
                                    // Ports outside 1..65535, or no number.
                                    u"host:0", u"host:65536", u"host:", u"host:8o", u"[::1]:",
                                    // Without brackets the last group of an IPv6 address would be taken for the port.
                                    u"::1", u"::1:80", u"[::1", u"[]:80", u"[host]:80", u"", u":80"};
  for (const std::u16string& text : refused) {
    const std::optional<UpdateServerAddress> parsed = ParseServerAddress(text);
    EXPECT_FALSE(parsed.has_value()) << platform::Utf8FromUtf16(text) << " taken as "
                                     << platform::Utf8FromUtf16(parsed->host);
  }
}

TEST(ParseServerAddressTest, TextWritesIpv6HostsInBrackets) {
  EXPECT_EQ(AddressText({u"::1", 80}), u"[::1]:80");
  EXPECT_EQ(AddressText({u"127.0.0.1", 8080}), u"127.0.0.1:8080");
  // What is shown reads back as the same address.
  for (const UpdateServerAddress& address : {UpdateServerAddress{u"fe80::2", 81}, UpdateServerAddress{u"a.b", 1}})
    EXPECT_EQ(ParseServerAddress(AddressText(address)), address) << platform::Utf8FromUtf16(AddressText(address));
}

}  // namespace

namespace {

// The built-in mirrors: after the first server, in order, each once; a name without a port
// serves on the first server's port, and what is no address is skipped.
TEST(ServerAddressListTest, MirrorsFollowTheFirstServer) {
  const UpdateServerAddress first{u"update.example", 8080};
  struct Case {
    std::u16string text;
    std::vector<UpdateServerAddress> servers;
  };
  const Case cases[] = {
      {u"", {first}},
      {u"update.example", {first}},
      {u"a.example,b.example:81", {first, {u"a.example", 8080}, {u"b.example", 81}}},
      {u"[::1],[::2]:90,update.example:8080", {first, {u"::1", 8080}, {u"::2", 90}}},
      {u"a.example,,http://b/,a.example,c:0,c", {first, {u"a.example", 8080}, {u"c", 8080}}},
  };
  for (const Case& c : cases) EXPECT_EQ(ServerAddressList(c.text, first), c.servers) << platform::Utf8FromUtf16(c.text);
  EXPECT_EQ(BuiltInUpdateServers().front(), BuiltInUpdateServer());
}

}  // namespace
