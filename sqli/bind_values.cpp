/*
** bind_values.cpp: the bind values of a request: the list (message 5, or
** the list after message 33) from descriptor entries or value records,
** the type word of each value, character fields, variable-length binary
** values and the check that float values are finite. The whole list is
** checked before its first byte is written.
*/
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gen_collection.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_int8.h"
#include "gen_null_forms.h"
#include "gen_types.h"
#include "locator.h"
#include "sqli_bind.h"
#include "sqli_collection_checks.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_send.h"

namespace {

constexpr int err_smallfloat = -1222;
constexpr int err_float = -1223;
constexpr int err_too_long_ansi = -1279;
constexpr int char_cut = 32767;
constexpr int lbuf_max = 65535;
constexpr int host_nonsql = 200;
/* Capabilities: extended types; collection identifiers need no check. */
constexpr int32_t cap_extended = 0x4;
constexpr int32_t cap_no_ident_check = 0x200;
/* A type word flag that is kept on the wire. */
constexpr int type_flag_kept = 0x8000;
/* Precision words of the fixed-size numbers. */
constexpr int prec_smallint = 0x0500;
constexpr int prec_integer = 0x0A00;
constexpr int prec_int8 = 0x1300;
/* Blob descriptor flag of a locator asking for the whole value. */
constexpr int blob_flag_locator = 16;
constexpr int loc_flag_whole = 0x20;

bool cut_type(int t) { return t == sql_type_char || t == sql_type_nchar; }
bool char_host(int host) {
  return host == host_type_char || host == host_type_fixchar || host == host_type_string ||
         host == host_type_varchar || host == host_type_lvarchar;
}

int sqlcode(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }

/* A DECIMAL, sent as the NULL DECIMAL when its digit count is impossible. */
void put_decimal(pipe_vbles *pipe, const dec_t *value) {
  if (value->npairs < 0 || value->npairs > DECSIZE) {
    dec_t null_value {};
    null_value.sign = -1;
    _iputdecimal(&null_value, pipe);
    return;
  }
  _iputdecimal(value, pipe);
}

/* FLOAT and SMALLFLOAT as the DECIMAL of their value: its precision word
** and the DECIMAL. */
void put_float_as_decimal(pipe_vbles *pipe, double value, bool small) {
  dec_t d {};
  if ((small ? deccvflt(value, &d) : deccvdbl(value, &d)) != 0) d.sign = -1;
  sqli_put16(pipe, d.sign == -1 ? 0 : dec2prec(&d));
  put_decimal(pipe, &d);
}

/* A blob descriptor of zeros but for its flag word. */
void put_blob(pipe_vbles *pipe, int flags) {
  tblob_desc_t desc {};
  desc.tb_flags = static_cast<int16_t>(flags);
  _iputblob(&desc, pipe);
}

/* The i16 indicator of an entry without an indicator pointer but with an
** indicator variable of another type; 0 when there is neither. */
int16_t entry_indicator(const sqlvar_struct *entry, bool *ok) {
  *ok = true;
  if (entry->sqlidata == nullptr || entry->sqlitype == 0) return 0;
  int16_t ind = 0;
  if (_sqvar2var(entry->sqlidata, entry->sqlitype, entry->sqlilen, reinterpret_cast<char *>(&ind),
                 host_type_short, sizeof ind) != 0)
    *ok = false;
  return ind;
}

/* strnlen without a call for the short texts most values are: the bytes
** before the first NUL among the first max (which are all readable). */
[[gnu::always_inline]] inline size_t bounded_length(const char *s, size_t max) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    constexpr size_t inline_max = 64;
    size_t at = 0;
    for (; at + 8 <= max && at < inline_max; at += 8) {
      uint64_t w;
      std::memcpy(&w, s + at, sizeof w);
      /* The lowest byte flagged is the first NUL: a false flag can only
      ** follow a real one. */
      if (const uint64_t zero = (w - ones) & ~w & highs; zero != 0)
        return at + static_cast<size_t>(std::countr_zero(zero)) / 8;
    }
    if (at < inline_max) { /* fewer than 8 left: two overlapping words of 4 */
      if (max - at >= 4) {
        constexpr uint32_t ones4 = 0x01010101U, highs4 = 0x80808080U;
        for (const size_t from : {at, max - 4}) {
          uint32_t w;
          std::memcpy(&w, s + from, sizeof w);
          if (const uint32_t zero = (w - ones4) & ~w & highs4; zero != 0)
            return from + static_cast<size_t>(std::countr_zero(zero)) / 8;
        }
        return max;
      }
      for (; at < max; ++at)
        if (s[at] == '\0') break;
      return at;
    }
    return at + strnlen(s + at, max - at);
  } else {
    return strnlen(s, max);
  }
}

