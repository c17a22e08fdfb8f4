/*
** coll_cursor.cpp: cursors over a collection or row record and its change
** log: opening and positioning, reading, inserting, updating and deleting
** elements through the log, the rebuild that folds the log into new element
** data, the collection hash, the loading and writing of nested references,
** the copy of a record and the debug dumps.
**
** Called by the embedded-SQL runtime for collection and row host variables,
** by the value conversions (the hash before a collection is stored) and by
** the comparisons (iteration). Changes never move the element data: they
** live in the log, sorted by element number, until dvz_coll_tuple. Every
** change re-positions the cursors of the chain from the front, so a cursor's
** log position never outlives the entry it names.
*/
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "coll_internal.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_errors.h"

namespace dvz_genlib {

namespace {

constexpr int no_element = 100;

/* The entry header is a multiple of 8, so the data after it is 8-aligned
** (a form-1 reference there has padding 8). */
constexpr size_t entry_header = (sizeof(dvz_coll_changelog_t) + 7) & ~size_t {7};

bool is_null_coll(const dvz_coll_t *coll) { return (coll->cl_flags & DVZ_COLL_NULL) != 0; }

/* Elements stored back to back, cl_elsize bytes each. */
bool fixed_layout(const dvz_coll_t *coll) {
  return coll->cl_isfixed != 0 && coll_kind(coll) != sql_type_row;
}

/* Location of data element idx (from 0): the element when fixed, else its
** offset word; false when it falls outside cl_data..cl_data + cl_datalen. */
bool data_location(const dvz_coll_t *coll, int64_t idx, char **loc) {
  *loc = nullptr;
  if (coll->cl_data == nullptr) return idx == 0;
  const int64_t at = fixed_layout(coll) ? idx * coll->cl_elsize : coll->cl_datalen - 4 * (idx + 1);
  if (at < 0 || at > coll->cl_datalen) return false;
  *loc = coll->cl_data + at;
  return true;
}

/* Index of the data element at loc (inverse of data_location). */
int64_t data_index(const dvz_coll_t *coll, const char *loc) {
  if (coll->cl_data == nullptr || loc == nullptr) return 0;
  if (fixed_layout(coll)) return coll->cl_elsize > 0 ? (loc - coll->cl_data) / coll->cl_elsize : 0;
  return (coll->cl_data + coll->cl_datalen - loc) / 4 - 1;
}

/* A cursor whose position fields describe its element number. */
bool has_position(const dvz_coll_cursor_t *cursor) {
  return cursor->cr_elemno >= 1 && (cursor->cr_logpos != nullptr || cursor->cr_run > 0);
}

void clear_position(dvz_coll_cursor_t *cursor) {
  cursor->cr_logpos = nullptr;
  cursor->cr_run = 0;
  cursor->cr_dataloc = nullptr;
}

/* Data elements between prev (none: the front) and next (none: the end). */
int64_t room_between(const dvz_coll_t *coll, const dvz_coll_changelog_t *prev,
                     const dvz_coll_changelog_t *next) {
  const int extra = prev != nullptr && prev->ch_modtype == CHANGELOG_DELETE ? 1 : 0;
  if (prev == nullptr && next == nullptr) return coll->cl_cardinality;
  if (prev == nullptr) return next->ch_rownum - 1;
  if (next != nullptr) return static_cast<int64_t>(next->ch_rownum) - prev->ch_rownum - 1 + extra;
  return static_cast<int64_t>(coll->cl_cardinality) - prev->ch_rownum + extra;
}

/*
** Moves cursor to element start + n (CSEEK_SET: n; CSEEK_END: n +
** cardinality; CSEEK_CUR: the cursor's number + n, walking on from its own
** log position when n >= 0). Runs of data elements are passed by
** arithmetic; only log entries are visited. Returns 0, 100 for a target
** outside 1..cardinality (cursor unchanged) or a location outside the data
** (position cleared), -9986 for a log that contradicts the cardinality.
*/
int cursor_seek(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, int32_t n, int whence) {
  const int32_t card = coll->cl_cardinality;
  if (card <= 0) return no_element;
  int64_t target = n;
  if (whence == CSEEK_END) target = static_cast<int64_t>(n) + card;
  if (whence == CSEEK_CUR) target = static_cast<int64_t>(cursor->cr_elemno) + n;
  if (target < 1 || target > card) return no_element;
  const bool from_cursor = whence == CSEEK_CUR && n >= 0 && has_position(cursor);
  dvz_coll_changelog_t *prev = from_cursor ? cursor->cr_logpos : nullptr;
  int64_t run = from_cursor ? cursor->cr_run : 0;
  int64_t consumed = 0;
  if (from_cursor && coll->cl_data != nullptr)
    consumed = data_index(coll, cursor->cr_dataloc) + (run > 0 ? 1 : 0);
  int64_t steps = target - (from_cursor ? cursor->cr_elemno : 0);
  for (;;) {
    dvz_coll_changelog_t *next = prev != nullptr ? prev->ch_next : coll->cl_log;
    const int64_t room = room_between(coll, prev, next) - run;
    if (room < 0) return coll_err_bad_log;
    if (steps <= room) {
      run += steps;
      consumed += steps;
      break;
    }
    if (next == nullptr) return no_element;
    steps -= room;
    consumed += room;
    if ((next->ch_flag & CHANGELOG_WITH_DATA) != 0) ++consumed;
    if (next->ch_modtype != CHANGELOG_DELETE) --steps;
    prev = next;
    run = 0;
    if (steps == 0) break;
  }
  char *loc = nullptr;
  if (!data_location(coll, run > 0 ? consumed - 1 : consumed, &loc) ||
      (run > 0 && loc == nullptr)) {
    clear_position(cursor);
    return no_element;
  }
  cursor->cr_elemno = static_cast<int32_t>(target);
  cursor->cr_logpos = prev;
  cursor->cr_run = static_cast<int32_t>(run);
  cursor->cr_flags = static_cast<int16_t>(cursor->cr_flags & ~DVZ_CURS_DELETED);
  cursor->cr_dataloc = loc;
  if ((Dvz_Debug & 4) != 0)
    std::printf("cursor_seek: element %d, run %d\n", cursor->cr_elemno, cursor->cr_run);
  return 0;
}

/* A cursor left with its number only (an append leaves the inserting
** cursor so) finds its place; flag 0x4 is kept. 0 or 100. */
int ensure_position(dvz_coll_t *coll, dvz_coll_cursor_t *cursor) {
  if (has_position(cursor)) return 0;
  const int16_t deleted = static_cast<int16_t>(cursor->cr_flags & DVZ_CURS_DELETED);
  const int status = cursor_seek(coll, cursor, cursor->cr_elemno, CSEEK_SET);
  cursor->cr_flags = static_cast<int16_t>(cursor->cr_flags | deleted);
  return status == 0 ? 0 : no_element;
}

/*
** The cursor's current element: a log entry's data or an element of the
** data, bounds checked. Returns 0, 100 outside 1..cardinality, -9986 for a
** missing or deleted log position or a damaged offset.
*/
int cursor_fetch(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, char **elem, int32_t *len) {
  if (cursor->cr_elemno < 1 || cursor->cr_elemno > coll->cl_cardinality) return no_element;
  if (ensure_position(coll, cursor) != 0) return no_element;
  if (cursor->cr_run == 0) {
    const dvz_coll_changelog_t *entry = cursor->cr_logpos;
    if (entry == nullptr || entry->ch_modtype == CHANGELOG_DELETE) return coll_err_bad_log;
    *elem = entry->ch_newrow;
    *len = entry->ch_newrowlen;
    return 0;
  }
  return coll_data_element(coll, cursor->cr_dataloc, elem, len);
}

/* Re-positions cursor on its own element number; a number outside the
** elements keeps the number with no position. flag 0x4 is kept. */
void reposition(dvz_coll_t *coll, dvz_coll_cursor_t *cursor) {
  const int32_t elemno = cursor->cr_elemno;
  const int16_t deleted = static_cast<int16_t>(cursor->cr_flags & DVZ_CURS_DELETED);
  if (cursor_seek(coll, cursor, elemno, CSEEK_SET) != 0) {
    clear_position(cursor);
    cursor->cr_elemno = elemno;
  }
  cursor->cr_flags = static_cast<int16_t>(cursor->cr_flags | deleted);
}

/* Re-positions every cursor of the chain that belongs to coll. */
void reposition_all(dvz_coll_t *coll) {
  for (dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next) {
    if (c->cr_owner == coll) reposition(coll, c);
  }
}

/* Another cursor of coll's chain on element elemno. */
bool other_cursor_on(const dvz_coll_t *coll, const dvz_coll_cursor_t *cursor, int32_t elemno) {
  for (const dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next) {
    if (c != cursor && c->cr_elemno == elemno) return true;
  }
  return false;
}

/* ---- Change-log entries ------------------------------------------------------------ */

/* Prints one change-log entry and its data. */
void dump_entry(const dvz_coll_changelog_t *e) {
  std::printf("\tch_rownum = %d, ch_modtype = %d, ch_flag = 0x%x, ch_newrowlen = %d\n",
              e->ch_rownum, e->ch_modtype, static_cast<unsigned>(e->ch_flag), e->ch_newrowlen);
  if (e->ch_newrow != nullptr) dvz_hex_dump(e->ch_newrow, e->ch_newrowlen);
}

void free_log(dvz_coll_t *coll) {
  for (dvz_coll_changelog_t *entry = coll->cl_log; entry != nullptr;) {
    dvz_coll_changelog_t *next = entry->ch_next;
    std::free(entry);
    entry = next;
  }
  coll->cl_log = nullptr;
  coll->cl_lastlog = nullptr;
}

/*
** A new entry of modtype holding a copy of the element (len bytes): a
** nested reference (reference true) as a form-1 reference, anything else
** byte for byte; a delete entry holds nothing. Returns 0 with *out, -837,
** or -9875 for a reference that cannot be read.
*/
int new_changelog(const dvz_coll_t *coll, bool reference, const char *data, int32_t len,
                  int modtype, dvz_coll_changelog_t **out) {
  *out = nullptr;
  int32_t size = 0;
  if (modtype != CHANGELOG_DELETE) {
    size = reference ? nref_inline_size(data, INT32_MAX, entry_header) : std::max(len, 0);
    if (size < 0) return size;
  }
  auto *entry = static_cast<dvz_coll_changelog_t *>(std::calloc(1, entry_header + size + 1));
  if (entry == nullptr) return value_err_host_memory;
  entry->ch_modtype = modtype;
  entry->ch_flag = CHANGELOG_NEW;
  if (modtype != CHANGELOG_DELETE) {
    entry->ch_newrow = reinterpret_cast<char *>(entry) + entry_header;
    if (reference) {
      const int written = collcopy_bounded(data, INT32_MAX, false, entry->ch_newrow,
                                           coll_typeinfo(coll), coll->cl_typed, DVZ_NREF_INLINE);
      if (written < 0) {
        std::free(entry);
        return written;
      }
      size = written;
    } else if (size > 0) {
      std::memcpy(entry->ch_newrow, data, static_cast<size_t>(size));
    }
    entry->ch_newrowlen = size;
  }
  entry->ch_datasize = size;
  *out = entry;
  return 0;
}

/* The entry before entry in coll's log, or null at the head. */
dvz_coll_changelog_t *entry_before(const dvz_coll_t *coll, const dvz_coll_changelog_t *entry) {
  dvz_coll_changelog_t *prev = nullptr;
  for (dvz_coll_changelog_t *e = coll->cl_log; e != nullptr && e != entry; e = e->ch_next)
    prev = e;
  return prev;
}

/* Links entry after after (at the head when null). */
void link_after(dvz_coll_t *coll, dvz_coll_changelog_t *after, dvz_coll_changelog_t *entry) {
  if (after == nullptr) {
    entry->ch_next = coll->cl_log;
    coll->cl_log = entry;
  } else {
    entry->ch_next = after->ch_next;
    after->ch_next = entry;
  }
  if (entry->ch_next == nullptr) coll->cl_lastlog = entry;
}

/* Links entry before before (at the head when null). */
void link_before(dvz_coll_t *coll, dvz_coll_changelog_t *before, dvz_coll_changelog_t *entry) {
  link_after(coll, before != nullptr ? entry_before(coll, before) : nullptr, entry);
}

/* Links entry after every entry whose number is not above its own (delete
** entries at the end stay before an element appended behind them). */
void link_sorted(dvz_coll_t *coll, dvz_coll_changelog_t *entry) {
  if (coll->cl_lastlog != nullptr && coll->cl_lastlog->ch_rownum <= entry->ch_rownum) {
    link_after(coll, coll->cl_lastlog, entry);
    return;
  }
  dvz_coll_changelog_t *prev = nullptr;
  for (dvz_coll_changelog_t *e = coll->cl_log; e != nullptr && e->ch_rownum <= entry->ch_rownum;
       e = e->ch_next)
    prev = e;
  link_after(coll, prev, entry);
}

void unlink_entry(dvz_coll_t *coll, dvz_coll_changelog_t *entry) {
  dvz_coll_changelog_t *prev = entry_before(coll, entry);
  if (prev == nullptr) {
    coll->cl_log = entry->ch_next;
  } else {
    prev->ch_next = entry->ch_next;
  }
  if (coll->cl_lastlog == entry) coll->cl_lastlog = prev;
  entry->ch_next = nullptr;
}

void replace_entry(dvz_coll_t *coll, dvz_coll_changelog_t *old, dvz_coll_changelog_t *entry) {
  dvz_coll_changelog_t *prev = entry_before(coll, old);
  entry->ch_next = old->ch_next;
  if (prev == nullptr) {
    coll->cl_log = entry;
  } else {
    prev->ch_next = entry;
  }
  if (coll->cl_lastlog == old) coll->cl_lastlog = entry;
}

/* Adds delta to the number of every entry from first on. */
void renumber_from(dvz_coll_changelog_t *first, int delta) {
  for (dvz_coll_changelog_t *e = first; e != nullptr; e = e->ch_next)
    e->ch_rownum += delta;
}

/* ---- Changes through a cursor ---------------------------------------------------------- */

/* True when element number elemno of coll is held as a nested reference. */
bool element_is_reference(const dvz_coll_t *coll, int32_t elemno) {
  return coll_field_is_reference(coll_elem_field(coll, elemno));
}

/*
** Inserts the element at the cursor's element number, or appends it when
** p is 0 or the cursor stands outside the elements. Returns 0, -837 or
** -9875.
*/
int cursor_insert(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, const char *data, int32_t len,
                  int32_t p) {
  const int32_t card = coll->cl_cardinality;
  const bool append = p == 0 || cursor->cr_elemno < 1 || cursor->cr_elemno > card;
  const int32_t rownum = append ? card + 1 : cursor->cr_elemno;
  dvz_coll_changelog_t *entry = nullptr;
  if (const int status = new_changelog(coll, element_is_reference(coll, rownum), data, len,
                                       CHANGELOG_INSERT, &entry);
      status != 0)
    return status;
  entry->ch_rownum = rownum;
  if (append) {
    link_sorted(coll, entry);
  } else {
    dvz_coll_changelog_t *at = cursor->cr_logpos;
    if (at == nullptr || cursor->cr_elemno <= at->ch_rownum) {
      link_before(coll, at, entry);
    } else {
      link_after(coll, at, entry);
    }
    renumber_from(entry->ch_next, 1);
  }
  coll->cl_len += entry->ch_newrowlen;
  coll->cl_cardinality = card + 1;
  if (append) {
    /* The cursor stands on the new last element; its place is found when
    ** it is next used, so appending stays independent of the log's length.
    ** No other cursor moves. */
    cursor->cr_elemno = card + 1;
    clear_position(cursor);
  } else {
    for (dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next) {
      if (c != cursor && c->cr_owner == coll && c->cr_elemno >= rownum) ++c->cr_elemno;
    }
    reposition_all(coll);
  }
  if ((Dvz_Debug & 8) != 0) dump_entry(entry);
  coll->cl_flags &= ~DVZ_COLL_HASHED;
  return 0;
}

/*
** Deletes the cursor's element: a delete entry over an element of the data,
** or the log entry itself. The cursor then stands on the element that
** followed, marked 0x4. Returns 0, 100, -837, -9981, -9983 or -9986.
*/
int cursor_delete(dvz_coll_t *coll, dvz_coll_cursor_t *cursor) {
  const int32_t elemno = cursor->cr_elemno;
  if (elemno < 1 || elemno > coll->cl_cardinality || ensure_position(coll, cursor) != 0)
    return no_element;
  if (other_cursor_on(coll, cursor, elemno)) return coll_err_delete_busy;
  dvz_coll_changelog_t *renumber = nullptr;
  if (cursor->cr_run > 0) {
    char *elem = nullptr;
    int32_t len = 0;
    if (const int status = cursor_fetch(coll, cursor, &elem, &len); status != 0) return status;
    dvz_coll_changelog_t *entry = nullptr;
    if (const int status = new_changelog(coll, false, nullptr, 0, CHANGELOG_DELETE, &entry);
        status != 0)
      return status;
    entry->ch_rownum = elemno;
    entry->ch_flag |= CHANGELOG_WITH_DATA;
    link_after(coll, cursor->cr_logpos, entry);
    coll->cl_len -= fixed_layout(coll) ? coll->cl_elsize : len;
    renumber = entry->ch_next;
  } else {
    dvz_coll_changelog_t *old = cursor->cr_logpos;
    if (old == nullptr) return coll_err_bad_log;
    if (old->ch_modtype != CHANGELOG_INSERT && old->ch_modtype != CHANGELOG_UPDATE)
      return coll_err_not_allowed;
    if ((old->ch_flag & CHANGELOG_WITH_DATA) != 0) {
      dvz_coll_changelog_t *entry = nullptr;
      if (const int status = new_changelog(coll, false, nullptr, 0, CHANGELOG_DELETE, &entry);
          status != 0)
        return status;
      entry->ch_rownum = old->ch_rownum;
      entry->ch_flag = old->ch_flag;
      replace_entry(coll, old, entry);
      renumber = entry->ch_next;
    } else {
      renumber = old->ch_next;
      unlink_entry(coll, old);
    }
    coll->cl_len -= old->ch_newrowlen;
    cursor->cr_logpos = nullptr;
    std::free(old);
  }
  renumber_from(renumber, -1);
  coll->cl_cardinality -= 1;
  for (dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next) {
    if (c != cursor && c->cr_owner == coll && c->cr_elemno > elemno) --c->cr_elemno;
  }
  reposition_all(coll);
  cursor->cr_flags = static_cast<int16_t>(cursor->cr_flags | DVZ_CURS_DELETED);
  coll->cl_flags &= ~DVZ_COLL_HASHED;
  return 0;
}

/*
** Replaces the cursor's element: over a log entry the entry is replaced, an
** element of fixed-size data is overwritten in place, any other gets an
** update entry. Returns 0, 100, -837, -9875, -9973 (in place, a length that
** is not the element size), -9982, -9983 or -9986.
*/
int cursor_update(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, const char *data, int32_t len) {
  const int32_t elemno = cursor->cr_elemno;
  if (elemno < 1 || elemno > coll->cl_cardinality || ensure_position(coll, cursor) != 0)
    return no_element;
  if (other_cursor_on(coll, cursor, elemno)) return coll_err_update_busy;
  if (cursor->cr_run > 0 && fixed_layout(coll)) {
    char *elem = nullptr;
    int32_t elem_len = 0;
    if (const int status = cursor_fetch(coll, cursor, &elem, &elem_len); status != 0) return status;
    if (len != elem_len) return coll_err_fixed_size;
    std::memmove(elem, data, static_cast<size_t>(len));
    coll->cl_flags &= ~DVZ_COLL_HASHED;
    return 0;
  }
  dvz_coll_changelog_t *entry = nullptr;
  if (const int status = new_changelog(coll, element_is_reference(coll, elemno), data, len,
                                       CHANGELOG_UPDATE, &entry);
      status != 0)
    return status;
  entry->ch_rownum = elemno;
  if (cursor->cr_run == 0) {
    dvz_coll_changelog_t *old = cursor->cr_logpos;
    int status = 0;
    if (old == nullptr) {
      status = coll_err_bad_log;
    } else if (old->ch_modtype != CHANGELOG_INSERT && old->ch_modtype != CHANGELOG_UPDATE) {
      status = coll_err_not_allowed;
    }
    if (status != 0) {
      std::free(entry);
      coll->cl_flags &= ~DVZ_COLL_HASHED;
      return status;
    }
    if (old->ch_modtype == CHANGELOG_INSERT) {
      entry->ch_modtype = CHANGELOG_INSERT;
    } else {
      entry->ch_flag = old->ch_flag;
    }
    replace_entry(coll, old, entry);
    coll->cl_len += entry->ch_newrowlen - old->ch_newrowlen;
    cursor->cr_logpos = entry;
    std::free(old);
  } else {
    char *elem = nullptr;
    int32_t elem_len = 0;
    if (const int status = cursor_fetch(coll, cursor, &elem, &elem_len); status != 0) {
      std::free(entry);
      return status;
    }
    entry->ch_flag |= CHANGELOG_WITH_DATA;
    link_after(coll, cursor->cr_logpos, entry);
    coll->cl_len += entry->ch_newrowlen - elem_len;
  }
  reposition_all(coll);
  if ((Dvz_Debug & 8) != 0) dump_entry(entry);
  coll->cl_flags &= ~DVZ_COLL_HASHED;
  return 0;
}

/* Hands the element to the caller: its address when *data is null, else a
** copy (a nested reference as a form-8 one). Returns 0 or -9875. */
int deliver(const dvz_coll_t *coll, int32_t elemno, char *elem, int32_t len, char **data,
            int32_t *out_len) {
  if (*data == nullptr) {
    *data = elem;
    if (out_len != nullptr) *out_len = len;
    return 0;
  }
  if (element_is_reference(coll, elemno)) {
    const int written = collcopy_bounded(elem, len, false, *data, coll_typeinfo(coll),
                                         coll->cl_typed, DVZ_NREF_POINTER);
    if (written < 0) return written;
    if (out_len != nullptr) *out_len = written;
    return 0;
  }
  if (len > 0) std::memcpy(*data, elem, static_cast<size_t>(len));
  if (out_len != nullptr) *out_len = len;
  return 0;
}

/* The element checks of insert and update: type of the element (or of the
** row's field), packed length, fixed size and NOT NULL. */
int check_element(dvz_coll_t *coll, int32_t field, int32_t *len, const char *data, int null_error) {
  const int kind = coll_kind(coll);
  int type = -1;
  int notnull = 0;
  int length = 0;
  dvz_coll_elem_type_nonull(coll, kind == sql_type_row ? field : 0, &type, &notnull, nullptr,
                            &length);
  const int code = type & 0xFF;
  if (type >= 0 && is_packed_code(code)) *len = coll_packed_size(length);
  if (coll->cl_isfixed != 0 && kind != sql_type_row && code != sql_type_row &&
      *len != coll->cl_elsize)
    return coll_err_fixed_size;
  if ((kind == sql_type_set || kind == sql_type_multiset || kind == sql_type_list ||
       kind == sql_type_collection) &&
      notnull != 0 && dvz_coll_elem_is_null(data, *len, type) == 0)
    return null_error;
  return 0;
}

/* The SET duplicate test: 0 to go on, -9874 when present, or an error. */
int set_duplicate(dvz_coll_t *coll, const char *data, int32_t len, int32_t excluded) {
  if (coll_kind(coll) != sql_type_set) return 0;
  int32_t xid = 0;
  if (dvz_coll_elem_xid(coll, 0, &xid) == 0 && (xid == 2 || xid == 21 || xid == 22)) return 0;
  return dvz_coll_inpred(coll, data, len, excluded, collelmtcmp, nullptr);
}

/* A private cursor opened for one call and closed at its end. */
class private_cursor {
 public:
  explicit private_cursor(dvz_coll_t *coll) : coll_(coll) { dvz_coll_open(coll, &cursor_); }
  ~private_cursor() { dvz_coll_close(coll_, &cursor_); }
  private_cursor(const private_cursor &) = delete;
  private_cursor &operator=(const private_cursor &) = delete;
  dvz_coll_cursor_t *get() { return &cursor_; }

