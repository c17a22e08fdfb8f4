/*
** value_display.cpp: the text a user sees of a typed value (rvalstr), the
** 16-digit FLOAT variant (rvalstr_16prec) and the text of a stored column
** (rdatastr), with the two process-wide settings of floating decimals.
**
** Callers: the host-variable stores (host_vars.cpp, a value into a
** character variable), the column writers (a non-text value into a CHAR,
** VARCHAR or LVARCHAR column) and the runtime's output. Calls: the DECIMAL,
** INT8, DATE, DATETIME and MONEY text writers, which follow the locale
** environment's conventions, DBMONEY and date formats.
**
** Every text except a character value's is built in a work buffer first
** and then fitted to the caller's field: exactly width bytes, blank padded
** and not terminated, or with width 0 the whole text and its terminator.
** The writers below never write past the buffers they are given: DATE
** text gets the 1024 bytes its writer requires, a DATETIME through the
** environment's format table 82 (81 characters and the NUL).
*/
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "dt_units.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtformat.h"
#include "gen_errors.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gl_chars.h"
#include "gl_locale.h"
#include "gl_money.h"
#include "number_conventions.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_lconv.h"
#include "value_internal.h"

extern "C" {
int dbfltprec = 16;
int dbsmfltprec = -1;
}

namespace {

constexpr int field_max = 80; /* widest field of a non-character text */
constexpr int date_text_size = 1024; /* rdatestr's buffer */
constexpr int dtenv_text_size = 82; /* dttofmtasc given 81 characters */
constexpr int dtime_text_size = 81; /* rdtimestr and rinvstr */
constexpr int float16_text_size = 81;
constexpr int scale_floating = 255;

/* The work text of a value before it is fitted to the field. */
struct work_text {
  std::array<char, date_text_size> bytes; /* bytes[0, length) only are set */
  int length = 0;

