/*
** Test-side builder of multi-level tables: describes a table in memory,
** builds it with the library's inserter, writes it with _gl_fprintf_multi
** (to text or into a temporary directory) and reads it back with
** _gl_fscanf_multi. Entries travel as 2 hex digits per byte.
*/
#ifndef DVZ_TESTS_GLSLIB_TABLE_BUILDER_H
#define DVZ_TESTS_GLSLIB_TABLE_BUILDER_H

#include "error_word.h"
#include "glslib.h"
#include "hex_entries.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace glstest {

using Bytes = std::vector<unsigned char>;

struct MultiDeleter {
  void operator()(gl_multi_t *t) const { _gl_free_multi(t); }
};
using MultiPtr = std::unique_ptr<gl_multi_t, MultiDeleter>;

gl_char_desc make_desc(const Bytes &key);

/* A small table in the text form, entries of 2 bytes, default ffff: bytes
** 00-7f are characters ('A' with entry 0a0b), 81 and 82 lead two-byte
** characters: 81 40-7f (81 40 has entry 1234), 82 a1-a2. */
extern const std::string plain_table_text;
/* The same table in the shared-array form. */
extern const std::string shared_table_text;

/* A table as the tests describe it: keys of 1-4 bytes, each with its own
** entry or none (the default applies). */
struct TableSpec {
  int entry_size = 2;
  Bytes default_entry = Bytes(2, 0);
  std::map<Bytes, std::optional<Bytes>> keys;

  /* True when the writer's single-byte rule makes every byte a character. */
  bool single_byte_rule() const;
  /* What a lookup of bytes must give, as the table was built to hold
  ** (after writing): the entry (nullopt: no character) and the number of
  ** bytes examined. */
  struct Answer {
    std::optional<Bytes> entry;
    int length;
  };
  Answer answer(const Bytes &bytes) const;
};

/* Builds the table with _gl_create_multi and _gl_insert_desc_multi. */
MultiPtr build_table(const TableSpec &spec);

/* The text form of the table (_gl_fprintf_multi on a memory stream). */
std::string write_text(gl_multi_t *table);
/* Writes the table into dir/relative; returns the path. */
std::string write_table_file(const dvz_test::TempDir &dir, std::string_view relative,
                             gl_multi_t *table);

/* Reads a text form into a new table; *rc receives the reader's result.
** The table is returned also after a failure (its err says why). */
MultiPtr read_text(std::string_view text, int entry_size, int limit = 4, int *rc = nullptr);
MultiPtr read_table_file(const std::string &path, int entry_size, int limit = 4, int *rc = nullptr);

/* The bytes of an entry (empty for NULL). */
Bytes entry_bytes(const void *entry, int size);

/* Every lookup of every one- and two-byte string answers the same (entry,
** length, error) in a and b; so do the header's key lengths. */
void expect_same_two_byte_answers(const gl_multi_t *a, const gl_multi_t *b);

/* Fixture of the table reader and lookup tests: an error word for the
** record argument of the lookups, and tables read from their text form. */
class TableTest : public ::testing::Test {
 protected:
  gl_locale *record() { return word_.record(); }
  int take_error() { return word_.take(); }
  /* Entry bytes of a lookup's answer (2-byte entries unless told). */
  static Bytes entry(const void *e, int size = 2) { return entry_bytes(e, size); }
  /* A table of 2-byte entries read from text that must read cleanly. */
  MultiPtr read_ok(const std::string &text);
  ErrorWord word_;
};

/* A random table: up to max_keys keys of 1-4 bytes (none the prefix of
** another, the bytes drawn from a narrow range so that keys share nodes),
** entries drawn from a small pool so that runs and repeats occur. */
TableSpec random_table(std::mt19937 &rng, int entry_size, int max_keys);

}  // namespace glstest

#endif
