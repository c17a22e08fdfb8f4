/*
** Communication support's static side: concsm.cfg read into descriptors
** (codes and parameters of every rejection), the library specification,
** the connection's module specification, module loading against the C
** test module and a library without csm_init, the error blocks, and the
** utilities whose logic matters. The test module's own behaviour (the
** handshake, the transform, the failure switches and the buffer balance)
** is checked through its vector, since the per-connection side builds on
** it.
*/
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "css_records.h"
#include "dvz_csm.h"
#include "temp_dir.h"
#include "test_module.h"

namespace {

using dvz_test::TempDir;

/* The test module, opened by the test so that its counters can be read;
** CSS's own dlopen of the same path gives the same library. */
class TestModule {
 public:
  TestModule() : handle_(dlopen(CSS_TEST_MODULE, RTLD_NOW)) {
    if (handle_ == nullptr) return;
    get_ = reinterpret_cast<test_module_get_counts_fn>(dlsym(handle_, "test_module_get_counts"));
    auto reset =
        reinterpret_cast<test_module_reset_counts_fn>(dlsym(handle_, "test_module_reset_counts"));
    if (reset != nullptr) reset();
  }
  ~TestModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  TestModule(const TestModule &) = delete;
  TestModule &operator=(const TestModule &) = delete;

  bool loaded() const { return handle_ != nullptr && get_ != nullptr; }
  test_module_counts counts() const {
    test_module_counts c {};
    if (get_ != nullptr) get_(&c);
    return c;
  }

 private:
  void *handle_;
  test_module_get_counts_fn get_ = nullptr;
};

/* A library context built from a file in a temporary directory, and a
** connection list with its head entry. */
class CssFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    css_list_delete_items(&conn_, css_csm_data_delete);
    css_errblk scratch {};
    css_terminate(&lib_, &scratch);
  }

  /* Replaces @module, @noinit and @dir in text. */
  std::string expand(std::string text) const {
    const std::pair<std::string, std::string> names[] = {
        {"@module", CSS_TEST_MODULE}, {"@noinit", CSS_NO_INIT_MODULE}, {"@dir", dir_.path()}};
    for (const auto &[from, to] : names)
      for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to);
    return text;
  }

  /* css_init over concsm.cfg holding text (expanded). */
  int init(const std::string &text) {
    const std::string path = dir_.write("concsm.cfg", expand(text));
    return css_init(&lib_, path.c_str(), &err_);
  }

  csm_descr *descr(const char *name) { return css_find_csm_descr(&lib_->descrs, name); }

  /* A fresh connection list holding only its head entry. */
  void new_connection() {
    css_list_delete_items(&conn_, css_csm_data_delete);
    ASSERT_EQ(css_list_append(&conn_, css_csm_data_new(&conn_, nullptr)), 0);
  }

  /* css_load_csm of name for a fresh connection with specification spec. */
  int load(const char *name, const char *spec = "") {
    new_connection();
    err_ = css_errblk {};
    const char *pos = spec;
    csm_descr *d = descr(name);
    if (d == nullptr) return -99;
    return css_load_csm(&conn_, d, &conn_, &pos, &err_);
  }

  css_csm_data *entry(int index) {
    css_list_node *node = conn_.first;
    for (int i = 0; i < index && node != nullptr; ++i)
      node = node->next;
    return node != nullptr ? static_cast<css_csm_data *>(node->data) : nullptr;
  }

  TempDir dir_;
  csslibctx *lib_ = nullptr;
  css_errblk err_ {};
  css_list conn_ {};
};

/* ---- concsm.cfg. ---- */

struct ConfigCase {
  const char *what;
  const char *text; /* null: no file */
  int32_t code; /* 0: accepted */
  const char *parm; /* "@path": the file's path */
};

