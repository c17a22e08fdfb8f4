/*
** The shipped multibyte locale files (UTF-8, SHIFT_JIS, EUC-JP) character
** by character against the C library's locales compiled from the same
** sources: which byte sequences are characters and how long, the wide form
** of every character, classes, case partners and widths, and string
** conversions there and back.
**
** A character's gl_wchar is its bytes packed; the C library's wide
** character is its Unicode value: the two meet through the bytes (mbrtowc
** and wcrtomb of the peer). The one stated difference: the C library's
** UTF-8 also takes the 4-byte forms above U+10FFFF, which are no
** characters here.
*/
#include "multilevel_internal.h"
#include "shipped_locales_support.h"

#include <wchar.h>
#include <wctype.h>

#include <cstring>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using glstest::peer_decode;
using glstest::PeerChar;

constexpr uint32_t last_scalar = 0x10FFFF;
constexpr int report_limit = 10; /* disagreements listed in a failure */

gl_wchar packed(const unsigned char *bytes, int length) {
  gl_wchar wc = 0;
  for (int i = 0; i < length; ++i)
    wc = (wc << 8) | bytes[i];
  return wc;
}

std::string hex(const unsigned char *bytes, int length) {
  std::string text;
  char digits[4];
  for (int i = 0; i < length; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    text += digits;
  }
  return text;
}

/* The first few disagreements of a sweep, and how many there were. */
struct Disagreements {
  long count = 0;
  std::vector<std::string> first;
  void add(const std::string &what) {
    if (++count <= report_limit) first.push_back(what);
  }
  std::string text() const {
    std::string all = std::to_string(count) + " disagreements:";
    for (const std::string &w : first)
      all += "\n  " + w;
    return all;
  }
};

/* One character of the loaded file's table. */
struct Char {
  unsigned char bytes[4];
  int length;
  gl_wchar wc;
};

std::vector<Char> table_characters(const gl_locale *r) {
  std::vector<Char> chars;
  glslib::multi::for_each_character(
      r->ctype_table, [&](const unsigned char *bytes, int length, const unsigned char *) {
        Char c {};
        std::memcpy(c.bytes, bytes, length);
        c.length = length;
        c.wc = packed(bytes, length);
        chars.push_back(c);
        return true;
      });
  return chars;
}

class ShippedMultibyteLocale : public shipped::ShippedFixture {
 protected:
  bool is_utf8() const { return std::strcmp(GetParam().charmap, "UTF-8") == 0; }
  /* The longest sequence swept in full: 3 bytes where characters are 3
  ** bytes long or longer (UTF-8, EUC-JP), else 2. */
  int full_sweep_length() const { return _gl_multi_max_length(r->ctype_table) >= 3 ? 3 : 2; }

  /* The byte strings that begin a character of the peer (up to U+10FFFF)
  ** without being one: mbrtowc's prefix tree walked to 4 bytes. */
  std::unordered_set<std::string> peer_prefixes() {
    std::unordered_set<std::string> prefixes;
    unsigned char bytes[4];
    auto walk = [&](auto &self, int depth) -> bool {
      bool any = false;
      for (int b = 0; b < 256; ++b) {
        bytes[depth] = static_cast<unsigned char>(b);
        const PeerChar c = peer_decode(peer, bytes, depth + 1);
        if (c.length == -2 && depth + 1 < 4) {
          if (self(self, depth + 1)) {
            prefixes.emplace(reinterpret_cast<const char *>(bytes), depth + 1);
            any = true;
          }
        } else if (c.length >= 0 && c.ucs <= last_scalar) {
          any = true;
        }
      }
      return any;
    };
    walk(walk, 0);
    return prefixes;
  }

  /* Ours and the peer on the n bytes at s: the same length for a character
  ** (the null character is one byte here, 0 for mbrlen), error 1 for what
  ** the peer refuses or takes only above U+10FFFF, error 7 for the start
  ** of a character cut off by n. */
  void compare(const unsigned char *s, int n, const std::unordered_set<std::string> &prefixes,
               Disagreements &out) {
    const PeerChar c = peer_decode(peer, s, static_cast<std::size_t>(n));
    int expected_length = -1;
    int expected_error = GL_EILSEQ;
    if (c.length >= 0 && c.ucs <= last_scalar) {
      expected_length = c.length == 0 ? 1 : c.length;
      expected_error = 0;
    } else if (c.length == -2 &&
               prefixes.count(std::string(reinterpret_cast<const char *>(s), n)) != 0) {
      expected_error = GL_EINVAL;
    }
    r->error = 0;
    const int length = _dvz_gl_full_mblen(r.get(), s, n);
    const int error = length < 0 ? r->error : 0;
    if (length != expected_length || error != expected_error) {
      out.add(hex(s, n) + ": ours " + std::to_string(length) + " error " + std::to_string(error) +
              ", mbrlen " + std::to_string(c.length) + " U+" + std::to_string(c.ucs));
    }
  }
};

