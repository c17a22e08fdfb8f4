/*
** Fuzz target: random replies to the fast-path calls, over the fake
** association layer. Byte 0 picks the call: a routine look-up with a
** parameter block (replies 101 and the long 104 fill it), one without,
** or a routine call (short 104, 103 into a fixed set of output variables
** of every kind, some without data) with or without a block. Byte 1 holds
** the connection's capabilities (0x4 extended words, 0x8 long entries;
** bit 0 stands for 0x200, long names), byte 2 the cut of the received buffers, byte 3 the
** number of outputs; the rest is the reply. Running out of reply is a
** receive failure.
**
** Every run must end with sqlerrm terminated, the request-in-progress flag
** clear, the connection current or a negative sqlcode, a block either
** untouched, zero or marked with lists that match their counts, and
** every buffer the runtime gave an output freed here (LeakSanitizer
** checks that nothing else stays held).
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake_asf.h"
#include "fuzz_environment.h"
#include "gen_collection.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "sqli_context.h"
#include "sqli_fastpath.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_fast_path: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 16384;
constexpr int max_outputs = 12;

void check_block(const sqli_fparam &b) {
  if (b.marker == 0) {
    if (b.first_entries != nullptr || b.second_entries != nullptr || b.first_count != 0 ||
        b.second_count != 0)
      fail("lists in an unmarked block", b.first_count);
    return;
  }
  if (b.marker != SQLI_FPARAM_MARKER) fail("block marker", b.marker);
  if (b.first_count < 0 || b.second_count < 0) fail("negative list count", b.first_count);
  if ((b.first_count > 0) != (b.first_entries != nullptr && b.first_bytes != nullptr))
    fail("first list and its count", b.first_count);
  if ((b.second_count > 0) != (b.second_entries != nullptr && b.second_bytes != nullptr))
    fail("second list and its count", b.second_count);
  /* Touch every entry: the lists must hold what their counts say. */
  long sum = 0;
  for (int i = 0; i < b.first_count; ++i)
    sum += b.first_entries[i].word32 + b.first_bytes[i];
  for (int i = 0; i < b.second_count; ++i)
    sum += b.second_entries[i].word32 + b.second_bytes[i];
  (void)sum;
}

void free_block(sqli_fparam &b) {
  std::free(b.first_entries);
  std::free(b.first_bytes);
  std::free(b.second_entries);
  std::free(b.second_bytes);
  b = sqli_fparam {};
}

/* The output variables of one run, and what they point at. */
struct Outputs {
  char text[16] = {};
  int16_t small = 0;
  int32_t integer = 0;
  double dbl = 0;
  dec_t dec {};
  dvz_int8_t big {};
  char fixed[8] = {};
  dvz_hostbuf_t varbin {HOSTVAR_GROWABLE, 0, 0, nullptr};
  dvz_coll_t coll {};
  dvz_coll_t row {};
  int16_t inds[max_outputs] = {};
  sqlvar_struct vars[max_outputs] = {};

  void set(int i, int type, void *data, int32_t len) {
    vars[i].sqltype = static_cast<int16_t>(type);
    vars[i].sqldata = static_cast<char *>(data);
    vars[i].sqllen = len;
    vars[i].sqlind = &inds[i];
  }
  Outputs() {
    set(0, host_type_char, text, sizeof text);
    set(1, host_type_short, &small, 2);
    set(2, host_type_int, &integer, 4);
    set(3, host_type_double, &dbl, 8);
    set(4, host_type_decimal, &dec, 0);
    set(5, host_type_int8, &big, sizeof big);
    set(6, host_type_fixed_binary, fixed, sizeof fixed);
    set(7, host_type_variable_binary, &varbin, 0);
    set(8, host_type_collection, &coll, sizeof coll);
    set(9, host_type_row, &row, sizeof row);
    set(10, host_type_char, nullptr, 0); /* gets a buffer */
    set(11, host_type_variable_binary, nullptr, 0); /* gets a record */
  }
  ~Outputs() {
    std::free(varbin.data);
    dvz_coll_free(&coll);
    dvz_coll_free(&row);
    if (vars[10].sqldata != nullptr) {
      if ((vars[10].sqlflags & sqlvar_own_data) == 0)
        fail("buffer not marked as the runtime's", 10);
      std::free(vars[10].sqldata);
    }
    if (vars[11].sqldata != nullptr) {
      auto *rec = reinterpret_cast<dvz_hostbuf_t *>(vars[11].sqldata);
      std::free(rec->data);
      std::free(rec);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init_runtime("fuzz_fast_path");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4 || size > max_input) return 0;
  const int mode = data[0] % 4;
  const int32_t caps = (data[1] & (0x4 | 0x8)) | ((data[1] & 0x1) != 0 ? 0x200 : 0);
  const int cut = data[2] == 0 ? 1 : data[2];
  const int noutputs = data[3] % (max_outputs + 1);
  const sqli_test::Bytes reply(data + 4, data + size);
  sqli_tcb *tcb = sqlitcb;
  tcb->request_active = 0;
  _sqclrca(tcb);

  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t(caps);
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  tcb->curconn = &t.conn;
  fake.script_reply(reply, {cut});
  fake.fail_after(reply.size(), -25580, 0, "end of the scripted reply");

  sqli_fparam block {};
  int32_t handle = -7;
  Outputs out;
  const sqli_fplist outputs {static_cast<int16_t>(noutputs), out.vars};
  switch (mode) {
    case 0:
      _sqgetroutine("function f(integer)", &block, &handle, tcb);
      break;
    case 1:
      _sqgetroutine("function f(integer)", nullptr, &handle, tcb);
      break;
    case 2:
      /* A block that an earlier look-up filled, lists and all. */
      block.marker = SQLI_FPARAM_MARKER;
      block.first_count = 1;
      block.first_entries =
          static_cast<sqli_fparam_entry *>(std::calloc(1, sizeof(sqli_fparam_entry)));
      block.first_bytes = static_cast<unsigned char *>(std::calloc(1, 1));
      _sqfastpath(1, nullptr, &outputs, &block, tcb);
      break;
    default:
      _sqfastpath(1, nullptr, &outputs, nullptr, tcb);
      break;
  }
  if (strnlen(sqlca.sqlerrm, sizeof sqlca.sqlerrm) > 71) fail("sqlerrm not terminated", 0);
  if (tcb->request_active != 0) fail("request flag left set", 0);
  if (tcb->curconn == nullptr && sqlca.sqlcode >= 0)
    fail("dropped without an error", sqlca.sqlcode);
  if (mode == 1 && block.marker != 0) fail("a block that was not given", block.marker);
  if (sqlca.sqlcode < 0 && mode == 0 && (block.marker != 0 || handle != -7))
    fail("a failed look-up filled its outputs", sqlca.sqlcode);
  check_block(block);
  free_block(block);
  tcb->curconn = nullptr;
  return 0;
}
