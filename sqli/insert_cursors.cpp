/*
** insert_cursors.cpp: PUT on an insert cursor. Each row's host values are
** converted into the stored row form (the layout of a fetched row) in the
** cursor's buffer; the buffered rows go to the server in one PUT request
** when the buffer is full, when a row carries BYTE or TEXT values, and on
** FLUSH, CLOSE and COMMIT.
**
** Fixed-size rows fill the buffer row by row; the buffered-rows field
** counts the rows it can still take. Rows with variable-length fields are
** appended to a buffer that grows in 1028-byte steps, their lengths kept in
** the row-length table. A row is written at the buffer position and the
** position moves past it only once the whole row is converted, so a failed
** row leaves the rows before it intact; those are sent before the failure
** is reported, and sqlerrd[2] tells how many.
**
** Every field is written only after its room in the row (fixed rows) or
** the buffer (variable rows) is known: a column description from the peer
** that does not add up refuses the value instead of writing past the row.
*/
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "dvz_be.h"
#include "gen_decimal.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "gl_chars.h"
#include "gl_conv.h"
#include "gl_locale.h"
#include "gl_strings.h"
#include "locator.h"
#include "os_conv.h"
#include "os_glsenv.h"
#include "os_stored.h"
#include "sqli_bind.h"
#include "sqli_blob.h"
#include "sqli_collection_checks.h"
#include "sqli_conn.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_handshake.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_send.h"
#include "sqli_statements.h"

namespace {

constexpr int e_no_record = -414;
constexpr int e_not_open = -413;
constexpr int e_not_insert = -488;
constexpr int e_no_values = -418;
constexpr int e_no_indicator = -419;
constexpr int e_convert = -415;
constexpr int e_blob_column = -608;
constexpr int e_precision = -1226;
constexpr int e_too_long_ansi = -1279;
constexpr int e_no_collection = -1814;
constexpr int e_cv_failed = -23103;

constexpr int max_counted_rows = 32767; /* rows of a statement without columns */
constexpr int lvarchar_cut = 2048;
constexpr int blob_flag_null = 1;
constexpr int blob_flag_marked = 16;
constexpr int locator_marked = 0x20;

int32_t caps(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr ? tcb->curconn->capabilities : 0;
}
bool pad_varchar(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->varchar_pad != 0;
}
int optmsg(const sqli_tcb *tcb) { return tcb->curconn != nullptr ? tcb->curconn->optmsg : 0; }
int float_format(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->io != nullptr ? tcb->curconn->io->float_format
                                                                : 0;
}

/* The locale text is cut in, null for single bytes. */
gl_locale *multibyte_locale() {
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->locale == nullptr || env->locale->single_byte == 1) return nullptr;
  return env->locale;
}

/* The bytes n bytes of client text may take in the server's code set. */
int converted_room(int n) {
  gl_cv_desc *cv = _sqdbapi == 0 ? sqli_client_db_converter() : nullptr;
  return cv != nullptr ? std::max(gl_cv_outbuflen(cv, n), n) : n;
}

bool varchar_sql(int t) { return t == sql_type_varchar || t == sql_type_nvarchar; }
bool char_sql(int t) { return t == sql_type_char || t == sql_type_nchar || varchar_sql(t); }
bool coll_sql(int t) { return t >= sql_type_set && t <= sql_type_collection; }
bool extended_sql(int t) {
  return t == sql_type_variable_udt || t == sql_type_fixed_udt || t == sql_type_lvarchar ||
         t == sql_type_boolean;
}
bool blob_sql(int t) { return t == sql_type_byte || t == sql_type_text; }

/* The SQL type a host variable's value has (host 102 reads as 103). */
int host_sql(const sqlvar_struct *v) {
  const int low = v->sqltype & 0xFF;
  if (low < host_type_min) return low;
  return nonC_to_sql(low == host_type_int ? host_type_long : low);
}

/* The variable-length record of hosts 121 and 124. */
const dvz_hostbuf_t *hostbuf(const sqlvar_struct *v) {
  return reinterpret_cast<const dvz_hostbuf_t *>(v->sqldata);
}

