/*
** Fuzz target: the multi-level table reader over a memory stream.
** The first byte chooses the entry size (2 or 4); the rest is the text.
** A table that reads is looked up and written again, to reach every
** pointer the reader made.
*/
#include "../testkit/hex_entries.h"
#include "glslib.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using glstest::hex_entry_reader;
using glstest::hex_entry_writer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const int entry_size = (data[0] & 1) ? 4 : 2;
  std::vector<char> text(data + 1, data + size);
  text.push_back('\0'); /* fmemopen wants a size of at least 1 */
  FILE *in = fmemopen(text.data(), text.size() - 1 > 0 ? text.size() - 1 : 1, "r");
  if (in == nullptr) return 0;
  gl_multi_t *table = _gl_create_multi(entry_size, 0, nullptr);
  if (table == nullptr) {
    std::fclose(in);
    return 0;
  }
  const int rc = _gl_fscanf_multi(in, table, 4, hex_entry_reader);
  std::fclose(in);
  if (rc == 0) {
    int error = 0;
    auto *record = reinterpret_cast<gl_locale *>(&error);
    for (int b0 = 0; b0 < 256; b0 += 7) {
      for (int b1 = 0; b1 < 256; b1 += 5) {
        const unsigned char s[4] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1),
                                    0x80, 0x41};
        int length = 0;
        _gl_retrieve_text_multi(s, table, &length, record);
        _gl_retrieve_text_multi_limit(s, table, 2, &length, record);
        _gl_retrieve_little_endian_unicode_limit(s, table, 2, record);
        _gl_retrieve_wchar_multi_nl(record, static_cast<gl_wchar>(b0 << 8 | b1), table);
        _gl_retrieve_wchar_multi_nl(record, static_cast<gl_wchar>(b0 << 24 | b1 << 16 | 0x8041),
                                    table);
      }
    }
    FILE *out = std::fopen("/dev/null", "w");
    if (out != nullptr) {
      _gl_fprintf_multi(out, table, hex_entry_writer);
      std::fclose(out);
    }
    if ((table->flags & GL_MULTI_SHARED) == 0) _gl_compress_multi(table);
  }
  _gl_free_multi(table);
  return 0;
}
