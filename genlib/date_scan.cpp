/*
** date_scan.cpp: the DBDATE scanner, which reads DATE text by a field
** order (day, month, year in any order) rather than by a format: the
** numeric fast path fastscan, the full scanner scanstrmdy with month and
** era names, packed fields and two-digit years, and its field readers.
**
** rstrdate and rdefmtdate (date_text.cpp, date_picture.cpp) call it for
** formats of the DBDATE style; in a locale whose calendar is not the
** Gregorian one, or for an era year, it hands the fields to the locale
** library's parser through dcvfmtasc. Month and era names come from the
** name caches of the current locale environment, already lower-cased.
*/
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "date_internal.h"
#include "date_scan.h"
#include "gen_datetime.h"
#include "gl_locale.h"
#include "os_env.h"
#include "os_glsenv.h"
#include "text_scan.h"

namespace {

enum field_kind { field_day = 1, field_month = 2, field_year = 3 };

/* Era-year directives by the number of year digits typed. */
constexpr const char *eyear_fmt[5] = {"%EC%01.1Ey", "%EC%01.1Ey", "%EC%02.2Ey", "%EC%03.3Ey",
                                      "%EC%04.4Ey"};

using dvz_genlib::is_blank;
using dvz_genlib::is_digit;
using dvz_genlib::skip_blanks;

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

/* Length of name when the text at p begins with it (ASCII letters compared
** without case; names are lower-cased already), else 0. */
size_t prefix_match(const char *p, const char *name) {
  size_t n = 0;
  while (name[n] != '\0') {
    if (p[n] == '\0' || lower(p[n]) != name[n]) return 0;
    ++n;
  }
  return n;
}

const new_gls_env *current_state() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr ? env->state : nullptr;
}

/* The first name of a cache (newest block first) that the text at p
** begins with: its position in its block + 1 and its length, or 0. */
int find_in_cache(gls_name_block *head, const char *p, size_t *length) {
  for (gls_name_block *block = head; block != nullptr; block = block->next) {
    char **names = gls_name_block_strings(block);
    for (int i = 0; i < block->count; ++i) {
      if (names[i] == nullptr || names[i][0] == '\0') continue;
      size_t n = prefix_match(p, names[i]);
      if (n != 0) {
        *length = n;
        return i + 1;
      }
    }
  }
  return 0;
}

/* Day, month and year, each once. */
bool is_field_order(const int32_t order[3]) {
  bool seen[4] = {};
  for (int i = 0; i < 3; ++i) {
    if (order[i] < field_day || order[i] > field_year || seen[order[i]]) return false;
    seen[order[i]] = true;
  }
  return true;
}

/* One field as read by the scanner. */
struct scanned_field {
  bool read = false;
  int value = 0;
  int digits = 0; /* 0 for a month name */
  bool by_name = false;
  bool separated = false;
  const char *typed = nullptr; /* the month name as typed */
  int typed_length = 0;
};

int missing_field_error(int kind) {
  return kind == field_month ? date_err_month : kind == field_day ? date_err_day : date_err_year;
}

/* Whether the text at p can begin a field of kind (else it is a
** separator). */
bool starts_field(int kind, const char *p, bool era_year) {
  if (is_digit(*p)) return true;
  if (kind == field_month) {
    int month = 0, digits = 0, by_name = 0;
    const char *q = p;
    return scan_for_month(&q, &month, &digits, &by_name) == 0;
  }
  if (kind == field_year && era_year) {
    const char *q = p;
    const char *name = nullptr;
    int length = 0;
    return scan_for_era(&q, &name, &length) == 0;
  }
  return false;
}

}  // namespace

