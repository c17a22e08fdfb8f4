/*
** The tests' wire codec and byte-script parser (wire_codec.h): plain
** shifts, no shared code with the runtime.
*/
#include "wire_codec.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sqli_test {

Wire &Wire::i16(int value) { return u16(static_cast<unsigned>(value) & 0xFFFFu); }

Wire &Wire::u16(unsigned value) {
  bytes_.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
  bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
  return *this;
}

Wire &Wire::i32(int64_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes_.push_back(static_cast<uint8_t>((v >> shift) & 0xFF));
  return *this;
}

Wire &Wire::raw(std::string_view bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Wire &Wire::raw(const Bytes &bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Wire &Wire::zeros(size_t n) {
  bytes_.insert(bytes_.end(), n, 0);
  return *this;
}

Wire &Wire::pad_if_odd(size_t n) { return zeros(n % 2); }

Wire &Wire::lbuf(std::string_view bytes) {
  return u16(static_cast<unsigned>(bytes.size())).raw(bytes).pad_if_odd(bytes.size());
}

Wire &Wire::pbuf(std::string_view bytes) { return raw(bytes).pad_if_odd(bytes.size()); }

Wire &Wire::int8(int sign, uint32_t low, uint32_t high) { return i16(sign).i32(low).i32(high); }

Wire &Wire::dec_header(unsigned length) { return u16(length); }

int16_t ld_i16(const Bytes &b, size_t at) { return static_cast<int16_t>(ld_u16(b, at)); }

uint16_t ld_u16(const Bytes &b, size_t at) {
  return static_cast<uint16_t>((b.at(at) << 8) | b.at(at + 1));
}

int32_t ld_i32(const Bytes &b, size_t at) {
  return static_cast<int32_t>((static_cast<uint32_t>(ld_u16(b, at)) << 16) | ld_u16(b, at + 2));
}

std::string hex(const Bytes &bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

namespace {

[[noreturn]] void bad(std::string_view what, std::string_view token) {
  throw std::invalid_argument(std::string(what) + ": " + std::string(token));
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* A quoted string at s[i] (the opening quote); i ends after the closing one. */
std::string quoted(std::string_view s, size_t &i) {
  const size_t start = i++;
  std::string out;
  while (i < s.size() && s[i] != '"') {
    char c = s[i++];
    if (c == '\\') {
      if (i >= s.size()) bad("unfinished escape", s.substr(start));
      const char e = s[i++];
      switch (e) {
        case 'n':
          c = '\n';
          break;
        case 't':
          c = '\t';
          break;
        case 'x': {
          if (i + 2 > s.size() || hex_digit(s[i]) < 0 || hex_digit(s[i + 1]) < 0)
            bad("bad \\x escape", s.substr(start));
          c = static_cast<char>(hex_digit(s[i]) * 16 + hex_digit(s[i + 1]));
          i += 2;
          break;
        }
        default:
          c = e;
      }
    }
    out += c;
  }
  if (i >= s.size()) bad("unclosed string", s.substr(start));
  ++i;
  return out;
}

/* The arguments of name(...) at s[i] (the opening parenthesis). */
std::vector<std::string> arguments(std::string_view s, size_t &i) {
  std::vector<std::string> out;
  ++i;
  std::string current;
  while (i < s.size() && s[i] != ')') {
    if (s[i] == '"') {
      current += quoted(s, i);
    } else if (s[i] == ',') {
      out.push_back(current);
      current.clear();
      ++i;
    } else if (std::isspace(static_cast<unsigned char>(s[i])) != 0) {
      ++i;
    } else {
      current += s[i++];
    }
  }
  if (i >= s.size()) bad("unclosed argument list", s);
  ++i;
  out.push_back(current);
  return out;
}

int64_t number(const std::string &text) {
  size_t used = 0;
  int64_t v = 0;
  try {
    v = std::stoll(text, &used, 0);
  } catch (const std::exception &) {
    bad("not a number", text);
  }
  if (used != text.size()) bad("not a number", text);
  return v;
}

void field(Wire &w, const std::string &name, const std::vector<std::string> &args) {
  auto want = [&](size_t n) {
    if (args.size() != n) bad("wrong argument count", name);
  };
  if (name == "i16") {
    want(1);
    w.i16(static_cast<int>(number(args[0])));
  } else if (name == "u16") {
    want(1);
    w.u16(static_cast<unsigned>(number(args[0])));
  } else if (name == "i32") {
    want(1);
    w.i32(number(args[0]));
  } else if (name == "lbuf") {
    want(1);
    w.lbuf(args[0]);
  } else if (name == "pbuf") {
    want(1);
    w.pbuf(args[0]);
  } else if (name == "int8") {
    want(3);
    w.int8(static_cast<int>(number(args[0])), static_cast<uint32_t>(number(args[1])),
           static_cast<uint32_t>(number(args[2])));
  } else if (name == "dec") {
    want(1);
    w.dec_header(static_cast<unsigned>(number(args[0])));
  } else if (name == "zeros") {
    want(1);
    w.zeros(static_cast<size_t>(number(args[0])));
  } else {
    bad("unknown field", name);
  }
}

}  // namespace

Bytes parse_script(std::string_view s) {
  Wire w;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      ++i;
    } else if (c == '#') {
      while (i < s.size() && s[i] != '\n')
        ++i;
    } else if (c == '"') {
      w.raw(quoted(s, i));
    } else {
      size_t end = i;
      while (end < s.size() && std::isalnum(static_cast<unsigned char>(s[end])) != 0)
        ++end;
      const std::string token(s.substr(i, end - i));
      if (end < s.size() && s[end] == '(') {
        i = end;
        field(w, token, arguments(s, i));
        continue;
      }
      if (token.empty() || token.size() % 2 != 0) bad("bad token", s.substr(i, 16));
      for (size_t k = 0; k < token.size(); k += 2) {
        const int hi = hex_digit(token[k]);
        const int lo = hex_digit(token[k + 1]);
        if (hi < 0 || lo < 0) bad("not hex", token);
        w.raw(std::string(1, static_cast<char>(hi * 16 + lo)));
      }
      i = end;
    }
  }
  return w;
}

std::vector<std::pair<std::string, Bytes>> load_scripts(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::pair<std::string, std::string>> texts;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (std::isspace(static_cast<unsigned char>(line[0])) != 0) {
      if (texts.empty()) throw std::invalid_argument("continuation before a name in " + path);
      texts.back().second += "\n" + line;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("no name in: " + line);
    texts.emplace_back(line.substr(0, colon), line.substr(colon + 1));
  }
  std::vector<std::pair<std::string, Bytes>> out;
  for (auto &[name, text] : texts)
    out.emplace_back(name, parse_script(text));
  return out;
}

}  // namespace sqli_test
