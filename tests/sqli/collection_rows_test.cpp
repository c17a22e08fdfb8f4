/*
** Elements and rows of collection and row host variables built, changed
** and read from literal-values lists written by hand as the preprocessor
** writes them; collections and type infos from the value library's
** fixtures. Also the checks of collection host variables before a bind
** list goes out, the cardinality and the row type name.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "coll_fixtures.h"
#include "gen_collection.h"
#include "gen_types.h"
#include "gen_value.h"
#include "runtime_fixture.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_collection_checks.h"
#include "sqli_status.h"

namespace {

using coll_test::field;
using coll_test::int_elem;
using coll_test::make_typeinfo;
using coll_test::typeinfo_of_fields;
using coll_test::typeinfo_ptr;
using sqli_test::FailingMemory;

/* A literal-values list and the values its entries point at. */
class lits {
 public:
  lits &i(int32_t n) {
    ints_.push_back(n);
    entries_.push_back({reinterpret_cast<char *>(&ints_.back()), sql_type_integer, 4, 0, 0});
    return *this;
  }
  /* Text converted for the field (nesting word 1). */
  lits &text(const std::string &s) {
    texts_.push_back(s);
    entries_.push_back(
        {texts_.back().data(), sql_type_char, static_cast<int16_t>(texts_.back().size()), 0, 1});
    return *this;
  }
  lits &null() { return entry(sqli_lit_null); }
  lits &sep() { return entry(sqli_lit_sep); }
  lits &open(int type) { return entry(static_cast<int16_t>(type), 1); }
  lits &close() { return entry(sqli_lit_close, 1); }
  lits &coll(dvz_coll_t *c) {
    entries_.push_back({reinterpret_cast<char *>(c), sqli_lit_collvar, 0, 0, 0});
    return *this;
  }
  lits &raw(int16_t type, int16_t len) {
    texts_.emplace_back(16, 'x');
    entries_.push_back({texts_.back().data(), type, len, 0, 0});
    return *this;
  }
  sqli_litval *get() {
    list_ = entries_;
    list_.push_back(sqli_litval {});
    return list_.data();
  }

 private:
  lits &entry(int16_t type, int16_t nesting = 0) {
    entries_.push_back({nullptr, type, 0, 0, nesting});
    return *this;
  }
  std::deque<int32_t> ints_;
  std::deque<std::string> texts_;
  std::vector<sqli_litval> entries_;
  std::vector<sqli_litval> list_;
};

/* A field-name list of 150-byte entries. */
std::string names(std::initializer_list<const char *> list) {
  std::string out;
  for (const char *n : list) {
    std::string entry(SQLI_FIELDNAME_SIZE, '\0');
    std::memcpy(entry.data(), n, std::strlen(n));
    out += entry;
  }
  return out + std::string(SQLI_FIELDNAME_SIZE, '\0');
}

/* A typed collection or row host variable over ti, without data. */
struct coll_var {
  explicit coll_var(typeinfo_ptr t) : ti(std::move(t)) {
    EXPECT_EQ(dvz_coll_init(&c, ti.get(), 1, nullptr, 0), 0);
  }
  ~coll_var() { EXPECT_EQ(dvz_coll_free(&c), 0); }
  coll_var(const coll_var &) = delete;
  coll_var &operator=(const coll_var &) = delete;
  typeinfo_ptr ti;
  dvz_coll_t c {};
};

/* Every element (or field) of c as stored. */
std::vector<std::string> elements(dvz_coll_t *c) {
  std::vector<std::string> out;
  dvz_coll_cursor_t cur;
  EXPECT_EQ(dvz_coll_open(c, &cur), 0);
  for (;;) {
    char *p = nullptr;
    int32_t len = 0;
    if (dvz_coll_next(c, &cur, &p, &len) != 0) break;
    out.emplace_back(p, static_cast<size_t>(len));
  }
  EXPECT_EQ(dvz_coll_close(c, &cur), 0);
  return out;
}

std::string null_int() {
  value_t v {};
  v.vtype = sql_type_integer;
  v.vind = -1;
  char out[4];
  EXPECT_EQ(rvaldata(&v, out, sql_type_integer, 4), 0);
  return std::string(out, 4);
}

