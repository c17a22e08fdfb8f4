/*
** os_catalog_format.h: the layout of a message-catalog file (.iem), shared
** by the catalog compiler (gen/) that writes it and the reader
** (message_catalog.cpp) that searches it. Header-only.
**
** All numbers big-endian: u16 magic, u16 entry count, the index sorted by
** signed number, then the texts (not terminated), offsets counting from the
** start of the file. Magic 0xFE68: 8-byte entries {i16 number, i16 length,
** u32 offset}, written when every number fits 16 bits; 0xFE69: 10-byte
** entries {i32 number, i16 length, u32 offset}.
*/
#ifndef DVZ_OSLIB_OS_CATALOG_FORMAT_H
#define DVZ_OSLIB_OS_CATALOG_FORMAT_H

/* The catalog magics. */
enum msg_magic { msg_magic_narrow = 0xFE68, msg_magic_wide = 0xFE69 };

/* Sizes of the layout, in bytes, and its limits. */
enum msg_layout {
  msg_header_size = 4, /* magic and entry count */
  msg_narrow_entry_size = 8,
  msg_wide_entry_size = 10,
  msg_longest_text = 32767, /* a text's length is an i16 */
  msg_most_entries = 65535 /* the entry count is a u16 */
};

#endif
