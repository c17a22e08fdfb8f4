/*
** Test-side writer of code-set conversion files (see cvo_builder.h).
*/
#include "cvo_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cvotest {

namespace {

void entry_writer(FILE *stream, const void *entry, int entry_size) {
  const auto *e = static_cast<const unsigned char *>(entry);
  std::fprintf(stream, "%02x", e[0]);
  const int count = e[0] & GL_CV_LENGTH_MASK;
  for (int i = 0; i < count; ++i)
    std::fprintf(stream, "%02x", i + 1 < entry_size ? e[i + 1] : 0);
}

std::string sequence_text(const Bytes &seq) {
  char buffer[4];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(seq.size()));
  std::string text = buffer;
  for (unsigned char b : seq) {
    std::snprintf(buffer, sizeof buffer, "%02x", b);
    text += buffer;
  }
  return text;
}

}  // namespace

Entry to(Bytes target, int flags) {
  const int length = static_cast<int>(target.size());
  return Entry {GL_CV_CONVERTS | flags | length, std::move(target)};
}

Entry none() { return Entry {}; }

std::string table_text(const Table &entries, int target_max, int entry_size, bool shared) {
  if (entry_size == 0) entry_size = target_max + 1;
  gl_multi_t *table = _gl_create_multi(entry_size, GL_MULTI_VALID, nullptr);
  EXPECT_NE(table, nullptr);
  for (const auto &[k, e] : entries) {
    gl_char_desc key {static_cast<uint32_t>(k.size()), {0, 0, 0, 0}};
    std::memcpy(key.bytes, k.data(), k.size());
    std::vector<unsigned char> entry(static_cast<std::size_t>(entry_size), 0);
    entry[0] = static_cast<unsigned char>(e.byte0);
    for (std::size_t i = 0; i < e.target.size() && i + 1 < entry.size(); ++i)
      entry[i + 1] = e.target[i];
    EXPECT_EQ(_gl_insert_desc_multi(&key, entry.data(), table), 0);
  }
  if (shared) {
    EXPECT_EQ(_gl_compress_multi(table), 0);
  }
  char *buffer = nullptr;
  std::size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  EXPECT_EQ(_gl_fprintf_multi(out, table, entry_writer), 0);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  _gl_free_multi(table);
  return text;
}

std::string Cvo::text() const {
  std::string t = file_type + "\n" + version + "\n";
  t += "HEADER_LINES=" + std::to_string(3 + extra_header.size()) + "\n";
  for (const std::string &line : extra_header)
    t += line + "\n";
  t += std::to_string(source_shift) + " " + std::to_string(target_shift) + "\n";
  if (!sequence_text.empty()) {
    t += sequence_text;
  } else {
    for (const Bytes &seq : sequences)
      t += cvotest::sequence_text(seq);
  }
  t += "\n";
  for (int n : {target_min, target_max, unused1, unused2, source_min, source_max, nofastmap})
    t += std::to_string(n) + " ";
  t += factor + "\n";
  t += table_text(base, target_max, entry_size, shared);
  if (source_shift != 0) t += table_text(shifted, target_max, entry_size, shared);
  return t;
}

Cvo complete_single_byte() {
  Cvo file;
  for (int b = 0; b < 256; ++b) {
    const int target = b < 128 ? std::toupper(b) : b;
    file.base[{static_cast<unsigned char>(b)}] =
        to({static_cast<unsigned char>(target)}, b == 0 ? GL_CV_END : 0);
  }
  return file;
}

}  // namespace cvotest
