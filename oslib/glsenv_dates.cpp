/*
** Date formats and name caches of a locale environment: the date format in
** force (from DBDATE, GL_DATE or the locale), the translation of DBDATE
** into a locale-library date format, the lower-cased month and era names
** the DATE scanner matches against, and the per-qualifier DATETIME format
** table.
**
** Called by the initialisation (initdatetime). Calls the environment, the
** locale library's queries and characters, and the value library's
** datetime services (os_datetime.h) for the DATETIME table.
**
** A DBDATE names each of day, month and year exactly once; anything else
** is -1212. The name caches are replaced whenever initdatetime runs.
*/
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "gl_chars.h"
#include "gl_locale.h"
#include "gl_time.h"
#include "glsenv_internal.h"
#include "os_datetime.h"
#include "os_env.h"
#include "os_glsenv.h"

using oslib_glsenv::current_state;
using oslib_glsenv::replace_copy;

namespace {

/* The built-in date format and its field order (month, day, year). */
constexpr const char *builtin_format = "%m/%d/%iY";
constexpr int32_t builtin_order[3] = {2, 1, 3};

/* Bytes of a translated DBDATE format with its terminator. */
constexpr size_t dbdate_format_size = 19;

/* The year's era style, chosen by a prefix or a suffix of DBDATE. */
enum class era_style { none, era_name, second_name };

constexpr std::array<const char *, 12> english_abmon = {"jan", "feb", "mar", "apr", "may", "jun",
                                                        "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char *, 12> english_mon = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

/* A copy of text into buffer (GLS_DATE_FORMAT_SIZE bytes) or a new
** allocation; NULL when it does not fit or memory is short. */
char *format_copy(const char *text, char *buffer) {
  if (buffer == nullptr) return strdup(text);
  if (std::strlen(text) >= GLS_DATE_FORMAT_SIZE) return nullptr;
  return std::strcpy(buffer, text);
}

/* The year directive of a translated DBDATE. */
const char *year_directive(era_style style, int digits) {
  switch (style) {
    case era_style::era_name:
      return digits == 2 ? "%EC%02.2Ey" : "%EC%04.4Ey";
    case era_style::second_name:
      return digits == 2 ? "%Eg%02.2Ey" : "%Eg%04.4Ey";
    case era_style::none:
      break;
  }
  return digits == 2 ? "%iy" : "%iY";
}

/* Replaces the list at *head by the locale's names of item, lower-cased,
** with the English names in front in a Gregorian locale: 0 or -1. */
int cache_names(gls_name_block **head, int item, const std::array<const char *, 12> *english) {
  free_locale_string(head);
  gls_env *env = CheckGlsEnv();
  char **list = nullptr;
  int count = 0;
  if (gl_mbstimeinfo(env->locale, item, &list, &count) != 0) return -1;
  std::vector<char *> lowered;
  int rc = 0;
  for (int i = 0; i < count; ++i) {
    char *text = list[i];
    if (rc == 0 && text != nullptr && downcase_gls_string(&text) == 0)
      lowered.push_back(text);
    else
      rc = -1;
    _gl_free_ptr(list[i]);
  }
  _gl_free_ptr(list);
  if (rc == 0) rc = cache_locale_string(head, lowered.data(), static_cast<int>(lowered.size()));
  for (char *text : lowered)
    std::free(text);
  if (rc == 0 && english != nullptr && env->state->gregorian != 0)
    rc = cache_locale_string(head, const_cast<char **>(english->data()),
                             static_cast<int>(english->size()));
  return rc;
}

/* Index of a DATETIME unit in the format table. */
int unit_index(int unit) { return unit < 11 ? unit / 2 : unit - 5; }

/* A DATETIME qualifier of digits from start to end. */
int qualifier(int digits, int start, int end) { return (digits << 8) | (start << 4) | end; }

}  // namespace

extern "C" {

int initdatetime(void) {
  new_gls_env *state = current_state();
  std::free(state->date_format);
  state->date_format = nullptr;
  state->date_format_present = 0;
  std::memset(state->field_order, 0, sizeof state->field_order);
  state->era_kind = 0;
  state->dbdate_style = 0;
  if (int rc = getglsfmt(); rc != 0) return rc;
  const char *calendar = gl_nl_langinfo(CheckGlsEnv()->locale, GL_CALENDAR);
  state->gregorian = calendar != nullptr && std::strncmp(calendar, "gregorian", 9) == 0;
  (void)cache_month_strings();
  (void)cache_era_strings();
  (void)cache_dtimequals(0);
  return 0;
}

int getglsfmt(void) { return nogetenv_getglsfmt(nullptr, nullptr, nullptr, 0); }

int nogetenv_getglsfmt(const char *dbdate, const char *gl_date, char *buffer, int no_env) {
  gls_env *env = CheckGlsEnv();
  new_gls_env *state = env->state;
  if (no_env == 0) {
    dbdate = ggetenv("DBDATE");
    gl_date = ggetenv("GL_DATE");
  }
  char *format = nullptr;
  if (dbdate != nullptr) {
    if (!replace_copy(&state->vars[gls_var_dbdate], dbdate)) return gls_err_date_memory;
    int32_t era_kind = 0;
    int32_t order[3] = {};
    if (int rc = dbdate_to_gl_date(state->vars[gls_var_dbdate], &format, &era_kind, order, buffer);
        rc != 0)
      return rc;
    state->date_format_present = 1;
    std::memcpy(state->field_order, order, sizeof order);
    state->era_kind = era_kind;
    state->dbdate_style = 1;
  } else if (gl_date != nullptr) {
    format = format_copy(gl_date, buffer);
    if (format == nullptr || !replace_copy(&state->vars[gls_var_gl_date], gl_date)) {
      if (format != buffer) std::free(format);
      return gls_err_date_memory;
    }
    state->date_format_present = 1;
    state->dbdate_style = 0;
  } else {
    char *query = gl_setlocale_4(env->locale, GL_TIME, nullptr);
    const bool english = query != nullptr && std::strncmp(query, "en_us", 5) == 0;
    if (query != nullptr) gl_destroystring(query);
    const char *locale_format = english ? nullptr : gl_nl_langinfo(env->locale, GL_D_FMT);
    if (locale_format != nullptr && locale_format[0] != '\0') {
      format = format_copy(locale_format, buffer);
      state->dbdate_style = 0;
    } else {
      format = format_copy(builtin_format, buffer);
      std::memcpy(state->field_order, builtin_order, sizeof builtin_order);
      state->era_kind = 0;
      state->dbdate_style = 1;
    }
    if (format == nullptr) return gls_err_date_memory;
  }
  if (buffer == nullptr) {
    if (state->date_format != format) std::free(state->date_format);
    state->date_format = format;
  }
  return 0;
}

int dbdate_to_gl_date(const char *dbdate, char **format, int32_t *era_kind, int32_t *field_order,
                      char *buffer) {
  if (dbdate == nullptr || format == nullptr || era_kind == nullptr || field_order == nullptr)
    return gls_err_date_argument;
  if (dbdate[0] == '\0') return gls_err_bad_dbdate;

  const char *p = dbdate;
  int32_t order[3] = {};
  int fields = 0;
  int seen[4] = {};
  int digits = 0;
  int32_t era = 0;
  era_style style = era_style::none;
  bool prefix = false;
  auto add_field = [&](int32_t field) {
    order[fields++] = field;
    ++seen[field];
  };
  while (fields < 3 && *p != '\0') {
    const char c = *p;
    if (c < 'D' || c > 'y') return gls_err_bad_dbdate;
    switch (std::toupper(static_cast<unsigned char>(c))) {
      case 'D':
        add_field(1);
        ++p;
        break;
      case 'M':
        add_field(2);
        ++p;
        break;
      case 'Y': {
        const char next = *++p;
        if (next == 'Y' || next == 'y' || next == '2') {
          digits = 2;
          ++p;
        } else if (next == '4') {
          digits = 4;
          ++p;
        } else if (prefix) {
          digits = 2;
        } else {
          return gls_err_bad_dbdate;
        }
        add_field(3);
        break;
      }
      case 'E':
      case 'G':
      case 'N': {
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (p[1] != 'Y') return gls_err_bad_dbdate;
        era = letter == 'N' ? 1 : 3;
        style = letter == 'E' ? era_style::era_name : era_style::second_name;
        prefix = true;
        ++p;
        break;
      }
      default:
        return gls_err_bad_dbdate;
    }
  }
  if (fields != 3 || seen[1] != 1 || seen[2] != 1 || seen[3] != 1) return gls_err_bad_dbdate;

  const char *separator = "/";
  static constexpr std::string_view separators = "/-.,0";
  if (*p != '\0' && separators.find(*p) != std::string_view::npos) {
    static const char *const texts[] = {"/", "-", ".", ",", ""};
    separator = texts[separators.find(*p)];
    ++p;
  }
  if (*p != '\0') {
    if ((p[0] != 'C' && p[0] != 'J') || (p[1] != '1' && p[1] != '2')) return gls_err_bad_dbdate;
    era = p[0] == 'C' ? 2 : 1;
    style = p[1] == '1' ? era_style::second_name : era_style::era_name;
  }

  char *out = buffer != nullptr ? buffer : static_cast<char *>(std::malloc(dbdate_format_size));
  if (out == nullptr) return gls_err_date_memory;
  out[0] = '\0';
  for (int i = 0; i < 3; ++i) {
    if (i > 0) std::strcat(out, separator);
    std::strcat(out, order[i] == 1 ? "%d" : order[i] == 2 ? "%m" : year_directive(style, digits));
  }
  *format = out;
  *era_kind = era;
  std::memcpy(field_order, order, sizeof order);
  return 0;
}

int cache_month_strings(void) {
  new_gls_env *state = current_state();
  if (cache_names(&state->abmon_cache, GL_TIMEINFO_ABMON, &english_abmon) != 0) return -1;
  return cache_names(&state->mon_cache, GL_TIMEINFO_MON, &english_mon);
}

int cache_era_strings(void) {
  new_gls_env *state = current_state();
  if (cache_names(&state->era2_cache, GL_TIMEINFO_ERA_NAME2, nullptr) != 0) return -1;
  return cache_names(&state->era_cache, GL_TIMEINFO_ERA_NAME, nullptr);
}

int cache_locale_string(gls_name_block **head, char **strings, int count) {
  if (head == nullptr || count < 0 || (count > 0 && strings == nullptr)) return -1;
  size_t size = sizeof(gls_name_block) + static_cast<size_t>(count) * sizeof(char *);
  for (int i = 0; i < count; ++i)
    size += std::strlen(strings[i]) + 1;
  auto *block = static_cast<gls_name_block *>(std::malloc(size));
  if (block == nullptr) return -1;
  block->count = count;
  char **slots = gls_name_block_strings(block);
  char *text = reinterpret_cast<char *>(slots + count);
  for (int i = 0; i < count; ++i) {
    const size_t n = std::strlen(strings[i]) + 1;
    std::memcpy(text, strings[i], n);
    slots[i] = text;
    text += n;
  }
  block->next = *head;
  *head = block;
  return 0;
}

void free_locale_string(gls_name_block **head) {
  if (head == nullptr) return;
  while (*head != nullptr) {
    gls_name_block *next = (*head)->next;
    std::free(*head);
    *head = next;
  }
}

int tolower_string(char *s) {
  gl_locale *loc = CheckGlsEnv()->locale;
  if (s == nullptr || loc == nullptr || loc->mbstowcs_fn == nullptr) return -1;
  const size_t bytes = std::strlen(s);
  std::array<gl_wchar, 17> local;
  std::vector<gl_wchar> heap;
  gl_wchar *wide = local.data();
  if (bytes + 1 > local.size()) {
    heap.resize(bytes + 1);
    wide = heap.data();
  }
  const int n = static_cast<int>(bytes + 1);
  const int count = loc->mbstowcs_fn(loc, wide, reinterpret_cast<const unsigned char *>(s), n);
  if (count < 0) return -1;
  for (int i = 0; i < count; ++i) {
    if (loc->single_byte == 1) {
      if (wide[i] > 255)
        loc->error = 1;
      else if (loc->lower_map != nullptr)
        wide[i] = loc->lower_map[wide[i]];
    } else {
      wide[i] = _gl_im_towlower(loc, wide[i]);
    }
  }
  return gl_full_wcstombs(loc, reinterpret_cast<unsigned char *>(s), wide,
                          static_cast<int>(bytes * 4 + 1));
}

int downcase_gls_string(char **s) {
  if (s == nullptr || *s == nullptr) return -1;
  const size_t bytes = std::strlen(*s);
  auto *copy = static_cast<char *>(std::calloc(bytes * 4 + 1, 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, *s, bytes);
  if (tolower_string(copy) < 0) {
    std::free(copy);
    return -1;
  }
  *s = copy;
  return 0;
}

void free_strings(char **list, int count) {
  if (list == nullptr) return;
  for (int i = 0; i < count; ++i)
    std::free(list[i]);
  std::free(list);
}

void init_dtimequals(void) {
  gls_env *env = CheckGlsEnv();
  for (auto &row : env->dtime_formats)
    for (char *&entry : row) {
      std::free(entry);
      entry = nullptr;
    }
}

int cache_dtimequals(int x) {
  init_dtimequals();
  if (get_usedtenv() == 0) return x;
  gls_env *env = CheckGlsEnv();
  char *format = nullptr;
  if (getdatetimefmt(&format) != 0) format = nullptr;
  auto fill = [&](int start, int end) {
    const int digits = end - start + (start == 0 ? 4 : 2);
    env->dtime_formats[unit_index(start)][unit_index(end)] =
        qualtofmt(qualifier(digits, start, end), format);
  };
  for (int start = 0; start <= 10; start += 2) {
    for (int end = start; end <= 10; end += 2)
      fill(start, end);
    for (int end = 11; end <= 15; ++end)
      fill(start, end);
  }
  for (int start = 11; start <= 15; ++start)
    env->dtime_formats[unit_index(start)][unit_index(start)] =
        qualtofmt(qualifier(2, start, start), format);
  std::free(format);
  return x;
}

}  // extern "C"
