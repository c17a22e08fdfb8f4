/*
** Fuzz target: the unit array of an arbitrary DECIMAL. Input bytes 0 and 1
** are the qualifier (big-endian; inputs whose qualifier is valid for
** neither class are skipped), byte 2 the exponent (-64..63), byte 3 the
** digit count (0-16), byte 4 the sign (-1, 0, 1), then the digit bytes.
** The unit array is exactly the qualifier's pairs, followed by poisoned
** guard bytes, so that a write outside it is an address-sanitizer report.
** Must hold: dtunpack returns the qualifier's exponent; a value that
** belongs to its qualifier comes back pair for pair; the range check, the
** time record and the writers run on the value without touching memory
** outside their stated sizes.
*/
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dt_units.h"
#include "fuzz_environment.h"
#include "gen_datetime.h"

namespace {

constexpr size_t guard_size = 32;
constexpr size_t written_size = 81;

[[noreturn]] void fail(const char *what, int qualifier, const dec_t &d) {
  std::fprintf(stderr, "fuzz_dtunpack: %s (qualifier %04X, exponent %d, npairs %d)\n", what,
               qualifier, d.exponent, d.npairs);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  const int qualifier = data[0] << 8 | data[1];
  const bool datetime = _chk_qual(0, qualifier) == 0;
  const bool interval = _chk_qual(1, qualifier) == 0;
  if (!datetime && !interval) return 0;

  dec_t value;
  std::memset(&value, 0, sizeof value);
  value.exponent = static_cast<int16_t>(data[2] % 128 - 64);
  value.npairs = static_cast<int16_t>(data[3] % (DECSIZE + 1));
  value.sign = static_cast<int16_t>(data[4] % 3 - 1);
  const size_t digits = std::min<size_t>(size - 5, DECSIZE);
  std::memcpy(value.pairs, data + 5, digits);

  const int pairs = dt_pair_count(qualifier);
  std::unique_ptr<unsigned char[]> block(new unsigned char[pairs + guard_size]);
  unsigned char *units = block.get();
  ASAN_POISON_MEMORY_REGION(units + pairs, guard_size);
  const int exponent = dtunpack(&value, qualifier, units);
  ASAN_UNPOISON_MEMORY_REGION(units + pairs, guard_size);
  if (exponent != dt_exponent(qualifier)) fail("not the qualifier's exponent", qualifier, value);
  if (value.exponent == exponent && value.npairs <= pairs) {
    for (int i = 0; i < pairs; ++i)
      if (units[i] != (i < value.npairs ? value.pairs[i] : 0))
        fail("a value of the qualifier did not come back", qualifier, value);
  }

  chk_dtinv(&value, qualifier, datetime ? 1 : 0);
  gl_time_rec record;
  dtdectotm(&record, &value, qualifier);
  std::unique_ptr<char[]> written(new char[written_size]);
  if (datetime) rdtimestr(&value, qualifier, written.get());
  if (interval) rinvstr(&value, qualifier, written.get());
  return 0;
}
