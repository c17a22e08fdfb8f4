/*
** tuple_unpack.cpp: the copy of one buffered row into the caller's host
** variables (`_iqupdtargs`), with NULL detection, truncation warnings,
** indicators and code-set conversion; the stored field sizes of a row
** (`gettupsize`, `getfieldsize`); the opaque-field copy (`ldudt2host`) and
** the code-set conversion of a character field (`gcv_tuple`).
**
** FETCH, SELECT ... INTO and EXECUTE ... INTO call the unpacker once the
** row is at the cursor's buffer position. The row came from a peer: every
** field is placed by walking the field sizes, and every field, including
** the BE32 lengths inside opaque and collection fields, must lie inside the
** row before anything of the row is delivered. A row that breaks this is
** a protocol error (-408, the connection dropped).
*/
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_decimal.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "gl_conv.h"
#include "gl_errors.h"
#include "os_conv.h"
#include "os_errors.h"
#include "os_stored.h"
#include "sqli_bind.h"
#include "sqli_cursors.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_send.h"
#include "sqli_statements.h"

namespace {

/* Unpacking options. */
constexpr int opt_count_differs = 1;
constexpr int opt_named_desc = 2;
constexpr int opt_ind_required = 4;
constexpr int opt_array = 8;
constexpr int opt_array_next = 16;

constexpr int e_ind_required = -467;
constexpr int e_count_ansi = -485;
constexpr int e_blob_host = -608;
constexpr int e_coll_types = -1818;
constexpr int e_fixed_too_long = -1821;
constexpr int e_cv_invalid = gcv_err_invalid_char;
constexpr int e_cv_failed = gcv_err_conversion;
constexpr int e_no_display = -1207;

constexpr int warn_truncated = 1; /* sqlwarn1 */
constexpr int warn_count = 4; /* sqlwarn3 */
constexpr int trunc_max = 32767;
constexpr int udt_head = 5; /* u8 flags, BE32 length */
constexpr int coll_head = 8; /* BE32 total, BE32 length */
/* Buffers grown for opaque values are sized from a field length that was
** checked against the row, so never beyond the row that came in. */

bool char_sql(int t) {
  return t == sql_type_char || t == sql_type_nchar || t == sql_type_varchar ||
         t == sql_type_nvarchar;
}
bool opaque_sql(int t) {
  return t == sql_type_variable_udt || t == sql_type_fixed_udt || t == sql_type_lvarchar ||
         t == sql_type_boolean;
}
bool coll_sql(int t) { return t >= sql_type_set && t <= sql_type_collection; }
/* Host types and SQL types that make a column extended. */
bool extended_kind(int host_low, int sql) {
  return host_low == host_type_lvarchar || host_low == host_type_lvarchar_ptr ||
         host_low == host_type_boolean || host_low == host_type_fixed_binary ||
         host_low == host_type_variable_binary || opaque_sql(sql);
}
/* The length handed to the value conversion for a host of plan. A
** character host of length 0 or less would take a value of any length:
** it gets the column's length, or room for any display text, instead, so
** that a length the peer sent never decides how much is written. */
constexpr int display_max = 80;
int conversion_length(int host, int hostlen, int collen) {
  const bool text_host = host == host_type_char || host == host_type_fixchar ||
                         host == host_type_string || host == host_type_varchar || char_sql(host);
  if (!text_host || hostlen > 0) return hostlen;
  return std::max(collen, display_max) + 1;
}

bool lvarchar_class(int host_low) {
  return host_low == host_type_lvarchar || host_low == host_type_lvarchar_ptr ||
         host_low == sql_type_lvarchar;
}
int sql_of_host(int type) {
  const int low = type & 0xFF;
  return low < 200 ? rtosqltype(low) : -1;
}

bool failed_now(sqli_tcb *tcb) { return tcb->sqlca->sqlcode < 0; }

/* Decimal stored size of a precision word or qualifier. */
int packed_size(int len) { return (((len >> 8) & 0xFF) + (len & 1) + 3) / 2; }

/* Bytes of the row at the buffer position, never beyond the buffer; -1
** when the cursor has no row there. */
int64_t current_row_length(const sqli_cursor *c) {
  if (c->buffer == nullptr || c->bufpos == nullptr || c->bufpos < c->buffer) return -1;
  const int64_t room = c->buffer + c->bufsize - c->bufpos;
  if (room < 0) return -1;
  if (c->nvarlen_cols == 0 && c->rowsize > 0) return c->rowsize <= room ? c->rowsize : -1;
  const int32_t *t = c->rowlen_table;
  if (t == nullptr) return c->rowsize > 0 && c->rowsize <= room ? c->rowsize : -1;
  const int32_t at = t[rowlen_index] < 0 ? 0 : t[rowlen_index];
  if (at > t[rowlen_capacity]) return -1;
  const int32_t len = t[rowlen_first + at];
  return len >= 0 && len <= room ? len : -1;
}

/* How one column is read: the stored type and length, and where its
** field lies in the row. */
struct field_plan {
  int type; /* SQL type the field is read as */
  int len; /* its length word */
  int64_t at; /* offset in the row */
  int64_t size; /* bytes of the field */
  int host; /* host type the value goes to (102 as 103) */
  int error; /* set when the column cannot be delivered */
  bool extended;
  bool scratch_null; /* a NULL LVARCHAR read as an empty CHAR */
  bool as_char; /* a built-in column into a plain LVARCHAR buffer */
};

/* Bytes the readers of a fixed-width type take, whatever the length word
** says; 0 for the types sized by their length word alone. */
int fixed_width(int type) {
  switch (type) {
    case sql_type_smallint:
      return 2;
    case sql_type_integer:
    case sql_type_smallfloat:
    case sql_type_serial:
    case sql_type_date:
      return 4;
    case sql_type_float:
      return 8;
    case sql_type_int8:
    case sql_type_serial8:
      return 10;
    case sql_type_byte:
    case sql_type_text:
      return TBLOB_STORED_SIZE;
    default:
      return 0;
  }
}

/* Size of the field at p (left bytes of the row) read as type/len; -1
** when its own lengths leave the row, or when the length word is shorter
** than what the type's reader takes (a description that does not fit its
** types). */
int64_t field_bytes(int type, int len, const char *p, int64_t left, bool pad_varchar) {
  if (opaque_sql(type)) {
    if (left < udt_head) return -1;
    const int32_t n = dvz_ld_be_i32(p + 1);
    return n < 0 ? -1 : int64_t {udt_head} + n;
  }
  if (coll_sql(type)) {
    if (left < coll_head) return -1;
    const int32_t n = dvz_ld_be_i32(p + 4);
    return n < 0 ? -1 : int64_t {n} + 4;
  }
  if (pad_varchar && (type == sql_type_varchar || type == sql_type_nvarchar)) {
    if (left < 1) return -1;
    return 1 + static_cast<unsigned char>(p[0]);
  }
  const int size = gettupsize(type, len);
  if (size < fixed_width(type)) return -1;
  /* A VARCHAR of no room that claims characters (its NULL form included). */
  if ((type == sql_type_varchar || type == sql_type_nvarchar) && size < 2 && left >= 1 && p[0] != 0)
    return -1;
  return size;
}

void set_warn(sqli_tcb *tcb, int flag) { _sqwarnset(flag, tcb); }

/* The indicator step: truncation warning, then the value into the host
** indicator or indicator variable; NULL without any with the indicator
** required is -467. 0, or the error recorded. */
int put_indicator(sqlvar_struct &h, int ind, int options, sqli_tcb *tcb) {
  if (ind > 0) set_warn(tcb, warn_truncated);
  if (h.sqlind != nullptr) {
    *h.sqlind = static_cast<int16_t>(ind);
    return 0;
  }
  if (h.sqlidata != nullptr && h.sqlitype != 0) {
    const int rc = _sqindhost(static_cast<int16_t>(ind), h.sqlidata, h.sqlitype, h.sqlilen);
    return rc;
  }
  if (ind < 0 && (options & opt_ind_required) != 0) return _iqseterr(e_ind_required);
  return 0;
}

/* Copies n bytes of character data into out (DBAPICODE map when on). */
void copy_chars(char *out, const char *in, int n) {
  if (n <= 0) return;
  if (_sqdbapi != 0 && CPDBTOVAR != nullptr) {
    /* The map writes a terminator after n bytes: go through a copy. */
    char *tmp = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (tmp != nullptr) {
      CPDBTOVAR(in, tmp, n);
      std::memcpy(out, tmp, static_cast<size_t>(n));
      std::free(tmp);
      return;
    }
  }
  std::memcpy(out, in, static_cast<size_t>(n));
}

/* Cuts trailing blanks of a terminated text of n characters, keeping one. */
void keep_one_blank(char *out, int n) {
  while (n > 1 && out[n - 1] == ' ')
    --n;
  out[n] = '\0';
}

/* CHAR or NCHAR field into host 0/100/15/108/109. Returns the indicator. */
int char_to_host(const char *field, int collen, char *out, int host, int hostlen, bool blanks) {
  if (collen > 0 && field[0] == '\0') {
    if (hostlen > 0) out[0] = '\0';
    return -1;
  }
  const bool fixed = host == host_type_fixchar;
  int room = fixed ? hostlen : hostlen - 1;
  if (room <= 0) {
    if (hostlen > 0) out[0] = '\0';
    return collen;
  }
  int trunc = 0;
  if (gl_cv_desc *cv = sqli_db_client_converter(); cv != nullptr) {
    if (gcv_tuple(cv, field, collen, out, room, &trunc, ' ') < 0) return 0;
  } else {
    const int n = std::min(collen, room);
    copy_chars(out, field, n);
    if (room > n) std::memset(out + n, ' ', static_cast<size_t>(room - n));
    if (collen > room) trunc = collen;
  }
  if (!fixed) out[room] = '\0';
  if (host == host_type_string && blanks) keep_one_blank(out, room);
  return trunc;
}

/* VARCHAR or NVARCHAR field (length byte, characters) of n characters.
** The host holds hostlen bytes, one more under a named descriptor (whose
** buffers the runtime makes with room for the NUL), or the column length
** and a NUL when hostlen is 0 or less. Returns the indicator. */
int varchar_to_host(const char *chars, int n, char *out, int host, int hostlen, int collen,
                    bool named, bool blanks) {
  if (n == 1 && chars[0] == '\0') {
    if (hostlen > 0 || named) out[0] = '\0';
    return -1;
  }
  int room = hostlen <= 0 ? collen : named ? hostlen : hostlen - 1;
  if (room < 0) room = 0;
  int trunc = 0;
  gl_cv_desc *cv = sqli_db_client_converter();
  int written = 0;
  if (cv != nullptr) {
    written = gcv_tuple(cv, chars, n, out, room, &trunc, 0);
    if (written < 0) return 0;
  } else {
    written = std::min(n, room);
    copy_chars(out, chars, written);
    if (n > room) trunc = std::min(n, trunc_max);
    out[written] = '\0';
  }
  if (host == host_type_string && blanks) keep_one_blank(out, written);
  return trunc;
}

/* Characters of a VARCHAR field: its length byte, bounded by the maximum
** of the length word and by the field itself. */
int varchar_chars(const char *field, const field_plan &plan) {
  const int stored = static_cast<unsigned char>(field[0]);
  const int max = plan.len & 0xFF;
  const int n = max != 0 && max < stored ? max : stored;
  return static_cast<int>(std::min<int64_t>(n, plan.size - 1));
}

/* The checks and replacements of one column against its host variable
** (options as _iqupdtargs). Fills plan; plan->error set means the row
** ends at this column with that error. */
void plan_column(const dbfd &col, sqlvar_struct &h, const sqlvar_struct *rt, bool rtypes_on,
                 sqli_tcb *tcb, field_plan *plan) {
  plan->type = col.type & 0xFF;
  plan->len = col.length;
  plan->host = h.sqltype & 0xFF;
  if (plan->host == host_type_int) plan->host = host_type_long;
  plan->error = 0;
  plan->scratch_null = false;
  plan->as_char = false;
  const int host_sql = sql_of_host(h.sqltype);
  plan->extended = extended_kind(plan->host, host_sql) || opaque_sql(plan->type);
  const bool accepted = rt != nullptr && rt->sqlitype == 1;
  int xid = 0;
  if (rtypes_on || plan->extended) {
    int16_t word = 0;
    xid = _sqstype(h.sqltype, h.sqldata, &word, 0, h.sqlxid, tcb);
    if (rtypes_on && accepted && chkrtype_fetch(&h, rt, xid, plan->host, &col) != 0) {
      plan->error = SQLI_E_RETTYPE;
      return;
    }
  }
  /* The server sends a column in a type it was asked for only. */
  if (rtypes_on && coll_sql(plan->type) && char_sql(host_sql)) {
    int len = 0;
    (void)getfieldsize(0, xid, host_sql, h.sqllen, h.sqllen, col.length, &len);
    /* The field lacks the terminator the host length counts. */
    const bool noterm = (h.sqlflags & sqlvar_len_noterm) != 0 ||
                        (rt != nullptr && (rt->sqlflags & sqlvar_len_noterm) != 0);
    plan->type = host_sql;
    plan->len = noterm ? len - 1 : len;
    return;
  }
  if (!plan->extended) return;
  const int ctype = plan->type;
  if (host_sql == sql_type_variable_udt || host_sql == sql_type_fixed_udt) {
    if (rtypes_on && !accepted) plan->error = SQLI_E_RETTYPE;
    if (rtypes_on || opaque_sql(ctype)) plan->type = host_sql;
    return;
  }
  if (host_sql == sql_type_lvarchar) {
    const bool builtin = (ctype <= sql_type_serial8 || ctype == sql_type_unnamed_builtin) &&
                         (col.type & sqli_type_keepxid) == 0;
    if (builtin) {
      /* A plain LVARCHAR buffer takes the value's text as CHAR; the
      ** variable-length record of 124 takes it by value. */
      if (plan->host != host_type_lvarchar_ptr) {
        plan->host = host_type_char;
        plan->as_char = true;
      }
      return;
    }
    if (rtypes_on && !accepted) plan->error = SQLI_E_RETTYPE;
    if (rtypes_on || opaque_sql(ctype)) plan->type = sql_type_lvarchar;
    return;
  }
  if (host_sql == sql_type_boolean) {
    if (rtypes_on && !accepted) plan->error = SQLI_E_RETTYPE;
    return;
  }
  if (rtypes_on && coll_sql(host_sql) && !accepted) {
    plan->error = SQLI_E_RETTYPE;
    return;
  }
  if (ctype == sql_type_lvarchar) {
    plan->scratch_null = true; /* read as CHAR of the header's length */
    return;
  }
  if (host_sql == sql_type_datetime || host_sql == sql_type_interval) {
    /* The qualifier in the host value and the host length must agree. */
    if (h.sqldata == nullptr) return;
    uint16_t qual = 0;
    std::memcpy(&qual, h.sqldata, sizeof qual);
    if (qual == 0) {
      qual = static_cast<uint16_t>(h.sqllen);
      std::memcpy(h.sqldata, &qual, sizeof qual);
    } else if (h.sqllen == 0) {
      h.sqllen = qual;
    } else if (qual != h.sqllen) {
      plan->error = SQLI_E_RETTYPE;
      return;
    }
  }
  if (rtypes_on && host_sql >= 0) {
    int len = 0;
    (void)getfieldsize(xid != 0, xid, host_sql, h.sqllen, h.sqllen, col.length, &len);
    plan->type = host_sql;
    plan->len = len;
  }
}

/* Delivers the stored field of plan at field into host h. Returns the
** indicator (-1 NULL, positive truncated length, 0), or sets *error. */
int deliver(const field_plan &plan, const char *field, sqlvar_struct &h, int options, sqli_tcb *tcb,
            sqli_cursor *cursor, int *error) {
  const int host = plan.host;
  const int type = plan.type;
  char *data = h.sqldata;
  const bool named = (options & opt_named_desc) != 0;
  const bool blanks = (tcb->flags & sqli_flag_blanks_not_null) != 0;
  const int float_format =
      tcb->curconn != nullptr && tcb->curconn->io != nullptr ? tcb->curconn->io->float_format : 0;

  /* An LVARCHAR column into a host outside its class: CHAR of the length
  ** its header gives; a NULL one is an empty value. */
  if (plan.scratch_null && type == sql_type_lvarchar) {
    const bool null = (field[0] & 1) != 0;
    const int32_t n = dvz_ld_be_i32(field + 1);
    static const char empty = '\0';
    value_t v {};
    if (rdataval(null ? &empty : field + udt_head, sql_type_char, null ? 1 : n, &v) != 0 || null)
      v.vind = -1;
    int16_t ind = 0;
    const int rc = _sqvalhost(&v, data, host, conversion_length(host, h.sqllen, plan.len), &ind);
    if (rc != 0 && rc != e_no_display) *error = rc;
    return ind;
  }

  if (opaque_sql(type) && opaque_sql(sql_of_host(h.sqltype)))
    return ldudt2host(field, sql_of_host(h.sqltype), &h, tcb, error);

  switch (type) {
    case sql_type_char:
    case sql_type_nchar:
      if (host == sql_type_char || host == host_type_char || host == sql_type_nchar ||
          host == host_type_fixchar || (host == host_type_string && blanks))
        return char_to_host(field, plan.len, data, host, h.sqllen, blanks);
      break;
    case sql_type_varchar:
    case sql_type_nvarchar:
      if (host == sql_type_varchar || host == host_type_varchar || host == sql_type_nvarchar ||
          (host == host_type_string && blanks)) {
        const int n = varchar_chars(field, plan);
        return varchar_to_host(field + 1, n, data, host, h.sqllen, plan.len & 0xFF, named, blanks);
      }
      break;
    case sql_type_smallint:
      if (host == sql_type_smallint || host == host_type_short) {
        const int16_t v = dvz_ld_be_i16(field);
        std::memcpy(data, &v, sizeof v);
        return v == INT16_MIN ? -1 : 0;
      }
      break;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      if (host == type || host == host_type_long || host == host_type_date) {
        const int32_t v = dvz_ld_be_i32(field);
        std::memcpy(data, &v, sizeof v);
        return v == INT32_MIN ? -1 : 0;
      }
      break;
    case sql_type_int8:
    case sql_type_serial8:
      if (host == type || host == host_type_int8) {
        dvz_int8_t v {};
        ldint8(field, &v);
        std::memcpy(data, &v, sizeof v);
        return v.sign == 0 ? -1 : 0;
      }
      break;
    case sql_type_smallfloat:
      if (host == sql_type_smallfloat || host == host_type_float) {
        int16_t isnull = 0;
        const auto v = static_cast<float>(network_ldfltnull(field, &isnull, float_format));
        std::memcpy(data, &v, sizeof v);
        return isnull != 0 ? -1 : 0;
      }
      break;
    case sql_type_float:
      if (host == sql_type_float || host == host_type_double) {
        int16_t isnull = 0;
        const double v = network_lddblnull(field, &isnull, float_format);
        std::memcpy(data, &v, sizeof v);
        return isnull != 0 ? -1 : 0;
      }
      break;
    case sql_type_decimal:
    case sql_type_money:
      if ((host == type || host == host_type_decimal || host == host_type_money) &&
          h.sqllen == plan.len) {
        dec_t v {};
        lddecimal(reinterpret_cast<const unsigned char *>(field), packed_size(plan.len), &v);
        std::memcpy(data, &v, sizeof v);
        return v.sign == -1 ? -1 : 0;
      }
      break;
    case sql_type_byte:
    case sql_type_text: {
      const int hsql = sql_of_host(h.sqltype);
      if (hsql != sql_type_byte && hsql != sql_type_text && host != host_type_locator &&
          host != host_type_file) {
        *error = _iqseterr(e_blob_host);
        return 0;
      }
      /* Only these paths give a locator or file host a column's value: the
      ** field holds a stored descriptor, never a locator. */
      int16_t ind = 0;
      const int rc = host == host_type_file
                         ? _sqg_fblob(field, plan.len, data, h.sqllen, &ind, type, tcb, cursor)
                         : _sqg_blob(field, type, plan.len, reinterpret_cast<loc_t *>(data), &ind,
                                     tcb, cursor);
      if (rc < 0) *error = tcb->sqlca->sqlcode < 0 ? tcb->sqlca->sqlcode : SQLI_E_PROTOCOL;
      return ind;
    }
    default:
      if (coll_sql(type)) {
        const int hsql = sql_of_host(h.sqltype);
        const bool row_col = type == sql_type_row;
        const bool coll_host = row_col
                                   ? (hsql == sql_type_row || host == host_type_row)
                                   : ((hsql >= sql_type_set && hsql <= sql_type_list) ||
                                      hsql == sql_type_collection || host == host_type_collection);
        if (!coll_host || data == nullptr) {
          *error = _iqseterr(e_coll_types);
          return 0;
        }
        auto *coll = reinterpret_cast<dvz_coll_t *>(data);
        dvz_coll_typeinfo_t *client = coll->cl_typeinfo;
        const int32_t n = dvz_ld_be_i32(field + 4);
        const int long_ids = tcb->curconn != nullptr && (tcb->curconn->capabilities & 0x200) != 0;
        const int rc = ldcollection(field, coll, 1, long_ids, DVZ_LDCOLL_FULL, nullptr,
                                    static_cast<int32_t>(int64_t {n} + 4));
        if (rc != 0) {
          *error = _iqseterr(rc);
          return 0;
        }
        if (client != nullptr && coll->cl_svr_typeinfo != nullptr &&
            check_typeinfo(client, coll->cl_svr_typeinfo) != 0) {
          *error = _iqseterr(e_coll_types);
          return 0;
        }
        return (coll->cl_flags & DVZ_COLL_NULL) != 0 ? -1 : 0;
      }
      break;
  }

  /* Any other pair: through a typed value. */
  value_t v {};
  /* The opaque reader takes the bytes after the field's head. */
  int rc = rdataval(field, type,
                    opaque_sql(type) ? static_cast<int>(plan.size - udt_head) : plan.len, &v);
  if (rc != 0) {
    *error = _iqseterr(rc);
    return 0;
  }
  if ((type == sql_type_varchar || type == sql_type_nvarchar) && v.vind == 0)
    v.vlen = varchar_chars(field, plan);
  char *converted = nullptr;
  if (char_sql(type) && v.vind == 0) {
    if (gl_cv_desc *cv = sqli_db_client_converter()) {
      int len = v.vlen;
      if (gcv_malloc(cv, v.vptr, &len, &converted) >= 0 && converted != nullptr) {
        v.vptr = converted;
        v.vlen = len;
      }
    }
  }
  int16_t ind = 0;
  const int collen =
      type == sql_type_varchar || type == sql_type_nvarchar ? plan.len & 0xFF : plan.len;
  rc = _sqvalhost(&v, data, plan.host, conversion_length(plan.host, h.sqllen, collen), &ind);
  std::free(converted);
  if (rc != 0 && rc != e_no_display) {
    *error = _iqseterr(rc);
    return 0;
  }
  return ind;
}

}  // namespace

