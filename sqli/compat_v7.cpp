/*
** compat_v7.cpp: the conversions that keep version-7 callers working:
** cursor blocks to and from cursor records (registered in `curhashtab`
** by the hexadecimal text of the block's address), version-7 `sqlvar`
** arrays, `sqlda`, values and host-variable lists to current ones and
** back, and the release of what the runtime made for them
** (`sqli_free_compat_block`, `sqli_release_varlist`, called when a cursor
** record is freed).
**
** Each conversion copies field by field between the records' natural
** layouts. Arrays the runtime makes carry sqlvar_array_runtime in their
** first entry's flags; a cursor that takes one marks it
** sqlvar_array_in_use there, and only its release then frees it.
*/
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "gen_strings.h"
#include "gen_types.h"
#include "gen_value.h"
#include "sqli_compat7.h"
#include "sqli_context.h"
#include "sqli_cursors.h"
#include "sqli_errors.h"
#include "sqli_seams.h"

int32_t cur_total = 0;

namespace {

constexpr int cur_buckets = 128;

/* Table of version-7 blocks; null while cur_total is 0. */
ghashtab *curhashtab = nullptr;

/* An item of curhashtab: key, block, the handle it wraps. */
struct cur_entry {
  char *key;
  sqli_cursor7 *block;
  void *handle;
  char text[2 * sizeof(void *) + 3];
};

using block_key = std::array<char, 2 * sizeof(void *) + 3>;

block_key key_of(const sqli_cursor7 *block) {
  block_key key {};
  std::snprintf(key.data(), key.size(), "%lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(block)));
  return key;
}

/* The second flags word against the record's flags. */
struct flag_pair {
  int16_t v7;
  uint32_t record;
};
constexpr std::array<flag_pair, 6> flags2_map = {{{0x1, 0x100000},
                                                  {0x2, 0x200000},
                                                  {0x4, 0x10000},
                                                  {0x8, 0x20000},
                                                  {0x10, 0x40000},
                                                  {0x100, 0x80000}}};
constexpr uint32_t mapped_range = 0xF0000; /* replaced from the second word */
constexpr uint32_t kept_high = 0xFFF00000; /* never taken from the block */

/* The fields a cursor record and its block share by name, from one to
** the other; the flag words are the callers'. */
template <class From, class To>
void copy_cursor_fields(const From &f, To *t) {
  t->link = f.link;
  t->stmt_type = f.stmt_type;
  t->stmt_id = f.stmt_id;
  t->ncols = f.ncols;
  t->nin = f.nin;
  t->nout = f.nout;
  t->nbuffered = f.nbuffered;
  t->rowsize = f.rowsize;
  t->bufsize = static_cast<decltype(t->bufsize)>(f.bufsize);
  t->inlist = f.inlist;
  t->outlist = f.outlist;
  t->stmt_text = f.stmt_text;
  t->coldesc = f.coldesc;
  t->colname_pool = f.colname_pool;
  t->buffer = f.buffer;
  t->bufpos = f.bufpos;
  t->name = f.name;
  t->owned_block = f.owned_block;
  t->first_row = f.first_row;
  t->last_row = f.last_row;
  t->conv_colname_pool = f.conv_colname_pool;
  t->deferred_open = f.deferred_open;
  t->saved_descname = f.saved_descname;
  t->saved_sqlda = f.saved_sqlda;
}

void copycurs9to7(const sqli_cursor *c, sqli_cursor7 *b) {
  copy_cursor_fields(*c, b);
  b->flags = static_cast<int16_t>(c->flags & 0xFFFF);
  int16_t flags2 = 0;
  for (const flag_pair &p : flags2_map)
    if ((c->flags & p.record) != 0) flags2 = static_cast<int16_t>(flags2 | p.v7);
  b->flags2 = flags2;
}

/* The block's flags over the record's: the low 16 bits from the block
** (taken unsigned: bit 15 is a flag, not a sign), the mapped range from
** the second word, the record's own bits above it kept. */
uint32_t merged_flags(uint32_t record, const sqli_cursor7 *b) {
  uint32_t flags = (record & kept_high) | static_cast<uint16_t>(b->flags);
  flags &= ~mapped_range;
  for (const flag_pair &p : flags2_map)
    if ((b->flags2 & p.v7) != 0) flags |= p.record;
  return flags;
}

void copycurs7to9(const sqli_cursor7 *b, sqli_cursor *c) {
  copy_cursor_fields(*b, c);
  c->flags = merged_flags(c->flags, b);
}

/* The handle registered for block, or null. */
void *getcur9(const sqli_cursor7 *block) {
  if (curhashtab == nullptr) return nullptr;
  block_key key = key_of(block);
  const auto *entry = static_cast<const cur_entry *>(ghashlook(curhashtab, key.data()));
  return entry != nullptr ? entry->handle : nullptr;
}

/* Registers block for handle: true, or false when memory is short. */
bool register_block(sqli_cursor7 *block, void *handle) {
  if (curhashtab == nullptr && (curhashtab = ghashcreat(cur_buckets)) == nullptr) return false;
  auto *entry = static_cast<cur_entry *>(sqli_alloc(sizeof(cur_entry)));
  if (entry == nullptr) return false;
  const block_key key = key_of(block);
  std::memcpy(entry->text, key.data(), key.size());
  entry->key = entry->text;
  entry->block = block;
  entry->handle = handle;
  if (ghashins(curhashtab, entry) == 0) {
    sqli_release(entry);
    return false;
  }
  ++cur_total;
  return true;
}

/* Removes block from curhashtab; the table goes with its last entry. */
void unregister_block(const sqli_cursor7 *block) {
  if (curhashtab == nullptr) return;
  block_key key = key_of(block);
  auto *entry = static_cast<cur_entry *>(ghashdel(curhashtab, key.data()));
  if (entry == nullptr) return;
  sqli_release(entry);
  if (--cur_total == 0) {
    ghashremove(curhashtab);
    curhashtab = nullptr;
  }
}

/* The fields of an entry both layouts have; a version-7 length is
** unsigned. */
template <class From, class To>
void copy_var(const From &v, To *d) {
  d->sqltype = v.sqltype;
  if constexpr (sizeof(d->sqllen) > sizeof(v.sqllen))
    d->sqllen = static_cast<uint16_t>(v.sqllen);
  else
    d->sqllen = static_cast<decltype(d->sqllen)>(v.sqllen);
  d->sqldata = v.sqldata;
  d->sqlind = v.sqlind;
  d->sqlname = v.sqlname;
  d->sqlformat = v.sqlformat;
  d->sqlitype = v.sqlitype;
  d->sqlilen = v.sqlilen;
  d->sqlidata = v.sqlidata;
}

/* Bytes of a value's payload that move between the two layouts: a
** character value's pointer, one word, FLOAT's two, the DECIMAL digits of
** DECIMAL, MONEY, DATETIME and INTERVAL, a BYTE or TEXT descriptor. */
size_t payload_size(int type) {
  switch (type & 0xFF) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
      return sizeof(char *);
    case sql_type_smallint:
    case sql_type_integer:
    case sql_type_smallfloat:
    case sql_type_serial:
    case sql_type_date:
      return sizeof(int32_t);
    case sql_type_float:
      return sizeof(double);
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval:
      return sizeof(dec_t);
    case sql_type_byte:
    case sql_type_text:
      return sizeof(tblob_desc_t);
    default:
      return 0;
  }
}

static_assert(sizeof(value_t) - offsetof(value_t, vint) >= sizeof(tblob_desc_t),
              "every payload fits a current value's union");

/* The start of a current value's union, where every payload begins. */
char *payload_of(value_t *v) { return reinterpret_cast<char *>(v) + offsetof(value_t, vint); }
const char *payload_of(const value_t *v) {
  return reinterpret_cast<const char *>(v) + offsetof(value_t, vint);
}

bool runtime_array(const sqlvar_struct *vars) {
  return vars != nullptr && (vars[0].sqlflags & sqlvar_array_runtime) != 0;
}

/* An array of count records of T from the runtime's memory: the block,
** or null with -406 recorded. */
template <class T>
T *alloc_records(size_t count) {
  auto *out = static_cast<T *>(sqli_alloc(sizeof(T) * count));
  if (out == nullptr) _iqseterr(SQLI_E_NOMEM);
  return out;
}

}  // namespace

