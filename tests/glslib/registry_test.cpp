/*
** Code-set registry: the built-in table, name lookups (from the caches and
** straight from the file), caching and its failures, and the search for
** the registry file.
*/
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "glslib.h"
#include "registry_fixture.h"

namespace {

using regtest::ErrorWord;
using regtest::RegistryTest;

constexpr uint16_t no_code_set = GL_CS_NONE;

std::string name_of_length(size_t n) { return std::string(n, 'x'); }

TEST(CannedRegistry, RowsAreLowerCaseNamesOfAtMost21CharactersAndRealNumbers) {
  size_t rows = 0;
  std::set<std::string> names;
  for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r, ++rows) {
    std::string name = r->name;
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 21u) << name;
    for (char c : name)
      EXPECT_TRUE(c > 0x20 && c < 0x7f && !(c >= 'A' && c <= 'Z')) << name;
    EXPECT_TRUE(r->number > 0 && r->number < 0x10000 && r->number != 0xE000) << name;
    EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
  }
  EXPECT_EQ(rows, 122u);
  EXPECT_STREQ(gls_canned_registry[0].name, "ebcdic");
  EXPECT_STREQ(gls_canned_registry[rows - 1].name, "qa-unix-big5");
}

/* The entries of the shipped registry file, in file order. */
struct FileEntry {
  std::string name;
  int number;
};
std::vector<FileEntry> shipped_entries() {
  std::istringstream in(dvz_test::read_file(std::string(GLS_SOURCE_DATA) + "/cm3/registry"));
  std::vector<FileEntry> entries;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    FileEntry e;
    if (!(fields >> e.name) || e.name[0] == '#') continue;
    if (fields >> e.number) {
      entries.push_back(e);
    } else {
      ADD_FAILURE() << "no number on the line " << line;
    }
  }
  return entries;
}

/* The shipped registry file lists the built-in table first, in its order
** (the first equal name wins, so the order is part of the answer), then
** aliases that only the file knows. */
TEST(CannedRegistry, IsTheShippedRegistryFileInItsOrder) {
  const std::vector<FileEntry> entries = shipped_entries();
  std::size_t i = 0;
  for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r, ++i) {
    ASSERT_LT(i, entries.size()) << "the file ends before the row " << r->name;
    EXPECT_EQ(r->name, entries[i].name) << "row " << i;
    EXPECT_EQ(r->number, entries[i].number) << r->name;
  }
  EXPECT_GT(entries.size(), i) << "the file holds no alias";
  for (; i < entries.size(); ++i) {
    for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r)
      EXPECT_NE(r->name, entries[i].name) << "alias " << entries[i].name << " is a built-in name";
  }
}

/* Every name of the shipped file, looked up through the built-in table:
** the table's own names give the file's number, the aliases are unknown. */
TEST_F(RegistryTest, BuiltInTableAnswersTheShippedFilesNames) {
  use_builtin_table();
  std::size_t rows = 0;
  while (gls_canned_registry[rows].name != nullptr)
    ++rows;
  const std::vector<FileEntry> entries = shipped_entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FileEntry &e = entries[i];
    ErrorWord w;
    if (i < rows) {
      EXPECT_EQ(gl_cs_name2cs_num(w.record(), e.name.c_str(), nullptr), e.number) << e.name;
      EXPECT_EQ(w.err, 0) << e.name;
    } else {
      EXPECT_EQ(gl_cs_name2cs_num(w.record(), e.name.c_str(), nullptr), no_code_set) << e.name;
      EXPECT_EQ(w.err, GL_EINVAL) << e.name;
    }
  }
}

/* Lookups against the built-in table (installed by a failed caching). */
struct LookupCase {
  const char *name;
  uint16_t number;
  int err; /* error word afterwards (starts at 0) */
};

