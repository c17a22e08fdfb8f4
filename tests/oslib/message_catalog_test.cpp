/*
** The catalog reader over catalogs written by the tests' own encoder: the
** index search in both entry sizes, the kept index block, text sizes, the
** catalog search under DOVARIZADIR, and the fallback texts. Catalogs live
** in the process's isolated DOVARIZADIR or in a TempDir.
*/
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalog_encoder.h"
#include "catalog_reads.h"
#include "dvz_be.h"
#include "failing_alloc.h"
#include "gl_registry.h"
#include "isolation.h"
#include "locale_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_messages.h"
#include "os_seams.h"
#include "temp_dir.h"

namespace {

using catalog_test::entry_width;
using catalog_test::message;
using catalog_test::write_catalog;

struct lookup {
  int result;
  std::string text;
  int32_t length;
};

lookup get(int32_t number, int16_t size = 512, const char *locale = nullptr) {
  std::vector<char> buffer(size > 0 ? size : 1, 'Z');
  int32_t length = -99;
  int result = locale != nullptr
                   ? rgetlmsg_with_locale(number, buffer.data(), size, &length, locale)
                   : rgetlmsg(number, buffer.data(), size, &length);
  return {result, std::string(buffer.data(), strnlen(buffer.data(), buffer.size())), length};
}

const char *width_name(entry_width width) { return width == entry_width::wide ? "wide" : "narrow"; }

class MessageCatalog : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *name : {"DBLANG", "LANG", "CLIENT_LOCALE", "DBNLS", "DVZ_FREE_FD"})
      unsetenv(name);
    dir_ = oslib_test::isolated_dovarizadir();
    setenv("DOVARIZADIR", dir_.c_str(), 1);
  }

  void TearDown() override {
    rclosemsg();
    _setmsgfile(nullptr);
  }

  /* A catalog under DOVARIZADIR. */
  std::string under_dir(const std::string &relative) const { return dir_ + "/" + relative; }

  /* Forgets every catalog, file and cached look-up between table rows. */
  void clear_world() {
    rclosemsg();
    std::filesystem::remove_all(under_dir("msg"));
    for (const char *leaf : {"csql.iem", "os.iem"})
      std::filesystem::remove(under_dir(leaf));
    std::filesystem::remove_all(under_dir("fr"));
    for (const char *name : {"DBLANG", "CLIENT_LOCALE"})
      unsetenv(name);
    msg_langdir = nullptr;
  }

  std::string dir_;
  dvz_test::TempDir temp_;
};

TEST_F(MessageCatalog, EveryPresentNumberIsFoundAndNoOther) {
  for (entry_width width : {entry_width::narrow, entry_width::wide}) {
    for (int count : {1, 3, 8, 9, 20}) {
      SCOPED_TRACE(std::string(width_name(width)) + " catalog of " + std::to_string(count));
      std::vector<message> messages = catalog_test::spread_messages(count);
      std::string path =
          temp_.file(std::string(width_name(width)) + std::to_string(count) + ".iem");
      write_catalog(path, messages, width);
      ASSERT_EQ(_setmsgfile(path.c_str()), 0);

      /* A fresh search for each number, then all again over the kept block. */
      for (bool fresh : {true, false}) {
        for (const message &m : messages) {
          if (fresh) rclosemsg();
          lookup found = get(m.number);
          EXPECT_EQ(found.result, 0) << m.number;
          EXPECT_EQ(found.text, m.text);
          EXPECT_EQ(found.length, static_cast<int32_t>(m.text.size()));
        }
      }
      std::vector<int32_t> absent = {messages.front().number - 1, messages.back().number + 1};
      for (const message &m : messages)
        absent.push_back(m.number + 5);
      for (int32_t number : absent) {
        lookup missing = get(number);
        EXPECT_EQ(missing.result, msg_err_no_number) << number;
        EXPECT_EQ(missing.text, "Unknown error message number '" + std::to_string(number) + "'\n");
      }
    }
  }
}

