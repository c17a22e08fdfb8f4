/*
** coll_compare.cpp: equality of two collection or row values and the
** membership test that keeps a SET free of duplicates.
**
** Callers: the insert and update of coll_cursor.cpp (a SET's duplicate
** test through dvz_coll_inpred with collelmtcmp), the runtime and
** whoever compares two values. Calls the cursors and nested references of
** gen_collection.h, the column readers (rdataval) to turn a stored element
** into a value, and the evaluator's comparison (excmp).
**
** Bags (SET, MULTISET, COLLECTION) are compared by hash: both sides'
** element hashes are sorted and paired, so equal bags cost n log n; only
** element types without a usable hash, or a hash collision, fall back to
** matching element by element. Every path closes its cursors and frees
** its temporaries, errors included.
*/
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "coll_internal.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_errors.h"
#include "gen_expr.h"
#include "gen_types.h"
#include "gen_value.h"
#include "os_stored.h"

namespace {

using dvz_genlib::coll_packed_size;
using dvz_genlib::coll_typeinfo;
using dvz_genlib::is_composite_code;
using dvz_genlib::is_opaque_code;
using dvz_genlib::nref_pad;

/* The descriptor of coll's element (n 0) or row field n, or null. */
const dvz_coll_field_t *element_field(dvz_coll_t *coll, int n) {
  dvz_coll_field_t *field = nullptr;
  if (dvz_coll_get_row_typeinfo(coll, n, &field) != 0) return nullptr;
  return field;
}

/*
** The stored element (len bytes) of the descriptor's type as a cleared
** value pointing into it. An element shorter than its type's stored form
** is damaged data: -9986, nothing read. Else rdataval's result (-1815 for
** an opaque form whose length claims more than the element holds).
*/
int element_value(const dvz_coll_field_t &field, const char *bytes, int32_t len, value_t *v) {
  std::memset(v, 0, sizeof *v);
  const int code = field.type & 0xFF;
  int32_t need = 0;
  int length = field.length;
  switch (code) {
    case sql_type_char:
    case sql_type_nchar:
      length = len;
      break;
    case sql_type_varchar:
    case sql_type_nvarchar:
      need = 1;
      break;
    case sql_type_smallint:
      need = 2;
      break;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
    case sql_type_smallfloat:
      need = 4;
      break;
    case sql_type_float:
      need = 8;
      break;
    case sql_type_int8:
    case sql_type_serial8:
      need = 10;
      break;
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval:
      need = coll_packed_size(field.length);
      break;
    case sql_type_byte:
    case sql_type_text:
      need = TBLOB_STORED_SIZE;
      break;
    default:
      /* The opaque form is bounded by the element itself. */
      if (is_opaque_code(code)) {
        need = 5;
        length = len - need;
      }
      break;
  }
  if (len < need) return coll_err_bad_log;
  const int status = rdataval(bytes, field.type, length, v);
  if (status != 0) return status;
  /* A text never reaches past its element. */
  if (code == sql_type_varchar || code == sql_type_nvarchar) v->vlen = std::min(v->vlen, len - 1);
  return 0;
}

/* Compares two stored elements, each under its own descriptor. 0 equal,
** -1 not (always for the opaque types), or an error. */
int elements_equal(const dvz_coll_field_t &fa, const char *a, int32_t alen,
                   const dvz_coll_field_t &fb, const char *b, int32_t blen, dvz_coll_cmp_fn cmp,
                   void *context) {
  if (is_opaque_code(fa.type & 0xFF) || is_opaque_code(fb.type & 0xFF)) return -1;
  value_t va;
  value_t vb;
  if (const int status = element_value(fa, a, alen, &va); status != 0) return status;
  if (const int status = element_value(fb, b, blen, &vb); status != 0) return status;
  value_t result;
  std::memset(&result, 0, sizeof result);
  if (const int status = cmp(DVZ_COLL_OP_EQUAL, &va, &vb, context, &result); status != 0)
    return status;
  return result.vind >= 0 && result.vint != 0 ? 0 : -1;
}

/* A cursor opened on a record for one call, closed on every path. */
class private_cursor {
 public:
  explicit private_cursor(dvz_coll_t *coll) : coll_(coll) {
    std::memset(&cursor_, 0, sizeof cursor_);
    status_ = dvz_coll_open(coll_, &cursor_);
  }
  ~private_cursor() {
    if (status_ == 0) dvz_coll_close(coll_, &cursor_);
  }
  private_cursor(const private_cursor &) = delete;
  private_cursor &operator=(const private_cursor &) = delete;

