/*
** Fuzz target: random reply bytes read through every reader of the wire
** primitives over the fake association layer. The input's first byte is
** the cut of the received buffers (each an exact heap block, so a read
** past one is a sanitizer report), the second the number of reads, the
** next bytes pick the readers and their counts, and the rest is the reply.
** Running out of reply is a receive failure: the rest reads as 0xFF. The
** record's counters must stay within the buffer held.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fake_asf.h"
#include "os_context.h"
#include "os_glsenv.h"
#include "sqli_context.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_wire_readers: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 8192;

void check(const pipe_vbles &p) {
  if (p.inleft < 0) fail("bytes left below 0", p.inleft);
  if (p.recvbuf != nullptr && p.inleft > 0) {
    const char *end = p.recvbuf->p + p.recvbuf->size;
    const auto *pos = reinterpret_cast<const char *>(p.inptr);
    if (pos < p.recvbuf->p || pos + p.inleft != end) fail("read position outside the buffer", 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  setenv("CLIENT_LOCALE", "en_us.8859-1", 1);
  if (CheckGlobInit() == nullptr) fail("runtime context", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > max_input) return 0;
  const int cut = data[0] == 0 ? 1 : data[0];
  size_t ops = data[1] % 48;
  if (ops > size - 2) ops = size - 2;
  const uint8_t *op = data + 2;
  const sqli_test::Bytes reply(data + 2 + ops, data + size);
  _sqclrca(sqlitcb);
  sqli_test::FakeAsf fake;
  fake.script_reply(reply, {cut});
  fake.fail_after(reply.size(), -25582, 0, "end of the scripted reply");
  sqli_test::TestConnection t(op != nullptr && ops > 0 && (op[0] & 0x80) != 0 ? 0x200 : 0);
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  std::vector<char> area(600);
  for (size_t i = 0; i < ops; ++i) {
    const int n = op[i] >> 5; /* 0-7 */
    switch (op[i] % 19) {
      case 0:
        (void)_igetbyte(&t.pipe);
        break;
      case 1:
        (void)_igetint(&t.pipe);
        break;
      case 2:
        (void)_igetunsigned(&t.pipe);
        break;
      case 3:
        (void)_igetlong(&t.pipe);
        break;
      case 4:
        (void)_igetpptr(&t.pipe);
        break;
      case 5: {
        dvz_int8_t v {};
        _igetint8(&v, &t.pipe);
        break;
      }
      case 6:
        (void)_igetfloat(&t.pipe);
        break;
      case 7:
        (void)_igetdbl(&t.pipe);
        break;
      case 8: {
        dec_t d {};
        const int len = _igetdecimal(&d, &t.pipe);
        if (len < 0 || len > 65535) fail("decimal length", len);
        if (d.npairs < 0 || d.npairs > DECSIZE) fail("decimal pairs", d.npairs);
        break;
      }
      case 9:
        _igetpbuf(area.data(), n * 37, &t.pipe);
        break;
      case 10:
        _igetbuf(area.data(), n * 71, &t.pipe);
        break;
      case 11: {
        tblob_desc_t b {};
        _igetblob(&b, &t.pipe);
        break;
      }
      case 12:
        _igetpad(&t.pipe);
        break;
      case 13:
        _igoblchars(n * 301, &t.pipe);
        break;
      case 14:
        _igoblints(n * 3, &t.pipe);
        break;
      case 15:
        _igoblint8s(n, &t.pipe);
        break;
      case 16:
        _igobltblob(&t.pipe);
        break;
      case 17:
        (void)_igoblblobs(n, &t.pipe);
        break;
      default:
        _iread(area.data(), n * 83, &t.pipe);
        break;
    }
    check(t.pipe);
  }
  if (ops > 0 && (op[0] & 0x40) != 0) (void)asf_recvbfree(&t.pipe);
  CheckOsInit()->read_failed = 0;
  return 0;
}
