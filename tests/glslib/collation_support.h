/*
** Fixtures of the collation tests: toy locales loaded from a CollateToy
** through a temporary locale directory, keys as strings, signs, and random
** strings over an alphabet.
*/
#ifndef DVZ_TESTS_GLSLIB_COLLATION_SUPPORT_H
#define DVZ_TESTS_GLSLIB_COLLATION_SUPPORT_H

#include "collation_internal.h"
#include "lco_builder.h"
#include "random_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace colltest {

using lcotest::CollateToy;
using lcotest::LocalePtr;

inline int sign(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

inline const unsigned char *u(const std::string &s) {
  return reinterpret_cast<const unsigned char *>(s.c_str());
}

/* A record loaded with every category of a toy locale whose COLLATE (and,
** when given, CTYPE) section is the test's own. */
class ToyCollation {
 public:
  explicit ToyCollation(const CollateToy &collate,
                        const lcotest::CtypeToy &ctype = lcotest::toy_ctype()) {
    lcotest::Lco file = lcotest::toy_locale();
    file.ctype = ctype.text();
    file.collate = collate.text();
    scene_.write("coll.lco", file);
    record_ = lcotest::new_record();
    loaded_ = lcotest::load(record_.get(), GL_ALL, "coll.lco") != "(null)";
    EXPECT_TRUE(loaded_) << "error " << record_->error;
    EXPECT_EQ(record_->error, 0);
  }
  gl_locale *get() const { return record_.get(); }
  bool loaded() const { return loaded_; }

 private:
  lcotest::Scene scene_;
  LocalePtr record_;
  bool loaded_ = false;
};

/* One-byte characters: newline, printable ASCII and 0xA0; two-byte ones
** 0x81 0x40 and 0x81 0x41. */
inline lcotest::CtypeToy mixed_ctype() {
  lcotest::CtypeToy t = lcotest::toy_ctype();
  t.classes[lcotest::key({0})] = 32;
  t.classes[lcotest::key({'\n'})] = 16 | 32;
  for (int b = 0x20; b < 0x7F; ++b)
    t.classes.emplace(lcotest::key({b}), 128 | 256);
  t.classes[lcotest::key({0xA0})] = 4 | 128 | 256;
  t.classes[lcotest::key({0x81, 0x40})] = 4 | 128 | 256;
  t.classes[lcotest::key({0x81, 0x41})] = 4 | 128 | 256;
  return t;
}

/* The key of a terminated multibyte string through gl_full_mbsxfrm, sized
** by a first call with size 0. */
inline std::string key_of(gl_locale *loc, const std::string &s) {
  int n = gl_full_mbsxfrm(loc, nullptr, u(s), 0);
  EXPECT_GE(n, 0) << "key of \"" << s << "\"";
  if (n < 0) return {};
  std::vector<unsigned char> out(static_cast<std::size_t>(n) + 1, 0xEE);
  EXPECT_EQ(gl_full_mbsxfrm(loc, out.data(), u(s), n + 1), n);
  EXPECT_EQ(out[static_cast<std::size_t>(n)], 0);
  return std::string(out.begin(), out.begin() + n);
}

/* The sign of memcmp-and-length order of two keys. */
inline int key_sign(const std::string &a, const std::string &b) { return sign(a.compare(b)); }

/* Each byte of a single-byte string as one wide character, ended by 0. */
inline std::vector<gl_wchar> widen(const std::string &s) {
  std::vector<gl_wchar> w;
  for (unsigned char c : s)
    w.push_back(c);
  w.push_back(0);
  return w;
}

using glstest::RandomStrings;

}  // namespace colltest

#endif
