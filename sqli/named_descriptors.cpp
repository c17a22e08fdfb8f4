/*
** named_descriptors.cpp: SQL descriptors kept by name: ALLOCATE,
** DEALLOCATE, GET and SET DESCRIPTOR (include/sqli_descriptor.h), the
** name table in the runtime context (`_iqdadd`, `_iqdlocate`,
** `_iqddelete`), DESCRIBE into a named descriptor (`_iqdyndesc`), and the
** data buffers of `sqlvar` entries (`_sqadjustbuf`, `dvz_free_sqldata`),
** which FETCH, DESCRIBE and the collection calls share.
**
** A named descriptor is one block: the `sqlda` header, its capacity of
** `sqlvar` entries, then one i16 indicator per entry, each entry's
** indicator pointing at its own slot. What an entry owns is said by its
** flag word (sqlvar_own_*); freeing follows those bits and nothing else.
** The name table (13 buckets, made on first use) maps the name without
** trailing blanks to the block. In-memory records only; nothing here
** crosses the process.
*/
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "gen_datetime.h"
#include "gen_hostvar.h"
#include "gen_strings.h"
#include "gen_types.h"
#include "locator.h"
#include "sqli_cursors.h"
#include "sqli_descriptor.h"
#include "sqli_diag_internal.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_seams.h"
#include "sqli_statements.h"
#include "sqli_text.h"

namespace {

constexpr int desc_buckets = 13;
constexpr int desc_name_max = 128;
constexpr int header_name_max = 18; /* bytes of the name the header keeps */
constexpr int16_t no_type = -1;

/* Type-word flags that select a data buffer's effective type. */
constexpr int tw_notnull = 0x100;
constexpr int tw_source = 0x800;
constexpr int tw_lvarchar = 0x2000;
constexpr int tw_boolean = 0x4000;
constexpr int tw_get_flags = 0x7800; /* flags GET reports with the type */

/* An item of the name table: its key (the name text that follows it) and
** the descriptor. */
struct desc_entry {
  char *key;
  sqlda *desc;
};

int recorded(int code) {
  _iqseterr(code);
  return code;
}

/* Short names for the common start and end of a public call
** (sqli_cursors.h). */
constexpr auto begin = sqli_cursor_call_begin;
constexpr auto finish = sqli_cursor_call_finish;
constexpr auto fail = sqli_cursor_call_fail;

/* The name without trailing blanks (empty for null). */
std::string_view blank_cut(const char *name) {
  if (name == nullptr) return {};
  std::string_view s(name);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  return s;
}

/* The terminated key of name in key (desc_name_max + 1 bytes); false when
** the name is longer than any registered one. */
bool make_key(const char *name, std::array<char, desc_name_max + 1> &key) {
  const std::string_view s = blank_cut(name);
  if (s.size() > desc_name_max) return false;
  s.copy(key.data(), s.size());
  key[s.size()] = 0;
  return true;
}

bool lvarchar_class(int low) {
  return low == sql_type_lvarchar || low == host_type_lvarchar || low == host_type_lvarchar_ptr;
}

bool character_type(int low) {
  switch (low) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
    case host_type_char:
    case host_type_fixchar:
    case host_type_string:
    case host_type_varchar:
      return true;
    default:
      return false;
  }
}

bool collection_type(int low) {
  return (low >= sql_type_set && low <= sql_type_collection) || low == host_type_collection ||
         low == host_type_row;
}

bool decimal_type(int low) {
  return low == sql_type_decimal || low == sql_type_money || low == host_type_decimal ||
         low == host_type_money;
}

/* The type a data buffer holds for a type word and source type. */
int effective_type(int type, int source) {
  const int low = type & 0xFF;
  if ((type & tw_boolean) != 0 && (low == sql_type_variable_udt || low == sql_type_fixed_udt))
    return sql_type_boolean;
  if ((type & tw_lvarchar) != 0) return sql_type_lvarchar;
  if ((type & tw_source) != 0 && source != 0) return source;
  return low;
}

/* The variable-length record types, whose data is a dvz_hostbuf_t. */
bool hostbuf_type(int type) {
  return type == sql_type_variable_udt || type == host_type_variable_binary;
}

/* Frees an owned string field and clears its ownership bit. */
void drop_string(char **field, sqlvar_struct *var, int bit) {
  if ((var->sqlflags & bit) != 0) sqli_release(*field);
  *field = nullptr;
  var->sqlflags &= ~bit;
}

/* An owned copy of n bytes of text into *field (old owned copy freed).
** false when memory is short. */
bool own_copy(char **field, sqlvar_struct *var, int bit, const char *text, size_t n) {
  drop_string(field, var, bit);
  if (text == nullptr) return true;
  auto *copy = static_cast<char *>(sqli_alloc(n + 1));
  if (copy == nullptr) return false;
  std::memcpy(copy, text, n);
  copy[n] = 0;
  *field = copy;
  var->sqlflags |= bit;
  return true;
}

