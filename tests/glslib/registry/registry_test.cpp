// Code-set registry: the built-in table, name lookups (from the caches and
// straight from the file), caching and its failures, and the search for
// the registry file.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "glslib.h"
#include "registry_support.h"

namespace {

using regtest::ErrorWord;
using regtest::RegistryTest;

constexpr uint16_t kNone = GL_CS_NONE;

std::string name_of_length(size_t n) { return std::string(n, 'x'); }

TEST(CannedRegistry, RowsAreLowerCaseNamesOfAtMost21CharactersAndRealNumbers) {
    size_t rows = 0;
    std::set<std::string> names;
    for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r, ++rows) {
        std::string name = r->name;
        EXPECT_FALSE(name.empty());
        EXPECT_LE(name.size(), 21u) << name;
        for (char c : name) EXPECT_TRUE(c > 0x20 && c < 0x7f && !(c >= 'A' && c <= 'Z')) << name;
        EXPECT_TRUE(r->number > 0 && r->number < 0x10000 && r->number != 0xE000) << name;
        EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
    }
    EXPECT_EQ(rows, 122u);
    EXPECT_STREQ(gls_canned_registry[0].name, "ebcdic");
    EXPECT_STREQ(gls_canned_registry[rows - 1].name, "qa-unix-big5");
}

// The built-in table row by row, in its order: the first equal name wins
// and the shipped registry file is written in this order.
TEST(CannedRegistry, HoldsEveryNameAndNumberInTableOrder) {
    struct Row {
        const char *name;
        int number;
    };
    const Row expected[] = {
        {"ebcdic", 37}, {"ebcdic-us", 37},
        {"ascii", 364},
        {"unitedstates", 437}, {"cp437", 437},
        {"greek", 737},
        {"8859-7", 813}, {"latin-greek", 813},
        {"c", 819}, {"posix", 819}, {"8859-1", 819}, {"latin-1", 819},
        {"korhstextsbcs", 833}, {"ccsid833", 833},
        {"korhstdbcs", 834}, {"ccsid834", 834},
        {"tchhstdbcs", 835}, {"ccsid835", 835},
        {"schhstextsbcs", 836}, {"ccsid836", 836},
        {"schhstdbcs", 837}, {"ccsid837", 837},
        {"pc-latin-1", 850},
        {"pc-latin-2", 852},
        {"pc-data-hebrew", 856}, {"pc-hebrew-saa", 856},
        {"pc-cyrillic", 866}, {"cis-1", 866}, {"pc866", 866},
        {"8859-2", 912}, {"latin-2", 912},
        {"cyrillic-8bit", 915}, {"8859-5", 915}, {"latin-cyrillic", 915},
        {"8859-8", 916}, {"latin-hebrew", 916},
        {"8859-9", 920}, {"latin-5", 920},
        {"ccsid932", 932}, {"sjis-s", 932}, {"pc-sjis", 932},
        {"korhstmxexsbcs", 933}, {"csid933", 933},
        {"schmxexsbcs", 935}, {"ccsid935", 935},
        {"tchhstmxexsbcs", 937}, {"ccsid937", 937},
        {"iso-7-german", 1011}, {"646de", 1011},
        {"iso-7-danish", 1017},
        {"pc1046", 1046}, {"arabic-pc", 1046},
        {"8859-6", 1089}, {"latin-arabic", 1089},
        {"east-europe", 1250}, {"cp1250", 1250},
        {"pc-slavic", 1251}, {"cp1251", 1251},
        {"west-europe", 1252}, {"cp1252", 1252},
        {"pc-greek", 1253}, {"cp1253", 1253},
        {"pc-latin5", 1254}, {"cp1254", 1254}, {"pc-turkish", 1254},
        {"pc-hebrew", 1255}, {"cp1255", 1255},
        {"pc-arabic", 1256}, {"cp1256", 1256},
        {"eucjp", 5050},
        {"tchhstexsbcs", 28709}, {"ccsid28709", 28709},
        {"8859-3", 57346}, {"latin-3", 57346},
        {"8859-4", 57347}, {"latin-4", 57347},
        {"unicode", 57349},
        {"sjis", 57350}, {"shift-jis", 57350},
        {"ujis", 57351},
        {"big5", 57352}, {"big-5", 57352},
        {"sbig5", 57353}, {"shift-big-5", 57353},
        {"ccdc", 57354},
        {"cccii", 57355},
        {"ksc", 57356}, {"ks5601", 57356}, {"cp949", 57356},
        {"gb", 57357}, {"gb2312-80", 57357}, {"guobiao2312", 57357},
        {"chngcase", 57358},
        {"banga", 57359},
        {"shift1", 57360},
        {"rot13", 57361},
        {"swap0to9", 57362},
        {"pcwin", 57363},
        {"qacvtest", 57365},
        {"swap09-nl", 57366},
        {"qa-unix-client", 57367},
        {"qa-unix-server", 57368},
        {"qa-win-client", 57369},
        {"mik", 57370},
        {"utf8", 57372},
        {"thai", 57373}, {"thai620", 57373},
        {"sopstw", 57374},
        {"euctw", 57375}, {"cns", 57375},
        {"tst", 57376},
        {"qa-win-950", 57377},
        {"cns-extended", 57378}, {"eucxtw", 57378},
        {"qa-win-932", 57379},
        {"koi-8", 57382},
        {"csk", 57383},
        {"mazovia", 57384}, {"maz", 57384},
        {"roman8", 57385},
        {"qa-win-unicode", 57386},
        {"qa-unix-big5", 57387},
    };
    size_t i = 0;
    for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r, ++i) {
        ASSERT_LT(i, std::size(expected)) << "extra row " << r->name;
        EXPECT_STREQ(r->name, expected[i].name) << "row " << i;
        EXPECT_EQ(r->number, expected[i].number) << expected[i].name;
    }
    EXPECT_EQ(i, std::size(expected));
}