  std::string_view view() const { return {bytes.data(), static_cast<size_t>(length)}; }
  /* Takes at most limit bytes of a text that may end earlier at a NUL. */
  void take(const char *text, int limit) {
    const size_t n = strnlen(text, static_cast<size_t>(limit));
    std::memcpy(bytes.data(), text, n);
    length = static_cast<int>(n);
  }
  void drop_trailing_blanks() {
    while (length > 0 && bytes[length - 1] == ' ')
      --length;
  }
};

/* Writes the work text of one type into out, for a field of w bytes
** (1-80); returns 0 or the error the fitting passes on. After -1207 the
** text is the writer's "*" field; after any other error it is empty. */
using text_writer = int (*)(value_t *v, work_text &out, int w);

int scale_of(const value_t *v) { return v->vprec & 0xFF; }

/* dectoasc or dbltoasc into w bytes (their -1: a "*" field), trailing
** blanks and the zero bytes dbltoasc leaves after a short fraction
** removed. */
int fixed_text(int status, const char *field, int w, work_text &out) {
  if (status == -1) {
    out.take(field, w);
    return value_err_field_short;
  }
  if (status != 0) return status;
  out.take(field, w);
  out.drop_trailing_blanks();
  return 0;
}

int write_smallint(value_t *v, work_text &out, int) {
  out.length = std::snprintf(out.bytes.data(), out.bytes.size(), "%d", static_cast<int>(v->vint));
  return 0;
}

int write_integer(value_t *v, work_text &out, int) {
  out.length = std::snprintf(out.bytes.data(), out.bytes.size(), "%" PRId32, v->vint);
  return 0;
}

/* A double outside the DECIMAL range: the C library's exponential text
** with N decimals, N cut to what a w-byte field holds, and the decimal
** point in force. */
int write_exponential(double d, work_text &out, int w) {
  int decimals = dbfltprec >= 0 && dbfltprec <= 6 ? dbfltprec : 6;
  if (w < decimals + 9) {
    const int room = d > 0 ? w - 7 : w - 8;
    decimals = room < 2 ? 0 : room - 1;
  }
  char format[16];
  std::snprintf(format, sizeof format, "%%.%de", decimals);
  std::array<char, 2 * field_max> text {};
  std::snprintf(text.data(), text.size(), format, d);
  if (std::strchr(text.data(), 'e') == nullptr) return value_err_not_number;
  /* The whole buffer as room: a text too long for the field becomes "*"
  ** when it is fitted, as every other type's does. */
  const int status = rdecstr(text.data(), static_cast<int>(text.size()) - 1, 0);
  if (status != 0) return status;
  out.take(text.data(), static_cast<int>(text.size()));
  return 0;
}

/* places decimals of a converted double or float into w bytes. */
int write_converted(const dec_t &value, int places, work_text &out, int w) {
  std::array<char, field_max> field {};
  return fixed_text(dbltoasc(&value, field.data(), w, places), field.data(), w, out);
}

int write_float(value_t *v, work_text &out, int w) {
  const double d = v->vdouble;
  const double magnitude = std::fabs(d);
  if (d != 0.0 && (magnitude < 1e-130 || magnitude > 1e124)) return write_exponential(d, out, w);
  dec_t value {};
  const int status = deccvdbl(d, &value);
  if (status != 0) return status;
  return write_converted(value, dbfltprec, out, w);
}

int write_smallfloat(value_t *v, work_text &out, int w) {
  dec_t value {};
  const int status = deccvflt(v->vfloat, &value);
  if (status != 0) return status;
  return write_converted(value, dbsmfltprec == -1 ? dbfltprec : dbsmfltprec, out, w);
}

int write_decimal(value_t *v, work_text &out, int w) {
  const int scale = scale_of(v);
  std::array<char, field_max> field {};
  const int status =
      dectoasc(&v->vdec, field.data(), w, scale == scale_floating ? dbfltprec : scale);
  return fixed_text(status, field.data(), w, out);
}

/* The DATE text; its length is also left in the value's vlen, which the
** character-variable store reads. */
int write_date(value_t *v, work_text &out, int) {
  std::array<char, date_text_size> text {};
  const int status = rdatestr(v->vint, text.data());
  if (status != 0) return status;
  out.take(text.data(), date_text_size);
  v->vlen = out.length;
  return 0;
}

/* Number of integer digits of a magnitude: 0 below 1. */
int integer_digits(double d) {
  double magnitude = std::fabs(d);
  int n = 0;
  while (magnitude >= 1.0) {
    magnitude /= 10.0;
    ++n;
  }
  return n;
}

/* MONEY text under the locale's own monetary conventions, through the
** locale library's monetary formatter with as many decimals as the room
** leaves; text holds 80 bytes. */
int locale_money_text(const value_t *v, int room, int places, char *text) {
  double d = 0.0;
  int status = dectodbl(&v->vdec, &d);
  if (status != 0) return status;
  const int k = room - dvz_genlib::conventions().mon_decimal_point_len - integer_digits(d);
  char format[24];
  if (k == 0) {
    std::snprintf(format, sizeof format, "%%^!.0n");
  } else if (k >= places) {
    std::snprintf(format, sizeof format, "%%^!n");
  } else {
    std::snprintf(format, sizeof format, "%%^!%d.n", k);
  }
  status = gl_mbsfmon(dvz_get_gl_locale_thread(), reinterpret_cast<unsigned char *>(text),
                      field_max, reinterpret_cast<const unsigned char *>(format), d);
  return status < 0 ? value_err_field_short : 0;
}

int write_money(value_t *v, work_text &out, int w) {
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  int room = w - rfrontlen() - rbacklen();
  if (room > field_max) room = field_max;
  const int scale = scale_of(v);
  const int places = scale == scale_floating ? genlcscale() : scale;

  std::array<char, field_max + 1> text {};
  if (CheckGlsEnv()->state->lconv_loaded == 2) {
    status = locale_money_text(v, room, places, text.data());
    if (status != 0) {
      std::memset(out.bytes.data(), '*', static_cast<size_t>(w));
      out.length = w;
      return status;
    }
  } else {
    /* A currency symbol as wide as the field leaves no room at all. */
    if (room < 1) {
      std::memset(out.bytes.data(), '*', static_cast<size_t>(w));
      out.length = w;
      return value_err_field_short;
    }
    status = dectoasc(&v->vdec, text.data(), room, places);
    if (status != 0) return fixed_text(status, text.data(), room, out);
    int end = room;
    while (end > 0 && text[end - 1] == ' ')
      --end;
    text[end] = '\0';
  }
  /* Front and back symbols (each under 65 bytes) around at most 80. */
  status = rdecmon(text.data(), out.bytes.data());
  if (status != 0) return status;
  out.length = static_cast<int>(strnlen(out.bytes.data(), out.bytes.size()));
  return 0;
}

/* USE_DTENV: the environment's format for the value's units, built from
** the qualifier when its slot is still empty. */
int write_datetime_by_environment(const value_t *v, work_text &out) {
  const int qualifier = static_cast<uint16_t>(v->vprec);
  const char *format = environment_dtime_format(qualifier);
  dtime_t value {};
  value.dt_qual = static_cast<uint16_t>(qualifier);
  value.dt_dec = v->vdec;
  char text[dtenv_text_size];
  const int status = dttofmtasc(&value, text, dtenv_text_size - 1, format);
  if (status != 0) return status;
  out.take(text, dtenv_text_size);
  return 0;
}

int write_datetime(value_t *v, work_text &out, int) {
  if (get_usedtenv() != 0) return write_datetime_by_environment(v, out);
  char text[dtime_text_size];
  const int status = rdtimestr(&v->vdec, static_cast<uint16_t>(v->vprec), text);
  if (status != 0) return status;
  out.take(text, dtime_text_size);
  return 0;
}

int write_interval(value_t *v, work_text &out, int) {
  char text[dtime_text_size];
  const int status = rinvstr(&v->vdec, static_cast<uint16_t>(v->vprec), text);
  if (status != 0) return status;
  out.take(text, dtime_text_size);
  return 0;
}

int write_int8(value_t *v, work_text &out, int w) {
  char text[field_max + 1];
  const int status = dvz_int8tostr(&v->vint8, text, w);
  if (status != 0 && status != value_err_field_short) return status;
  out.take(text, w);
  return status;
}

/* Writers of the types with a display text besides the character types
** and BOOLEAN, by SQL type code; the others have none (-1260). */
constexpr std::array<text_writer, sql_type_max + 1> text_writers = [] {
  std::array<text_writer, sql_type_max + 1> t {};
  t[sql_type_smallint] = write_smallint;
  t[sql_type_integer] = write_integer;
  t[sql_type_serial] = write_integer;
  t[sql_type_float] = write_float;
  t[sql_type_smallfloat] = write_smallfloat;
  t[sql_type_decimal] = write_decimal;
  t[sql_type_date] = write_date;
  t[sql_type_money] = write_money;
  t[sql_type_datetime] = write_datetime;
  t[sql_type_interval] = write_interval;
  t[sql_type_int8] = write_int8;
  t[sql_type_serial8] = write_int8;
  return t;
}();

bool is_character_type(int type) {
  return type == sql_type_char || type == sql_type_varchar || type == sql_type_nchar ||
         type == sql_type_nvarchar || type == sql_type_lvarchar;
}

int boolean_text(const value_t *v, char *buffer, int width) {
  buffer[0] = v->vptr != nullptr && *v->vptr != 0 ? 't' : 'f';
  if (width == 0) {
    buffer[1] = '\0';
  } else {
    std::memset(buffer + 1, ' ', static_cast<size_t>(width - 1));
  }
  return 0;
}

/* Places the work text in the caller's field: "*" over the field and
** -1207 when it is longer than a non-zero width; a pending error is
** returned (a -1207 field holds "*", with width 0 the writer's text);
** width 0 copies the text and its terminator; otherwise left- or
** right-justified among blanks. */
int fit_text(std::string_view text, int pending, char *buffer, int width, int left) {
  const auto n = static_cast<int>(text.size());
  if (width > 0 && (n > width || pending == value_err_field_short)) {
    std::memset(buffer, '*', static_cast<size_t>(width));
    return value_err_field_short;
  }
  if (width == 0) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[n] = '\0';
    return pending;
  }
  if (pending != 0) return pending;
  const int pad = width - n;
  char *at = left != 0 ? buffer : buffer + pad;
  std::memset(left != 0 ? buffer + n : buffer, ' ', static_cast<size_t>(pad));
  std::memcpy(at, text.data(), text.size());
  return 0;
}

}  // namespace

