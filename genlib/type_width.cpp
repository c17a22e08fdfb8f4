/*
** type_width.cpp: the display width of a value of an SQL type, as the
** runtime and the display-text routines size their columns. Widths of
** DECIMAL, MONEY and DATE depend on the current locale environment (its
** numeric and monetary conventions and date format); DATETIME on the
** DATETIME format when one is in force.
**
** Calls the client environment (locale initialisation, conventions,
** variables) and the locale library's format expansion. Nothing fails:
** a locale that cannot be initialised gives width 0.
*/
#include <cstdint>

#include "gen_dectext.h"
#include "gen_types.h"
#include "gl_numbers.h"
#include "number_conventions.h"
#include "os_env.h"
#include "os_glsenv.h"
#include "os_lconv.h"

namespace {

constexpr int scale_floating = 255;
constexpr int fraction_end = 12; /* every FRACTION end unit counts as this */

/* Width of a DATETIME or INTERVAL qualifier's digits and separators. */
int qualifier_width(int qualifier) {
  int digits = (qualifier >> 8) & 0xFF;
  int start = (qualifier >> 4) & 0xF;
  int end = qualifier & 0xF;
  if (end > 10) end = fraction_end;
  return digits + (end - start) / 2 + (start == fraction_end ? 1 : 0);
}

/* The digits' width beyond the precision: a floating scale may need an
** exponent, a scale equal to the precision a leading zero. */
int point_extra(int precision, int scale) {
  if (scale == scale_floating) return 6;
  return precision != scale ? 1 : 2;
}

}  // namespace

extern "C" {

int _datdigits(void) {
  if (chkglsinit() != 0) return 0;
  /* The format in force is the state block's. Its present flag marks only
  ** a DBDATE or GL_DATE format; the locale's own (en_us's %m/%d/%iY among
  ** them) is stored without it and still has a width. */
  const gls_env *env = CheckGlsEnv();
  const char *format = env->state != nullptr ? env->state->date_format : nullptr;
  if (format == nullptr) return 0;
  int width = gl_mbsfmtexpand(env->locale, 1, reinterpret_cast<const unsigned char *>(format));
  return width < 0 ? 0 : width;
}

int rtypwidth(int code, int len) {
  code &= 0xFF;
  if (code > sql_type_boolean) return 0;
  if (chkglsinit() != 0) return 0;
  int precision = (len >> 8) & 0xFF;
  int scale = len & 0xFF;
  switch (code) {
    case sql_type_char:
    case sql_type_byte:
    case sql_type_text:
    case sql_type_nchar:
    case sql_type_set:
    case sql_type_multiset:
    case sql_type_list:
    case sql_type_row:
    case sql_type_collection:
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
    case sql_type_lvarchar:
      return len;
    case sql_type_varchar:
    case sql_type_nvarchar:
      return len <= 254 ? len : 255;
    case sql_type_decimal: {
      const gls_lconv &lc = dvz_genlib::conventions();
      return precision + lc.decimal_point_width + point_extra(precision, scale);
    }
    case sql_type_money: {
      const gls_lconv &lc = dvz_genlib::conventions();
      int extra = precision != scale ? 1 : 2;
      return precision + rfrontlen() + lc.mon_decimal_point_width + rbacklen() + extra;
    }
    case sql_type_date:
      return _datdigits();
    case sql_type_datetime:
      if (get_usedtenv() != 0) return _dtimedigits();
      if (ggetenv("GL_DATETIME") != nullptr) return 80;
      return qualifier_width(len);
    case sql_type_interval:
      return qualifier_width(len) + 1;
    case sql_type_int8:
    case sql_type_serial8:
      return 20;
    case sql_type_float:
    case sql_type_smallfloat:
      return 14;
    case sql_type_integer:
    case sql_type_serial:
      return 11;
    case sql_type_smallint:
      return 6;
    case sql_type_boolean:
      return 1;
    default:
      return 0;
  }
}

}  // extern "C"
