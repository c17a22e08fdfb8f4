/*
** collection_rows.cpp: building, changing and reading the elements of a
** collection or row host variable from a literal-values list, for the
** INSERT, UPDATE and FETCH of statements on collection variables. Nothing
** here talks to the server.
**
** Every operation first checks the list against the type info, then
** converts every literal it needs (into the value list, with nested
** literals built into temporary collections), and only then changes the
** collection, so a failure leaves the collection as it was. The value
** list and the temporaries are freed before the operation returns.
*/
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_datetime.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "gen_value.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_diag_internal.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_seams.h"

namespace {

constexpr int e_names_count = -236;
constexpr int e_not_null = -1225;
constexpr int e_coll_nodata = -1814;
constexpr int e_coll_notype = -1815;
constexpr int e_no_field = -1816;
constexpr int e_lit_type = -1818;
constexpr int e_too_many = -1819;
constexpr int genlib_no_memory = -837;
constexpr int end_of_elements = 100;
constexpr int null_ref_len = 3; /* 00 01 01 */
constexpr int lvarchar_shown = 80; /* widest display text written into LVARCHAR */

/* ---- Value list and temporaries ----------------------------------------------------- */

/* One node of the value list: a converted value (or a nested reference,
** or a rearranged literal list), or a temporary collection. */
struct valnode {
  char *value;
  valnode *next;
};

/* Frees the nodes of list with their values. */
void free_valptr(valnode *list) {
  while (list != nullptr) {
    valnode *next = list->next;
    sqli_release(list->value);
    sqli_release(list);
    list = next;
  }
}

/* What one operation allocates: values and temporary collections, freed
** together when the operation ends, whatever its outcome. */
struct work {
  valnode *values = nullptr;
  valnode *temps = nullptr;
  work() = default;
  work(const work &) = delete;
  work &operator=(const work &) = delete;
  ~work() {
    for (valnode *n = temps; n != nullptr; n = n->next)
      dvz_coll_free(reinterpret_cast<dvz_coll_t *>(n->value));
    free_valptr(temps);
    free_valptr(values);
  }
  /* size zeroed bytes chained to list, or null. */
  char *alloc(size_t size, valnode **list) {
    auto *node = static_cast<valnode *>(sqli_alloc(sizeof(valnode)));
    if (node == nullptr) return nullptr;
    node->value = static_cast<char *>(sqli_alloc(size));
    if (node->value == nullptr) {
      sqli_release(node);
      return nullptr;
    }
    node->next = *list;
    *list = node;
    return node->value;
  }
  char *value(size_t size) { return alloc(size, &values); }
};

/* ---- Type infos ------------------------------------------------------------------- */

int low(int type) { return type & 0xFF; }
bool composite(int type) { return low(type) >= sql_type_set && low(type) <= sql_type_collection; }
bool is_row(int type) { return low(type) == sql_type_row; }
bool opaque(int type) {
  return low(type) == sql_type_variable_udt || low(type) == sql_type_fixed_udt;
}
bool udt_form(int type) {
  return opaque(type) || low(type) == sql_type_lvarchar || low(type) == sql_type_boolean;
}
bool character(int type) {
  const int t = low(type);
  return t == sql_type_char || t == sql_type_varchar || t == sql_type_nchar ||
         t == sql_type_nvarchar;
}

/* The descriptors one level below parent, in order: at most room. */
int children(const dvz_coll_typeinfo_t *ti, int parent, int *out, int room) {
  const int level = ti->ti_fields[parent].level_no;
  int n = 0;
  for (int i = parent + 1; i < ti->ti_count && ti->ti_fields[i].level_no > level; ++i)
    if (ti->ti_fields[i].level_no == level + 1 && n < room) out[n++] = i;
  return n;
}

/* Number of descriptors in the run that starts at first: it and all that
** follow it at a deeper level. */
int run_length(const dvz_coll_typeinfo_t *ti, int first) {
  const int level = ti->ti_fields[first].level_no;
  int n = 1;
  while (first + n < ti->ti_count && ti->ti_fields[first + n].level_no > level)
    ++n;
  return n;
}

/* The descriptor at level whose name is the name (len bytes), or -1. */
int find_field(const dvz_coll_typeinfo_t *ti, const char *name, int len, int level) {
  for (int i = 0; i < ti->ti_count; ++i) {
    const dvz_coll_field_t &f = ti->ti_fields[i];
    if (f.level_no == level && f.fieldnmlen == len &&
        std::memcmp(f.fieldname, name, static_cast<size_t>(len)) == 0)
      return i;
  }
  return -1;
}

/* Position (from 1) of descriptor field among the children of parent. */
int position_in(const dvz_coll_typeinfo_t *ti, int parent, int field) {
  int kids[512];
  const int n = children(ti, parent, kids, 512);
  for (int k = 0; k < n; ++k)
    if (kids[k] == field) return k + 1;
  return 0;
}

/* A temporary collection for the run of descriptors at first of ti: one
** zeroed block holding the record and its type info (levels made relative
** to the run), in client form. Freed with the operation's work. */
dvz_coll_t *alloc_cl_tmp(const dvz_coll_typeinfo_t *ti, int first, work &w) {
  const int n = run_length(ti, first);
  char *block = w.alloc(sizeof(dvz_coll_t) + DVZ_COLL_TYPEINFO_SIZE(n), &w.temps);
  if (block == nullptr) return nullptr;
  auto *coll = reinterpret_cast<dvz_coll_t *>(block);
  auto *tti = reinterpret_cast<dvz_coll_typeinfo_t *>(block + sizeof(dvz_coll_t));
  tti->ti_count = static_cast<int16_t>(n);
  const int base = ti->ti_fields[first].level_no;
  for (int i = 0; i < n; ++i) {
    dvz_coll_field_t &f = tti->ti_fields[i];
    f = ti->ti_fields[first + i];
    f.seqno = static_cast<int16_t>(i);
    f.level_no = static_cast<int16_t>(f.level_no - base);
    f.parent_no = static_cast<int16_t>(i == 0 ? -1 : f.parent_no - first);
  }
  if (dvz_coll_init(coll, tti, 1, nullptr, 0) != 0) return nullptr;
  return coll;
}

/* ---- Literal-values lists ------------------------------------------------------------ */

bool terminator(const sqli_litval &e) { return e.type == 0 && e.length == 0 && e.value == nullptr; }
bool marker(int type) { return type == sqli_lit_sep || type == sqli_lit_sep_runtime; }
bool opener(int type) { return type >= sql_type_set && type <= sql_type_row; }

int lit_count(const sqli_litval *lits) {
  int n = 0;
  if (lits != nullptr)
    while (!terminator(lits[n]))
      ++n;
  return n;
}

/* Index after the literal that starts at i (a nested one runs to its
** closing entry); -1 when a nested literal is not closed before end. */
int literal_end(const sqli_litval *lits, int i, int end) {
  if (!opener(lits[i].type)) return i + 1;
  int depth = 0;
  for (int k = i; k < end; ++k) {
    if (opener(lits[k].type)) ++depth;
    if (lits[k].type == sqli_lit_close && --depth == 0) return k + 1;
  }
  return -1;
}

/* The starts of the literals in [begin, end), separators passed over:
** their count, -1818 for a stray closing entry or an unclosed literal. At
** most room are stored. */
int literal_starts(const sqli_litval *lits, int begin, int end, int *out, int room) {
  int n = 0;
  for (int i = begin; i < end;) {
    if (marker(lits[i].type)) {
      ++i;
      continue;
    }
    if (lits[i].type == sqli_lit_close) return e_lit_type;
    const int next = literal_end(lits, i, end);
    if (next < 0) return e_lit_type;
    if (n < room) out[n] = i;
    ++n;
    i = next;
  }
  return n;
}

constexpr int max_literals = 1024;

/* Names of a field-name list: their count (at most room stored). */
int name_count(const char *names) {
  int n = 0;
  if (names != nullptr)
    while (names[n * SQLI_FIELDNAME_SIZE] != '\0')
      ++n;
  return n;
}
const char *name_at(const char *names, int k) { return names + k * SQLI_FIELDNAME_SIZE; }
int name_len(const char *name) {
  return static_cast<int>(strnlen(name, sizeof(dvz_coll_field_t::fieldname)));
}

/* ---- Checking a list against the type ------------------------------------------------- */

/* Whether a literal of type lit fits a field of type word field. */
int chktypes(int field, int lit) {
  const int f = low(field);
  if (lit == sqli_lit_collvar || lit == sqli_lit_rowvar || lit == sqli_lit_null) return 0;
  if (f >= sql_type_set && f <= sql_type_collection) return lit == f ? 0 : e_lit_type;
  if (lit >= sql_type_set && lit <= sql_type_collection) return e_lit_type;
  const bool lit_opaque = lit == sql_type_variable_udt || lit == sql_type_fixed_udt;
  if (opaque(field) != lit_opaque) return e_lit_type;
  return 0;
}

int check_members(const dvz_coll_typeinfo_t *ti, int parent, const sqli_litval *lits, int begin,
                  int end);

/* The literal at i against descriptor field (a nested literal against the
** fields below it). */
int check_one(const dvz_coll_typeinfo_t *ti, int field, const sqli_litval *lits, int i, int end) {
  if (const int rc = chktypes(ti->ti_fields[field].type, lits[i].type); rc != 0) return rc;
  if (!opener(lits[i].type)) return 0;
  const int next = literal_end(lits, i, end);
  return check_members(ti, field, lits, i + 1, next - 1);
}

/* The literals of [begin, end) against the members of parent: the one
** element descriptor of a collection for each, or a row's fields in order. */
int check_members(const dvz_coll_typeinfo_t *ti, int parent, const sqli_litval *lits, int begin,
                  int end) {
  int kids[max_literals];
  const int nkids = children(ti, parent, kids, max_literals);
  int starts[max_literals];
  const int n = literal_starts(lits, begin, end, starts, max_literals);
  if (n < 0) return n;
  if (n > max_literals) return e_too_many;
  const bool row = is_row(ti->ti_fields[parent].type);
  if (n > 0 && nkids == 0) return e_too_many;
  if (row && n > nkids) return e_too_many;
  for (int k = 0; k < n; ++k) {
    const int field = row ? kids[k] : kids[0];
    if (const int rc = check_one(ti, field, lits, starts[k], end); rc != 0) return rc;
  }
  return 0;
}

/* The whole list in order against the variable's type. */
int typecheck(const dvz_coll_typeinfo_t *ti, const sqli_litval *lits) {
  return check_members(ti, 0, lits, 0, lit_count(lits));
}

/* Each name against the fields at level, and the literal at its place
** against that field; as many names as literals. */
int typecheck_name(const dvz_coll_typeinfo_t *ti, const char *names, const sqli_litval *lits,
                   int level) {
  const int end = lit_count(lits);
  int starts[max_literals];
  const int n = literal_starts(lits, 0, end, starts, max_literals);
  if (n < 0) return n;
  const int count = name_count(names);
  if (count != n) return e_names_count;
  if (n > max_literals) return e_too_many;
  for (int k = 0; k < n; ++k) {
    const char *name = name_at(names, k);
    const int field = find_field(ti, name, name_len(name), level);
    if (field < 0) return e_no_field;
    if (const int rc = check_one(ti, field, lits, starts[k], end); rc != 0) return rc;
  }
  return 0;
}

/* ---- Converting literals --------------------------------------------------------------- */

/* A stored value ready to go into a collection. */
struct piece {
  char *data;
  int32_t len;
};

/* Converts the literal for the descriptor f into its stored form, chained
** to the value list. typed: the collection's type info is the client's, so
** an opaque field takes the literal's type. */
int setvalptr(dvz_coll_field_t &f, const sqli_litval &given, bool typed, work &w, piece *out) {
  sqli_litval lit = given;
  const bool null = lit.type == sqli_lit_null;
  static char text_f[] = "f";
  static char text_t[] = "t";
  if ((low(f.type) == sql_type_boolean || low(f.type) == host_type_boolean) &&
      character(lit.type)) {
    if (lit.length == 0) {
      lit.value = text_f;
      lit.length = 1;
    } else if (lit.length == 1 && lit.value != nullptr && lit.value[0] == 1) {
      lit.value = text_t;
      lit.length = 1;
    }
  }
  if ((lit.type == sql_type_char || lit.type == sql_type_varchar) && character(f.type)) {
    const int room = low(f.type) == sql_type_varchar || low(f.type) == sql_type_nvarchar
                         ? (f.length & 0xFF)
                         : f.length;
    if (lit.length > room) _sqfeWARN(1);
  }
  if (typed && opaque(f.type) && !null) {
    f.type = static_cast<int16_t>((f.type & ~0xFF) | (lit.type & 0xFF));
    if (lit.type == sql_type_fixed_udt) {
      f.length = lit.length;
    } else if (lit.value != nullptr && lit.length >= 8) {
      int32_t word = 0;
      std::memcpy(&word, lit.value + 4, sizeof word);
      f.length = static_cast<int16_t>(word);
    }
  }
  const int type = low(f.type);
  int size = 0;
  if (f.length == 0 && type != sql_type_lvarchar && !(null && udt_form(type))) return SQLI_E_NOMEM;
  if (type == sql_type_varchar || type == sql_type_nvarchar) {
    size = (f.length & 0xFF) + 2;
  } else if (udt_form(type)) {
    /* The opaque form is a 5-byte head and the bytes; room for the longer
    ** of field and literal, so a long literal never writes past it. */
    int need = std::max<int>(f.length, lit.length);
    /* A value that is not text goes to LVARCHAR as its display text. */
    if (!character(lit.type) && !opaque(lit.type)) need = std::max(need, lvarchar_shown);
    if (null)
      size = 5;
    else if (type == sql_type_lvarchar && f.length == 0)
      size = need + 6;
    else
      size = need + 5;
  } else {
    size = rtypmsize(type, f.length);
    if (size <= 0) return SQLI_E_NOMEM;
  }
  char *data = w.value(static_cast<size_t>(size) + 1);
  if (data == nullptr) return SQLI_E_NOMEM;
  const int word = f.type & (0xFF | VTYPE_NOTNULL);
  if (null) {
    if ((f.type & VTYPE_NOTNULL) != 0) return _iqseterr(e_not_null);
    if (udt_form(type)) {
      studt(data, nullptr, 0, 1);
    } else {
      value_t v {};
      v.vtype = static_cast<int16_t>(type);
      v.vind = -1;
      v.vprec = f.length;
      if (const int rc = rvaldata(&v, data, type, f.length); rc != 0) return _iqseterr(rc);
    }
  } else if ((lit.type == sql_type_datetime || lit.type == sql_type_interval) &&
             (type == sql_type_datetime || type == sql_type_interval) &&
             (lit.flags & ~SQLI_LIT_HOSTCHAR) != 0 && lit.value != nullptr) {
    /* Text under the literal's own qualifier. */
    const std::string text(lit.value, static_cast<size_t>(std::max<int>(lit.length, 0)));
    value_t v {};
    v.vtype = lit.type;
    const auto qual = static_cast<uint16_t>(lit.flags & ~SQLI_LIT_HOSTCHAR);
    v.vprec = static_cast<int16_t>(qual);
    int rc = 0;
    if (lit.type == sql_type_datetime) {
      dtime_t dt {};
      dt.dt_qual = qual;
      rc = dtcvasc(text.c_str(), &dt);
      v.vdec = dt.dt_dec;
    } else {
      intrvl_t in {};
      in.in_qual = qual;
      rc = incvasc(text.c_str(), &in);
      v.vdec = in.in_dec;
    }
    if (rc == 0) rc = rvaldata(&v, data, word, f.length);
    if (rc != 0) return _iqseterr(rc);
  } else {
    sqlvar_struct host {};
    host.sqldata = lit.value;
    host.sqllen = lit.length;
    if (lit.nesting == 1) {
      host.sqltype = host_type_fixchar;
    } else if (character(lit.type)) {
      host.sqltype = (lit.flags & SQLI_LIT_HOSTCHAR) != 0 ? host_type_char : host_type_fixchar;
    } else {
      host.sqltype = lit.type;
    }
    if (host.sqldata == nullptr) return _iqseterr(SQLI_E_NODATA);
    if (const int rc = _sqvar2data(&host, data, word, f.length, 0); rc != 0) return rc;
  }
  out->data = data;
  out->len = type == sql_type_varchar || type == sql_type_nvarchar ? (f.length & 0xFF) + 1 : size;
  return 0;
}

/* ---- Building elements ------------------------------------------------------------------ */

struct build_ctx {
  dvz_coll_typeinfo_t *ti;
  bool typed;
  work &w;
};

int build_members(dvz_coll_t *coll, build_ctx &cx, int parent, const sqli_litval *lits, int begin,
                  int end, int32_t pos);

/* A nested reference for a composite descriptor from the literal at i: the
** NULL reference, one to a host variable's collection, or one to a
** temporary collection built from a nested literal. */
int nested_piece(build_ctx &cx, int field, const sqli_litval *lits, int i, int end, piece *out) {
  const sqli_litval &lit = lits[i];
  char *area = cx.w.value(DVZ_COLL_NESTED_AREA);
  if (area == nullptr) return SQLI_E_NOMEM;
  out->data = area;
  if (lit.type == sqli_lit_null) {
    if ((cx.ti->ti_fields[field].type & VTYPE_NOTNULL) != 0) return _iqseterr(e_not_null);
    dvz_coll_null(area);
    out->len = null_ref_len;
    return 0;
  }
  dvz_coll_t *source = nullptr;
  if (lit.type == sqli_lit_collvar || lit.type == sqli_lit_rowvar) {
    source = reinterpret_cast<dvz_coll_t *>(lit.value);
    if (source == nullptr) return e_coll_nodata;
  } else if (opener(lit.type)) {
    source = alloc_cl_tmp(cx.ti, field, cx.w);
    if (source == nullptr) return SQLI_E_NOMEM;
    build_ctx inner {source->cl_typeinfo, true, cx.w};
    const int next = literal_end(lits, i, end);
    if (const int rc = build_members(source, inner, 0, lits, i + 1, next - 1, 0); rc != 0)
      return rc;
  } else {
    return e_lit_type;
  }
  if (const int rc = dvz_coll_set_nested_coll(source, area); rc != 0) return rc;
  out->len = DVZ_COLL_NESTED_AREA;
  return 0;
}

/* The stored element for descriptor field from the literal at i. */
int element_piece(build_ctx &cx, int field, const sqli_litval *lits, int i, int end, piece *out) {
  dvz_coll_field_t &f = cx.ti->ti_fields[field];
  if (composite(f.type)) return nested_piece(cx, field, lits, i, end, out);
  return setvalptr(f, lits[i], cx.typed, cx.w, out);
}

/* Builds every literal of [begin, end) for the members of parent, then
** inserts them into coll (elements at pos, or a row's fields in order)
** and rebuilds its data. */
int build_members(dvz_coll_t *coll, build_ctx &cx, int parent, const sqli_litval *lits, int begin,
                  int end, int32_t pos) {
  int kids[max_literals];
  const int nkids = children(cx.ti, parent, kids, max_literals);
  int starts[max_literals];
  const int n = literal_starts(lits, begin, end, starts, max_literals);
  if (n < 0) return n;
  const bool row = is_row(cx.ti->ti_fields[parent].type);
  if (n > max_literals || (n > 0 && nkids == 0) || (row && n > nkids)) return e_too_many;
  /* A row is rebuilt only with every field: a shorter list is refused
  ** before anything changes. */
  if (row && n < nkids) return e_names_count;
  auto *pieces = reinterpret_cast<piece *>(cx.w.value(sizeof(piece) * static_cast<size_t>(n + 1)));
  if (pieces == nullptr) return SQLI_E_NOMEM;
  for (int k = 0; k < n; ++k) {
    const int field = row ? kids[k] : kids[0];
    if (const int rc = element_piece(cx, field, lits, starts[k], end, &pieces[k]); rc != 0)
      return rc;
  }
  for (int k = 0; k < n; ++k) {
    const int32_t at = row || pos == 0 ? 0 : pos + k;
    if (const int rc = dvz_coll_insert(coll, pieces[k].data, pieces[k].len, at); rc != 0) return rc;
  }
  return dvz_coll_tuple(coll);
}

/* ---- Named lists ------------------------------------------------------------------------- */

/* The list rearranged into the order of the fields of the row descriptor
** row: named fields take their literals, the others NULL, with a
** separator between fields; wrapped as one row literal when wrap is set.
** Allocated in the work. */
sqli_litval *rowinsert_name(const dvz_coll_typeinfo_t *ti, int row, const char *names,
                            const sqli_litval *lits, bool wrap, work &w, int *error) {
  const int end = lit_count(lits);
  int starts[max_literals];
  const int n = literal_starts(lits, 0, end, starts, max_literals);
  int kids[max_literals];
  const int nkids = children(ti, row, kids, max_literals);
  const size_t room = static_cast<size_t>(end + 2 * nkids + 4);
  auto *out = reinterpret_cast<sqli_litval *>(w.value(room * sizeof(sqli_litval)));
  if (out == nullptr) {
    *error = SQLI_E_NOMEM;
    return nullptr;
  }
  size_t at = 0;
  if (wrap) out[at++] = sqli_litval {nullptr, sql_type_row, 0, 0, 1};
  for (int j = 0; j < nkids; ++j) {
    if (j > 0) out[at++] = sqli_litval {nullptr, sqli_lit_sep_runtime, 0, 0, 0};
    const dvz_coll_field_t &f = ti->ti_fields[kids[j]];
    int named = -1;
    for (int k = 0; k < n && named < 0; ++k) {
      const char *name = name_at(names, k);
      if (name_len(name) == f.fieldnmlen &&
          std::memcmp(name, f.fieldname, static_cast<size_t>(f.fieldnmlen)) == 0)
        named = k;
    }
    if (named < 0) {
      out[at++] = sqli_litval {nullptr, sqli_lit_null, 0, 0, 0};
      continue;
    }
    const int next = literal_end(lits, starts[named], end);
    for (int i = starts[named]; i < next; ++i)
      out[at++] = lits[i];
  }
  if (wrap) out[at++] = sqli_litval {nullptr, sqli_lit_close, 0, 0, 1};
  out[at] = sqli_litval {};
  return out;
}

/* ---- Results ------------------------------------------------------------------------------ */

/* Records a failure (the value library's no-memory as -406) and returns
** it; 0 and 100 pass unrecorded. */
int finish(int rc) {
  if (rc == genlib_no_memory) rc = SQLI_E_NOMEM;
  if (rc >= 0) return rc;
  const sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr || tcb->sqlca->sqlcode != rc) _iqseterr(rc);
  return rc;
}

