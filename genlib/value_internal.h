/*
** value_internal.h: what the typed-value modules (conversions, column
** forms, host variables, display text) share about a `value_t`: its type
** code, NULL test and text bytes, the NULL words of the integer types, the
** SMALLFLOAT range, the conversion error word looked up once per call and
** the conversions that take it, a character value's display text and the
** cut of a text at a character boundary. Internal.
*/
#ifndef DVZ_GENLIB_VALUE_INTERNAL_H
#define DVZ_GENLIB_VALUE_INTERNAL_H

#include <cstdint>
#include <string_view>

#include "gen_value.h"
#include "os_gentcb.h"

namespace dvz_genlib {

/* The NULL words of SMALLINT and of INTEGER, SERIAL and DATE. */
constexpr int smallint_null = -32768;
constexpr int32_t integer_null = INT32_MIN;

/* The SQL type code: the low byte of a type word. */
inline int type_code(int type) { return type & 0xFF; }
inline int code_of(const value_t *v) { return type_code(v->vtype); }

inline bool is_null(const value_t *v) { return v->vind < 0; }

/* The bytes of a text value; a null pointer or a negative length is the
** empty text. */
inline std::string_view text_of(const value_t *v) {
  if (v->vptr == nullptr || v->vlen <= 0) return {};
  return {v->vptr, static_cast<size_t>(v->vlen)};
}

/* A non-zero magnitude beyond the largest SMALLFLOAT or below the
** smallest normal one (NaN is neither). */
inline bool outside_smallfloat(double d) {
  const double magnitude = d < 0 ? -d : d;
  return d != 0.0 && (magnitude > 3.402823466e+38 || magnitude < 1.175494351e-38);
}

/*
** The conversion error word of the general control block, looked up once
** per call where a function reads or writes it more than once. Without a
** block, set and get do what set_toerrno and get_toerrno do then (nothing
** stored, -406 read).
*/
class error_word {
 public:
  void set(int value) {
    if (block_ != nullptr) {
      block_->toerrno = value;
    } else {
      set_toerrno(value);
    }
  }
  int get() const { return block_ != nullptr ? block_->toerrno : get_toerrno(); }
  /* Stores status when it is an error; returns it. */
  int fail(int status) {
    if (status != 0) set(status);
    return status;
  }

 private:
  gen_tcb *block_ = CheckGenInit();
};

/* tolong, todate, toint8 and todatetime through the caller's error word,
** for a caller that reads or sets it again (the host-variable stores). */
int32_t to_long(value_t *v, error_word &error);
int32_t to_date(value_t *v, error_word &error);
int to_int8(value_t *v, dvz_int8_t *result, error_word &error);
int to_datetime(value_t *v, dtime_t *result, int qualifier, error_word &error);

/* A character value's own bytes, as rvalstr writes them: all of them when
** width is 0 (then terminated), else at most width bytes blank padded; a
** cut never splits a character. Never an error. */
int character_text(const value_t *v, char *buffer, int width);

/*
** The bytes of the whole characters of text (total bytes) within its
** first cut bytes, by the client locale: cut in a single-byte locale (or
** one that cannot be initialised); less when a character starts before
** cut and ends after it. A byte that is no character counts as one.
*/
int whole_characters(const char *text, int total, int cut);

}  // namespace dvz_genlib

#endif
