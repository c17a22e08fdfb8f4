/*
** collection_cursors.cpp: SQL statements and cursors on a collection or row
** host variable (SELECT ... FROM TABLE(:v), INSERT INTO TABLE(:v), UPDATE
** TABLE(:v), DELETE FROM TABLE(:v)). The runtime carries them out in the
** client on the program's dvz_coll_t: nothing here sends to the server
** except the release of a collection's server copy (dvz_cl_dealloc).
**
** The cursor calls (cursor_calls.cpp, fetch.cpp), the statement path
** (statements.cpp) and dynamic SQL (dynamic_sql.cpp) hand a record over
** here when it carries the collection mark. Building, updating and reading
** elements is the element module's (sqli_coll_internal.h); this module
** keeps the cursor records, fills the placeholders of literal-values lists
** and allocates collection host variables.
**
** A record's collection cursor is chained into the program's collection
** while open: every path that resets or frees a record closes it first
** (free_cl_cursor), so the collection never keeps a pointer into a freed
** record. Errors are recorded with _iqseterr and returned; success is the
** caller's to record (_sqsetCODE) unless said otherwise.
*/
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "gen_collection.h"
#include "gen_types.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_diag_internal.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_seams.h"
#include "sqli_statements.h"

namespace {

/* Statement types of the collection statements. */
enum {
  st_select = 2,
  st_insert = 6,
  st_update_cur = 7,
  st_delete_cur = 8,
  st_delete_all = 32,
  st_update_all = 33
};

constexpr int no_more = 100;

int32_t code_of(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }

/* Records code unless sqlca already holds it (the element module records
** its own errors). Returns code. */
int record(int code) {
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr || code_of(tcb) != code) _iqseterr(code);
  return code;
}

/* Entries of a literal-values list before its terminator. */
int lit_count(const sqli_litval *lits) {
  int n = 0;
  if (lits == nullptr) return 0;
  while (lits[n].type != 0 || lits[n].length != 0 || lits[n].value != nullptr)
    ++n;
  return n;
}

/* A private copy of a literal-values list with its terminator (null for a
** null list). *failed is set when memory runs out. */
sqli_litval *copy_lits(const sqli_litval *lits, bool *failed) {
  *failed = false;
  if (lits == nullptr) return nullptr;
  const size_t n = static_cast<size_t>(lit_count(lits)) + 1;
  auto *copy = static_cast<sqli_litval *>(sqli_alloc(n * sizeof(sqli_litval)));
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, lits, n * sizeof(sqli_litval));
  return copy;
}

/* Whether host type word type names a collection or row host variable. */
bool is_coll_host(int type) {
  const int sql = rtosqltype(type & 0xFF);
  return sql >= sql_type_set && sql <= sql_type_collection;
}

/* The collection of host variable var after the checks every collection
** statement makes: a collection or row variable (-1817) with data (-1814)
** and, when want_type, type info (-1815). Null with the error recorded. */
dvz_coll_t *checked_coll(const sqlvar_struct *var, bool want_type) {
  if (var == nullptr || !is_coll_host(var->sqltype)) {
    _iqseterr(SQLI_E_NOT_COLL);
    return nullptr;
  }
  auto *coll = reinterpret_cast<dvz_coll_t *>(var->sqldata);
  if (coll == nullptr) {
    _iqseterr(SQLI_E_COLL_NODATA);
    return nullptr;
  }
  if (want_type && sqli_coll_typeinfo(coll) == nullptr) {
    _iqseterr(SQLI_E_COLL_NOTYPE);
    return nullptr;
  }
  return coll;
}

/* A host-variable list as {count, entries}. */
struct varlist {
  int count = 0;
  sqlvar_struct *vars = nullptr;
};

varlist of_sqlda(const sqlda *d) {
  if (d == nullptr || d->sqld <= 0 || d->sqlvar == nullptr) return {};
  return {d->sqld, d->sqlvar};
}

/* The list a call works on: the named descriptor (-469 when unknown), the
** one given when it has entries, else the record's declared list. false
** when the named descriptor does not exist (recorded). */
bool pick_list(const char *descname, const sqlda *given, int declared_n, sqlvar_struct *declared,
               varlist *out, bool *named, sqli_tcb *tcb) {
  *named = false;
  if (descname != nullptr) {
    sqlda *d = _iqdlocate(descname, tcb);
    if (d == nullptr) {
      _iqseterr(SQLI_E_NODESC);
      return false;
    }
    *out = of_sqlda(d);
    *named = true;
    return true;
  }
  *out = of_sqlda(given);
  if (out->count == 0) *out = {declared_n, declared};
  return true;
}

