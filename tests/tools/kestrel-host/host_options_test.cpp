// The reference host's command line: long options with "=", the end of options, and the TCP
// addresses a listener accepts.
#include "host_options.h"

#include <gtest/gtest.h>

namespace {

using kestrel::host::HostOptions;
using kestrel::host::InputSpec;
using kestrel::host::OutputFormat;

struct Parsed {
  bool ok;
  HostOptions options;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed parsed{false, HostOptions(), ""};
  parsed.ok = kestrel::host::ParseHostOptions(args, &parsed.options, &parsed.error);
  return parsed;
}

TEST(HostOptions, ValuesAfterEqualsTheEndOfOptionsAndTcpAddresses) {
  // --name=value is --name value, the value may hold "=" itself and may be empty.
  Parsed p = Parse({"--format=json", "--packet-size=7", "--ini=a=b.ini", "--hide=", "in.jsonl"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.format, OutputFormat::JsonLines);
  EXPECT_EQ(p.options.packet_size, 7u);
  EXPECT_EQ(p.options.ini_file, "a=b.ini");
  EXPECT_TRUE(p.options.hidden.empty());
  // A flag given a value, and an unknown long option with one, are mistakes.
  p = Parse({"--items=yes", "in.jsonl"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.error, "--items takes no value");
  EXPECT_FALSE(Parse({"--colour=red", "in.jsonl"}).ok);

  // After "--" everything is an input, even what looks like an option; "-" stays stdin.
  p = Parse({"--items", "--", "--items", "-x.jsonl", "-", "--=odd"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.items);
  ASSERT_EQ(p.options.inputs.size(), 4u);
  EXPECT_EQ(p.options.inputs[0].path, "--items");
  EXPECT_EQ(p.options.inputs[1].path, "-x.jsonl");
  EXPECT_EQ(p.options.inputs[2].kind, InputSpec::StandardInput);
  EXPECT_EQ(p.options.inputs[3].path, "--=odd");
  // --version needs no input.
  EXPECT_TRUE(Parse({"--version"}).ok);

  // tcp: a port alone, a host name, IPv4, and IPv6 in brackets.
  p = Parse({"tcp:5000", "tcp:localhost:5001", "tcp:10.0.0.2:0", "tcp:[::1]:5002",
             "tcp:[fe80::1%lo]:5003"});
  ASSERT_TRUE(p.ok) << p.error;
  const std::vector<std::pair<std::string, uint16_t>> wanted = {{"127.0.0.1", 5000},
                                                                {"localhost", 5001},
                                                                {"10.0.0.2", 0},
                                                                {"::1", 5002},
                                                                {"fe80::1%lo", 5003}};
  ASSERT_EQ(p.options.inputs.size(), wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    EXPECT_EQ(p.options.inputs[i].kind, InputSpec::Tcp);
    EXPECT_EQ(p.options.inputs[i].address, wanted[i].first);
    EXPECT_EQ(p.options.inputs[i].port, wanted[i].second);
  }
  // An IPv6 address without brackets would lose its last group to the port; a bracket without
  // a port, an empty address or a port out of range are refused.
  for (const char* bad : {"tcp:::1:5000", "tcp:[::1]", "tcp:[::1]5000", "tcp:[]:5000", "tcp::5000",
                          "tcp:localhost:65536", "tcp:localhost:"}) {
    p = Parse({bad});
    EXPECT_FALSE(p.ok) << bad;
    EXPECT_NE(p.error.find("bad TCP input"), std::string::npos) << bad << ": " << p.error;
  }
}

} // namespace
