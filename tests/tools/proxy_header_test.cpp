#include "update_server/proxy_header.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/wire.h"

namespace qm::server {
namespace {

using test::Bytes;
using test::ProxyV2;
using test::ProxyV2Fields;

// The header with byte `at` set to `value`.
Bytes With(Bytes header, std::size_t at, std::uint8_t value) {
    header.at(at) = value;
    return header;
}

struct Parsed {
    std::optional<std::string> problem;  // nothing when the header was taken
    bool local = false;
    std::string source;  // "host:port", empty for none
};

Parsed Refused(std::string const& problem) {
    return {problem, false, ""};
}
Parsed Taken(bool local, std::string const& source) {
    return {std::nullopt, local, source};
}

Parsed Parse(Bytes const& header) {
    Outcome<std::size_t> const length = ProxyHeaderLength(header);
    if (!length.ok()) {
        return Refused(length.reason());
    }
    EXPECT_EQ(length.value(), header.size());
    Outcome<ProxyHeader> const parsed = ParseProxyHeader(header);
    if (!parsed.ok()) {
        return Refused(parsed.reason());
    }
    return Taken(parsed.value().local,
                 parsed.value().source ? parsed.value().source->Describe() : "");
}

TEST(ProxyHeader, WhatABalancerSendsIsTakenAndTheRestRefused) {
    Bytes const v4 = ProxyV2({});
    struct Case {
        char const* what;
        Bytes header;
        Parsed expected;
    };
    Case const cases[] = {
        {"PROXY, TCP over IPv4", v4, Taken(false, "192.0.2.10:50000")},
        {"PROXY, TCP over IPv6",
         ProxyV2({.source = "2001:db8::7", .sourcePort = 443, .destination = "::1"}),
         Taken(false, "[2001:db8::7]:443")},
        {"an IPv4 client mapped into IPv6 counts as IPv4",
         ProxyV2({.source = "::ffff:198.51.100.4", .sourcePort = 1, .destination = "::1"}),
         Taken(false, "198.51.100.4:1")},
        {"TLVs after the addresses are skipped",
         ProxyV2({.source = "198.51.100.9", .trailing = Bytes{0x04, 0x00, 0x02, 0xAB, 0xCD}}),
         Taken(false, "198.51.100.9:50000")},
        {"LOCAL (a health check)", test::ProxyV2Local(), Taken(true, "")},
        {"LOCAL with an address block", With(v4, 12, 0x20), Taken(true, "")},
        {"PROXY without an address family", With(With(v4, 13, 0x00), 12, 0x21), Taken(false, "")},
        {"PROXY from a local socket of the balancer", With(v4, 13, 0x31), Taken(false, "")},
        {"the text header of version 1",
         test::ToBytes("PROXY TCP4 192.0.2.10 127.0.0.1 5000 34005\r\n"),
         Refused("no PROXY protocol version 2 header")},
        {"the updater's first bytes", test::LoginMessage(0, 0),
         Refused("no PROXY protocol version 2 header")},
        {"a signature off by one byte", With(v4, 11, 0x0B),
         Refused("no PROXY protocol version 2 header")},
        {"version 1 in the binary form", With(v4, 12, 0x11),
         Refused("PROXY protocol version 1 header")},
        {"an unknown command", With(v4, 12, 0x2F), Refused("unknown command 15")},
        {"an unknown family", With(v4, 13, 0x41), Refused("unknown address family 4")},
        {"UDP", With(v4, 13, 0x12), Refused("transport other than TCP")},
        {"IPv6 family with an IPv4 block", With(v4, 13, 0x21),
         Refused("too short for its addresses")},
        {"longer than the server takes",
         ProxyV2({.trailing = Bytes(kProxyHeaderMax - 16 - 12 + 1, 0)}),
         Refused("PROXY protocol header of 1025 bytes (at most 1024)")},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed const parsed = Parse(c.header);
        if (c.expected.problem) {
            ASSERT_TRUE(parsed.problem.has_value());
            EXPECT_NE(parsed.problem->find(*c.expected.problem), std::string::npos)
                << *parsed.problem;
            continue;
        }
        ASSERT_FALSE(parsed.problem.has_value()) << *parsed.problem;
        EXPECT_EQ(parsed.local, c.expected.local);
        EXPECT_EQ(parsed.source, c.expected.source);
    }
}

TEST(ProxyHeader, TheLongestTakenHeaderAndACutOneAreTold) {
    Bytes const longest = ProxyV2({.trailing = Bytes(kProxyHeaderMax - 16 - 12, 0)});
    ASSERT_EQ(longest.size(), kProxyHeaderMax);
    EXPECT_TRUE(ParseProxyHeader(longest).ok());
    Bytes cut = ProxyV2({});
    cut.pop_back();
    EXPECT_EQ(ParseProxyHeader(cut).reason(), "PROXY protocol header cut short");
    EXPECT_FALSE(ProxyHeaderLength(Bytes(cut.begin(), cut.begin() + 15)).ok());
}

}  // namespace
}  // namespace qm::server
