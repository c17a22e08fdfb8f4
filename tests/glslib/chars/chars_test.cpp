// The character layer on toy code sets and on the shipped single-byte
// locale: decoding and encoding, string conversions, lengths, stepping,
// classes, case, trailing blanks and display width; the name-lookup trees
// and the calendar table.
#include "gl_calendar.h"
#include "gl_chars.h"
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using lcotest::key;
using lcotest::LocalePtr;
using Bytes = std::vector<unsigned char>;
using Wide = std::vector<gl_wchar>;

const unsigned char *u(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

Wide wide(std::initializer_list<gl_wchar> values) {
    Wide w(values);
    w.push_back(0);
    return w;
}

Wide wide(const char *s) {
    Wide w;
    for (; *s != 0; ++s) w.push_back(static_cast<unsigned char>(*s));
    w.push_back(0);
    return w;
}

// A code set whose characters are all two bytes (see lco_builder), with
// one full-width character 30 42 and the class "full_width".
lcotest::CtypeToy two_byte_toy(const std::string &after_pairs = "") {
    lcotest::CtypeToy t = lcotest::two_byte_ctype();
    t.classes[key({0x30, 0x42})] = 4 | 128 | 256 | 2048;
    t.named = {{0, "full_width"}};
    t.after_pairs = after_pairs;
    return t;
}

// Loads a CTYPE-only file into a new record; the error word is cleared
// afterwards (the other categories are null, so the code-set check of the
// load leaves 12 there).
LocalePtr load_ctype(lcotest::Scene &scene, const lcotest::CtypeToy &ctype) {
    lcotest::Lco file;
    file.header = lcotest::header_text();
    file.ctype = ctype.text();
    scene.write("toy.lco", file);
    LocalePtr r = lcotest::new_record();
    EXPECT_EQ(lcotest::load(r.get(), GL_CTYPE, "toy.lco"), "toy.lco");
    r->error = 0;
    return r;
}

class TwoByteCharacters : public ::testing::Test {
protected:
    lcotest::Scene scene;
    LocalePtr r = load_ctype(scene, two_byte_toy());
    int err() const { return r->error; }
};

TEST_F(TwoByteCharacters, IsMultibyteWithTwoByteTerminator) {
    EXPECT_EQ(r->single_byte, 0);
    EXPECT_EQ(r->class_map, nullptr);
    EXPECT_EQ(r->mbstowcs_fn, &_gl_im_mbstowcs);
    EXPECT_EQ(r->mbfstowcfs_fn, &_dvz_gl_im_mbfstowcfs);

    unsigned char buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(gl_mbsterm(r.get(), buf), 2);
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0, 0, 9, 9}));
    EXPECT_EQ(gl_ismbsterm(r.get(), buf), 2);
    EXPECT_EQ(gl_ismbsterm(r.get(), u("\0A")), 0);
}

