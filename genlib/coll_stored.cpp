/*
** coll_stored.cpp: the stored form of a whole collection or row value
** (ldcollection, ldcollection2, ldcollection_data, stcollection) and the
** text of a collection or row type (dvz_cltype2str).
**
** Callers: the column reader and writer of value_columns.cpp (a stored
** value with its total), the runtime (rows from the server, without the
** total; its own wire writer) and whoever shows a row type. Calls the
** record operations of coll_memory.cpp and the type names of the type
** tables.
**
** The layout is a wire format: big-endian, no alignment, every name N
** bytes (128 or 18); keep it byte for byte. Data read from a stored form
** is untrusted: every count, length and offset is checked against the
** bytes the caller says it holds before it is used, and a nested reference
** inside that data may only hold its collection inline (forms 1, 2 and
** bit 16): forms 4 and 8 carry a raw record or a pointer, which only the
** process itself may build. Nesting is bounded too: neither the data
** check nor the walk over a type description goes deeper than 64 levels,
** and the walk keeps its levels in a fixed table, not on the stack.
*/
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "coll_internal.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_datetime.h"
#include "gen_errors.h"
#include "gen_types.h"
#include "os_gentcb.h"

namespace dvz_genlib {

const coll_allocator_seam coll_system_allocator = {
    [](size_t size) { return std::calloc(1, size); },
    [](void *block, size_t size) { return std::realloc(block, size); },
};
const coll_allocator_seam *coll_allocator = &coll_system_allocator;

}  // namespace dvz_genlib

namespace {

/* Sizes of the parts of the stored form for names of n bytes. */
constexpr int32_t header_bytes(int n) { return 8 + n; }
constexpr int32_t field_bytes(int n) { return 30 + 3 * n; }
constexpr int32_t trailer_bytes = 12;
constexpr int32_t total_bytes = 4;

int name_width(int long_ids) { return long_ids != 0 ? DVZ_COLL_NAME_LONG : DVZ_COLL_NAME_SHORT; }

/* ---- Bounded big-endian reader ----------------------------------------------------------- */

/* Reads fields from at most `left` bytes; a read past them fails once and
** every later read then fails too. */
struct stored_reader {
  const unsigned char *at;
  int32_t left;
  bool ok = true;

  bool take(int32_t n) {
    if (!ok || n < 0 || n > left) return ok = false;
    return true;
  }
  void advance(int32_t n) {
    at += n;
    left -= n;
  }
  uint32_t u32() {
    if (!take(4)) return 0;
    const uint32_t v = dvz_ld_be_u32(at);
    advance(4);
    return v;
  }
  int16_t i16() {
    if (!take(2)) return 0;
    const int16_t v = dvz_ld_be_i16(at);
    advance(2);
    return v;
  }
  /* n bytes into a 128-byte name, the rest left zero. */
  void name(char *to, int n) {
    if (!take(n)) return;
    std::memcpy(to, at, static_cast<size_t>(n));
    advance(n);
  }
};

/* Big-endian writer; the caller sized the destination. */
struct stored_writer {
  unsigned char *at;

