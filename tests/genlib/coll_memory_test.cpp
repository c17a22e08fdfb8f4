/*
** Tests of the collection record in memory: initialisation from a type
** info (fixed flag, element size, cardinality), the element type
** questions, the type info of composite elements, release with an open
** cursor, the offset table checks, nested references (padding at every
** address residue, conversion between forms, refused lengths), the NULL
** test of an element and the two hash functions.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "coll_fixtures.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_types.h"
#include "gen_value.h"
#include "value_builders.h"

namespace {

using namespace value_test;
using namespace coll_test;
using bytes = std::string;

/* ---- Initialisation ------------------------------------------------------------------ */

TEST(CollInit, FixedFlagElementSizeAndCardinalityFollowTheTypeInfo) {
  struct init_case {
    const char *name;
    std::vector<field_desc> fields;
    bytes data;
    int isfixed;
    int elsize;
    int cardinality;
  };
  const init_case cases[] = {
      {"set of integer", {{0, 19, 0}, {1, 2, 4}}, bytes(12, '\1'), 1, 4, 3},
      {"set of not null decimal(16,2)", {{0, 19, 0}, {1, 0x105, 0x1002}}, bytes(18, '\1'), 1, 9, 2},
      {"list of varchar", {{0, 21, 0}, {1, 13, 30}}, variable_data({"\2ab", "", "\1c"}), 0, 30, 3},
      {"set of row(integer, char(10))",
       {{0, 19, 0}, {1, 22, 0}, {2, 2, 4}, {2, 0, 10}},
       bytes(),
       0,
       14,
       0},
      {"multiset of lvarchar", {{0, 20, 0}, {1, 43, 100}}, bytes(), 0, 105, 0},
      {"list of set of integer", {{0, 21, 0}, {1, 19, 0}, {2, 2, 4}}, bytes(), 0, 20, 0},
      {"row of three fields with data",
       {{0, 22, 0}, {1, 2, 4}, {1, 13, 10}, {1, 22, 0}, {2, 2, 4}, {1, 2, 4}},
       variable_data({"abcd"}),
       0,
       0,
       4},
      {"row of two fields without data", {{0, 22, 0}, {1, 2, 4}, {1, 2, 4}}, bytes(), 0, 0, 0},
      {"lone udtfixed", {{0, 41, 24}}, bytes(), 0, 24, 0},
      {"lone udtvar", {{0, 40, 24}}, bytes(), 0, 0, 0},
  };
  for (const init_case &c : cases) {
    SCOPED_TRACE(c.name);
    typeinfo_ptr ti = make_typeinfo(c.fields);
    bytes data = c.data;
    dvz_coll_t coll;
    std::memset(&coll, 0x5a, sizeof coll);
    ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 0, data.empty() ? nullptr : data.data(),
                            static_cast<int32_t>(data.size())),
              0);
    EXPECT_EQ(coll.magic, DVZ_COLL_MAGIC);
    EXPECT_EQ(coll.cl_isfixed, c.isfixed);
    EXPECT_EQ(coll.cl_elsize, c.elsize);
    EXPECT_EQ(coll.cl_cardinality, c.cardinality);
    EXPECT_EQ(coll.cl_typelen, 414 * static_cast<int>(c.fields.size()) + 304);
    EXPECT_EQ(coll.cl_svr_typeinfo, ti.get());
    EXPECT_EQ(coll.cl_typeinfo, nullptr);
    EXPECT_EQ(coll.cl_len, static_cast<int32_t>(data.size()));
    EXPECT_EQ(coll.cl_flags, 0u);
    EXPECT_EQ(coll.cl_curs, nullptr);
    EXPECT_EQ(dvz_coll_free(&coll), 0);
  }
  dvz_coll_t coll {};
  typeinfo_ptr ti = make_typeinfo({{0, 19, 0}, {1, 2, 4}});
  EXPECT_EQ(dvz_coll_init(nullptr, ti.get(), 0, nullptr, 0), -1);
  EXPECT_EQ(dvz_coll_init(&coll, nullptr, 0, nullptr, 0), -1);
}