TEST_F(TwoByteCharacters, EncodesValuesWithTheShortestLength) {
    unsigned char out[4] = {9, 9, 9, 9};
    EXPECT_EQ(gl_full_wctomb(r.get(), out, 0x41), 2);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x00, 0x41}));
    EXPECT_EQ(gl_full_wctomb(r.get(), out, 0x3042), 2);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x30, 0x42}));
    EXPECT_EQ(gl_wclen(r.get(), 0x61), 2);

    EXPECT_EQ(gl_full_wctomb(r.get(), out, 0x99), -1);
    EXPECT_EQ(err(), GL_EILSEQ);
    r->error = 0;
    EXPECT_EQ(gl_wclen(r.get(), 0x123456), -1);
    EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, DecodesCharacters) {
    struct Case {
        const char *bytes;
        int n;
        int mblen;      // gl_full_mblen
        int dvz_mblen;  // _dvz_gl_full_mblen
        int error;      // after gl_full_mblen
    };
    const Case cases[] = {
        {"\0A", 2, 2, 2, 0},
        {"\0\0", 2, 0, 2, 0},           // the null character
        {"\0A", 1, -1, -1, GL_EINVAL},  // cut off by the limit
        {"\0A", 0, -1, -1, GL_EINVAL},  // limit below 1
        {"\x07\0", 2, -1, -1, GL_EILSEQ},
        {"\0\x07", 2, -1, -1, GL_EILSEQ},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "n=" << c.n << " bytes " << int(c.bytes[0]) << "," << int(c.bytes[1]));
        r->error = 0;
        EXPECT_EQ(gl_full_mblen(r.get(), u(c.bytes), c.n), c.mblen);
        EXPECT_EQ(err(), c.error);
        EXPECT_EQ(_dvz_gl_full_mblen(r.get(), u(c.bytes), c.n), c.dvz_mblen);
    }
    EXPECT_EQ(gl_full_mblen(r.get(), nullptr, 2), 0);

    gl_wchar wc = 0;
    r->error = 0;
    EXPECT_EQ(gl_full_mbtowc(r.get(), &wc, u("\0a"), 4), 2);
    EXPECT_EQ(wc, 0x61u);
    EXPECT_EQ(gl_full_mbtowc(r.get(), &wc, u("\0\0"), 4), 0);
    EXPECT_EQ(gl_full_mbtowc(r.get(), &wc, u("\0a"), -1), -1);
    EXPECT_EQ(err(), GL_EINVAL);
    // The worker takes -1 as the length of the terminated string.
    r->error = 0;
    EXPECT_EQ(_dvz_gl_full_mbtowc(r.get(), &wc, u("\x30\x42\0\0"), -1), 2);
    EXPECT_EQ(wc, 0x3042u);
    EXPECT_EQ(_dvz_gl_full_mbtowc(r.get(), &wc, u("\0\0"), -1), -1);
    EXPECT_EQ(err(), GL_EINVAL);
    r->error = 0;
    EXPECT_EQ(_dvz_gl_full_mbtowc(r.get(), &wc, u("\x07\x07\0\0"), -1), -1);
    EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, CountsBytesAndCharacters) {
    EXPECT_EQ(gl_mbsbytes(r.get(), u("\0\0")), 2);  // empty: the terminator only
    EXPECT_EQ(gl_mbsbytes(r.get(), u("\0A\0a\0\0")), 6);
    EXPECT_EQ(gl_mbsbytes(r.get(), u("\0A\x07\x07\0\0")), 0);
    EXPECT_EQ(gl_mbsbytes(r.get(), nullptr), 0);
    EXPECT_EQ(_gl_im_mbslen(r.get(), u("\0A\0a\0\0")), 2);
    EXPECT_EQ(_gl_im_mbslen(r.get(), u("\0A\x07\x07\0\0")), -1);

    EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A\0\0\0a"), 6), 3);  // an inner null is one character
    EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A\0a\0\0"), -1), 2);
    EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A"), 0), 0);
    r->error = 0;
    EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A\0a"), 3), -1);  // the last one runs past the end
    EXPECT_EQ(err(), GL_EILSEQ);
    r->error = 0;
    EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A"), -2), -1);
    EXPECT_EQ(err(), GL_EILSEQ);

    EXPECT_EQ(gl_wcslen(wide({0x41, 0x3042}).data()), 2);
    EXPECT_EQ(gl_wcsbytes(wide({0x41, 0x3042}).data()), 12);
}

TEST_F(TwoByteCharacters, ConvertsBetweenMultibyteAndWide) {
    gl_wchar wcs[8];
    std::fill(std::begin(wcs), std::end(wcs), 0xEEEEu);
    EXPECT_EQ(r->mbstowcs_fn(r.get(), wcs, u("\0A\x30\x42\0\0"), 8), 2);
    EXPECT_EQ(Wide(wcs, wcs + 3), wide({0x41, 0x3042}));
    // Counted input: no terminator is stored.
    std::fill(std::begin(wcs), std::end(wcs), 0xEEEEu);
    EXPECT_EQ(r->mbfstowcfs_fn(r.get(), wcs, u("\0A\0a\0\0"), 4, 8), 2);
    EXPECT_EQ(wcs[2], 0xEEEEu);
    EXPECT_EQ(_dvz_gl_im_mbfstowcfs(r.get(), wcs, u("\0A\0a"), 4, 1), 1);
    EXPECT_EQ(_dvz_gl_im_mbfstowcfs(r.get(), wcs, u("\0A\0a"), 4, 0), 0);
    r->error = 0;
    EXPECT_EQ(_dvz_gl_im_mbfstowcfs(r.get(), wcs, u("\0A\0a"), 3, 8), -1);  // cut off by the end
    EXPECT_EQ(err(), GL_EILSEQ);

    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    Wide text = wide({0x41, 0x61});
    EXPECT_EQ(gl_full_wcstombs(r.get(), out, text.data(), 6), 4);
    EXPECT_EQ(Bytes(out, out + 7), (Bytes{0, 0x41, 0, 0x61, 0, 0, 0xEE}));
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(gl_full_wcstombs(r.get(), out, text.data(), 5), 4);  // no room for the terminator
    EXPECT_EQ(out[4], 0xEE);
    EXPECT_EQ(gl_full_wcstombs(r.get(), out, text.data(), 3), 2);  // stops before a character that passes size
    EXPECT_EQ(_dvz_gl_full_wcstombs(r.get(), out, text.data(), 1, 8), 2);
    r->error = 0;
    Wide bad = wide({0x41, 0x99});
    EXPECT_EQ(gl_full_wcstombs(r.get(), out, bad.data(), 8), -1);
    EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, StepsForwardAndBack) {
    const unsigned char *s = u("\0A\x30\x42\0a\0\0");
    EXPECT_EQ(gl_full_mbsnext(r.get(), s), s + 2);
    EXPECT_EQ(gl_full_mbsnext(r.get(), s + 6), s + 8);  // over the terminator
    EXPECT_EQ(_dvz_gl_full_mbsnext(r.get(), s, 1), nullptr);
    EXPECT_EQ(err(), GL_EINVAL);
    r->error = 0;
    EXPECT_EQ(gl_full_mbsnext(r.get(), u("\x07\x07")), nullptr);
    EXPECT_EQ(err(), GL_EILSEQ);

    EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 4), s + 2);
    EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 2), s);
    EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 3), nullptr);  // pos inside a character
    EXPECT_EQ(err(), GL_EINVAL);
    r->error = 0;
    EXPECT_EQ(gl_full_mbsprev(r.get(), s, s), nullptr);
    EXPECT_EQ(err(), GL_EBADPOS);
}