/* The bytes of a character value: the host length for 108, the record's
** length for 124, else the terminated string's. */
int text_length(const sqlvar_struct *v) {
  if (v->sqldata == nullptr) return 0;
  const int host = v->sqltype & 0xFF;
  if (host == host_type_fixchar) return std::max(0, static_cast<int>(v->sqllen));
  if (host == host_type_lvarchar_ptr || host == host_type_variable_binary) {
    const dvz_hostbuf_t *b = hostbuf(v);
    return b->data != nullptr ? std::max(0, static_cast<int>(b->length)) : 0;
  }
  if (v->sqllen <= 0) return static_cast<int>(std::strlen(v->sqldata));
  return static_cast<int>(strnlen(v->sqldata, static_cast<size_t>(v->sqllen)));
}
const char *text_data(const sqlvar_struct *v) {
  if ((v->sqltype & 0xFF) == host_type_lvarchar_ptr) return hostbuf(v)->data;
  return v->sqldata;
}

/* The indicator of a host: its indicator, else its indicator variable. */
int16_t indicator_of(const sqlvar_struct *v) {
  if (v->sqlind != nullptr) return *v->sqlind;
  int16_t ind = 0;
  if (v->sqlidata != nullptr && v->sqlitype != 0)
    (void)_sqhostind(v->sqlidata, v->sqlitype, v->sqlilen, &ind);
  return ind;
}
bool has_indicator(const sqlvar_struct *v) {
  return v->sqlind != nullptr || (v->sqlidata != nullptr && v->sqlitype != 0);
}

/* Whether the host's value is NULL for a direct conversion. */
bool value_is_null(const sqlvar_struct *v) {
  if (v->sqldata == nullptr) return true;
  const int host = v->sqltype & 0xFF;
  if (has_indicator(v)) {
    const int16_t ind = indicator_of(v);
    if (ind < 0) return true;
    if (ind != 0) return false;
    /* An indicator of 0 leaves the NULL form meaningful except for texts. */
    if (host == host_type_char || host == host_type_fixchar || host == host_type_string ||
        host == host_type_varchar || host == host_type_lvarchar)
      return false;
  }
  if (host == host_type_variable_binary || host == host_type_lvarchar_ptr)
    return (hostbuf(v)->flags & HOSTVAR_NULL) != 0;
  return risnull(v->sqltype & 0xFF, v->sqldata) != 0;
}

/* Room a host value may take in the row: the most _sqcvardata writes for
** it. For a collection host without a collection -1 (-1814 recorded). */
int value_room(const sqlvar_struct *v, int coltype, int collen, sqli_tcb *tcb) {
  const int host = v->sqltype & 0xFF;
  if (host == host_type_collection || host == host_type_row) {
    const auto *coll = reinterpret_cast<const dvz_coll_t *>(v->sqldata);
    if (coll == nullptr) return _iqseterr(e_no_collection), -1;
    int typelen = coll->cl_typelen;
    const dvz_coll_typeinfo *ti = coll->cl_typed != 0 ? coll->cl_typeinfo : coll->cl_svr_typeinfo;
    if (typelen == 0 && ti != nullptr)
      typelen = (caps(tcb) & 0x200) != 0 ? ti->ti_count * 414 + 136 : ti->ti_count * 84 + 26;
    return typelen + std::max(coll->cl_len, coll->cl_datalen) + 8;
  }
  if (coltype == sql_type_lvarchar && host != host_type_variable_binary &&
      host != host_type_lvarchar_ptr) {
    const int n = std::min(converted_room(text_length(v)), lvarchar_cut);
    return (n == 0 ? 80 : n) + 5;
  }
  if (extended_sql(coltype)) {
    if (host == host_type_variable_binary || host == host_type_lvarchar_ptr)
      return std::max(0, static_cast<int>(hostbuf(v)->length)) + 5;
    return std::max(static_cast<int>(v->sqllen), 1) + 5;
  }
  if (coll_sql(coltype)) return _iqseterr(e_no_collection), -1;
  if (varchar_sql(coltype)) return gettupsize(coltype, collen) + 1;
  return gettupsize(coltype, collen);
}

/* Clears a code recorded by a check, so that the rows buffered before the
** failing one can still be sent (_sqcvterror records it again). */
void clear_code(sqli_tcb *tcb) {
  tcb->sqlca->sqlcode = 0;
  *tcb->sqlcode = 0;
}

/* The blanks at the end of a CHAR field. */
void blank_pad(char *field, int used, int size) {
  if (size > used) std::memset(field + used, ' ', static_cast<size_t>(size - used));
}

}  // namespace

/* ---- Field sizes ----------------------------------------------------------------------- */