  void u32(uint32_t v) {
    dvz_st_be_u32(v, at);
    at += 4;
  }
  void i16(int16_t v) {
    dvz_st_be_i16(v, at);
    at += 2;
  }
  void bytes(const void *from, int32_t n) {
    if (n > 0) std::memcpy(at, from, static_cast<size_t>(n));
    at += n;
  }
  void zeros(int32_t n) {
    std::memset(at, 0, static_cast<size_t>(n));
    at += n;
  }
};

/* ---- Checks of stored element data ---------------------------------------------------------- */

/* A record for the composite element (n 0) or row field n of coll, whose
** data is checked next; false when the element has no such description
** (a scalar held as a reference). The caller frees it with free_nested. */
bool nested_record(dvz_coll_t *coll, int n, dvz_coll_t &nested) {
  dvz_coll_typeinfo_t *ti = nullptr;
  if (dvz_coll_elem_typeinfo(coll, &ti, n) != 0 || ti == nullptr) {
    std::free(ti);
    return false;
  }
  if (dvz_coll_init(&nested, ti, 0, nullptr, 0) != 0) {
    std::free(ti);
    return false;
  }
  return true;
}

void free_nested(dvz_coll_t &nested) {
  dvz_coll_typeinfo_t *ti = nested.cl_svr_typeinfo;
  nested.cl_svr_typeinfo = nullptr;
  nested.cl_data = nullptr;
  dvz_coll_free(&nested);
  std::free(ti);
}

/* A composite element, whose reference holds a collection or row of its
** own (a scalar held as a reference has only its bytes inline). */
bool holds_collection(const dvz_coll_field_t *field) {
  return field != nullptr && dvz_genlib::is_composite_code(field->type & 0xFF);
}

/* Nesting deeper than this is refused as damaged: every level takes a
** descriptor of its own, so no sound type comes near it. */
constexpr int max_depth = 64;

/*
** Checks coll's element data as data from a stored form (the offset table
** and the references of its own elements, by the shared checks; a row
** needs one element per field), and then the inline data of every nested
** reference as the nested type's element data in turn, so that no level
** of a stored value carries a record or a pointer. Sets the cardinality.
** Returns 0, -9875 or -9986.
*/
int check_stored(dvz_coll_t *coll, int depth) {
  if (const int status = dvz_genlib::coll_check_data(coll, true); status != 0) return status;
  if (const int status = dvz_coll_set_cardinality(coll); status != 0) return status;
  if (coll->cl_data == nullptr || coll->cl_datalen <= 0) return 0;
  const bool row = dvz_genlib::coll_kind(coll) == sql_type_row;
  if (coll->cl_isfixed != 0 && !row) return 0;
  if (depth >= max_depth) return coll_err_bad_log;
  /* A collection's elements share one description; a row's differ by field. */
  dvz_coll_t nested;
  std::memset(&nested, 0, sizeof nested);
  bool have_nested = false;
  if (!row && holds_collection(dvz_genlib::coll_elem_field(coll, 0)))
    have_nested = nested_record(coll, 0, nested);
  int status = 0;
  int32_t count = 0;
  for (int32_t i = 1; status == 0; ++i) {
    const char *loc = coll->cl_data + coll->cl_datalen - 4 * i;
    if (dvz_ld_be_i32(loc) == -1) break;
    count = i;
    if (row) {
      if (!holds_collection(dvz_genlib::coll_elem_field(coll, i))) continue;
      have_nested = nested_record(coll, i, nested);
    }
    if (!have_nested) continue;
    char *element = nullptr;
    int32_t len = 0;
    dvz_genlib::nref_view view;
    status = dvz_genlib::coll_data_element(coll, loc, &element, &len);
    if (status == 0) status = dvz_genlib::nref_read(element, len, true, &view);
    if (status == 0 && !view.isnull && view.datalen > 0) {
      nested.cl_data = const_cast<char *>(view.data);
      nested.cl_datalen = nested.cl_len = view.datalen;
      status = check_stored(&nested, depth + 1);
      nested.cl_data = nullptr;
      nested.cl_datalen = nested.cl_len = 0;
    }
    if (row) {
      free_nested(nested);
      have_nested = false;
    }
  }
  if (have_nested) free_nested(nested);
  /* A row's data holds one element per field, else a walk over its
  ** fields would run off the table. */
  if (status == 0 && row && count != coll->cl_cardinality) status = coll_err_bad_log;
  return status;
}

/* ---- Reading --------------------------------------------------------------------------------- */

/* A type info with room for count descriptors and one more, zero-filled;
** null without memory. */
dvz_coll_typeinfo_t *new_typeinfo(int count) {
  return static_cast<dvz_coll_typeinfo_t *>(
      dvz_genlib::coll_allocator->zeroed(DVZ_COLL_TYPEINFO_SIZE(count + 1)));
}

/* A copy of ti (its descriptors and one spare), or null without memory. */
dvz_coll_typeinfo_t *copy_typeinfo(const dvz_coll_typeinfo_t *ti) {
  const int count = ti->ti_count > 0 ? ti->ti_count : 0;
  dvz_coll_typeinfo_t *copy = new_typeinfo(count);
  if (copy != nullptr) std::memcpy(copy, ti, DVZ_COLL_TYPEINFO_SIZE(count));
  return copy;
}

/* Reads one field record of names n bytes wide into field. */
void read_field(stored_reader &in, dvz_coll_field_t &field, int n) {
  field.seqno = in.i16();
  field.level_no = in.i16();
  field.parent_no = in.i16();
  field.fieldnmlen = in.i16();
  in.name(field.fieldname, n);
  field.field_no = in.i16();
  field.type = in.i16();
  field.length = in.i16();
  field.xid = static_cast<int32_t>(in.u32());
  field.flags = in.i16();
  field.xtype_nm_len = in.i16();
  in.name(field.xtype_name, n);
  field.xtype_owner_len = in.i16();
  in.name(field.xtype_owner_name, n);
  field.align = in.i16();
  field.srctype = static_cast<int32_t>(in.u32());
  /* The built-in opaque types travel as UDTs known by their id. */
  const int code = field.type & 0xFF;
  if (code == sql_type_variable_udt || code == sql_type_fixed_udt) {
    const int high = field.type & 0xFF00;
    if (field.xid == 5) {
      field.type = static_cast<int16_t>(high | sql_type_boolean);
      field.xid = 0;
    } else if (field.xid == 1) {
      field.type = static_cast<int16_t>(high | sql_type_lvarchar);
      field.xid = 0;
    }
  }
}

/* Opens a reader over available bytes at source; with has_total the
** total is read and must fit, and bounds the rest. false on -1815. */
bool open_reader(const char *source, int32_t available, int has_total, stored_reader &in) {
  in.at = reinterpret_cast<const unsigned char *>(source);
  in.left = source != nullptr && available > 0 ? available : 0;
  if (has_total == 0) return source != nullptr;
  const uint32_t total = in.u32();
  if (!in.ok || total > static_cast<uint32_t>(in.left)) return false;
  in.left = static_cast<int32_t>(total);
  return true;
}

/* ---- Writing --------------------------------------------------------------------------------- */

/* Bytes of data written for coll: cl_len, never more than the buffer
** holds; none for a NULL record. */
int32_t written_data_len(const dvz_coll_t *coll) {
  if ((coll->cl_flags & DVZ_COLL_NULL) != 0 || coll->cl_data == nullptr) return 0;
  int32_t len = coll->cl_len < coll->cl_datalen ? coll->cl_len : coll->cl_datalen;
  return len > 0 ? len : 0;
}

/* Field records written: the type's descriptors, or for a NULL record
** (or one without a type) the single record of zeros. */
int written_count(const dvz_coll_t *coll) {
  if ((coll->cl_flags & DVZ_COLL_NULL) != 0) return 1;
  const dvz_coll_typeinfo_t *ti = dvz_genlib::coll_typeinfo_any(coll);
  return ti != nullptr && ti->ti_count > 0 ? ti->ti_count : 1;
}

void write_field(stored_writer &out, const dvz_coll_field_t &field, int n) {
  out.i16(field.seqno);
  out.i16(field.level_no);
  out.i16(field.parent_no);
  out.i16(field.fieldnmlen);
  out.bytes(field.fieldname, n);
  out.i16(field.field_no);
  out.i16(field.type);
  out.i16(field.length);
  out.u32(static_cast<uint32_t>(field.xid));
  out.i16(field.flags);
  out.i16(field.xtype_nm_len);
  out.bytes(field.xtype_name, n);
  out.i16(field.xtype_owner_len);
  out.bytes(field.xtype_owner_name, n);
  out.i16(field.align);
  out.u32(static_cast<uint32_t>(field.srctype));
}

/* ---- Type text ----------------------------------------------------------------------------- */

/* The text being built: starts at count x 395 bytes zeroed and grows by
** 512 whenever a piece does not fit. */
class type_text {
 public:
  explicit type_text(size_t initial) {
    data_ = static_cast<char *>(dvz_genlib::coll_allocator->zeroed(initial > 0 ? initial : 1));
    capacity_ = data_ != nullptr ? (initial > 0 ? initial : 1) : 0;
  }
  ~type_text() { std::free(data_); }
  type_text(const type_text &) = delete;
  type_text &operator=(const type_text &) = delete;