/* The type info of coll after the common checks, or null with *rc set. */
dvz_coll_typeinfo_t *checked_typeinfo(dvz_coll_t *coll, int *rc) {
  if (coll == nullptr) {
    *rc = e_coll_nodata;
    return nullptr;
  }
  dvz_coll_typeinfo_t *ti = sqli_coll_typeinfo(coll);
  if (ti == nullptr || ti->ti_count < 1) {
    *rc = e_coll_notype;
    return nullptr;
  }
  return ti;
}

int update_fields(dvz_coll_t *row, dvz_coll_typeinfo_t *rti, const char *names,
                  const sqli_litval *lits, bool strict, work &w);

int construct(dvz_coll_t *coll, dvz_coll_typeinfo_t *ti, const char *names, sqli_litval *lits,
              int32_t pos, work &w) {
  const bool row = sqli_coll_is_row(coll) != 0;
  if (row && coll->cl_cardinality > 0) {
    /* A row that has its fields already takes the literals in their place. */
    if (name_count(names) > 0) {
      if (const int rc = typecheck_name(ti, names, lits, 1); rc != 0) return rc;
    } else if (const int rc = typecheck(ti, lits); rc != 0) {
      return rc;
    }
    return update_fields(coll, ti, names, lits, true, w);
  }
  build_ctx cx {ti, coll->cl_typed != 0, w};
  if (name_count(names) > 0) {
    if (!row && (ti->ti_count < 2 || !is_row(ti->ti_fields[1].type))) return e_no_field;
    if (const int rc = typecheck_name(ti, names, lits, row ? 1 : 2); rc != 0) return rc;
    int rc = 0;
    lits = rowinsert_name(ti, row ? 0 : 1, names, lits, !row, w, &rc);
    if (lits == nullptr) return rc;
  } else if (const int rc = typecheck(ti, lits); rc != 0) {
    return rc;
  }
  return build_members(coll, cx, 0, lits, 0, lit_count(lits), pos);
}