TEST_F(RegistryTest, LookupsInTheBuiltInTable) {
  use_builtin_table();
  const LookupCase cases[] = {
      {"8859-1", 819, 0},
      {"Latin-1", 819, 0},
      {"LATIN-1", 819, 0},
      {"c", 819, 0},
      {"utf8", 57372, 0},
      {"UTF8", 57372, 0},
      {"csid933", 933, 0}, /* the built-in table's own spelling */
      {"819", 819, 0}, /* digits rule */
      {"00819", 819, 0},
      {"65535", 65535, 0},
      {"0", 0, 0},
      {"65536", no_code_set, GL_EINVAL},
      {"99999999999999999999", no_code_set, GL_EINVAL},
      {"57344", no_code_set, GL_EINVAL}, /* the "no code set" value is no answer */
      {"81 9", no_code_set, GL_EINVAL},
      {"no-such-set", no_code_set, GL_EINVAL},
      {"", no_code_set, GL_EINVAL},
  };
  for (const LookupCase &c : cases) {
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.name, nullptr), c.number) << c.name;
    EXPECT_EQ(w.err, c.err) << c.name;
  }
  /* Only the shipped registry file knows "ccsid933". */
  ErrorWord w;
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "ccsid933", nullptr), no_code_set);
  EXPECT_EQ(w.err, GL_EINVAL);
}

TEST_F(RegistryTest, EveryBuiltInNameResolvesInAnyCase) {
  use_builtin_table();
  for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r) {
    std::string upper = r->name;
    for (char &c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), r->name, nullptr), r->number) << r->name;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), upper.c_str(), nullptr), r->number) << upper;
    EXPECT_EQ(w.err, 0);
  }
}

TEST_F(RegistryTest, NamesOf22CharactersAreRefusedNotCut) {
  /* A file entry of 21 characters must not match a longer argument that
  ** shares its first 21. */
  std::string name21 = name_of_length(21);
  std::string file = dir_.write("reg", name21 + " 1234\n");
  for (bool cached : {false, true}) {
    gl_free_registry_cache();
    if (cached) {
      gl_cache_registry(word_.record(), file.c_str());
      ASSERT_EQ(word_.err, 0);
    }
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), name21.c_str(), file.c_str()), 1234);
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), name_of_length(22).c_str(), file.c_str()), no_code_set);
    EXPECT_EQ(w.err, GL_EINVAL);
  }
}

TEST_F(RegistryTest, NullNameIsError2AndNullRecordStoresNothing) {
  use_builtin_table();
  ErrorWord w;
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), nullptr, nullptr), no_code_set);
  EXPECT_EQ(w.err, GL_ENULLPTR);
  EXPECT_EQ(gl_cs_name2cs_num(nullptr, "bogus", nullptr), no_code_set);
  EXPECT_EQ(gl_cs_name2cs_num(nullptr, "utf8", nullptr), 57372);
}

TEST_F(RegistryTest, WithoutRegistryFileCachingStores15AndTheBuiltInTableAnswers) {
  gl_cache_registry(word_.record(), nullptr); /* DOVARIZADIR is an empty tree */
  EXPECT_EQ(word_.err, GL_ENOREGISTRY);
  EXPECT_EQ(gls_registry_list_cache, nullptr);
  EXPECT_EQ(gls_registry_array_cache, gls_canned_registry);
  ErrorWord w;
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "utf8", nullptr), 0xE01C);
  EXPECT_EQ(w.err, 0);
}

TEST_F(RegistryTest, BeforeCachingThereIsNoBuiltInFallback) {
  ErrorWord w;
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "utf8", nullptr), no_code_set);
  EXPECT_EQ(w.err, GL_ENOREGISTRY);
  w.err = 0;
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "819", nullptr),
            no_code_set); /* not even the digits rule */
  EXPECT_EQ(w.err, GL_ENOREGISTRY);
}

constexpr char fixture_text[] =
    "# a comment line\n"
    "  # an indented comment\n"
    "\n"
    "Alpha 10 anything after the number is ignored\n"
    "beta\t20\n"
    "alpha 11\n" /* the first entry with a name wins */
    "g#mma 30 # the # in a name is a name character\n"
    "utf8 57372\n"
    "819 4\n"; /* an entry beats the digits rule */

