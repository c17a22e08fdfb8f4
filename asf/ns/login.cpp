/*
** The login check of the server side (_oschkinternet) and the trusted-host
** files it reads. The connection manager calls _oschkinternet when it
** verifies a client's login; communication-support modules reach it
** through their import vector. Users and shadow entries come from oslib's
** wrappers, the trusted-host files through the buffered reader of the
** sqlhosts services, and whatever a test cannot arrange on a machine
** (hosts.equiv's path, the home directory, netgroups, crypt) through the
** login seam of login.h.
**
** A trusted-host line is a host field and a user field; the first line
** that decides wins, and the end of the file means not trusted. Every
** byte value is an ordinary character; fields are cut, never overrun. A
** trusted-host file that others could have written is not read at all.
**
** The client host is the name the transport gave the peer's address. The
** TCP transport gives this host's name or "localhost" only to an address
** of this host and keeps a reverse name only when a forward look-up of it
** gives the address back (the local transports are this host by nature),
** so the names compared here stand for addresses.
*/
#include "login.h"

#include <crypt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "os_seams.h"

namespace {

/* Size of this host's name buffer (a node name of up to 256 characters). */
constexpr int host_name_size = 257;

const char *system_home(const char *passwd_dir) {
  const char *seam_home = os_host->home();
  return seam_home != nullptr ? seam_home : passwd_dir;
}

int system_in_netgroup(const char *netgroup, const char *host, const char *user) {
  osnetgr_t answer {};
  if (_osinnetgr(netgroup, host, user, nullptr, &answer) != 0) return 0;
  return answer.result != 0 ? 1 : 0;
}

char *system_crypt(const char *key, const char *salt) { return crypt(key, salt); }

/* A block of the temporary pool, freed when the object goes. */
template <typename T>
struct temp_block {
  T *p;
  explicit temp_block(size_t size) : p(static_cast<T *>(asf_alloc(asf_pool_temp, size))) {}
  ~temp_block() {
    if (p != nullptr) asf_free(asf_pool_temp, p);
  }
  temp_block(const temp_block &) = delete;
  temp_block &operator=(const temp_block &) = delete;
};

/* The open trusted-host file, closed when the object goes. */
struct open_file {
  fbuf *f;
  explicit open_file(const char *path) : f(asf_opfbuf(path, "r", 1)) {}
  ~open_file() { asf_clfbuf(f); }
  open_file(const open_file &) = delete;
  open_file &operator=(const open_file &) = delete;
};

bool is_netgroup_field(std::string_view field) {
  return field.starts_with("+@") || field.starts_with("-@");
}

/* True when the trusted-host file opened as f from path may be believed
** for the user of id uid: path is no symbolic link, f is the very file
** looked at there, a regular file owned by root, by uid or by this
** process's own account, and neither group nor others may write it.
** Anyone else who could change it could make any host trusted. */
bool file_may_trust(const char *path, const fbuf *f, int64_t uid) {
  struct stat named {};
  struct stat opened {};
  if (lstat(path, &named) != 0 || fstat(f->fd, &opened) != 0) return false;
  if (!S_ISREG(opened.st_mode) || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
    return false;
  const bool owner_ok = opened.st_uid == 0 || static_cast<int64_t>(opened.st_uid) == uid ||
                        opened.st_uid == geteuid();
  return owner_ok && (opened.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

/* check_rights for the user of id uid (-1: none known). */
int check_rights_of(const char *path, const char *host, const char *user, int64_t uid) {
  if (path == nullptr || host == nullptr || user == nullptr) return 0;
  open_file file(path);
  if (file.f == nullptr || !file_may_trust(path, file.f, uid)) return 0;
  const size_t size = std::strlen(host) + 1;
  temp_block<char> wanted(size);
  if (wanted.p == nullptr) return 0;
  std::memcpy(wanted.p, host, size);
  trims(wanted.p);

  char field[TRUSTED_HOST_SIZE];
  char user_field[TRUSTED_USER_SIZE];
  while (next_trusted(file.f, field, sizeof field, user_field, sizeof user_field) == 0) {
    int stop = 0;
    int verdict = 0;
    if (std::strcmp(field, "+") == 0 || std::strcmp(field, wanted.p) == 0) {
      verdict = trusted_user(user_field, user, &stop);
    } else if (is_netgroup_field(field)) {
      if (asf_login->in_netgroup(field + 2, wanted.p, nullptr) != 1) continue;
      if (field[0] == '-') return 0;
      verdict = trusted_user(user_field, user, &stop);
    } else if (field[0] == '-' && std::strcmp(field + 1, wanted.p) == 0) {
      return 0;
    }
    if (stop) return verdict;
  }
  return 0;
}

/* The password step of a checked login: 0 or -952. An empty password on
** either side never matches (two empty ones included), and neither does a
** salt crypt refuses. */
int check_password(const char *password, const char *stored) {
  if (password[0] == '\0' || stored[0] == '\0') return LOGIN_ERR_PASSWORD;
  const char *encrypted = crypt_pwd(password, stored);
  if (encrypted == nullptr) return LOGIN_ERR_PASSWORD;
  return std::strcmp(encrypted, stored) == 0 ? 0 : LOGIN_ERR_PASSWORD;
}

/* The no-password step of a checked login: 0, -952, -956 or -1. */
int check_host(const ospasswd_t &pw, const char *user, const char *host, const uint8_t *security) {
  if (std::getenv("DVZ_PWD_REQ") != nullptr) return LOGIN_ERR_PASSWORD;
  char this_host[host_name_size];
  if (rhostname(this_host, sizeof this_host) != 0) return -1;
  if (std::strcmp(host, this_host) == 0 || std::strcmp(host, "localhost") == 0) return 0;
  return is_trusted(user, pw.uid, asf_login->home(pw.dir), host, security) == 1
             ? 0
             : LOGIN_ERR_UNTRUSTED;
}

}  // namespace

const asf_login_seam asf_system_login = {"/etc/hosts.equiv", system_home, system_in_netgroup,
                                         system_crypt};
const asf_login_seam *asf_login = &asf_system_login;

extern "C" {

int _oschkinternet(const char *user, const char *password, const char *host,
                   const uint8_t *security, int32_t *uid, int32_t *gid, char *home, int check) {
  // An empty host is no host: a "+" line would otherwise trust it.
  if (check && (host == nullptr || host[0] == '\0')) return LOGIN_ERR_NOHOST;
  if (user == nullptr || user[0] == '\0') return LOGIN_ERR_NOUSER;
  temp_block<ospasswd_t> pw(sizeof(ospasswd_t));
  if (pw.p == nullptr) return ASF_ERR_MEMORY;
  if (_osgetpasswd(user, pw.p, check) != 0) return LOGIN_ERR_NOUSER;
  if (uid != nullptr) *uid = pw.p->uid;
  if (gid != nullptr) *gid = pw.p->gid;
  if (home != nullptr) std::snprintf(home, sizeof pw.p->dir, "%s", pw.p->dir);
  if (!check) return 0;
  if (password != nullptr) return check_password(password, pw.p->passwd);
  return check_host(*pw.p, user, host, security);
}

int _osgetpasswd(const char *user, ospasswd_t *pw, int shadow) {
  if (user == nullptr || pw == nullptr) return -1;
  if (_osgetpwnam(user, pw) != 0) return -1;
  if (shadow && getshadow(user, pw->passwd) != 0) return -1;
  return 0;
}

int getshadow(const char *user, char *passwd) {
  if (user == nullptr || passwd == nullptr) return -1;
  // On the stack: a memory failure must not pass for an unknown user.
  osspwd_t sp {};
  if (_osgetspnam(user, &sp) != 0) return -1;
  std::snprintf(passwd, sizeof sp.passwd, "%s", sp.passwd);
  return 0;
}

char *crypt_pwd(const char *password, const char *stored) {
  if (password == nullptr || stored == nullptr) return nullptr;
  return asf_login->crypt(password, stored);
}

int is_trusted(const char *user, int32_t uid, const char *home, const char *host,
               const uint8_t *security) {
  const uint8_t allowed = security != nullptr ? *security : 0;
  if (uid != 0 && (allowed & LOGIN_SEC_HOSTS_EQUIV) != 0 &&
      check_rights_of(asf_login->hosts_equiv, host, user, uid) == 1)
    return 1;
  if ((allowed & LOGIN_SEC_RHOSTS) == 0) return 0;
  // Without a home there is no .rhosts: the current directory's is not it.
  if (home == nullptr || home[0] == '\0') return 0;
  const size_t length = std::strlen(home);
  const bool slash = home[length - 1] == '/';
  const size_t size = length + sizeof "/.rhosts";
  temp_block<char> path(size);
  if (path.p == nullptr) return 0;
  std::snprintf(path.p, size, "%s%s.rhosts", home, slash ? "" : "/");
  return check_rights_of(path.p, host, user, uid);
}

int check_rights(const char *path, const char *host, const char *user) {
  if (user == nullptr) return 0;
  ospasswd_t pw {};
  const int64_t uid = _osgetpwnam(user, &pw) == 0 ? pw.uid : -1;
  return check_rights_of(path, host, user, uid);
}

int trusted_user(const char *field, const char *user, int *stop) {
  *stop = 0;
  if (field == nullptr || user == nullptr) return 0;
  if (field[0] == '\0' || std::strcmp(field, user) == 0 || std::strcmp(field, "+") == 0) {
    *stop = 1;
    return 1;
  }
  if (is_netgroup_field(field)) {
    // A user outside the netgroup is left to the next line, either way.
    if (asf_login->in_netgroup(field + 2, nullptr, user) != 1) return 0;
    *stop = 1;
    return field[0] == '+' ? 1 : 0;
  }
  if (field[0] == '-' && std::strcmp(field + 1, user) == 0) *stop = 1;
  return 0;
}

int next_trusted(fbuf *f, char *host, int host_size, char *user, int user_size) {
  if (f == nullptr || host == nullptr || user == nullptr || host_size < 1 || user_size < 1)
    return -1;
  char line[TRUSTED_LINE_SIZE];
  do {
    // The reader skips the white space before a line, blank lines with it.
    if (asf_fgetline(f, line, TRUSTED_LINE_SIZE - 1) < 0) return -1;
  } while (line[0] == '#');
  host[0] = '\0';
  user[0] = '\0';
  char *pos = line;
  asf_stoken(&pos, host, host_size - 1);
  asf_stoken(&pos, user, user_size - 1);
  return 0;
}

int trims(char *text) {
  if (text == nullptr) return 0;
  size_t n = std::strlen(text);
  while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1])))
    --n;
  text[n] = '\0';
  return static_cast<int>(n);
}

}  // extern "C"
