/*
** Fuzz target: random reply streams read by the reply loop over the fake
** association layer. Byte 0 picks the reader: the reply loop with a fresh
** record, with a cursor described first by a valid describe reply, or with
** a local statement record, or the database-list reader. Byte 1 holds the
** connection's capabilities (0x1, 0x4), byte 2 the cut of the received
** buffers; the rest is the reply. Running out of reply is a receive
** failure.
**
** Every run must end with sqlerrm terminated within 71 characters, a
** 5-character SQLSTATE, the request-in-progress flag clear, and either
** the connection current (the end code was reached) or a negative sqlcode
** with the connection dropped; a record's rows must lie inside its buffer.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_call.h"
#include "fake_asf.h"
#include "fuzz_environment.h"
#include "reply_record.h"
#include "sqli_context.h"
#include "sqli_reply.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

using sqli_test::free_record;

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_replies: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 16384;

/* A valid describe of a 10-byte row (INTEGER, CHAR(6)) in either form. */
sqli_test::Bytes describe(bool wide) {
  if (!wide)
    return sqli_test::parse_script(
        "i16(8) i16(2) i16(5) i32(7) i16(10) i16(2) u16(6) u16(0) i16(0) i16(2) i16(4)"
        " u16(3) i16(4) i16(0x100) i16(6) \"id\" 00 \"nm\" 00 i16(12)");
  return sqli_test::parse_script(
      "i16(8) i16(2) i16(5) i32(7) i16(10) i16(2) u16(6)"
      " u16(0) i32(0) i16(2) i32(0) i16(0) i16(0) i16(0) i16(0) i32(0) i32(4)"
      " u16(3) i32(4) i16(0x100) i32(0) i16(1) \"o\" 00 i16(0) i16(1) i16(2) i32(0) i32(6)"
      " \"id\" 00 \"nm\" 00 i16(12)");
}

void check_record(const sqli_cursor &c) {
  if (c.buffer == nullptr) return;
  if (c.bufpos < c.buffer || c.bufpos > c.buffer + c.bufsize)
    fail("row position outside the buffer", 0);
  /* An insert cursor's count is the room left in its buffer, not rows. */
  if (c.stmt_type != 6 && c.nvarlen_cols == 0 && c.rowsize > 0 &&
      c.nbuffered * c.rowsize > c.bufsize)
    fail("rows beyond the buffer", c.nbuffered);
}

void check_status(sqli_tcb *tcb, const sqli_test::FakeAsf &fake, size_t reply_size) {
  if (strnlen(sqlca.sqlerrm, sizeof sqlca.sqlerrm) > 71) fail("sqlerrm not terminated", 0);
  if (std::strlen(SQLSTATE) != 5) fail("SQLSTATE not 5 characters", 0);
  if (tcb->request_active != 0) fail("request flag left set", 0);
  if (tcb->curconn == nullptr && sqlca.sqlcode >= 0)
    fail("dropped without an error", sqlca.sqlcode);
  if (tcb->curconn == nullptr && fake.calls(asf_svc_abort) != 1) fail("not aborted", 0);
  /* Step budget: every receive delivers at least one byte, or fails once. */
  if (static_cast<size_t>(fake.calls(asf_svc_receive)) > reply_size + 4)
    fail("receives beyond the reply", fake.calls(asf_svc_receive));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init_runtime("fuzz_replies");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size > max_input) return 0;
  const int mode = data[0] % 4;
  const int32_t caps = data[1] & 0x5;
  const int cut = data[2] == 0 ? 1 : data[2];
  const sqli_test::Bytes reply(data + 3, data + size);
  sqli_tcb *tcb = sqlitcb;
  _sqclrca(tcb);
  tcb->request_active = 0;

  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t(caps);
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  tcb->curconn = &t.conn;
  sqli_cursor record {};
  size_t scripted = reply.size();
  if (mode == 1) {
    const sqli_test::Bytes first = describe((caps & 0x4) != 0);
    fake.script_reply(first);
    _sqr_messages(&record, 0, tcb);
    if (tcb->curconn == nullptr || sqlca.sqlcode != 0 || record.ncols != 2)
      fail("the seed describe failed", sqlca.sqlcode);
    _sqclrca(tcb);
    scripted += first.size();
  }
  fake.script_reply(reply, {cut});
  fake.fail_after(scripted, -25580, 0, "end of the scripted reply");
  if (mode == 2) record.kind = 1;
  if (mode == 3) {
    char area[256];
    char *names[8];
    sqli_dblist list {0, 8, names, area, sizeof area};
    _sqr_dblist(&list, "@s", tcb);
    if (list.count < 0 || list.count > 8 || list.room < 0) fail("list counters", list.count);
    for (int i = 0; i < list.count; ++i)
      if (names[i] < area || names[i] + std::strlen(names[i]) >= area + sizeof area)
        fail("name outside the area", i);
  } else {
    _sqr_messages(&record, 0, tcb);
    check_record(record);
  }
  check_status(tcb, fake, scripted);
  free_record(&record);
  tcb->curconn = nullptr;
  return 0;
}
