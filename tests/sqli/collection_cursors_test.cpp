/*
** Statements and cursors on collection and row host variables: the
** allocation of collection host variables, the placeholder filling and
** NULL marking of literal-values lists on their own, and DECLARE, PREPARE,
** OPEN, FETCH, PUT, FLUSH, CLOSE, DESCRIBE, EXECUTE, SELECT ... INTO and
** the statement path on collections built with the value library. The
** cursor tests hold a connection to the SQLI server double (cursor
** records live on a connection) and check from its journal that the
** collection statements send nothing.
*/
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "coll_fixtures.h"
#include "double_server.h"
#include "gen_collection.h"
#include "gen_types.h"
#include "gen_value.h"
#include "runtime_fixture.h"
#include "runtime_session.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_descriptor.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_prepare.h"
#include "sqli_statement.h"
#include "sqli_statements.h"
#include "sqli_status.h"

/* The public field form is fixed byte for byte. */
static_assert(sizeof(dvz_cl_pubfield) == 84);
static_assert(offsetof(dvz_cl_pubfield, fieldname) == 8);
static_assert(offsetof(dvz_cl_pubfield, field_no) == 26);
static_assert(offsetof(dvz_cl_pubfield, xid) == 32);
static_assert(offsetof(dvz_cl_pubfield, xtype_name) == 40);
static_assert(offsetof(dvz_cl_pubfield, xtype_owner_len) == 58);
static_assert(offsetof(dvz_cl_pubfield, xtype_owner_name) == 60);
static_assert(offsetof(dvz_cl_pubfield, align) == 78);
static_assert(offsetof(dvz_cl_pubfield, srctype) == 80);

