/*
** Fuzz target: formatted DATETIME text. An input is a 16-bit qualifier, an
** output size byte, then a format and a text separated by the first NUL
** byte (no NUL: all format, empty text). Format and text are copied into
** heap blocks of exactly their length plus the terminator, and outputs
** into blocks of exactly their stated size, so that a read past a text or
** a write past an output is an address-sanitizer report.
**
** Must hold: only the Part's error numbers (and those of dtextend, which
** the conversions pass on); a parsed value of a well-formed DATETIME
** qualifier passes chk_dtinv; a written
** text holds at most its size in characters; the qualifier of a format is
** 0, -1275 or a valid DATETIME qualifier; an expansion has the length
** expandformat reported and is cut at the size it is given.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "fuzz_environment.h"
#include "gen_datetime.h"
#include "gen_dtformat.h"

namespace {

constexpr size_t max_input = 512;

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_dtformat: %s (%d)\n", what, value);
  std::abort();
}

bool one_of(int status, std::initializer_list<int> allowed) {
  for (int a : allowed)
    if (status == a) return true;
  return false;
}

/* The Part's errors, its table's mapped errors and dtextend's. */
bool allowed_error(int status) {
  return one_of(status, {-1211, -1236, -1237, -1263, -1271, -1272, -1273, -1275, -1276, -1277,
                         -23108, -1204, -1265, -1266, -1267, -1268});
}

/* A heap copy of bytes with a NUL after them and nothing more. */
std::unique_ptr<char[]> terminated(const uint8_t *bytes, size_t n) {
  std::unique_ptr<char[]> copy(new char[n + 1]);
  if (n > 0) std::memcpy(copy.get(), bytes, n);
  copy[n] = '\0';
  return copy;
}

/* A DATETIME qualifier as the type has them: start and end are unit
** codes and the first field has its natural width (_chk_qual looks at
** neither). */
bool unit_codes(int qualifier) {
  const int start = TU_START(qualifier);
  const int end = TU_END(qualifier);
  const int natural = start == TU_YEAR ? 4 : 2;
  return start % 2 == 0 && start <= TU_FRAC && (end % 2 == 0 || end > TU_SECOND) &&
         (start == TU_FRAC || TU_FLEN(qualifier) == natural);
}

void check_qualifier(const char *format) {
  const int q = getfmtqual(format);
  if (q == 0 || q == -1275) return;
  if (q < 0) fail("getfmtqual error", q);
  if (_chk_qual(0, q) != 0) fail("getfmtqual gave an invalid qualifier", q);
}

void check_normalise(const char *format) {
  for (int output : {0, 1}) {
    char *out = nullptr;
    int era = -1;
    const int rc = dbtime_to_gl_date(format, output, &out, &era, 1);
    if (rc == 0) {
      if (out == nullptr) fail("normalised format missing", output);
      if (era < 0 || era > 2) fail("era kind", era);
      std::free(out);
    } else if (!one_of(rc, {-1211, -1272, -1275, -1276})) {
      fail("dbtime_to_gl_date error", rc);
    }
  }
}

void check_expand(const char *format, int size) {
  const int length = expandformat(format, nullptr, 0);
  if (length < 0) {
    if (!one_of(length, {-1211, -23108})) fail("expandformat error", length);
    return;
  }
  std::unique_ptr<char[]> whole(new char[static_cast<size_t>(length) + 1]);
  if (expandformat(format, whole.get(), length + 1) != length) fail("expansion length", length);
  if (std::strlen(whole.get()) != static_cast<size_t>(length)) fail("expansion text", length);
  if (size > 0) {
    std::unique_ptr<char[]> cut(new char[static_cast<size_t>(size)]);
    if (expandformat(format, cut.get(), size) != length) fail("cut expansion length", size);
    const size_t kept = std::strlen(cut.get());
    if (kept >= static_cast<size_t>(size) || kept > static_cast<size_t>(length))
      fail("cut expansion overran", size);
    if (std::memcmp(cut.get(), whole.get(), kept) != 0) fail("cut expansion differs", size);
  }
}

void check_cut(int qualifier, char *format) {
  std::free(qualtofmt(qualifier, format));
  std::free(qualtofmt(qualifier, nullptr));
}

void check_write(const dtime_t &value, const char *format, int size) {
  std::unique_ptr<char[]> out(new char[static_cast<size_t>(size) + 1]);
  const int rc = dttofmtasc(&value, out.get(), size, format);
  if (rc != 0) {
    if (!allowed_error(rc)) fail("dttofmtasc error", rc);
    return;
  }
  if (std::strlen(out.get()) > static_cast<size_t>(size)) fail("dttofmtasc overran", size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size > max_input) return 0;
  const int qualifier = data[0] << 8 | data[1];
  const int out_size = data[2] & 0x3F;
  const bool use_format_in_force = (data[2] & 0x40) != 0;
  data += 3;
  size -= 3;
  const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
  const size_t format_length = nul != nullptr ? static_cast<size_t>(nul - data) : size;
  const size_t text_length = nul != nullptr ? size - format_length - 1 : 0;
  std::unique_ptr<char[]> format = terminated(data, format_length);
  std::unique_ptr<char[]> text = terminated(nul != nullptr ? nul + 1 : data, text_length);
  const char *parse_format = use_format_in_force ? nullptr : format.get();

  check_qualifier(format.get());
  check_normalise(format.get());
  check_expand(format.get(), out_size);
  check_cut(qualifier, format.get());

  dtime_t value {};
  value.dt_qual = static_cast<uint16_t>(qualifier);
  const int rc = dtcvfmtasc(text.get(), parse_format, &value);
  if (rc == 0) {
    if (value.dt_dec.sign != -1 && unit_codes(qualifier) &&
        chk_dtinv(&value.dt_dec, qualifier, 1) != 0)
      fail("parsed value out of range", qualifier);
    check_write(value, format.get(), out_size);
  } else if (!allowed_error(rc)) {
    fail("dtcvfmtasc error", rc);
  }

  dtime_t fixed {};
  fixed.dt_qual = TU_ENCODE(19, TU_YEAR, TU_F5);
  if (dtcvasc("2024-02-29 23:59:58.12345", &fixed) != 0) fail("fixed value", 0);
  check_write(fixed, parse_format, out_size);
  return 0;
}