  int status() const { return status_; }
  /* The next element's address in the collection and its length; 100 at
  ** the end. */
  int next(char *&data, int32_t &len) {
    data = nullptr;
    len = 0;
    return dvz_coll_next(coll_, &cursor_, &data, &len);
  }

 private:
  dvz_coll_t *coll_;
  dvz_coll_cursor_t cursor_;
  int status_;
};

/* Frees a temporary record and the type info it was given here. */
void release_temporary(dvz_coll_t &coll) {
  dvz_coll_typeinfo_t *server = coll.cl_svr_typeinfo;
  dvz_coll_typeinfo_t *client = coll.cl_typeinfo;
  coll.cl_svr_typeinfo = nullptr;
  coll.cl_typeinfo = nullptr;
  coll.cl_flags &= ~DVZ_COLL_OWNS_TYPEINFO;
  dvz_coll_free(&coll);
  std::free(server);
  if (client != server) std::free(client);
}

/*
** Compares the composite elements at pa and pb (row field n, or n 0 for a
** collection's element) by loading each into a temporary record.
** 0 equal, -1 not, or an error.
*/
int nested_equal(dvz_coll_t *a, const char *pa, dvz_coll_t *b, const char *pb, int n) {
  dvz_coll_t ta;
  dvz_coll_t tb;
  std::memset(&ta, 0, sizeof ta);
  std::memset(&tb, 0, sizeof tb);
  int status = dvz_coll_elem_coll(a, &ta, pa, n);
  if (status == 0) status = dvz_coll_elem_coll(b, &tb, pb, n);
  if (status == 0) status = dvz_coll_equal(&ta, &tb);
  release_temporary(ta);
  release_temporary(tb);
  return status;
}

/* Elements compared in order: LIST and ROW. */
int ordered_equal(dvz_coll_t *a, dvz_coll_t *b, dvz_coll_cmp_fn cmp, bool row) {
  private_cursor ca(a);
  private_cursor cb(b);
  if (ca.status() != 0) return ca.status();
  if (cb.status() != 0) return cb.status();
  for (int32_t i = 1; i <= a->cl_cardinality; ++i) {
    char *pa = nullptr;
    char *pb = nullptr;
    int32_t la = 0;
    int32_t lb = 0;
    if (const int status = ca.next(pa, la); status != 0) return status;
    if (const int status = cb.next(pb, lb); status != 0) return status;
    const int n = row ? i : 0;
    const dvz_coll_field_t *fa = element_field(a, n);
    const dvz_coll_field_t *fb = element_field(b, n);
    if (fa == nullptr || fb == nullptr) return coll_err_no_descriptor;
    const int status = is_composite_code(fa->type & 0xFF)
                           ? nested_equal(a, pa, b, pb, n)
                           : elements_equal(*fa, pa, la, *fb, pb, lb, cmp, nullptr);
    if (status != 0) return status;
  }
  return 0;
}

/* One element of a bag: its hash first (the sort key), then where it is. */
struct bag_entry {
  uint32_t hash;
  const char *data;
  int32_t len;
};

/*
** The hash an element of the bag comparison gets (code: its element type).
** Sets slow for types whose hash does not decide equality.
*/
uint32_t element_hash(const dvz_coll_field_t &field, const char *p, int32_t len, bool &slow) {
  const int code = field.type & 0xFF;
  uint32_t hash = 0;
  switch (code) {
    case sql_type_char:
      return static_cast<uint32_t>(dvz_hashpjw(p, dvz_byleng(p, len)));
    case sql_type_varchar: {
      if (len < 1) return 0;
      const int n = std::min<int32_t>(static_cast<unsigned char>(p[0]), len - 1);
      return static_cast<uint32_t>(dvz_hashpjw(p + 1, dvz_byleng(p + 1, n)));
    }
    case sql_type_lvarchar: {
      value_t v;
      if (element_value(field, p, len, &v) != 0 || v.vind != 0) return 0;
      return static_cast<uint32_t>(dvz_hashpjw(v.vptr, dvz_byleng(v.vptr, v.vlen)));
    }
    case sql_type_nchar:
    case sql_type_nvarchar:
      slow = true;
      return 0;
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
      if ((field.flags & DVZ_FIELD_ELEMCMP) != 0) slow = true;
      if (len < 1 || (p[0] & 1) != 0) return 0;
      dvz_calc_hval(p, len, &hash);
      return hash;
    default:
      break;
  }
  if (is_composite_code(code)) {
    if (len < 3 || p[2] == 1) return 0;
    const int32_t pad = nref_pad(p);
    return len >= pad + 8 ? dvz_ld_be_u32(p + pad + 4) : 0;
  }
  dvz_calc_hval(p, len, &hash);
  return hash;
}

/* Element by element: every element of a finds the first unmatched equal
** one of b. 0, -1, -837 or an error. */
int matched_equal(dvz_coll_t *a, dvz_coll_t *b, const bag_entry *ea, const bag_entry *eb, int32_t n,
                  const dvz_coll_field_t &fa, const dvz_coll_field_t &fb, dvz_coll_cmp_fn cmp) {
  std::unique_ptr<int16_t, decltype(&std::free)> matched(
      static_cast<int16_t *>(std::calloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(int16_t))),
      &std::free);
  if (matched == nullptr) return value_err_host_memory;
  const bool composite = is_composite_code(fa.type & 0xFF);
  for (int32_t i = 0; i < n; ++i) {
    bool found = false;
    for (int32_t j = 0; j < n && !found; ++j) {
      if (matched.get()[j] != 0) continue;
      const int status = composite ? nested_equal(a, ea[i].data, b, eb[j].data, 0)
                                   : elements_equal(fa, ea[i].data, ea[i].len, fb, eb[j].data,
                                                    eb[j].len, cmp, nullptr);
      if (status == 0) {
        matched.get()[j] = 1;
        found = true;
      } else if (status != -1) {
        return status;
      }
    }
    if (!found) return -1;
  }
  return 0;
}