TEST_F(MessageCatalog, NineEntriesWithAShortTextAreaAreAllFound) {
  /* A block read from the middle must stop at the last entry: the texts
  ** behind the index are shorter than the entries a full block would ask
  ** for. */
  for (entry_width width : {entry_width::narrow, entry_width::wide}) {
    SCOPED_TRACE(width_name(width));
    std::vector<message> messages;
    for (int i = 0; i < 9; ++i)
      messages.push_back({1000 + i, std::string(1, static_cast<char>('a' + i))});
    std::string path = temp_.file(std::string("short_") + width_name(width) + ".iem");
    write_catalog(path, messages, width);
    ASSERT_EQ(_setmsgfile(path.c_str()), 0);
    for (const message &m : messages) {
      rclosemsg();
      lookup found = get(m.number);
      EXPECT_EQ(found.result, 0) << m.number;
      EXPECT_EQ(found.text, m.text);
    }
  }
}

TEST_F(MessageCatalog, NumberInTheKeptBlockCostsNoIndexRead) {
  std::vector<message> messages = catalog_test::spread_messages(20);
  std::string path = temp_.file("twenty.iem");
  write_catalog(path, messages, entry_width::narrow);
  ASSERT_EQ(_setmsgfile(path.c_str()), 0);

  long before = os_catalog_index_reads;
  ASSERT_EQ(get(messages[0].number).result, 0);
  EXPECT_GT(os_catalog_index_reads, before);

  /* The search for the first entry ends on the block of entries 0 to 7. */
  long after_search = os_catalog_index_reads;
  lookup neighbour = get(messages[5].number);
  EXPECT_EQ(neighbour.result, 0);
  EXPECT_EQ(neighbour.text, messages[5].text);
  EXPECT_EQ(os_catalog_index_reads, after_search);

  lookup far = get(messages[15].number);
  EXPECT_EQ(far.text, messages[15].text);
  EXPECT_GT(os_catalog_index_reads, after_search);
}

TEST_F(MessageCatalog, KeptBlockHoldsOnlyTheEntriesLastRead) {
  /* Catalog a's search leaves a block of its numbers 80 to 87; catalog b's
  ** last read fills only the first five places of the block, so places 5 to
  ** 7 still hold a's 85 to 87, which b does not have. b's texts are long
  ** enough to reach a's offsets, and no second try hides a wrong hit. */
  setenv("DBLANG", "en_US.8859-1", 1);
  std::vector<message> a;
  for (int32_t n = 80; n < 100; ++n)
    a.push_back({n, "a" + std::to_string(n)});
  std::vector<message> b;
  for (int32_t n = 0; n <= 80; n += 10)
    b.push_back({n, "b" + std::to_string(n) + std::string(40, '.')});
  std::string path_a = temp_.file("a.iem");
  std::string path_b = temp_.file("b.iem");
  write_catalog(path_a, a, entry_width::narrow);
  write_catalog(path_b, b, entry_width::narrow);

  ASSERT_EQ(_setmsgfile(path_a.c_str()), 0);
  ASSERT_EQ(get(80).text, "a80");
  ASSERT_EQ(_setmsgfile(path_b.c_str()), 0);
  ASSERT_EQ(get(80).text, b.back().text);
  EXPECT_EQ(gentcb->msg_block_entries, 5);

  lookup stale = get(85);
  EXPECT_EQ(stale.result, msg_err_no_number);
  EXPECT_EQ(stale.text, "Unknown error message number '85'\n");
}

TEST_F(MessageCatalog, TextIsCutToTheBuffer) {
  const std::string forty(40, 'x');
  std::string path = temp_.file("sizes.iem");
  write_catalog(path, {{100, forty}}, entry_width::narrow);
  ASSERT_EQ(_setmsgfile(path.c_str()), 0);

  struct row {
    int16_t size;
    int result;
    std::size_t kept;
  };
  const row rows[] = {{1, msg_err_text_cut, 0},
                      {10, msg_err_text_cut, 9},
                      {40, msg_err_text_cut, 39},
                      {41, 0, 40},
                      {512, 0, 40}};
  for (const row &r : rows) {
    lookup found = get(100, r.size);
    EXPECT_EQ(found.result, r.result) << r.size;
    EXPECT_EQ(found.text, forty.substr(0, r.kept)) << r.size;
    EXPECT_EQ(found.length, static_cast<int32_t>(r.kept)) << r.size;
  }

  /* No room for a terminator: nothing at all is written. */
  for (int16_t size : {int16_t {0}, int16_t {-1}}) {
    char buffer[8] = "ZZZZZZZ";
    int32_t length = -99;
    EXPECT_EQ(rgetlmsg(100, buffer, size, &length), msg_err_text_cut);
    EXPECT_STREQ(buffer, "ZZZZZZZ");
    EXPECT_EQ(length, -99);
  }
}