struct FileCase {
  const char *name;
  uint16_t number;
  int err;
};

constexpr FileCase fixture_cases[] = {
    {"alpha", 10, 0},   {"ALPHA", 10, 0}, {"beta", 20, 0}, {"g#mma", 30, 0},
    {"utf8", 57372, 0}, {"819", 4, 0},    {"820", 820, 0}, {"latin-1", no_code_set, GL_EINVAL},
};

TEST_F(RegistryTest, CachedFileAnswersLikeTheFileReadDirectly) {
  std::string file = dir_.write("reg", fixture_text);
  for (bool cached : {false, true}) {
    gl_free_registry_cache();
    if (cached) {
      gl_cache_registry(word_.record(), file.c_str());
      ASSERT_EQ(word_.err, 0);
      ASSERT_NE(gls_registry_list_cache, nullptr);
      EXPECT_EQ(gls_registry_array_cache, nullptr);
    }
    for (const FileCase &c : fixture_cases) {
      ErrorWord w;
      EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.name, file.c_str()), c.number)
          << c.name << (cached ? " cached" : " read");
      EXPECT_EQ(w.err, c.err) << c.name;
    }
  }
  /* The list holds the entries in file order, names lower-cased. */
  const char *names[] = {"alpha", "beta", "alpha", "g#mma", "utf8", "819"};
  const registry_entry *e = gls_registry_list_cache;
  for (const char *n : names) {
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->name, n);
    e = e->next;
  }
  EXPECT_EQ(e, nullptr);
}

TEST_F(RegistryTest, WithoutCacheEveryLookupReadsTheFileAgain) {
  std::string file = dir_.write("reg", "one 1\n");
  ErrorWord w;
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "one", file.c_str()), 1);
  dir_.write("reg", "one 2\n");
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "one", file.c_str()), 2);

  gl_cache_registry(w.record(), file.c_str());
  dir_.write("reg", "one 3\n");
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "one", file.c_str()), 2); /* the cache answers */
  gl_free_registry_cache();
  EXPECT_EQ(gl_cs_name2cs_num(w.record(), "one", file.c_str()), 3);
  EXPECT_EQ(w.err, 0);
}

/* Malformed registry files: caching fails with 11 and leaves the built-in
** table in force; a lookup reading the file reports 11 where it meets the
** fault. */
struct BadFile {
  const char *what;
  const char *text;
  const char *lookup; /* a name whose lookup meets the fault */
};

TEST_F(RegistryTest, MalformedFilesFailWith11AndLeaveTheBuiltInTable) {
  const std::string long_name = name_of_length(22);
  const std::string long_line = long_name + " 5\n";
  const BadFile cases[] = {
      {"number 57344", "a 1\nb 57344\n", "b"},
      {"number 65536", "a 1\nb 65536\n", "b"},
      {"number 4 294 967 297", "a 1\nb 4294967297\n", "b"},
      {"name without a number", "a 1\nb x\n", "b"},
      {"number at end of file", "a 1\nb 2", "b"},
      {"no newline after a non-matching entry", "a 1\nb 2", "c"},
      {"name of 22 characters", long_line.c_str(), "a"},
  };
  for (const BadFile &c : cases) {
    std::string file = dir_.write("bad", c.text);
    gl_free_registry_cache();
    ErrorWord w;
    gl_cache_registry(w.record(), file.c_str());
    EXPECT_EQ(w.err, GL_EBADFILE) << c.what;
    EXPECT_EQ(gls_registry_list_cache, nullptr) << c.what;
    EXPECT_EQ(gls_registry_array_cache, gls_canned_registry) << c.what;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "utf8", nullptr), 57372) << c.what;

    gl_free_registry_cache();
    w.err = 0;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.lookup, file.c_str()), no_code_set) << c.what;
    EXPECT_EQ(w.err, GL_EBADFILE) << c.what;
  }
}