/* memcpy of n bytes without a call when n is small: overlapping copies of
** fixed size, each within the n bytes. */
[[gnu::always_inline]] inline void copy_text(unsigned char *to, const char *from, size_t n) {
  if (n >= 8 && n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n < 4) {
    for (size_t i = 0; i < n; ++i)
      to[i] = static_cast<unsigned char>(from[i]);
  } else {
    std::memcpy(to, from, n);
  }
}

/* Length of a character value of host type host (entry length len). */
[[gnu::always_inline]] inline int char_length(const char *data, int host, int32_t len) {
  switch (host) {
    case host_type_fixchar:
      return len > 0 ? len : 0;
    case host_type_string:
      return static_cast<int>(std::strlen(data));
    default:
      return len > 0 ? static_cast<int>(bounded_length(data, static_cast<size_t>(len)))
                     : static_cast<int>(std::strlen(data));
  }
}

/* The value of an entry whose SQL type is not NULL, after its indicator. */
void put_entry_value(const sqlvar_struct *entry, int sql, int host, pipe_vbles *pipe, sqli_tcb *tcb,
                     int *convert_error) {
  const char *data = entry->sqldata;
  switch (sql) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
      sqli_put16(pipe, 0);
      *convert_error =
          putchstr(data, char_length(data, host, entry->sqllen), 0, 0, tcb, cut_type(sql));
      break;
    case sql_type_smallint: {
      int16_t v;
      std::memcpy(&v, data, sizeof v);
      sqli_put16(pipe, prec_smallint);
      sqli_put16(pipe, v);
      break;
    }
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date: {
      int32_t v;
      std::memcpy(&v, data, sizeof v);
      sqli_put16(pipe, prec_integer);
      sqli_put32(pipe, v);
      break;
    }
    case sql_type_float:
    case sql_type_smallfloat: {
      double v;
      if (sql == sql_type_smallfloat) {
        float f;
        std::memcpy(&f, data, sizeof f);
        v = f;
      } else {
        std::memcpy(&v, data, sizeof v);
      }
      if (sqli_float_as_decimal(tcb)) {
        put_float_as_decimal(pipe, v, sql == sql_type_smallfloat);
      } else {
        sqli_put16(pipe, 0);
        if (sql == sql_type_smallfloat) {
          _iputfloat(v, pipe);
        } else {
          _iputdbl(v, pipe);
        }
      }
      break;
    }
    case sql_type_decimal:
    case sql_type_money: {
      dec_t d;
      std::memcpy(&d, data, sizeof d);
      sqli_put16(pipe, entry->sqllen == static_cast<int32_t>(sizeof(dec_t)) ? dec2prec(&d)
                                                                            : entry->sqllen);
      put_decimal(pipe, &d);
      break;
    }
    case sql_type_datetime:
    case sql_type_interval: {
      dtime_t dt;
      std::memcpy(&dt, data, sizeof dt);
      sqli_put16(pipe, dt.dt_qual);
      put_decimal(pipe, &dt.dt_dec);
      break;
    }
    case sql_type_byte:
    case sql_type_text: {
      int flags = 0;
      if (host == host_type_locator &&
          (reinterpret_cast<const loc_t *>(data)->open_flags & loc_flag_whole) != 0)
        flags = blob_flag_locator;
      sqli_put16(pipe, 0);
      put_blob(pipe, flags);
      break;
    }
    case sql_type_int8:
    case sql_type_serial8: {
      dvz_int8_t v;
      std::memcpy(&v, data, sizeof v);
      sqli_put16(pipe, prec_int8);
      _iputint8(&v, pipe);
      break;
    }
    case sql_type_variable_udt:
      sqli_put16(pipe, 0);
      _sqs_binary(reinterpret_cast<const dvz_hostbuf_t *>(data), tcb);
      break;
    case sql_type_fixed_udt:
      sqli_put16(pipe, 0);
      sqli_put32(pipe, entry->sqllen);
      _iputpbuf(data, entry->sqllen, pipe);
      break;
    case sql_type_lvarchar: {
      const char *text = data;
      int len;
      if (host == host_type_lvarchar_ptr) {
        text = reinterpret_cast<const dvz_hostbuf_t *>(data)->data;
        if (text == nullptr) text = "";
        len = static_cast<int>(std::strlen(text));
      } else {
        len = char_length(text, host, entry->sqllen);
      }
      sqli_put16(pipe, 0);
      *convert_error = putchstr(text, len, 1, 1, tcb, 0);
      break;
    }
    case sql_type_boolean:
      sqli_put16(pipe, 0);
      sqli_put32(pipe, 1);
      _iputbyte(static_cast<unsigned char>(data[0]), pipe);
      _iputpad(pipe);
      break;
    default:
      if (sqli_collection_type(sql)) {
        auto *coll = reinterpret_cast<dvz_coll_t *>(entry->sqldata);
        dvz_coll_tuple(coll);
        sqli_put16(pipe, 0);
        _iputcollection(coll, pipe);
      }
      break;
  }
}

