/*
** locale_overlay - reader and merger of the hand-authored TIME overlays
** (see locale_overlay.h). The UTF-8 decoder is strict (no overlong forms,
** surrogates or values above U+10FFFF), so that a damaged overlay stops
** the generator instead of writing wrong bytes. Called by locale_gen.cpp;
** calls the charmap lookup of locale_glibc.
*/
#include "locale_overlay.h"

#include <fstream>
#include <string_view>

namespace glsgen {

namespace {

/* The calendars an overlay may name, with their month counts (the
** Hebrew calendar names 14 months: Adar I and Adar II of leap years after
** the 12 of its common years). */
struct CalendarMonths {
  std::string_view name;
  std::size_t months;
};
constexpr CalendarMonths calendar_months[] = {
    {"gregorian", 12},
    {"hebrew", 14},
    {"islamic", 12},
};

/* Decodes UTF-8 text; false on a malformed sequence. */
bool decode_utf8(std::string_view text, std::u32string &out) {
  out.clear();
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0; /* the smallest value of this length: no overlong forms */
    if (lead < 0x80) {
      length = 1;
      value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      value = lead & 0x1F;
      least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      value = lead & 0x0F;
      least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      value = lead & 0x07;
      least = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      value = (value << 6) | (c & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    out.push_back(value);
    i += length;
  }
  return true;
}

std::string_view trim_end(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

/* A text in the code set of data. */
bool encode(const LocaleData &data, const std::u32string &text, std::string &out,
            std::string *error) {
  out.clear();
  for (char32_t c : text) {
    const CharmapChar *found = repertoire_char(data, c);
    if (found == nullptr) {
      *error = "character U+" + std::to_string(static_cast<uint32_t>(c)) + " is not in " +
               data.charmap.name;
      return false;
    }
    out.append(found->bytes.begin(), found->bytes.end());
  }
  return true;
}

bool encode_list(const LocaleData &data, const std::vector<std::u32string> &texts,
                 std::vector<std::string> &out, std::string *error) {
  std::vector<std::string> encoded(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (!encode(data, texts[i], encoded[i], error)) return false;
  }
  out = std::move(encoded);
  return true;
}

const CalendarMonths *calendar_of(std::string_view name) {
  for (const CalendarMonths &c : calendar_months) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

}  // namespace

bool read_overlay(const std::string &path, TimeOverlay &out, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open";
    return false;
  }
  out = TimeOverlay {};
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::string_view text = trim_end(line);
    if (text.empty() || text[0] == '#') continue;
    const std::size_t blank = text.find_first_of(" \t");
    const std::string_view keyword = text.substr(0, blank);
    const std::size_t start =
        blank == std::string_view::npos ? text.size() : text.find_first_not_of(" \t", blank);
    const std::string_view raw = start == std::string_view::npos ? "" : text.substr(start);
    std::u32string value;
    if (raw.empty() || !decode_utf8(raw, value)) {
      *error = where + "no value, or a value that is not UTF-8";
      return false;
    }
    if (keyword == "calendar") {
      if (!out.calendar.empty() || calendar_of(raw) == nullptr) {
        *error = where + "a second calendar, or one without a known month count";
        return false;
      }
      out.calendar = raw;
    } else if (keyword == "mon") {
      out.mon.push_back(std::move(value));
    } else if (keyword == "abmon") {
      out.abmon.push_back(std::move(value));
    } else if (keyword == "era") {
      out.eras.push_back(std::move(value));
    } else {
      *error = where + "unknown keyword \"" + std::string(keyword) + "\"";
      return false;
    }
  }
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

bool apply_overlay(const TimeOverlay &overlay, LocaleData &data, std::string *error) {
  if (!overlay.calendar.empty()) data.calendar = overlay.calendar;
  if (!overlay.calendar.empty() && overlay.calendar != "gregorian" && overlay.mon.empty()) {
    *error = "calendar " + overlay.calendar + " needs its own month names";
    return false;
  }
  if (!overlay.mon.empty() && !encode_list(data, overlay.mon, data.mon, error)) return false;
  if (!overlay.abmon.empty() && !encode_list(data, overlay.abmon, data.abmon, error)) return false;
  if (!overlay.eras.empty() && !encode_list(data, overlay.eras, data.eras, error)) return false;
  const CalendarMonths *calendar = calendar_of(data.calendar);
  if (calendar == nullptr || data.mon.size() != calendar->months ||
      data.abmon.size() != calendar->months) {
    *error = "calendar " + data.calendar + " and its month lists (" +
             std::to_string(data.mon.size()) + " names, " + std::to_string(data.abmon.size()) +
             " abbreviations) do not fit";
    return false;
  }
  return true;
}

}  // namespace glsgen
