/*
** The version-7 conversions: cursor blocks to and from cursor records and
** their registration, descriptors, values and host-variable lists, and the
** release of what the runtime made for them. Records are built here; LSan
** finds anything left behind.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "gen_types.h"
#include "gen_value.h"
#include "runtime_fixture.h"
#include "sqli_compat7.h"
#include "sqli_cursors.h"

namespace {

using CompatV7 = sqli_test::RuntimeTest;

/* A zeroed record as the cursor list holds it. */
sqli_cursor *new_record() { return static_cast<sqli_cursor *>(sqli_alloc(sizeof(sqli_cursor))); }

TEST_F(CompatV7, CursorRoundTripKeepsEveryMappedField) {
  ASSERT_NE(start(), nullptr);
  /* Flag sets over the low word (bit 15 included), the six mapped bits and
  ** high bits the block does not carry. */
  const std::vector<uint32_t> flag_sets = {
      0x0,
      0x8000 | 0x2000 | 0x2,
      0x100000 | 0x200000 | 0x10000 | 0x20000 | 0x40000 | 0x80000,
      0x800000 | 0x400000 | 0x1FFFF,
      0x2000000 | 0x8000 | 0x40000,
  };
  for (uint32_t flags : flag_sets) {
    SCOPED_TRACE(flags);
    sqli_cursor *c = new_record();
    c->flags = flags;
    c->stmt_type = 2;
    c->stmt_id = 17;
    c->ncols = 3;
    c->nbuffered = 9;
    c->rowsize = 69;
    c->bufsize = 4096;
    c->first_row = 11;
    c->last_row = 20;
    c->deferred_open = 2;
    char name[] = "c1";
    c->name = name;
    void *handle = sqli_cursor_handle(c);

    sqli_cursor7 *block = getcur7fr9(handle);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(c->compat_block, block);
    EXPECT_EQ(cur_total, 1);
    EXPECT_EQ(static_cast<uint16_t>(block->flags), flags & 0xFFFF);
    EXPECT_EQ(block->stmt_id, 17);
    EXPECT_EQ(block->rowsize, 69);
    EXPECT_EQ(block->name, name);

    /* The registered record comes back, not a new one. */
    int is_new = -1;
    void *again = getcur9fr7(block, &is_new);
    EXPECT_EQ(again, handle);
    EXPECT_EQ(is_new, 0);
    EXPECT_EQ(c->flags, flags);
    EXPECT_EQ(c->stmt_type, 2);
    EXPECT_EQ(c->bufsize, 4096);
    EXPECT_EQ(c->first_row, 11);
    EXPECT_EQ(c->last_row, 20);
    EXPECT_EQ(c->deferred_open, 2);
    /* Only the same block is used again. */
    EXPECT_EQ(getcur7fr9(handle), block);
    EXPECT_EQ(cur_total, 1);

    sqli_free_compat_block(c);
    EXPECT_EQ(c->compat_block, nullptr);
    EXPECT_EQ(cur_total, 0);
    sqli_release(c);
  }
}

TEST_F(CompatV7, SecondFlagsWordOnlyAddsBits) {
  ASSERT_NE(start(), nullptr);
  sqli_cursor *c = new_record();
  c->flags = 0x100000 | 0x10000 | 0x1;
  sqli_cursor7 *block = getcur7fr9(sqli_cursor_handle(c));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->flags2, 0x1 | 0x4);
  /* The caller clears 0x10000's bit and sets 0x80000's; the record's
  ** 0x100000 stays though its bit is cleared too. */
  block->flags2 = 0x100;
  block->flags = 0x3;
  int is_new = 0;
  getcur9fr7(block, &is_new);
  EXPECT_EQ(c->flags, 0x100000u | 0x80000u | 0x3u);
  sqli_free_compat_block(c);
  sqli_release(c);
}

