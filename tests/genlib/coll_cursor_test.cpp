/*
** Tests of collection cursors and the change log: random operation
** sequences on LISTs, MULTISETs, SETs and ROWs checked against a
** std::vector model after every step and every rebuild; the rebuild's
** layout; cursors that block each other; NULL and next-only collections;
** nested references inside elements; the collection hash; the record copy
** and the dump. Element values are written by rvaldata, as the runtime
** builds them.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "coll_fixtures.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_decimal.h"
#include "gen_types.h"
#include "gen_value.h"
#include "value_builders.h"

namespace {

using namespace value_test;
using namespace coll_test;
using bytes = std::string;

/* A VARCHAR(40) element as the runtime writes it. */
bytes varchar_elem(const std::string &text) {
  value_t v = text_value(sql_type_varchar, text.c_str());
  char out[256] = {};
  EXPECT_EQ(rvaldata(&v, out, sql_type_varchar, 40), 0);
  return bytes(out, 1 + static_cast<unsigned char>(out[0]));
}

/* Every element through a fresh cursor; also checks the end is 100 and the
** count is the cardinality. */
std::vector<bytes> read_all(dvz_coll_t *coll) {
  dvz_coll_cursor_t c;
  EXPECT_EQ(dvz_coll_open(coll, &c), 0);
  std::vector<bytes> out;
  for (;;) {
    char *p = nullptr;
    int32_t len = 0;
    const int status = dvz_coll_next(coll, &c, &p, &len);
    if (status != 0) {
      EXPECT_EQ(status, 100);
      break;
    }
    out.emplace_back(p, static_cast<size_t>(len));
    if (out.size() > 100000) break;
  }
  EXPECT_EQ(dvz_coll_close(coll, &c), 0);
  EXPECT_EQ(static_cast<int32_t>(out.size()), coll->cl_cardinality);
  return out;
}

/* A record over caller data, freed at the end of the test. */
struct record {
  dvz_coll_t coll {};
  typeinfo_ptr ti;
  bytes data;
  record(typeinfo_ptr t, bytes d) : ti(std::move(t)), data(std::move(d)) {
    EXPECT_EQ(dvz_coll_init(&coll, ti.get(), 1, data.empty() ? nullptr : data.data(),
                            static_cast<int32_t>(data.size())),
              0);
  }
  ~record() { EXPECT_EQ(dvz_coll_free(&coll), 0); }
  record(const record &) = delete;
  record &operator=(const record &) = delete;
};

/* ---- Model-based sequences --------------------------------------------------------- */

struct model_case {
  const char *name;
  int kind;
  bool variable; /* VARCHAR elements, else INTEGER */
};

void PrintTo(const model_case &c, std::ostream *os) { *os << c.name; }

class CollModelSequences : public ::testing::TestWithParam<model_case> {};

