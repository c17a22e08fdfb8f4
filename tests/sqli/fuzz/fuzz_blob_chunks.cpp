/*
** Fuzz target: random chunk streams of BYTE and TEXT values received over
** the fake association layer. Byte 0 picks the destination and the
** reader: a runtime memory buffer, a small program buffer, the program's
** functions failing a write, or an array-fetch read of several values
** followed by the end of the reply; bit 0x80 makes the value TEXT through
** a UTF-8 to 8859-1 converter. Byte 1 is the cut of the received buffers,
** bytes 2-3 the value's size in its stored descriptor; the rest is the
** reply.
**
** Every run must end with the request-in-progress flag clear, a memory
** locator's bytes within its buffer, sqlerrm terminated, and either the
** connection kept or a negative sqlcode with it dropped.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "asf_call.h"
#include "dvz_be.h"
#include "fake_asf.h"
#include "fuzz_environment.h"
#include "gl_conv.h"
#include "gl_host.h"
#include "os_glsenv.h"
#include "os_stored.h"
#include "sqli_blob.h"
#include "sqli_context.h"
#include "sqli_reply.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_blob_chunks: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 16384;
gl_cv_desc *utf8_to_latin1 = nullptr;

struct Program {
  int writes = 0;
  int fail_at = 0;
  size_t bytes = 0;
};

int prog_write(loc_t *loc, char *, int count) {
  auto *p = reinterpret_cast<Program *>(loc->user_data);
  if (++p->writes == p->fail_at) return -1;
  p->bytes += static_cast<size_t>(count);
  return count;
}
int prog_open(loc_t *, int, int) { return 0; }
int prog_close(loc_t *) { return 0; }

/* A stored descriptor of a value of size bytes. */
void descriptor(char *out, int size) {
  tblob_desc_t d {};
  d.tb_words[1] = 1;
  d.tb_words[2] = size;
  tblobstore(&d, out);
}

void check_memory(const loc_t &loc) {
  /* Not opened (refused before any byte): nothing was written. */
  if (loc.kind != loc_in_memory || loc.u.mem.buffer == nullptr || loc.u.mem.current == nullptr)
    return;
  if (loc.u.mem.current < loc.u.mem.buffer ||
      loc.u.mem.current > loc.u.mem.buffer + loc.u.mem.buffer_size)
    fail("memory locator past its buffer", loc.u.mem.current - loc.u.mem.buffer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init_runtime("fuzz_blob_chunks");
  if (gl_cv_load(&utf8_to_latin1, "en_US.8859-1", "en_US.utf8", nullptr, nullptr) != 1)
    fail("converter", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4 || size > max_input) return 0;
  const int mode = data[0] & 3;
  const bool text = (data[0] & 0x80) != 0;
  const int cut = data[1] == 0 ? 1 : data[1];
  const int value_size = dvz_ld_be_u16(data + 2);
  const sqli_test::Bytes reply(data + 4, data + size);
  sqli_tcb *tcb = sqlitcb;
  _sqclrca(tcb);
  tcb->request_active = 0;

  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->state == nullptr) fail("locale environment", 0);
  gl_cv_desc *saved = env->state->cv_db_client;
  env->state->cv_db_client = text ? utf8_to_latin1 : nullptr;

  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t(0);
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  tcb->curconn = &t.conn;
  fake.script_reply(reply, {cut});
  fake.fail_after(reply.size(), -25580, 0, "end of the scripted reply");

  char desc[TBLOB_STORED_SIZE];
  descriptor(desc, value_size);
  std::vector<char> small(64);
  Program prog;
  prog.fail_at = data[0] >> 2 & 0x1F;
  loc_t loc {};
  loc.kind = loc_in_memory;
  loc.u.mem.buffer_size = -1;
  if (mode == 1) {
    loc.u.mem.buffer_size = static_cast<int32_t>(small.size());
    loc.u.mem.buffer = small.data();
  } else if (mode == 2) {
    loc.kind = loc_in_user;
    loc.user_data = reinterpret_cast<char *>(&prog);
    loc.open_fn = prog_open;
    loc.close_fn = prog_close;
    loc.write_fn = prog_write;
  }
  const int type = text ? 12 : 11;
  sqli_cursor record {};
  record.stmt_id = 1;
  if (mode == 3) {
    /* Up to four values read as an array fetch reads them, then the end. */
    const int count = 1 + (data[0] >> 2 & 3);
    int i = 0;
    for (; i < count; ++i) {
      int16_t ind = 0, isnull = 0;
      if (get_ar_blobs(desc, type, TBLOB_STORED_SIZE, &loc, &ind, &isnull, tcb) != 0) break;
      check_memory(loc);
    }
    if (i == count) (void)get_eot(tcb, &record);
  } else {
    int16_t ind = 0;
    (void)_sqg_blob(desc, type, TBLOB_STORED_SIZE, &loc, &ind, tcb, &record);
    check_memory(loc);
  }
  if (tcb->request_active != 0) fail("request flag left set", 0);
  if (strnlen(sqlca.sqlerrm, sizeof sqlca.sqlerrm) > 71) fail("sqlerrm not terminated", 0);
  if (tcb->curconn == nullptr && sqlca.sqlcode >= 0)
    fail("dropped without an error", sqlca.sqlcode);
  if (loc.kind == loc_in_memory && (loc.u.mem.memory_flags & 1) != 0) std::free(loc.u.mem.buffer);
  env->state->cv_db_client = saved;
  tcb->curconn = nullptr;
  return 0;
}