typeinfo_ptr set_of_int(int kind = sql_type_set, int notnull = 0) {
  return make_typeinfo({{0, kind, 0}, {1, sql_type_integer | notnull, 4}});
}
/* ROW(a INTEGER, b INTEGER, c INTEGER). */
typeinfo_ptr row_abc() {
  return typeinfo_of_fields({field(0, sql_type_row, 0), field(1, sql_type_integer, 4, "a"),
                             field(1, sql_type_integer, 4, "b"),
                             field(1, sql_type_integer, 4, "c")});
}
/* LIST(ROW(a, b, c)). */
typeinfo_ptr list_of_rows() {
  return typeinfo_of_fields({field(0, sql_type_list, 0), field(1, sql_type_row, 0),
                             field(2, sql_type_integer, 4, "a"), field(2, sql_type_integer, 4, "b"),
                             field(2, sql_type_integer, 4, "c")});
}

/* An INTEGER output host variable with its indicator. */
struct int_out {
  int32_t value = -77;
  int16_t ind = 99;
  sqlvar_struct var() {
    sqlvar_struct v {};
    v.sqltype = host_type_int;
    v.sqllen = 4;
    v.sqldata = reinterpret_cast<char *>(&value);
    v.sqlind = &ind;
    return v;
  }
};

class CollectionRows : public sqli_test::StartedRuntimeTest {};

TEST_F(CollectionRows, InsertsLiteralsAndSetsEveryElement) {
  coll_var set(set_of_int());
  lits l;
  ASSERT_EQ(dvz_rc_construct(&set.c, nullptr, l.i(1).sep().i(2).sep().i(3).get(), 0), 0);
  EXPECT_EQ(elements(&set.c), (std::vector<std::string> {int_elem(1), int_elem(2), int_elem(3)}));
  int isnull = 7;
  EXPECT_EQ(dvz_cl_card(&set.c, &isnull), 3);
  EXPECT_EQ(isnull, 0);

  lits five;
  ASSERT_EQ(dvz_rc_setall(&set.c, nullptr, five.i(5).get()), 0);
  EXPECT_EQ(elements(&set.c), (std::vector<std::string> {int_elem(5)})) << "a SET keeps one";

  /* A LIST keeps every element, each set to the value; text literals are
  ** converted for the field. */
  coll_var list(set_of_int(sql_type_list));
  lits three;
  ASSERT_EQ(dvz_rc_construct(&list.c, nullptr, three.i(1).sep().i(2).sep().i(3).get(), 0), 0);
  lits text;
  ASSERT_EQ(dvz_rc_setall(&list.c, nullptr, text.text("42").get()), 0);
  EXPECT_EQ(elements(&list.c), std::vector<std::string>(3, int_elem(42)));

  /* An insert position in a LIST. */
  lits at;
  ASSERT_EQ(dvz_rc_construct(&list.c, nullptr, at.i(7).get(), 2), 0);
  EXPECT_EQ(elements(&list.c),
            (std::vector<std::string> {int_elem(42), int_elem(7), int_elem(42), int_elem(42)}));
}

/* The first element of c read into a character host. */
std::string first_as_text(dvz_coll_t *c, sqli_tcb *tcb, int *rc) {
  dvz_coll_cursor_t cur;
  EXPECT_EQ(dvz_coll_open(c, &cur), 0);
  char *element = nullptr;
  int32_t len = 0;
  EXPECT_EQ(dvz_coll_next(c, &cur, &element, &len), 0);
  char text[40] = {};
  int16_t ind = 0;
  sqlvar_struct var {};
  var.sqltype = host_type_char;
  var.sqllen = sizeof text;
  var.sqldata = text;
  var.sqlind = &ind;
  *rc = dvz_rc_get(c, &cur, element, nullptr, 1, &var, 0, tcb);
  EXPECT_EQ(dvz_coll_close(c, &cur), 0);
  std::string out(text);
  return out.substr(0, out.find_last_not_of(' ') + 1);
}