/* ---- Cursor blocks --------------------------------------------------------------------------- */

sqli_cursor7 *getcur7fr9(void *handle) {
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) return nullptr;
  auto *block = static_cast<sqli_cursor7 *>(c->compat_block);
  if (block == nullptr) {
    block = static_cast<sqli_cursor7 *>(sqli_alloc(sizeof(sqli_cursor7)));
    if (block == nullptr || !register_block(block, handle)) {
      sqli_release(block);
      _iqseterr(SQLI_E_NOMEM);
      return nullptr;
    }
    c->compat_block = block;
  }
  copycurs9to7(c, block);
  return block;
}

void *getcur9fr7(sqli_cursor7 *block, int *is_new) {
  *is_new = 0;
  void *handle = getcur9(block);
  if (handle == nullptr) {
    auto *area = alloc_records<sqli_cursor>(1);
    if (area == nullptr) return nullptr;
    *is_new = 1;
    handle = sqli_cursor_handle(area);
  }
  copycurs7to9(block, sqli_handle_cursor(handle));
  return handle;
}

void updatecur7(sqli_cursor7 *block, void *handle, int free_area, sqli_tcb *tcb) {
  const bool removed = tcb != nullptr && (tcb->flags & sqli_flag_v7_gone) != 0;
  if (!removed && block != nullptr && handle != nullptr)
    copycurs9to7(sqli_handle_cursor(handle), block);
  if (free_area != 0) sqli_release(sqli_handle_cursor(handle));
  if (tcb != nullptr) tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_v7_gone);
}