int getcharlen(const sqlvar_struct *v, int sqltype) {
  const int t = sqltype & 0xFF;
  if (!char_sql(t)) return static_cast<int>(v->sqllen);
  int n = 1;
  if ((v->sqltype & 0xFF) == host_type_fixchar)
    n = static_cast<int>(v->sqllen);
  else if (v->sqldata != nullptr)
    n = text_length(v) + 1;
  return converted_room(n);
}

int checknull(int32_t *saved_len, int32_t *saved_qual, int32_t accepted_len, int type,
              sqlvar_struct *v) {
  (void)type;
  if (!value_is_null(v)) return -1;
  *saved_len = v->sqllen;
  *saved_qual = v->sqllen;
  v->sqllen = accepted_len;
  return 0;
}

int truncchar(const char *text, int len, int room, int *lenout, sqli_tcb *tcb) {
  if (len <= room) {
    *lenout = len;
    return 0;
  }
  if (sqli_ansi_db(tcb) != 0) {
    *lenout = room;
    return e_too_long_ansi;
  }
  *lenout = room;
  if (gl_locale *loc = multibyte_locale(); loc != nullptr && room > 0) {
    const auto *start = reinterpret_cast<const unsigned char *>(text);
    int clen = 0;
    const int offset = gl_full_charoffset(loc, start, start + room, &clen);
    if (offset > 0) *lenout = room - offset; /* the character at the cut does not fit */
  }
  return 0;
}

/* ---- One value into the row ---------------------------------------------------------- */

int rvaltuple(value_t *value, char *pos, int coltype, int collen, int source, int xid,
              const char *xname, int hostlen, sqli_tcb *tcb, int room) {
  (void)source;
  (void)xname;
  const int t = coltype & 0xFF;
  if (coll_sql(t) || t == sql_type_row) {
    /* A positive length word bounds the stored form (-1273 past it). */
    int len = collen;
    (void)getfieldsize(xid != 0, xid, value->vtype, hostlen, hostlen, collen, &len);
    return rvaldata(value, pos, t, len > 0 ? std::min(len, room) : room);
  }
  if (extended_sql(t)) {
    /* The opaque form: 5 bytes and the text, the display text, one byte
    ** or the value's own bytes. */
    const int vt = value->vtype & 0xFF;
    int need = 5 + std::max(value->vlen, 0);
    if (value->vind < 0)
      need = 5;
    else if (t == sql_type_boolean)
      need = 6;
    else if (t == sql_type_lvarchar && !char_sql(vt) && vt != sql_type_lvarchar)
      need = 5 + 80;
    if (need > room) return e_convert;
    return rvaldata(value, pos, t, collen);
  }
  if (gettupsize(t, collen) > room) return e_convert;
  if (varchar_sql(t) && pad_varchar(tcb)) {
    /* The compact field: the length byte and the characters only. */
    std::array<char, 258> field {};
    const int error = rvaldata(value, field.data(), t, collen);
    if (error != 0) return error;
    const auto n = static_cast<unsigned char>(field[0]);
    std::memcpy(pos, field.data(), static_cast<size_t>(n) + 1);
    return 0;
  }
  return rvaldata(value, pos, t, collen);
}

