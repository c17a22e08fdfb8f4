/*
** coll_memory.cpp: the collection and row record in memory: creation and
** release, the questions about its element types, the type info of a
** composite element, the cardinality over the element data, nested
** references (their padding, forms and copy), the NULL test of an element
** and the two hash functions.
**
** Called by the embedded-SQL runtime (init, free, element type info, NULL
** reference), by the cursors and change log (coll_cursor.cpp) and by the
** stored forms and comparisons. Element data and nested references may come
** from outside: every reader here is bounded by the bytes it was given, and
** the offset table is checked on every use.
*/
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "coll_internal.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_errors.h"

int Dvz_Debug = 0;

namespace dvz_genlib {

namespace {

/* The record's descriptor 0, or null. */
dvz_coll_field_t *first_field(const dvz_coll_typeinfo_t *ti) {
  return ti != nullptr && ti->ti_count >= 1 ? const_cast<dvz_coll_field_t *>(&ti->ti_fields[0])
                                            : nullptr;
}

/* Index of the n-th field (from 1) of the row that descriptor 0 describes,
** or -1. */
int row_field_index(const dvz_coll_typeinfo_t *ti, int n) {
  if (ti == nullptr || ti->ti_count < 1 || n < 1) return -1;
  const int level = ti->ti_fields[0].level_no + 1;
  int seen = 0;
  for (int i = 1; i < ti->ti_count; ++i) {
    if (ti->ti_fields[i].level_no == level && ++seen == n) return i;
  }
  return -1;
}

/* Number of fields of the row that descriptor 0 describes. */
int row_field_count(const dvz_coll_typeinfo_t *ti) {
  if (ti == nullptr || ti->ti_count < 1) return 0;
  const int level = ti->ti_fields[0].level_no + 1;
  int count = 0;
  for (int i = 1; i < ti->ti_count; ++i)
    count += ti->ti_fields[i].level_no == level ? 1 : 0;
  return count;
}

/* Size of an element of the descriptor's type in the element data, as the
** type questions report it. */
int field_size(const dvz_coll_field_t *f) {
  const int code = f->type & 0xFF;
  if (is_packed_code(code)) return coll_packed_size(f->length);
  if (is_opaque_code(code)) return f->length + 5;
  return f->length;
}

/* Element length of one type for dvz_coll_elem_len. */
int elem_len_of(const dvz_coll_field_t *f) {
  const int code = f->type & 0xFF;
  if (is_composite_code(code)) return 20;
  if (code == sql_type_varchar || code == sql_type_nvarchar) return (f->length & 0xFF) + 1;
  return field_size(f);
}

/* Adds descriptor f to the element size estimate; clears the fixed flag
** for variable-size types. row_rule: f is a part of a row element. */
void incr_el_size(dvz_coll_t *coll, const dvz_coll_field_t *f, bool row_rule) {
  const int code = f->type & 0xFF;
  const bool variable = code == sql_type_varchar || code == sql_type_nvarchar ||
                        is_composite_code(code) || is_opaque_code(code);
  if (!variable) {
    coll->cl_elsize += is_packed_code(code) ? coll_packed_size(f->length) : f->length;
    return;
  }
  coll->cl_isfixed = 0;
  if (code == sql_type_varchar || code == sql_type_nvarchar) {
    coll->cl_elsize += f->length;
  } else if (code == sql_type_fixed_udt && row_rule) {
    coll->cl_elsize += f->length;
  } else if (is_composite_code(code)) {
    coll->cl_elsize += 16;
  } else {
    coll->cl_elsize += f->length + 5;
  }
}

/* Walks the offset table of a variable-size buffer: the number of elements
** before the -1 word, or -9986 when the word is missing or an offset is
** negative, decreasing or past the table. */
int table_count(const char *data, int32_t datalen) {
  if (data == nullptr || datalen < 4) return coll_err_bad_log;
  int32_t previous = 0;
  int count = 0;
  for (int64_t pos = datalen - 4; pos >= 0; pos -= 4) {
    const int32_t word = dvz_ld_be_i32(data + pos);
    if (word == -1) return previous <= pos ? count : coll_err_bad_log;
    if (word < previous) return coll_err_bad_log;
    previous = word;
    ++count;
  }
  return coll_err_bad_log;
}

/* Writes the three bytes of the NULL reference. */
void write_null_reference(char *dst) {
  dst[0] = 0;
  dst[1] = 1;
  dst[2] = 1;
}

}  // namespace

int coll_kind(const dvz_coll_t *coll) {
  const dvz_coll_field_t *f = first_field(coll_typeinfo(coll));
  return f != nullptr ? f->type & 0xFF : -1;
}

dvz_coll_field_t *coll_elem_field(const dvz_coll_t *coll, int elemno) {
  dvz_coll_field_t *f = nullptr;
  const int n = coll_kind(coll) == sql_type_row ? elemno : 0;
  if (dvz_coll_get_row_typeinfo(const_cast<dvz_coll_t *>(coll), n, &f) != 0) return nullptr;
  return f;
}

bool coll_field_is_reference(const dvz_coll_field_t *field) {
  return field != nullptr &&
         (is_composite_code(field->type & 0xFF) || (field->flags & DVZ_FIELD_NESTED) != 0);
}

int nref_read(const char *src, int32_t avail, bool inline_only, nref_view *out) {
  *out = nref_view {};
  if (src == nullptr || avail < 3) return coll_err_bad_form;
  out->length = dvz_ld_be_i16(src);
  if (src[2] == 1) {
    out->isnull = true;
    return 0;
  }
  out->pad = nref_pad(src);
  if (out->length < out->pad + 6 || avail < out->pad + 8) return coll_err_bad_form;
  out->form = dvz_ld_be_u32(src + out->pad);
  out->hash = dvz_ld_be_u32(src + out->pad + 4);
  const char *body = src + out->pad + 8;
  const int32_t inline_len = out->length - out->pad - 6;
  const uint32_t low = out->form & 0xF;
  if (low == DVZ_NREF_RECORD) {
    if (inline_only) return coll_err_bad_form;
    if (avail - (out->pad + 8) < static_cast<int32_t>(sizeof(dvz_coll_t))) return coll_err_bad_form;
    dvz_coll_t record;
    std::memcpy(&record, body, sizeof record);
    out->record = body;
    out->data = record.cl_data;
    out->datalen = record.cl_len;
    if (out->datalen < 0 || (out->data == nullptr && out->datalen > 0)) return coll_err_bad_form;
    return 0;
  }
  if (low == DVZ_NREF_POINTER) {
    if (inline_only) return coll_err_bad_form;
    if (avail - (out->pad + 8) < static_cast<int32_t>(sizeof(void *))) return coll_err_bad_form;
    out->data = static_cast<const char *>(load_pointer(body));
    out->datalen = inline_len;
    if (out->data == nullptr && out->datalen > 0) return coll_err_bad_form;
    return 0;
  }
  if (low != DVZ_NREF_INLINE && low != DVZ_NREF_INLINE2 && (out->form & DVZ_NREF_BIT16) == 0)
    return coll_err_bad_form;
  if (avail - 2 < out->length) return coll_err_bad_form;
  out->data = body;
  out->datalen = inline_len;
  return 0;
}

int nref_inline_size(const char *src, int32_t avail, uintptr_t at) {
  nref_view view;
  if (const int status = nref_read(src, avail, false, &view); status != 0) return status;
  if (view.isnull) return 3;
  return nref_pad(at) + 8 + view.datalen;
}

int collcopy_bounded(const char *src, int32_t avail, bool inline_only, char *dst,
                     dvz_coll_typeinfo_t *ti, int16_t typed, int form) {
  nref_view view;
  if (const int status = nref_read(src, avail, inline_only, &view); status != 0) return status;
  if (view.isnull) {
    write_null_reference(dst);
    return 3;
  }
  const int low = form & 0xF;
  if (low != DVZ_NREF_INLINE && low != DVZ_NREF_INLINE2 && low != DVZ_NREF_POINTER &&
      low != DVZ_NREF_RECORD)
    return coll_err_bad_form;
  const bool source_record = (view.form & 0xF) == DVZ_NREF_RECORD;
  if (low == DVZ_NREF_RECORD && !source_record && ti == nullptr) return coll_err_bad_form;
  const int pad = nref_pad(dst);
  const int32_t datalen =
      low == DVZ_NREF_RECORD ? static_cast<int32_t>(sizeof(dvz_coll_t)) : view.datalen;
  const int64_t length = static_cast<int64_t>(datalen) + pad + 6;
  if (length > INT16_MAX) return coll_err_bad_form;
  if (Dvz_Debug != 0)
    std::printf("collcopy: form %u to form %d, %d data bytes\n", view.form, form, datalen);
  char *body = dst + pad + 8;
  if (low == DVZ_NREF_INLINE || low == DVZ_NREF_INLINE2) {
    if (datalen > 0) std::memmove(body, view.data, static_cast<size_t>(datalen));
  } else if (low == DVZ_NREF_POINTER) {
    store_pointer(body, view.data);
  } else if (source_record) {
    std::memmove(body, view.record, sizeof(dvz_coll_t));
  } else {
    dvz_coll_t record;
    dvz_coll_init(&record, ti, typed, const_cast<char *>(view.data), view.datalen);
    std::memcpy(body, &record, sizeof record);
  }
  std::memset(dst + 2, 0, static_cast<size_t>(pad - 2));
  dvz_st_be_i16(static_cast<int16_t>(length), dst);
  dvz_st_be_u32(static_cast<uint32_t>(form) | (view.form & DVZ_NREF_BIT16), dst + pad);
  dvz_st_be_u32(view.hash, dst + pad + 4);
  return static_cast<int>(length) + 2;
}

int coll_data_element(const dvz_coll_t *coll, const char *loc, char **elem, int32_t *len) {
  const char *begin = coll->cl_data;
  if (begin == nullptr || loc == nullptr || coll->cl_datalen <= 0) return coll_err_bad_log;
  const char *end = begin + coll->cl_datalen;
  if (coll->cl_isfixed != 0 && coll_kind(coll) != sql_type_row) {
    if (coll->cl_elsize <= 0 || loc < begin || end - loc < coll->cl_elsize) return coll_err_bad_log;
    *elem = const_cast<char *>(loc);
    *len = coll->cl_elsize;
    return 0;
  }
  if (loc - begin < 4 || end - loc < 4) return coll_err_bad_log;
  const int32_t offset = dvz_ld_be_i32(loc);
  const int32_t next = dvz_ld_be_i32(loc - 4);
  const auto limit = static_cast<int32_t>(loc - 4 - begin);
  const int32_t stop = next == -1 ? limit : next;
  if (offset < 0 || offset > stop || stop > limit) return coll_err_bad_log;
  *elem = const_cast<char *>(begin) + offset;
  *len = stop - offset;
  return 0;
}

int coll_check_data(const dvz_coll_t *coll, bool stored) {
  if (coll->cl_data == nullptr || coll->cl_datalen <= 0) return 0;
  const int kind = coll_kind(coll);
  if (coll->cl_isfixed != 0 && kind != sql_type_row)
    return coll->cl_elsize > 0 ? 0 : static_cast<int>(coll_err_bad_log);
  const int count = table_count(coll->cl_data, coll->cl_datalen);
  if (count < 0) return count;
  if (!stored) return 0;
  for (int i = 1; i <= count; ++i) {
    if (!coll_field_is_reference(coll_elem_field(coll, kind == sql_type_row ? i : 0))) continue;
    char *elem = nullptr;
    int32_t len = 0;
    const char *loc = coll->cl_data + coll->cl_datalen - 4 * i;
    if (const int status = coll_data_element(coll, loc, &elem, &len); status != 0) return status;
    nref_view view;
    if (const int status = nref_read(elem, len, true, &view); status != 0) return status;
  }
  return 0;
}

}  // namespace dvz_genlib