TEST_P(CollModelSequences, AgreeWithVectorAfterEveryStepAndRebuild) {
  const model_case &mc = GetParam();
  const int elem_type = mc.variable ? sql_type_varchar : sql_type_integer;
  const int elem_len = mc.variable ? 40 : 4;
  std::mt19937 rng(12345u + static_cast<unsigned>(mc.kind) * 7u + (mc.variable ? 1u : 0u));
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const bool set = mc.kind == sql_type_set;
  int serial = 0;
  /* A value never seen before; a SET also draws from a small range, so that
  ** its inserts and updates meet present values. */
  auto unique = [&]() {
    ++serial;
    return mc.variable ? varchar_elem(std::string(static_cast<size_t>(pick(0, 9)), 'a') +
                                      std::to_string(serial))
                       : int_elem(1000 + serial);
  };
  auto fresh = [&]() { return set && pick(0, 1) == 0 ? int_elem(pick(0, 12)) : unique(); };
  std::vector<bytes> model;
  for (int i = 0; i < 5; ++i)
    model.push_back(unique());
  /* Whether a SET holds e at another index than except. */
  auto present = [&](const bytes &e, int except) {
    for (size_t i = 0; i < model.size(); ++i) {
      if (static_cast<int>(i) != except && model[i] == e) return set;
    }
    return false;
  };
  bytes initial;
  if (mc.variable) {
    initial = variable_data(model);
  } else {
    for (const bytes &e : model)
      initial += e;
  }
  record r(make_typeinfo({{0, mc.kind, 0}, {1, elem_type, elem_len}}), initial);
  dvz_coll_t *coll = &r.coll;
  int64_t table_bytes = mc.variable ? 4 * (static_cast<int64_t>(model.size()) + 1) : 0;
  const bool positions = mc.kind == sql_type_list;

  for (int step = 0; step < 400; ++step) {
    const int card = static_cast<int>(model.size());
    const int op = pick(0, 9);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    if (op <= 1) {
      /* Insert through a private cursor, at a position on a LIST. */
      const bytes e = fresh();
      const int pos = positions ? pick(0, card + 1) : 0;
      ASSERT_EQ(
          dvz_coll_insert(coll, const_cast<char *>(e.data()), static_cast<int32_t>(e.size()), pos),
          0);
      if (present(e, -1)) {
        /* A SET keeps one of each value. */
      } else if (pos == 0 || pos > card) {
        model.push_back(e);
      } else {
        model.insert(model.begin() + (pos - 1), e);
      }
    } else if (op == 2 && positions && card > 0) {
      /* Insert through an open cursor: at its element, which it keeps. */
      dvz_coll_cursor_t a;
      ASSERT_EQ(dvz_coll_open(coll, &a), 0);
      const int k = pick(1, card);
      ASSERT_EQ(dvz_coll_pos(coll, &a, k), 0);
      const bytes e = fresh();
      ASSERT_EQ(
          dvz_coll_insert(coll, const_cast<char *>(e.data()), static_cast<int32_t>(e.size()), 1),
          0);
      model.insert(model.begin() + (k - 1), e);
      EXPECT_EQ(a.cr_elemno, k);
      char *p = nullptr;
      int32_t len = 0;
      ASSERT_EQ(dvz_coll_next(coll, &a, &p, &len), 0);
      EXPECT_EQ(bytes(p, static_cast<size_t>(len)), model[static_cast<size_t>(k)]);
      ASSERT_EQ(dvz_coll_close(coll, &a), 0);
    } else if (op == 3 && card > 0) {
      dvz_coll_cursor_t a;
      ASSERT_EQ(dvz_coll_open(coll, &a), 0);
      const int k = pick(1, card);
      ASSERT_EQ(dvz_coll_pos(coll, &a, k), 0);
      const bytes e = fresh();
      ASSERT_EQ(
          dvz_coll_update(coll, &a, const_cast<char *>(e.data()), static_cast<int32_t>(e.size())),
          0);
      if (present(e, k - 1)) {
        /* Present elsewhere in a SET: the element goes instead. */
        model.erase(model.begin() + (k - 1));
        EXPECT_NE(a.cr_flags & DVZ_CURS_DELETED, 0);
      } else {
        model[static_cast<size_t>(k - 1)] = e;
      }
      ASSERT_EQ(dvz_coll_close(coll, &a), 0);
    } else if (op == 4 && card > 0) {
      /* Delete; the cursor then yields the element that followed. */
      dvz_coll_cursor_t a;
      ASSERT_EQ(dvz_coll_open(coll, &a), 0);
      const int k = pick(1, card);
      ASSERT_EQ(dvz_coll_pos(coll, &a, k), 0);
      ASSERT_EQ(dvz_coll_delete(coll, &a, 0), 0);
      model.erase(model.begin() + (k - 1));
      EXPECT_NE(a.cr_flags & DVZ_CURS_DELETED, 0);
      EXPECT_EQ(dvz_coll_delete(coll, &a, 0), -9983);
      char *p = nullptr;
      int32_t len = 0;
      const int status = dvz_coll_next(coll, &a, &p, &len);
      if (k <= static_cast<int>(model.size())) {
        ASSERT_EQ(status, 0);
        EXPECT_EQ(bytes(p, static_cast<size_t>(len)), model[static_cast<size_t>(k - 1)]);
      } else {
        EXPECT_EQ(status, 100);
      }
      ASSERT_EQ(dvz_coll_close(coll, &a), 0);
    } else if (op == 5 && card > 0) {
      /* Two cursors on one element block each other's changes. */
      dvz_coll_cursor_t a;
      dvz_coll_cursor_t b;
      ASSERT_EQ(dvz_coll_open(coll, &a), 0);
      ASSERT_EQ(dvz_coll_open(coll, &b), 0);
      const int k = pick(1, card);
      ASSERT_EQ(dvz_coll_pos(coll, &a, k), 0);
      ASSERT_EQ(dvz_coll_pos(coll, &b, k), 0);
      const bytes e = unique();
      EXPECT_EQ(dvz_coll_delete(coll, &a, 0), -9981);
      EXPECT_EQ(
          dvz_coll_update(coll, &b, const_cast<char *>(e.data()), static_cast<int32_t>(e.size())),
          -9982);
      /* b moves on; a deletes, and b (beyond) moves back with the data. */
      if (k < card) {
        char *p = nullptr;
        int32_t len = 0;
        ASSERT_EQ(dvz_coll_next(coll, &b, &p, &len), 0);
        ASSERT_EQ(dvz_coll_delete(coll, &a, 0), 0);
        model.erase(model.begin() + (k - 1));
        EXPECT_EQ(b.cr_elemno, k);
        ASSERT_EQ(dvz_coll_pos(coll, &b, k), 0);
        p = nullptr;
        ASSERT_EQ(dvz_coll_next(coll, &b, &p, &len), k < card - 1 ? 0 : 100);
      }
      ASSERT_EQ(dvz_coll_close(coll, &b), 0);
      ASSERT_EQ(dvz_coll_close(coll, &a), 0);
    } else if (op == 6 && card > 0) {
      const int k = pick(1, card);
      const bytes e = fresh();
      ASSERT_EQ(dvz_coll_update_pos(coll, k, const_cast<char *>(e.data()),
                                    static_cast<int32_t>(e.size())),
                0);
      model[static_cast<size_t>(k - 1)] = e;
    } else if (op == 7 && card > 0) {
      /* Positioning anywhere, then reading on with next. */
      dvz_coll_cursor_t a;
      ASSERT_EQ(dvz_coll_open(coll, &a), 0);
      const int k = pick(1, card);
      ASSERT_EQ(dvz_coll_pos(coll, &a, k), 0);
      for (int i = k + 1; i <= card + 1; ++i) {
        char *p = nullptr;
        int32_t len = 0;
        const int status = dvz_coll_next(coll, &a, &p, &len);
        if (i > card) {
          EXPECT_EQ(status, 100);
        } else {
          ASSERT_EQ(status, 0);
          EXPECT_EQ(bytes(p, static_cast<size_t>(len)), model[static_cast<size_t>(i - 1)]);
        }
      }
      ASSERT_EQ(dvz_coll_close(coll, &a), 0);
    } else if (op == 8) {
      ASSERT_EQ(dvz_coll_tuple(coll), 0);
      EXPECT_EQ(coll->cl_log, nullptr);
      EXPECT_EQ(coll->cl_datalen, coll->cl_len);
      table_bytes =
          mc.variable && !model.empty() ? 4 * (static_cast<int64_t>(model.size()) + 1) : 0;
    } else if (op == 9 && pick(0, 9) == 0) {
      ASSERT_EQ(dvz_coll_delete(coll, nullptr, DVZ_COLL_DELETE_ALL), 0);
      model.clear();
      table_bytes = 0;
    }
    ASSERT_EQ(read_all(coll), model);
    int64_t expected_len = table_bytes;
    for (const bytes &e : model)
      expected_len += static_cast<int64_t>(e.size());
    ASSERT_EQ(coll->cl_len, expected_len);
  }
  ASSERT_EQ(dvz_coll_tuple(coll), 0);
  EXPECT_EQ(read_all(coll), model);
}