/* ---- Updating --------------------------------------------------------------------------- */

/* The named fields of the row record row (of type info rti) from the
** literals, each through dvz_coll_update_pos; names without a field are
** an error when strict, else passed over. The row's data is rebuilt. */
int update_fields(dvz_coll_t *row, dvz_coll_typeinfo_t *rti, const char *names,
                  const sqli_litval *lits, bool strict, work &w) {
  const int end = lit_count(lits);
  int starts[max_literals];
  const int n = literal_starts(lits, 0, end, starts, max_literals);
  if (n < 0) return n;
  if (n > max_literals) return e_too_many;
  const int count = name_count(names);
  if (count > 0 && count != n) return e_names_count;
  build_ctx cx {rti, row->cl_typed != 0, w};
  int kids[max_literals];
  const int nkids = children(rti, 0, kids, max_literals);
  auto *pieces = reinterpret_cast<piece *>(w.value(sizeof(piece) * static_cast<size_t>(n + 1)));
  auto *places = reinterpret_cast<int32_t *>(w.value(sizeof(int32_t) * static_cast<size_t>(n + 1)));
  if (pieces == nullptr || places == nullptr) return SQLI_E_NOMEM;
  for (int k = 0; k < n; ++k) {
    int field = -1;
    if (count > 0) {
      const char *name = name_at(names, k);
      field = find_field(rti, name, name_len(name), rti->ti_fields[0].level_no + 1);
    } else if (k < nkids) {
      field = kids[k];
    }
    places[k] = field < 0 ? 0 : position_in(rti, 0, field);
    if (places[k] == 0) {
      if (strict) return count > 0 ? e_no_field : e_too_many;
      continue;
    }
    if (const int rc = element_piece(cx, field, lits, starts[k], end, &pieces[k]); rc != 0)
      return rc;
  }
  for (int k = 0; k < n; ++k) {
    if (places[k] == 0) continue;
    if (const int rc = dvz_coll_update_pos(row, places[k], pieces[k].data, pieces[k].len); rc != 0)
      return rc;
  }
  return dvz_coll_tuple(row);
}

