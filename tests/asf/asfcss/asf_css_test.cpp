/*
** The association glue of communication support on its own: the
** information record's word map, the library context's path rules (the
** file named by RARODAZIRAVAVIDOZ, DOVARIZADIR's etc/concsm.cfg, neither),
** and the checks every entry point makes before it reaches a context.
** The glue over a live connection is tested in al/asf_call_css_test.cpp.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "asf_al.h"
#include "asf_css.h"
#include "asf_ns.h"
#include "os_messages.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

asfsvcctl fresh_ctl(void *ascid = nullptr) {
  asfsvcctl ctl {};
  ctl.flags = asf_flag_sync;
  ctl.timeout = -1;
  ctl.ascid = ascid;
  return ctl;
}

TEST(AsfCssInfo, ValuesTwoToTenLandInTheirWords) {
  csm_conn_info info;
  std::memset(&info, 0xee, sizeof info);
  set_asf_csm_info(&info, 2, 3, 4, 5, 6, 7, 8, 9, 10);
  // Parameter n's value is n: word w must hold the parameter the map names.
  constexpr uintptr_t expected[CSM_INFO_VALUE_WORDS] = {2, 4, 0, 3, 5, 7, 0, 6, 8, 9, 10};
  for (int w = 0; w < CSM_INFO_VALUE_WORDS; ++w)
    EXPECT_EQ(info.word[w], expected[w]) << "word " << w;
  for (int w = CSM_INFO_VALUE_WORDS; w < CSM_INFO_IMPORTS; ++w)
    EXPECT_EQ(info.word[w], 0u) << "word " << w;
  const auto *imports = reinterpret_cast<const csm_import_fv *>(info.word[CSM_INFO_IMPORTS]);
  ASSERT_NE(imports, nullptr);
  EXPECT_EQ(imports->oschkinternet, &_oschkinternet);
  EXPECT_EQ(imports->rgetmsg, &rgetmsg);
  EXPECT_EQ(sizeof info, CSM_CONN_INFO_WORDS * sizeof(uintptr_t));
}

class AsfCssLibrary : public ::testing::Test {
 protected:
  void TearDown() override {
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(asf_css_terminate(&ctl), 0);
    EXPECT_EQ(is_css_library_initialized(), 0);
  }
  dvz_test::TempDir dir_;
};

TEST_F(AsfCssLibrary, MissingFileNamedByTheVariableFailsWithItsPath) {
  const std::string path = dir_.path() + "/none.cfg";
  dvz_test::ScopedEnv env("RARODAZIRAVAVIDOZ", path);
  asfsvcctl ctl = fresh_ctl();
  EXPECT_EQ(asf_css_init_once(&ctl), -1);
  EXPECT_EQ(ctl.asfcode, CSS_ERR_CFGOPEN);
  EXPECT_EQ(std::string(ctl.errstr), path);
  EXPECT_EQ(is_css_library_initialized(), 0);
}

TEST_F(AsfCssLibrary, WithBothVariablesUnsetTheFailureCarriesACode) {
  dvz_test::ScopedEnv a("RARODAZIRAVAVIDOZ", std::nullopt);
  dvz_test::ScopedEnv b("DOVARIZADIR", std::nullopt);
  asfsvcctl ctl = fresh_ctl();
  EXPECT_EQ(asf_css_init(&ctl), -1);
  EXPECT_EQ(ctl.asfcode, CSS_ERR_CFGOPEN);
  const std::string text = ctl.errstr;
  // The client environment's default installation directory, or the bare
  // name when there is none: never a failure without a code.
  const std::string suffix = ASFCSS_CONFIG_NAME;
  ASSERT_GE(text.size(), suffix.size());
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
  EXPECT_EQ(is_css_library_initialized(), 0);
}

TEST_F(AsfCssLibrary, DovarizadirEtcConcsmIsReadOnceAndTheVariableWins) {
  dir_.write("etc/concsm.cfg", "A(\"liba.so\", \"\", \"\")\n");
  dvz_test::ScopedEnv a("RARODAZIRAVAVIDOZ", std::nullopt);
  dvz_test::ScopedEnv b("DOVARIZADIR", dir_.path());
  asfsvcctl ctl = fresh_ctl();
  ASSERT_EQ(asf_css_init_once(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  ASSERT_EQ(is_css_library_initialized(), 1);
  EXPECT_NE(css_find_csm_descr(&asf_css_libctx->descrs, "a"), nullptr);
  // Built already: a broken variable is not read again.
  dvz_test::ScopedEnv c("RARODAZIRAVAVIDOZ", dir_.path() + "/none.cfg");
  EXPECT_EQ(asf_css_init_once(&ctl), 0);
  EXPECT_EQ(asf_css_terminate(&ctl), 0);
  // The variable names the file itself, before DOVARIZADIR.
  const std::string own = dir_.write("own.cfg", "B(\"libb.so\")\n");
  dvz_test::ScopedEnv d("RARODAZIRAVAVIDOZ", own);
  ASSERT_EQ(asf_css_init_once(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  EXPECT_EQ(css_find_csm_descr(&asf_css_libctx->descrs, "a"), nullptr);
  EXPECT_NE(css_find_csm_descr(&asf_css_libctx->descrs, "b"), nullptr);
}

TEST_F(AsfCssLibrary, SyntaxErrorLeavesNoContext) {
  const std::string bad = dir_.write("bad.cfg", "A(\"liba.so\"\n");
  dvz_test::ScopedEnv env("RARODAZIRAVAVIDOZ", bad);
  asfsvcctl ctl = fresh_ctl();
  EXPECT_EQ(asf_css_init_once(&ctl), -1);
  EXPECT_EQ(ctl.asfcode, CSS_ERR_SYNTAX);
  EXPECT_EQ(is_css_library_initialized(), 0);
}

/* An association with protocol-family blocks and no support context. */
class AsfCssNoContext : public ::testing::Test {
 protected:
  void SetUp() override {
    asfsvcctl ctl = fresh_ctl();
    assoc_ = alCSalloc(&ctl, asf_kind_requester, nullptr);
    ASSERT_NE(assoc_, nullptr);
    ctl.ascid = assoc_;
    ASSERT_EQ(sqlCSalloc(&ctl, 0, "ol", "tlitcp"), 0);
  }
  void TearDown() override { EXPECT_EQ(alCSfree(assoc_), 0); }
  Assocctl *assoc_ = nullptr;
};

