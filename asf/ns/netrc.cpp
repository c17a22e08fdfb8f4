/*
** The .netrc look-up: the login and password a user keeps for a remote
** host in ~/.netrc. The name service calls it when it builds the login of
** a registry entry whose server allows it. Reads through the buffered
** reader of the sqlhosts services; the home directory comes from the home
** seam when a test sets one, else from the user's passwd entry.
**
** The file is a run of white-space separated tokens: "machine" host starts
** an entry, "login", "password" and "account" take a value, and "macdef"
** takes a name and a body that ends at the first empty line. There is no
** "default" entry.
*/
#include <cstring>
#include <string>
#include <string_view>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "asf_sqlhosts.h"
#include "os_seams.h"
#include "os_wrappers.h"

namespace {

/* Copies s into out (NS_NETRC_SIZE bytes), cut to fit. */
void copy_token(char *out, std::string_view s) {
  size_t n = s.size() < NS_NETRC_SIZE - 1 ? s.size() : NS_NETRC_SIZE - 1;
  std::memcpy(out, s.data(), n);
  out[n] = '\0';
}

/* The next byte of f (0-255), or -1 at the end of the data. Steps through
** the buffer exactly as the reader's token and line functions do, so that
** a macro body can be skipped between two token reads. */
int next_byte(fbuf *f) {
  if (f->last == -1) return -1;
  if (f->pos < 1 || f->pos >= f->loaded) {
    if (asf_ldfbuf(f) != 0) {
      f->last = -1;
      return -1;
    }
  }
  f->last = f->buffer[f->pos++];
  return f->last;
}

/* Skips a macro body: everything up to and including the next empty line,
** that is two new lines in a row (the new line that ended the token before
** counts as the first). */
void skip_macro_body(fbuf *f) {
  int previous = f->last;
  for (int c = next_byte(f); c != -1; c = next_byte(f)) {
    if (c == '\n' && previous == '\n') return;
    previous = c;
  }
}

/* The next token into tok (NS_NETRC_SIZE bytes): false at the end. */
bool next_token(fbuf *f, char *tok) { return asf_ftoken(f, tok, NS_NETRC_SIZE) >= 0; }

/* Reads up to the "machine" token whose host is host: true when found. */
bool find_machine(fbuf *f, const char *host, char *tok) {
  while (next_token(f, tok)) {
    if (std::strcmp(tok, "machine") != 0) continue;
    if (!next_token(f, tok)) return false;
    if (std::strcmp(tok, host) == 0) return true;
  }
  return false;
}

/* Frees the passwd record of the look-up. */
struct user_record {
  ospasswd_t *pw = static_cast<ospasswd_t *>(asf_alloc(asf_pool_temp, sizeof(ospasswd_t)));
  ~user_record() {
    if (pw != nullptr) asf_free(asf_pool_temp, pw);
  }
  user_record() = default;
  user_record(const user_record &) = delete;
  user_record &operator=(const user_record &) = delete;
};

/* The path of the user's .netrc: home + "/" (when missing) + ".netrc". */
std::string netrc_path(const ospasswd_t &pw) {
  const char *seam_home = os_host->home();
  std::string path = seam_home != nullptr ? seam_home : pw.dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += ".netrc";
  return path;
}

}  // namespace

extern "C" {

int _osnrcpwd(fbuf *f, const char *host, char *login, char *password) {
  if (f == nullptr || host == nullptr || login == nullptr || password == nullptr) return -1;
  char tok[NS_NETRC_SIZE];
  if (!find_machine(f, host, tok)) return -1;
  bool have_login = false;
  bool have_password = false;
  while (next_token(f, tok)) {
    if (std::strcmp(tok, "machine") == 0) break;
    if (std::strcmp(tok, "login") == 0 || std::strcmp(tok, "password") == 0) {
      bool is_login = tok[0] == 'l';
      if (!next_token(f, tok)) break;
      bool &have = is_login ? have_login : have_password;
      if (!have) copy_token(is_login ? login : password, tok);
      have = true;
    } else if (std::strcmp(tok, "account") == 0) {
      if (!next_token(f, tok)) break;
    } else if (std::strcmp(tok, "macdef") == 0) {
      if (!next_token(f, tok)) break;
      skip_macro_body(f);
    }
  }
  return 0;
}

int _osnrclookup(const char *host, const char *user, char *login, char *password) {
  if (login == nullptr || password == nullptr) return -1;
  login[0] = '\0';
  password[0] = '\0';
  if (user == nullptr || user[0] == '\0' || host == nullptr) return -1;
  int rc = -1;
  {
    user_record record;
    if (record.pw == nullptr) {
      rc = ASF_ERR_MEMORY;
    } else if (_osgetpwnam(user, record.pw) == 0) {
      fbuf *f = asf_opfbuf(netrc_path(*record.pw).c_str(), "r", 1);
      if (f != nullptr) {
        rc = _osnrcpwd(f, host, login, password);
        asf_clfbuf(f);
      }
    }
  }
  if (login[0] == '\0') copy_token(login, user);
  return rc;
}

}  // extern "C"
