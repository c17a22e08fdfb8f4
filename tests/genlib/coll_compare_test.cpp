/*
** Tests of the equality of collections and rows and of the membership
** test that keeps a SET free of duplicates. Random bags, SETs and LISTs
** of INTEGER and CHAR(4) come with the answers of Python's Counter, set
** and list equality (oracle/coll_oracle.py, committed table); the rest
** are small fixtures built through the collection operations, with
** element bytes from the column writers. A comparison of our own stands
** beside the evaluator's where the outcome must not depend on it.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "coll_fixtures.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_decimal.h"
#include "gen_types.h"
#include "gen_value.h"
#include "os_gentcb.h"
#include "value_builders.h"

namespace {

using value_test::int_value;
using value_test::text_value;
using namespace coll_test;

/* A collection of one element type, with its own type info. */
struct collection {
  typeinfo_ptr ti;
  dvz_coll_t c {};
  collection(int kind, int type, int length)
      : ti(typeinfo_of_fields({field(0, kind, 0), field(1, type, length)})) {
    EXPECT_EQ(dvz_coll_init(&c, ti.get(), 1, nullptr, 0), 0);
  }
  explicit collection(typeinfo_ptr t) : ti(std::move(t)) {
    EXPECT_EQ(dvz_coll_init(&c, ti.get(), 1, nullptr, 0), 0);
  }
  collection(const collection &) = delete;
  collection &operator=(const collection &) = delete;
  ~collection() { EXPECT_EQ(dvz_coll_free(&c), 0); }
  int insert(const std::string &bytes) {
    std::string copy = bytes;
    return dvz_coll_insert(&c, copy.data(), static_cast<int32_t>(copy.size()), 0);
  }
};

std::string stored(value_t v, int type, int length) {
  char bytes[64] = {};
  EXPECT_EQ(rvaldata(&v, bytes, type, length), 0);
  const int code = type & 0xFF;
  const bool packed = code == sql_type_decimal || code == sql_type_money ||
                      code == sql_type_datetime || code == sql_type_interval;
  const int size = packed                  ? (((length >> 8) & 0xFF) + (length & 1) + 3) / 2
                   : code == sql_type_char ? length
                                           : rtypmsize(code, length);
  return std::string(bytes, static_cast<size_t>(size));
}
std::string integer(int n) { return stored(int_value(sql_type_integer, n), sql_type_integer, 4); }
std::string chars(const std::string &text) {
  return stored(text_value(sql_type_char, text.c_str()), sql_type_char, 4);
}

/* Our comparison: INTEGER by value, CHAR without trailing blanks; counts
** its calls and can fail on a chosen one. */
struct own_compare {
  int calls = 0;
  int fail_at = 0;
};
int own_equal(int op, value_t *a, value_t *b, void *context, value_t *result) {
  auto *state = static_cast<own_compare *>(context);
  if (state != nullptr && ++state->calls == state->fail_at) return -1234;
  EXPECT_EQ(op, DVZ_COLL_OP_EQUAL);
  bool equal = false;
  if ((a->vtype & 0xFF) == sql_type_char) {
    std::string x(a->vptr, static_cast<size_t>(a->vlen));
    std::string y(b->vptr, static_cast<size_t>(b->vlen));
    x.erase(x.find_last_not_of(' ') + 1);
    y.erase(y.find_last_not_of(' ') + 1);
    equal = x == y;
  } else {
    equal = a->vint == b->vint;
  }
  std::memset(result, 0, sizeof *result);
  result->vtype = sql_type_smallint;
  result->vint = equal ? 1 : 0;
  return 0;
}
own_compare *own_state = nullptr;
int own_equal_global(int op, value_t *a, value_t *b, void *, value_t *result) {
  return own_equal(op, a, b, own_state, result);
}

class CollCompare : public ::testing::Test {
 protected:
  void SetUp() override {
    gen_setansidb(0);
    ASSERT_NE(CheckGenInit(), nullptr);
  }
};

std::vector<std::string> split(const std::string &list) {
  std::vector<std::string> out;
  if (list == "-") return out;
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ','))
    out.push_back(item);
  return out;
}