TEST_P(ShippedMultibyteLocale, ValidityAndLengthAgreeWithMbrlen) {
  const std::unordered_set<std::string> prefixes = peer_prefixes();
  Disagreements found;
  unsigned char s[4] = {};
  const int sweep = full_sweep_length();
  for (int length = 1; length <= sweep; ++length) {
    const uint32_t count = 1u << (8 * length);
    for (uint32_t v = 0; v < count; ++v) {
      for (int i = 0; i < length; ++i)
        s[i] = static_cast<unsigned char>(v >> (8 * (length - 1 - i)));
      compare(s, length, prefixes, found);
    }
  }
  if (is_utf8()) {
    /* 4-byte sequences: random lead and continuation bytes (mostly the
    ** range that makes characters), and every 97th value from U+10000 to
    ** U+10FFFF, whose forms must be characters on both sides. */
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> any_byte(0, 255), lead(0xF0, 0xF7), tail(0x80, 0xBF);
    for (int i = 0; i < 1000000; ++i) {
      s[0] = static_cast<unsigned char>(i % 8 == 0 ? any_byte(random) : lead(random));
      for (int k = 1; k < 4; ++k)
        s[k] = static_cast<unsigned char>(i % 5 == 0 ? any_byte(random) : tail(random));
      compare(s, 4, prefixes, found);
    }
    long characters = 0;
    for (uint32_t u = 0x10000; u <= last_scalar; u += 97) {
      const unsigned char form[4] = {static_cast<unsigned char>(0xF0 | (u >> 18)),
                                     static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F)),
                                     static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F)),
                                     static_cast<unsigned char>(0x80 | (u & 0x3F))};
      compare(form, 4, prefixes, found);
      characters += _dvz_gl_full_mblen(r.get(), form, 4) == 4 ? 1 : 0;
    }
    EXPECT_EQ(characters, (last_scalar - 0x10000) / 97 + 1);
    /* The stated difference: the C library takes this, we do not. */
    const unsigned char above[4] = {0xF4, 0x90, 0x80, 0x80};
    EXPECT_EQ(peer_decode(peer, above, 4).length, 4);
    r->error = 0;
    EXPECT_EQ(_dvz_gl_full_mblen(r.get(), above, 4), -1);
    EXPECT_EQ(r->error, GL_EILSEQ);
  }
  EXPECT_EQ(found.count, 0) << found.text();
}

/* Every character of the table: encoding its gl_wchar writes its bytes,
** decoding them gives the gl_wchar back, and the peer reads the same
** bytes as one character of the same length. */
TEST_P(ShippedMultibyteLocale, WctombRoundTripsEveryCharacter) {
  const std::vector<Char> chars = table_characters(r.get());
  Disagreements found;
  for (const Char &c : chars) {
    unsigned char out[4] = {};
    gl_wchar back = 0;
    const int written = gl_full_wctomb(r.get(), out, c.wc);
    const int read = _dvz_gl_full_mbtowc(r.get(), &back, c.bytes, c.length);
    const PeerChar p = peer_decode(peer, c.bytes, static_cast<std::size_t>(c.length));
    const int peer_length = p.length == 0 ? 1 : p.length;
    const int read_length = read == 0 && c.wc == 0 ? 1 : read;
    if (written != c.length || std::memcmp(out, c.bytes, c.length) != 0 ||
        read_length != c.length || back != c.wc || peer_length != c.length || p.ucs > last_scalar) {
      found.add(hex(c.bytes, c.length) + ": wctomb " + std::to_string(written) + " mbtowc " +
                std::to_string(read) + " peer " + std::to_string(p.length));
    }
  }
  EXPECT_EQ(found.count, 0) << found.text();
  if (is_utf8()) {
    EXPECT_EQ(chars.size(), 0x110000u - 0x800u); /* every scalar value */
  }
}

