/*
** Communication support's per-connection side in one process: the
** client's create and the server's accept wired by two in-memory byte
** queues, with the C test module between them. The server's accept runs
** inside the client's first read, when the client's queue is empty, so
** one thread carries both handshakes. Covered: the token exchange, the
** step statuses of the handshake, the directions a connection transforms,
** the transform both ways, "need more", "more output", a disconnected
** module, abort, release, the buffer balance, and every handshake failure
** giving back what it held.
*/
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <set>
#include <string>

#include "al/counting_memory.h"
#include "css_records.h"
#include "dvz_csm.h"
#include "pf_records.h"
#include "temp_dir.h"
#include "test_module.h"

namespace {

using dvz_test::TempDir;

/* The test module, opened by the test to read its counters; CSS's own
** dlopen of the same path gives the same library. */
class TestModule {
 public:
  TestModule() : handle_(dlopen(CSS_TEST_MODULE, RTLD_NOW)) {
    if (handle_ == nullptr) return;
    get_ = reinterpret_cast<test_module_get_counts_fn>(dlsym(handle_, "test_module_get_counts"));
    auto reset =
        reinterpret_cast<test_module_reset_counts_fn>(dlsym(handle_, "test_module_reset_counts"));
    if (reset != nullptr) reset();
  }
  ~TestModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  TestModule(const TestModule &) = delete;
  TestModule &operator=(const TestModule &) = delete;

  test_module_counts counts() const {
    test_module_counts c {};
    if (get_ != nullptr) get_(&c);
    return c;
  }

 private:
  void *handle_;
  test_module_get_counts_fn get_ = nullptr;
};

/* One side's I/O methods over two byte queues. Buffers it reads are
** counted until CSS gives them back; a buffer given back that it did not
** make (the caller's own message) is only counted. */
class Wire {
 public:
  Wire(std::deque<std::string> *inbox, std::deque<std::string> *outbox)
      : inbox_(inbox), outbox_(outbox) {}
  ~Wire() {
    for (csm_buffer *b : live)
      release(b);
  }
  Wire(const Wire &) = delete;
  Wire &operator=(const Wire &) = delete;

  css_io_methods methods() {
    css_io_methods io {this, done, get, put};
    if (no_done) io.done = nullptr;
    if (no_get) io.get = nullptr;
    if (no_put) io.put = nullptr;
    return io;
  }

  int puts = 0;
  int gets = 0;
  int dones = 0;
  int foreign_dones = 0;
  std::set<csm_buffer *> live;
  std::function<void()> on_empty;
  bool short_put = false;
  bool failing_done = false;
  bool no_done = false;
  bool no_get = false;
  bool no_put = false;

 private:
  static void release(csm_buffer *b) {
    std::free(b->data);
    delete b;
  }
  static int done(void *arg, csm_buffer *buffer) {
    auto *w = static_cast<Wire *>(arg);
    if (w->failing_done) return -3;
    if (w->live.erase(buffer) == 1) {
      ++w->dones;
      release(buffer);
    } else {
      ++w->foreign_dones;
    }
    return 0;
  }
  static int get(void *arg, csm_buffer **buffer) {
    auto *w = static_cast<Wire *>(arg);
    ++w->gets;
    if (w->inbox_->empty() && w->on_empty) w->on_empty();
    if (w->inbox_->empty()) return -1;
    const std::string bytes = w->inbox_->front();
    w->inbox_->pop_front();
    auto *b = new csm_buffer {static_cast<char *>(std::malloc(bytes.size() + 1)),
                              static_cast<int32_t>(bytes.size())};
    std::memcpy(b->data, bytes.data(), bytes.size());
    w->live.insert(b);
    *buffer = b;
    return 0;
  }
  static int put(void *arg, csm_buffer *buffer) {
    auto *w = static_cast<Wire *>(arg);
    ++w->puts;
    w->outbox_->emplace_back(buffer->data, static_cast<size_t>(buffer->size));
    return w->short_put ? buffer->size - 1 : buffer->size;
  }

