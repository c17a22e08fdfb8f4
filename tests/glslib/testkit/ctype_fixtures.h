/*
** Fixtures of the character-layer tests: a record whose CTYPE comes from a
** toy code set whose characters are all two bytes long, a record loaded
** from the shipped single-byte en_us/0333.lco, and the small helpers that
** write their byte and wide strings.
*/
#ifndef DVZ_TESTS_GLSLIB_CTYPE_FIXTURES_H
#define DVZ_TESTS_GLSLIB_CTYPE_FIXTURES_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "gl_chars.h"
#include "lco_builder.h"

namespace lcotest {

using Wide = std::vector<gl_wchar>;

/* The bytes of a C string, as the character layer takes them. */
inline const unsigned char *u(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

/* A wide string of the values, ended by 0. */
Wide wide(std::initializer_list<gl_wchar> values);
/* A wide string of the bytes of s (one value per byte), ended by 0. */
Wide wide(const char *s);

/* A code set whose characters are all two bytes (two_byte_ctype), with
** one full-width character 30 42 and the class "full_width"; after_pairs
** is the rest of the line after the case pairs (the case factor). */
CtypeToy two_byte_toy(const std::string &after_pairs = "");

/* Loads a CTYPE-only file into a new record; the error word is cleared
** afterwards (the code-set check of the load may leave one there). */
LocalePtr load_ctype(Scene &scene, const CtypeToy &ctype);

/* A record whose CTYPE is two_byte_toy(). */
class TwoByteCharacters : public ::testing::Test {
 protected:
  Scene scene;
  LocalePtr r = load_ctype(scene, two_byte_toy());
  int err() const { return r->error; }
};

/* A record with all six categories of the shipped en_us/0333.lco. */
class SingleByteCharacters : public ::testing::Test {
 protected:
  void SetUp() override {
    r = new_shipped_record(env, GLS_SOURCE_DATA);
    ASSERT_EQ(load(r.get(), GL_ALL, "en_us/0333.lco").find("GL_CTYPE = en_us/0333.lco"), 0u);
    ASSERT_EQ(r->error, 0);
  }
  void TearDown() override { gl_free_registry_cache(); }
  glstest::TableGetenv env;
  LocalePtr r;
};

}  // namespace lcotest

#endif
