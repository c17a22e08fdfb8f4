// Tests of the multi-level table reader and lookups on small hand-written
// texts in the exact text form, of malformed texts (every one must fail
// with err 11 and no sanitizer report), and of memory failure while reading.
#include "glslib.h"
#include "host_doubles.h"
#include "table_builder.h"

#include <gtest/gtest.h>

#include <string>

using namespace glstest;

namespace {

struct FakeRecord {
    int error = 0;
};

// Plain table, entries of 2 bytes, default ffff: bytes 00-7f are
// characters ('A' with entry 0a0b), 81 and 82 lead two-byte characters:
// 81 40-7f (81 40 has entry 1234), 82 a1-a2.
const std::string kPlain =
    "2 1 1 ffff\n"
    "1 1\n"
    "0000108004\n"
    "810020010101\n"
    "0000000\n"
    "410010010a0b\n"
    "0000000\n"
    "1 1\n"
    "4000104004\n"
    "0000000\n"
    "400010011234\n"
    "0000000\n"
    "1 0\n"
    "a100100204\n"
    "0000000\n";

// The same table in the shared-array form.
const std::string kShared =
    "2 1 3 ffff\n"
    "3 2\n"
    "0000108004\n"
    "810020010101\n"
    "0000000\n"
    "4000104004\n"
    "0000000\n"
    "a100100204\n"
    "0000000\n"
    "410010010a0b\n"
    "0000000\n"
    "400010011234\n"
    "0000000\n"
    "1 1 0 0\n"
    "1 1 1 1\n"
    "1 0 2 4294967295\n";

Bytes entry(const void *e, int size = 2) { return entry_bytes(e, size); }

class MultiTable : public ::testing::Test {
protected:
    gl_locale *record() { return reinterpret_cast<gl_locale *>(&record_); }
    int take_error() {
        int e = record_.error;
        record_.error = 0;
        return e;
    }
    MultiPtr read_ok(const std::string &text) {
        int rc = -1;
        MultiPtr t = read_text(text, 2, 4, &rc);
        EXPECT_EQ(rc, 0) << text;
        EXPECT_EQ(t->err, 0);
        return t;
    }
    FakeRecord record_;
};

}  // namespace

TEST_F(MultiTable, CreateMakesAnEmptyTableWithItsDefault) {
    const unsigned char def[3] = {1, 2, 3};
    MultiPtr t(_gl_create_multi(3, 0, def));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->max_length, 0);
    EXPECT_EQ(t->min_length, 4);
    EXPECT_EQ(t->flags & GL_MULTI_VALID, GL_MULTI_VALID);
    EXPECT_EQ(t->entry_shift, 2);
    EXPECT_EQ(entry(t->default_entry, 3), (Bytes{1, 2, 3}));
    ASSERT_NE(t->root, nullptr);
    ASSERT_NE(t->root->flags, nullptr);
    EXPECT_EQ(std::count(t->root->flags, t->root->flags + 256, 0), 256);
    EXPECT_EQ(_gl_create_multi(0, 0, nullptr), nullptr);
    _gl_free_multi(nullptr);
}

TEST_F(MultiTable, PlainTextLookups) {
    MultiPtr t = read_ok(kPlain);
    EXPECT_EQ(_gl_multi_max_length(t.get()), 2);
    EXPECT_EQ(_gl_multi_min_length(t.get()), 1);
    EXPECT_EQ(_gl_multi_err(t.get()), 0);
    struct Case {
        Bytes text;
        Bytes want;  // empty: no character
        int length, error;
    } cases[] = {
        {{'A', 0}, {0x0a, 0x0b}, 1, 0},
        {{'B', 0}, {0xff, 0xff}, 1, 0},
        {{0x00, 0}, {0xff, 0xff}, 1, 0},
        {{0x81, 0x40}, {0x12, 0x34}, 2, 0},
        {{0x81, 0x41}, {0xff, 0xff}, 2, 0},
        {{0x82, 0xa2}, {0xff, 0xff}, 2, 0},
        {{0x80, 0x40}, {}, 1, 1},
        {{0x81, 0x20}, {}, 2, 1},
        {{0x82, 0xa3}, {}, 2, 1},
    };
    for (const auto &c : cases) {
        int length = -1;
        EXPECT_EQ(entry(_gl_retrieve_text_multi(c.text.data(), t.get(), &length, record())), c.want);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(take_error(), c.error);
        EXPECT_EQ(entry(_gl_retrieve_text_multi_nl(c.text.data(), t.get(), record())), c.want);
        EXPECT_EQ(take_error(), c.error);
        EXPECT_EQ(_gl_retrieve_text_multi_nv(c.text.data(), t.get(), record()), c.want.empty() ? 0 : c.length);
        EXPECT_EQ(take_error(), c.error);
    }
    int d = 0, f = 0, o = 0;
    _gl_multi_node_count(t.get(), &d, &f, &o);
    EXPECT_EQ(d, 2);
    EXPECT_EQ(f, 3);
    EXPECT_EQ(o, 1);
}

