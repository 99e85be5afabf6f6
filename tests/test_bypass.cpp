// Which hosts a bypass list sends direct.
#include "bypass.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using wininet::preconfig::Bypass;

struct Probe {
  std::string host;
  int port;
  bool direct;
};

void Expect(const Bypass &bypass, const std::vector<Probe> &probes) {
  for (const Probe &probe : probes) {
    SCOPED_TRACE(probe.host + ":" + std::to_string(probe.port));
    EXPECT_EQ(bypass.Matches(probe.host, probe.port), probe.direct);
  }
}

TEST(Bypass, MatchesAsGLibDoes) {
  const Bypass bypass({"localhost", "127.0.0.0/16", "::1", ".corp.example", "*.intra.example",
                       "dev.example:8080", "[fe80::1]:443", "127.42.2.3/16", "fd00::/8",
                       "  spaced.example\t", "UPPER.Example", "[::2]", "127.7.7.7:81",
                       "fqdn.example."});
  Expect(bypass, {
                     // A name matches itself and every name below it, in any case.
                     {"localhost", 80, true},
                     {"LocalHost", 80, true},
                     {"localhost.", 80, true},
                     {"a.localhost", 80, true},
                     {"notlocalhost", 80, false},
                     {"localhost.example", 80, false},
                     {"corp.example", 80, true},
                     {"a.b.corp.example", 80, true},
                     {"xcorp.example", 80, false},
                     {"intra.example", 80, true},
                     {"www.intra.example", 443, true},
                     {"spaced.example", 80, true},
                     {"upper.example", 80, true},
                     // A fully qualified entry, with its trailing dot, names the same host.
                     {"fqdn.example", 80, true},
                     {"www.fqdn.example.", 80, true},
                     // A port limits the entry to it.
                     {"dev.example", 8080, true},
                     {"www.dev.example", 8080, true},
                     {"dev.example", 80, false},
                     // Addresses and ranges, both families; host bits of a range are ignored.
                     {"127.0.0.1", 80, true},
                     {"127.0.255.9", 2020, true},
                     {"127.1.0.1", 80, false},
                     {"127.42.200.1", 80, true},
                     {"127.43.0.1", 80, false},
                     {"::1", 80, true},
                     {"[::1]", 80, true},
                     {"[::2]", 80, true},
                     {"[::3]", 80, false},
                     {"[fe80::1]", 443, true},
                     {"[fe80::1]", 80, false},
                     {"[fd12:3456::1]", 80, true},
                     {"127.7.7.7", 81, true},
                     {"127.7.7.7", 80, false},
                     // Names match names only: an address is not a name that ends in one.
                     {"", 80, false},
                 });
}

TEST(Bypass, SkipsWhatIsNoEntry) {
  const Bypass bypass({"<local>", "http://intranet/", "", "*", "bad:port:x", "127.168.0.0/33",
                       "zelva/8", "[::1", "[::1]x", "[zelva]:80", "intranet:99999", "*.", ".",
                       "a b", std::string("nul\0host", 8), "\xff\xfe"});
  // "*" alone is the one that matches every host.
  Expect(bypass, {{"intranet", 80, true}, {"127.168.0.1", 80, true}});
  const Bypass withoutStar({"<local>", "http://intranet/", "bad:port:x", "127.168.0.0/33",
                            "zelva/8", "[::1", "[zelva]:80", "intranet:99999", "*.", ".",
                            // An address cut short by a NUL is not that address.
                            std::string("127.9.9.9\0", 10), std::string("::1\0/8", 6)});
  Expect(withoutStar, {
                          {"intranet", 80, false},
                          {"local", 80, false},
                          {"bad", 80, false},
                          {"127.168.0.1", 80, false},
                          {"zelva", 80, false},
                          {"::1", 80, false},
                          {"127.9.9.9", 80, false},
                      });
}

TEST(Bypass, ListsApartByCommasOrWhiteSpace) {
  const Bypass bypass = Bypass::FromList(" a.example, b.example\tc.example,,\n.d.example ,");
  Expect(bypass, {{"a.example", 80, true},
                  {"b.example", 80, true},
                  {"c.example", 80, true},
                  {"x.d.example", 80, true},
                  {"e.example", 80, false}});
  Expect(Bypass::FromList(""), {{"a.example", 80, false}});
  Expect(Bypass::FromList("*"), {{"a.example", 80, true}, {"127.0.0.1", 80, true}});
}

} // namespace
