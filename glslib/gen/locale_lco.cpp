/*
** locale_lco - the locale-file writer of the generator (see locale_lco.h).
** The layout is what the library's locale-file readers take: decimal
** integers, fixed-width hexadecimal fields, strings as a length, one space
** and two hex digits per byte, and the text form of multi-level tables.
** COLLATE is written in code order: for a single-byte code set one forward
** pass, each byte its own row, weight = byte + 2 so that the weights follow
** byte order and stay clear of 0 and of 1 (IGNORE); for a multibyte code
** set every character in the one row 0, whose weight 2 has bit 15 set (ties
** go by code). Weight tables read from the C library (locale_glibc_collate)
** are written as they are: rows, three passes, elements and expansions,
** one line of weights per row. The Thai comparer's section is its one line
** "thai_smo".
** Called by locale_gen.cpp; calls the library's table inserter and writer,
** and takes the section markers from the library's readers.
*/
#include "locale_lco.h"

#include "gen_tables.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "glslib.h"
#include "locale_readers.h"

namespace glsgen {

namespace {

constexpr int header_fixed_lines = 3; /* FILE_TYPE, COMPILER_VERSION, HEADER_LINES */
constexpr int collate_highest_weight = 257; /* single-byte: byte 255 + 2 */
constexpr uint16_t weight_ties_on_code = 0x8000; /* bit 15 of a weight */
constexpr uint16_t code_order_weight = 2; /* multibyte: the one row's weight */

/* Entry writer of the locale tables: a u16 as 4 hex digits, the form the
** library's entry reader takes. */
void ub2_writer(FILE *stream, const void *entry, int /*entry_size*/) {
  uint16_t value = 0;
  std::memcpy(&value, entry, sizeof value);
  std::fprintf(stream, "%04x", value);
}

/* A table from each charmap character to entries[i] (u16). A character
** whose entry is the default (0) gets none of its own, so that a node all
** of whose characters have the default needs no data array. */
MultiPtr build_table(const Charmap &cm, const std::vector<uint16_t> &entries, std::string *error) {
  const uint16_t zero = 0;
  MultiPtr table(_gl_create_multi(2, GL_MULTI_VALID, &zero));
  if (!table) {
    *error = "out of memory";
    return nullptr;
  }
  for (std::size_t i = 0; i < cm.chars.size(); ++i) {
    gl_char_desc key = desc_of(cm.chars[i].bytes);
    uint16_t entry = entries[i];
    if (_gl_insert_desc_multi(&key, entry == zero ? nullptr : &entry, table.get()) != 0) {
      *error = "cannot enter character U+" + std::to_string(cm.chars[i].ucs) + " in a table";
      return nullptr;
    }
  }
  return table;
}

/* Writes the table in its plain or its shared form, whichever is shorter
** (the one table is written plain, then compressed in place). */
bool write_table(FILE *fp, const Charmap &cm, const std::vector<uint16_t> &entries,
                 std::string *error) {
  MultiPtr table = build_table(cm, entries, error);
  if (!table) return false;
  std::string text = table_text(table.get(), ub2_writer);
  if (_gl_compress_multi(table.get()) == 0) {
    std::string compressed = table_text(table.get(), ub2_writer);
    if (!compressed.empty() && compressed.size() < text.size()) text = std::move(compressed);
  }
  if (text.empty()) {
    *error = "the table writer failed";
    return false;
  }
  return std::fwrite(text.data(), 1, text.size(), fp) == text.size();
}

/* An encoded string: its length, then (when not empty) a space and two hex
** digits per byte. */
void put_string(FILE *fp, const std::string &s) {
  std::fprintf(fp, "%zu", s.size());
  if (!s.empty()) {
    std::fputc(' ', fp);
    for (unsigned char c : s)
      std::fprintf(fp, "%02x", c);
  }
  std::fputc('\n', fp);
}

void put_strings(FILE *fp, const std::vector<std::string> &list) {
  std::fprintf(fp, "%zu\n", list.size());
  for (const std::string &s : list)
    put_string(fp, s);
}

void put_grouping(FILE *fp, const std::vector<int> &sizes) {
  std::fprintf(fp, "%zu", sizes.size());
  for (int n : sizes)
    std::fprintf(fp, " %d", n);
  std::fputc('\n', fp);
}

/* The case expansion factor as text that reads back no smaller than it
** is (the loader refuses a case pair the factor does not cover): %g, with
** more digits only where six would read back smaller. */
std::string factor_text(double factor) {
  char text[40];
  for (int digits = 6; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, factor);
    if (std::strtod(text, nullptr) >= factor) break;
  }
  return text;
}

void write_header(FILE *fp, const LocaleData &d) {
  std::fputs("FILE_TYPE=locale_object\n", fp);
  std::fputs("COMPILER_VERSION=11\n", fp);
  std::fprintf(fp, "HEADER_LINES=%zu\n", header_fixed_lines + d.provenance.size());
  for (const std::string &line : d.provenance)
    std::fprintf(fp, "%s\n", line.c_str());
  std::fprintf(fp, "%s\n", d.registry_name.c_str());
}

bool write_ctype(FILE *fp, const LocaleData &d, std::string *error) {
  std::fputs(category_markers[GL_CTYPE], fp);
  if (!write_table(fp, d.charmap, d.masks, error)) return false;
  if (d.any_full_width) {
    std::fputs("1\n0 full_width\n", fp);
  } else {
    std::fputs("0\n", fp);
  }
  if (!write_table(fp, d.charmap, d.case_index, error)) return false;
  /* The pairs, then the expansion factor on the rest of the last line:
  ** the reader takes the text after the last pair up to the newline. */
  std::fprintf(fp, "%zu", d.case_pairs.size());
  for (const auto &[upper, lower] : d.case_pairs)
    std::fprintf(fp, "\n%08x %08x", upper, lower);
  std::fprintf(fp, " %s\n", factor_text(d.case_expansion).c_str());
  return true;
}

/* Every character in row 0, whose one weight ties on the code. */
bool write_multibyte_code_order(FILE *fp, const LocaleData &d, std::string *error) {
  if (!write_table(fp, d.charmap, std::vector<uint16_t>(d.charmap.chars.size(), 0), error))
    return false;
  /* codeset_order_word, highest_row, pass_count, element_count,
  ** expansion_count, highest_weight; the flag of the one pass; row 0. */
  std::fprintf(fp, "1 0 1 0 0 %d\n0001\n%04x\n", code_order_weight,
               weight_ties_on_code | code_order_weight);
  return true;
}

/* The tables read from the C library: rows, passes, elements, expansions
** and the weights of every row, pass after pass. */
bool write_weight_tables(FILE *fp, const LocaleData &d, std::string *error) {
  const CollateTables &t = d.collate;
  if (!write_table(fp, d.charmap, t.rows, error)) return false;
  const std::size_t rows = t.weights.empty() ? 0 : t.weights[0].size();
  /* codeset_order_word, highest_row, pass_count, element_count,
  ** expansion_count, highest_weight; then the pass flags. */
  std::fprintf(fp, "0 %zu %zu %zu %zu %d\n", rows - 1, t.weights.size(), t.elements.size(),
               t.expansions.size(), t.highest_weight);
  for (uint16_t flag : t.pass_flags)
    std::fprintf(fp, "%04x", flag);
  std::fputc('\n', fp);
  for (const CollateTables::Element &e : t.elements) {
    std::fprintf(fp, "%zx%04x", e.chars.size(), e.row);
    for (uint32_t c : e.chars)
      std::fprintf(fp, " %08x", c);
    std::fputc('\n', fp);
  }
  for (const std::vector<uint32_t> &x : t.expansions) {
    std::fprintf(fp, "%zx", x.size());
    for (uint32_t c : x)
      std::fprintf(fp, " %08x", c);
    std::fputc('\n', fp);
  }
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t p = 0; p < t.weights.size(); ++p)
      std::fprintf(fp, "%04x%c", t.weights[p][row], p + 1 == t.weights.size() ? '\n' : ' ');
  }
  return true;
}

