/*
** Test-side writer of code-set conversion files (.cvo): the header, the
** shift flags and sequences, the seven numbers and the factor exactly as
** the reader takes them, and the tables written through the library's own
** multi-level writer with the conversion entry form (flags byte, then the
** target bytes, two hex digits each). Every field is the test's to choose,
** malformed values included.
*/
#ifndef DVZ_TESTS_GLSLIB_CVO_BUILDER_H
#define DVZ_TESTS_GLSLIB_CVO_BUILDER_H

#include "glslib.h"

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cvotest {

using Bytes = std::vector<unsigned char>;

/* One table entry: byte 0 (length bits and flags) and the target bytes. */
struct Entry {
  int byte0 = 0;
  Bytes target;
};
/* A conversion to target (GL_CV_CONVERTS set), with extra flags
** (GL_CV_END, GL_CV_LOSSY, ...). */
Entry to(Bytes target, int flags = 0);
/* An entry that marks a character without conversion (byte 0 is 0). */
Entry none();

using Table = std::map<Bytes, Entry>;

/* Text form of a table; entry_size 0 means target_max + 1. shared writes
** the shared-array form. */
std::string table_text(const Table &entries, int target_max, int entry_size = 0,
                       bool shared = false);

/* The pieces of one file; defaults make a single-byte to single-byte file. */
struct Cvo {
  std::string file_type = "FILE_TYPE=codeset_conversion_object";
  std::string version = "COMPILER_VERSION=9";
  std::vector<std::string> extra_header = {"GENERATOR=cvotest"};
  int source_shift = 0;
  int target_shift = 0;
  std::array<Bytes, 4> sequences;
  std::string sequence_text; /* replaces the sequences when not empty */
  int target_min = 1;
  int target_max = 1;
  int unused1 = 0;
  int unused2 = 0;
  int source_min = 1;
  int source_max = 1;
  int nofastmap = 0;
  std::string factor = "1.0";
  Table base;
  Table shifted; /* written only with source_shift */
  int entry_size = 0; /* of the written tables; 0: target_max + 1 */
  bool shared = false;
  std::string text() const;
};

/* A Latin-1 to Latin-1 toy that converts every byte: letters to upper
** case, everything else to itself; the NUL carries the end flag. */
Cvo complete_single_byte();

/* Frees the fast map too: it belongs to whoever took the descriptor. */
struct DescDeleter {
  void operator()(gl_cv_desc *cd) const {
    if (cd != nullptr) _gl_free_ptr(cd->fast_map);
    gl_cv_unload(cd);
  }
};
using DescPtr = std::unique_ptr<gl_cv_desc, DescDeleter>;

}  // namespace cvotest

#endif
