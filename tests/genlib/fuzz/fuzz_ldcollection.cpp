/*
** Fuzz target: reading a stored collection or row. Byte 0 of the input
** chooses the reading (bit 0: a total leads; bit 1: 128-byte names, else
** 18; bit 2: the short form, under a type chosen by bits 3-4); the rest is
** the stored form, copied into a heap block of exactly its size, so that a
** read past it is an address-sanitizer report.
**
** Must hold: a refused form leaves the record holding nothing; a read one
** gives a record over which a cursor visits cl_cardinality elements, every
** one inside cl_data, whose composite elements load and walk the same way;
** its type text is made; and its stored form (stcollection) reads back to
** the same type info, flags, handle and data.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_environment.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_types.h"

namespace {

[[noreturn]] void fail(const char *what, int status) {
  std::fprintf(stderr, "fuzz_ldcollection: %s (status %d)\n", what, status);
  std::abort();
}

/* A type info of two descriptors for the short form. */
dvz_coll_typeinfo_t *short_form_type(int choice) {
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(3)));
  static const int16_t kinds[4][3] = {{sql_type_set, sql_type_integer, 4},
                                      {sql_type_list, sql_type_varchar, 10},
                                      {sql_type_multiset, sql_type_char, 3},
                                      {sql_type_list, sql_type_set, 0}};
  const int16_t *k = kinds[choice & 3];
  ti->ti_count = 2;
  ti->ti_fields[0].type = k[0];
  ti->ti_fields[1].type = k[1];
  ti->ti_fields[1].length = k[2];
  ti->ti_fields[1].level_no = 1;
  if (k[1] == sql_type_set) {
    ti->ti_count = 3;
    ti->ti_fields[2].type = sql_type_integer;
    ti->ti_fields[2].length = 4;
    ti->ti_fields[2].level_no = 2;
    ti->ti_fields[2].seqno = 2;
  }
  return ti;
}

/*
** Walks every element with a cursor: each must lie inside the data (a
** freshly read record has no change log) and their count must be the
** cardinality. Composite elements are loaded and walked in turn.
*/
void walk(dvz_coll_t *coll, int depth) {
  if ((coll->cl_flags & DVZ_COLL_NULL) != 0) return;
  dvz_coll_cursor_t cursor;
  if (const int status = dvz_coll_open(coll, &cursor); status != 0) fail("open", status);
  const char *begin = coll->cl_data;
  const char *end = begin + coll->cl_datalen;
  int32_t count = 0;
  for (;;) {
    char *element = nullptr;
    int32_t len = 0;
    const int status = dvz_coll_next(coll, &cursor, &element, &len);
    if (status == 100) break;
    if (status != 0) fail("a read record does not walk", status);
    ++count;
    if (len < 0 || element < begin || element + len > end) fail("an element outside the data", 0);
    const int type = coll->cl_cardinality > 0 ? dvz_coll_elem_type(coll) : -1;
    int field_type = type;
    const bool row =
        ((coll->cl_typed != 0 ? coll->cl_typeinfo : coll->cl_svr_typeinfo)->ti_fields[0].type &
         0xFF) == sql_type_row;
    if (row) field_type = dvz_coll_row_elem_type(coll, count);
    const int code = field_type & 0xFF;
    if (depth < 4 && field_type >= 0 && code >= sql_type_set && code <= sql_type_collection) {
      dvz_coll_t nested;
      std::memset(&nested, 0, sizeof nested);
      const int loaded = dvz_coll_elem_coll(coll, &nested, element, row ? count : 0);
      if (loaded == 0) walk(&nested, depth + 1);
      dvz_coll_typeinfo_t *server = nested.cl_svr_typeinfo;
      dvz_coll_typeinfo_t *client = nested.cl_typeinfo;
      nested.cl_svr_typeinfo = nested.cl_typeinfo = nullptr;
      nested.cl_flags &= ~DVZ_COLL_OWNS_TYPEINFO;
      dvz_coll_free(&nested);
      std::free(server);
      if (client != server) std::free(client);
    }
  }
  if (count != coll->cl_cardinality) fail("the walk does not give the cardinality", count);
  dvz_coll_close(coll, &cursor);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const int mode = data[0];
  const int has_total = mode & 1;
  const int long_ids = (mode >> 1) & 1;
  const bool short_form = (mode & 4) != 0;
  const size_t n = size - 1;
  std::unique_ptr<char[]> form = fuzz_environment::exact_copy(data + 1, n);

  dvz_coll_t coll;
  std::memset(&coll, 0, sizeof coll);
  dvz_coll_typeinfo_t *ti = short_form ? short_form_type(mode >> 3) : nullptr;
  const int status =
      ldcollection(form.get(), &coll, has_total, long_ids,
                   short_form ? DVZ_LDCOLL_SHORT : DVZ_LDCOLL_FULL, ti, static_cast<int32_t>(n));
  if (status != 0) {
    if (coll.cl_data != nullptr || coll.cl_svr_typeinfo != nullptr || coll.cl_log != nullptr)
      fail("a refused form left the record holding something", status);
    /* The short form keeps the caller's type info when refused early. */
    if (status == coll_err_stored_form) std::free(ti);
    return 0;
  }
  walk(&coll, 0);
  /* Its type text never fails for want of room. */
  char *text = nullptr;
  if (dvz_cltype2str(coll.cl_svr_typeinfo, 1, &text, 0) == -406) fail("type text", -406);
  std::free(text);

  /* Written and read back: the same record. */
  std::vector<char> again(static_cast<size_t>(dvz_stcollection_size(&coll, long_ids)));
  stcollection(&coll, again.data(), long_ids);
  dvz_coll_t back;
  std::memset(&back, 0, sizeof back);
  const int reread = ldcollection(again.data(), &back, 1, long_ids, DVZ_LDCOLL_FULL, nullptr,
                                  static_cast<int32_t>(again.size()));
  if (reread != 0) fail("the written form does not read back", reread);
  const bool null = (coll.cl_flags & DVZ_COLL_NULL) != 0;
  if (((back.cl_flags ^ coll.cl_flags) & ~DVZ_COLL_HASHED) != 0) fail("flags differ", 0);
  if (back.cl_handle != coll.cl_handle) fail("handle differs", 0);
  if (!null) {
    const dvz_coll_typeinfo_t *a = coll.cl_svr_typeinfo;
    const dvz_coll_typeinfo_t *b = back.cl_svr_typeinfo;
    if (a->ti_count > 0 &&
        (a->ti_count != b->ti_count ||
         std::memcmp(a->ti_fields, b->ti_fields,
                     static_cast<size_t>(a->ti_count) * sizeof(dvz_coll_field_t)) != 0))
      fail("type info differs", 0);
    if (back.cl_len != coll.cl_len || back.cl_cardinality != coll.cl_cardinality ||
        (coll.cl_len > 0 &&
         std::memcmp(back.cl_data, coll.cl_data, static_cast<size_t>(coll.cl_len)) != 0))
      fail("data differs", 0);
  }
  dvz_coll_free(&back);
  dvz_coll_free(&coll);
  return 0;
}