/* How the one-pass list writer handles a host type: the common types it
** writes itself, or none (the general path). */
enum class FastKind : unsigned char { none, smallint, integer, int8, dbl, flt, decimal, text };
struct HostKind {
  FastKind kind;
  unsigned char sql;
  bool form_on_zero; /* an indicator of 0 leaves the NULL form to test */
};
/* One entry per host type code (the low byte of a type word). */
using KindTable = std::array<HostKind, 256>;

/* The kind, SQL type and indicator rule of host type host, from the value
** library's mapping (constant tables). */
HostKind host_kind(int host) {
  const int sql = host < host_nonsql ? rtosqltype(host) : -1;
  FastKind kind = FastKind::none;
  switch (sql) {
    case sql_type_smallint:
      kind = FastKind::smallint;
      break;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      kind = FastKind::integer;
      break;
    case sql_type_int8:
    case sql_type_serial8:
      kind = FastKind::int8;
      break;
    case sql_type_float:
      kind = FastKind::dbl;
      break;
    case sql_type_smallfloat:
      kind = FastKind::flt;
      break;
    case sql_type_decimal:
    case sql_type_money:
      kind = FastKind::decimal;
      break;
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
      kind = FastKind::text;
      break;
    default:
      break;
  }
  return {kind, static_cast<unsigned char>(sql < 0 ? 0 : sql), !char_host(host)};
}

/* Every host type's kind, worked out once at load. */
const KindTable host_kinds = [] {
  KindTable t {};
  for (int host = 0; host < 256; ++host)
    t[static_cast<size_t>(host)] = host_kind(host);
  return t;
}();

/* The plan of a list, decided once per list from the connection's
** settings: host_kinds with the kinds that must take the general path set
** to none, so that each value's eligibility is one look-up. Indexed by
** plan_index. */
const std::array<KindTable, 4> list_plans = [] {
  std::array<KindTable, 4> plans {};
  for (int i = 0; i < 4; ++i) {
    const bool float_as_decimal = (i & 1) != 0, converting = (i & 2) != 0;
    plans[static_cast<size_t>(i)] = host_kinds;
    for (HostKind &k : plans[static_cast<size_t>(i)]) {
      if ((float_as_decimal && (k.kind == FastKind::dbl || k.kind == FastKind::flt)) ||
          (converting && k.kind == FastKind::text))
        k.kind = FastKind::none;
    }
  }
  return plans;
}();
int plan_index(bool float_as_decimal, bool converting) {
  return (float_as_decimal ? 1 : 0) | (converting ? 2 : 0);
}

/* The value library's NULL form of a variable of a common kind, tested
** inline since every list value is tested, without risnull's look-up. */
[[gnu::always_inline]] inline bool kind_null_form(FastKind kind, const char *p) {
  switch (kind) {
    case FastKind::smallint:
      return dvz_null::smallint(p);
    case FastKind::integer:
      return dvz_null::integer(p);
    case FastKind::int8:
      return dvz_null::int8(p);
    case FastKind::dbl:
      return dvz_null::floating(p);
    case FastKind::flt:
      return dvz_null::smallfloat(p);
    case FastKind::decimal:
      return dvz_null::decimal(p);
    default: /* text */
      return dvz_null::text(p);
  }
}

/* risnull for a variable of host type host. */
bool holds_null_form(int host, const char *p) {
  const FastKind kind =
      host >= 0 && host < host_nonsql ? host_kinds[static_cast<size_t>(host)].kind : FastKind::none;
  return kind == FastKind::none ? risnull(host, p) != 0 : kind_null_form(kind, p);
}

/* NULL test of a descriptor entry. */
bool entry_is_null(const sqlvar_struct *entry, int host, const int16_t *ind) {
  if (entry->sqldata == nullptr) return true;
  if (ind == nullptr) return holds_null_form(host, entry->sqldata);
  if (*ind < 0) return true;
  if (*ind == 0 && !char_host(host)) return holds_null_form(host, entry->sqldata);
  return false;
}