/* Frees everything an entry owns. */
void free_entry(sqlvar_struct *var) {
  dvz_free_sqldata(var);
  drop_string(&var->sqlidata, var, sqlvar_own_inddata);
  drop_string(&var->sqlname, var, sqlvar_own_name);
  drop_string(&var->sqlownername, var, sqlvar_own_owner);
  drop_string(&var->sqltypename, var, sqlvar_own_typename);
}

/* X/Open type codes against SQL ones. */
struct xopen_pair {
  int16_t sql;
  int16_t xopen;
};
constexpr std::array<xopen_pair, 5> xopen_types = {{{sql_type_char, 1},
                                                    {sql_type_smallint, 5},
                                                    {sql_type_integer, 4},
                                                    {sql_type_float, 6},
                                                    {sql_type_decimal, 3}}};

/* The X/Open code of an SQL type word (flags kept), or -1. */
int to_xopen(int type) {
  for (const xopen_pair &p : xopen_types)
    if (p.sql == (type & 0xFF)) return (type & ~0xFF) | p.xopen;
  return -1;
}

/* The SQL type of an X/Open code, or -1. */
int from_xopen(int code) {
  for (const xopen_pair &p : xopen_types)
    if (p.xopen == code) return p.sql;
  return -1;
}

/* Reads the item's host variable as a host type of size bytes. */
int read_item(const sqli_desc_item &item, int type, void *out, int size) {
  return _sqvar2var(item.data, item.type, item.len, static_cast<char *>(out), type, size);
}

/* Writes a value of host type and size into the item's host variable. */
int write_item(const sqli_desc_item &item, int type, const void *value, int size) {
  return _sqvar2var(static_cast<const char *>(value), type, size, item.data, item.type, item.len);
}

int write_int(const sqli_desc_item &item, int32_t value) {
  return write_item(item, host_type_int, &value, sizeof value);
}
int write_long(const sqli_desc_item &item, int32_t value) {
  return write_item(item, host_type_long, &value, sizeof value);
}
int write_short(const sqli_desc_item &item, int16_t value) {
  return write_item(item, host_type_short, &value, sizeof value);
}

/* The value length GET reports for an LVARCHAR-class or variable UDT entry
** of length 0: a variable-length record's (host type 124, a record the
** runtime made, a variable UDT's buffer), else the text's. */
int32_t value_length(const sqlvar_struct &var) {
  if (var.sqldata == nullptr) return 0;
  const int low = var.sqltype & 0xFF;
  if (low == host_type_lvarchar_ptr || hostbuf_type(low) ||
      (var.sqlflags & sqlvar_own_lvarchar) != 0)
    return reinterpret_cast<const dvz_hostbuf_t *>(var.sqldata)->length;
  return static_cast<int32_t>(std::strlen(var.sqldata));
}

/* One GET item from var. 0, or the error recorded. */
int get_item(const sqlvar_struct &var, const sqli_desc_item &item, bool xopen) {
  const int low = var.sqltype & 0xFF;
  switch (item.code) {
    case SQLI_DI_TYPE: {
      int type = low | (var.sqltype & tw_get_flags);
      if (xopen && (type = to_xopen(type)) < 0) return recorded(SQLI_E_DESC_XOPEN);
      return write_int(item, type);
    }
    case SQLI_DI_LENGTH: {
      int32_t len = var.sqllen;
      if (len == 0 && (lvarchar_class(low) || low == sql_type_variable_udt))
        len = value_length(var);
      return write_long(item, len);
    }
    case SQLI_DI_PRECISION:
      return write_int(item, decimal_type(low) ? (var.sqllen >> 8) & 0xFF : 0);
    case SQLI_DI_SCALE:
      return write_int(item, decimal_type(low) ? var.sqllen & 0xFF : 0);
    case SQLI_DI_NULLABLE:
      return write_int(item, (var.sqltype & tw_notnull) != 0 ? 0 : 1);
    case SQLI_DI_INDICATOR:
      return write_short(item, var.sqlind != nullptr ? *var.sqlind : int16_t {0});
    case SQLI_DI_DATA:
      if (var.sqldata == nullptr) return recorded(SQLI_E_NODATA);
      return _sqvar2var(var.sqldata, low, var.sqllen, item.data, item.type, item.len);
    case SQLI_DI_NAME:
      return getdchstr(var.sqlname, &item);
    case SQLI_DI_ILENGTH:
      return write_short(item, var.sqlilen);
    case SQLI_DI_ITYPE: {
      int type = var.sqlitype;
      if (xopen && (type = to_xopen(type)) < 0) return recorded(SQLI_E_DESC_XOPEN);
      return write_int(item, type);
    }
    case SQLI_DI_IDATA:
      if (var.sqlidata == nullptr) return recorded(SQLI_E_NODATA);
      return _sqvar2var(var.sqlidata, var.sqlitype & 0xFF, var.sqlilen, item.data, item.type,
                        item.len);
    case SQLI_DI_EXTYPEID:
      return write_long(item, var.sqlxid);
    case SQLI_DI_EXTYPENAME:
      return getdchstr(var.sqltypename, &item);
    case SQLI_DI_EXTYPELEN:
      return write_short(item, var.sqltypelen);
    case SQLI_DI_EXTYPEOWNERLEN:
      return write_short(item, var.sqlownerlen);
    case SQLI_DI_EXTYPEOWNERNAME:
      return getdchstr(var.sqlownername, &item);
    case SQLI_DI_SOURCETYPE:
      return write_int(item, var.sqlsourcetype);
    case SQLI_DI_SOURCEID:
      return write_long(item, var.sqlsourceid);
    default:
      return recorded(SQLI_E_DESC_ITEM);
  }
}