namespace {

using sqli_test::DoubleServer;

constexpr int not_null = 0x100;
/* A client-side collection host variable (host type 118 with its flag). */
constexpr int client_coll = host_type_collection | 0x8000;

/* A public descriptor: seqno, level, type word, length word, name. */
dvz_cl_pubfield pub(int seqno, int level, int type, int length, const char *name = "") {
  dvz_cl_pubfield f {};
  f.seqno = static_cast<int16_t>(seqno);
  f.level_no = static_cast<int16_t>(level);
  f.type = static_cast<int16_t>(type);
  f.length = static_cast<int16_t>(length);
  f.fieldnmlen = static_cast<int16_t>(std::strlen(name));
  std::memcpy(f.fieldname, name, std::strlen(name));
  return f;
}

/* A collection host variable of the type the descriptors give (a
** terminating entry is added). */
dvz_coll_t *alloc_coll(std::vector<dvz_cl_pubfield> fields) {
  fields.push_back(dvz_cl_pubfield {});
  dvz_coll_t *coll = nullptr;
  EXPECT_EQ(dvz_cl_alloc(&coll, fields.data()), 0) << sqlca.sqlcode;
  return coll;
}
dvz_coll_t *set_of_int() {
  return alloc_coll({pub(1, 0, sql_type_set, 0), pub(2, 1, sql_type_integer | not_null, 4)});
}
/* A LIST of ROW(a INTEGER, b INTEGER). */
dvz_coll_t *list_of_rows() {
  return alloc_coll({pub(1, 0, sql_type_list, 0), pub(2, 1, sql_type_row, 0),
                     pub(3, 2, sql_type_integer, 4, "a"), pub(4, 2, sql_type_integer, 4, "b")});
}
/* A row variable ROW(x INTEGER, y INTEGER). */
dvz_coll_t *row_var() {
  return alloc_coll({pub(1, 0, sql_type_row, 0), pub(2, 1, sql_type_integer, 4, "x"),
                     pub(3, 1, sql_type_integer, 4, "y")});
}

void insert_ints(dvz_coll_t *coll, std::initializer_list<int> values) {
  for (int v : values) {
    std::string e = coll_test::int_elem(v);
    ASSERT_EQ(dvz_coll_insert(coll, e.data(), 4, 0), 0);
  }
}

/* The INTEGER elements of coll, read through a cursor of its own. */
std::vector<int> ints_of(dvz_coll_t *coll) {
  std::vector<int> out;
  dvz_coll_cursor_t cur {};
  EXPECT_EQ(dvz_coll_open(coll, &cur), 0);
  char *data = nullptr;
  int32_t len = 0;
  while (dvz_coll_next(coll, &cur, &data, &len) == 0) {
    value_t v {};
    EXPECT_EQ(rdataval(data, sql_type_integer, 4, &v), 0);
    out.push_back(v.vint);
    data = nullptr;
  }
  dvz_coll_close(coll, &cur);
  return out;
}

void release(dvz_coll_t *&coll) {
  if (coll != nullptr) {
    EXPECT_EQ(dvz_cl_dealloc(&coll), 0) << sqlca.sqlcode;
  }
  EXPECT_EQ(coll, nullptr);
}

/* Host variables. */
sqlvar_struct coll_host(dvz_coll_t *coll, int type = client_coll) {
  sqlvar_struct v {};
  v.sqltype = static_cast<int16_t>(type);
  v.sqllen = static_cast<int32_t>(sizeof(dvz_coll_t));
  v.sqldata = reinterpret_cast<char *>(coll);
  return v;
}
sqlvar_struct int_host(int32_t *value, int16_t *ind = nullptr) {
  sqlvar_struct v {};
  v.sqltype = host_type_long;
  v.sqllen = 4;
  v.sqldata = reinterpret_cast<char *>(value);
  v.sqlind = ind;
  return v;
}

/* A literal-values list ends with an all-zero entry. */
sqli_litval lit(int type, void *value = nullptr, int length = 0, int nesting = 0) {
  return sqli_litval {static_cast<char *>(value), static_cast<int16_t>(type),
                      static_cast<int16_t>(length), 0, static_cast<int16_t>(nesting)};
}
const sqli_litval end_lit {};

/* ---- Allocation -------------------------------------------------------------------------- */

class CollectionAllocTest : public sqli_test::StartedRuntimeTest {};

TEST_F(CollectionAllocTest, PublicDescriptorsBecomeAnOwnedClientTypeInfo) {
  dvz_cl_pubfield d0 = pub(1, 0, sql_type_row, 0);
  std::memcpy(d0.xtype_name, "person_row_type_18", 18); /* full width, no terminator */
  d0.xtype_nm_len = 18;
  std::memcpy(d0.xtype_owner_name, "owner", 5);
  d0.xtype_owner_len = 5;
  d0.xid = 0x01020304;
  d0.srctype = 77;
  d0.align = 8;
  d0.flags = 0x10;
  d0.field_no = 9;
  d0.parent_no = -1;
  dvz_cl_pubfield d1 = pub(2, 1, sql_type_char, 20, "name_of_the_person");
  dvz_coll_t *coll = alloc_coll({d0, d1});
  ASSERT_NE(coll, nullptr);
  ASSERT_NE(coll->cl_typeinfo, nullptr);
  EXPECT_NE(coll->cl_typed, 0);
  EXPECT_NE(coll->cl_flags & DVZ_COLL_OWNS_TYPEINFO, 0u);
  const dvz_coll_typeinfo_t *ti = coll->cl_typeinfo;
  ASSERT_EQ(ti->ti_count, 2);
  const dvz_coll_field_t &f0 = ti->ti_fields[0];
  EXPECT_EQ(std::string(f0.xtype_name), "person_row_type_18");
  EXPECT_EQ(std::string(f0.xtype_owner_name), "owner");
  EXPECT_EQ(f0.fieldname[0], 0);
  EXPECT_EQ(f0.xid, 0x01020304);
  EXPECT_EQ(f0.srctype, 77);
  EXPECT_EQ(f0.align, 8);
  EXPECT_EQ(f0.flags, 0x10);
  EXPECT_EQ(f0.field_no, 9);
  EXPECT_EQ(f0.parent_no, -1);
  EXPECT_EQ(f0.type, sql_type_row);
  const dvz_coll_field_t &f1 = ti->ti_fields[1];
  EXPECT_EQ(std::string(f1.fieldname), "name_of_the_person");
  EXPECT_EQ(f1.fieldnmlen, 18);
  EXPECT_EQ(f1.level_no, 1);
  EXPECT_EQ(f1.length, 20);
  EXPECT_EQ(sqli_coll_is_row(coll), 1);
  release(coll); /* LeakSanitizer: the type info goes with it */
}

TEST_F(CollectionAllocTest, WithoutDescriptorsAZeroedRecord) {
  dvz_coll_t *coll = nullptr;
  ASSERT_EQ(dvz_cl_alloc(&coll, nullptr), 0);
  ASSERT_NE(coll, nullptr);
  EXPECT_EQ(coll->cl_typeinfo, nullptr);
  EXPECT_EQ(coll->cl_svr_typeinfo, nullptr);
  release(coll);
  /* Nothing to release is no error. */
  EXPECT_EQ(dvz_cl_dealloc(&coll), 0);
}

TEST_F(CollectionAllocTest, MemoryFailureLeavesThePointerUntouched) {
  dvz_cl_pubfield fields[] = {pub(1, 0, sql_type_set, 0), pub(2, 1, sql_type_integer, 4), {}};
  dvz_coll_t *coll = nullptr;
  {
    sqli_test::FailingMemory fail(1);
    EXPECT_EQ(dvz_cl_alloc(&coll, fields), SQLI_E_NOMEM);
  }
  EXPECT_EQ(sqlca.sqlcode, SQLI_E_NOMEM);
  EXPECT_EQ(coll, nullptr);
}

TEST_F(CollectionAllocTest, DeallocFreesElementsAndOwnedData) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {1, 2, 3});
  ASSERT_EQ(dvz_coll_tuple(coll), 0);
  EXPECT_EQ(ints_of(coll), (std::vector<int> {1, 2, 3}));
  release(coll);
}

