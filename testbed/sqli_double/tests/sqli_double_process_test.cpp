/*
** Tests of testbed::SqliDouble (testbed/support/sqli_double_process.h):
** the double started in a temporary directory answers a connect request
** built by hand here over plain loopback sockets, its journal reads back
** through the helper, and faults chosen by option reach the wire. With
** --sqli the journal's SQLI lines read back field by field, a scenario
** rewritten between requests changes the next reply, and a request the
** engine cannot parse shows in the exit status. With --replay the ready
** file's second port, the raw one, answers without a connect.
*/
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "sqli_double_process.h"
#include "testbed_support.h"

namespace {

/* A connected socket to 127.0.0.1:port, closed with the object; fd() < 0
** when the connect failed (error() tells why). */
class Client {
 public:
  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
      error_ = errno;
      close(fd_);
      fd_ = -1;
    }
  }
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  int fd() const { return fd_; }
  int error() const { return error_; }
  void close_now() {
    close(fd_);
    fd_ = -1;
  }

  bool send_all(const std::string &bytes, int flags = 0) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, flags | MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  /* Up to `n` bytes, stopping early at end of file or after 5 s. */
  std::string recv_n(size_t n) const {
    std::string out;
    const int64_t deadline = testbed::monotonic_ms() + 5000;
    while (out.size() < n) {
      pollfd p {fd_, POLLIN, 0};
      int left = static_cast<int>(deadline - testbed::monotonic_ms());
      if (left <= 0 || poll(&p, 1, left) <= 0) break;
      char buf[4096];
      ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buf, static_cast<size_t>(got));
    }
    return out;
  }

 private:
  int fd_ = -1;
  int error_ = 0;
};

std::string be16(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)}; }
std::string be32(unsigned v) { return be16(v >> 16) + be16(v & 0xffff); }
/* A string field: length counting the zero byte, bytes, zero. */
std::string str(const std::string &s) {
  return be16(static_cast<unsigned>(s.size() + 1)) + s + '\0';
}
std::string padded(const std::string &s, size_t n) { return s + std::string(n - s.size(), '\0'); }

/* A binary connect request: program "ruzodu", user kind 0, pairs ol/61
** and tlitcp/1, no optional section. */
std::string binary_request() {
  std::string b = be16(100) + be16(101) + be32(61) + str("IEEEM");
  b += be16(108) + padded("ruzodu", 12) + str("9.4") + str("id") + str("sqli");
  b += be32(311) + be32(0) + be32(0) + be16(0) + be16(0) + be16(0);
  b += padded("ol", 8) + be32(61) + padded("tlitcp", 8) + be32(1) + be16(127);
  return b;
}

std::string header(unsigned length, unsigned type, unsigned flag) {
  return be16(length) + static_cast<char>(type) + static_cast<char>(flag) + be16(0);
}