/* Cardinality over a table that lacks its -1 word, decreases, or reaches
** into itself: -9986, the cardinality kept. */
TEST(CollInit, DamagedOffsetTablesAreRefused) {
  auto word = [](int32_t v) {
    char w[4];
    dvz_st_be_i32(v, w);
    return bytes(w, 4);
  };
  struct table_case {
    const char *name;
    bytes data;
  };
  const table_case cases[] = {
      {"no -1 word", bytes("abcd", 4) + word(2) + word(0)},
      {"decreasing", bytes("abcd", 4) + word(-1) + word(1) + word(3)},
      {"negative first", bytes("abcd", 4) + word(-1) + word(-4)},
      {"into the table", bytes("abcd", 4) + word(-1) + word(6) + word(0)},
      {"shorter than a word", bytes("ab", 2)},
  };
  typeinfo_ptr ti = make_typeinfo({{0, 21, 0}, {1, 13, 10}});
  for (const table_case &c : cases) {
    SCOPED_TRACE(c.name);
    bytes data = c.data;
    dvz_coll_t coll {};
    EXPECT_EQ(dvz_coll_init(&coll, ti.get(), 1, data.data(), static_cast<int32_t>(data.size())),
              -9986);
    EXPECT_EQ(coll.cl_cardinality, 0);
    dvz_coll_free(&coll);
  }
  /* A fixed-size type of size 0 (a lone descriptor) cannot count data. */
  typeinfo_ptr lone = make_typeinfo({{0, 19, 0}});
  bytes data(8, '\1');
  dvz_coll_t coll {};
  EXPECT_EQ(dvz_coll_init(&coll, lone.get(), 1, data.data(), 8), -9986);
  dvz_coll_free(&coll);
}

/* ---- Element types ------------------------------------------------------------------- */

TEST(CollElementTypes, RowFieldsAndCollectionElementsAreFound) {
  /* row(a integer not null, b set(decimal(8,2)), c varchar(20), d lvarchar) */
  typeinfo_ptr row = make_typeinfo(
      {{0, 22, 0}, {1, 0x102, 4}, {1, 19, 0}, {2, 5, 0x0802}, {1, 13, 20}, {1, 43, 50}});
  dvz_coll_t coll {};
  ASSERT_EQ(dvz_coll_init(&coll, row.get(), 1, nullptr, 0), 0);
  struct field_case {
    int n;
    int type;
    int notnull;
    int size;
    int result;
  };
  const field_case fields[] = {
      {1, 2, 0x100, 4, 0}, {2, 19, 0, 0, 0},  {3, 13, 0, 20, 0},
      {4, 43, 0, 55, 0},   {5, -1, 0, 0, -1},
  };
  for (const field_case &f : fields) {
    SCOPED_TRACE(f.n);
    int type = 0;
    int notnull = 7;
    int size = 7;
    EXPECT_EQ(dvz_coll_elem_type_nonull(&coll, f.n, &type, &notnull, &size, nullptr), f.result);
    EXPECT_EQ(type, f.type);
    EXPECT_EQ(notnull, f.notnull);
    EXPECT_EQ(size, f.size);
    EXPECT_EQ(dvz_coll_row_elem_type(&coll, f.n), f.type == -1 ? -1 : f.type);
  }
  int32_t xid = 0;
  EXPECT_EQ(dvz_coll_elem_xid(&coll, 3, &xid), 0);
  EXPECT_EQ(xid, 104);
  int16_t flags = 0;
  EXPECT_EQ(dvz_coll_elem_align(&coll, 2, &flags), 2);
  EXPECT_EQ(dvz_coll_elem_align(&coll, 9, &flags), -1);
  EXPECT_EQ(dvz_coll_elem_len(&coll), 55); /* the lvarchar's 50 + 5 */
  dvz_coll_field_t *f = nullptr;
  EXPECT_EQ(dvz_coll_get_row_typeinfo(&coll, 0, &f), 0);
  EXPECT_EQ(f, &row->ti_fields[1]);
  ASSERT_EQ(dvz_coll_free(&coll), 0);

  typeinfo_ptr set = make_typeinfo({{0, 19, 0}, {1, 0x10A, 0x0e13}});
  ASSERT_EQ(dvz_coll_init(&coll, set.get(), 0, nullptr, 0), 0);
  int type = 0;
  int notnull = 0;
  int size = 0;
  int length = 0;
  EXPECT_EQ(dvz_coll_elem_type_nonull(&coll, 0, &type, &notnull, &size, &length), 0);
  EXPECT_EQ(type, 10);
  EXPECT_EQ(notnull, 0x100);
  EXPECT_EQ(size, (14 + 1 + 3) / 2);
  EXPECT_EQ(length, 0x0e13);
  EXPECT_EQ(dvz_coll_elem_type(&coll), 10);
  EXPECT_EQ(dvz_coll_elem_type_nonull(&coll, 1, &type, nullptr, nullptr, nullptr), -9972);
  EXPECT_EQ(dvz_coll_get_row_typeinfo(&coll, 1, &f), -9972);
  EXPECT_EQ(dvz_coll_elem_xid(&coll, 2, &xid), -9972);
  ASSERT_EQ(dvz_coll_free(&coll), 0);
}