 private:
  dvz_coll_t *coll_;
  dvz_coll_cursor_t cursor_ {};
};

/* Folds the element at p (len bytes) into hash by the element's type. */
int fold_hash(const dvz_coll_field_t *field, const char *p, int32_t len, uint32_t *hash) {
  const int code = field->type & 0xFF;
  switch (code) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
    case sql_type_lvarchar:
      *hash ^= static_cast<uint32_t>(dvz_hashpjw(p, len));
      return 0;
    case sql_type_set:
    case sql_type_multiset:
    case sql_type_list:
    case sql_type_row: {
      nref_view view;
      if (const int status = nref_read(p, len, false, &view); status != 0) return status;
      if (!view.isnull) *hash ^= view.hash;
      return 0;
    }
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
      if (len >= 1 && p[0] == 1) return 0;
      if (len > 5) dvz_calc_hval(p + 5, len - 5, hash);
      return 0;
    default:
      dvz_calc_hval(p, len, hash);
      return 0;
  }
}

/* Frees owned element data and forgets it. */
void drop_data(dvz_coll_t *coll) {
  if ((coll->cl_flags & DVZ_COLL_OWNS_DATA) != 0) std::free(coll->cl_data);
  coll->cl_flags &= ~DVZ_COLL_OWNS_DATA;
  coll->cl_data = nullptr;
  coll->cl_datalen = 0;
}

}  // namespace