TEST_F(TwoByteCharacters, TestsClasses) {
    EXPECT_EQ(gl_ctype(r.get(), "alnum"), 12);
    EXPECT_EQ(gl_ctype(r.get(), "upper"), 1);
    EXPECT_EQ(gl_ctype(r.get(), "blank"), 1024);
    EXPECT_EQ(gl_ctype(r.get(), "full_width"), 2048);
    EXPECT_EQ(gl_ctype(r.get(), "kanji"), 0);
    EXPECT_EQ(gl_ctype(r.get(), nullptr), 0);

    EXPECT_EQ(_gl_im_iswctype(r.get(), 0x41, gl_ctype(r.get(), "alnum")), 4);
    EXPECT_EQ(im_iswctype(r.get(), 0x31, 12), 8);
    EXPECT_EQ(_gl_im_ismctype(r.get(), u("\0a"), 2), 2);
    EXPECT_EQ(im_ismctype(r.get(), u("\0a"), 1), 0);
    EXPECT_EQ(err(), 0);
    EXPECT_EQ(_gl_im_iswctype(r.get(), 0x99, 0xFFFF), 0);
    EXPECT_EQ(err(), GL_EILSEQ);
    r->error = 0;
    EXPECT_EQ(_dvz_gl_im_ismctype(r.get(), u("\0a"), 1, 0xFFFF), 0);
    EXPECT_EQ(err(), GL_EINVAL);
    EXPECT_EQ(_dvz_gl_im_ismctype(r.get(), u("\0a"), 2, 0xFFFF), 2 | 4 | 128 | 256);
}

TEST_F(TwoByteCharacters, MapsCase) {
    EXPECT_EQ(_gl_im_towupper(r.get(), 0x61), 0x41u);
    EXPECT_EQ(_gl_im_towlower(r.get(), 0x41), 0x61u);
    EXPECT_EQ(im_towlower(r.get(), 0x61), 0x61u);
    EXPECT_EQ(_gl_im_towupper(r.get(), 0x31), 0x31u);  // no partner
    EXPECT_EQ(_gl_im_towupper(r.get(), 0x99), 0x99u);  // no character

    unsigned char out[4] = {};
    EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\0a")), (2 << 8) | 2);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0, 0x41}));
    EXPECT_EQ(_gl_im_tomlower(r.get(), out, u("\0A")), (2 << 8) | 2);
    EXPECT_EQ(out[1], 0x61);
    EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\0" "1")), (2 << 8) | 2);  // copied unchanged
    EXPECT_EQ(out[1], '1');
    EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\x07\x07")), (1 << 8) | 1);  // the bytes the look-up read
    EXPECT_EQ(out[0], 0x07);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(_dvz_gl_im_tomupper(r.get(), out, u("\0a"), 1), 0);  // cut off: nothing written
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(_dvz_gl_im_tomlower(r.get(), out, u("\0A"), 2), (2 << 8) | 2);

    unsigned char text[16];
    EXPECT_EQ(gl_tombsupper(r.get(), text, u("\0a\0 \0" "1\x30\x42\0\0")), 8);
    EXPECT_EQ(Bytes(text, text + 10), (Bytes{0, 'A', 0, ' ', 0, '1', 0x30, 0x42, 0, 0}));
    EXPECT_EQ(gl_tombslower(r.get(), text, u("\0A\x07\x07\0\0")), -1);
    EXPECT_EQ(err(), GL_EILSEQ);

    gl_wchar wout[8];
    Wide w = wide({0x61, 0x31, 0x41});
    EXPECT_EQ(gl_towcsupper(r.get(), wout, w.data()), 0);
    EXPECT_EQ(Wide(wout, wout + 4), wide({0x41, 0x31, 0x41}));
    EXPECT_EQ(gl_towcslower(r.get(), wout, w.data()), 0);
    EXPECT_EQ(Wide(wout, wout + 4), wide({0x61, 0x31, 0x61}));
    r->error = 0;
    Wide bad = wide({0x61, 0x99});
    EXPECT_EQ(gl_towcsupper(r.get(), wout, bad.data()), -1);
    EXPECT_EQ(err(), GL_EILSEQ);
}