TEST_F(MessageCatalog, FallbackTextsNeverUseACatalogTextAsAFormat) {
  const std::string cannot_open = "Cannot open file 'csql.iem'\n";
  const std::string unknown_250 = "Unknown error message number '-250'\n";
  struct row {
    const char *what;
    std::optional<std::string> no_file_text; /* 32765 in os.iem */
    std::optional<std::string> no_message_text; /* 32766 in os.iem */
    bool with_csql;
    int32_t number;
    int result;
    std::string text;
  };
  const row rows[] = {
      {"no catalog at all", {}, {}, false, -206, msg_err_no_file, cannot_open},
      {"catalog text",
       "Catalog %s is missing.",
       {},
       false,
       -206,
       msg_err_no_file,
       "Catalog csql.iem is missing."},
      {"escaped percent",
       "100%% gone: %s",
       {},
       false,
       -206,
       msg_err_no_file,
       "100% gone: csql.iem"},
      {"two directives and %n", "%s%s%n", {}, false, -206, msg_err_no_file, cannot_open},
      {"wrong directive", "%d", {}, false, -206, msg_err_no_file, cannot_open},
      {"width", "%20s", {}, false, -206, msg_err_no_file, cannot_open},
      {"no directive", "missing", {}, false, -206, msg_err_no_file, cannot_open},
      {"trailing percent", "%s %", {}, false, -206, msg_err_no_file, cannot_open},
      {"number in no range", {}, {}, false, 26000, msg_err_no_file, "Cannot open file 'os.iem'\n"},
      {"no file text itself", {}, {}, false, 32765, -1, ""},
      {"number text", {}, "No text for %d.", true, -250, msg_err_no_number, "No text for -250."},
      {"number text without it", {}, {}, true, -250, msg_err_no_number, unknown_250},
      {"number text with %s", {}, "%s", true, -250, msg_err_no_number, unknown_250},
      {"number text with two", {}, "%d %d", true, -250, msg_err_no_number, unknown_250},
      {"no message text itself", "x %s", {}, true, 32766, -1, ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    clear_world();
    std::vector<message> os = {{1, "one"}};
    if (r.no_file_text) os.push_back({32765, *r.no_file_text});
    if (r.no_message_text) os.push_back({32766, *r.no_message_text});
    if (r.no_file_text || r.no_message_text || r.with_csql) {
      write_catalog(under_dir("msg/en_us/0333/os.iem"), os, entry_width::narrow);
    }
    if (r.with_csql)
      write_catalog(under_dir("msg/en_us/0333/csql.iem"), {{-201, "x"}}, entry_width::narrow);
    lookup found = get(r.number);
    EXPECT_EQ(found.result, r.result);
    EXPECT_EQ(found.text, r.text);
    EXPECT_EQ(found.length, static_cast<int32_t>(r.text.size()));
  }
}

TEST_F(MessageCatalog, FallbackTextIsCutToTheBuffer) {
  lookup found = get(-206, 10);
  EXPECT_EQ(found.result, msg_err_no_file);
  EXPECT_EQ(found.text, "Cannot op");
}

TEST_F(MessageCatalog, DovarizadirTooLongForAPathGivesNoNameAndCannotOpenText) {
  /* The client locale first, while its data can be found. */
  ASSERT_EQ(chkglsinit(), 0);
  std::string long_dir = dir_ + "/" + std::string(240, 'd');
  ASSERT_EQ(setenv("DOVARIZADIR", long_dir.c_str(), 1), 0);
  lookup found = get(-206);
  EXPECT_EQ(found.result, msg_err_no_name);
  EXPECT_EQ(found.text, "Cannot open file 'csql.iem'\n");
  EXPECT_EQ(rmsgfname("csql.iem"), nullptr);
}

/* The client locale fails to initialise for real, each row in a child of
** its own with the variables that make it fail. */
TEST_F(MessageCatalog, LocaleInitialisationFailureGivesItsFixedText) {
  const oslib_test::FailingLocaleTree failing_tree;
  using variables = std::vector<std::pair<const char *, std::string>>;
  const variables missing_converter = {{"DOVARIZADIR", failing_tree.path()},
                                       {"DB_LOCALE", "en_US.utf8"}};
  struct row {
    const char *what;
    variables set;
    int error;
    int16_t size;
    std::string text;
  };
  const row rows[] = {
      {"missing conversion file", missing_converter, -23104, 512,
       "Error opening required code-set conversion object file."},
      {"text cut to the buffer", missing_converter, -23104, 10, "Error ope"},
      {"unknown client locale",
       {{"CLIENT_LOCALE", "xx_NONE.nothing"}},
       -23101,
       512,
       "Unable to load locale categories."},
      {"code set without ASCII letters: no fixed text",
       {{"DOVARIZADIR", failing_tree.path()},
        {"CLIENT_LOCALE", oslib_test::FailingLocaleTree::two_byte_locale}},
       -34394,
       512,
       ""},
      {"DBDATE without a year",
       {{"DBDATE", "MD"}},
       -1212,
       512,
       "Date conversion format must contain a month, day, and year component."},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const std::string seen = oslib_test::in_child([&r] {
      for (const char *name : {"DB_LOCALE", "DBDATE", "GL_DATE"})
        unsetenv(name);
      for (const auto &[name, value] : r.set)
        setenv(name, value.c_str(), 1);
      oslib_test::forget_locale_initialisation();
      const lookup found = get(-206, r.size);
      return std::to_string(found.result) + " " + std::to_string(found.length) + " '" + found.text +
             "'";
    });
    EXPECT_EQ(seen,
              std::to_string(r.error) + " " + std::to_string(r.text.size()) + " '" + r.text + "'");
  }
}

TEST_F(MessageCatalog, SearchOrderUnderDovarizadir) {
  /* Locale names become message directories through the built-in
  ** registry. */
  gl_cache_registry(nullptr, nullptr);
  struct row {
    const char *what;
    const char *dblang;
    const char *client_locale;
    const char *with_locale; /* rgetlmsg_with_locale */
    std::vector<std::string> places; /* each gets csql.iem with its name as text */
    std::string found;
  };
  const row rows[] = {
      {"catalog in DOVARIZADIR first", nullptr, nullptr, nullptr, {"msg/en_us/0333", "."}, "."},
      {"default directory",
       nullptr,
       nullptr,
       nullptr,
       {"msg/en_us/0333", "msg/english"},
       "msg/en_us/0333"},
      {"language under msg", "fr", nullptr, nullptr, {".", "fr", "msg/fr"}, "msg/fr"},
      {"language directory", "fr", nullptr, nullptr, {".", "fr", "msg/en_us/0333"}, "fr"},
      {"language as a locale",
       "de_DE.8859-1",
       nullptr,
       nullptr,
       {"msg/en_us/0333", "msg/de_de/0333"},
       "msg/de_de/0333"},
      {"client locale",
       nullptr,
       "de_DE.8859-1",
       nullptr,
       {"msg/en_us/0333", "msg/de_de/0333"},
       "msg/de_de/0333"},
      {"client locale as named",
       nullptr,
       "xx_YY",
       nullptr,
       {"msg/en_us/0333", "msg/xx_YY"},
       "msg/xx_YY"},
      {"given locale passes over the language",
       "fr",
       nullptr,
       "de_DE.8859-1",
       {"msg/fr", "msg/de_de/0333"},
       "msg/de_de/0333"},
      {"last resort", nullptr, nullptr, nullptr, {"msg/english"}, "msg/english"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    clear_world();
    if (r.dblang != nullptr) setenv("DBLANG", r.dblang, 1);
    if (r.client_locale != nullptr) setenv("CLIENT_LOCALE", r.client_locale, 1);
    for (const std::string &place : r.places) {
      write_catalog(under_dir(place + "/csql.iem"), {{-206, place}}, entry_width::narrow);
    }
    lookup found = get(-206, 512, r.with_locale);
    EXPECT_EQ(found.result, 0);
    EXPECT_EQ(found.text, r.found);
  }
  clear_world();
}

TEST_F(MessageCatalog, MissAgainWithTheDefaultLocale) {
  gl_cache_registry(nullptr, nullptr);
  setenv("CLIENT_LOCALE", "de_DE.8859-1", 1);
  write_catalog(under_dir("msg/de_de/0333/csql.iem"), {{-201, "de"}}, entry_width::narrow);
  write_catalog(under_dir("msg/en_us/0333/csql.iem"), {{-206, "en"}}, entry_width::narrow);
  lookup found = get(-206);
  EXPECT_EQ(found.result, 0);
  EXPECT_EQ(found.text, "en");
  /* A look-up that needed the second try is not kept. */
  EXPECT_EQ(gentcb->msg_open_name[0], '\0');

  /* With DBLANG already the default locale there is no second try. */
  rclosemsg();
  setenv("DBLANG", "en_US.8859-1", 1);
  msg_langdir = nullptr;
  write_catalog(under_dir("msg/en_US.8859-1/csql.iem"), {{-201, "first"}}, entry_width::narrow);
  EXPECT_EQ(get(-206).result, msg_err_no_number);
}

TEST_F(MessageCatalog, FreeFdClosesTheCatalogAfterEachText) {
  std::vector<message> messages = catalog_test::spread_messages(8);
  std::string path = temp_.file("free.iem");
  write_catalog(path, messages, entry_width::wide);
  ASSERT_EQ(_setmsgfile(path.c_str()), 0);

  ASSERT_EQ(get(messages[0].number).result, 0);
  EXPECT_GE(gentcb->msg_fd, 0);

  setenv("DVZ_FREE_FD", "1", 1);
  ASSERT_EQ(get(messages[1].number).text, messages[1].text);
  EXPECT_EQ(gentcb->msg_fd, -1);
  long before = os_catalog_index_reads;
  ASSERT_EQ(get(messages[2].number).text, messages[2].text);
  EXPECT_GT(os_catalog_index_reads, before);
  EXPECT_EQ(gentcb->msg_fd, -1);
}

TEST_F(MessageCatalog, ServerIndexFindsServerCatalogs) {
  write_catalog(under_dir("msg/en_us/0333/sql.iem"), {{-206, "server sql"}}, entry_width::narrow);
  write_catalog(under_dir("msg/en_us/0333/security.iem"), {{21400, "server security"}},
                entry_width::wide);
  write_catalog(under_dir("msg/en_us/0333/csql.iem"), {{-206, "client sql"}}, entry_width::narrow);
  EXPECT_EQ(get(-206).text, "client sql");

  ASSERT_EQ(gen_resetMessageFindFile('s'), 0);
  EXPECT_EQ(get(-206).text, "server sql");
  EXPECT_EQ(get(21400).text, "server security");

  std::filesystem::remove(under_dir("msg/en_us/0333/sql.iem"));
  rclosemsg();
  lookup missing = get(-206);
  EXPECT_EQ(missing.result, msg_err_no_file);
  EXPECT_EQ(missing.text, "Cannot open file 'sql.iem'\n");
}

TEST_F(MessageCatalog, OpenAndIndexErrors) {
  auto header = [](unsigned magic, unsigned count) {
    std::string bytes;
    for (unsigned v : {magic, count}) {
      bytes.push_back(static_cast<char>(v >> 8));
      bytes.push_back(static_cast<char>(v & 0xFF));
    }
    return bytes;
  };
  std::string three =
      catalog_test::encode_catalog(catalog_test::spread_messages(3), entry_width::narrow);
  struct row {
    const char *what;
    std::optional<std::string> bytes;
    int result;
  };
  const row rows[] = {
      {"no such file", {}, msg_err_no_file},
      {"bad magic", header(0xFE67, 1) + std::string(20, '\0'), msg_err_bad_magic},
      {"short header", std::string("\xFE\x68\x00", 3), msg_err_bad_magic},
      {"empty index", header(0xFE68, 0), msg_err_no_number},
      {"index shorter than its count", header(0xFE68, 20) + three.substr(4, 16),
       msg_err_index_read},
  };
  int n = 0;
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    std::string path = temp_.file("errors" + std::to_string(n++) + ".iem");
    if (r.bytes) dvz_test::write_file(path, *r.bytes);
    ASSERT_EQ(_setmsgfile(path.c_str()), 0);
    lookup found = get(-80);
    EXPECT_EQ(found.result, r.result);
    EXPECT_FALSE(found.text.empty());
  }
}

/* Damaged entries and counts of a three-message catalog (-100, -90, -80):
** each number gives its text, or the reader's error with the unknown-number
** text, and nothing is read outside the file. */
TEST_F(MessageCatalog, DamagedCatalogsGiveTheReadersErrors) {
  enum class field { count, length, offset };
  /* The new value: the number itself, or added to the old value or to the
  ** file's size. */
  enum class from { zero, old, size };
  constexpr int ok = 0;
  constexpr int absent = msg_err_no_number;
  constexpr int unreadable = msg_err_index_read;
  struct row {
    const char *what;
    field changed;
    int entry;
    from base;
    uint32_t value;
    std::array<int, 3> results;
  };
  const row rows[] = {
      {"negative text length", field::length, 1, from::zero, 0xFFFF, {ok, absent, ok}},
      {"most negative text length", field::length, 0, from::zero, 0x8000, {absent, ok, ok}},
      {"offset past the end of the file", field::offset, 1, from::size, 100, {ok, unreadable, ok}},
      {"offset at 4 GiB", field::offset, 2, from::zero, 0xFFFFFFFF, {ok, ok, unreadable}},
      {"length past the end of the file", field::length, 2, from::old, 50, {ok, ok, unreadable}},
      {"count one past the index: text read as an entry",
       field::count,
       0,
       from::old,
       1,
       {ok, ok, ok}},
      {"count past the end of the file",
       field::count,
       0,
       from::zero,
       0xFFFF,
       {unreadable, unreadable, unreadable}},
  };
  const std::vector<message> messages = catalog_test::spread_messages(3);
  int n = 0;
  for (entry_width width : {entry_width::narrow, entry_width::wide}) {
    const std::size_t entry_size = width == entry_width::wide ? 10 : 8;
    for (const row &r : rows) {
      SCOPED_TRACE(std::string(width_name(width)) + ": " + r.what);
      std::string bytes = catalog_test::encode_catalog(messages, width);
      /* Where the field lies: the count in the header, the length and
      ** offset at the end of their entry. */
      const std::size_t entry_end = 4 + (r.entry + 1) * entry_size;
      const std::size_t at = r.changed == field::count    ? 2
                             : r.changed == field::length ? entry_end - 6
                                                          : entry_end - 4;
      const bool word = r.changed == field::offset;
      const uint32_t old = word ? dvz_ld_be_u32(&bytes[at]) : dvz_ld_be_u16(&bytes[at]);
      const uint32_t value = r.value + (r.base == from::old    ? old
                                        : r.base == from::size ? static_cast<uint32_t>(bytes.size())
                                                               : 0);
      if (word) {
        dvz_st_be_u32(value, &bytes[at]);
      } else {
        dvz_st_be_u16(static_cast<uint16_t>(value), &bytes[at]);
      }
      const std::string path = temp_.file("damaged" + std::to_string(n++) + ".iem");
      dvz_test::write_file(path, bytes);
      ASSERT_EQ(_setmsgfile(path.c_str()), 0);
      for (bool fresh : {true, false}) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
          if (fresh) rclosemsg();
          const message &m = messages[i];
          lookup found = get(m.number);
          EXPECT_EQ(found.result, r.results[i]) << m.number;
          const std::string expected = r.results[i] == ok ? m.text
                                                          : "Unknown error message number '" +
                                                                std::to_string(m.number) + "'\n";
          EXPECT_EQ(found.text, expected) << m.number;
          EXPECT_EQ(found.length, static_cast<int32_t>(found.text.size()));
        }
      }
      EXPECT_EQ(get(-95).result, r.results[0] == unreadable ? unreadable : absent);
    }
  }
}

