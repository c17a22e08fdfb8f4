/*
** Test-only stand-ins for the value library's five datetime services
** (os_datetime.h), so that the client environment's own tests choose what
** they answer. Weak: linked before the value library, they serve where
** nothing else pulls the real ones in. Never linked into a production
** target.
**
** get_usedtenv answers `usedtenv` (0 by default); getdatetimefmt and
** qualtofmt fail unless `record_formats` is set, when getdatetimefmt gives
** "%iY-%m-%d %H:%M:%S" and qualtofmt records its qualifier and returns the
** text "q" followed by the qualifier in four hexadecimal digits;
** rdtcurrent packs the local time of gettimeofday as YEAR TO FRACTION(5);
** dvz_localtime is localtime_r.
*/
#ifndef DVZ_TESTS_OSLIB_DATETIME_STUB_H
#define DVZ_TESTS_OSLIB_DATETIME_STUB_H

#include <vector>

namespace oslib_datetime {

struct settings {
  int usedtenv = 0;
  bool record_formats = false;
  std::vector<int> qualtofmt_calls;
  int getdatetimefmt_calls = 0;
};

/* The settings the stand-ins read; reset() restores the defaults. */
settings &stub();
void reset();

}  // namespace oslib_datetime

#endif
