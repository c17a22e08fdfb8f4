/*
** Test-only stand-ins for the value library's datetime services
** (datetime_stub.h). Weak: the value library's own definition of any of
** them takes precedence where it is linked.
*/
#include "datetime_stub.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os_datetime.h"

namespace oslib_datetime {
namespace {
settings current;
}  // namespace

settings &stub() { return current; }
void reset() { current = settings {}; }

}  // namespace oslib_datetime

using oslib_datetime::current;

extern "C" {

__attribute__((weak)) int get_usedtenv(void) { return current.usedtenv; }

__attribute__((weak)) int getdatetimefmt(char **format) {
  ++current.getdatetimefmt_calls;
  if (!current.record_formats || format == nullptr) return -1;
  *format = strdup("%iY-%m-%d %H:%M:%S");
  return *format != nullptr ? 0 : -1;
}

__attribute__((weak)) char *qualtofmt(int qualifier, char *format) {
  (void)format;
  if (!current.record_formats) return nullptr;
  current.qualtofmt_calls.push_back(qualifier);
  char text[8];
  snprintf(text, sizeof text, "q%04x", static_cast<unsigned>(qualifier) & 0xFFFFu);
  return strdup(text);
}

__attribute__((weak)) struct tm *dvz_localtime(const time_t *clock, struct tm *out) {
  return localtime_r(clock, out);
}

/* Ten base-100 pairs: century, year, month, day, hour, minute, second and
** the microseconds as three pairs; the decimal point after the seventh. */
__attribute__((weak)) void rdtcurrent(dtime_t *value) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  const int usec = static_cast<int>(now.tv_usec);
  const int pairs[10] = {(local.tm_year) / 100 + 19,
                         local.tm_year % 100,
                         local.tm_mon + 1,
                         local.tm_mday,
                         local.tm_hour,
                         local.tm_min,
                         local.tm_sec,
                         usec / 10000,
                         usec % 10000 / 100,
                         usec % 100};
  value->dt_qual = 0x130F;
  value->dt_dec.sign = 1;
  value->dt_dec.exponent = 7;
  int n = 10;
  while (n > 0 && pairs[n - 1] == 0)
    --n;
  value->dt_dec.npairs = static_cast<int16_t>(n);
  memset(value->dt_dec.pairs, 0, sizeof value->dt_dec.pairs);
  for (int i = 0; i < n; ++i)
    value->dt_dec.pairs[i] = static_cast<uint8_t>(pairs[i]);
}

}  // extern "C"