/* The type info of a composite element: the chosen descriptors renumbered
** from their base. */
TEST(CollElementTypes, ElementTypeInfoRenumbers) {
  struct typeinfo_case {
    const char *name;
    std::vector<field_desc> fields;
    int level0; /* level of descriptor 0 (a nested row when not 0) */
    int n;
    int result;
    std::vector<int> types; /* of the new descriptors */
    std::vector<int> levels;
  };
  const std::vector<field_desc> top_row = {{0, 22, 0}, {1, 2, 4},  {1, 19, 0},
                                           {2, 2, 4},  {1, 22, 0}, {2, 2, 4},
                                           {2, 21, 0}, {3, 0, 3},  {1, 2, 4}};
  const typeinfo_case cases[] = {
      {"top row: set field", top_row, 0, 2, 0, {19, 2}, {0, 1}},
      {"top row: row field", top_row, 0, 3, 0, {22, 2, 21, 0}, {0, 1, 1, 2}},
      {"top row: plain field", top_row, 0, 4, -9969, {}, {}},
      {"top row: missing field", top_row, 0, 9, -9969, {}, {}},
      {"collection of rows",
       {{0, 20, 0}, {1, 22, 0}, {2, 2, 4}, {2, 0, 10}},
       0,
       0,
       0,
       {22, 2, 0},
       {1, 2, 2}},
      {"collection without element", {{0, 20, 0}}, 0, 0, -9969, {}, {}},
      {"nested row: set field",
       {{1, 22, 0}, {2, 2, 4}, {2, 19, 0}, {3, 2, 4}, {2, 2, 4}},
       1,
       2,
       0,
       {19, 2},
       {0, 1}},
      {"nested row: missing field", {{1, 22, 0}, {2, 2, 4}}, 1, 3, -9969, {}, {}},
  };
  for (const typeinfo_case &c : cases) {
    SCOPED_TRACE(c.name);
    typeinfo_ptr ti = make_typeinfo(c.fields);
    dvz_coll_t coll {};
    ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, nullptr, 0), 0);
    dvz_coll_typeinfo_t *made = make_typeinfo({{0, 2, 4}}).release(); /* freed first */
    ASSERT_EQ(dvz_coll_elem_typeinfo(&coll, &made, c.n), c.result);
    if (c.result != 0) {
      EXPECT_EQ(made, nullptr);
    } else {
      ASSERT_NE(made, nullptr);
      ASSERT_EQ(made->ti_count, static_cast<int>(c.types.size()));
      for (size_t i = 0; i < c.types.size(); ++i) {
        EXPECT_EQ(made->ti_fields[i].type, c.types[i]) << i;
        EXPECT_EQ(made->ti_fields[i].level_no, c.levels[i]) << i;
      }
      EXPECT_EQ(made->ti_xid, 0);
      EXPECT_EQ(made->ti_fields[c.types.size()].type, 0); /* the spare is zero */
    }
    std::free(made);
    ASSERT_EQ(dvz_coll_free(&coll), 0);
  }
}