/* A value record's float that the server could not store. */
int check_value_floats(int count, const value_t *values, bool as_decimal) {
  for (int i = 0; i < count; ++i) {
    const value_t &v = values[i];
    const int t = v.vtype & 0xFF;
    if (v.vind < 0 || (t != sql_type_float && t != sql_type_smallfloat)) continue;
    const double x = t == sql_type_float ? v.vdouble : v.vfloat;
    if (!is_valid_double(x)) return t == sql_type_float ? err_float : err_smallfloat;
    dec_t d {};
    if (as_decimal) {
      if (const int error = t == sql_type_float ? deccvdbl(x, &d) : deccvflt(x, &d); error != 0)
        return error;
    }
  }
  return 0;
}

/* What a whole list shares: read once, not per value. */
struct ListContext {
  pipe_vbles *pipe;
  const KindTable *plan; /* list_plans entry of the connection's settings */
  bool float_as_decimal;
  int names_flag; /* the type flag that adds type names to a value */
};

/* Room a value of a kind other than text may need in place: a DECIMAL of
** DECSIZE digit pairs, its exponent byte and a pad after its 8-byte head. */
constexpr ptrdiff_t fixed_value_max = 8 + (DECSIZE + 1) + 1;

/* The head of a value that is not NULL: type word, indicator 0 and the
** precision word. */
[[gnu::always_inline]] inline void put_head(unsigned char *p, int word, int prec) {
  dvz_st_be_u32(static_cast<uint32_t>(word & 0xFFFF) << 16, p);
  dvz_st_be_u16(static_cast<uint16_t>(prec), p + 4);
}

/* A common value of a descriptor entry written whole at p, before end,
** in one step: the integers, the floats, DECIMAL and MONEY and character
** texts that need no conversion, NULL or not, without a converted
** indicator or type names, passing the checks of the general path. The
** bytes are those of the general path. Returns their count, or 0 when the
** value takes the general path (nothing is then to be taken from p).
** Inlined into both callers, so that the list loop dispatches once a value. */
template <bool check_room = true>
[[gnu::always_inline]] inline int put_value_in_place(const ListContext &c, const sqlvar_struct &e,
                                                     unsigned char *p, const unsigned char *end) {
  const int type = e.sqltype;
  /* Read in place: a copy spilled to the stack costs a stalled reload. */
  const HostKind &hk = (*c.plan)[static_cast<unsigned>(type) & 0xFFU];
  const FastKind kind = hk.kind;
  if (kind == FastKind::none || (type & c.names_flag) != 0) return 0;
  const int16_t *ind = e.sqlind;
  const char *data = e.sqldata;
  /* NULL as the general path decides it: no data or a negative
  ** indicator (state -1); else the NULL form is tested (state 0) when
  ** there is no indicator, or a zero one on a type that is not
  ** character; else a value (state 1). */
  int state;
  if (ind == nullptr) {
    if (e.sqlidata != nullptr && e.sqlitype != 0) return 0; /* an indicator to convert */
    state = 0;
  } else {
    state = *ind < 0 ? -1 : *ind == 0 && hk.form_on_zero ? 0 : 1;
  }
  if (data == nullptr) state = -1;
  /* One room check covers every kind but text, which checks its own
  ** (without check_room the caller has made sure of it). */
  if (check_room && kind != FastKind::text && end - p < fixed_value_max) return 0;
  const int word = hk.sql | (type & (type_flag_kept | sqli_type_keepxid));
  /* A float is checked unless NULL by an indicator of -1 or by its form,
  ** as the general path checks it. */
  const bool float_checked = data != nullptr && (ind == nullptr || *ind != -1);
  unsigned char *v = p + 6;
  switch (kind) {
    case FastKind::smallint:
      if (state < 0 || (state == 0 && dvz_null::smallint(data))) break;
      put_head(p, word, prec_smallint);
      dvz_st_be_u16(dvz_null::field_at<uint16_t>(data, 0), v);
      return 8;
    case FastKind::integer:
      if (state < 0 || (state == 0 && dvz_null::integer(data))) break;
      put_head(p, word, prec_integer);
      dvz_st_be_u32(dvz_null::field_at<uint32_t>(data, 0), v);
      return 10;
    case FastKind::int8: {
      if (state < 0 || (state == 0 && dvz_null::int8(data))) break;
      dvz_int8_t x;
      std::memcpy(&x, data, sizeof x);
      put_head(p, word, prec_int8);
      stint8(&x, v);
      return 16;
    }
    case FastKind::dbl: {
      if (float_checked && !dvz_null::floating(data) &&
          !std::isfinite(dvz_null::field_at<double>(data, 0)))
        return 0;
      if (state < 0 || (state == 0 && dvz_null::floating(data))) break;
      put_head(p, word, 0);
      network_stdbl(dvz_null::field_at<double>(data, 0), v, c.pipe->float_format);
      return 14;
    }
    case FastKind::flt: {
      if (float_checked && !dvz_null::smallfloat(data) &&
          !std::isfinite(dvz_null::field_at<float>(data, 0)))
        return 0;
      if (state < 0 || (state == 0 && dvz_null::smallfloat(data))) break;
      put_head(p, word, 0);
      network_stfloat(dvz_null::field_at<float>(data, 0), v, c.pipe->float_format);
      return 10;
    }
    case FastKind::decimal: {
      if (state < 0 || (state == 0 && dvz_null::decimal(data))) break;
      dec_t d;
      std::memcpy(&d, data, sizeof d);
      if (d.npairs < 0 || d.npairs > DECSIZE) return 0;
      const int n = d.npairs + 1;
      put_head(p, word, e.sqllen == static_cast<int32_t>(sizeof(dec_t)) ? dec2prec(&d) : e.sqllen);
      dvz_st_be_u16(static_cast<uint16_t>(n), v);
      stdecimal(&d, v + 2, n);
      if ((n & 1) != 0) v[2 + n] = 0;
      return 8 + n + (n & 1);
    }
    default: { /* the character types */
      if (state < 0 || (state == 0 && dvz_null::text(data))) break;
      const int n = char_length(data, type & 0xFF, e.sqllen);
      if (n > char_cut) return 0;
      const int need = 8 + n + (n & 1);
      if (end - p < need) return 0;
      put_head(p, word, 0);
      dvz_st_be_u16(static_cast<uint16_t>(n), v);
      copy_text(v + 2, data, static_cast<size_t>(n));
      if ((n & 1) != 0) v[2 + n] = 0;
      return need;
    }
  }
  /* NULL: the type word, indicator -1 and precision 0. */
  if (kind == FastKind::text && end - p < 6) return 0;
  dvz_st_be_u32((static_cast<uint32_t>(word & 0xFFFF) << 16) | 0xFFFFU, p);
  dvz_st_be_u16(0, p + 4);
  return 6;
}

