/*
** Tests of the stored form of collections and rows (ldcollection,
** stcollection), the type text (dvz_cltype2str) and the collection
** columns of rvaldata and rdataval. The golden stored forms come from
** the committed table of oracle/coll_oracle.py, which packs them with
** Python's struct independently of our writer. Element data is built by
** the column writers and the collection operations, as the runtime
** builds it. Every malformed form is read from a heap block of exactly
** its size, so that a read past it is an AddressSanitizer report.
*/
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "coll_fixtures.h"
#include "coll_internal.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_types.h"
#include "gen_value.h"
#include "os_gentcb.h"
#include "value_builders.h"

namespace {

using value_test::int_value;
using value_test::text_value;
using namespace coll_test;

/* ---- Fixtures ---------------------------------------------------------------------- */

/* A record freed at the end of its scope (no cursor may stay open). */
struct record {
  dvz_coll_t c {};
  record() = default;
  record(const record &) = delete;
  record &operator=(const record &) = delete;
  ~record() { EXPECT_EQ(dvz_coll_free(&c), 0); }
};

/* The stored form of an element of the column type and length, as the
** column writers make it. */
std::string element(value_t v, int type, int length) {
  char bytes[64] = {};
  EXPECT_EQ(rvaldata(&v, bytes, type, length), 0);
  const int size = rtypmsize(type & 0xFF, length);
  return std::string(bytes,
                     static_cast<size_t>(type == sql_type_varchar ? 1 + (length & 0xFF) : size));
}

void insert(dvz_coll_t &c, const std::string &bytes) {
  std::string copy = bytes;
  ASSERT_EQ(dvz_coll_insert(&c, copy.data(), static_cast<int32_t>(copy.size()), 0), 0);
}

std::vector<char> stored(const dvz_coll_t &c, int long_ids) {
  std::vector<char> bytes(static_cast<size_t>(dvz_stcollection_size(&c, long_ids)));
  stcollection(&c, bytes.data(), long_ids);
  return bytes;
}

std::string hex(const std::vector<char> &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

/* Reads bytes from a heap block of exactly their size. */
int load(const std::vector<char> &bytes, dvz_coll_t &c, int long_ids, int has_total = 1,
         int32_t less = 0) {
  const size_t skip = has_total != 0 ? 0 : 4;
  const size_t n = bytes.size() - skip - static_cast<size_t>(less);
  std::unique_ptr<char[]> block(new char[n]);
  std::memcpy(block.get(), bytes.data() + skip, n);
  return ldcollection(block.get(), &c, has_total, long_ids, DVZ_LDCOLL_FULL, nullptr,
                      static_cast<int32_t>(n));
}

/* Where the data starts in a stored form of count fields. */
size_t data_at(int long_ids, int count) {
  const size_t n = long_ids != 0 ? 128 : 18;
  return 4 + 8 + n + static_cast<size_t>(count) * (30 + 3 * n) + 12;
}

/* The flags a stored form carries through a read: the record's own. */
constexpr uint32_t carried = ~(DVZ_COLL_OWNS_DATA | DVZ_COLL_OWNS_TYPEINFO | DVZ_COLL_HASHED);

void expect_same_typeinfo(const dvz_coll_typeinfo_t *a, const dvz_coll_typeinfo_t *b,
                          int long_ids) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const size_t n = long_ids != 0 ? 128 : 18;
  EXPECT_EQ(a->ti_xid, b->ti_xid);
  EXPECT_EQ(a->ti_hdrval, b->ti_hdrval);
  EXPECT_EQ(std::memcmp(a->ti_name, b->ti_name, n), 0);
  ASSERT_EQ(a->ti_count, b->ti_count);
  for (int i = 0; i < a->ti_count; ++i) {
    const dvz_coll_field_t &x = a->ti_fields[i];
    const dvz_coll_field_t &y = b->ti_fields[i];
    EXPECT_EQ(x.seqno, y.seqno) << i;
    EXPECT_EQ(x.level_no, y.level_no) << i;
    EXPECT_EQ(x.parent_no, y.parent_no) << i;
    EXPECT_EQ(x.fieldnmlen, y.fieldnmlen) << i;
    EXPECT_EQ(std::memcmp(x.fieldname, y.fieldname, n), 0) << i;
    EXPECT_EQ(x.field_no, y.field_no) << i;
    EXPECT_EQ(x.type, y.type) << i;
    EXPECT_EQ(x.length, y.length) << i;
    EXPECT_EQ(x.xid, y.xid) << i;
    EXPECT_EQ(x.flags, y.flags) << i;
    EXPECT_EQ(x.xtype_nm_len, y.xtype_nm_len) << i;
    EXPECT_EQ(std::memcmp(x.xtype_name, y.xtype_name, n), 0) << i;
    EXPECT_EQ(x.xtype_owner_len, y.xtype_owner_len) << i;
    EXPECT_EQ(std::memcmp(x.xtype_owner_name, y.xtype_owner_name, n), 0) << i;
    EXPECT_EQ(x.align, y.align) << i;
    EXPECT_EQ(x.srctype, y.srctype) << i;
  }
}

class CollStored : public ::testing::Test {
 protected:
  void SetUp() override {
    gen_setansidb(0);
    ASSERT_NE(CheckGenInit(), nullptr);
  }
};

std::vector<char> list_form(typeinfo_ptr &ti);

/* ---- Golden stored forms --------------------------------------------------------------- */

TEST_F(CollStored, WritesTheOracleBytesForBothNameWidthsAndNull) {
  const auto table = oracle_goldens(DVZ_COLL_CASES);
  ASSERT_EQ(table.size(), 3u) << "missing " << DVZ_COLL_CASES;
  typeinfo_ptr ti = oracle_set_typeinfo();
  std::string data = element(int_value(sql_type_integer, 1), 0x102, 4) +
                     element(int_value(sql_type_integer, 2), 0x102, 4);
  record set;
  ASSERT_EQ(dvz_coll_init(&set.c, ti.get(), 1, data.data(), 8), 0);
  set.c.cl_handle = 0xCAFEBABE;
  set.c.cl_flags = 0x40;
  for (auto [name, long_ids] : {std::pair<const char *, int>("set2int_long", 1),
                                std::pair<const char *, int>("set2int_short", 0)}) {
    const auto &[total, bytes] = table.at(name);
    const std::vector<char> written = stored(set.c, long_ids);
    EXPECT_EQ(static_cast<int>(written.size()) - 4, total) << name;
    EXPECT_EQ(dvz_ld_be_u32(written.data()), static_cast<uint32_t>(total)) << name;
    EXPECT_EQ(hex(written), bytes) << name;
  }
  /* A NULL record with a length of its own writes no data: the total is
  ** the header, one zero field record and the trailer. */
  record null;
  ASSERT_EQ(dvz_coll_init(&null.c, ti.get(), 1, nullptr, 0), 0);
  null.c.cl_flags = DVZ_COLL_NULL;
  null.c.cl_len = 40;
  null.c.cl_handle = 0x11223344;
  const auto &[total, bytes] = table.at("nullset_long");
  EXPECT_EQ(total, 562);
  const std::vector<char> written = stored(null.c, 1);
  EXPECT_EQ(hex(written), bytes);
  /* It reads back NULL from exactly its bytes, with nothing to copy. */
  record back;
  ASSERT_EQ(load(written, back.c, 1), 0);
  EXPECT_NE(back.c.cl_flags & DVZ_COLL_NULL, 0u);
  EXPECT_EQ(back.c.cl_len, 0);
  EXPECT_EQ(back.c.cl_data, nullptr);
  EXPECT_EQ(back.c.cl_handle, 0x11223344u);
}

/* ---- Round trips ----------------------------------------------------------------------- */

/* A SET of INTEGER (fixed size), a LIST of VARCHAR (offset table), a ROW
** of INTEGER and CHAR(10), and a SET of SET of INTEGER (nested inline
** references), each written and read back under both name widths. */
TEST_F(CollStored, ReadsBackWhatItWrote) {
  typeinfo_ptr set_ti = oracle_set_typeinfo();
  typeinfo_ptr list_ti =
      typeinfo_of_fields({field(0, sql_type_list, 0, "l"), field(1, sql_type_varchar, 10)});
  typeinfo_ptr row_ti = typeinfo_of_fields(
      {field(0, sql_type_row, 0), field(1, 2, 4, "a"), field(1, sql_type_char, 10, "b")});
  typeinfo_ptr nested_ti =
      typeinfo_of_fields({field(0, sql_type_set, 0), field(1, sql_type_set, 0), field(2, 2, 4)});

  record set;
  ASSERT_EQ(dvz_coll_init(&set.c, set_ti.get(), 1, nullptr, 0), 0);
  for (int n : {7, -3, 12})
    insert(set.c, element(int_value(2, n), 2, 4));
  record list;
  ASSERT_EQ(dvz_coll_init(&list.c, list_ti.get(), 1, nullptr, 0), 0);
  for (const char *text : {"ab", "", "defghij"})
    insert(list.c, element(text_value(sql_type_char, text), sql_type_varchar, 10));
  record row;
  ASSERT_EQ(dvz_coll_init(&row.c, row_ti.get(), 1, nullptr, 0), 0);
  insert(row.c, element(int_value(2, 42), 2, 4));
  insert(row.c, element(text_value(sql_type_char, "row text"), sql_type_char, 10));
  record outer;
  ASSERT_EQ(dvz_coll_init(&outer.c, nested_ti.get(), 1, nullptr, 0), 0);
  for (int k = 0; k < 3; ++k) {
    record inner;
    dvz_coll_typeinfo_t *inner_ti = nullptr;
    ASSERT_EQ(dvz_coll_elem_typeinfo(&outer.c, &inner_ti, 0), 0);
    ASSERT_EQ(dvz_coll_init(&inner.c, inner_ti, 0, nullptr, 0), 0);
    inner.c.cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
    for (int n = 0; n <= k; ++n)
      insert(inner.c, element(int_value(2, 10 * k + n), 2, 4));
    ASSERT_EQ(dvz_coll_tuple(&inner.c), 0);
    char area[DVZ_COLL_NESTED_AREA + 8];
    ASSERT_EQ(dvz_coll_set_nested_coll(&inner.c, area), 0);
    insert(outer.c, std::string(area, sizeof area));
  }

  for (dvz_coll_t *c : {&set.c, &list.c, &row.c, &outer.c}) {
    ASSERT_EQ(dvz_coll_tuple(c), 0);
    ASSERT_EQ(dvz_coll_hash(c), 0);
    c->cl_handle = 0x0BADF00D;
    c->cl_flags |= DVZ_COLL_NEXTONLY;
    for (int long_ids : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "kind " << (c->cl_typeinfo->ti_fields[0].type & 0xFF)
                                      << " long " << long_ids);
      const std::vector<char> bytes = stored(*c, long_ids);
      record back;
      ASSERT_EQ(load(bytes, back.c, long_ids), 0);
      expect_same_typeinfo(back.c.cl_svr_typeinfo, c->cl_typeinfo, long_ids);
      EXPECT_EQ(back.c.cl_typed, 0);
      EXPECT_EQ(back.c.cl_flags & carried, c->cl_flags & carried);
      EXPECT_NE(back.c.cl_flags & DVZ_COLL_OWNS_DATA, 0u);
      EXPECT_NE(back.c.cl_flags & DVZ_COLL_OWNS_TYPEINFO, 0u);
      EXPECT_EQ(back.c.cl_handle, 0x0BADF00Du);
      EXPECT_EQ(back.c.cl_cardinality, c->cl_cardinality);
      ASSERT_EQ(back.c.cl_len, c->cl_len);
      EXPECT_EQ(std::memcmp(back.c.cl_data, c->cl_data, static_cast<size_t>(c->cl_len)), 0);
      /* The hash is not stored: it is recomputed, to the same value. */
      EXPECT_EQ(dvz_coll_hash(&back.c), 0);
      EXPECT_EQ(back.c.cl_hashvalue, c->cl_hashvalue);
      /* And the form without its total (the server's rows) reads the same. */
      record bare;
      ASSERT_EQ(load(bytes, bare.c, long_ids, 0), 0);
      EXPECT_EQ(bare.c.cl_len, c->cl_len);
    }
  }
}

