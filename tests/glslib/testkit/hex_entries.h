/*
** Entry reader and writer for multi-level tables: each byte of an entry as
** two hex digits. Header-only so that the fuzz targets (built apart, with
** no test framework) use the same pair as the tests.
*/
#ifndef DVZ_TESTS_GLSLIB_HEX_ENTRIES_H
#define DVZ_TESTS_GLSLIB_HEX_ENTRIES_H

#include "token_readers.h"

#include <cstdio>

namespace glstest {

inline void hex_entry_reader(FILE *stream, void *destination, int entry_size) {
  auto *bytes = static_cast<unsigned char *>(destination);
  for (int i = 0; i < entry_size; ++i)
    bytes[i] = static_cast<unsigned char>(_gl_get_hex(stream, 2));
}

inline void hex_entry_writer(FILE *stream, const void *entry, int entry_size) {
  const auto *bytes = static_cast<const unsigned char *>(entry);
  for (int i = 0; i < entry_size; ++i)
    std::fprintf(stream, "%02x", bytes[i]);
}

}  // namespace glstest

#endif
