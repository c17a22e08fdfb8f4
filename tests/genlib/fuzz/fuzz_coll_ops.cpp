/*
** Fuzz target: operation sequences on a collection loaded from fuzzed
** element data. Byte 0 picks the type (LIST or MULTISET of INTEGER or of
** VARCHAR, or a ROW of INTEGER, VARCHAR and INTEGER), bytes 1-2 (BE16) the
** length of the element data that follows, copied into a heap block of
** exactly that size; the rest is a sequence of two-byte operations (insert,
** insert at a position, update, delete, delete through a busy cursor,
** update by position, position and next, rebuild, hash, delete all).
**
** Must hold: element data with a damaged offset table is refused by
** dvz_coll_init; otherwise no operation crashes, leaks or loops, and after
** every operation a walk with a fresh cursor either stops on a damaged
** offset or yields exactly cl_cardinality elements (a ROW at most that
** many), each inside the element data or a change-log entry.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dvz_be.h"
#include "fuzz_environment.h"
#include "gen_collection.h"
#include "gen_types.h"
#include "gen_value.h"

namespace {

[[noreturn]] void fail(const char *what, int status) {
  std::fprintf(stderr, "fuzz_coll_ops: %s (status %d)\n", what, status);
  std::abort();
}

struct free_deleter {
  void operator()(void *p) const { std::free(p); }
};

/* A type info of count descriptors given as (level, type, length). */
std::unique_ptr<dvz_coll_typeinfo_t, free_deleter> make_typeinfo(const int (*desc)[3], int count) {
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(count + 1)));
  ti->ti_count = static_cast<int16_t>(count);
  for (int i = 0; i < count; ++i) {
    ti->ti_fields[i].seqno = static_cast<int16_t>(i);
    ti->ti_fields[i].level_no = static_cast<int16_t>(desc[i][0]);
    ti->ti_fields[i].type = static_cast<int16_t>(desc[i][1]);
    ti->ti_fields[i].length = static_cast<int16_t>(desc[i][2]);
  }
  return std::unique_ptr<dvz_coll_typeinfo_t, free_deleter>(ti);
}

constexpr int list_int[][3] = {{0, sql_type_list, 0}, {1, sql_type_integer, 4}};
constexpr int list_text[][3] = {{0, sql_type_list, 0}, {1, sql_type_varchar, 20}};
constexpr int bag_int[][3] = {{0, sql_type_multiset, 0}, {1, sql_type_integer, 4}};
constexpr int bag_text[][3] = {{0, sql_type_multiset, 0}, {1, sql_type_varchar, 20}};
constexpr int row3[][3] = {{0, sql_type_row, 0},
                           {1, sql_type_integer, 4},
                           {1, sql_type_varchar, 20},
                           {1, sql_type_integer, 4}};

/* The element an operation writes, built as the runtime builds it: an
** INTEGER, or a VARCHAR of arg mod 12 letters. */
int32_t make_element(bool text, uint8_t arg, char *out) {
  if (!text) {
    value_t v {};
    v.vtype = sql_type_integer;
    v.vint = arg;
    if (rvaldata(&v, out, sql_type_integer, 4) != 0) fail("rvaldata integer", -1);
    return 4;
  }
  const int n = arg % 12;
  out[0] = static_cast<char>(n);
  std::memset(out + 1, 'a' + arg % 26, static_cast<size_t>(n));
  return 1 + n;
}

bool inside(const char *p, int32_t len, const char *begin, int32_t size) {
  return p >= begin && len >= 0 && p + len <= begin + size;
}

