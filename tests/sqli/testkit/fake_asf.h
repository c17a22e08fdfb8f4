/*
** fake_asf.h: `sqli_test::FakeAsf`, the tests' association layer, put in
** the runtime's association seam for its lifetime (one at a time per
** process). It serves the send-buffer (16), send (6), receive (7) and
** receive-buffer release (17) services:
**
** - it lends send buffers of a configured size, each a heap block of
**   exactly that size (so that a write past it is an ASan report), and
**   records the bytes of every buffer handed back with service 6; a sent
**   buffer is freed and the next service 16 lends a new one;
** - it delivers the scripted reply bytes as received buffers cut at the
**   configured sizes (each an exact heap block, freed when the next one is
**   handed over), and records every buffer released with service 17;
** - it takes an abort (10) of the association, counted by calls();
** - the association calls: start (0), directory (2, from a scripted
**   registry), connect (3, answering each from a queue of scripted
**   responses and keeping what was asked), interrupt (8), release (9) and
**   the server entry (12); the request of the last call of each service
**   is kept;
** - it injects, per service, status 6 k times, a negative status with
**   oserr and errstr, or a positive status; and a receive failure once
**   byte n of the replies has been delivered.
**
** Our own code: it never calls the runtime's primitives.
*/
#ifndef DVZ_TESTS_SQLI_FAKE_ASF_H
#define DVZ_TESTS_SQLI_FAKE_ASF_H

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "asf_call.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "sqli_seams.h"
#include "wire_codec.h"

namespace sqli_test {

/* One entry of the scripted directory, or the server entry of service 12. */
struct FakeEntry {
  FakeEntry(std::string server_ = "", std::string dbpath_ = "", int32_t addrkind_ = 1,
            std::string addrtext_ = "127.0.0.1|9088|tcp", std::string product_ = "ol")
      : server(std::move(server_)),
        dbpath(std::move(dbpath_)),
        addrkind(addrkind_),
        addrtext(std::move(addrtext_)),
        product(std::move(product_)) {}
  std::string server;
  std::string dbpath;
  int32_t addrkind;
  std::string addrtext;
  std::string product;
};

/* The answer to one connect. status 0 accepts, 7 refuses with the status
** record below, any other fails with that status. form_ok false answers
** with a response that is not a status record. */
struct FakeConnectResponse {
  int32_t status = 0;
  int32_t errnum = 0;
  int32_t isamerr = 0;
  int32_t warnbits = 0;
  std::vector<std::pair<int32_t, std::string>> messages; /* offset, text */
  int32_t server_version = 0;
  bool form_ok = true;
};

/* What the runtime asked for in one connect. */
struct FakeConnectSeen {
  int32_t namekind = 0;
  std::string dbenv; /* word 3; "<null>" when absent */
  int32_t retries = 0;
  int32_t timeout = 0;
  std::string progname, version, clientid, pfname;
  std::array<int32_t, 3> words {};
  int32_t userkind = 0;
  std::string user;
  int32_t pair_level = 0, pair_version = 0;
  std::string dbpath; /* DBPATH of the environment list */
  int32_t kind = 0, flags = 0;
  std::array<std::string, 6> str; /* the pfconkind's texts, "<null>" when absent */
};

class FakeAsf {
 public:
  /* Installs the fake; the destructor puts the previous table back. */
  FakeAsf();
  ~FakeAsf();
  FakeAsf(const FakeAsf &) = delete;
  FakeAsf &operator=(const FakeAsf &) = delete;

  /* Room of each send buffer lent from now on (default 4096). */
  void set_send_size(int size) { send_size_ = size; }
  /* Appends reply bytes, delivered in received buffers of the given sizes
  ** in turn (the last size repeating); empty sizes: one buffer. */
  void script_reply(const Bytes &bytes, std::vector<int> cuts = {});
  /* Delivers the scripted replies again from their start and forgets
  ** what was sent (a benchmark's repeated request). */
  void rewind();
  /* The next calls of service fail: status 6 `times` times. */
  void time_out(int service, int times);
  /* The next call of service fails with status (negative or positive),
  ** oserr and errstr. */
  void fail(int service, int32_t status, int32_t oserr = 0, const std::string &errstr = "");
  /* A receive fails with status (and oserr, errstr) once n reply bytes
  ** have been delivered and no more are scripted before that point. */
  void fail_after(size_t n, int32_t status, int32_t oserr = 0, const std::string &errstr = "");
  /* A send that times out takes this many bytes first (default 0). */
  void set_timeout_progress(int bytes) { timeout_progress_ = bytes; }