INSTANTIATE_TEST_SUITE_P(Collections, CollModelSequences,
                         ::testing::Values(model_case {"ListFixed", sql_type_list, false},
                                           model_case {"ListVariable", sql_type_list, true},
                                           model_case {"MultisetFixed", sql_type_multiset, false},
                                           model_case {"MultisetVariable", sql_type_multiset, true},
                                           model_case {"SetFixed", sql_type_set, false}),
                         [](const auto &info) { return std::string(info.param.name); });

/* A ROW is filled field by field and updated in place of its fields. */
TEST(CollRowSequences, FillUpdateAndRebuildKeepFieldOrder) {
  record r(make_typeinfo({{0, sql_type_row, 0},
                          {1, sql_type_integer, 4},
                          {1, sql_type_varchar, 40},
                          {1, sql_type_integer, 4}}),
           bytes());
  dvz_coll_t *coll = &r.coll;
  std::vector<bytes> model = {int_elem(7), varchar_elem("seven"), int_elem(77)};
  for (const bytes &e : model) {
    ASSERT_EQ(
        dvz_coll_insert(coll, const_cast<char *>(e.data()), static_cast<int32_t>(e.size()), 0), 0);
  }
  EXPECT_EQ(read_all(coll), model);
  ASSERT_EQ(dvz_coll_tuple(coll), 0);
  EXPECT_EQ(read_all(coll), model);
  const bytes text = varchar_elem("a longer text");
  ASSERT_EQ(dvz_coll_update_pos(coll, 2, const_cast<char *>(text.data()),
                                static_cast<int32_t>(text.size())),
            0);
  model[1] = text;
  EXPECT_EQ(read_all(coll), model);
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(coll, &a), 0);
  ASSERT_EQ(dvz_coll_pos(coll, &a, 1), 0);
  EXPECT_EQ(dvz_coll_delete(coll, &a, 0), -9974);
  ASSERT_EQ(dvz_coll_close(coll, &a), 0);
  ASSERT_EQ(dvz_coll_tuple(coll), 0);
  EXPECT_EQ(read_all(coll), model);
  EXPECT_EQ(coll->cl_datalen, 4 + static_cast<int32_t>(text.size()) + 4 + 16);
  /* Random updates of its fields, by cursor and by position, and rebuilds. */
  std::mt19937 rng(99);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int step = 0; step < 200; ++step) {
    SCOPED_TRACE(step);
    const int k = pick(1, 3);
    const bytes e = k == 2 ? varchar_elem(std::string(static_cast<size_t>(pick(0, 30)), 'r'))
                           : int_elem(pick(-1000, 1000));
    const int op = pick(0, 2);
    if (op == 0) {
      ASSERT_EQ(dvz_coll_update_pos(coll, k, const_cast<char *>(e.data()),
                                    static_cast<int32_t>(e.size())),
                0);
    } else if (op == 1) {
      ASSERT_EQ(dvz_coll_open(coll, &a), 0);
      ASSERT_EQ(dvz_coll_pos(coll, &a, k), 0);
      ASSERT_EQ(
          dvz_coll_update(coll, &a, const_cast<char *>(e.data()), static_cast<int32_t>(e.size())),
          0);
      ASSERT_EQ(dvz_coll_close(coll, &a), 0);
    } else {
      ASSERT_EQ(dvz_coll_tuple(coll), 0);
      continue;
    }
    model[static_cast<size_t>(k - 1)] = e;
    ASSERT_EQ(read_all(coll), model);
  }
}