using namespace dvz_genlib;

extern "C" {

/*
** Clears coll and fills it for ti: fixed flag and element size from the
** descriptors, type length, and with data (the caller's, never freed here)
** the cardinality. Returns 0, -1 for a null coll or ti, or -9986.
*/
int dvz_coll_init(dvz_coll_t *coll, dvz_coll_typeinfo_t *ti, int16_t typed, char *data,
                  int32_t len) {
  if (coll == nullptr || ti == nullptr) return -1;
  std::memset(coll, 0, sizeof *coll);
  coll->cl_typed = typed;
  if (typed != 0) {
    coll->cl_typeinfo = ti;
  } else {
    coll->cl_svr_typeinfo = ti;
  }
  coll->magic = DVZ_COLL_MAGIC;
  if (data != nullptr) {
    coll->cl_data = data;
    coll->cl_datalen = len;
    coll->cl_len = len;
  }
  coll->cl_isfixed = 1;
  coll->cl_typelen = 414 * ti->ti_count + 304;
  const int count = ti->ti_count;
  const dvz_coll_field_t *f = ti->ti_fields;
  if (count >= 1 && (f[0].type & 0xFF) == sql_type_row) {
    coll->cl_isfixed = 0;
  } else if (count >= 2 && (f[1].type & 0xFF) == sql_type_row) {
    coll->cl_isfixed = 0;
    for (int i = 2; i < count; ++i)
      incr_el_size(coll, &f[i], true);
  } else if (count >= 2) {
    for (int i = 1; i < count; ++i)
      incr_el_size(coll, &f[i], false);
  } else if (count == 1) {
    const int code = f[0].type & 0xFF;
    if (code == sql_type_variable_udt) coll->cl_isfixed = 0;
    if (code == sql_type_fixed_udt) {
      coll->cl_isfixed = 0;
      coll->cl_elsize = f[0].length;
    }
  }
  if (data != nullptr) return dvz_coll_set_cardinality(coll);
  return 0;
}

/*
** Frees the change log, the data when owned and the type infos when owned,
** then clears coll. -9984 (nothing freed) while a cursor is open; -1 for a
** null coll.
*/
int dvz_coll_free(dvz_coll_t *coll) {
  if (coll == nullptr) return -1;
  if (coll->cl_curs != nullptr) return coll_err_cursor_open;
  for (dvz_coll_changelog_t *entry = coll->cl_log; entry != nullptr;) {
    dvz_coll_changelog_t *next = entry->ch_next;
    std::free(entry);
    entry = next;
  }
  if ((coll->cl_flags & DVZ_COLL_OWNS_DATA) != 0) std::free(coll->cl_data);
  if ((coll->cl_flags & DVZ_COLL_OWNS_TYPEINFO) != 0) {
    if (coll->cl_typeinfo != coll->cl_svr_typeinfo) std::free(coll->cl_typeinfo);
    std::free(coll->cl_svr_typeinfo);
  }
  std::memset(coll, 0, sizeof *coll);
  return 0;
}

/*
** The descriptor of the element (n 0: descriptor 1, or 0 when there is no
** other) or of the row's n-th field into *field; null when there is none.
** Returns 0, or -9972 for n != 0 on a non-row.
*/
int dvz_coll_get_row_typeinfo(dvz_coll_t *coll, int n, dvz_coll_field_t **field) {
  *field = nullptr;
  dvz_coll_typeinfo_t *ti = coll != nullptr ? coll_typeinfo(coll) : nullptr;
  if (ti == nullptr) return 0;
  if (n != 0 && (ti->ti_count < 1 || (ti->ti_fields[0].type & 0xFF) != sql_type_row))
    return coll_err_not_row;
  if (n == 0) {
    if (ti->ti_count >= 2) {
      *field = &ti->ti_fields[1];
    } else if (ti->ti_count == 1) {
      *field = &ti->ti_fields[0];
    }
    return 0;
  }
  if (ti->ti_count == 1) return 0;
  const int index = row_field_index(ti, n);
  if (index > 0) *field = &ti->ti_fields[index];
  return 0;
}

int dvz_coll_elem_type(dvz_coll_t *coll) {
  dvz_coll_field_t *f = nullptr;
  dvz_coll_get_row_typeinfo(coll, 0, &f);
  return f != nullptr ? f->type & 0x78FF : -1;
}

int dvz_coll_row_elem_type(dvz_coll_t *coll, int n) {
  dvz_coll_field_t *f = nullptr;
  if (const int status = dvz_coll_get_row_typeinfo(coll, n, &f); status != 0) return status;
  return f != nullptr ? f->type & 0x78FF : -1;
}

/*
** Type word (0x100 removed), NOT NULL bit, element size and length word of
** the element or field n. Returns 0; -1 with type -1 and the rest 0 when
** there is no descriptor; -9972 for n != 0 on a non-row.
*/
int dvz_coll_elem_type_nonull(dvz_coll_t *coll, int n, int *type, int *notnull, int *size,
                              int *length) {
  dvz_coll_field_t *f = nullptr;
  const int status = dvz_coll_get_row_typeinfo(coll, n, &f);
  if (status != 0) return status;
  if (notnull != nullptr) *notnull = f != nullptr ? f->type & VTYPE_NOTNULL : 0;
  if (size != nullptr) *size = f != nullptr ? field_size(f) : 0;
  if (length != nullptr) *length = f != nullptr ? f->length : 0;
  if (f == nullptr) {
    *type = -1;
    return -1;
  }
  *type = f->type & 0x78FF;
  return 0;
}

int dvz_coll_elem_xid(dvz_coll_t *coll, int n, int32_t *xid) {
  dvz_coll_field_t *f = nullptr;
  if (const int status = dvz_coll_get_row_typeinfo(coll, n, &f); status != 0) return status;
  if (f == nullptr) return -1;
  *xid = f->xid;
  return 0;
}

int dvz_coll_elem_align(dvz_coll_t *coll, int n, int16_t *flags) {
  dvz_coll_field_t *f = nullptr;
  if (const int status = dvz_coll_get_row_typeinfo(coll, n, &f); status != 0) return status;
  if (f == nullptr) return -1;
  if (flags != nullptr) *flags = f->flags;
  return f->align;
}

int dvz_coll_elem_len(dvz_coll_t *coll) {
  dvz_coll_typeinfo_t *ti = coll != nullptr ? coll_typeinfo(coll) : nullptr;
  if (ti == nullptr || ti->ti_count < 1) return -1;
  if ((ti->ti_fields[0].type & 0xFF) != sql_type_row) {
    dvz_coll_field_t *f = nullptr;
    dvz_coll_get_row_typeinfo(coll, 0, &f);
    return elem_len_of(f);
  }
  int largest = 0;
  const int level = ti->ti_fields[0].level_no + 1;
  for (int i = 1; i < ti->ti_count; ++i) {
    if (ti->ti_fields[i].level_no == level)
      largest = std::max(largest, elem_len_of(&ti->ti_fields[i]));
  }
  return largest;
}

/*
** A new zero-filled type info in *out (one already there is freed) for the
** composite element (collection), or the row's n-th field with its parts:
** its descriptors renumbered from the chosen base. The caller owns it.
** Returns 0, -837, or -9969 without such a (composite) element.
*/
int dvz_coll_elem_typeinfo(dvz_coll_t *coll, dvz_coll_typeinfo_t **out, int n) {
  if (out == nullptr) return -1;
  std::free(*out);
  *out = nullptr;
  const dvz_coll_typeinfo_t *ti = coll != nullptr ? coll_typeinfo(coll) : nullptr;
  if (ti == nullptr || ti->ti_count < 1) return coll_err_no_descriptor;
  const dvz_coll_field_t *f = ti->ti_fields;
  int first = 0;
  int count = 0;
  int base = 0;
  if ((f[0].type & 0xFF) == sql_type_row && f[0].level_no == 0) {
    first = n <= 1 ? n : row_field_index(ti, n);
    if (first < 0 || first >= ti->ti_count) return coll_err_no_descriptor;
    count = 1;
    while (first + count < ti->ti_count && f[first + count].level_no > f[first].level_no)
      ++count;
    if (count == 1) return coll_err_no_descriptor;
    base = first;
  } else if ((f[0].type & 0xFF) != sql_type_row) {
    if (ti->ti_count < 2) return coll_err_no_descriptor;
    first = 1;
    count = ti->ti_count - 1;
    base = 0;
  } else {
    first = row_field_index(ti, n);
    if (first < 0) return coll_err_no_descriptor;
    count = 1;
    while (first + count < ti->ti_count && f[first + count].level_no > f[first].level_no)
      ++count;
    base = first;
  }
  auto *made =
      static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(count + 1)));
  if (made == nullptr) return value_err_host_memory;
  made->ti_count = static_cast<int16_t>(count);
  for (int i = 0; i < count; ++i) {
    dvz_coll_field_t &d = made->ti_fields[i];
    d = f[first + i];
    d.seqno = static_cast<int16_t>(d.seqno - f[base].seqno);
    d.level_no = static_cast<int16_t>(d.level_no - f[base].level_no);
    d.parent_no = static_cast<int16_t>(d.parent_no - f[base].parent_no);
  }
  *out = made;
  return 0;
}