/* A descriptor that arrives as a UDT known by its id reads as the
** built-in type, keeping the NOT NULL bit; a flag word with bit 31 reads
** as a NULL value. */
TEST_F(CollStored, ReadsBuiltInUdtsAndTheNullFlagWord) {
  for (auto [xid, expect] :
       {std::pair<int, int>(5, sql_type_boolean), std::pair<int, int>(1, sql_type_lvarchar),
        std::pair<int, int>(7, sql_type_variable_udt)}) {
    dvz_coll_field_t elem = field(1, 0x100 | sql_type_variable_udt, 10);
    elem.xid = xid;
    typeinfo_ptr ti = typeinfo_of_fields({field(0, sql_type_set, 0), elem});
    record c;
    ASSERT_EQ(dvz_coll_init(&c.c, ti.get(), 1, nullptr, 0), 0);
    record back;
    ASSERT_EQ(load(stored(c.c, 1), back.c, 1), 0);
    const dvz_coll_field_t &read = back.c.cl_svr_typeinfo->ti_fields[1];
    EXPECT_EQ(read.type, 0x100 | expect) << xid;
    EXPECT_EQ(read.xid, expect == sql_type_variable_udt ? xid : 0) << xid;
  }
  typeinfo_ptr ti = oracle_set_typeinfo();
  record c;
  ASSERT_EQ(dvz_coll_init(&c.c, ti.get(), 1, nullptr, 0), 0);
  c.c.cl_flags = 0x40;
  std::vector<char> bytes = stored(c.c, 0);
  dvz_st_be_u32(0x80000040u, bytes.data() + data_at(0, 2) - 4);
  record back;
  ASSERT_EQ(load(bytes, back.c, 0), 0);
  EXPECT_EQ(back.c.cl_flags & (DVZ_COLL_STORED_NULL | DVZ_COLL_NULL | 0x40), DVZ_COLL_NULL | 0x40);
}