std::string element_of(const std::string &type, std::string text) {
  if (type == "INTEGER") return integer(std::stoi(text));
  std::replace(text.begin(), text.end(), '_', ' ');
  return chars(text);
}

int kind_code(const std::string &kind) {
  return kind == "SET" ? sql_type_set : kind == "MULTISET" ? sql_type_multiset : sql_type_list;
}

/* ---- Against the oracle ---------------------------------------------------------------- */

/* Each case twice: with every element still in the change log, and after
** one side's data was rebuilt. */
TEST_F(CollCompare, BagsSetsAndListsAgreeWithTheOracle) {
  std::ifstream in(DVZ_COLL_CASES);
  ASSERT_TRUE(in) << DVZ_COLL_CASES;
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    std::string kind;
    std::string type;
    int expected = 0;
    std::string a;
    std::string b;
    if (!(words >> tag) || tag != "bag") continue;
    ASSERT_TRUE(words >> kind >> type >> expected >> a >> b) << line;
    const int element = type == "INTEGER" ? sql_type_integer : sql_type_char;
    const int length = 4;
    for (bool rebuild : {false, true}) {
      collection x(kind_code(kind), element, length);
      collection y(kind_code(kind), element, length);
      for (const std::string &e : split(a))
        ASSERT_EQ(x.insert(element_of(type, e)), 0) << line;
      for (const std::string &e : split(b))
        ASSERT_EQ(y.insert(element_of(type, e)), 0) << line;
      if (rebuild) {
        ASSERT_EQ(dvz_coll_tuple(&y.c), 0);
      }
      EXPECT_EQ(dvz_coll_equal(&x.c, &y.c), expected) << line;
      EXPECT_EQ(dvz_coll_equal(&y.c, &x.c), expected) << line;
      int isnull = 5;
      EXPECT_EQ(mi_dvz_coll_equal(&x.c, &y.c, own_equal_global, &isnull), expected) << line;
      EXPECT_EQ(isnull, 0);
    }
    ++cases;
  }
  EXPECT_GT(cases, 0);
}

TEST_F(CollCompare, MembershipAgreesWithTheOracle) {
  std::ifstream in(DVZ_COLL_CASES);
  ASSERT_TRUE(in) << DVZ_COLL_CASES;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    std::string type;
    int expected = 0;
    std::string elements;
    std::string probe;
    if (!(words >> tag) || tag != "member") continue;
    ASSERT_TRUE(words >> type >> expected >> elements >> probe) << line;
    collection set(sql_type_set, type == "INTEGER" ? sql_type_integer : sql_type_char, 4);
    for (const std::string &e : split(elements))
      ASSERT_EQ(set.insert(element_of(type, e)), 0) << line;
    const std::string p = element_of(type, probe);
    EXPECT_EQ(
        dvz_coll_inpred(&set.c, p.data(), static_cast<int32_t>(p.size()), 0, collelmtcmp, nullptr),
        expected)
        << line;
    /* Inserting the probe leaves a present one out. */
    const int32_t before = set.c.cl_cardinality;
    ASSERT_EQ(set.insert(p), 0);
    EXPECT_EQ(set.c.cl_cardinality, before + (expected == 0 ? 1 : 0)) << line;
  }
}

/* Texts whose hashes collide are told apart element by element. */
TEST_F(CollCompare, CollidingHashesTakeTheSlowPath) {
  std::ifstream in(DVZ_COLL_CASES);
  std::string line;
  int pairs = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    std::string x;
    std::string y;
    if (!(words >> tag) || tag != "collide") continue;
    ASSERT_TRUE(words >> x >> y);
    ASSERT_EQ(dvz_hashpjw(x.c_str(), 3), dvz_hashpjw(y.c_str(), 3)) << line;
    struct {
      std::vector<std::string> a, b;
      int expected;
    } rows[] = {{{x, x}, {x, y}, -1},
                {{x, y}, {y, x}, 0},
                {{x, y, y}, {y, x, x}, -1},
                {{y, x, y}, {y, y, x}, 0}};
    for (const auto &r : rows) {
      collection a(sql_type_multiset, sql_type_char, 4);
      collection b(sql_type_multiset, sql_type_char, 4);
      for (const std::string &e : r.a)
        ASSERT_EQ(a.insert(chars(e)), 0);
      for (const std::string &e : r.b)
        ASSERT_EQ(b.insert(chars(e)), 0);
      EXPECT_EQ(dvz_coll_equal(&a.c, &b.c), r.expected) << line;
      EXPECT_EQ(mi_dvz_coll_equal(&a.c, &b.c, own_equal_global, nullptr), r.expected) << line;
    }
    ++pairs;
  }
  EXPECT_GT(pairs, 0);
}