  bool made() const { return data_ != nullptr; }
  /* Appends n bytes; false when the buffer cannot grow. */
  bool add(const char *bytes, size_t n) {
    while (size_ + n + 1 > capacity_) {
      auto *grown = static_cast<char *>(dvz_genlib::coll_allocator->resize(data_, capacity_ + 512));
      if (grown == nullptr) return false;
      std::memset(grown + capacity_, 0, 512);
      data_ = grown;
      capacity_ += 512;
    }
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
    data_[size_] = '\0';
    return true;
  }
  bool add(const char *text) { return add(text, std::strlen(text)); }
  char *release() {
    char *out = data_;
    data_ = nullptr;
    return out;
  }

 private:
  char *data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

/* Outcome of a piece of the type text. */
enum class text_status { ok, no_memory, failed };

/* A length clamped to a name field. */
size_t name_len(int16_t n) { return n <= 0 ? 0 : (n > 128 ? 128 : static_cast<size_t>(n)); }

/* Writes the pieces of the type text that walk_types hands it. */
struct text_sink {
  int flag_a;
  int flag_b;
  type_text &out;

  static text_status added(bool ok) { return ok ? text_status::ok : text_status::no_memory; }

  text_status separator() { return added(out.add(", ")); }

  /* The field's name and a blank, unless it has none or is "(expression)". */
  text_status field_name(const dvz_coll_field_t &field) {
    const size_t named = name_len(field.fieldnmlen);
    if (named == 0 || std::string_view(field.fieldname, named) == "(expression)")
      return text_status::ok;
    return added(out.add(field.fieldname, named) && out.add(" "));
  }