/* ---- Literal values -------------------------------------------------------------------- */

class LiteralValuesTest : public sqli_test::StartedRuntimeTest {};

TEST_F(LiteralValuesTest, PlaceholdersAreFilledAgainOnEveryCall) {
  char text[] = "7";
  sqli_litval lits[] = {lit(sqli_lit_placeholder), lit(sql_type_integer, text, 1, 1),
                        lit(sqli_lit_placeholder), end_lit};
  void *owned = nullptr;
  int32_t a = 1, b = 2;
  char name[9] = "abc";
  sqlvar_struct vars[] = {int_host(&a), {}};
  vars[1].sqltype = host_type_char;
  vars[1].sqllen = 9;
  vars[1].sqldata = name;
  ASSERT_EQ(conv_desc2lit(2, vars, lits, 6, &owned), 0);
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(lits[0].value, reinterpret_cast<char *>(&a));
  EXPECT_EQ(lits[0].type, sql_type_integer);
  EXPECT_EQ(lits[0].length, 4);
  EXPECT_EQ(lits[1].value, text); /* a literal of the text stays */
  EXPECT_EQ(lits[2].value, name);
  EXPECT_EQ(lits[2].type, sql_type_char);
  EXPECT_EQ(lits[2].length, 9);
  /* The second run finds the same entries, though they are no longer -3. */
  vars[0] = int_host(&b);
  ASSERT_EQ(conv_desc2lit(2, vars, lits, 6, &owned), 0);
  EXPECT_EQ(lits[0].value, reinterpret_cast<char *>(&b));
  EXPECT_EQ(lits[2].value, name);
  /* A row host variable keeps its host type 123. */
  dvz_coll_t row {};
  vars[1] = coll_host(&row, host_type_row);
  ASSERT_EQ(conv_desc2lit(2, vars, lits, 6, &owned), 0);
  EXPECT_EQ(lits[2].type, host_type_row);
  std::free(owned);
}

TEST_F(LiteralValuesTest, CountMismatchIsRefusedBeforeAnythingIsFilled) {
  struct row {
    int nvars;
    bool empty_list;
    int stmt_type;
    int code;
  };
  const row rows[] = {
      {1, false, 6, -236}, {3, false, 6, -236}, {1, false, 33, -505},
      {3, false, 2, -505}, {1, true, 6, -236},  {1, true, 33, -505},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(testing::Message() << r.nvars << " vars, type " << r.stmt_type);
    sqli_litval two[] = {lit(sqli_lit_placeholder), lit(sqli_lit_placeholder), end_lit};
    sqli_litval none[] = {end_lit};
    sqli_litval *lits = r.empty_list ? none : two;
    int32_t v[3] = {};
    sqlvar_struct vars[] = {int_host(&v[0]), int_host(&v[1]), int_host(&v[2])};
    void *owned = nullptr;
    _sqclrca(tcb);
    EXPECT_EQ(conv_desc2lit(r.nvars, vars, lits, r.stmt_type, &owned), r.code);
    EXPECT_EQ(sqlca.sqlcode, r.code);
    if (!r.empty_list) {
      EXPECT_EQ(two[0].value, nullptr);
    }
    std::free(owned);
  }
}

TEST_F(LiteralValuesTest, IndicatorsMarkNullAndHostCharacterEntries) {
  int32_t n = 5;
  char text[11] = "hello";
  int16_t null_ind = -1, set_ind = 0;
  sqlvar_struct vars[] = {int_host(&n, &null_ind), {}};
  vars[1].sqltype = host_type_char;
  vars[1].sqllen = 11;
  vars[1].sqldata = text;
  vars[1].sqlind = &set_ind;
  sqli_litval lits[] = {lit(sql_type_integer, &n, 4), /* designates the NULL variable */
                        lit(sql_type_integer, &n, 4, 2), /* nested: passed over */
                        lit(sql_type_char, text, 11), /* character from a host variable */
                        lit(sql_type_integer, text, 4), /* not a character entry */
                        lit(sqli_lit_sep_runtime, &n, 0), /* separator: passed over */
                        end_lit};
  lits[2].flags = 0;
  setlitnull(2, vars, lits);
  EXPECT_EQ(lits[0].type, sqli_lit_null);
  EXPECT_EQ(lits[0].length, 0);
  EXPECT_EQ(lits[1].type, sql_type_integer);
  EXPECT_EQ(lits[2].flags, SQLI_LIT_HOSTCHAR);
  EXPECT_EQ(lits[3].flags, 0);
  EXPECT_EQ(lits[4].type, sqli_lit_sep_runtime);
}