/* Closes the record's collection cursor when it is chained into its
** collection, and forgets the element fetched last. */
void close_coll_cursor(sqli_cursor *c) {
  sqli_coll_state &s = c->coll_state;
  if (s.open == 1 && s.coll != nullptr) dvz_coll_close(s.coll, &s.cursor);
  s.open = 0;
  s.element = nullptr;
}

/* Clears what a declaration or preparation sets, keeping the record's
** place on the list, its kind and its name. The collection cursor is
** closed and the copies of the literal values freed first. */
void reset_record(sqli_cursor *c) {
  free_cl_cursor(c);
  _sqfrcmdtxt(c->stmt_text);
  c->stmt_text = nullptr;
  c->flags = 0;
  c->nin = c->nout = 0;
  c->inlist = c->outlist = nullptr;
  c->nbuffered = 0;
  c->first_row = c->last_row = 0;
  c->coll_word = 0;
  c->coll_arg = nullptr;
  c->coll_state = sqli_coll_state {};
}

/* A private one-fragment copy of text for c. 0, or -406 recorded. */
int copy_text(sqli_cursor *c, const char *const *cmdtxt) {
  if (cmdtxt == nullptr) return 0;
  if (_sqcopycmdtxt(cmdtxt, sqli_cursor_handle(c), 0) != 0) return _iqseterr(SQLI_E_NOMEM);
  return 0;
}

/* The part of DECLARE that every collection cursor shares: the record is
** reset and declared on cmdtxt with the given lists and collection words.
** 0, or the error recorded. */
int declare_record(sqli_cursor *c, const char *const *cmdtxt, sqli_varlist *input,
                   sqli_varlist *output, const sqli_litval *lits, void *fields, int32_t stmt_type,
                   int32_t coll_word) {
  reset_record(c);
  c->coll_mark = 1;
  if (input != nullptr && input->count > 0) {
    c->nin = input->count;
    c->inlist = input->entries;
  }
  if (output != nullptr && output->count > 0) {
    c->nout = output->count;
    c->outlist = output->entries;
  }
  c->flags = sqli_cur_declared;
  c->stmt_type = static_cast<int16_t>(stmt_type);
  /* A collection statement holds no server id; -1 would read as unused. */
  c->stmt_id = 0;
  bool failed = false;
  c->literal_values = copy_lits(lits, &failed);
  if (failed) return _iqseterr(SQLI_E_NOMEM);
  c->coll_arg = fields;
  c->coll_word = static_cast<uint32_t>(coll_word);
  if (int rc = copy_text(c, cmdtxt); rc != 0) return rc;
  if (c->nin > 0) {
    dvz_coll_t *coll = checked_coll(&c->inlist[0], true);
    if (coll == nullptr) return code_of(getsqlitcb());
    c->coll_state.coll = coll;
  }
  return 0;
}

/* ---- DESCRIBE ------------------------------------------------------------------------ */

/* An owned copy of n bytes of text into *field, the old owned copy (flag
** bit of var) freed. false when memory is short. */
bool own_text(char **field, sqlvar_struct *var, int bit, const char *text, size_t n) {
  if ((var->sqlflags & bit) != 0) sqli_release(*field);
  *field = nullptr;
  var->sqlflags &= ~bit;
  auto *copy = static_cast<char *>(sqli_alloc(n + 1));
  if (copy == nullptr) return false;
  if (n > 0) std::memcpy(copy, text, n);
  copy[n] = 0;
  *field = copy;
  var->sqlflags |= bit;
  return true;
}

/* Length of a fixed name field of up to room bytes, without its end. */
size_t name_len(const char *name, int stated, size_t room) {
  if (stated > 0 && static_cast<size_t>(stated) <= room) return static_cast<size_t>(stated);
  return strnlen(name, room);
}

