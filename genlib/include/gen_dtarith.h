/*
** gen_dtarith.h: computing with DATETIME and INTERVAL values: the current
** time with its DBTODAY shift, extension to another qualifier, DATETIME
** and DATE, INTERVAL conversion and counts, DATETIME minus DATETIME,
** DATETIME plus INTERVAL, INTERVAL times and by a number.
**
** Errors: -1265 a value that does not fit its first field, -1266
** incompatible qualifiers, -1267 a DATETIME result out of range or an
** impossible date, -1268 an invalid qualifier, -1204 a date out of range;
** the DECIMAL and DATE errors pass through. Results are NULL after an
** error. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_DTARITH_H
#define DVZ_GENLIB_GEN_DTARITH_H

#include <stdint.h>
#include <time.h>

#include "gen_datetime.h"
#include "os_gentcb.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Whole values -------------------------------------------------------------- */

/* The current time in the value's qualifier (0x110D when it is invalid). */
void dtcurrent(dtime_t *value);
/* chkglsinit (its negative result returned), then rdtextend. */
int dtextend(const dtime_t *source, dtime_t *target);
/* rinvcopy into the target's qualifier; returns toerrno. */
int invextend(const intrvl_t *source, intrvl_t *target);
/* The result takes the DATETIME's qualifier; rdtaddinv's status. */
int dtaddinv(const dtime_t *datetime, const intrvl_t *interval, dtime_t *result);
/* dtaddinv of the negated INTERVAL (the caller's record is not written). */
int dtsubinv(const dtime_t *datetime, const intrvl_t *interval, dtime_t *result);
/* a - b into the result's qualifier: rdtsub's error or toerrno. */
int dtsub(const dtime_t *a, const dtime_t *b, intrvl_t *result);
/* The INTERVAL times or by a number, in the result's qualifier: -1268,
** -1265, -1266, the DECIMAL error (-1202 by zero) or toerrno. */
int invmuldec(const intrvl_t *interval, const dec_t *factor, intrvl_t *result);
int invdivdec(const intrvl_t *interval, const dec_t *divisor, intrvl_t *result);
int invmuldbl(const intrvl_t *interval, double factor, intrvl_t *result);
int invdivdbl(const intrvl_t *interval, double divisor, intrvl_t *result);
/* a / b as a double, through a common qualifier when theirs differ. */
int invdivinv(const intrvl_t *a, const intrvl_t *b, double *result);

/* ---- Bare values and their qualifier ----------------------------------------- */

/* Makes *value the current time of every later rdtcurrent. */
void rdtsetcurr(dec_t *value);
/* localtime of clock packed under a qualifier starting at YEAR; 0, or
** -1268 for an invalid qualifier. */
int rdatetime(time_t clock, int qualifier, dec_t *value);
time_t rutccurrent(void);
/* Reads DBTODAY and sets the offset of the block. */
void getdbtoday(gen_tcb *block);
/* Sets the DBTODAY date and today words; returns the block. */
gen_tcb *initdbtoday(void);
/* DATETIME to another qualifier, leading units from the current time;
** 0 or -1268 (toerrno cleared first). */
int rdtextend(const dec_t *source, int source_qual, dec_t *target, int target_qual);
/* The DATE of a DATETIME (NULL gives the NULL DATE): rmdyjul's status. */
int rdttodate(const dec_t *value, int qualifier, int32_t *date);
/* A DATE as a DATETIME of target_qual; the NULL DATE gives NULL. */
void rdatedt(int32_t date, dec_t *target, int target_qual);
/* INTERVAL to another qualifier; status (-1265, -1266, -1268) in toerrno
** only. */
void rinvcopy(const dec_t *source, int source_qual, dec_t *target, int target_qual);
/* The INTERVAL as a count of its last unit. */
int rinvtodec(const dec_t *value, int qualifier, dec_t *count);
/* The inverse of rinvtodec; status (-1265, -1268) in toerrno. */
void rdectoinv(const dec_t *count, dec_t *value, int qualifier);
/* Divides the integer (every integer pair present) in place by divisor;
** the remainder into *remainder. 0, or -1202 for a divisor below 1. */
int divbyint(dec_t *value, int divisor, int *remainder);
/* a - b as an INTERVAL of result_qual. */
int rdtsub(const dec_t *a, int a_qual, const dec_t *b, int b_qual, dec_t *result, int result_qual);
/* The result has the DATETIME's qualifier. */
int rdtaddinv(const dec_t *datetime, int datetime_qual, const dec_t *interval, int interval_qual,
              dec_t *result);

#ifdef __cplusplus
}
#endif

#endif
