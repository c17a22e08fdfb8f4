/*
** coll_internal.h: what the collection modules (records and nested
** references, cursors and change log, stored forms and comparisons) share
** about a `dvz_coll_t` beyond gen_collection.h: its type info and element
** descriptors, element sizes, the padding of a nested reference, the
** bounded readers of nested references and offset tables that data from
** outside must pass, and the walk over a record's elements. Internal.
*/
#ifndef DVZ_GENLIB_COLL_INTERNAL_H
#define DVZ_GENLIB_COLL_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gen_collection.h"
#include "gen_types.h"

namespace dvz_genlib {

/* The type info this record's operations use: the client one when typed. */
inline dvz_coll_typeinfo_t *coll_typeinfo(const dvz_coll_t *coll) {
  return coll->cl_typed != 0 ? coll->cl_typeinfo : coll->cl_svr_typeinfo;
}
/* The client type info when set, else the server one (cardinality and
** stored forms). */
inline dvz_coll_typeinfo_t *coll_typeinfo_any(const dvz_coll_t *coll) {
  return coll->cl_typeinfo != nullptr ? coll->cl_typeinfo : coll->cl_svr_typeinfo;
}

/* The low byte of descriptor 0's type word, -1 without type info. */
int coll_kind(const dvz_coll_t *coll);

inline bool is_composite_code(int code) {
  return code >= sql_type_set && code <= sql_type_collection;
}
inline bool is_opaque_code(int code) {
  return code == sql_type_variable_udt || code == sql_type_fixed_udt || code == sql_type_lvarchar ||
         code == sql_type_boolean;
}
inline bool is_packed_code(int code) {
  return code == sql_type_decimal || code == sql_type_money || code == sql_type_datetime ||
         code == sql_type_interval;
}
/* Bytes of the packed form under a length word (precision high byte,
** scale low byte). */
inline int coll_packed_size(int length) {
  const int p = (length >> 8) & 0xFF;
  const int s = length & 0xFF;
  return (p + (s & 1) + 3) / 2;
}

/* Descriptor of element number elemno (a ROW's field; any element of a
** collection), or null. */
dvz_coll_field_t *coll_elem_field(const dvz_coll_t *coll, int elemno);
/* True when the element described by field is held as a nested reference
** (a composite type or DVZ_FIELD_NESTED). */
bool coll_field_is_reference(const dvz_coll_field_t *field);

/* Padding of a nested reference starting at address a: 3..10, so that its
** form word stands 8-aligned. */
inline int nref_pad(uintptr_t a) {
  const int r = static_cast<int>((a + 3) % 8);
  return r == 0 ? 3 : 11 - r;
}
inline int nref_pad(const void *a) { return nref_pad(reinterpret_cast<uintptr_t>(a)); }

/* A nested reference as read, its data located. */
struct nref_view {
  bool isnull = false;
  int pad = 0;
  int16_t length = 0; /* L */
  uint32_t form = 0; /* the whole form word */
  uint32_t hash = 0;
  const char *data = nullptr; /* the data (inline, pointed to or embedded) */
  int32_t datalen = 0;
  const char *record = nullptr; /* form 4: the embedded record's bytes */
};

/*
** Reads the reference at src, of which avail bytes may be read. inline_only
** (data from a stored form) refuses forms 4 and 8. Returns 0, or -9875 for
** a negative L, an L below pad + 6, an unknown form or a reference longer
** than avail; nothing outside src[0..avail) is read.
*/
int nref_read(const char *src, int32_t avail, bool inline_only, nref_view *out);
/* collcopy with the source bounded as nref_read bounds it. */
int collcopy_bounded(const char *src, int32_t avail, bool inline_only, char *dst,
                     dvz_coll_typeinfo_t *ti, int16_t typed, int form);
/* Bytes the reference at src would take as a form-1 reference starting at
** address at; -9875 as nref_read. */
int nref_inline_size(const char *src, int32_t avail, uintptr_t at);
/* dvz_coll_put_coll with the source bounded as nref_read bounds it. */
int coll_put_coll_bounded(dvz_coll_t *coll, const char *buffer, int32_t avail, bool inline_only);

/*
** Checks the element data of coll as data from outside: for a variable-size
** collection or a ROW, an offset table ending in -1 whose offsets are
** non-negative, non-decreasing and end before the table; with stored, every
** nested reference an element holds must be inline and lie within its
** element. Returns 0, -9986 (offsets) or -9875 (a reference).
*/
int coll_check_data(const dvz_coll_t *coll, bool stored);

/*
** The element at a data location (fixed: the element; else its offset
** word), bounded by cl_data..cl_data + cl_datalen. Returns 0 with *elem and
** *len, or -9986 for an offset outside the data or the table.
*/
int coll_data_element(const dvz_coll_t *coll, const char *loc, char **elem, int32_t *len);

/*
** The memory of the stored forms (coll_stored.cpp): the type infos and
** data copies a read makes and the type text. Every block is released
** with free(). Starts at the C library's; a test installs a table whose
** N-th allocation fails and puts the old one back.
*/
struct coll_allocator_seam {
  void *(*zeroed)(size_t size); /* size zero bytes, or null */
  void *(*resize)(void *block, size_t size); /* realloc: null keeps block */
};
extern const coll_allocator_seam coll_system_allocator;
extern const coll_allocator_seam *coll_allocator;

/* Reads and writes a pointer stored inside element data. */
inline void *load_pointer(const char *at) {
  void *p;
  std::memcpy(&p, at, sizeof p);
  return p;
}
inline void store_pointer(char *at, const void *p) { std::memcpy(at, &p, sizeof p); }

}  // namespace dvz_genlib

#endif