TEST(SqliDoubleProcess, AcceptsAHandBuiltRequestAndJournalsIt) {
  testbed::SqliDouble dbl;
  ASSERT_GT(dbl.port(), 0);
  Client c(dbl.port());
  ASSERT_GE(c.fd(), 0);
  std::string body = binary_request();
  std::string request = header(static_cast<unsigned>(body.size() + 6), 1, 61) + body;
  /* Split inside the header: the double reads to the header's length. */
  ASSERT_TRUE(c.send_all(request.substr(0, 3)));
  ASSERT_TRUE(c.send_all(request.substr(3)));

  std::string hdr = c.recv_n(6);
  ASSERT_EQ(hdr.size(), 6u);
  EXPECT_EQ(hdr[2], 2); /* accept */
  EXPECT_EQ(hdr[3], 61); /* the level, no multiplexing */
  size_t length = (static_cast<unsigned char>(hdr[0]) << 8) | static_cast<unsigned char>(hdr[1]);
  std::string reply = c.recv_n(length - 6);
  ASSERT_EQ(reply.size(), length - 6);
  EXPECT_EQ(reply.substr(0, 8), be16(100) + be16(101) + be32(61));
  EXPECT_NE(reply.find(padded("srvdvz", 12)), std::string::npos);
  EXPECT_EQ(reply.substr(reply.size() - 2), be16(127));

  /* Data without headers comes back as it went; the urgent byte and the
  ** end of file are journaled. */
  ASSERT_TRUE(c.send_all("ping"));
  EXPECT_EQ(c.recv_n(4), "ping");
  ASSERT_TRUE(c.send_all("B", MSG_OOB));
  ASSERT_TRUE(dbl.wait_for_what("urgent"));
  c.close_now();
  ASSERT_TRUE(dbl.wait_for_what("eof"));

  auto connects = dbl.entries("connect");
  ASSERT_EQ(connects.size(), 1u);
  const auto &e = connects[0];
  EXPECT_EQ(e.get("prefix"), "header");
  EXPECT_EQ(e.number("type"), 1);
  EXPECT_EQ(e.number("flag"), 61);
  EXPECT_EQ(e.get("program"), "ruzodu");
  EXPECT_EQ(e.get("fmt"), "IEEEM");
  EXPECT_EQ(e.get("user"), "");
  EXPECT_EQ(e.raw(), request);
  EXPECT_EQ(dbl.entries("urgent").at(0).get("byte"), "B");
  EXPECT_EQ(dbl.entries("data").at(0).raw(), "ping");
  EXPECT_EQ(dbl.stop(), 0);
}

TEST(SqliDoubleProcess, OptionsReachTheWire) {
  {
    testbed::SqliDouble dbl({"--fault", "refuse"});
    Client c(dbl.port());
    EXPECT_LT(c.fd(), 0);
    EXPECT_EQ(c.error(), ECONNREFUSED);
  }
  {
    testbed::SqliDouble dbl({"--reject=-329,-111"});
    Client c(dbl.port());
    std::string body = binary_request();
    ASSERT_TRUE(c.send_all(header(static_cast<unsigned>(body.size() + 6), 1, 61) + body));
    std::string hdr = c.recv_n(6);
    ASSERT_EQ(hdr.size(), 6u);
    EXPECT_EQ(hdr[2], 3); /* reject */
    size_t length = (static_cast<unsigned char>(hdr[0]) << 8) | static_cast<unsigned char>(hdr[1]);
    std::string reply = c.recv_n(length - 6);
    /* Section 102 carries the error and the ISAM error. */
    EXPECT_NE(reply.find(be16(102) + std::string(6, '\0') + be16(0xfeb7) + be16(0xff91)),
              std::string::npos);
  }
}

TEST(SqliDoubleProcess, JournalLinesParse) {
  auto e = testbed::parse_sqli_journal_line(
      "order=3 assoc=1 session=0 what=connect user=\"\" password=p\\x20w env=A=b env=C=d "
      "raw=00ff");
  EXPECT_EQ(e.number("order"), 3);
  EXPECT_EQ(e.get("user"), "");
  EXPECT_TRUE(e.has("user"));
  EXPECT_EQ(e.get("password"), "p w");
  EXPECT_EQ(e.all("env"), (std::vector<std::string> {"A=b", "C=d"}));
  EXPECT_EQ(e.raw(), std::string("\x00\xff", 2));
  EXPECT_EQ(e.number("missing", 7), 7);
}

/* Connects and sends the binary connect request; true once accepted. */
bool connect_accepted(const Client &c) {
  std::string body = binary_request();
  if (!c.send_all(header(static_cast<unsigned>(body.size() + 6), 1, 61) + body)) return false;
  std::string hdr = c.recv_n(6);
  if (hdr.size() != 6 || hdr[2] != 2) return false;
  size_t length = (static_cast<unsigned char>(hdr[0]) << 8) | static_cast<unsigned char>(hdr[1]);
  return c.recv_n(length - 6).size() == length - 6;
}