  /* The directory's registry (service 2). */
  void set_registry(std::vector<FakeEntry> entries) { registry_ = std::move(entries); }
  /* The entry service 12 returns, or none at all. */
  void set_server_entry(const FakeEntry &entry) { entry_ = entry; }
  void set_no_server_entry() { no_entry_ = true; }
  /* Appends the answer of a later connect; a connect with none queued is
  ** accepted with version 0. */
  void script_connect(const FakeConnectResponse &response) { connects_.push_back(response); }
  /* The connects asked for, in order. */
  const std::vector<FakeConnectSeen> &connects() const { return seen_; }
  /* The request of the last call of service, and the association it named. */
  const asfsvcreq &last_request(int service) const { return last_req_.at(size_t(service)); }
  void *last_assoc(int service) const { return last_assoc_.at(size_t(service)); }
  /* The association handed out by the n-th connect (from 0). */
  void *association(int n) const { return const_cast<char *>(&assocs_[n]); }
  /* Registries handed out and not yet freed. */
  int live_registries() const { return live_registries_; }
  /* Modes given to the signal switch. */
  const std::vector<int> &sig_modes() const { return sig_modes_; }

  /* Each buffer handed back with service 6, in order. */
  const std::vector<Bytes> &sent() const { return sent_; }
  /* All bytes sent, joined. */
  Bytes sent_bytes() const;
  /* Calls per service code. */
  int calls(int service) const { return calls_.at(static_cast<size_t>(service)); }
  /* The control record's time-out at each call, in order. */
  const std::vector<int32_t> &timeouts() const { return timeouts_; }
  /* Buffers handed back with service 17. */
  int released() const { return released_; }
  /* Reply bytes delivered so far. */
  size_t delivered() const { return delivered_; }

 private:
  struct Failure {
    int32_t status;
    int32_t oserr;
    std::string errstr;
  };
  struct Buffer {
    rscbufctl ctl {};
    std::unique_ptr<char[]> data; /* exactly the buffer's size */
  };
  static int call(asfsvcctl *ctl, asfsvcreq *req);
  static void free_nsreg(NSReg *reg);
  static int sig_switch(int mode);
  int serve(asfsvcctl *ctl, asfsvcreq *req);
  bool inject(int service, asfsvcctl *ctl);
  const Failure *next_failure(int service) const;
  static int failed(asfsvcctl *ctl, const Failure &f);
  std::unique_ptr<Buffer> make_buffer(size_t size);

  const sqli_asf_seam *previous_;
  sqli_asf_seam table_;
  int send_size_ = 4096;
  int timeout_progress_ = 0;
  Bytes replies_;
  std::vector<size_t> cut_points_; /* offsets where a received buffer must end */
  size_t delivered_ = 0;
  std::vector<std::pair<int, Failure>> injected_; /* service, failure; in order */
  bool fail_at_set_ = false;
  size_t fail_at_ = 0;
  Failure fail_at_failure_ {};
  std::unique_ptr<Buffer> send_;
  std::unique_ptr<Buffer> received_;
  std::vector<Bytes> sent_;
  std::vector<int> calls_;
  std::vector<int32_t> timeouts_;
  int released_ = 0;
  /* Association calls. */
  int serve_connect(asfsvcctl *ctl, asfsvcreq *req);
  std::vector<FakeEntry> registry_;
  FakeEntry entry_ {"srv"};
  bool no_entry_ = false;
  const NSEntry *entry_slot_ = nullptr;
  std::unique_ptr<NSEntry> entry_record_;
  std::deque<FakeConnectResponse> connects_;
  std::vector<FakeConnectSeen> seen_;
  std::array<asfsvcreq, ASF_SVC_MAX + 1> last_req_ {};
  std::array<void *, ASF_SVC_MAX + 1> last_assoc_ {};
  std::array<char, 16> assocs_ {}; /* association tokens: their addresses */
  int live_registries_ = 0;
  std::vector<int> sig_modes_;
  /* The records of the last connect response, owned until the next. */
  struct ResponseRecords;
  std::shared_ptr<ResponseRecords> response_;
};

}  // namespace sqli_test

#endif
