/*
** collection_checks.cpp: the checks of collection and row host variables
** before a bind list is written (data present, a type info to describe
** the value, identifiers short enough for a server without long ones),
** the type name of a row value, a collection's cardinality, and the
** release of a collection's copy on the server.
*/
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gen_collection_stored.h"
#include "gen_types.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_collection_checks.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_request.h"

namespace {

constexpr int e_too_long_ident = -253;
constexpr int e_coll_nodata = -1814;
constexpr int e_coll_notype = -1815;
constexpr int max_short_name = 18;
constexpr int max_short_owner = 8;

/* The collection or row value of a host variable entry, or null when the
** entry is of another type. */
bool is_collection_entry(const sqlvar_struct &e) {
  const int low = e.sqltype & 0xFF;
  const int sql = low < host_type_min ? low : rtosqltype(low);
  return sql >= sql_type_set && sql <= sql_type_collection;
}

/* True when the entry's indicator (or extended indicator) says NULL. */
bool null_by_indicator(const sqlvar_struct &e) {
  if (e.sqlind != nullptr) return *e.sqlind == -1;
  if (e.sqlidata != nullptr && e.sqlitype != 0) {
    int16_t ind = 0;
    return _sqhostind(e.sqlidata, e.sqlitype, e.sqlilen, &ind) == 0 && ind == -1;
  }
  return false;
}

/* True when a descriptor names something too long for a server without
** long identifiers. */
bool long_ident(const dvz_coll_field_t &f) {
  return f.fieldnmlen > max_short_name || f.xtype_nm_len > max_short_name ||
         f.xtype_owner_len > max_short_owner;
}

}  // namespace

dvz_coll_typeinfo_t *sqli_coll_typeinfo(const dvz_coll_t *coll) {
  if (coll == nullptr) return nullptr;
  return coll->cl_typed != 0 ? coll->cl_typeinfo : coll->cl_svr_typeinfo;
}

int sqli_coll_is_row(const dvz_coll_t *coll) {
  const dvz_coll_typeinfo_t *ti = sqli_coll_typeinfo(coll);
  if (ti == nullptr || ti->ti_count < 1) return 0;
  const dvz_coll_field_t &f = ti->ti_fields[0];
  return (f.type & 0xFF) == sql_type_row && f.level_no == 0 ? 1 : 0;
}

int validate_cl_types(int count, sqlvar_struct *entries, sqli_tcb *) {
  for (int i = 0; i < count; ++i) {
    const sqlvar_struct &e = entries[i];
    if (!is_collection_entry(e) || null_by_indicator(e)) continue;
    const auto *coll = reinterpret_cast<const dvz_coll_t *>(e.sqldata);
    if (coll == nullptr) return _iqseterr(e_coll_nodata);
    if (coll->cl_typed == 0 && coll->cl_typeinfo == nullptr && coll->cl_svr_typeinfo == nullptr)
      return _iqseterr(e_coll_notype);
  }
  return 0;
}

int validate_cl_idents(int count, sqlvar_struct *entries, sqli_tcb *) {
  for (int i = 0; i < count; ++i) {
    const sqlvar_struct &e = entries[i];
    if (!is_collection_entry(e) || null_by_indicator(e)) continue;
    const auto *coll = reinterpret_cast<const dvz_coll_t *>(e.sqldata);
    if (coll == nullptr) return _iqseterr(e_coll_nodata);
    const dvz_coll_typeinfo_t *ti =
        coll->cl_typeinfo != nullptr ? coll->cl_typeinfo : coll->cl_svr_typeinfo;
    if (ti == nullptr) continue;
    /* Descriptor 0 always counts; the run ends at the next whose
    ** sequence number is 0. */
    for (int k = 0; k < ti->ti_count; ++k) {
      const dvz_coll_field_t &f = ti->ti_fields[k];
      if (k > 0 && f.seqno == 0) break;
      if (long_ident(f)) return _iqseterr(e_too_long_ident);
    }
  }
  return 0;
}

char *dvz_cl_get_row_xtype(dvz_coll_t *coll) {
  const dvz_coll_typeinfo_t *ti = sqli_coll_typeinfo(coll);
  if (ti == nullptr || ti->ti_count < 1) return nullptr;
  const dvz_coll_field_t &f = ti->ti_fields[0];
  if ((f.type & 0x1000) != 0) {
    const size_t n =
        strnlen(f.xtype_name,
                std::min<size_t>(sizeof f.xtype_name, f.xtype_nm_len > 0 ? f.xtype_nm_len : 0));
    auto *name = static_cast<char *>(std::malloc(n + 1));
    if (name == nullptr) return nullptr;
    std::memcpy(name, f.xtype_name, n);
    name[n] = '\0';
    return name;
  }
  char *text = nullptr;
  if (dvz_cltype2str(ti, 0, &text, 0) != 0) return nullptr;
  return text;
}

extern "C" int dvz_cl_card(dvz_coll_t *coll, int *isnull) {
  if (coll == nullptr) return _iqseterr(e_coll_nodata);
  if (isnull != nullptr) *isnull = (coll->cl_flags & DVZ_COLL_NULL) != 0 ? 1 : 0;
  return coll->cl_cardinality;
}

int _sqrelcoll(dvz_coll_t *coll, sqli_tcb *tcb) {
  if (coll == nullptr || coll->cl_handle == 0 || tcb == nullptr || tcb->curconn == nullptr)
    return 0;
  _sqs_relcoll(static_cast<int32_t>(coll->cl_handle), tcb);
  if (_sqr_eot(tcb) != 0) return *tcb->sqlcode;
  return 0;
}
