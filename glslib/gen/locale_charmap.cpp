/*
** locale_charmap - charmap reader of the locale generator (see
** locale_charmap.h). Understands the header keywords <code_set_name>,
** <comment_char>, <escape_char>, <mb_cur_min>, <mb_cur_max>, and the lines
** between CHARMAP and END CHARMAP: "<Uxxxx> bytes" and ranges
** "<Uxxxx>..<Uyyyy> bytes", bytes written as escape + x/d/o forms. Symbols
** that are not <Uxxxx> names carry no Unicode value and are skipped.
** Called by locale_glibc; calls zlib and the C library.
*/
#include "locale_charmap.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <optional>

namespace glsgen {

namespace {

struct GzCloser {
  void operator()(gzFile f) const { gzclose(f); }
};
using GzPtr = std::unique_ptr<std::remove_pointer_t<gzFile>, GzCloser>;

/* Reads one whole line (without its newline); false at end of file. */
bool read_line(gzFile f, std::string &line) {
  line.clear();
  char buffer[512];
  bool any = false;
  while (gzgets(f, buffer, sizeof buffer) != nullptr) {
    any = true;
    line += buffer;
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      return true;
    }
  }
  return any;
}

std::string trim(const std::string &s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

/* Parses "<Uxxxx>" at s[pos]; advances pos. False when s holds another form. */
bool parse_ucs_symbol(const std::string &s, std::size_t &pos, uint32_t &ucs) {
  if (s.compare(pos, 2, "<U") != 0) return false;
  std::size_t end = s.find('>', pos);
  if (end == std::string::npos || end == pos + 2) return false;
  uint32_t value = 0;
  for (std::size_t i = pos + 2; i < end; ++i) {
    int c = static_cast<unsigned char>(s[i]);
    if (!std::isxdigit(c)) return false;
    value =
        value * 16 + static_cast<uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  ucs = value;
  pos = end + 1;
  return true;
}

/* Parses the byte field at s[pos] (escape-prefixed bytes, no blanks). */
bool parse_bytes(const std::string &s, std::size_t pos, char escape,
                 std::vector<unsigned char> &bytes) {
  bytes.clear();
  while (pos < s.size() && s[pos] == escape) {
    ++pos;
    if (pos >= s.size()) return false;
    char kind = s[pos];
    int base = 8;
    std::size_t max_digits = 3;
    if (kind == 'x' || kind == 'X') {
      base = 16;
      max_digits = 2;
      ++pos;
    } else if (kind == 'd' || kind == 'D') {
      base = 10;
      max_digits = 3;
      ++pos;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (pos < s.size() && digits < max_digits) {
      int c = static_cast<unsigned char>(s[pos]);
      int d = std::isdigit(c) ? c - '0' : (std::isxdigit(c) ? std::tolower(c) - 'a' + 10 : 99);
      if (d >= base) break;
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
      ++digits;
      ++pos;
    }
    if (digits == 0 || value > 255) return false;
    bytes.push_back(static_cast<unsigned char>(value));
  }
  return !bytes.empty() && bytes.size() <= 4;
}

/* The byte string after bytes, counted as a big-endian number. */
bool increment(std::vector<unsigned char> &bytes) {
  for (std::size_t i = bytes.size(); i-- > 0;) {
    if (++bytes[i] != 0) return true;
  }
  return false;
}

}  // namespace

uint32_t pack_bytes(const std::vector<unsigned char> &bytes) {
  uint32_t v = 0;
  for (unsigned char b : bytes)
    v = (v << 8) | b;
  return v;
}

bool read_charmap(const std::string &path, Charmap &out, std::string *error) {
  GzPtr file(gzopen(path.c_str(), "rb"));
  if (!file) {
    *error = path + ": cannot open";
    return false;
  }
  out = Charmap {};
  char comment = '#';
  char escape = '\\';
  bool in_map = false;
  bool seen_map = false;
  std::map<std::vector<unsigned char>, uint32_t> by_bytes;
  std::string line;
  while (read_line(file.get(), line)) {
    std::string t = trim(line);
    if (t.empty() || t[0] == comment) continue;
    if (!in_map) {
      auto value_of = [&](const char *key) -> std::optional<std::string> {
        std::size_t n = std::char_traits<char>::length(key);
        if (t.compare(0, n, key) != 0) return std::nullopt;
        return trim(t.substr(n));
      };
      if (auto v = value_of("<code_set_name>")) {
        out.name = *v;
      } else if (auto c = value_of("<comment_char>"); c && !c->empty()) {
        comment = (*c)[0];
      } else if (auto e = value_of("<escape_char>"); e && !e->empty()) {
        escape = (*e)[0];
      } else if (auto lo = value_of("<mb_cur_min>")) {
        out.mb_cur_min = std::atoi(lo->c_str());
      } else if (auto hi = value_of("<mb_cur_max>")) {
        out.mb_cur_max = std::atoi(hi->c_str());
      } else if (t == "CHARMAP") {
        in_map = seen_map = true;
      }
      continue;
    }
    if (t.compare(0, 3, "END") == 0) {
      in_map = false;
      continue;
    }
    std::size_t pos = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    if (!parse_ucs_symbol(t, pos, first)) continue; /* a symbol with no Unicode value */
    last = first;
    if (t.compare(pos, 2, "..") == 0) {
      pos += 2;
      if (!parse_ucs_symbol(t, pos, last) || last < first) {
        *error = path + ": bad range: " + t;
        return false;
      }
    }
    pos = t.find_first_not_of(" \t", pos);
    std::vector<unsigned char> bytes;
    if (pos == std::string::npos || !parse_bytes(t, pos, escape, bytes)) {
      *error = path + ": bad byte field: " + t;
      return false;
    }
    for (uint32_t ucs = first;; ++ucs) {
      by_bytes.emplace(bytes, ucs);
      if (ucs == last) break;
      if (!increment(bytes)) {
        *error = path + ": range overflows: " + t;
        return false;
      }
    }
  }
  if (!seen_map || by_bytes.empty()) {
    *error = path + ": no CHARMAP section";
    return false;
  }
  for (const auto &[bytes, ucs] : by_bytes) {
    out.chars.push_back(CharmapChar {bytes, ucs});
    out.by_ucs.emplace(ucs, out.chars.size() - 1);
  }
  return true;
}

}  // namespace glsgen