int gettupsize(int type, int len) {
  switch (type & 0xFF) {
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval:
      return packed_size(len);
    case sql_type_varchar:
    case sql_type_nvarchar:
      return (len & 0xFF) + 1;
    default:
      return len;
  }
}

int getfieldsize(int has_xid, int xid, int type, int size, int hostlen, int collen, int *lenout) {
  const int t = type & 0xFF;
  const bool general = t == sql_type_char || t == sql_type_datetime || t == sql_type_varchar ||
                       t == sql_type_interval || t == sql_type_nchar || t == sql_type_nvarchar ||
                       coll_sql(t);
  if (has_xid != 0 && xid == t && !general) {
    *lenout = size;
    return t == sql_type_decimal || t == sql_type_money ? packed_size(size) : size;
  }
  int len = 0;
  int bytes = 0;
  switch (t) {
    case sql_type_char:
    case sql_type_nchar:
      len = bytes = hostlen;
      break;
    case sql_type_smallint:
      len = bytes = 2;
      break;
    case sql_type_integer:
    case sql_type_smallfloat:
    case sql_type_serial:
    case sql_type_date:
      len = bytes = 4;
      break;
    case sql_type_float:
      len = bytes = 8;
      break;
    case sql_type_decimal:
    case sql_type_money:
      len = 8447;
      bytes = 18;
      break;
    case sql_type_datetime:
    case sql_type_interval:
      len = collen;
      bytes = packed_size(collen);
      break;
    case sql_type_byte:
    case sql_type_text:
      len = bytes = TBLOB_STORED_SIZE;
      break;
    case sql_type_varchar:
    case sql_type_nvarchar:
      len = std::min(hostlen, 255);
      bytes = len + 1;
      break;
    case sql_type_int8:
    case sql_type_serial8:
      len = bytes = 10;
      break;
    default:
      break;
  }
  *lenout = len;
  return bytes;
}

