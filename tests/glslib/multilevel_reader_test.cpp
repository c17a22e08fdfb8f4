/*
** The multi-level table reader: the shared-array form, runs of flags and
** of entries, the key-length limit, malformed and cut texts (every one
** must fail with error 11 and no sanitizer report), and memory failure
** while reading.
*/
#include "glslib.h"
#include "host_doubles.h"
#include "table_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace glstest;

namespace {

class MultiTableReader : public TableTest {};

}  // namespace

TEST_F(MultiTableReader, SharedFormAnswersLikeItsPlainTwin) {
  MultiPtr plain = read_ok(plain_table_text);
  MultiPtr shared = read_ok(shared_table_text);
  EXPECT_EQ(shared->flags & GL_MULTI_SHARED, GL_MULTI_SHARED);
  EXPECT_EQ(shared->root->flag_index, 0);
  EXPECT_EQ(shared->root->next[1]->data_index, -1);
  int d = 0, f = 0;
  _gl_multi_node_count(shared.get(), &d, &f, nullptr);
  EXPECT_EQ(d, 2);
  EXPECT_EQ(f, 3);
  expect_same_two_byte_answers(plain.get(), shared.get());
}

TEST_F(MultiTableReader, FlagRunRepeatsItsValuesFromStart) {
  MultiPtr t = read_ok("2 1 1 0000\n1 0\n410020030401\n0000000\n0 0\n0 0\n0 0\n");
  const unsigned char *flags = t->root->flags;
  EXPECT_EQ(Bytes(flags + 0x40, flags + 0x48), (Bytes {0, 4, 1, 4, 1, 4, 1, 0}));
  EXPECT_EQ(t->root->child_count, 3);
  EXPECT_EQ(t->root->offsets[0x44], 1);
}

TEST_F(MultiTableReader, DataRunRepeatsItsEntries) {
  MultiPtr t = read_ok("2 1 1 0000\n1 1\n0000110004\n0000000\n1000200211112222\n0000000\n");
  const Bytes want[] = {{0, 0}, {0x11, 0x11}, {0x22, 0x22}, {0x11, 0x11}, {0x22, 0x22}, {0, 0}};
  for (int i = 0; i < 6; ++i) {
    const unsigned char s[1] = {static_cast<unsigned char>(0x0f + i)};
    EXPECT_EQ(entry(_gl_retrieve_text_multi_nl(s, t.get(), record())), want[i]) << i;
  }
}

TEST_F(MultiTableReader, KeysLongerThanTheLimitFailWith21BeforeTheDefaultEntry) {
  std::string text = "5 1 1 zz";
  FILE *in = fmemopen(text.data(), text.size(), "r");
  MultiPtr t(_gl_create_multi(2, 0, nullptr));
  EXPECT_EQ(_gl_fscanf_multi(in, t.get(), 4, hex_entry_reader), -1);
  EXPECT_EQ(_gl_multi_err(t.get()), 21);
  char rest[8] = {};
  EXPECT_EQ(std::fread(rest, 1, sizeof rest - 1, in), 3u);
  EXPECT_STREQ(rest, " zz");
  std::fclose(in);
  int rc = 0;
  EXPECT_EQ(read_text("3 1 1 0000\n1 0\n0000000\n", 2, 2, &rc)->err, 21);
  EXPECT_EQ(read_text("4 1 1 0000\n1 0\n0000000\n", 2, 4, &rc)->err, 0);
}