/* What a SET list gave besides the fields stored at once. */
struct set_request {
  std::array<const sqli_desc_item *, SQLI_DI_SOURCEID + 1> given {};
  int32_t length = 0;
  int32_t ilength = 0;
  int32_t precision = 0;
  int32_t scale = 0;
  int32_t nullable = 1;
  int16_t unused_indicator = 0; /* an entry without indicator reads into it */
};

/* The numeric SET items: the host type each is read as, and where it goes
** (the entry's own field, or the request for the checks after the list). */
struct numeric_item {
  int16_t code;
  int16_t host_type; /* host_type_long (4 bytes) or host_type_short (2) */
  void *(*where)(sqlvar_struct *var, set_request *req);
};
constexpr std::array<numeric_item, 11> numeric_items = {{
    {SQLI_DI_LENGTH, host_type_long,
     [](sqlvar_struct *, set_request *r) -> void * { return &r->length; }},
    {SQLI_DI_ILENGTH, host_type_long,
     [](sqlvar_struct *, set_request *r) -> void * { return &r->ilength; }},
    {SQLI_DI_PRECISION, host_type_long,
     [](sqlvar_struct *, set_request *r) -> void * { return &r->precision; }},
    {SQLI_DI_SCALE, host_type_long,
     [](sqlvar_struct *, set_request *r) -> void * { return &r->scale; }},
    {SQLI_DI_NULLABLE, host_type_long,
     [](sqlvar_struct *, set_request *r) -> void * { return &r->nullable; }},
    {SQLI_DI_INDICATOR, host_type_short,
     [](sqlvar_struct *v, set_request *r) -> void * {
       return v->sqlind != nullptr ? static_cast<void *>(v->sqlind) : &r->unused_indicator;
     }},
    {SQLI_DI_EXTYPEID, host_type_long,
     [](sqlvar_struct *v, set_request *) -> void * { return &v->sqlxid; }},
    {SQLI_DI_EXTYPELEN, host_type_short,
     [](sqlvar_struct *v, set_request *) -> void * { return &v->sqltypelen; }},
    {SQLI_DI_EXTYPEOWNERLEN, host_type_short,
     [](sqlvar_struct *v, set_request *) -> void * { return &v->sqlownerlen; }},
    {SQLI_DI_SOURCETYPE, host_type_short,
     [](sqlvar_struct *v, set_request *) -> void * { return &v->sqlsourcetype; }},
    {SQLI_DI_SOURCEID, host_type_long,
     [](sqlvar_struct *v, set_request *) -> void * { return &v->sqlsourceid; }},
}};

/* The owned string SET items: the field and its ownership bit. */
struct string_item {
  int16_t code;
  int bit;
  char **(*where)(sqlvar_struct *var);
};
constexpr std::array<string_item, 3> string_items = {{
    {SQLI_DI_NAME, sqlvar_own_name, [](sqlvar_struct *v) { return &v->sqlname; }},
    {SQLI_DI_EXTYPENAME, sqlvar_own_typename, [](sqlvar_struct *v) { return &v->sqltypename; }},
    {SQLI_DI_EXTYPEOWNERNAME, sqlvar_own_owner, [](sqlvar_struct *v) { return &v->sqlownername; }},
}};

/* Reads one SET item into var or req. 0, or the error recorded. */
int set_item(sqlvar_struct *var, const sqli_desc_item &item, bool xopen, set_request *req,
             sqli_tcb *tcb) {
  if (item.code < SQLI_DI_TYPE || item.code > SQLI_DI_SOURCEID) return recorded(SQLI_E_DESC_ITEM);
  /* Only a data item may hand over no buffer (an LVARCHAR entry takes it). */
  if (item.data == nullptr && item.code != SQLI_DI_DATA) return recorded(SQLI_E_NODATA);
  req->given[item.code] = &item;
  for (const numeric_item &n : numeric_items)
    if (n.code == item.code)
      return read_item(item, n.host_type, n.where(var, req),
                       n.host_type == host_type_short ? 2 : 4);
  for (const string_item &t : string_items) {
    if (t.code != item.code) continue;
    const int code = setdchstr(t.where(var), &item, tcb);
    if (code == 0) var->sqlflags |= t.bit;
    return code;
  }
  switch (item.code) {
    case SQLI_DI_TYPE:
    case SQLI_DI_ITYPE: {
      int32_t word = 0;
      if (const int code = read_item(item, host_type_int, &word, sizeof word); code != 0)
        return code;
      if (xopen && (word = from_xopen(word)) < 0) return recorded(SQLI_E_DESC_XOPEN);
      if (item.code == SQLI_DI_TYPE)
        var->sqltype =
            static_cast<int16_t>((var->sqltype != no_type ? var->sqltype & tw_notnull : 0) | word);
      else
        var->sqlitype = static_cast<int16_t>(word);
      return 0;
    }
    case SQLI_DI_DATA:
      if (item.type == host_type_lvarchar_ptr) var->sqlflags |= sqlvar_own_lvarchar;
      return 0;
    default: /* SQLI_DI_IDATA: after the buffers are settled */
      return 0;
  }
}