/* A row variable, field by field. */
int update_pos_in_row(dvz_coll_t *coll, dvz_coll_typeinfo_t *ti, const char *names,
                      const sqli_litval *lits, work &w) {
  if (coll->cl_typed != 0 && name_count(names) > 0) {
    if (const int rc = typecheck_name(ti, names, lits, 1); rc != 0) return rc;
  } else if (name_count(names) == 0) {
    if (const int rc = typecheck(ti, lits); rc != 0) return rc;
  }
  return update_fields(coll, ti, names, lits, true, w);
}

/* The row element at element (under cursor) of coll, with the named
** fields changed, put back at the cursor. */
int updaterow(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, const char *element, const char *names,
              const sqli_litval *lits, work &w) {
  auto *row = reinterpret_cast<dvz_coll_t *>(w.alloc(sizeof(dvz_coll_t), &w.temps));
  if (row == nullptr) return SQLI_E_NOMEM;
  if (const int rc = dvz_coll_elem_coll(coll, row, element, 0); rc != 0) return rc;
  dvz_coll_typeinfo_t *rti = sqli_coll_typeinfo(row);
  if (rti == nullptr) return e_coll_notype;
  if (row->cl_typed != 0 && name_count(names) > 0) {
    /* An element's type info may keep the levels it had in the collection. */
    const int level = rti->ti_fields[0].level_no + 1;
    if (const int rc = typecheck_name(rti, names, lits, level); rc != 0) return rc;
  }
  if (const int rc = update_fields(row, rti, names, lits, false, w); rc != 0) return rc;
  char *area = w.value(DVZ_COLL_NESTED_AREA);
  if (area == nullptr) return SQLI_E_NOMEM;
  if (const int rc = dvz_coll_set_nested_coll(row, area); rc != 0) return rc;
  return dvz_coll_update(coll, cursor, area, DVZ_COLL_NESTED_AREA);
}