const ConfigCase config_cases[] = {
    {"missing file", nullptr, CSS_ERR_CFGOPEN, "@path"},
    {"comment, empty and blank lines", "# modules\n\n   \t\nENC(\"/a.so\")  # the one\n", 0, ""},
    {"carriage returns", "ENC(\"/a.so\")\r\n", 0, ""},
    {"unterminated (", "ENC(\"/a.so\"\n", CSS_ERR_SYNTAX, ""},
    {"unterminated ( after a comma", "ENC(\"/a.so\",\n", CSS_ERR_SYNTAX, ""},
    {"a fourth option", "ENC(\"/a.so\", \"g\", \"c\", \"d\")\n", CSS_ERR_SYNTAX, ""},
    {"an unquoted option", "ENC(lib)\n", CSS_ERR_SYNTAX, ""},
    {"a $", "$ENC(\"/a.so\")\n", CSS_ERR_SYNTAX, ""},
    {"a $ after a name", "ENC$\n", CSS_ERR_SYNTAX, ""},
    {"a quoted name", "\"ENC\"(\"/a.so\")\n", CSS_ERR_SYNTAX, ""},
    {"duplicate on one line", "ENC(\"/a.so\") ENC(\"/b.so\")\n", CSS_ERR_DUPLICATE, ""},
    {"duplicate on two lines", "ENC(\"/a.so\")\nenc(\"/b.so\")\n", CSS_ERR_DUPLICATE, ""},
    {"31-character prefix collision",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234X(\"/a.so\")\nABCDEFGHIJKLMNOPQRSTUVWXYZ01234Y(\"/b.so\")\n",
     CSS_ERR_DUPLICATE, ""},
    {"a reference not followed by ,", "ENC(\"/a.so\")\nZIP(\"/b.so\")\nV ENC ZIP\n",
     CSS_ERR_DUPLICATE, ""},
    {"a name alone", "ENC\n", CSS_ERR_UNDEFINED, ""},
    {"a name and a comma", "ENC,\n", CSS_ERR_UNDEFINED, ""},
    {"no library, no static entry", "X()\n", CSS_ERR_NOSTATIC, ""},
    {"empty places only", "X(,,)\n", CSS_ERR_NOSTATIC, ""},
    {"a virtual module containing itself", "ENC(\"/a.so\")\nV ENC, V\n", CSS_ERR_SELFMEMBER, "V"},
    {"a virtual module without members", "V W X(\"/x.so\")\n", CSS_ERR_INCOMPLETE, "V"},
    {"a virtual module with two members", "ENC(\"/a.so\")\nZIP(\"/b.so\")\nV ENC, ZIP\n", 0, ""},
    {"a definition in place", "ENC(\"/a.so\")\nV ENC, ZIP(\"/b.so\", \"g\")\n", 0, ""},
};

void PrintTo(const ConfigCase &c, std::ostream *os) { *os << c.what; }

class ConfigTable : public CssFixture, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigTable, GivesCodeAndParameter) {
  const ConfigCase &c = GetParam();
  int rc;
  std::string path = dir_.file("concsm.cfg");
  if (c.text == nullptr)
    rc = css_init(&lib_, path.c_str(), &err_);
  else
    rc = init(c.text);
  if (c.code == 0) {
    EXPECT_EQ(rc, 0) << err_.code << " " << err_.parm;
    EXPECT_NE(lib_, nullptr);
    return;
  }
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(lib_, nullptr) << "a failed compile leaves no context";
  EXPECT_EQ(err_.code, c.code);
  EXPECT_STREQ(err_.parm, std::strcmp(c.parm, "@path") == 0 ? path.c_str() : c.parm);
}

INSTANTIATE_TEST_SUITE_P(Css, ConfigTable, ::testing::ValuesIn(config_cases), [](const auto &info) {
  std::string name;
  for (const char *p = info.param.what; *p != '\0'; ++p)
    name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
});

TEST_F(CssFixture, LinesOfMoreThan1023CharactersAreSyntaxErrors) {
  // As long as the reader's buffer: accepted; one more character is an
  // error rather than a second line made of the tail.
  EXPECT_EQ(init("#" + std::string(1022, 'x') + "\nENC(\"/a.so\")\n"), 0);
  css_terminate(&lib_, &err_);
  EXPECT_EQ(init("#" + std::string(1022, 'x') + "\r\nENC(\"/a.so\")\n"), 0);
  css_terminate(&lib_, &err_);
  EXPECT_EQ(init("#" + std::string(1023, 'x') + "\nENC(\"/a.so\")\n"), -1);
  EXPECT_EQ(err_.code, CSS_ERR_SYNTAX);
  err_ = {};
  EXPECT_EQ(init("ENC(\"/a.so\")" + std::string(1012, ' ') + "ZIP\n"), -1);
  EXPECT_EQ(err_.code, CSS_ERR_SYNTAX);
  err_ = {};
  // The last line, without a newline.
  EXPECT_EQ(init("ENC(\"/a.so\")\n#" + std::string(1100, 'x')), -1);
  EXPECT_EQ(err_.code, CSS_ERR_SYNTAX);
}

TEST_F(CssFixture, DescriptorsKeepTheirTextsAndMembersInFileOrder) {
  ASSERT_EQ(init("ENC(\"client=/opt/lib/enc.so, server=/srv/enc.so\", \"xor=5\", \"conn\")\n"
                 "ZIP(\"/z.so\",,\"zc\")\n"
                 "V enc, ZIP, IN(\"/in.so\")\n"),
            0)
      << err_.parm;
  ASSERT_EQ(lib_->descrs.count, 4);
  const csm_descr *enc = descr("Enc");
  ASSERT_NE(enc, nullptr);
  EXPECT_STREQ(enc->name, "ENC");
  EXPECT_STREQ(enc->libpath, "/opt/lib/enc.so");
  EXPECT_STREQ(enc->gopts, "xor=5");
  EXPECT_STREQ(enc->copts, "conn");
  EXPECT_EQ(enc->state, CSM_NOT_LOADED);
  const csm_descr *zip = descr("ZIP");
  EXPECT_EQ(zip->gopts, nullptr);
  EXPECT_STREQ(zip->copts, "zc");
  const csm_descr *v = descr("v");
  ASSERT_EQ(v->members.count, 3);
  std::vector<std::string> members;
  for (css_list_node *n = v->members.first; n != nullptr; n = n->next)
    members.push_back(static_cast<csm_descr_ref *>(n->data)->descr->name);
  EXPECT_EQ(members, (std::vector<std::string> {"ENC", "ZIP", "IN"}));
  EXPECT_EQ(v->libpath, nullptr);
  EXPECT_EQ(css_find_csm_descr(&lib_->descrs, "NONE"), nullptr);
}

