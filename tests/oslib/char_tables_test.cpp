/*
** The 8-bit character tables: the built-in classes and case maps against
** the C library's "C" locale, the table look-ups, the once-per-process
** rebuild from DBNLS (against the C library's C.UTF-8 classes, in a child
** of its own since the rebuild happens once), the LC_CTYPE reload and the
** helpers that set the platform's categories from the environment.
*/
#include "os_context.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "child_process.h"
#include "locale_env.h"
#include "os_env.h"

namespace {

/* Sets or unsets variables for its lifetime. */
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<std::pair<const char *, const char *>> values) {
    for (const auto &[name, value] : values) {
      const char *old = std::getenv(name);
      saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
      if (value != nullptr) {
        setenv(name, value, 1);
      } else {
        unsetenv(name);
      }
    }
  }
  ~ScopedEnv() {
    for (const auto &[name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

/* The class bits the tables give byte c when derived from a platform
** locale: the seven classes carry over, and printable means a letter,
** digit, punctuation or a blank (a control character or not). */
unsigned char platform_bits(int c, locale_t loc) {
  unsigned char bits = 0;
  if (isupper_l(c, loc)) bits |= os_ct_upper;
  if (islower_l(c, loc)) bits |= os_ct_lower;
  if (isdigit_l(c, loc)) bits |= os_ct_digit;
  if (isspace_l(c, loc)) bits |= os_ct_space;
  if (ispunct_l(c, loc)) bits |= os_ct_punct;
  if (iscntrl_l(c, loc)) bits |= os_ct_cntrl;
  if (isxdigit_l(c, loc)) bits |= os_ct_xdigit;
  if ((bits & (os_ct_upper | os_ct_lower | os_ct_digit | os_ct_punct)) != 0 || isblank_l(c, loc))
    bits |= os_ct_print;
  return bits;
}

/* Mismatches of the three tables against the C library's locale name,
** reported on stderr; their count. */
int mismatches_against(const char *name) {
  locale_t loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) {
    std::fprintf(stderr, "no C library locale %s\n", name);
    return 1;
  }
  int bad = 0;
  for (int c = 0; c < 256; ++c) {
    const unsigned char want = platform_bits(c, loc);
    const unsigned char lower = static_cast<unsigned char>(tolower_l(c, loc));
    const unsigned char upper = static_cast<unsigned char>(toupper_l(c, loc));
    if (_ixctype[c + 1] != want || _ix2lowmap[c] != lower || _ix2upmap[c] != upper) {
      std::fprintf(stderr,
                   "byte %02x: class %02x want %02x, lower %02x want %02x, upper %02x want %02x\n",
                   c, _ixctype[c + 1], want, _ix2lowmap[c], lower, _ix2upmap[c], upper);
      ++bad;
    }
  }
  if (_ixctype[0] != 0 || _ixctype[257] != 0) ++bad;
  /* The tab, a control character that the C library counts as blank in
  ** every locale, is printable: 0xA8. */
  if (_ixctype['\t' + 1] != 0xA8) {
    std::fprintf(stderr, "tab: class %02x want a8\n", _ixctype['\t' + 1]);
    ++bad;
  }
  freelocale(loc);
  return bad;
}

/* Runs body in a child; the child's exit status is body's result. */
bool child_succeeds(int (*body)()) {
  return glstest::run_in_child(".", [body] { _exit(body() == 0 ? 0 : 1); });
}

TEST(BuiltInTables, AsciiFollowsTheCLocaleWithDigitsNotHexAndOnlySpacePrintable) {
  locale_t c_locale = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  ASSERT_NE(c_locale, static_cast<locale_t>(0));
  for (int c = 0; c < 128; ++c) {
    unsigned char want = platform_bits(c, c_locale) & ~(os_ct_xdigit | os_ct_print);
    if (isxdigit_l(c, c_locale) && isalpha_l(c, c_locale)) want |= os_ct_xdigit;
    if (c == ' ') want |= os_ct_print;
    EXPECT_EQ(_ixctype[c + 1], want) << c;
    EXPECT_EQ(_ix2lowmap[c], tolower_l(c, c_locale)) << c;
    EXPECT_EQ(_ix2upmap[c], toupper_l(c, c_locale)) << c;
  }
  for (int c = 128; c < 256; ++c) {
    EXPECT_EQ(_ixctype[c + 1], c <= 0xAD ? os_ct_lower : os_ct_punct) << c;
    EXPECT_EQ(_ix2lowmap[c], c) << c;
    EXPECT_EQ(_ix2upmap[c], c) << c;
  }
  EXPECT_EQ(_ixctype[0], 0);
  EXPECT_EQ(_ixctype[257], 0);
  freelocale(c_locale);
}

TEST(BuiltInTables, CaseLookupsMapOnlyTheOtherCase) {
  struct row {
    int c;
    bool upper;
    int want;
  };
  const row rows[] = {
      {'A', false, 'a'},
      {'a', false, 'a'},
      {'1', false, '1'},
      {'q', true, 'Q'},
      {'Q', true, 'Q'},
      {'-', true, '-'},
      /* 0xC9 is punctuation: unmapped, given back as a signed byte. */
      {static_cast<char>(0xC9), false, -55},
      /* 0x85 is "lower case": mapped, the map's unsigned byte. */
      {static_cast<char>(0x85), true, 0x85},
  };
  for (const row &r : rows)
    EXPECT_EQ(r.upper ? gtoupper(r.c) : gtolower(r.c), r.want) << r.c;
}

TEST(DbnlsMode, ValueMustBeExactlyOneOrTwo) {
  const std::pair<const char *, int> rows[] = {
      {nullptr, 0}, {"1", 1},  {"2", 2}, {"0", 0},  {"3", 0},
      {" 1", 0},    {"1 ", 0}, {"", 0},  {"12", 0},
  };
  for (const auto &[value, want] : rows) {
    ScopedEnv env {{"DBNLS", value}};
    EXPECT_EQ(DBNLSset(), want) << (value != nullptr ? value : "(unset)");
  }
}

TEST(Rldctype, WithoutDbnlsRestoresTheBuiltInUpperHalfOnce) {
  EXPECT_TRUE(child_succeeds([] {
    unsetenv("DBNLS");
    _ixctype[0x81 + 1] = 0;
    if (rldctype() != 0 || _ixctype[0x81 + 1] != os_ct_lower) return 1;
    _ixctype[0x81 + 1] = 0;
    if (rldctype() != 0 || _ixctype[0x81 + 1] != 0) return 2; /* once only */
    return 0;
  }));
}

/* The rebuild needs the OS context, and so a client locale that
** initialises: CLIENT_LOCALE names a shipped one, whatever LC_CTYPE says. */
TEST(Rldctype, DbnlsWithUtf8CtypeMatchesTheCLibraryForEveryByte) {
  for (const char *mode : {"1", "2"}) {
    ScopedEnv env {{"DBNLS", mode},
                   {"LC_CTYPE", "C.UTF-8"},
                   {"LC_ALL", nullptr},
                   {"CLIENT_LOCALE", "en_US.8859-1"}};
    EXPECT_TRUE(child_succeeds([] {
      if (rldctype() != 0) return 1;
      return mismatches_against("C.UTF-8");
    })) << "DBNLS="
        << mode;
  }
}

TEST(Rldctype, UnknownPlatformLocaleStillRebuildsButFails) {
  ScopedEnv env {{"DBNLS", "1"},
                 {"LC_CTYPE", "xx_NONE.nothing"},
                 {"LC_ALL", nullptr},
                 {"CLIENT_LOCALE", "en_US.8859-1"}};
  EXPECT_TRUE(child_succeeds([] {
    if (rldctype() != -1) return 1;
    return mismatches_against("C"); /* rebuilt from the locale in force */
  }));
}

TEST(Rldnlsctype, ReloadsFromTheNamedLocaleOrReportsWhy) {
  EXPECT_TRUE(child_succeeds([] {
    if (rldnlsctype("xx_NONE.nothing") != -7206) return 1;
    if (rldnlsctype("C.UTF-8") != 0) return 2;
    return mismatches_against("C.UTF-8");
  }));
  EXPECT_TRUE(child_succeeds([] {
    /* No context can be had (its locale does not initialise): the rebuild
    ** fails. */
    ostcb = nullptr;
    oslib_test::forget_locale_initialisation();
    setenv("CLIENT_LOCALE", "xx_NONE.nothing", 1);
    return rldnlsctype("C") == -406 ? 0 : 1;
  }));
}

TEST(PlatformCategories, EachVariableHasItsOwnErrorInOrder) {
  const char *bad = "xx_NONE.nothing";
  struct row {
    const char *collate, *ctype, *monetary, *numeric, *time;
    int want;
  };
  const row rows[] = {
      {"C", "C", "C", "C", "C", 0},     {bad, "C", "C", "C", "C", -7204},
      {"C", bad, "C", "C", "C", -7206}, {"C", "C", bad, "C", "C", -7207},
      {"C", "C", "C", bad, "C", -7208}, {"C", "C", "C", "C", bad, -7209},
      {"C", bad, "C", "C", bad, -7206},
  };
  for (const row &r : rows) {
    ScopedEnv env {{"LC_COLLATE", r.collate}, {"LC_CTYPE", r.ctype}, {"LC_MONETARY", r.monetary},
                   {"LC_NUMERIC", r.numeric}, {"LC_TIME", r.time},   {"LC_ALL", nullptr}};
    EXPECT_EQ(_setallocale(), r.want)
        << r.collate << " " << r.ctype << " " << r.monetary << " " << r.numeric << " " << r.time;
  }
  std::setlocale(LC_ALL, "C");
}

TEST(PlatformCategories, CollationByName) {
  int error = 1;
  EXPECT_EQ(_osetcollate("xx_NONE.nothing", &error), -7204);
  EXPECT_EQ(error, -7204);
  EXPECT_EQ(_osetcollate("C", &error), 0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(_osetcollate("C", nullptr), 0);
}

TEST(PlatformCategories, NlsInitialisationReportsTheModeAndFlagsIt) {
  ASSERT_NE(CheckOsInit(), nullptr);
  {
    ScopedEnv env {{"DBNLS", nullptr}, {"LC_ALL", nullptr}, {"LC_CTYPE", "C"}};
    EXPECT_EQ(_nlsinit(), 0);
    EXPECT_EQ(ostcb->nls_flags & os_nls_from_dbnls, 0);
  }
  {
    ScopedEnv env {{"DBNLS", "1"}, {"LC_ALL", nullptr}, {"LC_TIME", "xx_NONE.nothing"}};
    EXPECT_EQ(_nlsinit(), -7209);
    EXPECT_EQ(ostcb->nls_flags & os_nls_from_dbnls, 0);
  }
  {
    ScopedEnv env {{"DBNLS", "2"}, {"LC_ALL", nullptr}, {"LC_CTYPE", "C"}};
    EXPECT_EQ(_nlsinit(), 2);
    EXPECT_NE(ostcb->nls_flags & os_nls_from_dbnls, 0);
    /* The server side resets the stored database settings as well. */
    EXPECT_EQ(_nlsinit_be(), 2);
    EXPECT_STREQ(Dvz_DBVars.dbnls, "2");
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
