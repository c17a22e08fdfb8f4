/*
** return_types.cpp: the return-type message (100), which tells the server
** in which types the client wants a cursor's columns delivered, and the
** cursor's own copy of what was asked. The message is sent only when some
** host variable needs a type the server would not choose by itself; the
** list kept for a fetch (`sendrettype`) and the checks of a host variable
** against an accepted return type.
*/
#include <cstring>

#include "gen_datetime.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "sqli_bind.h"
#include "sqli_cursors.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_send.h"

namespace {

/* Flags of the call. */
constexpr int rt_send = SQLI_RT_SEND;
constexpr int rt_own_list = SQLI_RT_OWN_LIST;
constexpr int rt_first_one = SQLI_RT_FIRST_ONE;
constexpr int rt_copy = SQLI_RT_COPY;
constexpr int rt_check_qual = SQLI_RT_CHECK_QUAL;
constexpr int rt_full_strings = SQLI_RT_FULL_STRINGS;
/* Capability: VARCHAR and NVARCHAR columns go by return type. */
constexpr int32_t cap_varchar = 0x1000;
constexpr int blob_desc_size = 56;
constexpr int varchar_max = 255;
constexpr int lvarchar_list_max = 2048;
/* Flags word of a list entry: names owned; the length lost the terminator. */
constexpr int32_t own_owner = 0x8;
constexpr int32_t own_typename = 0x10;
constexpr int32_t len_noterm = 0x100;

int sql_of(int type) {
  const int low = type & 0xFF;
  return low < 200 ? rtosqltype(low) : -1;
}
bool varchar_kind(int sql) { return sql == sql_type_varchar || sql == sql_type_nvarchar; }
bool char_kind(int sql) {
  return sql == sql_type_char || sql == sql_type_nchar || varchar_kind(sql);
}
bool udt_kind(int sql) { return sql == sql_type_variable_udt || sql == sql_type_fixed_udt; }
/* A column whose values the server sends in their opaque form. */
bool opaque_column(int sql) {
  return udt_kind(sql) || sql == sql_type_boolean || sqli_collection_type(sql);
}
/* A host that fetches values of varying length. */
bool varying_host(int sql) {
  return sqli_collection_type(sql) || sql == sql_type_lvarchar || sql == sql_type_boolean ||
         udt_kind(sql);
}

/* True when entry (against column col, or none) needs the message. */
bool needs_message(const sqlvar_struct &e, const dbfd *col, int32_t caps) {
  const int host = sql_of(e.sqltype);
  if (sqli_names_travel(host, e.sqltype)) return true;
  if ((caps & cap_varchar) != 0 && varchar_kind(host)) return true;
  if (col == nullptr) return false;
  const int column = col->type & 0xFF;
  if (sqli_names_travel(column, col->type)) return true;
  return (caps & cap_varchar) != 0 && varchar_kind(column);
}

/* The length sent for an entry, and whether it lost the terminator. */
int entry_length(const sqlvar_struct &e, int flags, bool *lost_terminator) {
  *lost_terminator = false;
  const int low = e.sqltype & 0xFF;
  const int sql = sql_of(e.sqltype);
  if (sql == sql_type_byte) return blob_desc_size;
  int len = e.sqllen;
  bool computed = false;
  if ((char_kind(sql) || sql == sql_type_lvarchar) && len == 0 && e.sqldata != nullptr) {
    const char *text = e.sqldata;
    if (low == host_type_lvarchar_ptr)
      text = reinterpret_cast<const dvz_hostbuf_t *>(e.sqldata)->data;
    len = text != nullptr ? static_cast<int>(std::strlen(text)) : 0;
    computed = true;
  }
  if (varchar_kind(sql) && len > varchar_max) {
    len = varchar_max;
    computed = true;
  }
  if (!computed && char_kind(sql) && low != host_type_fixchar && len > 0 &&
      (flags & (rt_own_list | rt_full_strings)) == 0) {
    --len;
    *lost_terminator = true;
  }
  return len;
}

/* A heap copy of n bytes of text and a NUL; null for none. */
char *copy_name(const char *text, int n, bool *failed) {
  if (text == nullptr || n <= 0) return nullptr;
  auto *copy = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, text, static_cast<size_t>(n));
  copy[n] = '\0';
  return copy;
}