// Lookups against the built-in table (installed by a failed caching).
struct LookupCase {
    const char *name;
    uint16_t number;
    int err;  // error word afterwards (starts at 0)
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
        {"csid933", 933, 0},          // the built-in table's own spelling
        {"819", 819, 0},              // digits rule
        {"00819", 819, 0},
        {"65535", 65535, 0},
        {"0", 0, 0},
        {"65536", kNone, GL_EINVAL},
        {"99999999999999999999", kNone, GL_EINVAL},
        {"57344", kNone, GL_EINVAL},  // the "no code set" value is no answer
        {"81 9", kNone, GL_EINVAL},
        {"no-such-set", kNone, GL_EINVAL},
        {"", kNone, GL_EINVAL},
    };
    for (const LookupCase &c : cases) {
        ErrorWord w;
        EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.name, nullptr), c.number) << c.name;
        EXPECT_EQ(w.err, c.err) << c.name;
    }
    // Only the shipped registry file knows "ccsid933".
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "ccsid933", nullptr), kNone);
    EXPECT_EQ(w.err, GL_EINVAL);
}

TEST_F(RegistryTest, EveryBuiltInNameResolvesInAnyCase) {
    use_builtin_table();
    for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r) {
        std::string upper = r->name;
        for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ErrorWord w;
        EXPECT_EQ(gl_cs_name2cs_num(w.record(), r->name, nullptr), r->number) << r->name;
        EXPECT_EQ(gl_cs_name2cs_num(w.record(), upper.c_str(), nullptr), r->number) << upper;
        EXPECT_EQ(w.err, 0);
    }
}

TEST_F(RegistryTest, NamesOf22CharactersAreRefusedNotCut) {
    // A file entry of 21 characters must not match a longer argument that
    // shares its first 21.
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
        EXPECT_EQ(gl_cs_name2cs_num(w.record(), name_of_length(22).c_str(), file.c_str()), kNone);
        EXPECT_EQ(w.err, GL_EINVAL);
    }
}

TEST_F(RegistryTest, NullNameIsError2AndNullRecordStoresNothing) {
    use_builtin_table();
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), nullptr, nullptr), kNone);
    EXPECT_EQ(w.err, GL_ENULLPTR);
    EXPECT_EQ(gl_cs_name2cs_num(nullptr, "bogus", nullptr), kNone);
    EXPECT_EQ(gl_cs_name2cs_num(nullptr, "utf8", nullptr), 57372);
}