namespace dvz_genlib {

int character_text(const value_t *v, char *buffer, int width) {
  const int length = v->vptr == nullptr || v->vlen < 0 ? 0 : v->vlen;
  if (width == 0) {
    if (length > 0) std::memcpy(buffer, v->vptr, static_cast<size_t>(length));
    buffer[length] = '\0';
    return 0;
  }
  const int kept = length < width ? length : width;
  if (kept > 0) std::memcpy(buffer, v->vptr, static_cast<size_t>(kept));
  if (kept < width) std::memset(buffer + kept, ' ', static_cast<size_t>(width - kept));
  if (length > width) {
    const int whole = dvz_genlib::whole_characters(v->vptr, length, kept);
    std::memset(buffer + whole, ' ', static_cast<size_t>(kept - whole));
  }
  return 0;
}

int whole_characters(const char *text, int total, int cut) {
  if (chkglsinit() != 0) return cut;
  gl_locale *loc = dvz_get_gl_locale_thread();
  if (loc == nullptr || gl_mb_loc_max(loc) < 2) return cut;
  const auto *bytes = reinterpret_cast<const unsigned char *>(text);
  int at = 0;
  while (at < cut) {
    int length = gl_full_mblen(loc, bytes + at, total - at);
    if (length < 1) length = 1; /* an invalid byte or a NUL stands alone */
    if (at + length > cut) break;
    at += length;
  }
  return at;
}

}  // namespace dvz_genlib