TEST_F(CompatV7, UnknownBlockGetsATemporaryRecord) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  sqli_cursor7 block {};
  block.stmt_type = 6;
  block.stmt_id = 4;
  block.flags = 0x3;
  block.flags2 = 0x8;
  int is_new = 0;
  void *handle = getcur9fr7(&block, &is_new);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(is_new, 1);
  sqli_cursor *c = sqli_handle_cursor(handle);
  EXPECT_EQ(c->stmt_type, 6);
  EXPECT_EQ(c->flags, 0x20003u);
  EXPECT_EQ(cur_total, 0); /* temporary areas are not registered */
  c->nbuffered = 5;
  updatecur7(&block, handle, 1, tcb);
  EXPECT_EQ(block.nbuffered, 5);
}

TEST_F(CompatV7, RemovedRecordIsNotCopiedBack) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  sqli_cursor *c = new_record();
  sqli_cursor7 *block = getcur7fr9(sqli_cursor_handle(c));
  ASSERT_NE(block, nullptr);
  c->nbuffered = 8;
  tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_v7_gone);
  updatecur7(block, sqli_cursor_handle(c), 0, tcb);
  EXPECT_EQ(block->nbuffered, 0);
  EXPECT_EQ(tcb->flags & sqli_flag_v7_gone, 0);
  updatecur7(block, sqli_cursor_handle(c), 0, tcb);
  EXPECT_EQ(block->nbuffered, 8);
  sqli_free_compat_block(c);
  sqli_release(c);
}

TEST_F(CompatV7, DescriptorRoundTrip) {
  ASSERT_NE(start(), nullptr);
  char data0[8] = "abc";
  int32_t data1 = 7;
  int16_t ind1 = 0;
  char name0[] = "col0";
  sqlvar7 vars[2] = {};
  vars[0] = {sql_type_char, 8, data0, nullptr, name0, nullptr, 0, 0, nullptr};
  vars[1] = {sql_type_integer, 4, reinterpret_cast<char *>(&data1), &ind1, nullptr, nullptr, 0, 0,
             nullptr};
  sqlda7 da {};
  da.sqld = 2;
  da.sqlvar = vars;
  std::strcpy(da.desc_name, "old");
  da.desc_occ = 2;

  sqlvar_struct *slot = nullptr;
  sqlda *copy = getda9fr7(&da, &slot);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(slot, copy->sqlvar);
  ASSERT_EQ(copy->sqld, 2);
  EXPECT_STREQ(copy->desc_name, "old");
  EXPECT_EQ(copy->sqlvar[0].sqldata, data0);
  EXPECT_EQ(copy->sqlvar[0].sqllen, 8);
  EXPECT_EQ(copy->sqlvar[1].sqlind, &ind1);
  EXPECT_NE(copy->sqlvar[0].sqlflags & sqlvar_array_runtime, 0);

  /* A change made through the copy reaches the caller's records. */
  copy->sqlvar[1].sqltype = sql_type_smallint;
  copy->sqlvar[1].sqllen = 2;
  updateda7(&da, copy, 1, &slot);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(vars[1].sqltype, sql_type_smallint);
  EXPECT_EQ(vars[1].sqllen, 2);
  EXPECT_EQ(vars[0].sqlname, name0);
}

TEST_F(CompatV7, ArraysInUseOutliveTheirDescriptor) {
  ASSERT_NE(start(), nullptr);
  sqlvar7 vars[1] = {};
  vars[0].sqltype = sql_type_integer;
  sqlda7 da {};
  da.sqld = 1;
  da.sqlvar = vars;
  sqlvar_struct *slot = nullptr;
  sqlda *copy = getda9fr7(&da, &slot);
  ASSERT_NE(copy, nullptr);
  sqlvar_struct *entries = copy->sqlvar;
  entries[0].sqlflags |= sqlvar_array_in_use; /* a cursor took it */
  updateda7(&da, copy, 0, &slot);
  /* The cursor's release frees it; a caller's own list is never freed. */
  sqlvar_struct mine[1] = {};
  sqli_release_varlist(mine, 1);
  sqli_release_varlist(entries, 1);

  /* The current array only loses its in-use mark; another one is freed. */
  sqlvar_struct *current = getvar9fr7(1, vars, &slot);
  ASSERT_NE(current, nullptr);
  current[0].sqlflags |= sqlvar_array_in_use;
  freesqlvar(current, &slot);
  EXPECT_EQ(current[0].sqlflags & sqlvar_array_in_use, 0);
  sqlvar_struct *other_slot = nullptr;
  sqlvar_struct *other = getvar9fr7(1, vars, &other_slot);
  freesqlvar(other, &slot);
  freesqlvar(current, nullptr);
}