TEST(CollFree, RefusesWithAnOpenCursorThenReleasesWhatItOwns) {
  dvz_coll_t coll {};
  ASSERT_EQ(dvz_coll_init(&coll, make_typeinfo({{0, 19, 0}, {1, 2, 4}}).release(), 1, nullptr, 0),
            0);
  auto *data = static_cast<char *>(std::malloc(8));
  std::memcpy(data, (int_elem(1) + int_elem(2)).data(), 8);
  coll.cl_data = data;
  coll.cl_datalen = coll.cl_len = 8;
  coll.cl_flags |= DVZ_COLL_OWNS_DATA | DVZ_COLL_OWNS_TYPEINFO;
  ASSERT_EQ(dvz_coll_set_cardinality(&coll), 0);
  EXPECT_EQ(coll.cl_cardinality, 2);
  dvz_coll_cursor_t c;
  ASSERT_EQ(dvz_coll_open(&coll, &c), 0);
  EXPECT_EQ(dvz_coll_free(&coll), -9984);
  EXPECT_EQ(coll.cl_data, data);
  ASSERT_EQ(dvz_coll_close(&coll, &c), 0);
  EXPECT_EQ(dvz_coll_free(&coll), 0); /* LeakSanitizer checks data and type info */
  EXPECT_EQ(coll.cl_data, nullptr);
  EXPECT_EQ(coll.magic, 0u);
}

/* ---- Nested references ----------------------------------------------------------------- */

int expected_pad(const void *a) {
  const auto r = static_cast<int>((reinterpret_cast<uintptr_t>(a) + 3) % 8);
  return r == 0 ? 3 : 11 - r;
}

TEST(CollNestedReference, PaddingFollowsTheAddressAtEveryResidue) {
  bytes data = int_elem(1) + int_elem(2);
  dvz_coll_t coll {};
  typeinfo_ptr ti = make_typeinfo({{0, 19, 0}, {1, 2, 4}});
  ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, data.data(), 8), 0);
  alignas(8) char area[DVZ_COLL_NESTED_AREA + 8];
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    std::memset(area, 0x77, sizeof area);
    char *a = area + k;
    ASSERT_EQ(dvz_coll_set_nested_coll(&coll, a), 0);
    const int pad = expected_pad(a);
    EXPECT_EQ(pad, k == 5 ? 3 : 11 - (k + 3) % 8);
    EXPECT_EQ(dvz_ld_be_i16(a), 8 + pad + 6);
    for (int i = 2; i < pad; ++i)
      EXPECT_EQ(a[i], 0) << i;
    EXPECT_EQ(dvz_ld_be_u32(a + pad), static_cast<uint32_t>(DVZ_NREF_POINTER));
    EXPECT_EQ(dvz_ld_be_u32(a + pad + 4), coll.cl_hashvalue);
    char *pointer = nullptr;
    std::memcpy(&pointer, a + pad + 8, sizeof pointer);
    EXPECT_EQ(pointer, coll.cl_data);
    EXPECT_LE(pad + 16, DVZ_COLL_NESTED_AREA);
    EXPECT_EQ(area[k + pad + 16], 0x77); /* nothing written beyond */
  }
  coll.cl_flags |= DVZ_COLL_FORMBIT16;
  ASSERT_EQ(dvz_coll_set_nested_coll(&coll, area), 0);
  EXPECT_EQ(dvz_ld_be_u32(area + expected_pad(area)), 24u);
  ASSERT_EQ(dvz_coll_free(&coll), 0);
}