TEST_F(CollectionRows, ConvertsEachLiteralForItsField) {
  struct row {
    const char *what;
    int type;
    int length;
    sqli_litval lit;
    const char *text; /* read back, or null when refused */
    int code;
  };
  static char date_text[] = "2026-12-11";
  static char long_text[] = "abcdefg";
  static char empty[] = "";
  static char one[] = "\1";
  constexpr int year_to_day = 0x0804;
  const row rows[] = {
      {"DATETIME text under its qualifier",
       sql_type_datetime,
       year_to_day,
       {date_text, sql_type_datetime, 10, year_to_day, 0},
       "2026-12-11",
       0},
      {"text cut to a VARCHAR",
       sql_type_varchar,
       5,
       {long_text, sql_type_char, 7, 0, 0},
       "abcde",
       0},
      {"empty text as BOOLEAN false", sql_type_boolean, 1, {empty, sql_type_char, 0, 0, 0}, "f", 0},
      {"byte 1 as BOOLEAN true", sql_type_boolean, 1, {one, sql_type_char, 1, 0, 0}, "t", 0},
      {"LVARCHAR without a length",
       sql_type_lvarchar,
       0,
       {long_text, sql_type_char, 7, 0, 0},
       "abcdefg",
       0},
      {"CHAR of length 0", sql_type_char, 0, {long_text, sql_type_char, 7, 0, 0}, nullptr, -406},
  };
  for (const row &r : rows) {
    coll_var v(make_typeinfo({{0, sql_type_list, 0}, {1, r.type, r.length}}));
    sqli_litval list[] = {r.lit, {}};
    _sqclrca(tcb);
    ASSERT_EQ(dvz_rc_construct(&v.c, nullptr, list, 0), r.code) << r.what;
    if (r.text == nullptr) continue;
    int rc = 0;
    EXPECT_EQ(first_as_text(&v.c, tcb, &rc), r.text) << r.what;
    EXPECT_EQ(rc, 0) << r.what;
  }
  /* The cut text raised the truncation warning. */
  coll_var v(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_varchar, 5}}));
  sqli_litval list[] = {{long_text, sql_type_char, 7, 0, 0}, {}};
  _sqclrca(tcb);
  ASSERT_EQ(dvz_rc_construct(&v.c, nullptr, list, 0), 0);
  EXPECT_EQ(std::string(SQLSTATE, 5), "01004");
}

TEST_F(CollectionRows, RefusedListsChangeNothing) {
  struct row {
    const char *what;
    std::function<typeinfo_ptr()> type;
    std::function<sqli_litval *(lits &)> list;
    int code;
  };
  const row rows[] = {
      {"NULL into NOT NULL", [] { return set_of_int(sql_type_set, 0x100); },
       [](lits &l) { return l.i(1).sep().null().get(); }, -1225},
      {"nested literal for a scalar", [] { return set_of_int(); },
       [](lits &l) { return l.open(sql_type_set).i(1).close().get(); }, -1818},
      {"scalar for a nested field",
       [] {
         return make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, 2, 4}});
       },
       [](lits &l) { return l.i(1).get(); }, -1818},
      {"opaque literal for INTEGER", [] { return set_of_int(); },
       [](lits &l) { return l.raw(sql_type_fixed_udt, 4).get(); }, -1818},
      {"INTEGER for an opaque field",
       [] {
         return make_typeinfo({{0, sql_type_set, 0}, {1, sql_type_fixed_udt, 4}});
       },
       [](lits &l) { return l.i(1).get(); }, -1818},
      {"more literals than fields", row_abc,
       [](lits &l) { return l.i(1).sep().i(2).sep().i(3).sep().i(4).get(); }, -1819},
      {"unclosed nested literal",
       [] {
         return make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, 2, 4}});
       },
       [](lits &l) { return l.open(sql_type_set).i(1).get(); }, -1818},
      {"text that is no number", [] { return set_of_int(); },
       [](lits &l) { return l.i(1).sep().text("x1").get(); }, -1213},
  };
  for (const row &r : rows) {
    coll_var v(r.type());
    lits l;
    EXPECT_EQ(dvz_rc_construct(&v.c, nullptr, r.list(l), 0), r.code) << r.what;
    EXPECT_EQ(sqlca.sqlcode, r.code) << r.what;
    EXPECT_EQ(v.c.cl_log, nullptr) << r.what;
    EXPECT_EQ(v.c.cl_cardinality, 0) << r.what;
    _sqclrca(tcb);
  }
}

