/*
** The dvz_var calls on variable-length host values: buffers owned by the
** runtime grow, a program's buffer refuses a longer value, the NULL mark,
** the codes of a null record pointer per call, memory failures that leave
** the record as it was, and the record the row copy makes for a record
** host that comes without one.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gen_types.h"
#include "runtime_fixture.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_descriptors.h"
#include "sqli_dynamic.h"
#include "sqli_reply.h"
#include "sqli_runtime_records.h"
#include "sqli_statements.h"
#include "sqli_status.h"

namespace {

using sqli_test::FailingMemory;

class VarValues : public sqli_test::StartedRuntimeTest {
 protected:
  void TearDown() override {
    dvz_var_freevar(&rec);
    StartedRuntimeTest::TearDown();
  }
  std::string bytes() const { return std::string(rec->data, static_cast<size_t>(rec->length)); }
  dvz_var_rec *rec = nullptr;
};

TEST_F(VarValues, NullRecordPointerCodesPerCall) {
  struct row {
    const char *call;
    std::function<int(dvz_var_rec **)> run;
    int code;
  };
  const row rows[] = {
      {"dealloc", [](dvz_var_rec **p) { return dvz_var_dealloc(p); }, -1822},
      {"isnull", [](dvz_var_rec **p) { return dvz_var_isnull(p); }, -1822},
      {"setnull", [](dvz_var_rec **p) { return dvz_var_setnull(p, 1); }, -1822},
      {"setlen", [](dvz_var_rec **p) { return dvz_var_setlen(p, 1); }, -1820},
      {"getlen", [](dvz_var_rec **p) { return dvz_var_getlen(p); }, -1820},
      {"getdata", [](dvz_var_rec **p) { return dvz_var_getdata(p) == nullptr ? sqlca.sqlcode : 1; },
       -1820},
  };
  for (const row &r : rows) {
    dvz_var_rec *none = nullptr;
    EXPECT_EQ(r.run(&none), r.code) << r.call;
    EXPECT_EQ(sqlca.sqlcode, r.code) << r.call;
    EXPECT_EQ(SQLCODE, r.code) << r.call;
    EXPECT_EQ(r.run(nullptr), r.code) << r.call << " without an address";
  }
  /* The calls that make a record take a null pointer. */
  EXPECT_EQ(dvz_var_freevar(&rec), 0);
  EXPECT_EQ(dvz_var_flag(&rec, 1), 0);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->flags & DVZ_VAR_RUNTIME, DVZ_VAR_RUNTIME);
  EXPECT_EQ(sqlca.sqlcode, 0) << "a call clears the previous error";
}

TEST_F(VarValues, ProgramBufferRefusesALongerValueRuntimeBufferGrows) {
  ASSERT_EQ(dvz_var_flag(&rec, 0), 0);
  ASSERT_EQ(dvz_var_alloc(&rec, 4), 0);
  EXPECT_EQ(rec->flags & DVZ_VAR_RUNTIME, 0);
  ASSERT_EQ(dvz_var_setdata(&rec, "abcd", 4), 0);
  EXPECT_EQ(dvz_var_setdata(&rec, "vwxyz", 5), -1823);
  EXPECT_EQ(sqlca.sqlcode, -1823);
  EXPECT_EQ(bytes(), "abcd") << "a refused value leaves the old one";
  EXPECT_EQ(rec->size, 4);

  ASSERT_EQ(dvz_var_flag(&rec, 1), 0);
  ASSERT_EQ(dvz_var_setnull(&rec, 1), 0);
  ASSERT_EQ(dvz_var_setdata(&rec, "vwxyz", 5), 0);
  EXPECT_EQ(bytes(), "vwxyz");
  EXPECT_EQ(rec->size, 5);
  EXPECT_EQ(dvz_var_getlen(&rec), 5);
  EXPECT_EQ(dvz_var_isnull(&rec), 0) << "setdata clears the NULL mark";

  /* A program-owned record without a buffer refuses any value. */
  ASSERT_EQ(dvz_var_flag(&rec, 0), 0);
  EXPECT_EQ(rec->data, nullptr);
  EXPECT_EQ(dvz_var_setdata(&rec, "a", 1), -1823);
  EXPECT_EQ(dvz_var_setdata(&rec, "a", 0), -1822);
  EXPECT_EQ(dvz_var_setdata(&rec, nullptr, 1), -1822);
}

TEST_F(VarValues, SetdataOnANullPointerMakesARecordOfThatLength) {
  ASSERT_EQ(dvz_var_setdata(&rec, "hello", 5), 0);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(bytes(), "hello");
  EXPECT_EQ(rec->size, 5);
  EXPECT_EQ(rec->flags, DVZ_VAR_RUNTIME);
}

TEST_F(VarValues, NullMarkHidesTheData) {
  ASSERT_EQ(dvz_var_setdata(&rec, "abc", 3), 0);
  ASSERT_EQ(dvz_var_setnull(&rec, 1), 0);
  EXPECT_EQ(dvz_var_isnull(&rec), 1);
  EXPECT_EQ(dvz_var_getdata(&rec), nullptr);
  EXPECT_EQ(sqlca.sqlcode, 0);
  ASSERT_EQ(dvz_var_setnull(&rec, 0), 0);
  EXPECT_EQ(dvz_var_isnull(&rec), 0);
  ASSERT_NE(dvz_var_getdata(&rec), nullptr);
  EXPECT_EQ(std::string(dvz_var_getdata(&rec), 3), "abc");
  EXPECT_EQ(dvz_var_setnull(&rec, 2), -1822);
  EXPECT_EQ(dvz_var_flag(&rec, 2), -1822);
}

