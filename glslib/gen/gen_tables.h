/*
** Multi-level tables as both generators (locale files and conversion
** files) build and print them: an owning pointer, the key of a character's
** bytes, and a table's text form through an entry writer.
*/
#ifndef DVZ_GLSLIB_GEN_TABLES_H
#define DVZ_GLSLIB_GEN_TABLES_H

#include <memory>
#include <string>
#include <vector>

#include "gl_multi.h"

namespace glsgen {

struct MultiDeleter {
  void operator()(gl_multi_t *t) const { _gl_free_multi(t); }
};
using MultiPtr = std::unique_ptr<gl_multi_t, MultiDeleter>;

/* The table key of a character's bytes (at most the key's capacity). */
gl_char_desc desc_of(const std::vector<unsigned char> &bytes);

/* The text form of a table with each entry printed by writer, or "" when
** the writer fails. */
std::string table_text(gl_multi_t *table, gl_multi_entry_writer writer);

}  // namespace glsgen

#endif