TEST(CaseBufferLength, BufferLengthUsesTheFactorRoundedUp) {
    struct Case {
        const char *after_pairs;
        int factor;
    };
    for (const Case &c : {Case{"", 4}, Case{" 1.5", 2}, Case{" 1", 1}}) {
        lcotest::Scene scene;
        LocalePtr r = load_ctype(scene, two_byte_toy(c.after_pairs));
        EXPECT_EQ(gl_case_conv_outbuflen(r.get(), 10), 10 * c.factor) << "'" << c.after_pairs << "'";
    }
}

// A mixed code set: the terminator and 'a', 'b' of one byte, and the
// four-byte characters e0 80 80 80 and e0 80 80 81. The pair of 'a' is the
// long e0 80 80 80; 'b' is mapped onto a pair of two long characters (each
// as long as the other, but four times as long as 'b').
lcotest::CtypeToy mixed_length_toy(const std::string &after_pairs) {
    lcotest::CtypeToy t;
    t.classes = {{key({0}), 32},
                 {key({'a'}), 2 | 4 | 128 | 256},
                 {key({'b'}), 2 | 4 | 128 | 256},
                 {key({0xe0, 0x80, 0x80, 0x80}), 1 | 4 | 128 | 256},
                 {key({0xe0, 0x80, 0x80, 0x81}), 1 | 4 | 128 | 256}};
    t.case_index = {{key({'a'}), 1}, {key({0xe0, 0x80, 0x80, 0x80}), 1}, {key({'b'}), 2}};
    t.pairs = {{0xe0808080u, 'a'}, {0xe0808081u, 0xe0808080u}};
    t.after_pairs = after_pairs;
    return t;
}

// The multibyte case conversions write into a buffer of
// gl_case_conv_outbuflen bytes: a file whose factor is smaller than what
// its pairs need must not load, while an honest factor works within the
// buffer it sizes.
TEST(CaseBufferLength, PairsLongerThanTheFactorAllowsFailTheCategory) {
    struct Case {
        const char *after_pairs;
        bool loads;
    };
    for (const Case &c : {Case{" 1", false}, Case{" 3.9", false}, Case{" 4", true}, Case{"", true}}) {
        SCOPED_TRACE(std::string("'") + c.after_pairs + "'");
        lcotest::Scene scene;
        lcotest::Lco file;
        file.header = lcotest::header_text();
        file.ctype = mixed_length_toy(c.after_pairs).text();
        scene.write("mixed.lco", file);
        LocalePtr r = lcotest::new_record();
        std::string query = lcotest::load(r.get(), GL_CTYPE, "mixed.lco");
        if (!c.loads) {
            EXPECT_EQ(query, "(null)");
            EXPECT_EQ(r->error, 11);
            continue;
        }
        ASSERT_EQ(query, "mixed.lco");
        ASSERT_EQ(r->class_map, nullptr);  // the case pairs are used, not byte maps
        // Exactly the room the factor promises, on the heap so that a write
        // past it is seen.
        const struct {
            const char *text;
            unsigned char last;  // last byte of the upper-case partner
        } conversions[] = {{"a", 0x80}, {"b", 0x81}};
        for (const auto &v : conversions) {
            const int size = gl_case_conv_outbuflen(r.get(), static_cast<int>(std::strlen(v.text)) + 1);
            std::vector<unsigned char> out(static_cast<std::size_t>(size));
            EXPECT_EQ(gl_tombsupper(r.get(), out.data(), u(v.text)), 4) << v.text;
            EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0xe0, 0x80, 0x80, v.last, 0})) << v.text;
        }
    }
}

