/*
** The message-catalog reader (os_messages.h): finds a number's catalog
** under DOVARIZADIR, searches its sorted index and reads the text, with
** fallback texts when no text can be had. Called by the probe module, the
** runtime and the value library; calls the environment look-up (ggetenv),
** the readability check (_ofreadable), the client locale initialisation
** (chkglsinit) and the locale library's message directories.
**
** State lives in the general control block: the open descriptor, the name
** it was opened by, and the last index block read together with the
** number of entries it holds. A look-up whose number lies in that block
** reads nothing but the text. Every index read bumps
** os_catalog_index_reads (catalog_reads.h), which only the tests read.
**
** Catalog texts are data, never printf formats: the fallback texts put
** their one argument in themselves, and a catalog text with any other
** directive is replaced by the built-in one.
*/
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalog_reads.h"
#include "dvz_be.h"
#include "gl_registry.h"
#include "os_context.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_messages.h"
#include "os_seams.h"
#include "os_wrappers.h"

long os_catalog_index_reads = 0;

namespace {

constexpr std::size_t path_size = GEN_MSG_PATH_SIZE;
/* Bytes that DOVARIZADIR, "/msg//" and the leaf must leave free. */
constexpr std::size_t path_reserve = 21;
constexpr std::string_view msg_separators = "/msg//";
/* The locale of the second look-up after a miss. */
constexpr const char retry_locale[] = GLS_DEFAULT_CLIENT_LOCALE;
/* Longest catalog text, and room for it with its terminator. */
constexpr int16_t longest_text_buffer = msg_longest_text;

/* Texts of the client locale initialisation's failures, which cannot come
** from a catalog (the catalog search needs that locale). */
struct fixed_text {
  int error;
  const char *text;
};
constexpr std::array init_failure_texts = std::to_array<fixed_text>({
    {gls_err_date_memory, "Out of memory."},
    {gls_err_bad_dbdate, "Date conversion format must contain a month, day, and year component."},
    {gls_err_bad_locale, "Unable to load locale categories."},
    {gls_err_no_memory, "Memory allocation failed during locale processing."},
    {gls_err_cv_file, "Error opening required code-set conversion object file."},
    {gls_err_no_locale, "An error occurred during locale structure creation."},
    {gls_err_init, "An error occurred during environment variable processing."},
    {gls_err_bad_mode, "Internal error.  Illegal argument for locale initialization."},
    {gls_err_codesets, "Code sets of the locale categories are not the same."},
});

/* Where a search candidate takes its middle directory from. */
enum class candidate_source { language, language_messages, locale_messages, locale, fixed };

/* One catalog search candidate: DOVARIZADIR, prefix, the source's
** directory and "/" (a fixed candidate has its directory in the prefix),
** then the leaf. */
struct candidate {
  const char *prefix;
  candidate_source source;
};
constexpr std::array search_candidates = std::to_array<candidate>({
    {"msg/", candidate_source::language},
    {"", candidate_source::language},
    {"msg/", candidate_source::language_messages},
    {"msg/", candidate_source::locale_messages},
    {"msg/", candidate_source::locale},
    {"msg/en_us/0333/", candidate_source::fixed},
    {"msg/en_US.8859-1/", candidate_source::fixed},
    {"msg/", candidate_source::fixed},
    {"msg/english/", candidate_source::fixed},
});

char langdir_storage[path_size];

void copy_cut(char *buffer, int16_t size, std::string_view text) {
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

/* Reads exactly n bytes from fd at its position: false on a short read. */
bool read_exact(int fd, char *to, std::size_t n) {
  while (n > 0) {
    ssize_t got = read(fd, to, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

/* Reads exactly n bytes from fd at offset: false on a short read. */
bool pread_exact(int fd, char *to, std::size_t n, off_t offset) {
  while (n > 0) {
    ssize_t got = pread(fd, to, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got;
    offset += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

int32_t entry_number(const char *entry, int entry_size) {
  return entry_size == msg_wide_entry_size ? dvz_ld_be_i32(entry) : dvz_ld_be_i16(entry);
}

void close_stream(gen_tcb *block) {
  if (block->msg_stream != nullptr) std::fclose(block->msg_stream);
  block->msg_stream = nullptr;
}

/* Closes the catalog descriptor; the open name and the cached block go
** with it. */
void close_catalog(gen_tcb *block) {
  if (block->msg_fd >= 0) close(block->msg_fd);
  block->msg_fd = -1;
  block->msg_open_name[0] = '\0';
  block->msg_block_entries = 0;
}

/* DOVARIZADIR, looked up once and kept in the block. */
const char *dovarizadir(gen_tcb *block) {
  if (block->dovarizadir == nullptr) {
    const char *value = ggetenv("DOVARIZADIR");
    block->dovarizadir = strdup(value != nullptr ? value : DVZ_DEFAULT_DOVARIZADIR);
    if (block->dovarizadir == nullptr) return DVZ_DEFAULT_DOVARIZADIR;
  }
  return block->dovarizadir;
}

/* The message language directory, looked up while it is unknown; NULL when
** neither variable gives one of fewer than path_size bytes. */
const char *language_directory() {
  if (msg_langdir == nullptr) {
    const char *value = ggetenv("DBLANG");
    if (value == nullptr && DBNLSset() != 0) value = ggetenv("LANG");
    if (value != nullptr && std::strlen(value) < path_size) {
      std::strcpy(langdir_storage, value);
      msg_langdir = langdir_storage;
    }
  }
  return msg_langdir;
}

/* Appends parts into a path of path_size bytes: false when it would not
** stay below that. */
bool build_path(char *path, std::initializer_list<std::string_view> parts) {
  std::size_t length = 0;
  for (std::string_view part : parts) {
    if (length + part.size() >= path_size) return false;
    std::memcpy(path + length, part.data(), part.size());
    length += part.size();
  }
  path[length] = '\0';
  return true;
}

/* The path of one candidate into path, or false when it is skipped. */
bool candidate_path(const candidate &row, const char *dir, const char *leaf, const char *langdir,
                    const char *locale, char *path) {
  std::string_view base(dir);
  std::string_view slash = base.ends_with('/') ? "" : "/";
  const char *middle = nullptr;
  char messages[GL_MSG_DNAME_SIZE];
  switch (row.source) {
    case candidate_source::fixed:
      return build_path(path, {base, slash, row.prefix, leaf});
    case candidate_source::language:
      middle = langdir;
      break;
    case candidate_source::locale:
      middle = locale;
      break;
    case candidate_source::language_messages:
    case candidate_source::locale_messages: {
      const char *spec = row.source == candidate_source::language_messages ? langdir : locale;
      if (spec == nullptr) break;
      if (gl_lc_spec2msg_dname(nullptr, spec, messages, nullptr, nullptr) != 0) return false;
      middle = messages;
      break;
    }
  }
  if (middle == nullptr) return build_path(path, {base, slash, leaf});
  return build_path(path, {base, slash, row.prefix, middle, "/", leaf});
}

/* Whether text uses its one argument exactly once, as %<directive>, with
** "%%" as the only other use of '%'. */
bool single_directive(std::string_view text, char directive) {
  bool seen = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (next == directive && !seen) {
      seen = true;
    } else if (next != '%') {
      return false;
    }
    ++i;
  }
  return seen;
}

/* pattern with its directive replaced by argument and "%%" by "%", cut to
** the buffer. */
void substitute(std::string_view pattern, std::string_view argument, char *buffer, int16_t size) {
  std::size_t room = static_cast<std::size_t>(size - 1);
  std::size_t length = 0;
  auto put = [&](std::string_view piece) {
    std::size_t n = std::min(piece.size(), room - length);
    std::memcpy(buffer + length, piece.data(), n);
    length += n;
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      put(pattern[i + 1] == '%' ? std::string_view("%") : argument);
      ++i;
    } else {
      put(pattern.substr(i, 1));
    }
  }
  buffer[length] = '\0';
}

/* A fallback text: the catalog's text of number when it has exactly one
** directive of that letter, else built_in, with argument put in. */
void format_fallback(int32_t number, const char *built_in, char directive,
                     std::string_view argument, char *buffer, int16_t size) {
  if (buffer == nullptr || size < 1) return;
  /* Fetching one fallback's text may need the other's; two levels end it
  ** whatever the catalogs hold. */
  static int depth = 0;
  char *text = depth < 2 ? static_cast<char *>(std::malloc(longest_text_buffer)) : nullptr;
  const char *pattern = built_in;
  if (text != nullptr) {
    ++depth;
    if (rgetlmsg(number, text, longest_text_buffer, nullptr) == 0 &&
        single_directive(text, directive)) {
      pattern = text;
    }
    --depth;
  }
  substitute(pattern, argument, buffer, size);
  std::free(text);
}

/* Looks number up and reads its text into buffer: 0, -1232 when cut, or
** the look-up's error (-1231 for a text that cannot be read). */
int read_text(gen_tcb *block, int32_t number, char *buffer, int16_t size, const char *locale) {
  int32_t text_length = 0;
  int fd = -1;
  int result = lrseekmsg_gls(number, &text_length, nullptr, locale, &fd);
  if (result != 0) return result;
  std::size_t n =
      std::min(static_cast<std::size_t>(text_length), static_cast<std::size_t>(size - 1));
  if (!read_exact(fd, buffer, n)) {
    buffer[0] = '\0';
    return msg_err_index_read;
  }
  buffer[n] = '\0';
  if (ggetenv("DVZ_FREE_FD") != nullptr) close_catalog(block);
  return size > text_length ? 0 : msg_err_text_cut;
}

void store_length(int32_t *length, const char *buffer) {
  if (length != nullptr) *length = static_cast<int32_t>(std::strlen(buffer));
}

}  // namespace

extern "C" {

char *msg_langdir = nullptr;

char *rmsgfname_gls(const char *leaf, const char *locale) {
  gen_tcb *block = gentcb;
  if (block == nullptr || leaf == nullptr) return nullptr;
  const char *dir = dovarizadir(block);
  if (std::strlen(dir) + msg_separators.size() + std::strlen(leaf) > path_size - path_reserve) {
    return nullptr;
  }
  const char *langdir = nullptr;
  if (locale == nullptr) {
    langdir = language_directory();
    locale = ggetenv("CLIENT_LOCALE");
  }
  if (locale != nullptr && std::strlen(locale) >= path_size) locale = nullptr;
  char path[path_size];
  for (const candidate &row : search_candidates) {
    if (!candidate_path(row, dir, leaf, langdir, locale, path)) continue;
    if (_ofreadable(path) == 1) {
      std::strcpy(block->msg_found_path, path);
      errno = 0;
      return block->msg_found_path;
    }
  }
  block->msg_found_path[0] = '\0';
  return block->msg_found_path;
}

char *rmsgfname(const char *leaf) { return rmsgfname_gls(leaf, nullptr); }

int ropenmsg(const char *name, const char *locale) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return os_err_no_memory;
  const char *path =
      block->msg_explicit[0] != '\0' ? block->msg_explicit : rmsgfname_gls(name, locale);
  if (path == nullptr) return msg_err_no_name;
  close_catalog(block);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return msg_err_no_file;
  char header[msg_header_size];
  uint16_t magic = 0;
  if (pread_exact(fd, header, sizeof header, 0)) magic = dvz_ld_be_u16(header);
  if (magic != msg_magic_narrow && magic != msg_magic_wide) {
    close(fd);
    return msg_err_bad_magic;
  }
  block->msg_fd = fd;
  block->msg_count = dvz_ld_be_u16(header + 2);
  block->msg_wide = magic == msg_magic_wide ? 1 : 0;
  return 0;
}

int gbuf_lookup(const char *block, int32_t number, int entry_size, int32_t *length, int32_t entries,
                int fd, int *fd_out) {
  if (entry_size != msg_narrow_entry_size && entry_size != msg_wide_entry_size) return -1;
  entries = std::min(entries, static_cast<int32_t>(GEN_MSG_BLOCK_SIZE / entry_size));
  for (int32_t i = 0; i < entries; ++i) {
    const char *entry = block + i * entry_size;
    int32_t found = entry_number(entry, entry_size);
    if (found > number) break;
    if (found < number) continue;
    const char *rest = entry + entry_size - 6;
    int16_t text_length = dvz_ld_be_i16(rest);
    uint32_t offset = dvz_ld_be_u32(rest + 2);
    if (text_length < 0 || lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return -1;
    if (length != nullptr) *length = text_length;
    if (fd_out != nullptr) *fd_out = fd;
    return 0;
  }
  return -1;
}

int gfind_msg(char *block, int32_t number, int entry_size, int32_t *length, int32_t count,
              int32_t block_count, int fd, int32_t *block_entries, int *fd_out) {
  *block_entries = 0;
  if (entry_size != msg_narrow_entry_size && entry_size != msg_wide_entry_size)
    return msg_err_index_read;
  block_count =
      std::clamp(block_count, int32_t {1}, static_cast<int32_t>(GEN_MSG_BLOCK_SIZE / entry_size));
  int32_t low = 0;
  int32_t high = count - 1;
  if (high < 0) return msg_err_no_number;
  while (low <= high) {
    int32_t mid = low + (high - low) / 2;
    /* Never past the last entry: what follows the index is text. */
    int32_t n = std::min(block_count, count - mid);
    ++os_catalog_index_reads;
    off_t at = msg_header_size + static_cast<off_t>(mid) * entry_size;
    if (!pread_exact(fd, block, static_cast<std::size_t>(n) * entry_size, at))
      return msg_err_index_read;
    *block_entries = n;
    if (number >= entry_number(block, entry_size)) {
      if (gbuf_lookup(block, number, entry_size, length, n, fd, fd_out) == 0) return 0;
      low = mid + n;
    } else {
      high = mid - 1;
    }
  }
  return msg_err_no_number;
}

int lrseekmsg_gls(int32_t number, int32_t *length, FILE ** /*stream*/, const char *locale,
                  int *fd_out) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return os_err_no_memory;
  if (block->msg_block == nullptr) {
    block->msg_block = static_cast<char *>(std::malloc(GEN_MSG_BLOCK_SIZE));
    if (block->msg_block == nullptr) return os_err_no_memory;
    block->msg_block_entries = 0;
  }
  char leaf[MSG_LEAF_SIZE];
  const char *name = block->msg_explicit;
  if (name[0] == '\0') {
    rmkmsgleafname(number, leaf);
    name = leaf;
  }
  if (block->msg_fd >= 0 && std::strcmp(block->msg_open_name, name) == 0 &&
      gbuf_lookup(block->msg_block, number, block->msg_entry_size, length, block->msg_block_entries,
                  block->msg_fd, fd_out) == 0) {
    return 0;
  }
  block->msg_block_entries = 0;
  block->msg_open_name[0] = '\0';
  if (int result = ropenmsg(name, locale); result != 0) return result;
  block->msg_entry_size = block->msg_wide != 0 ? msg_wide_entry_size : msg_narrow_entry_size;
  std::strcpy(block->msg_open_name, name);
  block->msg_block_count = std::min(block->msg_count, static_cast<int32_t>(GEN_MSG_BLOCK_ENTRIES));
  return gfind_msg(block->msg_block, number, block->msg_entry_size, length, block->msg_count,
                   block->msg_block_count, block->msg_fd, &block->msg_block_entries, fd_out);
}

int lrseekmsg(int32_t number, int32_t *length, FILE **stream) {
  int fd = -1;
  int result = lrseekmsg_gls(number, length, stream, nullptr, &fd);
  if (result != 0) return result;
  /* The stream reads through a duplicate sharing the catalog's position,
  ** so closing it leaves the catalog open. */
  close_stream(gentcb);
  int copy = dup(fd);
  if (copy < 0) return msg_err_no_file;
  FILE *opened = fdopen(copy, "r");
  if (opened == nullptr) {
    close(copy);
    return msg_err_no_file;
  }
  gentcb->msg_stream = opened;
  if (stream != nullptr) *stream = opened;
  return 0;
}

int rseekmsg(int32_t number, int32_t *length, FILE **stream) {
  return lrseekmsg(number, length, stream);
}

int rgetlmsg_gls(int32_t number, char *buffer, int16_t size, int32_t *length, const char *locale) {
  if (buffer == nullptr || size < 1) return msg_err_text_cut;
  buffer[0] = '\0';
  store_length(length, buffer);
  if (int result = chkglsinit(); result != 0) {
    for (const fixed_text &row : init_failure_texts) {
      if (row.error == result) copy_cut(buffer, size, row.text);
    }
    store_length(length, buffer);
    return result;
  }
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return os_err_no_memory;
  const char *dblang = ggetenv("DBLANG");
  bool may_retry = dblang == nullptr || std::strcmp(dblang, retry_locale) != 0;
  bool retried = false;
  int result = read_text(block, number, buffer, size, locale);
  if (result != 0 && result != msg_err_text_cut && may_retry) {
    block->msg_open_name[0] = '\0';
    retried = true;
    result = read_text(block, number, buffer, size, retry_locale);
  }
  if (retried) {
    block->msg_open_name[0] = '\0';
    block->msg_cached_number = 0;
  }
  if (result == msg_err_no_file || result == msg_err_no_name) {
    if (number == msg_number_no_file) return -1;
    rnofile(number, buffer, size);
  } else if (result != 0 && result != msg_err_text_cut) {
    if (number == msg_number_no_message) return -1;
    rnomsg(number, buffer, size);
  }
  store_length(length, buffer);
  return result;
}

int rgetlmsg(int32_t number, char *buffer, int16_t size, int32_t *length) {
  return rgetlmsg_gls(number, buffer, size, length, nullptr);
}

int rgetlmsg_with_locale(int32_t number, char *buffer, int16_t size, int32_t *length,
                         const char *locale) {
  return rgetlmsg_gls(number, buffer, size, length, locale);
}

int rget_lmsg(int32_t number, char *buffer, int16_t size, int32_t *length) {
  return rgetlmsg_gls(number, buffer, size, length, nullptr);
}

int rgetmsg(int32_t number, char *buffer, int16_t size) {
  return rgetlmsg_gls(number, buffer, size, nullptr, nullptr);
}

void rnofile(int32_t number, char *buffer, int16_t size) {
  char leaf[MSG_LEAF_SIZE];
  rmkmsgleafname(number, leaf);
  format_fallback(msg_number_no_file, "Cannot open file '%s'\n", 's', leaf, buffer, size);
}

void rnomsg(int32_t number, char *buffer, int16_t size) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", static_cast<int>(number));
  format_fallback(msg_number_no_message, "Unknown error message number '%d'\n", 'd', digits, buffer,
                  size);
}

char *_nmsgtext(int32_t number) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return nullptr;
  if (block->msg_text == nullptr) {
    block->msg_text = static_cast<char *>(std::malloc(GEN_MSG_TEXT_SIZE));
    if (block->msg_text == nullptr) return nullptr;
    block->msg_text[0] = '\0';
    block->msg_cached_number = 0;
  }
  if (block->msg_cached_number == 0 || block->msg_cached_number != number) {
    /* Set first: a look-up that needed a second try clears it again. */
    block->msg_cached_number = number;
    rgetlmsg(number, block->msg_text, GEN_MSG_TEXT_SIZE, nullptr);
  }
  return block->msg_text;
}

char *mmsgtext(int32_t number) { return _nmsgtext(number); }

int _setmsgfile(const char *path) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return os_err_no_memory;
  if (path == nullptr) path = "";
  if (std::strlen(path) >= path_size) return msg_err_no_name;
  std::strcpy(block->msg_explicit, path);
  return 0;
}

void rclosemsg(void) {
  gen_tcb *block = gentcb;
  if (block == nullptr) return;
  close_stream(block);
  close_catalog(block);
  std::free(block->msg_block);
  block->msg_block = nullptr;
  std::free(block->msg_text);
  block->msg_text = nullptr;
  block->msg_cached_number = 0;
}

void rmsg_init(void) {
  gen_tcb *block = gentcb;
  if (block == nullptr) return;
  std::free(block->msg_block);
  block->msg_block = nullptr;
  block->msg_block_entries = 0;
  block->msg_open_name[0] = '\0';
  close_stream(block);
}

}  // extern "C"
