/*
** multilevel_internal.h: what the modules of the multi-level tables share
** (table, reader, writer) and the one walk over a table that every other
** module of the library uses to look a character up: the character layer,
** the section readers and the name trees. Not part of the library's
** interface.
**
** Every block comes from _gl_alloc_ptr and goes back through _gl_free_ptr.
** A character is at most four bytes, so no walk goes deeper than four
** nodes, whatever a damaged table holds.
*/
#ifndef DVZ_GLSLIB_MULTILEVEL_INTERNAL_H
#define DVZ_GLSLIB_MULTILEVEL_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gl_multi.h"

namespace glslib::multi {

/* Slots of a node's flag, offset and data arrays. */
constexpr int slot_count = 256;
/* Bytes of the longest character, and so levels of the deepest walk. */
constexpr int max_char_length = 4;

/* Bytes between two entries of a data array. */
inline std::size_t stride(const gl_multi_t *t) { return std::size_t {1} << t->entry_shift; }

/* A node with no arrays, not shared; nullptr when memory runs out. */
multi_arr_t *new_node();
/* A zeroed flag (or offsets) array of 256 bytes; nullptr when memory runs out. */
unsigned char *new_byte_array();
/* A data array with every slot holding the default entry (padding zero). */
unsigned char *new_data_array(const gl_multi_t *t);
/* Frees the node, its subtree and every array it owns (shared ones stay). */
void free_node(multi_arr_t *node);

/* The flag of byte b in node (0 when the node has no flag array). */
inline int flag_of(const multi_arr_t *node, unsigned b) {
  return node->flags != nullptr ? int {node->flags[b]} : int {GL_MULTI_NONE};
}

/* The child reached through byte b (whose flag is 1), or nullptr when the
** tree does not hold one (a partly read table). */
inline multi_arr_t *child_of(const multi_arr_t *node, unsigned b) {
  if (node->offsets == nullptr || node->next == nullptr) return nullptr;
  int index = node->offsets[b];
  return index < node->child_count ? node->next[index] : nullptr;
}

/* The entry of byte b in node: its data slot, or the table's default. */
inline unsigned char *entry_of(const gl_multi_t *t, const multi_arr_t *node, unsigned b) {
  if (node->data == nullptr) return t->default_entry;
  return node->data + b * stride(t);
}

/* Number of flags equal to 1 in a flag array. */
int count_children(const unsigned char *flags);

/* The writer's rule for single-byte tables: with max_length below 2 and
** min_length 1 every root byte is a character (flag 4). */
void apply_single_byte_rule(gl_multi_t *t);

/* ---- The walk ---------------------------------------------------------- */

enum class walk_status { found, invalid, cut };

/* What a walk found. found: length is the character's length and entry its
** entry. invalid: the bytes are no character; length counts the bytes
** examined. cut: the character would need a byte at or past the limit;
** length is the limit. wc packs the bytes examined, big-endian. */
struct walk_result {
  walk_status status = walk_status::invalid;
  int length = 0;
  gl_wchar wc = 0;
  const unsigned char *entry = nullptr;
};

/* Walks t from the root along the bytes at s, examining none at or past
** limit (limit < 0: no limit but the four levels of a character). A NULL
** table or one without a root holds no character (length 0). */
walk_result walk(const gl_multi_t *t, const unsigned char *s, int limit);

/* Bytes a packed value stands for in a table whose shortest key is
** shortest: the larger of shortest (taken within 1-4) and the value's own
** width. */
inline int packed_length(gl_wchar wc, int shortest) {
  const int own = wc <= 0xFFu ? 1 : wc <= 0xFFFFu ? 2 : wc <= 0xFFFFFFu ? 3 : 4;
  const int floor = shortest < 1 ? 1 : shortest > max_char_length ? max_char_length : shortest;
  return own > floor ? own : floor;
}

/* Walks the bytes of a packed value (packed_length of them, most
** significant first): found only when the last of them ends a character.
** When out is not NULL the bytes examined are written there, also on
** failure. wc of the result is the value itself. */
walk_result walk_packed(const gl_multi_t *t, gl_wchar wc, unsigned char *out);

/* The u16 an entry holds (the entry type of every locale table); 0 for no
** entry or a table whose entries are narrower. */
inline uint16_t entry_u16(const gl_multi_t *t, const unsigned char *entry) {
  uint16_t value = 0;
  if (entry != nullptr && t->entry_size >= 2) std::memcpy(&value, entry, sizeof value);
  return value;
}

/* Visits every complete character of t (flag 4) depth first in byte
** order, as visit(bytes, length, entry); stops early, returning false, when
** visit returns false. A partly read tree is visited as far as it goes. */
template <typename Visit>
bool for_each_character(const gl_multi_t *t, Visit &&visit) {
  unsigned char bytes[max_char_length];
  auto visit_node = [&](auto &self, const multi_arr_t *node, int depth) -> bool {
    if (node == nullptr || node->flags == nullptr || depth >= max_char_length) return true;
    for (int b = 0; b < slot_count; ++b) {
      bytes[depth] = static_cast<unsigned char>(b);
      const int flag = node->flags[b];
      if (flag == GL_MULTI_END) {
        if (!visit(static_cast<const unsigned char *>(bytes), depth + 1,
                   static_cast<const unsigned char *>(entry_of(t, node, b))))
          return false;
      } else if (flag == GL_MULTI_NEXT) {
        if (!self(self, child_of(node, b), depth + 1)) return false;
      }
    }
    return true;
  };
  return t == nullptr || visit_node(visit_node, t->root, 0);
}

}  // namespace glslib::multi

#endif