int _sqcvardata(void *handle, sqlvar_struct *v, char *pos, int coltype, int collen, sqli_tcb *tcb,
                int source, int xid, const char *xname, int room) {
  const int t = coltype & 0xFF;
  const int host = v->sqltype & 0xFF;
  const bool direct = host_sql(v) == t;
  const bool isnull = value_is_null(v);
  const bool open_size = extended_sql(t) || coll_sql(t) || t == sql_type_row;
  int error = !open_size && gettupsize(t, collen) > room ? e_convert : 0;
  /* The opaque form of n bytes, when it fits. */
  const auto opaque = [&](const char *bytes, int n, bool null) {
    if (5 + (null ? 0 : n) > room) return e_convert;
    studt(pos, bytes, null ? 0 : n, null ? 1 : 0);
    return 0;
  };
  if (direct && error == 0) {
    switch (t) {
      case sql_type_char:
      case sql_type_nchar: {
        const int size = collen;
        if (isnull) {
          pos[0] = '\0';
          blank_pad(pos, 1, size);
          return 0;
        }
        int n = 0;
        error = truncchar(text_data(v), text_length(v), size, &n, tcb);
        if (error != 0) break;
        std::memcpy(pos, text_data(v), static_cast<size_t>(n));
        blank_pad(pos, n, size);
        return 0;
      }
      case sql_type_smallint: {
        int16_t s = INT16_MIN;
        if (!isnull) {
          if (host == host_type_short) {
            std::memcpy(&s, v->sqldata, sizeof s);
          } else {
            int32_t l = 0;
            std::memcpy(&l, v->sqldata, sizeof l);
            s = static_cast<int16_t>(l);
          }
        }
        dvz_st_be_i16(s, pos);
        return 0;
      }
      case sql_type_integer:
      case sql_type_serial:
      case sql_type_date: {
        int32_t l = INT32_MIN;
        if (!isnull) {
          if (host == host_type_short) {
            int16_t s = 0;
            std::memcpy(&s, v->sqldata, sizeof s);
            l = s;
          } else {
            std::memcpy(&l, v->sqldata, sizeof l);
          }
        }
        dvz_st_be_i32(l, pos);
        return 0;
      }
      case sql_type_float: {
        double d = 0;
        if (!isnull) std::memcpy(&d, v->sqldata, sizeof d);
        network_stdblnull(d, pos, isnull ? 1 : 0, float_format(tcb));
        return 0;
      }
      case sql_type_smallfloat: {
        float f = 0;
        if (!isnull) std::memcpy(&f, v->sqldata, sizeof f);
        network_stfltnull(f, pos, isnull ? 1 : 0, float_format(tcb));
        return 0;
      }
      case sql_type_decimal:
      case sql_type_money: {
        if (isnull) break; /* the NULL form through the value below */
        dec_t given {};
        std::memcpy(&given, v->sqldata, sizeof given);
        if (given.npairs > DECSIZE || given.npairs < 0) {
          error = e_convert;
          break;
        }
        dec_t copy {};
        deccopy(&given, &copy);
        if (chkprec(&copy, collen) != 0) {
          error = e_precision;
          break;
        }
        stdecimal(&copy, reinterpret_cast<unsigned char *>(pos), gettupsize(t, collen));
        return 0;
      }
      case sql_type_varchar:
      case sql_type_nvarchar: {
        const int max = collen & 0xFF;
        const int width = pad_varchar(tcb) ? 0 : max;
        if (isnull) {
          pos[0] = 1;
          std::memset(pos + 1, 0, static_cast<size_t>(std::max(width, 1)));
          return 0;
        }
        int n = text_length(v);
        if (pad_varchar(tcb))
          n = std::min(n, max);
        else if ((error = truncchar(text_data(v), n, max, &n, tcb)) != 0)
          break;
        pos[0] = static_cast<char>(n);
        std::memcpy(pos + 1, text_data(v), static_cast<size_t>(n));
        if (width > n) std::memset(pos + 1 + n, 0, static_cast<size_t>(width - n));
        return 0;
      }
      case sql_type_int8:
      case sql_type_serial8: {
        if (isnull) break;
        dvz_int8_t i8 {};
        std::memcpy(&i8, v->sqldata, sizeof i8);
        stint8(&i8, pos);
        return 0;
      }
      case sql_type_variable_udt:
      case sql_type_lvarchar:
        if (host == host_type_variable_binary || host == host_type_lvarchar_ptr) {
          const dvz_hostbuf_t *b = hostbuf(v);
          if ((error = opaque(b->data, std::max(0, static_cast<int>(b->length)), isnull)) != 0)
            break;
          return 0;
        }
        if (t == sql_type_lvarchar) {
          int n = 0;
          if (!isnull &&
              (error = truncchar(v->sqldata, text_length(v), lvarchar_cut, &n, tcb)) != 0)
            break;
          if ((error = opaque(v->sqldata, n, isnull)) != 0) break;
          return 0;
        }
        break;
      case sql_type_fixed_udt:
        if ((error = opaque(v->sqldata, std::max(0, static_cast<int>(v->sqllen)), isnull)) != 0)
          break;
        return 0;
      case sql_type_boolean:
        if ((error = opaque(v->sqldata, 1, isnull)) != 0) break;
        return 0;
      default:
        break;
    }
  }
  if (error == 0) {
    value_t value {};
    error = _sqhostval(v, &value);
    if (error == 0 && isnull) value.vind = -1;
    if (error == 0)
      error = rvaltuple(&value, pos, t, collen, source, xid, xname, static_cast<int>(v->sqllen),
                        tcb, room);
  }
  if (error == 0) return 0;
  _sqcvterror(handle, error, tcb);
  return -1;
}

/* ---- Buffer ----------------------------------------------------------------------------- */

