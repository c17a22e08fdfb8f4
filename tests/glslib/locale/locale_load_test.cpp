// Locale records: creation, loading by specification, the query string,
// the code-set checks, copying categories between records, freeing in
// every order, and every allocation of a load failing in turn.
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lcotest;

namespace {

constexpr const char *kEmptyQuery =
    "GL_CTYPE =  ; GL_COLLATE =  ; GL_NUMERIC =  ; GL_MONETARY =  ; GL_TIME =  ; GL_MESSAGES =  ; ";

class Loading : public ::testing::Test {
protected:
    Loading() {
        scene.write("default.lco", toy_locale());
        scene.write("toy.lco", toy_locale());
        scene.write("latin2.lco", toy_locale("8859-2"));
    }
    Scene scene;
};

TEST(NullRecord, QueryOfANewRecordNamesNothing) {
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, nullptr), kEmptyQuery);
    EXPECT_EQ(load(r.get(), GL_TIME, nullptr), "");
    EXPECT_EQ(load(r.get(), 8, nullptr), "(null)");
    EXPECT_EQ(r->error, 9);
    EXPECT_EQ(gl_mb_loc_max(r.get()), 0);
    EXPECT_EQ(gl_mb_loc_min(r.get()), 4);
    EXPECT_EQ(r->mon_ints[GL_N_SIGN_POSN], GL_MON_NA);
    EXPECT_DOUBLE_EQ(r->case_expansion, 1.0);
}

TEST(NullRecord, FailingAllocatorHandsOutTheStaticRecord) {
    gl_locale *r = nullptr;
    {
        glstest::FailingAllocator fail(1);
        EXPECT_EQ(gl_create_null_locale_4(&r), -1);
    }
    EXPECT_EQ(r, &loc_nomem);
    EXPECT_EQ(r->error, 3);
    gl_lc_unload(r);  // does nothing
    EXPECT_EQ(loc_nomem.error, 3);
    EXPECT_EQ(gl_setlocale_4(&loc_nomem, 1, "toy.lco"), nullptr);
    EXPECT_EQ(loc_nomem.error, 3);
}

TEST_F(Loading, EmptySpecificationLoadsDefaultForAllSix) {
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, ""),
              "GL_CTYPE = default.lco ; GL_COLLATE = default.lco ; GL_NUMERIC = default.lco ; "
              "GL_MONETARY = default.lco ; GL_TIME = default.lco ; GL_MESSAGES = default.lco ; ");
    EXPECT_EQ(r->error, 0);
    EXPECT_EQ(r->single_byte, 1);
    EXPECT_EQ(r->codeset_order, 1);
    EXPECT_EQ(r->file_names_wc[0][0], static_cast<gl_wchar>('d'));
    EXPECT_EQ(r->codeset_names_wc[0][0], static_cast<gl_wchar>('8'));
}

TEST_F(Loading, EnvironmentNamesTheFilesOfAnEmptySpecification) {
    scene.write("time.lco", toy_locale());
    scene.env().set("GL_TIME", "time.lco");
    scene.env().set("GL_LANG", "toy.lco");
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, ""),
              "GL_CTYPE = toy.lco ; GL_COLLATE = toy.lco ; GL_NUMERIC = toy.lco ; "
              "GL_MONETARY = toy.lco ; GL_TIME = time.lco ; GL_MESSAGES = toy.lco ; ");
    scene.env().set("GL_ALL", "default.lco");
    EXPECT_EQ(load(r.get(), GL_TIME, ""), "default.lco");
}

TEST_F(Loading, NativeLoadsDefaultButRecordsNative) {
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), GL_CTYPE, "native"), "native");
    EXPECT_EQ(r->error, 0);
    EXPECT_STREQ(r->file_names[0], "native");
    EXPECT_STREQ(r->codeset_names[0], "8859-1");
}

TEST_F(Loading, LongSpecificationLoadsItsCategoriesThenFailsOnTheRest) {
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, "GL_CTYPE = toy.lco ; GL_COLLATE = toy.lco ; "), "(null)");
    EXPECT_EQ(r->error, 8);  // NUMERIC searched the whole text, nothing opened
    EXPECT_STREQ(r->file_names[0], "toy.lco");
    EXPECT_STREQ(r->file_names[1], "toy.lco");
    EXPECT_EQ(r->coll_kind, 1);
    EXPECT_STREQ(r->file_names[2], "");
}

