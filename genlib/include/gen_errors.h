/*
** gen_errors.h: the error numbers of the value library. This header owns
** every number the library raises beyond those it shares with the client
** environment (memory, characters, date formats and the locale:
** os_errors.h, included here); every module names them from here and no
** file spells them again.
*/
#ifndef DVZ_GENLIB_GEN_ERRORS_H
#define DVZ_GENLIB_GEN_ERRORS_H

#include "os_errors.h"

enum gen_error {
  /* Values, number text, INT8, columns, host variables and display. */
  value_err_bad_format = -415, /* a format refused or failed */
  value_err_blob = -608, /* BYTE or TEXT where a scalar is needed */
  value_err_remainder_by_zero = -647,
  value_err_host_memory = -837, /* a host variable's storage */
  value_err_overflow = -1200, /* a DECIMAL too large */
  value_err_underflow = -1201, /* a DECIMAL too small */
  value_err_divide_by_zero = -1202,
  value_err_not_character = -1203, /* a MATCHES or LIKE operand */
  date_err_year = -1204,
  date_err_month = -1205,
  date_err_day = -1206,
  value_err_field_short = -1207, /* converted text longer than its field */
  value_err_date_range = -1210,
  value_err_text = -1213, /* malformed number text */
  value_err_smallint = -1214, /* beyond 16 bits */
  value_err_integer = -1215, /* beyond 32 bits */
  value_err_exponent = -1216, /* malformed exponent */
  value_err_smallfloat = -1222, /* outside the SMALLFLOAT range */
  value_err_not_number = -1223, /* NaN, infinity, exponent out of range */
  value_err_not_null = -1225, /* NULL into a NOT NULL column */
  value_err_precision = -1226,
  value_err_room = -1235, /* a character host variable too short */
  dtfmt_err_era_name = -1236, /* an era name not found */
  dtfmt_err_era = -1237, /* an era that holds no such date */
  value_err_no_conversion = -1260,

  /* DATETIME and INTERVAL text, checks and arithmetic. */
  dt_err_first_field = -1261, /* too many digits in the first field */
  dt_err_not_numeric = -1262, /* a non-digit or a missing field */
  dt_err_range = -1263, /* a unit out of range */
  dt_err_extra = -1264, /* characters after the value */
  dt_err_overflow = -1265, /* a first field too large for its qualifier */
  dt_err_qualifiers = -1266, /* qualifiers without a common order (YEAR-MONTH
                             ** against DAY-FRACTION), a negation of a type
                             ** that has none */
  dt_err_result_range = -1267, /* a computed date out of range */
  dt_err_qualifier = -1268, /* an invalid qualifier */
  value_err_locator_type = -1269,
  dt_err_no_point = -1271, /* a fraction-only value without its point */

  /* Formatted DATETIME, INTERVAL and picture text. */
  dtfmt_err_argument = -1272, /* missing text or argument */
  value_err_buffer_short = -1273, /* missing or too small output */
  dtfmt_err_modifier = -1275, /* an invalid width, precision or FRACTION digit */
  dtfmt_err_format = -1276, /* a malformed format or directive */
  dtfmt_err_no_match = -1277, /* text that does not match the format */
  value_err_bad_escape = -1278, /* in an ANSI database */
  value_err_too_long = -1279, /* in an ANSI database */
  value_err_int8_overflow = -1284,
  value_err_no_handler = -1285,
  coll_err_stored_form = -1815, /* a stored collection or row form refused */
  value_err_binary_long = -1821,
  vrn_err_no_equivalent = -5853,
  vrn_err_unknown = -5854,
  vrn_err_output = -5855,

  /* Collections and rows. */
  value_err_collection_kind = -9602,
  coll_err_present = -9874, /* the element is in the set already */
  coll_err_bad_form = -9875,
  coll_err_next_only = -9944,
  coll_err_no_descriptor = -9969,
  coll_err_not_row = -9972,
  coll_err_fixed_size = -9973,
  coll_err_row_delete = -9974,
  coll_err_null = -9976,
  coll_err_insert_null = -9978,
  coll_err_update_null = -9979,
  coll_err_not_list = -9980,
  coll_err_delete_busy = -9981,
  coll_err_update_busy = -9982,
  coll_err_not_allowed = -9983,
  coll_err_cursor_open = -9984,
  coll_err_bad_log = -9986,
  coll_err_already_open = -9987,
  coll_err_row_cardinality = -9989
};

#endif