  std::deque<std::string> *inbox_;
  std::deque<std::string> *outbox_;
};

std::string xored(const std::string &text, int key) {
  std::string out = text;
  for (char &c : out)
    c = static_cast<char>(c ^ key);
  return out;
}

std::string bytes_of(const csm_buffer *b) {
  return b != nullptr ? std::string(b->data, static_cast<size_t>(b->size)) : std::string();
}

class CssContextTest : public ::testing::Test {
 protected:
  void TearDown() override {
    css_errblk scratch {};
    if (client_ctx_ != nullptr) css_abort_context(&client_ctx_, &reason_, &scratch);
    if (server_ctx_ != nullptr) css_abort_context(&server_ctx_, &reason_, &scratch);
    css_terminate(&lib_, &scratch);
  }

  /* A library context with one module TM whose global options are opts. */
  void init(const std::string &opts) {
    const std::string path =
        dir_.write("concsm.cfg", "TM(\"" CSS_TEST_MODULE "\", \"" + opts + "\")\n");
    ASSERT_EQ(css_init(&lib_, path.c_str(), &err_), 0) << err_.code << " " << err_.parm;
  }

  /* The client's create; the server accepts with server_spec when the
  ** client first reads. */
  int connect(const char *client_spec = "TM", const char *server_spec = "TM") {
    client_.on_empty = [this, server_spec] {
      if (accepted_) return;
      accepted_ = true;
      css_io_methods io = server_.methods();
      server_rc_ = css_accept_context(&server_ctx_, lib_, &io, &server_info_, server_spec,
                                      &server_enabled_, &server_err_);
    };
    css_io_methods io = client_.methods();
    return css_create_context(&client_ctx_, lib_, &io, &client_info_, client_spec, nullptr,
                              &client_enabled_, &err_);
  }

  void connected() {
    ASSERT_EQ(connect(), 0) << err_.code << " " << err_.parm;
    ASSERT_EQ(server_rc_, 0) << server_err_.code << " " << server_err_.parm;
  }

  /* Runs text through ctx in direction (true: output); the result's bytes,
  ** the disposition in *disposition; the result is given back. */
  std::string run(cssctx *ctx, bool output, csm_buffer *msg, int *disposition) {
    csm_buffer *out = nullptr;
    css_errblk err {};
    const int rc = output ? css_process_out_message(ctx, msg, &out, &err)
                          : css_process_in_message(ctx, msg, &out, &err);
    EXPECT_EQ(rc, 0) << err.code << " " << err.parm;
    *disposition = err.flag;
    const std::string bytes = bytes_of(out);
    if (out != nullptr) {
      css_errblk done_err {};
      EXPECT_EQ(css_buffer_done(ctx, out, output ? CSS_DIR_OUTPUT : CSS_DIR_INPUT, &done_err), 0)
          << done_err.code;
    }
    return bytes;
  }

  /* run, repeated while more output follows; the pieces joined. */
  std::string run_whole(cssctx *ctx, bool output, csm_buffer *msg) {
    std::string bytes;
    int disposition = -1;
    do {
      bytes += run(ctx, output, msg, &disposition);
    } while (disposition == CSS_DISP_MORE_OUTPUT);
    EXPECT_EQ(disposition, CSS_DISP_DONE);
    return bytes;
  }