TEST_F(MultiTable, LimitedLookupsNeverLookPastTheLimit) {
    MultiPtr t = read_ok(kPlain);
    // Only the bytes inside the limit exist: a read past them is a
    // sanitizer report.
    struct Case {
        Bytes text;
        int limit;
        Bytes want;
        int length, error;
    } cases[] = {
        {{0x81, 0x40}, 1, {}, 1, 7},
        {{0x81, 0x40}, 0, {}, 0, 7},
        {{0x81, 0x40}, -3, {}, 0, 7},
        {{0x81, 0x40}, 2, {0x12, 0x34}, 2, 0},
        {{'A'}, 1, {0x0a, 0x0b}, 1, 0},
        {{0x80}, 1, {}, 1, 1},
    };
    for (const auto &c : cases) {
        auto *bytes = new unsigned char[std::max(c.limit, 1)];
        std::copy_n(c.text.begin(), std::min<int>(std::max(c.limit, 0), c.text.size()), bytes);
        int length = 99;
        EXPECT_EQ(entry(_gl_retrieve_text_multi_limit(bytes, t.get(), c.limit, &length, record())), c.want);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(take_error(), c.error);
        EXPECT_EQ(entry(_gl_retrieve_text_multi_limit_nl(bytes, t.get(), c.limit, record())), c.want);
        EXPECT_EQ(take_error(), c.error);
        delete[] bytes;
    }
}

TEST_F(MultiTable, LittleEndianUnitsDescendOnlyThroughARealChild) {
    MultiPtr t = read_ok(kPlain);
    struct Case {
        Bytes unit;  // b0 b1
        int limit;
        Bytes want;
        int error;
    } cases[] = {
        {{0x40, 0x81}, 2, {0x12, 0x34}, 0},
        {{0x20, 0x81}, 2, {0xff, 0xff}, 0},  // the child's flags are not looked at
        {{0xa1, 0x82}, 2, {0xff, 0xff}, 0},  // child without data: the default
        {{0x41, 0x41}, 2, {}, 1},            // root flag 4, not a descent
        {{0x41, 0x80}, 2, {}, 1},            // root flag 0
        {{0x40, 0x81}, 1, {}, 7},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(entry(_gl_retrieve_little_endian_unicode_limit(c.unit.data(), t.get(), c.limit, record())), c.want);
        EXPECT_EQ(take_error(), c.error);
    }
}

TEST_F(MultiTable, WideCharactersWalkMinLengthOrTheirWidth) {
    MultiPtr t = read_ok(kPlain);
    struct Case {
        gl_wchar wc;
        Bytes want;
    } cases[] = {{0x41, {0x0a, 0x0b}}, {0x8140, {0x12, 0x34}}, {0x82a1, {0xff, 0xff}},
                 {0x80, {}},           {0x81, {}},              {0x4142, {}},
                 {0x818140, {}},       {0x81408140u, {}}};
    for (const auto &c : cases) {
        EXPECT_EQ(entry(_gl_retrieve_wchar_multi_nl(record(), c.wc, t.get())), c.want) << std::hex << c.wc;
        EXPECT_EQ(take_error(), c.want.empty() ? 1 : 0);
    }
    // Shortest key 2: the value 0x41 is the bytes 00 41.
    MultiPtr two = read_ok(
        "2 2 1 0000\n1 0\n0000100101\n0000000\n"
        "1 1\n4100100104\n0000000\n410010015555\n0000000\n");
    EXPECT_EQ(entry(_gl_retrieve_wchar_multi_nl(record(), 0x41, two.get())), (Bytes{0x55, 0x55}));
    EXPECT_EQ(entry(_gl_retrieve_wchar_multi_nl(record(), 0x0041, two.get())), (Bytes{0x55, 0x55}));
    EXPECT_EQ(_gl_retrieve_wchar_multi_nl(record(), 0x4100, two.get()), nullptr);
    EXPECT_EQ(take_error(), 1);
}

TEST_F(MultiTable, DescriptorLookupsWantTheExactKey) {
    MultiPtr t = read_ok(kPlain);
    struct Case {
        gl_char_desc key;
        Bytes want;
    } cases[] = {{{1, {'A'}}, {0x0a, 0x0b}}, {{2, {0x81, 0x40}}, {0x12, 0x34}}, {{1, {0x81}}, {}},
                 {{2, {'A', 0}}, {}},         {{2, {0x81, 0x20}}, {}},          {{0, {'A'}}, {}},
                 {{5, {'A'}}, {}}};
    for (const auto &c : cases) EXPECT_EQ(entry(_gl_retrieve_desc_multi(&c.key, t.get())), c.want);
    EXPECT_EQ(take_error(), 0);  // no error stored
}