/* The host length of a data item as the length of a character value. */
int32_t item_value_length(const sqli_desc_item &item) {
  return item.type < 200 ? item.len - 1 : item.len;
}

/* The length word a conversion into a buffer made for (type, len) is
** given: a character buffer's whole size (its terminator included, and
** the byte more of a VARCHAR kept as 255 for 256), so that the value fits
** and nothing passes the buffer; the length word itself for the others,
** whose buffers have their type's fixed size. */
int data_room(int low, int32_t len) {
  return character_type(low) && low < host_type_min ? rtypmsize(low, len) : len;
}

/* A character value's text from a data item, terminated. */
std::string item_text(const sqli_desc_item &item) {
  if (item.data == nullptr) return {};
  if (item.type == host_type_fixchar) return std::string(item.data, item.len > 0 ? item.len : 0);
  const size_t room = item.len > 0 ? static_cast<size_t>(item.len) : std::strlen(item.data);
  return std::string(item.data, strnlen(item.data, room));
}

/* Stores a SET data item into var's data. 0, or the error recorded. */
int store_data(sqlvar_struct *var, const sqli_desc_item &item) {
  const int low = var->sqltype & 0xFF;
  if (lvarchar_class(low) || lvarchar_class(item.type)) {
    /* The entry takes the host's own buffer. */
    if ((var->sqlflags & sqlvar_own_data) != 0) dvz_free_sqldata(var);
    var->sqldata = item.data;
    if (item.len == 0) var->sqllen = 0;
    return 0;
  }
  if (var->sqldata == nullptr || item.data == nullptr) return recorded(SQLI_E_NODATA);
  const bool from_text = character_type(item.type) && item.type >= host_type_min;
  if (from_text && (low == sql_type_datetime || low == host_type_datetime)) {
    auto *value = reinterpret_cast<dtime_t *>(var->sqldata);
    value->dt_qual = static_cast<uint16_t>(var->sqllen);
    const int code = dtcvasc(item_text(item).c_str(), value);
    return code != 0 ? recorded(code) : 0;
  }
  if (from_text && (low == sql_type_interval || low == host_type_interval)) {
    auto *value = reinterpret_cast<intrvl_t *>(var->sqldata);
    value->in_qual = static_cast<uint16_t>(var->sqllen);
    const int code = incvasc(item_text(item).c_str(), value);
    return code != 0 ? recorded(code) : 0;
  }
  return _sqvar2var(item.data, item.type, item.len, var->sqldata, low, data_room(low, var->sqllen));
}

