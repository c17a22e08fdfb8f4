/*
** What the number and money suites share: toy locales with NUMERIC and
** MONETARY sections of a test's own, the shipped locales, byte-string
** helpers, the formatters called into a string, and Debian's python3 as an
** oracle run on a file of inputs.
*/
#ifndef DVZ_TESTS_GLSLIB_NUMBERS_SUPPORT_H
#define DVZ_TESTS_GLSLIB_NUMBERS_SUPPORT_H

#include "gl_money.h"
#include "gl_numbers.h"
#include "host_doubles.h"
#include "lco_builder.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace numtest {

using lcotest::LocalePtr;

inline const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }
inline const unsigned char *U(const std::string &s) { return U(s.c_str()); }

/* Wide form of ASCII text, terminated. */
inline std::vector<gl_wchar> W(const std::string &ascii) {
  std::vector<gl_wchar> w(ascii.begin(), ascii.end());
  for (auto &c : w)
    c &= 0xFF;
  w.push_back(0);
  return w;
}

/* Toy locales (8859-1) with NUMERIC and MONETARY of the test's own. */
class ToyNumbers {
 public:
  LocalePtr make(const std::string &numeric = lcotest::toy_numeric(),
                 const lcotest::MonetaryToy &monetary = {}) {
    lcotest::Lco file = lcotest::toy_locale();
    file.numeric = numeric;
    file.monetary = monetary.text();
    std::string name = "n" + std::to_string(++files_) + ".lco";
    scene_.write(name, file);
    LocalePtr r = lcotest::new_record();
    EXPECT_NE(lcotest::load(r.get(), GL_ALL, name.c_str()), "(null)");
    EXPECT_EQ(r->error, 0);
    return r;
  }

 private:
  lcotest::Scene scene_;
  int files_ = 0;
};

/* A shipped locale file (e.g. "en_us/0333.lco") loaded whole. */
inline LocalePtr shipped(glstest::TableGetenv &env, const char *file) {
  LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  EXPECT_EQ(lcotest::load(r.get(), GL_ALL, file), lcotest::query_naming(file));
  EXPECT_EQ(r->error, 0) << file;
  return r;
}

/* The text a formatter wrote, or "error N" when it returned -1. */
template <typename... Args>
std::string fnum(gl_locale *loc, const char *format, Args... args) {
  unsigned char out[512];
  loc->error = 0;
  int n = gl_mbsfnum(loc, out, sizeof out, U(format), args...);
  if (n < 0) return "error " + std::to_string(loc->error);
  EXPECT_EQ(n, static_cast<int>(std::string(reinterpret_cast<char *>(out)).size()));
  return std::string(reinterpret_cast<char *>(out), static_cast<std::size_t>(n));
}

template <typename... Args>
std::string fmon(gl_locale *loc, const char *format, Args... args) {
  unsigned char out[1024];
  loc->error = 0;
  int n = gl_mbsfmon(loc, out, sizeof out, U(format), args...);
  if (n < 0) return "error " + std::to_string(loc->error);
  return std::string(reinterpret_cast<char *>(out), static_cast<std::size_t>(n));
}

/* Runs Debian's python3 on script with input as the file named by argv[1];
** its standard output. */
inline std::string run_python(const std::string &script, const std::string &input) {
  dvz_test::TempDir dir;
  std::string script_path = dir.write("oracle.py", script);
  std::string input_path = dir.write("input.txt", input);
  std::string output_path = dir.file("output.txt");
  std::string command =
      "/usr/bin/python3 '" + script_path + "' '" + input_path + "' > '" + output_path + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return dvz_test::read_file(output_path);
}

}  // namespace numtest

#endif