/* ---- Fixtures ------------------------------------------------------------------------------ */

TEST_F(CollCompare, EqualityOfSmallFixtures) {
  const auto multiset = [](std::initializer_list<int> values) {
    auto c = std::make_unique<collection>(sql_type_multiset, sql_type_integer, 4);
    for (int v : values)
      EXPECT_EQ(c->insert(integer(v)), 0);
    return c;
  };
  auto a = multiset({1, 1, 2});
  auto b = multiset({2, 1, 1});
  auto c = multiset({1, 2, 2});
  EXPECT_EQ(dvz_coll_equal(&a->c, &b->c), 0);
  EXPECT_EQ(dvz_coll_equal(&a->c, &c->c), -1);
  EXPECT_EQ(mi_dvz_coll_equal(&a->c, &b->c, own_equal_global, nullptr), 0);
  EXPECT_EQ(mi_dvz_coll_equal(&a->c, &c->c, own_equal_global, nullptr), -1);
  /* A different cardinality, a different type, a NULL side. */
  auto d = multiset({1, 1});
  EXPECT_EQ(dvz_coll_equal(&a->c, &d->c), -1);
  collection set(sql_type_set, sql_type_integer, 4);
  EXPECT_EQ(dvz_coll_equal(&a->c, &set.c), -9602);
  collection smallints(sql_type_multiset, sql_type_smallint, 2);
  EXPECT_EQ(dvz_coll_equal(&a->c, &smallints.c), -9602);
  b->c.cl_flags |= DVZ_COLL_NULL;
  int isnull = 0;
  EXPECT_EQ(mi_dvz_coll_equal(&a->c, &b->c, collelmtcmp, &isnull), -1);
  EXPECT_EQ(isnull, 1);
  b->c.cl_flags &= ~DVZ_COLL_NULL;

  /* VARCHAR elements that differ only in trailing blanks pair up: their
  ** hashes are taken over the text without them. */
  const auto varchar = [](const char *text) {
    value_t v = text_value(sql_type_char, text);
    char bytes[8] = {};
    EXPECT_EQ(rvaldata(&v, bytes, sql_type_varchar, 5), 0);
    return std::string(bytes, 6);
  };
  collection va(sql_type_multiset, sql_type_varchar, 5);
  collection vb(sql_type_multiset, sql_type_varchar, 5);
  for (const char *t : {"ab", "cd ", "ab", "e", "fgh", "ij  ", "k l"})
    ASSERT_EQ(va.insert(varchar(t)), 0);
  for (const char *t : {"cd", "ab  ", "e   ", "ij", "k l ", "ab ", "fgh  "})
    ASSERT_EQ(vb.insert(varchar(t)), 0);
  EXPECT_EQ(dvz_coll_equal(&va.c, &vb.c), 0);
  ASSERT_EQ(vb.insert(varchar("cd")), 0);
  ASSERT_EQ(va.insert(varchar("ab")), 0);
  EXPECT_EQ(dvz_coll_equal(&va.c, &vb.c), -1);

  /* Opaque elements are never equal; empty collections are. */
  collection l1(sql_type_set, sql_type_lvarchar, 10);
  collection l2(sql_type_set, sql_type_lvarchar, 10);
  EXPECT_EQ(dvz_coll_equal(&l1.c, &l2.c), 0);
  std::string text(5 + 3, '\0');
  studt(text.data(), "abc", 3, 0);
  ASSERT_EQ(l1.insert(text), 0);
  ASSERT_EQ(l2.insert(text), 0);
  EXPECT_EQ(dvz_coll_equal(&l1.c, &l2.c), -1);

  /* LISTs and ROWs in order. */
  collection la(sql_type_list, sql_type_integer, 4);
  collection lb(sql_type_list, sql_type_integer, 4);
  for (int v : {1, 2, 3})
    ASSERT_EQ(la.insert(integer(v)), 0);
  for (int v : {3, 2, 1})
    ASSERT_EQ(lb.insert(integer(v)), 0);
  EXPECT_EQ(dvz_coll_equal(&la.c, &lb.c), -1);
  collection ra(typeinfo_of_fields(
      {field(0, sql_type_row, 0), field(1, sql_type_integer, 4), field(1, sql_type_char, 4)}));
  collection rb(typeinfo_of_fields(
      {field(0, sql_type_row, 0), field(1, sql_type_integer, 4), field(1, sql_type_char, 4)}));
  ASSERT_EQ(ra.insert(integer(7)), 0);
  ASSERT_EQ(ra.insert(chars("ab")), 0);
  ASSERT_EQ(rb.insert(integer(7)), 0);
  ASSERT_EQ(rb.insert(chars("ab  ")), 0);
  EXPECT_EQ(dvz_coll_equal(&ra.c, &rb.c), 0);
}