/* ---- Statements without a cursor --------------------------------------------------------- */

class CollectionStatementTest : public sqli_test::StartedRuntimeTest {
 protected:
  int stmt(std::vector<sqlvar_struct> inputs, sqli_litval *lits, int kind, void *cursor = nullptr,
           void *fields = nullptr) {
    sqli_stmtrec rec {};
    return sqli_stmt(1, &rec, nullptr, static_cast<int32_t>(inputs.size()), inputs.data(), nullptr,
                     lits, fields, cursor, kind, 0, 1);
  }
  int select_into(dvz_coll_t *coll, int32_t *out) {
    sqlvar_struct in = coll_host(coll);
    sqlvar_struct o = int_host(out);
    return sqli_slct(1, nullptr, nullptr, 1, &in, 1, &o, 0, nullptr, nullptr, nullptr, nullptr, 1);
  }
};

TEST_F(CollectionStatementTest, SelectIntoNeedsExactlyOneElement) {
  struct row {
    std::initializer_list<int> elements;
    int code;
    int32_t delivered;
  };
  const row rows[] = {{{}, 100, -9}, {{42}, 0, 42}, {{42, 43}, -284, 42}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.code);
    dvz_coll_t *coll = set_of_int();
    insert_ints(coll, r.elements);
    int32_t out = -9;
    EXPECT_EQ(select_into(coll, &out), r.code);
    EXPECT_EQ(sqlca.sqlcode, r.code);
    EXPECT_EQ(out, r.delivered);
    EXPECT_EQ(coll->cl_curs, nullptr); /* the private cursor is closed */
    release(coll);
  }
}

TEST_F(CollectionStatementTest, InputsThatAreNoCollectionAreRefused) {
  int32_t n = 1;
  sqli_litval lits[] = {end_lit};
  EXPECT_EQ(stmt({}, lits, 6), -1817);
  /* A leading SMALLINT or INTEGER variable alone is no collection either. */
  EXPECT_EQ(stmt({int_host(&n)}, lits, 6), -1817);
  EXPECT_EQ(stmt({coll_host(nullptr)}, lits, 6), -1814);
  int32_t out = 0;
  EXPECT_EQ(select_into(nullptr, &out), -1814);
  sqlvar_struct in = int_host(&n);
  sqlvar_struct o = int_host(&out);
  EXPECT_EQ(sqli_slct(1, nullptr, nullptr, 1, &in, 1, &o, 0, nullptr, nullptr, nullptr, nullptr, 1),
            -1817);
}

TEST_F(CollectionStatementTest, RowVariableRefusesInsertAndDeletes) {
  for (int kind : {6, 8, 32}) {
    SCOPED_TRACE(kind);
    dvz_coll_t *row = row_var();
    const dvz_coll_t before = *row;
    int32_t x = 1;
    sqli_litval lits[] = {lit(sql_type_integer, &x, 4), lit(sql_type_integer, &x, 4), end_lit};
    EXPECT_EQ(stmt({coll_host(row, host_type_row)}, lits, kind), -1825);
    EXPECT_EQ(sqlca.sqlcode, -1825);
    EXPECT_EQ(std::memcmp(&before, row, sizeof before), 0);
    release(row);
  }
}

TEST_F(CollectionStatementTest, DeleteWithoutPositionEmptiesTheCollection) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {1, 2, 3});
  int32_t skipped = 9;
  sqli_litval lits[] = {end_lit};
  /* The leading INTEGER variable is passed over. */
  EXPECT_EQ(stmt({int_host(&skipped), coll_host(coll)}, lits, 32), 0);
  EXPECT_TRUE(ints_of(coll).empty());
  release(coll);
}

TEST_F(CollectionStatementTest, InsertBuildsOneElementPerLiteral) {
  dvz_coll_t *coll = set_of_int();
  char one[] = "1", two[] = "2", three[] = "3";
  sqli_litval lits[] = {lit(sql_type_integer, one, 1, 1),   lit(sqli_lit_sep, nullptr, 0),
                        lit(sql_type_integer, two, 1, 1),   lit(sqli_lit_sep, nullptr, 0),
                        lit(sql_type_integer, three, 1, 1), end_lit};
  EXPECT_EQ(stmt({coll_host(coll)}, lits, 6), 0) << sqlca.sqlcode;
  EXPECT_EQ(ints_of(coll), (std::vector<int> {1, 2, 3}));
  release(coll);
}

/* ---- Cursors and prepared statements ------------------------------------------------------- */

