/*
** Fuzz target: what a server says about a connection outside the reply
** loop. Byte 0 picks the case:
** - even: a decoded connect response read by proc_srvrresp. The bytes
**   give its type, sub-kind, error, ISAM error, warning bits and up to
**   four message entries (offset, then a length that takes at most the
**   bytes left as the message text);
** - odd: a reassociation reply (86) read by _sqg_reassoc over the fake
**   association layer, byte 1 the cut of the received buffers, then acted
**   on by _sqreassoc for an explicit connection.
**
** Every run must end with sqlerrm terminated within 71 characters and a
** 5-character SQLSTATE; an accepted response records no error and a
** refused one an error; a reply 86 read in full is pending with texts of
** the lengths sent, a short one leaves nothing pending; the explicit
** connection stays current and is never moved (-1808 or the probe's
** error).
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "fake_asf.h"
#include "fuzz_environment.h"
#include "sqli_asf.h"
#include "sqli_conn.h"
#include "sqli_context.h"
#include "sqli_reply.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_connect_replies: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 8192;

/* Big-endian fields taken from the input; 0 past its end. */
struct Input {
  const uint8_t *p;
  size_t left;
  int32_t i16() {
    if (left < 2) return left = 0, 0;
    const auto v = static_cast<int16_t>((p[0] << 8) | p[1]);
    p += 2;
    left -= 2;
    return v;
  }
};

void check_sqlca() {
  if (strnlen(sqlca.sqlerrm, sizeof sqlca.sqlerrm) > 71) fail("sqlerrm not terminated", 0);
  if (std::strlen(SQLSTATE) != 5) fail("SQLSTATE not 5 characters", 0);
}

void connect_response(sqli_tcb *tcb, Input in) {
  pfstatus status {};
  pfconkind other {};
  pfrequest response {static_cast<int16_t>(in.i16() % 3), nullptr};
  status.subkind = in.i16() % 3;
  status.errnum = in.i16();
  status.isamerr = in.i16();
  status.warnbits = in.i16();
  const int count = (in.i16() & 0x7fff) % 5;
  std::vector<pfmsgent> msgs(static_cast<size_t>(count));
  for (pfmsgent &m : msgs) {
    m.offset = in.i16();
    const auto want = static_cast<size_t>(in.i16() & 0x7fff);
    const size_t n = want < in.left ? want : in.left;
    m.length = static_cast<int32_t>(n);
    m.text = n > 0 ? reinterpret_cast<char *>(const_cast<uint8_t *>(in.p)) : nullptr;
    in.p += n;
    in.left -= n;
  }
  status.count = count;
  status.msgs = msgs.empty() ? nullptr : msgs.data();
  response.rec = response.type == asc_pf_status ? static_cast<void *>(&status) : &other;
  const int rc = proc_srvrresp(&response, tcb);
  check_sqlca();
  const bool well_formed = response.type == asc_pf_status && status.subkind == asc_sub_status;
  if (!well_formed && (rc != -1 || sqlca.sqlcode >= 0)) fail("malformed response accepted", rc);
  if (well_formed && status.errnum != 0 && (rc != -1 || sqlca.sqlcode != status.errnum))
    fail("refusal not recorded", sqlca.sqlcode);
  if (well_formed && status.errnum == 0 && (rc != 0 || sqlca.sqlcode != 0))
    fail("accept recorded an error", sqlca.sqlcode);
}

void reassoc_reply(sqli_tcb *tcb, const uint8_t *data, size_t size) {
  const int cut = data[0] == 0 ? 1 : data[0];
  const sqli_test::Bytes reply(data + 1, data + size);
  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t;
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  tcb->curconn = &t.conn;
  fake.script_reply(reply, {cut});
  fake.fail_after(reply.size(), -25580, 0, "end of the scripted reply");
  tcb->reassoc_pending = 0;
  const int rc = _sqg_reassoc(tcb);
  check_sqlca();
  if (rc == 0) {
    if (tcb->reassoc_pending != 1 || tcb->reassoc == nullptr) fail("read but not pending", 0);
    for (const char *s : tcb->reassoc->str)
      if (s != nullptr && std::strlen(s) > reply.size()) fail("text longer than the reply", 0);
    conlist.mode = sqli_mode_explicit;
    _sqclrca(tcb);
    const int result = _sqreassoc(tcb);
    check_sqlca();
    if (tcb->curconn != &t.conn) fail("the explicit connection moved", result);
    if (result == 0 || sqlca.sqlcode >= 0) fail("reassociation of an explicit connection", result);
    conlist = {};
  } else if (tcb->reassoc_pending != 0) {
    fail("a failed read left a request pending", 0);
  }
  tcb->curconn = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init_runtime("fuzz_connect_replies");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > max_input) return 0;
  sqli_tcb *tcb = sqlitcb;
  _sqclrca(tcb);
  tcb->request_active = 0;
  if (data[0] % 2 == 0)
    connect_response(tcb, Input {data + 1, size - 1});
  else
    reassoc_reply(tcb, data + 1, size - 1);
  return 0;
}
