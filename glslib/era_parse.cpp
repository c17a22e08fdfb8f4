/*
** Era strings of a locale's TIME category: each parsed into an era record
** (direction, offset, start and end dates, names and year format), and the
** era strings and alternative digits joined into the texts langinfo
** returns.
**
** Callers: the TIME initialisation of the loader (locale_derived.cpp), and
** freeing a TIME category. Calls: the record's wide conversion
** (widen_text) and the character layer's encoder (gl_full_wctomb).
**
** Syntax: "+" or "-", then ":" and the offset (an optional "-" and digits),
** ":" and the start date year/month/day, ":" and the end ("+*", "-*" or a
** date), ":" and the two names and the year format, ":"-separated. Only
** the offset is signed: a date field with a sign is malformed (error 49).
*/

#include <cstring>

#include "gl_chars.h"
#include "locale_internal.h"
#include "locale_readers.h"

using glslib::alloc_zeroed;
using glslib::store_error;

namespace {

/* A parser over one era string in wide characters. */
class EraParser {
 public:
  EraParser(gl_locale *record, const gl_wchar *text) : record_(record), p_(text) {}

  /* Fills era; 0, or the error number (49 malformed, 3 names / memory). */
  int parse(era_record *era) {
    if (*p_ == '+') {
      era->direction = 1;
    } else if (*p_ == '-') {
      era->direction = -1;
    } else {
      return GL_EERA;
    }
    ++p_;
    if (!colon() || !number(&era->offset, true)) return GL_EERA;
    if (!colon() || !date(&era->start_year, &era->start_month, &era->start_day)) return GL_EERA;
    if (!colon()) return GL_EERA;
    if ((p_[0] == '+' || p_[0] == '-') && p_[1] == '*') {
      era->end_kind = p_[0] == '+' ? 1 : -1;
      p_ += 2;
    } else if (date(&era->end_year, &era->end_month, &era->end_day)) {
      era->end_kind = 0;
    } else {
      return GL_EERA;
    }
    if (!colon()) return GL_EERA;
    const gl_wchar *name = p_;
    const gl_wchar *end = find_colon(name);
    if (end == nullptr) return GL_ENOMEM;
    if ((era->era_name = narrow(name, end)) == nullptr) return GL_ENOMEM;
    name = end + 1;
    end = find_colon(name);
    if (end == nullptr) return GL_ENOMEM;
    if ((era->era_name2 = narrow(name, end)) == nullptr) return GL_ENOMEM;
    name = end + 1;
    end = name;
    while (*end != 0)
      ++end;
    if ((era->era_year_format = narrow(name, end)) == nullptr) return GL_ENOMEM;
    return 0;
  }

 private:
  bool colon() {
    if (*p_ != ':') return false;
    ++p_;
    return true;
  }

  /* Decimal digits into *value; signed: a leading "-" is taken too (only
  ** the offset is signed: a date field with a sign is malformed). */
  bool number(int32_t *value, bool is_signed = false) {
    bool negative = false;
    if (is_signed && *p_ == '-') {
      negative = true;
      ++p_;
    }
    if (*p_ < '0' || *p_ > '9') return false;
    long long v = 0;
    while (*p_ >= '0' && *p_ <= '9') {
      v = v * 10 + (*p_ - '0');
      if (v > 0x7fffffffLL) return false;
      ++p_;
    }
    *value = static_cast<int32_t>(negative ? -v : v);
    return true;
  }

  bool date(int32_t *year, int32_t *month, int32_t *day) {
    if (!number(year) || *p_ != '/') return false;
    ++p_;
    if (!number(month) || *p_ != '/') return false;
    ++p_;
    return number(day);
  }

  static const gl_wchar *find_colon(const gl_wchar *p) {
    while (*p != 0 && *p != ':')
      ++p;
    return *p == ':' ? p : nullptr;
  }