/* A bag's entries read with a cursor, and pointers to them for the sort. */
struct bag {
  std::unique_ptr<bag_entry[]> entries;
  std::unique_ptr<void *[]> order;
};

bool make_bag(bag &b, int32_t n) {
  const size_t count = n > 0 ? static_cast<size_t>(n) : 1;
  b.entries.reset(new (std::nothrow) bag_entry[count]);
  b.order.reset(new (std::nothrow) void *[count]);
  return b.entries != nullptr && b.order != nullptr;
}

/* SET, MULTISET and COLLECTION compared as bags. */
int bag_equal(dvz_coll_t *a, dvz_coll_t *b, dvz_coll_cmp_fn cmp, bool slow) {
  const int32_t n = a->cl_cardinality;
  const dvz_coll_field_t *fa = element_field(a, 0);
  const dvz_coll_field_t *fb = element_field(b, 0);
  if (fa == nullptr || fb == nullptr) return coll_err_no_descriptor;
  bag ba;
  bag bb;
  if (!make_bag(ba, n) || !make_bag(bb, n)) return value_err_host_memory;
  private_cursor ca(a);
  private_cursor cb(b);
  if (ca.status() != 0) return ca.status();
  if (cb.status() != 0) return cb.status();
  for (int32_t i = 0; i < n; ++i) {
    char *pa = nullptr;
    char *pb = nullptr;
    int32_t la = 0;
    int32_t lb = 0;
    if (const int status = ca.next(pa, la); status != 0) return status;
    if (const int status = cb.next(pb, lb); status != 0) return status;
    ba.entries[i] = {element_hash(*fa, pa, la, slow), pa, la};
    bb.entries[i] = {element_hash(*fb, pb, lb, slow), pb, lb};
    ba.order[i] = &ba.entries[i];
    bb.order[i] = &bb.entries[i];
  }
  if (is_composite_code(fa->type & 0xFF)) slow = true;
  if (!slow && n > 0) {
    dvz_coll_qsort(ba.order.get(), 0, n - 1);
    dvz_coll_qsort(bb.order.get(), 0, n - 1);
    const auto at = [](const bag &x, int32_t i) { return static_cast<bag_entry *>(x.order[i]); };
    /* Equal hashes side by side must be equal elements, else a collision. */
    for (const auto &[side, field] : {std::pair<bag *, const dvz_coll_field_t *>(&ba, fa),
                                      std::pair<bag *, const dvz_coll_field_t *>(&bb, fb)}) {
      for (int32_t i = 1; i < n && !slow; ++i) {
        const bag_entry *x = at(*side, i - 1);
        const bag_entry *y = at(*side, i);
        if (x->hash != y->hash) continue;
        const int status =
            elements_equal(*field, x->data, x->len, *field, y->data, y->len, cmp, nullptr);
        if (status == -1) slow = true;
        if (status != 0 && status != -1) return status;
      }
    }
    if (!slow) {
      for (int32_t i = 0; i < n; ++i) {
        const bag_entry *x = at(ba, i);
        const bag_entry *y = at(bb, i);
        const int status = elements_equal(*fa, x->data, x->len, *fb, y->data, y->len, cmp, nullptr);
        if (status != 0) return status;
      }
      return 0;
    }
  }
  return matched_equal(a, b, ba.entries.get(), bb.entries.get(), n, *fa, *fb, cmp);
}

