/*
** Byte, string and stored-value primitives: the comparisons and trailing
** blank rules as tables, CHAR and VARCHAR forms with guard bytes (a
** VARCHAR never claims more than its n bytes), the number and float
** forms at odd addresses and against Python's struct module run in a
** child, the float NULL forms, the blob descriptor, the file wrappers and
** the spin lock under contention.
*/
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "gl_locale.h"
#include "locale_env.h"
#include "os_context.h"
#include "os_stored.h"
#include "temp_dir.h"

namespace {

std::string bytes(const void *p, size_t n) { return std::string(static_cast<const char *>(p), n); }

std::string hex(const std::string &s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

/* Output of `python3 -c script`, or "" when the child fails. */
std::string run_python(const std::string &script) {
  const std::string command = "python3 -c '" + script + "'";
  FILE *child = popen(command.c_str(), "r");
  if (child == nullptr) return "";
  std::string out;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, child)) > 0)
    out.append(chunk, got);
  return pclose(child) == 0 ? out : "";
}

/* ---- Strings and bytes ------------------------------------------------------ */

TEST(StoredStrings, StcmprOrdersUnsignedBytesAndShorterFirst) {
  struct row {
    const char *a, *b;
    int expected;
  } rows[] = {
      {"abc", "abd", -1}, {"abd", "abc", 1}, {"ab", "abc", -1}, {"abc", "ab", 1},
      {"abc", "abc", 0},  {"", "", 0},       {"\x80", "z", 1},  {"a\xff", "a\x7f", 1},
  };
  for (const row &r : rows)
    EXPECT_EQ(stcmpr(r.a, r.b), r.expected) << r.a << " vs " << r.b;
}