extern "C" {

int scan_for_digits(const char **position, int max_digits, int *value, int *digits) {
  const char *p = *position;
  int v = 0;
  int n = 0;
  while (n < max_digits && is_digit(p[n])) {
    v = v * 10 + (p[n] - '0');
    ++n;
  }
  if (n == 0) return -1;
  *value = v;
  *digits = n;
  *position = p + n;
  return 0;
}

int scan_for_month(const char **position, int *month, int *digits, int *by_name) {
  const char *p = *position;
  if (is_digit(*p)) {
    *by_name = 0;
    return scan_for_digits(position, 2, month, digits);
  }
  const new_gls_env *state = current_state();
  if (state == nullptr || state->abmon_cache == nullptr) return -1;
  size_t length = 0;
  int found = find_in_cache(state->mon_cache, p, &length);
  if (found == 0) found = find_in_cache(state->abmon_cache, p, &length);
  if (found == 0) return -1;
  *month = found;
  *digits = 0;
  *by_name = 1;
  *position = p + length;
  return 0;
}

/* An era name must begin at *position: the longest one of the two caches
** that the text there begins with. */
int scan_for_era(const char **position, const char **name, int *length) {
  const new_gls_env *state = current_state();
  if (state == nullptr) return -1;
  size_t best = 0;
  for (gls_name_block *head : {state->era_cache, state->era2_cache}) {
    for (gls_name_block *block = head; block != nullptr; block = block->next) {
      char **names = gls_name_block_strings(block);
      for (int i = 0; i < block->count; ++i) {
        if (names[i] == nullptr || names[i][0] == '\0') continue;
        size_t n = prefix_match(*position, names[i]);
        if (n > best) best = n;
      }
    }
  }
  if (best == 0) return -1;
  *name = *position;
  *length = static_cast<int>(best);
  *position += best;
  return 0;
}

int scan_for_substring(const char *text, const char *name, int *position) {
  const char *at = std::strstr(text, name);
  if (at == nullptr) return -1;
  *position = static_cast<int>(at - text);
  return 0;
}

int _ggtmonth(const char *text, int *month) {
  if (dvz_genlib::load_name_lists() != 0) return -1;
  std::string lowered(text);
  for (char &c : lowered)
    c = lower(c);
  for (int m = 0; m < 12; ++m) {
    std::string name(_monarray[m]);
    for (char &c : name)
      c = lower(c);
    int at = 0;
    if (!name.empty() && scan_for_substring(lowered.c_str(), name.c_str(), &at) == 0) {
      *month = m + 1;
      return 0;
    }
  }
  return -1;
}

/* Leading blanks, then up to three fields of digits in the order given,
** separated by one non-digit and blanks, or packed. *date is written only
** on success. */
int fastscan(int32_t *date, const int32_t order[3], const char *text, int explicit_picture) {
  if (!is_field_order(order)) return gls_err_bad_dbdate;
  const char *p = skip_blanks(text);
  int value[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int fields = 0;
  int separators = 0;
  for (int i = 0; i < 3; ++i) {
    const char *q = p;
    if (i > 0 && *q != '\0' && !is_digit(*q)) q = skip_blanks(q + 1);
    int max_digits = order[i] == field_year ? 4 : 2;
    const char *r = q;
    if (scan_for_digits(&r, max_digits, &value[i], &digits[i]) != 0) break;
    if (q != p) ++separators;
    p = r;
    ++fields;
  }
  if (*skip_blanks(p) != '\0') return gls_err_bad_dbdate;
  if (!explicit_picture && separators != 0 && separators != 2) return gls_err_bad_dbdate;
  int total = digits[0] + digits[1] + digits[2];
  if (fields == 3 && (separators == 2 || total == 6 || total == 8)) {
    /* accepted as read */
  } else if (fields == 2 && total == 6 && order[0] == field_year && digits[0] == 4) {
    value[2] = value[1];
    value[1] = value[0] % 100;
    value[0] /= 100;
    digits[0] = digits[1] = digits[2] = 2;
  } else if (fields == 2 && total == 6 && order[1] == field_year && digits[1] == 4) {
    value[2] = value[1] % 100;
    value[1] /= 100;
    digits[1] = digits[2] = 2;
  } else {
    return gls_err_bad_dbdate;
  }
  int month = 0, day = 0, year = 0, year_digits = 0;
  for (int i = 0; i < 3; ++i) {
    if (order[i] == field_month) month = value[i];
    if (order[i] == field_day) day = value[i];
    if (order[i] == field_year) {
      year = value[i];
      year_digits = digits[i];
    }
  }
  if (year_digits <= 2) {
    int century = getcentury(month, day, year);
    if (century < 0) return century;
    if (century >= 100) return gls_err_bad_dbdate;
    year += 100 * century;
  }
  const int16_t mdy[3] = {static_cast<int16_t>(month), static_cast<int16_t>(day),
                          static_cast<int16_t>(year)};
  int32_t result = DATE_NULL;
  int status = rmdyjul(mdy, &result);
  if (status != 0) return status;
  *date = result;
  return 0;
}

int scandate(int32_t *date, const int32_t order[3], int era_kind, const char *text,
             int explicit_picture) {
  int16_t mdy[3];
  return scanstrmdy(date, order, era_kind, text, mdy, 0, explicit_picture);
}

int scanstrmdy(int32_t *date, const int32_t order[3], int era_kind, const char *text,
               int16_t mdy[3], int triple_only, int explicit_picture) {
  (void)explicit_picture; /* pictures and formats in force are read alike */
  mdy[0] = mdy[1] = mdy[2] = 0;
  const char *p = skip_blanks(text != nullptr ? text : "");
  if (*p == '\0') {
    if (ggetenv("DHL_RDEFMTDATE") == nullptr && date != nullptr) *date = DATE_NULL;
    return 0;
  }
  if (!is_field_order(order)) return gls_err_bad_dbdate;
  const new_gls_env *state = current_state();
  bool gregorian = state != nullptr && state->gregorian != 0;
  gl_locale *loc = dvz_genlib::date_locale();
  const char *eras = loc != nullptr ? gl_nl_langinfo(loc, GL_ERA) : nullptr;
  bool era_year = era_kind != 0 && !triple_only && eras != nullptr && *eras != '\0';

  scanned_field field[3];
  const char *era_name = nullptr;
  int era_length = 0;
  bool negative_year = false;
  for (int i = 0; i < 3; ++i) {
    int kind = order[i];
    scanned_field &f = field[i];
    if (i == 0 && era_kind == 2 && *p == '-') {
      negative_year = true;
      ++p;
    }
    if (i > 0 && *p != '\0' && !starts_field(kind, p, era_year)) {
      f.separated = true;
      p = skip_blanks(p + 1);
    }
    if (kind == field_month) {
      int by_name = 0;
      const char *start = p;
      if (scan_for_month(&p, &f.value, &f.digits, &by_name) == 0) {
        f.read = true;
        f.by_name = by_name != 0;
        f.typed = start;
        f.typed_length = static_cast<int>(p - start);
      }
    } else if (kind == field_day) {
      f.read = scan_for_digits(&p, 2, &f.value, &f.digits) == 0;
    } else {
      bool named_era = false;
      if (era_year) {
        if (scan_for_era(&p, &era_name, &era_length) == 0) {
          named_era = true;
          p = skip_blanks(p);
        } else if (era_kind != 2) {
          return dtfmt_err_era;
        }
      }
      f.read = scan_for_digits(&p, 4, &f.value, &f.digits) == 0;
      f.by_name = named_era; /* the era name stands before the digits */
    }

    if (!f.read) {
      /* A four-digit year just before, or two fields before with a
      ** two-digit field between, may have swallowed this field. */
      scanned_field *prev = i > 0 ? &field[i - 1] : nullptr;
      if (kind != field_year && prev != nullptr && order[i - 1] == field_year &&
          prev->digits == 4 && era_name == nullptr) {
        f.value = prev->value % 100;
        f.digits = 2;
        prev->value /= 100;
        prev->digits = 2;
        f.read = true;
      } else if (kind != field_year && i == 2 && order[0] == field_year && field[0].digits == 4 &&
                 era_name == nullptr && field[1].digits == 2 && !field[1].by_name) {
        f.value = field[1].value;
        f.digits = 2;
        field[1].value = field[0].value % 100;
        field[0].value /= 100;
        field[0].digits = 2;
        f.read = true;
      } else {
        /* Only text that is there can be separated the wrong way. */
        bool inconsistent = i == 2 && *p != '\0' && f.separated != field[1].separated;
        return inconsistent ? gls_err_date_argument : missing_field_error(kind);
      }
      continue;
    }
    if (i == 2 && f.separated != field[1].separated) return gls_err_date_argument;
    bool odd = f.digits % 2 == 1;
    bool after_month_name = i > 0 && order[i - 1] == field_month && field[i - 1].by_name;
    bool era_led = kind == field_year && era_name != nullptr;
    if (i > 0 && odd && !f.separated && !after_month_name && !era_led)
      return missing_field_error(kind);
  }
  if (*skip_blanks(p) != '\0') return gls_err_date_argument;

  int month = 0, day = 0, year = 0, year_digits = 0;
  const scanned_field *month_field = nullptr;
  for (int i = 0; i < 3; ++i) {
    if (order[i] == field_month) {
      month = field[i].value;
      month_field = &field[i];
    } else if (order[i] == field_day) {
      day = field[i].value;
    } else {
      year = field[i].value;
      year_digits = field[i].digits;
    }
  }
  if (triple_only) {
    mdy[0] = static_cast<int16_t>(month);
    mdy[1] = static_cast<int16_t>(day);
    mdy[2] = static_cast<int16_t>(negative_year ? -year : year);
    return 0;
  }
  if (era_name == nullptr && gregorian) {
    if (year_digits <= 2) {
      int century = getcentury(month, day, year);
      if (century < 0) return century;
      if (century > 99) return gls_err_bad_dbdate;
      year += 100 * century;
    }
    mdy[0] = static_cast<int16_t>(month);
    mdy[1] = static_cast<int16_t>(day);
    mdy[2] = static_cast<int16_t>(year);
    int32_t result = DATE_NULL;
    int status = rmdyjul(mdy, &result);
    if (status == 0 && date != nullptr) *date = result;
    return status;
  }

  /* The locale's calendar or an era: the fields as text for its parser. */
  std::string fields_text;
  std::string format;
  char number[16];
  if (gregorian || !month_field->by_name) {
    std::snprintf(number, sizeof number, "%d %d ", month, day);
    fields_text = number;
    format = "%m %d ";
  } else {
    fields_text.assign(month_field->typed, static_cast<size_t>(month_field->typed_length));
    std::snprintf(number, sizeof number, " %d ", day);
    fields_text += number;
    format = "%b %d ";
  }
  /* The year's digits as read (a shared-out year has two). */
  std::snprintf(number, sizeof number, "%0*d", year_digits, year);
  if (era_name != nullptr) {
    fields_text.append(era_name, static_cast<size_t>(era_length));
    fields_text += number;
    format += eyear_fmt[year_digits];
  } else {
    fields_text += number;
    format += year_digits == 4 ? "%iY" : "%iy";
  }
  int32_t result = DATE_NULL;
  int status = dcvfmtasc(&result, format.c_str(), fields_text.c_str());
  if (status == 0 && date != nullptr) *date = result;
  return status;
}

}  // extern "C"