/* A record read into keeps its client type info: one it owned as it is,
** a caller's as a copy of its own, so that freeing the record never frees
** the caller's (AddressSanitizer reports a double free, LeakSanitizer a
** leak); also when the read fails on the data. */
TEST_F(CollStored, KeepsTheClientTypeInfoOfTheRecordReadInto) {
  typeinfo_ptr ti = oracle_set_typeinfo();
  record source;
  std::string data = element(int_value(2, 1), 2, 4);
  ASSERT_EQ(dvz_coll_init(&source.c, ti.get(), 1, data.data(), 4), 0);
  const std::vector<char> good = stored(source.c, 1);
  std::vector<char> empty_form = good;
  dvz_st_be_u32(0, empty_form.data() + data_at(1, 2) - 8); /* no data */
  const std::vector<char> &empty = empty_form;
  for (bool owned : {false, true}) {
    for (const std::vector<char> *form : {&good, &empty}) {
      typeinfo_ptr client = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 2, 4)});
      record c;
      ASSERT_EQ(dvz_coll_init(&c.c, client.get(), 1, nullptr, 0), 0);
      dvz_coll_typeinfo_t *given = client.get();
      if (owned) {
        c.c.cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
        client.release();
      }
      ASSERT_EQ(load(*form, c.c, 1), 0);
      EXPECT_EQ(c.c.cl_typed, 1);
      ASSERT_NE(c.c.cl_typeinfo, nullptr);
      EXPECT_EQ(c.c.cl_typeinfo == given, owned);
      EXPECT_EQ(c.c.cl_typeinfo->ti_count, 2);
      EXPECT_NE(c.c.cl_svr_typeinfo, c.c.cl_typeinfo);
    }
  }
  /* Data that fails its checks leaves only the client type info. */
  typeinfo_ptr list_ti;
  std::vector<char> list = list_form(list_ti);
  dvz_st_be_u32(100, list.data() + data_at(0, 2) + 26);
  typeinfo_ptr client = typeinfo_of_fields({field(0, sql_type_list, 0), field(1, 13, 10)});
  record c;
  ASSERT_EQ(dvz_coll_init(&c.c, client.get(), 1, nullptr, 0), 0);
  EXPECT_EQ(load(list, c.c, 0), -9986);
  EXPECT_EQ(c.c.cl_data, nullptr);
  EXPECT_EQ(c.c.cl_svr_typeinfo, nullptr);
  EXPECT_NE(c.c.cl_typeinfo, nullptr);
  EXPECT_NE(c.c.cl_typeinfo, client.get());
}

