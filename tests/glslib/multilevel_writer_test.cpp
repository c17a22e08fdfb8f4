/*
** The multi-level table writer, inserter and compressor: golden output,
** the single-byte rule, prefix keys, compression, memory failure, and the
** round trip read(write(t)) on random tables in plain and compressed form,
** checked against a model of the table.
*/
#include "glslib.h"
#include "host_doubles.h"
#include "table_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace glstest;

namespace {

Bytes be16(int v) {
  return Bytes {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

/* Answers of a table to the lookups, one probe at a time, compared with
** what the table was built to hold. */
class ModelCheck {
 public:
  ModelCheck(const TableSpec &spec, const gl_multi_t *table, std::string label)
      : spec_(spec), table_(table), label_(std::move(label)) {}

  void probe(const Bytes &bytes4) {
    const TableSpec::Answer want = spec_.answer(bytes4);
    const int size = spec_.entry_size;
    int length = -1;
    ASSERT_EQ(entry_bytes(_gl_retrieve_text_multi(bytes4.data(), table_, &length, rec()), size),
              want.entry.value_or(Bytes {}))
        << where(bytes4);
    ASSERT_EQ(length, want.length) << where(bytes4);
    ASSERT_EQ(take(), want.entry ? 0 : 1) << where(bytes4);
    ASSERT_EQ(_gl_retrieve_text_multi_nv(bytes4.data(), table_, rec()),
              want.entry ? want.length : 0);
    take();
    for (int limit = 0; limit <= 4; ++limit) {
      /* Only the bytes inside the limit exist. */
      std::vector<unsigned char> cut(bytes4.begin(), bytes4.begin() + limit);
      cut.reserve(1);
      const bool cut_short = limit < 1 || want.length > limit;
      ASSERT_EQ(entry_bytes(
                    _gl_retrieve_text_multi_limit(cut.data(), table_, limit, &length, rec()), size),
                cut_short ? Bytes {} : want.entry.value_or(Bytes {}))
          << where(bytes4) << " limit " << limit;
      ASSERT_EQ(length, limit < 1 ? 0 : cut_short ? limit : want.length) << where(bytes4);
      ASSERT_EQ(take(), cut_short ? 7 : want.entry ? 0 : 1) << where(bytes4) << " limit " << limit;
    }
    /* The same bytes as a key descriptor and as a wide character. */
    for (size_t n = 1; n <= 4; ++n) {
      Bytes key(bytes4.begin(), bytes4.begin() + static_cast<long>(n));
      const TableSpec::Answer exact = spec_.answer(key);
      const bool is_key = exact.entry && exact.length == static_cast<int>(n);
      gl_char_desc desc = make_desc(key);
      ASSERT_EQ(entry_bytes(_gl_retrieve_desc_multi(&desc, table_), size),
                is_key ? *exact.entry : Bytes {})
          << where(key);
      gl_wchar wc = _gl_desc_to_gl_wchar(&desc);
      /* Only where the value stands for exactly these n bytes. */
      if (key[0] == 0 || static_cast<int>(n) < _gl_multi_min_length(table_)) continue;
      ASSERT_EQ(entry_bytes(_gl_retrieve_wchar_multi_nl(rec(), wc, table_), size),
                is_key ? *exact.entry : Bytes {})
          << where(key);
      ASSERT_EQ(take(), is_key ? 0 : 1);
    }
  }

 private:
  gl_locale *rec() { return reinterpret_cast<gl_locale *>(&error_); }
  int take() {
    int e = error_;
    error_ = 0;
    return e;
  }
  std::string where(const Bytes &b) const {
    std::string s = label_ + " bytes";
    char hex[4];
    for (unsigned char c : b) {
      std::snprintf(hex, sizeof hex, " %02x", c);
      s += hex;
    }
    return s;
  }

  const TableSpec &spec_;
  const gl_multi_t *table_;
  std::string label_;
  int error_ = 0;
};

/* Probes: every key, its prefixes, keys with a byte changed, random bytes. */
std::vector<Bytes> probes_for(const TableSpec &spec, std::mt19937 &rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<Bytes> probes;
  auto pad = [&](Bytes b) {
    while (b.size() < 4)
      b.push_back(static_cast<unsigned char>(byte(rng)));
    return b;
  };
  for (const auto &[key, entry] : spec.keys) {
    probes.push_back(pad(key));
    for (size_t n = 1; n < key.size(); ++n)
      probes.push_back(pad(Bytes(key.begin(), key.begin() + static_cast<long>(n))));
    Bytes changed = key;
    changed.back() = static_cast<unsigned char>(changed.back() + 1);
    probes.push_back(pad(changed));
  }
  for (int i = 0; i < 64; ++i)
    probes.push_back(pad({}));
  return probes;
}

}  // namespace

TEST(MultiWriter, SmallTableMatchesTheGoldenText) {
  TableSpec spec;
  spec.keys = {
      {{'A'}, be16(1)},        {{'B'}, be16(1)},        {{'C'}, be16(1)},
      {{'D'}, be16(1)},        {{'E'}, be16(2)},        {{'F'}, std::nullopt},
      {{0x81, 0x40}, be16(3)}, {{0x81, 0x41}, be16(4)}, {{0x81, 0x42}, be16(5)},
      {{0x81, 0x43}, be16(5)}, {{0x81, 0x44}, be16(5)}, {{0x81, 0x45}, be16(5)},
      {{0x81, 0x46}, be16(0)},
  };
  MultiPtr t = build_table(spec);
  EXPECT_EQ(write_text(t.get()),
            "2 1 1 0000\n"
            "1 1\n"
            "4100100604\n"
            "8100100101\n"
            "0000000\n"
            "410010040001\n"
            "450010010002\n"
            "0000000\n"
            "1 1\n"
            "4000100704\n"
            "0000000\n"
            "4000200100030004\n"
            "420010040005\n"
            "0000000\n");
  /* Its shared form: one list per distinct array, nodes with indices. */
  ASSERT_EQ(_gl_compress_multi(t.get()), 0);
  EXPECT_EQ(write_text(t.get()),
            "2 1 3 0000\n"
            "2 2\n"
            "4100100604\n"
            "8100100101\n"
            "0000000\n"
            "4000100704\n"
            "0000000\n"
            "410010040001\n"
            "450010010002\n"
            "0000000\n"
            "4000200100030004\n"
            "420010040005\n"
            "0000000\n"
            "1 1 0 0\n"
            "1 1 1 1\n");
}

TEST(MultiWriter, LiteralRunsEndWhereARepetitionBegins) {
  TableSpec spec;
  const int values[] = {7, 8, 7, 8, 8, 8, 9, 9, 9, 9, 9, 3};
  for (int i = 0; i < 12; ++i)
    spec.keys[{static_cast<unsigned char>(0x10 + i)}] = be16(values[i]);
  spec.keys[{0x30, 0x30}] = std::nullopt; /* two-byte, so the single-byte rule stays off */
  MultiPtr t = build_table(spec);
  const std::string text = write_text(t.get());
  EXPECT_NE(text.find("\n10006001000700080007000800080008\n"
                      "160010050009\n"
                      "1b0010010003\n0000000\n"),
            std::string::npos)
      << text;
}

TEST(MultiWriter, SingleByteTablesHaveEveryRootByteAsCharacter) {
  TableSpec spec;
  spec.keys = {{{'a'}, be16(0x0102)}};
  MultiPtr t = build_table(spec);
  EXPECT_EQ(write_text(t.get()), "1 1 1 0000\n1 1\n0000110004\n0000000\n610010010102\n0000000\n");
  int rc = -1;
  MultiPtr back = read_text(write_text(t.get()), 2, 4, &rc);
  ASSERT_EQ(rc, 0);
  expect_same_two_byte_answers(t.get(), back.get());
  const unsigned char z[1] = {0xfe};
  int error = 0;
  EXPECT_EQ(
      entry_bytes(_gl_retrieve_text_multi_nl(z, back.get(), reinterpret_cast<gl_locale *>(&error)),
                  2),
      be16(0));
  /* A new table (max 0, min 4) is not touched. */
  MultiPtr empty(_gl_create_multi(2, 0, nullptr));
  EXPECT_EQ(write_text(empty.get()), "0 4 1 0000\n1 0\n0000000\n");
}

TEST(MultiWriter, InsertRejectsPrefixKeysAndBadCounts) {
  MultiPtr t(_gl_create_multi(2, 0, nullptr));
  const Bytes e = be16(9);
  auto insert = [&](Bytes key) {
    gl_char_desc d = make_desc(key);
    return _gl_insert_desc_multi(&d, e.data(), t.get());
  };
  EXPECT_EQ(insert({0x81, 0x40}), 0);
  EXPECT_EQ(insert({0x81}), -1); /* the prefix of a key */
  EXPECT_EQ(insert({0x81, 0x40, 0x01}), -1); /* has a key as its prefix */
  EXPECT_EQ(insert({0x81, 0x40}), 0); /* the same key again */
  EXPECT_EQ(insert({'A'}), 0);
  EXPECT_EQ(insert({'A', 'B'}), -1);
  gl_char_desc none {0, {}}, five {5, {1, 2, 3, 4}};
  EXPECT_EQ(_gl_insert_desc_multi(&none, nullptr, t.get()), -1);
  EXPECT_EQ(_gl_insert_desc_multi(&five, nullptr, t.get()), -1);
  EXPECT_EQ(t->max_length, 2);
  EXPECT_EQ(t->min_length, 1);
  ASSERT_EQ(_gl_compress_multi(t.get()), 0);
  EXPECT_EQ(insert({'B'}), -1); /* shared arrays are not written into */
}

TEST(MultiWriter, CompressionSharesRepeatedArrays) {
  TableSpec spec;
  for (int lead = 0x81; lead <= 0x90; ++lead)
    for (int trail = 0x40; trail <= 0x43; ++trail)
      spec.keys[{static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)}] =
          be16(trail);
  spec.keys[{'A'}] = std::nullopt;
  MultiPtr plain = build_table(spec);
  MultiPtr shared = build_table(spec);
  int d0 = 0, f0 = 0, o0 = 0, d1 = 0, f1 = 0, o1 = 0;
  _gl_multi_node_count(shared.get(), &d0, &f0, &o0);
  ASSERT_EQ(_gl_compress_multi(shared.get()), 0);
  _gl_multi_node_count(shared.get(), &d1, &f1, &o1);
  EXPECT_EQ(f0, 17);
  EXPECT_EQ(d0, 16);
  EXPECT_EQ(f1, 2);
  EXPECT_EQ(d1, 1);
  EXPECT_EQ(o1, o0);
  EXPECT_EQ(_gl_compress_multi(shared.get()), 0); /* already shared: unchanged */
  expect_same_two_byte_answers(plain.get(), shared.get());
  int rc = -1;
  MultiPtr back = read_text(write_text(shared.get()), 2, 4, &rc);
  ASSERT_EQ(rc, 0);
  _gl_multi_node_count(back.get(), &d0, &f0, nullptr);
  EXPECT_EQ(f0, 2);
  EXPECT_EQ(d0, 1);
  expect_same_two_byte_answers(plain.get(), back.get());
}

TEST(MultiWriter, RoundTripOfRandomTablesPlainAndCompressed) {
  std::mt19937 rng(20240611);
  dvz_test::TempDir dir;
  for (int round = 0; round < 120; ++round) {
    const int entry_size = 1 + round % 4;
    TableSpec spec = random_table(rng, entry_size, 1 + round % 60);
    MultiPtr built = build_table(spec);
    MultiPtr compressed = build_table(spec);
    ASSERT_EQ(_gl_compress_multi(compressed.get()), 0);
    int rc_plain = -1, rc_shared = -1;
    MultiPtr plain_back, shared_back;
    if (round % 10 == 0) { /* now and then through a real file */
      plain_back = read_table_file(write_table_file(dir, "plain.txt", built.get()), entry_size, 4,
                                   &rc_plain);
      shared_back = read_table_file(write_table_file(dir, "shared.txt", compressed.get()),
                                    entry_size, 4, &rc_shared);
    } else {
      plain_back = read_text(write_text(built.get()), entry_size, 4, &rc_plain);
      shared_back = read_text(write_text(compressed.get()), entry_size, 4, &rc_shared);
    }
    ASSERT_EQ(rc_plain, 0) << "round " << round;
    ASSERT_EQ(rc_shared, 0) << "round " << round;
    std::vector<Bytes> probes = probes_for(spec, rng);
    const std::string r = "round " + std::to_string(round);
    for (const gl_multi_t *t :
         {built.get(), compressed.get(), plain_back.get(), shared_back.get()}) {
      ModelCheck check(spec, t, r);
      for (const Bytes &p : probes) {
        check.probe(p);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    /* Same text again from what was read: the writer is deterministic. */
    EXPECT_EQ(write_text(plain_back.get()), write_text(built.get())) << r;
    EXPECT_EQ(write_text(shared_back.get()), write_text(compressed.get())) << r;
  }
}

TEST(MultiWriter, MemoryFailureInInsertAndCompressLeaksNothing) {
  std::mt19937 rng(7);
  TableSpec spec = random_table(rng, 2, 40);
  MultiPtr reference = build_table(spec);
  bool completed = false;
  for (int fail_at = 1; !completed && fail_at < 2000; ++fail_at) {
    FailingAllocator allocator(fail_at);
    {
      MultiPtr t(_gl_create_multi(2, 0, spec.default_entry.data()));
      if (!t) continue;
      bool all_in = true;
      for (const auto &[key, entry] : spec.keys) {
        gl_char_desc d = make_desc(key);
        all_in &= _gl_insert_desc_multi(&d, entry ? entry->data() : nullptr, t.get()) == 0;
      }
      const int rc = _gl_compress_multi(t.get());
      if (all_in && rc == -1) {
        EXPECT_EQ(t->flags & GL_MULTI_SHARED, 0); /* left as it was */
        expect_same_two_byte_answers(reference.get(), t.get());
      }
      completed = allocator.failures() == 0;
    }
    EXPECT_EQ(allocator.outstanding(), 0) << "fail at " << fail_at;
  }
  EXPECT_TRUE(completed);
}

TEST(MultiWriter, FailedWriteIsReported) {
  MultiPtr t(_gl_create_multi(2, 0, nullptr));
  FILE *read_only = std::fopen("/dev/null", "r");
  ASSERT_NE(read_only, nullptr);
  EXPECT_EQ(_gl_fprintf_multi(read_only, t.get(), hex_entry_writer), -1);
  std::fclose(read_only);
}