TEST_F(MultiTableReader, MalformedTextsFailWithSyntaxError) {
  const std::string chain5 = /* a five-byte character under a limit of 4 */
      "4 1 1 0000\n1 0\n4100100101\n0000000\n"
      "1 0\n4100100101\n0000000\n1 0\n4100100101\n0000000\n1 0\n4100100101\n0000000\n"
      "1 0\n4100100104\n0000000\n";
  struct Case {
    const char *what;
    std::string text;
  } cases[] = {
      {"run past slot 255", "2 1 1 0000\n1 0\nff00200104\n0000000\n"},
      {"repeat past slot 255", "2 1 1 0000\n1 0\nf000101104\n0000000\n"},
      {"length above 256", "2 1 1 0000\n1 0\n00101001" + std::string(514, '0') + "\n0000000\n"},
      {"data run past slot 255", "2 1 1 0000\n1 1\n0000000\nfe0010030000\n0000000\n"},
      {"flag value 2", "2 1 1 0000\n1 0\n4100100102\n0000000\n"},
      {"non-hex start", "2 1 1 0000\n1 0\nzz00100104\n0000000\n"},
      {"shared flag index out of range", "2 1 3 0000\n1 0\n4100100104\n0000000\n1 0 1 0\n"},
      {"shared data index out of range", "2 1 3 0000\n1 0\n4100100104\n0000000\n1 1 0 0\n"},
      {"negative shared flag index", "2 1 3 0000\n1 0\n4100100104\n0000000\n1 0 -1 0\n"},
      {"negative node count", "2 1 1 0000\n-1 0\n0000000\n"},
      {"negative header", "-2 1 1 0000\n1 0\n0000000\n"},
      {"negative shared count", "2 1 3 0000\n-1 0\n1 0 0 0\n"},
      {"no number", "2 1 1 0000\nx 0\n0000000\n"},
      {"empty", ""},
      {"children missing", "2 1 1 0000\n1 0\n4100100101\n0000000\n"},
      {"too deep", chain5},
      /* Characters longer than the header's own max_length: a client sizing
      ** buffers from the header would overflow. */
      {"two-byte character under max 1",
       "1 1 1 0000\n1 0\n4100100101\n0000000\n1 0\n4100100104\n0000000\n"},
      {"four-byte character under max 1",
       "1 1 1 0000\n1 0\n4100100101\n0000000\n1 0\n4100100101\n0000000\n"
       "1 0\n4100100101\n0000000\n1 0\n4100100104\n0000000\n"},
      {"three-byte character under max 2",
       "2 1 1 0000\n1 0\n4100100101\n0000000\n1 0\n4100100101\n0000000\n1 "
       "0\n4100100104\n0000000\n"},
      {"shared two-byte character under max 1",
       "1 1 3 0000\n2 0\n4100100101\n0000000\n4100100104\n0000000\n1 0 0 0\n1 0 1 0\n"},
  };
  for (const auto &c : cases) {
    int rc = 0;
    MultiPtr t = read_text(c.text, 2, 4, &rc);
    EXPECT_EQ(rc, -1) << c.what;
    EXPECT_EQ(_gl_multi_err(t.get()), 11) << c.what;
  }
}

TEST_F(MultiTableReader, TextCutInsideANodeFails) {
  /* What the last field needs: the plain text ends in an end marker whose
  ** repeat field is not needed; the shared one in a data index that is
  ** not used (any number will do, one digit at least). */
  const struct {
    const std::string *text;
    size_t complete_from;
  } texts[] = {{&plain_table_text, plain_table_text.size() - 3},
               {&shared_table_text, shared_table_text.size() - std::string("294967295\n").size()}};
  for (const auto &t : texts) {
    for (size_t cut = 0; cut < t.complete_from; ++cut) {
      int rc = 0;
      MultiPtr table = read_text(t.text->substr(0, cut), 2, 4, &rc);
      ASSERT_EQ(rc, -1) << "cut at " << cut;
      ASSERT_EQ(_gl_multi_err(table.get()), 11) << "cut at " << cut;
    }
    int rc = -1;
    read_text(t.text->substr(0, t.complete_from), 2, 4, &rc);
    EXPECT_EQ(rc, 0);
  }
}

TEST_F(MultiTableReader, MemoryFailureWhileReadingGivesErr3AndLeaksNothing) {
  for (const std::string *text : {&plain_table_text, &shared_table_text}) {
    bool succeeded = false;
    for (int fail_at = 1; !succeeded && fail_at < 200; ++fail_at) {
      FailingAllocator allocator(fail_at);
      {
        MultiPtr t(_gl_create_multi(2, 0, nullptr));
        if (!t) continue;
        std::string copy = *text;
        FILE *in = fmemopen(copy.data(), copy.size(), "r");
        int rc = _gl_fscanf_multi(in, t.get(), 4, hex_entry_reader);
        std::fclose(in);
        if (rc == 0) {
          succeeded = allocator.failures() == 0;
        } else {
          EXPECT_EQ(_gl_multi_err(t.get()), 3) << "fail at " << fail_at;
        }
      }
      EXPECT_EQ(allocator.outstanding(), 0) << "fail at " << fail_at;
      EXPECT_FALSE(allocator.freed_unknown());
    }
    EXPECT_TRUE(succeeded);
  }
}
