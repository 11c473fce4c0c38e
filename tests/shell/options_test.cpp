// The command line.
#include <gtest/gtest.h>

#include "shell/options.h"

namespace vornhal {
namespace {

TEST(CommandLine, NoOptionsRunsAsDesigned) {
  TParsedCommandLine r = ParseCommandLine({});
  EXPECT_TRUE(r.run);
  EXPECT_TRUE(r.options.root.empty());
  EXPECT_TRUE(r.options.local_ip.empty());
  EXPECT_TRUE(r.options.global_ip.empty());
  EXPECT_FALSE(r.options.no_upnp);
}

TEST(CommandLine, OfflineAndExplicitAddresses) {
  TParsedCommandLine r = ParseCommandLine({"--root", "/tmp", "--offline"});
  ASSERT_TRUE(r.run);
  EXPECT_EQ(r.options.root, "/tmp");
  EXPECT_EQ(r.options.local_ip, "127.0.0.1");
  EXPECT_EQ(r.options.global_ip, "127.0.0.1");
  EXPECT_TRUE(r.options.no_upnp);

  r = ParseCommandLine({"--local-ip", "192.168.0.10", "--global-ip=203.0.113.5", "--no-upnp"});
  ASSERT_TRUE(r.run);
  EXPECT_EQ(r.options.local_ip, "192.168.0.10");
  EXPECT_EQ(r.options.global_ip, "203.0.113.5");
  EXPECT_TRUE(r.options.no_upnp);
}

TEST(CommandLine, RefusalsEndWithStatus2) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"extra"},
                                             {"--local-ip"},
                                             {"--local-ip", "300.1.1.1"},
                                             {"--global-ip", "example.com"},
                                             {"--global-ip", "1.2.3"},
                                             {"--root"},
                                             {"--root", "/no/such/folder/anywhere"},
                                             {"--offline=1"}}) {
    TParsedCommandLine r = ParseCommandLine(args);
    EXPECT_FALSE(r.run) << args[0];
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_NE(r.output.find("vornhal: "), std::string::npos) << r.output;
  }
}

TEST(CommandLine, HelpAndVersionEndWithStatus0) {
  TParsedCommandLine help = ParseCommandLine({"--help"});
  EXPECT_FALSE(help.run);
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("--offline"), std::string::npos);
  TParsedCommandLine version = ParseCommandLine({"--version"});
  EXPECT_FALSE(version.run);
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.output, "Vornhal Ver.0.2.5\n");
}

}  // namespace
}  // namespace vornhal