TEST_F(TwoByteCharacters, CountsUpToTheLastSignificantCharacter) {
    // "a  " then the terminator: one significant character of two bytes.
    const unsigned char *s = u("\0a\0 \0 \0\0");
    EXPECT_EQ(gl_mbsntslen(r.get(), s), 1);
    EXPECT_EQ(gl_mbsntsbytes(r.get(), s), 2);
    EXPECT_EQ(_dvz_gl_mbsntsbytes(r.get(), u("\0 \0a\0 "), 6), 4);
    EXPECT_EQ(_dvz_gl_mbsntsbytes(r.get(), u("\0 \0 "), 4), 0);
    // A newline is space and control: not blank.
    EXPECT_EQ(gl_mbsntslen(r.get(), u("\0a\0\n\0 \0\0")), 2);
    EXPECT_EQ(_dvz_gl_mbsntsbytes(r.get(), s, -2), -1);
    EXPECT_EQ(err(), GL_EBADARG);
    EXPECT_EQ(gl_mbsntslen(r.get(), nullptr), -1);
    EXPECT_EQ(err(), GL_ENULLPTR);
    r->error = 0;
    EXPECT_EQ(gl_mbsntslen(r.get(), u("\0a\x07\x07\0\0")), -1);
    EXPECT_EQ(err(), GL_EILSEQ);

    // The wide form counts space (not blank) without control.
    EXPECT_EQ(gl_wcsntslen(r.get(), wide({0x61, 0x20, 0x20}).data()), 1);
    EXPECT_EQ(gl_wcsntslen(r.get(), wide({0x20, 0x61, 0x0a, 0x20}).data()), 3);
    EXPECT_EQ(_dvz_gl_wcsntslen(r.get(), wide({0x61, 0x20, 0x61}).data(), 2), 1);
    EXPECT_EQ(_dvz_gl_wcsntslen(r.get(), wide({0x61}).data(), -3), -1);
    EXPECT_EQ(err(), GL_EBADARG);
    r->error = 0;
    EXPECT_EQ(gl_wcsntslen(r.get(), wide({0x61, 0x99}).data()), -1);
    EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, MeasuresWidthWithTheFullWidthClass) {
    EXPECT_EQ(gl_wcwidth(r.get(), 0), 0);
    EXPECT_EQ(gl_wcwidth(r.get(), 0x61), 1);
    EXPECT_EQ(gl_wcwidth(r.get(), 0x3042), 2);
    EXPECT_EQ(gl_wcwidth(r.get(), 0x0a), -1);
    EXPECT_EQ(err(), GL_EINVAL);

    r->error = 0;
    EXPECT_EQ(gl_mbwidth(r.get(), u("\x30\x42")), 2);
    EXPECT_EQ(gl_mbwidth(r.get(), u("\0\0")), 0);
    EXPECT_EQ(gl_mbwidth(r.get(), u("\0\n")), -1);  // non-printable and two bytes long
    EXPECT_EQ(err(), GL_EINVAL);
    EXPECT_EQ(gl_mbwidth(r.get(), nullptr), -1);
    EXPECT_EQ(err(), GL_ENULLPTR);

    Wide w = wide({0x61, 0x3042, 0x61});
    EXPECT_EQ(gl_wcswidth(r.get(), w.data(), 10), 4);
    EXPECT_EQ(gl_wcswidth(r.get(), w.data(), 2), 3);
    EXPECT_EQ(gl_wcswidth(r.get(), w.data(), 0), 0);
    EXPECT_EQ(gl_wcswidth(r.get(), w.data(), -1), -1);
    EXPECT_EQ(err(), GL_ENEGCOUNT);
    EXPECT_EQ(gl_wcspwidth(r.get(), w.data(), w.data() + 2), 3);
    EXPECT_EQ(gl_wcspwidth(r.get(), w.data() + 2, w.data()), -1);
    EXPECT_EQ(err(), GL_EBADPOS);
    EXPECT_EQ(gl_wcswidth(r.get(), wide({0x61, 0x0a}).data(), 5), -1);
    EXPECT_EQ(err(), GL_EINVAL);

    const unsigned char *s = u("\0a\x30\x42\0a\0\0");
    r->error = 0;
    EXPECT_EQ(gl_mbswidth(r.get(), s, 10), 4);
    EXPECT_EQ(gl_mbswidth(r.get(), s, 2), 3);
    EXPECT_EQ(gl_mbspwidth(r.get(), s, s + 4), 3);
    EXPECT_EQ(gl_mbspwidth(r.get(), s, s + 3), 3);  // the character at s + 2 begins before the end
    EXPECT_EQ(gl_mbspwidth(r.get(), s, s), 0);
    EXPECT_EQ(gl_mbswidth(r.get(), u("\0a\0\n\0\0"), 5), -1);
    EXPECT_EQ(err(), GL_EINVAL);
    EXPECT_EQ(gl_mbspwidth(r.get(), u("\0a\x07\x07\0\0"), u("\0a\x07\x07\0\0") + 4), -1);
    EXPECT_EQ(err(), GL_EILSEQ);  // an invalid character leaves error 1
}

