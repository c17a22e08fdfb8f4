/*
** Loading locale records from files: the file of each category from a
** specification, the environment or default.lco, the query string, the
** code-set checks of a load, the limits of specifications and file names,
** loading from a directory, the diagnostic of a failed section, reloading,
** and every allocation of a load failing in turn.
*/
#include "child_process.h"
#include "lco_builder.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lcotest;

namespace {

class Loading : public ToyLocales {};

/* The toy locale with more to allocate and free: a COLLATE whose equal rows
** make equivalence lists, and a TIME of month_count months with an era and
** alternative digits. */
Lco rich_locale(int month_count) {
  Lco rich = toy_locale();
  CollateToy c = toy_collate();
  c.order = 0;
  c.weights = {{2}, {3}, {3}};
  rich.collate = c.text();
  rich.time = toy_time(month_count, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey"}, {"0", "1"});
  return rich;
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
  EXPECT_EQ(r->error, 8); /* NUMERIC searched the whole text, nothing opened */
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
  /* NUMERIC of another code set than CTYPE's. */
  EXPECT_EQ(load(r.get(), GL_NUMERIC, "latin2.lco"), "(null)");
  EXPECT_EQ(r->error, 58);
  /* CTYPE alone from another code set loads; the others disagree now. */
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

  std::string name31 = std::string(27, 'n') + ".lco";
  scene.write(name31, toy_locale());
  r->error = 0;
  EXPECT_EQ(load(r.get(), GL_CTYPE, name31.c_str()), name31);
  EXPECT_EQ(r->error, 0);
  EXPECT_EQ(r->file_names[0][31], '\0');
}

/* A file name is recorded whole in the record and the query, however it is
** given: plain, after a category key, or as a whole specification (a
** directory prefix, the byte 0xFF and the short name's file) of 32 bytes
** or more. The longest accepted name has 127 bytes; a longer one is
** refused with error 9, never cut (a cut name could name another file). */
TEST_F(Loading, FileNamesUpTo127BytesAreRecordedWhole) {
  const std::string name32 = std::string(28, 'n') + ".lco";
  scene.write(name32, toy_locale());
  /* A whole specification as the client composes it from a directory. */
  const std::string short_file = "en_us/0333.lco";
  scene.write("locales/" + short_file, toy_locale());
  const std::string whole = scene.dir().file("locales") + "\xff" + short_file;
  ASSERT_GE(whole.size(), 32u);
  /* The same under a directory whose name makes the whole name 127 and
  ** 128 bytes long. */
  const std::size_t fixed = scene.dir().path().size() + 2 + short_file.size(); /* "/" and 0xFF */
  ASSERT_LT(fixed, 127u) << "the temporary directory's path is too long for this case";
  const std::string pad(127 - fixed, 'p');
  scene.write(pad + "/" + short_file, toy_locale());
  scene.write(pad + "q/" + short_file, toy_locale());
  const std::string name127 = scene.dir().file(pad) + "\xff" + short_file;
  const std::string name128 = scene.dir().file(pad + "q") + "\xff" + short_file;
  ASSERT_EQ(name127.size(), 127u);
  ASSERT_EQ(name128.size(), 128u);

  struct Case {
    const char *what;
    std::string spec;
    std::string name;
  } cases[] = {
      {"32-byte name", name32, name32},
      {"32-byte name after its key", "GL_CTYPE = " + name32 + " ; ", name32},
      {"whole specification", whole, whole},
      {"whole specification of 127 bytes", name127, name127},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), GL_CTYPE, c.spec.c_str()), c.name);
    EXPECT_EQ(r->error, 0);
    ASSERT_EQ(std::string(r->file_names[0]), c.name);
    /* The wide twin holds every byte too, and its terminator. */
    for (std::size_t i = 0; i <= c.name.size(); ++i)
      EXPECT_EQ(r->file_names_wc[0][i],
                static_cast<gl_wchar>(static_cast<unsigned char>(c.name.c_str()[i])))
          << i;
  }

  /* All six categories from one whole specification: the query names it
  ** six times. */
  LocalePtr all = new_record();
  EXPECT_EQ(load(all.get(), GL_ALL, name127.c_str()), query_naming(name127));
  EXPECT_EQ(all->error, 0);
  EXPECT_EQ(std::string(all->file_names[5]), name127);

  LocalePtr r = new_record();
  ASSERT_EQ(load(r.get(), GL_CTYPE, whole.c_str()), whole);
  EXPECT_EQ(load(r.get(), GL_CTYPE, name128.c_str()), "(null)");
  EXPECT_EQ(r->error, 9);
  EXPECT_EQ(std::string(r->file_names[0]), whole); /* the loaded name stays */
}

