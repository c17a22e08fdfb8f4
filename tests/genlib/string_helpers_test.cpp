/*
** The value library's small services: the string-keyed hash table, the
** 6-bit text code (against Python's base64 with the alphabet's last two
** characters "." and "_", run in a child on fixed-seed random data), the
** blank test, the locale sort comparer and the removal of repeats.
*/
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gen_strings.h"
#include "os_glsenv.h"

namespace {

/* An item as the runtime keeps one: its first field points to its key. */
struct Item {
  const char *key;
  int value;
};

TEST(HashTable, HashOfKnownKeys) {
  struct Case {
    const char *key;
    int buckets;
    int index;
  };
  const Case cases[] = {{"", 13, 0},
                        {"A", 13, 0},
                        {"A", 128, 65},
                        {"zz", 13, 7},
                        {"zz", 65536, 2074},
                        /* long keys fold the top nibble back in */
                        {"abcdefgh", 65536, 2184},
                        {"cursor_name_1", 65536, 3601},
                        {"cursor_name_1", 128, 17},
                        {"\xff\xfe\xfd", 65536, 205},
                        {"abcdefghijkl", 13, 11}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(hashpjw(c.key, c.buckets), c.index);
  }
}

TEST(HashTable, NewestEntryOfAKeyIsFoundUntilDeleted) {
  ghashtab *t = ghashcreat(13);
  ASSERT_NE(t, nullptr);
  Item older {"cur1", 1}, newer {"cur1", 2}, other {"cur2", 3};
  EXPECT_EQ(ghashins(t, &older), 1);
  EXPECT_EQ(ghashins(t, &other), 1);
  EXPECT_EQ(ghashins(t, &newer), 1);
  EXPECT_EQ(ghashlook(t, "cur1"), &newer);
  EXPECT_EQ(ghashlook(t, "cur2"), &other);
  EXPECT_EQ(ghashlook(t, "cur3"), nullptr);
  EXPECT_EQ(ghashlook(t, "cur"), nullptr);
  EXPECT_EQ(ghashdel(t, "cur1"), &newer);
  EXPECT_EQ(ghashlook(t, "cur1"), &older);
  EXPECT_EQ(ghashdel(t, "cur1"), &older);
  EXPECT_EQ(ghashdel(t, "cur1"), nullptr);
  EXPECT_EQ(ghashlook(t, "cur2"), &other);
  ghashremove(t); /* the remaining node is freed; LSan checks */
}

TEST(HashTable, OneBucketChainsEveryKey) {
  ghashtab *t = ghashcreat(1);
  ASSERT_NE(t, nullptr);
  std::vector<std::string> keys;
  for (int i = 0; i < 20; ++i)
    keys.push_back("k" + std::to_string(i));
  std::vector<Item> items;
  for (int i = 0; i < 20; ++i)
    items.push_back({keys[i].c_str(), i});
  for (Item &it : items)
    ASSERT_EQ(ghashins(t, &it), 1);
  /* Unlink from the middle, the head and the tail of the chain. */
  EXPECT_EQ(ghashdel(t, "k7"), &items[7]);
  EXPECT_EQ(ghashdel(t, "k19"), &items[19]);
  EXPECT_EQ(ghashdel(t, "k0"), &items[0]);
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ghashlook(t, keys[i].c_str()), (i == 7 || i == 19 || i == 0) ? nullptr : &items[i]);
  }
  ghashremove(t);
}

TEST(HashTable, RefusesBadTablesAndSizes) {
  EXPECT_EQ(ghashcreat(0), nullptr);
  EXPECT_EQ(ghashcreat(-5), nullptr);
  Item item {"x", 0};
  EXPECT_EQ(ghashins(nullptr, &item), 0);
  EXPECT_EQ(ghashlook(nullptr, "x"), nullptr);
  EXPECT_EQ(ghashdel(nullptr, "x"), nullptr);
  ghashremove(nullptr);
}

std::string encode(const std::string &bytes) {
  std::string text(bytes.size() + (bytes.size() + 2) / 3, '\x7f');
  conbinto6(bytes.data(), text.data(), static_cast<int>(bytes.size()));
  return text;
}

std::string decode(const std::string &text, size_t n_bytes) {
  std::string bytes(n_bytes + 4, '\x7f');
  con6tobin(text.data(), bytes.data(), static_cast<int>(text.size()));
  EXPECT_EQ(bytes.substr(n_bytes), std::string(4, '\x7f')) << "wrote past the decoded bytes";
  return bytes.substr(0, n_bytes);
}