int gcv_tuple(gl_cv_desc *cv, const char *in, int inlen, char *out, int room, int *truncation,
              int pad) {
  if (truncation != nullptr) *truncation = 0;
  if (room < 0) room = 0;
  const auto *from = reinterpret_cast<const unsigned char *>(in);
  auto *to = reinterpret_cast<unsigned char *>(out);
  int left = inlen > 0 ? inlen : 0;
  int outleft = room;
  if (left > 0 && gl_miconv(cv, &from, &left, &to, &outleft, nullptr) != 0) {
    const int error = cv->err;
    if (error == GL_EILSEQ || error == GL_EINVAL || (error == GL_E2BIG && left == 0)) {
      _iqseterr(e_cv_invalid);
      return -1;
    }
    if (error != GL_E2BIG) {
      _iqseterr(e_cv_failed);
      return -1;
    }
    if (truncation != nullptr) *truncation = std::min(left, trunc_max);
  }
  const int written = room - outleft;
  if (pad != 0) {
    if (written < room) std::memset(out + written, pad, static_cast<size_t>(room - written));
  } else {
    out[written] = '\0';
  }
  return written;
}

int ldudt2host(const char *field, int type, sqlvar_struct *h, sqli_tcb *tcb, int *error) {
  const bool null = (field[0] & 1) != 0;
  const int32_t n = dvz_ld_be_i32(field + 1);
  const char *bytes = field + udt_head;
  const int host = h->sqltype & 0xFF;
  if (type == sql_type_boolean) {
    if (!null && n >= 1 && h->sqldata != nullptr) h->sqldata[0] = bytes[0];
    return null ? -1 : 0;
  }
  const bool record_host = host == host_type_lvarchar_ptr || type == sql_type_variable_udt ||
                           (lvarchar_class(host) && (h->sqlflags & sqlvar_own_lvarchar) != 0);
  if (type == sql_type_fixed_udt && !record_host) {
    if (null) return -1;
    if (n > h->sqllen) {
      *error = _iqseterr(e_fixed_too_long);
      return 0;
    }
    std::memcpy(h->sqldata, bytes, static_cast<size_t>(n));
    return 0;
  }
  if (record_host) {
    auto *rec = reinterpret_cast<dvz_hostbuf_t *>(h->sqldata);
    if (rec == nullptr) {
      *error = _iqseterr(SQLI_E_NODATA);
      return 0;
    }
    if (null) {
      rec->flags |= HOSTVAR_NULL;
      return -1;
    }
    rec->flags &= ~HOSTVAR_NULL;
    const bool text = type == sql_type_lvarchar || lvarchar_class(host);
    const int64_t need = int64_t {n} + (text ? 1 : 0);
    if (need > rec->size) {
      if ((rec->flags & HOSTVAR_GROWABLE) == 0) {
        *error = _iqseterr(e_fixed_too_long);
        return 0;
      }
      auto *grown = static_cast<char *>(std::realloc(rec->data, static_cast<size_t>(need)));
      if (grown == nullptr) {
        rec->length = rec->size = 0;
        *error = _iqseterr(SQLI_E_NOMEM);
        return 0;
      }
      rec->data = grown;
      rec->size = static_cast<int32_t>(need);
    }
    if (n > 0) std::memcpy(rec->data, bytes, static_cast<size_t>(n));
    rec->length = n;
    if (text) rec->data[n] = '\0';
    if (n == 0) rec->flags |= HOSTVAR_NULL;
    return 0;
  }
  /* LVARCHAR into a plain character buffer. */
  gl_cv_desc *cv = null ? nullptr : sqli_db_client_converter();
  int needed = n + 1;
  if (cv != nullptr) needed = gcv_lenonly(cv, n) + 1;
  int room = h->sqllen - 1;
  if (tcb->lvar_alloc != 0) {
    auto *grown = static_cast<char *>(std::realloc(
        (h->sqlflags & sqlvar_own_data) != 0 ? h->sqldata : nullptr, static_cast<size_t>(needed)));
    if (grown == nullptr) {
      *error = _iqseterr(SQLI_E_NOMEM);
      return 0;
    }
    h->sqldata = grown;
    h->sqlflags |= sqlvar_own_data;
    h->sqllen = needed;
    room = needed - 1;
  }
  if (h->sqldata == nullptr || room < 0) {
    *error = _iqseterr(SQLI_E_NODATA);
    return 0;
  }
  std::memset(h->sqldata, 0, static_cast<size_t>(room) + 1);
  if (null) return -1;
  int trunc = 0;
  if (cv != nullptr) {
    const int w = gcv_tuple(cv, bytes, n, h->sqldata, room, &trunc, 0);
    if (w < 0) {
      *error = tcb->sqlca->sqlcode; /* recorded by the conversion */
      return 0;
    }
    if (tcb->lvar_alloc != 0) h->sqllen = w;
    return trunc;
  }
  const int copy = std::min(n, room);
  copy_chars(h->sqldata, bytes, copy);
  h->sqldata[copy] = '\0';
  return n > room ? std::min(n, trunc_max) : 0;
}