/* A record with changes not yet folded in holds fewer data bytes than its
** length: the writer writes the data it holds, never past the buffer. */
TEST_F(CollStored, WritesOnlyTheDataItHolds) {
  typeinfo_ptr ti = typeinfo_of_fields({field(0, sql_type_list, 0), field(1, 2, 4)});
  std::unique_ptr<char[]> data(new char[8]);
  dvz_st_be_u32(1, data.get());
  dvz_st_be_u32(2, data.get() + 4);
  record c;
  ASSERT_EQ(dvz_coll_init(&c.c, ti.get(), 1, data.get(), 8), 0);
  insert(c.c, element(int_value(2, 3), 2, 4));
  ASSERT_EQ(c.c.cl_len, 12);
  const std::vector<char> bytes = stored(c.c, 0);
  EXPECT_EQ(dvz_ld_be_u32(bytes.data() + data_at(0, 2) - 8), 8u);
  EXPECT_EQ(bytes.size(), data_at(0, 2) + 8);
}

/* ---- Malformed stored forms ---------------------------------------------------------------- */

/* A stored LIST of two VARCHAR(10), names 18 bytes: data of 22 bytes,
** the -1 word, the offsets 11 and 0. */
std::vector<char> list_form(typeinfo_ptr &ti) {
  ti = typeinfo_of_fields({field(0, sql_type_list, 0), field(1, sql_type_varchar, 10)});
  record c;
  EXPECT_EQ(dvz_coll_init(&c.c, ti.get(), 1, nullptr, 0), 0);
  insert(c.c, element(text_value(0, "ab"), sql_type_varchar, 10));
  insert(c.c, element(text_value(0, "cd"), sql_type_varchar, 10));
  EXPECT_EQ(dvz_coll_tuple(&c.c), 0);
  EXPECT_EQ(c.c.cl_datalen, 34);
  return stored(c.c, 0);
}

/* A stored SET of one SET of INTEGER, names 18 bytes: one inline nested
** reference at data offset 0 (its pad 8, as the data is 8-aligned). */
std::vector<char> nested_form(typeinfo_ptr &ti) {
  ti = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, sql_type_set, 0), field(2, 2, 4)});
  record outer;
  EXPECT_EQ(dvz_coll_init(&outer.c, ti.get(), 1, nullptr, 0), 0);
  record inner;
  dvz_coll_typeinfo_t *inner_ti = nullptr;
  EXPECT_EQ(dvz_coll_elem_typeinfo(&outer.c, &inner_ti, 0), 0);
  EXPECT_EQ(dvz_coll_init(&inner.c, inner_ti, 0, nullptr, 0), 0);
  inner.c.cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
  insert(inner.c, element(int_value(2, 5), 2, 4));
  EXPECT_EQ(dvz_coll_tuple(&inner.c), 0);
  char area[DVZ_COLL_NESTED_AREA + 8];
  EXPECT_EQ(dvz_coll_set_nested_coll(&inner.c, area), 0);
  insert(outer.c, std::string(area, sizeof area));
  EXPECT_EQ(dvz_coll_tuple(&outer.c), 0);
  return stored(outer.c, 0);
}

/* A stored SET of SET of SET of INTEGER, names 18 bytes: the middle
** level's data is inline at data offset 16, its own reference's form word
** at offset 24. */
std::vector<char> deep_form(typeinfo_ptr &ti) {
  ti = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, sql_type_set, 0),
                           field(2, sql_type_set, 0), field(3, 2, 4)});
  record outer;
  EXPECT_EQ(dvz_coll_init(&outer.c, ti.get(), 1, nullptr, 0), 0);
  record middle;
  dvz_coll_typeinfo_t *middle_ti = nullptr;
  EXPECT_EQ(dvz_coll_elem_typeinfo(&outer.c, &middle_ti, 0), 0);
  EXPECT_EQ(dvz_coll_init(&middle.c, middle_ti, 0, nullptr, 0), 0);
  middle.c.cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
  record inner;
  dvz_coll_typeinfo_t *inner_ti = nullptr;
  EXPECT_EQ(dvz_coll_elem_typeinfo(&middle.c, &inner_ti, 0), 0);
  EXPECT_EQ(dvz_coll_init(&inner.c, inner_ti, 0, nullptr, 0), 0);
  inner.c.cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
  insert(inner.c, element(int_value(2, 5), 2, 4));
  EXPECT_EQ(dvz_coll_tuple(&inner.c), 0);
  char area[DVZ_COLL_NESTED_AREA + 8];
  EXPECT_EQ(dvz_coll_set_nested_coll(&inner.c, area), 0);
  insert(middle.c, std::string(area, sizeof area));
  EXPECT_EQ(dvz_coll_tuple(&middle.c), 0);
  EXPECT_EQ(dvz_coll_set_nested_coll(&middle.c, area), 0);
  insert(outer.c, std::string(area, sizeof area));
  EXPECT_EQ(dvz_coll_tuple(&outer.c), 0);
  return stored(outer.c, 0);
}