/* A whole list of descriptor entries (its code when with_code, its count,
** every value) written in place in one pass when every value goes by
** put_value_in_place and the send buffer holds it all. Returns false
** otherwise, with nothing taken from the buffer: the general path then
** checks and writes the list. Kept out of line: its loop then has the
** registers to itself. */
[[gnu::noinline]] bool put_list_fast(const ListContext &c, const sqlvar_struct *entries, int count,
                                     bool with_code) {
  pipe_vbles *pipe = c.pipe;
  if (pipe->send_broken != 0) return false;
  unsigned char *const start = pipe->outptr;
  const unsigned char *const end = start + pipe->outleft;
  unsigned char *p = start;
  if (end - p < 4) return false;
  if (with_code) {
    dvz_st_be_u16(SQ_BIND, p);
    p += 2;
  }
  dvz_st_be_u16(static_cast<uint16_t>(count), p);
  p += 2;
  /* With room for every value at its largest but texts, no value checks
  ** its own: each is written before a limit that keeps that room for the
  ** values after it, which a long text must leave too. */
  if ((end - p) / fixed_value_max >= count) {
    const unsigned char *limit = end - fixed_value_max * (count - 1);
    for (const sqlvar_struct *e = entries, *last = entries + count; e != last; ++e) {
      const int n = put_value_in_place<false>(c, *e, p, limit);
      if (n == 0) return false;
      p += n;
      limit += fixed_value_max;
    }
  } else {
    for (const sqlvar_struct *e = entries, *last = entries + count; e != last; ++e) {
      const int n = put_value_in_place(c, *e, p, end);
      if (n == 0) return false;
      p += n;
    }
  }
  sqli_commit(pipe, static_cast<int>(p - start));
  return true;
}

/* The shared state of a list on the current connection. */
ListContext list_context(pipe_vbles *pipe, const sqli_tcb *tcb) {
  ListContext c {};
  c.pipe = pipe;
  c.float_as_decimal = sqli_float_as_decimal(tcb) != 0;
  const bool converting = _sqdbapi != 0 || sqli_client_db_converter() != nullptr;
  c.plan = &list_plans[static_cast<size_t>(plan_index(c.float_as_decimal, converting))];
  c.names_flag = (tcb->curconn->capabilities & cap_extended) != 0 ? sqli_type_keepxid : 0;
  return c;
}