TEST(SqliDoubleProcess, SqliEngineJournalReadsBackAndFollowsTheScenario) {
  dvz_test::TempDir tmp;
  const std::string scenario = tmp.file("scenario.json");
  ASSERT_TRUE(testbed::replace_file(scenario, R"({"rules": [{"text": "select 1", "reply":
      [{"kind": "done", "rows": 1}, {"kind": "end"}]}]})"));
  testbed::SqliDouble dbl({"--sqli", "--scenario=" + scenario});
  Client c(dbl.port());
  ASSERT_TRUE(connect_accepted(c));

  /* Statement text, a CHAR bind value "a b" and the end, split mid-text. */
  const std::string command = be16(1) + be16(1) + be16(8) + "select 1";
  const std::string bind =
      be16(5) + be16(1) + be16(0) + be16(0) + be16(0) + be16(3) + std::string("a b\0", 4);
  const std::string request = command + bind + be16(12);
  ASSERT_TRUE(c.send_all(request.substr(0, 5)));
  ASSERT_TRUE(c.send_all(request.substr(5)));
  EXPECT_EQ(c.recv_n(18), be16(15) + be16(0) + be32(1) + be32(0) + be32(0) + be16(12));

  /* The next request sees the file as rewritten. */
  ASSERT_TRUE(testbed::replace_file(scenario, R"({"default": [{"kind": "exit"}]})"));
  ASSERT_TRUE(c.send_all(be16(19) + be16(12)));
  EXPECT_EQ(c.recv_n(2), be16(56));

  ASSERT_TRUE(testbed::wait_until([&] { return dbl.entries("sqli").size() == 5; }, 10));
  auto sqli = dbl.entries("sqli");
  ASSERT_EQ(sqli.size(), 5u);
  EXPECT_EQ(sqli[0].number("code"), 1);
  EXPECT_EQ(sqli[0].number("inputs"), 1);
  EXPECT_EQ(sqli[0].get("text"), "select 1");
  EXPECT_EQ(sqli[0].raw(), command);
  EXPECT_EQ(sqli[1].number("count"), 1);
  EXPECT_EQ(sqli[1].get("v1.value"), "a b");
  EXPECT_EQ(sqli[1].raw(), bind);
  EXPECT_EQ(sqli[2].number("code"), 12);
  EXPECT_EQ(sqli[3].number("code"), 19);
  EXPECT_EQ(dbl.stop(), 0);
}

TEST(SqliDoubleProcess, SqliEngineRefusesAnUnknownRequestLoudly) {
  testbed::SqliDouble dbl({"--sqli"});
  Client c(dbl.port());
  ASSERT_TRUE(connect_accepted(c));
  ASSERT_TRUE(c.send_all(be16(99)));
  EXPECT_EQ(c.recv_n(1), ""); /* closed */
  ASSERT_TRUE(dbl.wait_for_what("error"));
  EXPECT_EQ(dbl.entries("error").at(0).get("reason"), "unknown request code 99");
  EXPECT_EQ(dbl.entries("error").at(0).raw(), be16(99));
  int status = dbl.stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(SqliDoubleProcess, ReplayOffersARawPortBesideTheConnectPort) {
  dvz_test::TempDir tmp;
  const std::string replay = tmp.file("replay");
  ASSERT_TRUE(testbed::replace_file(replay, "2 000c\n"));
  testbed::SqliDouble dbl({"--replay", replay});
  ASSERT_GT(dbl.raw_port(), 0);
  EXPECT_NE(dbl.raw_port(), dbl.port());
  Client raw(dbl.raw_port()); /* no connect request on this one */
  ASSERT_GE(raw.fd(), 0);
  ASSERT_TRUE(raw.send_all(be16(19)));
  EXPECT_EQ(raw.recv_n(2), be16(12));
  EXPECT_EQ(testbed::SqliDouble({"--sqli"}).raw_port(), 0);
  EXPECT_EQ(dbl.stop(), 0);
}

TEST(SqliDoubleProcess, ThrowsWhenTheDoubleCannotStart) {
  EXPECT_THROW(testbed::SqliDouble({"--no-such-option"}, 10), std::runtime_error);
}

}  // namespace