TEST_F(CollStored, RefusesMalformedFormsWithoutReadingPastThem) {
  typeinfo_ptr list_ti;
  typeinfo_ptr nested_ti;
  const std::vector<char> list = list_form(list_ti);
  const std::vector<char> nested = nested_form(nested_ti);
  typeinfo_ptr deep_ti;
  const std::vector<char> deep = deep_form(deep_ti);
  const size_t deep_data = data_at(0, 4);
  const size_t list_data = data_at(0, 2);
  const size_t nested_data = data_at(0, 3);
  const size_t count_at = 4 + 4 + 2 + 18;
  struct patch {
    const char *what;
    const std::vector<char> *form;
    size_t at; /* where a BE32 (or, with half, a BE16) goes */
    uint32_t value;
    bool half;
    int32_t less; /* bytes cut off the end */
    int error;
  };
  const std::vector<patch> cases = {
      {"negative field count", &list, count_at, 0xFFFF, true, 0, -1815},
      {"field count past the end", &list, count_at, 0x7FFF, true, 0, -1815},
      {"bytes fewer than the total", &list, 0, 0, false, 1, -1815},
      {"total past the bytes", &list, 0, static_cast<uint32_t>(list.size()), false, 0, -1815},
      {"data length past the end", &list, list_data - 8, 35, false, 0, -1815},
      {"negative data length", &list, list_data - 8, 0xFFFFFFFF, false, 0, -1815},
      {"decreasing offset", &list, list_data + 30, 20, false, 0, -9986},
      {"offset past the table", &list, list_data + 26, 100, false, 0, -9986},
      {"missing -1 word", &list, list_data + 22, 11, false, 0, -9986},
      {"nested pointer form", &nested, nested_data + 8, DVZ_NREF_POINTER, false, 0, -9875},
      {"nested record form", &nested, nested_data + 8, DVZ_NREF_RECORD, false, 0, -9875},
      {"nested pointer form with bit 16", &nested, nested_data + 8, 24, false, 0, -9875},
      {"L below pad + 6", &nested, nested_data, 13, true, 0, -9875},
      {"negative L", &nested, nested_data, 0x8001, true, 0, -9875},
      {"pointer form one level down", &deep, deep_data + 24, DVZ_NREF_POINTER, false, 0, -9875},
      {"damaged offsets one level down", &deep, deep_data + 16 + 24, 0x7FFFFFFF, false, 0, -9986},
  };
  for (const patch &p : cases) {
    std::vector<char> bytes = *p.form;
    if (p.half)
      dvz_st_be_u16(static_cast<uint16_t>(p.value), bytes.data() + p.at);
    else if (p.less == 0)
      dvz_st_be_u32(p.value, bytes.data() + p.at);
    record c;
    EXPECT_EQ(load(bytes, c.c, 0, 1, p.less), p.error) << p.what;
    EXPECT_EQ(c.c.cl_data, nullptr) << p.what;
    EXPECT_EQ(c.c.cl_svr_typeinfo, nullptr) << p.what;
  }
  /* A row whose data indexes fewer elements than it has fields. */
  typeinfo_ptr row_ti =
      typeinfo_of_fields({field(0, sql_type_row, 0), field(1, 2, 4, "a"), field(1, 2, 4, "b")});
  char short_row[12];
  dvz_st_be_u32(42, short_row);
  dvz_st_be_u32(0xFFFFFFFF, short_row + 4);
  dvz_st_be_u32(0, short_row + 8);
  record row;
  ASSERT_EQ(dvz_coll_init(&row.c, row_ti.get(), 1, short_row, sizeof short_row), 0);
  record refused;
  EXPECT_EQ(load(stored(row.c, 1), refused.c, 1), -9986);
  /* The unpatched forms read. */
  record a;
  EXPECT_EQ(load(list, a.c, 0), 0);
  EXPECT_EQ(a.c.cl_cardinality, 2);
  record b;
  EXPECT_EQ(load(nested, b.c, 0), 0);
  EXPECT_EQ(b.c.cl_cardinality, 1);
  record d;
  EXPECT_EQ(load(deep, d.c, 0), 0);
  EXPECT_EQ(d.c.cl_cardinality, 1);
}

/* The short form: the caller's type info, no handle; bit 0 of the first
** word refuses it, and its data length is bounded too. */
TEST_F(CollStored, ReadsTheShortForm) {
  std::vector<char> bytes(4 + 4 + 4 + 8);
  dvz_st_be_u32(0, bytes.data());
  dvz_st_be_u32(0x40, bytes.data() + 4);
  dvz_st_be_u32(8, bytes.data() + 8);
  dvz_st_be_u32(3, bytes.data() + 12);
  dvz_st_be_u32(4, bytes.data() + 16);
  {
    typeinfo_ptr ti = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 2, 4)});
    record c;
    ASSERT_EQ(ldcollection(bytes.data(), &c.c, 0, 0, DVZ_LDCOLL_SHORT, ti.release(),
                           static_cast<int32_t>(bytes.size())),
              0);
    EXPECT_EQ(c.c.cl_cardinality, 2);
    EXPECT_EQ(c.c.cl_handle, 0u);
    EXPECT_NE(c.c.cl_flags & 0x40, 0u);
  }
  typeinfo_ptr ti = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 2, 4)});
  record c;
  EXPECT_EQ(ldcollection(bytes.data(), &c.c, 0, 0, DVZ_LDCOLL_SHORT, ti.get(), 19), -1815);
  dvz_st_be_u32(1, bytes.data());
  EXPECT_EQ(ldcollection(bytes.data(), &c.c, 0, 0, DVZ_LDCOLL_SHORT, ti.get(), 20), -1815);
}