void sqli_free_compat_block(sqli_cursor *cursor) {
  auto *block = static_cast<sqli_cursor7 *>(cursor->compat_block);
  if (block == nullptr) return;
  unregister_block(block);
  sqli_release(block);
  cursor->compat_block = nullptr;
}

/* ---- Descriptors, values and host-variable lists --------------------------------------------- */

sqlvar_struct *getvar9fr7(int count, const sqlvar7 *vars, sqlvar_struct **slot) {
  if (count <= 0 || vars == nullptr) return nullptr;
  auto *out = alloc_records<sqlvar_struct>(static_cast<size_t>(count));
  if (out == nullptr) return nullptr;
  for (int i = 0; i < count; ++i) {
    copy_var(vars[i], &out[i]);
    out[i].sqlflags = sqlvar_array_runtime;
  }
  if (slot != nullptr) *slot = out;
  return out;
}

sqlda *getda9fr7(const sqlda7 *da, sqlvar_struct **slot) {
  if (da == nullptr) return nullptr;
  auto *out = alloc_records<sqlda>(1);
  if (out == nullptr) return nullptr;
  out->sqld = da->sqld;
  out->desc_occ = da->desc_occ;
  std::memcpy(out->desc_name, da->desc_name, sizeof out->desc_name);
  if (da->sqld > 0) {
    out->sqlvar = getvar9fr7(da->sqld, da->sqlvar, slot);
    if (out->sqlvar == nullptr && da->sqlvar != nullptr) {
      sqli_release(out);
      return nullptr;
    }
  }
  return out;
}

value_t *getval9fr7(int count, const value7 *values) {
  if (count <= 0 || values == nullptr) return nullptr;
  auto *out = alloc_records<value_t>(static_cast<size_t>(count));
  if (out == nullptr) return nullptr;
  for (int i = 0; i < count; ++i) {
    out[i].vtype = values[i].v_type;
    out[i].vind = values[i].v_ind;
    out[i].vprec = values[i].v_prec;
    std::memcpy(payload_of(&out[i]), &values[i].v, payload_size(values[i].v_type));
  }
  return out;
}

void copyval9to7(int count, const value_t *values, value7 *out) {
  for (int i = 0; i < count; ++i) {
    out[i].v_type = values[i].vtype;
    out[i].v_ind = values[i].vind;
    out[i].v_prec = values[i].vprec;
    std::memcpy(&out[i].v, payload_of(&values[i]), payload_size(values[i].vtype));
  }
}

void updateda7(sqlda7 *da, sqlda *copy, int copy_back, sqlvar_struct **slot) {
  if (copy == nullptr) return;
  if (copy_back != 0 && da != nullptr) {
    da->sqld = copy->sqld;
    da->desc_occ = copy->desc_occ;
    std::memcpy(da->desc_name, copy->desc_name, sizeof da->desc_name);
    if (da->sqlvar != nullptr && copy->sqlvar != nullptr)
      for (int i = 0; i < copy->sqld; ++i)
        copy_var(copy->sqlvar[i], &da->sqlvar[i]);
  }
  if (copy->sqlvar != nullptr && (copy->sqlvar[0].sqlflags & sqlvar_array_in_use) == 0)
    sqli_release(copy->sqlvar);
  sqli_release(copy);
  if (slot != nullptr) *slot = nullptr;
}

void freesqlvar(sqlvar_struct *vars, sqlvar_struct **slot) {
  if (!runtime_array(vars)) return;
  if (slot != nullptr && *slot == vars) {
    vars[0].sqlflags &= ~sqlvar_array_in_use;
    return;
  }
  sqli_release(vars);
}

sqlvar_struct *copyhvar7to9(const hostvar7 *list, int *count) {
  int n = 0;
  while (list[n].len != 0 || list[n].data != nullptr)
    ++n;
  *count = n;
  auto *out = alloc_records<sqlvar_struct>(static_cast<size_t>(n) + 1);
  if (out == nullptr) return nullptr;
  for (int i = 0; i <= n; ++i) {
    out[i].sqltype = list[i].type;
    out[i].sqllen = static_cast<uint16_t>(list[i].len);
    out[i].sqldata = list[i].data;
    out[i].sqlind = list[i].ind;
  }
  out[0].sqlflags |= sqlvar_array_runtime;
  return out;
}

void sqli_release_varlist(sqlvar_struct *entries, int) {
  if (runtime_array(entries)) sqli_release(entries);
}