/*
** Recomputes cl_cardinality from the element data: a ROW's field count, the
** fixed-size element count, or the offset words before -1. Returns 0, or
** -9986 (cardinality unchanged) for a damaged table or a fixed size of 0.
*/
int dvz_coll_set_cardinality(dvz_coll_t *coll) {
  if (coll->cl_datalen == 0) return 0;
  const dvz_coll_typeinfo_t *ti = coll_typeinfo_any(coll);
  if (ti != nullptr && ti->ti_count >= 1 && (ti->ti_fields[0].type & 0xFF) == sql_type_row) {
    coll->cl_cardinality = row_field_count(ti);
    return 0;
  }
  if (coll->cl_isfixed != 0) {
    if (coll->cl_elsize <= 0 || coll->cl_datalen < 0) return coll_err_bad_log;
    coll->cl_cardinality = coll->cl_datalen / coll->cl_elsize;
    return 0;
  }
  const int count = table_count(coll->cl_data, coll->cl_datalen);
  if (count < 0) return count;
  coll->cl_cardinality = count;
  return 0;
}

void dvz_coll_null(char *buffer) {
  if (buffer != nullptr) write_null_reference(buffer);
}

/*
** 0 when the element is NULL: a nested reference with its NULL flag, or a
** scalar whose column reader gives indicator -1; -1 otherwise. Reads at
** most len bytes of data.
*/
int dvz_coll_elem_is_null(const char *data, int32_t len, int type) {
  if (data == nullptr || len <= 0) return -1;
  if (is_composite_code(type & 0xFF)) return len >= 3 && data[2] == 1 ? 0 : -1;
  value_t value;
  std::memset(&value, 0, sizeof value);
  /* An opaque form holding its head is bounded by the element itself. */
  if (is_opaque_code(type & 0xFF) && len >= 5)
    return rdataval(data, type & 0xFF, len - 5, &value) == 0 && value.vind == -1 ? 0 : -1;
  /* The other readers take the bytes their type needs: give them at least
  ** that many, zero beyond the element. */
  char bytes[64] = {};
  std::memcpy(bytes, data, static_cast<size_t>(std::min<int32_t>(len, sizeof bytes)));
  if (rdataval(bytes, type & 0xFF, std::min<int32_t>(len, sizeof bytes), &value) != 0) return -1;
  return value.vind == -1 ? 0 : -1;
}