std::string from_hex(const std::string &hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

TEST(Code6, KnownGroups) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string("\x00\x10\x83", 3), "ABCD"}, {"\xff", "_w"}, {"\xff\xff", "__8"}, {"", ""}};
  for (const auto &[bytes, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(encode(bytes), text);
    EXPECT_EQ(decode(text, bytes.size()), bytes);
  }
  /* A final single character gives nothing; a count of 0 does nothing. */
  EXPECT_EQ(decode("ABCDE", 3), std::string("\x00\x10\x83", 3));
  EXPECT_EQ(decode("", 0), "");
}

TEST(Code6, EqualsBase64WithDotAndUnderscoreForEveryLength) {
  const char *script =
      "python3 -c '\n"
      "import base64, random\n"
      "r = random.Random(16102)\n"
      "for n in range(65):\n"
      "    for k in range(4):\n"
      "        d = bytes(r.randrange(256) for _ in range(n))\n"
      "        print(d.hex(), base64.b64encode(d, altchars=b\"._\").rstrip(b\"=\").decode())\n"
      "'";
  FILE *child = popen(script, "r");
  ASSERT_NE(child, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, child)) > 0)
    out.append(buf, n);
  ASSERT_EQ(pclose(child), 0);
  int lines = 0;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    size_t space = line.find(' ');
    ASSERT_NE(space, std::string::npos);
    std::string bytes = from_hex(line.substr(0, space));
    std::string text = line.substr(space + 1);
    SCOPED_TRACE(line);
    EXPECT_EQ(encode(bytes), text);
    EXPECT_EQ(decode(text, bytes.size()), bytes);
    ++lines;
  }
  EXPECT_EQ(lines, 65 * 4);
}

TEST(Code6, CharactersOutsideTheAlphabetDecodeAsZero) {
  /* High bytes index nothing past the reverse map. */
  EXPECT_EQ(decode("\x80\xff\xc3\xa0", 3), std::string(3, '\0'));
  EXPECT_EQ(decode("A\x80"
                   "B\xff",
                   3),
            std::string("\x00\x00\x40", 3));
  EXPECT_EQ(decode("=+/", 2), std::string(2, '\0'));
  EXPECT_EQ(decode("_\xfe", 1), std::string("\xfc", 1));
}

TEST(StringHelpers, BlankTextIsEmptyOrWhiteSpace) {
  const std::pair<const char *, int> cases[] = {{"", 1},  {"\t ", 1},  {" \n\r\f\v", 1}, {" x", 0},
                                                {"x", 0}, {"   .", 0}, {"\xa0", 0}};
  for (const auto &[text, blank] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(strisblank(text), blank);
  }
}

std::vector<std::string> compacted(std::vector<const char *> in) {
  std::vector<char *> list;
  for (const char *s : in)
    list.push_back(const_cast<char *>(s));
  int n = compact(list.data(), static_cast<int>(list.size()));
  return std::vector<std::string>(list.begin(), list.begin() + n);
}

TEST(StringHelpers, CompactDropsRepeats) {
  using V = std::vector<std::string>;
  EXPECT_EQ(compacted({"a", "a", "b", "b", "b", "c"}), (V {"a", "b", "c"}));
  EXPECT_EQ(compacted({" ", "a", "a"}), (V {"a"}));
  EXPECT_EQ(compacted({" ", " ", "b"}), (V {"b"}));
  EXPECT_EQ(compacted({"a", "b", "a"}), (V {"a", "b", "a"}));
  EXPECT_EQ(compacted({"x"}), (V {"x"}));
  EXPECT_EQ(compacted({}), V {});
  EXPECT_EQ(compacted({"ab", "a", "a ", "a "}), (V {"ab", "a", "a "}));
}

TEST(StringHelpers, SortComparerFollowsTheLocale) {
  ASSERT_EQ(chkglsinit(), 0);
  std::vector<const char *> words = {"pear", "apple", "fig", "apple", "banana", ""};
  std::qsort(words.data(), words.size(), sizeof(char *), frmcmpr);
  std::vector<std::string> sorted(words.begin(), words.end());
  EXPECT_EQ(sorted, (std::vector<std::string> {"", "apple", "apple", "banana", "fig", "pear"}));
  const char *a = "same", *b = "same";
  EXPECT_EQ(frmcmpr(&a, &b), 0);
}

}  // namespace
