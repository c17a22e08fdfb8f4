/*
** format_internal.h: what the number, monetary and time formatters and
** parsers share: the "%" directive scanner, the integer field writer and
** reader, grouping arithmetic, the wide-to-multibyte result conversion,
** and the ASCII helpers of the number conversions. Not part of the
** library's interface.
*/
#ifndef DVZ_GLSLIB_FORMAT_INTERNAL_H
#define DVZ_GLSLIB_FORMAT_INTERNAL_H

#include <cstdarg>
#include <cstdint>

#include "gl_chars.h"
#include "gl_locale.h"

/* Bits of a directive's flags word. */
enum : uint32_t {
  GL_FMT_GROUP = 1, /* "'" */
  GL_FMT_LEFT = 2, /* "-" */
  GL_FMT_PLUS = 4, /* "+" */
  GL_FMT_SPACE = 8, /* " " */
  GL_FMT_ZERO = 16, /* "0" */
  GL_FMT_UPPER = 128, /* conversion "X" */
  GL_FMT_ALT = 256, /* "#" */
  GL_FMT_ARGS = 512, /* the caller passes an argument list */
  GL_FMT_SUPPRESS = 1024 /* "*" width without argument list */
};

/* Largest width or precision a directive yields: larger digit strings
** saturate here, and the field writers then refuse them (error 14). */
#define GL_FMT_NUMBER_LIMIT 0x7fffffff

extern "C" {

/* Reads the position, flags, width and precision of one directive, *cursor
** standing just after the "%"; advances *cursor past the precision. The
** caller presets *width (0), *precision (-1), *justification and *fill.
** position may be NULL (a position is then read and not reported); args is
** the argument list or NULL. A "*" precision takes an int from args when
** flag GL_FMT_ARGS is set and is error 45 otherwise. 0, or -1 with error
** 45. */
int _gl_scan_format_modifiers(gl_locale *loc, const gl_wchar **cursor, int *justification,
                              gl_wchar *fill, int *width, int *precision, uint32_t *flags,
                              int *position, va_list *args);

/* Writes one integer field (magnitude, sign, base 2-36) at *out, which
** has room for size - *count characters; advances *out and *count. 0, or
** -1 with error 9 (base) or 14 (no room). */
int _gl_format_decimal(gl_locale *loc, uint32_t magnitude, int negative, int base, int *count,
                       int size, gl_wchar **out, int width, int precision, uint32_t flags);

/* Reads one integer field at *cursor (width 0: unlimited), its magnitude
** in *value and its sign in *negative; advances *cursor. 0, or -1 (error 6
** on overflow, 3 when memory is short, otherwise the word is left). */
int _gl_scan_decimal(gl_locale *loc, uint32_t *value, int *negative, int base,
                     const gl_wchar **cursor, int width, int precision);

/* Converts the terminated wide text wcs into out, at most size bytes with
** the terminator. The bytes written without the terminator, or -1 with
** error 14 (no room) or 1 (a character of no multibyte form). */
int _gl_get_mbstring(gl_locale *loc, unsigned char *out, int size, const gl_wchar *wcs);

/* Compares the beginning of text with symbol character by character: the
** symbol's length when text begins with it (0 for an empty or NULL
** symbol), -1 at a difference. */
int _gl_compare_wc_to_mb(const gl_wchar *text, const gl_wchar *symbol);

}  // extern "C"