/* Walks the collection with a fresh cursor; checks the count and that
** every element lies in the data or a log entry. */
void walk(dvz_coll_t *coll) {
  dvz_coll_cursor_t c;
  if (dvz_coll_open(coll, &c) != 0) fail("open", -1);
  int32_t count = 0;
  int status = 0;
  for (;;) {
    char *p = nullptr;
    int32_t len = 0;
    status = dvz_coll_next(coll, &c, &p, &len);
    if (status != 0) break;
    bool ok = coll->cl_data != nullptr && inside(p, len, coll->cl_data, coll->cl_datalen);
    for (const dvz_coll_changelog_t *e = coll->cl_log; e != nullptr && !ok; e = e->ch_next)
      ok = e->ch_newrow != nullptr && inside(p, len, e->ch_newrow, e->ch_newrowlen);
    if (!ok) fail("element outside the data and the log", 0);
    if (++count > coll->cl_cardinality) fail("more elements than the cardinality", count);
  }
  /* A ROW counts its fields, which its data need not all hold. */
  const bool row = coll->cl_typeinfo->ti_fields[0].type == sql_type_row;
  if (status == 100 && count != coll->cl_cardinality && !row)
    fail("fewer elements than the cardinality", count);
  if (status != 100 && status != -9986) fail("walk", status);
  if (dvz_coll_close(coll, &c) != 0) fail("close", -1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  const int kind = data[0] % 5;
  const size_t datalen = dvz_ld_be_u16(data + 1);
  if (size - 3 < datalen) return 0;
  const int(*const descs[])[3] = {list_int, list_text, bag_int, bag_text, row3};
  const int counts[] = {2, 2, 2, 2, 4};
  const bool text = kind == 1 || kind == 3;
  auto ti = make_typeinfo(descs[kind], counts[kind]);
  auto elements = fuzz_environment::exact_copy(data + 3, datalen);
  dvz_coll_t coll;
  const int status = dvz_coll_init(&coll, ti.get(), 1, datalen > 0 ? elements.get() : nullptr,
                                   static_cast<int32_t>(datalen));
  if (status != 0) {
    if (status != -9986) fail("init", status);
    if (dvz_coll_free(&coll) != 0) fail("free after init", -1);
    return 0;
  }
  walk(&coll);
  const uint8_t *ops = data + 3 + datalen;
  const size_t nops = (size - 3 - datalen) / 2;
  char element[32];
  for (size_t i = 0; i < nops && i < 200; ++i) {
    const uint8_t op = ops[2 * i] % 11;
    const uint8_t arg = ops[2 * i + 1];
    const int32_t pos = arg % (coll.cl_cardinality + 2);
    dvz_coll_cursor_t a;
    dvz_coll_cursor_t b;
    switch (op) {
      case 0:
      case 1: {
        const int32_t len = make_element(text, arg, element);
        dvz_coll_insert(&coll, element, len, op == 1 ? pos : 0);
        break;
      }
      case 2:
      case 3:
      case 4:
        dvz_coll_open(&coll, &a);
        dvz_coll_pos(&coll, &a, pos);
        if (op == 2) {
          const int32_t len = make_element(text, arg, element);
          dvz_coll_update(&coll, &a, element, len);
        } else if (op == 3) {
          dvz_coll_delete(&coll, &a, 0);
          char *p = nullptr;
          int32_t len = 0;
          dvz_coll_next(&coll, &a, &p, &len);
        } else {
          const int32_t len = make_element(text, arg, element);
          dvz_coll_insert(&coll, element, len, 1);
        }
        dvz_coll_close(&coll, &a);
        break;
      case 5: {
        dvz_coll_open(&coll, &a);
        dvz_coll_open(&coll, &b);
        dvz_coll_pos(&coll, &a, pos);
        dvz_coll_pos(&coll, &b, pos);
        const int deleted = dvz_coll_delete(&coll, &a, 0);
        if (deleted == 0) fail("delete under another cursor", deleted);
        dvz_coll_close(&coll, &b);
        dvz_coll_close(&coll, &a);
        break;
      }
      case 6: {
        const int32_t len = make_element(text, arg, element);
        dvz_coll_update_pos(&coll, pos, element, len);
        break;
      }
      case 7: {
        dvz_coll_open(&coll, &a);
        dvz_coll_pos(&coll, &a, pos);
        for (int k = 0; k < 4; ++k) {
          /* A copy needs room for the longest element the data can hold. */
          static char copy[1 << 17];
          char *p = (arg & 1) != 0 ? copy : nullptr;
          int32_t len = 0;
          if (dvz_coll_next(&coll, &a, &p, &len) != 0) break;
        }
        dvz_coll_close(&coll, &a);
        break;
      }
      case 8:
        dvz_coll_tuple(&coll);
        break;
      case 9:
        dvz_coll_hash(&coll);
        break;
      default:
        if (arg < 16) dvz_coll_delete(&coll, nullptr, DVZ_COLL_DELETE_ALL);
        break;
    }
    if (coll.cl_curs != nullptr) fail("a cursor left in the chain", 0);
    walk(&coll);
  }
  if (dvz_coll_free(&coll) != 0) fail("free", -1);
  return 0;
}
