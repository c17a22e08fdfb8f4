// The section readers of locale files: encoded strings, groupings, the
// header, CTYPE, COLLATE (with the equivalence lists), TIME and eras, and
// the malformed inputs that must fail with error 11 and nothing worse.
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace lcotest;

namespace {

TEST(EncodedString, ReadsLengthSpaceAndHexPairs) {
    struct Case {
        const char *text;
        const char *bytes;  // nullptr: fails
        int error;
    } cases[] = {
        {"0\n", "", 0},
        {"3 414243\n", "ABC", 0},
        {"3414243\n", nullptr, 8},   // no space after the length
        {"-1\n", nullptr, 11},       // negative length
        {"5 4142\n", nullptr, 11},   // the data ends before the length
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        MemStream in(c.text);
        int error = 0;
        char *s = str_readallc(in.get(), &error);
        if (c.bytes == nullptr) {
            EXPECT_EQ(s, nullptr);
            EXPECT_EQ(error, c.error);
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, c.bytes);
        // Four zero bytes end every string, whatever the code set.
        EXPECT_EQ(std::memcmp(s + std::strlen(c.bytes), "\0\0\0\0", 4), 0);
        _gl_free_ptr(s);
    }
}

TEST(Grouping, ReadsSizesAndRefusesSixteen) {
    MemStream good("3 3 3 2\nrest");
    gl_grouping g{};
    int error = 0;
    ASSERT_EQ(read_group(good.get(), &g, &error), 0);
    EXPECT_EQ(g.count, 3);
    EXPECT_EQ(g.sizes[0], 3);
    EXPECT_EQ(g.sizes[1], 3);
    EXPECT_EQ(g.sizes[2], 2);
    EXPECT_EQ(good.rest(), "rest");

    std::string sixteen = "16";
    for (int i = 1; i <= 16; ++i) sixteen += " " + std::to_string(i);
    MemStream bad(sixteen + "\n");
    gl_grouping h{};
    EXPECT_EQ(read_group(bad.get(), &h, &error), -1);
    EXPECT_EQ(error, 4);
    EXPECT_EQ(h.count, 15);  // fifteen values were read
    EXPECT_EQ(h.sizes[14], 15);

    MemStream negative("-2\n");
    EXPECT_EQ(read_group(negative.get(), &h, &error), -1);
    EXPECT_EQ(error, 11);
}

TEST(FileHeader, AcceptsOnlyTheLocaleFileOfThisVersion) {
    const std::string long_line(200, 'x');
    struct Case {
        std::string text;
        int ok;
        int error;
    } cases[] = {
        {header_text("8859-1"), 1, 0},
        {"FILE_TYPE=conversion_object\nCOMPILER_VERSION=11\nN=3\n8859-1\n", 0, 11},
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=10\nN=3\n8859-1\n", 0, 51},
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=2\n8859-1\n", 0, 11},   // N below 3
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN 3\n8859-1\n", 0, 11},   // no "="
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=4\n" + long_line + "\n8859-1\n", 0, 11},
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=3\nname-of-twenty-chars\n", 0, 11},
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\n", 0, 11},               // cut short
        {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=9\n8859-1\n", 0, 11},  // lines missing
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 70));
        MemStream in(c.text);
        char name[GL_CS_NAME_SLOT] = "unchanged";
        int error = 0;
        EXPECT_EQ(read_file_header(in.get(), name, &error), c.ok);
        if (c.ok) {
            EXPECT_STREQ(name, "8859-1");
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(CtypeSection, CaseExpansionFromTheRestOfTheLine) {
    struct Case {
        std::string after;
        int ok;
        double expansion;
    } cases[] = {{"", 1, 4.0}, {" 1.5", 1, 1.5}, {" lots", 0, 0}, {" -3", 0, 0}, {" nan", 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.after);
        CtypeToy toy = toy_ctype();
        toy.after_pairs = c.after;
        LocalePtr r = new_record();
        MemStream in(toy.text());
        if (c.ok) {
            ASSERT_EQ(read_ctype(in.get(), r.get()), 0);
            EXPECT_DOUBLE_EQ(r->case_expansion, c.expansion);
            EXPECT_EQ(r->case_pair_count, 1);
            EXPECT_EQ(r->case_pairs[1].upper, 0x41u);
            EXPECT_EQ(r->case_pairs[1].lower, 0x61u);
        } else {
            EXPECT_NE(read_ctype(in.get(), r.get()), 0);
            EXPECT_EQ(r->error, 11);
        }
    }
}

TEST(CtypeSection, ReadsNamedClasses) {
    CtypeToy toy = toy_ctype();
    toy.named = {{0, "full_width"}, {3, "kana"}};
    LocalePtr r = new_record();
    MemStream in(toy.text());
    ASSERT_EQ(read_ctype(in.get(), r.get()), 0);
    ASSERT_EQ(r->class_count, 2);
    EXPECT_EQ(r->classes[0].number, 0);
    EXPECT_STREQ(r->classes[0].name, "full_width");
    EXPECT_EQ(r->classes[1].number, 3);
    EXPECT_STREQ(r->classes[1].name, "kana");
}

// Validation of what the readers index with: each case must fail with 11.
TEST(CtypeSection, MalformedInputFailsWithSyntaxError) {
    std::vector<std::pair<const char *, std::string>> cases;
    {
        CtypeToy t = toy_ctype();
        t.case_index[key({'1'})] = 2;  // an index past the single pair
        cases.emplace_back("case index past pairs", t.text());
    }
    {
        CtypeToy t = toy_ctype();
        std::string text = t.text();
        std::string classes = table_text(t.classes);
        cases.emplace_back("negative class count", classes + "-1\n" + text.substr(classes.size() + 2));
    }
    {
        CtypeToy t = toy_ctype();
        t.named = {{1, std::string(80, 'n')}};  // longer than a class name may be
        cases.emplace_back("long class name", t.text());
    }
    {
        CtypeToy t = toy_ctype();
        t.pairs.clear();
        t.case_index.clear();
        std::string text = t.text();
        text.replace(text.rfind("0\n"), 2, "-4\n");
        cases.emplace_back("negative pair count", text);
    }
    {
        CtypeToy t = toy_ctype();
        std::string text = t.text();
        cases.emplace_back("cut inside the pairs", text.substr(0, text.size() - 12));
    }
    for (const auto &[what, text] : cases) {
        SCOPED_TRACE(what);
        LocalePtr r = new_record();
        MemStream in(text);
        EXPECT_NE(read_ctype(in.get(), r.get()), 0);
        EXPECT_EQ(r->error, 11);
    }
}

TEST(CollateSection, ThaiKindReadsNothingFurther) {
    LocalePtr r = new_record();
    MemStream in("thai_smo\n### LC_NUMERIC\n");
    EXPECT_EQ(read_collate(in.get(), r.get()), 0);
    EXPECT_EQ(r->coll_kind, 2);
    EXPECT_EQ(in.rest(), "### LC_NUMERIC\n");

    LocalePtr s = new_record();
    MemStream other("by_magic\n");
    EXPECT_NE(read_collate(other.get(), s.get()), 0);
    EXPECT_EQ(s->coll_kind, 0);
    EXPECT_EQ(s->error, 0);  // the loader reports it
}

TEST(CollateSection, PassFlagsFollowOneAnother) {
    CollateToy c = toy_collate();
    c.passes = 2;
    c.flags = {1, 0};
    c.weights = {{2, 2}, {3, 3}, {4, 4}};
    std::string text = c.text();
    ASSERT_NE(text.find("00010000\n"), std::string::npos);
    LocalePtr r = new_record();
    MemStream in(text);
    ASSERT_EQ(read_collate(in.get(), r.get()), 0);
    EXPECT_EQ(r->pass_count, 2);
    EXPECT_EQ(r->pass_flags[0], 1);
    EXPECT_EQ(r->pass_flags[1], 0);
    EXPECT_EQ(r->weights[1][2], 4);
    EXPECT_EQ(r->ignorable_chars, nullptr);
    EXPECT_EQ(r->equivalent_chars, nullptr);
}

TEST(CollateSection, EqualRowsMakeOnePairAndIgnoreRowsTheIgnorableList) {
    CollateToy c = toy_collate();
    c.order = 0;
    c.passes = 2;
    c.flags = {1, 1};
    c.highest_row = 3;
    c.rows = {{key({'1'}), 3}, {key({'A'}), 1}, {key({'a'}), 2}};
    // Row 0 (every other byte) apart, A and a equal on both passes, 1 ignored.
    c.weights = {{2, 2}, {3, 5}, {3, 5}, {1, 1}};
    LocalePtr r = new_record();
    MemStream in(c.text());
    ASSERT_EQ(read_collate(in.get(), r.get()), 0);
    ASSERT_NE(r->equivalent_chars, nullptr);
    EXPECT_STREQ(r->equivalent_chars[0].member, "A");
    EXPECT_STREQ(r->equivalent_chars[0].representative, "a");
    EXPECT_EQ(r->equivalent_chars[1].member, nullptr);
    ASSERT_NE(r->ignorable_chars, nullptr);
    EXPECT_STREQ(r->ignorable_chars[0], "1");
    EXPECT_EQ(r->ignorable_chars[1], nullptr);
}

TEST(CollateSection, ElementsAndExpansionsJoinTheirClasses) {
    CollateToy c = toy_collate();
    c.order = 0;
    c.highest_row = 4;
    c.rows = {{key({'1'}), 0}, {key({'A'}), 1}, {key({'a'}), 2}};
    c.elements = {{3, {'A', 'a'}}};          // "Aa" collates as row 3
    c.expansions = {{'a', 'a'}};             // expansion 0
    // Row 3 equals row 1; row 4 names expansion 0 and is 'A'... no char.
    c.weights = {{2}, {3}, {6}, {3}, {0x4000}};
    c.rows[key({'1'})] = 4;                  // '1' stands for the expansion
    LocalePtr r = new_record();
    MemStream in(c.text());
    ASSERT_EQ(read_collate(in.get(), r.get()), 0);
    EXPECT_DOUBLE_EQ(r->coll_expansion, 2.0);
    ASSERT_NE(r->equivalent_chars, nullptr);
    // Class of row 1: the element "Aa" is saved first, then 'A'.
    EXPECT_STREQ(r->equivalent_chars[0].member, "Aa");
    EXPECT_STREQ(r->equivalent_chars[0].representative, "A");
    // Class of row 4: the expansion's characters, then '1'.
    EXPECT_STREQ(r->equivalent_chars[1].member, "aa");
    EXPECT_STREQ(r->equivalent_chars[1].representative, "1");
    EXPECT_EQ(r->equivalent_chars[2].member, nullptr);
    ASSERT_NE(r->element_candidates, nullptr);
    EXPECT_EQ(r->element_candidates['A'], 1);
    EXPECT_EQ(r->element_candidates['a'], 0);
    ASSERT_NE(r->expansion_candidates[0], nullptr);
    EXPECT_EQ(r->expansion_candidates[0]['1'], &r->expansions[0]);
    EXPECT_EQ(r->expansion_candidates[0]['A'], nullptr);
}

TEST(CollateSection, MalformedInputFailsWithSyntaxError) {
    std::vector<std::pair<const char *, CollateToy>> cases;
    {
        CollateToy c = toy_collate();
        c.passes = 9;
        c.flags.assign(9, 1);
        for (auto &w : c.weights) w.assign(9, 2);
        cases.emplace_back("nine passes", c);
    }
    {
        CollateToy c = toy_collate();
        c.rows[key({'a'})] = 7;  // past highest_row
        cases.emplace_back("table row past highest_row", c);
    }
    {
        CollateToy c = toy_collate();
        c.elements = {{9, {'A', 'a'}}};
        cases.emplace_back("element row past highest_row", c);
    }
    {
        CollateToy c = toy_collate();
        c.weights[1] = {0x4001};  // names expansion 1 of none
        cases.emplace_back("expansion index out of range", c);
    }
    {
        CollateToy c = toy_collate();
        c.highest_row = -1;
        cases.emplace_back("negative highest_row", c);
    }
    {
        CollateToy c = toy_collate();
        c.weights.pop_back();
        c.highest_row = 40;  // counts that the data does not follow
        cases.emplace_back("rows missing", c);
    }
    for (const auto &[what, c] : cases) {
        SCOPED_TRACE(what);
        LocalePtr r = new_record();
        MemStream in(c.text());
        EXPECT_NE(read_collate(in.get(), r.get()), 0);
        EXPECT_EQ(r->error, 11);
    }
    // A negative element count in the six numbers.
    CollateToy c = toy_collate();
    std::string text = c.text();
    text.replace(text.find("1 2 1 0 0 257"), 13, "1 2 1 -3 0 257");
    LocalePtr r = new_record();
    MemStream in(text);
    EXPECT_NE(read_collate(in.get(), r.get()), 0);
    EXPECT_EQ(r->error, 11);
}

TEST(TimeSection, CalendarNamesAndMonthCounts) {
    struct Case {
        const char *calendar;
        int result;
        int id_or_error;
    } cases[] = {{"gregorian", 0, 1}, {"hebrew", 0, 2}, {"islamic", 0, 3}, {"arabic", 0, 4},
                 {"julian", -1, 50}, {"Gregorian", -1, 50}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.calendar);
        MemStream in(toy_time(13, {}, {}, c.calendar));
        gl_ltime t{};
        int error = 0;
        EXPECT_EQ(_gl_read_time(in.get(), &t, &error), c.result);
        if (c.result == 0) {
            EXPECT_EQ(t.calendar, c.id_or_error);
            EXPECT_EQ(t.mon.count, 13);
            EXPECT_STREQ(t.mon.mb[12], "Month13");
        } else {
            EXPECT_EQ(error, c.id_or_error);
        }
        // Free what was read (the record's freeing is tested with loading).
        gl_locale *r = nullptr;
        ASSERT_EQ(gl_create_null_locale_4(&r), 0);
        r->ltime = t;
        gl_lc_unload(r);
    }
}

TEST(TimeSection, NegativeListCountIsMalformed) {
    std::string text = toy_time();
    text.replace(text.find("\n12\n"), 4, "\n-12\n");
    MemStream in(text);
    gl_ltime t{};
    int error = 0;
    EXPECT_EQ(_gl_read_time(in.get(), &t, &error), -1);
    EXPECT_EQ(error, 11);
    gl_locale *r = nullptr;
    ASSERT_EQ(gl_create_null_locale_4(&r), 0);
    r->ltime = t;
    gl_lc_unload(r);
}

// ---- Sections through a load ----------------------------------------------------

class LoadedSections : public ::testing::Test {
protected:
    Scene scene;
};

TEST_F(LoadedSections, EraStringParsesFieldByField) {
    Lco file = toy_locale();
    file.time = toy_time(12, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey", "-:2:-5/12/31:-100/1/1:Old:O:%Ey"},
                         {"zero", "one"});
    scene.write("era.lco", file);
    LocalePtr r = new_record();
    ASSERT_NE(load(r.get(), 1, "era.lco"), "(null)");
    EXPECT_EQ(r->error, 0);
    const gl_ltime &t = r->ltime;
    ASSERT_EQ(t.eras.count, 2);
    ASSERT_NE(t.eras.records, nullptr);
    const era_record &e = *t.eras.records[0];
    EXPECT_EQ(e.direction, 1);
    EXPECT_EQ(e.offset, 1);
    EXPECT_EQ(e.start_year, 1989);
    EXPECT_EQ(e.start_month, 1);
    EXPECT_EQ(e.start_day, 8);
    EXPECT_EQ(e.end_kind, 1);
    EXPECT_EQ(e.end_year, 0);
    EXPECT_STREQ(e.era_name, "Heisei");
    EXPECT_STREQ(e.era_name2, "HS");
    EXPECT_STREQ(e.era_year_format, "%EC%Ey");
    ASSERT_NE(e.era_year_format_wc, nullptr);
    EXPECT_EQ(e.era_year_format_wc[0], static_cast<gl_wchar>('%'));
    const era_record &f = *t.eras.records[1];
    EXPECT_EQ(f.direction, -1);
    EXPECT_EQ(f.start_year, -5);
    EXPECT_EQ(f.end_kind, 0);
    EXPECT_EQ(f.end_year, -100);
    EXPECT_EQ(f.end_month, 1);
    EXPECT_STREQ(t.era_joined.mb,
                 "+:1:1989/01/08:+*:Heisei:HS:%EC%Ey\n-:2:-5/12/31:-100/1/1:Old:O:%Ey");
    EXPECT_STREQ(t.alt_digits_joined.mb, "zero\none");
    // The era trees answer with the era's index.
    const gl_wchar text[] = {'O', 'l', 'd', 0};  // no case pair for O here
    int length = 0, index = -1;
    EXPECT_EQ(_gl_validate_wc_string(r.get(), t.lookup_trees[GL_TREE_ERA_NAME], text, &length, &index), 0);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(length, 3);
}

TEST_F(LoadedSections, BadErasFailTheTimeCategory) {
    struct Case {
        const char *era;
        int error;
    } cases[] = {
        {"*:1:1989/01/08:+*:A:B:C", 49},   // no direction
        {"+1:1989/01/08:+*:A:B:C", 49},    // missing separator
        {"+:1:1989-01-08:+*:A:B:C", 49},   // a date without "/"
        {"+:1:1989/01/08:+*:A", 3},        // a name with no ":" after it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.era);
        Lco file = toy_locale();
        file.time = toy_time(12, {c.era});
        scene.write("bad_era.lco", file);
        LocalePtr r = new_record();
        EXPECT_EQ(load(r.get(), 1, "bad_era.lco"), "(null)");
        EXPECT_EQ(r->error, c.error);
        EXPECT_EQ(r->ltime.eras.records, nullptr);
    }
}

TEST_F(LoadedSections, MissingMarkerAndUnknownCalendar) {
    Lco file = toy_locale();
    file.time.reset();
    scene.write("no_time.lco", file);
    LocalePtr r = new_record();
    ASSERT_NE(load(r.get(), GL_CTYPE, "no_time.lco"), "(null)");
    EXPECT_EQ(load(r.get(), GL_TIME, "no_time.lco"), "(null)");
    EXPECT_EQ(r->error, 11);

    Lco julian = toy_locale();
    julian.time = toy_time(12, {}, {}, "julian");
    scene.write("julian.lco", julian);
    LocalePtr s = new_record();
    EXPECT_EQ(load(s.get(), 1, "julian.lco"), "(null)");
    EXPECT_EQ(s->error, 50);
    // The category is null again, nothing half-read left behind.
    EXPECT_EQ(s->ltime.calendar, 0);
    EXPECT_STREQ(s->codeset_names[GL_TIME - 2], "");
}

TEST_F(LoadedSections, BadMonetaryStringFailsTheCategory) {
    Lco file = toy_locale();
    file.monetary = enc("USD ") + "1 24\n" + enc(".") + enc(",") + "2 3 3\n" + enc("") + enc("-") +
                    "2 2 1 0 1 0 1 1\n";
    file.monetary->replace(file.monetary->find("1 24"), 4, "124");  // no space
    scene.write("bad_mon.lco", file);
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, "bad_mon.lco"), "(null)");
    EXPECT_EQ(r->error, 8);
    EXPECT_STREQ(r->file_names[GL_NUMERIC - 2], "bad_mon.lco");
    EXPECT_EQ(r->int_curr_symbol.mb, nullptr);
    EXPECT_EQ(r->conv.int_curr_symbol.mb, nullptr);
    EXPECT_EQ(r->mon_ints[0], GL_MON_NA);
}

