/*
** Code-set conversion: the descriptor's life (loading, opening by name,
** unloading), the reader of conversion files (.cvo) and the expansion
** queries.
**
** A .cvo file is text: "FILE_TYPE=codeset_conversion_object",
** "COMPILER_VERSION=9", "key=N" (N header lines in all, the rest skipped),
** then white-space separated tokens: the source and target shift flags
** (decimal), the four shift sequences back to back (each one hex digit n,
** 0-4, then n bytes as hex pairs), seven decimals (target min length,
** target max length, two unused, source min length, source max length,
** no-fast-map flag), the expansion factor, the base table and, with the
** source shift flag, the shifted-source table. Tables are the multi-level
** text form (length limit 4); an entry there is its flags byte as two hex
** digits followed by (flags & 7) target bytes as two hex digits each, with
** no separators, zero-filled to target_max_len + 1 bytes.
** The file comes from outside: the lengths the converters index with are
** checked (shift sequences 0-4, source and target lengths 1-4 with min not
** above max, no entry longer than target_max_len, a finite factor), the
** tables go through the hardened table reader, and any breach fails the
** load with error 11.
** Callers: the client's locale environment. Calls: the registry, the file
** search, the token readers, the multi-level tables, host services.
*/

#include "gl_conv.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "conversion_internal.h"
#include "gl_registry.h"
#include "locale_readers.h"
#include "multilevel_internal.h"
#include "token_readers.h"

namespace {

/* A descriptor with no tables that only carries its error. */
constexpr gl_cv_desc stand_in(int error) {
  gl_cv_desc cd {};
  cd.err = error;
  return cd;
}

}  // namespace

extern "C" {

gl_cv_desc cd_enomem = stand_in(GL_ENOMEM);
gl_cv_desc cd_fileerr = stand_in(GL_ENOFILE);
gl_cv_desc cd_einval = stand_in(GL_EINVAL);

}  // extern "C"

