/*
** Multi-level table helpers shared by the generators (gen_tables.h).
** Calls the library's table writer only.
*/
#include "gen_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace glsgen {

gl_char_desc desc_of(const std::vector<unsigned char> &bytes) {
  gl_char_desc d {};
  d.byte_count = static_cast<uint32_t>(bytes.size());
  std::memcpy(d.bytes, bytes.data(), bytes.size());
  return d;
}

std::string table_text(gl_multi_t *table, gl_multi_entry_writer writer) {
  char *buffer = nullptr;
  std::size_t size = 0;
  FILE *mem = open_memstream(&buffer, &size);
  if (mem == nullptr) return {};
  int rc = _gl_fprintf_multi(mem, table, writer);
  std::fclose(mem);
  std::string text = rc == 0 && buffer != nullptr ? std::string(buffer, size) : std::string();
  std::free(buffer);
  return text;
}

}  // namespace glsgen