TEST_F(CollectionRows, NamedInsertFillsTheOtherFieldsWithNull) {
  const std::string b = names({"b"});
  coll_var row(row_abc());
  lits one;
  ASSERT_EQ(dvz_rc_construct(&row.c, b.data(), one.i(20).get(), 0), 0);
  EXPECT_EQ(elements(&row.c), (std::vector<std::string> {null_int(), int_elem(20), null_int()}));

  coll_var list(list_of_rows());
  lits two;
  ASSERT_EQ(dvz_rc_construct(&list.c, b.data(), two.i(21).get(), 0), 0);
  ASSERT_EQ(list.c.cl_cardinality, 1);
  /* Read back field by field: NULLs show in the indicators. */
  int_out out[3];
  sqlvar_struct vars[3] = {out[0].var(), out[1].var(), out[2].var()};
  dvz_coll_cursor_t cur;
  ASSERT_EQ(dvz_coll_open(&list.c, &cur), 0);
  char *element = nullptr;
  int32_t len = 0;
  ASSERT_EQ(dvz_coll_next(&list.c, &cur, &element, &len), 0);
  EXPECT_EQ(dvz_rc_get(&list.c, &cur, element, nullptr, 3, vars, 0, tcb), 0);
  EXPECT_EQ(out[0].ind, -1);
  EXPECT_EQ(out[1].ind, 0);
  EXPECT_EQ(out[1].value, 21);
  EXPECT_EQ(out[2].ind, -1);
  /* With names, only the named field goes to the variable at its place. */
  const std::string cb = names({"c", "b"});
  int_out named[2];
  sqlvar_struct nvars[2] = {named[0].var(), named[1].var()};
  EXPECT_EQ(dvz_rc_get(&list.c, &cur, element, cb.data(), 2, nvars, 0, tcb), 0);
  EXPECT_EQ(named[0].ind, -1);
  EXPECT_EQ(named[1].value, 21);
  const std::string bad = names({"z"});
  EXPECT_EQ(dvz_rc_get(&list.c, &cur, element, bad.data(), 2, nvars, 0, tcb), -1816);
  ASSERT_EQ(dvz_coll_close(&list.c, &cur), 0);

  struct refusal {
    std::string names;
    int code;
  };
  for (const refusal &r : {refusal {names({"z"}), -1816}, refusal {names({"a", "b"}), -236}}) {
    coll_var fresh(row_abc());
    lits l;
    EXPECT_EQ(dvz_rc_construct(&fresh.c, r.names.data(), l.i(1).get(), 0), r.code);
    EXPECT_EQ(fresh.c.cl_log, nullptr);
  }
}