  /* A composite type up to its parts: "name row(". */
  text_status open(const dvz_coll_field_t &field) {
    if (const text_status s = field_name(field); s != text_status::ok) return s;
    return added(out.add(rtypname(field.type & 0xFF)) && out.add("("));
  }

  /* After its parts: ")", and " not null" below the top level. */
  text_status close(const dvz_coll_field_t &field) {
    const bool not_null = field.level_no >= 1 && (field.type & VTYPE_NOTNULL) != 0;
    return added(out.add(")") && (!not_null || out.add(" not null")));
  }

  /* A scalar type: name, type name, length word, " not null". */
  text_status scalar(const dvz_coll_field_t &field) {
    if (const text_status s = field_name(field); s != text_status::ok) return s;
    const size_t type_named = name_len(field.xtype_nm_len);
    if (type_named > 0) {
      const size_t owner = name_len(field.xtype_owner_len);
      if (owner > 0 && (!out.add(field.xtype_owner_name, owner) || !out.add(".")))
        return text_status::no_memory;
      if (!out.add(field.xtype_name, type_named)) return text_status::no_memory;
    } else {
      const char *name = dvz_typename(field.type & 0xFF, field.xid);
      if (*name == '\0') return text_status::failed;
      if (!out.add(name)) return text_status::no_memory;
    }
    if (const text_status s = length_text(field); s != text_status::ok) return s;
    return added((field.type & VTYPE_NOTNULL) == 0 || out.add(" not null"));
  }