/* Fills var from field (set_sqlvar). Into a named descriptor (named) the
** names are copied into storage the entry owns and a data buffer is made
** for the type; into the runtime's own sqlda they point into the type
** info. 0, or the error recorded. */
int set_sqlvar(sqlvar_struct *var, dvz_coll_field_t *field, bool named) {
  const int tw = static_cast<uint16_t>(field->type);
  int type = tw & 0xFF;
  if ((tw & 0x400) != 0) type = ((field->length >> 8) & 0xFF) == 8 ? 4 : 3;
  for (int bit : {0x4000, 0x2000, 0x800})
    if ((tw & bit) != 0) {
      type |= bit;
      break;
    }
  type |= tw & (0x1000 | 0x100);
  var->sqltype = static_cast<int16_t>(type);
  var->sqllen = field->length;
  var->sqlxid = field->xid;
  var->sqltypelen = field->xtype_nm_len;
  var->sqlownerlen = field->xtype_owner_len;
  var->sqlsourcetype = static_cast<int16_t>(field->srctype);
  const size_t nlen = name_len(field->fieldname, field->fieldnmlen, sizeof field->fieldname);
  const size_t tlen = name_len(field->xtype_name, field->xtype_nm_len, sizeof field->xtype_name);
  const size_t olen =
      name_len(field->xtype_owner_name, field->xtype_owner_len, sizeof field->xtype_owner_name);
  if (!named) {
    var->sqlname = field->fieldname;
    var->sqltypename = field->xtype_name;
    var->sqlownername = field->xtype_owner_name;
    return 0;
  }
  if (!own_text(&var->sqlname, var, sqlvar_own_name, field->fieldname, nlen) ||
      !own_text(&var->sqlownername, var, sqlvar_own_owner, field->xtype_owner_name, olen) ||
      !own_text(&var->sqltypename, var, sqlvar_own_typename, field->xtype_name, tlen))
    return _iqseterr(SQLI_E_NOMEM);
  dvz_free_sqldata(var);
  if (var->sqllen < 1) return 0;
  const int len =
      (type & 0x2000) != 0 || (type & 0xFF) == sql_type_lvarchar ? var->sqllen + 1 : var->sqllen;
  if (int rc = _sqadjustbuf(&var->sqldata, var->sqltype, len, var->sqlsourcetype); rc != 0)
    return record(rc);
  var->sqlflags |= sqlvar_own_data;
  return 0;
}

/* The fields DESCRIBE reports, as indexes into ti's descriptors, into
** out (room for ti_count): the named ones in list order, or every field at
** the level of the first one. Their number, or the error recorded. */
int described_fields(dvz_coll_typeinfo_t *ti, bool row, const char *names, int *out) {
  int n = 0;
  if (names != nullptr) {
    for (const char *e = names; *e != 0; e += SQLI_FIELDNAME_SIZE) {
      std::string_view name(e, strnlen(e, SQLI_FIELDNAME_SIZE));
      while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
      int found = -1;
      for (int i = 1; i < ti->ti_count && found < 0; ++i) {
        const dvz_coll_field_t &f = ti->ti_fields[i];
        const bool level = f.level_no == 1 || (!row && f.level_no == 2);
        if (level && f.fieldnmlen == static_cast<int>(name.size()) &&
            std::memcmp(f.fieldname, name.data(), name.size()) == 0)
          found = i;
      }
      if (found < 0) return _iqseterr(SQLI_E_COLL_NOFIELD);
      if (n >= ti->ti_count) break;
      out[n++] = found;
    }
    return n;
  }
  if (ti->ti_count < 2) return 0;
  int first = 1;
  if (!row && (ti->ti_fields[1].type & 0xFF) == sql_type_row && ti->ti_count > 2) first = 2;
  const int level = ti->ti_fields[first].level_no;
  for (int i = first; i < ti->ti_count; ++i)
    if (ti->ti_fields[i].level_no == level) out[n++] = i;
  return n;
}

/* A new zeroed sqlda with count entries, freed by the program with free()
** like every sqlda DESCRIBE makes. Null when memory is short. */
sqlda *new_sqlda(int count) {
  constexpr size_t align = alignof(sqlvar_struct);
  const size_t head = (sizeof(sqlda) + align - 1) / align * align;
  void *block = std::calloc(1, head + sizeof(sqlvar_struct) * static_cast<size_t>(count));
  if (block == nullptr) return nullptr;
  auto *da = static_cast<sqlda *>(block);
  if (count > 0) da->sqlvar = reinterpret_cast<sqlvar_struct *>(static_cast<char *>(block) + head);
  return da;
}

}  // namespace

/* ---- Allocation ------------------------------------------------------------------------- */

/* Programs write the public field form byte for byte. */
static_assert(sizeof(dvz_cl_pubfield) == 84);
static_assert(offsetof(dvz_cl_pubfield, xid) == 32 && offsetof(dvz_cl_pubfield, srctype) == 80);

extern "C" int sqli_cl_alloc(int32_t, dvz_coll_t **out, const dvz_coll_field_t *fields) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return code_of(tcb);
  if (out == nullptr) return _iqseterr(SQLI_E_COLL_NODATA);
  auto *coll = static_cast<dvz_coll_t *>(sqli_alloc(sizeof(dvz_coll_t)));
  if (coll == nullptr) return _iqseterr(SQLI_E_NOMEM);
  if (fields != nullptr) {
    int n = 0;
    while (fields[n].seqno != 0)
      ++n;
    /* The collection frees its type info with free(). */
    auto *ti = static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(n + 1)));
    if (ti == nullptr) {
      sqli_release(coll);
      return _iqseterr(SQLI_E_NOMEM);
    }
    std::memcpy(ti->ti_fields, fields, static_cast<size_t>(n) * sizeof(dvz_coll_field_t));
    ti->ti_count = static_cast<int16_t>(n);
    if (int rc = dvz_coll_init(coll, ti, 1, nullptr, 0); rc != 0) {
      std::free(ti);
      sqli_release(coll);
      return _iqseterr(rc);
    }
    coll->cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
  }
  *out = coll;
  _sqsetCODE(tcb);
  return 0;
}

