/*
** value_errors.h: the error numbers of the value library's number text,
** INT8, value conversions, column forms, host variables, display text and
** MATCHES and LIKE.
** This header owns them; every module of the value library that raises
** one of these numbers names it from here. Internal: callers outside the
** library see the numbers in the public headers' comments.
*/
#ifndef DVZ_GENLIB_VALUE_ERRORS_H
#define DVZ_GENLIB_VALUE_ERRORS_H

enum value_error {
  value_err_bad_char = -202, /* a byte sequence that is no character */
  value_err_no_memory = -406, /* also: no general control block */
  value_err_bad_format = -415, /* a format refused or failed */
  value_err_blob = -608, /* BYTE or TEXT where a scalar is needed */
  value_err_remainder_by_zero = -647,
  value_err_host_memory = -837, /* a host variable's storage */
  value_err_overflow = -1200, /* a DECIMAL too large */
  value_err_underflow = -1201, /* a DECIMAL too small */
  value_err_divide_by_zero = -1202,
  value_err_not_character = -1203, /* a MATCHES or LIKE operand */
  value_err_field_short = -1207, /* converted text longer than its field */
  value_err_date_range = -1210,
  value_err_list_memory = -1211, /* a compiled pattern, a date format copy */
  value_err_text = -1213, /* malformed number text */
  value_err_smallint = -1214, /* beyond 16 bits */
  value_err_integer = -1215, /* beyond 32 bits */
  value_err_exponent = -1216, /* malformed exponent */
  value_err_smallfloat = -1222, /* outside the SMALLFLOAT range */
  value_err_not_number = -1223, /* NaN, infinity, exponent out of range */
  value_err_not_null = -1225, /* NULL into a NOT NULL column */
  value_err_precision = -1226,
  value_err_room = -1235, /* a character host variable too short */
  value_err_no_conversion = -1260,
  value_err_locator_type = -1269,
  value_err_buffer_short = -1273,
  value_err_bad_escape = -1278, /* in an ANSI database */
  value_err_too_long = -1279, /* in an ANSI database */
  value_err_int8_overflow = -1284,
  value_err_no_handler = -1285,
  value_err_binary_long = -1821,
  value_err_collection_kind = -9602,
  value_err_no_locale = -23108 /* the locale library raised no error number */
};

#endif