TEST_F(CssFixture, EveryAllocationFailureOfTheCompileIsAMemoryError) {
  const std::string text = "ENC(\"/a.so\", \"g\", \"c\")\nV ENC, ZIP(\"/b.so\")\n";
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE(fail_at);
    asf_test::CountingMemory memory(fail_at);
    err_ = {};
    const int rc = init(text);
    if (rc == 0) {
      css_terminate(&lib_, &err_);
      EXPECT_EQ(memory.outstanding(), 0);
      break;
    }
    EXPECT_EQ(err_.code, CSS_ERR_MEMORY);
    EXPECT_EQ(memory.outstanding(), 0);
    ASSERT_LT(fail_at, 100);
  }
}

/* ---- The library specification. ---- */

struct LibnameCase {
  const char *spec;
  const char *path;
};

TEST(CssLibname, TheClientKeySelectsThePath) {
  const LibnameCase cases[] = {
      {"client=/opt/lib/enc.so, server=/srv/enc.so", "/opt/lib/enc.so"},
      {"server=/srv/enc.so,client=/opt/c.so", "/opt/c.so"},
      {"/usr/lib/enc.so", "/usr/lib/enc.so"},
      {"relative.so", "relative.so"},
      {"server=/srv/enc.so", ""},
      {"notclient=/x", ""},
      {"notclient=/x, client=/y", "/y"},
      {"CLIENT=/upper.so", "/upper.so"},
      {"client \t=/blanks.so", "/blanks.so"},
      {"clientx=/a, client=/b", "/b"},
      {"server=/s.so, client", ""},
      {"client=", ""},
  };
  for (const LibnameCase &c : cases) {
    char *path = nullptr;
    EXPECT_EQ(get_csm_libname(c.spec, "client", &path), 0) << c.spec;
    ASSERT_NE(path, nullptr) << c.spec;
    EXPECT_STREQ(path, c.path) << c.spec;
    css_free(path);
  }
}

TEST_F(CssFixture, ThisProgramReadsTheClientLibrary) {
  ASSERT_EQ(init("ENC(\"server=/srv/enc.so, client=/opt/lib/enc.so\")\n"
                 "SRV(\"server=/srv/only.so\")\n"),
            0);
  EXPECT_STREQ(descr("ENC")->libpath, "/opt/lib/enc.so");
  // A line for the server alone is kept; only its use fails.
  EXPECT_STREQ(descr("SRV")->libpath, "");
}

/* ---- The connection's module specification. ---- */

struct SpecCase {
  const char *spec;
  int name_rc;
  const char *name;
  int parm_rc;
  const char *parm;
  const char *rest;
};

TEST(CssSpecification, NameAndParameterAreReadInTurn) {
  const SpecCase cases[] = {
      {"ENC", 3, "ENC", 0, "", ""},
      {"ENC,\"xor=1\"", 3, "ENC", 5, "xor=1", ""},
      {"  enc , \"p q\" , ZIP", 3, "enc", 3, "p q", " ZIP"},
      {"ENC,,ZIP", 3, "ENC", 0, "", "ZIP"},
      {"ENC, ZIP", 3, "ENC", -1, "", "ZIP"},
      {"\"ENC\"", -1, "", 0, "", ""},
      {"$ENC", -1, "", 0, "", ""},
      {"", 0, "", 0, "", ""},
      {"(ENC)", 0, "", 0, "", ""},
      {"ENC,\"unterminated", 3, "ENC", 12, "unterminated", ""},
  };
  for (const SpecCase &c : cases) {
    SCOPED_TRACE(c.spec);
    const char *pos = c.spec;
    char name[CSS_NAME_SIZE];
    const int name_rc = css_get_csm_name(name, &pos);
    EXPECT_EQ(name_rc, c.name_rc);
    EXPECT_STREQ(name, c.name);
    if (name_rc <= 0) continue;
    char parm[CSS_TEXT_SIZE];
    EXPECT_EQ(css_get_csm_parm(parm, &pos), c.parm_rc);
    if (c.parm_rc >= 0) {
      EXPECT_STREQ(parm, c.parm);
      EXPECT_STREQ(pos, c.rest);
    }
  }
}

TEST(CssLexer, IdentifiersKeep31CharactersAndStringsTheirBlanks) {
  const std::string long_name = std::string(40, 'n') + " (";
  const char *pos = long_name.c_str();
  css_token token;
  EXPECT_EQ(lex_get_unit(&pos, &token), 31);
  EXPECT_EQ(std::string(token.text), std::string(31, 'n'));
  EXPECT_EQ(token.kind, CSS_TOKEN_IDENT);
  EXPECT_EQ(token.delim, '(');
  EXPECT_EQ(*pos, '(');

  const char *quoted = "\" a, b \"  )";
  pos = quoted;
  EXPECT_EQ(lex_get_unit(&pos, &token), 6);
  EXPECT_STREQ(token.text, " a, b ");
  EXPECT_EQ(token.kind, CSS_TOKEN_STRING);
  EXPECT_EQ(token.delim, ')');

  const char *comment = "  # ENC(\"x\")";
  pos = comment;
  EXPECT_EQ(lex_get_unit(&pos, &token), 0);
  EXPECT_EQ(token.delim, 0);

  // Bytes above 127 are no letters, whatever the locale.
  const char *high = "\xe9t\xe9";
  pos = high;
  EXPECT_EQ(lex_get_unit(&pos, &token), -1);
}