/* ---- Edge cases ------------------------------------------------------------------- */

TEST(CollChangeLog, InsertAtTwoLeavesDataUntilRebuild) {
  const bytes initial = int_elem(10) + int_elem(20) + int_elem(30);
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}), initial);
  const bytes e = int_elem(15);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(e.data()), 4, 2), 0);
  EXPECT_EQ(r.coll.cl_len, 16);
  EXPECT_EQ(r.coll.cl_cardinality, 4);
  EXPECT_EQ(read_all(&r.coll),
            (std::vector<bytes> {int_elem(10), int_elem(15), int_elem(20), int_elem(30)}));
  EXPECT_EQ(bytes(r.coll.cl_data, 12), initial);
  ASSERT_EQ(dvz_coll_tuple(&r.coll), 0);
  EXPECT_EQ(bytes(r.coll.cl_data, 16), int_elem(10) + int_elem(15) + int_elem(20) + int_elem(30));
  EXPECT_NE(r.coll.cl_flags & DVZ_COLL_OWNS_DATA, 0u);
}

/* An append through the first open cursor leaves it on the new last
** element, ready to change it. */
TEST(CollChangeLog, AppendMovesTheOpenCursorToTheLastElement) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}),
           int_elem(1) + int_elem(2));
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
  ASSERT_EQ(dvz_coll_pos(&r.coll, &a, 1), 0);
  const bytes three = int_elem(3);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(three.data()), 4, 0), 0);
  EXPECT_EQ(a.cr_elemno, 3);
  const bytes four = int_elem(4);
  ASSERT_EQ(dvz_coll_update(&r.coll, &a, const_cast<char *>(four.data()), 4), 0);
  char *p = nullptr;
  int32_t len = 0;
  EXPECT_EQ(dvz_coll_next(&r.coll, &a, &p, &len), 100);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(three.data()), 4, 0), 0);
  ASSERT_EQ(dvz_coll_delete(&r.coll, &a, 0), 0);
  ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
  EXPECT_EQ(read_all(&r.coll), (std::vector<bytes> {int_elem(1), int_elem(2), int_elem(4)}));
}

TEST(CollChangeLog, RebuildOfTwoAppendedElementsHasTheirOffsets) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_varchar, 40}}), bytes());
  const bytes three = varchar_elem("ab");
  const bytes five = varchar_elem("abcd");
  ASSERT_EQ(three.size(), 3u);
  ASSERT_EQ(five.size(), 5u);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(three.data()), 3, 0), 0);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(five.data()), 5, 0), 0);
  ASSERT_EQ(dvz_coll_tuple(&r.coll), 0);
  ASSERT_EQ(r.coll.cl_datalen, 3 + 5 + 12);
  const bytes expected = three + five + bytes("\xff\xff\xff\xff\0\0\0\x03\0\0\0\0", 12);
  EXPECT_EQ(bytes(r.coll.cl_data, 20), expected);
}

TEST(CollChangeLog, FixedUpdateOverwritesCallerDataInPlace) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}),
           int_elem(1) + int_elem(2));
  const bytes e = int_elem(9);
  ASSERT_EQ(dvz_coll_update_pos(&r.coll, 2, const_cast<char *>(e.data()), 4), 0);
  EXPECT_EQ(r.data, int_elem(1) + int_elem(9));
  EXPECT_EQ(r.coll.cl_log, nullptr);
  /* A length other than the element size is refused, not over-read. */
  EXPECT_EQ(dvz_coll_update_pos(&r.coll, 1, const_cast<char *>(e.data()), 2), -9973);
  EXPECT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(e.data()), 3, 0), -9973);
}

TEST(CollChangeLog, DeleteAllKeepsOwnedTypeInfoSoFreeReleasesIt) {
  dvz_coll_t coll {};
  typeinfo_ptr ti = make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}});
  ASSERT_EQ(dvz_coll_init(&coll, ti.release(), 1, nullptr, 0), 0);
  coll.cl_flags |= DVZ_COLL_OWNS_TYPEINFO;
  const bytes e = int_elem(3);
  ASSERT_EQ(dvz_coll_insert(&coll, const_cast<char *>(e.data()), 4, 0), 0);
  ASSERT_EQ(dvz_coll_tuple(&coll), 0);
  ASSERT_EQ(dvz_coll_insert(&coll, const_cast<char *>(e.data()), 4, 0), 0);
  ASSERT_EQ(dvz_coll_delete(&coll, nullptr, DVZ_COLL_DELETE_ALL), 0);
  EXPECT_EQ(coll.cl_flags, DVZ_COLL_HASHED | DVZ_COLL_OWNS_TYPEINFO);
  EXPECT_EQ(coll.cl_data, nullptr);
  EXPECT_EQ(coll.cl_cardinality, 0);
  EXPECT_EQ(dvz_coll_free(&coll), 0); /* LeakSanitizer checks the type info */
}