TEST_F(Loading, LongSpecificationNamesEachCategory) {
    scene.write("other.lco", toy_locale());
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1,
                   "GL_CTYPE = toy.lco ; GL_COLLATE = other.lco ; GL_NUMERIC = toy.lco ; "
                   "GL_MONETARY = toy.lco ; GL_TIME = other.lco ; GL_MESSAGES = toy.lco ; "),
              "GL_CTYPE = toy.lco ; GL_COLLATE = other.lco ; GL_NUMERIC = toy.lco ; "
              "GL_MONETARY = toy.lco ; GL_TIME = other.lco ; GL_MESSAGES = toy.lco ; ");
    EXPECT_EQ(r->error, 0);
}

TEST_F(Loading, CodeSetChecks) {
    LocalePtr r = new_record();
    ASSERT_NE(load(r.get(), 1, "toy.lco"), "(null)");
    // NUMERIC of another code set than CTYPE's.
    EXPECT_EQ(load(r.get(), GL_NUMERIC, "latin2.lco"), "(null)");
    EXPECT_EQ(r->error, 58);
    // CTYPE alone from another code set loads; the others disagree now.
    EXPECT_EQ(load(r.get(), GL_CTYPE, "latin2.lco"), "latin2.lco");
    EXPECT_EQ(r->error, 12);
    EXPECT_STREQ(r->codeset_names[0], "8859-2");
}

TEST_F(Loading, SpecificationAndNameLimits) {
    LocalePtr r = new_record();
    std::string long_spec(312, 'x');
    EXPECT_EQ(load(r.get(), 1, long_spec.c_str()), "(null)");
    EXPECT_EQ(r->error, 9);
    EXPECT_EQ(load(r.get(), 0, "toy.lco"), "(null)");
    EXPECT_EQ(r->error, 9);

    // A name of 32 bytes cannot be recorded: refused, never cut.
    std::string name32 = std::string(28, 'n') + ".lco";
    std::string name31 = std::string(27, 'n') + ".lco";
    scene.write(name32, toy_locale());
    scene.write(name31, toy_locale());
    r->error = 0;
    EXPECT_EQ(load(r.get(), GL_CTYPE, name32.c_str()), "(null)");
    EXPECT_EQ(r->error, 9);
    EXPECT_EQ(load(r.get(), GL_CTYPE, ("GL_CTYPE = " + name32 + " ; ").c_str()), "(null)");
    EXPECT_EQ(r->error, 9);
    r->error = 0;
    EXPECT_EQ(load(r.get(), GL_CTYPE, name31.c_str()), name31);
    EXPECT_EQ(r->error, 0);
    EXPECT_EQ(r->file_names[0][31], '\0');
}

TEST_F(Loading, UnknownCollateKindIsReportedAsLoadFailure) {
    Lco f = toy_locale();
    f.collate = "by_magic\n";
    scene.write("magic.lco", f);
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, "magic.lco"), "(null)");
    EXPECT_EQ(r->error, 55);
    EXPECT_STREQ(r->file_names[0], "magic.lco");  // CTYPE stays loaded
}

TEST_F(Loading, DirectoryLoadAndDefaultRecord) {
    glstest::TempDir other;
    other.write("x.lco", toy_locale().text());
    gl_locale *r = nullptr;
    EXPECT_EQ(gl_lc_load(&r, "x.lco", nullptr, other.path().c_str()), 0);
    EXPECT_STREQ(r->file_names[5], "x.lco");
    gl_lc_unload(r);

    gl_locale *d = nullptr;
    // No file at the prefix: the search path supplies default.lco.
    EXPECT_EQ(gl_createlocale2_4(&d, (other.path() + "/x.").c_str()), 0);
    gl_lc_unload(d);
    other.write("x.default.lco", toy_locale().text());
    EXPECT_EQ(gl_createlocale2_4(&d, (other.path() + "/x.").c_str()), 0);
    EXPECT_STREQ(d->file_names[3], "default.lco");
    EXPECT_EQ(d->error, 0);
    gl_lc_unload(d);
}