int size_tuple_buffer(void *handle, int count, sqlvar_struct *vars, sqli_tcb *tcb) {
  sqli_cursor *c = sqli_handle_cursor(handle);
  const auto *cols = static_cast<const dbfd *>(c->coldesc);
  int64_t wanted = c->rowsize;
  for (int i = 0; i < count && i < c->ncols; ++i) {
    const int coltype = cols[i].type & 0xFF;
    const int room = value_room(&vars[i], coltype, cols[i].length, tcb);
    if (room < 0) return -1;
    wanted += room;
  }
  if (wanted > INT32_MAX / 2) return _iqseterr(SQLI_E_NOMEM), -1;
  if (c->rowlen_table != nullptr && c->rowlen_table[rowlen_index] >= 0 &&
      int64_t {c->rowlen_table[rowlen_total]} + wanted > c->bufsize) {
    /* The buffered rows go first: the buffer then holds this row alone. */
    if (_sqcurflush(handle, tcb) < 0) return -1;
    _sqr_messages(c, 0, tcb);
    if (!sqli_cursor_alive(c, tcb) || *tcb->sqlcode < 0) return -1;
  }
  return allocate_var_tuple_buffer(c, static_cast<int>(wanted), tcb);
}

int _sqcurflush(void *handle, sqli_tcb *tcb) {
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) return _iqseterr(e_no_record);
  if (_sqs_(0, tcb) != 0) return *tcb->sqlcode;
  _sqs_id(c->stmt_id, tcb);
  if ((caps(tcb) & sqli_cap_extended) != 0 && (c->flags & sqli_cur_rtypes_sent) == 0 &&
      c->ncols > 0) {
    int notneeded = 0;
    if (_sqs_rettype(c, 0, nullptr, SQLI_RT_SEND | SQLI_RT_OWN_LIST, &notneeded, tcb) != 0)
      return *tcb->sqlcode;
    c->flags |= sqli_cur_rtypes_sent;
  }
  _sqs_put(c, tcb);
  c->bufpos = c->buffer;
  if (c->ncols == 0) {
    c->nbuffered = 0;
  } else if (c->nvarlen_cols > 0) {
    if (int32_t *t = c->rowlen_table; t != nullptr) {
      std::fill(t + rowlen_first, t + rowlen_first + t[rowlen_capacity], 0);
      t[rowlen_total] = 0;
      t[rowlen_index] = -1;
    }
    c->nbuffered = 0;
  } else {
    c->nbuffered = static_cast<int16_t>(c->rowsize > 0 ? c->bufsize / c->rowsize : 0);
  }
  return *tcb->sqlcode;
}

int _sqcvterror(void *handle, int code, sqli_tcb *tcb) {
  sqli_cursor *c = sqli_handle_cursor(handle);
  int rows = 0;
  if (c->nvarlen_cols > 0 && c->rowlen_table != nullptr)
    rows = c->rowlen_table[rowlen_index] + 1;
  else if (c->rowsize > 0 && c->buffer != nullptr)
    rows = static_cast<int>((c->bufpos - c->buffer) / c->rowsize);
  if (rows > 0) {
    if (_sqcurflush(handle, tcb) < 0) return rows;
    _sqr_messages(c, optmsg(tcb), tcb);
    if (*tcb->sqlcode < 0) return rows; /* the flush's own failure stands */
  }
  _iqseterr(code);
  tcb->sqlca->sqlerrd[2] = rows;
  return rows;
}

/* ---- One row ------------------------------------------------------------------------------- */

