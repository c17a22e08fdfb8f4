/*
** An encoder of message catalogs (.iem) for the tests, written apart from
** the project's catalog compiler so that the reader is never checked only
** against our own writer: {number, text} lists in either entry size, and
** the reverse, a decoder that checks a catalog's layout as it reads it.
**
** Layout: u16 magic (0xFE68 with 8-byte entries {i16 number, i16 length,
** u32 offset}, 0xFE69 with 10-byte entries {i32 number, i16 length, u32
** offset}), u16 count, the entries sorted by signed number, the texts.
** Everything big-endian; offsets from the start of the file.
*/
#ifndef DVZ_TESTS_OSLIB_CATALOG_ENCODER_H
#define DVZ_TESTS_OSLIB_CATALOG_ENCODER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace catalog_test {

struct message {
  int32_t number;
  std::string text;
  bool operator==(const message &) const = default;
};

enum class entry_width { narrow, wide };

/* The catalog's bytes, the messages sorted by signed number. */
std::string encode_catalog(std::vector<message> messages, entry_width width);

/* Writes encode_catalog's bytes to path (parent directories made). */
void write_catalog(const std::string &path, const std::vector<message> &messages,
                   entry_width width);

/* The messages of a catalog in index order, or nothing when the bytes are
** not a well-formed catalog (magic, count, bounds, order). */
std::optional<std::vector<message>> decode_catalog(const std::string &bytes);

/* count messages with numbers spread over negative and positive values,
** gaps of 10 between them, texts naming their numbers. */
std::vector<message> spread_messages(int count);

}  // namespace catalog_test

#endif