/* Settles length, precision, type and buffers after a SET list, then
** stores the data. 0, or the error recorded; *rebuilt tells whether the
** buffers were made again for the new type (until then the entry's type
** and lengths may be put back to those of its buffers). */
int settle_entry(sqlvar_struct *var, const set_request &req, const sqlvar_struct &before,
                 bool *rebuilt) {
  const int old_type = before.sqltype;
  const sqli_desc_item *type_item = req.given[SQLI_DI_TYPE];
  const sqli_desc_item *len_item = req.given[SQLI_DI_LENGTH];
  const sqli_desc_item *data_item = req.given[SQLI_DI_DATA];
  const sqli_desc_item *idata_item = req.given[SQLI_DI_IDATA];
  const int low = var->sqltype & 0xFF;
  const bool text = character_type(low) || lvarchar_class(low);
  if (type_item != nullptr && text && len_item == nullptr) return recorded(SQLI_E_DESC_NOLEN);
  if (req.given[SQLI_DI_ITYPE] != nullptr && character_type(var->sqlitype & 0xFF) &&
      req.given[SQLI_DI_ILENGTH] == nullptr)
    return recorded(SQLI_E_DESC_NOLEN);

  /* A VARCHAR of 256 is kept as 255 whose host length is one more. */
  int32_t length = req.length;
  if (len_item != nullptr) var->sqlflags &= ~sqlvar_len_noterm;
  if (len_item != nullptr && low == sql_type_varchar && length > 255) {
    if (length != 256) return recorded(SQLI_E_DESC_VARCHAR);
    length = 255;
    var->sqlflags |= sqlvar_len_noterm;
  }
  if (len_item != nullptr && length > 0)
    var->sqllen = length;
  else if (text && length == 0 && data_item != nullptr)
    var->sqllen = item_value_length(*data_item);
  if (req.given[SQLI_DI_ILENGTH] != nullptr && req.ilength > 0)
    var->sqlilen = static_cast<int16_t>(req.ilength);
  else if (idata_item != nullptr)
    var->sqlilen = static_cast<int16_t>(item_value_length(*idata_item));

  if (decimal_type(low)) {
    const bool has_scale = req.given[SQLI_DI_SCALE] != nullptr;
    const bool has_prec = req.given[SQLI_DI_PRECISION] != nullptr;
    if (has_scale && req.scale < 0) return recorded(SQLI_E_DESC_PRECISION);
    if (has_scale && !has_prec && req.scale >= 33 && req.scale != 255)
      return recorded(SQLI_E_DESC_PRECISION);
    if (has_prec && (req.precision < 1 || req.precision > 32 ||
                     (has_scale && req.scale != 255 && req.precision < req.scale)))
      return recorded(SQLI_E_DESC_PRECISION);
    if (has_scale) var->sqllen = (var->sqllen & ~0xFF) | (req.scale & 0xFF);
    if (has_prec) var->sqllen = (var->sqllen & 0xFF) | (req.precision << 8);
  }

  if (var->sqltype == no_type) return recorded(SQLI_E_DESC_NOTYPE);
  if (req.given[SQLI_DI_NULLABLE] != nullptr) {
    if (req.nullable == 0)
      var->sqltype = static_cast<int16_t>(var->sqltype | tw_notnull);
    else
      var->sqltype = static_cast<int16_t>(var->sqltype & ~tw_notnull);
  }

  /* A new type or length needs a new buffer; the old one is freed under
  ** the type it was made for. */
  *rebuilt = true;
  const bool reshaped = var->sqltype != old_type || var->sqllen != before.sqllen;
  if (reshaped || var->sqldata == nullptr) {
    if ((var->sqlflags & sqlvar_own_data) != 0) {
      const int16_t now = var->sqltype;
      var->sqltype = static_cast<int16_t>(old_type);
      dvz_free_sqldata(var);
      var->sqltype = now;
    }
    if (!lvarchar_class(low)) {
      var->sqldata = nullptr;
      const int code = _sqadjustbuf(&var->sqldata, var->sqltype, var->sqllen, var->sqlsourcetype);
      if (code != 0) return code;
      var->sqlflags |= sqlvar_own_data;
    }
  }
  /* Likewise the indicator buffer, for a new indicator type or length. */
  const bool ind_reshaped = req.given[SQLI_DI_ITYPE] != nullptr || var->sqlidata == nullptr ||
                            var->sqlitype != before.sqlitype || var->sqlilen != before.sqlilen;
  if (ind_reshaped && var->sqlitype != no_type) {
    drop_string(&var->sqlidata, var, sqlvar_own_inddata);
    int size = rtypmsize(var->sqlitype & 0xFF, var->sqlilen);
    if (size < 1) size = 1;
    var->sqlidata = static_cast<char *>(sqli_alloc(static_cast<size_t>(size)));
    if (var->sqlidata == nullptr) return recorded(SQLI_E_NOMEM);
    var->sqlidata[0] = 0;
    var->sqlflags |= sqlvar_own_inddata;
  }

  if (idata_item != nullptr && var->sqlidata != nullptr) {
    const int code =
        _sqvar2var(idata_item->data, idata_item->type, idata_item->len, var->sqlidata,
                   var->sqlitype & 0xFF, data_room(var->sqlitype & 0xFF, var->sqlilen));
    if (code != 0) return code;
  }
  if (data_item != nullptr) {
    const int code = store_data(var, *data_item);
    if (code != 0) return code;
    if (req.given[SQLI_DI_INDICATOR] == nullptr && var->sqlind != nullptr) *var->sqlind = 0;
  }
  return 0;
}

}  // namespace

/* ---- The name table ------------------------------------------------------------------------ */

int _iqdadd(const char *name, int len, sqlda *desc, sqli_tcb *tcb) {
  if (tcb == nullptr || len < 0) return 0;
  if (tcb->named_descs == nullptr && (tcb->named_descs = ghashcreat(desc_buckets)) == nullptr)
    return 0;
  auto *entry = static_cast<desc_entry *>(sqli_alloc(sizeof(desc_entry) + len + 1));
  if (entry == nullptr) return 0;
  entry->key = reinterpret_cast<char *>(entry + 1);
  std::memcpy(entry->key, name, static_cast<size_t>(len));
  entry->key[len] = 0;
  entry->desc = desc;
  if (ghashins(static_cast<ghashtab *>(tcb->named_descs), entry) == 0) {
    sqli_release(entry);
    return 0;
  }
  return 1;
}