  /* The characters [from, to) in the locale's multibyte form, terminated
  ** by four zero bytes. */
  char *narrow(const gl_wchar *from, const gl_wchar *to) {
    std::size_t count = static_cast<std::size_t>(to - from);
    auto *bytes = static_cast<unsigned char *>(_gl_alloc_ptr(count * 4 + 4));
    if (bytes == nullptr) return nullptr;
    std::size_t length = 0;
    for (const gl_wchar *c = from; c < to; ++c) {
      if (record_->single_byte) {
        bytes[length++] = static_cast<unsigned char>(*c & 0xFF);
      } else {
        int n = gl_full_wctomb(record_, bytes + length, *c);
        if (n < 0) {
          _gl_free_ptr(bytes);
          return nullptr;
        }
        length += static_cast<std::size_t>(n);
      }
    }
    std::memset(bytes + length, 0, 4);
    return reinterpret_cast<char *>(bytes);
  }

  gl_locale *record_;
  const gl_wchar *p_;
};

void free_era_record(era_record *era) {
  if (era == nullptr) return;
  _gl_free_ptr(era->era_name);
  _gl_free_ptr(era->era_name2);
  _gl_free_ptr(era->era_year_format);
  _gl_free_ptr(era->era_year_format_wc);
  _gl_free_ptr(era);
}

/* Texts joined by the code set's newline character, ending in four zero
** bytes. NULL with error 3 (or the encoder's error). */
char *join_texts(gl_locale *record, char *const *texts, int count) {
  unsigned char newline[4] = {'\n', 0, 0, 0};
  std::size_t newline_length = 1;
  if (!record->single_byte) {
    int n = gl_full_wctomb(record, newline, '\n');
    if (n < 1) return nullptr;
    newline_length = static_cast<std::size_t>(n);
  }
  std::size_t total = 4;
  for (int i = 0; i < count; ++i)
    total += glslib::text_length(record, texts[i]) + newline_length;
  auto *joined = static_cast<char *>(_gl_alloc_ptr(total));
  if (joined == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  std::size_t at = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      std::memcpy(joined + at, newline, newline_length);
      at += newline_length;
    }
    std::size_t n = glslib::text_length(record, texts[i]);
    if (n > 0) std::memcpy(joined + at, texts[i], n);
    at += n;
  }
  std::memset(joined + at, 0, 4);
  return joined;
}

}  // namespace

namespace glslib {

void free_era_records(gl_ltime *time) {
  if (time->eras.records == nullptr) return;
  for (int i = 0; i < time->eras.count; ++i)
    free_era_record(time->eras.records[i]);
  _gl_free_ptr(time->eras.records);
  time->eras.records = nullptr;
}

}  // namespace glslib

extern "C" {

int init_era_info(gl_locale *record) {
  gl_ltime *time = &record->ltime;
  glslib::free_era_records(time);
  const int count = time->eras.count;
  if (count < 1 || time->eras.strings == nullptr) return 0;
  auto **records = alloc_zeroed<era_record *>(static_cast<std::size_t>(count));
  if (records == nullptr) {
    store_error(record, GL_ENOMEM);
    return -1;
  }
  for (int i = 0; i < count; ++i) {
    int error = GL_ENOMEM;
    gl_wchar *wide = glslib::widen_text(record, time->eras.strings[i]);
    era_record *era = alloc_zeroed<era_record>(1);
    if (wide == nullptr && time->eras.strings[i] != nullptr && glslib::load_error(record) != 0) {
      error = glslib::load_error(record); /* the converter's reason */
    } else if (wide != nullptr && era != nullptr) {
      error = EraParser(record, wide).parse(era);
    }
    _gl_free_ptr(wide);
    if (era != nullptr) records[i] = era;
    if (error != 0) {
      for (int j = 0; j <= i; ++j)
        free_era_record(records[j]);
      _gl_free_ptr(records);
      store_error(record, error);
      return -1;
    }
  }
  time->eras.records = records;

  _gl_free_ptr(time->era_joined.mb);
  _gl_free_ptr(time->alt_digits_joined.mb);
  time->era_joined.mb = nullptr;
  time->alt_digits_joined.mb = nullptr;
  time->era_joined.mb = join_texts(record, time->eras.strings, count);
  if (time->era_joined.mb == nullptr) return -1;
  if (time->alt_digits.count > 0) {
    time->alt_digits_joined.mb = join_texts(record, time->alt_digits.mb, time->alt_digits.count);
    if (time->alt_digits_joined.mb == nullptr) return -1;
  }
  return 0;
}

}  // extern "C"