TEST_F(AsfCssNoContext, EntryPointsCheckTheirArgumentsBeforeAnyContext) {
  char data[4] = {'a', 'b', 'c', 'd'};
  rscbufctl msg {data, 4, 0, nullptr, data, 4, 0};
  rscbufctl *out = nullptr;
  csm_conn_info info;
  csm_buffer buf {data, 4};
  struct Case {
    const char *what;
    bool with_assoc;
    int (*call)(asfsvcctl *, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *);
    int rc;
    int32_t code;
  };
  const Case cases[] = {
      {"out without association", false,
       [](asfsvcctl *c, rscbufctl *m, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_process_out_message(c, m);
       },
       -1, ASF_ERR_BADARGS},
      {"out without message", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_process_out_message(c, nullptr);
       },
       -1, ASF_ERR_BADARGS},
      {"out without context", true,
       [](asfsvcctl *c, rscbufctl *m, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_process_out_message(c, m);
       },
       -1, ASFCSS_ERR_NOCONTEXT},
      {"in without out pointer", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_process_in_message(c, nullptr);
       },
       -1, ASF_ERR_BADARGS},
      {"in without context", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **o, csm_conn_info *, csm_buffer *) {
         return asf_css_process_in_message(c, o);
       },
       -1, ASFCSS_ERR_NOCONTEXT},
      {"create without association", false,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *i, csm_buffer *) {
         return asf_css_create_context(c, 0, 0, 0, 0, 0, 0, 0, 0, 0, "TEST", nullptr, i);
       },
       -1, ASF_ERR_BADASSOC},
      {"create without information buffer", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_create_context(c, 0, 0, 0, 0, 0, 0, 0, 0, 0, "TEST", nullptr, nullptr);
       },
       -1, ASF_ERR_BADARGS},
      {"create without specification", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *i, csm_buffer *) {
         return asf_css_create_context(c, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, nullptr, i);
       },
       -1, ASFCSS_ERR_NOSPEC},
      {"accept without fifth value", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *i, csm_buffer *) {
         return asf_css_accept_context(c, 1, 1, 1, 0, 1, 1, 1, 1, 1, "TEST", i);
       },
       -1, ASF_ERR_BADARGS},
      {"release without context", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_release_context(c);
       },
       -1, ASFCSS_ERR_NOCONTEXT},
      {"release without association", false,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_release_context(c);
       },
       -1, ASF_ERR_BADARGS},
      {"abort without context", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_abort_context(c);
       },
       0, 0},
      {"buffer done without buffer", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_buffer_done(c, nullptr, 1);
       },
       -1, ASF_ERR_BADARGS},
      {"buffer done without association", false,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *b) {
         return asf_css_buffer_done(c, b, 1);
       },
       -1, ASF_ERR_BADASSOC},
      {"buffer done without context", true,
       [](asfsvcctl *c, rscbufctl *, rscbufctl **, csm_conn_info *, csm_buffer *b) {
         return asf_css_buffer_done(c, b, 1);
       },
       -1, ASFCSS_ERR_NOCONTEXT},
      {"receive buffer without context", true,
       [](asfsvcctl *c, rscbufctl *m, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_free_recv_buffer(c, m);
       },
       -1, ASFCSS_ERR_NOCONTEXT},
      {"receive buffer without association", false,
       [](asfsvcctl *c, rscbufctl *m, rscbufctl **, csm_conn_info *, csm_buffer *) {
         return asf_css_free_recv_buffer(c, m);
       },
       -1, ASF_ERR_BADARGS},
  };
  for (const Case &c : cases) {
    asfsvcctl ctl = fresh_ctl(c.with_assoc ? assoc_ : nullptr);
    EXPECT_EQ(c.call(&ctl, &msg, &out, &info, &buf), c.rc) << c.what;
    EXPECT_EQ(ctl.asfcode, c.code) << c.what;
  }
  asfsvcctl ctl = fresh_ctl(assoc_);
  EXPECT_EQ(is_css_context_established(&ctl), 0);
  EXPECT_EQ(is_css_send_enabled(&ctl), 0);
  EXPECT_EQ(is_css_recv_enabled(&ctl), 0);
}