// ---- The shipped single-byte locale -----------------------------------

class SingleByteCharacters : public ::testing::Test {
protected:
    void SetUp() override {
        r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
        ASSERT_EQ(lcotest::load(r.get(), GL_ALL, "en_us/0333.lco").find("GL_CTYPE = en_us/0333.lco"), 0u);
        ASSERT_EQ(r->error, 0);
    }
    void TearDown() override { gl_free_registry_cache(); }
    glstest::TableGetenv env;
    LocalePtr r;
};

TEST_F(SingleByteCharacters, UsesTheByteMaps) {
    EXPECT_EQ(r->single_byte, 1);
    ASSERT_NE(r->class_map, nullptr);
    EXPECT_EQ(r->mbstowcs_fn, &_gl_is_mbstowcs);
    EXPECT_EQ(r->mbfstowcfs_fn, &_dvz_gl_is_mbfstowcfs);
    EXPECT_EQ(gl_full_mblen(r.get(), u(""), 4), 0);
    EXPECT_EQ(_dvz_gl_full_mblen(r.get(), u(""), 4), 1);
    EXPECT_EQ(gl_mbsbytes(r.get(), u("")), 1);
    EXPECT_EQ(gl_mbsbytes(r.get(), u("abc")), 4);
    EXPECT_EQ(gl_wclen(r.get(), 0x1234), 1);  // no check in a single-byte locale
    EXPECT_EQ(gl_case_conv_outbuflen(r.get(), 7), 7);
}

TEST_F(SingleByteCharacters, ConvertsBytesWithoutChecks) {
    gl_wchar wcs[8];
    EXPECT_EQ(_gl_is_mbstowcs(r.get(), wcs, u("a\xe9"), 8), 2);
    EXPECT_EQ(Wide(wcs, wcs + 3), wide({'a', 0xe9}));
    EXPECT_EQ(_dvz_gl_is_mbfstowcfs(r.get(), wcs, u("ab\0d"), 4, 8), 4);  // counted: bytes consumed
    EXPECT_EQ(_dvz_gl_is_mbfstowcfs(r.get(), wcs, u("abcd"), 4, 2), 2);
    EXPECT_EQ(_dvz_gl_is_mbfstowcfs(r.get(), wcs, u("abcd"), 4, 0), 0);

    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(_gl_is_wcstombs(r.get(), out, wide({'x', 0xfc}).data(), 8), 2);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{'x', 0xfc, 0, 0xEE}));
    EXPECT_EQ(_gl_is_wcstombs(r.get(), out, wide({'x', 'y', 'z'}).data(), 2), 2);  // full: no terminator
    EXPECT_EQ(_dvz_gl_is_wcstombs(r.get(), out, wide({'x', 'y'}).data(), 1, 8), 1);
    EXPECT_EQ(_gl_is_wcstombs(r.get(), out, wide({'x', 0x100}).data(), 8), -1);
    EXPECT_EQ(r->error, GL_EILSEQ);
    r->error = 0;
    EXPECT_EQ(gl_full_wcstombs(r.get(), out, wide({'x', 0xfc}).data(), 8), 2);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{'x', 0xfc, 0}));
}

TEST_F(SingleByteCharacters, MapsCaseThroughTheMaps) {
    unsigned char out[16];
    EXPECT_EQ(gl_tombsupper(r.get(), out, u("stra\xdf" "e \xe9\xff")), 9);
    EXPECT_STREQ(reinterpret_cast<char *>(out), "STRA\xdf" "E \xc9\xff");  // no partner in the code set
    EXPECT_EQ(gl_tombslower(r.get(), out, u("\xc4Q")), 2);
    EXPECT_STREQ(reinterpret_cast<char *>(out), "\xe4q");
    EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("1")), (1 << 8) | 1);
    EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\xe4")), (1 << 8) | 1);
    EXPECT_EQ(out[0], 0xc4);

    gl_wchar wout[4];
    EXPECT_EQ(gl_towcsupper(r.get(), wout, wide({'a', 0xe4}).data()), 0);
    EXPECT_EQ(Wide(wout, wout + 3), wide({'A', 0xc4}));
    EXPECT_EQ(gl_towcsupper(r.get(), wout, wide({'a', 0x100}).data()), -1);
    EXPECT_EQ(r->error, GL_EILSEQ);
}