/* The C library's class bits of a wide character. */
int peer_classes(wint_t wc, locale_t loc) {
  struct Bit {
    int (*test)(wint_t, locale_t);
    int bit;
  };
  static constexpr Bit bits[] = {
      {iswupper_l, GL_CLASS_UPPER},   {iswlower_l, GL_CLASS_LOWER}, {iswalpha_l, GL_CLASS_ALPHA},
      {iswdigit_l, GL_CLASS_DIGIT},   {iswspace_l, GL_CLASS_SPACE}, {iswcntrl_l, GL_CLASS_CNTRL},
      {iswpunct_l, GL_CLASS_PUNCT},   {iswgraph_l, GL_CLASS_GRAPH}, {iswprint_l, GL_CLASS_PRINT},
      {iswxdigit_l, GL_CLASS_XDIGIT}, {iswblank_l, GL_CLASS_BLANK}};
  int mask = 0;
  for (const Bit &b : bits) {
    if (b.test(wc, loc) != 0) mask |= b.bit;
  }
  return mask;
}

/* Every character: its classes as isw*_l gives them, "full_width" exactly
** for the printable characters of wcwidth 2, widths 1 and 2 as wcwidth
** (its 0 is 1 here), and the case partners of towupper_l and towlower_l
** where the partner is a character of the code set (else itself). */
TEST_P(ShippedMultibyteLocale, ClassesCaseAndWidthsAgreeWithTheCLibrary) {
  const int standard = (GL_CLASS_BLANK << 1) - 1;
  const int full_width = gl_ctype(r.get(), "full_width");
  ASSERT_NE(full_width, 0);
  EXPECT_EQ(full_width & standard, 0);
  locale_t previous = uselocale(peer);
  Disagreements found;
  /* The bytes of the partner the peer gives, when they come back as it. */
  auto partner = [&](const Char &c, uint32_t ucs) {
    unsigned char bytes[8];
    const int length = glstest::peer_encode(peer, ucs, bytes);
    if (length < 1 || length > 4) return c.wc;
    const PeerChar back = peer_decode(peer, bytes, static_cast<std::size_t>(length));
    return back.length == length && back.ucs == ucs ? packed(bytes, length) : c.wc;
  };
  for (const Char &c : table_characters(r.get())) {
    if (c.wc == 0) continue;
    const PeerChar p = peer_decode(peer, c.bytes, static_cast<std::size_t>(c.length));
    const auto ucs = static_cast<wint_t>(p.ucs);
    const int classes = peer_classes(ucs, peer);
    const bool printable = (classes & GL_CLASS_PRINT) != 0;
    const int peer_width = wcwidth(static_cast<wchar_t>(ucs));
    const int width = !printable ? -1 : peer_width == 2 ? 2 : 1;
    const int mask = _gl_im_iswctype(r.get(), c.wc, 0xFFFF);
    const bool wide = (mask & full_width) != 0;
    const gl_wchar upper = partner(c, towupper_l(ucs, peer));
    const gl_wchar lower = partner(c, towlower_l(ucs, peer));
    unsigned char out[4] = {};
    const int mapped = _gl_im_tomupper(r.get(), out, c.bytes);
    const int written = mapped & 0xFF;
    const bool bytes_ok = (mapped >> 8) == c.length && packed(out, written) == upper;
    const int mb_width = gl_mbwidth(r.get(), c.bytes);
    const int expected_mb_width = printable ? width : c.length == 1 ? 1 : -1;
    if ((mask & standard) != classes || wide != (printable && peer_width == 2) ||
        gl_wcwidth(r.get(), c.wc) != width || mb_width != expected_mb_width ||
        _gl_im_towupper(r.get(), c.wc) != upper || _gl_im_towlower(r.get(), c.wc) != lower ||
        !bytes_ok) {
      found.add(hex(c.bytes, c.length) + " U+" + std::to_string(p.ucs) + ": classes " +
                std::to_string(mask) + " peer " + std::to_string(classes) + ", width " +
                std::to_string(gl_wcwidth(r.get(), c.wc)) + " peer " + std::to_string(peer_width) +
                ", upper " + std::to_string(_gl_im_towupper(r.get(), c.wc)) + " expected " +
                std::to_string(upper));
    }
  }
  uselocale(previous);
  EXPECT_EQ(found.count, 0) << found.text();
}

