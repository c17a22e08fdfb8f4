/*
** spec_scan.h - internal to the locale library: the syntax of locale
** specifications, shared by the locale-specification operations (locale_spec.cpp)
** and the conversions between specification forms (spec_forms.cpp).
**
** Short form: ll_TT.codeset[@modifier]. Long form: entries "KEY = short"
** joined by " ; ", optionally ending with " ; ", each key at most once.
** The scanners check syntax only; the code-set lookup is parse_short's.
*/
#ifndef DVZ_GLSLIB_SPEC_SCAN_H
#define DVZ_GLSLIB_SPEC_SCAN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ascii.h"
#include "gl_registry.h"

namespace gls_spec {

constexpr int key_count = 6; /* keys 1-6 in the numbering of _gl_is_category */

/* The keys in the numbering of _gl_is_category (index 0 unused). */
constexpr std::array<std::string_view, key_count + 1> key_names = {
    "", "GL_CTYPE", "GL_COLLATE", "GL_TIME", "GL_MONETARY", "GL_NUMERIC", "GL_MESSAGES"};

constexpr std::string_view key_equals = " = ";
constexpr std::string_view entry_separator = " ; ";

using glslib::ascii::is_alnum;
using glslib::ascii::is_alpha;
using glslib::ascii::is_digit;
using glslib::ascii::is_graph;
using glslib::ascii::is_xdigit;
using glslib::ascii::to_lower;
using glslib::ascii::to_upper;

/* Key at the start of text (1-6), with its length; 0 when none. */
int key_at(std::string_view text, std::size_t &length);

/* A short form as written. */
struct ShortSpec {
  std::string_view lang_terr; /* "ll_TT", 5 characters */
  std::string_view codeset; /* 1-21 characters; empty only for a bare "ll_TT" */
  std::string_view modifier; /* 0-4 letters or digits, without the sign */
  std::size_t length = 0; /* characters of the text it covers */
};

/* Syntax of a short form at the start of text. With allow_bare, "ll_TT"
** followed by anything but "." also counts (empty code set). */
bool scan_short(std::string_view text, ShortSpec &out, bool allow_bare = false);

/* Writes a code-set number as four lower-case hex digits at p (locale and
** conversion file names); returns the position after them. */
char *put_hex4(char *p, uint16_t number);

/* A short form looked up: its code-set number and locale file name. */
struct ParsedShort {
  ShortSpec spec;
  uint16_t cs_num = GL_CS_NONE;
  char fname[GL_LC_FNAME_SIZE] = {}; /* terminated */
  std::size_t fname_length = 0;
};

/* Short form at the start of text with its code set looked up in the
** registry. False when no short form begins there or the lookup fails
** (cs_num is then GL_CS_NONE and the lookup's error is in the record). */
bool parse_short(gl_locale *record, std::string_view text, const char *registry, ParsedShort &out);

struct LongEntry {
  int key = 0; /* 1-6 */
  std::string_view key_text;
  ShortSpec spec;
};

struct LongSpec {
  std::array<LongEntry, key_count> entries;
  int count = 0;
  bool trailer = false; /* the last entry is followed by " ; " */
};

/* Syntax of a whole long form: no key twice, " = " after every key, a
** short form after every " = ", " ; " between entries (and after the last
** when trailer_required). False on any fault. */
bool scan_long(std::string_view text, bool trailer_required, LongSpec &out);

/* A long form with every entry looked up: scanned as scan_long does, and
** all entries naming one code set (parsed[i] for entry i). False with
** error 7 otherwise. */
bool parse_long(gl_locale *record, std::string_view text, bool trailer_required,
                const char *registry, LongSpec &scanned, ParsedShort (&parsed)[key_count]);

/* A specification the parsers take: not NULL (else error 2) and at most
** GL_LC_SPEC_MAX bytes (else error 7). Longer text is refused rather than
** cut, so that a cut can never turn it into another specification. */
bool usable_spec(gl_locale *record, const char *spec, std::string_view &text);

/* The text begins with a category key: a long form. */
bool begins_with_key(std::string_view text);

/* Stores err into the record's error word; nothing for a NULL record. */
void store_error(gl_locale *record, int err);

}  // namespace gls_spec

#endif