TEST_F(RegistryTest, EdgesOfTheFileSyntaxThatAreAccepted) {
  struct Case {
    const char *text;
    const char *name;
    uint16_t number;
  };
  const Case cases[] = {
      {"a 1 trailing text at end of file", "a", 1}, /* no newline after the rest of the line */
      {"a\n1\n", "a", 1}, /* white space includes newlines */
      {"a 65535\n", "a", 65535},
      {"a 1\n# comment at end of file", "a", 1},
      {"a 1\nname-cut-by-eof", "a", 1}, /* a name ending the file is no entry */
  };
  for (const Case &c : cases) {
    std::string file = dir_.write("ok", c.text);
    gl_free_registry_cache();
    ErrorWord w;
    gl_cache_registry(w.record(), file.c_str());
    EXPECT_EQ(w.err, 0) << c.text;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.name, nullptr), c.number) << c.text;
    gl_free_registry_cache();
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.name, file.c_str()), c.number) << c.text;
    EXPECT_EQ(w.err, 0) << c.text;
  }
}

TEST_F(RegistryTest, EmptyFileCachesNothingSoLookupsReadTheFileAgain) {
  std::string file = dir_.write("empty", "# only a comment\n");
  gl_cache_registry(word_.record(), file.c_str());
  EXPECT_EQ(word_.err, 0);
  EXPECT_EQ(gls_registry_list_cache, nullptr);
  EXPECT_EQ(gls_registry_array_cache, nullptr);
  EXPECT_EQ(gl_cs_name2cs_num(word_.record(), "utf8", file.c_str()), no_code_set);
  EXPECT_EQ(word_.err, GL_EINVAL);
}

TEST_F(RegistryTest, RegistryIsFoundByTheDataFileSearch) {
  struct Case {
    const char *relative; /* under the tree */
    bool via_gl_path;
  };
  const Case cases[] = {
      {"gls/cm3/registry", false},
      {"gls/cm/registry", false},
      {"elsewhere/registry", true},
  };
  for (const Case &c : cases) {
    dvz_test::TempDir tree;
    tree.write(c.relative, "found 77\n");
    env_.set("DOVARIZADIR", tree.path());
    env_.unset("GL_PATH");
    if (c.via_gl_path) env_.set("GL_PATH", ":" + tree.file("elsewhere"));
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "found", nullptr), 77) << c.relative;
    gl_cache_registry(w.record(), nullptr);
    EXPECT_EQ(w.err, 0) << c.relative;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "FOUND", nullptr), 77) << c.relative;
    gl_free_registry_cache();
  }
}

/* Allocation failure while caching: error 3, the built-in table, and every
** block made so far given back. */
TEST_F(RegistryTest, AllocationFailureWhileCachingStores3AndTheBuiltInTable) {
  std::string file = dir_.write("reg", "a 1\nb 2\nc 3\n");
  int failures = 0;
  for (int n = 1; n <= 12; ++n) {
    glstest::FailingAllocator allocator(n);
    ErrorWord w;
    gl_cache_registry(w.record(), file.c_str());
    if (allocator.failures() == 0) {
      EXPECT_EQ(w.err, 0) << n;
      EXPECT_NE(gls_registry_list_cache, nullptr);
      EXPECT_EQ(allocator.calls(), 6); /* a node and a name block per entry */
      gl_free_registry_cache();
      EXPECT_EQ(allocator.outstanding(), 0);
      break;
    }
    ++failures;
    EXPECT_EQ(w.err, GL_ENOMEM) << n;
    EXPECT_EQ(gls_registry_list_cache, nullptr) << n;
    EXPECT_EQ(gls_registry_array_cache, gls_canned_registry) << n;
    EXPECT_EQ(allocator.outstanding(), 0) << n;
    EXPECT_FALSE(allocator.freed_unknown()) << n;
  }
  EXPECT_EQ(failures, 6);
}

}  // namespace