  TestModule module_;
  TempDir dir_;
  csslibctx *lib_ = nullptr;
  css_errblk err_ {};
  css_errblk server_err_ {};
  std::deque<std::string> to_client_;
  std::deque<std::string> to_server_;
  Wire client_ {&to_client_, &to_server_};
  Wire server_ {&to_server_, &to_client_};
  cssctx *client_ctx_ = nullptr;
  cssctx *server_ctx_ = nullptr;
  csm_conn_info client_info_ {};
  csm_conn_info server_info_ {};
  uint32_t client_enabled_ = 0;
  uint32_t server_enabled_ = 0;
  int server_rc_ = -99;
  bool accepted_ = false;
  csm_abort_reason reason_ {0, "test over"};
};

/* ---- Handshakes. ---- */

TEST_F(CssContextTest, HandshakeExchangesOneTokenEachWay) {
  init("");
  connected();
  EXPECT_NE(client_ctx_, nullptr);
  EXPECT_NE(server_ctx_, nullptr);
  EXPECT_EQ(client_.puts, 1);
  EXPECT_EQ(client_.gets, 1);
  EXPECT_EQ(server_.puts, 1);
  EXPECT_EQ(server_.gets, 1);
  // Each side gave back the token it read, and the module got its own back.
  EXPECT_TRUE(client_.live.empty());
  EXPECT_TRUE(server_.live.empty());
  EXPECT_EQ(client_.dones, 1);
  EXPECT_EQ(server_.dones, 1);
  const test_module_counts c = module_.counts();
  EXPECT_EQ(c.buffers_made, 2);
  EXPECT_EQ(c.buffers_returned, 2);
  EXPECT_EQ(c.connections, 2);
  EXPECT_EQ(server_info_.word[CSM_INFO_LOGIN_CHECKED], 1u);
  EXPECT_EQ(err_.flag, 0);
}

struct StatusCase {
  const char *opts;
  int32_t code;
  const char *parm;
};

TEST_F(CssContextTest, FirstCreateStatusThatSendsNothingFails) {
  const StatusCase cases[] = {
      {"create_status=5", CSS_ERR_NOSEND, ""},
      {"create_status=9", CSS_ERR_STATUS, "TM : 9"},
  };
  for (const StatusCase &c : cases) {
    SCOPED_TRACE(c.opts);
    css_errblk scratch {};
    css_terminate(&lib_, &scratch);
    init(c.opts);
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(err_.code, c.code);
    EXPECT_STREQ(err_.parm, c.parm);
    EXPECT_EQ(client_ctx_, nullptr);
    EXPECT_EQ(client_.puts, 0);
    // The module's connection was freed with the context.
    EXPECT_EQ(module_.counts().connections, 0);
  }
}

struct DirectionCase {
  const char *opts;
  uint32_t enabled;
};

TEST_F(CssContextTest, EnabledDirectionsComeFromGetFlagsMaskedByInitFlags) {
  const DirectionCase cases[] = {
      {"", CSM_FLAG_OUTPUT | CSM_FLAG_INPUT},
      {"no_get_flags=1", CSM_FLAG_OUTPUT | CSM_FLAG_INPUT},
      {"get_flags=1", CSM_FLAG_OUTPUT},
      {"get_flags=0x10001", CSM_FLAG_OUTPUT},
      {"get_flags=0x10001 init_flags=0x10000", 0x10001},
      {"get_flags=0x30002 init_flags=0x20000", 0x20002},
  };
  for (const DirectionCase &c : cases) {
    SCOPED_TRACE(c.opts);
    TearDown();
    client_ctx_ = server_ctx_ = nullptr;
    accepted_ = false;
    to_client_.clear();
    to_server_.clear();
    init(c.opts);
    connected();
    EXPECT_EQ(client_enabled_, c.enabled);
    EXPECT_EQ(server_enabled_, c.enabled);
  }
}

TEST_F(CssContextTest, DirectionNotTransformedPassesThrough) {
  init("get_flags=1 xor=0x21");
  connected();
  std::string text = "plain";
  csm_buffer msg {text.data(), 5};
  int disposition = -1;
  EXPECT_EQ(run(client_ctx_, true, &msg, &disposition), xored("plain", 0x21));
  EXPECT_EQ(run(client_ctx_, false, &msg, &disposition), "plain");
  EXPECT_EQ(disposition, CSS_DISP_DONE);
}

/* ---- Messages. ---- */

TEST_F(CssContextTest, TransformRoundTripsBothDirections) {
  for (int key : {0x5a, 0}) {
    SCOPED_TRACE(key);
    TearDown();
    client_ctx_ = server_ctx_ = nullptr;
    accepted_ = false;
    init("xor=" + std::to_string(key));
    connected();
    const std::pair<cssctx *, cssctx *> ways[] = {{client_ctx_, server_ctx_},
                                                  {server_ctx_, client_ctx_}};
    for (const auto &[from, to] : ways) {
      std::string text = "select 1 from t";
      csm_buffer msg {text.data(), static_cast<int32_t>(text.size())};
      int disposition = -1;
      std::string wire = run(from, true, &msg, &disposition);
      EXPECT_EQ(disposition, CSS_DISP_DONE);
      EXPECT_EQ(wire, xored(text, key));
      csm_buffer received {wire.data(), static_cast<int32_t>(wire.size())};
      EXPECT_EQ(run(to, false, &received, &disposition), text);
      EXPECT_EQ(disposition, CSS_DISP_DONE);
    }
  }
  const test_module_counts c = module_.counts();
  EXPECT_EQ(c.buffers_made, c.buffers_returned);
}

TEST_F(CssContextTest, NeedMoreWaitsForTheNextMessage) {
  init("xor=3 need_more=1");
  connected();
  std::string first = "abc";
  std::string second = "def";
  csm_buffer m1 {first.data(), 3};
  csm_buffer m2 {second.data(), 3};
  csm_buffer *out = &m1;
  css_errblk err {};
  ASSERT_EQ(css_process_out_message(client_ctx_, &m1, &out, &err), 0) << err.code;
  EXPECT_EQ(err.flag, CSS_DISP_MORE_INPUT);
  EXPECT_EQ(out, nullptr);
  int disposition = -1;
  EXPECT_EQ(run(client_ctx_, true, &m2, &disposition), xored("abcdef", 3));
  EXPECT_EQ(disposition, CSS_DISP_DONE);
  // Both messages were given back to the caller once they were taken.
  EXPECT_EQ(client_.foreign_dones, 2);
}

TEST_F(CssContextTest, MoreOutputComesFromTheSameMessage) {
  for (bool output : {true, false}) {
    SCOPED_TRACE(output);
    TearDown();
    client_ctx_ = server_ctx_ = nullptr;
    accepted_ = false;
    init("xor=1 more_output=1");
    connected();
    std::string text = "abcd";
    csm_buffer msg {text.data(), 4};
    int disposition = -1;
    EXPECT_EQ(run(client_ctx_, output, &msg, &disposition), xored("ab", 1));
    EXPECT_EQ(disposition, CSS_DISP_MORE_OUTPUT);
    EXPECT_EQ(client_.foreign_dones, 0);
    EXPECT_EQ(run(client_ctx_, output, &msg, &disposition), xored("cd", 1));
    EXPECT_EQ(disposition, CSS_DISP_DONE);
    EXPECT_EQ(client_.foreign_dones, 1);
    client_.foreign_dones = 0;
    // The next message starts afresh.
    EXPECT_EQ(run(client_ctx_, output, &msg, &disposition), xored("abcd", 1));
    EXPECT_EQ(disposition, CSS_DISP_DONE);
    client_.foreign_dones = 0;
  }
}

TEST_F(CssContextTest, DisconnectIsNeedMoreThenPassThrough) {
  init("xor=7 disconnect=1");
  connected();
  std::string first = "gone";
  csm_buffer m1 {first.data(), 4};
  csm_buffer *out = nullptr;
  css_errblk err {};
  ASSERT_EQ(css_process_out_message(client_ctx_, &m1, &out, &err), 0) << err.code;
  EXPECT_EQ(err.flag, CSS_DISP_MORE_INPUT);
  EXPECT_EQ(out, nullptr);
  std::string second = "later";
  csm_buffer m2 {second.data(), 5};
  err = css_errblk {};
  ASSERT_EQ(css_process_out_message(client_ctx_, &m2, &out, &err), 0) << err.code;
  EXPECT_EQ(err.flag, CSS_DISP_DONE);
  EXPECT_EQ(out, &m2);
  EXPECT_EQ(bytes_of(out), "later");
  EXPECT_EQ(css_buffer_done(client_ctx_, out, CSS_DIR_OUTPUT, &err), 0);
  // The input direction passes through as well.
  int disposition = -1;
  EXPECT_EQ(run(client_ctx_, false, &m2, &disposition), "later");
  EXPECT_EQ(disposition, CSS_DISP_DONE);
}

struct InstreamCase {
  int status;
  bool output;
};

TEST_F(CssContextTest, InStreamHandshakeSendsItsTokenThenTransforms) {
  const InstreamCase cases[] = {{4, true}, {4, false}, {3, true}, {3, false}};
  for (const InstreamCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + (c.output ? " output" : " input"));
    TearDown();
    client_ctx_ = server_ctx_ = nullptr;
    accepted_ = false;
    to_client_.clear();
    to_server_.clear();
    init("xor=2 instream=1 instream_status=" + std::to_string(c.status));
    connected();
    const int puts = client_.puts;
    const int gets = client_.gets;
    if (c.status == 3) to_client_.push_back(TEST_MODULE_REKEY_REPLY);
    std::string text = "payload";
    csm_buffer msg {text.data(), static_cast<int32_t>(text.size())};
    EXPECT_EQ(run_whole(client_ctx_, c.output, &msg), xored(text, 2));
    EXPECT_EQ(client_.puts, puts + 1);
    ASSERT_FALSE(to_server_.empty());
    EXPECT_EQ(to_server_.back(), TEST_MODULE_REKEY_TOKEN);
    EXPECT_EQ(client_.gets, gets + (c.status == 3 ? 1 : 0));
    EXPECT_TRUE(client_.live.empty());
    EXPECT_TRUE(to_client_.empty());
    // The next message runs as usual.
    EXPECT_EQ(run_whole(client_ctx_, c.output, &msg), xored(text, 2));
    const test_module_counts counts = module_.counts();
    EXPECT_EQ(counts.buffers_made, counts.buffers_returned);
  }
}