/* The caller's comparison failing part-way is returned, and nothing
** stays allocated or open (LeakSanitizer checks at exit). */
TEST_F(CollCompare, AComparisonErrorIsReturnedAndCleansUp) {
  for (int kind : {sql_type_multiset, sql_type_list}) {
    collection a(kind, sql_type_integer, 4);
    collection b(kind, sql_type_integer, 4);
    for (int v : {4, 5, 6, 7}) {
      ASSERT_EQ(a.insert(integer(v)), 0);
      ASSERT_EQ(b.insert(integer(v)), 0);
    }
    own_compare state;
    state.fail_at = 3;
    own_state = &state;
    EXPECT_EQ(mi_dvz_coll_equal(&a.c, &b.c, own_equal_global, nullptr), -1234) << kind;
    own_state = nullptr;
    EXPECT_EQ(a.c.cl_curs, nullptr);
    EXPECT_EQ(b.c.cl_curs, nullptr);
  }
  collection set(sql_type_set, sql_type_integer, 4);
  ASSERT_EQ(set.insert(integer(1)), 0);
  own_compare state;
  state.fail_at = 1;
  const std::string probe = integer(9);
  EXPECT_EQ(dvz_coll_inpred(&set.c, probe.data(), 4, 0, own_equal, &state), -1234);
  EXPECT_EQ(set.c.cl_curs, nullptr);
}