/* A finite-value check of one entry of SQL type sql: 0, -1222 or -1223.
** With as_decimal the value must also convert to a DECIMAL (else the
** conversion's error), so that none is lost once the list is begun. */
int float_error(const sqlvar_struct &e, int host, int sql, bool as_decimal = false) {
  if (sql != sql_type_float && sql != sql_type_smallfloat) return 0;
  if (e.sqlind != nullptr && *e.sqlind == -1) return 0;
  if (e.sqldata == nullptr || holds_null_form(host, e.sqldata)) return 0;
  double v;
  if (sql == sql_type_smallfloat) {
    float f;
    std::memcpy(&f, e.sqldata, sizeof f);
    v = f;
  } else {
    std::memcpy(&v, e.sqldata, sizeof v);
  }
  if (!is_valid_double(v)) return sql == sql_type_smallfloat ? err_smallfloat : err_float;
  if (!as_decimal) return 0;
  dec_t d {};
  return sql == sql_type_smallfloat ? deccvflt(v, &d) : deccvdbl(v, &d);
}

/* The collection checks of a list of descriptor entries: 0, or SQLCODE
** after recording the failure. */
int check_collections(int count, sqlvar_struct *entries, sqli_tcb *tcb) {
  if ((tcb->curconn->capabilities & cap_no_ident_check) == 0 &&
      validate_cl_idents(count, entries, tcb) != 0)
    return sqlcode(tcb);
  if (validate_cl_types(count, entries, tcb) != 0) return sqlcode(tcb);
  return 0;
}

/* The per-entry checks of a list of descriptor entries: 0, or SQLCODE
** after recording the failure. */
int check_entries(int count, const sqlvar_struct *entries, bool float_as_decimal, sqli_tcb *tcb) {
  /* The floats, a host kind without an SQL value (which cannot be sent),
  ** an indicator variable that cannot be read. */
  for (int i = 0; i < count; ++i) {
    const sqlvar_struct &e = entries[i];
    const int host = e.sqltype & 0xFF;
    if (host >= host_nonsql) return _iqseterr(SQLI_E_HOSTTYPE), sqlcode(tcb);
    const bool floating = host == host_type_float || host == host_type_double ||
                          host == sql_type_float || host == sql_type_smallfloat;
    if (const int error = floating ? float_error(e, host, rtosqltype(host), float_as_decimal) : 0;
        error != 0)
      return _iqseterr(error), sqlcode(tcb);
    if (e.sqlind == nullptr && e.sqlidata != nullptr && e.sqlitype != 0) {
      bool ok = true;
      entry_indicator(&e, &ok);
      if (!ok) return sqlcode(tcb);
    }
  }
  return 0;
}

}  // namespace

int sqli_check_bind_list(const sqlda *desc, const value_t *values, sqli_tcb *tcb) {
  if (desc == nullptr || desc->sqld <= 0 || sqli_outpipe(tcb) == nullptr) return 0;
  const int count = desc->sqld;
  sqlvar_struct *entries = desc->sqlvar;
  const bool float_as_decimal = sqli_float_as_decimal(tcb) != 0;
  if (entries == nullptr) {
    if (values == nullptr) return 0;
    if (const int error = check_value_floats(count, values, float_as_decimal); error != 0) {
      _iqseterr(error);
      return sqlcode(tcb);
    }
    return 0;
  }
  if (check_collections(count, entries, tcb) != 0) return sqlcode(tcb);
  return check_entries(count, entries, float_as_decimal, tcb);
}

extern "C" {

int _sqstype(int type, const char *data, int16_t *word, int write, int32_t xid, sqli_tcb *tcb) {
  const int host = type & 0xFF;
  const int sql = host < host_nonsql ? rtosqltype(host) : -1;
  int sent = sql;
  if ((sql == sql_type_float || sql == sql_type_smallfloat) && sqli_float_as_decimal(tcb)) {
    sent = sql_type_decimal;
  } else if (sql == sql_type_variable_udt || sql == sql_type_fixed_udt) {
    sent = xid == 1   ? sql_type_lvarchar
           : xid == 3 ? sql_type_impexp
           : xid == 4 ? sql_type_impexpbin
                      : sql_type_sendreceive;
  } else if (sqli_collection_type(sql)) {
    sent = sql_type_sendreceive;
  } else if (sql == sql_type_byte && host != host_type_file && data != nullptr) {
    const int own = reinterpret_cast<const loc_t *>(data)->sql_type;
    if (own == sql_type_byte || own == sql_type_text) sent = own;
  }
  /* The flags travel with the word; 0x800 tells the peer that an owner
  ** and a type name follow, so that it can frame the value. */
  sent |= type & (type_flag_kept | sqli_type_keepxid);
  if (word != nullptr) *word = static_cast<int16_t>(sent);
  if (write != 0) {
    if (pipe_vbles *pipe = sqli_outpipe(tcb)) sqli_put16(pipe, sent);
  }
  return sql;
}

int putchstr(const char *text, int len, int lenfield, int len4, sqli_tcb *tcb, int cut) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return 0;
  if (text == nullptr || len < 0) len = 0;
  sqli_sendtext sent {};
  const int error = sqli_send_text(text, len, tcb, &sent);
  int n = sent.len;
  if (cut != 0 && n > char_cut) {
    n = char_cut;
    if (sqli_ansi_db(tcb)) _iqseterr(err_too_long_ansi);
  }
  if (lenfield != 0) {
    if (len4 != 0) {
      sqli_put32(pipe, n);
    } else {
      if (n > lbuf_max) n = lbuf_max;
      sqli_put16(pipe, n);
    }
    if (n > 0) _iputpbuf(sent.bytes, n, pipe);
  } else {
    if (n > lbuf_max) n = lbuf_max;
    _iputlbuf(sent.bytes, n, pipe);
  }
  return error;
}