/* The one top-level literal of a list for an element of descriptor 1,
** converted. */
int single_piece(build_ctx &cx, const sqli_litval *lits, piece *out) {
  const int end = lit_count(lits);
  int starts[2];
  const int n = literal_starts(lits, 0, end, starts, 2);
  if (n < 0) return n;
  if (n != 1) return n == 0 ? e_names_count : e_too_many;
  return element_piece(cx, 1, lits, starts[0], end, out);
}

/* A private cursor on coll, closed when it goes out of scope. */
struct private_cursor {
  dvz_coll_t *coll;
  dvz_coll_cursor_t cursor {};
  int opened;
  explicit private_cursor(dvz_coll_t *c) : coll(c) { opened = dvz_coll_open(c, &cursor); }
  ~private_cursor() {
    if (opened == 0) dvz_coll_close(coll, &cursor);
  }
};

int setall_collection(dvz_coll_t *coll, dvz_coll_typeinfo_t *ti, const char *names,
                      const sqli_litval *lits, work &w) {
  const dvz_coll_field_t &elem = ti->ti_fields[1];
  build_ctx cx {ti, coll->cl_typed != 0, w};
  piece value {};
  if (!is_row(elem.type)) {
    if (const int rc = typecheck(ti, lits); rc != 0) return rc;
    if (const int rc = single_piece(cx, lits, &value); rc != 0) return rc;
  }
  private_cursor pc(coll);
  if (pc.opened != 0) return pc.opened;
  if (low(ti->ti_fields[0].type) == sql_type_set && !composite(elem.type)) {
    /* Every element would become the same value: a SET keeps one. */
    if (coll->cl_cardinality > 0 || coll->cl_log != nullptr) {
      const int rc = dvz_coll_delete(coll, &pc.cursor, DVZ_COLL_DELETE_ALL);
      if (rc != 0 && rc != end_of_elements) return rc;
    }
    return dvz_coll_insert(coll, value.data, value.len, 0);
  }
  for (;;) {
    char *element = nullptr;
    int32_t len = 0;
    int rc = dvz_coll_next(coll, &pc.cursor, &element, &len);
    if (rc == end_of_elements) return 0;
    if (rc != 0) return rc;
    if (is_row(elem.type))
      rc = updaterow(coll, &pc.cursor, element, names, lits, w);
    else
      rc = dvz_coll_update(coll, &pc.cursor, value.data, value.len);
    if (rc != 0) return rc;
  }
}