/*
** Loads the nested reference at buffer (avail bytes; inline_only refuses
** forms 4 and 8) into coll. Returns 0, -837, -9875, -9986 or the hash's
** error; on -9875 coll is unchanged.
*/
int coll_put_coll_bounded(dvz_coll_t *coll, const char *buffer, int32_t avail, bool inline_only) {
  if (coll == nullptr || buffer == nullptr) return 0;
  nref_view view;
  if (const int status = nref_read(buffer, avail, inline_only, &view); status != 0) return status;
  if (view.isnull) {
    drop_data(coll);
    coll->cl_len = 0;
    coll->cl_cardinality = 0;
    coll->cl_hashvalue = 0;
    coll->cl_flags |= DVZ_COLL_HASHED | DVZ_COLL_NULL;
    return 0;
  }
  if (const int status = dvz_coll_hash(coll); status != 0) return status;
  const uint32_t low = view.form & 0xF;
  const bool pointer = low == DVZ_NREF_POINTER || low == DVZ_NREF_RECORD;
  char *copy = nullptr;
  if (!pointer) {
    copy = static_cast<char *>(std::malloc(static_cast<size_t>(view.datalen) + 1));
    if (copy == nullptr) return value_err_host_memory;
    if (view.datalen > 0) std::memcpy(copy, view.data, static_cast<size_t>(view.datalen));
  }
  drop_data(coll);
  coll->cl_flags &= ~DVZ_COLL_NULL;
  if ((view.form & DVZ_NREF_BIT16) != 0) coll->cl_flags |= DVZ_COLL_FORMBIT16;
  coll->cl_len = coll->cl_datalen = view.datalen;
  coll->cl_hashvalue = view.hash;
  if (view.datalen == 0) coll->cl_cardinality = 0;
  if (pointer) {
    coll->cl_data = const_cast<char *>(view.data);
    return dvz_coll_set_cardinality(coll);
  }
  coll->cl_data = copy;
  coll->cl_flags |= DVZ_COLL_OWNS_DATA;
  if (low == DVZ_NREF_INLINE2) coll->cl_flags |= DVZ_COLL_FORM2;
  if ((view.form & DVZ_NREF_BIT16) != 0) return 0;
  return dvz_coll_set_cardinality(coll);
}

}  // namespace dvz_genlib

