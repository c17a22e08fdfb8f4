/*
** value_builders.h: typed values (`value_t`) for the tests of the
** conversions, column forms, host variables and display text. A number
** carries the precision word its column reader would give it, so a built
** value looks like a fetched one.
*/
#ifndef DVZ_TESTS_GENLIB_VALUE_BUILDERS_H
#define DVZ_TESTS_GENLIB_VALUE_BUILDERS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_types.h"
#include "gen_value.h"
#include "int8_values.h"

namespace value_test {

inline value_t of_type(int type) {
  value_t v {};
  v.vtype = static_cast<int16_t>(type);
  return v;
}

/* A text (or opaque) value of length bytes at text, which it points to. */
inline value_t text_value(int type, const char *text, size_t length) {
  value_t v = of_type(type);
  v.vptr = const_cast<char *>(text);
  v.vlen = static_cast<int32_t>(length);
  return v;
}
inline value_t text_value(int type, const char *text) {
  return text_value(type, text, std::strlen(text));
}

/* A NULL of the type (BYTE and TEXT with their NULL descriptor). */
inline value_t null_value(int type) {
  value_t v = of_type(type);
  v.vind = -1;
  if (type == sql_type_byte || type == sql_type_text) nullblobval(&v, type);
  return v;
}

/* SMALLINT, INTEGER, SERIAL or DATE. */
inline value_t int_value(int type, int32_t n) {
  value_t v = of_type(type);
  v.vint = n;
  v.vprec = type == sql_type_smallint ? 0x0500 : 0x0A00;
  return v;
}

inline value_t double_value(double d) {
  value_t v = of_type(sql_type_float);
  v.vdouble = d;
  v.vprec = 0x10FF;
  return v;
}

inline value_t float_value(float f) {
  value_t v = of_type(sql_type_smallfloat);
  v.vfloat = f;
  v.vprec = 0x08FF;
  return v;
}

/* DATE of a month, day and year. */
inline value_t date_value(int month, int day, int year) {
  int32_t n = 0;
  const int16_t mdy[3] = {static_cast<int16_t>(month), static_cast<int16_t>(day),
                          static_cast<int16_t>(year)};
  EXPECT_EQ(rmdyjul(mdy, &n), 0);
  return int_value(sql_type_date, n);
}

/* DECIMAL or MONEY from its text; precision -1 takes the value's own. */
inline value_t decimal_value(int type, const char *text, int precision = -1) {
  value_t v = of_type(type);
  EXPECT_EQ(deccvasc(text, static_cast<int>(std::strlen(text)), &v.vdec), 0) << text;
  v.vprec = static_cast<int16_t>(precision == -1 ? dec2prec(&v.vdec) : precision);
  return v;
}

/* INT8 or SERIAL8. */
inline value_t int8_value(int type, int64_t n) {
  value_t v = of_type(type);
  v.vint8 = int8_test::make(n);
  v.vprec = 0x1300;
  return v;
}

/* DATETIME or INTERVAL of the qualifier from its text. */
inline value_t time_value(int type, const char *text, int qualifier) {
  value_t v = of_type(type);
  v.vprec = static_cast<int16_t>(qualifier);
  const int status = type == sql_type_datetime ? rstrdtime(text, &v.vdec, qualifier)
                                               : rstrinv(text, &v.vdec, qualifier);
  EXPECT_EQ(status, 0) << text;
  return v;
}

}  // namespace value_test

#endif