/* True when coll holds no element and no pending change. */
bool without_data(const dvz_coll_t *coll) {
  return coll->cl_data == nullptr && coll->cl_log == nullptr;
}

/* ---- Reading ------------------------------------------------------------------------------ */

struct output {
  int nout;
  sqlvar_struct *outs;
  const char *names;
  int next; /* next variable in order */
  sqli_tcb *tcb;
};

/* The host variable for a field called name, or null to pass it over. */
sqlvar_struct *target_for(output &o, const dvz_coll_field_t &f) {
  if (name_count(o.names) == 0) return o.next < o.nout ? &o.outs[o.next++] : nullptr;
  const int count = name_count(o.names);
  for (int k = 0; k < count && k < o.nout; ++k) {
    const char *name = name_at(o.names, k);
    if (name_len(name) == f.fieldnmlen &&
        std::memcmp(name, f.fieldname, static_cast<size_t>(f.fieldnmlen)) == 0)
      return &o.outs[k];
  }
  return nullptr;
}

/* The indicator ind into the host's indicator variable, if any. */
int put_indicator(sqlvar_struct &h, int16_t ind) {
  if (h.sqlind != nullptr) {
    *h.sqlind = ind;
    return 0;
  }
  if (h.sqlidata != nullptr && h.sqlitype != 0)
    return _sqindhost(ind, h.sqlidata, h.sqlitype, h.sqllen);
  return 0;
}