TEST(DefaultRecord, NoFileGivesTheStaticRecord) {
    glstest::TempDir empty;
    glstest::TableGetenv env({{"GL_PATH", empty.path()}});
    gl_locale *d = nullptr;
    EXPECT_EQ(gl_createlocale_4(&d), -1);
    EXPECT_EQ(d, &loc_filer);
    EXPECT_EQ(d->error, 8);
    gl_lc_unload(d);
}

TEST_F(Loading, CopyChecksChangeNothingOnFailure) {
    LocalePtr s = new_record();
    ASSERT_NE(load(s.get(), 1, "toy.lco"), "(null)");
    LocalePtr t = new_record();
    ASSERT_NE(load(t.get(), GL_CTYPE, "toy.lco"), "(null)");
    EXPECT_EQ(gl_copy_cat(t.get(), s.get(), 1), -1);
    EXPECT_EQ(t->error, 19);
    EXPECT_STREQ(t->file_names[1], "");
    EXPECT_EQ(t->shared_categories, 0);

    LocalePtr partial = new_record();
    ASSERT_NE(load(partial.get(), GL_CTYPE, "toy.lco"), "(null)");
    LocalePtr u = new_record();
    EXPECT_EQ(gl_copy_cat(u.get(), partial.get(), GL_NUMERIC), -1);
    EXPECT_EQ(u->error, 18);
    EXPECT_EQ(gl_copy_cat(u.get(), partial.get(), 1), -1);
    EXPECT_EQ(u->error, 18);
    EXPECT_EQ(gl_copy_cat(u.get(), partial.get(), GL_CTYPE), 0);
    EXPECT_EQ(u->ctype_table, partial->ctype_table);
    EXPECT_EQ(u->class_map[static_cast<unsigned char>('A')], partial->class_map['A']);
    EXPECT_NE(u->class_map, partial->class_map);  // maps are the target's own
}

