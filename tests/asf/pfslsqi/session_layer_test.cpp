/*
** The SQLI session layer, client side. Most cases run over a scripted
** driver put behind the "tlitcp" row (the driver-row override): it
** records every transport send as one chunk and hands out scripted
** receive chunks exactly as split, so the framing, the response reading
** at every split, the response deadline (on a fake clock) and the
** multiplexing of two sessions over one transport are checked byte for
** byte. The counting memory table shows that every path gives back what
** it took. One case runs over real loopback TCP against a listener
** thread of the test's own: data, the urgent "B" and the release.
*/
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "gen_strings.h"
#include "pfsl_test_support.h"
#include "sl_records.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;

using namespace pfsl_test;

std::string pattern(size_t n, char base = 'a') {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(base + i % 23);
  return s;
}

/* ---- The fake clock. ---- */

int64_t fake_now = 0;
int fake_clock(int64_t *out) {
  *out = fake_now;
  return 0;
}
constexpr asf_tl_clock_seam fake_clock_seam = {fake_clock};

/* The scripted driver behind "tlitcp" with buffers of 100 bytes, the fake
** clock and a fresh script, for each test. */
class SessionLayer : public ScriptedDriverTest {
 protected:
  void SetUp() override {
    ScriptedDriverTest::SetUp();
    fresh_script();
    previous_clock_ = asf_tl_clock;
    asf_tl_clock = &fake_clock_seam;
    fake_now = 1000000;
  }
  void TearDown() override {
    asf_tl_clock = previous_clock_;
    ScriptedDriverTest::TearDown();
  }

  /* A fresh script: buffers of 100 bytes, receives on the fake clock. */
  static void fresh_script() {
    script = Script {};
    script.bufsize = 100;
    script.clock = &fake_now;
  }

  const asf_tl_clock_seam *previous_clock_ = nullptr;
};

/* One client association with its session block, its transport request
** and the response it got; aborted and freed at the end. */
struct Session {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  std::string text = "127.0.0.1|9088|tlitcp";
  tlreqaddr addr {1, nullptr};
  SqlhOptions options {};
  tlconnreq parms {};
  rscbufctl *response = nullptr;
  std::string request_bytes;
  rscbufctl request {};

  Session() {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_requester, status);
    EXPECT_NE(a, nullptr);
    ctl.ascid = a;
    EXPECT_EQ(sqlCSalloc(&ctl, 0, "ol", "tlitcp"), 0);
    addr.text = text.data();
    parms.addr = &addr;
    parms.options = &options;
  }
  ~Session() {
    drop_response();
    slSQIdiscon(&ctl, SL_DISC_ABORT, nullptr);
    if (a->tlblock != nullptr) tlCSfree(a);
    alCSfree(a);
  }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  slsession *sl() const { return static_cast<slsession *>(a->slblock); }
  void drop_response() {
    if (response == nullptr) return;
    if (response->buff != nullptr) asf_free(asf_pool_assoc, response->buff);
    asf_free(asf_pool_assoc, response);
    response = nullptr;
  }
  std::string response_body() const {
    return response != nullptr ? std::string(response->buff, static_cast<size_t>(response->size))
                               : std::string("(none)");
  }
  int connect(const std::string &req, int level = 61, int form = 512 + 1,
              Assocctl *shared = nullptr) {
    drop_response();
    request_bytes = req;
    request =
        rscbufctl {request_bytes.data(), static_cast<int32_t>(request_bytes.size()), 0, nullptr,
                   request_bytes.data(), static_cast<int32_t>(request_bytes.size()), 0};
    ctl.asfcode = 0;
    return slSQIreq(&ctl, form, &parms, level, &request, &response, shared);
  }
  /* Sends data through the association's send buffer. */
  int send(const std::string &data) {
    rscbufctl *b = nullptr;
    if (bufGet(a, asf_buf_send, &b) != 0) return -2;
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    ctl.asfcode = 0;
    int rc = slSQIsend(&ctl, b);
    if (a->sndbuf == nullptr) bufReg(a, asf_buf_send, b);
    return rc;
  }
  /* One receive: the piece delivered, or "!<status>". */
  std::string receive() {
    rscbufctl *out = nullptr;
    ctl.asfcode = 0;
    if (slSQIrecv(&ctl, &out) != 0) return "!" + std::to_string(ctl.asfcode);
    return std::string(out->p, static_cast<size_t>(out->size));
  }
};

