/*
** date_picture.cpp: DATE text by an explicit picture such as mm/dd/yyyy:
** the translation of a picture into the locale library's directives, and
** rdefmtdate/rfmtdate (with the century variant dvz_defmtdate) on top of
** it. initdbtoday calls rdefmtdate with "yyyy/mm/dd".
**
** Reading uses only the picture's field order and era kind, through the
** DBDATE scanner (date_scan.cpp); writing formats through dtofmtasc
** (date_text.cpp) into the 1024-byte buffer of the public contract.
*/
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "date_internal.h"
#include "os_glsenv.h"

namespace {

/* One picture element, its directive, the field it gives (1 day, 2 month,
** 3 year, 0 none) and the era kind it implies. Longer elements first, so
** that the first match is the longest. */
struct picture_element {
  std::string_view letters;
  std::string_view directive;
  int field;
  int era_kind;
};

constexpr picture_element picture_elements[] = {{"nnnnyyyy", "%EC%04.4Ey", 3, 1},
                                                {"nnnnyy", "%EC%02.2Ey", 3, 1},
                                                {"eyyyy", "%EC%04.4Ey", 3, 3},
                                                {"gyyyy", "%Eg%04.4Ey", 3, 3},
                                                {"nyyyy", "%Eg%04.4Ey", 3, 1},
                                                {"yyyy", "%iY", 3, 0},
                                                {"eyy", "%EC%02.2Ey", 3, 3},
                                                {"gyy", "%Eg%02.2Ey", 3, 3},
                                                {"nyy", "%Eg%02.2Ey", 3, 1},
                                                {"ddd", "%a", 0, 0},
                                                {"www", "%a", 0, 0},
                                                {"mmm", "%b", 2, 0},
                                                {"dd", "%d", 1, 0},
                                                {"mm", "%m", 2, 0},
                                                {"yy", "%iy", 3, 0}};

/* Trailing era markers and their era kind. */
struct era_marker {
  std::string_view letters;
  int era_kind;
};

constexpr era_marker era_markers[] = {{"c1", 2}, {"j1", 1}, {"j2", 1}};

/* Whether text begins with the lower-case letters, without regard to
** case. */
bool begins_with(std::string_view text, std::string_view letters) {
  if (text.size() < letters.size()) return false;
  for (size_t i = 0; i < letters.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != letters[i]) return false;
  return true;
}

bool blank_only(const char *text) {
  while (*text == ' ')
    ++text;
  return *text == '\0';
}

}  // namespace

extern "C" {

/* REQUIRES: picture terminated. *format gets a malloc'ed format the caller
** frees. In mode 1 the picture must give a day, a month and a year, whose
** order fills order (1 day, 2 month, 3 year). 0, -1211 or -1212. */
int fmtdate_to_gl_date(const char *picture, char **format, int32_t *era_kind, int32_t *order,
                       int mode) {
  if (picture == nullptr || format == nullptr) return gls_err_bad_dbdate;
  std::string_view rest(picture);
  std::string out;
  int kind = 0;
  int fields = 0;
  bool seen[4] = {};
  int32_t found_order[3] = {0, 0, 0};
  while (!rest.empty()) {
    bool matched = false;
    if (rest.size() == 2) {
      for (const era_marker &marker : era_markers) {
        if (begins_with(rest, marker.letters)) {
          kind = marker.era_kind;
          rest.remove_prefix(2);
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    for (const picture_element &element : picture_elements) {
      if (!begins_with(rest, element.letters)) continue;
      out += element.directive;
      if (element.era_kind != 0) kind = element.era_kind;
      if (element.field != 0 && !seen[element.field]) {
        seen[element.field] = true;
        if (fields < 3) found_order[fields++] = element.field;
      }
      rest.remove_prefix(element.letters.size());
      matched = true;
      break;
    }
    if (matched) continue;
    out += rest.front();
    rest.remove_prefix(1);
  }
  if (mode == 1) {
    if (fields < 3) return gls_err_bad_dbdate;
    if (order != nullptr)
      for (int i = 0; i < 3; ++i)
        order[i] = found_order[i];
  }
  if (era_kind != nullptr) *era_kind = kind;
  char *copy = static_cast<char *>(std::malloc(out.size() + 1));
  if (copy == nullptr) return gls_err_date_memory;
  std::memcpy(copy, out.c_str(), out.size() + 1);
  *format = copy;
  return 0;
}

/* Reads text by the picture's field order; the output DATE is not made
** NULL first (an empty text leaves it untouched under DHL_RDEFMTDATE). */
int rdefmtdate(int32_t *date, const char *picture, const char *text) {
  int status = dvz_genlib::date_gls_init();
  if (status != 0) return status;
  char *format = nullptr;
  int32_t era_kind = 0;
  int32_t order[3] = {0, 0, 0};
  status = fmtdate_to_gl_date(picture, &format, &era_kind, order, 1);
  if (status != 0) return status;
  std::free(format);
  if (text == nullptr) text = "";
  if (era_kind == 0 && CheckGlsEnv()->state->gregorian != 0 && fastscan(date, order, text, 1) == 0)
    return 0;
  return scandate(date, order, era_kind, text, 1);
}

int dvz_defmtdate(int32_t *date, const char *picture, const char *text, int century) {
  dvz_genlib::century_override rule(century);
  return rdefmtdate(date, picture, text);
}

/* REQUIRES: buffer of 1024 bytes. A blank picture writes nothing; the NULL
** DATE writes "". */
int rfmtdate(int32_t date, const char *picture, char *buffer) {
  int status = dvz_genlib::date_gls_init();
  if (status != 0) return status;
  if (picture == nullptr) return gls_err_bad_dbdate;
  if (blank_only(picture)) return 0;
  if (date == DATE_NULL) {
    buffer[0] = '\0';
    return 0;
  }
  char *format = nullptr;
  status = fmtdate_to_gl_date(picture, &format, nullptr, nullptr, 0);
  if (status != 0) return status;
  status = dtofmtasc(date, format, buffer, date_text_size);
  std::free(format);
  return status;
}

}  // extern "C"