sqlda *_iqdlocate(const char *name, sqli_tcb *tcb) {
  std::array<char, desc_name_max + 1> key;
  if (tcb == nullptr || tcb->named_descs == nullptr || !make_key(name, key)) return nullptr;
  auto *entry =
      static_cast<desc_entry *>(ghashlook(static_cast<ghashtab *>(tcb->named_descs), key.data()));
  return entry != nullptr ? entry->desc : nullptr;
}

sqlda *_iqddelete(const char *name, sqli_tcb *tcb) {
  std::array<char, desc_name_max + 1> key;
  if (tcb == nullptr || tcb->named_descs == nullptr || !make_key(name, key)) return nullptr;
  auto *entry =
      static_cast<desc_entry *>(ghashdel(static_cast<ghashtab *>(tcb->named_descs), key.data()));
  if (entry == nullptr) return nullptr;
  sqlda *desc = entry->desc;
  sqli_release(entry);
  return desc;
}

/* ---- Data buffers ---------------------------------------------------------------------------- */

int _sqadjustbuf(char **data, int type, int len, int source) {
  const int effective = effective_type(type, source);
  size_t size = 0;
  if (hostbuf_type(effective)) {
    size = sizeof(dvz_hostbuf_t);
  } else {
    const int bytes = rtypmsize(effective, len);
    if (bytes <= 0) return recorded(SQLI_E_HOSTTYPE);
    size = static_cast<size_t>(bytes);
  }
  auto *block = static_cast<char *>(sqli_alloc(size));
  if (block == nullptr) return recorded(SQLI_E_NOMEM);
  if (hostbuf_type(effective)) reinterpret_cast<dvz_hostbuf_t *>(block)->flags = HOSTVAR_GROWABLE;
  *data = block;
  return 0;
}

void dvz_free_sqldata(sqlvar_struct *var) {
  if (var == nullptr || (var->sqlflags & sqlvar_own_data) == 0) return;
  const int low = var->sqltype & 0xFF;
  const int effective = effective_type(var->sqltype, var->sqlsourcetype);
  void *data = var->sqldata;
  if (data != nullptr) {
    if (lvarchar_class(low) || hostbuf_type(effective)) {
      sqli_private_var_dealloc(&data);
      sqli_release(data);
    } else if (collection_type(effective)) {
      auto *coll = static_cast<dvz_coll_t *>(data);
      dvz_cl_dealloc(&coll);
    } else if (effective == sql_type_byte || effective == sql_type_text ||
               effective == host_type_locator) {
      auto *loc = static_cast<loc_t *>(data);
      if (loc->kind == loc_in_memory && (loc->u.mem.memory_flags & 1) != 0)
        sqli_release(loc->u.mem.buffer);
      sqli_release(loc);
    } else {
      sqli_release(data);
    }
  }
  var->sqldata = nullptr;
  var->sqlflags &= ~sqlvar_own_data;
}

/* ---- Strings of GET and SET ------------------------------------------------------------------ */

int getdchstr(const char *text, const sqli_desc_item *item) {
  const size_t n = text != nullptr ? std::strlen(text) : 0;
  const size_t need = item->type == host_type_fixchar ? n : n + 1;
  if (item->len < 0 || static_cast<size_t>(item->len) < need)
    return recorded(SQLI_E_DESC_SHORTHOST);
  return _sqvar2var(text != nullptr ? text : "", host_type_fixchar, static_cast<int>(n), item->data,
                    item->type, item->len);
}

int setdchstr(char **field, const sqli_desc_item *item, sqli_tcb *) {
  const int len = item->len > 0 ? item->len : 0;
  auto *copy = static_cast<char *>(sqli_alloc(static_cast<size_t>(len) + 1));
  if (copy == nullptr) return recorded(SQLI_E_NOMEM);
  const int code = _sqvar2var(item->data, item->type, item->len, copy, host_type_char, len + 1);
  if (code != 0) {
    sqli_release(copy);
    return code;
  }
  sqli_release(*field);
  *field = copy;
  return 0;
}

/* ---- DESCRIBE into a named descriptor ------------------------------------------------------ */