/* An accept of the server's level with a body, as one string. */
std::string accept_reply(const std::string &body, int flag = 61, int type = 2) {
  return header(static_cast<int>(body.size()) + 6, type, flag) + body;
}

/* ---- The header record. ---- */

TEST(SlSQIpci, WritesInFrontAndGathersAcrossCalls) {
  char area[20] = {};
  rscbufctl b {area + 6, 3, 0, nullptr, area, 20, 6};
  sqipci h {};
  h.length = 0xfffe;
  h.type = 6;
  h.flag = 63;
  h.id = 0x8001;
  ASSERT_EQ(slSQIpci(1, &b, &h), 0);
  EXPECT_EQ(std::string(b.p, 6), header(0xfffe, 6, 63, 0x8001));
  EXPECT_EQ(b.size, 9);
  EXPECT_EQ(slSQIpci(1, &b, &h), -1) << "no room left in front";
  EXPECT_EQ(slSQIpci(3, &b, &h), -1);

  // Unsigned lengths and ids, gathered one byte per call.
  sqipci r {};
  for (int i = 0; i < 6; ++i) {
    rscbufctl one {area + i, 1, 0, nullptr, area, 20, 0};
    EXPECT_EQ(slSQIpci(2, &one, &r), i == 5 ? 0 : -1);
    EXPECT_EQ(one.size, 0);
  }
  EXPECT_EQ(r.length, 0xfffe);
  EXPECT_EQ(r.type, 6);
  EXPECT_EQ(r.flag, 63);
  EXPECT_EQ(r.id, 0x8001);
}

/* ---- The connect request on the wire. ---- */