TEST(AsfCssIo, DoneMarksTheBufferEmptyAndSendOfNothingSendsNothing) {
  char data[3] = {'x', 'y', 'z'};
  csm_buffer buf {data, 3};
  asfcss_ioarg arg {};
  EXPECT_EQ(asf_css_done(&arg, &buf), 1);
  EXPECT_EQ(buf.size, 0);
  EXPECT_EQ(asf_css_done(nullptr, &buf), -1);
  EXPECT_EQ(asf_css_done(&arg, nullptr), -1);
  EXPECT_EQ(asf_css_send(&arg, &buf), 0);
  EXPECT_EQ(arg.status, asfcss_sent);
  EXPECT_EQ(asf_css_send(nullptr, &buf), -1);
}

TEST(AsfCssEntry, TheSpecificationComesFromTheCsmOption) {
  NSEntry entry {};
  EXPECT_EQ(is_css_processing_requested(&entry), 0);
  EXPECT_EQ(get_csm_conn_spec(&entry), nullptr);
  char spec[] = "TEST(\"xor=1\")";
  entry.options.csm = spec;
  EXPECT_EQ(is_css_processing_requested(&entry), 1);
  EXPECT_STREQ(get_csm_conn_spec(&entry), spec);
  EXPECT_EQ(is_css_processing_requested(nullptr), 0);
}

}  // namespace