bool write_collate(FILE *fp, const LocaleData &d, std::string *error) {
  std::fputs(category_markers[GL_COLLATE], fp);
  if (d.collation == Collation::thai_smo) {
    std::fputs("thai_smo\n", fp);
    return true;
  }
  std::fputs("as_specified\n", fp);
  if (d.collation == Collation::weights) return write_weight_tables(fp, d, error);
  if (d.charmap.mb_cur_max != 1) return write_multibyte_code_order(fp, d, error);
  std::vector<uint16_t> rows;
  for (const CharmapChar &c : d.charmap.chars)
    rows.push_back(c.bytes[0]);
  if (!write_table(fp, d.charmap, rows, error)) return false;
  /* codeset_order_word, highest_row, pass_count, element_count,
  ** expansion_count, highest_weight; then the flag of the one pass. */
  std::fprintf(fp, "1 255 1 0 0 %d\n0001\n", collate_highest_weight);
  for (int row = 0; row < 256; ++row) {
    std::fprintf(fp, "%04x%c", row + 2, row % 16 == 15 ? '\n' : ' ');
  }
  return true;
}

void write_numeric(FILE *fp, const LocaleData &d) {
  std::fputs(category_markers[GL_NUMERIC], fp);
  put_string(fp, d.decimal_point);
  put_string(fp, d.thousands_sep);
  put_grouping(fp, d.grouping);
  put_string(fp, d.num_positive_sign);
  put_string(fp, d.num_negative_sign);
}

