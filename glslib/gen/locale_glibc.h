/*
** locale_glibc - the system side of the locale generator: compiles a locale
** source with the system's localedef, opens the result with newlocale and
** reads from it (through the C library's own queries) everything a locale
** file of this library holds, into a LocaleData record that locale_lco
** writes. Used by locale_gen.cpp; calls the C library and localedef.
*/
#ifndef DVZ_GLSLIB_GEN_LOCALE_GLIBC_H
#define DVZ_GLSLIB_GEN_LOCALE_GLIBC_H

#include <locale.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "locale_charmap.h"

namespace glsgen {

/* Which characters a locale file holds: those its charmap names, or (for
** UTF-8) every Unicode scalar value, U+0000 to U+10FFFF without the
** surrogates, so that no text is refused for holding a character newer
** than the charmap; unnamed values get the classes the C library gives
** them (usually none). */
enum class Repertoire { charmap, unicode };

/* The COLLATE section a locale file gets: code order, the C library's
** weights (read through strxfrm_l), or the Thai comparer's one-line
** section. */
enum class Collation { code_order, weights, thai_smo };

/* COLLATE tables of Collation::weights: rows, the weights of each pass by
** row, collating elements and expansions (characters in the library's
** packed wide form). */
struct CollateTables {
  std::vector<uint16_t> pass_flags; /* 1 forward, 2 backward */
  std::vector<uint16_t> rows; /* the row of each charmap character (same order) */
  std::vector<std::vector<uint16_t>> weights; /* [pass][row] */
  struct Element {
    std::vector<uint32_t> chars;
    uint16_t row = 0;
  };
  std::vector<Element> elements;
  std::vector<std::vector<uint32_t>> expansions;
  int highest_weight = 0;
};

/* A character's class bits are the locale library's GL_CLASS_* (gl_locale.h);
** "full_width" is the locale's own class number 0, mask GL_CLASS_NAMED.
** Everything one locale file holds, in the code set of its charmap. */
struct LocaleData {
  std::string source; /* locale source name, e.g. "en_US" */
  std::string registry_name; /* code-set name the file declares */
  std::vector<std::string> provenance; /* header lines after the third */
  Charmap charmap; /* chars: the repertoire, in byte order */
  Repertoire repertoire = Repertoire::charmap; /* unicode: charmap.by_ucs stays empty */
  Collation collation = Collation::code_order;
  CollateTables collate; /* Collation::weights only */

  /* CTYPE: per character of the charmap (same order). */
  std::vector<uint16_t> masks;
  std::vector<uint16_t> case_index; /* 0: no partner, else index into case_pairs */
  std::vector<std::pair<uint32_t, uint32_t>>
      case_pairs; /* {upper, lower}, entries 1..N at [0..N-1] */
  bool any_full_width = false;
  double case_expansion = 1.0;

  /* NUMERIC. */
  std::string decimal_point, thousands_sep;
  std::vector<int> grouping;
  std::string num_positive_sign = "+", num_negative_sign = "-";

  /* MONETARY. */
  std::string int_curr_symbol, currency_symbol, mon_decimal_point, mon_thousands_sep;
  std::vector<int> mon_grouping;
  std::string positive_sign, negative_sign;
  std::array<int, 8> mon_ints {};

  /* MESSAGES. */
  std::string yes_expr, no_expr, yes_str, no_str;

  /* TIME (formats already rewritten to this library's directives). The
  ** system locale gives no calendar and no eras here: both come from an
  ** overlay (locale_overlay.h), like month names of another calendar. */
  std::string calendar = "gregorian"; /* a name of the library's calendar table */
  std::array<std::string, 7> abday, day;
  std::vector<std::string> abmon, mon;
  std::string d_t_fmt, d_fmt, t_fmt, am, pm, t_fmt_ampm;
  std::string era_d_fmt, era_t_fmt, era_d_t_fmt;
  std::vector<std::string> alt_digits;
  std::vector<std::string> eras; /* era strings in the locale's code set */
};

/* What to build: a locale source compiled with a charmap. */
struct LocaleSource {
  std::string source; /* name under the locale source directory */
  std::string charmap; /* charmap name, e.g. "ISO-8859-1" */
  std::string registry_name; /* the code set's name in the library's registry */
  Repertoire repertoire = Repertoire::charmap; /* unicode: charmap "UTF-8" only */
  Collation collation = Collation::code_order;
};

/* The repertoire's character of Unicode value ucs, or nullptr when the
** code set has none. */
const CharmapChar *repertoire_char(const LocaleData &d, uint32_t ucs);

/* Compiles src into work_dir/loc/<dir_name> with localedef (exit status 1,
** warnings only, is accepted when the result opens), opens it with
** newlocale under LOCPATH and fills out. False with a message in *error. */
bool extract_locale(const LocaleSource &src, const std::string &work_dir,
                    const std::string &dir_name, LocaleData &out, std::string *error);

/* Fills out.collate from the compiled locale loc: the strxfrm_l key of each
** character split into its first three levels (the fourth, position,
** level is dropped), each pass's distinct level sequences ranked into
** weights from 2 in the C library's order, an empty level IGNORE (1); a
** first-level sequence made of other characters' sequences becomes an
** expansion; collating elements of the source where the C library weighs
** them otherwise than their characters. For the Unicode repertoire only
** the blocks of exact_rank_ranges keep exact ranks: every other block is
** one primary weight that ties on the code. False with a message. */
bool read_collation(locale_t loc, const LocaleSource &src, LocaleData &out, std::string *error);

/* A time format with the C library's directives turned into this
** library's: %Z and %z go together with the blank before them; %T, %R,
** %F, %k, %l and %P become %H:%M:%S, %H:%M, %Y-%m-%d, %H, %I and %p;
** %s, %G, %V, %U, %W and %+ go. Everything else is kept as it stands. */
std::string rewrite_time_format(std::string_view format);

}  // namespace glsgen

#endif