// gls.log is switched on once per process: the diagnostic is read back in
// a child whose working directory is a temporary one.
TEST_F(LoadedSections, BadMonetaryWritesItsDiagnostic) {
    Lco file = toy_locale();
    file.monetary = "3414243\n";
    scene.write("bad_mon.lco", file);
    glstest::TempDir cwd;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(cwd.path().c_str()) != 0) _exit(2);
        gls_debug_initialized = 0;
        gls_logging = 0;
        scene.env().set("GLSLOG", "on");
        gl_locale *r = nullptr;
        if (gl_create_null_locale_4(&r) != 0) _exit(3);
        char *q = gl_setlocale_4(r, 1, "bad_mon.lco");
        _exit(q == nullptr && r->error == 8 ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string log = glstest::read_file(cwd.file("gls.log"));
    EXPECT_NE(log.find("Failed to read monetary information\n"), std::string::npos) << log;
}

TEST_F(LoadedSections, MalformedFilesFailWithErrorElevenForEveryCategory) {
    // The F4 fixtures through the loader: nothing may be left half-read.
    std::vector<std::pair<const char *, Lco>> cases;
    {
        Lco f = toy_locale();
        CtypeToy t = toy_ctype();
        t.case_index[key({'1'})] = 5;
        f.ctype = t.text();
        cases.emplace_back("case index", f);
    }
    {
        Lco f = toy_locale();
        CollateToy c = toy_collate();
        c.weights[0] = {0x4007};
        f.collate = c.text();
        cases.emplace_back("expansion index", f);
    }
    {
        Lco f = toy_locale();
        f.numeric = enc(".") + "-1\n" + enc("+") + enc("-");
        cases.emplace_back("negative string length", f);
    }
    {
        Lco f = toy_locale();
        f.numeric = enc(".") + enc(",") + "-3\n" + enc("+") + enc("-");
        cases.emplace_back("negative grouping count", f);
    }
    {
        Lco f = toy_locale();
        f.header = "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=1\n8859-1\n";
        cases.emplace_back("header of one line", f);
    }
    for (const auto &[what, f] : cases) {
        SCOPED_TRACE(what);
        scene.write("f4.lco", f);
        LocalePtr r = new_record();
        EXPECT_EQ(load(r.get(), 1, "f4.lco"), "(null)");
        EXPECT_EQ(r->error, 11);
    }
}

}  // namespace