TEST_F(CompatV7, ValuesMoveByTypeBothWays) {
  ASSERT_NE(start(), nullptr);
  char text[] = "text";
  std::vector<value7> in(6);
  std::memset(in.data(), 0, sizeof(value7) * in.size());
  in[0].v_type = sql_type_char;
  in[0].v.v_charp = text;
  in[1].v_type = sql_type_integer;
  in[1].v.v_int = -123456;
  in[2].v_type = sql_type_smallfloat;
  in[2].v.v_float = 1.5f;
  in[3].v_type = sql_type_float;
  in[3].v.v_double = -2.25;
  in[4].v_type = sql_type_decimal;
  in[4].v_prec = 0x0A02;
  in[4].v.v_dec.exponent = 3;
  in[4].v.v_dec.sign = 1;
  in[4].v.v_dec.npairs = 2;
  in[4].v.v_dec.pairs[0] = 12;
  in[4].v.v_dec.pairs[1] = 34;
  in[5].v_type = sql_type_text;
  in[5].v_ind = -1;
  in[5].v.v_blob.tb_flags = 1;
  in[5].v.v_blob.tb_words[6] = 99;

  value_t *out = getval9fr7(static_cast<int>(in.size()), in.data());
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out[0].vptr, text);
  EXPECT_EQ(out[1].vint, -123456);
  EXPECT_EQ(out[2].vfloat, 1.5f);
  EXPECT_EQ(out[3].vdouble, -2.25);
  EXPECT_EQ(out[4].vprec, 0x0A02);
  EXPECT_EQ(std::memcmp(&out[4].vdec, &in[4].v.v_dec, sizeof(dec_t)), 0);
  EXPECT_EQ(out[5].vind, -1);
  EXPECT_EQ(out[5].vblob.tb_words[6], 99);

  std::vector<value7> back(in.size());
  std::memset(back.data(), 0, sizeof(value7) * back.size());
  copyval9to7(static_cast<int>(in.size()), out, back.data());
  EXPECT_EQ(std::memcmp(back.data(), in.data(), sizeof(value7) * in.size()), 0);
  sqli_release(out);
}

TEST_F(CompatV7, HostVariableListEndsAtItsEmptyEntry) {
  ASSERT_NE(start(), nullptr);
  int32_t a = 1;
  char b[10] = "x";
  int16_t ind = 0;
  /* A type of 0 with data is still an entry; the empty one ends the list. */
  hostvar7 list[] = {{host_type_long, 4, reinterpret_cast<char *>(&a), nullptr},
                     {host_type_char, 10, b, &ind},
                     {0, 0, b, nullptr},
                     {0, 0, nullptr, nullptr},
                     {host_type_long, 4, reinterpret_cast<char *>(&a), nullptr}};
  int count = -1;
  sqlvar_struct *vars = copyhvar7to9(list, &count);
  ASSERT_NE(vars, nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(vars[1].sqltype, host_type_char);
  EXPECT_EQ(vars[1].sqllen, 10);
  EXPECT_EQ(vars[1].sqlind, &ind);
  EXPECT_EQ(vars[3].sqldata, nullptr);
  EXPECT_NE(vars[0].sqlflags & sqlvar_array_runtime, 0);
  sqli_release_varlist(vars, count);
}

}  // namespace