TEST(CollChangeLog, DeleteAllRefusedWhileAnotherCursorIsBeforeTheFirst) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}), int_elem(1));
  dvz_coll_cursor_t a;
  dvz_coll_cursor_t b;
  ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
  ASSERT_EQ(dvz_coll_open(&r.coll, &b), 0);
  EXPECT_EQ(dvz_coll_open(&r.coll, &b), -9987);
  EXPECT_EQ(dvz_coll_delete(&r.coll, &a, DVZ_COLL_DELETE_ALL), -9981);
  EXPECT_EQ(dvz_coll_free(&r.coll), -9984);
  ASSERT_EQ(dvz_coll_close(&r.coll, &b), 0);
  EXPECT_EQ(dvz_coll_close(&r.coll, &b), -1);
  EXPECT_EQ(dvz_coll_delete(&r.coll, &a, DVZ_COLL_DELETE_ALL), 0);
  ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
}

TEST(CollChangeLog, EveryOperationRefusesANullCollection) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}), int_elem(1));
  r.coll.cl_flags |= DVZ_COLL_NULL;
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
  char e[4] = {};
  char *p = nullptr;
  int32_t len = 99;
  EXPECT_EQ(dvz_coll_insert(&r.coll, e, 4, 0), -9976);
  EXPECT_EQ(dvz_coll_delete(&r.coll, &a, 0), -9976);
  EXPECT_EQ(dvz_coll_delete(&r.coll, &a, DVZ_COLL_DELETE_ALL), -9976);
  EXPECT_EQ(dvz_coll_update(&r.coll, &a, e, 4), -9976);
  EXPECT_EQ(dvz_coll_update_pos(&r.coll, 1, e, 4), -9976);
  EXPECT_EQ(dvz_coll_next(&r.coll, &a, &p, &len), -9976);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 1), -9976);
  EXPECT_EQ(dvz_coll_tuple(&r.coll), -9976);
  ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
  char area[DVZ_COLL_NESTED_AREA];
  std::memset(area, 0x55, sizeof area);
  EXPECT_EQ(dvz_coll_set_nested_coll(&r.coll, area), 0);
  EXPECT_EQ(bytes(area, 4), bytes("\0\x01\x01\x55", 4));
}

TEST(CollChangeLog, PutCollOfTheNullReferenceMarksTheRecordNull) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}),
           int_elem(1) + int_elem(2));
  const char null_ref[3] = {0, 1, 1};
  ASSERT_EQ(dvz_coll_put_coll(&r.coll, null_ref), 0);
  EXPECT_NE(r.coll.cl_flags & DVZ_COLL_NULL, 0u);
  EXPECT_NE(r.coll.cl_flags & DVZ_COLL_HASHED, 0u);
  EXPECT_EQ(r.coll.cl_cardinality, 0);
  EXPECT_EQ(r.coll.cl_data, nullptr);
}

TEST(CollChangeLog, RowRebuildNeedsEveryField) {
  record r(make_typeinfo({{0, sql_type_row, 0},
                          {1, sql_type_integer, 4},
                          {1, sql_type_integer, 4},
                          {1, sql_type_integer, 4}}),
           bytes());
  const bytes e = int_elem(1);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(e.data()), 4, 0), 0);
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(e.data()), 4, 0), 0);
  EXPECT_EQ(r.coll.cl_cardinality, 2);
  EXPECT_EQ(dvz_coll_tuple(&r.coll), -9989);
  EXPECT_NE(r.coll.cl_log, nullptr); /* the log stays */
  EXPECT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(e.data()), 4, 1), -9980);
}

TEST(CollPositioning, NextOnlyCollectionTakesOnlyTheNextElement) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}),
           int_elem(1) + int_elem(2) + int_elem(3));
  r.coll.cl_flags |= DVZ_COLL_NEXTONLY;
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
  for (const int pos : {0, 2, 3, -1})
    EXPECT_EQ(dvz_coll_pos(&r.coll, &a, pos), -9944) << pos;
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 1), 0);
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 1), -9944);
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 3), -9944);
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 2), 0);
  ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
}

TEST(CollPositioning, OutOfRangeSetsTheNumberAndAnswers100) {
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}),
           int_elem(1) + int_elem(2));
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 5), 100);
  EXPECT_EQ(a.cr_elemno, 5);
  char *p = nullptr;
  int32_t len = 0;
  EXPECT_EQ(dvz_coll_next(&r.coll, &a, &p, &len), 100);
  EXPECT_EQ(dvz_coll_pos(&r.coll, &a, 0), 100);
  EXPECT_EQ(dvz_coll_next(&r.coll, &a, &p, &len), 0);
  EXPECT_EQ(bytes(p, 4), int_elem(1));
  ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
}

