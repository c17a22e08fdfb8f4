/*
** gen_types.h: the vocabulary of types the client library shares. SQL type
** codes 0-50 describe columns and values on the wire; host type codes
** 100-124 describe the program variables of an embedded-SQL application.
** This header gives both as named constants, the two tables that map one
** set to the other, and the operations that size, align, name and measure
** a type and test or store the NULL form a host variable holds.
**
** A type word carries flags above its low byte: the name and width
** operations look only at the low byte; the others take a plain code, so
** callers strip the flags first. No operation reports an error: unknown
** codes give -1, 0, 1 or the empty string as each entry point says.
** C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_TYPES_H
#define DVZ_GENLIB_GEN_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* SQL type codes (the low byte of a type word). */
enum sql_type_code {
  sql_type_char = 0,
  sql_type_smallint = 1,
  sql_type_integer = 2,
  sql_type_float = 3,
  sql_type_smallfloat = 4,
  sql_type_decimal = 5,
  sql_type_serial = 6,
  sql_type_date = 7,
  sql_type_money = 8,
  sql_type_null = 9,
  sql_type_datetime = 10,
  sql_type_byte = 11,
  sql_type_text = 12,
  sql_type_varchar = 13,
  sql_type_interval = 14,
  sql_type_nchar = 15,
  sql_type_nvarchar = 16,
  sql_type_int8 = 17,
  sql_type_serial8 = 18,
  sql_type_set = 19,
  sql_type_multiset = 20,
  sql_type_list = 21,
  sql_type_row = 22,
  sql_type_collection = 23,
  sql_type_variable_udt = 40,
  sql_type_fixed_udt = 41,
  /* No SQL name, an INT8 host type: counted with the built-in codes up to
  ** 18 wherever a rule sets those apart from the extended types. */
  sql_type_unnamed_builtin = 42,
  sql_type_lvarchar = 43,
  sql_type_sendreceive = 44,
  sql_type_boolean = 45,
  sql_type_impexp = 46,
  sql_type_impexpbin = 47,
  sql_type_dbsendreceive = 49,
  sql_type_srvsendreceive = 50,
  sql_type_max = 50
};

/* Host type codes: the kinds of program variable. */
enum host_type_code {
  host_type_char = 100, /* terminated string */
  host_type_short = 101,
  host_type_int = 102,
  host_type_long = 103, /* 32 bits */
  host_type_float = 104,
  host_type_double = 105,
  host_type_none = 106, /* no variable kind */
  host_type_decimal = 107,
  host_type_fixchar = 108, /* blank-padded, no terminator */
  host_type_string = 109, /* terminated, trailing blanks stripped */
  host_type_date = 110,
  host_type_money = 111,
  host_type_datetime = 112,
  host_type_locator = 113,
  host_type_varchar = 114,
  host_type_interval = 115,
  host_type_file = 116, /* character buffer holding a BYTE value */
  host_type_int8 = 117,
  host_type_collection = 118,
  host_type_lvarchar = 119,
  host_type_fixed_binary = 120,
  host_type_variable_binary = 121,
  host_type_boolean = 122,
  host_type_row = 123,
  host_type_lvarchar_ptr = 124,
  host_type_min = 100,
  host_type_max = 124
};

/* SQL code -> host code (51 entries; -1 for none, 0 for 49 and 50). */
extern const int16_t sqlctype[sql_type_max + 1];
/* Host code - 100 -> SQL code (25 entries; the row of 102 holds 1). */
extern const int16_t sqlstype[host_type_max - host_type_min + 1];
/* The NULL form of float and double variables: eight bytes 0xFF. */
extern const unsigned char fltnull[8];

/* SQL code to host code: 102 gives 103; codes outside 0-50 come back
** unchanged; else the sqlctype entry. */
int rtoctype(int code);
/* Host code to SQL code: 0-50 unchanged; 102 gives 2; 100-124 their
** sqlstype entry; anything else -1. */
int rtosqltype(int code);
/* Storage size in bytes of a host or SQL type with length word len; 0 for
** a code without a size. */
int rtypmsize(int code, int len);
/* offset rounded up to the type's alignment (1 for an unknown code); 0
** for the types that declare their own alignment (40, 41, 120, 121). */
int rtypalign(int offset, int code);
/* Name of an SQL type by the low byte of code; "" when it has none. Never
** NULL. */
const char *rtypname(int code);
/* rtypname(code), or when empty the name of a built-in extended type by
** the low byte of xid; "" when neither has one. */
const char *dvz_typename(int code, int xid);
/* SQL code of a type keyword, upper-casing text in place through the
** locale's case map; -1 for NULL, an unknown keyword or the empty text. */
int rstr2type(char *text);
/* Display width of a value of an SQL type with length word len; 0 when
** the locale environment cannot be initialised or the low byte is above
** 45. */
int rtypwidth(int code, int len);
/* Display width of a DATE in the current locale environment; 0 when the
** environment cannot be initialised or has no date format. */
int _datdigits(void);
/* 1 when the variable at p holds the NULL form of its type, else 0. SQL
** codes 0-50 are mapped to host codes first. */
int risnull(int code, const char *p);
/* Stores the NULL form of the type at p (nothing for types without one);
** returns 0. */
int rsetnull(int code, char *p);

#ifdef __cplusplus
}
#endif

#endif
