/*
** A bind list of ten values of mixed types (SMALLINT, INTEGER, DATE,
** INT8, CHAR, VARCHAR, FLOAT, SMALLFLOAT, DECIMAL and a NULL INTEGER)
** written by the runtime's bind-list encoder, forty lists a request, into
** send buffers lent by the tests' fake association layer; against a hand
** loop that stores the same bytes over dvz_be.h (and the value library's
** packed DECIMAL) on a plain buffer. Both run in the same program, and the
** two byte streams are compared before either is timed; see RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decimal_value.h"
#include "dvz_be.h"
#include "fake_asf.h"
#include "gen_decimal.h"
#include "gen_types.h"
#include "sqli_bind.h"
#include "sqli_context.h"
#include "sqli_request.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace {

constexpr int lists = 40;
constexpr int send_size = 8192;

/* The host variables of one list. */
struct Hosts {
  int16_t small = 7;
  int32_t integer = 123456;
  int32_t date = 45000;
  dvz_int8_t big {0x89ABCDEF, 0x01234567, 1};
  char text[8] = "abcdefg";
  char varchar[6] = "hello";
  double dbl = 3.25;
  float flt = -1.5F;
  dec_t dec {};
  int32_t null_int = 0;
  int16_t null_ind = -1;
  sqlvar_struct entries[10] {};
  sqlda desc {};

  Hosts() {
    dec = sqli_test::decimal(1, 2, {12, 34, 56});
    set(0, host_type_short, &small);
    set(1, host_type_int, &integer);
    set(2, host_type_date, &date);
    set(3, host_type_int8, &big);
    set(4, host_type_char, text, sizeof text);
    set(5, host_type_varchar, varchar, sizeof varchar);
    set(6, host_type_double, &dbl);
    set(7, host_type_float, &flt);
    set(8, host_type_decimal, &dec, 0x0604);
    set(9, host_type_int, &null_int);
    entries[9].sqlind = &null_ind;
    desc.sqld = 10;
    desc.sqlvar = entries;
  }
  void set(int i, int type, void *data, int32_t len = 0) {
    entries[i].sqltype = static_cast<int16_t>(type);
    entries[i].sqldata = static_cast<char *>(data);
    entries[i].sqllen = len;
  }
};

/* The same list stored by hand; returns the bytes written. */
size_t hand_list(const Hosts &h, unsigned char *p) {
  unsigned char *const start = p;
  auto i16 = [&p](int v) {
    dvz_st_be_i16(static_cast<int16_t>(v), p);
    p += 2;
  };
  auto i32 = [&p](int32_t v) {
    dvz_st_be_i32(v, p);
    p += 4;
  };
  auto lbuf = [&](const char *s, int n) {
    i16(n);
    std::memcpy(p, s, static_cast<size_t>(n));
    p += n;
    if ((n & 1) != 0) *p++ = 0;
  };
  i16(SQ_BIND);
  i16(10);
  i16(1), i16(0), i16(0x0500), i16(h.small);
  i16(2), i16(0), i16(0x0A00), i32(h.integer);
  i16(7), i16(0), i16(0x0A00), i32(h.date);
  i16(17), i16(0), i16(0x1300), i16(h.big.sign), i32(static_cast<int32_t>(h.big.low)),
      i32(static_cast<int32_t>(h.big.high));
  i16(0), i16(0), i16(0), lbuf(h.text, static_cast<int>(std::strlen(h.text)));
  i16(13), i16(0), i16(0), lbuf(h.varchar, static_cast<int>(std::strlen(h.varchar)));
  i16(3), i16(0), i16(0);
  dvz_st_be_double(h.dbl, p);
  p += 8;
  i16(4), i16(0), i16(0);
  dvz_st_be_float(h.flt, p);
  p += 4;
  const int n = h.dec.npairs + 1;
  i16(5), i16(0), i16(0x0604), i16(n);
  stdecimal(&h.dec, p, n);
  p += n;
  if ((n & 1) != 0) *p++ = 0;
  i16(2), i16(-1), i16(0);
  return static_cast<size_t>(p - start);
}

/* One request of the runtime's lists over a fresh fake layer: the bytes
** sent. */
sqli_test::Bytes runtime_request(sqli_tcb *tcb, const Hosts &h) {
  sqli_test::FakeAsf fake;
  fake.set_send_size(send_size);
  sqli_test::TestConnection t;
  if (initpipevbles(&t.pipe) != 0) return {};
  tcb->curconn = &t.conn;
  for (int i = 0; i < lists; ++i)
    _sqs_vs(SQ_BIND, &h.desc, nullptr, tcb);
  _iflushbuff(&t.pipe);
  tcb->curconn = nullptr;
  return fake.sent_bytes();
}

void BM_HandLoop(benchmark::State &state) {
  Hosts h;
  std::vector<unsigned char> buffer(send_size);
  size_t bytes = 0;
  for (auto _ : state) {
    /* The values are read from the host variables, as the encoder reads
    ** them, not folded in as constants. */
    benchmark::DoNotOptimize(&h);
    benchmark::ClobberMemory();
    unsigned char *p = buffer.data();
    for (int i = 0; i < lists; ++i)
      p += hand_list(h, p);
    bytes = static_cast<size_t>(p - buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void BM_BindList(benchmark::State &state) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) {
    state.SkipWithError("runtime context (DOVARIZADIR?)");
    return;
  }
  const Hosts h;
  /* One connection for the run: each iteration writes a request into the
  ** same send buffer, which is then discarded (its position put back), as
  ** the hand loop reuses its buffer. */
  sqli_test::FakeAsf fake;
  fake.set_send_size(send_size);
  sqli_test::TestConnection t;
  if (initpipevbles(&t.pipe) != 0) {
    state.SkipWithError("initpipevbles");
    return;
  }
  const pipe_vbles fresh = t.pipe;
  tcb->curconn = &t.conn;
  size_t bytes = 0;
  for (auto _ : state) {
    t.pipe.outptr = fresh.outptr;
    t.pipe.outleft = fresh.outleft;
    for (int i = 0; i < lists; ++i)
      _sqs_vs(SQ_BIND, &h.desc, nullptr, tcb);
    bytes = static_cast<size_t>(t.pipe.outptr - fresh.outptr);
    benchmark::ClobberMemory();
  }
  tcb->curconn = nullptr;
  if (bytes != static_cast<size_t>(fresh.outleft - t.pipe.outleft)) state.SkipWithError("sent");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

BENCHMARK(BM_HandLoop);
BENCHMARK(BM_BindList);

}  // namespace

int main(int argc, char **argv) {
  setenv("DOVARIZADIR", BENCH_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  /* Both sides must write the same bytes, or the comparison means nothing. */
  sqli_tcb *tcb = CheckGlobInit();
  const Hosts h;
  std::vector<unsigned char> hand(send_size);
  size_t n = 0;
  for (int i = 0; i < lists; ++i)
    n += hand_list(h, hand.data() + n);
  const sqli_test::Bytes sent = tcb != nullptr ? runtime_request(tcb, h) : sqli_test::Bytes {};
  if (sent.size() != n || std::memcmp(sent.data(), hand.data(), n) != 0) {
    std::fprintf(stderr, "the encoder's bytes (%zu) differ from the hand loop's (%zu)\n",
                 sent.size(), n);
    return 1;
  }
  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  return 0;
}
