/*
** A fetch's reply: a describe of a 69-byte row (INTEGER and CHAR(65)),
** 100 tuples, a done and the end code, read by the reply loop through the
** tests' fake association layer into a cursor record (FetBufSize 8192,
** so that the rows fit the fetch buffer); against a hand loop
** over dvz_be.h that walks the same bytes into a plain row buffer. Both
** run in the same program; see RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "dvz_be.h"
#include "fake_asf.h"
#include "reply_record.h"
#include "sqli_context.h"
#include "sqli_globals.h"
#include "sqli_reply.h"
#include "sqli_seams.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

constexpr int row_bytes = 69;
constexpr int rows = 100;

sqli_test::Bytes reply_bytes() {
  sqli_test::Wire w;
  w.i16(8).i16(2).i16(1).i32(0).i16(row_bytes).i16(2).u16(6);
  w.u16(0).i16(0).i16(2).i16(4);
  w.u16(3).i16(4).i16(0).i16(row_bytes - 4);
  w.raw(std::string_view("id\0nm\0", 6));
  const std::string row(row_bytes, 'r');
  for (int i = 0; i < rows; ++i)
    w.i16(14).i16(0).i16(row_bytes).pbuf(row);
  w.i16(15).i16(0).i32(rows).i32(0).i32(0);
  w.i16(12);
  return w;
}

/* The same walk written by hand: codes, the describe's fields, each row
** copied into the buffer, the done's counters. */
void BM_HandLoop(benchmark::State &state) {
  const sqli_test::Bytes bytes = reply_bytes();
  std::vector<char> buffer(static_cast<size_t>(rows) * row_bytes);
  char pool[64];
  for (auto _ : state) {
    const unsigned char *p = bytes.data();
    int buffered = 0;
    int rowsize = 0;
    int32_t counters[3] = {};
    for (bool end = false; !end;) {
      const int code = dvz_ld_be_i16(p);
      p += 2;
      switch (code) {
        case 8: {
          rowsize = dvz_ld_be_i16(p + 8);
          const int cols = dvz_ld_be_i16(p + 10);
          const int pool_len = dvz_ld_be_u16(p + 12);
          p += 14 + cols * 8;
          std::memcpy(pool, p, static_cast<size_t>(pool_len));
          p += pool_len + (pool_len & 1);
          break;
        }
        case 14: {
          const int len = dvz_ld_be_i16(p + 2);
          std::memcpy(buffer.data() + buffered * rowsize, p + 4, static_cast<size_t>(len));
          ++buffered;
          p += 4 + len + (len & 1);
          break;
        }
        case 15:
          for (int i = 0; i < 3; ++i)
            counters[i] = dvz_ld_be_i32(p + 2 + 4 * i);
          p += 14;
          break;
        default:
          end = true;
      }
    }
    benchmark::DoNotOptimize(buffered + counters[0] + pool[0]);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_ReplyLoop(benchmark::State &state) {
  const sqli_test::Bytes bytes = reply_bytes();
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) {
    state.SkipWithError("runtime context (DOVARIZADIR?)");
    return;
  }
  /* 100 rows of 69 bytes must fit the fetch buffer, as the server fills
  ** no more than the client asked for. */
  FetBufSize = 8192;
  sqli_cursor record {};
  /* One association for the run: each iteration is a new request whose
  ** reply the fake delivers again (copied into a received buffer). */
  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t;
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) {
    state.SkipWithError("initpipevbles");
    return;
  }
  tcb->curconn = &t.conn;
  fake.script_reply(bytes);
  for (auto _ : state) {
    fake.rewind();
    _sqclrca(tcb);
    _sqr_messages(&record, 0, tcb);
    if (record.nbuffered != rows || *tcb->sqlcode != 0) {
      state.SkipWithError("reply not read");
      break;
    }
  }
  tcb->curconn = nullptr;
  sqli_test::free_record(&record);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

BENCHMARK(BM_HandLoop);
BENCHMARK(BM_ReplyLoop);

}  // namespace

int main(int argc, char **argv) {
  setenv("DOVARIZADIR", BENCH_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  return 0;
}