int check_typeinfo(const dvz_coll_typeinfo_t *client, const dvz_coll_typeinfo_t *server) {
  if (client == nullptr || server == nullptr) return 0;
  bool same = client->ti_count == server->ti_count;
  for (int i = 0; same && i < client->ti_count; ++i) {
    const dvz_coll_field_t &a = client->ti_fields[i];
    const dvz_coll_field_t &b = server->ti_fields[i];
    same = (a.type & 0xFF) == (b.type & 0xFF) && a.level_no == b.level_no &&
           a.parent_no == b.parent_no;
    if (same && !coll_sql(a.type & 0xFF) && !opaque_sql(a.type & 0xFF)) same = a.length == b.length;
  }
  return same ? 0 : e_coll_types;
}

/*
** Copies the row at the cursor's buffer position into noutput host
** variables (null: the declared output list). options: 2 named
** descriptor, 4 indicator required, 8 array fetch, 16 not the first row
** of one. Errors and warnings go to sqlca; returns SQLCODE. A row whose
** fields pass its end is the protocol error (-408, the connection and its
** records dropped, nothing delivered): the cursor must not be used after.
*/
int _iqupdtargs(sqli_cursor *c, int noutput, sqlvar_struct *hosts, int options, sqli_tcb *tcb) {
  if (c == nullptr || tcb == nullptr) return -1;
  const auto *cols = static_cast<const dbfd *>(c->coldesc);
  const int ncols = cols != nullptr ? c->ncols : 0;
  if (hosts == nullptr) {
    hosts = c->outlist;
    noutput = hosts != nullptr ? c->nout : 0;
  }
  if (noutput < 0) noutput = 0;
  if (noutput != ncols) {
    set_warn(tcb, warn_count);
    options |= opt_count_differs;
  }
  const int n = std::min(noutput, ncols);
  const bool rtypes_on = (c->flags & sqli_cur_rtypes_sent) != 0 && c->rtypes != nullptr;
  const bool pad_varchar = tcb->curconn != nullptr && tcb->curconn->varchar_pad != 0;

  /* Place every field before delivering any. */
  const int64_t rowlen = current_row_length(c);
  field_plan stack_plans[16];
  field_plan *plans = stack_plans;
  if (ncols > 16) {
    plans = static_cast<field_plan *>(std::calloc(static_cast<size_t>(ncols), sizeof(field_plan)));
    if (plans == nullptr) {
      return _iqseterr(SQLI_E_NOMEM);
    }
  }
  struct plans_guard {
    field_plan *p, *stack;
    ~plans_guard() {
      if (p != stack) std::free(p);
    }
  } guard {plans, stack_plans};
  bool bad_row = rowlen < 0 && ncols > 0;
  int64_t offset = 0;
  for (int i = 0; i < ncols && !bad_row; ++i) {
    field_plan &p = plans[i];
    p = field_plan {cols[i].type & 0xFF, cols[i].length, 0, 0, 0, 0, false, false, false};
    if (i < n) {
      const sqlvar_struct *rt = rtypes_on && i < c->nrtypes ? &c->rtypes[i] : nullptr;
      plan_column(cols[i], hosts[i], rt, rtypes_on, tcb, &p);
    }
    p.at = offset;
    const int64_t size =
        field_bytes(p.type, p.len, c->bufpos + offset, rowlen - offset, pad_varchar);
    if (size < 0 || size > rowlen - offset) {
      bad_row = true;
      break;
    }
    p.size = size;
    offset += size;
  }
  if (bad_row) {
    _sqproterr(tcb, SQLI_E_PROTOCOL);
    return tcb->sqlca->sqlcode;
  }

  for (int i = 0; i < n; ++i) {
    sqlvar_struct &h = hosts[i];
    field_plan &p = plans[i];
    const int host_low = h.sqltype & 0xFF;
    const int column = cols[i].type & 0xFF;
    if (p.error != 0) {
      _iqseterr(p.error);
      break;
    }
    /* An LVARCHAR buffer may come without data: the runtime allocates it,
    ** under a named descriptor by switching the allocation mode on for
    ** this column. Restored below. */
    const int16_t alloc_mode = tcb->lvar_alloc;
    const bool plain_lvarchar = lvarchar_class(host_low) && host_low != host_type_lvarchar_ptr;
    if (h.sqldata == nullptr && host_low == host_type_lvarchar_ptr && h.sqllen == 0 &&
        ((options & opt_named_desc) != 0 || tcb->lvar_alloc != 0)) {
      /* A variable-length record host without its record: the runtime
      ** makes one and owns it. */
      void *record = nullptr;
      if (sqli_private_var_init(&record) != 0) {
        _iqseterr(SQLI_E_NOMEM);
        break;
      }
      h.sqldata = static_cast<char *>(record);
      h.sqlflags |= sqlvar_own_data;
    }
    if (h.sqldata == nullptr) {
      if (plain_lvarchar && (options & opt_named_desc) != 0) tcb->lvar_alloc = 1;
      if (!plain_lvarchar || tcb->lvar_alloc == 0) {
        _iqseterr(SQLI_E_NODATA);
        break;
      }
    }
    if (p.as_char && tcb->lvar_alloc != 0) {
      const int width = rtypwidth(cols[i].type, cols[i].length) + 1;
      auto *grown = static_cast<char *>(
          std::realloc((h.sqlflags & sqlvar_own_data) != 0 ? h.sqldata : nullptr,
                       static_cast<size_t>(std::max(width, 2))));
      if (grown == nullptr) {
        tcb->lvar_alloc = alloc_mode;
        _iqseterr(SQLI_E_NOMEM);
        break;
      }
      h.sqldata = grown;
      h.sqlflags |= sqlvar_own_data;
      h.sqllen = std::max(width, 2);
    }
    if ((options & opt_array_next) != 0 && h.sqldata != nullptr && column != sql_type_byte &&
        column != sql_type_text) {
      const int step = afrtypmsize(h.sqltype & 0xFF, h.sqllen);
      if (step < 1) {
        _iqseterr(SQLI_E_HOSTTYPE);
        break;
      }
      h.sqldata += step;
      if (h.sqlind != nullptr)
        ++h.sqlind;
      else if (h.sqlidata != nullptr && h.sqlitype != 0)
        h.sqlidata += std::max(1, afrtypmsize(h.sqlitype, h.sqlilen));
    }
    /* An array fetch leaves BYTE and TEXT columns alone (a host of another
    ** kind is still refused). */
    const int host_sql = sql_of_host(h.sqltype);
    const bool blob_pair = (column == sql_type_byte || column == sql_type_text) &&
                           p.type == column &&
                           (host_sql == sql_type_byte || host_sql == sql_type_text);
    if ((options & opt_array) != 0 && blob_pair) {
      tcb->lvar_alloc = alloc_mode;
      continue;
    }
    int error = 0;
    const int ind = deliver(p, c->bufpos + p.at, h, options, tcb, c, &error);
    tcb->lvar_alloc = alloc_mode;
    /* A failed conversion is recorded where it happens and ends the row. */
    if (error != 0 || failed_now(tcb)) {
      if (!failed_now(tcb)) _iqseterr(error);
      break;
    }
    if (put_indicator(h, ind, options, tcb) != 0) break;
  }
  if ((options & opt_count_differs) != 0 && !failed_now(tcb) && sqli_ansi_db(tcb))
    _iqseterr(e_count_ansi);
  return tcb->sqlca->sqlcode;
}
