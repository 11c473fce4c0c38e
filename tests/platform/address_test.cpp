// Address rules: the classic dotted-text parser, the choice of the LAN address, and the HTTP
// check endpoint.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/free_port.h"

#include <cstring>

#include "platform/address.h"
#include "platform/http.h"
#include "platform/priority.h"

namespace vornhal {
namespace {

std::vector<uint8_t> MemoryBytes(uint32_t v) {
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  return {b[0], b[1], b[2], b[3]};
}

TEST(IPToAddr, GivesTheBytesInAddressOrder) {
  EXPECT_EQ(MemoryBytes(IPToAddr("192.168.0.10")), (std::vector<uint8_t>{192, 168, 0, 10}));
  EXPECT_EQ(MemoryBytes(IPToAddr("127.0.0.1")), (std::vector<uint8_t>{127, 0, 0, 1}));
  EXPECT_EQ(IPToAddr("0.0.0.0"), 0u);
  // The classic parser's shorter and numeric forms.
  EXPECT_EQ(MemoryBytes(IPToAddr("10.1")), (std::vector<uint8_t>{10, 0, 0, 1}));
  EXPECT_EQ(MemoryBytes(IPToAddr("0x7f.1")), (std::vector<uint8_t>{127, 0, 0, 1}));
}

TEST(IPToAddr, UnparsableTextGivesAllBitsSet) {
  for (const char* bad : {"", "abc", "1.2.3.256", "1.2.3.4.5", "1..2.3", "1.2.3.4x"}) {
    EXPECT_EQ(IPToAddr(bad), 0xFFFFFFFFu) << bad;
  }
  EXPECT_EQ(IPToAddr("255.255.255.255"), 0xFFFFFFFFu);
  // Like the classic parser, text after a blank or line end is ignored.
  EXPECT_EQ(MemoryBytes(IPToAddr("203.0.113.5\n")), (std::vector<uint8_t>{203, 0, 113, 5}));
}

TEST(LocalIP, TheFirstAdapterWithADefaultGatewayWins) {
  const std::string routes =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "virbr0\t00007AC0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "eth1\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth1\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
      "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";
  std::set<std::string> gateways = DefaultRouteInterfaces(routes);
  EXPECT_EQ(gateways, (std::set<std::string>{"eth1", "wlan0"}));
  EXPECT_EQ(ChooseLocalIP({{"lo", "127.0.0.1"}, {"virbr0", "192.168.122.1"},
                           {"eth1", "192.168.0.10"}, {"wlan0", "192.168.1.7"}},
                          gateways),
            "192.168.0.10");
  EXPECT_EQ(ChooseLocalIP({{"wlan0", "192.168.1.7"}, {"eth1", "192.168.0.10"}}, gateways),
            "192.168.1.7");
  EXPECT_EQ(ChooseLocalIP({{"lo", "127.0.0.1"}}, gateways), "");
  EXPECT_TRUE(DefaultRouteInterfaces("Iface\tDestination\tGateway\n").empty());
}

TEST(DottedQuad, AcceptsOnlyFourDecimalParts) {
  EXPECT_TRUE(IsDottedQuad("127.0.0.1"));
  EXPECT_TRUE(IsDottedQuad("255.255.255.255"));
  for (const char* bad : {"", "10.1", "0x7f.0.0.1", "256.0.0.1", "1.2.3.4 ", "a.b.c.d"}) {
    EXPECT_FALSE(IsDottedQuad(bad)) << bad;
  }
}

TEST(Priority, ClassesMapToNiceValuesAndUnknownOnesToNormal) {
  EXPECT_LT(NiceForPriority(0), NiceForPriority(1));
  EXPECT_LT(NiceForPriority(1), NiceForPriority(2));
  EXPECT_LT(NiceForPriority(2), NiceForPriority(3));
  EXPECT_LT(NiceForPriority(3), NiceForPriority(4));
  EXPECT_LT(NiceForPriority(4), NiceForPriority(5));
  EXPECT_EQ(NiceForPriority(3), 0);
  EXPECT_EQ(NiceForPriority(9), 0);
  EXPECT_EQ(NiceForPriority(-1), 0);
}

using test::FreePort;

TEST(HttpCheck, AnyGetAnswersOne) {
  uint16_t port = FreePort();
  THttpCheckServer server;
  server.Open(port);
  httplib::Client client("127.0.0.1", port);
  for (const char* path : {"/?id=a&pw=b&mainCode=10&subCode=20", "/", "/any/path"}) {
    auto res = client.Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "1");
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain");
    EXPECT_EQ(res->get_header_value("Content-Length"), "1");
  }
  auto post = client.Post("/", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_NE(post->body, "1");
  server.Close();
  EXPECT_FALSE(client.Get("/"));
}

TEST(HttpCheck, APortInUseIsReportedByNumber) {
  uint16_t port = FreePort();
  THttpCheckServer first;
  first.Open(port);
  THttpCheckServer second;
  try {
    second.Open(port);
    FAIL() << "opened a port in use";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(std::to_string(port)), std::string::npos);
  }
}

}  // namespace
}  // namespace vornhal
