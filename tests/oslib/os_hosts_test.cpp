/*
** Hosts, services and the node name: the real resolver for localhost and
** ftp/tcp (against getent), the retry schedule on a recording clock, the
** entries refused or cut, and rhostname through the uname seam.
*/
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "os_seams.h"
#include "os_wrappers.h"
#include "wrappers_test_support.h"

using wrappers_test::RecordingClock;
using wrappers_test::ScopedSeam;

namespace {

TEST(OsHosts, LocalhostIsIpv4Loopback) {
  oshostent_t h;
  ASSERT_EQ(_osgethostbyname("localhost", &h), 0);
  EXPECT_EQ(h.addrtype, AF_INET);
  EXPECT_EQ(h.length, 4);
  const unsigned char loopback[4] = {127, 0, 0, 1};
  EXPECT_EQ(memcmp(h.address, loopback, 4), 0);
}

TEST(OsHosts, FtpPortWordMatchesGetent) {
  /* "ftp    21/tcp" */
  std::istringstream line(wrappers_test::command_output("getent services ftp/tcp"));
  std::string name;
  std::string port_proto;
  if (!(line >> name >> port_proto)) GTEST_SKIP() << "getent knows no ftp/tcp";
  const int port = std::stoi(port_proto.substr(0, port_proto.find('/')));

  osservent_t s;
  ASSERT_EQ(_osgetservbyname("ftp", "tcp", &s), 0);
  EXPECT_EQ(s.port, static_cast<int32_t>(htons(static_cast<uint16_t>(port))));
  EXPECT_STREQ(s.name, "ftp");
  EXPECT_STREQ(s.proto, "tcp");
}

/* A resolver that fails `failures` times (host: with h_errno `herr`;
** service: with errno `err`) and then answers, counting its calls. */
struct ScriptedResolver {
  static inline int failures = 0;
  static inline int herr = 0;
  static inline int err = 0;
  static inline int calls = 0;
  static inline struct hostent host;
  static inline struct servent service;
  static inline char name[] = "answer";
  static inline char proto[] = "tcp";
  static inline char address[4] = {10, 1, 2, 3};
  static inline char *addresses[2] = {address, nullptr};

  static struct hostent *by_name(const char *, int *h) {
    if (++calls <= failures) {
      *h = herr;
      return nullptr;
    }
    *h = 0;
    host = {name, nullptr, AF_INET, 4, addresses};
    return &host;
  }
  static struct hostent *by_addr(const void *, socklen_t, int) {
    ++calls;
    host = {name, nullptr, AF_INET6, 16, addresses};
    return calls <= failures ? nullptr : &host;
  }
  static struct servent *by_service(const char *, const char *) {
    if (++calls <= failures) {
      errno = err;
      return nullptr;
    }
    service = {name, nullptr, 0x1234, proto};
    return &service;
  }
  static constexpr os_resolver_seam seam = {by_name, by_addr, by_service};