/* Records what is asked for entry e in the cursor's list entry r. */
int copy_entry(sqlvar_struct &r, const sqlvar_struct &e, int16_t word, int len, bool lost,
               const dbfd *col, int flags) {
  const int host = sql_of(e.sqltype);
  const int column = col != nullptr ? col->type & 0xFF : -1;
  r.sqltype = word;
  r.sqllen = len;
  if ((flags & rt_own_list) != 0 && column == sql_type_lvarchar &&
      (char_kind(host) || host == sql_type_lvarchar) && r.sqllen > lvarchar_list_max)
    r.sqllen = lvarchar_list_max;
  bool failed = false;
  if ((r.sqlflags & own_owner) != 0) sqli_release(r.sqlownername);
  if ((r.sqlflags & own_typename) != 0) sqli_release(r.sqltypename);
  r.sqlownername = copy_name(e.sqlownername, e.sqlownerlen, &failed);
  r.sqlownerlen = r.sqlownername != nullptr ? e.sqlownerlen : 0;
  r.sqltypename = copy_name(e.sqltypename, e.sqltypelen, &failed);
  r.sqltypelen = r.sqltypename != nullptr ? e.sqltypelen : 0;
  r.sqlflags |= own_owner | own_typename;
  if (lost) r.sqlflags |= len_noterm;
  const bool distinct =
      col != nullptr && (col->flags & (dbfd_distinct | dbfd_distinct_builtin)) != 0;
  if ((host == sql_type_lvarchar && col != nullptr &&
       (sqli_names_travel(column, col->type) || distinct)) ||
      host == sql_type_boolean || udt_kind(host) || sqli_collection_type(host) ||
      opaque_column(column))
    r.sqlitype = 1;
  if (failed) return _iqseterr(SQLI_E_NOMEM), SQLI_E_NOMEM;
  return 0;
}

}  // namespace

