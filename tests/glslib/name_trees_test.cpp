/*
** The name-lookup trees (month, day and era names): the shortest name that
** begins a text is found whatever its case, in the wide and in the byte
** form, multibyte names are decoded and folded, and a tree left partial by
** an allocation failure can still be freed.
*/
#include "ctype_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace lcotest;

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

/* Builds a tree of names (index = position) in the wide or byte form. */
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

void expect_lookups(gl_locale *loc, const std::vector<std::string> &names,
                    std::initializer_list<Lookup> cases) {
  for (bool bytes : {false, true}) {
    std::unique_ptr<name_tree_node, TreeDeleter> tree(build_tree(loc, names, bytes),
                                                      TreeDeleter {loc, bytes});
    for (const Lookup &c : cases) {
      SCOPED_TRACE(testing::Message() << (bytes ? "mb " : "wc ") << c.text);
      int index = -7;
      int length = -7;
      int rc = bytes
                   ? _gl_validate_mb_string(loc, tree.get(), u(c.text), &length, &index)
                   : _gl_validate_wc_string(loc, tree.get(), wide(c.text).data(), &length, &index);
      EXPECT_EQ(rc, c.rc);
      if (c.rc == 0) {
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(length, c.length); /* one byte per character here */
      }
    }
  }
}

TEST_F(SingleByteCharacters, NameTreesFindTheShortestNameThatBeginsTheText) {
  expect_lookups(
      r.get(), {"January", "February"},
      {{"JANUARY", 0, 0, 7}, {"february 3", 0, 1, 8}, {"Janu", -1, 0, 0}, {"", -1, 0, 0}});
  expect_lookups(r.get(), {"Jan", "January", "Feb"}, {{"january", 0, 0, 3}, {"FEBRUAR", 0, 2, 3}});
  /* A name inserted twice keeps the later index. */
  expect_lookups(r.get(), {"Mai", "M\xe4rz", "MAI"}, {{"mai", 0, 2, 3}, {"M\xc4RZ", 0, 1, 4}});
  /* An empty name answers every miss. */
  expect_lookups(r.get(), {"Mon", "", "Tue"},
                 {{"xyz", 0, 1, 0}, {"", 0, 1, 0}, {"monday", 0, 0, 3}});

  int length = 0;
  int index = 0;
  name_tree_node *tree = nullptr;
  EXPECT_EQ(_gl_validate_wc_string(r.get(), tree, wide("x").data(), &length, &index), -1);
  EXPECT_EQ(_gl_cache_wc_string(r.get(), &tree, nullptr, 0), -1);
}

TEST_F(TwoByteCharacters, NameTreesDecodeAndFoldMultibyteNames) {
  /* Names end with the two-byte null character. */
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
      EXPECT_EQ(_gl_validate_mb_string(r.get(), tree,
                                       u("\0a\0A\0"
                                         "1\0\0"),
                                       &length, &index),
                0);
      EXPECT_EQ(index, 0);
      EXPECT_EQ(length, 4); /* bytes of the text */
      EXPECT_EQ(_gl_validate_mb_string(r.get(), tree, u("\0A\x30\x42\0\0"), &length, &index), 0);
      EXPECT_EQ(index, 1);
      EXPECT_EQ(_gl_validate_mb_string(r.get(), tree,
                                       u("\0"
                                         "1\0\0"),
                                       &length, &index),
                -1);
    } else {
      EXPECT_EQ(
          _gl_validate_wc_string(r.get(), tree, wide({0x61, 0x41, 0x31}).data(), &length, &index),
          0);
      EXPECT_EQ(index, 0);
      EXPECT_EQ(length, 2);
      EXPECT_EQ(_gl_validate_wc_string(r.get(), tree, wide({0x41, 0x3042}).data(), &length, &index),
                0);
      EXPECT_EQ(index, 1);
      EXPECT_EQ(length, 2);
    }
    r->error = 0;
    name_tree_node *extra = tree;
    EXPECT_EQ(bytes ? _gl_cache_mb_string(r.get(), &extra, "\x07\x07\0", 2)
                    : _gl_cache_wc_string(r.get(), &extra, "\x07\x07\0", 2),
              -1); /* no character of the code set */
    EXPECT_EQ(r->error, GL_EILSEQ);
    if (bytes) {
      _gl_free_mb_cache(r.get(), tree);
    } else {
      _gl_free_wc_cache(r.get(), tree);
    }
  }
}

TEST(NameTreeMemory, AllocationFailureLeavesAFreeablePartialTree) {
  Scene scene;
  LocalePtr r = load_ctype(scene, toy_ctype());
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

}  // namespace
