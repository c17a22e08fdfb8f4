/*
** Fuzz target: the readers of nested collection references. Byte 0 picks
** the reader, byte 1 its argument, byte 2 the address residue (mod 8) at
** which the rest of the input is placed, at the end of a heap block, so a
** read past it is an address-sanitizer report:
**   0: the reference copy into each form (as stored data: inline only);
**   1: loading the reference into a record (as stored data);
**   2: the bytes as the element data of a LIST of SET(INTEGER): the checks
**      stored data must pass, then every element fetched as a pointer-form
**      copy, loaded into a record of its own and walked, then the rebuild
**      and the hash.
**
** Must hold: the readers never read outside the given bytes, refuse a
** negative or short length and the forms that carry raw pointers with
** -9875, and a record built from accepted data walks, rebuilds and frees
** without a report.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "coll_internal.h"
#include "fuzz_environment.h"
#include "gen_collection.h"
#include "gen_types.h"

namespace {

[[noreturn]] void fail(const char *what, int status) {
  std::fprintf(stderr, "fuzz_coll_nested: %s (status %d)\n", what, status);
  std::abort();
}

struct free_deleter {
  void operator()(void *p) const { std::free(p); }
};

std::unique_ptr<dvz_coll_typeinfo_t, free_deleter> list_of_sets() {
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(4)));
  ti->ti_count = 3;
  const int desc[3][3] = {{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, sql_type_integer, 4}};
  for (int i = 0; i < 3; ++i) {
    ti->ti_fields[i].seqno = static_cast<int16_t>(i);
    ti->ti_fields[i].level_no = static_cast<int16_t>(desc[i][0]);
    ti->ti_fields[i].type = static_cast<int16_t>(desc[i][1]);
    ti->ti_fields[i].length = static_cast<int16_t>(desc[i][2]);
  }
  return std::unique_ptr<dvz_coll_typeinfo_t, free_deleter>(ti);
}

/* Walks a record to its end (bounded by its cardinality). */
void walk(dvz_coll_t *coll) {
  dvz_coll_cursor_t c;
  if (dvz_coll_open(coll, &c) != 0) fail("open", -1);
  for (int32_t i = 0; i <= coll->cl_cardinality; ++i) {
    char *p = nullptr;
    int32_t len = 0;
    if (dvz_coll_next(coll, &c, &p, &len) != 0) break;
  }
  dvz_coll_close(coll, &c);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size > 40000) return 0;
  const int reader = data[0] % 3;
  const uint8_t arg = data[1];
  const size_t residue = data[2] % 8;
  const size_t n = size - 3;
  /* The bytes end the block and start at the chosen residue of a
  ** 16-aligned allocation. */
  std::unique_ptr<char[]> block(new char[residue + n]);
  char *bytes = block.get() + residue;
  if (n > 0) std::memcpy(bytes, data + 3, n);
  const auto avail = static_cast<int32_t>(n);
  auto ti = list_of_sets();
  static std::vector<char> out(40000 + 64 + sizeof(dvz_coll_t));
  if (reader == 0) {
    const int forms[] = {DVZ_NREF_INLINE, DVZ_NREF_INLINE2, DVZ_NREF_POINTER, DVZ_NREF_RECORD, 3};
    const int form = forms[arg % 5];
    char *dst = out.data() + arg / 5 % 8;
    const int written = dvz_genlib::collcopy_bounded(bytes, avail, true, dst, ti.get(), 1, form);
    if (written < 0 && written != -9875) fail("collcopy", written);
    if (written > 0 && form == DVZ_NREF_INLINE) {
      /* The copy reads back as what it was made from. */
      const int again = dvz_genlib::collcopy_bounded(dst, written, true, out.data() + 20000,
                                                     nullptr, 0, DVZ_NREF_INLINE);
      if (again < 0) fail("copy of a copy", again);
    }
    return 0;
  }
  if (reader == 1) {
    dvz_coll_t coll {};
    if (dvz_coll_init(&coll, ti.get(), 1, nullptr, 0) != 0) fail("init", -1);
    const int status = dvz_genlib::coll_put_coll_bounded(&coll, bytes, avail, true);
    if (status != 0 && status != -9875 && status != -9986) fail("put_coll", status);
    walk(&coll);
    if (dvz_coll_free(&coll) != 0) fail("free", -1);
    return 0;
  }
  dvz_coll_t coll {};
  int status = dvz_coll_init(&coll, ti.get(), 1, n > 0 ? bytes : nullptr, avail);
  if (status == 0) status = dvz_genlib::coll_check_data(&coll, true);
  if (status != 0) {
    if (status != -9986 && status != -9875) fail("init or check", status);
    dvz_coll_free(&coll);
    return 0;
  }
  dvz_coll_cursor_t c;
  if (dvz_coll_open(&coll, &c) != 0) fail("open", -1);
  for (int32_t i = 0; i < coll.cl_cardinality; ++i) {
    char *p = out.data();
    int32_t len = 0;
    status = dvz_coll_next(&coll, &c, &p, &len);
    if (status != 0) fail("next over checked data", status);
    p = nullptr;
    if (dvz_coll_pos(&coll, &c, i + 1) != 0) fail("pos", -1);
    c.cr_flags = DVZ_CURS_DELETED; /* read the same element again, in place */
    if (dvz_coll_next(&coll, &c, &p, &len) != 0) fail("next in place", -1);
    dvz_coll_t nested {};
    status = dvz_coll_elem_coll(&coll, &nested, p, 0);
    if (status != 0 && status != -9986) fail("elem_coll", status);
    walk(&nested);
    dvz_coll_free(&nested);
  }
  dvz_coll_close(&coll, &c);
  const char empty_set[] = {0, 1, 1};
  dvz_coll_insert(&coll, const_cast<char *>(empty_set), 3, 0);
  status = dvz_coll_tuple(&coll);
  if (status != 0) fail("rebuild of checked data", status);
  walk(&coll);
  dvz_coll_hash(&coll);
  if (dvz_coll_free(&coll) != 0) fail("free", -1);
  return 0;
}