  ScriptedResolver(int fail, int h_error, int error) {
    failures = fail;
    herr = h_error;
    err = error;
    calls = 0;
  }
  ScopedSeam<os_resolver_seam> guard {os_resolver, &seam};
};

constexpr int endless = 1000;

struct RetryCase {
  const char *what;
  int failures;
  int code; /* h_errno for hosts, errno for services */
  int calls;
  size_t sleeps;
  int result;
};

TEST(OsHosts, HostRetriesOnlyTemporaryFailures) {
  const RetryCase cases[] = {
      {"endless TRY_AGAIN", endless, TRY_AGAIN, 31, 14, -1},
      {"TRY_AGAIN 16 times, then found", 16, TRY_AGAIN, 17, 0, 0},
      {"TRY_AGAIN 20 times, then found", 20, TRY_AGAIN, 21, 4, 0},
      {"HOST_NOT_FOUND", endless, HOST_NOT_FOUND, 1, 0, -1},
      {"NO_RECOVERY", endless, NO_RECOVERY, 1, 0, -1},
  };
  for (const RetryCase &c : cases) {
    RecordingClock clock;
    ScriptedResolver resolver(c.failures, c.code, 0);
    oshostent_t h;
    EXPECT_EQ(_osgethostbyname("somewhere", &h), c.result) << c.what;
    EXPECT_EQ(ScriptedResolver::calls, c.calls) << c.what;
    EXPECT_EQ(RecordingClock::sleeps, std::vector<unsigned>(c.sleeps, 1)) << c.what;
  }
}

TEST(OsHosts, ServiceRetriesWhileErrnoStaysZero) {
  const RetryCase cases[] = {
      {"unknown service, errno 0", endless, 0, 31, 14, -1},
      {"errno 0 20 times, then found", 20, 0, 21, 4, 0},
      {"failure with errno set", endless, ENOENT, 1, 0, -1},
  };
  for (const RetryCase &c : cases) {
    RecordingClock clock;
    ScriptedResolver resolver(c.failures, 0, c.code);
    osservent_t s;
    EXPECT_EQ(_osgetservbyname("svc", "tcp", &s), c.result) << c.what;
    EXPECT_EQ(ScriptedResolver::calls, c.calls) << c.what;
    EXPECT_EQ(RecordingClock::sleeps, std::vector<unsigned>(c.sleeps, 1)) << c.what;
    if (c.result == 0) {
      EXPECT_EQ(s.port, 0x1234) << "the port word is copied unchanged";
    }
  }
}

/* Entries the record cannot hold are refused, the record untouched. */
struct OddHosts {
  static inline struct hostent host;
  static inline std::string long_name = std::string(300, 'q');
  static inline char address[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  static inline char *addresses[2] = {address, nullptr};
  static inline char *no_addresses[1] = {nullptr};
  static struct hostent *by_name(const char *name, int *h) {
    *h = 0;
    std::string_view kind = name;
    if (kind == "inet6") host = {long_name.data(), nullptr, AF_INET6, 16, addresses};
    if (kind == "inet-16") host = {long_name.data(), nullptr, AF_INET, 16, addresses};
    if (kind == "inet-none") host = {long_name.data(), nullptr, AF_INET, 4, no_addresses};
    if (kind == "inet-long-name") host = {long_name.data(), nullptr, AF_INET, 4, addresses};
    return &host;
  }
  static constexpr os_resolver_seam seam = {by_name, nullptr, nullptr};
};

TEST(OsHosts, OnlyIpv4EntriesWithFourByteAddressesAreTaken) {
  ScopedSeam<os_resolver_seam> resolver(os_resolver, &OddHosts::seam);
  for (const char *kind : {"inet6", "inet-16", "inet-none"}) {
    oshostent_t h;
    memset(&h, 0x5a, sizeof h);
    const oshostent_t before = h;
    EXPECT_EQ(_osgethostbyname(kind, &h), -1) << kind;
    EXPECT_EQ(memcmp(&h, &before, sizeof h), 0) << kind;
  }
  oshostent_t h;
  ASSERT_EQ(_osgethostbyname("inet-long-name", &h), 0);
  EXPECT_EQ(std::string(h.name), OddHosts::long_name.substr(0, 255));
  EXPECT_EQ(memcmp(h.address, OddHosts::address, 4), 0);
}

TEST(OsHosts, ByAddressCopiesTheGivenAddressAndRefusesLongOnes) {
  RecordingClock clock;
  {
    ScriptedResolver resolver(0, 0, 0);
    const char address[16] = {32, 1, 13, 120};
    oshostent_t h;
    memset(&h, 0x5a, sizeof h);
    const oshostent_t before = h;
    EXPECT_EQ(_osgethostbyaddr(address, 16, AF_INET6, &h), -1);
    EXPECT_EQ(_osgethostbyaddr(address, -1, AF_INET, &h), -1);
    EXPECT_EQ(ScriptedResolver::calls, 0);
    EXPECT_EQ(memcmp(&h, &before, sizeof h), 0);

    /* The given address, length and type, not the looked-up ones. */
    const char v4[4] = {10, 9, 8, 7};
    ASSERT_EQ(_osgethostbyaddr(v4, 4, AF_INET, &h), 0);
    EXPECT_STREQ(h.name, "answer");
    EXPECT_EQ(h.addrtype, AF_INET);
    EXPECT_EQ(h.length, 4);
    EXPECT_EQ(memcmp(h.address, v4, 4), 0);

    /* The record-driven form asks with what the record holds. */
    ASSERT_EQ(__osgethostbyaddr(&h), 0);
    EXPECT_EQ(memcmp(h.address, v4, 4), 0);
  }
  ScriptedResolver not_found(endless, 0, 0);
  oshostent_t h;
  const char v4[4] = {10, 9, 8, 7};
  EXPECT_EQ(_osgethostbyaddr(v4, 4, AF_INET, &h), -1);
  EXPECT_EQ(ScriptedResolver::calls, 1) << "no retry by address";
  EXPECT_TRUE(RecordingClock::sleeps.empty());
}

TEST(OsHosts, RecordDrivenLookupsUseTheNamesTheRecordHolds) {
  RecordingClock clock;
  ScriptedResolver resolver(0, 0, 0);
  oshostent_t h {};
  strcpy(h.name, "somewhere");
  ASSERT_EQ(__osgethostbyname(&h), 0);
  EXPECT_STREQ(h.name, "answer");
  EXPECT_EQ(h.address[0], 10);

  osservent_t s {};
  strcpy(s.name, "svc");
  strcpy(s.proto, "tcp");
  ASSERT_EQ(__osgetservbyname(&s), 0);
  EXPECT_EQ(s.port, 0x1234);
}

TEST(OsHosts, UnknownNetgroupHasNoMembers) {
  osnetgr_t r {};
  r.result = 7;
  EXPECT_EQ(_osinnetgr("no-such-netgroup-h2x", "host", nullptr, "", &r), 0);
  EXPECT_EQ(r.result, 0);
  strcpy(r.netgroup, "no-such-netgroup-h2x");
  r.result = 7;
  EXPECT_EQ(__osinnetgr(&r), 0);
  EXPECT_EQ(r.result, 0);
}

struct NodeAlpha {
  static inline bool fail = false;
  static int fake_uname(struct utsname *u) {
    if (fail) return -1;
    memset(u, 0, sizeof *u);
    strcpy(u->nodename, "alpha");
    return 0;
  }
  static constexpr os_host_seam seam = {fake_uname, nullptr};
};

TEST(OsHosts, NodeNameIsCutToSizeMinusOne) {
  struct Case {
    int size;
    int result;
    const char *text;
  };
  const Case cases[] = {{4, 0, "alp"},     {1, 0, ""},       {5, 0, "alph"},   {6, 0, "alpha"},
                        {300, 0, "alpha"}, {0, -1, nullptr}, {-3, -1, nullptr}};
  ScopedSeam<os_host_seam> host(os_host, &NodeAlpha::seam);
  NodeAlpha::fail = false;
  for (const Case &c : cases) {
    std::string buffer(c.size > 0 ? c.size + 8 : 8, '#');
    EXPECT_EQ(rhostname(buffer.data(), c.size), c.result) << c.size;
    if (c.text != nullptr) {
      EXPECT_STREQ(buffer.c_str(), c.text) << c.size;
      EXPECT_EQ(buffer[c.size], '#') << "nothing written past the size " << c.size;
    }
  }
  NodeAlpha::fail = true;
  char buffer[16];
  EXPECT_EQ(rhostname(buffer, sizeof buffer), -1);
}

}  // namespace
