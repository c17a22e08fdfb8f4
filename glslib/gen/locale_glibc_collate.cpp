/*
** locale_glibc_collate - the COLLATE tables of a locale file from the C
** library's own collation (see read_collation in locale_glibc.h).
**
** The C library's key of a string (strxfrm_l) holds one level after the
** other, separated by the byte 1; within a level the weights of the
** characters follow one another, each weight one or more bytes whose order
** is the level's order. Each character is weighed alone: its first three
** levels become its weights on three passes, ranked per pass. Exact on
** strings whose characters each have one weight per level where the
** first levels are equal (letters and digits); not on punctuation, which
** the C library orders on the dropped fourth level.
**
** Rows: a single-byte locale gives each byte the row of its value (the
** single-byte comparers take a byte's row from the table's root), then one
** row per collating element. The UTF-8 locale: row 0 for the code points
** of no block (the table's default entry, so they need no entries of
** their own), one row per character of the exact ranges, one per
** collapsed block, one per element. Called by extract_locale.
*/
#include <locale.h>
#include <string.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "locale_glibc.h"
#include "locale_glibc_blocks.h"

namespace glsgen {

namespace {

constexpr int pass_count = 3;
constexpr uint16_t weight_ignore = 1;
constexpr uint16_t weight_first = 2;
constexpr uint16_t weight_expansion = 0x4000;
constexpr uint16_t weight_ties_on_code = 0x8000;
constexpr int weight_value_max = 0x3FFF;
constexpr std::size_t max_expansion_chars = 15; /* one hex digit in the file */
constexpr int max_row = 0xFFFF;
constexpr char level_separator = '\1';
constexpr const char *source_dir = "/usr/share/i18n/locales";

/* The first three levels of a key. */
struct Levels {
  std::string level[pass_count];
  bool operator==(const Levels &o) const {
    return level[0] == o.level[0] && level[1] == o.level[1] && level[2] == o.level[2];
  }
};

Levels levels_of(locale_t loc, const std::string &text) {
  std::string key(64, '\0');
  for (;;) {
    std::size_t n = strxfrm_l(key.data(), text.c_str(), key.size(), loc);
    if (n < key.size()) {
      key.resize(n);
      break;
    }
    key.resize(n + 1);
  }
  Levels l;
  std::size_t at = 0;
  for (int p = 0; p < pass_count && at <= key.size(); ++p) {
    std::size_t end = key.find(level_separator, at);
    if (end == std::string::npos) end = key.size();
    l.level[p] = key.substr(at, end - at);
    at = end + 1;
  }
  return l;
}

bool in_ranges(uint32_t u, const CodeRange *first, const CodeRange *last) {
  const CodeRange *it =
      std::upper_bound(first, last, u, [](uint32_t v, const CodeRange &r) { return v < r.first; });
  return it != first && u <= (it - 1)->last;
}

bool exact_rank(uint32_t u) {
  return in_ranges(u, std::begin(exact_rank_ranges), std::end(exact_rank_ranges));
}

/* The index of u's block, or -1 when it lies in none. */
int block_of(uint32_t u) {
  const CodeRange *first = std::begin(unicode_blocks), *last = std::end(unicode_blocks);
  const CodeRange *it =
      std::upper_bound(first, last, u, [](uint32_t v, const CodeRange &r) { return v < r.first; });
  if (it == first || u > (it - 1)->last) return -1;
  return static_cast<int>(it - 1 - first);
}

/* One weighed unit: a character or a collating element. */
struct Unit {
  std::string text; /* its bytes */
  std::vector<uint32_t> chars; /* packed wide characters */
  uint32_t code = 0; /* Unicode value (characters) */
  Levels levels;
};

/* The collating elements of a locale source: its `collating-element ...
** from "<U....><U....>"` lines, following `copy` from its LC_COLLATE (a
** file without that section, such as iso14651_t1_common, is read whole). */
void source_elements(const std::string &name, int depth, std::vector<std::vector<uint32_t>> &out) {
  if (depth > 8) return;
  std::ifstream in(std::string(source_dir) + "/" + name);
  std::vector<std::string> lines;
  bool has_section = false;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
    if (line.rfind("LC_COLLATE", 0) == 0) has_section = true;
  }
  bool inside = !has_section;
  for (const std::string &line : lines) {
    if (has_section) {
      if (line.rfind("LC_COLLATE", 0) == 0) inside = true;
      if (line.rfind("END LC_COLLATE", 0) == 0) inside = false;
    }
    if (!inside) continue;
    const std::size_t open = line.find('"');
    const std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos) continue;
    const std::string quoted = line.substr(open + 1, close - open - 1);
    if (line.rfind("copy ", 0) == 0) {
      source_elements(quoted, depth + 1, out);
    } else if (line.rfind("collating-element ", 0) == 0 && line.find(" from ") < open) {
      std::vector<uint32_t> chars;
      for (std::size_t at = 0; (at = quoted.find("<U", at)) != std::string::npos; at += 2)
        chars.push_back(static_cast<uint32_t>(std::stoul(quoted.substr(at + 2), nullptr, 16)));
      if (chars.size() >= 2) out.push_back(chars);
    }
  }
}