/* A scalar stored at bytes (descriptor f) into the host variable h. */
int scalar_out(const char *bytes, int32_t avail, const dvz_coll_field_t &f, sqlvar_struct &h,
               sqli_tcb *tcb) {
  value_t v {};
  int length = f.length;
  if (udt_form(f.type)) {
    /* The opaque form may hold more than the field's length (a literal
    ** longer than it, or an LVARCHAR without one): its own length counts,
    ** within the element's bytes when they are known (avail >= 0). */
    if (avail >= 0 && avail < 5) return e_coll_notype;
    int64_t held = std::max<int64_t>(dvz_ld_be_i32(bytes + 1), f.length);
    if (avail >= 0) held = std::min<int64_t>(held, avail - 5);
    length = static_cast<int>(std::min<int64_t>(std::max<int64_t>(held, 0), INT_MAX));
  }
  if (const int rc = rdataval(bytes, low(f.type), length, &v); rc != 0) return rc;
  const int host = h.sqltype & 0xFF;
  if (h.sqldata == nullptr) {
    const bool lvar =
        host == sql_type_lvarchar || host == host_type_lvarchar || host == host_type_lvarchar_ptr;
    if (tcb == nullptr || tcb->lvar_alloc == 0 || !lvar) return SQLI_E_NODATA;
    if (host == host_type_lvarchar_ptr) {
      void *rec = nullptr;
      if (const int rc = sqli_private_var_init(&rec); rc != 0) return rc;
      h.sqldata = static_cast<char *>(rec);
    } else {
      const int32_t need = (v.vind < 0 ? 0 : v.vlen) + 1;
      h.sqldata = static_cast<char *>(sqli_alloc(static_cast<size_t>(need)));
      if (h.sqldata == nullptr) return SQLI_E_NOMEM;
      h.sqllen = need;
    }
    h.sqlflags |= sqlvar_own_data;
  }
  int16_t ind = 0;
  if (const int rc = _sqvalhost(&v, h.sqldata, h.sqltype, h.sqllen, &ind); rc < 0) return rc;
  return put_indicator(h, v.vind < 0 ? int16_t {-1} : ind);
}

/* A nested collection or row (field n of coll, 0 for the element) into
** the collection or row host variable h. */
int nested_out(dvz_coll_t *coll, const char *bytes, int n, sqlvar_struct &h) {
  auto *hc = reinterpret_cast<dvz_coll_t *>(h.sqldata);
  if (hc == nullptr) return e_coll_nodata;
  if (hc->cl_svr_typeinfo == nullptr) {
    dvz_coll_typeinfo_t *eti = nullptr;
    if (const int rc = dvz_coll_elem_typeinfo(coll, &eti, n); rc != 0) return rc;
    if (hc->cl_typeinfo != nullptr) {
      if (const int rc = check_typeinfo(hc->cl_typeinfo, eti); rc != 0) {
        std::free(eti);
        return rc;
      }
      hc->cl_svr_typeinfo = eti;
      hc->cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
    } else {
      dvz_coll_free(hc);
      if (const int rc = dvz_coll_init(hc, eti, 0, nullptr, 0); rc != 0) {
        std::free(eti);
        return rc;
      }
      hc->cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
    }
  }
  if (const int rc = dvz_coll_put_coll(hc, bytes); rc != 0) return rc;
  return put_indicator(h, (hc->cl_flags & DVZ_COLL_NULL) != 0 ? int16_t {-1} : int16_t {0});
}

int row_out(dvz_coll_t *row, output &o);

/* True when the host variable takes a collection or row. */
bool collection_var(const sqlvar_struct &h) {
  const int t = h.sqltype & 0xFF;
  const int sql = t < host_type_min ? t : rtosqltype(t);
  return composite(sql);
}

/* True when the next variable in order takes a collection or row. */
bool collection_host(const output &o) { return o.next < o.nout && collection_var(o.outs[o.next]); }