extern "C" {

/*
** The display text of v in buffer (width bytes, or the whole text and a
** terminator when width is 0 or below). Returns 0, -1207 (the field holds
** "*"), -1223, -1260 for a type without text, or a text writer's error.
** A DATE value's vlen receives its text length.
*/
int rvalstr(value_t *v, char *buffer, int width, int left) {
  if (width < 0) width = 0;
  if (v->vind < 0) {
    if (width == 0) {
      buffer[0] = '\0';
    } else {
      std::memset(buffer, ' ', static_cast<size_t>(width));
    }
    return 0;
  }
  const int type = dvz_genlib::code_of(v);
  if (is_character_type(type)) return dvz_genlib::character_text(v, buffer, width);
  if (type == sql_type_boolean) return boolean_text(v, buffer, width);

  work_text out;
  const int w = width >= 1 && width <= field_max ? width : field_max;
  const text_writer writer = type <= sql_type_max ? text_writers[type] : nullptr;
  const int pending = writer != nullptr ? writer(v, out, w) : value_err_no_conversion;
  if (pending != 0 && pending != value_err_field_short) out.length = 0;
  return fit_text(out.view(), pending, buffer, width, left);
}

/*
** rvalstr with 16-digit text for a FLOAT (type word exactly 3), built in
** 81 bytes. Returns as rvalstr; a failed conversion returns the
** conversion error word.
*/
int rvalstr_16prec(value_t *v, char *buffer, int width, int left) {
  if (v->vind < 0 || v->vtype != sql_type_float) return rvalstr(v, buffer, width, left);
  if (width < 0) width = 0;
  const double d = v->vdouble;
  char text[float16_text_size] = {};
  const char *start = text;
  int pending = 0;
  if (std::isinf(d) && d > 0) {
    std::snprintf(text, sizeof text, "%.16e", d);
    pending = rdecstr(text, field_max, 0);
  } else if ((start = _gnftoasc(d, text, float16_text_size, 1)) == nullptr) {
    pending = get_toerrno();
    if (pending == 0) pending = value_err_field_short;
  }
  work_text out;
  if (pending == 0) out.take(start, static_cast<int>(text + float16_text_size - start));
  return fit_text(out.view(), pending, buffer, width, left);
}

/* rdataval of the stored column, then rvalstr; rdataval's error when the
** column cannot be read. */
int rdatastr(const char *bytes, int type, int length, char *buffer, int width, int left) {
  value_t v {};
  const int status = rdataval(bytes, type, length, &v);
  if (status != 0) return status;
  return rvalstr(&v, buffer, width, left);
}

}  // extern "C"