int collcopy(const char *src, char *dst, dvz_coll_typeinfo_t *ti, int16_t typed, int form) {
  return collcopy_bounded(src, INT32_MAX, false, dst, ti, typed, form);
}

int dvz_hashpjw(const char *text, int n) {
  if (text == nullptr || n < 1) return 0;
  uint32_t h = 0;
  for (int i = 0; i < n && text[i] != '\0'; ++i) {
    h = (h << 4) + static_cast<uint32_t>(static_cast<int>(static_cast<signed char>(text[i])));
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h = (h ^ (g >> 24)) ^ g;
  }
  return static_cast<int>(h % 211);
}

void dvz_calc_hval(const char *bytes, int32_t len, uint32_t *hash) {
  int32_t i = 0;
  for (; len - i >= 4; i += 4)
    *hash ^= dvz_ld_be_u32(bytes + i);
  if (i < len) {
    unsigned char tail[4] = {};
    std::memcpy(tail, bytes + i, static_cast<size_t>(len - i));
    *hash ^= dvz_ld_be_u32(tail);
  }
}

int dvz_get_row_xid(dvz_coll_t *coll, int *count) {
  if (coll == nullptr || coll->cl_svr_typeinfo == nullptr || coll->cl_svr_typeinfo->ti_count < 1)
    return -1;
  if (count != nullptr) *count = coll->cl_svr_typeinfo->ti_count;
  return coll->cl_svr_typeinfo->ti_fields[0].xid;
}

char *dvz_get_row_extended_name(dvz_coll_t *coll) {
  if (coll == nullptr || coll->cl_svr_typeinfo == nullptr || coll->cl_svr_typeinfo->ti_count < 1)
    return nullptr;
  return coll->cl_svr_typeinfo->ti_fields[0].xtype_name;
}

/*
** Sets value's type word from field, clears its indicator and flags, and
** stores the alignment in the 16 bits after the flags: the field's own, or
** 8 for a composite and 1 for a UDT when it has none.
*/
void dvz_coll_rowp_to_val(const dvz_coll_field_t *field, value_t *value) {
  value->vtype = field->type;
  value->vind = 0;
  value->vflags = 0;
  int16_t align = field->align;
  const int code = field->type & 0xFF;
  if (align == 0 && code >= sql_type_set && code != sql_type_unnamed_builtin) {
    if (is_composite_code(code)) align = 8;
    if (code == sql_type_variable_udt || code == sql_type_fixed_udt) align = 1;
  }
  std::memcpy(reinterpret_cast<char *>(&value->vflags) + sizeof value->vflags, &align,
              sizeof align);
}

void dvz_set_debug(int value) { Dvz_Debug = value; }

}  // extern "C"