extern "C" int dvz_cl_alloc(dvz_coll_t **out, const dvz_cl_pubfield *pub) {
  if (pub == nullptr) return sqli_cl_alloc(1, out, nullptr);
  int n = 0;
  while (pub[n].seqno != 0)
    ++n;
  auto *fields = static_cast<dvz_coll_field_t *>(
      std::calloc(static_cast<size_t>(n) + 1, sizeof(dvz_coll_field_t)));
  if (fields == nullptr) {
    sqli_tcb *tcb = CheckGlobInit();
    if (tcb == nullptr) return -1;
    if (_sqclrca(tcb) != 0) return code_of(tcb);
    return _iqseterr(SQLI_E_NOMEM);
  }
  /* Copies a name of the public form (18 bytes, maybe unterminated). */
  auto name = [](char *dst, const char(&src)[18]) {
    if (src[0] != 0) std::memcpy(dst, src, strnlen(src, sizeof src));
  };
  for (int i = 0; i < n; ++i) {
    const dvz_cl_pubfield &p = pub[i];
    dvz_coll_field_t &f = fields[i];
    f.seqno = p.seqno;
    f.level_no = p.level_no;
    f.parent_no = p.parent_no;
    f.fieldnmlen = p.fieldnmlen;
    name(f.fieldname, p.fieldname);
    f.field_no = p.field_no;
    f.type = p.type;
    f.length = p.length;
    f.xid = p.xid;
    f.flags = p.flags;
    f.xtype_nm_len = p.xtype_nm_len;
    name(f.xtype_name, p.xtype_name);
    f.xtype_owner_len = p.xtype_owner_len;
    name(f.xtype_owner_name, p.xtype_owner_name);
    f.align = p.align;
    f.srctype = p.srctype;
  }
  const int rc = sqli_cl_alloc(1, out, fields);
  std::free(fields);
  return rc;
}

extern "C" int dvz_cl_dealloc(dvz_coll_t **coll) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return code_of(tcb);
  if (coll == nullptr || *coll == nullptr) return 0;
  dvz_coll_t *c = *coll;
  if (c->cl_handle != 0) {
    if (_sqrelcoll(c, tcb) < 0) return code_of(tcb);
    c->cl_handle = 0; /* released: a second call must not release it again */
  }
  /* Also after the server's copy is released: what the record owns here
  ** would otherwise be lost with it. */
  if (int rc = dvz_coll_free(c); rc != 0) return _iqseterr(rc);
  sqli_release(c);
  *coll = nullptr;
  _sqsetCODE(tcb);
  return 0;
}

/* ---- Records: PREPARE, DECLARE, FREE ------------------------------------------------------ */

void free_cl_cursor(sqli_cursor *c) {
  if (c == nullptr) return;
  close_coll_cursor(c);
  sqli_release(c->owned_block);
  c->owned_block = nullptr;
  sqli_release(c->literal_values);
  c->literal_values = nullptr;
}

void *dvz_cl_prep(const char *name, const char *text, void *coll_literal, void *coll_arg,
                  int stmt_type, int coll_word, sqli_tcb *tcb) {
  void *handle = sqli_curs_locate(1, name, SQLI_LOCATE_CHECKED | 1);
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) {
    if (code_of(tcb) >= 0) _iqseterr(SQLI_E_BADCURSOR);
    return nullptr;
  }
  const bool defer = (tcb->flags & sqli_flag_deferred_prepare) != 0;
  if (c->stmt_id != -1 || c->stmt_text != nullptr) {
    /* A statement the record held before: released (at the server when
    ** it was one of the server's). */
    free_cl_cursor(c);
    _sqrelease_cursor(c, tcb);
    if (!sqli_cursor_alive(c, tcb)) return nullptr;
  }
  reset_record(c);
  c->coll_mark = defer ? 0 : 1;
  const char *pieces[] = {text, nullptr};
  if (copy_text(c, text != nullptr ? pieces : nullptr) != 0) return nullptr;
  c->stmt_type = static_cast<int16_t>(stmt_type);
  if (defer) {
    c->flags |= sqli_cur_prep_deferred;
    return handle;
  }
  c->flags |= sqli_cur_prepared | sqli_cur_by_prepare;
  c->stmt_id = 0;
  bool failed = false;
  c->literal_values = copy_lits(static_cast<const sqli_litval *>(coll_literal), &failed);
  if (failed) {
    _iqseterr(SQLI_E_NOMEM);
    return handle;
  }
  c->coll_arg = coll_arg;
  c->coll_word = static_cast<uint32_t>(coll_word);
  return handle;
}