TEST_F(SingleByteCharacters, NonPrintableWidthsFollowTheirForm) {
    EXPECT_EQ(gl_ctype(r.get(), "full_width"), 0);
    for (int b = 1; b < 256; ++b) {
        r->error = 0;
        const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
        if ((r->class_map[b] & GL_CLASS_PRINT) != 0) {
            EXPECT_EQ(gl_wcwidth(r.get(), b), 1) << b;  // no full_width class: one column
            EXPECT_EQ(gl_mbwidth(r.get(), s), 1) << b;
        } else {
            EXPECT_EQ(gl_mbwidth(r.get(), s), 1) << b;  // a one-byte character
            EXPECT_EQ(gl_wcwidth(r.get(), b), -1) << b;
            EXPECT_EQ(r->error, GL_EINVAL) << b;
        }
    }
    EXPECT_EQ(gl_wcwidth(r.get(), 0x100), -1);
    EXPECT_EQ(r->error, GL_EINVAL);
    EXPECT_EQ(gl_wcswidth(r.get(), wide({'a', 0x100}).data(), 5), -1);
    EXPECT_EQ(gl_mbswidth(r.get(), u("ab\x07"), 2), 2);
    EXPECT_EQ(gl_mbswidth(r.get(), u("ab\x07"), 3), -1);
}

TEST_F(SingleByteCharacters, StepsAndBlanks) {
    const unsigned char *s = u("ab");
    EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 2), s + 1);
    EXPECT_EQ(gl_full_mbsprev(r.get(), s, s), nullptr);
    EXPECT_EQ(r->error, GL_EBADPOS);
    EXPECT_EQ(gl_mbsntslen(r.get(), u("ab  ")), 2);
    EXPECT_EQ(gl_mbsntslen(r.get(), u("ab \t ")), 4);  // a tab is a control character
    EXPECT_EQ(gl_mbsntsbytes(r.get(), u(" a b ")), 4);
    EXPECT_EQ(gl_wcsntslen(r.get(), wide({'a', 0x100, ' '}).data()), 2);  // above 255: not blank
    EXPECT_EQ(r->error, GL_EILSEQ);
}

// ---- Name-lookup trees ---------------------------------------------------

struct TreeDeleter {
    gl_locale *loc;
    bool bytes;
    void operator()(name_tree_node *t) const {
        if (bytes) {
            _gl_free_mb_cache(loc, t);
        } else {
            _gl_free_wc_cache(loc, t);
        }
    }
};

// Builds a tree of names (index = position) in the wide or byte form.
name_tree_node *build_tree(gl_locale *loc, const std::vector<std::string> &names, bool bytes) {
    name_tree_node *tree = nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        int rc = bytes ? _gl_cache_mb_string(loc, &tree, names[i].c_str(), static_cast<int>(i))
                       : _gl_cache_wc_string(loc, &tree, names[i].c_str(), static_cast<int>(i));
        EXPECT_EQ(rc, 0) << names[i];
    }
    return tree;
}

struct Lookup {
    const char *text;
    int rc;
    int index;
    int length;
};

void expect_lookups(gl_locale *loc, const std::vector<std::string> &names, std::initializer_list<Lookup> cases) {
    for (bool bytes : {false, true}) {
        std::unique_ptr<name_tree_node, TreeDeleter> tree(build_tree(loc, names, bytes), TreeDeleter{loc, bytes});
        for (const Lookup &c : cases) {
            SCOPED_TRACE(testing::Message() << (bytes ? "mb " : "wc ") << c.text);
            int index = -7;
            int length = -7;
            int rc = bytes ? _gl_validate_mb_string(loc, tree.get(), u(c.text), &length, &index)
                           : _gl_validate_wc_string(loc, tree.get(), wide(c.text).data(), &length, &index);
            EXPECT_EQ(rc, c.rc);
            if (c.rc == 0) {
                EXPECT_EQ(index, c.index);
                EXPECT_EQ(length, c.length);  // one byte per character here
            }
        }
    }
}

TEST_F(SingleByteCharacters, NameTreesFindTheShortestNameThatBeginsTheText) {
    expect_lookups(r.get(), {"January", "February"},
                   {{"JANUARY", 0, 0, 7}, {"february 3", 0, 1, 8}, {"Janu", -1, 0, 0}, {"", -1, 0, 0}});
    expect_lookups(r.get(), {"Jan", "January", "Feb"}, {{"january", 0, 0, 3}, {"FEBRUAR", 0, 2, 3}});
    // A name inserted twice keeps the later index.
    expect_lookups(r.get(), {"Mai", "M\xe4rz", "MAI"}, {{"mai", 0, 2, 3}, {"M\xc4RZ", 0, 1, 4}});
    // An empty name answers every miss.
    expect_lookups(r.get(), {"Mon", "", "Tue"}, {{"xyz", 0, 1, 0}, {"", 0, 1, 0}, {"monday", 0, 0, 3}});

    int length = 0;
    int index = 0;
    name_tree_node *tree = nullptr;
    EXPECT_EQ(_gl_validate_wc_string(r.get(), tree, wide("x").data(), &length, &index), -1);
    EXPECT_EQ(_gl_cache_wc_string(r.get(), &tree, nullptr, 0), -1);
}