extern "C" int _sqs_rettype(sqli_cursor *cursor, int count, sqlvar_struct *entries, int flags,
                            int *notneeded, sqli_tcb *tcb) {
  if (notneeded != nullptr) *notneeded = 0;
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (cursor == nullptr || pipe == nullptr) return 0;
  const bool resend = (flags & (rt_send | rt_own_list)) == (rt_send | rt_own_list);
  if (resend) {
    count = cursor->nrtypes;
    entries = cursor->rtypes;
  }
  if (count <= 0 || entries == nullptr) return 0;
  const auto *cols = static_cast<const dbfd *>(cursor->coldesc);
  const int ncols = cols != nullptr ? cursor->ncols : 0;
  const int32_t caps = tcb->curconn->capabilities;
  auto column = [&](int i) { return i < ncols ? &cols[i] : nullptr; };

  bool needed = false;
  for (int i = 0; i < count; ++i) {
    if (entries[i].sqltype == -1) {
      if (notneeded != nullptr) *notneeded = 1;
      return _iqseterr(SQLI_E_NODATA), SQLI_E_NODATA;
    }
    if (needs_message(entries[i], column(i), caps)) {
      needed = true;
      break;
    }
  }
  if (!needed && count >= ncols) {
    if (notneeded != nullptr) *notneeded = 1;
    return 0;
  }

  int result = 0;
  if ((flags & rt_send) != 0) {
    sqli_put16(pipe, SQ_RETURN_TYPES);
    sqli_put16(pipe, (flags & rt_first_one) != 0 ? 1 : 0);
    sqli_put16(pipe, count);
  }
  for (int i = 0; i < count; ++i) {
    const sqlvar_struct &e = entries[i];
    int16_t word = 0;
    const int sql = _sqstype(e.sqltype, e.sqldata, &word, (flags & rt_send) != 0, e.sqlxid, tcb);
    bool lost = false;
    const int len = entry_length(e, flags, &lost);
    if ((flags & rt_send) != 0) {
      if (sqli_names_travel(sql, e.sqltype)) {
        putchstr(e.sqlownername, e.sqlownername != nullptr ? e.sqlownerlen : 0, 1, 0, tcb, 0);
        putchstr(e.sqltypename, e.sqltypename != nullptr ? e.sqltypelen : 0, 1, 0, tcb, 0);
      }
      sqli_put32(pipe, len);
    }
    if ((flags & rt_copy) != 0 && !resend && cursor->rtypes != nullptr && i < cursor->nrtypes) {
      const int error = copy_entry(cursor->rtypes[i], e, word, len, lost, column(i), flags);
      if (error != 0 && result == 0) result = error;
    }
    const dbfd *col = column(i);
    if ((flags & rt_check_qual) != 0 && result == 0 && col != nullptr &&
        (sql == sql_type_datetime || sql == sql_type_interval) &&
        (opaque_column(col->type & 0xFF))) {
      const int error = _chk_qual(sql == sql_type_interval, e.sqllen);
      if (error != 0) {
        _iqseterr(error);
        result = error;
      }
    }
  }
  if (!resend) {
    int varying = 0;
    for (int i = 0; i < count; ++i) {
      const int low = entries[i].sqltype & 0xFF;
      if (varying_host(sql_of(entries[i].sqltype)) || low == host_type_fixed_binary ||
          low == host_type_variable_binary)
        ++varying;
    }
    if ((cursor->flags & sqli_cur_single_row) != 0) {
      cursor->nvarlen_cols = static_cast<int16_t>(varying);
    } else if (varying > 0) {
      cursor->nvarlen_cols = 1;
    }
    if (cursor->nvarlen_cols != 0) {
      const int error = alloc_coll_tuple_info(cursor, tcb);
      if (error != 0 && result == 0) result = error;
    }
  }
  return result;
}

namespace {

constexpr int e_not_client_coll = -1817;
constexpr int32_t host_coll_client = 0x8000;

int refuse_type() {
  _iqseterr(SQLI_E_RETTYPE);
  return -1;
}

/* Both texts absent, or both present and equal. */
bool same_name(const char *a, int alen, const char *b, int blen) {
  const int na = a != nullptr ? alen : 0;
  const int nb = b != nullptr ? blen : 0;
  if (na <= 0 && nb <= 0) return true;
  return na == nb && std::memcmp(a, b, static_cast<size_t>(na)) == 0;
}

}  // namespace

/*
** Sends the return types of count host variables for cursor and keeps a
** fresh copy of what was asked on the cursor (its return-type list). count
** 0 drops the list. With options bit 1 the cursor carries 0x2000, with bit
** 8 also 0x8000. When the server needs no message nothing is sent and no
** list is kept. Returns 0, or the error recorded (-402, -406, -1268).
*/
int sendrettype(sqli_cursor *cursor, sqli_tcb *tcb, int count, sqlvar_struct *hosts, int options) {
  if (cursor == nullptr || tcb == nullptr) return 0;
  sqli_free_rtypes(cursor);
  cursor->flags &= ~static_cast<uint32_t>(sqli_cur_rtypes_sent | sqli_cur_rtypes_opt8);
  if (count <= 0 || hosts == nullptr) return 0;
  auto *list =
      static_cast<sqlvar_struct *>(sqli_alloc(sizeof(sqlvar_struct) * static_cast<size_t>(count)));
  if (list == nullptr) return _iqseterr(SQLI_E_NOMEM), SQLI_E_NOMEM;
  std::memset(list, 0, sizeof(sqlvar_struct) * static_cast<size_t>(count));
  cursor->rtypes = list;
  cursor->nrtypes = static_cast<int16_t>(count);
  int notneeded = 0;
  const int rc = _sqs_rettype(cursor, count, hosts, options, &notneeded, tcb);
  if (rc != 0 || notneeded != 0) {
    sqli_free_rtypes(cursor);
    return rc;
  }
  if ((options & rt_send) != 0) cursor->flags |= sqli_cur_rtypes_sent;
  if ((options & rt_copy) != 0) cursor->flags |= sqli_cur_rtypes_opt8;
  return 0;
}