  /* The length word's part of a scalar type's text (none for most). */
  text_status length_text(const dvz_coll_field_t &field) {
    const int code = field.type & 0xFF;
    const int length = static_cast<uint16_t>(field.length);
    if (length == 0 || code == sql_type_variable_udt || code == sql_type_fixed_udt)
      return text_status::ok;
    char piece[48];
    piece[0] = '\0';
    switch (code) {
      case sql_type_char:
      case sql_type_varchar:
      case sql_type_nchar:
      case sql_type_nvarchar:
        std::snprintf(piece, sizeof piece, "(%d)", length);
        break;
      case sql_type_lvarchar:
        if (flag_a != 0 && flag_b == 0) std::snprintf(piece, sizeof piece, "(%d)", length);
        break;
      case sql_type_datetime:
      case sql_type_interval: {
        piece[0] = ' ';
        const int n = rtudesc(code, length, piece + 1);
        if (n <= 0) return text_status::failed;
        piece[1 + n] = '\0';
        break;
      }
      case sql_type_decimal:
      case sql_type_money:
        if ((length & 0xFF) < 33)
          std::snprintf(piece, sizeof piece, "(%d,%d)", length >> 8, length & 0xFF);
        else
          std::snprintf(piece, sizeof piece, "(%d)", length >> 8);
        break;
      default:
        break;
    }
    return added(out.add(piece));
  }
};

/* Writes nothing: the reader's check that a type's nesting can be walked. */
struct nesting_sink {
  text_status separator() { return text_status::ok; }
  text_status open(const dvz_coll_field_t &) { return text_status::ok; }
  text_status close(const dvz_coll_field_t &) { return text_status::ok; }
  text_status scalar(const dvz_coll_field_t &) { return text_status::ok; }
};

/*
** Walks ti's descriptors from descriptor 0, handing sink each piece. A
** composite descriptor (19-23) opens a level holding the descriptors after
** it; that level ends at the end, or at a descriptor whose level_no is
** below the one before it and is not the level_no of the parts it wrote.
** Parts at one level_no are separated. Iterative, with at most max_depth
** composite levels open at once: a deeper type, which no sound type comes
** near, is failed. Returns ok or the first status that is not.
*/
template <class Sink>
text_status walk_types(const dvz_coll_typeinfo_t *ti, Sink &sink) {
  struct level {
    int composite; /* the descriptor that opened it; -1 at the top */
    bool wrote;
    int remembered; /* the level_no of the last part written */
  };
  std::array<level, max_depth + 1> open {};
  open[0] = {-1, false, 0};
  int depth = 0;
  const dvz_coll_field_t *f = ti->ti_fields;
  text_status s = text_status::ok;
  for (int i = 0; s == text_status::ok;) {
    level &at = open[static_cast<size_t>(depth)];
    const bool ends = i >= ti->ti_count || (depth > 0 && f[i].level_no < f[i - 1].level_no &&
                                            (!at.wrote || f[i].level_no != at.remembered));
    if (ends) {
      if (depth == 0) break;
      const dvz_coll_field_t &composite = f[at.composite];
      s = sink.close(composite);
      level &outer = open[static_cast<size_t>(--depth)];
      outer.wrote = true;
      outer.remembered = composite.level_no;
      continue;
    }
    if (at.wrote && f[i].level_no == at.remembered) s = sink.separator();
    if (s != text_status::ok) break;
    if (dvz_genlib::is_composite_code(f[i].type & 0xFF)) {
      if (depth == max_depth) return text_status::failed;
      s = sink.open(f[i]);
      open[static_cast<size_t>(++depth)] = {i, false, 0};
    } else {
      s = sink.scalar(f[i]);
      at.wrote = true;
      at.remembered = f[i].level_no;
    }
    ++i;
  }
  return s;
}

}  // namespace

extern "C" {

/*
** Reads the stored form; see gen_collection_stored.h. Checks made before
** anything is used: the total fits what is available, the field count is
** not negative and its records and the trailer fit, the type is nested at
** most 64 levels deep, and the data length is not negative and fits what
** remains (-1815 otherwise, coll untouched).
*/
int ldcollection(const char *source, dvz_coll_t *coll, int has_total, int long_ids, int mode,
                 dvz_coll_typeinfo_t *ti, int32_t available) {
  if (mode == DVZ_LDCOLL_SHORT) return ldcollection2(source, coll, has_total, ti, available);
  const int n = name_width(long_ids);
  stored_reader in {};
  if (coll == nullptr || !open_reader(source, available, has_total, in))
    return coll_err_stored_form;
  if (in.left < header_bytes(n)) return coll_err_stored_form;
  const int32_t xid = static_cast<int32_t>(in.u32());
  const int16_t hdrval = in.i16();
  const unsigned char *name = in.at;
  in.advance(n);
  const int16_t count = in.i16();
  /* A count of 0 (the NULL form) is followed by one record of zeros. */
  const int records = count == 0 ? 1 : count;
  if (count < 0 || static_cast<int64_t>(records) * field_bytes(n) + trailer_bytes > in.left)
    return coll_err_stored_form;
  dvz_coll_typeinfo_t *read = new_typeinfo(count);
  if (read == nullptr) return os_err_no_memory;
  read->ti_xid = xid;
  read->ti_hdrval = hdrval;
  std::memcpy(read->ti_name, name, static_cast<size_t>(n));
  read->ti_count = count;
  for (int i = 0; i < count; ++i)
    read_field(in, read->ti_fields[i], n);
  if (count == 0) in.advance(field_bytes(n));
  /* A type nested too deep for the walks over it is malformed. */
  nesting_sink nesting;
  if (walk_types(read, nesting) != text_status::ok) {
    std::free(read);
    return coll_err_stored_form;
  }
  const uint32_t handle = in.u32();
  const auto len = static_cast<int32_t>(in.u32());
  const uint32_t flags = in.u32();
  if (!in.ok || len < 0 || len > in.left) {
    std::free(read);
    return coll_err_stored_form;
  }
  return ldcollection_data(len, reinterpret_cast<const char *>(in.at), coll, flags, read, handle);
}

/* The short form; see gen_collection_stored.h. Bounded as ldcollection. */
int ldcollection2(const char *source, dvz_coll_t *coll, int has_total, dvz_coll_typeinfo_t *ti,
                  int32_t available) {
  stored_reader in {};
  if (coll == nullptr || !open_reader(source, available, has_total, in))
    return coll_err_stored_form;
  const uint32_t first = in.u32();
  const uint32_t flags = in.u32();
  if (!in.ok || (first & 1) != 0) return coll_err_stored_form;
  int32_t len = 0;
  if ((flags & DVZ_COLL_STORED_NULL) == 0) {
    len = static_cast<int32_t>(in.u32());
    if (!in.ok || len < 0 || len > in.left) return coll_err_stored_form;
  }
  return ldcollection_data(len, reinterpret_cast<const char *>(in.at), coll, flags, ti, 0);
}

/*
** Makes coll own a private copy of the data and ti; see
** gen_collection_stored.h. The stored form does not carry the hash, so a
** hash-current bit in flags is dropped (the hash is recomputed on use).
** A client type info that coll had is kept: the one coll owned as it is,
** a caller's as a private copy, since the record then frees every type
** info it holds. Both copies are made before coll is freed, so without
** memory (-406) coll is untouched; on a later error coll is left holding
** only that client type info. ti is freed on every error.
*/
int ldcollection_data(int32_t len, const char *data, dvz_coll_t *coll, uint32_t flags,
                      dvz_coll_typeinfo_t *ti, uint32_t handle) {
  dvz_coll_typeinfo_t *client = coll->cl_typeinfo;
  const int16_t typed = coll->cl_typed;
  const bool owned = (coll->cl_flags & DVZ_COLL_OWNS_TYPEINFO) != 0;
  if (client != nullptr && (!owned || client == coll->cl_svr_typeinfo)) {
    client = copy_typeinfo(client);
    if (client == nullptr) {
      std::free(ti);
      return os_err_no_memory;
    }
  }
  char *copy = nullptr;
  if (len > 0) {
    copy = static_cast<char *>(dvz_genlib::coll_allocator->zeroed(static_cast<size_t>(len)));
    if (copy == nullptr) {
      if (client != coll->cl_typeinfo) std::free(client);
      std::free(ti);
      return os_err_no_memory;
    }
    std::memcpy(copy, data, static_cast<size_t>(len));
  }
  coll->cl_typeinfo = nullptr;
  dvz_coll_free(coll);
  std::memset(coll, 0, sizeof *coll);
  const auto keep_client = [&] {
    if (client != nullptr) {
      coll->cl_typeinfo = client;
      coll->cl_typed = typed;
      coll->cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
    }
  };
  dvz_coll_init(coll, ti, 0, nullptr, 0);
  coll->cl_data = copy;
  coll->cl_datalen = coll->cl_len = len;
  int status = check_stored(coll, 0);
  if (status != 0) {
    coll->cl_data = nullptr;
    coll->cl_svr_typeinfo = nullptr;
    dvz_coll_free(coll);
    std::memset(coll, 0, sizeof *coll);
    std::free(copy);
    std::free(ti);
    keep_client();
    return status;
  }
  coll->cl_handle = handle;
  coll->cl_flags = (flags & ~DVZ_COLL_HASHED) | DVZ_COLL_OWNS_TYPEINFO | DVZ_COLL_OWNS_DATA;
  if ((flags & DVZ_COLL_STORED_NULL) != 0)
    coll->cl_flags = (coll->cl_flags & ~DVZ_COLL_STORED_NULL) | DVZ_COLL_NULL;
  keep_client();
  return 0;
}

/* Size of coll's stored form with its total; see gen_collection_stored.h. */
int32_t dvz_stcollection_size(const dvz_coll_t *coll, int long_ids) {
  const int n = name_width(long_ids);
  return total_bytes + header_bytes(n) + written_count(coll) * field_bytes(n) + trailer_bytes +
         written_data_len(coll);
}

/*
** Writes coll's stored form; see gen_collection_stored.h. A NULL record
** is the zero header, one zero field record and the trailer with data
** length 0 and no data. REQUIRES: destination holds
** dvz_stcollection_size(coll, long_ids) bytes.
*/
void stcollection(const dvz_coll_t *coll, char *destination, int long_ids) {
  const int n = name_width(long_ids);
  stored_writer out {reinterpret_cast<unsigned char *>(destination)};
  const int32_t len = written_data_len(coll);
  out.u32(static_cast<uint32_t>(dvz_stcollection_size(coll, long_ids) - total_bytes));
  const dvz_coll_typeinfo_t *ti = dvz_genlib::coll_typeinfo_any(coll);
  if ((coll->cl_flags & DVZ_COLL_NULL) != 0 || ti == nullptr || ti->ti_count <= 0) {
    /* Count 0 and one record of zeros, which a reader skips. */
    out.zeros(header_bytes(n));
    out.zeros(field_bytes(n));
  } else {
    out.u32(static_cast<uint32_t>(ti->ti_xid));
    out.i16(ti->ti_hdrval);
    out.bytes(ti->ti_name, n);
    const int count = written_count(coll);
    out.i16(static_cast<int16_t>(count));
    for (int i = 0; i < count; ++i)
      write_field(out, ti->ti_fields[i], n);
  }
  out.u32(coll->cl_handle);
  out.u32(static_cast<uint32_t>(len));
  out.u32(coll->cl_flags);
  out.bytes(coll->cl_data, len);
}

/*
** The type text; see gen_collection_stored.h. Clears the conversion error
** word first and leaves -1 there when a type cannot be named.
*/
int dvz_cltype2str(const dvz_coll_typeinfo_t *ti, int flag_a, char **text, int flag_b) {
  set_toerrno(0);
  if (ti == nullptr || text == nullptr) return -1;
  const int count = ti->ti_count > 0 ? ti->ti_count : 0;
  type_text out(static_cast<size_t>(count) * 395);
  if (!out.made()) return os_err_no_memory;
  text_sink sink {flag_a, flag_b, out};
  const text_status s = walk_types(ti, sink);
  if (s == text_status::no_memory) return os_err_no_memory;
  if (s == text_status::failed) {
    set_toerrno(-1);
    return -1;
  }
  *text = out.release();
  return 0;
}

int dvz_cltypetostr(const dvz_coll_typeinfo_t *ti, int flag_a, char **text) {
  return dvz_cltype2str(ti, flag_a, text, 0);
}

}  // extern "C"
