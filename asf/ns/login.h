/*
** login.h: the pieces of the server-side login check (_oschkinternet,
** asf_ns.h) and of the trusted-host files /etc/hosts.equiv and ~/.rhosts,
** internal to the association services. The connection manager reaches
** them through _oschkinternet; the tests and the fuzz target call the
** pieces directly and replace the login seam.
**
** The seam holds what a test cannot arrange on a machine: the path of
** hosts.equiv, the home directory whose .rhosts is read, netgroup
** membership and the platform's crypt. One thread. C linkage.
*/
#ifndef DVZ_ASF_NS_LOGIN_H
#define DVZ_ASF_NS_LOGIN_H

#include <stdint.h>

#include "asf_errors.h"
#include "asf_sqlhosts.h"
#include "os_wrappers.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bits of the security option byte (the first byte of SqlhOptions). */
#define LOGIN_SEC_HOSTS_EQUIV 0x01 /* /etc/hosts.equiv may trust */
#define LOGIN_SEC_RHOSTS 0x02 /* the user's .rhosts may trust */

/* Buffer sizes of one trusted-host line and its fields, NUL included:
** what is kept of a line, of its host field and of its user field. */
#define TRUSTED_LINE_SIZE 261
#define TRUSTED_HOST_SIZE 257
#define TRUSTED_USER_SIZE 33

/* The user's passwd entry into pw; with shadow set the encrypted password
** is replaced by the shadow entry's, which must exist and be valid.
** Returns 0, or -1 (unknown user, refused shadow entry). */
int _osgetpasswd(const char *user, ospasswd_t *pw, int shadow);
/* The shadow entry's encrypted password of user into passwd (512 bytes,
** as ospasswd_t.passwd). Returns 0, or -1 with passwd unchanged (no entry,
** an expired account, a password never set or past its maximum age). */
int getshadow(const char *user, char *passwd);
/* The platform's crypt of password with stored as salt: its static result,
** or null (a null argument, or a salt crypt refuses). */
char *crypt_pwd(const char *password, const char *stored);
/* 1 when host is trusted for user (user id uid, home directory home, or
** null/empty for none) by the files *security allows (null: none), else 0.
** hosts.equiv is never read for uid 0; without a home no .rhosts is read.
** Either file counts only when check_rights may believe it (owner: uid). */
int is_trusted(const char *user, int32_t uid, const char *home, const char *host,
               const uint8_t *security);
/* 1 when the trusted-host file path trusts host for user, else 0 (also
** when the file cannot be opened or memory is short, and when it may not
** be believed: a symbolic link, not a regular file, owned by someone other
** than root, the user or this process's account, or writable by group or
** others). Trailing white space of host is ignored. */
int check_rights(const char *path, const char *host, const char *user);
/* The user field's verdict on user: *stop 1 and the result (1 trusted,
** 0 refused) when the field decides; *stop 0 and 0 when it does not, and
** the next line is read. REQUIRES: stop not null. */
int trusted_user(const char *field, const char *user, int *stop);
/* The next line of f that is not a comment: its host field into host
** (host_size bytes) and its user field into user (user_size bytes), each
** cut to fit and empty when missing; of the line the first 260 characters
** are read. Returns 0, or -1 at the end of the file (or a bad argument). */
int next_trusted(fbuf *f, char *host, int host_size, char *user, int user_size);
/* Removes trailing white space of text in place: the new length (0 for
** null). */
int trims(char *text);

#ifdef __cplusplus
}

/* What the login check takes from outside. Production: /etc/hosts.equiv,
** the home of the home seam of oslib when a test set one else the passwd
** entry's, the platform's innetgr and crypt. */
struct asf_login_seam {
  const char *hosts_equiv; /* path of the system-wide trusted-host file */
  /* The home directory whose .rhosts is read, given the passwd entry's
  ** (possibly empty); null or empty for none. */
  const char *(*home)(const char *passwd_dir);
  /* 1 when host (or user; the other null) belongs to netgroup, else 0. */
  int (*in_netgroup)(const char *netgroup, const char *host, const char *user);
  char *(*crypt)(const char *key, const char *salt);
};
extern const asf_login_seam asf_system_login;
extern const asf_login_seam *asf_login;
#endif

#endif