/*
** The host variable (its extended id xid, the SQL type _sqstype gives it)
** against an accepted return-type entry: the types must agree and, for
** the extended types, the type and owner names present on either side.
** 0, or -1 with -1820 recorded.
*/
int chkrettype(const sqlvar_struct *host, const sqlvar_struct *rt, int xid) {
  if (host == nullptr || rt == nullptr) return refuse_type();
  const int entry = rt->sqltype & 0xFF;
  int16_t word = 0;
  (void)_sqstype(host->sqltype, host->sqldata, &word, 0, host->sqlxid, getsqlitcb());
  if (xid != entry && (word & 0xFF) != entry) return refuse_type();
  if ((xid >= sql_type_set && xid != sql_type_unnamed_builtin) ||
      (host->sqltype & sqli_type_keepxid) != 0) {
    if (!same_name(host->sqltypename, host->sqltypelen, rt->sqltypename, rt->sqltypelen) ||
        !same_name(host->sqlownername, host->sqlownerlen, rt->sqlownername, rt->sqlownerlen))
      return refuse_type();
  }
  return 0;
}

/*
** chkrettype, then the host length against the entry's, unless the value's
** length is the host's business (LVARCHAR in allocation mode, a growable
** variable-length record, BYTE and TEXT, a terminator the entry left out).
** 0, or -1 with -1820 recorded.
*/
int chkrtype_fetch(const sqlvar_struct *host, const sqlvar_struct *rt, int xid, int host_type,
                   const dbfd *) {
  if (chkrettype(host, rt, xid) != 0) return -1;
  const sqli_tcb *tcb = getsqlitcb();
  if (xid == sql_type_lvarchar && tcb != nullptr && tcb->lvar_alloc != 0) return 0;
  const int low = host_type & 0xFF;
  if ((low == sql_type_variable_udt || low == host_type_variable_binary) &&
      host->sqldata != nullptr &&
      (reinterpret_cast<const dvz_hostbuf_t *>(host->sqldata)->flags & HOSTVAR_GROWABLE) != 0)
    return 0;
  if (xid == sql_type_byte || xid == sql_type_text) return 0;
  if ((rt->sqlflags & len_noterm) != 0 && host->sqllen == rt->sqllen + 1) return 0;
  if (host->sqllen == rt->sqllen) return 0;
  if (varchar_kind(xid) && host->sqllen > varchar_max && rt->sqllen == varchar_max) return 0;
  return refuse_type();
}

/*
** 1 when the first input of cursor (from input when the record is
** prepared, else the declared input list) is a client-side collection or
** row; otherwise -1 with -1817 recorded.
*/
int _sqclient_coltype(sqli_cursor *cursor, const sqlda *input) {
  const sqlvar_struct *first = nullptr;
  if (cursor != nullptr && (cursor->flags & sqli_cur_prepared) != 0) {
    if (input != nullptr && input->sqld > 0) first = input->sqlvar;
  } else if (cursor != nullptr && cursor->nin > 0) {
    first = cursor->inlist;
  }
  if (first != nullptr) {
    const int low = first->sqltype & 0xFF;
    if ((low >= sql_type_set && low <= sql_type_collection) ||
        (low == host_type_collection && (first->sqltype & host_coll_client) != 0) ||
        low == host_type_row)
      return 1;
  }
  _iqseterr(e_not_client_coll);
  return -1;
}
