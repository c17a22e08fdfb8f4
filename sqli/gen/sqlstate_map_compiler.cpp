/*
** dvz_sqlstatec: compiles the SQLSTATE map source into the map file the
** runtime reads to find the SQLSTATE of a status code.
**
**   dvz_sqlstatec <source.txt> <map.pam>
**
** Source lines are `<signed code><TAB><message number><TAB><SQLSTATE>`;
** lines starting with '#' and blank lines are skipped. A code must fit
** 32 bits and appear once; the message number is 0 or positive and fits
** 32 bits; the SQLSTATE is exactly five letters or digits. Every refusal
** is reported on stderr as `file:line: message` and the program exits 1
** without writing the output.
**
** The map (all numbers big-endian): the magic "itox00", an i32 record
** count, then 13-byte records {i32 code, i32 message number, 5-byte
** SQLSTATE} in descending order of code. The output is a function of the
** source alone.
*/
#include <algorithm>
#include <cctype>
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
#include "table_compiler.h"

namespace {

constexpr char magic[] = "itox00";
constexpr size_t magic_size = 6;
constexpr size_t record_size = 13;
constexpr size_t state_size = 5;

struct entry {
  int32_t code;
  int32_t msgnum;
  std::string state;
};

using table_compiler::refusal;

/* The signed decimal number of the whole field, or the reason it is not. */
std::optional<int32_t> parse_number(std::string_view field, const char *what, std::string &why) {
  size_t i = 0;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
  bool digits = i < field.size();
  for (size_t j = i; j < field.size(); ++j)
    digits = digits && field[j] >= '0' && field[j] <= '9';
  if (!digits) {
    why = std::string("expected a signed ") + what + ", found '" + std::string(field) + "'";
    return std::nullopt;
  }
  const std::string text(field);
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    why = std::string(what) + " " + text + " does not fit 32 bits";
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

bool is_blank_line(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

/* The fields of a line split at its tabs. */
std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string_view::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

/* One entry of a line, or the reason it is refused. */
std::optional<entry> parse_line(std::string_view line, std::string &why) {
  const std::vector<std::string_view> fields = split_tabs(line);
  if (fields.size() != 3) {
    why = "expected <code><TAB><message number><TAB><SQLSTATE>";
    return std::nullopt;
  }
  const std::optional<int32_t> code = parse_number(fields[0], "code", why);
  if (!code) return std::nullopt;
  const std::optional<int32_t> msgnum = parse_number(fields[1], "message number", why);
  if (!msgnum) return std::nullopt;
  if (*msgnum < 0) {
    why = "message number " + std::to_string(*msgnum) + " is negative";
    return std::nullopt;
  }
  std::string_view state = fields[2];
  if (!state.empty() && state.back() == '\r') state.remove_suffix(1);
  const bool alnum = std::all_of(state.begin(), state.end(), [](char c) {
    return std::isupper(static_cast<unsigned char>(c)) ||
           std::isdigit(static_cast<unsigned char>(c));
  });
  if (state.size() != state_size || !alnum) {
    why = "SQLSTATE '" + std::string(state) + "' is not five upper-case letters or digits";
    return std::nullopt;
  }
  return entry {*code, *msgnum, std::string(state)};
}

/* Reads every entry of the source; the first refusal ends the reading. */
std::optional<refusal> read_source(std::istream &in, std::vector<entry> &entries) {
  std::map<int32_t, long> first_line;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#' || is_blank_line(line)) continue;
    std::string why;
    std::optional<entry> e = parse_line(line, why);
    if (!e) return refusal {number, why};
    const auto [seen, fresh] = first_line.emplace(e->code, number);
    if (!fresh) {
      return refusal {number, "duplicate code " + std::to_string(e->code) + " (first on line " +
                                  std::to_string(seen->second) + ")"};
    }
    entries.push_back(std::move(*e));
  }
  if (in.bad()) return refusal {0, "read error"};
  return std::nullopt;
}

/* The map bytes of entries, sorted by descending code. */
std::string encode_map(std::vector<entry> &entries) {
  std::sort(entries.begin(), entries.end(),
            [](const entry &a, const entry &b) { return a.code > b.code; });
  std::string out(magic, magic_size);
  out.resize(magic_size + 4 + entries.size() * record_size);
  dvz_st_be_i32(static_cast<int32_t>(entries.size()), out.data() + magic_size);
  char *p = out.data() + magic_size + 4;
  for (const entry &e : entries) {
    dvz_st_be_i32(e.code, p);
    dvz_st_be_i32(e.msgnum, p + 4);
    std::memcpy(p + 8, e.state.data(), state_size);
    p += record_size;
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  return table_compiler::run<entry>(argc, argv, "dvz_sqlstatec <source.txt> <map.pam>", read_source,
                                    encode_map);
}