int _iqdyndesc(sqli_cursor *cursor, const char *name, sqli_tcb *tcb) {
  sqlda *desc = _iqdlocate(name, tcb);
  if (desc == nullptr) return recorded(SQLI_E_NODESC);
  if (cursor->ncols > desc->desc_occ) return recorded(SQLI_E_DESC_TOOSMALL);
  desc->sqld = cursor->ncols;
  const auto *cols = static_cast<const dbfd *>(cursor->coldesc);
  const char *pool =
      cursor->conv_colname_pool != nullptr ? cursor->conv_colname_pool : cursor->colname_pool;
  for (int i = 0; i < cursor->ncols; ++i) {
    const dbfd &col = cols[i];
    sqlvar_struct *var = &desc->sqlvar[i];
    settypelen(&col, var);
    if ((col.flags & dbfd_nullable) == 0)
      var->sqltype = static_cast<int16_t>(var->sqltype | tw_notnull);
    const char *colname = pool != nullptr ? pool + col.name_offset : nullptr;
    bool ok = own_copy(&var->sqlname, var, sqlvar_own_name, colname,
                       colname != nullptr ? std::strlen(colname) : 0);
    if (col.type_name_len != 0 && col.type_name != nullptr)
      ok = ok && own_copy(&var->sqltypename, var, sqlvar_own_typename, col.type_name,
                          static_cast<size_t>(col.type_name_len));
    else
      drop_string(&var->sqltypename, var, sqlvar_own_typename);
    ok = ok && own_copy(&var->sqlownername, var, sqlvar_own_owner, col.owner_name,
                        static_cast<size_t>(col.owner_name_len > 0 ? col.owner_name_len : 0));
    if (!ok) return recorded(SQLI_E_NOMEM);
    var->sqltypelen = col.type_name_len;
    var->sqlownerlen = col.owner_name_len;
    var->sqlxid = col.xid;
    if ((col.flags & dbfd_distinct_builtin) != 0)
      var->sqlsourcetype = static_cast<int16_t>(col.source);
    else
      var->sqlsourceid = col.source;
    var->sqlformat = nullptr;
    dvz_free_sqldata(var);
    if ((var->sqltype & 0xFF) != sql_type_lvarchar && (var->sqltype & tw_lvarchar) == 0) {
      const int code = _sqadjustbuf(&var->sqldata, var->sqltype, var->sqllen, var->sqlsourcetype);
      if (code != 0) return code;
      var->sqlflags |= sqlvar_own_data;
    }
  }
  return 0;
}

namespace {

/* The common start of GET and SET: the context (*tcb) and the descriptor
** of name, whose index is checked (COUNT: the first item has code 0 and
** a data address).
** Null when the call ends here, *result then holding its outcome. */
sqlda *addressed(const char *name, int32_t index, const sqli_desc_item *items, sqli_tcb **tcb,
                 int32_t *result) {
  if ((*tcb = begin(result)) == nullptr) return nullptr;
  sqlda *desc = _iqdlocate(name, *tcb);
  int code = 0;
  if (desc == nullptr)
    code = SQLI_E_NODESC;
  else if (index == SQLI_DESC_COUNT_INDEX && (items == nullptr || items[0].code != SQLI_DI_COUNT))
    code = SQLI_E_DESC_INDEX;
  else if (index == SQLI_DESC_COUNT_INDEX)
    code = items[0].data == nullptr ? SQLI_E_NODATA : 0;
  else if (index < 1 || index > desc->desc_occ)
    code = SQLI_E_DESC_INDEX;
  if (code == 0) return desc;
  *result = fail(code, *tcb);
  return nullptr;
}

/* The work of GET or SET on a descriptor that addressed accepted. */
using addressed_work = int32_t (*)(sqlda *desc, int32_t index, const sqli_desc_item *items,
                                   bool xopen, sqli_tcb *tcb);

/* GET DESCRIPTOR on the addressed descriptor. Returns the sqlca code. */
int32_t get_addressed(sqlda *desc, int32_t index, const sqli_desc_item *items, bool xopen,
                      sqli_tcb *tcb) {
  if (index == SQLI_DESC_COUNT_INDEX) {
    write_short(items[0], desc->sqld);
    return finish(tcb);
  }
  const sqlvar_struct &var = desc->sqlvar[index - 1];
  bool read_data = false;
  bool read_indicator = false;
  for (const sqli_desc_item *item = items; item != nullptr && item->code != SQLI_DI_COUNT; ++item) {
    if (item->data == nullptr) return fail(SQLI_E_NODATA, tcb);
    if (get_item(var, *item, xopen) != 0) return finish(tcb);
    read_data = read_data || item->code == SQLI_DI_DATA;
    read_indicator = read_indicator || item->code == SQLI_DI_INDICATOR;
  }
  if (read_data && !read_indicator && var.sqlind != nullptr && *var.sqlind == -1)
    return fail(SQLI_E_DESC_NULLDATA, tcb);
  return finish(tcb);
}

/* SET DESCRIPTOR on the addressed descriptor. Returns the sqlca code. */
int32_t set_addressed(sqlda *desc, int32_t index, const sqli_desc_item *items, bool xopen,
                      sqli_tcb *tcb) {
  if (index == SQLI_DESC_COUNT_INDEX) {
    int32_t count = 0;
    if (read_item(items[0], host_type_int, &count, sizeof count) != 0) return finish(tcb);
    if (count < 1 || count > desc->desc_occ) return fail(SQLI_E_DESC_INDEX, tcb);
    desc->sqld = static_cast<int16_t>(count);
    return finish(tcb);
  }
  sqlvar_struct *var = &desc->sqlvar[index - 1];
  const sqlvar_struct before = *var;
  set_request req;
  bool rebuilt = false;
  int code = 0;
  for (const sqli_desc_item *item = items; item != nullptr && item->type != 0 && code == 0; ++item)
    code = set_item(var, *item, xopen, &req, tcb);
  if (code == 0) code = settle_entry(var, req, before, &rebuilt);
  if (code != 0) {
    /* A refused SET leaves the entry's type and lengths matching its
    ** buffers, so that a later SET never writes past them. */
    if (!rebuilt) {
      var->sqltype = before.sqltype;
      var->sqllen = before.sqllen;
      var->sqlitype = before.sqlitype;
      var->sqlilen = before.sqlilen;
      var->sqlsourcetype = before.sqlsourcetype;
      var->sqlflags = (var->sqlflags & ~sqlvar_len_noterm) | (before.sqlflags & sqlvar_len_noterm);
    }
    return finish(tcb);
  }
  if (req.given[SQLI_DI_EXTYPELEN] == nullptr && req.given[SQLI_DI_EXTYPENAME] != nullptr)
    var->sqltypelen = static_cast<int16_t>(std::strlen(var->sqltypename));
  if (req.given[SQLI_DI_EXTYPEOWNERLEN] == nullptr && req.given[SQLI_DI_EXTYPEOWNERNAME] != nullptr)
    var->sqlownerlen = static_cast<int16_t>(std::strlen(var->sqlownername));
  return finish(tcb);
}

/* GET and SET: addressed's checks, then work. Returns the sqlca code. */
int32_t on_addressed(const char *name, int32_t index, const sqli_desc_item *items, bool xopen,
                     addressed_work work) {
  sqli_tcb *tcb = nullptr;
  int32_t result = 0;
  sqlda *desc = addressed(name, index, items, &tcb, &result);
  if (desc == nullptr) return result;
  return work(desc, index, items, xopen, tcb);
}

}  // namespace

