/*
** Test-side writer of locale files (.lco): toy sections in the exact text
** form the readers take, tables written through the library's own
** multi-level writer, and a file assembled from a header and any subset
** of the six sections (so a missing marker is one omitted section).
*/
#ifndef DVZ_TESTS_GLSLIB_LCO_BUILDER_H
#define DVZ_TESTS_GLSLIB_LCO_BUILDER_H

#include "glslib.h"
#include "host_doubles.h"
#include "locale_internal.h"
#include "mem_stream.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lcotest {

using Bytes = std::vector<unsigned char>;

/* A key of one to four bytes. */
Bytes key(std::initializer_list<int> bytes);

/* Text form of a table of u16 entries (character bytes -> value), written
** with _gl_fprintf_multi and the 4-hex-digit entry writer. */
std::string table_text(const std::map<Bytes, uint16_t> &entries, uint16_t default_entry = 0);

/* Encoded string: "n hh hh..." ("0" when empty), followed by a newline. */
std::string enc(std::string_view bytes);

/* The pieces of one file. An empty optional omits that section. */
struct Lco {
  std::string header; /* the whole header text (see header_text) */
  std::optional<std::string> ctype, collate, numeric, monetary, time, messages;
  std::string text() const;
};

/* "FILE_TYPE=locale_object", "COMPILER_VERSION=11", a third line of N
** header lines, filler lines, then the code-set name line. */
std::string header_text(std::string_view codeset = "8859-1", int version = 11);

/* Toy CTYPE of a single-byte code set with three characters of their own:
** 'A' (upper), 'a' (lower, the pair of A), '1' (digit). Named classes and
** the rest of the line after the pairs are choices. */
struct CtypeToy {
  std::map<Bytes, uint16_t> classes;
  std::vector<std::pair<int, std::string>> named;
  std::map<Bytes, uint16_t> case_index;
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  std::string after_pairs; /* rest of the line after the pairs ("" -> 4.0) */
  int min_length = 1;
  std::string text() const;
};
CtypeToy toy_ctype();
/* A code set whose characters are all two bytes: 00 00, 00 0a (newline),
** 00 20 (space) and 00 21 to 00 7e (printable; A and a a case pair). */
CtypeToy two_byte_ctype();

/* Toy COLLATE. Code order by default: each listed character its own row. */
struct CollateToy {
  std::string kind = "as_specified";
  std::map<Bytes, uint16_t> rows;
  int order = 1;
  int highest_row = 0;
  int passes = 1;
  uint32_t highest_weight = 257;
  std::vector<int> flags = {1};
  struct Element {
    uint16_t row;
    std::vector<uint32_t> chars;
  };
  std::vector<Element> elements;
  std::vector<std::vector<uint32_t>> expansions;
  std::vector<std::vector<uint16_t>> weights; /* per row, per pass */
  std::string text() const;
};
CollateToy toy_collate();

std::string toy_numeric(std::string_view decimal = ".", std::string_view thousands = ",",
                        std::string_view grouping = "2 3 3");
std::string toy_monetary();
/* MONETARY with settings of one's own. The defaults are those of
** toy_monetary(): "$" before the value without a blank, "." and "," with
** groups of 3, two fraction digits, signs "" and "-" in position 1. */
struct MonetaryToy {
  std::string int_curr_symbol = "USD ", currency_symbol = "$", decimal_point = ".",
              thousands_sep = ",", grouping = "2 3 3", positive_sign = "", negative_sign = "-";
  int int_frac_digits = 2, frac_digits = 2, p_cs_precedes = 1, p_sep_by_space = 0,
      n_cs_precedes = 1, n_sep_by_space = 0, p_sign_posn = 1, n_sign_posn = 1;
  std::string text() const;
};
std::string toy_messages();
/* TIME with month_count months (named M1..), optional eras and alt digits. */
std::string toy_time(int month_count = 12, const std::vector<std::string> &eras = {},
                     const std::vector<std::string> &alt_digits = {},
                     std::string_view calendar = "gregorian");
/* A TIME whose names and formats are chosen: empty name lists give the
** defaults above (abbreviations M1.., names Month1..). */
struct TimeToy {
  int month_count = 12;
  std::vector<std::string> eras, alt_digits, abmon, mon;
  std::string calendar = "gregorian";
  std::string d_t_fmt = "%a %d %b %Y %H:%M:%S", d_fmt = "%m/%d/%y", t_fmt = "%H:%M:%S", am = "AM",
              pm = "PM", t_fmt_ampm = "%I:%M:%S %p";
  std::string era_d_fmt = "%EC", era_t_fmt = "%ET", era_d_t_fmt = "%EC %ET";
  std::string text() const;
};

/* A complete single-byte toy locale file (all six sections). */
Lco toy_locale(std::string_view codeset = "8859-1");

/* Entry writer of tables of u16 entries: 4 hex digits (the library's
** ub2_reader reads them back). */
void u16_entry_writer(FILE *stream, const void *entry, int entry_size);

struct LocaleDeleter {
  void operator()(gl_locale *r) const { gl_lc_unload(r); }
};
using LocalePtr = std::unique_ptr<gl_locale, LocaleDeleter>;

/* A new null record (asserts that it was made). */
LocalePtr new_record();

/* A new null record for the shipped locale data in data (a folder holding
** lc11/ and cm3/registry): GL_PATH in env points at its lc11/ and its
** registry is cached (the caller frees the cache when done). */
LocalePtr new_shipped_record(glstest::TableGetenv &env, const std::string &data);

using glstest::MemStream;

/* Where a Scene's code-set names are looked up: the built-in table in
** force, or no registry at all (no file where the search looks, nothing
** cached, so that every name lookup fails). */
enum class Registry { built_in, none };

/* A temporary locale directory searched through GL_PATH (the only variable
** the getenv double knows, plus what a test sets; DOVARIZADIR is the
** directory too, so that no search reaches the machine's data). */
class Scene {
 public:
  explicit Scene(Registry registry = Registry::built_in);
  ~Scene();
  /* Writes name (relative to the directory) with the file's text. */
  void write(std::string_view name, const Lco &file) const;
  void write(std::string_view name, std::string_view text) const;
  glstest::TableGetenv &env() { return env_; }
  const dvz_test::TempDir &dir() const { return dir_; }

 private:
  dvz_test::TempDir dir_;
  glstest::TableGetenv env_;
};

/* A Scene holding default.lco and toy.lco (the toy locale in 8859-1) and
** latin2.lco (the same in 8859-2). */
class ToyLocales : public ::testing::Test {
 protected:
  ToyLocales();
  Scene scene;
};

/* The six category keys, in category order (GL_CTYPE to GL_MESSAGES). */
extern const char *const category_keys[6];

/* The query string of a record whose six categories come from file. */
std::string query_naming(std::string_view file);

/* Query string of a load, freed; "(null)" for NULL. */
std::string load(gl_locale *record, int category, const char *spec);

/* Toy locales (8859-1) with a TIME of the test's own, each loaded into a
** new record from a file of its own in one Scene. */
class ToyTimes {
 public:
  /* The loaded record (a failed load is a test failure). */
  LocalePtr make(const TimeToy &time);

 private:
  Scene scene_;
  int files_ = 0;
};

/* A whole locale of the two-byte code set "unicode": the two-byte CTYPE,
** a toy COLLATE of A, a and 1, and every other category's texts in
** two-byte characters (so "A" is followed by a NUL byte, not "B"). */
Lco two_byte_locale();

}  // namespace lcotest

#endif