/* A SET keeps its elements unique by value: a present INTEGER, CHAR
** (trailing blanks aside), DECIMAL or DATE is not inserted again, and an
** update to a value present elsewhere deletes the updated element. */
TEST_F(CollCompare, SetsStayUnique) {
  dec_t d1;
  dec_t d2;
  ASSERT_EQ(deccvasc(const_cast<char *>("12.50"), 5, &d1), 0);
  ASSERT_EQ(deccvasc(const_cast<char *>("12.5"), 4, &d2), 0);
  const auto decimal = [](const dec_t &d) {
    value_t v = value_test::of_type(sql_type_decimal);
    v.vdec = d;
    v.vprec = 0x0802;
    return stored(v, sql_type_decimal, 0x0802);
  };
  struct row {
    const char *what;
    int type;
    int length;
    std::string first;
    std::string same;
    std::string other;
  } rows[] = {
      {"INTEGER", sql_type_integer, 4, integer(5), integer(5), integer(6)},
      {"CHAR", sql_type_char, 4, chars("ab"), chars("ab  "), chars("abc")},
      {"DECIMAL", sql_type_decimal, 0x0802, decimal(d1), decimal(d2), integer(0)},
      {"DATE", sql_type_date, 4, stored(value_test::date_value(3, 14, 2024), sql_type_date, 4),
       stored(value_test::date_value(3, 14, 2024), sql_type_date, 4),
       stored(value_test::date_value(3, 15, 2024), sql_type_date, 4)},
  };
  for (row &r : rows) {
    if (r.type == sql_type_decimal) {
      dec_t d3;
      ASSERT_EQ(deccvasc(const_cast<char *>("7"), 1, &d3), 0);
      r.other = decimal(d3);
    }
    collection set(sql_type_set, r.type, r.length);
    ASSERT_EQ(set.insert(r.first), 0) << r.what;
    ASSERT_EQ(set.insert(r.other), 0) << r.what;
    ASSERT_EQ(set.c.cl_cardinality, 2) << r.what;
    const int32_t len = set.c.cl_len;
    EXPECT_EQ(set.insert(r.same), 0) << r.what;
    EXPECT_EQ(set.c.cl_cardinality, 2) << r.what;
    EXPECT_EQ(set.c.cl_len, len) << r.what;
    /* Membership of the present value, and with its own position left
    ** out. */
    EXPECT_EQ(dvz_coll_inpred(&set.c, r.same.data(), static_cast<int32_t>(r.same.size()), 0,
                              collelmtcmp, nullptr),
              -9874)
        << r.what;
    EXPECT_EQ(dvz_coll_inpred(&set.c, r.same.data(), static_cast<int32_t>(r.same.size()), 1,
                              collelmtcmp, nullptr),
              0)
        << r.what;
    /* Updating the second element to the first's value deletes it. */
    dvz_coll_cursor_t cursor;
    ASSERT_EQ(dvz_coll_open(&set.c, &cursor), 0);
    ASSERT_EQ(dvz_coll_pos(&set.c, &cursor, 2), 0);
    std::string copy = r.same;
    EXPECT_EQ(dvz_coll_update(&set.c, &cursor, copy.data(), static_cast<int32_t>(copy.size())), 0)
        << r.what;
    EXPECT_EQ(dvz_coll_close(&set.c, &cursor), 0);
    EXPECT_EQ(set.c.cl_cardinality, 1) << r.what;
  }
  /* A NULL collection answers -1; an empty one 0. */
  collection set(sql_type_set, sql_type_integer, 4);
  const std::string five = integer(5);
  EXPECT_EQ(dvz_coll_inpred(&set.c, five.data(), 4, 0, collelmtcmp, nullptr), 0);
  set.c.cl_flags |= DVZ_COLL_NULL;
  EXPECT_EQ(dvz_coll_inpred(&set.c, five.data(), 4, 0, collelmtcmp, nullptr), -1);
  set.c.cl_flags &= ~DVZ_COLL_NULL;
}

/* An opaque element is read within its own bytes: one whose stored length
** claims more than the element holds is refused (-1815) by the membership
** test of a SET, and so is its insertion, which runs that test. Each
** element is tested from a heap block of exactly its size. */
TEST_F(CollCompare, OpaqueElementsAreReadWithinThemselves) {
  collection set(sql_type_set, sql_type_lvarchar, 10);
  std::string text(5 + 2, '\0');
  studt(text.data(), "hi", 2, 0);
  ASSERT_EQ(set.insert(text), 0);
  struct {
    const char *what;
    std::vector<char> element;
    int status;
  } cases[] = {
      {"fits", {0, 0, 0, 0, 2, 'h', 'o'}, 0},
      {"NULL", {1, 0, 0, 0, 0}, 0},
      {"1000 bytes in 7", {0, 0, 0, 0x03, static_cast<char>(0xE8), 'h', 'i'}, -1815},
      {"one byte beyond", {0, 0, 0, 0, 3, 'h', 'i'}, -1815},
  };
  for (const auto &c : cases) {
    std::unique_ptr<char[]> element(new char[c.element.size()]);
    std::memcpy(element.get(), c.element.data(), c.element.size());
    const auto len = static_cast<int32_t>(c.element.size());
    EXPECT_EQ(dvz_coll_inpred(&set.c, element.get(), len, 0, collelmtcmp, nullptr), c.status)
        << c.what;
    const int32_t before = set.c.cl_cardinality;
    EXPECT_EQ(dvz_coll_insert(&set.c, element.get(), len, 0), c.status) << c.what;
    EXPECT_EQ(set.c.cl_cardinality, before + (c.status == 0 ? 1 : 0)) << c.what;
  }
}