class CollectionCursorTest : public sqli_test::RuntimeSessionTest {
 protected:
  void SetUp() override {
    RuntimeSessionTest::SetUp();
    connect(server);
    ASSERT_EQ(sqlca.sqlcode, 0);
    sent_before = server.entries("sqli").size();
  }
  void TearDown() override {
    /* Nothing any collection statement did went to the server. */
    EXPECT_EQ(server.entries("sqli").size(), sent_before);
    RuntimeSessionTest::TearDown();
  }
  /* DECLARE name CURSOR FOR text on the collection of `in`. */
  void *declare_on(const char *name, const char *text, sqlvar_struct *in, sqlvar_struct *out,
                   sqli_litval *lits, int type, void *fields = nullptr) {
    void *h = sqli_curs_locate(1, name, SQLI_LOCATE_KEEP_CASE);
    EXPECT_NE(h, nullptr);
    const char *pieces[] = {text, nullptr};
    sqli_varlist input {1, in};
    sqli_varlist output {1, out};
    EXPECT_EQ(sqli_curs_decl_stat(1, h, name, pieces, in != nullptr ? &input : nullptr,
                                  out != nullptr ? &output : nullptr, 0, lits, fields, type, 0, 1),
              0)
        << sqlca.sqlcode;
    return h;
  }
  int fetch(void *h) {
    sqli_fetchspec spec {0, 1, 0};
    return sqli_curs_fetch(1, h, nullptr, nullptr, nullptr, &spec);
  }
  DoubleServer server;
  size_t sent_before = 0;
};

TEST_F(CollectionCursorTest, FetchPastTheEndKeepsTheCursorOpen) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {10, 20, 30});
  int32_t got = 0;
  sqlvar_struct in = coll_host(coll);
  sqlvar_struct out = int_host(&got);
  sqli_litval lits[] = {end_lit};
  void *h = declare_on("cc1", "select * from table(:s)", &in, &out, lits, 2);
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  std::vector<int> seen;
  while (fetch(h) == 0)
    seen.push_back(got);
  EXPECT_EQ(sqlca.sqlcode, 100);
  EXPECT_EQ(seen, (std::vector<int> {10, 20, 30}));
  EXPECT_EQ(fetch(h), 100); /* still open: not -400 */
  EXPECT_EQ(sqli_curs_close(1, h), 0);
  EXPECT_EQ(sqli_curs_close(1, h), -259);
  EXPECT_EQ(fetch(h), -400);
  /* OPEN again starts from the first element. */
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(fetch(h), 0);
  EXPECT_EQ(got, 10);
  /* DECLARE again while open closes the collection cursor first. */
  ASSERT_NE(coll->cl_curs, nullptr);
  h = declare_on("cc1", "select * from table(:s) where 1 = 1", &in, &out, lits, 2);
  EXPECT_EQ(coll->cl_curs, nullptr);
  EXPECT_STREQ(sqli_handle_cursor(h)->stmt_text[0], "select * from table(:s) where 1 = 1");
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  /* FREE closes the collection cursor with the record. */
  EXPECT_EQ(sqli_curs_free(1, h), 0);
  EXPECT_EQ(coll->cl_curs, nullptr);
  release(coll);
}

TEST_F(CollectionCursorTest, TransactionEndClosesWithoutTheServer) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {1});
  int32_t got = 0;
  sqlvar_struct in = coll_host(coll);
  sqlvar_struct out = int_host(&got);
  sqli_litval lits[] = {end_lit};
  void *h = declare_on("cc_tx", "select * from table(:s)", &in, &out, lits, 2);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  sqli_trans_commit();
  /* The commit alone went to the server: its message and the end. */
  const auto sent = server.entries("sqli");
  std::vector<long> codes;
  for (size_t i = sent_before; i < sent.size(); ++i)
    codes.push_back(sent[i].number("code"));
  EXPECT_EQ(codes, (std::vector<long> {19, 12}));
  sent_before = sent.size();
  /* Closed: the collection is no longer chained to the record. */
  EXPECT_EQ(coll->cl_curs, nullptr);
  EXPECT_EQ(fetch(h), -400);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, DeclareOutOfMemoryLeavesNothingBehind) {
  dvz_coll_t *coll = set_of_int();
  sqlvar_struct in = coll_host(coll);
  sqli_litval lits[] = {lit(sqli_lit_placeholder), end_lit};
  const char *pieces[] = {"insert into table(:s) values (?)", nullptr};
  sqli_varlist input {1, &in};
  int failures = 0;
  for (int at = 1;; ++at) {
    void *h = sqli_curs_locate(1, "oom_cur", SQLI_LOCATE_KEEP_CASE);
    ASSERT_NE(h, nullptr);
    int rc = 0;
    {
      sqli_test::FailingMemory fail(at);
      rc = sqli_curs_decl_stat(1, h, "oom_cur", pieces, &input, nullptr, 0, lits, nullptr, 6, 0, 1);
    }
    EXPECT_EQ(sqli_curs_free(1, h), 0);
    if (rc == 0) break;
    EXPECT_EQ(rc, SQLI_E_NOMEM) << "allocation " << at;
    ++failures;
  }
  EXPECT_GE(failures, 2); /* the literal values and the text */
  release(coll);
}