void _sqs_binary(const dvz_hostbuf_t *value, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  const int32_t len =
      value != nullptr && value->data != nullptr && value->length > 0 ? value->length : 0;
  sqli_put32(pipe, len);
  if (len > 0) _iputpbuf(value->data, len, pipe);
}

int validate_floats(int count, const sqlvar_struct *entries, sqli_tcb *tcb) {
  for (int i = 0; i < count; ++i) {
    const int host = entries[i].sqltype & 0xFF;
    if (host >= host_nonsql) continue;
    if (const int error = float_error(entries[i], host, rtosqltype(host)); error != 0) {
      _iqseterr(error);
      return sqlcode(tcb);
    }
  }
  return 0;
}

int _sqs_v(const sqlvar_struct *entry, int type, const int16_t *ind, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return sqlcode(tcb);
  const int host = type & 0xFF;
  const int sql = _sqstype(type, entry->sqldata, nullptr, 1, entry->sqlxid, tcb);
  int convert_error = 0;
  if ((tcb->curconn->capabilities & cap_extended) != 0 && sqli_names_travel(sql, type)) {
    convert_error = putchstr(entry->sqlownername,
                             entry->sqlownername != nullptr ? entry->sqlownerlen : 0, 1, 0, tcb, 0);
    char *name = entry->sqltypename;
    int name_len = name != nullptr ? entry->sqltypelen : 0;
    char *made = nullptr;
    if (name == nullptr && sqli_collection_type(sql) && entry->sqldata != nullptr) {
      made = dvz_cl_get_row_xtype(reinterpret_cast<dvz_coll_t *>(entry->sqldata));
      name = made;
      name_len = made != nullptr ? static_cast<int>(std::strlen(made)) : 0;
    }
    const int error = putchstr(name, name_len, 1, 0, tcb, 0);
    if (convert_error == 0) convert_error = error;
    std::free(made);
  }
  if (entry_is_null(entry, host, ind)) {
    sqli_put16(pipe, -1);
    sqli_put16(pipe, 0);
  } else {
    sqli_put16(pipe, 0);
    tcb->request_active = 1;
    int error = 0;
    put_entry_value(entry, sql, host, pipe, tcb, &error);
    if (convert_error == 0) convert_error = error;
    tcb->request_active = 0;
  }
  if (convert_error != 0) _iqseterr(convert_error);
  return sqlcode(tcb);
}

