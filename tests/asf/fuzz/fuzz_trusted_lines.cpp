/*
** Fuzz target: the trusted-host line reader and the decision over a whole
** file. The input is a trusted-host file in a temporary directory (also
** the login seam's hosts.equiv; one netgroup "g" holds the host "h1" and
** the user "u1"). Every line the reader returns has its fields
** terminated within heap blocks of exactly their size, never starts with
** '#', and the same holds with tiny fields; check_rights for "h1" / "u1"
** is 0 or 1, and 0 whenever no line's host field could trust (neither
** "+", "h1" nor "+@..."); uid 0 is never trusted through hosts.equiv.
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

#include "asf_sqlhosts.h"
#include "fuzz_environment.h"
#include "login.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_trusted_lines: %s (%d)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 3 * ASF_FBUF_SIZE + 7;

std::string &file_path() {
  static std::string p;
  return p;
}

int fuzz_in_netgroup(const char *netgroup, const char *host, const char *user) {
  if (std::strcmp(netgroup, "g") != 0) return 0;
  if (host != nullptr) return std::strcmp(host, "h1") == 0;
  return user != nullptr && std::strcmp(user, "u1") == 0;
}
const char *no_home(const char *) { return nullptr; }
asf_login_seam fuzz_login;

/* Reads every line of the file with fields of host_size and user_size
** bytes; true when some line's host field could trust "h1". */
bool read_all(int host_size, int user_size) {
  fbuf *f = asf_opfbuf(file_path().c_str(), "r", 1);
  if (f == nullptr) fail("asf_opfbuf", 0);
  std::unique_ptr<char[]> host(new char[host_size]);
  std::unique_ptr<char[]> user(new char[user_size]);
  bool could_trust = false;
  int lines = 0;
  while (next_trusted(f, host.get(), host_size, user.get(), user_size) == 0) {
    if (++lines > static_cast<int>(max_input)) fail("more lines than bytes", lines);
    if (strnlen(host.get(), host_size) >= static_cast<size_t>(host_size)) fail("host field", 0);
    if (strnlen(user.get(), user_size) >= static_cast<size_t>(user_size)) fail("user field", 0);
    if (host[0] == '#') fail("a comment line returned", lines);
    if (std::strcmp(host.get(), "+") == 0 || std::strcmp(host.get(), "h1") == 0 ||
        std::strncmp(host.get(), "+@", 2) == 0)
      could_trust = true;
  }
  asf_clfbuf(f);
  return could_trust;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  file_path() = std::string(std::getenv("DOVARIZADIR")) + "/hosts.equiv";
  fuzz_login = {file_path().c_str(), no_home, fuzz_in_netgroup, asf_system_login.crypt};
  asf_login = &fuzz_login;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  FILE *f = std::fopen(file_path().c_str(), "w");
  if (f == nullptr) fail("fopen", errno);
  if (size > 0 && std::fwrite(data, 1, size, f) != size) fail("fwrite", 0);
  std::fclose(f);
  // Trusted-host files that others may write are ignored: keep the file
  // private whatever the umask, so the line reader is always reached.
  if (chmod(file_path().c_str(), 0600) != 0) fail("chmod", errno);

  const bool could_trust = read_all(TRUSTED_HOST_SIZE, TRUSTED_USER_SIZE);
  read_all(3, 2);
  read_all(1, 1);

  int verdict = check_rights(file_path().c_str(), "h1", "u1");
  if (verdict != 0 && verdict != 1) fail("check_rights result", verdict);
  if (verdict == 1 && !could_trust) fail("trusted without a trusting line", 0);

  const uint8_t equiv_only = LOGIN_SEC_HOSTS_EQUIV;
  if (is_trusted("root", 0, nullptr, "h1", &equiv_only) != 0) fail("uid 0 through hosts.equiv", 0);
  if (is_trusted("u1", 1, nullptr, "h1", &equiv_only) != verdict) fail("is_trusted disagrees", 0);
  return 0;
}