/* Rank of each distinct sequence, weights from 2 in byte order. */
std::map<std::string, int> rank(const std::set<std::string> &sequences) {
  std::map<std::string, int> ranks;
  int next = weight_first;
  for (const std::string &s : sequences)
    ranks.emplace(s, next++);
  return ranks;
}

/* Splits seq into two or more pieces each in atoms, as few as possible;
** empty when it cannot be. */
std::vector<std::string> split_into(const std::string &seq, const std::set<std::string> &atoms) {
  const std::size_t n = seq.size();
  std::vector<int> best(n + 1, -1), from(n + 1, -1);
  best[0] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (best[i] < 0) continue;
    for (std::size_t j = i + 1; j <= n; ++j) {
      if (j - i == n || atoms.count(seq.substr(i, j - i)) == 0) continue;
      if (best[j] < 0 || best[i] + 1 < best[j]) {
        best[j] = best[i] + 1;
        from[j] = static_cast<int>(i);
      }
    }
  }
  if (best[n] < 2) return {};
  std::vector<std::string> pieces;
  for (std::size_t j = n; j > 0; j = static_cast<std::size_t>(from[j]))
    pieces.push_back(seq.substr(static_cast<std::size_t>(from[j]), j - from[j]));
  std::reverse(pieces.begin(), pieces.end());
  return pieces;
}

/* The pass flag of level p: 2 when the C library weighs that level from
** the end (the key of two characters holds the second one's weights
** first), else 1. */
uint16_t direction_of(locale_t loc, const std::vector<Unit> &units, int p) {
  auto usable = [p](const Unit &u) {
    return u.chars.size() == 1 && !u.levels.level[p].empty() && !u.levels.level[0].empty();
  };
  const Unit *a = nullptr;
  for (const Unit &u : units) {
    if (!usable(u)) continue;
    if (a == nullptr) {
      a = &u;
      continue;
    }
    const std::string forward = a->levels.level[p] + u.levels.level[p];
    const std::string reversed = u.levels.level[p] + a->levels.level[p];
    if (forward == reversed) continue;
    return levels_of(loc, a->text + u.text).level[p] == reversed ? 2 : 1;
  }
  return 1;
}

}  // namespace