/* ---- Public calls ---------------------------------------------------------------------------- */

extern "C" {

int32_t sqli_desc_alloc(const char *name, int32_t capacity) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  if (capacity <= 0) return fail(SQLI_E_DESC_CAPACITY, tcb);
  const std::string_view cut = blank_cut(name);
  if (cut.empty()) return fail(SQLI_E_DESC_NONAME, tcb);
  if (cut.size() > desc_name_max) return fail(SQLI_E_DESC_LONGNAME, tcb);
  if (_iqdlocate(name, tcb) != nullptr) return fail(SQLI_E_DESC_INUSE, tcb);
  if (capacity > INT16_MAX) return fail(SQLI_E_NOMEM, tcb);

  const size_t entries = static_cast<size_t>(capacity);
  const size_t size = sizeof(sqlda) + entries * (sizeof(sqlvar_struct) + sizeof(int16_t));
  auto *block = static_cast<char *>(sqli_alloc(size));
  if (block == nullptr) return fail(SQLI_E_NOMEM, tcb);
  auto *desc = reinterpret_cast<sqlda *>(block);
  auto *vars = reinterpret_cast<sqlvar_struct *>(block + sizeof(sqlda));
  auto *inds = reinterpret_cast<int16_t *>(vars + entries);
  desc->sqld = static_cast<int16_t>(capacity);
  desc->desc_occ = static_cast<int16_t>(capacity);
  desc->sqlvar = vars;
  for (size_t i = 0; i < entries; ++i) {
    vars[i].sqltype = no_type;
    vars[i].sqlitype = no_type;
    inds[i] = -1;
    vars[i].sqlind = &inds[i];
  }
  /* The header keeps the old short form of a long name. */
  std::array<char, desc_name_max + 1> shortname {};
  cut.copy(shortname.data(), cut.size());
  if (cut.size() >= header_name_max)
    truncate_to_oldsize(shortname.data(), static_cast<int>(cut.size()), 1);
  const size_t kept = std::min(std::strlen(shortname.data()), sizeof desc->desc_name - 1);
  std::memcpy(desc->desc_name, shortname.data(), kept);

  if (_iqdadd(cut.data(), static_cast<int>(cut.size()), desc, tcb) == 0) {
    sqli_release(block);
    return fail(SQLI_E_NOMEM, tcb);
  }
  return finish(tcb);
}

int32_t sqli_desc_dealloc(const char *name) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  if (blank_cut(name).empty()) return fail(SQLI_E_DESC_NONAME, tcb);
  sqlda *desc = _iqddelete(name, tcb);
  if (desc == nullptr) return fail(SQLI_E_NODESC, tcb);
  for (int i = 0; i < desc->desc_occ; ++i)
    free_entry(&desc->sqlvar[i]);
  sqli_release(desc);
  return finish(tcb);
}

int32_t sqli_desc_get(int32_t, const char *name, int32_t index, sqli_desc_item *items,
                      int32_t xopen) {
  return on_addressed(name, index, items, xopen != 0, get_addressed);
}

int32_t sqli_desc_set(int32_t, const char *name, int32_t index, sqli_desc_item *items,
                      int32_t xopen) {
  return on_addressed(name, index, items, xopen != 0, set_addressed);
}

}  // extern "C"