TEST_F(CollectionCursorTest, DeallocReleasesTheServerCopy) {
  dvz_coll_t *coll = set_of_int();
  coll->cl_handle = 0x0A0B0C0D;
  EXPECT_EQ(dvz_cl_dealloc(&coll), 0) << sqlca.sqlcode;
  EXPECT_EQ(coll, nullptr);
  const auto released = server.messages(105);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get("raw").substr(0, 12), "00690a0b0c0d");
  sent_before = server.entries("sqli").size();
}

TEST_F(CollectionCursorTest, DeclareChecksTheCollectionVariable) {
  dvz_coll_t untyped {};
  int32_t n = 0;
  struct row {
    sqlvar_struct in;
    int code;
  };
  const row rows[] = {
      {int_host(&n), -1817}, {coll_host(nullptr), -1814}, {coll_host(&untyped), -1815}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.code);
    void *h = sqli_curs_locate(1, "cc2", SQLI_LOCATE_KEEP_CASE);
    const char *pieces[] = {"select * from table(:s)", nullptr};
    sqlvar_struct in = r.in;
    sqli_varlist input {1, &in};
    sqli_litval lits[] = {end_lit};
    EXPECT_EQ(sqli_curs_decl_stat(1, h, "cc2", pieces, &input, nullptr, 0, lits, nullptr, 2, 0, 1),
              r.code);
    EXPECT_EQ(sqli_curs_free(1, h), 0);
  }
}