/* COLLATE: every character of the code set has a row of the weight
** tables. The Japanese files order by code: every character in row 0,
** whose one forward weight 2 has bit 15 set (ties go by code); the UTF-8
** file has the C library's weights on three passes. */
TEST_P(ShippedMultibyteLocale, CollateGivesEveryCharacterARow) {
  const bool code_order = std::string(GetParam().file) != "en_us/e01c.lco";
  EXPECT_EQ(r->coll_kind, 1);
  if (code_order) {
    EXPECT_EQ(r->codeset_order_word, 1);
    EXPECT_EQ(r->codeset_order, 1);
    EXPECT_EQ(r->highest_row, 0);
    ASSERT_EQ(r->pass_count, 1);
    EXPECT_EQ(r->pass_flags[0], 1);
    EXPECT_EQ(r->highest_weight, 2u);
    ASSERT_NE(r->weights[0], nullptr);
    EXPECT_EQ(r->weights[0][0], 0x8002);
    EXPECT_EQ(r->element_count, 0);
    EXPECT_EQ(r->expansion_count, 0);
  } else {
    EXPECT_EQ(r->codeset_order, 0);
    ASSERT_EQ(r->pass_count, 3);
  }
  long missing = 0;
  long counted = 0;
  glslib::multi::for_each_character(
      r->coll_table, [&](const unsigned char *, int, const unsigned char *entry) {
        ++counted;
        const int row = glslib::multi::entry_u16(r->coll_table, entry);
        missing += (code_order ? row != 0 : row > r->highest_row) ? 1 : 0;
        return true;
      });
  for (const Char &c : table_characters(r.get())) {
    int length = 0;
    const void *row = _gl_retrieve_text_multi(c.bytes, r->coll_table, &length, r.get());
    if (row == nullptr || length != c.length) ++missing;
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(counted, static_cast<long>(table_characters(r.get()).size()));
}

/* Random strings of the code set's characters (each length of character
** as likely as any other): to wide and back gives the same bytes, in the
** terminated and the counted forms, and the wide characters are the
** characters the peer reads. */
TEST_P(ShippedMultibyteLocale, RandomStringsRoundTripThroughWide) {
  std::vector<std::vector<Char>> by_length(5);
  for (const Char &c : table_characters(r.get())) {
    if (c.wc != 0) by_length[c.length].push_back(c);
  }
  std::vector<int> lengths;
  for (int n = 1; n <= 4; ++n) {
    if (!by_length[n].empty()) lengths.push_back(n);
  }
  std::mt19937 random(1211);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const int count = static_cast<int>(random() % 64);
    std::vector<unsigned char> text;
    std::vector<gl_wchar> expected;
    std::vector<uint32_t> peer_chars;
    for (int i = 0; i < count; ++i) {
      const auto &pool = by_length[lengths[random() % lengths.size()]];
      const Char &c = pool[random() % pool.size()];
      text.insert(text.end(), c.bytes, c.bytes + c.length);
      expected.push_back(c.wc);
      peer_chars.push_back(peer_decode(peer, c.bytes, static_cast<std::size_t>(c.length)).ucs);
    }
    const int nbytes = static_cast<int>(text.size());
    text.push_back(0);

    std::vector<gl_wchar> wide(count + 1, 0xFFFFFFFF);
    ASSERT_EQ(r->mbstowcs_fn(r.get(), wide.data(), text.data(), count + 1), count);
    EXPECT_EQ(wide[count], 0u);
    wide.pop_back();
    EXPECT_EQ(wide, expected);
    EXPECT_EQ(_gl_im_mbslen(r.get(), text.data()), count);

    std::vector<gl_wchar> terminated = expected;
    terminated.push_back(0);
    std::vector<unsigned char> back(text.size() + 8, 0xEE);
    ASSERT_EQ(gl_full_wcstombs(r.get(), back.data(), terminated.data(), nbytes + 1), nbytes);
    EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + nbytes + 1), text);

    std::vector<gl_wchar> counted(count + 1, 0xFFFFFFFF);
    EXPECT_EQ(r->mbfstowcfs_fn(r.get(), counted.data(), text.data(), nbytes, count + 1), count);
    EXPECT_EQ(counted[count], 0xFFFFFFFFu); /* no 0 after a counted string */
    std::vector<unsigned char> counted_back(text.size() + 8, 0xEE);
    EXPECT_EQ(_dvz_gl_full_wcstombs(r.get(), counted_back.data(), terminated.data(), count, nbytes),
              nbytes);
    EXPECT_EQ(std::vector<unsigned char>(counted_back.begin(), counted_back.begin() + nbytes),
              std::vector<unsigned char>(text.begin(), text.begin() + nbytes));

    /* The peer cuts the text into the same characters. */
    std::vector<wchar_t> peer_wide(count + 1);
    locale_t previous = uselocale(peer);
    const char *from = reinterpret_cast<const char *>(text.data());
    std::mbstate_t state {};
    const std::size_t n = mbsrtowcs(peer_wide.data(), &from, count + 1, &state);
    uselocale(previous);
    ASSERT_EQ(n, static_cast<std::size_t>(count));
    EXPECT_EQ(std::vector<uint32_t>(peer_wide.begin(), peer_wide.begin() + count), peer_chars);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedMultibyteLocale,
                         ::testing::ValuesIn(shipped::multibyte_files),
                         [](const auto &info) { return shipped::name_of(info.param); });

}  // namespace