TEST_F(TwoByteCharacters, NameTreesDecodeAndFoldMultibyteNames) {
    // Names end with the two-byte null character.
    const std::string names[] = {std::string("\0A\0a\0\0", 6), std::string("\0a\x30\x42\0\0", 6)};
    for (bool bytes : {false, true}) {
        SCOPED_TRACE(bytes ? "mb" : "wc");
        name_tree_node *tree = nullptr;
        for (int i = 0; i < 2; ++i) {
            int rc = bytes ? _gl_cache_mb_string(r.get(), &tree, names[i].data(), i)
                           : _gl_cache_wc_string(r.get(), &tree, names[i].data(), i);
            ASSERT_EQ(rc, 0);
        }
        int length = 0;
        int index = 0;
        if (bytes) {
            EXPECT_EQ(_gl_validate_mb_string(r.get(), tree, u("\0a\0A\0" "1\0\0"), &length, &index), 0);
            EXPECT_EQ(index, 0);
            EXPECT_EQ(length, 4);  // bytes of the text
            EXPECT_EQ(_gl_validate_mb_string(r.get(), tree, u("\0A\x30\x42\0\0"), &length, &index), 0);
            EXPECT_EQ(index, 1);
            EXPECT_EQ(_gl_validate_mb_string(r.get(), tree, u("\0" "1\0\0"), &length, &index), -1);
        } else {
            EXPECT_EQ(_gl_validate_wc_string(r.get(), tree, wide({0x61, 0x41, 0x31}).data(), &length, &index), 0);
            EXPECT_EQ(index, 0);
            EXPECT_EQ(length, 2);
            EXPECT_EQ(_gl_validate_wc_string(r.get(), tree, wide({0x41, 0x3042}).data(), &length, &index), 0);
            EXPECT_EQ(index, 1);
            EXPECT_EQ(length, 2);
        }
        r->error = 0;
        name_tree_node *extra = tree;
        EXPECT_EQ(bytes ? _gl_cache_mb_string(r.get(), &extra, "\x07\x07\0", 2)
                        : _gl_cache_wc_string(r.get(), &extra, "\x07\x07\0", 2),
                  -1);  // no character of the code set
        EXPECT_EQ(r->error, GL_EILSEQ);
        if (bytes) {
            _gl_free_mb_cache(r.get(), tree);
        } else {
            _gl_free_wc_cache(r.get(), tree);
        }
    }
}

TEST(NameTreeMemory, AllocationFailureLeavesAFreeablePartialTree) {
    lcotest::Scene scene;
    LocalePtr r = load_ctype(scene, lcotest::toy_ctype());
    for (int fail_at = 1; fail_at <= 3; ++fail_at) {
        glstest::FailingAllocator allocator(fail_at);
        name_tree_node *tree = nullptr;
        r->error = 0;
        EXPECT_EQ(_gl_cache_wc_string(r.get(), &tree, "Aa1", 0), -1);
        EXPECT_EQ(r->error, GL_ENOMEM);
        _gl_free_wc_cache(r.get(), tree);
        EXPECT_EQ(allocator.outstanding(), 0);
    }
}

// ---- Calendar table -------------------------------------------------------

TEST(CalendarNames, NamesKeepTheirNewlineAndWideTwins) {
    const std::pair<const char *, int> expected[] = {
        {"gregorian\n", 1}, {"hebrew\n", 2}, {"islamic\n", 3}, {"arabic\n", 4}};
    int rows = 0;
    for (const gl_calendar_name *c = gls_canned_calendars; c->name != nullptr; ++c, ++rows) {
        ASSERT_LT(rows, 4);
        EXPECT_STREQ(c->name, expected[rows].first);
        EXPECT_EQ(c->id, expected[rows].second);
        EXPECT_EQ(Wide(c->wc_name, c->wc_name + std::strlen(c->name) + 1), wide(c->name));
    }
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(gls_canned_calendars[4].wc_name, nullptr);
    EXPECT_EQ(gls_canned_calendars[4].id, 0);
}

}  // namespace