/* Offsets damaged after the cardinality was taken: every read answers
** -9986 instead of leaving the buffer. */
TEST(CollPositioning, DamagedOffsetsAreRefusedOnEveryUse) {
  struct damage_case {
    const char *name;
    int word; /* offset word from the end, 1 = element 1 */
    int32_t value;
  };
  const damage_case cases[] = {
      {"negative", 1, -7},
      {"past the table", 2, 1000},
      {"decreasing", 2, 0x7fffffff},
      {"into the table", 1, 9},
  };
  for (const damage_case &dc : cases) {
    SCOPED_TRACE(dc.name);
    record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_varchar, 40}}),
             variable_data({varchar_elem("abc"), varchar_elem("de")}));
    ASSERT_EQ(r.coll.cl_cardinality, 2);
    dvz_st_be_i32(dc.value, r.data.data() + r.data.size() - 4 * dc.word);
    dvz_coll_cursor_t a;
    ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
    int status = 0;
    for (int i = 0; i < 2 && status == 0; ++i) {
      char *p = nullptr;
      int32_t len = 0;
      status = dvz_coll_next(&r.coll, &a, &p, &len);
      if (status == 0) {
        EXPECT_GE(p, r.coll.cl_data);
        EXPECT_LE(p + len, r.coll.cl_data + r.coll.cl_datalen);
      }
    }
    EXPECT_EQ(status, -9986);
    ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
    EXPECT_EQ(dvz_coll_set_cardinality(&r.coll), -9986);
  }
}

/* ---- SETs ------------------------------------------------------------------------ */

struct set_case {
  const char *name;
  int type;
  int length;
  bytes present;
  bytes equal; /* equal to present by comparison */
  bytes other;
};

bytes char_elem(const char *text, int width) {
  value_t v = text_value(sql_type_char, text);
  bytes out(static_cast<size_t>(width), ' ');
  EXPECT_EQ(rvaldata(&v, out.data(), sql_type_char, width), 0);
  return out;
}
bytes decimal_elem(const char *text, int length) {
  dec_t d {};
  EXPECT_EQ(deccvasc(text, static_cast<int>(std::strlen(text)), &d), 0);
  value_t v = of_type(sql_type_decimal);
  v.vdec = d;
  v.vprec = static_cast<int16_t>(length);
  bytes out(static_cast<size_t>((((length >> 8) & 0xFF) + (length & 1) + 3) / 2), '\0');
  EXPECT_EQ(rvaldata(&v, out.data(), sql_type_decimal, length), 0);
  return out;
}
bytes date_elem(int month, int day, int year) {
  value_t v = date_value(month, day, year);
  char out[4];
  EXPECT_EQ(rvaldata(&v, out, sql_type_date, 4), 0);
  return bytes(out, 4);
}

TEST(CollSets, KeepTheirElementsUnique) {
  const set_case cases[] = {
      {"integer", sql_type_integer, 4, int_elem(5), int_elem(5), int_elem(6)},
      {"char", sql_type_char, 6, char_elem("ab", 6), char_elem("ab    ", 6), char_elem("abc", 6)},
      {"decimal", sql_type_decimal, 0x0802, decimal_elem("1.5", 0x0802),
       decimal_elem("1.50", 0x0802), decimal_elem("1.25", 0x0802)},
      {"date", sql_type_date, 4, date_elem(2, 29, 2024), date_elem(2, 29, 2024),
       date_elem(3, 1, 2024)},
  };
  for (const set_case &sc : cases) {
    SCOPED_TRACE(sc.name);
    record r(make_typeinfo({{0, sql_type_set, 0}, {1, sc.type, sc.length}}), sc.present);
    const auto len = static_cast<int32_t>(sc.present.size());
    bytes equal = sc.equal;
    bytes other = sc.other;
    ASSERT_EQ(dvz_coll_insert(&r.coll, equal.data(), len, 0), 0);
    EXPECT_EQ(r.coll.cl_cardinality, 1);
    EXPECT_EQ(r.coll.cl_log, nullptr);
    ASSERT_EQ(dvz_coll_insert(&r.coll, other.data(), len, 0), 0);
    EXPECT_EQ(r.coll.cl_cardinality, 2);
    /* Updating the second element to the first's value deletes it. */
    dvz_coll_cursor_t a;
    ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
    ASSERT_EQ(dvz_coll_pos(&r.coll, &a, 2), 0);
    ASSERT_EQ(dvz_coll_update(&r.coll, &a, equal.data(), len), 0);
    ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
    EXPECT_EQ(read_all(&r.coll), std::vector<bytes> {sc.present});
  }
}

/* ---- Nested references in elements ------------------------------------------------- */

