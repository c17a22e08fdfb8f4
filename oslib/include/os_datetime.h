/*
** os_datetime.h: the five datetime services of the value library that the
** client environment calls: whether USE_DTENV is in effect and the
** per-qualifier DATETIME formats (for a locale environment's format
** table), and the current date and time (for the locale library's
** current-date and current-time host callbacks). oslib references them
** and defines none; the value library defines them.
**
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_DATETIME_H
#define DVZ_OSLIB_OS_DATETIME_H

#include <time.h>

#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Non-zero when USE_DTENV is exactly "1" (read once per process). */
int get_usedtenv(void);

/* Points *format at the DATETIME display format in force (allocated);
** 0 or a negative error. */
int getdatetimefmt(char **format);

/* A newly allocated format covering only the units of the qualifier, taken
** from format or, when it is NULL, the one in force; NULL on failure. */
char *qualtofmt(int qualifier, char *format);

/* The current time as a YEAR TO FRACTION(5) value (qualifier 0x130F),
** DBTODAY and a fixed current time applied. */
void rdtcurrent(dtime_t *value);

/* localtime of *clock copied into *out (its first nine words); out, or
** NULL when localtime fails. */
struct tm *dvz_localtime(const time_t *clock, struct tm *out);

#ifdef __cplusplus
}
#endif

#endif