/* ---- Type text ---------------------------------------------------------------------------- */

TEST_F(CollStored, NamesTypes) {
  dvz_coll_field_t named = field(1, sql_type_variable_udt, 0, "c");
  named.xtype_nm_len = 5;
  set_name(named.xtype_name, "point");
  named.xtype_owner_len = 4;
  set_name(named.xtype_owner_name, "geom");
  struct row {
    typeinfo_ptr ti;
    int flag_a;
    int flag_b;
    const char *text;
  };
  row rows[] = {
      {typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 0x100 | 2, 4)}), 1, 1,
       "set(integer not null)"},
      {typeinfo_of_fields({field(0, sql_type_row, 0), field(1, 2, 4, "a"), field(1, 0, 10, "b")}),
       1, 1, "row(a integer, b char(10))"},
      {typeinfo_of_fields(
           {field(0, sql_type_row, 0), field(1, 2, 4, "(expression)"), field(1, 0, 10, "b")}),
       1, 1, "row(integer, b char(10))"},
      {typeinfo_of_fields({field(0, sql_type_list, 0), field(1, 5, 0x10FF)}), 1, 1,
       "list(decimal(16))"},
      {typeinfo_of_fields({field(0, sql_type_multiset, 0), field(1, 8, 0x0802)}), 1, 1,
       "multiset(money(8,2))"},
      {typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 10, 0x110D)}), 1, 1,
       "set(datetime year to fraction(3))"},
      {typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 14, 0x0B4A)}), 1, 1,
       "set(interval day(5) to second)"},
      {typeinfo_of_fields({field(0, sql_type_row, 0), named}), 1, 1, "row(c geom.point)"},
      {typeinfo_of_fields({field(0, sql_type_row, 0), field(1, sql_type_row, 0, "a"),
                           field(2, 2, 4, "x"), field(2, 0x100 | 13, 20, "y"),
                           field(1, 2, 4, "b")}),
       1, 1, "row(a row(x integer, y varchar(20) not null), b integer)"},
      {typeinfo_of_fields({field(0, sql_type_row, 0), field(1, 0x100 | sql_type_set, 0, "s"),
                           field(2, 0x100 | 2, 4)}),
       1, 1, "row(s set(integer not null) not null)"},
      {typeinfo_of_fields({field(0, sql_type_list, 0), field(1, sql_type_lvarchar, 2048)}), 1, 0,
       "list(lvarchar(2048))"},
      {typeinfo_of_fields({field(0, sql_type_list, 0), field(1, sql_type_lvarchar, 2048)}), 1, 1,
       "list(lvarchar)"},
  };
  for (row &r : rows) {
    char *text = nullptr;
    ASSERT_EQ(dvz_cltype2str(r.ti.get(), r.flag_a, &text, r.flag_b), 0) << r.text;
    EXPECT_STREQ(text, r.text);
    std::free(text);
  }
  /* A type without a name fails, leaving -1 in the error word; a missing
  ** type info is -1. */
  typeinfo_ptr unnamed = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 30, 4)});
  char *text = nullptr;
  EXPECT_EQ(dvz_cltypetostr(unnamed.get(), 1, &text), -1);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(get_toerrno(), -1);
  EXPECT_EQ(dvz_cltype2str(nullptr, 1, &text, 1), -1);
}

/* A ROW of n CHAR(32767) NOT NULL fields whose names, owners and type
** names fill their 128 bytes: 404 bytes of text each, so that from 45
** fields on the text outgrows the 395 bytes per descriptor it starts
** with. Its text goes to *text. */
typeinfo_ptr long_named_row(int n, std::string *text) {
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(
      std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(static_cast<size_t>(n) + 2)));
  ti->ti_count = static_cast<int16_t>(n + 1);
  ti->ti_fields[0] = field(0, sql_type_row, 0);
  const std::string piece = std::string(128, 'f') + " " + std::string(128, 'o') + "." +
                            std::string(128, 't') + "(32767) not null";
  *text = "row(";
  for (int i = 1; i <= n; ++i) {
    dvz_coll_field_t &f = ti->ti_fields[i];
    f = field(1, 0x100 | sql_type_char, 32767);
    f.fieldnmlen = f.xtype_owner_len = f.xtype_nm_len = 128;
    std::memset(f.fieldname, 'f', 128);
    std::memset(f.xtype_owner_name, 'o', 128);
    std::memset(f.xtype_name, 't', 128);
    *text += (i > 1 ? ", " : "") + piece;
  }
  *text += ")";
  return typeinfo_ptr(ti);
}

/* Descriptors whose names fill their fields make a text longer than the
** first buffer, which then grows. */
TEST_F(CollStored, NamesARowLongerThanItsFirstBuffer) {
  std::string expect;
  typeinfo_ptr ti = long_named_row(100, &expect);
  ASSERT_GT(expect.size(), 101 * 395u);
  char *text = nullptr;
  ASSERT_EQ(dvz_cltype2str(ti.get(), 1, &text, 1), 0);
  EXPECT_EQ(std::string(text), expect);
  std::free(text);
}

/* ---- Types nested deep ------------------------------------------------------------------ */