/* Data longer than a reference's signed length can describe is refused
** rather than written with a wrapped length. */
TEST(CollNestedReference, DataTooLongForAReferenceIsRefused) {
  bytes data(4 * 9000, '\0');
  typeinfo_ptr ti = make_typeinfo({{0, 19, 0}, {1, 2, 4}});
  dvz_coll_t coll {};
  ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, data.data(), static_cast<int32_t>(data.size())), 0);
  alignas(8) char area[DVZ_COLL_NESTED_AREA];
  std::memset(area, 0x44, sizeof area);
  EXPECT_EQ(dvz_coll_set_nested_coll(&coll, area), -9875);
  EXPECT_EQ(area[0], 0x44);
  ASSERT_EQ(dvz_coll_free(&coll), 0);
}

/* Every form converts to every other and back, at every residue, keeping
** the data, the hash and bit 16. */
TEST(CollNestedReference, CollcopyConvertsBetweenFormsBothWays) {
  bytes data = int_elem(7) + int_elem(8) + int_elem(9);
  typeinfo_ptr ti = make_typeinfo({{0, 19, 0}, {1, 2, 4}});
  const int forms[] = {DVZ_NREF_INLINE, DVZ_NREF_INLINE2, DVZ_NREF_RECORD, DVZ_NREF_POINTER};
  alignas(8) char source[64];
  alignas(8) char first[64 + sizeof(dvz_coll_t)];
  alignas(8) char second[64 + sizeof(dvz_coll_t)];
  alignas(8) char back[64];
  /* The source: form 1 with bit 16, written by hand at an aligned start. */
  std::memset(source, 0, sizeof source);
  dvz_st_be_i16(static_cast<int16_t>(12 + 3 + 6), source + 5);
  dvz_st_be_u32(DVZ_NREF_INLINE | DVZ_NREF_BIT16, source + 8);
  dvz_st_be_u32(0xabcdef01u, source + 12);
  std::memcpy(source + 16, data.data(), 12);
  /* Written in form f at dst from src: its length, form word and hash. */
  auto copy_checked = [&](const char *src, char *dst, int form) {
    const int written = collcopy(src, dst, ti.get(), 1, form);
    const int pad = expected_pad(dst);
    const int datalen = form == DVZ_NREF_RECORD ? static_cast<int>(sizeof(dvz_coll_t)) : 12;
    EXPECT_EQ(written, datalen + pad + 6 + 2);
    EXPECT_EQ(dvz_ld_be_i16(dst), datalen + pad + 6);
    EXPECT_EQ(dvz_ld_be_u32(dst + pad), static_cast<uint32_t>(form | DVZ_NREF_BIT16));
    EXPECT_EQ(dvz_ld_be_u32(dst + pad + 4), 0xabcdef01u);
  };
  for (const int from : forms) {
    for (const int to : forms) {
      for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE("form " + std::to_string(from) + " to " + std::to_string(to) + " at residue " +
                     std::to_string(k));
        copy_checked(source + 5, first + k, from);
        copy_checked(first + k, second + (7 - k), to);
        char *b = back + (k + 3) % 8;
        copy_checked(second + (7 - k), b, DVZ_NREF_INLINE);
        EXPECT_EQ(bytes(b + expected_pad(b) + 8, 12), data);
      }
    }
  }
}