int _sqs_val_vchk(const value_t *value, int flt_as_dec, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return sqlcode(tcb);
  const int t = value->vtype & 0xFF;
  int word = t;
  if (flt_as_dec != 0 && (t == sql_type_float || t == sql_type_smallfloat)) word = sql_type_decimal;
  if (t == sql_type_fixed_udt && value->vxid == 5) word = sql_type_boolean;
  word |= value->vtype & (type_flag_kept | sqli_type_keepxid);
  sqli_put16(pipe, word);
  /* Names are framed only by a peer that knows extended types. */
  if ((tcb->curconn->capabilities & cap_extended) != 0 && sqli_names_travel(t, value->vtype)) {
    sqli_put16(pipe, 0);
    sqli_put16(pipe, 0);
  }
  sqli_put16(pipe, value->vind);
  sqli_put16(pipe, value->vprec);
  if (value->vind < 0) return sqlcode(tcb);
  tcb->request_active = 1;
  int convert_error = 0;
  switch (t) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
      convert_error = putchstr(value->vptr, value->vlen, 0, 0, tcb, cut_type(t));
      break;
    case sql_type_smallint:
      sqli_put16(pipe, value->vint);
      break;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      sqli_put32(pipe, value->vint);
      break;
    case sql_type_float:
    case sql_type_smallfloat: {
      const double v = t == sql_type_float ? value->vdouble : value->vfloat;
      if (flt_as_dec != 0) {
        dec_t d {};
        if ((t == sql_type_float ? deccvdbl(v, &d) : deccvflt(v, &d)) != 0) d.sign = -1;
        put_decimal(pipe, &d);
      } else if (t == sql_type_float) {
        _iputdbl(v, pipe);
      } else {
        _iputfloat(v, pipe);
      }
      break;
    }
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval:
      put_decimal(pipe, &value->vdec);
      break;
    case sql_type_byte:
    case sql_type_text:
      put_blob(pipe, 0);
      break;
    case sql_type_int8:
    case sql_type_serial8:
      _iputint8(&value->vint8, pipe);
      break;
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
    case sql_type_boolean: {
      const int32_t len = value->vptr != nullptr && value->vlen > 0 ? value->vlen : 0;
      sqli_put32(pipe, len);
      if (len > 0) _iputpbuf(value->vptr, len, pipe);
      break;
    }
    case sql_type_lvarchar:
      convert_error = putchstr(value->vptr, value->vptr != nullptr ? value->vlen : 0, 1, 1, tcb, 0);
      break;
    default:
      if (sqli_collection_type(t)) {
        dvz_coll_t coll = value->vcoll;
        dvz_coll_tuple(&coll);
        sqli_put16(pipe, 0);
        _iputcollection(&coll, pipe);
      }
      break;
  }
  tcb->request_active = 0;
  if (convert_error != 0) _iqseterr(convert_error);
  return sqlcode(tcb);
}

int _sqs_val(const value_t *value, int flt_as_dec, sqli_tcb *tcb) {
  return _sqs_val_vchk(value, flt_as_dec, tcb);
}

int _sqs_vs(int code, const sqlda *desc, const value_t *values, sqli_tcb *tcb) {
  if (tcb == nullptr) return 0;
  tcb->blob_count = 0;
  if (desc == nullptr || desc->sqld <= 0) return 0;
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return sqlcode(tcb);
  const int count = desc->sqld;
  sqlvar_struct *entries = desc->sqlvar;
  if (entries == nullptr && values == nullptr) return 0;
  const ListContext context = list_context(pipe, tcb);
  const bool float_as_decimal = context.float_as_decimal;
  if (entries != nullptr) {
    if (check_collections(count, entries, tcb) != 0) return sqlcode(tcb);
    /* A list of common values goes in one pass; any other is checked
    ** whole before its first byte is written. */
    if (put_list_fast(context, entries, count, code == SQ_BIND)) return sqlcode(tcb);
    if (check_entries(count, entries, float_as_decimal, tcb) != 0) return sqlcode(tcb);
  } else if (sqli_check_bind_list(desc, values, tcb) != 0) {
    return sqlcode(tcb);
  }
  if (code == SQ_BIND) sqli_put16(pipe, SQ_BIND);
  sqli_put16(pipe, count);
  for (int i = 0; i < count; ++i) {
    if (entries == nullptr) {
      const value_t &v = values[i];
      _sqs_val(&v, context.float_as_decimal, tcb);
      const int t = v.vtype & 0xFF;
      if ((t == sql_type_byte || t == sql_type_text) && v.vind == 0 &&
          (v.vblob.tb_flags & TBLOB_NULL) == 0)
        ++tcb->blob_count;
      continue;
    }
    const sqlvar_struct &e = entries[i];
    int16_t converted = 0;
    const int16_t *ind = e.sqlind;
    if (ind == nullptr && e.sqlidata != nullptr && e.sqlitype != 0) {
      bool ok = true;
      converted = entry_indicator(&e, &ok);
      ind = &converted;
    }
    const int host = e.sqltype & 0xFF;
    const bool is_null = entry_is_null(&e, host, ind);
    const int n = pipe->send_broken == 0
                      ? put_value_in_place(context, e, pipe->outptr, pipe->outptr + pipe->outleft)
                      : 0;
    if (n > 0)
      sqli_commit(pipe, n);
    else
      _sqs_v(&e, e.sqltype, ind, tcb);
    const int ctype = host >= host_type_min ? host : rtoctype(host);
    if ((ctype == host_type_locator || ctype == host_type_file) && !is_null) ++tcb->blob_count;
  }
  return sqlcode(tcb);
}

}  // extern "C"
