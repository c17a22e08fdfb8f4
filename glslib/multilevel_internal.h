// multilevel_internal.h: node and array helpers shared by the modules of
// the multi-level tables (table, reader, writer); not part of the
// library's interface. Every block comes from _gl_alloc_ptr and goes back
// through _gl_free_ptr.
#ifndef DVZ_GLSLIB_MULTILEVEL_INTERNAL_H
#define DVZ_GLSLIB_MULTILEVEL_INTERNAL_H

#include "gl_multi.h"

#include <cstddef>

namespace glslib::multi {

constexpr int kSlots = 256;

// Bytes between two entries of a data array.
inline std::size_t stride(const gl_multi_t *t) { return std::size_t{1} << t->entry_shift; }

// A node with no arrays, not shared; nullptr when memory runs out.
multi_arr_t *new_node();
// A zeroed flag (or offsets) array of 256 bytes; nullptr when memory runs out.
unsigned char *new_byte_array();
// A data array with every slot holding the default entry (padding zero).
unsigned char *new_data_array(const gl_multi_t *t);
// Frees the node, its subtree and every array it owns (shared ones stay).
void free_node(multi_arr_t *node);

// The flag of byte b in node (0 when the node has no flag array).
inline int flag_of(const multi_arr_t *node, unsigned b) {
    return node->flags != nullptr ? int{node->flags[b]} : int{GL_MULTI_NONE};
}

// The child reached through byte b (whose flag is 1), or nullptr when the
// tree does not hold one (a partly read table).
inline multi_arr_t *child_of(const multi_arr_t *node, unsigned b) {
    if (node->offsets == nullptr || node->next == nullptr) return nullptr;
    int index = node->offsets[b];
    return index < node->child_count ? node->next[index] : nullptr;
}

// The entry of byte b in node: its data slot, or the table's default.
inline unsigned char *entry_of(const gl_multi_t *t, const multi_arr_t *node, unsigned b) {
    if (node->data == nullptr) return t->default_entry;
    return node->data + b * stride(t);
}

// Number of flags equal to 1 in a flag array.
int count_children(const unsigned char *flags);

// The writer's rule for single-byte tables: with max_length below 2 and
// min_length 1 every root byte is a character (flag 4).
void apply_single_byte_rule(gl_multi_t *t);

}  // namespace glslib::multi

#endif