TEST(CollNestedReference, CollcopyEdgeCasesAndRefusedLengths) {
  alignas(8) char dst[64];
  /* NULL: three bytes. */
  const char null_ref[3] = {0, 1, 1};
  std::memset(dst, 0x66, sizeof dst);
  EXPECT_EQ(collcopy(null_ref, dst, nullptr, 0, DVZ_NREF_INLINE), 3);
  EXPECT_EQ(bytes(dst, 4), bytes("\0\1\1\x66", 4));
  /* Form 8 into form 1 at (a + 3) mod 8 = 0: L = data length + 9. */
  bytes data = int_elem(1) + int_elem(2);
  alignas(8) char pointer_ref[32] = {};
  dvz_st_be_i16(static_cast<int16_t>(8 + 8 + 6), pointer_ref);
  dvz_st_be_u32(DVZ_NREF_POINTER, pointer_ref + 8);
  char *p = data.data();
  std::memcpy(pointer_ref + 16, &p, sizeof p);
  EXPECT_EQ(collcopy(pointer_ref, dst + 5, nullptr, 0, DVZ_NREF_INLINE), 8 + 11);
  EXPECT_EQ(dvz_ld_be_i16(dst + 5), 8 + 9);
  EXPECT_EQ(bytes(dst + 16, 8), data);
  /* Refused: negative L, L below pad + 6, unknown forms, form 4 without
  ** type info; nothing is written. */
  struct refused_case {
    const char *name;
    int16_t length;
    uint32_t form;
    int wanted;
  };
  const refused_case cases[] = {
      {"negative length", -4, DVZ_NREF_INLINE, DVZ_NREF_INLINE},
      {"length below pad + 6", 8 + 5, DVZ_NREF_INLINE, DVZ_NREF_INLINE},
      {"unknown source form", 8 + 6, 3, DVZ_NREF_INLINE},
      {"unknown destination form", 8 + 6, DVZ_NREF_INLINE, 5},
      {"record without type info", 8 + 6, DVZ_NREF_INLINE, DVZ_NREF_RECORD},
  };
  for (const refused_case &c : cases) {
    SCOPED_TRACE(c.name);
    alignas(8) char src[32] = {};
    dvz_st_be_i16(c.length, src);
    dvz_st_be_u32(c.form, src + 8);
    std::memset(dst, 0x66, sizeof dst);
    EXPECT_EQ(collcopy(src, dst, nullptr, 0, c.wanted), -9875);
    EXPECT_EQ(dst[0], 0x66);
    EXPECT_EQ(dst[8], 0x66);
    dvz_coll_t coll {};
    typeinfo_ptr ti = make_typeinfo({{0, 19, 0}, {1, 2, 4}});
    ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, nullptr, 0), 0);
    if (c.wanted == DVZ_NREF_INLINE) {
      EXPECT_EQ(dvz_coll_put_coll(&coll, src), -9875);
      EXPECT_EQ(coll.cl_data, nullptr);
      EXPECT_EQ(coll.cl_flags, 0u);
    }
    ASSERT_EQ(dvz_coll_free(&coll), 0);
  }
}

TEST(CollNestedReference, PutCollLoadsEachForm) {
  typeinfo_ptr ti = make_typeinfo({{0, 19, 0}, {1, 2, 4}});
  bytes data = int_elem(1) + int_elem(2) + int_elem(3);
  alignas(8) char ref[64] = {};
  dvz_st_be_i16(static_cast<int16_t>(12 + 8 + 6), ref);
  dvz_st_be_u32(0x1234u, ref + 12);
  std::memcpy(ref + 16, data.data(), 12);
  struct form_case {
    uint32_t form;
    uint32_t flags; /* beyond ownership */
    int cardinality;
  };
  const form_case cases[] = {
      {DVZ_NREF_INLINE, 0, 3},
      {DVZ_NREF_INLINE2, DVZ_COLL_FORM2, 3},
      {DVZ_NREF_INLINE | DVZ_NREF_BIT16, DVZ_COLL_FORMBIT16, 0},
  };
  for (const form_case &c : cases) {
    SCOPED_TRACE(c.form);
    dvz_st_be_u32(c.form, ref + 8);
    dvz_coll_t coll {};
    ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, nullptr, 0), 0);
    ASSERT_EQ(dvz_coll_put_coll(&coll, ref), 0);
    EXPECT_EQ(coll.cl_cardinality, c.cardinality);
    EXPECT_EQ(coll.cl_datalen, 12);
    EXPECT_EQ(coll.cl_hashvalue, 0x1234u);
    EXPECT_EQ(coll.cl_flags & ~DVZ_COLL_HASHED, DVZ_COLL_OWNS_DATA | c.flags);
    EXPECT_NE(coll.cl_data, ref + 16); /* a private copy */
    EXPECT_EQ(bytes(coll.cl_data, 12), data);
    ASSERT_EQ(dvz_coll_free(&coll), 0);
  }
  /* Form 8 points at the data, which the record does not own. */
  alignas(8) char area[DVZ_COLL_NESTED_AREA];
  dvz_coll_t source {};
  ASSERT_EQ(dvz_coll_init(&source, ti.get(), 1, data.data(), 12), 0);
  ASSERT_EQ(dvz_coll_set_nested_coll(&source, area), 0);
  dvz_coll_t coll {};
  ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, nullptr, 0), 0);
  ASSERT_EQ(dvz_coll_put_coll(&coll, area), 0);
  EXPECT_EQ(coll.cl_data, data.data());
  EXPECT_EQ(coll.cl_cardinality, 3);
  EXPECT_EQ(coll.cl_flags & DVZ_COLL_OWNS_DATA, 0u);
  ASSERT_EQ(dvz_coll_free(&coll), 0);
  ASSERT_EQ(dvz_coll_free(&source), 0);
}