TEST(StoredStrings, StcmpriComparesThroughTheLowerCaseMap) {
  std::array<unsigned char, sizeof _ix2lowmap> saved;
  std::memcpy(saved.data(), _ix2lowmap, sizeof _ix2lowmap);
  for (unsigned c = 0; c < sizeof _ix2lowmap; ++c) {
    _ix2lowmap[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  _ix2lowmap[0xC9] = 0xE9; /* a Latin-1 pair the fixture adds */
  struct row {
    const char *a, *b;
    int expected;
  } rows[] = {
      /* Raw bytes would order the last three rows the other way. */
      {"ABC", "abc", 0}, {"\xC9t\xC9", "\xE9t\xE9", 0},
      {"Ab", "abc", -1}, {"a", "B", -1},
      {"[", "A", -1},    {"Zz", "zY", 1},
  };
  for (const row &r : rows)
    EXPECT_EQ(stcmpri(r.a, r.b), r.expected) << r.a << " vs " << r.b;
  std::memcpy(_ix2lowmap, saved.data(), sizeof _ix2lowmap);
}

TEST(StoredStrings, CmprstrStopsWhereBothEndOrReachABlank) {
  struct row {
    const char *a, *b;
    int n, expected;
  } rows[] = {
      {"abc def", "abc", 10, 0}, {"abc", "abc def", 10, 0}, {"abcd", "abc", 10, -1},
      {"abcd", "abce", 3, 0},    {"abcd", "abce", 4, -1},   {"x", "y", 0, 0},
      {nullptr, nullptr, 5, 0},  {nullptr, "a", 5, -1},     {"a", nullptr, 5, -1},
      {"a b", "a c", 10, 0},     {"", " ", 3, 0},
  };
  for (const row &r : rows) {
    EXPECT_EQ(cmprstr(r.a, r.b, r.n), r.expected)
        << (r.a ? r.a : "(null)") << " vs " << (r.b ? r.b : "(null)") << " n " << r.n;
  }
}

TEST(StoredStrings, CharcmpPadsTheShorterValueWithBlanks) {
  struct row {
    std::string a, b;
    int expected;
  } rows[] = {
      {"ab", "ab   ", 0}, {"ab", "ab  c", -1}, {"ab", "ab\t", 1},
      {"ab  c", "ab", 1}, {"ab\t", "ab", -1},  {"ab", "ac   ", -1},
      {"b", "a\xff", 1},  {"", "  ", 0},       {"a\x80", "a ", 1},
  };
  for (const row &r : rows) {
    EXPECT_EQ(
        charcmp(r.a.data(), static_cast<int>(r.a.size()), r.b.data(), static_cast<int>(r.b.size())),
        r.expected)
        << "'" << r.a << "' vs '" << r.b << "'";
  }
}

TEST(StoredStrings, TrailingBlanksAndLengths) {
  EXPECT_EQ(dvz_byleng("     ", 5), 0);
  EXPECT_EQ(dvz_byleng("a b  ", 5), 3);
  EXPECT_EQ(dvz_byleng("a b  xyz", 5), 3); /* only the first n count */
  EXPECT_EQ(dvz_byleng("a\t", 2), 2);
  EXPECT_EQ(dvz_byleng("abc", 0), 0);
  EXPECT_EQ(dvz_byleng("abc", -4), 0);

  struct trim_row {
    const char *text;
    int n;
    const char *expected;
  } trims[] = {
      {"ab  ", -1, "ab"}, {"ab  cd  ", 4, "ab"}, {"ab  cd  ", 6, "ab  cd"},
      {"    ", -1, ""},   {"abc", 10, "abc"},    {"a\t ", -1, "a\t"},
  };
  for (const trim_row &t : trims) {
    char buffer[16];
    std::strcpy(buffer, t.text);
    _sttrmrt(buffer, t.n);
    EXPECT_STREQ(buffer, t.expected) << "'" << t.text << "' n " << t.n;
  }

  EXPECT_EQ(stnleng("abcdef", 4), 4);
  EXPECT_EQ(stnleng("ab", 4), 2);
  EXPECT_EQ(stnleng("ab", -1), 0);
}

TEST(StoredStrings, StchrComparesBytesAndNeverFindsTheTerminator) {
  const char *text = "caf\xe9!";
  EXPECT_EQ(stchr(text, static_cast<char>(0xe9)), text + 3);
  EXPECT_EQ(stchr(text, '!'), text + 4);
  EXPECT_EQ(stchr(text, 'x'), nullptr);
  EXPECT_EQ(stchr(text, '\0'), nullptr);
}

TEST(StoredStrings, ByteRangesCompareFillAndCopyOverlapping) {
  EXPECT_EQ(bycmpr("ab\x80", "ab\x7f", 3), 1);
  EXPECT_EQ(bycmpr("ab\x7f", "ab\x80", 3), -1);
  EXPECT_EQ(bycmpr("abX", "abY", 2), 0);
  EXPECT_EQ(bycmpr("a", "b", 0), 0);
  EXPECT_EQ(bycmpr("a", "b", -3), 0);

  char buffer[] = "abcdefgh";
  bycopy(buffer, buffer + 2, 5); /* forward overlap */
  EXPECT_STREQ(buffer, "ababcdeh");
  bylcopy(buffer + 2, buffer, 5); /* backward overlap */
  EXPECT_STREQ(buffer, "abcdedeh");
  byfill(buffer + 1, 3, 'z');
  EXPECT_STREQ(buffer, "azzzedeh");
  byfill(buffer, 0, 'q');
  EXPECT_EQ(buffer[0], 'a');

  EXPECT_EQ(_gIsRangeFilled("\xff\xff\xff", 3, 0xff), 1);
  EXPECT_EQ(_gIsRangeFilled("\xff\xfe\xff", 3, 0xff), 0);
  EXPECT_EQ(_gIsRangeFilled("", 0, 'x'), 1);
}

/* byleng follows the current locale: byte blanks in a single-byte one; in
** UTF-8, blank characters that are not control characters (so a
** trailing tab stays), and an invalid sequence ends the walk. */
TEST(StoredStrings, BylengCutsTrailingBlankCharactersOfTheLocale) {
  {
    oslib_test::CurrentLocale none(nullptr);
    EXPECT_EQ(byleng("x\xe3\x80\x80", 4), 4); /* no locale: bytes */
    EXPECT_EQ(byleng("ab  ", 4), 2);
  }

  gl_locale *utf8 = nullptr;
  const std::string lc11 = std::string(DVZ_BUILD_DOVARIZADIR) + "/gls/lc11";
  ASSERT_EQ(gl_lc_load(&utf8, "en_us/e01c.lco", nullptr, lc11.c_str()), 0);
  ASSERT_GT(gl_mb_loc_max(utf8), 1);
  auto current = std::make_unique<oslib_test::CurrentLocale>(utf8);
  struct row {
    std::string text;
    int expected;
  } rows[] = {
      {"x\xe3\x80\x80", 1}, /* U+3000, a blank */
      {"\xc3\xa9  ", 2},    {"ab \t  ", 4},
      {"     ", 0},         {"a \xff  ", 1}, /* the walk ends at the invalid byte */
      {"a\xe3\x80", 1}, /* a cut character too */
  };
  for (const row &r : rows) {
    EXPECT_EQ(byleng(r.text.data(), static_cast<int>(r.text.size())), r.expected) << hex(r.text);
  }
  current.reset();
  gl_lc_unload(utf8);
}

/* ---- CHAR and VARCHAR forms --------------------------------------------------- */

constexpr char guard = '\x5a';

TEST(StoredForms, CharPadsWithBlanksAndLoadsWithoutThem) {
  char stored[8];
  std::memset(stored, guard, sizeof stored);
  stchar("ab", stored, 5);
  EXPECT_EQ(bytes(stored, 6), "ab   \x5a");
  stchar("abcdefg", stored, 5); /* cut to n */
  EXPECT_EQ(bytes(stored, 6), "abcde\x5a");
  stchar(nullptr, stored, 5);
  EXPECT_EQ(bytes(stored, 6), "     \x5a");

  char loaded[8];
  ldchar("ab c  ", 6, loaded);
  EXPECT_STREQ(loaded, "ab c");
  ldchar("      ", 6, loaded);
  EXPECT_STREQ(loaded, "");
}

/* The length byte never exceeds n or 255, and nothing is written past
** the 1 + n bytes of the form. */
TEST(StoredForms, VarcharLengthIsBoundByNAnd255) {
  struct row {
    std::string text;
    int n;
    int length_byte;
  } rows[] = {
      {"hello", 10, 5},
      {"hello", 3, 3},
      {std::string(300, 'x'), 255, 255},
      {std::string(300, 'x'), 280, 255},
      {std::string(256, 'y'), 256, 255},
      {"", 4, 0},
  };
  for (const row &r : rows) {
    std::vector<char> stored(static_cast<size_t>(r.n) + 2, guard);
    stvarchar(r.text.c_str(), stored.data(), r.n);
    const size_t length = static_cast<unsigned char>(stored[0]);
    EXPECT_EQ(static_cast<int>(length), r.length_byte) << r.text.size() << " into " << r.n;
    EXPECT_EQ(bytes(stored.data() + 1, length), r.text.substr(0, length));
    EXPECT_EQ(bytes(stored.data() + 1 + length, r.n - length), std::string(r.n - length, ' '));
    EXPECT_EQ(stored[r.n + 1], guard) << "written past the form";

    std::vector<char> loaded(static_cast<size_t>(r.n) + 1);
    EXPECT_EQ(ldvarchar(stored.data(), r.n, loaded.data()), r.length_byte);
    EXPECT_EQ(std::string(loaded.data()), r.text.substr(0, length));
  }
}

TEST(StoredForms, NullVarcharAndShortLoads) {
  char stored[4] = {guard, guard, guard, guard};
  stvarchar(nullptr, stored, 3);
  EXPECT_EQ(bytes(stored, 3), std::string("\x01\x00\x5a", 3));

  char loaded[4] = {guard, guard, guard, guard};
  EXPECT_EQ(ldvarchar(stored, 3, loaded), 1);
  EXPECT_EQ(bytes(loaded, 3), std::string("\0\0\x5a", 3));

  const char form[] = "\x05hello";
  EXPECT_EQ(ldvarchar(form, 2, loaded), 2); /* min(length byte, n) */
  EXPECT_STREQ(loaded, "he");
}

/* ---- Numbers and floats --------------------------------------------------------- */

TEST(StoredNumbers, RoundTripAtEveryAlignment) {
  alignas(8) unsigned char area[24];
  for (size_t at = 0; at < 8; ++at) {
    unsigned char *p = area + at;
    EXPECT_EQ(stlong(-123456789, p), 0);
    EXPECT_EQ(ldlong(p), -123456789) << at;
    stshort(-2, p);
    EXPECT_EQ(bytes(p, 2), "\xff\xfe") << at;
    stdbl(-2.5e300, p);
    EXPECT_EQ(lddbl(p), -2.5e300) << at;
    stfloat(0.15625, p);
    EXPECT_EQ(ldfloat(p), 0.15625) << at;
    network_stdbl(1.0 / 3.0, p, 1);
    EXPECT_EQ(network_lddbl(p, 0), 1.0 / 3.0) << at;
  }
  const unsigned char min_form[] = {0x80, 0, 0, 0};
  EXPECT_EQ(ldlong(min_form), INT32_MIN);
  const unsigned char max_form[] = {0x7f, 0xff, 0xff, 0xff};
  EXPECT_EQ(ldlong(max_form), INT32_MAX);
}

TEST(StoredNumbers, FormsMatchPythonStruct) {
  struct row {
    const char *pack; /* Python's struct.pack call */
    std::function<std::string()> ours;
  };
  auto at_odd = [](auto store, size_t size) {
    unsigned char area[16] = {};
    store(area + 1);
    return bytes(area + 1, size);
  };
  tblob_desc_t desc = {};
  desc.tb_head[0] = -2;
  desc.tb_head[1] = 0x1234;
  for (int i = 0; i < 7; ++i)
    desc.tb_words[i] = (i % 2 == 0 ? -1 : 1) * (0x01020304 * (i + 1));
  desc.tb_marks[0] = 7;
  desc.tb_marks[1] = -32768;
  desc.tb_marks[2] = 32767;
  desc.tb_flags = TBLOB_NULL;
  for (int i = 0; i < 4; ++i)
    desc.tb_tail[i] = INT32_MIN + i;

  std::vector<row> rows = {
      {"struct.pack(\">i\", 0x01020304)",
       [&] { return at_odd([](void *p) { stlong(0x01020304, p); }, 4); }},
      {"struct.pack(\">i\", -2)", [&] { return at_odd([](void *p) { stlong(-2, p); }, 4); }},
      {"struct.pack(\">h\", -12345)",
       [&] { return at_odd([](void *p) { stshort(-12345, p); }, 2); }},
      {"struct.pack(\">d\", 1.0)", [&] { return at_odd([](void *p) { stdbl(1.0, p); }, 8); }},
      {"struct.pack(\">d\", 1.0)",
       [&] { return at_odd([](void *p) { network_stdbl(1.0, p, 0); }, 8); }},
      {"struct.pack(\">d\", 1.0)",
       [&] { return at_odd([](void *p) { network_stdbl(1.0, p, 1); }, 8); }},
      {"struct.pack(\">d\", -0.1)",
       [&] { return at_odd([](void *p) { network_stdblnull(-0.1, p, 0, 2); }, 8); }},
      {"struct.pack(\">f\", 1.0)", [&] { return at_odd([](void *p) { stfloat(1.0, p); }, 4); }},
      {"struct.pack(\">f\", 0.1)",
       [&] { return at_odd([](void *p) { network_stfloat(0.1, p, 0); }, 4); }},
      {"struct.pack(\">f\", -3.5)",
       [&] { return at_odd([](void *p) { network_stfltnull(-3.5, p, 0, 1); }, 4); }},
      {"struct.pack(\">hh7i4h4i\", -2, 0x1234, *[(1 if i % 2 else -1) * 0x01020304 * (i + 1) "
       "for i in range(7)], 7, -32768, 32767, 1, *[-2**31 + i for i in range(4)])",
       [&] {
         unsigned char out[TBLOB_STORED_SIZE + 1];
         tblobstore(&desc, out + 1);
         return bytes(out + 1, TBLOB_STORED_SIZE);
       }},
  };
  std::string script = "import struct\n";
  for (const row &r : rows)
    script += "print(" + std::string(r.pack) + ".hex())\n";
  const std::string python = run_python(script);
  ASSERT_FALSE(python.empty()) << "python3 failed";
  size_t from = 0;
  for (const row &r : rows) {
    const size_t end = python.find('\n', from);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(hex(r.ours()), python.substr(from, end - from)) << r.pack;
    from = end + 1;
  }
}

TEST(StoredNumbers, FloatLoadsReadBigEndianWhateverTheFlag) {
  const unsigned char one_double[] = {0x3f, 0xf0, 0, 0, 0, 0, 0, 0};
  const unsigned char one_float[] = {0x3f, 0x80, 0, 0};
  for (int flag : {0, 1, 2}) {
    EXPECT_EQ(network_lddbl(one_double, flag), 1.0) << flag;
    EXPECT_EQ(network_ldfloat(one_float, flag), 1.0) << flag;
  }
}

TEST(StoredNumbers, NullFormsAreAllOnes) {
  int16_t isnull = -5;
  const unsigned char null_double[8] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  EXPECT_TRUE(std::isnan(lddblnull(null_double, &isnull)));
  EXPECT_EQ(isnull, 1);
  isnull = -5;
  network_lddblnull(null_double, &isnull, 1);
  EXPECT_EQ(isnull, 1);

  /* One byte off the NULL form is a value. */
  const unsigned char almost[8] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe};
  lddblnull(almost, &isnull);
  EXPECT_EQ(isnull, 0);
  const unsigned char two[8] = {0x40, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(lddblnull(two, &isnull), 2.0);
  EXPECT_EQ(isnull, 0);

  const unsigned char null_float[4] = {0xff, 0xff, 0xff, 0xff};
  isnull = -5;
  EXPECT_TRUE(std::isnan(ldfltnull(null_float, &isnull)));
  EXPECT_EQ(isnull, 1);
  const unsigned char almost_float[4] = {0x7f, 0xff, 0xff, 0xff};
  network_ldfltnull(almost_float, &isnull, 0);
  EXPECT_EQ(isnull, 0);
  const unsigned char half[4] = {0x3f, 0, 0, 0};
  EXPECT_EQ(ldfltnull(half, &isnull), 0.5);
  EXPECT_EQ(isnull, 0);

  unsigned char out[9];
  std::memset(out, 0, sizeof out);
  stdblnull(1.0, out, 1);
  EXPECT_EQ(bytes(out, 9), std::string(8, '\xff') + '\0');
  stdblnull(1.0, out, 0);
  EXPECT_EQ(bytes(out, 2), "\x3f\xf0");
  std::memset(out, 0, sizeof out);
  stfltnull(1.0, out, 3);
  EXPECT_EQ(bytes(out, 5), std::string(4, '\xff') + '\0');
  network_stfltnull(1.0, out, 0, 1);
  EXPECT_EQ(bytes(out, 4), std::string("\x3f\x80\0\0", 4));
}

/* ---- Blob descriptor -------------------------------------------------------------- */

TEST(StoredBlob, StoreThenLoadGivesTheDescriptorBack) {
  tblob_desc_t desc;
  std::memset(&desc, 0, sizeof desc);
  desc.tb_head[0] = 1;
  desc.tb_head[1] = -1;
  for (int i = 0; i < 7; ++i)
    desc.tb_words[i] = 0x11111111 * (i + 1);
  desc.tb_marks[2] = -300;
  desc.tb_flags = 0x21;
  for (int i = 0; i < 4; ++i)
    desc.tb_tail[i] = -1000 * (i + 1);

  unsigned char stored[TBLOB_STORED_SIZE + 2];
  std::memset(stored, 0x5a, sizeof stored);
  tblobstore(&desc, stored + 1);
  EXPECT_EQ(stored[0], 0x5a);
  EXPECT_EQ(stored[TBLOB_STORED_SIZE + 1], 0x5a);
  EXPECT_EQ(bytes(stored + 1 + 38, 2), std::string("\x00\x21", 2)); /* the flag word */

  tblob_desc_t loaded;
  std::memset(&loaded, 0x77, sizeof loaded);
  tblobload(&loaded, stored + 1);
  EXPECT_EQ(std::memcmp(&loaded, &desc, sizeof desc), 0);
}

/* ---- Files and the spin lock -------------------------------------------------------- */

TEST(StoredFiles, WrappersPassArgumentsAndModeThrough) {
  dvz_test::TempDir dir;
  const std::string path = dir.file("data");
  const mode_t old_mask = umask(0);
  const int fd = dvz_open(path.c_str(), O_CREAT | O_RDWR | O_EXCL, 0640);
  umask(old_mask);
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(dvz_write(fd, "hello", 5), 5);
  EXPECT_EQ(dvz_lseek(fd, 1, SEEK_SET), 1);
  char buffer[8] = {};
  EXPECT_EQ(dvz_read(fd, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "ello");
  EXPECT_EQ(dvz_close(fd), 0);
  EXPECT_EQ(dvz_open(dir.file("missing").c_str(), O_RDONLY), -1);

  const int created = dvz_creat(dir.file("new").c_str(), 0600);
  ASSERT_GE(created, 0);
  EXPECT_EQ(dvz_write(created, "x", 1), 1);
  EXPECT_EQ(dvz_close(created), 0);
}

TEST(StoredLock, TakeReleaseAndWaiterMark) {
  ossema_t sema;
  std::memset(&sema, 0x33, sizeof sema);
  EXPECT_EQ(risema(&sema), 0);
  EXPECT_EQ(bytes(&sema, sizeof sema), std::string(8, '\0'));

  EXPECT_EQ(rcpsema(&sema, 42), 1);
  EXPECT_EQ(sema.lock, 0xFF);
  EXPECT_EQ(sema.owner, 42);
  EXPECT_EQ(rcpsema(&sema, 43), 0); /* held: the owner stays */
  EXPECT_EQ(sema.owner, 42);

  sema.waiter = 1;
  EXPECT_EQ(rcvsema(&sema), 1);
  EXPECT_EQ(bytes(&sema, sizeof sema), std::string(8, '\0'));
  EXPECT_EQ(rcpsema(&sema, 7), 1);
  EXPECT_EQ(rcvsema(&sema), 0);
}

TEST(StoredLock, ExcludesConcurrentHolders) {
  ossema_t sema;
  risema(&sema);
  long counter = 0;
  constexpr int rounds = 20000;
  auto worker = [&](int32_t id) {
    for (int i = 0; i < rounds; ++i) {
      while (rcpsema(&sema, id) == 0)
        std::this_thread::yield();
      const long seen = counter;
      counter = seen + 1;
      rcvsema(&sema);
    }
  };
  std::vector<std::thread> threads;
  for (int32_t id = 1; id <= 4; ++id)
    threads.emplace_back(worker, id);
  for (std::thread &t : threads)
    t.join();
  EXPECT_EQ(counter, 4L * rounds);
}

}  // namespace