/* ---- Loading. ---- */

struct LoadCase {
  const char *what;
  const char *line; /* concsm.cfg, expanded */
  int32_t code;
  int32_t modcode;
  const char *parm; /* expanded */
};

const LoadCase load_failures[] = {
    {"missing library", "ENC(\"@dir/missing.so\")", CSS_ERR_LOAD, 0, "@dir/missing.so"},
    {"not a shared object", "ENC(\"@dir/text.so\")", CSS_ERR_LOAD, 0, "@dir/text.so"},
    {"no csm_init", "ENC(\"@noinit\")", CSS_ERR_NOINIT, 0, "@noinit"},
    {"no library for this program", "ENC(\"server=@module\")", CSS_ERR_NOLIBRARY, 0, ""},
    {"an init error in range is kept", "ENC(\"@module\", \"init_error=-5005\")", CSM_ERR_MESSAGE,
     CSM_ERR_MESSAGE, "init_error"},
    {"an init error out of range", "ENC(\"@module\", \"init_error=-4000\")", CSM_ERR_UNKNOWN, -4000,
     "init_error"},
    {"vector version 2", "ENC(\"@module\", \"version=2\")", CSS_ERR_VERSION, 0, "2: ENC"},
};

void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.what; }

class LoadFailures : public CssFixture, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadFailures, FailAndStayFailed) {
  const LoadCase &c = GetParam();
  TestModule module;
  ASSERT_TRUE(module.loaded()) << dlerror();
  dir_.write("text.so", "not a shared object\n");
  ASSERT_EQ(init(std::string(c.line) + "\n"), 0) << err_.parm;
  EXPECT_EQ(load("ENC"), -1);
  EXPECT_EQ(err_.code, c.code);
  EXPECT_EQ(err_.modcode, c.modcode);
  EXPECT_EQ(std::string(err_.parm), expand(c.parm));
  const csm_descr *d = descr("ENC");
  EXPECT_EQ(d->state, CSM_LOAD_FAILED);
  EXPECT_EQ(d->vector, nullptr);
  EXPECT_EQ(d->context, nullptr);
  EXPECT_EQ(conn_.count, 1) << "no entry for a failed module";

  // Never tried again: init is not called a second time.
  const long inits = module.counts().inits;
  EXPECT_EQ(load("ENC"), -1);
  EXPECT_NE(err_.code, 0);
  EXPECT_EQ(module.counts().inits, inits);
  EXPECT_EQ(module.counts().terminates, 0);
}