/* ---- NULL elements and hashes ------------------------------------------------------------ */

TEST(CollElements, NullTestReadsTheElementByItsType) {
  char buffer[8] = {};
  value_t null_int = null_value(sql_type_integer);
  ASSERT_EQ(rvaldata(&null_int, buffer, sql_type_integer, 4), 0);
  EXPECT_EQ(dvz_coll_elem_is_null(buffer, 4, sql_type_integer), 0);
  const bytes five = int_elem(5);
  EXPECT_EQ(dvz_coll_elem_is_null(five.data(), 4, sql_type_integer), -1);
  const char null_ref[3] = {0, 1, 1};
  EXPECT_EQ(dvz_coll_elem_is_null(null_ref, 3, sql_type_set), 0);
  const char ref[3] = {0, 20, 0};
  EXPECT_EQ(dvz_coll_elem_is_null(ref, 3, sql_type_row), -1);
  /* A short element is read with zeros after it, never past it. */
  EXPECT_EQ(dvz_coll_elem_is_null(five.data(), 1, sql_type_float), -1);
  /* An opaque element is read within its own bytes (heap blocks of exactly
  ** their size). */
  const std::pair<std::vector<char>, int> opaques[] = {
      {{1, 0, 0, 0, 0}, 0},
      {{0, 0, 0, 0, 2, 'h', 'i'}, -1},
      {{0, 0, 0, 0x03, static_cast<char>(0xE8), 'h', 'i'}, -1},
  };
  for (const auto &[form, want] : opaques) {
    std::unique_ptr<char[]> element(new char[form.size()]);
    std::memcpy(element.get(), form.data(), form.size());
    EXPECT_EQ(
        dvz_coll_elem_is_null(element.get(), static_cast<int32_t>(form.size()), sql_type_lvarchar),
        want);
  }
}

TEST(CollHashes, PjwAndWordFoldGiveKnownValues) {
  EXPECT_EQ(dvz_hashpjw("", 5), 0);
  EXPECT_EQ(dvz_hashpjw("abc", 3), 124); /* 26499 mod 211 */
  EXPECT_EQ(dvz_hashpjw("abc", 0), 0);
  EXPECT_EQ(dvz_hashpjw("abcdef", 3), 124); /* at most n bytes */
  EXPECT_EQ(dvz_hashpjw("abc\0def", 7), 124); /* stops at a zero byte */
  /* Bytes count as signed: 0xff adds -1, which sets the top bits. */
  EXPECT_EQ(dvz_hashpjw("\xff", 1), static_cast<int>(0x0FFFFF0Fu % 211));
  uint32_t hash = 0x11111111u;
  dvz_calc_hval("\x01\x02\x03\x04\x05", 5, &hash);
  EXPECT_EQ(hash, 0x11111111u ^ 0x01020304u ^ 0x05000000u);
}

}  // namespace