TEST_F(VarValues, AllocZeroesAndSetlenStaysWithinTheBuffer) {
  ASSERT_EQ(dvz_var_setdata(&rec, "abcdefgh", 8), 0);
  char *const first = rec->data;
  ASSERT_EQ(dvz_var_alloc(&rec, 3), 0);
  EXPECT_EQ(rec->data, first) << "a large enough buffer is kept";
  EXPECT_EQ(std::string(rec->data, 8), std::string("\0\0\0defgh", 8));
  EXPECT_EQ(rec->length, 3);
  ASSERT_EQ(dvz_var_alloc(&rec, 16), 0);
  EXPECT_EQ(std::string(rec->data, 16), std::string(16, '\0'));
  EXPECT_EQ(rec->length, 16);
  EXPECT_EQ(rec->size, 16);
  EXPECT_EQ(dvz_var_alloc(&rec, 0), -1822);

  EXPECT_EQ(dvz_var_setlen(&rec, 17), -1823);
  EXPECT_EQ(dvz_var_setlen(&rec, -1), -1822);
  ASSERT_EQ(dvz_var_setlen(&rec, 2), 0);
  EXPECT_EQ(dvz_var_getlen(&rec), 2);

  ASSERT_EQ(dvz_var_dealloc(&rec), 0);
  ASSERT_NE(rec, nullptr) << "dealloc keeps the record";
  EXPECT_EQ(rec->data, nullptr);
  EXPECT_EQ(rec->size, 0);
  EXPECT_EQ(rec->length, 0);
  ASSERT_EQ(dvz_var_freevar(&rec), 0);
  EXPECT_EQ(rec, nullptr);
}

TEST_F(VarValues, MemoryFailuresLeaveTheRecordAsItWas) {
  {
    FailingMemory fail(1);
    EXPECT_EQ(dvz_var_init(&rec), -406);
    EXPECT_EQ(rec, nullptr);
  }
  ASSERT_EQ(dvz_var_init(&rec), 0);
  ASSERT_EQ(dvz_var_setdata(&rec, "ab", 2), 0);
  {
    FailingMemory fail(1);
    EXPECT_EQ(dvz_var_setdata(&rec, "abcdef", 6), -406);
  }
  {
    FailingMemory fail(1);
    EXPECT_EQ(dvz_var_alloc(&rec, 64), -406);
  }
  EXPECT_EQ(bytes(), "ab");
  EXPECT_EQ(rec->size, 2);
}

TEST_F(VarValues, PrivateCallsRefuseANullAddress) {
  EXPECT_EQ(sqli_private_var_init(nullptr), -1822);
  EXPECT_EQ(sqli_private_var_dealloc(nullptr), -1822);
  void *made = nullptr;
  ASSERT_EQ(sqli_private_var_init(&made), 0);
  void *again = made;
  ASSERT_EQ(sqli_private_var_init(&again), 0);
  EXPECT_EQ(again, made) << "an existing record is kept";
  rec = static_cast<dvz_var_rec *>(made);
}

/* A fetched LVARCHAR column into a record host (124) of length 0 without
** data: with the allocation mode on the runtime makes the record and owns
** it; without it the host is refused. */
TEST_F(VarValues, RowCopyMakesTheRecordOfAHostWithoutOne) {
  const std::string row = std::string("\0\0\0\0\3abc", 8);
  std::vector<char> buffer(row.begin(), row.end());
  dbfd col {};
  col.type = sql_type_lvarchar;
  col.length = 100;
  sqli_cursor cursor {};
  cursor.coldesc = &col;
  cursor.ncols = 1;
  cursor.buffer = buffer.data();
  cursor.bufpos = buffer.data();
  cursor.bufsize = static_cast<int32_t>(buffer.size());
  cursor.rowsize = static_cast<int16_t>(buffer.size());
  cursor.nbuffered = 1;
  sqlvar_struct host {};
  host.sqltype = host_type_lvarchar_ptr;

  EXPECT_EQ(_iqupdtargs(&cursor, 1, &host, 0, tcb), -402);
  EXPECT_EQ(host.sqldata, nullptr);

  _sqclrca(tcb);
  tcb->lvar_alloc = 1;
  cursor.bufpos = buffer.data();
  cursor.nbuffered = 1;
  EXPECT_EQ(_iqupdtargs(&cursor, 1, &host, 0, tcb), 0);
  tcb->lvar_alloc = 0;
  ASSERT_NE(host.sqldata, nullptr);
  EXPECT_NE(host.sqlflags & sqlvar_own_data, 0);
  auto *made = reinterpret_cast<dvz_var_rec *>(host.sqldata);
  EXPECT_EQ(made->flags & DVZ_VAR_RUNTIME, DVZ_VAR_RUNTIME);
  ASSERT_EQ(made->length, 3);
  EXPECT_EQ(std::string(made->data, 3), "abc");
  dvz_free_sqldata(&host);
  EXPECT_EQ(host.sqldata, nullptr);
}

}  // namespace