namespace glslib {

/* Separators that digits digits get under grouping. Numeric rules (money
** false): the last size repeats, a last 0 repeats the size before it, -1
** ends grouping. Monetary rules (money true): the last size repeats, a
** size below 1 ends grouping. */
int separator_count(const gl_grouping &grouping, int digits, bool money);

/* The sizes of the groups from the right, written to sizes (room for
** limit), as the rules above give them for digits digits; their count.
** Only groups followed by a separator are listed. */
int group_sizes(const gl_grouping &grouping, int digits, bool money, int *sizes, int limit);

/* Value 0-9 of a digit character, or -1 (error 1 for a wide value above
** 255 in a single-byte locale). */
int digit_value(gl_locale *loc, gl_wchar wc);

/* True for a space-class character (the terminator is none). */
bool is_space(gl_locale *loc, gl_wchar wc);

/* Display columns of one character / of n characters (-1: to the end);
** a non-printable character counts 1. The error word is left as it was. */
int char_width(gl_locale *loc, gl_wchar wc);
int text_width(gl_locale *loc, const gl_wchar *wcs, int n);

/* Characters of a wide text, 0 for NULL. */
int wide_length(const gl_wchar *wcs);

/* Wide forms of a terminated multibyte text through the record's
** mbstowcs_fn, from the host allocator; NULL with error 3 (memory) or the
** converter's error. Free with _gl_free_ptr. */
gl_wchar *widen_copy(gl_locale *loc, const unsigned char *text);

/* Bytes of the first n characters of wcs in multibyte form. */
int multibyte_length(gl_locale *loc, const gl_wchar *wcs, int n);

/* The reverse of the ASCII string in written to out. */
void str_reverse(const char *in, char *out);
/* value in base 2-36, digits "0"-"9" then "A"-"Z", into out (33 bytes). */
void long_base_str(char *out, uint32_t value, int base);
/* At most n - 1 ASCII characters of in widened into out, then 0. */
void str_to_wcs(const char *in, gl_wchar *out, int n);
/* Inserts the NUMERIC thousands separator into the wide digit string wcs
** (after its sign when negative) at the group boundaries; wcs holds size
** characters. 0, or -1 when the result does not fit (wcs unchanged). */
int add_grp_sep(gl_locale *loc, gl_wchar *wcs, int size, int negative);

/* Part codes of a monetary layout, a list ended by 0 (at most six). */
enum : int {
  GL_MON_OPEN = 1, /* "(" */
  GL_MON_SYMBOL = 2,
  GL_MON_VALUE = 3,
  GL_MON_SIGN = 4,
  GL_MON_BLANK = 5,
  GL_MON_CLOSE = 6
};
/* Builds the layout of cs_precedes, sign_posn and sep_by_space into layout
** (room for 7); an unknown combination leaves it empty. */
void mon_mask(int *layout, int cs_precedes, int sign_posn, int sep_by_space);

/* The fixed six-digit text of a non-negative magnitude rounded half up at r
** fraction digits: its integer digits into whole and r digits into
** fraction (each room for 257). false when the text would pass 255
** characters (an infinity included). */
bool round_dval(double magnitude, int r, char *whole, char *fraction);

/* The monetary formatter's worker into out (size characters and a
** terminator): characters written, or -1. */
int gl_wcsfmon1(gl_locale *loc, gl_wchar *out, int size, const gl_wchar *format, va_list *args);

/* A wide formatter's worker: out has size characters and a terminator. */
using wide_format_fn = int (*)(gl_locale *loc, gl_wchar *out, int size, const gl_wchar *format,
                               va_list *args);

/* Runs worker on the wide form of the multibyte format and converts its
** result into out (size bytes with the terminator): the bytes written, or
** -1 with error 14 (size below 1, or no room), 3 (memory), the
** converter's error or the worker's. */
int format_multibyte(gl_locale *loc, unsigned char *out, int size, const unsigned char *format,
                     va_list *args, wide_format_fn worker);

/* The modifiers of a parse directive (the parsers take no argument
** list), with the parsers' defaults. */
struct parse_modifiers {
  int width = 0;
  int precision = -1;
  uint32_t flags = 0;
};

/* Reads the modifiers at *cursor, just after the "%", into *m; advances
** *cursor. 0, or -1 as _gl_scan_format_modifiers. */
int scan_parse_modifiers(gl_locale *loc, const gl_wchar **cursor, parse_modifiers *m);

/* Reads the size letter of a directive at *cursor, just after its
** modifiers: "l"/"L" sets *is_long, "h"/"H" *is_short, and *cursor then
** stands on the conversion. false with error 15 when the format ends
** before the letter, 22 when it ends after it. */
bool scan_size_letter(gl_locale *loc, const gl_wchar **cursor, bool *is_long, bool *is_short);

}  // namespace glslib

#endif