bool read_collation(locale_t loc, const LocaleSource &src, LocaleData &out, std::string *error) {
  const Charmap &cm = out.charmap;
  const bool unicode = out.repertoire == Repertoire::unicode;
  const bool single_byte = cm.mb_cur_max == 1;
  CollateTables &t = out.collate;
  t = CollateTables {};

  /* The units with exact ranks: characters, then elements. */
  std::vector<Unit> units;
  std::vector<int> unit_of_char(cm.chars.size(), -1);
  std::map<uint32_t, std::size_t> exact_by_code;
  for (std::size_t i = 0; i < cm.chars.size(); ++i) {
    const CharmapChar &c = cm.chars[i];
    if (unicode && !exact_rank(c.ucs)) continue;
    Unit u;
    u.text.assign(c.bytes.begin(), c.bytes.end());
    u.chars = {pack_bytes(c.bytes)};
    u.code = c.ucs;
    if (c.ucs != 0) u.levels = levels_of(loc, u.text);
    unit_of_char[i] = static_cast<int>(units.size());
    exact_by_code.emplace(c.ucs, units.size());
    units.push_back(std::move(u));
  }
  const std::size_t char_units = units.size();

  std::vector<std::vector<uint32_t>> candidates;
  source_elements(src.source, 0, candidates);
  std::set<std::vector<uint32_t>> seen;
  for (const std::vector<uint32_t> &codes : candidates) {
    Unit e;
    Levels joined;
    bool usable = seen.insert(codes).second;
    for (uint32_t code : codes) {
      auto it = exact_by_code.find(code);
      if (it == exact_by_code.end()) {
        usable = false;
        break;
      }
      const Unit &c = units[it->second];
      e.text += c.text;
      e.chars.push_back(c.chars[0]);
      for (int p = 0; p < pass_count; ++p)
        joined.level[p] += c.levels.level[p];
    }
    if (!usable) continue;
    e.levels = levels_of(loc, e.text);
    if (e.levels == joined) continue; /* weighed as its characters are: not needed */
    units.push_back(std::move(e));
  }

  /* First-level sequences made of other characters' sequences expand. */
  std::set<std::string> pieces;
  for (std::size_t i = 0; i < char_units; ++i)
    if (!units[i].levels.level[0].empty()) pieces.insert(units[i].levels.level[0]);
  std::set<std::string> atoms;
  for (const std::string &s : pieces)
    if (split_into(s, pieces).empty()) atoms.insert(s);
  /* Each atom is written as its smallest character in the C library's
  ** order (lower case before upper). */
  std::map<std::string, std::size_t> atom_char;
  for (std::size_t i = 0; i < char_units; ++i) {
    const Unit &u = units[i];
    if (atoms.count(u.levels.level[0]) == 0) continue;
    auto [it, added] = atom_char.emplace(u.levels.level[0], i);
    const Unit &held = units[it->second];
    if (!added && std::tie(u.levels.level[1], u.levels.level[2], u.code) <
                      std::tie(held.levels.level[1], held.levels.level[2], held.code))
      it->second = i;
  }
  std::vector<int> expansion_of(units.size(), -1);
  std::map<std::vector<uint32_t>, int> expansion_index;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::string &s = units[i].levels.level[0];
    if (s.empty() || atoms.count(s) != 0) continue;
    std::vector<std::string> parts = split_into(s, atoms);
    if (parts.empty() || parts.size() > max_expansion_chars) continue;
    std::vector<uint32_t> chars;
    for (const std::string &part : parts)
      chars.push_back(units[atom_char.at(part)].chars[0]);
    auto [it, added] = expansion_index.emplace(chars, static_cast<int>(t.expansions.size()));
    if (added) t.expansions.push_back(chars);
    expansion_of[i] = it->second;
  }

  /* Ranks per pass; collapsed blocks follow the exact primaries. */
  std::map<std::string, int> ranks[pass_count];
  for (int p = 0; p < pass_count; ++p) {
    std::set<std::string> sequences;
    for (std::size_t i = 0; i < units.size(); ++i) {
      const std::string &s = units[i].levels.level[p];
      if (!s.empty() && !(p == 0 && expansion_of[i] >= 0)) sequences.insert(s);
    }
    ranks[p] = rank(sequences);
    t.highest_weight = std::max(t.highest_weight, static_cast<int>(sequences.size()) + 1);
  }
  auto weight_of = [&](std::size_t i, int p) -> uint16_t {
    const std::string &s = units[i].levels.level[p];
    if (s.empty()) return weight_ignore;
    if (p == 0 && expansion_of[i] >= 0)
      return static_cast<uint16_t>(weight_expansion | expansion_of[i]);
    return static_cast<uint16_t>(ranks[p].at(s));
  };

  t.pass_flags.resize(pass_count);
  for (int p = 0; p < pass_count; ++p)
    t.pass_flags[p] = direction_of(loc, units, p);
  t.weights.assign(pass_count, {});
  auto add_row = [&](const uint16_t(&w)[pass_count]) {
    for (int p = 0; p < pass_count; ++p)
      t.weights[p].push_back(w[p]);
    return static_cast<int>(t.weights[0].size()) - 1;
  };
  auto add_unit_row = [&](std::size_t i) {
    uint16_t w[pass_count];
    for (int p = 0; p < pass_count; ++p)
      w[p] = weight_of(i, p);
    return add_row(w);
  };

  t.rows.assign(cm.chars.size(), 0);
  if (single_byte) {
    /* Row = byte value; a byte the charmap lacks keeps an ignorable row. */
    for (int b = 0; b < 256; ++b)
      add_row({weight_ignore, weight_ignore, weight_ignore});
    for (std::size_t i = 0; i < cm.chars.size(); ++i) {
      const int row = cm.chars[i].bytes[0];
      t.rows[i] = static_cast<uint16_t>(row);
      for (int p = 0; p < pass_count; ++p)
        t.weights[p][row] = weight_of(static_cast<std::size_t>(unit_of_char[i]), p);
    }
  } else {
    /* Row 0: no block; a row per exact character; a row per block. */
    int next_primary = t.highest_weight + 1;
    std::map<int, int> block_row;
    std::vector<int> block_primary(std::size(unicode_blocks) + 1, 0);
    for (std::size_t i = 0; i < cm.chars.size(); ++i) {
      if (unit_of_char[i] >= 0 || block_of(cm.chars[i].ucs) < 0) continue;
      int &primary = block_primary[static_cast<std::size_t>(block_of(cm.chars[i].ucs))];
      if (primary == 0) primary = next_primary++;
    }
    const int no_block_primary = next_primary;
    t.highest_weight = no_block_primary;
    add_row({static_cast<uint16_t>(weight_ties_on_code | no_block_primary), weight_ignore,
             weight_ignore});
    for (std::size_t i = 0; i < cm.chars.size(); ++i) {
      if (unit_of_char[i] >= 0) {
        t.rows[i] = static_cast<uint16_t>(add_unit_row(static_cast<std::size_t>(unit_of_char[i])));
        continue;
      }
      const int block = block_of(cm.chars[i].ucs);
      if (block < 0) continue; /* row 0 */
      auto [it, added] = block_row.emplace(block, 0);
      if (added) {
        const uint16_t primary =
            static_cast<uint16_t>(block_primary[static_cast<std::size_t>(block)]);
        it->second = add_row(
            {static_cast<uint16_t>(weight_ties_on_code | primary), weight_ignore, weight_ignore});
      }
      t.rows[i] = static_cast<uint16_t>(it->second);
      if (t.weights[0].size() > static_cast<std::size_t>(max_row)) break;
    }
  }
  for (std::size_t i = char_units; i < units.size(); ++i) {
    CollateTables::Element e;
    e.chars = units[i].chars;
    e.row = static_cast<uint16_t>(add_unit_row(i));
    t.elements.push_back(std::move(e));
  }

  if (t.highest_weight > weight_value_max ||
      t.weights[0].size() > static_cast<std::size_t>(max_row) + 1 ||
      t.expansions.size() >= weight_expansion) {
    *error = "collation of " + src.source + " needs " + std::to_string(t.highest_weight) +
             " weights and " + std::to_string(t.weights[0].size()) +
             " rows: more than the file holds";
    return false;
  }
  return true;
}

}  // namespace glsgen
