/*
** Fixtures of the character-layer tests (see ctype_fixtures.h).
*/
#include "ctype_fixtures.h"

namespace lcotest {

Wide wide(std::initializer_list<gl_wchar> values) {
  Wide w(values);
  w.push_back(0);
  return w;
}

Wide wide(const char *s) {
  Wide w;
  for (; *s != 0; ++s)
    w.push_back(static_cast<unsigned char>(*s));
  w.push_back(0);
  return w;
}

CtypeToy two_byte_toy(const std::string &after_pairs) {
  CtypeToy t = two_byte_ctype();
  t.classes[key({0x30, 0x42})] = 4 | 128 | 256 | 2048;
  t.named = {{0, "full_width"}};
  t.after_pairs = after_pairs;
  return t;
}

LocalePtr load_ctype(Scene &scene, const CtypeToy &ctype) {
  Lco file;
  file.header = header_text();
  file.ctype = ctype.text();
  scene.write("toy.lco", file);
  LocalePtr r = new_record();
  EXPECT_EQ(load(r.get(), GL_CTYPE, "toy.lco"), "toy.lco");
  r->error = 0;
  return r;
}

}  // namespace lcotest