INSTANTIATE_TEST_SUITE_P(Css, LoadFailures, ::testing::ValuesIn(load_failures),
                         [](const auto &info) {
                           std::string name;
                           for (const char *p = info.param.what; *p != '\0'; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST_F(CssFixture, AFailedModuleStaysFailedAfterAGoodLibraryTakesItsPath) {
  const std::string path = dir_.write("enc.so", "not a shared object\n");
  ASSERT_EQ(init("ENC(\"@dir/enc.so\")\n"), 0);
  EXPECT_EQ(load("ENC"), -1);
  EXPECT_EQ(err_.code, CSS_ERR_LOAD);
  std::filesystem::copy_file(CSS_TEST_MODULE, path,
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(load("ENC"), -1);
  EXPECT_EQ(err_.code, CSS_ERR_LOAD);
  EXPECT_EQ(descr("ENC")->state, CSM_LOAD_FAILED);
}

TEST_F(CssFixture, ALoadedModuleIsReusedAndGetsOneEntryPerConnection) {
  TestModule module;
  ASSERT_TRUE(module.loaded());
  ASSERT_EQ(init("ENC(\"@module\", \"init_flags=0x10000\", \"xor=9\")\n"), 0);
  ASSERT_EQ(load("ENC", "\"xor=1\""), 0) << err_.code << " " << err_.parm;
  csm_descr *d = descr("ENC");
  EXPECT_EQ(d->state, CSM_LOADED);
  EXPECT_EQ(d->flags, CSM_FLAG_CAP1);
  ASSERT_NE(d->vector, nullptr);
  EXPECT_EQ(d->vector->version, CSM_FUNC_VEC_VERSION);
  EXPECT_NE(d->context, nullptr);
  ASSERT_EQ(conn_.count, 2);
  EXPECT_EQ(entry(1)->descr, d);
  EXPECT_EQ(entry(1)->cssctx, &conn_);
  EXPECT_STREQ(entry(1)->parm, "xor=1");

  // The position is read after the name: here only the parameter is left.
  new_connection();
  const char *pos = "";
  ASSERT_EQ(css_load_csm(&conn_, d, &conn_, &pos, &err_), 0);
  EXPECT_STREQ(entry(1)->parm, "xor=9") << "the line's connection options";
  EXPECT_EQ(module.counts().inits, 1);

  pos = "ZIP";
  new_connection();
  EXPECT_EQ(css_load_csm(&conn_, d, &conn_, &pos, &err_), -1);
  EXPECT_EQ(err_.code, CSS_ERR_PARM);
  EXPECT_EQ(conn_.count, 1);
}

TEST_F(CssFixture, AVirtualModuleWithTwoRealMembersFailsAtTheSecond) {
  TestModule module;
  ASSERT_TRUE(module.loaded());
  ASSERT_EQ(init("ENC(\"@module\")\nZIP(\"@module\", \"xor=3\")\nV ENC, ZIP\n"), 0);
  EXPECT_EQ(load("V"), -1);
  EXPECT_EQ(err_.code, CSS_ERR_SECONDCSM);
  EXPECT_STREQ(err_.parm, "-14500");
  EXPECT_EQ(descr("ENC")->state, CSM_LOADED);
  EXPECT_EQ(descr("ZIP")->state, CSM_NOT_LOADED);
  EXPECT_EQ(conn_.count, 2);
}

TEST_F(CssFixture, AFailedVectorAllocationLeavesTheModuleToBeTriedAgain) {
  TestModule module;
  ASSERT_TRUE(module.loaded());
  ASSERT_EQ(init("ENC(\"@module\")\n"), 0);
  new_connection();
  {
    asf_test::CountingMemory memory(1);
    const char *pos = "";
    EXPECT_EQ(css_load_csm(&conn_, descr("ENC"), &conn_, &pos, &err_), -1);
    EXPECT_EQ(err_.code, CSS_ERR_MEMORY);
    EXPECT_EQ(memory.outstanding(), 0);
  }
  EXPECT_EQ(descr("ENC")->state, CSM_NOT_LOADED);
  EXPECT_EQ(module.counts().inits, 0);
  EXPECT_EQ(load("ENC"), 0);
  EXPECT_EQ(descr("ENC")->state, CSM_LOADED);
}

TEST_F(CssFixture, EntryAllocationFailuresAreMemoryErrors) {
  TestModule module;
  ASSERT_TRUE(module.loaded());
  ASSERT_EQ(init("ENC(\"@module\", , \"conn\")\n"), 0);
  ASSERT_EQ(load("ENC"), 0);
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    SCOPED_TRACE(fail_at);
    new_connection();
    asf_test::CountingMemory memory(fail_at);
    const char *pos = "";
    err_ = {};
    EXPECT_EQ(css_load_csm(&conn_, descr("ENC"), &conn_, &pos, &err_), -1);
    EXPECT_EQ(err_.code, CSS_ERR_MEMORY);
    EXPECT_EQ(conn_.count, 1);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(CssFixture, DeletingADescriptorTerminatesItsModuleOnce) {
  TestModule module;
  ASSERT_TRUE(module.loaded());
  ASSERT_EQ(init("ENC(\"@module\")\nZIP(\"@module\")\n"), 0);
  ASSERT_EQ(load("ENC"), 0);
  EXPECT_EQ(module.counts().terminates, 0);
  css_list_delete_items(&conn_, css_csm_data_delete);
  EXPECT_EQ(css_terminate(&lib_, &err_), 0);
  EXPECT_EQ(lib_, nullptr);
  EXPECT_EQ(err_.code, 0);
  EXPECT_EQ(module.counts().terminates, 1) << "ZIP was never loaded";
}

/* ---- The test module through its vector. ---- */

class TestModuleVector : public CssFixture {
 protected:
  /* Loads a module line with global options gopts; the descriptor. */
  csm_descr *load_module(const std::string &gopts) {
    if (!module_.loaded() || init("ENC(\"@module\", \"" + gopts + "\")\n") != 0 || load("ENC") != 0)
      return nullptr;
    return descr("ENC");
  }

  /* Hands buffer back to the module. */
  void give_back(const csm_descr *d, void *handle, csm_buffer *buffer) {
    csm_errblk e {};
    EXPECT_EQ(d->vector->return_buffer(handle, buffer, &e), 0);
  }

  static std::string text(const csm_buffer *b) { return std::string(b->data, b->size); }

  TestModule module_;
};

TEST_F(TestModuleVector, HandshakeExchangesOneTokenEachWayAndMarksTheLogin) {
  csm_descr *d = load_module("");
  ASSERT_NE(d, nullptr);
  csm_conn_info client_info {};
  csm_conn_info server_info {};
  void *client = nullptr;
  void *server = nullptr;
  csm_errblk e {};
  csm_buffer *out = nullptr;

  ASSERT_EQ(d->vector->create(&client, d->context, &client_info, nullptr, &out, nullptr, "", &e),
            0);
  EXPECT_EQ(e.status, CSM_STATUS_SEND_REPLY);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(text(out), TEST_MODULE_CLIENT_TOKEN);
  csm_buffer *token = out;

  ASSERT_EQ(d->vector->accept(&server, d->context, &server_info, token, &out, "", &e), 0);
  EXPECT_EQ(e.status, CSM_STATUS_SEND_AGAIN);
  EXPECT_EQ(text(out), TEST_MODULE_SERVER_TOKEN);
  give_back(d, client, token);
  token = out;
  ASSERT_EQ(d->vector->accept(&server, d->context, &server_info, nullptr, &out, "", &e), 0);
  EXPECT_EQ(e.status, CSM_STATUS_DONE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(server_info.word[CSM_INFO_LOGIN_CHECKED], 1u);
  EXPECT_EQ(client_info.word[CSM_INFO_LOGIN_CHECKED], 0u);

  ASSERT_EQ(d->vector->create(&client, d->context, &client_info, token, &out, nullptr, "", &e), 0);
  EXPECT_EQ(e.status, CSM_STATUS_DONE);
  give_back(d, server, token);

  // A wrong token fails the handshake with a kept module code.
  void *other = nullptr;
  csm_buffer wrong {const_cast<char *>("nope"), 4};
  EXPECT_NE(d->vector->accept(&other, d->context, &server_info, &wrong, &out, "", &e), 0);
  EXPECT_EQ(e.code, CSM_ERR_HANDSHAKE);

  for (void **h : {&client, &server, &other}) {
    EXPECT_EQ(d->vector->release(h, nullptr, &out, &e), 0);
    EXPECT_EQ(e.status, CSM_STATUS_DONE);
  }
  const test_module_counts c = module_.counts();
  EXPECT_EQ(c.buffers_made, c.buffers_returned);
  EXPECT_EQ(c.connections, 0);
}

/* Runs data through one connection's process call; the output's text. */
struct Step {
  int rc;
  int32_t status;
  std::string output;
};

class TransformTest : public TestModuleVector {
 protected:
  void open(const std::string &gopts, const char *parm = "") {
    d_ = load_module(gopts);
    ASSERT_NE(d_, nullptr);
    csm_conn_info info {};
    csm_errblk e {};
    csm_buffer *out = nullptr;
    ASSERT_EQ(d_->vector->create(&handle_, d_->context, &info, nullptr, &out, nullptr, parm, &e),
              0);
    give_back(d_, handle_, out);
  }
  void TearDown() override {
    if (d_ != nullptr && handle_ != nullptr) {
      csm_errblk e {};
      csm_buffer *out = nullptr;
      d_->vector->release(&handle_, nullptr, &out, &e);
    }
    const test_module_counts c = module_.counts();
    EXPECT_EQ(c.buffers_made, c.buffers_returned) << "every output buffer comes back";
    CssFixture::TearDown();
  }
  Step step(bool output_direction, const std::string &data) {
    csm_buffer in {const_cast<char *>(data.data()), static_cast<int32_t>(data.size())};
    csm_buffer *out = nullptr;
    csm_errblk e {};
    auto call = output_direction ? d_->vector->process_output : d_->vector->process_input;
    Step s {call(handle_, &in, &out, &e), e.status, ""};
    if (s.rc != 0) s.status = e.code;
    if (out != nullptr) {
      s.output = text(out);
      give_back(d_, handle_, out);
    }
    return s;
  }

  csm_descr *d_ = nullptr;
  void *handle_ = nullptr;
};

TEST_F(TransformTest, XorIsUndoneInTheOtherDirection) {
  open("xor=0x5a");
  const std::string message("select\0*\xff", 9);
  const Step sent = step(true, message);
  ASSERT_EQ(sent.rc, 0);
  EXPECT_EQ(sent.status, CSM_STATUS_DONE);
  ASSERT_EQ(sent.output.size(), message.size());
  for (size_t i = 0; i < message.size(); ++i)
    EXPECT_EQ(static_cast<unsigned char>(sent.output[i]),
              static_cast<unsigned char>(message[i]) ^ 0x5a);
  EXPECT_EQ(step(false, sent.output).output, message);
}

TEST_F(TransformTest, ZeroKeyPassesBytesThroughAndTheParameterOverridesTheLine) {
  open("xor=7", "xor=0");
  EXPECT_EQ(step(true, "abc").output, "abc");
  EXPECT_EQ(step(false, "").output, "");
}

TEST_F(TransformTest, FailureSwitchesActOnTheChosenMessage) {
  struct SwitchCase {
    const char *parm;
    std::vector<std::pair<std::string, Step>> steps;
  };
  const SwitchCase cases[] = {
      {"need_more=2",
       {{"a", {0, CSM_STATUS_DONE, "a"}},
        {"bc", {0, CSM_STATUS_NEED_INPUT, ""}},
        {"de", {0, CSM_STATUS_DONE, "bcde"}}}},
      {"more_output=1", {{"abcd", {0, CSM_STATUS_MORE, "ab"}}, {"", {0, CSM_STATUS_DONE, "cd"}}}},
      {"disconnect=2", {{"a", {0, CSM_STATUS_DONE, "a"}}, {"b", {-1, CSM_ERR_DISCONNECTED, ""}}}},
  };
  for (const SwitchCase &c : cases) {
    SCOPED_TRACE(c.parm);
    TearDown();
    d_ = nullptr;
    handle_ = nullptr;
    lib_ = nullptr;
    open("", c.parm);
    for (const auto &[input, expected] : c.steps) {
      const Step s = step(true, input);
      EXPECT_EQ(s.rc, expected.rc) << input;
      EXPECT_EQ(s.status, expected.status) << input;
      EXPECT_EQ(s.output, expected.output) << input;
    }
  }
}

TEST_F(TestModuleVector, InitSwitchesShapeTheVectorAndFlags) {
  csm_descr *d = load_module("no_get_flags=1 init_flags=0x30000");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->vector->get_flags, nullptr);
  EXPECT_EQ(d->flags, CSM_FLAG_CAP1 | CSM_FLAG_CAP2);
}

TEST_F(TestModuleVector, CreateStatusAndAbortFailureAreChosenPerConnection) {
  csm_descr *d = load_module("get_flags=1");
  ASSERT_NE(d, nullptr);
  csm_conn_info info {};
  csm_errblk e {};
  csm_buffer *out = nullptr;
  void *handle = nullptr;
  ASSERT_EQ(d->vector->create(&handle, d->context, &info, nullptr, &out, nullptr,
                              "create_status=5 abort_fail=1", &e),
            0);
  EXPECT_EQ(e.status, CSM_STATUS_NEED_INPUT);
  EXPECT_EQ(out, nullptr);
  int32_t flags = 0;
  EXPECT_EQ(d->vector->get_flags(handle, &flags, &e), 0);
  EXPECT_EQ(flags, 1);
  csm_abort_reason reason {0, "test"};
  EXPECT_NE(d->vector->abort(&handle, &reason, &e), 0);
  EXPECT_EQ(e.code, CSM_ERR_ABORT);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(module_.counts().connections, 0);

  void *bad = nullptr;
  EXPECT_NE(d->vector->create(&bad, d->context, &info, nullptr, &out, nullptr, "what=1", &e), 0);
  EXPECT_EQ(e.code, CSM_ERR_OPTIONS);
  EXPECT_EQ(bad, nullptr);
}

/* ---- Error blocks. ---- */

struct ErrCase {
  const char *what;
  std::function<int(css_errblk *)> fill;
  int32_t code;
  int32_t modcode;
  int32_t further;
  const char *parm;
};

TEST(CssErrors, BlocksAreFilledByCode) {
  auto module_block = [](int32_t code, int32_t code2, const char *text) {
    csm_errblk m {};
    m.code = code;
    m.code2 = code2;
    std::strncpy(m.text, text, sizeof m.text);
    return m;
  };
  csm_errblk unterminated {};
  unterminated.code = -5003;
  std::memset(unterminated.text, 'z', sizeof unterminated.text);
  const ErrCase cases[] = {
      {"code 0", [](css_errblk *e) { return css_err(e, 0); }, -14500, 0, 0, "0"},
      {"-14500", [](css_errblk *e) { return css_err(e, -14500); }, -14500, 0, 0, "-14500"},
      {"a path", [](css_errblk *e) { return css_err(e, -14503, "/lib/x.so"); }, -14503, 0, 0,
       "/lib/x.so"},
      {"a name", [](css_errblk *e) { return css_err(e, -14502, "ENC"); }, -14502, 0, 0, "ENC"},
      {"the config path", [](css_errblk *e) { return css_err(e, -14574, "/etc/c.cfg"); }, -14574, 0,
       0, "/etc/c.cfg"},
      {"-14585", [](css_errblk *e) { return css_err(e, -14585, -9L); }, -14585, 0, 0, "-9"},
      {"-14567", [](css_errblk *e) { return css_err(e, -14567, -3L); }, -14567, 0, 0, "-3"},
      {"-14506", [](css_errblk *e) { return css_err(e, -14506, "ENC", 9L); }, -14506, 0, 0,
       "ENC : 9"},
      {"-14504", [](css_errblk *e) { return css_err(e, -14504, 2L, "ENC"); }, -14504, 0, 0,
       "2: ENC"},
      {"no parameter", [](css_errblk *e) { return css_err(e, -14581, "ignored"); }, -14581, 0, 0,
       ""},
      {"module code kept",
       [&](css_errblk *e) {
         const csm_errblk m = module_block(-5005, 4, "bad token");
         return css_csm_err(e, &m);
       },
       -5005, -5005, 4, "bad token"},
      {"module code -5013 kept",
       [&](css_errblk *e) {
         const csm_errblk m = module_block(-5013, 0, "");
         return css_csm_err(e, &m);
       },
       -5013, -5013, 0, ""},
      {"module code -5001 kept",
       [&](css_errblk *e) {
         const csm_errblk m = module_block(-5001, 0, "");
         return css_csm_err(e, &m);
       },
       -5001, -5001, 0, ""},
      {"module code -5014",
       [&](css_errblk *e) {
         const csm_errblk m = module_block(-5014, 1, "x");
         return css_csm_err(e, &m);
       },
       -5000, -5014, 1, "x"},
      {"module code -4000",
       [&](css_errblk *e) {
         const csm_errblk m = module_block(-4000, 0, "x");
         return css_csm_err(e, &m);
       },
       -5000, -4000, 0, "x"},
      {"module code 0",
       [&](css_errblk *e) {
         const csm_errblk m = module_block(0, 0, "");
         return css_csm_err(e, &m);
       },
       -5000, 0, 0, ""},
      {"unterminated module text", [&](css_errblk *e) { return css_csm_err(e, &unterminated); },
       -5003, -5003, 0, nullptr},
  };
  for (const ErrCase &c : cases) {
    SCOPED_TRACE(c.what);
    css_errblk e {};
    e.flag = 2;
    e.modcode = 77;
    e.further = 88;
    std::strcpy(e.parm, "stale");
    EXPECT_EQ(c.fill(&e), -1);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.modcode, c.modcode);
    EXPECT_EQ(e.further, c.further);
    EXPECT_EQ(e.flag, 2) << "the disposition is not touched";
    if (c.parm != nullptr)
      EXPECT_STREQ(e.parm, c.parm);
    else
      EXPECT_EQ(std::string(e.parm), std::string(sizeof e.parm - 1, 'z'));
  }
}

/* ---- Utilities. ---- */

int equal_int(const void *item, const void *key) {
  return *static_cast<const int *>(item) == *static_cast<const int *>(key) ? 0 : 1;
}

int *new_int(int value) {
  auto *p = static_cast<int *>(css_malloc(sizeof(int)));
  *p = value;
  return p;
}

std::vector<int> walk(css_list *list, int direction, int reverse_after = -1) {
  std::vector<int> seen;
  css_list_iter it;
  css_list_iter_init(&it, list, direction);
  for (void *item; (item = css_list_iter_next(&it)) != nullptr;) {
    seen.push_back(*static_cast<int *>(item));
    if (static_cast<int>(seen.size()) == reverse_after) css_list_iter_reverse(&it);
  }
  return seen;
}

TEST(CssList, DeletesTheFirstOrEveryMatchAndIteratesBothWays) {
  css_list *list = css_list_new();
  ASSERT_NE(list, nullptr);
  for (int v : {1, 2, 1, 3, 1})
    ASSERT_EQ(css_list_append(list, new_int(v)), 0);
  EXPECT_EQ(walk(list, CSS_ITER_FORWARD), (std::vector<int> {1, 2, 1, 3, 1}));
  EXPECT_EQ(walk(list, CSS_ITER_BACKWARD), (std::vector<int> {1, 3, 1, 2, 1}));
  // Reversing turns round at the current item.
  EXPECT_EQ(walk(list, CSS_ITER_FORWARD, 4), (std::vector<int> {1, 2, 1, 3, 1, 2, 1}));

  const int one = 1;
  EXPECT_EQ(css_list_delete_item(list, equal_int, &one, nullptr, 1), 1);
  EXPECT_EQ(walk(list, CSS_ITER_FORWARD), (std::vector<int> {2, 1, 3, 1}));
  EXPECT_EQ(css_list_delete_item(list, equal_int, &one, nullptr, 0), 2);
  EXPECT_EQ(walk(list, CSS_ITER_BACKWARD), (std::vector<int> {3, 2}));
  EXPECT_EQ(list->count, 2);
  const int three = 3;
  EXPECT_EQ(*static_cast<int *>(css_list_find_item(list, equal_int, &three)), 3);
  EXPECT_EQ(css_list_find_item(list, equal_int, &one), nullptr);
  css_list_delete(list, nullptr);
}

TEST(CssStack, OnlyAnEmptyStackIsDeletedAndDismantlingHandsOverEveryItem) {
  css_stack *stack = css_stack_new();
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(css_stack_top(stack), nullptr);
  for (int v : {1, 2, 3})
    ASSERT_EQ(css_stack_push(stack, new_int(v)), 0);
  EXPECT_EQ(*static_cast<int *>(css_stack_top(stack)), 3);
  EXPECT_EQ(stack->depth, 3);
  EXPECT_EQ(css_stack_delete(stack), -1);
  void *top = css_stack_pop(stack);
  EXPECT_EQ(*static_cast<int *>(top), 3);
  css_free(top);
  static std::vector<int> handed;
  handed.clear();
  css_stack_dismantle(stack, [](void *item) {
    handed.push_back(*static_cast<int *>(item));
    css_free(item);
  });
  EXPECT_EQ(handed, (std::vector<int> {2, 1}));
}

TEST(CssBuffer, FreeReleasesDataOnlyWhenTheSizeIsSet) {
  char outside[4] = "abc";
  csm_buffer *buffer = csm_buffer_new();
  ASSERT_NE(buffer, nullptr);
  // Size 0: the data is not the buffer's to free.
  csm_buffer_init(buffer, outside, 0);
  csm_buffer_free(buffer);
  EXPECT_EQ(buffer->data, nullptr);
  ASSERT_EQ(csm_buffer_alloc(buffer, 16), 0);
  EXPECT_EQ(buffer->size, 16);
  csm_buffer_delete(buffer);
  const css_vect *vect = css_func_vec_get();
  EXPECT_EQ(vect->version, CSS_VECT_VERSION);
  csm_func_vec *vector = csm_func_vec_new();
  ASSERT_NE(vector, nullptr);
  EXPECT_EQ(vector->version, CSM_FUNC_VEC_VERSION);
  EXPECT_EQ(vector->create, nullptr);
  css_free(vector);
}

}  // namespace
