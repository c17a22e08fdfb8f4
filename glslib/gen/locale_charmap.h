/*
** locale_charmap - reads a charmap of the system's locale sources (the
** gzipped or plain files under /usr/share/i18n/charmaps) into the list of
** characters of a code set: each character's bytes and its Unicode value.
** Used by the locale generator (locale_gen.cpp); calls zlib.
*/
#ifndef DVZ_GLSLIB_GEN_LOCALE_CHARMAP_H
#define DVZ_GLSLIB_GEN_LOCALE_CHARMAP_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace glsgen {

/* One character of a code set. */
struct CharmapChar {
  std::vector<unsigned char> bytes; /* 1 to 4 bytes */
  uint32_t ucs = 0; /* its Unicode value */
};

struct Charmap {
  std::string name; /* <code_set_name> */
  int mb_cur_min = 1;
  int mb_cur_max = 1;
  std::vector<CharmapChar> chars; /* in byte order, no duplicates */
  std::map<uint32_t, std::size_t> by_ucs; /* Unicode value -> index in chars */
};

/* Reads the charmap file at path (gzip or plain text). Returns true and
** fills out, or false with a message in *error. A byte string listed twice
** keeps its first line; a Unicode value listed twice maps to its first
** byte string (so that a character's partner has one encoding). */
bool read_charmap(const std::string &path, Charmap &out, std::string *error);

/* Packs bytes big-endian, the locale library's wide form of a character. */
uint32_t pack_bytes(const std::vector<unsigned char> &bytes);

}  // namespace glsgen

#endif
