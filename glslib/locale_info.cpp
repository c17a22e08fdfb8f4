/*
** Read-only questions put to a loaded locale record: a text by its
** information item number (multibyte or wide), the numeric and monetary
** conventions, the library's version strings and the shortest and longest
** character of the code set.
**
** Callers: the client environment (formats, calendar, conventions), the
** value types and the string, collation and money routines. Calls: the
** multi-level table header getters and the calendar table.
*/

#include <type_traits>

#include "locale_internal.h"

namespace {

constexpr int last_item = GL_CALENDAR;
constexpr int month_item_count = 20; /* month items reach at most 20 names */

/* The item's text pair (multibyte and wide slot) for items other than the
** month lists, the code-set name and the calendar. */
struct Texts {
  char *mb;
  gl_wchar *wc;
};

Texts item_texts(gl_locale *r, int item) {
  gl_ltime &t = r->ltime;
  if (item >= GL_DAY_1 && item < GL_DAY_1 + 7)
    return {t.day[item - GL_DAY_1], t.day_wc[item - GL_DAY_1]};
  if (item >= GL_ABDAY_1 && item < GL_ABDAY_1 + 7)
    return {t.abday[item - GL_ABDAY_1], t.abday_wc[item - GL_ABDAY_1]};
  switch (item) {
    case GL_D_T_FMT:
      return {t.d_t_fmt, t.d_t_fmt_wc};
    case GL_RADIXCHAR:
      return {r->decimal_point.mb, r->decimal_point.wc};
    case GL_THOUSEP:
      return {r->thousands_sep.mb, r->thousands_sep.wc};
    case GL_YESSTR:
      return {r->yes_str.mb, r->yes_str.wc};
    case GL_NOSTR:
      return {r->no_str.mb, r->no_str.wc};
    case GL_CRNCYSTR:
      return {r->currency_symbol.mb, r->currency_symbol.wc};
    case GL_D_FMT:
      return {t.d_fmt, t.d_fmt_wc};
    case GL_T_FMT:
      return {t.t_fmt, t.t_fmt_wc};
    case GL_T_FMT_AMPM:
      return {t.t_fmt_ampm, t.t_fmt_ampm_wc};
    case GL_AM_STR:
      return {t.am_pm[0], t.am_pm_wc[0]};
    case GL_PM_STR:
      return {t.am_pm[1], t.am_pm_wc[1]};
    case GL_ERA:
      return {t.era_joined.mb, t.era_joined.wc};
    case GL_ERA_D_FMT:
      return {t.era_d_fmt, t.era_d_fmt_wc};
    case GL_ERA_D_T_FMT:
      return {t.era_d_t_fmt, t.era_d_t_fmt_wc};
    case GL_ERA_T_FMT:
      return {t.era_t_fmt, t.era_t_fmt_wc};
    case GL_ALT_DIGITS:
      return {t.alt_digits_joined.mb, t.alt_digits_joined.wc};
    case GL_YESEXPR:
      return {r->yes_expr.mb, r->yes_expr.wc};
    case GL_NOEXPR:
      return {r->no_expr.mb, r->no_expr.wc};
    default:
      return {nullptr, nullptr};
  }
}

const gl_calendar_name *calendar_row(int id) {
  for (const gl_calendar_name *row = gls_canned_calendars; row->name != nullptr; ++row)
    if (row->id == id) return row;
  return nullptr;
}

/* The month list an item falls in and its index; false for other items. */
bool month_item(gl_locale *r, int item, gl_text_list **list, int *index) {
  if (item >= GL_MON_1 && item < GL_MON_1 + month_item_count) {
    *list = &r->ltime.mon;
    *index = item - GL_MON_1;
    return true;
  }
  if (item >= GL_ABMON_1 && item < GL_ABMON_1 + month_item_count) {
    *list = &r->ltime.abmon;
    *index = item - GL_ABMON_1;
    return true;
  }
  return false;
}

/* The multibyte (wide false) or wide (wide true) member of a pair of forms. */
template <bool wide, typename Mb, typename Wc>
auto pick(Mb mb, Wc wc) {
  if constexpr (wide) {
    return wc;
  } else {
    return mb;
  }
}

/* The item's text in the form asked for; see gl_nl_langinfo. */
template <bool wide>
auto langinfo(gl_locale *record, int item) {
  using Text = std::conditional_t<wide, gl_wchar *, char *>;
  if (record == nullptr || item < 0 || item > last_item) return Text {nullptr};
  gl_text_list *list = nullptr;
  int index = 0;
  if (month_item(record, item, &list, &index)) {
    auto texts = pick<wide>(list->mb, list->wc);
    if (index >= list->count || texts == nullptr) {
      glslib::store_error(record, GL_EBADARG);
      return Text {nullptr};
    }
    return texts[index];
  }
  const int numeric = GL_NUMERIC - GL_CTYPE;
  if (item == GL_CODESET)
    return Text {pick<wide>(record->codeset_names[numeric], record->codeset_names_wc[numeric])};
  if (item == GL_CALENDAR) {
    const gl_calendar_name *row = calendar_row(record->ltime.calendar);
    return row != nullptr ? const_cast<Text>(pick<wide>(row->name, row->wc_name)) : Text {nullptr};
  }
  const Texts texts = item_texts(record, item);
  return pick<wide>(texts.mb, texts.wc);
}

}  // namespace

extern "C" {

char *gl_nl_langinfo(gl_locale *record, int item) { return langinfo<false>(record, item); }

gl_wchar *gl_wc_nl_langinfo(gl_locale *record, int item) { return langinfo<true>(record, item); }

glconv *gl_localeconv(gl_locale *record) { return record != nullptr ? &record->conv : nullptr; }

const char *gl_version(void) { return "glslib-3.12.UC1"; }
const char *gl_cm_version(void) { return "3"; }
const char *gl_lc_version(void) { return "11"; }
const char *gl_cv_version(void) { return "9"; }

int gl_mb_loc_max(gl_locale *record) {
  if (record == nullptr || record->ctype_table == nullptr) return 0;
  return _gl_multi_max_length(record->ctype_table);
}

int gl_mb_loc_min(gl_locale *record) {
  if (record == nullptr || record->ctype_table == nullptr) return 4;
  return _gl_multi_min_length(record->ctype_table);
}

}  // extern "C"
