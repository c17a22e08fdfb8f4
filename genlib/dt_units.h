/*
** dt_units.h: the working form of a DATETIME or INTERVAL inside the value
** library: the unit array (one base-100 pair per unit, most significant
** first, right-aligned on the decimal point; YEAR takes two pairs, an odd
** last fraction digit stands in the high half of its pair), its size and
** exponent for a qualifier, and the unit tables. Internal.
**
** A pair of weight 100^k (the SECOND pair has weight 1, the first fraction
** pair 1/100) stands at index exponent - 1 - k of the array. Qualifiers
** that pass _chk_qual may still place a unit outside the array (an odd
** start unit, a digit count too small for the units); every user of
** dt_unit_index checks the index against dt_pair_count before use.
*/
#ifndef DVZ_GENLIB_DT_UNITS_H
#define DVZ_GENLIB_DT_UNITS_H

#include <algorithm>
#include <array>

#include "gen_datetime.h"
#include "gen_errors.h"

/* Radix of each unit, indexed by unit / 2: a YEAR pair, MONTH, DAY (never
** a radix of days), HOUR, MINUTE, SECOND, then the fraction pairs. */
extern const int dtbase[9];
/* The character that follows YEAR, MONTH, DAY, HOUR, MINUTE and SECOND in
** the fixed layout, by unit / 2. */
extern const char dtdelim[];
/* Days per month for months 1-12; index 0 holds 0. */
extern const unsigned char dt_daymon[13];

/* Qualifiers the library uses itself: the current time as the clock gives
** it, the current time by default, and the date part of a DATETIME. */
constexpr int dt_qual_now = TU_ENCODE(19, TU_YEAR, TU_F5); /* 0x130F */
constexpr int dt_qual_now_default = TU_ENCODE(17, TU_YEAR, TU_F3); /* 0x110D */
constexpr int dt_qual_year_to_day = TU_ENCODE(8, TU_YEAR, TU_DAY); /* 0x0804 */
static_assert(dt_qual_now == 0x130F && dt_qual_now_default == 0x110D &&
              dt_qual_year_to_day == 0x0804);

/* Pairs of a value with qualifier q. */
constexpr int dt_pair_count(int q) { return (TU_LEN(q) + (TU_END(q) & 1) + 1) / 2; }
/* Its DECIMAL exponent, in base-100 digits. */
constexpr int dt_exponent(int q) { return (TU_LEN(q) - TU_END(q) + 11) / 2; }
/* Precision of the first field. */
constexpr int dt_first_precision(int q) { return TU_FLEN(q); }

/* The pair count of q as far as a unit array holds it (a qualifier that
** fails the check may claim more). */
constexpr int dt_array_pairs(int q) { return std::clamp(dt_pair_count(q), 0, DT_UNITS_SIZE); }

/* A unit array on the stack. */
using dt_unit_work = std::array<unsigned char, DT_UNITS_SIZE>;

/* Index in the unit array of q of the (low) pair of unit YEAR to SECOND
** (the year-of-century pair for YEAR; the century pair is one before),
** or of fraction pair j when unit is TU_FRAC + j. May lie outside the
** array for a degenerate qualifier. */
constexpr int dt_unit_index(int q, int unit) {
  if (unit >= TU_FRAC) return dt_exponent(q) + (unit - TU_FRAC);
  return dt_exponent(q) - 1 - (TU_SECOND - unit) / 2;
}

/* Last unit of YEAR to SECOND that q holds (its end, or SECOND for a
** fraction end). */
constexpr int dt_last_whole_unit(int q) { return TU_END(q) > TU_SECOND ? TU_SECOND : TU_END(q); }

/* Fraction digits of q (n of an end FRACTION(n), else 0). */
constexpr int dt_fraction_digits(int q) {
  return TU_END(q) > TU_SECOND ? TU_END(q) - TU_SECOND : 0;
}

/* q starts at FRACTION (no whole units). */
constexpr bool dt_starts_at_fraction(int q) { return TU_START(q) > TU_SECOND; }

/* Pair i of a unit array of `pairs` pairs, 0 when i lies outside it. */
inline int dt_get_pair(const unsigned char *units, int pairs, int i) {
  return i >= 0 && i < pairs ? units[i] : 0;
}
/* Stores v as pair i when i lies inside the array; else nothing. */
inline void dt_put_pair(unsigned char *units, int pairs, int i, int v) {
  if (i >= 0 && i < pairs) units[i] = static_cast<unsigned char>(v);
}

extern "C" {
/* Range check of a unit array under qualifier, by chk_dtinv's rules: 0 or
** -1263. */
int dt_check_units(const unsigned char *units, int qualifier, int is_datetime);
/* A DATETIME value repacked under its own qualifier: what rdtextend gives
** when the qualifier does not change (REQUIRES: a valid qualifier). With
** check, its units are first range-checked as chk_dtinv does, and target
** is untouched after -1263. Returns 0, -1263 or decload's status. */
int dt_repack(const dec_t *value, int qualifier, dec_t *target, bool check);
}

/* The environment's DATETIME format for the qualifier's units
** (USE_DTENV), built from the qualifier on first use and kept in the
** environment's table; a null pointer (the format in force) when there is
** no environment or a unit has no slot. */
const char *environment_dtime_format(int qualifier);

#endif