namespace {

using namespace glslib::multi;

gl_locale *as_record(gl_cv_desc *cd) { return reinterpret_cast<gl_locale *>(cd); }
void set_error(gl_cv_desc *cd, int error) { *_gl_ext_errno(as_record(cd)) = error; }

bool is_static(const gl_cv_desc *cd) {
  return cd == &cd_enomem || cd == &cd_fileerr || cd == &cd_einval;
}

/* Longest file name gl_iconv_open builds, terminator included. */
constexpr std::size_t iconv_name_max = 1025;

/* A new zeroed descriptor from the host allocator, or nullptr. */
gl_cv_desc *new_descriptor() {
  auto *cd = static_cast<gl_cv_desc *>(_gl_alloc_ptr(sizeof(gl_cv_desc)));
  if (cd != nullptr) *cd = gl_cv_desc {};
  return cd;
}

/* Reads one header line into line (line_size bytes) without its last
** character; false at end of file. */
bool header_line(FILE *stream, char *line) {
  const int length = glslib::read_line(stream, line, glslib::line_size);
  if (length < 1) return false;
  line[length - 1] = '\0';
  return true;
}

/* Every entry a converter can reach holds at most max_length target bytes:
** the default entry, every slot of the root and of the root's children
** (the single-byte and little-endian lookups index them without looking at
** the flags) and the entry of every character deeper down. */
bool entries_fit(const gl_multi_t *t, int max_length) {
  auto fits = [max_length](const unsigned char *entry) {
    return (entry[0] & GL_CV_LENGTH_MASK) <= max_length;
  };
  auto node_fits = [&](const multi_arr_t *node) {
    if (node == nullptr || node->data == nullptr) return true;
    for (int b = 0; b < slot_count; ++b)
      if (!fits(entry_of(t, node, b))) return false;
    return true;
  };
  if (!fits(t->default_entry) || !node_fits(t->root)) return false;
  for (int b = 0; b < slot_count; ++b)
    if (flag_of(t->root, b) == GL_MULTI_NEXT && !node_fits(child_of(t->root, b))) return false;
  return for_each_character(
      t, [&](const unsigned char *, int, const unsigned char *entry) { return fits(entry); });
}

/* Creates and reads one conversion table into *slot; false with the error
** in cd (the table stays in *slot for gl_cv_unload). */
bool read_conv_table(FILE *stream, gl_cv_desc *cd, gl_multi_t **slot) {
  *slot = _gl_create_multi(cd->target_max_len + 1, 0, nullptr);
  if (*slot == nullptr) {
    set_error(cd, GL_ENOMEM);
    return false;
  }
  if (_gl_fscanf_multi(stream, *slot, 4, conv_reader) != 0) {
    const int error = _gl_multi_err(*slot);
    set_error(cd, error != 0 ? error : GL_EBADFILE);
    return false;
  }
  if (!entries_fit(*slot, cd->target_max_len)) {
    set_error(cd, GL_EBADFILE);
    return false;
  }
  return true;
}

bool length_pair_ok(int32_t min_length, int32_t max_length) {
  return min_length >= 1 && max_length <= 4 && min_length <= max_length;
}

/* Everything after the stream check: 0 or -1 with the error in cd. */
int read_cv_body(FILE *stream, gl_cv_desc *cd) {
  if (read_cv_header(stream, cd) != 0) return -1;
  cd->source_shift = _gl_get_int(stream);
  cd->target_shift = _gl_get_int(stream);
  _gl_skip_whitespace(stream);
  for (int i = 0; i < 4; ++i) {
    if (read_mchar(stream, cd->shift_seq[i], &cd->shift_len[i]) != 0) {
      set_error(cd, GL_EBADFILE);
      return -1;
    }
  }
  cd->target_min_len = _gl_get_int(stream);
  cd->target_max_len = _gl_get_int(stream);
  cd->unused[0] = _gl_get_int(stream);
  cd->unused[1] = _gl_get_int(stream);
  cd->source_min_len = _gl_get_int(stream);
  cd->source_max_len = _gl_get_int(stream);
  cd->nofastmap = _gl_get_int(stream);
  const double factor = _gl_get_dbl(stream);
  if (cd->target_max_len < 1 || cd->target_max_len > 4) {
    gl_message("cv->target_max_len should be in range 1..4");
    set_error(cd, GL_EBADFILE);
    return -1;
  }
  /* A factor the float cannot hold (or no number at all) is as malformed
  ** as a length out of range. */
  if (!length_pair_ok(cd->target_min_len, cd->target_max_len) ||
      !length_pair_ok(cd->source_min_len, cd->source_max_len) || !std::isfinite(factor) ||
      factor < 0.0 || factor > FLT_MAX) {
    set_error(cd, GL_EBADFILE);
    return -1;
  }
  cd->factor = static_cast<float>(factor);
  if (!read_conv_table(stream, cd, &cd->base_table)) return -1;
  if (cd->source_shift != 0 && !read_conv_table(stream, cd, &cd->shifted_table)) return -1;
  return 0;
}

/* The code-set name of a specification: after its first ".", up to "@", a
** blank or the end; empty when there is none. */
std::string_view lc_spec2cs_name(const char *spec) {
  if (spec == nullptr) return {};
  const char *dot = std::strchr(spec, '.');
  if (dot == nullptr) return {};
  std::string_view rest(dot + 1);
  const std::size_t end = rest.find_first_of("@ ");
  return rest.substr(0, end);
}

/* gl_iconv_open on names that need not be terminated. */
int open_by_names(gl_cv_desc **cd, std::string_view target, std::string_view source) {
  const std::size_t size = source.size() + 1 + target.size() + 4 + 1;
  if (size >= iconv_name_max) {
    *cd = &cd_fileerr;
    return -1;
  }
  auto *name = static_cast<char *>(_gl_alloc_ptr(size));
  if (name == nullptr) {
    *cd = &cd_enomem;
    return -1;
  }
  char *p = name;
  std::memcpy(p, source.data(), source.size());
  p += source.size();
  *p++ = '_';
  std::memcpy(p, target.data(), target.size());
  p += target.size();
  std::memcpy(p, ".cvo", 5);
  const int result = gl_iconv_open1(cd, name);
  _gl_free_ptr(name);
  return result;
}

}  // namespace