namespace {

/* A character value converted for the server, or with an incomplete last
** character blanked, in a copy of its own that the row converts instead. */
struct TextCopy {
  std::vector<char> bytes;
  sqlvar_struct var {};
};

/* Prepares a character value for the row: converted for the server into
** room bytes when convert is set (a character column) and a converter is
** in use, else with an incomplete last character blanked in a multibyte
** locale. The copy is in *copy (then *use points at its variable), or
** there is nothing to do. 0, or the error (-23103, -1279). */
int prepare_text(const sqlvar_struct *v, bool convert, int room, sqli_tcb *tcb, TextCopy *copy,
                 const sqlvar_struct **use) {
  const int host = v->sqltype & 0xFF;
  int n = host == host_type_fixchar ? text_length(v) : text_length(v) + 1;
  const char *data = text_data(v);
  gl_cv_desc *cv = convert && _sqdbapi == 0 ? sqli_client_db_converter() : nullptr;
  if (cv != nullptr && n > 0) {
    copy->bytes.assign(static_cast<size_t>(room) + 1, '\0');
    int len = host == host_type_fixchar ? n : n - 1;
    int truncated = 0;
    const int out = gcv_extbuf(cv, data, &len, copy->bytes.data(), room, &truncated);
    if (out < 0) return e_cv_failed;
    if (truncated != 0 && sqli_ansi_db(tcb) != 0) return e_too_long_ansi;
    copy->bytes[static_cast<size_t>(out)] = '\0';
    copy->var = *v;
    if (host == host_type_lvarchar_ptr) copy->var.sqltype = host_type_char;
    copy->var.sqllen = host == host_type_fixchar ? out : out + 1;
    copy->var.sqldata = copy->bytes.data();
    *use = &copy->var;
    return 0;
  }
  gl_locale *loc = multibyte_locale();
  const int len = text_length(v);
  if (loc == nullptr || len == 0) return 0;
  /* The last character: found from the last byte; when it cannot be
  ** decoded, walk to the first place where fewer bytes are left than a
  ** character may take and the rest does not decode. */
  const auto *start = reinterpret_cast<const unsigned char *>(data);
  const unsigned char *end = start + len;
  int clen = 0;
  const int offset = gl_full_charoffset(loc, start, end - 1, &clen);
  int last = len - 1 - offset;
  if (offset >= 0 && (clen <= 0 || last + clen <= len)) return 0; /* ends on a whole character */
  if (offset < 0) {
    const unsigned char *p = start;
    while (p < end) {
      const unsigned char *next = _dvz_gl_full_mbsnext(loc, p, static_cast<int>(end - p));
      if (next == nullptr) break;
      p = next;
    }
    if (p >= end || end - p >= gl_mb_loc_max(loc)) return 0; /* not an incomplete end */
    last = static_cast<int>(p - start);
  }
  copy->bytes.assign(data, data + len);
  std::fill(copy->bytes.begin() + last, copy->bytes.end(), ' ');
  copy->bytes.push_back('\0');
  copy->var = *v;
  if (host == host_type_lvarchar_ptr) copy->var.sqltype = host_type_char;
  copy->var.sqllen = host == host_type_fixchar ? len : len + 1;
  copy->var.sqldata = copy->bytes.data();
  *use = &copy->var;
  return 0;
}

/* The bytes the field at pos takes in the row. */
int field_advance(const char *pos, int type, int len, bool rt, bool pad) {
  const int t = type & 0xFF;
  const auto be32 = [](const char *p) { return dvz_ld_be_i32(p); };
  if (rt && (coll_sql(t) || t == sql_type_row)) return be32(pos) + 4;
  if (rt && extended_sql(t)) return be32(pos + 1) + 5;
  if (!rt && t == sql_type_lvarchar) return be32(pos + 1) + 5;
  if (pad && varchar_sql(t)) return static_cast<unsigned char>(pos[0]) + 1;
  if (!rt && extended_sql(t)) return be32(pos + 1) + 5;
  return gettupsize(t, len);
}

}  // namespace