void write_monetary(FILE *fp, const LocaleData &d) {
  std::fputs(category_markers[GL_MONETARY], fp);
  put_string(fp, d.int_curr_symbol);
  put_string(fp, d.currency_symbol);
  put_string(fp, d.mon_decimal_point);
  put_string(fp, d.mon_thousands_sep);
  put_grouping(fp, d.mon_grouping);
  put_string(fp, d.positive_sign);
  put_string(fp, d.negative_sign);
  for (std::size_t i = 0; i < d.mon_ints.size(); ++i) {
    std::fprintf(fp, "%d%c", d.mon_ints[i], i + 1 == d.mon_ints.size() ? '\n' : ' ');
  }
}

void write_time(FILE *fp, const LocaleData &d) {
  std::fputs(category_markers[GL_TIME], fp);
  std::fprintf(fp, "%s\n", d.calendar.c_str());
  for (const std::string &s : d.abday)
    put_string(fp, s);
  for (const std::string &s : d.day)
    put_string(fp, s);
  put_strings(fp, d.abmon);
  put_strings(fp, d.mon);
  for (const std::string *s : {&d.d_t_fmt, &d.d_fmt, &d.t_fmt, &d.am, &d.pm, &d.t_fmt_ampm}) {
    put_string(fp, *s);
  }
  put_strings(fp, d.eras);
  for (const std::string *s : {&d.era_d_fmt, &d.era_t_fmt, &d.era_d_t_fmt})
    put_string(fp, *s);
  put_strings(fp, d.alt_digits);
}

void write_messages(FILE *fp, const LocaleData &d) {
  std::fputs(category_markers[GL_MESSAGES], fp);
  for (const std::string *s : {&d.yes_expr, &d.no_expr, &d.yes_str, &d.no_str})
    put_string(fp, *s);
}

}  // namespace

bool write_lco(FILE *fp, const LocaleData &d, std::string *error) {
  /* The reader takes the name line with at most 20 bytes, newline included. */
  if (d.registry_name.empty() || d.registry_name.size() > 19) {
    *error = "the code-set name must have 1 to 19 bytes";
    return false;
  }
  write_header(fp, d);
  if (!write_ctype(fp, d, error) || !write_collate(fp, d, error)) return false;
  write_numeric(fp, d);
  write_monetary(fp, d);
  write_time(fp, d);
  write_messages(fp, d);
  if (std::ferror(fp)) {
    *error = "write error";
    return false;
  }
  return true;
}

}  // namespace glsgen