/* A ROW nested levels deep (descriptor 0 and levels - 1 fields "r", each
** a ROW) around an INTEGER field "x", and its text. */
typeinfo_ptr nested_rows(int levels) {
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(
      std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(static_cast<size_t>(levels) + 2)));
  ti->ti_count = static_cast<int16_t>(levels + 1);
  for (int i = 0; i < levels; ++i)
    ti->ti_fields[i] = field(i, sql_type_row, 0, i == 0 ? "" : "r");
  ti->ti_fields[levels] = field(levels, sql_type_integer, 4, "x");
  return typeinfo_ptr(ti);
}

std::string nested_rows_text(int levels) {
  std::string text = "row(";
  for (int i = 1; i < levels; ++i)
    text += "r row(";
  return text + "x integer" + std::string(static_cast<size_t>(levels), ')');
}

/* Runs body on a thread whose stack has 256 KB: a walk that recursed once
** per level of a type 10,000 deep would overflow it. */
void on_small_stack(void (*body)(void *), void *arg) {
  struct call {
    void (*body)(void *);
    void *arg;
  } c {body, arg};
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void *p) -> void * {
                  auto *c = static_cast<call *>(p);
                  c->body(c->arg);
                  return nullptr;
                },
                &c),
            0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
}

/* Types nested up to 64 levels are read and named; deeper ones are
** malformed: ldcollection refuses them with -1815 (the record as it was)
** and the type text with -1 (error word -1), without recursing per level. */
TEST_F(CollStored, RefusesTypesNestedTooDeepWithoutRecursing) {
  struct outcome {
    typeinfo_ptr ti;
    std::vector<char> form;
    int text_status = 1;
    int text_error = 1;
    std::string text;
    int read_status = 1;
    dvz_coll_t read {};
  };
  const struct {
    int levels;
    bool refused;
  } cases[] = {{2, false}, {64, false}, {65, true}, {10000, true}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.levels);
    outcome o;
    o.ti = nested_rows(k.levels);
    {
      record source;
      ASSERT_EQ(dvz_coll_init(&source.c, o.ti.get(), 1, nullptr, 0), 0);
      o.form = stored(source.c, 0);
    }
    on_small_stack(
        [](void *p) {
          auto &o = *static_cast<outcome *>(p);
          char *text = nullptr;
          o.text_status = dvz_cltype2str(o.ti.get(), 1, &text, 1);
          o.text_error = get_toerrno();
          if (text != nullptr) o.text = text;
          std::free(text);
          o.read_status = ldcollection(o.form.data(), &o.read, 1, 0, DVZ_LDCOLL_FULL, nullptr,
                                       static_cast<int32_t>(o.form.size()));
        },
        &o);
    if (k.refused) {
      EXPECT_EQ(o.text_status, -1);
      EXPECT_EQ(o.text_error, -1);
      EXPECT_EQ(o.text, "");
      EXPECT_EQ(o.read_status, -1815);
      const dvz_coll_t untouched {};
      EXPECT_EQ(std::memcmp(&o.read, &untouched, sizeof untouched), 0);
    } else {
      EXPECT_EQ(o.text_status, 0);
      EXPECT_EQ(o.text, nested_rows_text(k.levels));
      ASSERT_EQ(o.read_status, 0);
      expect_same_typeinfo(o.read.cl_svr_typeinfo, o.ti.get(), 0);
      EXPECT_EQ(dvz_coll_free(&o.read), 0);
    }
  }
}

/* ---- Without memory ---------------------------------------------------------------------- */

/* Makes the fail_at-th allocation of the stored forms' memory after its
** install fail; the others come from the C library. */
class failing_allocator {
 public:
  explicit failing_allocator(int fail_at) : saved_(dvz_genlib::coll_allocator) {
    left_ = fail_at;
    dvz_genlib::coll_allocator = &table_;
  }
  ~failing_allocator() { dvz_genlib::coll_allocator = saved_; }
  failing_allocator(const failing_allocator &) = delete;
  failing_allocator &operator=(const failing_allocator &) = delete;

 private:
  static void *zeroed(size_t size) { return --left_ == 0 ? nullptr : std::calloc(1, size); }
  static void *resize(void *block, size_t size) {
    return --left_ == 0 ? nullptr : std::realloc(block, size);
  }
  static inline int left_ = 0;
  static constexpr dvz_genlib::coll_allocator_seam table_ {zeroed, resize};
  const dvz_genlib::coll_allocator_seam *saved_;
};

/* Every allocation of a read in turn fails: -406, and the record read into
** is left exactly as it was (its data and type infos neither freed nor
** replaced; LeakSanitizer sees what the failed read made). The read that
** follows succeeds. */
TEST_F(CollStored, ReadsNothingWithoutMemoryAndLeavesTheRecordAsItWas) {
  typeinfo_ptr ti = oracle_set_typeinfo();
  record source;
  ASSERT_EQ(dvz_coll_init(&source.c, ti.get(), 1, nullptr, 0), 0);
  for (int n : {7, -3, 12})
    insert(source.c, element(int_value(2, n), 2, 4));
  ASSERT_EQ(dvz_coll_tuple(&source.c), 0);
  const std::vector<char> form = stored(source.c, 1);

  /* The type info, then the caller's type info's copy, then the data. */
  for (bool callers_typeinfo : {false, true}) {
    SCOPED_TRACE(callers_typeinfo ? "a caller's type info" : "a record of its own");
    typeinfo_ptr list_ti;
    const std::vector<char> list = list_form(list_ti);
    typeinfo_ptr client = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 2, 4)});
    std::string data = element(int_value(2, 1), 2, 4);
    record c;
    if (callers_typeinfo)
      ASSERT_EQ(dvz_coll_init(&c.c, client.get(), 1, data.data(), 4), 0);
    else
      ASSERT_EQ(load(list, c.c, 0), 0);
    dvz_coll_t before;
    std::memcpy(&before, &c.c, sizeof before);
    const std::string held(c.c.cl_data, static_cast<size_t>(c.c.cl_datalen));

    int failures = 0;
    for (int fail_at = 1; fail_at < 10; ++fail_at) {
      failing_allocator memory(fail_at);
      const int status = load(form, c.c, 1);
      if (status == 0) break;
      ASSERT_EQ(status, -406) << fail_at;
      EXPECT_EQ(std::memcmp(&c.c, &before, sizeof before), 0) << fail_at;
      EXPECT_EQ(std::string(c.c.cl_data, static_cast<size_t>(c.c.cl_datalen)), held) << fail_at;
      ++failures;
    }
    EXPECT_EQ(failures, callers_typeinfo ? 3 : 2);
    EXPECT_EQ(c.c.cl_cardinality, 3);
    ASSERT_EQ(c.c.cl_len, source.c.cl_len);
    EXPECT_EQ(std::memcmp(c.c.cl_data, source.c.cl_data, static_cast<size_t>(c.c.cl_len)), 0);
  }
}