TEST_F(CollectionRows, UpdatesNamedFieldsOfRowsAndTheCursorElement) {
  coll_var row(row_abc());
  lits all;
  ASSERT_EQ(dvz_rc_construct(&row.c, nullptr, all.i(1).sep().i(2).sep().i(3).get(), 0), 0);
  const std::string cname = names({"c"});
  lits nine;
  ASSERT_EQ(dvz_rc_setall(&row.c, cname.data(), nine.i(9).get()), 0);
  EXPECT_EQ(elements(&row.c), (std::vector<std::string> {int_elem(1), int_elem(2), int_elem(9)}));
  const std::string zname = names({"z"});
  lits z;
  EXPECT_EQ(dvz_rc_setall(&row.c, zname.data(), z.i(9).get()), -1816);

  coll_var list(list_of_rows());
  for (int n : {10, 20}) {
    lits l;
    ASSERT_EQ(
        dvz_rc_construct(&list.c, nullptr,
                         l.open(sql_type_row).i(n).sep().i(n + 1).sep().i(n + 2).close().get(), 0),
        0);
  }
  const std::string bname = names({"b"});
  lits five;
  ASSERT_EQ(dvz_rc_setall(&list.c, bname.data(), five.i(5).get()), 0);
  dvz_coll_cursor_t cur;
  ASSERT_EQ(dvz_coll_open(&list.c, &cur), 0);
  for (int n : {10, 20}) {
    char *element = nullptr;
    int32_t len = 0;
    ASSERT_EQ(dvz_coll_next(&list.c, &cur, &element, &len), 0);
    int_out out[3];
    sqlvar_struct vars[3] = {out[0].var(), out[1].var(), out[2].var()};
    ASSERT_EQ(dvz_rc_get(&list.c, &cur, element, nullptr, 3, vars, 0, tcb), 0);
    EXPECT_EQ(out[0].value, n);
    EXPECT_EQ(out[1].value, 5);
    EXPECT_EQ(out[2].value, n + 2);
  }
  ASSERT_EQ(dvz_coll_close(&list.c, &cur), 0);

  /* At a cursor position: only the current element changes. */
  coll_var ints(set_of_int(sql_type_list));
  lits three;
  ASSERT_EQ(dvz_rc_construct(&ints.c, nullptr, three.i(1).sep().i(2).sep().i(3).get(), 0), 0);
  ASSERT_EQ(dvz_coll_open(&ints.c, &cur), 0);
  char *element = nullptr;
  int32_t len = 0;
  ASSERT_EQ(dvz_coll_next(&ints.c, &cur, &element, &len), 0);
  element = nullptr; /* a non-null pointer asks for a copy */
  ASSERT_EQ(dvz_coll_next(&ints.c, &cur, &element, &len), 0);
  lits eight;
  ASSERT_EQ(dvz_rc_updcur(&ints.c, nullptr, eight.i(8).get(), &cur, element), 0);
  ASSERT_EQ(dvz_coll_close(&ints.c, &cur), 0);
  EXPECT_EQ(elements(&ints.c), (std::vector<std::string> {int_elem(1), int_elem(8), int_elem(3)}));
}

TEST_F(CollectionRows, NestedLiteralsAndCollectionHostVariables) {
  coll_var list(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, 2, 4}}));
  coll_var inner(set_of_int());
  lits in;
  ASSERT_EQ(dvz_rc_construct(&inner.c, nullptr, in.i(7).get(), 0), 0);
  lits l;
  ASSERT_EQ(
      dvz_rc_construct(
          &list.c, nullptr,
          l.open(sql_type_set).i(1).sep().i(2).close().sep().null().sep().coll(&inner.c).get(), 0),
      0);
  ASSERT_EQ(list.c.cl_cardinality, 3);

  /* Each element into a collection host variable that has no type info:
  ** it receives the element's and owns it. */
  dvz_coll_cursor_t cur;
  ASSERT_EQ(dvz_coll_open(&list.c, &cur), 0);
  const std::vector<std::vector<std::string>> expected = {
      {int_elem(1), int_elem(2)}, {}, {int_elem(7)}};
  const int16_t expected_ind[] = {0, -1, 0};
  for (size_t k = 0; k < expected.size(); ++k) {
    char *element = nullptr;
    int32_t len = 0;
    ASSERT_EQ(dvz_coll_next(&list.c, &cur, &element, &len), 0);
    dvz_coll_t host {};
    int16_t ind = 5;
    sqlvar_struct var {};
    var.sqltype = host_type_collection;
    var.sqldata = reinterpret_cast<char *>(&host);
    var.sqlind = &ind;
    ASSERT_EQ(dvz_rc_get(&list.c, &cur, element, nullptr, 1, &var, 0, tcb), 0) << k;
    EXPECT_EQ(ind, expected_ind[k]) << k;
    if (ind == 0) {
      EXPECT_EQ(elements(&host), expected[k]) << k;
    }
    EXPECT_NE(host.cl_svr_typeinfo, nullptr);
    ASSERT_EQ(dvz_coll_free(&host), 0);
  }
  ASSERT_EQ(dvz_coll_close(&list.c, &cur), 0);
}