TEST_F(CssContextTest, MessageCallsWithoutContextOrBufferFail) {
  init("");
  connected();
  csm_buffer *out = nullptr;
  css_errblk err {};
  EXPECT_EQ(css_process_out_message(nullptr, nullptr, &out, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_NOCONTEXT);
  EXPECT_EQ(css_process_in_message(nullptr, nullptr, &out, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_NOCONTEXT);
  EXPECT_EQ(css_buffer_done(nullptr, nullptr, 0, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_NOCONTEXT);
  EXPECT_EQ(css_buffer_done(client_ctx_, nullptr, 2, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_LOCK);
  EXPECT_EQ(css_buffer_done(client_ctx_, nullptr, CSS_DIR_INPUT, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_NOBUFFER);
  css_list_iter it;
  css_list_iter_init(&it, &client_ctx_->chain, CSS_ITER_FORWARD);
  css_csm_data *prev = client_ctx_->head;
  EXPECT_EQ(css_process_message(client_ctx_, &it, &prev, client_ctx_->tail, 7, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_DIRECTION);
}

/* ---- Close. ---- */

TEST_F(CssContextTest, AbortDeletesTheContextEvenWhenTheModuleFails) {
  init("abort_fail=1");
  connected();
  css_errblk err {};
  EXPECT_EQ(css_abort_context(&client_ctx_, &reason_, &err), -1);
  EXPECT_EQ(err.code, CSM_ERR_ABORT);
  EXPECT_EQ(client_ctx_, nullptr);
  EXPECT_EQ(module_.counts().connections, 1);
  EXPECT_EQ(css_abort_context(&client_ctx_, &reason_, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_NOCONTEXT);
}

TEST_F(CssContextTest, ReleaseBalancesEveryBuffer) {
  asf_test::CountingMemory memory;
  init("xor=9 more_output=2");
  connected();
  for (int i = 0; i < 3; ++i) {
    std::string text = "message " + std::to_string(i);
    csm_buffer msg {text.data(), static_cast<int32_t>(text.size())};
    std::string wire = run_whole(client_ctx_, true, &msg);
    csm_buffer received {wire.data(), static_cast<int32_t>(wire.size())};
    EXPECT_EQ(run_whole(server_ctx_, false, &received), text);
  }
  // An output left with the caller goes back at release.
  std::string last = "left over";
  csm_buffer msg {last.data(), static_cast<int32_t>(last.size())};
  csm_buffer *out = nullptr;
  ASSERT_EQ(css_process_out_message(client_ctx_, &msg, &out, &err_), 0);
  ASSERT_NE(out, nullptr);
  css_errblk err {};
  EXPECT_EQ(css_release_context(&client_ctx_, &err), 0) << err.code;
  EXPECT_EQ(css_release_context(&server_ctx_, &err), 0) << err.code;
  EXPECT_EQ(client_ctx_, nullptr);
  EXPECT_EQ(server_ctx_, nullptr);
  const test_module_counts c = module_.counts();
  EXPECT_EQ(c.releases, 2);
  EXPECT_EQ(c.connections, 0);
  EXPECT_EQ(c.buffers_made, c.buffers_returned);
  EXPECT_TRUE(client_.live.empty());
  EXPECT_TRUE(server_.live.empty());
  EXPECT_EQ(css_release_context(&client_ctx_, &err), -1);
  EXPECT_EQ(err.code, CSS_ERR_NOCONTEXT);
  css_terminate(&lib_, &err);
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(CssContextTest, AnyFailedAllocationLeavesNothingBehind) {
  init("xor=4 need_more=2 more_output=3");
  connected();  // loads the module once
  css_errblk err {};
  css_release_context(&client_ctx_, &err);
  css_release_context(&server_ctx_, &err);
  bool completed = false;
  for (int n = 1; !completed && n < 400; ++n) {
    SCOPED_TRACE(n);
    accepted_ = false;
    to_client_.clear();
    to_server_.clear();
    {
      asf_test::CountingMemory memory(n);
      bool ok = connect() == 0 && server_rc_ == 0;
      for (int i = 0; ok && i < 3; ++i) {
        std::string text = "m" + std::to_string(i);
        csm_buffer msg {text.data(), static_cast<int32_t>(text.size())};
        // Out of the client, into the server, whatever each step gives.
        csm_buffer *out = nullptr;
        err = css_errblk {};
        ok = css_process_out_message(client_ctx_, &msg, &out, &err) == 0;
        std::string wire = bytes_of(out);
        if (ok && out != nullptr) css_buffer_done(client_ctx_, out, CSS_DIR_OUTPUT, &err);
        csm_buffer received {wire.data(), static_cast<int32_t>(wire.size())};
        ok = ok && css_process_in_message(server_ctx_, &received, &out, &err) == 0;
        if (ok && out != nullptr) css_buffer_done(server_ctx_, out, CSS_DIR_INPUT, &err);
      }
      if (ok) {
        ok = css_release_context(&client_ctx_, &err) == 0 &&
             css_release_context(&server_ctx_, &err) == 0;
      }
      if (client_ctx_ != nullptr) css_abort_context(&client_ctx_, &reason_, &err);
      if (server_ctx_ != nullptr) css_abort_context(&server_ctx_, &reason_, &err);
      completed = ok && memory.allocations() < n;
      EXPECT_EQ(memory.outstanding(), 0);
    }
    EXPECT_TRUE(client_.live.empty());
    EXPECT_TRUE(server_.live.empty());
    EXPECT_EQ(module_.counts().connections, 0);
  }
  EXPECT_TRUE(completed);
}

/* ---- Handshake failures: each gives back what it held, deletes the
** context and clears the slot. ---- */

struct FailureCase {
  const char *what;
  std::function<void(Wire &client)> arrange;
  bool wrong_reply; /* the client reads a reply that is not the server's token */
  int32_t code;
};

TEST_F(CssContextTest, ClientHandshakeFailuresGiveEverythingBack) {
  const FailureCase cases[] = {
      {"short put", [](Wire &c) { c.short_put = true; }, false, CSS_ERR_PUTBYTES},
      {"no put", [](Wire &c) { c.no_put = true; }, false, CSS_ERR_NOPUTBYTES},
      {"no get", [](Wire &c) { c.no_get = true; }, false, CSS_ERR_NOGETBYTES},
      {"no done", [](Wire &c) { c.no_done = true; }, false, CSS_ERR_NORETURN},
      {"failing done", [](Wire &c) { c.failing_done = true; }, false, CSS_ERR_RETURN},
      {"nothing to read", [](Wire &c) { c.on_empty = [] {}; }, false, CSS_ERR_GETBYTES},
      {"wrong reply", [](Wire &) {}, true, CSM_ERR_HANDSHAKE},
  };
  for (const FailureCase &c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    client_ctx_ = server_ctx_ = nullptr;
    accepted_ = false;
    to_client_.clear();
    to_server_.clear();
    {
      Wire client(&to_client_, &to_server_);
      init("");
      c.arrange(client);
      if (c.wrong_reply) to_client_.push_back("NOT WELCOME");
      if (!client.on_empty && !c.wrong_reply) {
        client.on_empty = [this] {
          if (accepted_) return;
          accepted_ = true;
          css_io_methods io = server_.methods();
          server_rc_ = css_accept_context(&server_ctx_, lib_, &io, &server_info_, "TM",
                                          &server_enabled_, &server_err_);
        };
      }
      css_io_methods io = client.methods();
      cssctx *slot = reinterpret_cast<cssctx *>(&io);  // must be cleared
      EXPECT_EQ(css_create_context(&slot, lib_, &io, &client_info_, "TM", nullptr, &client_enabled_,
                                   &err_),
                -1);
      EXPECT_EQ(err_.code, c.code) << err_.parm;
      EXPECT_EQ(slot, nullptr);
      // Held input went back, unless there was nowhere to give it.
      if (c.code != CSS_ERR_NORETURN && c.code != CSS_ERR_RETURN) {
        EXPECT_TRUE(client.live.empty());
      }
      // The module's client connection is gone; a server's may remain.
      EXPECT_EQ(module_.counts().connections, server_ctx_ != nullptr ? 1 : 0);
      EXPECT_EQ(module_.counts().buffers_made, module_.counts().buffers_returned);
    }
  }
}

TEST_F(CssContextTest, ServerHandshakeFailuresGiveEverythingBack) {
  init("");
  to_server_.push_back("NOT HELLO");
  css_io_methods io = server_.methods();
  cssctx *slot = reinterpret_cast<cssctx *>(&io);  // must be cleared
  EXPECT_EQ(
      css_accept_context(&slot, lib_, &io, &server_info_, "TM", &server_enabled_, &server_err_),
      -1);
  EXPECT_EQ(server_err_.code, CSM_ERR_HANDSHAKE);
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(server_.live.empty());
  EXPECT_EQ(server_.dones, 1);
  EXPECT_EQ(module_.counts().connections, 0);
  // A server without I/O methods.
  EXPECT_EQ(css_accept_context(&server_ctx_, lib_, nullptr, &server_info_, "TM", &server_enabled_,
                               &server_err_),
            -1);
  EXPECT_EQ(server_err_.code, CSS_ERR_NOIOVEC);
}

struct SetupCase {
  const char *spec;
  bool no_library;
  int32_t code;
  const char *parm;
};

TEST_F(CssContextTest, ContextSetUpFailures) {
  init("");
  const SetupCase cases[] = {
      {"TM", true, PF_ERR_NOCSS, ""},
      {"", false, CSS_ERR_NONAME, ""},
      {"\"quoted\"", false, CSS_ERR_NONAME, ""},
      {"NOPE", false, CSS_ERR_NOCSM, "NOPE"},
      {"TM \"bad_key=1\"", false, CSM_ERR_OPTIONS, "bad connection parameter"},
  };
  for (const SetupCase &c : cases) {
    SCOPED_TRACE(c.spec);
    css_io_methods io = client_.methods();
    css_errblk err {};
    cssctx *ctx = reinterpret_cast<cssctx *>(&io);
    EXPECT_EQ(css_create_context(&ctx, c.no_library ? nullptr : lib_, &io, &client_info_, c.spec,
                                 nullptr, &client_enabled_, &err),
              -1);
    EXPECT_EQ(err.code, c.code);
    EXPECT_STREQ(err.parm, c.parm);
    EXPECT_EQ(ctx, nullptr);
  }
  EXPECT_EQ(module_.counts().connections, 0);
}

}  // namespace
