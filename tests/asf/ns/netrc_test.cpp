/*
** The .netrc look-up: files in the process's isolated home (the home
** seam) searched for a host, as a table of file contents; a missing file,
** an unknown user and a memory failure; the search over an open file.
*/
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "al/counting_memory.h"
#include "asf_ns.h"
#include "asf_sqlhosts.h"
#include "asf_tl.h"
#include "isolation.h"
#include "temp_dir.h"

namespace {

std::string netrc_path() { return oslib_test::isolated_home() + "/.netrc"; }

/* ~/.netrc with content for the life of the object. */
class Netrc {
 public:
  explicit Netrc(const std::string &content) {
    FILE *f = std::fopen(netrc_path().c_str(), "w");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return;
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
  ~Netrc() { unlink(netrc_path().c_str()); }
  Netrc(const Netrc &) = delete;
  Netrc &operator=(const Netrc &) = delete;
};

std::string current_user() {
  char buf[ASF_USERNAME_SIZE];
  EXPECT_EQ(getCurUser(buf), 0);
  return buf;
}

TEST(NetrcLookup, EntriesOfAHost) {
  const std::string me = current_user();
  const std::string long_token(300, 'L');
  struct row {
    const char *what;
    std::string content;
    int rc;
    std::string login; /* "" for the user's own name */
    std::string password;
  };
  const row rows[] = {
      {"login and password", "machine h1 login ann password pw\n", 0, "ann", "pw"},
      {"the first of each wins", "machine h1 login ann login bob password p1 password p2\n", 0,
       "ann", "p1"},
      {"account skips its value", "machine h1 account login password pw\n", 0, "", "pw"},
      {"only a password: the user's own name", "machine h1 password pw\n", 0, "", "pw"},
      {"an entry with nothing is still found", "machine h1\n", 0, "", ""},
      {"another host's entry", "machine h2 login bob password q\nmachine h1 login ann\n", 0, "ann",
       ""},
      {"the next machine ends the entry", "machine h1 login ann\nmachine h2 password q\n", 0, "ann",
       ""},
      {"a macro body containing machine ends at an empty line",
       "machine h1 login ann\nmacdef init\nmachine h2 password q\nlogin bob\n\npassword pw\n", 0,
       "ann", "pw"},
      {"an empty macro body", "machine h1 macdef m\n\npassword pw\n", 0, "", "pw"},
      {"a macro body running to the end", "machine h1 macdef m\npassword q\n", 0, "", ""},
      {"no default entry", "default login d password dp\n", -1, "", ""},
      {"hosts compare exactly", "machine H1 login ann password pw\n", -1, "", ""},
      {"no host", "login ann password pw\n", -1, "", ""},
      {"a value missing at the end", "machine h1 password", 0, "", ""},
      {"tokens are cut to 256 characters",
       "machine h1 login " + long_token + " password " + long_token + "\n", 0,
       long_token.substr(0, 256), long_token.substr(0, 256)},
      {"tabs and blank lines separate tokens", "\n\tmachine\th1\n\n login\tann \n", 0, "ann", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    Netrc file(r.content);
    char login[NS_NETRC_SIZE];
    char password[NS_NETRC_SIZE];
    std::memset(login, 'Z', sizeof login);
    std::memset(password, 'Z', sizeof password);
    EXPECT_EQ(_osnrclookup("h1", me.c_str(), login, password), r.rc);
    EXPECT_EQ(login, r.login.empty() ? me : r.login);
    EXPECT_EQ(password, r.password);
  }
}

TEST(NetrcLookup, MissingFileUserOrMemory) {
  const std::string me = current_user();
  char login[NS_NETRC_SIZE];
  char password[NS_NETRC_SIZE];
  EXPECT_EQ(_osnrclookup("h1", me.c_str(), login, password), -1);
  EXPECT_EQ(login, me);
  EXPECT_STREQ(password, "");

  Netrc file("machine h1 login ann password pw\n");
  EXPECT_EQ(_osnrclookup("h1", "no-such-user-x", login, password), -1);
  EXPECT_STREQ(login, "no-such-user-x");
  EXPECT_EQ(_osnrclookup("h1", nullptr, login, password), -1);
  EXPECT_STREQ(login, "");
  {
    asf_test::CountingMemory memory(1);
    EXPECT_EQ(_osnrclookup("h1", me.c_str(), login, password), -406);
    EXPECT_EQ(memory.outstanding(), 0);
  }
  {
    /* The reader cannot be made: as if there were no file. */
    asf_test::CountingMemory memory(2);
    EXPECT_EQ(_osnrclookup("h1", me.c_str(), login, password), -1);
    EXPECT_EQ(login, me);
    EXPECT_EQ(memory.outstanding(), 0);
  }
  asf_test::CountingMemory memory;
  EXPECT_EQ(_osnrclookup("h1", me.c_str(), login, password), 0);
  EXPECT_STREQ(login, "ann");
  EXPECT_STREQ(password, "pw");
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST(NetrcSearch, OpenFileLeftWhereTheEntryEnds) {
  dvz_test::TempDir dir;
  /* A macro body longer than the reader's buffer: skipping it crosses a
  ** reload. */
  std::string content = "machine h1 login ann macdef m\n" + std::string(ASF_FBUF_SIZE, 'x');
  content += "\n\npassword pw machine h2 login bob\n";
  fbuf *f = asf_opfbuf(dir.write("netrc", content).c_str(), "r", 1);
  ASSERT_NE(f, nullptr);
  char login[NS_NETRC_SIZE] = "";
  char password[NS_NETRC_SIZE] = "";
  EXPECT_EQ(_osnrcpwd(f, "h1", login, password), 0);
  EXPECT_STREQ(login, "ann");
  EXPECT_STREQ(password, "pw");
  EXPECT_EQ(_osnrcpwd(f, "h1", login, password), -1);
  EXPECT_EQ(_osnrcpwd(nullptr, "h1", login, password), -1);
  asf_clfbuf(f);
}

}  // namespace