// A string whose last character runs into the four zero bytes that end it
// (a code set where zero bytes continue characters) is widened within its
// own block: it has no wide form, and nothing past the block is read.
TEST_F(LoadedSections, StringEndingInsideACharacterStaysInItsBlock) {
    Lco file = toy_locale();
    CtypeToy ctype;
    ctype.classes = {{key({0, 0}), 32}, {key({0, '.'}), 64 | 128 | 256},
                     {key({'A', 0, 0, 0}), 4 | 128 | 256}};
    file.ctype = ctype.text();
    file.collate.reset();
    file.numeric = enc("A") + enc(std::string_view("\0.", 2)) + "0\n" + enc("") + enc("");
    scene.write("zero_tail.lco", file);
    LocalePtr r = new_record();
    ASSERT_NE(load(r.get(), GL_CTYPE, "zero_tail.lco"), "(null)");
    ASSERT_EQ(r->ctype_table->min_length, 2);
    load(r.get(), GL_NUMERIC, "zero_tail.lco");
    ASSERT_NE(r->decimal_point.mb, nullptr);
    EXPECT_EQ(r->decimal_point.wc, nullptr);  // "A" alone is no character
    ASSERT_NE(r->thousands_sep.wc, nullptr);
    EXPECT_EQ(r->thousands_sep.wc[0], 0x2eu);
    EXPECT_EQ(r->thousands_sep.wc[1], 0u);
}