/* Whether an element type makes the bag comparison go element by element
** from the start. */
bool slow_type(int code, const dvz_coll_typeinfo_t *ti) {
  if (code == sql_type_nchar || code == sql_type_nvarchar || is_composite_code(code)) return true;
  return (code == sql_type_variable_udt || code == sql_type_fixed_udt) &&
         (ti->ti_fields[0].flags & DVZ_FIELD_ELEMCMP) != 0;
}

}  // namespace

extern "C" {

/* See gen_collection_stored.h. */
int dvz_coll_type_equal(const dvz_coll_typeinfo_t *a, const dvz_coll_typeinfo_t *b) {
  if (a == nullptr || b == nullptr || a->ti_count <= 0 || a->ti_count != b->ti_count)
    return value_err_collection_kind;
  for (int i = 0; i < a->ti_count; ++i) {
    if ((a->ti_fields[i].type & 0xFF) != (b->ti_fields[i].type & 0xFF))
      return value_err_collection_kind;
  }
  return 0;
}

int dvz_coll_equal(dvz_coll_t *a, dvz_coll_t *b) {
  int isnull = 0;
  return mi_dvz_coll_equal(a, b, collelmtcmp, &isnull);
}

/*
** Equality; see gen_collection_stored.h. Types, cardinalities, then the
** cached hashes (a quick "not equal" for a simple element type whose hash
** is exact), then the elements: in order for LIST and ROW, as bags
** otherwise.
*/
int mi_dvz_coll_equal(dvz_coll_t *a, dvz_coll_t *b, dvz_coll_cmp_fn cmp, int *isnull) {
  int ignored = 0;
  if (isnull == nullptr) isnull = &ignored;
  *isnull = 0;
  if (a == nullptr || b == nullptr) return -1;
  if (((a->cl_flags | b->cl_flags) & DVZ_COLL_NULL) != 0) {
    *isnull = 1;
    return -1;
  }
  const dvz_coll_typeinfo_t *ta = coll_typeinfo(a);
  if (const int status = dvz_coll_type_equal(ta, coll_typeinfo(b)); status != 0) return status;
  if (a->cl_cardinality != b->cl_cardinality) return -1;
  if (const int status = dvz_coll_hash(a); status != 0) return status;
  if (const int status = dvz_coll_hash(b); status != 0) return status;
  const int kind = ta->ti_fields[0].type & 0xFF;
  const int element = dvz_coll_elem_type(a);
  const int code = element & 0xFF;
  const bool slow = element >= 0 && slow_type(code, ta);
  const dvz_coll_field_t *field = element_field(a, 0);
  const bool udt_xid1 = (code == sql_type_variable_udt || code == sql_type_fixed_udt) &&
                        field != nullptr && field->xid == 1;
  if (ta->ti_count == 2 && !slow && !udt_xid1 && a->cl_hashvalue != b->cl_hashvalue &&
      code != sql_type_char && code != sql_type_varchar)
    return -1;
  if (kind == sql_type_list || kind == sql_type_row)
    return ordered_equal(a, b, cmp, kind == sql_type_row);
  return bag_equal(a, b, cmp, slow);
}

/* See gen_collection_stored.h. Each element is read under its record's
** element descriptor (a row's first field) of the type's code, else under
** the type word with the element's length as the length word. */
int dvz_call_equal_func(int type, dvz_coll_t *a, const char *abytes, int32_t alen, dvz_coll_t *b,
                        const char *bbytes, int32_t blen, dvz_coll_cmp_fn cmp, void *context) {
  const int code = type & 0xFF;
  if (is_opaque_code(code)) return -1;
  const auto descriptor = [&](dvz_coll_t *coll, int32_t len, dvz_coll_field_t &scratch) {
    const dvz_coll_field_t *field = coll != nullptr ? element_field(coll, 0) : nullptr;
    if (field != nullptr && (field->type & 0xFF) == code) return *field;
    /* A row's first field of the type. */
    for (int n = 1; coll != nullptr && dvz_genlib::coll_kind(coll) == sql_type_row; ++n) {
      field = element_field(coll, n);
      if (field == nullptr) break;
      if ((field->type & 0xFF) == code) return *field;
    }
    std::memset(&scratch, 0, sizeof scratch);
    scratch.type = static_cast<int16_t>(type);
    scratch.length = static_cast<int16_t>(len);
    return scratch;
  };
  dvz_coll_field_t sa;
  dvz_coll_field_t sb;
  const dvz_coll_field_t fa = descriptor(a, alen, sa);
  const dvz_coll_field_t fb = descriptor(b, blen, sb);
  return elements_equal(fa, abytes, alen, fb, bbytes, blen, cmp, context);
}

int collelmtcmp(int op, value_t *a, value_t *b, void *context, value_t *result) {
  (void)context;
  return excmp(op, a, b, result);
}

/* Sorts by the 32-bit key each pointer points to; see
** gen_collection_stored.h. */
void dvz_coll_qsort(void **array, int first, int last) {
  if (array == nullptr || first >= last) return;
  const auto key = [](const void *p) {
    uint32_t k;
    std::memcpy(&k, p, sizeof k);
    return k;
  };
  std::sort(array + first, array + last + 1,
            [&](const void *x, const void *y) { return key(x) < key(y); });
}

/* Membership of a stored element; see gen_collection_stored.h. */
int dvz_coll_inpred(dvz_coll_t *coll, const char *element, int32_t len, int32_t excluded,
                    dvz_coll_cmp_fn cmp, void *context) {
  if (coll == nullptr || (coll->cl_flags & DVZ_COLL_NULL) != 0) return -1;
  if (coll->cl_cardinality == 0) return 0;
  const int type = dvz_coll_elem_type(coll);
  const dvz_coll_field_t *field = element_field(coll, 0);
  if (type < 0 || field == nullptr) return coll_err_no_descriptor;
  if (!is_composite_code(type & 0xFF)) {
    value_t v;
    if (const int status = element_value(*field, element, len, &v); status != 0) return status;
    const int status = dvz_coll_valuet_inpred(coll, &v, excluded, cmp, context);
    return status == 100 ? 0 : status;
  }
  if (len >= 3 && element[2] == 1) return 0;
  dvz_coll_typeinfo_t *ti = nullptr;
  if (const int status = dvz_coll_elem_typeinfo(coll, &ti, 0); status != 0) {
    std::free(ti);
    return status;
  }
  value_t v;
  std::memset(&v, 0, sizeof v);
  v.vtype = static_cast<int16_t>(type);
  v.vxid = ti->ti_fields[0].xid;
  int status = dvz_coll_init(&v.vcoll, ti, 0, nullptr, 0);
  if (status == 0) status = dvz_coll_put_coll(&v.vcoll, element);
  if (status == 0) status = dvz_coll_valuet_inpred(coll, &v, excluded, cmp, context);
  /* The record holds ti once initialised; release frees both. */
  v.vcoll.cl_svr_typeinfo = ti;
  release_temporary(v.vcoll);
  return status;
}

/* Membership of a value; see gen_collection_stored.h. */
int dvz_coll_valuet_inpred(dvz_coll_t *coll, value_t *value, int32_t excluded, dvz_coll_cmp_fn cmp,
                           void *context) {
  if (coll == nullptr || (coll->cl_flags & DVZ_COLL_NULL) != 0) return -1;
  if (coll->cl_cardinality == 0) return 0;
  const int type = dvz_coll_elem_type(coll);
  const dvz_coll_field_t *field = element_field(coll, 0);
  if (type < 0 || field == nullptr) return coll_err_no_descriptor;
  if (is_composite_code(type & 0xFF)) {
    const int status = dvz_coll_nested_inpred(type, coll, value, excluded, cmp, context);
    return status == 0 ? coll_err_present : status == -1 ? 0 : status;
  }
  const bool opaque = is_opaque_code(type & 0xFF);
  private_cursor cursor(coll);
  if (cursor.status() != 0) return cursor.status();
  for (int32_t i = 1;; ++i) {
    char *data = nullptr;
    int32_t len = 0;
    const int status = cursor.next(data, len);
    if (status == 100) return 0;
    if (status != 0) return status;
    if (i == excluded || opaque) continue;
    value_t element;
    if (const int s = element_value(*field, data, len, &element); s != 0) return s;
    value_t result;
    std::memset(&result, 0, sizeof result);
    if (const int s = cmp(DVZ_COLL_OP_EQUAL, value, &element, context, &result); s != 0) return s;
    if (result.vind >= 0 && result.vint != 0) return coll_err_present;
  }
}

/* Membership of a nested collection; see gen_collection_stored.h. */
int dvz_coll_nested_inpred(int type, dvz_coll_t *coll, value_t *value, int32_t excluded,
                           dvz_coll_cmp_fn cmp, void *context) {
  (void)type;
  (void)cmp;
  (void)context;
  if (coll == nullptr || (coll->cl_flags & DVZ_COLL_NULL) != 0) return -1;
  dvz_coll_typeinfo_t *ti = nullptr;
  if (const int status = dvz_coll_elem_typeinfo(coll, &ti, 0); status != 0) {
    std::free(ti);
    return status;
  }
  dvz_coll_t nested;
  std::memset(&nested, 0, sizeof nested);
  int status = dvz_coll_init(&nested, ti, 0, nullptr, 0);
  if (status == 0) {
    private_cursor cursor(coll);
    status = cursor.status();
    for (int32_t i = 1; status == 0; ++i) {
      char *data = nullptr;
      int32_t len = 0;
      status = cursor.next(data, len);
      if (status == 100) {
        status = -1;
        break;
      }
      if (status != 0 || i == excluded) continue;
      status = dvz_coll_put_coll(&nested, data);
      if (status != 0) break;
      status = dvz_coll_equal(&nested, &value->vcoll);
      if (status == 0) break;
      if (status == -1) status = 0;
    }
  }
  nested.cl_svr_typeinfo = ti;
  release_temporary(nested);
  return status;
}

}  // extern "C"
