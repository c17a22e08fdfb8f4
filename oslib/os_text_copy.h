/*
** Bounded text copies for the operating-system wrappers: every text taken
** from the platform or the caller goes into a fixed-size field through
** these, so that a long name is cut (or refused) and never overruns.
*/
#ifndef DVZ_OSLIB_OS_TEXT_COPY_H
#define DVZ_OSLIB_OS_TEXT_COPY_H

#include <cstddef>
#include <cstring>
#include <string_view>

namespace oslib_text {

/* Copies src into dst (size bytes), cut to size - 1 bytes and always
** NUL-terminated; a NULL src gives the empty text. REQUIRES: size >= 1. */
inline void copy_cut(char *dst, size_t size, const char *src) {
  size_t n = src == nullptr ? 0 : strnlen(src, size - 1);
  memcpy(dst, src == nullptr ? "" : src, n);
  dst[n] = '\0';
}

template <size_t N>
inline void copy_cut(char (&dst)[N], const char *src) {
  copy_cut(dst, N, src);
}

/* Copies src whole and NUL-terminated into dst (size bytes); false, with
** dst untouched, when it does not fit (or size is below 1). */
inline bool copy_whole(char *dst, int size, std::string_view src) {
  if (size < 1 || src.size() >= static_cast<size_t>(size)) return false;
  memcpy(dst, src.data(), src.size());
  dst[src.size()] = '\0';
  return true;
}

}  // namespace oslib_text

#endif