/* No memory for the general control block, or, with a block, for its
** index block buffer: -406, the caller's buffer holding a terminated
** text, and nothing of the catalog state half made. */
TEST_F(MessageCatalog, WithoutMemoryLookUpsGive406) {
  std::string path = temp_.file("memory.iem");
  write_catalog(path, catalog_test::spread_messages(3), entry_width::narrow);
  ASSERT_EQ(_setmsgfile(path.c_str()), 0);
  ASSERT_EQ(get(-90).result, 0);
  const std::string unknown = "Unknown error message number '-90'\n";
  struct row {
    const char *what;
    bool with_block;
    int result;
    std::string text;
  };
  const row rows[] = {{"no control block", false, -406, ""},
                      {"no index block buffer", true, -406, unknown}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    rclosemsg();
    gen_tcb *saved = gentcb;
    if (!r.with_block) gentcb = nullptr;
    lookup found;
    int seek = 0;
    char *text = nullptr;
    {
      oslib_test::FailingAlloc no_memory(1, true);
      found = get(-90);
      int32_t length = 0;
      seek = lrseekmsg(-90, &length, nullptr);
      text = _nmsgtext(-90);
    }
    EXPECT_EQ(found.result, r.result);
    EXPECT_EQ(found.text, r.text);
    EXPECT_EQ(found.length, static_cast<int32_t>(r.text.size()));
    EXPECT_EQ(seek, -406);
    EXPECT_EQ(text, nullptr);
    if (!r.with_block) {
      EXPECT_EQ(gentcb, nullptr) << "no block half made";
    }
    gentcb = saved;
    EXPECT_EQ(gentcb->msg_block, nullptr);
    EXPECT_EQ(gentcb->msg_open_name[0], '\0');
    EXPECT_EQ(get(-90).text, "text of -90") << "with memory back";
  }
}

