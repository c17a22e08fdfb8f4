/*
** cvo_writer - the conversion-file writer of the generator and its
** read-back check (see cvo_writer.h). Each table is written in its plain or
** its shared form, whichever is shorter, so that the same entries always
** give the same bytes.
*/
#include "cvo_writer.h"

#include "gen_tables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "glslib.h"
#include "token_readers.h"

namespace glsgen {

namespace {

constexpr int header_fixed_lines = 3; /* FILE_TYPE, COMPILER_VERSION, HEADER_LINES */
constexpr int table_length_limit = 4;

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

/* Entry writer: the flags byte, then as many target bytes as it counts. */
void conv_writer(FILE *stream, const void *entry, int entry_size) {
  const auto *bytes = static_cast<const unsigned char *>(entry);
  int count = std::min<int>(bytes[0] & GL_CV_LENGTH_MASK, entry_size - 1);
  std::fprintf(stream, "%02x", bytes[0]);
  for (int i = 1; i <= count; ++i)
    std::fprintf(stream, "%02x", bytes[i]);
}

/* Entry reader of the check, the same form. */
void conv_check_reader(FILE *stream, void *destination, int entry_size) {
  auto *bytes = static_cast<unsigned char *>(destination);
  std::memset(bytes, 0, static_cast<std::size_t>(entry_size));
  bytes[0] = static_cast<unsigned char>(_gl_get_hex(stream, 2));
  int count = std::min<int>(bytes[0] & GL_CV_LENGTH_MASK, entry_size - 1);
  for (int i = 1; i <= count; ++i)
    bytes[i] = static_cast<unsigned char>(_gl_get_hex(stream, 2));
}

std::vector<unsigned char> entry_bytes(const CvoEntry &e, int entry_size) {
  std::vector<unsigned char> bytes(static_cast<std::size_t>(entry_size), 0);
  bytes[0] = static_cast<unsigned char>(e.flags | e.target.size());
  std::copy(e.target.begin(), e.target.end(), bytes.begin() + 1);
  return bytes;
}

MultiPtr build_table(const std::vector<CvoEntry> &entries, int entry_size, std::string *error) {
  MultiPtr table(_gl_create_multi(entry_size, GL_MULTI_VALID, nullptr));
  if (!table) {
    *error = "out of memory";
    return nullptr;
  }
  for (const CvoEntry &e : entries) {
    if (e.key.empty() || e.key.size() > 4 || static_cast<int>(e.target.size()) >= entry_size ||
        (e.flags & GL_CV_LENGTH_MASK) != 0) {
      *error = "malformed entry";
      return nullptr;
    }
    gl_char_desc key = desc_of(e.key);
    std::vector<unsigned char> entry = entry_bytes(e, entry_size);
    if (_gl_insert_desc_multi(&key, entry.data(), table.get()) != 0) {
      *error = "cannot enter a key of " + std::to_string(e.key.size()) + " bytes";
      return nullptr;
    }
  }
  return table;
}

bool write_table(FILE *fp, const std::vector<CvoEntry> &entries, int entry_size,
                 std::string *error) {
  MultiPtr plain = build_table(entries, entry_size, error);
  if (!plain) return false;
  std::string text = table_text(plain.get(), conv_writer);
  MultiPtr shared = build_table(entries, entry_size, error);
  if (!shared) return false;
  if (_gl_compress_multi(shared.get()) == 0) {
    std::string compressed = table_text(shared.get(), conv_writer);
    if (!compressed.empty() && compressed.size() < text.size()) text = std::move(compressed);
  }
  if (text.empty()) {
    *error = "the table writer failed";
    return false;
  }
  return std::fwrite(text.data(), 1, text.size(), fp) == text.size();
}

/* Reads a table as the library's loader does and compares every entry. */
bool check_table(FILE *fp, const std::vector<CvoEntry> &entries, int entry_size, const char *what,
                 std::string *error) {
  MultiPtr table(_gl_create_multi(entry_size, GL_MULTI_VALID, nullptr));
  if (!table || _gl_fscanf_multi(fp, table.get(), table_length_limit, conv_check_reader) != 0) {
    *error = std::string(what) + " table does not read back";
    return false;
  }
  for (const CvoEntry &e : entries) {
    gl_char_desc key = desc_of(e.key);
    const void *got = _gl_retrieve_desc_multi(&key, table.get());
    std::vector<unsigned char> want = entry_bytes(e, entry_size);
    if (got == nullptr || std::memcmp(got, want.data(), want.size()) != 0) {
      *error = std::string(what) + " table reads back a wrong entry";
      return false;
    }
  }
  return true;
}

}  // namespace

double expansion_factor(const CvoData &d) {
  const auto seq1 = static_cast<double>(d.sequences[0].size());
  const auto seq2 = static_cast<double>(d.sequences[1].size());
  double factor = 0.0;
  for (const auto *list : {&d.base, &d.shifted}) {
    for (const CvoEntry &e : *list) {
      double out = static_cast<double>(e.target.size());
      if (d.target_shift != 0) out += (e.flags & GL_CV_SHIFTED) != 0 ? seq1 + seq2 : seq2;
      factor = std::max(factor, out / static_cast<double>(e.key.size()));
    }
  }
  return factor;
}

bool write_cvo(FILE *fp, const CvoData &d, std::string *error) {
  if (d.target_max < 1 || d.target_max > 4) {
    *error = "target length out of range";
    return false;
  }
  std::fputs("FILE_TYPE=codeset_conversion_object\n", fp);
  std::fputs("COMPILER_VERSION=9\n", fp);
  std::fprintf(fp, "HEADER_LINES=%zu\n", header_fixed_lines + d.provenance.size());
  for (const std::string &line : d.provenance)
    std::fprintf(fp, "%s\n", line.c_str());
  std::fprintf(fp, "%d %d\n", d.source_shift, d.target_shift);
  for (const auto &seq : d.sequences) {
    if (seq.size() > 4) {
      *error = "shift sequence longer than 4 bytes";
      return false;
    }
    std::fprintf(fp, "%zx", seq.size());
    for (unsigned char b : seq)
      std::fprintf(fp, "%02x", b);
  }
  std::fprintf(fp, "\n%d %d %d %d %d %d %d\n", d.target_min, d.target_max, 0, 0, d.source_min,
               d.source_max, d.no_fast_map);
  std::fprintf(fp, "%.6g\n", d.factor);
  const int entry_size = d.target_max + 1;
  if (!write_table(fp, d.base, entry_size, error)) return false;
  if (d.source_shift != 0 && !write_table(fp, d.shifted, entry_size, error)) return false;
  return std::ferror(fp) == 0;
}

bool check_cvo(const std::string &path, const CvoData &d, std::string *error) {
  FilePtr fp(std::fopen(path.c_str(), "r"));
  if (!fp) {
    *error = "cannot open " + path;
    return false;
  }
  char line[128];
  const std::string expected_lines[] = {
      "FILE_TYPE=codeset_conversion_object\n", "COMPILER_VERSION=9\n",
      "HEADER_LINES=" + std::to_string(header_fixed_lines + d.provenance.size()) + "\n"};
  for (const std::string &want : expected_lines) {
    if (std::fgets(line, sizeof line, fp.get()) == nullptr || want != line) {
      *error = "header line differs from " + want;
      return false;
    }
  }
  for (const std::string &want : d.provenance) {
    if (std::fgets(line, sizeof line, fp.get()) == nullptr || want + "\n" != line) {
      *error = "provenance line differs from " + want;
      return false;
    }
  }
  FILE *f = fp.get();
  bool ok = _gl_get_int(f) == d.source_shift && _gl_get_int(f) == d.target_shift;
  _gl_skip_whitespace(f);
  for (const auto &seq : d.sequences) {
    int n = _gl_get_hex_digit(f);
    ok = ok && n == static_cast<int>(seq.size());
    for (int i = 0; ok && i < n; ++i)
      ok = _gl_get_hex_byte(f) == seq[static_cast<std::size_t>(i)];
  }
  const int numbers[] = {d.target_min, d.target_max, 0, 0, d.source_min,
                         d.source_max, d.no_fast_map};
  for (int want : numbers)
    ok = ok && _gl_get_int(f) == want;
  ok = ok && static_cast<float>(_gl_get_dbl(f)) == static_cast<float>(d.factor);
  if (!ok) {
    *error = "header numbers do not read back";
    return false;
  }
  const int entry_size = d.target_max + 1;
  if (!check_table(f, d.base, entry_size, "base", error)) return false;
  if (d.source_shift != 0 && !check_table(f, d.shifted, entry_size, "shifted-source", error))
    return false;
  _gl_skip_whitespace(f);
  if (std::fgetc(f) != EOF) {
    *error = "bytes after the last table";
    return false;
  }
  return true;
}

}  // namespace glsgen
