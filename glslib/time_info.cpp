/*
** Time information: copies of the name lists of a locale's TIME category
** (day, month, era and am/pm names, alternative digits), its seven format
** strings and its era count, for the time formatter's size-only mode and
** the client's locale environment.
** Callers: time_format.cpp, the client library. Calls: the host allocator
** and the character layer.
*/

#include "gl_errors.h"
#include "gl_time.h"
#include "locale_internal.h"

#include <cstring>

using namespace glslib;

namespace {

/* The strings of one item and their count; false for an unknown item. */
bool item_list(gl_locale *loc, int item, char *const **strings, int *count) {
  gl_ltime &lt = loc->ltime;
  static char *era_none[1] = {nullptr};
  switch (item) {
    case GL_TIMEINFO_DAY:
      *strings = lt.day;
      *count = 7;
      return true;
    case GL_TIMEINFO_ABDAY:
      *strings = lt.abday;
      *count = 7;
      return true;
    case GL_TIMEINFO_MON:
      *strings = lt.mon.mb;
      *count = lt.mon.mb != nullptr ? lt.mon.count : 0;
      return true;
    case GL_TIMEINFO_ABMON:
      *strings = lt.abmon.mb;
      *count = lt.abmon.mb != nullptr ? lt.abmon.count : 0;
      return true;
    case GL_TIMEINFO_ERA_NAME:
    case GL_TIMEINFO_ERA_NAME2:
      /* Era names live in the parsed records: gathered by the caller. */
      *strings = era_none;
      *count = lt.eras.records != nullptr ? lt.eras.count : 0;
      return true;
    case GL_TIMEINFO_ALT_DIGITS:
      *strings = lt.alt_digits.mb;
      *count = lt.alt_digits.mb != nullptr ? lt.alt_digits.count : 0;
      return true;
    case GL_TIMEINFO_AM_PM:
      *strings = lt.am_pm;
      *count = 2;
      return true;
    default:
      return false;
  }
}

/* A copy of a terminated multibyte text with its terminator. */
char *copy_text(gl_locale *loc, const char *text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  std::size_t bytes = 0;
  int terminator;
  while ((terminator = gl_ismbsterm(loc, p + bytes)) == 0)
    ++bytes;
  char *copy = alloc_zeroed<char>(bytes + static_cast<std::size_t>(terminator));
  if (copy != nullptr) std::memcpy(copy, text, bytes);
  return copy;
}

}  // namespace

extern "C" {

int gl_mbstimeinfo(gl_locale *loc, int item, char ***list, int *count) {
  if (list == nullptr || count == nullptr) {
    if (loc != nullptr) store_error(loc, GL_ENULLPTR);
    return -1;
  }
  *list = nullptr;
  *count = 0;
  if (loc == nullptr) return -1;
  char *const *strings = nullptr;
  int n = 0;
  if (!item_list(loc, item, &strings, &n) || n <= 0) return -1;
  char **copies = alloc_zeroed<char *>(static_cast<std::size_t>(n));
  if (copies == nullptr) {
    store_error(loc, GL_ENOMEM);
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    const char *source =
        strings[item == GL_TIMEINFO_ERA_NAME || item == GL_TIMEINFO_ERA_NAME2 ? 0 : i];
    if (item == GL_TIMEINFO_ERA_NAME || item == GL_TIMEINFO_ERA_NAME2) {
      const era_record *e = loc->ltime.eras.records[i];
      source = e == nullptr ? nullptr : item == GL_TIMEINFO_ERA_NAME ? e->era_name : e->era_name2;
    }
    if (source == nullptr) continue;
    copies[i] = copy_text(loc, source);
    if (copies[i] == nullptr) {
      /* One copy short: nothing of the list is handed out. */
      for (int j = 0; j < i; ++j)
        _gl_free_ptr(copies[j]);
      _gl_free_ptr(copies);
      store_error(loc, GL_ENOMEM);
      return -1;
    }
  }
  *list = copies;
  *count = n;
  return 0;
}

const char *gl_get_ltime_fmts(gl_locale *loc, int item) {
  static const char empty[4] = {0, 0, 0, 0};
  if (loc == nullptr) return empty;
  const char *format = nullptr;
  switch (item) {
    case 0:
      format = loc->ltime.d_t_fmt;
      break;
    case 61:
      format = loc->ltime.d_fmt;
      break;
    case 62:
      format = loc->ltime.t_fmt;
      break;
    case 63:
      format = loc->ltime.t_fmt_ampm;
      break;
    case 67:
      format = loc->ltime.era_d_fmt;
      break;
    case 68:
      format = loc->ltime.era_d_t_fmt;
      break;
    case 69:
      format = loc->ltime.era_t_fmt;
      break;
    default:
      break;
  }
  return format != nullptr ? format : empty;
}

int gl_get_era_count(gl_locale *loc) {
  if (loc == nullptr) return -1;
  return loc->ltime.eras.count;
}

}  // extern "C"