TEST_F(MessageCatalog, StreamIsPositionedAtTheText) {
  std::vector<message> messages = catalog_test::spread_messages(9);
  std::string path = temp_.file("stream.iem");
  write_catalog(path, messages, entry_width::wide);
  ASSERT_EQ(_setmsgfile(path.c_str()), 0);
  for (int i : {7, 2}) {
    int32_t length = 0;
    FILE *stream = nullptr;
    ASSERT_EQ(rseekmsg(messages[i].number, &length, &stream), 0);
    ASSERT_NE(stream, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ASSERT_EQ(std::fread(text.data(), 1, text.size(), stream), text.size());
    EXPECT_EQ(text, messages[i].text);
  }
  /* The stream belongs to the block: rmsg_init closes it, the catalog
  ** stays readable. */
  rmsg_init();
  EXPECT_EQ(gentcb->msg_stream, nullptr);
  EXPECT_EQ(get(messages[4].number).text, messages[4].text);
}

TEST_F(MessageCatalog, MessageTextBufferKeepsTheLastNumber) {
  std::string first = temp_.file("first.iem");
  std::string second = temp_.file("second.iem");
  write_catalog(first, {{7, "seven"}, {8, "eight"}}, entry_width::narrow);
  write_catalog(second, {{7, "other seven"}, {8, "other eight"}}, entry_width::narrow);
  ASSERT_EQ(_setmsgfile(first.c_str()), 0);
  EXPECT_STREQ(_nmsgtext(7), "seven");
  ASSERT_EQ(_setmsgfile(second.c_str()), 0);
  EXPECT_STREQ(_nmsgtext(7), "seven");
  EXPECT_STREQ(mmsgtext(8), "other eight");
}

}  // namespace
