/*
** Search for the locale library's data files: locale files ("lc" "11"),
** the code-set registry ("cm" "3") and conversion files ("cv" "9").
**
** A name holding the path cookie 0xFF is opened as it stands (0xFF read as
** "/"); a name beginning with "/" likewise; otherwise every element of
** GL_PATH is tried in order, or, without GL_PATH, the versioned and then the
** plain directory under $DOVARIZADIR/gls (default /usr/dovariza/gls). Every
** try is logged "Opened: %s" or "Could not open: %s". A composed path must
** fit the 1024-byte path buffer: a longer one is logged as not opened and
** never tried cut short.
** Callers: locale loader, registry reader, conversion loader.
** Calls: host services (slots 0, 7, 8, 13), the platform fopen, diagnostics.
*/

#include "gl_host.h"
#include "host_internal.h"

#include <array>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t path_max = 1024; /* the path buffer, terminator included */

void store_error(gl_locale *record, int error) {
  if (record != nullptr) *_gl_ext_errno(record) = error;
}

/* Opens path for reading with the platform or through slot 7, logging the try. */
FILE *try_open(const char *path, bool platform) {
  FILE *stream = platform ? std::fopen(path, "r") : _gl_ext_fopen(path, "r");
  glslib::message_pieces({stream != nullptr ? "Opened: " : "Could not open: ", path});
  return stream;
}

/* Composes the pieces into a path and opens it. A path of path_max bytes or
** more is logged as not opened and not tried. */
FILE *try_composed(std::initializer_list<std::string_view> pieces, bool platform) {
  assert(pieces.size() < 8);
  std::size_t total = 0;
  for (std::string_view piece : pieces)
    total += piece.size();
  if (total >= path_max) {
    /* Logged whole, piece by piece, so nothing is cut. */
    std::array<std::string_view, 8> parts {};
    std::size_t n = 0;
    parts[n++] = "Could not open: ";
    for (std::string_view piece : pieces)
      parts[n++] = piece;
    glslib::message_pieces(std::span<const std::string_view>(parts.data(), n));
    return nullptr;
  }
  std::array<char, path_max> path;
  std::size_t at = 0;
  for (std::string_view piece : pieces) {
    std::memcpy(path.data() + at, piece.data(), piece.size());
    at += piece.size();
  }
  path[at] = '\0';
  return try_open(path.data(), platform);
}

}  // namespace

extern "C" {

int has_path_cookie(const char *name) {
  if (name == nullptr) return 0;
  return std::strchr(name, '\xff') != nullptr ? 1 : 0;
}

FILE *gl_open_file(gl_locale *record, const char *name) {
  std::size_t length = std::strlen(name);
  char *copy = static_cast<char *>(_gl_alloc_ptr(length + 1));
  if (copy == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  for (std::size_t i = 0; i <= length; ++i)
    copy[i] = name[i] == '\xff' ? '/' : name[i];
  FILE *stream = try_open(copy, false);
  _gl_free_ptr(copy);
  if (stream == nullptr) store_error(record, GL_ENOFILE);
  return stream;
}

FILE *gl_path_search1(gl_locale *record, const char *name, const char *directory,
                      const char *version, int platform) {
  if (name == nullptr) {
    store_error(record, GL_ENULLPTR);
    return nullptr;
  }
  if (has_path_cookie(name)) return gl_open_file(record, name);
  const bool use_platform = platform != 0;
  FILE *stream = nullptr;
  if (name[0] == '/') {
    stream = try_open(name, use_platform);
  } else if (const char *gl_path = _gl_get_env_var("GL_PATH")) {
    /* Every element in order, empty ones skipped; no fall-back to
    ** DOVARIZADIR once GL_PATH is set. */
    std::string_view rest(gl_path);
    while (stream == nullptr && !rest.empty()) {
      std::size_t colon = rest.find(':');
      std::string_view element = rest.substr(0, colon);
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      if (!element.empty()) stream = try_composed({element, "/", name}, use_platform);
    }
  } else {
    const char *home = _gl_get_env_var("DOVARIZADIR");
    std::string_view base = home != nullptr ? std::string_view(home) : "/usr/dovariza";
    std::string_view dir = directory != nullptr ? directory : "";
    std::string_view ver = version != nullptr ? version : "";
    stream = try_composed({base, "/gls/", dir, ver, "/", name}, use_platform);
    if (stream == nullptr) stream = try_composed({base, "/gls/", dir, "/", name}, use_platform);
  }
  if (stream != nullptr) return stream;
  glslib::message_pieces({"Could not open: ", name});
  store_error(record, GL_ENOFILE);
  return nullptr;
}

FILE *gl_path_search(gl_locale *record, const char *name, const char *directory,
                     const char *version) {
  return gl_path_search1(record, name, directory, version, 0);
}

FILE *gl_path_search_no_ext(gl_locale *record, const char *name, const char *directory,
                            const char *version) {
  return gl_path_search1(record, name, directory, version, 1);
}

}  // extern "C"
