/*
** A 4 KiB request of mixed fields (i16, i32, an odd-length lbuf and a
** DECIMAL, repeated) written with the wire primitives into send buffers
** lent by the tests' fake association layer, then read back with the
** readers from the same bytes delivered as a reply; against a hand loop
** that stores and loads the same fields over dvz_be.h (and the value
** library's packed DECIMAL) on a plain 4 KiB buffer. Both run in the same
** program; see RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

#include "decimal_value.h"
#include "dvz_be.h"
#include "fake_asf.h"
#include "gen_decimal.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace {

constexpr int request_bytes = 4096;
constexpr char text[] = "abcdefg"; /* 7 bytes: the lbuf takes a pad */
constexpr int text_len = 7;
/* One group: i16 (2), i32 (4), lbuf (2 + 7 + 1), DECIMAL of 3 pairs (2 + 4). */
constexpr int group_bytes = 2 + 4 + 2 + text_len + 1 + 2 + 4;
constexpr int groups = request_bytes / group_bytes;

dec_t sample_decimal() { return sqli_test::decimal(1, 2, {12, 34, 56}); }

void BM_HandLoop(benchmark::State &state) {
  std::array<unsigned char, request_bytes> buffer {};
  const dec_t d = sample_decimal();
  for (auto _ : state) {
    unsigned char *p = buffer.data();
    for (int g = 0; g < groups; ++g) {
      dvz_st_be_i16(static_cast<int16_t>(g), p);
      dvz_st_be_i32(g * 1000, p + 2);
      dvz_st_be_u16(text_len, p + 6);
      std::memcpy(p + 8, text, text_len);
      p[8 + text_len] = 0;
      dvz_st_be_u16(4, p + 9 + text_len);
      stdecimal(&d, p + 11 + text_len, 4);
      p += group_bytes;
    }
    benchmark::ClobberMemory();
    int64_t sum = 0;
    const unsigned char *q = buffer.data();
    char back[text_len];
    dec_t r {};
    for (int g = 0; g < groups; ++g) {
      sum += dvz_ld_be_i16(q) + dvz_ld_be_i32(q + 2);
      const int n = dvz_ld_be_u16(q + 6);
      std::memcpy(back, q + 8, static_cast<size_t>(n));
      const int dn = dvz_ld_be_u16(q + 9 + text_len);
      lddecimal(q + 11 + text_len, dn, &r);
      sum += back[0] + r.npairs;
      q += group_bytes;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * groups * group_bytes);
}

void BM_WirePrimitives(benchmark::State &state) {
  const dec_t d = sample_decimal();
  for (auto _ : state) {
    sqli_test::FakeAsf fake;
    fake.set_send_size(request_bytes);
    sqli_test::TestConnection t;
    if (initpipevbles(&t.pipe) != 0) {
      state.SkipWithError("initpipevbles");
      break;
    }
    for (int g = 0; g < groups; ++g) {
      _iputint(g, &t.pipe);
      _iputlong(g * 1000, &t.pipe);
      _iputlbuf(text, text_len, &t.pipe);
      _iputdecimal(&d, &t.pipe);
    }
    if (_iflushbuff(&t.pipe) != 0) {
      state.SkipWithError("flush");
      break;
    }
    fake.script_reply(fake.sent_bytes());
    int64_t sum = 0;
    char back[text_len];
    dec_t r {};
    for (int g = 0; g < groups; ++g) {
      sum += _igetint(&t.pipe) + _igetlong(&t.pipe);
      const int n = _igetunsigned(&t.pipe);
      _igetpbuf(back, n, &t.pipe);
      _igetdecimal(&r, &t.pipe);
      sum += back[0] + r.npairs;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * groups * group_bytes);
}

BENCHMARK(BM_HandLoop);
BENCHMARK(BM_WirePrimitives);

}  // namespace

BENCHMARK_MAIN();