/* A LIST of SET(INTEGER): elements given as pointer-form references are
** logged inline and rebuilt with the padding of their new place. */
TEST(CollNested, ElementsAreRewrittenInlineForTheirPlace) {
  record inner(make_typeinfo({{0, sql_type_set, 0}, {1, sql_type_integer, 4}}),
               int_elem(1) + int_elem(2) + int_elem(3));
  record outer(
      make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, sql_type_integer, 4}}),
      bytes());
  alignas(8) char area[DVZ_COLL_NESTED_AREA + 8];
  const char null_ref[3] = {0, 1, 1};
  for (int shift = 0; shift < 3; ++shift) {
    ASSERT_EQ(dvz_coll_set_nested_coll(&inner.coll, area + shift), 0);
    ASSERT_EQ(dvz_coll_insert(&outer.coll, area + shift, DVZ_COLL_NESTED_AREA, 0), 0);
    ASSERT_EQ(dvz_coll_insert(&outer.coll, const_cast<char *>(null_ref), 3, 0), 0);
  }
  ASSERT_EQ(dvz_coll_tuple(&outer.coll), 0);
  ASSERT_EQ(outer.coll.cl_cardinality, 6);
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&outer.coll, &a), 0);
  for (int i = 1; i <= 6; ++i) {
    char *p = nullptr;
    int32_t len = 0;
    ASSERT_EQ(dvz_coll_next(&outer.coll, &a, &p, &len), 0);
    if (i % 2 == 0) {
      EXPECT_EQ(bytes(p, static_cast<size_t>(len)), bytes(null_ref, 3));
      continue;
    }
    const auto at = reinterpret_cast<uintptr_t>(p);
    const int pad = (at + 3) % 8 == 0 ? 3 : 11 - static_cast<int>((at + 3) % 8);
    EXPECT_EQ((at + static_cast<uintptr_t>(pad)) % 8, 0u);
    EXPECT_EQ(dvz_ld_be_i16(p), 12 + pad + 6);
    EXPECT_EQ(dvz_ld_be_u32(p + pad), static_cast<uint32_t>(DVZ_NREF_INLINE));
    EXPECT_EQ(dvz_ld_be_u32(p + pad + 4), inner.coll.cl_hashvalue);
    EXPECT_EQ(bytes(p + pad + 8, 12), inner.data);
    /* Loaded into a record of its own, the element is the inner set. */
    dvz_coll_t loaded {};
    ASSERT_EQ(dvz_coll_elem_coll(&outer.coll, &loaded, p, 0), 0);
    EXPECT_EQ(read_all(&loaded), (std::vector<bytes> {int_elem(1), int_elem(2), int_elem(3)}));
    ASSERT_EQ(dvz_coll_free(&loaded), 0);
  }
  ASSERT_EQ(dvz_coll_close(&outer.coll, &a), 0);
  /* The outer hash folds the inner hash once per non-NULL element. */
  ASSERT_EQ(dvz_coll_hash(&outer.coll), 0);
  EXPECT_EQ(outer.coll.cl_hashvalue, inner.coll.cl_hashvalue);
}

/* A reference in the data whose length is below its padding + 6: the
** copy handed out, the rebuild and the hash refuse it and change nothing. */
TEST(CollNested, ShortReferenceLengthIsRefusedByEveryReader) {
  bytes element(16, '\0');
  element[1] = 5; /* L 5, NULL flag 0: a negative data length */
  record r(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, sql_type_integer, 4}}),
           variable_data({element}));
  ASSERT_EQ(r.coll.cl_cardinality, 1);
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&r.coll, &a), 0);
  alignas(8) char copy[DVZ_COLL_NESTED_AREA];
  std::memset(copy, 0x33, sizeof copy);
  char *out = copy;
  int32_t len = 0;
  EXPECT_EQ(dvz_coll_next(&r.coll, &a, &out, &len), -9875);
  EXPECT_EQ(copy[0], 0x33);
  ASSERT_EQ(dvz_coll_close(&r.coll, &a), 0);
  EXPECT_EQ(dvz_coll_hash(&r.coll), -9875);
  EXPECT_EQ(r.coll.cl_flags & DVZ_COLL_HASHED, 0u);
  const char null_ref[3] = {0, 1, 1};
  ASSERT_EQ(dvz_coll_insert(&r.coll, const_cast<char *>(null_ref), 3, 0), 0);
  EXPECT_EQ(dvz_coll_tuple(&r.coll), -9875);
  EXPECT_EQ(r.coll.cl_data, r.data.data());
  EXPECT_NE(r.coll.cl_log, nullptr);
}

TEST(CollNested, NextCopiesACompositeElementAsAPointerReference) {
  record inner(make_typeinfo({{0, sql_type_set, 0}, {1, sql_type_integer, 4}}),
               int_elem(4) + int_elem(5));
  record outer(
      make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, sql_type_integer, 4}}),
      bytes());
  alignas(8) char area[DVZ_COLL_NESTED_AREA];
  ASSERT_EQ(dvz_coll_set_nested_coll(&inner.coll, area), 0);
  ASSERT_EQ(dvz_coll_insert(&outer.coll, area, sizeof area, 0), 0);
  dvz_coll_cursor_t a;
  ASSERT_EQ(dvz_coll_open(&outer.coll, &a), 0);
  alignas(8) char copy[DVZ_COLL_NESTED_AREA + 1];
  char *out = copy + 1;
  int32_t len = 0;
  ASSERT_EQ(dvz_coll_next(&outer.coll, &a, &out, &len), 0);
  const int pad = 7; /* (a + 3) mod 8 = 4 at an address 1 past a multiple of 8 */
  ASSERT_EQ(pad, 11 - static_cast<int>((reinterpret_cast<uintptr_t>(out) + 3) % 8));
  EXPECT_EQ(len, 8 + pad + 6 + 2);
  EXPECT_EQ(dvz_ld_be_u32(out + pad), static_cast<uint32_t>(DVZ_NREF_POINTER));
  char *data = nullptr;
  std::memcpy(&data, out + pad + 8, sizeof data);
  EXPECT_EQ(bytes(data, 8), inner.data);
  ASSERT_EQ(dvz_coll_close(&outer.coll, &a), 0);
}