TEST_F(CollectionCursorTest, PutInsertsAtOnceAndFlushHasNothingToDo) {
  dvz_coll_t *coll = set_of_int();
  sqli_litval lits[] = {lit(sqli_lit_placeholder), end_lit};
  void *sh = sqli_prep(1, "ins_stmt", "insert into table(:s) values (?)", lits, nullptr, 6, 0, 1);
  ASSERT_NE(sh, nullptr) << sqlca.sqlcode;
  void *ch = sqli_curs_locate(1, "ins_cur", SQLI_LOCATE_KEEP_CASE);
  ASSERT_EQ(sqli_curs_decl_dynm(1, ch, "ins_cur", sh, 0, 1), 0) << sqlca.sqlcode;
  sqlvar_struct cv = coll_host(coll);
  sqlda open_in {1, &cv, {}, 0, nullptr, nullptr};
  ASSERT_EQ(sqli_curs_open(1, ch, &open_in, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
  for (int32_t v : {5, 6}) {
    int32_t value = v;
    sqlvar_struct iv = int_host(&value);
    sqlda put_in {1, &iv, {}, 0, nullptr, nullptr};
    EXPECT_EQ(sqli_curs_put(1, ch, &put_in, nullptr), 0) << sqlca.sqlcode;
  }
  /* Applied at once: another cursor sees both elements now. */
  EXPECT_EQ(ints_of(coll), (std::vector<int> {5, 6}));
  EXPECT_EQ(sqli_curs_flush(1, ch), 0);
  EXPECT_EQ(ints_of(coll), (std::vector<int> {5, 6}));
  EXPECT_EQ(sqli_curs_close(1, ch), 0);
  EXPECT_EQ(sqli_curs_put(1, ch, nullptr, nullptr), -413);
  EXPECT_EQ(dvz_cl_put(nullptr, nullptr, nullptr, tcb), -414);
  EXPECT_EQ(sqli_curs_put(1, ch, nullptr, "no_such_descriptor"), -469);
  EXPECT_EQ(sqli_curs_free(1, ch), 0);
  EXPECT_EQ(sqli_curs_free(1, sh), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, FlushAndPutRefuseWhatIsNoPreparedInsert) {
  dvz_coll_t *coll = set_of_int();
  int32_t got = 0;
  sqlvar_struct in = coll_host(coll);
  sqlvar_struct out = int_host(&got);
  sqli_litval lits[] = {end_lit};
  /* Declared directly on text: FLUSH has no prepared record. */
  void *h = declare_on("cc3", "insert into table(:s) values (1)", &in, nullptr, lits, 6);
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(sqli_curs_flush(1, h), -404);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
  /* A SELECT cursor takes no PUT. */
  h = declare_on("cc4", "select * from table(:s)", &in, &out, lits, 2);
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(sqli_curs_put(1, h, nullptr, nullptr), -488);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, DescribeOfACollectionOfRowsGivesTheRowFields) {
  dvz_coll_t *coll = list_of_rows();
  sqli_litval lits[] = {end_lit};
  void *sh = sqli_prep(1, "sel_rows", "select * from table(:l)", lits, nullptr, 2, 0, 1);
  ASSERT_NE(sh, nullptr);
  sqlda *desc = nullptr;
  /* Before a cursor on it is open the collection is unknown. */
  EXPECT_EQ(sqli_describe_stmt(1, sh, &desc, nullptr), -259);
  void *ch = sqli_curs_locate(1, "rows_cur", SQLI_LOCATE_KEEP_CASE);
  ASSERT_EQ(sqli_curs_decl_dynm(1, ch, "rows_cur", sh, 0, 1), 0);
  sqlvar_struct cv = coll_host(coll);
  sqlda open_in {1, &cv, {}, 0, nullptr, nullptr};
  ASSERT_EQ(sqli_curs_open(1, ch, &open_in, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
  ASSERT_EQ(sqli_describe_stmt(1, sh, &desc, nullptr), 0) << sqlca.sqlcode;
  ASSERT_NE(desc, nullptr);
  ASSERT_EQ(desc->sqld, 2);
  EXPECT_STREQ(desc->sqlvar[0].sqlname, "a");
  EXPECT_STREQ(desc->sqlvar[1].sqlname, "b");
  EXPECT_EQ(desc->sqlvar[0].sqltype, sql_type_integer);
  EXPECT_EQ(desc->sqlvar[1].sqllen, 4);
  std::free(desc);
  EXPECT_EQ(sqli_curs_free(1, ch), 0);
  EXPECT_EQ(sqli_curs_free(1, sh), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, DescribeIntoANamedDescriptorOwnsItsCopies) {
  dvz_coll_t *coll = list_of_rows();
  sqli_litval lits[] = {end_lit};
  void *sh = sqli_prep(1, "sel_desc", "select * from table(:l)", lits, nullptr, 2, 0, 1);
  void *ch = sqli_curs_locate(1, "desc_cur", SQLI_LOCATE_KEEP_CASE);
  ASSERT_EQ(sqli_curs_decl_dynm(1, ch, "desc_cur", sh, 0, 1), 0);
  sqlvar_struct cv = coll_host(coll);
  sqlda open_in {1, &cv, {}, 0, nullptr, nullptr};
  ASSERT_EQ(sqli_curs_open(1, ch, &open_in, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(sqli_describe_stmt(1, sh, nullptr, "no_such_desc"), -469);
  ASSERT_EQ(sqli_desc_alloc("small_desc", 1), 0);
  EXPECT_EQ(sqli_describe_stmt(1, sh, nullptr, "small_desc"), -479);
  ASSERT_EQ(sqli_desc_alloc("room_desc", 4), 0);
  ASSERT_EQ(sqli_describe_stmt(1, sh, nullptr, "room_desc"), 0) << sqlca.sqlcode;
  const sqlda *d = _iqdlocate("room_desc", tcb);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->sqld, 2);
  for (int i = 0; i < 2; ++i) {
    const sqlvar_struct &v = d->sqlvar[i];
    EXPECT_STREQ(v.sqlname, i == 0 ? "a" : "b");
    EXPECT_NE(v.sqlname, coll->cl_typeinfo->ti_fields[2 + i].fieldname); /* a copy */
    EXPECT_NE(v.sqlflags & sqlvar_own_name, 0);
    EXPECT_NE(v.sqlflags & sqlvar_own_data, 0);
    EXPECT_NE(v.sqldata, nullptr);
  }
  /* Describing again replaces the copies (LeakSanitizer checks the old). */
  ASSERT_EQ(sqli_describe_stmt(1, sh, nullptr, "room_desc"), 0);
  EXPECT_EQ(sqli_desc_dealloc("small_desc"), 0);
  EXPECT_EQ(sqli_desc_dealloc("room_desc"), 0);
  EXPECT_EQ(sqli_curs_free(1, ch), 0);
  EXPECT_EQ(sqli_curs_free(1, sh), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, DescribeOfNamedFieldsFollowsTheList) {
  dvz_coll_t *coll = list_of_rows();
  sqli_litval lits[] = {end_lit};
  char names[3][SQLI_FIELDNAME_SIZE] = {"b  ", "a", ""};
  char unknown[2][SQLI_FIELDNAME_SIZE] = {"c", ""};
  for (auto *list : {static_cast<void *>(names), static_cast<void *>(unknown)}) {
    void *sh = sqli_prep(1, "sel_named", "select b, a from table(:l)", lits, list, 2, 0, 1);
    ASSERT_NE(sh, nullptr);
    void *ch = sqli_curs_locate(1, "named_cur", SQLI_LOCATE_KEEP_CASE);
    ASSERT_EQ(sqli_curs_decl_dynm(1, ch, "named_cur", sh, 0, 1), 0);
    sqlvar_struct cv = coll_host(coll);
    sqlda open_in {1, &cv, {}, 0, nullptr, nullptr};
    ASSERT_EQ(sqli_curs_open(1, ch, &open_in, nullptr, nullptr, 0, 0), 0);
    sqlda *desc = nullptr;
    if (list == static_cast<void *>(names)) {
      ASSERT_EQ(sqli_describe_stmt(1, sh, &desc, nullptr), 0) << sqlca.sqlcode;
      ASSERT_EQ(desc->sqld, 2);
      EXPECT_STREQ(desc->sqlvar[0].sqlname, "b");
      EXPECT_STREQ(desc->sqlvar[1].sqlname, "a");
      std::free(desc);
    } else {
      EXPECT_EQ(sqli_describe_stmt(1, sh, &desc, nullptr), -1816);
      EXPECT_EQ(desc, nullptr);
    }
    EXPECT_EQ(sqli_curs_free(1, ch), 0);
    EXPECT_EQ(sqli_curs_free(1, sh), 0);
  }
  release(coll);
}

TEST_F(CollectionCursorTest, ExecuteOfAnUpdateAtACursorPositionChangesNothing) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {1, 2});
  int32_t five = 5;
  sqli_litval lits[] = {lit(sqli_lit_placeholder), end_lit};
  void *sh = sqli_prep(1, "upd_cur", "update table(:s) set x = ?", lits, nullptr, 7, 0, 1);
  ASSERT_NE(sh, nullptr);
  sqlvar_struct vars[] = {coll_host(coll), int_host(&five)};
  sqlda in {2, vars, {}, 0, nullptr, nullptr};
  EXPECT_EQ(sqli_exec(1, sh, &in, nullptr, nullptr, nullptr, nullptr, 0, 0), -404);
  EXPECT_EQ(ints_of(coll), (std::vector<int> {1, 2}));
  /* EXECUTE without inputs has no collection. */
  EXPECT_EQ(sqli_exec(1, sh, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), -1817);
  EXPECT_EQ(sqli_curs_free(1, sh), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, ExecuteRunsDeleteAndSelectOnTheGivenCollection) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {8});
  sqli_litval lits[] = {end_lit};
  void *sel = sqli_prep(1, "sel_one", "select * from table(:s)", lits, nullptr, 2, 0, 1);
  ASSERT_NE(sel, nullptr);
  sqlvar_struct cv = coll_host(coll);
  sqlda in {1, &cv, {}, 0, nullptr, nullptr};
  int32_t got = 0;
  sqlvar_struct ov = int_host(&got);
  sqlda out {1, &ov, {}, 0, nullptr, nullptr};
  EXPECT_EQ(sqli_exec(1, sel, &in, nullptr, nullptr, &out, nullptr, 0, 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(got, 8);
  void *del = sqli_prep(1, "del_all", "delete from table(:s)", lits, nullptr, 32, 0, 1);
  ASSERT_NE(del, nullptr);
  EXPECT_EQ(sqli_exec(1, del, &in, nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_TRUE(ints_of(coll).empty());
  EXPECT_EQ(sqli_exec(1, sel, &in, nullptr, nullptr, &out, nullptr, 0, 0), 100);
  EXPECT_EQ(sqli_curs_free(1, sel), 0);
  EXPECT_EQ(sqli_curs_free(1, del), 0);
  release(coll);
}

TEST_F(CollectionCursorTest, DeleteAtTheCursorPositionRemovesTheFetchedElement) {
  dvz_coll_t *coll = set_of_int();
  insert_ints(coll, {1, 2, 3});
  int32_t got = 0;
  sqlvar_struct in = coll_host(coll);
  sqlvar_struct out = int_host(&got);
  sqli_litval lits[] = {end_lit};
  void *h = declare_on("cc5", "select * from table(:s) for update", &in, &out, lits, 2);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
  ASSERT_EQ(fetch(h), 0);
  ASSERT_EQ(fetch(h), 0);
  ASSERT_EQ(got, 2);
  sqlvar_struct del_in = coll_host(coll);
  sqli_stmtrec rec {};
  EXPECT_EQ(sqli_stmt(1, &rec, nullptr, 1, &del_in, nullptr, lits, nullptr, h, 8, 0, 1), 0)
      << sqlca.sqlcode;
  ASSERT_EQ(fetch(h), 0);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(sqli_curs_close(1, h), 0);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
  EXPECT_EQ(ints_of(coll), (std::vector<int> {1, 3}));
  release(coll);
}

}  // namespace