extern "C" {

int hextoi(const char *text, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

int read_mchar(FILE *stream, unsigned char *seq, int32_t *length) {
  char text[2];
  text[0] = static_cast<char>(_gl_ext_getc(stream));
  const int n = hextoi(text, 1);
  if (n < 0 || n > 4) return -1;
  std::memset(seq, 0, 4);
  for (int i = 0; i < n; ++i) {
    text[0] = static_cast<char>(_gl_ext_getc(stream));
    text[1] = static_cast<char>(_gl_ext_getc(stream));
    const int byte = hextoi(text, 2);
    if (byte < 0) return -1;
    seq[i] = static_cast<unsigned char>(byte);
  }
  *length = n;
  return 0;
}

void conv_reader(FILE *stream, void *destination, int entry_size) {
  auto *entry = static_cast<unsigned char *>(destination);
  std::memset(entry, 0, static_cast<std::size_t>(entry_size));
  const int flags = _gl_get_hex(stream, 2);
  entry[0] = static_cast<unsigned char>(flags);
  const int count = flags & GL_CV_LENGTH_MASK;
  /* Every byte is read, so the stream stays in step; only what the entry
  ** holds is stored (a longer entry fails the load afterwards). */
  for (int i = 0; i < count; ++i) {
    const int byte = _gl_get_hex(stream, 2);
    if (i + 1 < entry_size) entry[i + 1] = static_cast<unsigned char>(byte);
  }
}

int read_cv_header(FILE *stream, gl_cv_desc *cd) {
  char line[glslib::line_size];
  if (!header_line(stream, line) || std::strcmp(line, "FILE_TYPE=codeset_conversion_object") != 0) {
    gl_message("Invalid CVO file. Wrong FILE_TYPE.");
    set_error(cd, GL_ENOFILE);
    return -1;
  }
  if (!header_line(stream, line) || std::strcmp(line, "COMPILER_VERSION=9") != 0) {
    gl_message("Invalid CVO file. Wrong Version.");
    set_error(cd, GL_ENOFILE);
    return -1;
  }
  const char *equals = nullptr;
  if (header_line(stream, line)) equals = std::strchr(line, '=');
  if (equals == nullptr) {
    set_error(cd, GL_ENOFILE);
    return -1;
  }
  const long lines = std::strtol(equals + 1, nullptr, 10);
  for (long i = 3; i < lines; ++i) {
    if (!header_line(stream, line)) {
      set_error(cd, GL_ENOFILE);
      return -1;
    }
  }
  return 0;
}

int read_cv_file(FILE *stream, gl_cv_desc *cd) {
  cd->base_table = nullptr;
  cd->shifted_table = nullptr;
  if (stream == nullptr) {
    set_error(cd, GL_ENOFILE);
    return -1;
  }
  const int result = read_cv_body(stream, cd);
  _gl_ext_fclose(stream);
  if (result != 0) return -1;
  set_iconv_fps(cd);
  gl_message("CVO file loaded successfully.");
  return 0;
}

int gl_cv_load(gl_cv_desc **cd, const char *target, const char *source, const char *registry,
               const char *directory) {
  if (cd == nullptr) return -1;
  const uint16_t target_cs = gl_lc_spec2cs_num(nullptr, target, registry);
  const uint16_t source_cs = gl_lc_spec2cs_num(nullptr, source, registry);
  if (target_cs == GL_CS_NONE || source_cs == GL_CS_NONE) {
    *cd = &cd_einval;
    return -1;
  }
  if (target_cs == source_cs) {
    *cd = nullptr;
    return 0;
  }
  /* [directory 0xFF] xxxxyyyy.cvo: the path cookie has the file opened
  ** in that directory rather than searched. */
  const std::size_t prefix = directory != nullptr ? std::strlen(directory) : 0;
  auto *name = static_cast<char *>(_gl_alloc_ptr(prefix + 14));
  gl_cv_desc *d = name != nullptr ? new_descriptor() : nullptr;
  if (d == nullptr) {
    _gl_free_ptr(name);
    *cd = &cd_enomem;
    return -1;
  }
  gl_cs_nums2cv_fname(nullptr, source_cs, target_cs, name, directory);
  FILE *stream = gl_path_search(as_record(d), name, "cv", "9");
  _gl_free_ptr(name);
  *cd = d;
  return read_cv_file(stream, d) == 0 ? 1 : -1;
}

int gl_cv_unload(gl_cv_desc *cd) {
  if (cd == nullptr) return -1;
  if (is_static(cd)) return 0;
  _gl_free_multi(cd->base_table);
  _gl_free_multi(cd->shifted_table);
  _gl_free_ptr(cd);
  return 0;
}

double gl_iconv_expansion(gl_cv_desc *cd) { return cd != nullptr ? cd->factor : 0.0; }

int gl_cv_outbuflen(gl_cv_desc *cd, int n) {
  if (cd == nullptr || n < 0) return 0;
  const double bytes = std::ceil(static_cast<double>(cd->factor)) * n;
  return bytes >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int>(bytes);
}

int gl_cv_open(gl_cv_desc **cd, const char *target, const char *source) {
  if (cd == nullptr) return -1;
  const std::string_view target_name = lc_spec2cs_name(target);
  const std::string_view source_name = lc_spec2cs_name(source);
  if (target_name.empty() || source_name.empty()) {
    *cd = &cd_fileerr;
    return -1;
  }
  if (target_name == source_name) {
    *cd = nullptr;
    return 0;
  }
  return open_by_names(cd, target_name, source_name);
}

int gl_iconv_open(gl_cv_desc **cd, const char *target_name, const char *source_name) {
  if (cd == nullptr) return -1;
  if (target_name == nullptr || source_name == nullptr) {
    *cd = &cd_fileerr;
    return -1;
  }
  return open_by_names(cd, target_name, source_name);
}

int gl_iconv_open1(gl_cv_desc **cd, const char *file_name) {
  if (cd == nullptr) return -1;
  gl_cv_desc *d = new_descriptor();
  if (d == nullptr) {
    *cd = &cd_enomem;
    return -1;
  }
  set_error(d, 0);
  *cd = d;
  FILE *stream = gl_path_search(as_record(d), file_name, "cv", "9");
  return read_cv_file(stream, d) == 0 ? 1 : -1;
}

}  // extern "C"
