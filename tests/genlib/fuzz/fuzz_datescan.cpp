/*
** Fuzz target: DATE text through the DBDATE scanner. The first input byte
** chooses a field order (and an era kind) for fastscan and scanstrmdy,
** which take the order directly, and a picture for rdefmtdate; rstrdate
** reads under the process's format (en_us, DBDATE unset). An input with a
** newline is read as a picture, the newline, then the text, and the
** picture also formats a fixed DATE through rfmtdate. Texts sit in heap
** blocks of exactly their length and the NUL, so that a read past them is
** an address-sanitizer report.
** Must hold: a DATE result is NULL or within -693594..2958464; every
** status is 0 or an error number the DATE functions document.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "fuzz_environment.h"
#include "gen_date.h"

namespace {

constexpr size_t max_text = 2048;

/* The six orders of day (1), month (2) and year (3). */
constexpr int32_t orders[6][3] = {{2, 1, 3}, {1, 2, 3}, {3, 2, 1}, {3, 1, 2}, {2, 3, 1}, {1, 3, 2}};
constexpr const char *pictures[] = {"mm/dd/yyyy",  "dd.mm.yy",    "yyyymmdd",  "mmm dd yyyy",
                                    "yy-mm-dd",    "ddmmyyyy",    "eyy/mm/dd", "yyyy/mm/ddc1",
                                    "gyyyy mm dd", "nyy.mm.ddj1", "dd mmm yy", "mm/dd"};

/* 0 and the errors of the DATE functions, including the mapped locale
** errors of the locale parser they hand fields to. */
constexpr int documented[] = {0,     -1204, -1205, -1206, -1210, -1211, -1212,
                              -1218, -1236, -1237, -1263, -1273, -1276, -23108};

[[noreturn]] void fail(const char *function, const char *what, int status, int32_t date) {
  std::fprintf(stderr, "fuzz_datescan: %s: %s (status %d, date %d)\n", function, what, status,
               date);
  std::abort();
}

void check(const char *function, int status, int32_t date) {
  bool known = false;
  for (int e : documented)
    known = known || e == status;
  if (!known) fail(function, "undocumented status", status, date);
  if (date != DATE_NULL && (date < DATE_MIN || date > DATE_MAX))
    fail(function, "DATE outside the range", status, date);
}

/* A terminated heap copy of exactly length bytes and the NUL. */
std::unique_ptr<char[]> copy(const uint8_t *data, size_t length) {
  std::unique_ptr<char[]> text(new char[length + 1]);
  if (length > 0) std::memcpy(text.get(), data, length);
  text[length] = '\0';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > max_text) return 0;
  const unsigned choice = data[0];
  const int32_t *order = orders[choice % 6];
  const int era_kind = static_cast<int>((choice / 6) % 4);
  const uint8_t *body = data + 1;
  size_t length = size - 1;

  const void *newline = std::memchr(body, '\n', length);
  std::unique_ptr<char[]> picture;
  if (newline != nullptr) {
    size_t picture_length = static_cast<size_t>(static_cast<const uint8_t *>(newline) - body);
    picture = copy(body, picture_length);
    body += picture_length + 1;
    length -= picture_length + 1;
  }
  std::unique_ptr<char[]> text = copy(body, length);

  int32_t date = DATE_NULL;
  check("fastscan", fastscan(&date, order, text.get(), choice & 1), date);
  date = DATE_NULL;
  int16_t mdy[3];
  check("scanstrmdy", scanstrmdy(&date, order, era_kind, text.get(), mdy, 0, 0), date);
  date = DATE_NULL;
  check("scanstrmdy triple", scanstrmdy(&date, order, era_kind, text.get(), mdy, 1, 0), date);
  date = DATE_NULL;
  check("rstrdate", rstrdate(text.get(), &date), date);

  const char *chosen = picture ? picture.get() : pictures[choice % std::size(pictures)];
  date = DATE_NULL;
  check("rdefmtdate", rdefmtdate(&date, chosen, text.get()), date);
  if (picture) {
    std::unique_ptr<char[]> buffer(new char[1024]);
    buffer[0] = '\0';
    int status = rfmtdate(45650, chosen, buffer.get());
    check("rfmtdate", status, DATE_NULL);
    if (status == 0 && strnlen(buffer.get(), 1024) == 1024)
      fail("rfmtdate", "text not terminated", status, 0);
  }
  return 0;
}