void _sqbufftup(void *handle, int count, sqlvar_struct *vars, value_t *values, int rt,
                sqli_tcb *tcb) {
  (void)values;
  sqli_cursor *c = sqli_handle_cursor(handle);
  const bool varrows = c->nvarlen_cols > 0;
  if (varrows) {
    if (size_tuple_buffer(handle, count, vars, tcb) != 0) return;
  } else if (c->rowsize > 0 && (c->buffer == nullptr || c->bufsize < c->rowsize)) {
    _iqseterr(SQLI_E_NOMEM);
    return;
  } else if (c->rowsize > 0 && c->buffer + c->bufsize - c->bufpos < c->rowsize) {
    /* A full buffer not yet sent (its flush failed): send it first. */
    if (_sqcurflush(handle, tcb) < 0 || _sqr_messages(c, 0, tcb) < 0) return;
  }
  if ((caps(tcb) & 0x200) == 0 && validate_cl_idents(count, vars, tcb) != 0) return;
  if (validate_cl_types(count, vars, tcb) != 0) return;
  if (validate_floats(count, vars, tcb) != 0) return;

  const auto *cols = static_cast<const dbfd *>(c->coldesc);
  const bool pad = pad_varchar(tcb);
  char *const row = c->bufpos;
  char *const limit = varrows ? c->buffer + c->bufsize : row + c->rowsize;
  char *pos = row;
  int blobs = 0;
  for (int i = 0; i < count && i < c->ncols && (rt == 0 || i < c->nrtypes); ++i) {
    sqlvar_struct *v = &vars[i];
    const sqlvar_struct *entry = rt != 0 ? &c->rtypes[i] : nullptr;
    const bool accepted = entry != nullptr && entry->sqlitype == 1;
    const int coltype = accepted ? entry->sqltype & 0xFF : cols[i].type & 0xFF;
    const int collen = accepted ? static_cast<int>(entry->sqllen) : cols[i].length;
    const int host = v->sqltype & 0xFF;
    int32_t saved_len = v->sqllen;
    int32_t saved_qual = v->sqllen;
    bool restore = false;
    const auto put_back = [&] {
      if (restore) v->sqllen = saved_len;
      (void)saved_qual;
    };

    if (v->sqldata == nullptr && !(has_indicator(v) && indicator_of(v) < 0)) {
      _sqcvterror(handle, e_no_indicator, tcb);
      return;
    }
    const int hsql = host_sql(v);
    if (accepted && (char_sql(hsql) || hsql == sql_type_lvarchar) && v->sqllen == 0 &&
        v->sqldata != nullptr) {
      v->sqllen = text_length(v) + 1;
      restore = true;
    }
    if (rt != 0) {
      int16_t word = 0;
      const int xid = _sqstype(v->sqltype, v->sqldata, &word, 0, v->sqlxid, tcb);
      const bool check = accepted || coll_sql(hsql) || hsql == sql_type_row || extended_sql(hsql) ||
                         (hsql == sql_type_lvarchar && coltype == sql_type_lvarchar);
      if (check && entry != nullptr && chkrettype(v, entry, xid) != 0) {
        put_back();
        clear_code(tcb); /* reported below, after the rows before it are sent */
        _sqcvterror(handle, SQLI_E_RETTYPE, tcb);
        return;
      }
      const bool qualified = hsql == sql_type_datetime || hsql == sql_type_interval;
      if (accepted && (char_sql(hsql) || qualified) && v->sqllen != entry->sqllen) {
        const bool wide_varchar = varchar_sql(hsql) && v->sqllen >= 256 && entry->sqllen == 255;
        if (checknull(&saved_len, &saved_qual, entry->sqllen, hsql, v) == 0) {
          restore = true;
        } else if (!wide_varchar) {
          put_back();
          _sqcvterror(handle, SQLI_E_RETTYPE, tcb);
          return;
        }
      }
    }

    /* The room of the field before anything is written. */
    int room = 0;
    if (host == host_type_locator || host == host_type_file)
      room = TBLOB_STORED_SIZE;
    else if (varrows)
      room = value_room(v, coltype, collen, tcb);
    else
      room = gettupsize(coltype, collen);
    if (room < 0 || room > limit - pos) {
      put_back();
      if (room >= 0) _sqcvterror(handle, e_convert, tcb);
      return;
    }

    int size = 0;
    if (host == host_type_locator || host == host_type_file) {
      const int bt = blob_sql(coltype) ? coltype : cols[i].xid;
      if (!blob_sql(bt)) {
        put_back();
        _sqcvterror(handle, e_blob_column, tcb);
        return;
      }
      tblob_desc_t desc {};
      const auto *loc = reinterpret_cast<const loc_t *>(v->sqldata);
      const bool null_value = (has_indicator(v) && indicator_of(v) < 0) || v->sqldata == nullptr ||
                              (host == host_type_locator && loc->indicator == -1);
      if (host == host_type_locator && loc != nullptr && (loc->open_flags & locator_marked) != 0)
        desc.tb_flags = blob_flag_marked;
      else if (null_value)
        desc.tb_flags = blob_flag_null;
      else
        ++blobs;
      tblobstore(&desc, pos);
      size = TBLOB_STORED_SIZE;
    } else {
      const sqlvar_struct *use = v;
      TextCopy copy;
      if (char_sql(hsql) || hsql == sql_type_lvarchar) {
        if (v->sqldata != nullptr && !value_is_null(v)) {
          const int conv_room = coltype == sql_type_lvarchar ? converted_room(text_length(v))
                                : accepted
                                    ? static_cast<int>(entry->sqllen)
                                    : std::max(collen & (varchar_sql(coltype) ? 0xFF : ~0), 0);
          if (const int error = prepare_text(v, char_sql(coltype) || coltype == sql_type_lvarchar,
                                             conv_room, tcb, &copy, &use);
              error != 0) {
            put_back();
            _sqcvterror(handle, error, tcb);
            return;
          }
        }
      }
      if (_sqcvardata(handle, const_cast<sqlvar_struct *>(use), pos, coltype, collen, tcb,
                      cols[i].source, cols[i].xid, cols[i].type_name,
                      varrows ? static_cast<int>(limit - pos) : room) != 0) {
        put_back();
        return;
      }
      size = field_advance(pos, coltype, collen, rt != 0, pad);
      if (size < 0 || size > room) { /* never past what was reserved */
        put_back();
        _sqcvterror(handle, e_convert, tcb);
        return;
      }
    }
    put_back();
    pos += size;
  }

  if (varrows) {
    int32_t *t = c->rowlen_table;
    const int32_t len = static_cast<int32_t>(pos - row);
    t[rowlen_index] += 1;
    t[rowlen_first + t[rowlen_index]] = len;
    t[rowlen_total] += len;
    c->nbuffered = static_cast<int16_t>(c->nbuffered + 1);
    c->bufpos = pos;
  } else {
    /* Columns without a value are zero, never bytes of an earlier row. */
    std::memset(pos, 0, static_cast<size_t>(row + c->rowsize - pos));
    c->nbuffered = static_cast<int16_t>(c->nbuffered - 1);
    c->bufpos = row + c->rowsize;
  }

  if (blobs > 0 || (!varrows && c->nbuffered <= 0)) {
    if (_sqcurflush(handle, tcb) < 0) return;
    if (blobs > 0) {
      const int error = _sqs_tupblob(count, vars, 0, tcb);
      if (error < 0) {
        _sqr_messages(c, 0, tcb);
        clear_code(tcb);
        _sqcvterror(handle, error, tcb);
        return;
      }
    }
    _sqr_messages(c, 0, tcb);
  }
}