TEST_F(RegistryTest, WithoutRegistryFileCachingStores15AndTheBuiltInTableAnswers) {
    gl_cache_registry(word_.record(), nullptr);  // DOVARIZADIR is an empty tree
    EXPECT_EQ(word_.err, GL_ENOREGISTRY);
    EXPECT_EQ(gls_registry_list_cache, nullptr);
    EXPECT_EQ(gls_registry_array_cache, gls_canned_registry);
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "utf8", nullptr), 0xE01C);
    EXPECT_EQ(w.err, 0);
}

TEST_F(RegistryTest, BeforeCachingThereIsNoBuiltInFallback) {
    ErrorWord w;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "utf8", nullptr), kNone);
    EXPECT_EQ(w.err, GL_ENOREGISTRY);
    w.err = 0;
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "819", nullptr), kNone);  // not even the digits rule
    EXPECT_EQ(w.err, GL_ENOREGISTRY);
}

constexpr char kFixture[] =
    "# a comment line\n"
    "  # an indented comment\n"
    "\n"
    "Alpha 10 anything after the number is ignored\n"
    "beta\t20\n"
    "alpha 11\n"             // the first entry with a name wins
    "g#mma 30 # the # in a name is a name character\n"
    "utf8 57372\n"
    "819 4\n";               // an entry beats the digits rule

struct FileCase {
    const char *name;
    uint16_t number;
    int err;
};

constexpr FileCase kFixtureCases[] = {
    {"alpha", 10, 0}, {"ALPHA", 10, 0}, {"beta", 20, 0}, {"g#mma", 30, 0},
    {"utf8", 57372, 0}, {"819", 4, 0}, {"820", 820, 0}, {"latin-1", kNone, GL_EINVAL},
};

TEST_F(RegistryTest, CachedFileAnswersLikeTheFileReadDirectly) {
    std::string file = dir_.write("reg", kFixture);
    for (bool cached : {false, true}) {
        gl_free_registry_cache();
        if (cached) {
            gl_cache_registry(word_.record(), file.c_str());
            ASSERT_EQ(word_.err, 0);
            ASSERT_NE(gls_registry_list_cache, nullptr);
            EXPECT_EQ(gls_registry_array_cache, nullptr);
        }
        for (const FileCase &c : kFixtureCases) {
            ErrorWord w;
            EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.name, file.c_str()), c.number)
                << c.name << (cached ? " cached" : " read");
            EXPECT_EQ(w.err, c.err) << c.name;
        }
    }
    // The list holds the entries in file order, names lower-cased.
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
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "one", file.c_str()), 2);  // the cache answers
    gl_free_registry_cache();
    EXPECT_EQ(gl_cs_name2cs_num(w.record(), "one", file.c_str()), 3);
    EXPECT_EQ(w.err, 0);
}

// Malformed registry files: caching fails with 11 and leaves the built-in
// table in force; a lookup reading the file reports 11 where it meets the
// fault.
struct BadFile {
    const char *what;
    const char *text;
    const char *lookup;  // a name whose lookup meets the fault
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
        EXPECT_EQ(gl_cs_name2cs_num(w.record(), c.lookup, file.c_str()), kNone) << c.what;
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
        {"a 1 trailing text at end of file", "a", 1},  // no newline after the rest of the line
        {"a\n1\n", "a", 1},                             // white space includes newlines
        {"a 65535\n", "a", 65535},
        {"a 1\n# comment at end of file", "a", 1},
        {"a 1\nname-cut-by-eof", "a", 1},               // a name ending the file is no entry
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
    EXPECT_EQ(gl_cs_name2cs_num(word_.record(), "utf8", file.c_str()), kNone);
    EXPECT_EQ(word_.err, GL_EINVAL);
}

TEST_F(RegistryTest, RegistryIsFoundByTheDataFileSearch) {
    struct Case {
        const char *relative;  // under the tree
        bool via_gl_path;
    };
    const Case cases[] = {
        {"gls/cm3/registry", false},
        {"gls/cm/registry", false},
        {"elsewhere/registry", true},
    };
    for (const Case &c : cases) {
        glstest::TempDir tree;
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

// Allocation failure while caching: error 3, the built-in table, and every
// block made so far given back.
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
            EXPECT_EQ(allocator.calls(), 6);  // a node and a name block per entry
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