/* One member (descriptor f, field n of coll or 0) stored at bytes. */
int member_out(dvz_coll_t *coll, const dvz_coll_field_t &f, const char *bytes, int32_t avail, int n,
               output &o, work &w) {
  if (is_row(f.type) && (name_count(o.names) > 0 || !collection_host(o))) {
    /* A nested row goes into a row host variable when one is next in
    ** order; else its fields are delivered one by one. */
    dvz_coll_t *sub = reinterpret_cast<dvz_coll_t *>(w.alloc(sizeof(dvz_coll_t), &w.temps));
    if (sub == nullptr) return SQLI_E_NOMEM;
    if (const int rc = dvz_coll_elem_coll(coll, sub, bytes, n); rc != 0) return rc;
    return row_out(sub, o);
  }
  sqlvar_struct *h = target_for(o, f);
  if (h == nullptr) return 0;
  /* A collection goes only into a collection or row variable, and a
  ** scalar never into one. */
  if (composite(f.type) != collection_var(*h)) return value_err_no_conversion;
  if (composite(f.type)) return nested_out(coll, bytes, n, *h);
  return scalar_out(bytes, avail, f, *h, o.tcb);
}

/* Each field of the row record row, in order. */
int row_out(dvz_coll_t *row, output &o) {
  dvz_coll_typeinfo_t *rti = sqli_coll_typeinfo(row);
  if (rti == nullptr) return e_coll_notype;
  int kids[max_literals];
  const int nkids = children(rti, 0, kids, max_literals);
  work w;
  private_cursor pc(row);
  if (pc.opened != 0) return pc.opened;
  for (int k = 0; k < nkids; ++k) {
    char *bytes = nullptr;
    int32_t len = 0;
    const int rc = dvz_coll_next(row, &pc.cursor, &bytes, &len);
    if (rc == end_of_elements) return 0;
    if (rc != 0) return rc;
    if (const int out = member_out(row, rti->ti_fields[kids[k]], bytes, len, k + 1, o, w); out != 0)
      return out;
  }
  return 0;
}

}  // namespace

/* ---- Entry points --------------------------------------------------------------------------- */

int dvz_rc_construct(dvz_coll_t *coll, const char *names, sqli_litval *lits, int32_t pos) {
  int rc = 0;
  dvz_coll_typeinfo_t *ti = checked_typeinfo(coll, &rc);
  if (ti == nullptr) return finish(rc);
  work w;
  return finish(construct(coll, ti, names, lits, pos, w));
}

int dvz_rc_setall(dvz_coll_t *coll, const char *names, sqli_litval *lits) {
  int rc = 0;
  dvz_coll_typeinfo_t *ti = checked_typeinfo(coll, &rc);
  if (ti == nullptr) return finish(rc);
  work w;
  const bool row = sqli_coll_is_row(coll) != 0;
  if (without_data(coll)) {
    const bool nested_elem = !row && ti->ti_count > 1 && composite(ti->ti_fields[1].type) &&
                             !is_row(ti->ti_fields[1].type);
    return finish(construct(coll, ti, nested_elem ? nullptr : names, lits, 0, w));
  }
  if (row) return finish(update_pos_in_row(coll, ti, names, lits, w));
  if (ti->ti_count < 2) return finish(e_coll_notype);
  return finish(setall_collection(coll, ti, names, lits, w));
}

int dvz_rc_updcur(dvz_coll_t *coll, const char *names, sqli_litval *lits, dvz_coll_cursor_t *cursor,
                  const char *element) {
  int rc = 0;
  dvz_coll_typeinfo_t *ti = checked_typeinfo(coll, &rc);
  if (ti == nullptr) return finish(rc);
  if (cursor == nullptr) return finish(SQLI_E_BADCURSOR);
  work w;
  if (sqli_coll_is_row(coll) != 0) return finish(update_pos_in_row(coll, ti, names, lits, w));
  if (ti->ti_count < 2) return finish(e_coll_notype);
  if (is_row(ti->ti_fields[1].type)) {
    if (element == nullptr) return finish(SQLI_E_NO_CURRENT);
    return finish(updaterow(coll, cursor, element, names, lits, w));
  }
  if (const int check = typecheck(ti, lits); check != 0) return finish(check);
  build_ctx cx {ti, coll->cl_typed != 0, w};
  piece value {};
  if (const int conv = single_piece(cx, lits, &value); conv != 0) return finish(conv);
  return finish(dvz_coll_update(coll, cursor, value.data, value.len));
}

int dvz_rc_get(dvz_coll_t *coll, dvz_coll_cursor_t *, const char *element, const char *names,
               int nout, sqlvar_struct *outs, int, sqli_tcb *tcb) {
  int rc = 0;
  dvz_coll_typeinfo_t *ti = checked_typeinfo(coll, &rc);
  if (ti == nullptr) return finish(rc);
  const bool row = sqli_coll_is_row(coll) != 0;
  const int count = name_count(names);
  for (int k = 0; k < count; ++k) {
    const char *name = name_at(names, k);
    if (find_field(ti, name, name_len(name), row ? 1 : 2) < 0) return finish(e_no_field);
  }
  output o {nout, outs, names, 0, tcb};
  if (row) return finish(row_out(coll, o));
  if (ti->ti_count < 2) return finish(e_coll_notype);
  if (element == nullptr) return finish(SQLI_E_NODATA);
  const dvz_coll_field_t &elem = ti->ti_fields[1];
  work w;
  if (is_row(elem.type)) {
    dvz_coll_t *sub = reinterpret_cast<dvz_coll_t *>(w.alloc(sizeof(dvz_coll_t), &w.temps));
    if (sub == nullptr) return finish(SQLI_E_NOMEM);
    if (const int load = dvz_coll_elem_coll(coll, sub, element, 0); load != 0) return finish(load);
    return finish(row_out(sub, o));
  }
  return finish(member_out(coll, elem, element, -1, 0, o, w));
}