TEST_F(Loading, UnknownCollateKindIsReportedAsLoadFailure) {
  Lco f = toy_locale();
  f.collate = "by_magic\n";
  scene.write("magic.lco", f);
  LocalePtr r = new_record();
  EXPECT_EQ(load(r.get(), 1, "magic.lco"), "(null)");
  EXPECT_EQ(r->error, 55);
  EXPECT_STREQ(r->file_names[0], "magic.lco"); /* CTYPE stays loaded */
}

TEST_F(Loading, DirectoryLoadAndDefaultRecord) {
  dvz_test::TempDir other;
  other.write("x.lco", toy_locale().text());
  gl_locale *r = nullptr;
  EXPECT_EQ(gl_lc_load(&r, "x.lco", nullptr, other.path().c_str()), 0);
  EXPECT_STREQ(r->file_names[5], "x.lco");
  gl_lc_unload(r);

  gl_locale *d = nullptr;
  /* No file at the prefix: the search path supplies default.lco. */
  EXPECT_EQ(gl_createlocale2_4(&d, (other.path() + "/x.").c_str()), 0);
  gl_lc_unload(d);
  other.write("x.default.lco", toy_locale().text());
  EXPECT_EQ(gl_createlocale2_4(&d, (other.path() + "/x.").c_str()), 0);
  EXPECT_STREQ(d->file_names[3], "default.lco");
  EXPECT_EQ(d->error, 0);
  gl_lc_unload(d);
}

TEST(DefaultRecord, NoFileGivesTheStaticRecord) {
  dvz_test::TempDir empty;
  glstest::TableGetenv env({{"GL_PATH", empty.path()}});
  gl_locale *d = nullptr;
  EXPECT_EQ(gl_createlocale_4(&d), -1);
  EXPECT_EQ(d, &loc_filer);
  EXPECT_EQ(d->error, 8);
  gl_lc_unload(d);
}

/* gls.log is switched on once per process: the diagnostic is read back in
** a child whose working directory is a temporary one. */
TEST_F(Loading, BadMonetaryWritesItsDiagnostic) {
  Lco file = toy_locale();
  file.monetary = "3414243\n";
  scene.write("bad_mon.lco", file);
  dvz_test::TempDir cwd;
  EXPECT_TRUE(glstest::run_in_child(cwd.path(), [&] {
    gls_debug_initialized = 0;
    gls_logging = 0;
    scene.env().set("GLSLOG", "on");
    gl_locale *r = nullptr;
    if (gl_create_null_locale_4(&r) != 0) _exit(3);
    char *q = gl_setlocale_4(r, 1, "bad_mon.lco");
    _exit(q == nullptr && r->error == 8 ? 0 : 4);
  }));
  std::string log = dvz_test::read_file(cwd.file("gls.log"));
  EXPECT_NE(log.find("Failed to read monetary information\n"), std::string::npos) << log;
}

TEST_F(Loading, ReloadingEveryCategoryRepeatedlyIsClean) {
  scene.write("rich.lco", rich_locale(13));
  LocalePtr r = new_record();
  for (int round = 0; round < 3; ++round) {
    ASSERT_NE(load(r.get(), 1, "rich.lco"), "(null)");
    for (int category = GL_CTYPE; category <= GL_MESSAGES; ++category)
      ASSERT_NE(load(r.get(), category, round % 2 ? "toy.lco" : "rich.lco"), "(null)");
  }
  EXPECT_EQ(r->error, 0);
}

/* Each allocation of a load, made to fail in turn: a clean failure (NULL,
** error 3) and, once the record is freed, no block left behind. */
TEST_F(Loading, EveryAllocationOfALoadMayFail) {
  scene.write("rich.lco", rich_locale(12));
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
      EXPECT_EQ(r->error, GL_ENOMEM); /* memory, not a vaguer load failure */
    }
    gl_destroystring(q);
    gl_lc_unload(r);
    EXPECT_EQ(fail.outstanding(), 0);
    EXPECT_FALSE(fail.freed_unknown());
  }
  EXPECT_GT(failures_seen, 0);
}

}  // namespace