/* ---- Hash, copy and dump ------------------------------------------------------------ */

TEST(CollHash, FoldsEachElementByItsTypeAndCachesTheResult) {
  record ints(make_typeinfo({{0, sql_type_multiset, 0}, {1, sql_type_integer, 4}}),
              int_elem(0x01020304) + int_elem(0x10203040));
  ASSERT_EQ(dvz_coll_hash(&ints.coll), 0);
  EXPECT_EQ(ints.coll.cl_hashvalue, 0x01020304u ^ 0x10203040u);
  EXPECT_NE(ints.coll.cl_flags & DVZ_COLL_HASHED, 0u);
  record texts(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_varchar, 40}}),
               variable_data({varchar_elem("abc"), varchar_elem("xyz")}));
  ASSERT_EQ(dvz_coll_hash(&texts.coll), 0);
  const bytes a = varchar_elem("abc");
  const bytes b = varchar_elem("xyz");
  EXPECT_EQ(texts.coll.cl_hashvalue,
            static_cast<uint32_t>(dvz_hashpjw(a.data(), 4) ^ dvz_hashpjw(b.data(), 4)));
  /* A change clears the cached hash; rebuilding computes it again. */
  ASSERT_EQ(dvz_coll_insert(&ints.coll, const_cast<char *>(int_elem(0x10203040).data()), 4, 0), 0);
  EXPECT_EQ(ints.coll.cl_flags & DVZ_COLL_HASHED, 0u);
  ASSERT_EQ(dvz_coll_tuple(&ints.coll), 0);
  EXPECT_EQ(ints.coll.cl_hashvalue, 0x01020304u);
}

TEST(CollCopy, GivesAPrivateCopyOfTheRebuiltData) {
  record src(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}), int_elem(1));
  const bytes e = int_elem(2);
  ASSERT_EQ(dvz_coll_insert(&src.coll, const_cast<char *>(e.data()), 4, 0), 0);
  record dst(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_integer, 4}}), bytes());
  ASSERT_EQ(dvz_coll_copy(&dst.coll, &src.coll), 0);
  EXPECT_NE(dst.coll.cl_data, src.coll.cl_data);
  EXPECT_NE(dst.coll.cl_flags & DVZ_COLL_OWNS_DATA, 0u);
  EXPECT_EQ(read_all(&dst.coll), (std::vector<bytes> {int_elem(1), int_elem(2)}));
}

TEST(CollDump, FixedRecordMatchesItsTextWithPointersMasked) {
  record r(make_typeinfo({{0, sql_type_set, 0}, {1, sql_type_integer, 4}}),
           int_elem(1) + int_elem(2));
  ::testing::internal::CaptureStdout();
  dvz_dump(&r.coll, "test");
  const std::string text = std::regex_replace(::testing::internal::GetCapturedStdout(),
                                              std::regex("0x[0-9a-f]+|\\(nil\\)"), "PTR");
  const std::string expected =
      "************************************************************\n"
      "Dumping collection in test\n"
      "collp: PTR\n"
      "\tSET cl_len = 8, cl_datalen = 8\n"
      "\tcl_cardinality = 2, cl_isfixed = 1, cl_elsize = 4\n"
      "\tcl_flags = PTR, cl_hashvalue = PTR, cl_handle = 0\n"
      "\tcl_typed = 1, cl_typelen = 1132\n"
      "\tcl_curs = PTR, cl_log = PTR, cl_lastlog = PTR, cl_data = PTR\n"
      "\tcl_svr_typeinfo = PTR, cl_typeinfo = PTR\n"
      "typeinfo: PTR\n"
      "Dumping changelog starting at PTR\n"
      "8 bytes at PTR\n"
      "    0: 00 00 00 01 00 00 00 02                          ........\n";
  EXPECT_EQ(text, expected);
}

TEST(CollDump, HexDumpSuppressesRepeatedLines) {
  bytes data(48, 'A');
  data += "tail\x01";
  ::testing::internal::CaptureStdout();
  dvz_hex_dump(data.data(), static_cast<int32_t>(data.size()));
  const std::string text = std::regex_replace(::testing::internal::GetCapturedStdout(),
                                              std::regex("0x[0-9a-f]+"), "PTR");
  EXPECT_EQ(text,
            "53 bytes at PTR\n"
            "    0: 41 41 41 41 41 41 41 41  41 41 41 41 41 41 41 41 AAAAAAAAAAAAAAAA\n"
            "\t****** dup output suppressed 2 rows\n"
            "   48: 74 61 69 6c 01                                   tail.\n");
}

}  // namespace