/* ---- PUT ------------------------------------------------------------------------------------ */

int _sqinsput(void *handle, sqlda *input, value_t *values, sqli_tcb *tcb) {
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) return _iqseterr(e_no_record);
  const bool insert = c->stmt_type == 6 || c->stmt_type == 56;
  if ((c->flags & sqli_cur_open) == 0)
    return _iqseterr(!insert && c->deferred_open == 1 ? e_not_insert : e_not_open);
  if (!insert) return _iqseterr(e_not_insert);
  int count = c->nin;
  sqlvar_struct *vars = c->inlist;
  if (input != nullptr && input->sqld > 0) {
    count = input->sqld;
    vars = input->sqlvar;
  }
  if (c->ncols == 0) {
    c->nbuffered = static_cast<int16_t>(c->nbuffered + 1);
    if (c->nbuffered >= max_counted_rows && _sqcurflush(handle, tcb) >= 0) _sqr_messages(c, 0, tcb);
    return *tcb->sqlcode;
  }
  if (count <= 0 || vars == nullptr) {
    _sqcvterror(handle, e_no_values, tcb);
    return *tcb->sqlcode;
  }
  int rt = 0;
  if ((caps(tcb) & sqli_cap_extended) != 0) {
    if (count != c->ncols) return _iqseterr(SQLI_E_QMARKS);
    if ((caps(tcb) & sqli_cap_free_a) == 0) {
      if (sendrettype(c, tcb, count, vars, SQLI_RT_OWN_LIST | SQLI_RT_COPY | SQLI_RT_CHECK_QUAL) !=
          0)
        return *tcb->sqlcode;
      rt = c->rtypes != nullptr ? 1 : 0;
    }
  }
  _sqbufftup(handle, count, vars, values, rt, tcb);
  return *tcb->sqlcode;
}

int _iqinsput(void *handle, int count, sqlvar_struct *vars, sqlda *input, value_t *values) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  sqlda temp {};
  if (input == nullptr && count > 0 && vars != nullptr) {
    temp.sqld = static_cast<int16_t>(count);
    temp.sqlvar = vars;
    temp.desc_occ = static_cast<int16_t>(count);
    input = &temp;
  }
  return _sqinsput(handle, input, values, tcb);
}

extern "C" int32_t sqli_curs_put(int32_t, void *handle, sqlda *input, const char *descname) {
  int32_t early = 0;
  sqli_tcb *tcb = sqli_cursor_call_begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && c->coll_mark == 1) {
    dvz_cl_put(c, input, descname, tcb);
    return sqli_cursor_call_finish(tcb);
  }
  if (descname != nullptr) {
    input = _iqdlocate(descname, tcb);
    if (input == nullptr) return sqli_cursor_call_fail(SQLI_E_NODESC, tcb);
  }
  _iqinsput(handle, 0, nullptr, input, nullptr);
  return sqli_cursor_call_finish(tcb);
}