TEST_F(MultiTable, SharedFormAnswersLikeItsPlainTwin) {
    MultiPtr plain = read_ok(kPlain);
    MultiPtr shared = read_ok(kShared);
    EXPECT_EQ(shared->flags & GL_MULTI_SHARED, GL_MULTI_SHARED);
    EXPECT_EQ(shared->root->flag_index, 0);
    EXPECT_EQ(shared->root->next[1]->data_index, -1);
    int d = 0, f = 0;
    _gl_multi_node_count(shared.get(), &d, &f, nullptr);
    EXPECT_EQ(d, 2);
    EXPECT_EQ(f, 3);
    expect_same_two_byte_answers(plain.get(), shared.get());
}

TEST_F(MultiTable, FlagRunRepeatsItsValuesFromStart) {
    MultiPtr t = read_ok("2 1 1 0000\n1 0\n410020030401\n0000000\n0 0\n0 0\n0 0\n");
    const unsigned char *flags = t->root->flags;
    EXPECT_EQ(Bytes(flags + 0x40, flags + 0x48), (Bytes{0, 4, 1, 4, 1, 4, 1, 0}));
    EXPECT_EQ(t->root->child_count, 3);
    EXPECT_EQ(t->root->offsets[0x44], 1);
}

TEST_F(MultiTable, DataRunRepeatsItsEntries) {
    MultiPtr t = read_ok("2 1 1 0000\n1 1\n0000110004\n0000000\n1000200211112222\n0000000\n");
    const Bytes want[] = {{0, 0}, {0x11, 0x11}, {0x22, 0x22}, {0x11, 0x11}, {0x22, 0x22}, {0, 0}};
    for (int i = 0; i < 6; ++i) {
        const unsigned char s[1] = {static_cast<unsigned char>(0x0f + i)};
        EXPECT_EQ(entry(_gl_retrieve_text_multi_nl(s, t.get(), record())), want[i]) << i;
    }
}

TEST_F(MultiTable, RootWithOnlyTheEndMarkerHasNoCharacter) {
    MultiPtr t = read_ok("2 1 1 0000\n1 0\n0000000\n");
    for (int b = 0; b < 256; ++b) {
        const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
        int length = 0;
        EXPECT_EQ(_gl_retrieve_text_multi(s, t.get(), &length, record()), nullptr);
        EXPECT_EQ(take_error(), 1);
        EXPECT_EQ(_gl_retrieve_text_multi_nv(s, t.get(), record()), 0);
        EXPECT_EQ(take_error(), 1);
        EXPECT_EQ(_gl_retrieve_text_multi_limit(s, t.get(), 2, &length, record()), nullptr);
        EXPECT_EQ(take_error(), 1);
        EXPECT_EQ(_gl_retrieve_wchar_multi_nl(record(), static_cast<gl_wchar>(b), t.get()), nullptr);
        EXPECT_EQ(take_error(), 1);
    }
}

TEST_F(MultiTable, KeysLongerThanTheLimitFailWith21BeforeTheDefaultEntry) {
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

TEST_F(MultiTable, MalformedTextsFailWithSyntaxError) {
    const std::string chain5 =  // a five-byte character under a limit of 4
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
        // Characters longer than the header's own max_length: a client sizing
        // buffers from the header would overflow.
        {"two-byte character under max 1", "1 1 1 0000\n1 0\n4100100101\n0000000\n1 0\n4100100104\n0000000\n"},
        {"four-byte character under max 1",
         "1 1 1 0000\n1 0\n4100100101\n0000000\n1 0\n4100100101\n0000000\n"
         "1 0\n4100100101\n0000000\n1 0\n4100100104\n0000000\n"},
        {"three-byte character under max 2",
         "2 1 1 0000\n1 0\n4100100101\n0000000\n1 0\n4100100101\n0000000\n1 0\n4100100104\n0000000\n"},
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

TEST_F(MultiTable, TextCutInsideANodeFails) {
    // What the last field needs: the plain text ends in an end marker whose
    // repeat field is not needed; the shared one in a data index that is
    // not used (any number will do, one digit at least).
    const struct {
        const std::string *text;
        size_t complete_from;
    } texts[] = {{&kPlain, kPlain.size() - 3}, {&kShared, kShared.size() - std::string("294967295\n").size()}};
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

TEST_F(MultiTable, MemoryFailureWhileReadingGivesErr3AndLeaksNothing) {
    for (const std::string *text : {&kPlain, &kShared}) {
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
