/*
** Fuzz target: random replies to the session requests over the fake
** association layer. Byte 0 picks the reader: the version reply of the
** handshake, the server-information reply, or the owner reply; byte 1 the
** cut of the received buffers; the rest is the reply. Running out of reply
** is a receive failure.
**
** Every run must leave the texts terminated within their fields, the
** capability word the one the kept version text maps to, the request flag
** clear, sqlerrm terminated within 71 characters, and either the
** connection current with a clear status or a negative sqlcode with the
** connection dropped and aborted once.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_call.h"
#include "fake_asf.h"
#include "fuzz_environment.h"
#include "sqli_conn.h"
#include "sqli_context.h"
#include "sqli_handshake.h"
#include "sqli_session.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_session_replies: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 8192;

/* Checks that the field of size bytes holds a NUL. */
void terminated(const char *field, size_t size, const char *what) {
  if (memchr(field, '\0', size) == nullptr) fail(what, static_cast<long>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init_runtime("fuzz_session_replies");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > max_input) return 0;
  const int mode = data[0] % 3;
  const int cut = data[1] == 0 ? 1 : data[1];
  const sqli_test::Bytes reply(data + 2, data + size);
  sqli_tcb *tcb = sqlitcb;
  _sqclrca(tcb);
  tcb->request_active = 0;
  conlist.mode = sqli_mode_explicit; /* the connection below counts as made */

  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t(mode == 2 ? sqli_cap_extended : sqli_cap_current);
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  tcb->curconn = &t.conn;
  fake.script_reply(reply, {cut});
  fake.fail_after(reply.size(), -25580, 0, "end of the scripted reply");

  int result = 0;
  if (mode == 0) {
    int32_t caps = -1;
    result = _sqverifyver(tcb, &caps, 0);
    if (result == 0) {
      terminated(t.conn.server_version_text, sizeof t.conn.server_version_text, "version text");
      if (caps != sqli_version_caps(t.conn.server_version_text)) fail("word of the text", caps);
    } else if (caps != 0) {
      fail("word after a failure", caps);
    }
  } else if (mode == 1) {
    sqli_srvinfo info;
    result = _sqr_info(&info, tcb);
    terminated(info.text, sizeof info.text, "information text");
    if (info.spare[0] != 0 || info.spare[1] != 0 || info.spare[2] != 0) fail("spare words", 0);
  } else {
    char owner[129];
    result = dvz_getserowner(owner);
    terminated(owner, sizeof owner, "owner name");
  }

  if (strnlen(sqlca.sqlerrm, sizeof sqlca.sqlerrm) > 71) fail("sqlerrm not terminated", 0);
  if (tcb->request_active != 0) fail("request flag left set", 0);
  const bool dropped = tcb->curconn == nullptr;
  if (dropped != (result != 0)) fail("result and connection disagree", result);
  if (dropped && (sqlca.sqlcode >= 0 || fake.calls(asf_svc_abort) != 1))
    fail("dropped without an error or an abort", sqlca.sqlcode);
  if (!dropped && sqlca.sqlcode != 0) fail("kept with an error", sqlca.sqlcode);
  if (static_cast<size_t>(fake.calls(asf_svc_receive)) > reply.size() + 4)
    fail("receives beyond the reply", fake.calls(asf_svc_receive));
  tcb->curconn = nullptr;
  conlist.mode = sqli_mode_none;
  return 0;
}