/* The type text without memory for its first buffer, or for growing it,
** is -406 and hands out no text. */
TEST_F(CollStored, NamesNoTypeWithoutMemory) {
  std::string expect;
  typeinfo_ptr ti = long_named_row(100, &expect);
  for (int fail_at : {1, 2}) {
    failing_allocator memory(fail_at);
    char *text = nullptr;
    EXPECT_EQ(dvz_cltype2str(ti.get(), 1, &text, 1), -406) << fail_at;
    EXPECT_EQ(text, nullptr) << fail_at;
  }
}

/* ---- Collection columns ------------------------------------------------------------------ */

value_t collection_value(int type, dvz_coll_t &c) {
  value_t v {};
  v.vtype = static_cast<int16_t>(type);
  v.vcoll = c;
  return v;
}

TEST_F(CollStored, ColumnsRoundTripAndCheckKinds) {
  typeinfo_ptr ti = typeinfo_of_fields({field(0, sql_type_set, 0), field(1, 2, 4)});
  record set;
  ASSERT_EQ(dvz_coll_init(&set.c, ti.get(), 1, nullptr, 0), 0);
  for (int n : {3, 1, 4})
    insert(set.c, element(int_value(2, n), 2, 4));
  /* Pending changes are folded in and the hash made current before the
  ** value is written. */
  value_t v = collection_value(sql_type_set, set.c);
  std::vector<char> column(2048);
  ASSERT_EQ(rvaldata(&v, column.data(), sql_type_set, static_cast<int>(column.size())), 0);
  EXPECT_EQ(v.vcoll.cl_log, nullptr);
  EXPECT_NE(v.vcoll.cl_flags & DVZ_COLL_HASHED, 0u);
  const uint32_t hash = v.vcoll.cl_hashvalue;
  set.c = v.vcoll;
  value_t back {};
  ASSERT_EQ(rdataval(column.data(), sql_type_set, static_cast<int>(column.size()), &back), 0);
  EXPECT_EQ(back.vtype, sql_type_set);
  EXPECT_EQ(back.vind, 0);
  EXPECT_EQ(back.vcoll.cl_cardinality, 3);
  EXPECT_EQ(dvz_coll_equal(&back.vcoll, &set.c), 0);
  EXPECT_EQ(back.vcoll.cl_hashvalue, hash);
  EXPECT_EQ(dvz_coll_free(&back.vcoll), 0);
  /* The column's length word bounds the read and the write. */
  EXPECT_EQ(rdataval(column.data(), sql_type_set, 100, &back), -1815);
  EXPECT_EQ(rvaldata(&v, column.data(), sql_type_set, 100), -1273);

  /* The NULL type, and a NULL value, are stored NULL (and refused by a
  ** NOT NULL column). */
  for (value_t null : {value_test::of_type(sql_type_null), value_test::null_value(sql_type_set)}) {
    std::vector<char> out(1024);
    ASSERT_EQ(rvaldata(&null, out.data(), sql_type_set, 1024), 0);
    ASSERT_EQ(rdataval(out.data(), sql_type_set, 1024, &back), 0);
    EXPECT_EQ(back.vind, -1);
    EXPECT_EQ(dvz_coll_free(&back.vcoll), 0);
    EXPECT_EQ(rvaldata(&null, out.data(), 0x100 | sql_type_set, 1024), -1225);
  }

  /* Kinds: the plain collections take each other, a ROW column takes a
  ** COLLECTION, anything else is -9602. */
  struct kind_case {
    int value;
    int column;
    int error;
  } kinds[] = {{sql_type_list, sql_type_set, 0},       {sql_type_multiset, sql_type_collection, 0},
               {sql_type_collection, sql_type_row, 0}, {sql_type_row, sql_type_set, -9602},
               {sql_type_set, sql_type_row, -9602},    {sql_type_integer, sql_type_list, -9602}};
  for (const kind_case &k : kinds) {
    value_t kv = collection_value(k.value, set.c);
    if (k.value == sql_type_integer) kv = int_value(sql_type_integer, 1);
    std::vector<char> out(2048, 0x55);
    EXPECT_EQ(rvaldata(&kv, out.data(), k.column, 2048), k.error) << k.value << " " << k.column;
    if (k.error != 0) {
      EXPECT_EQ(out[0], 0x55);
    }
  }
}

}  // namespace