/* SETs of SETs: a nested collection equal to one present is not inserted
** again, and two such SETs compare element by element. */
TEST_F(CollCompare, NestedCollections) {
  const auto nested_type = [] {
    return typeinfo_of_fields(
        {field(0, sql_type_set, 0), field(1, sql_type_set, 0), field(2, sql_type_integer, 4)});
  };
  /* The reference of a SET of INTEGER holding values. */
  const auto reference = [](collection &outer, std::initializer_list<int> values,
                            std::vector<std::unique_ptr<collection>> &keep) {
    dvz_coll_typeinfo_t *ti = nullptr;
    EXPECT_EQ(dvz_coll_elem_typeinfo(&outer.c, &ti, 0), 0);
    keep.push_back(std::make_unique<collection>(typeinfo_ptr(ti)));
    collection &inner = *keep.back();
    for (int v : values)
      EXPECT_EQ(inner.insert(integer(v)), 0);
    EXPECT_EQ(dvz_coll_tuple(&inner.c), 0);
    std::string area(DVZ_COLL_NESTED_AREA, '\0');
    EXPECT_EQ(dvz_coll_set_nested_coll(&inner.c, area.data()), 0);
    return area;
  };
  std::vector<std::unique_ptr<collection>> keep;
  collection a(nested_type());
  collection b(nested_type());
  ASSERT_EQ(a.insert(reference(a, {1, 2}, keep)), 0);
  ASSERT_EQ(a.insert(reference(a, {3}, keep)), 0);
  ASSERT_EQ(a.insert(reference(a, {2, 1}, keep)), 0);
  EXPECT_EQ(a.c.cl_cardinality, 2);
  ASSERT_EQ(b.insert(reference(b, {3}, keep)), 0);
  ASSERT_EQ(b.insert(reference(b, {1, 2}, keep)), 0);
  EXPECT_EQ(dvz_coll_equal(&a.c, &b.c), 0);
  ASSERT_EQ(dvz_coll_tuple(&b.c), 0);
  EXPECT_EQ(dvz_coll_equal(&a.c, &b.c), 0);
  collection c(nested_type());
  ASSERT_EQ(c.insert(reference(c, {3}, keep)), 0);
  ASSERT_EQ(c.insert(reference(c, {1, 4}, keep)), 0);
  EXPECT_EQ(dvz_coll_equal(&a.c, &c.c), -1);
}

/* The sort orders by the 32-bit key each pointer points to, as std::sort
** orders the keys, keeping every pointer. */
TEST_F(CollCompare, SortsPointersByTheirKey) {
  std::mt19937 rng(19);
  for (int n : {0, 1, 2, 17, 1000}) {
    std::vector<uint32_t> keys(static_cast<size_t>(n));
    for (uint32_t &k : keys)
      k = n == 1000 ? rng() : rng() % 4;
    std::vector<void *> pointers;
    for (uint32_t &k : keys)
      pointers.push_back(&k);
    std::vector<void *> sorted = pointers;
    if (n > 0) dvz_coll_qsort(sorted.data(), 0, n - 1);
    std::vector<uint32_t> expect = keys;
    std::sort(expect.begin(), expect.end());
    for (size_t i = 0; i < sorted.size(); ++i)
      EXPECT_EQ(*static_cast<uint32_t *>(sorted[i]), expect[i]);
    std::sort(sorted.begin(), sorted.end());
    std::sort(pointers.begin(), pointers.end());
    EXPECT_EQ(sorted, pointers);
  }
  /* Already sorted and reversed inputs of 10^5 are fine too. */
  std::vector<uint32_t> keys(100000);
  for (size_t i = 0; i < keys.size(); ++i)
    keys[i] = static_cast<uint32_t>(keys.size() - i);
  std::vector<void *> pointers;
  for (uint32_t &k : keys)
    pointers.push_back(&k);
  dvz_coll_qsort(pointers.data(), 0, static_cast<int>(pointers.size()) - 1);
  EXPECT_TRUE(std::is_sorted(pointers.begin(), pointers.end(), [](void *x, void *y) {
    return *static_cast<uint32_t *>(x) < *static_cast<uint32_t *>(y);
  }));
}

}  // namespace
