/*
** dvz_iemc: compiles a message-catalog source into a catalog file (.iem),
** the form the client environment's message reader searches.
**
**   dvz_iemc <source.txt> <catalog.iem>
**
** Source lines are `<signed number><TAB><text>`; lines starting with '#'
** and blank lines are skipped. The text takes the escapes \n \t \\ and
** \xHH (two hex digits); any other backslash is refused. A number must
** fit 32 bits and appear once, a text holds at most 32767 bytes, and a
** catalog at most 65535 entries. Every refusal is reported on stderr as
** `file:line: message` and the program exits 1 without writing the output.
**
** The catalog's layout is os_catalog_format.h's, shared with the reader;
** the texts stand in index order. The output is a function of the source
** alone.
*/
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dvz_be.h"
#include "os_catalog_format.h"
#include "table_compiler.h"

namespace {

struct message {
  int32_t number;
  std::string text;
};

using table_compiler::refusal;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* The text with its escapes decoded, or the reason it is refused. */
std::optional<std::string> decode_text(std::string_view raw, std::string &why) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      text += raw[i];
      continue;
    }
    if (i + 1 == raw.size()) {
      why = "bad escape: '\\' at the end of the line";
      return std::nullopt;
    }
    const char kind = raw[++i];
    switch (kind) {
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      case '\\':
        text += '\\';
        break;
      case 'x': {
        const int high = i + 1 < raw.size() ? hex_value(raw[i + 1]) : -1;
        const int low = i + 2 < raw.size() ? hex_value(raw[i + 2]) : -1;
        if (high < 0 || low < 0) {
          why = "bad escape: \\x needs two hexadecimal digits";
          return std::nullopt;
        }
        text += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        why = std::string("bad escape: '\\") + kind + "'";
        return std::nullopt;
    }
  }
  return text;
}

/* The signed decimal number of the whole field, or the reason it is not. */
std::optional<int32_t> parse_number(std::string_view field, std::string &why) {
  size_t i = 0;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
  if (i == field.size()) {
    why = "expected a signed number before the tab";
    return std::nullopt;
  }
  for (size_t j = i; j < field.size(); ++j) {
    if (field[j] < '0' || field[j] > '9') {
      why = "expected a signed number before the tab, found '" + std::string(field) + "'";
      return std::nullopt;
    }
  }
  const std::string digits(field);
  errno = 0;
  const long long value = std::strtoll(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    why = "number " + digits + " does not fit 32 bits";
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

bool is_blank_line(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

/* Reads every message of the source; the first refusal ends the reading. */
std::optional<refusal> read_source(std::istream &in, std::vector<message> &messages) {
  std::map<int32_t, long> first_line;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#' || is_blank_line(line)) continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      return refusal {number, "expected <number><TAB><text>"};
    }
    std::string why;
    const std::optional<int32_t> value = parse_number(std::string_view(line).substr(0, tab), why);
    if (!value) return refusal {number, why};
    std::optional<std::string> text = decode_text(std::string_view(line).substr(tab + 1), why);
    if (!text) return refusal {number, why};
    if (text->size() > msg_longest_text) {
      return refusal {number, "text of " + std::to_string(text->size()) + " bytes exceeds " +
                                  std::to_string(static_cast<int>(msg_longest_text))};
    }
    const auto [seen, fresh] = first_line.emplace(*value, number);
    if (!fresh) {
      return refusal {number, "duplicate number " + std::to_string(*value) + " (first on line " +
                                  std::to_string(seen->second) + ")"};
    }
    messages.push_back(message {*value, std::move(*text)});
    if (messages.size() > msg_most_entries) {
      return refusal {
          number, "more than " + std::to_string(static_cast<int>(msg_most_entries)) + " entries"};
    }
  }
  if (in.bad()) return refusal {0, "read error"};
  return std::nullopt;
}

/* The catalog bytes of messages, sorted by number. */
std::string encode_catalog(std::vector<message> &messages) {
  std::sort(messages.begin(), messages.end(),
            [](const message &a, const message &b) { return a.number < b.number; });
  const bool narrow = std::all_of(messages.begin(), messages.end(), [](const message &m) {
    return m.number >= std::numeric_limits<int16_t>::min() &&
           m.number <= std::numeric_limits<int16_t>::max();
  });
  const size_t entry_size = narrow ? msg_narrow_entry_size : msg_wide_entry_size;
  std::string out(msg_header_size + messages.size() * entry_size, '\0');
  dvz_st_be_u16(narrow ? msg_magic_narrow : msg_magic_wide, out.data());
  dvz_st_be_u16(static_cast<uint16_t>(messages.size()), out.data() + 2);
  size_t entry = msg_header_size;
  for (const message &m : messages) {
    char *p = out.data() + entry;
    if (narrow) {
      dvz_st_be_i16(static_cast<int16_t>(m.number), p);
      p += 2;
    } else {
      dvz_st_be_i32(m.number, p);
      p += 4;
    }
    dvz_st_be_i16(static_cast<int16_t>(m.text.size()), p);
    dvz_st_be_u32(static_cast<uint32_t>(out.size()), p + 2);
    out += m.text;
    entry += entry_size;
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  return table_compiler::run<message>(argc, argv, "dvz_iemc <source.txt> <catalog.iem>",
                                      read_source, encode_catalog);
}