int dvz_cl_cdcl(sqli_cursor *c, const char *name, const char *const *cmdtxt, sqli_varlist *input,
                sqli_varlist *output, void *literals, void *fields, int32_t stmt_type,
                int32_t coll_word, sqli_tcb *tcb) {
  if (c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  if (c->stmt_id != -1) {
    const uint32_t both = sqli_cur_declared | sqli_cur_prepared;
    if ((c->flags & both) == both) {
      dvz_cl_free(c, tcb);
      c = sqli_handle_cursor(sqli_curs_locate(1, name, 0));
      if (c == nullptr) return code_of(tcb) < 0 ? code_of(tcb) : _iqseterr(SQLI_E_BADCURSOR);
    } else if (_sqcmpcmdtxt(cmdtxt, c->stmt_text) != 0 && c->coll_state.open == 1) {
      dvz_cl_close(c, tcb);
    }
  }
  return declare_record(c, cmdtxt, input, output, static_cast<const sqli_litval *>(literals),
                        fields, stmt_type, coll_word);
}

int dvz_cl_ddcl(sqli_cursor *c, const char *, sqli_cursor *stmt, sqli_tcb *) {
  if (stmt == nullptr || stmt->stmt_text == nullptr) return _iqseterr(SQLI_E_NOSTMT);
  if (c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  if (c->stmt_id != -1) {
    free_cl_cursor(c);
    c->flags = 0;
    _sqfrcmdtxt(c->stmt_text);
    c->stmt_text = nullptr;
    _sqfrcmem(c);
  }
  if (int rc =
          declare_record(c, stmt->stmt_text, nullptr, nullptr,
                         static_cast<const sqli_litval *>(stmt->literal_values), stmt->coll_arg,
                         stmt->stmt_type, static_cast<int32_t>(stmt->coll_word));
      rc != 0)
    return rc;
  c->link = sqli_cursor_handle(stmt);
  stmt->link = sqli_cursor_handle(c);
  stmt->flags |= sqli_cur_has_cursor;
  _sqstealinfo(stmt, c);
  c->flags |= sqli_cur_prepared;
  return 0;
}

int dvz_cl_free(sqli_cursor *c, sqli_tcb *tcb) {
  if (c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  if ((c->flags & sqli_cur_has_cursor) == 0 && c->stmt_id != -1) _sqfrcmem(c);
  free_cl_cursor(c);
  if (c->name != nullptr) _sqremove_cursor(c, tcb);
  return 0;
}

/* ---- DESCRIBE ---------------------------------------------------------------------------- */

int dvz_cl_describe(sqli_cursor *c, sqlda **out, const char *descname, sqli_tcb *tcb) {
  if (c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  if (c->stmt_id == -1) return _iqseterr(SQLI_E_NOT_PREPARED);
  if ((c->flags & sqli_cur_open) == 0 || c->coll_state.coll == nullptr)
    return _iqseterr(SQLI_E_NOTOPEN);
  dvz_coll_typeinfo_t *ti = sqli_coll_typeinfo(c->coll_state.coll);
  if (ti == nullptr) return _iqseterr(SQLI_E_COLL_NOTYPE);
  const bool row = sqli_coll_is_row(c->coll_state.coll) != 0;
  sqlda *own = nullptr;
  sqlda *desc = nullptr;
  if (out != nullptr) {
    own = new_sqlda(ti->ti_count);
    if (own == nullptr) return _iqseterr(SQLI_E_NOMEM);
    desc = own;
  } else if (descname != nullptr) {
    desc = _iqdlocate(descname, tcb);
    if (desc == nullptr) return _iqseterr(SQLI_E_NODESC);
    if (desc->desc_occ < ti->ti_count - 1) return _iqseterr(SQLI_E_DESC_TOOSMALL);
  } else {
    return 0;
  }
  int *which = static_cast<int *>(sqli_alloc(sizeof(int) * static_cast<size_t>(ti->ti_count)));
  if (which == nullptr) {
    std::free(own);
    return _iqseterr(SQLI_E_NOMEM);
  }
  const int n = described_fields(ti, row, static_cast<const char *>(c->coll_arg), which);
  int rc = n < 0 ? n : 0;
  if (rc == 0 && own == nullptr && n > desc->desc_occ) rc = _iqseterr(SQLI_E_DESC_TOOSMALL);
  for (int i = 0; rc == 0 && i < n; ++i)
    rc = set_sqlvar(&desc->sqlvar[i], &ti->ti_fields[which[i]], own == nullptr);
  sqli_release(which);
  if (rc != 0) {
    std::free(own);
    return rc;
  }
  desc->sqld = static_cast<int16_t>(n);
  if (own != nullptr) *out = own;
  return 0;
}

/* ---- OPEN, FETCH, PUT, FLUSH, CLOSE --------------------------------------------------------- */

int dvz_cl_open(sqli_cursor *c, sqlda *input, const char *descname, sqli_tcb *tcb) {
  if (c == nullptr || c->stmt_type == 0) return _iqseterr(SQLI_E_BADCURSOR);
  varlist list;
  bool named = false;
  if (!pick_list(descname, input, c->nin, c->inlist, &list, &named, tcb)) return code_of(tcb);
  dvz_coll_t *coll = c->coll_state.coll;
  if ((c->flags & sqli_cur_prepared) != 0) {
    if (list.count == 0) return _iqseterr(SQLI_E_NO_INPUT);
    coll = checked_coll(&list.vars[0], true);
    if (coll == nullptr) return code_of(tcb);
    /* An INSERT cursor's values come with each PUT: OPEN fills nothing
    ** when it is given only the collection. */
    if (c->stmt_type != st_select && list.count > 1) {
      if (conv_desc2lit(list.count - 1, list.vars + 1,
                        static_cast<sqli_litval *>(c->literal_values), c->stmt_type,
                        &c->owned_block) != 0)
        return code_of(tcb);
    }
  }
  if (coll == nullptr) return _iqseterr(SQLI_E_COLL_NODATA);
  /* OPEN of an open cursor starts again from the first element. */
  close_coll_cursor(c);
  c->coll_state.coll = coll;
  c->nbuffered = 0;
  c->first_row = c->last_row = 0;
  c->bufpos = c->buffer;
  if (int rc = dvz_coll_open(coll, &c->coll_state.cursor); rc != 0) return _iqseterr(rc);
  c->flags |= sqli_cur_open | sqli_cur_borrowed_id;
  c->flags &= ~static_cast<uint32_t>(sqli_cur_done);
  c->coll_state.open = 1;
  if (c->link != nullptr) {
    sqli_cursor *stmt = sqli_handle_cursor(c->link);
    if ((stmt->flags & sqli_cur_has_cursor) != 0) {
      stmt->flags |= sqli_cur_open;
      stmt->coll_state.coll = coll;
    }
  }
  return 0;
}

int dvz_cl_fetch(sqli_cursor *c, sqli_varlist *, sqlda *output, const char *descname,
                 sqli_fetchspec *, sqli_tcb *tcb) {
  if (c == nullptr || c->coll_state.open != 1) return _iqseterr(SQLI_E_FETCH_CLOSED);
  sqli_coll_state &s = c->coll_state;
  char *element = nullptr;
  int32_t len = 0;
  const int rc = dvz_coll_next(s.coll, &s.cursor, &element, &len);
  if (rc == no_more) {
    s.element = nullptr;
    return _iqseterr(no_more);
  }
  if (rc != 0) return _iqseterr(rc);
  s.element = element;
  varlist list;
  bool named = false;
  if (!pick_list(descname, output, c->nout, c->outlist, &list, &named, tcb)) return code_of(tcb);
  const int got = dvz_rc_get(s.coll, &s.cursor, element, static_cast<const char *>(c->coll_arg),
                             list.count, list.vars, named ? 1 : 0, tcb);
  if (got < 0) return record(got);
  _sqsetCODE(tcb);
  return 0;
}

int dvz_cl_put(sqli_cursor *c, sqlda *input, const char *descname, sqli_tcb *tcb) {
  if (_sqclrca(tcb) != 0) return code_of(tcb);
  sqlda *named = nullptr;
  if (descname != nullptr) {
    named = _iqdlocate(descname, tcb);
    if (named == nullptr) return _iqseterr(SQLI_E_NODESC);
  }
  if (c == nullptr) return _iqseterr(SQLI_E_PUT_NOCURSOR);
  if (c->coll_state.open != 1) return _iqseterr(SQLI_E_PUT_CLOSED);
  if (c->stmt_type != st_insert) return _iqseterr(SQLI_E_NOT_SELECT);
  varlist list = of_sqlda(named != nullptr ? named : input);
  if (list.count == 0) list = {c->nin, c->inlist};
  if (list.count == 0) return _iqseterr(SQLI_E_NO_INPUT);
  auto *lits = static_cast<sqli_litval *>(c->literal_values);
  if ((c->flags & sqli_cur_prepared) != 0 &&
      conv_desc2lit(list.count, list.vars, lits, c->stmt_type, &c->owned_block) != 0)
    return code_of(tcb);
  const int rc =
      dvz_rc_construct(c->coll_state.coll, static_cast<const char *>(c->coll_arg), lits, 0);
  return rc < 0 ? record(rc) : 0;
}

int dvz_cl_flush(sqli_cursor *c, sqli_tcb *) {
  if (c == nullptr || (c->flags & sqli_cur_prepared) == 0) return _iqseterr(SQLI_E_BADCURSOR);
  if (c->coll_state.open != 1) return _iqseterr(SQLI_E_FLUSH_CLOSED);
  if (c->stmt_id != -1 && c->stmt_type != st_insert) return _iqseterr(SQLI_E_FLUSH_KIND);
  return 0;
}

int dvz_cl_close(sqli_cursor *c, sqli_tcb *) {
  if (c == nullptr || (c->flags & (sqli_cur_declared | sqli_cur_prepared)) == 0)
    return _iqseterr(SQLI_E_BADCURSOR);
  sqli_coll_state &s = c->coll_state;
  if (s.open != 1) return _iqseterr(SQLI_E_NOTOPEN);
  c->flags &= ~static_cast<uint32_t>(sqli_cur_open);
  s.open = 0;
  s.element = nullptr;
  if (c->link != nullptr) {
    sqli_cursor *stmt = sqli_handle_cursor(c->link);
    if (stmt->link == sqli_cursor_handle(c)) stmt->flags &= ~static_cast<uint32_t>(sqli_cur_open);
  }
  const int rc = dvz_coll_close(s.coll, &s.cursor);
  return rc < 0 ? _iqseterr(rc) : 0;
}

/* ---- Literal values ------------------------------------------------------------------------- */

int conv_desc2lit(int count, sqlvar_struct *vars, sqli_litval *lits, int stmt_type, void **owned) {
  const int mismatch = stmt_type == st_insert ? SQLI_E_INSERT_VALUES : SQLI_E_VALUES_COUNT;
  const int n = lit_count(lits);
  if (n == 0) return count > 0 ? _iqseterr(mismatch) : 0;
  if (*owned == nullptr) {
    bool failed = false;
    *owned = copy_lits(lits, &failed);
    if (failed) return _iqseterr(SQLI_E_NOMEM);
  }
  const auto *saved = static_cast<const sqli_litval *>(*owned);
  const int saved_n = lit_count(saved);
  int holes = 0;
  for (int i = 0; i < saved_n && i < n; ++i)
    if (saved[i].type == sqli_lit_placeholder) ++holes;
  if (holes != count) return _iqseterr(mismatch);
  int next = 0;
  for (int i = 0; i < saved_n && i < n; ++i) {
    if (saved[i].type != sqli_lit_placeholder) continue;
    const sqlvar_struct &v = vars[next++];
    const int host = v.sqltype & 0xFF;
    lits[i].value = v.sqldata;
    lits[i].type = static_cast<int16_t>(host == host_type_row ? host : rtosqltype(host));
    lits[i].length = static_cast<int16_t>(v.sqllen);
  }
  return 0;
}

void setlitnull(int count, const sqlvar_struct *vars, sqli_litval *lits) {
  if (lits == nullptr) return;
  for (int k = 0; k < count; ++k) {
    const sqlvar_struct &v = vars[k];
    int16_t ind = 0;
    bool has_ind = false;
    if (v.sqlind != nullptr) {
      ind = *v.sqlind;
      has_ind = true;
    } else if (v.sqlidata != nullptr && _sqhostind(v.sqlidata, v.sqlitype, v.sqlilen, &ind) == 0) {
      has_ind = true;
    }
    for (sqli_litval *e = lits; e->type != 0 || e->length != 0 || e->value != nullptr; ++e) {
      if (e->nesting != 0 || e->type == sqli_lit_sep_runtime || e->type == sqli_lit_null) continue;
      if (e->value == nullptr || e->value != v.sqldata) continue;
      if (has_ind && ind == -1) {
        e->type = sqli_lit_null;
        e->length = 0;
        e->flags = 0;
      } else if (has_ind) {
        switch (e->type) {
          case sql_type_char:
          case sql_type_varchar:
          case sql_type_nchar:
          case sql_type_nvarchar:
            e->flags |= SQLI_LIT_HOSTCHAR;
            break;
          default:
            break;
        }
      }
    }
  }
}

/* ---- Statements ----------------------------------------------------------------------------- */

int dvz_cl_stmnt(int ninput, sqlvar_struct *inputs, struct value_t *, void *literals, void *fields,
                 void *cursor, int stmt_kind, int coll_word) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  int first = 0;
  if (ninput > 0 && inputs != nullptr) {
    const int t = rtosqltype(inputs[0].sqltype & 0xFF);
    if (t == sql_type_smallint || t == sql_type_integer) first = 1;
  }
  if (inputs == nullptr || ninput <= first) return _iqseterr(SQLI_E_NOT_COLL);
  dvz_coll_t *coll = checked_coll(&inputs[first], false);
  if (coll == nullptr) return code_of(tcb);
  auto *lits = static_cast<sqli_litval *>(literals);
  setlitnull(ninput - first - 1, inputs + first + 1, lits);
  const bool row = sqli_coll_is_row(coll) != 0;
  const auto *names = static_cast<const char *>(fields);
  sqli_cursor *rec = sqli_handle_cursor(cursor);
  int rc = 0;
  switch (stmt_kind) {
    case st_insert:
      rc = row ? _iqseterr(SQLI_E_ROW_REFUSED) : dvz_rc_construct(coll, names, lits, coll_word);
      break;
    case st_update_cur:
      /* Without a cursor there is no current element to change. */
      if (rec == nullptr) {
        rc = _iqseterr(SQLI_E_BADCURSOR);
        break;
      }
      rc = dvz_rc_updcur(coll, names, lits, &rec->coll_state.cursor, rec->coll_state.element);
      break;
    case st_delete_cur:
      if (row) {
        rc = _iqseterr(SQLI_E_ROW_REFUSED);
      } else if (rec == nullptr) {
        rc = _iqseterr(SQLI_E_BADCURSOR);
      } else {
        rec->coll_state.cursor.cr_flags |= DVZ_CURS_EXCUSED;
        rc = dvz_coll_delete(coll, &rec->coll_state.cursor, 0);
        if (rc != 0) rc = _iqseterr(rc);
      }
      break;
    case st_delete_all:
      if (row) {
        rc = _iqseterr(SQLI_E_ROW_REFUSED);
      } else if ((rc = dvz_coll_delete(coll, nullptr, DVZ_COLL_DELETE_ALL)) != 0) {
        rc = _iqseterr(rc);
      }
      break;
    case st_update_all:
      rc = row && coll->cl_data == nullptr && coll->cl_log == nullptr
               ? dvz_rc_construct(coll, names, lits, coll_word)
               : dvz_rc_setall(coll, names, lits);
      if (rc == SQLI_E_INSERT_VALUES) rc = _iqseterr(SQLI_E_VALUES_COUNT);
      break;
    default:
      break;
  }
  if (rc < 0) return record(rc);
  _sqsetCODE(tcb);
  return code_of(tcb);
}

int dvz_cl_slct(int ninput, sqlvar_struct *inputs, int noutput, sqlvar_struct *outputs, void *,
                void *fields) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  dvz_coll_t *coll = checked_coll(ninput > 0 ? inputs : nullptr, false);
  if (coll == nullptr) return code_of(tcb);
  dvz_coll_cursor_t cursor {};
  if (int rc = dvz_coll_open(coll, &cursor); rc != 0) return _iqseterr(rc);
  char *element = nullptr;
  int32_t len = 0;
  int rc = dvz_coll_next(coll, &cursor, &element, &len);
  if (rc == 0) {
    rc = dvz_rc_get(coll, &cursor, element, static_cast<const char *>(fields), noutput, outputs, 0,
                    tcb);
    if (rc >= 0 && sqli_coll_is_row(coll) == 0) {
      char *second = nullptr;
      rc = dvz_coll_next(coll, &cursor, &second, &len);
      rc = rc == no_more ? 0 : rc == 0 ? SQLI_E_MANY_ROWS : rc;
    }
  }
  dvz_coll_close(coll, &cursor);
  if (rc != 0) return record(rc);
  _sqsetCODE(tcb);
  return code_of(tcb);
}

int dvz_cl_execute(sqli_cursor *c, sqlda *input, const char *in_name, sqlda *output,
                   const char *out_name, sqli_tcb *tcb) {
  if (c == nullptr || c->stmt_type == 0) return _iqseterr(SQLI_E_BADCURSOR);
  varlist in;
  bool named = false;
  if (!pick_list(in_name, input, 0, nullptr, &in, &named, tcb)) return code_of(tcb);
  if (in.count == 0) return _iqseterr(SQLI_E_NO_INPUT);
  varlist out;
  if (!pick_list(out_name, output, 0, nullptr, &out, &named, tcb)) return code_of(tcb);
  auto *lits = static_cast<sqli_litval *>(c->literal_values);
  if (c->stmt_type == st_select)
    return dvz_cl_slct(in.count, in.vars, out.count, out.vars, lits, c->coll_arg);
  if (conv_desc2lit(in.count - 1, in.vars + 1, lits, c->stmt_type, &c->owned_block) != 0)
    return code_of(tcb);
  return dvz_cl_stmnt(in.count, in.vars, nullptr, lits, c->coll_arg, nullptr, c->stmt_type,
                      static_cast<int32_t>(c->coll_word));
}