// Load, copy, reload and unload in every order of source and target: the
// target never frees what it shares, nothing is freed twice (ASan).
TEST_F(Loading, CopiesSurviveEveryOrderOfFreeing) {
    enum Order { TargetFirst, SourceFirst, TargetReloadedThenSourceFirst, NonsharedFree, SourceReloadsOwn };
    for (Order order : {TargetFirst, SourceFirst, TargetReloadedThenSourceFirst, NonsharedFree, SourceReloadsOwn}) {
        SCOPED_TRACE(order);
        Lco eras = toy_locale();
        eras.time = toy_time(12, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey"}, {"0", "1"});
        scene.write("eras.lco", eras);
        gl_locale *s = nullptr;
        gl_locale *t = nullptr;
        ASSERT_EQ(gl_create_null_locale_4(&s), 0);
        ASSERT_EQ(gl_create_null_locale_4(&t), 0);
        ASSERT_NE(load(s, 1, "eras.lco"), "(null)");
        ASSERT_EQ(gl_copy_cat(t, s, 1), 0);
        EXPECT_EQ(t->error, 0);
        EXPECT_EQ(t->shared_categories, 0x3f);
        EXPECT_EQ(t->ltime.eras.records, nullptr);
        EXPECT_STREQ(gl_nl_langinfo(t, GL_MON_1), "Month1");
        EXPECT_STREQ(gl_localeconv(t)->decimal_point.mb, ".");
        EXPECT_NE(gl_localeconv(t)->decimal_point.mb, gl_localeconv(s)->decimal_point.mb);
        switch (order) {
        case TargetFirst:
            gl_lc_unload(t);
            gl_lc_unload(s);
            break;
        case SourceFirst:
            // The target's data dangles now; freeing it touches none of it.
            gl_lc_unload(s);
            gl_lc_unload(t);
            break;
        case TargetReloadedThenSourceFirst:
            EXPECT_EQ(load(t, 1, "toy.lco").substr(0, 8), "GL_CTYPE");
            EXPECT_EQ(t->shared_categories, 0);
            gl_lc_unload(s);
            EXPECT_STREQ(gl_nl_langinfo(t, GL_MON_1), "Month1");
            gl_lc_unload(t);
            break;
        case NonsharedFree:
            gl_free_nonshared_loc(t);
            gl_lc_unload(s);
            break;
        case SourceReloadsOwn:
            gl_lc_unload(t);
            EXPECT_NE(load(s, 1, "toy.lco"), "(null)");
            gl_lc_unload(s);
            break;
        }
    }
}

TEST_F(Loading, ReloadingEveryCategoryRepeatedlyIsClean) {
    Lco rich = toy_locale();
    CollateToy c = toy_collate();
    c.order = 0;
    c.weights = {{2}, {3}, {3}};
    rich.collate = c.text();
    rich.time = toy_time(13, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey"}, {"0", "1"});
    scene.write("rich.lco", rich);
    LocalePtr r = new_record();
    for (int round = 0; round < 3; ++round) {
        ASSERT_NE(load(r.get(), 1, "rich.lco"), "(null)");
        for (int category = GL_CTYPE; category <= GL_MESSAGES; ++category)
            ASSERT_NE(load(r.get(), category, round % 2 ? "toy.lco" : "rich.lco"), "(null)");
    }
    EXPECT_EQ(r->error, 0);
}

// Each allocation of a load, made to fail in turn: a clean failure (NULL,
// error 3) and, once the record is freed, no block left behind.
TEST_F(Loading, EveryAllocationOfALoadMayFail) {
    Lco rich = toy_locale();
    CollateToy c = toy_collate();
    c.order = 0;
    c.weights = {{2}, {3}, {3}};
    rich.collate = c.text();
    rich.time = toy_time(12, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey"}, {"0", "1"});
    scene.write("rich.lco", rich);
    int total = 0;
    {
        glstest::FailingAllocator count;
        gl_locale *r = nullptr;
        ASSERT_EQ(gl_create_null_locale_4(&r), 0);
        char *q = gl_setlocale_4(r, 1, "rich.lco");
        ASSERT_NE(q, nullptr);
        gl_destroystring(q);
        total = count.calls();
        gl_lc_unload(r);
        EXPECT_EQ(count.outstanding(), 0);
    }
    ASSERT_GT(total, 50);
    int failures_seen = 0;
    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE(n);
        glstest::FailingAllocator fail(n);
        gl_locale *r = nullptr;
        if (gl_create_null_locale_4(&r) != 0) {
            EXPECT_EQ(r, &loc_nomem);
            continue;
        }
        char *q = gl_setlocale_4(r, 1, "rich.lco");
        if (q == nullptr) {
            ++failures_seen;
            EXPECT_EQ(r->error, GL_ENOMEM);  // memory, not a vaguer load failure
        }
        gl_destroystring(q);
        gl_lc_unload(r);
        EXPECT_EQ(fail.outstanding(), 0);
        EXPECT_FALSE(fail.freed_unknown());
    }
    EXPECT_GT(failures_seen, 0);
}

TEST(CollationChoice, FirstMatchingRowOfTheTable) {
    gl_locale r{};
    struct Case {
        int kind, single, elements, expansions, flag;
        gl_mbscoll_func expected;
    } cases[] = {
        {2, 1, 0, 0, 1, _gl_thaismocoll},         {1, 0, 0, 0, 1, _gl_im_mbscoll},
        {1, 1, 0, 3, 1, _gl_is_mbscoll_exp},      {1, 1, 2, 0, 1, _gl_is_mbscoll_elem},
        {1, 1, 0, 0, 2, _gl_is_mbscoll_back},     {1, 1, 0, 0, 1, _gl_is_mbscoll_back},
        {1, 1, 2, 3, 1, _gl_is_mbscoll_exp_elem}, {1, 1, 2, 3, 2, _gl_im_mbscoll},
        {1, 1, 0, 3, 2, _gl_im_mbscoll},
    };
    for (const Case &c : cases) {
        r.coll_kind = c.kind;
        r.single_byte = c.single;
        r.element_count = c.elements;
        r.expansion_count = c.expansions;
        r.pass_count = 1;
        r.pass_flags[0] = c.flag;
        set_collation_fp(&r);
        EXPECT_EQ(r.mbscoll_fn, c.expected) << c.kind << c.single << c.elements << c.expansions << c.flag;
        EXPECT_EQ(r.mbsxfrm_fn, c.kind == 2 ? _gl_thaismoxfrm : gl_full_mbsxfrm);
    }
}

}  // namespace