TEST_F(SessionLayer, RequestFramingByLevelFormAndOption) {
  const std::string req = pattern(100);
  std::string enc(8, '\0');
  conbinto6(header(106, 1, 61).data(), enc.data(), 6);
  struct Case {
    const char *name;
    int level;
    int form;
    bool mux;
    std::string wire;
    std::vector<size_t> chunks;
  };
  const Case cases[] = {
      {"binary 61", 61, 512 + 1, false, header(106, 1, 61) + req, {40, 40, 26}},
      {"text 61", 61, 256 + 1, false, "sq" + enc + req, {40, 40, 30}},
      {"binary 60, option m", 60, 512 + 1, true, header(106, 1, 188) + req, {40, 34, 32}},
      {"old level 59: no header", 59, 256 + 1, false, req, {40, 40, 20}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fresh_script();
    script.bufsize = 40;
    script.incoming = {accept_reply("accepted-ok", c.mux ? 61 + 128 : 61)};
    if (c.level < 60) script.incoming = {bytes({0, 15, 0, 15}) + "accepted-ok"};
    Session s;
    s.options.multiplex = c.mux ? 1 : 0;
    ASSERT_EQ(s.connect(req, c.level, c.form), 0) << s.ctl.asfcode;
    EXPECT_EQ(joined(script.sent), c.wire);
    std::vector<size_t> sizes;
    for (const auto &x : script.sent)
      sizes.push_back(x.size());
    EXPECT_EQ(sizes, c.chunks);
    EXPECT_EQ(s.sl()->state, sl_state_connected);
    EXPECT_EQ(s.response_body(), "accepted-ok");
    EXPECT_EQ(s.sl()->flags, c.mux ? 7 : 4);
  }
}

TEST_F(SessionLayer, TextPrefixNeverWritesPastASmallBuffer) {
  script.bufsize = 9;
  CountingMemory memory;
  {
    Session s;
    EXPECT_EQ(s.connect("REQ", 61, 256 + 1), -1);
    EXPECT_EQ(s.ctl.asfcode, SL_ERR_PROTOCOL);
    EXPECT_TRUE(script.sent.empty());
    EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT, nullptr), 0);
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

/* ---- Reading the response. ---- */

TEST_F(SessionLayer, ResponseSplitAtEveryByteConnects) {
  const std::string body = pattern(40, 'A');
  const std::string reply = accept_reply(body);
  for (size_t k = 0; k <= reply.size(); ++k) {
    SCOPED_TRACE(k == reply.size() ? std::string("one byte per receive")
                                   : "split at " + std::to_string(k));
    fresh_script();
    if (k == 0) continue;
    if (k < reply.size()) {
      script.incoming = {reply.substr(0, k), reply.substr(k)};
    } else {
      for (char ch : reply)
        script.incoming.push_back(std::string(1, ch));
    }
    CountingMemory memory;
    {
      Session s;
      ASSERT_EQ(s.connect("REQ"), 0) << s.ctl.asfcode;
      EXPECT_EQ(s.response_body(), body);
      EXPECT_EQ(s.sl()->state, sl_state_connected);
      EXPECT_TRUE(script.incoming.empty());
      EXPECT_EQ(s.sl()->common->level, 61);
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(SessionLayer, BadResponseHeadersAreProtocolErrors) {
  const std::string body = pattern(20);
  const std::string cases[] = {
      header(0, 2, 61) + body,      header(2057, 2, 61) + body, header(0x8000, 2, 61) + body,
      header(0xffff, 2, 61) + body, header(26, 4, 61) + body,   header(26, 7, 61) + body,
      header(26, 10, 61) + body,    header(26, 6, 0) + body,
  };
  for (const std::string &reply : cases) {
    SCOPED_TRACE(testing::PrintToString(reply.substr(0, 6)));
    fresh_script();
    script.incoming = {reply};
    CountingMemory memory;
    {
      Session s;
      EXPECT_EQ(s.connect("REQ"), -1);
      EXPECT_EQ(s.ctl.asfcode, SL_ERR_PROTOCOL);
      EXPECT_EQ(s.sl()->state, sl_state_failed);
      EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT, nullptr), 0);
      EXPECT_EQ(s.a->tlblock, nullptr);
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(SessionLayer, OldProtocolRepliesByForm) {
  struct Case {
    const char *name;
    int level;
    int oldform;
    std::vector<std::string> chunks;
    int status; /* 0 accepted, 7 rejected */
    std::string body;
  };
  const Case cases[] = {
      {"form 1 accept", 59, 1, {bytes({0, 15, 0, 15}) + "BODY-1"}, 0, "BODY-1"},
      {"form 1 accept, split", 59, 1, {bytes({0, 15}), bytes({0, 15}) + "BODY"}, 0, "BODY"},
      {"form 1 reject", 59, 1, {"server says no"}, 7, "server says no"},
      {"form 2 accept", 59, 2, {bytes({0, 15}) + "xyBODY-2"}, 0, "xyBODY-2"},
      {"form 2 reject", 59, 2, {bytes({0, 14}) + "abcdef"}, 7, bytes({0, 14}) + "abcdef"},
      {"form 4 accept, two bytes", 59, 4, {bytes({0, 15})}, 0, ""},
      {"level 61, old server", 61, 1, {bytes({0, 15, 0, 15}) + "OLD"}, 0, "OLD"},
      {"level 61, a whole reply under 16 bytes",
       61,
       1,
       {accept_reply("short")},
       7,
       accept_reply("short")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fresh_script();
    script.incoming.assign(c.chunks.begin(), c.chunks.end());
    CountingMemory memory;
    {
      Session s;
      EXPECT_EQ(s.connect("REQ", c.level, 256 + c.oldform), c.status == 0 ? 0 : -1);
      EXPECT_EQ(s.ctl.asfcode, c.status);
      EXPECT_EQ(s.response_body(), c.body);
      EXPECT_EQ(s.sl()->state, c.status == 0 ? sl_state_connected : sl_state_rejected);
      EXPECT_EQ(s.sl()->flags & (SL_HEADERS | SL_MUXED), 0);
      if (c.status == 0) {
        EXPECT_EQ(s.sl()->common->level, 0);
      } else {
        // The rejected connection is closed at once.
        EXPECT_EQ(script.calls.back(), "disc 10");
        EXPECT_EQ(s.a->tlblock, nullptr);
      }
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(SessionLayer, RejectGivesStatus7ClosesTheTransportAndKeepsTheReason) {
  script.incoming = {accept_reply("the reason why", 61, 3)};
  CountingMemory memory;
  {
    Session s;
    EXPECT_EQ(s.connect("REQ"), -1);
    EXPECT_EQ(s.ctl.asfcode, SL_STATUS_REJECTED);
    EXPECT_EQ(s.sl()->state, sl_state_rejected);
    EXPECT_EQ(s.response_body(), "the reason why");
    EXPECT_EQ(script.calls, (std::vector<std::string> {"conn", "disc 10"}));
    EXPECT_EQ(s.a->tlblock, nullptr);
    EXPECT_EQ(s.a->rcvbuf, nullptr);
    EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT, nullptr), 0);
    EXPECT_EQ(s.sl()->state, sl_state_closed);
    EXPECT_EQ(s.sl()->common, nullptr);
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(SessionLayer, ResponseWaitEndsAtTheAttemptsDeadline) {
  struct Case {
    const char *name;
    int timeout;
    std::vector<std::string> chunks;
    int64_t per_piece; /* time each arriving piece takes */
    std::vector<int> waits; /* the receive timeouts the driver saw */
    int status;
  };
  const std::string reply = accept_reply("late but whole");
  const Case cases[] = {
      {"silent server", 2000, {}, 0, {2000}, SL_ERR_NORESPONSE},
      {"half a reply, then silence",
       2000,
       {reply.substr(0, 8)},
       0,
       {2000, 2000},
       SL_ERR_NORESPONSE},
      {"slow pieces spend the budget",
       1000,
       {reply.substr(0, 3), reply.substr(3, 3), reply.substr(6, 2), reply.substr(8)},
       400,
       {1000, 600, 200},
       SL_ERR_NORESPONSE},
      {"slow pieces in time", 1000, {reply.substr(0, 3), reply.substr(3)}, 400, {1000, 600}, 0},
      {"no budget: no limit", -1, {reply}, 0, {-1}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fresh_script();
    script.silent_advances_clock = true;
    script.per_piece = c.per_piece;
    script.incoming.assign(c.chunks.begin(), c.chunks.end());
    CountingMemory memory;
    {
      Session s;
      s.ctl.timeout = c.timeout;
      EXPECT_EQ(s.connect("REQ"), c.status == 0 ? 0 : -1);
      EXPECT_EQ(s.ctl.asfcode, c.status);
      EXPECT_EQ(s.sl()->state, c.status == 0 ? sl_state_connected : sl_state_failed);
      EXPECT_EQ(script.recv_timeouts, c.waits);
      EXPECT_EQ(s.ctl.timeout, c.timeout) << "the caller's timeout is given back";
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(SessionLayer, EachFailingAllocationOfAConnectLeavesNothingAfterTheAbort) {
  // Alone, then joining a multiplexed connection: the N-th allocation
  // fails, for every N until the connect goes through.
  for (bool join : {false, true}) {
    bool done = false;
    for (int n = 1; n <= 40 && !done; ++n) {
      SCOPED_TRACE((join ? "join, allocation " : "alone, allocation ") + std::to_string(n));
      fresh_script();
      Session a;
      a.options.multiplex = 1;
      if (join) {
        script.incoming = {accept_reply("A-accepted", 61 + 128)};
        ASSERT_EQ(a.connect("REQ-A"), 0);
      }
      Session b;
      b.options.multiplex = 1;
      script.incoming = {join ? header(16, 11, 128 + 1) + "B-accepted"
                              : accept_reply("B-accepted", 61 + 128)};
      CountingMemory memory(n);
      const int rc = b.connect("REQ-B", 61, 512 + 1, join ? a.a : nullptr);
      if (rc == 0) {
        done = true;
        EXPECT_EQ(b.sl()->muxid, join ? 1 : 0);
      } else {
        EXPECT_EQ(b.ctl.asfcode, ASF_ERR_MEMORY);
      }
      b.drop_response();
      EXPECT_EQ(slSQIdiscon(&b.ctl, SL_DISC_ABORT, nullptr), 0);
      EXPECT_EQ(memory.outstanding(), 0);
      if (join) {
        EXPECT_EQ(a.sl()->common->count, 1);
      }
    }
    EXPECT_TRUE(done);
  }
}

/* ---- Data, interrupt and release on one session. ---- */

TEST_F(SessionLayer, DataLongerThanTheBufferComesInPiecesUnderOneHeader) {
  script.incoming = {accept_reply("accepted-ok", 61 + 128)};
  CountingMemory memory;
  {
    Session s;
    s.options.multiplex = 1;
    ASSERT_EQ(s.connect("REQ"), 0) << s.ctl.asfcode;
    script.sent.clear();
    ASSERT_EQ(s.send("hello"), 0);
    EXPECT_EQ(script.sent, std::vector<std::string> {header(11, 6, 0) + "hello"});

    const std::string big = pattern(150);
    const std::string msg = header(156, 6, 0) + big + header(8, 6, 0) + "nx";
    script.incoming = {msg.substr(0, 100), msg.substr(100)};
    EXPECT_EQ(s.receive(), big.substr(0, 94));
    EXPECT_EQ(s.receive(), big.substr(94));
    EXPECT_EQ(s.receive(), "nx");
    EXPECT_EQ(s.receive(), "!-25582") << "the peer is gone";

    EXPECT_EQ(slSQIresync(&s.ctl), 0);
    EXPECT_EQ(script.calls.back(), "soob B");
    EXPECT_EQ(slSQIdiscon(&s.ctl, 0, nullptr), 0);
    EXPECT_EQ(script.calls.back(), "disc 0");
    EXPECT_EQ(s.a->tlblock, nullptr);
    EXPECT_EQ(s.receive(), "!-25598");
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(SessionLayer, DataHeaderFaults) {
  struct Case {
    const char *name;
    std::string incoming;
    std::string result;
  };
  const Case cases[] = {
      {"length below 7", header(6, 6, 0), "!-25595"},
      {"flag on a session not multiplexed", header(8, 6, 3) + "zz", "!-25595"},
      {"connect response type", header(8, 2, 0) + "zz", "!-408"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fresh_script();
    script.incoming = {accept_reply("accepted-ok", 61 + 128)};
    Session s;
    ASSERT_EQ(s.connect("REQ"), 0);
    // Headers are in use although not multiplexed.
    s.sl()->flags = SL_HEADERS | SL_OPENED;
    script.incoming = {Chunk(c.incoming)};
    EXPECT_EQ(s.receive(), c.result);
  }
}

/* ---- Multiplexing. ---- */

TEST_F(SessionLayer, TwoSessionsShareOneTransportAndEachGetsItsOwnReplies) {
  CountingMemory memory;
  {
    Session a;
    a.options.multiplex = 1;
    script.incoming = {accept_reply("A-accepted", 61 + 128)};
    ASSERT_EQ(a.connect("REQ-A"), 0) << a.ctl.asfcode;
    EXPECT_EQ(script.sent.at(0).substr(0, 6), header(11, 1, 189));

    // Data for A arrives before the answer to B's connect.
    Session b;
    script.sent.clear();
    script.incoming = {header(11, 6, 0) + "forA1" + header(16, 11, 128 + 1) + "B-accepted"};
    ASSERT_EQ(b.connect("REQ-B", 61, 256 + 1, a.a), 0) << b.ctl.asfcode;
    EXPECT_EQ(script.sent, std::vector<std::string> {header(11, 10, 1) + "REQ-B"});
    EXPECT_EQ(b.sl()->muxid, 1);
    EXPECT_EQ(b.sl()->flags, 7);
    EXPECT_EQ(b.response_body(), "B-accepted");
    EXPECT_EQ(b.a->tlblock, a.a->tlblock);
    EXPECT_EQ(a.sl()->common->count, 2);
    EXPECT_EQ(script.calls, std::vector<std::string> {"conn"});

    script.sent.clear();
    ASSERT_EQ(b.send("bb"), 0);
    ASSERT_EQ(a.send("aa"), 0);
    EXPECT_EQ(script.sent,
              (std::vector<std::string> {header(8, 6, 1) + "bb", header(8, 6, 0) + "aa"}));

    // A's early data comes from the queue, without a transport receive.
    size_t receives = script.recv_timeouts.size();
    EXPECT_EQ(a.receive(), "forA1");
    EXPECT_EQ(script.recv_timeouts.size(), receives);

    // B's reply arrives during A's receive: A reads past it.
    script.incoming = {header(11, 6, 1) + "forB1" + header(11, 6, 0) + "fo", "rA2"};
    EXPECT_EQ(a.receive(), "fo");
    EXPECT_EQ(a.receive(), "rA2");
    receives = script.recv_timeouts.size();
    EXPECT_EQ(b.receive(), "forB1");
    EXPECT_EQ(script.recv_timeouts.size(), receives);

    // B reading the transport itself queues what is A's.
    script.incoming = {header(9, 6, 0) + "A3!", header(9, 6, 1) + "B2!"};
    EXPECT_EQ(b.receive(), "B2!");
    EXPECT_EQ(a.receive(), "A3!");

    // A message for another session cut by a timeout resumes whole.
    script.incoming = {header(16, 6, 1) + "part"};
    script.silent_advances_clock = true;
    a.ctl.timeout = 100;
    EXPECT_EQ(a.receive(), "!6");
    script.incoming = {"-rest!" + header(8, 6, 0) + "ok"};
    EXPECT_EQ(a.receive(), "ok");
    EXPECT_EQ(b.receive(), "part-rest!");

    // Attribute 9 shows the count and flags the connection manager reads.
    slmuxattr value {};
    tlattr attr {9, &value};
    EXPECT_EQ(slSQIattrib(&a.ctl, &attr), 0);
    EXPECT_EQ(*value.count, 2);
    EXPECT_EQ(*value.flags, 7);

    // The interrupt of a joined session sends nothing.
    script.calls.clear();
    EXPECT_EQ(slSQIresync(&b.ctl), 0);
    EXPECT_TRUE(script.calls.empty());

    // A leaves first; the connection stays with B until B's release.
    EXPECT_EQ(slSQIdiscon(&a.ctl, 0, nullptr), 0);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(a.a->tlblock, nullptr);
    script.incoming = {header(9, 6, 1) + "B3!"};
    EXPECT_EQ(b.receive(), "B3!");
    EXPECT_EQ(slSQIdiscon(&b.ctl, 0, nullptr), 0);
    EXPECT_EQ(script.calls, std::vector<std::string> {"disc 0"});
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(SessionLayer, MultiplexedConnectMetInADataReceiveIsRefusedAndSkipped) {
  CountingMemory memory;
  {
    Session a;
    a.options.multiplex = 1;
    script.incoming = {accept_reply("A-accepted", 61 + 128)};
    ASSERT_EQ(a.connect("REQ-A"), 0);
    script.sent.clear();
    script.incoming = {header(16, 10, 2) + "0123", "456789" + header(9, 6, 0) + "abc"};
    EXPECT_EQ(a.receive(), "abc");
    EXPECT_EQ(script.sent, std::vector<std::string> {header(22, 12, 128) + std::string(16, '\0')});
    // A late answer to a connect that is gone is skipped too.
    script.incoming = {header(16, 11, 128 + 5) + "late-late!" + header(9, 6, 0) + "def"};
    EXPECT_EQ(a.receive(), "def");
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(SessionLayer, MultiplexedRejectOfASharedConnectGoesAlone) {
  CountingMemory memory;
  {
    Session a;
    a.options.multiplex = 1;
    script.incoming = {accept_reply("A-accepted", 61 + 128)};
    ASSERT_EQ(a.connect("REQ-A"), 0);

    Session c;
    c.options.multiplex = 1;
    script.sent.clear();
    script.incoming = {header(16, 12, 128 + 1) + "NOPE-NOPE!",
                       accept_reply("C-accepted", 61 + 128)};
    ASSERT_EQ(c.connect("REQ-C", 61, 512 + 1, a.a), 0) << c.ctl.asfcode;
    EXPECT_EQ(script.sent, (std::vector<std::string> {header(11, 10, 1) + "REQ-C",
                                                      header(11, 1, 189) + "REQ-C"}));
    EXPECT_EQ(script.calls, (std::vector<std::string> {"conn", "conn"}));
    EXPECT_EQ(c.sl()->muxid, 0);
    EXPECT_EQ(c.response_body(), "C-accepted");
    EXPECT_NE(c.a->tlblock, a.a->tlblock);
    EXPECT_EQ(a.sl()->common->count, 1);
    EXPECT_EQ(a.sl()->common->assoc[1], nullptr);
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(SessionLayer, MultiplexedRejectOfAnAloneConnectGivesStatus10AndCloses) {
  CountingMemory memory;
  {
    Session s;
    s.options.multiplex = 1;
    script.incoming = {header(16, 12, 128) + "NOPE-NOPE!"};
    EXPECT_EQ(s.connect("REQ"), -1);
    EXPECT_EQ(s.ctl.asfcode, SL_STATUS_MUXREJECT);
    EXPECT_EQ(s.sl()->state, sl_state_rejected);
    EXPECT_EQ(script.calls, (std::vector<std::string> {"conn", "disc 10"}));
    EXPECT_EQ(s.a->tlblock, nullptr);
    EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT, nullptr), 0);
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(SessionLayer, StateRulesOfTheEntries) {
  Session s;
  rscbufctl dummy {};
  EXPECT_EQ(slSQIsend(&s.ctl, &dummy), -1);
  EXPECT_EQ(s.ctl.asfcode, SL_ERR_STATE);
  EXPECT_EQ(s.receive(), "!-25598");
  EXPECT_EQ(slSQIresync(&s.ctl), -1);
  EXPECT_EQ(s.ctl.asfcode, ASF_ERR_BADASSOC);
  asfsvcctl none {};
  EXPECT_EQ(slSQIsend(&none, &dummy), -1);
  EXPECT_EQ(none.asfcode, ASF_ERR_BADASSOC);

  // A connect that failed can only be aborted; a release is refused.
  script.incoming = {};
  EXPECT_EQ(s.connect("REQ"), -1);
  EXPECT_EQ(s.ctl.asfcode, SL_ERR_NORESPONSE);
  EXPECT_EQ(slSQIdiscon(&s.ctl, 0, nullptr), -1);
  EXPECT_EQ(s.ctl.asfcode, ASF_ERR_BADARGS);
  EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT | SL_DISC_PASS, nullptr), 0);
  EXPECT_EQ(script.calls.back(), "disc 32778");
  EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT, nullptr), 0) << "twice is harmless";
}

/* ---- Over loopback TCP. ---- */

bool read_exact(int fd, char *p, size_t n) {
  while (n > 0) {
    ssize_t r = recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

TEST(SessionLayerLoopback, ConnectDataInterruptAndRelease) {
  const int start = asf_test::fd_count();
  const std::string request = pattern(300);
  const std::string data = pattern(10000, 'K');
  std::string got_request;
  char urgent = 0;
  bool eof = false;
  sockaddr_in sa {};
  int lsn = asf_test::loopback_listener(4, &sa);
  ASSERT_GE(lsn, 0);
  std::jthread server([&] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPOLL);
    sigaddset(&set, SIGURG);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    struct pollfd p = {lsn, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return;
    int c = accept(lsn, nullptr, nullptr);
    if (c < 0) return;
    char h[6];
    if (read_exact(c, h, 6)) {
      size_t n = (static_cast<unsigned char>(h[0]) << 8 | static_cast<unsigned char>(h[1])) - 6u;
      got_request.resize(n);
      if (read_exact(c, got_request.data(), n)) {
        std::string reply = header(17, 2, 61) + "accepted-ok";
        send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        std::string echo(data.size(), '\0');
        if (read_exact(c, echo.data(), echo.size()))
          send(c, echo.data(), echo.size(), MSG_NOSIGNAL);
        struct pollfd q = {c, POLLPRI, 0};
        if (poll(&q, 1, 5000) == 1) recv(c, &urgent, 1, MSG_OOB);
        char rest[16];
        eof = recv(c, rest, sizeof rest, 0) == 0;
      }
    }
    close(c);
  });
  {
    Session s;
    s.text = "127.0.0.1|" + std::to_string(ntohs(sa.sin_port)) + "|tlitcp";
    s.addr.text = s.text.data();
    ASSERT_EQ(s.connect(request), 0) << s.ctl.asfcode;
    EXPECT_EQ(s.response_body(), "accepted-ok");
    size_t sent = 0;
    while (sent < data.size()) {
      const size_t room = static_cast<size_t>(s.a->sndbuf->size);
      const size_t n = std::min(room, data.size() - sent);
      ASSERT_EQ(s.send(data.substr(sent, n)), 0) << s.ctl.asfcode;
      sent += n;
    }
    std::string echoed;
    while (echoed.size() < data.size()) {
      std::string piece = s.receive();
      ASSERT_NE(piece.rfind('!', 0), 0u) << piece;
      echoed += piece;
    }
    EXPECT_EQ(echoed, data);
    EXPECT_EQ(slSQIresync(&s.ctl), 0);
    EXPECT_EQ(slSQIdiscon(&s.ctl, 0, nullptr), 0) << s.ctl.asfcode;
    EXPECT_EQ(s.a->tlblock, nullptr);
  }
  server.join();
  close(lsn);
  EXPECT_EQ(got_request, request);
  EXPECT_EQ(urgent, 'B');
  EXPECT_TRUE(eof);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST(SessionLayerLoopback, SilentServerEndsAtTheDeadlineWithNoDescriptorLeft) {
  const int start = asf_test::fd_count();
  sockaddr_in sa {};
  int lsn = asf_test::loopback_listener(4, &sa);
  ASSERT_GE(lsn, 0);
  {
    // The kernel completes the connection; nobody ever answers it.
    Session s;
    s.text = "127.0.0.1|" + std::to_string(ntohs(sa.sin_port)) + "|tlitcp";
    s.addr.text = s.text.data();
    s.ctl.timeout = 300;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(s.connect("REQ"), -1);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_EQ(s.ctl.asfcode, SL_ERR_NORESPONSE);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 2000);
    // The close-only bit goes to the transport with an abort: no wait for
    // a release the silent peer would never send.
    EXPECT_EQ(slSQIdiscon(&s.ctl, SL_DISC_ABORT | SL_DISC_PASS, nullptr), 0);
    EXPECT_EQ(s.a->tlblock, nullptr);
  }
  close(lsn);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

}  // namespace
