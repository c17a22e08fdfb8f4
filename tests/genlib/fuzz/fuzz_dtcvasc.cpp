/*
** Fuzz target: DATETIME and INTERVAL from fixed-layout text. Input bytes 0
** and 1 are the qualifier (big-endian, any 16-bit value), bit 0 of byte 2
** chooses INTERVAL (incvasc) or DATETIME (dtcvasc); the rest is the text,
** NUL-terminated in a heap block of exactly its size, so that a read past
** the NUL is an address-sanitizer report. Must hold: only the parser's
** error numbers; a parsed value passes chk_dtinv and is written by
** rdtimestr (rinvstr) into 81 heap bytes, and, under a qualifier of the
** data model, that text parses to the same value.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_environment.h"
#include "gen_datetime.h"
#include "gen_decimal.h"

namespace {

constexpr size_t max_text = 256;
constexpr size_t written_size = 81;

[[noreturn]] void fail(const char *what, int qualifier, int status, const char *text) {
  std::fprintf(stderr, "fuzz_dtcvasc: %s (qualifier %04X, status %d, text \"%s\")\n", what,
               qualifier, status, text);
  std::abort();
}

bool known_status(int status) {
  switch (status) {
    case 0:
    case -1204:
    case -1205:
    case -1206:
    case -1218:
    case -1261:
    case -1262:
    case -1263:
    case -1264:
    case -1268:
    case -1271:
      return true;
    default:
      return false;
  }
}

/* The qualifier describes a value of the data model: an even start unit
** (or FRACTION), and for a DATETIME the first field's natural width (4 for
** YEAR, else 2). Others pass the qualifier check but have no fixed layout
** that holds every value they parse (a DATETIME YEAR(3) reads "1" as
** 2001 and writes it as 001), so only they skip the round trip. */
bool model_qualifier(int qualifier, bool interval) {
  const int start = TU_START(qualifier);
  if (start % 2 != 0 && start != TU_FRAC) return false;
  if (interval) return true;
  return TU_FLEN(qualifier) == (start == TU_YEAR ? 4 : 2);
}

bool same_value(const dec_t &a, const dec_t &b) {
  if (a.sign != b.sign) return false;
  if (a.sign == -1) return true;
  return a.exponent == b.exponent && a.npairs == b.npairs &&
         std::memcmp(a.pairs, b.pairs, static_cast<size_t>(a.npairs)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size - 3 > max_text) return 0;
  const int qualifier = data[0] << 8 | data[1];
  const bool interval = (data[2] & 1) != 0;
  const size_t length = size - 3;
  std::unique_ptr<char[]> text(new char[length + 1]);
  std::memcpy(text.get(), data + 3, length);
  text[length] = '\0';
  if (std::strlen(text.get()) != length) return 0;

  dtime_t value;
  std::memset(&value, 0xA5, sizeof value);
  value.dt_qual = static_cast<uint16_t>(qualifier);
  const int status = interval ? incvasc(text.get(), reinterpret_cast<intrvl_t *>(&value))
                              : dtcvasc(text.get(), &value);
  if (!known_status(status)) fail("unexpected status", qualifier, status, text.get());
  if (status != 0 || value.dt_dec.sign == -1) return 0;

  if (chk_dtinv(&value.dt_dec, qualifier, interval ? 0 : 1) != 0)
    fail("parsed value fails the range check", qualifier, status, text.get());
  std::unique_ptr<char[]> written(new char[written_size]);
  const int wrote = interval ? rinvstr(&value.dt_dec, qualifier, written.get())
                             : rdtimestr(&value.dt_dec, qualifier, written.get());
  if (wrote != 0) fail("writing a parsed value failed", qualifier, wrote, text.get());
  if (!model_qualifier(qualifier, interval)) return 0;
  dec_t again;
  std::memset(&again, 0x5A, sizeof again);
  const int reread = interval ? rstrinv(written.get(), &again, qualifier)
                              : rstrdtime(written.get(), &again, qualifier);
  if (reread != 0) fail("the written text does not parse", qualifier, reread, written.get());
  if (!same_value(value.dt_dec, again))
    fail("the written text parses to another value", qualifier, reread, written.get());
  return 0;
}