TEST_F(CollectionRows, ReadingIntoVariablesWithoutData) {
  coll_var set(set_of_int());
  lits l;
  ASSERT_EQ(dvz_rc_construct(&set.c, nullptr, l.i(4).get(), 0), 0);
  dvz_coll_cursor_t cur;
  ASSERT_EQ(dvz_coll_open(&set.c, &cur), 0);
  char *element = nullptr;
  int32_t len = 0;
  ASSERT_EQ(dvz_coll_next(&set.c, &cur, &element, &len), 0);
  sqlvar_struct var {};
  var.sqltype = host_type_int;
  var.sqllen = 4;
  EXPECT_EQ(dvz_rc_get(&set.c, &cur, element, nullptr, 1, &var, 0, tcb), -402);
  /* A collection host variable without its record. */
  coll_var list(make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, 2, 4}}));
  lits n;
  ASSERT_EQ(dvz_rc_construct(&list.c, nullptr, n.null().get(), 0), 0);
  dvz_coll_cursor_t lc;
  ASSERT_EQ(dvz_coll_open(&list.c, &lc), 0);
  element = nullptr; /* a non-null pointer asks for a copy */
  ASSERT_EQ(dvz_coll_next(&list.c, &lc, &element, &len), 0);
  var.sqltype = host_type_collection;
  EXPECT_EQ(dvz_rc_get(&list.c, &lc, element, nullptr, 1, &var, 0, tcb), -1814);
  ASSERT_EQ(dvz_coll_close(&list.c, &lc), 0);
  ASSERT_EQ(dvz_coll_close(&set.c, &cur), 0);

  dvz_coll_t untyped {};
  untyped.magic = DVZ_COLL_MAGIC;
  lits any;
  EXPECT_EQ(dvz_rc_construct(&untyped, nullptr, any.i(1).get(), 0), -1815);
  EXPECT_EQ(dvz_rc_construct(nullptr, nullptr, any.get(), 0), -1814);
}

/* Runs op on the first element of c under a cursor of its own. */
int on_first(dvz_coll_t *c, const std::function<int(dvz_coll_cursor_t *, char *)> &op) {
  dvz_coll_cursor_t cur;
  EXPECT_EQ(dvz_coll_open(c, &cur), 0);
  char *element = nullptr;
  int32_t len = 0;
  EXPECT_EQ(dvz_coll_next(c, &cur, &element, &len), 0);
  const int rc = op(&cur, element);
  EXPECT_EQ(dvz_coll_close(c, &cur), 0);
  return rc;
}

/* Every allocation of each operation failed in turn: -406 each time, the
** collection unchanged, and nothing leaked (LeakSanitizer). */
TEST_F(CollectionRows, MemoryFailuresGive406AndLeaveTheCollection) {
  const std::string b = names({"b"});
  struct op {
    const char *what;
    std::function<typeinfo_ptr()> type;
    std::function<int(dvz_coll_t *, lits &)> run;
    bool seeded = false; /* works on a collection holding one row */
  };
  const op ops[] = {
      {"insert into a SET", [] { return set_of_int(); },
       [](dvz_coll_t *c, lits &l) {
         return dvz_rc_construct(c, nullptr, l.i(1).sep().i(2).get(), 0);
       }},
      {"nested insert",
       [] {
         return make_typeinfo({{0, sql_type_list, 0}, {1, sql_type_set, 0}, {2, 2, 4}});
       },
       [](dvz_coll_t *c, lits &l) {
         return dvz_rc_construct(c, nullptr, l.open(sql_type_set).i(1).close().get(), 0);
       }},
      {"named insert into rows", list_of_rows,
       [&b](dvz_coll_t *c, lits &l) { return dvz_rc_construct(c, b.data(), l.i(1).get(), 0); }},
      {"set every row", list_of_rows,
       [&b](dvz_coll_t *c, lits &l) { return dvz_rc_setall(c, b.data(), l.i(3).get()); }, true},
      {"update the row at the cursor", list_of_rows,
       [&b](dvz_coll_t *c, lits &l) {
         return on_first(c, [&](dvz_coll_cursor_t *cur, char *element) {
           return dvz_rc_updcur(c, b.data(), l.i(4).get(), cur, element);
         });
       },
       true},
      {"read a row", list_of_rows,
       [this](dvz_coll_t *c, lits &) {
         return on_first(c, [&](dvz_coll_cursor_t *cur, char *element) {
           int_out out[3];
           sqlvar_struct vars[3] = {out[0].var(), out[1].var(), out[2].var()};
           return dvz_rc_get(c, cur, element, nullptr, 3, vars, 0, tcb);
         });
       },
       true},
  };
  for (const op &o : ops) {
    coll_var seed(o.type());
    if (o.seeded) {
      lits l;
      ASSERT_EQ(dvz_rc_construct(&seed.c, b.data(), l.i(1).get(), 0), 0);
    }
    int failures = 0;
    for (int at = 1; at < 64; ++at) {
      const std::vector<std::string> before = elements(&seed.c);
      lits l;
      int rc = 0;
      {
        FailingMemory fail(at);
        rc = o.run(&seed.c, l);
      }
      if (rc == 0) break;
      ++failures;
      EXPECT_EQ(rc, -406) << o.what << " allocation " << at;
      EXPECT_EQ(elements(&seed.c), before) << o.what << " allocation " << at;
      _sqclrca(tcb);
    }
    EXPECT_GT(failures, 0) << o.what;
  }
}