using namespace dvz_genlib;

extern "C" {

int dvz_coll_open(dvz_coll_t *coll, dvz_coll_cursor_t *cursor) {
  if (coll == nullptr || cursor == nullptr) return -1;
  dvz_coll_cursor_t **link = &coll->cl_curs;
  for (; *link != nullptr; link = &(*link)->cr_next) {
    if (*link == cursor) return coll_err_already_open;
  }
  std::memset(cursor, 0, sizeof *cursor);
  cursor->cr_owner = coll;
  *link = cursor;
  return 0;
}

int dvz_coll_open_with_options(dvz_coll_t *coll, dvz_coll_cursor_t *cursor) {
  return dvz_coll_open(coll, cursor);
}

int dvz_coll_close(dvz_coll_t *coll, dvz_coll_cursor_t *cursor) {
  if (coll == nullptr || cursor == nullptr) return -1;
  for (dvz_coll_cursor_t **link = &coll->cl_curs; *link != nullptr; link = &(*link)->cr_next) {
    if (*link == cursor) {
      *link = cursor->cr_next;
      cursor->cr_next = nullptr;
      return 0;
    }
  }
  return -1;
}

/*
** Inserts an element (len bytes in element form) at LIST position pos, or
** at the end for pos 0, through the first open cursor or a private one.
** A SET skips a value already present (0). Returns 0, -837, -9875, -9973,
** -9976, -9978, -9980 or the membership test's error.
*/
int dvz_coll_insert(dvz_coll_t *coll, char *data, int32_t len, int32_t pos) {
  if (coll == nullptr) return -1;
  if (is_null_coll(coll)) return coll_err_null;
  const int kind = coll_kind(coll);
  if (pos >= 1 && kind != sql_type_list) return coll_err_not_list;
  dvz_coll_cursor_t own {};
  dvz_coll_cursor_t *cursor = coll->cl_curs;
  const bool is_private = cursor == nullptr;
  if (is_private) {
    cursor = &own;
    dvz_coll_open(coll, cursor);
    if (kind == sql_type_row) {
      cursor->cr_elemno = coll->cl_cardinality + 1;
    } else if (pos >= 1 && cursor_seek(coll, cursor, pos, CSEEK_SET) != 0) {
      pos = 0;
    }
  }
  if (pos == -5999 && cursor->cr_elemno == 0) cursor->cr_elemno = 1;
  int status = check_element(coll, cursor->cr_elemno, &len, data, coll_err_insert_null);
  if (status == 0) {
    status = set_duplicate(coll, data, len, 0);
    if (status == coll_err_present) {
      status = 1; /* present: nothing to insert */
    } else if (status == 0) {
      status = cursor_insert(coll, cursor, data, len, pos);
      if (status == 0 && (Dvz_Debug & 1) != 0) dvz_dump(coll, "dvz_coll_insert");
    }
  }
  if (is_private) dvz_coll_close(coll, cursor);
  return status == 1 ? 0 : status;
}

/*
** Replaces the cursor's element; in a SET a value present elsewhere deletes
** the element instead. Returns 0, 100 or an error of the change.
*/
int dvz_coll_update(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, char *data, int32_t len) {
  if (coll == nullptr || cursor == nullptr) return -1;
  if (is_null_coll(coll)) return coll_err_null;
  if (const int status = check_element(coll, cursor->cr_elemno, &len, data, coll_err_update_null);
      status != 0)
    return status;
  const int present = set_duplicate(coll, data, len, cursor->cr_elemno);
  if (present == coll_err_present) return cursor_delete(coll, cursor);
  if (present != 0) return present;
  return cursor_update(coll, cursor, data, len);
}

/*
** Deletes every element (flags DVZ_COLL_DELETE_ALL) or the cursor's one.
** Deleting all keeps only an owned type info and a current hash of 0.
*/
int dvz_coll_delete(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, int flags) {
  if (coll == nullptr) return -1;
  if (is_null_coll(coll)) return coll_err_null;
  if ((flags & DVZ_COLL_DELETE_ALL) != 0) {
    for (const dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next) {
      if (c != cursor && c->cr_elemno == 0) return coll_err_delete_busy;
    }
    free_log(coll);
    drop_data(coll);
    coll->cl_cardinality = 0;
    coll->cl_len = 0;
    coll->cl_hashvalue = 0;
    /* The record still owns its type info: dropping that bit would leak it. */
    coll->cl_flags = DVZ_COLL_HASHED | (coll->cl_flags & DVZ_COLL_OWNS_TYPEINFO);
    for (dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next)
      clear_position(c);
    return 0;
  }
  if (cursor == nullptr) return -1;
  if (coll_kind(coll) == sql_type_row) return coll_err_row_delete;
  if ((cursor->cr_flags & DVZ_CURS_DELETED) != 0 && (cursor->cr_flags & DVZ_CURS_EXCUSED) == 0)
    return coll_err_not_allowed;
  return cursor_delete(coll, cursor);
}

/*
** Advances the cursor and hands out its element (see deliver). Returns 0,
** 100 past the end, -9976 (length 0), -9986 or -9875.
*/
int dvz_coll_next(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, char **data, int32_t *len) {
  if (coll == nullptr || cursor == nullptr || data == nullptr) return -1;
  if (is_null_coll(coll)) {
    if (len != nullptr) *len = 0;
    return coll_err_null;
  }
  int status = 0;
  if (cursor->cr_elemno == 0) {
    status = cursor_seek(coll, cursor, 1, CSEEK_SET);
  } else if ((cursor->cr_flags & DVZ_CURS_DELETED) != 0) {
    cursor->cr_flags = static_cast<int16_t>(cursor->cr_flags & ~DVZ_CURS_DELETED);
  } else {
    status = cursor_seek(coll, cursor, 1, CSEEK_CUR);
  }
  if (status != 0) return status;
  if (coll_kind(coll) == sql_type_row && cursor->cr_elemno > coll->cl_cardinality)
    return no_element;
  char *elem = nullptr;
  int32_t elem_len = 0;
  if (const int fetched = cursor_fetch(coll, cursor, &elem, &elem_len); fetched != 0)
    return fetched;
  if ((Dvz_Debug & 1) != 0) dvz_hex_dump(elem, elem_len);
  return deliver(coll, cursor->cr_elemno, elem, elem_len, data, len);
}

/*
** Positions the cursor on element pos; a next-only collection takes only
** the element after the current one (-9944). The element number is pos
** even when positioning gives 100.
*/
int dvz_coll_pos(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, int32_t pos) {
  if (coll == nullptr || cursor == nullptr) return -1;
  if (is_null_coll(coll)) return coll_err_null;
  if ((coll->cl_flags & DVZ_COLL_NEXTONLY) != 0 &&
      static_cast<int64_t>(pos) != static_cast<int64_t>(cursor->cr_elemno) + 1)
    return coll_err_next_only;
  const int status = cursor_seek(coll, cursor, pos, CSEEK_SET);
  if (status != 0) {
    clear_position(cursor);
    cursor->cr_elemno = pos;
  }
  return status;
}

int dvz_coll_update_pos(dvz_coll_t *coll, int32_t pos, char *data, int32_t len) {
  if (coll == nullptr) return -1;
  if (is_null_coll(coll)) return coll_err_null;
  private_cursor cursor(coll);
  int status = cursor_seek(coll, cursor.get(), pos, CSEEK_SET);
  if (status == 0) status = cursor_update(coll, cursor.get(), data, len);
  return status;
}

/*
** Rebuilds the element data from data and log: a new owned buffer with the
** elements in order (nested references rewritten inline for their new
** place) and, unless fixed, the offset table and -1. Returns 0, -837,
** -9875, -9969, -9976, -9986, -9989 or the hash's error; on an error the
** old data and log stay.
*/
int dvz_coll_tuple(dvz_coll_t *coll) {
  if (coll == nullptr) return -1;
  if (is_null_coll(coll)) return coll_err_null;
  if (coll->cl_log == nullptr) return 0;
  const int32_t card = coll->cl_cardinality;
  if (card <= 0) {
    drop_data(coll);
    free_log(coll);
    coll->cl_len = 0;
    coll->cl_hashvalue = 0;
    coll->cl_flags = (coll->cl_flags | DVZ_COLL_HASHED) & ~DVZ_COLL_KEPT;
    for (dvz_coll_cursor_t *c = coll->cl_curs; c != nullptr; c = c->cr_next)
      clear_position(c);
    return 0;
  }
  const int kind = coll_kind(coll);
  if (kind == sql_type_row) {
    const dvz_coll_typeinfo_t *ti = coll_typeinfo(coll);
    int fields = 0;
    for (int i = 1; ti != nullptr && i < ti->ti_count; ++i)
      fields += ti->ti_fields[i].level_no == ti->ti_fields[0].level_no + 1 ? 1 : 0;
    if (fields != card) return coll_err_row_cardinality;
  } else if (coll_elem_field(coll, 0) == nullptr) {
    return coll_err_no_descriptor;
  }
  const bool fixed = fixed_layout(coll);
  int64_t total = 0;
  if (fixed) {
    total = std::max<int64_t>(coll->cl_len, static_cast<int64_t>(card) * coll->cl_elsize);
  } else {
    private_cursor visit(coll);
    int32_t seen = 0;
    for (;;) {
      char *p = nullptr;
      int32_t len = 0;
      const int status = dvz_coll_next(coll, visit.get(), &p, &len);
      if (status == no_element) break;
      if (status != 0) return status;
      ++seen;
      if (element_is_reference(coll, visit.get()->cr_elemno) && !(len >= 3 && p[2] == 1)) {
        const int size = nref_inline_size(p, len, static_cast<uintptr_t>(total));
        if (size < 0) return size;
        total += size;
      } else {
        total += len;
      }
    }
    if (seen != card) return coll_err_bad_log;
    total += 4 * (static_cast<int64_t>(card) + 1);
  }
  if (total > INT32_MAX) return value_err_host_memory;
  auto *buffer = static_cast<char *>(std::calloc(1, static_cast<size_t>(total) + 1));
  if (buffer == nullptr) return value_err_host_memory;
  {
    private_cursor visit(coll);
    int64_t offset = 0;
    for (int32_t i = 1; i <= card; ++i) {
      char *p = nullptr;
      int32_t len = 0;
      int status = dvz_coll_next(coll, visit.get(), &p, &len);
      if (status == 0 && fixed) {
        if (len != coll->cl_elsize || offset + len > total) {
          status = coll_err_bad_log;
        } else {
          std::memcpy(buffer + offset, p, static_cast<size_t>(len));
        }
      } else if (status == 0) {
        const int64_t room = total - 4 * (static_cast<int64_t>(card) + 1) - offset;
        dvz_st_be_i32(static_cast<int32_t>(offset), buffer + total - 4 * i);
        if (element_is_reference(coll, i) && !(len >= 3 && p[2] == 1)) {
          if (nref_inline_size(p, len, static_cast<uintptr_t>(offset)) > room) {
            status = coll_err_bad_log;
          } else {
            const int written =
                collcopy_bounded(p, len, false, buffer + offset, coll_typeinfo(coll),
                                 coll->cl_typed, DVZ_NREF_INLINE);
            if (written < 0) status = written;
            len = written;
          }
        } else if (len > room) {
          status = coll_err_bad_log;
        } else if (len > 0) {
          std::memcpy(buffer + offset, p, static_cast<size_t>(len));
        }
      }
      if (status != 0) {
        std::free(buffer);
        return status == no_element ? coll_err_bad_log : status;
      }
      offset += len;
    }
    if (!fixed) dvz_st_be_i32(-1, buffer + total - 4 * (static_cast<int64_t>(card) + 1));
  }
  drop_data(coll);
  free_log(coll);
  coll->cl_data = buffer;
  coll->cl_datalen = coll->cl_len = static_cast<int32_t>(total);
  coll->cl_flags = (coll->cl_flags | DVZ_COLL_OWNS_DATA) & ~DVZ_COLL_HASHED;
  const int status = dvz_coll_hash(coll);
  reposition_all(coll);
  return status;
}

/*
** Brings cl_hashvalue up to date by folding every element in by its type.
** Returns 0, -9969 when a descriptor was missing (the hash as folded), or a
** visiting error (the previous hash kept).
*/
int dvz_coll_hash(dvz_coll_t *coll) {
  if (coll == nullptr) return -1;
  if (is_null_coll(coll) || coll->cl_cardinality <= 0) {
    coll->cl_hashvalue = 0;
    coll->cl_flags |= DVZ_COLL_HASHED;
    return 0;
  }
  if ((coll->cl_flags & DVZ_COLL_HASHED) != 0) return 0;
  uint32_t hash = 0;
  bool missing = false;
  private_cursor visit(coll);
  for (;;) {
    char *p = nullptr;
    int32_t len = 0;
    int status = dvz_coll_next(coll, visit.get(), &p, &len);
    if (status == no_element) break;
    const dvz_coll_field_t *field =
        status == 0 ? coll_elem_field(coll, visit.get()->cr_elemno) : nullptr;
    if (status == 0 && field == nullptr) {
      missing = true;
      continue;
    }
    if (status == 0) status = fold_hash(field, p, len, &hash);
    if (status != 0) return status;
  }
  coll->cl_hashvalue = hash;
  coll->cl_flags |= DVZ_COLL_HASHED;
  return missing ? static_cast<int>(coll_err_no_descriptor) : 0;
}

/*
** Writes a pointer-form reference to coll's data at buffer (the NULL one
** for a NULL coll). Returns 0, -1 when hashing fails, -9875 when the data
** is too long for a reference to describe.
*/
int dvz_coll_set_nested_coll(dvz_coll_t *coll, char *buffer) {
  if (coll == nullptr || buffer == nullptr) return 0;
  if (is_null_coll(coll)) {
    dvz_coll_null(buffer);
    return 0;
  }
  if (dvz_coll_hash(coll) != 0) return -1;
  const int pad = nref_pad(buffer);
  const int64_t length = static_cast<int64_t>(coll->cl_datalen) + pad + 6;
  if (length > INT16_MAX) return coll_err_bad_form;
  std::memset(buffer + 2, 0, static_cast<size_t>(pad - 2));
  dvz_st_be_i16(static_cast<int16_t>(length), buffer);
  const uint32_t form = (coll->cl_flags & DVZ_COLL_FORMBIT16) != 0
                            ? DVZ_NREF_POINTER | DVZ_NREF_BIT16
                            : DVZ_NREF_POINTER;
  dvz_st_be_u32(form, buffer + pad);
  dvz_st_be_u32(coll->cl_hashvalue, buffer + pad + 4);
  store_pointer(buffer + pad + 8, coll->cl_data);
  return 0;
}

int dvz_coll_put_coll(dvz_coll_t *coll, const char *buffer) {
  const int status = coll_put_coll_bounded(coll, buffer, INT32_MAX, false);
  if (status == 0 && coll != nullptr && buffer != nullptr && (Dvz_Debug & 1) != 0)
    dvz_dump(coll, "dvz_coll_put_coll");
  return status;
}

/*
** Loads the composite element at data into nested, first giving nested a
** type info of its own (owned) when it has none. Returns 0, -837, -9875,
** -9969, -9972 or the load's error.
*/
int dvz_coll_elem_coll(dvz_coll_t *coll, dvz_coll_t *nested, const char *data, int n) {
  if (coll == nullptr || nested == nullptr) return -1;
  if (n != 0 && coll_kind(coll) != sql_type_row) return coll_err_not_row;
  if (nested->cl_typeinfo == nullptr && nested->cl_svr_typeinfo == nullptr) {
    dvz_coll_typeinfo_t *ti = nullptr;
    int status = dvz_coll_elem_typeinfo(coll, &ti, n);
    if (status == 0) status = dvz_coll_init(nested, ti, coll->cl_typed, nullptr, 0);
    if (status != 0) {
      std::free(ti);
      return status;
    }
    nested->cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
  }
  return dvz_coll_put_coll(nested, data);
}

/*
** Rebuilds src, then gives dst src's counts, hash and a private copy of its
** data; dst's handle, cursors and type info stay. dst's own log and owned
** data are released first. Returns 0, -837 or the rebuild's error.
*/
int dvz_coll_copy(dvz_coll_t *dst, dvz_coll_t *src) {
  if (dst == nullptr || src == nullptr) return -1;
  if (const int status = dvz_coll_tuple(src); status != 0) return status;
  char *copy = nullptr;
  if (src->cl_data != nullptr && src->cl_datalen > 0) {
    copy = static_cast<char *>(std::malloc(static_cast<size_t>(src->cl_datalen)));
    if (copy == nullptr) return value_err_host_memory;
    std::memcpy(copy, src->cl_data, static_cast<size_t>(src->cl_datalen));
  }
  free_log(dst);
  drop_data(dst);
  dst->magic = DVZ_COLL_MAGIC;
  dst->cl_len = src->cl_len;
  dst->cl_cardinality = src->cl_cardinality;
  dst->cl_isfixed = src->cl_isfixed;
  dst->cl_elsize = src->cl_elsize;
  dst->cl_flags = (dst->cl_flags & ~DVZ_COLL_HASHED) | (src->cl_flags & DVZ_COLL_HASHED);
  dst->cl_hashvalue = src->cl_hashvalue;
  dst->cl_datalen = src->cl_datalen;
  dst->cl_typelen = src->cl_typelen;
  if (copy != nullptr) {
    dst->cl_data = copy;
    dst->cl_flags |= DVZ_COLL_OWNS_DATA;
  }
  return 0;
}

/* ---- Traces ------------------------------------------------------------------------ */

void dvz_hex_dump(const void *bytes, int32_t len) {
  const auto *p = static_cast<const unsigned char *>(bytes);
  std::printf("%d bytes at %p\n", len, bytes);
  if (p == nullptr) return;
  int suppressed = 0;
  for (int32_t line = 0; line < len; line += 16) {
    const int32_t count = std::min<int32_t>(16, len - line);
    if (line > 0 && count == 16 && std::memcmp(p + line, p + line - 16, 16) == 0) {
      ++suppressed;
      continue;
    }
    if (suppressed > 0) {
      std::printf("\t****** dup output suppressed %d rows\n", suppressed);
      suppressed = 0;
    }
    char hex[16 * 3 + 2] = {};
    char text[17] = {};
    int at = 0;
    for (int32_t i = 0; i < 16; ++i) {
      const char *sep = i == 7 ? "  " : " ";
      if (i == 15) sep = "";
      if (i < count) {
        at += std::snprintf(hex + at, sizeof hex - static_cast<size_t>(at), "%02x%s", p[line + i],
                            sep);
        text[i] = std::isprint(p[line + i]) != 0 ? static_cast<char>(p[line + i]) : '.';
      } else {
        at += std::snprintf(hex + at, sizeof hex - static_cast<size_t>(at), "  %s", sep);
      }
    }
    std::printf("%5d: %s %s\n", line, hex, text);
  }
  if (suppressed > 0) std::printf("\t****** dup output suppressed %d rows\n", suppressed);
}

void dvz_coll_dump_typeinfo(const dvz_coll_typeinfo_t *ti) {
  std::printf("typeinfo: %p\n", static_cast<const void *>(ti));
  if (ti == nullptr || (Dvz_Debug & 2) == 0) return;
  std::printf("\txid = %d, name = %.128s, count = %d\n", ti->ti_xid, ti->ti_name, ti->ti_count);
  for (int i = 0; i < ti->ti_count; ++i) {
    const dvz_coll_field_t &f = ti->ti_fields[i];
    std::printf(
        "\tfield %d: seqno %d, level_no %d, parent_no %d, name %.*s, type 0x%x, "
        "length %d, xid %d, flags 0x%x, align %d\n",
        i, f.seqno, f.level_no, f.parent_no, std::clamp<int>(f.fieldnmlen, 0, 128), f.fieldname,
        static_cast<unsigned>(f.type & 0xFFFF), f.length, f.xid,
        static_cast<unsigned>(f.flags & 0xFFFF), f.align);
  }
}

void dvz_coll_dump_changelog(const dvz_coll_changelog_t *entry) {
  std::printf("Dumping changelog starting at %p\n", static_cast<const void *>(entry));
  for (const dvz_coll_changelog_t *e = entry; e != nullptr; e = e->ch_next)
    dump_entry(e);
}

void dvz_coll_dump(dvz_coll_t *coll) {
  std::printf("collp: %p\n", static_cast<void *>(coll));
  if (coll == nullptr) return;
  if (is_null_coll(coll)) std::printf("COLL_ISNULL\n");
  switch (coll_kind(coll)) {
    case sql_type_set:
      std::printf("\tSET ");
      break;
    case sql_type_multiset:
      std::printf("\tMULTISET ");
      break;
    case sql_type_list:
      std::printf("\tLIST ");
      break;
    case sql_type_row:
      std::printf("\tROW ");
      break;
    default:
      break;
  }
  std::printf("cl_len = %d, cl_datalen = %d\n", coll->cl_len, coll->cl_datalen);
  std::printf("\tcl_cardinality = %d, cl_isfixed = %d, cl_elsize = %d\n", coll->cl_cardinality,
              coll->cl_isfixed, coll->cl_elsize);
  std::printf("\tcl_flags = 0x%x, cl_hashvalue = 0x%x, cl_handle = %u\n", coll->cl_flags,
              coll->cl_hashvalue, coll->cl_handle);
  std::printf("\tcl_typed = %d, cl_typelen = %d\n", coll->cl_typed, coll->cl_typelen);
  std::printf("\tcl_curs = %p, cl_log = %p, cl_lastlog = %p, cl_data = %p\n",
              static_cast<void *>(coll->cl_curs), static_cast<void *>(coll->cl_log),
              static_cast<void *>(coll->cl_lastlog), static_cast<void *>(coll->cl_data));
  std::printf("\tcl_svr_typeinfo = %p, cl_typeinfo = %p\n",
              static_cast<void *>(coll->cl_svr_typeinfo), static_cast<void *>(coll->cl_typeinfo));
  dvz_coll_dump_typeinfo(coll_typeinfo(coll));
  dvz_coll_dump_changelog(coll->cl_log);
  dvz_hex_dump(coll->cl_data, coll->cl_data != nullptr ? coll->cl_datalen : 0);
}

void dvz_dump(dvz_coll_t *coll, const char *label) {
  std::printf("************************************************************\n");
  std::printf("Dumping collection in %s\n", label != nullptr ? label : "");
  dvz_coll_dump(coll);
}

}  // extern "C"
