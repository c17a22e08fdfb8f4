/*
** Fuzz target: the .netrc look-up. The input is the whole ~/.netrc of a
** temporary home (the home seam), searched for the host "h1" as the
** current user: the result is 0 or -1, login and password are terminated
** within their 257 bytes (heap blocks of exactly that size), the login is
** never empty, and the search over the same file opened directly agrees.
*/
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "asf_ns.h"
#include "asf_sqlhosts.h"
#include "asf_tl.h"
#include "fuzz_environment.h"
#include "os_seams.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_netrc: %s (%d)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 3 * ASF_FBUF_SIZE + 7;

std::string &home() {
  static std::string h;
  return h;
}
const char *fuzz_home(void) { return home().c_str(); }
const os_host_seam fuzz_host = {uname, fuzz_home};

char user[ASF_USERNAME_SIZE];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  home() = std::string(std::getenv("DOVARIZADIR")) + "/home";
  if (mkdir(home().c_str(), 0700) != 0) fail("mkdir", errno);
  os_host = &fuzz_host;
  if (getCurUser(user) != 0) fail("no current user", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  std::string path = home() + "/.netrc";
  FILE *f = std::fopen(path.c_str(), "w");
  if (f == nullptr) fail("fopen", errno);
  if (size > 0 && std::fwrite(data, 1, size, f) != size) fail("fwrite", 0);
  std::fclose(f);

  std::unique_ptr<char[]> login(new char[NS_NETRC_SIZE]);
  std::unique_ptr<char[]> password(new char[NS_NETRC_SIZE]);
  int rc = _osnrclookup("h1", user, login.get(), password.get());
  if (rc != 0 && rc != -1) fail("_osnrclookup status", rc);
  if (strnlen(login.get(), NS_NETRC_SIZE) >= NS_NETRC_SIZE) fail("login", 0);
  if (strnlen(password.get(), NS_NETRC_SIZE) >= NS_NETRC_SIZE) fail("password", 0);
  if (login[0] == '\0') fail("empty login", rc);

  fbuf *file = asf_opfbuf(path.c_str(), "r", 1);
  if (file == nullptr) fail("asf_opfbuf", 0);
  std::unique_ptr<char[]> login2(new char[NS_NETRC_SIZE]);
  std::unique_ptr<char[]> password2(new char[NS_NETRC_SIZE]);
  login2[0] = '\0';
  password2[0] = '\0';
  int rc2 = _osnrcpwd(file, "h1", login2.get(), password2.get());
  asf_clfbuf(file);
  if (rc2 != rc || std::strcmp(password.get(), password2.get()) != 0) fail("search disagrees", rc2);
  if (login2[0] != '\0' && std::strcmp(login.get(), login2.get()) != 0) fail("login differs", 0);
  return 0;
}