TEST_F(CollectionRows, ChecksBeforeABindList) {
  auto ti = set_of_int();
  dvz_coll_field_t &d0 = ti->ti_fields[0];
  dvz_coll_t coll {};
  ASSERT_EQ(dvz_coll_init(&coll, ti.get(), 1, nullptr, 0), 0);
  sqlvar_struct var {};
  var.sqltype = host_type_collection;
  var.sqldata = reinterpret_cast<char *>(&coll);

  struct row {
    int16_t field_len;
    int16_t type_len;
    int16_t owner_len;
    int code;
  };
  for (const row &r :
       {row {18, 18, 8, 0}, row {19, 0, 0, -253}, row {0, 19, 0, -253}, row {0, 0, 9, -253}}) {
    ti->ti_fields[1].fieldnmlen = r.field_len;
    d0.xtype_nm_len = r.type_len;
    d0.xtype_owner_len = r.owner_len;
    EXPECT_EQ(validate_cl_idents(1, &var, tcb), r.code) << r.field_len << r.type_len << r.owner_len;
    _sqclrca(tcb);
  }
  /* Descriptors after the next one numbered 0 are not looked at. */
  d0.xtype_nm_len = 0;
  d0.xtype_owner_len = 0;
  ti->ti_fields[1].fieldnmlen = 19;
  ti->ti_fields[1].seqno = 0;
  EXPECT_EQ(validate_cl_idents(1, &var, tcb), 0);

  EXPECT_EQ(validate_cl_types(1, &var, tcb), 0);
  coll.cl_typed = 0;
  coll.cl_typeinfo = nullptr;
  EXPECT_EQ(validate_cl_types(1, &var, tcb), -1815);
  EXPECT_EQ(validate_cl_idents(1, &var, tcb), 0) << "left to the type check";
  var.sqldata = nullptr;
  EXPECT_EQ(validate_cl_types(1, &var, tcb), -1814);
  EXPECT_EQ(validate_cl_idents(1, &var, tcb), -1814);
  int16_t ind = -1;
  var.sqlind = &ind;
  EXPECT_EQ(validate_cl_types(1, &var, tcb), 0) << "a NULL by its indicator needs no data";
}

TEST_F(CollectionRows, CardinalityAndRowTypeName) {
  EXPECT_EQ(dvz_cl_card(nullptr, nullptr), -1814);
  coll_var set(set_of_int());
  set.c.cl_flags |= DVZ_COLL_NULL;
  int isnull = 0;
  EXPECT_EQ(dvz_cl_card(&set.c, &isnull), 0);
  EXPECT_EQ(isnull, 1);

  EXPECT_EQ(dvz_cl_get_row_xtype(nullptr), nullptr);
  coll_var row(row_abc());
  dvz_coll_field_t &d0 = row.ti->ti_fields[0];
  char *text = dvz_cl_get_row_xtype(&row.c);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text).rfind("row(", 0), 0u) << text;
  std::free(text);
  d0.type = static_cast<int16_t>(d0.type | 0x1000);
  std::memcpy(d0.xtype_name, "point", 5);
  d0.xtype_nm_len = 5;
  text = dvz_cl_get_row_xtype(&row.c);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "point");
  std::free(text);
}

TEST_F(CollectionRows, ReleaseWithoutAServerHandleSendsNothing) {
  coll_var set(set_of_int());
  EXPECT_EQ(_sqrelcoll(&set.c, tcb), 0);
  EXPECT_EQ(_sqrelcoll(nullptr, tcb), 0);
}

}  // namespace
