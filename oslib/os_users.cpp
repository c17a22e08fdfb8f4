/*
** Users, shadow entries, groups, the login name and the caller identity.
** The association services' login checks and the environment services
** read users here; every platform look-up goes through the users seam
** (os_seams.h), the current day for the shadow rules through the clock
** seam. Texts are cut to their record fields, always NUL-terminated.
*/
#include <cstdlib>
#include <cstring>

#include "os_seams.h"
#include "os_text_copy.h"
#include "os_wrappers.h"

using oslib_text::copy_cut;

namespace {

constexpr long seconds_per_day = 86400;

void fill_passwd(const struct passwd *p, ospasswd_t *pw) {
  copy_cut(pw->name, p->pw_name);
  copy_cut(pw->passwd, p->pw_passwd);
  pw->uid = static_cast<int32_t>(p->pw_uid);
  pw->gid = static_cast<int32_t>(p->pw_gid);
  copy_cut(pw->dir, p->pw_dir);
  copy_cut(pw->shell, p->pw_shell);
}

size_t count_members(char *const *members) {
  size_t n = 0;
  if (members != nullptr)
    while (members[n] != nullptr)
      ++n;
  return n;
}

}  // namespace

extern "C" {

struct passwd *dvz_getpwnam(const char *name) {
  return os_users->getpwnam(name);
}

struct passwd *dvz_getpwuid(uid_t uid) {
  return os_users->getpwuid(uid);
}

int _osgetpwnam(const char *name, ospasswd_t *pw) {
  if (name == nullptr || pw == nullptr) return -1;
  const struct passwd *p = dvz_getpwnam(name);
  if (p == nullptr) return -1;
  fill_passwd(p, pw);
  return 0;
}

int __osgetpwnam(ospasswd_t *pw) {
  if (pw == nullptr) return -1;
  char name[sizeof pw->name];
  copy_cut(name, pw->name);
  return _osgetpwnam(name, pw);
}

int _osgetpwuid(uid_t uid, ospasswd_t *pw) {
  if (pw == nullptr) return -1;
  const struct passwd *p = dvz_getpwuid(uid);
  if (p == nullptr) return -1;
  fill_passwd(p, pw);
  return 0;
}

int __osgetpwuid(uid_t uid, ospasswd_t *pw) { return _osgetpwuid(uid, pw); }

/* The shadow rules count in days since the epoch. A Linux field of -1 is
** empty: an expiry or maximum age of -1 skips its rule, and a last change
** of -1 (ageing switched off) skips the maximum-age rule; only a last
** change of 0 means the password was never set. */
struct spwd *dvz_getspnam(const char *name) {
  if (name == nullptr) return nullptr;
  struct spwd *sp = os_users->getspnam(name);
  if (sp == nullptr) return nullptr;
  long today = static_cast<long>(os_clock->now() / seconds_per_day);
  if (sp->sp_expire > 0 && sp->sp_expire < today) return nullptr;
  if (sp->sp_lstchg == 0) return nullptr;
  if (sp->sp_max >= 0 && sp->sp_lstchg > 0 && today - sp->sp_lstchg > sp->sp_max) return nullptr;
  return sp;
}

int _osgetspnam(const char *name, osspwd_t *sp) {
  if (sp == nullptr) return -1;
  const struct spwd *s = dvz_getspnam(name);
  if (s == nullptr) return -1;
  copy_cut(sp->name, s->sp_namp);
  copy_cut(sp->passwd, s->sp_pwdp);
  return 0;
}

int __osgetspnam(osspwd_t *sp) {
  if (sp == nullptr) return -1;
  char name[sizeof sp->name];
  copy_cut(name, sp->name);
  return _osgetspnam(name, sp);
}

void *alloc_mem(size_t n) { return malloc(n); }

/* The member list is a new allocation: g->members is overwritten, not
** freed. */
int __osgetgrgid(gid_t gid, osgroup_t *g) {
  if (g == nullptr) return -1;
  const struct group *gr = os_users->getgrgid(gid);
  if (gr == nullptr) return -1;
  size_t n = count_members(gr->gr_mem);
  char *members = static_cast<char *>(alloc_mem((n + 1) * OSGROUP_MEMBER_SIZE));
  if (members == nullptr) return -1;
  memset(members, 0, (n + 1) * OSGROUP_MEMBER_SIZE);
  for (size_t i = 0; i < n; ++i)
    copy_cut(members + i * OSGROUP_MEMBER_SIZE, OSGROUP_MEMBER_SIZE, gr->gr_mem[i]);
  copy_cut(g->name, gr->gr_name);
  copy_cut(g->passwd, gr->gr_passwd);
  g->gid = static_cast<int32_t>(gr->gr_gid);
  g->members = members;
  return 0;
}

osgroup_t *_osgetgrgid(gid_t gid) {
  auto *g = static_cast<osgroup_t *>(alloc_mem(sizeof(osgroup_t)));
  if (g == nullptr) return nullptr;
  memset(g, 0, sizeof *g);
  if (__osgetgrgid(gid, g) != 0) {
    free(g);
    return nullptr;
  }
  return g;
}

void _osfreegroup(osgroup_t *g) {
  if (g == nullptr) return;
  free(g->members);
  free(g);
}

/* Walks the whole group database (getgrent has no seam: nothing in the
** system calls this). */
int __osgetsgrpids(const char *name, int *count, gid_t *ids) {
  if (name == nullptr || count == nullptr || ids == nullptr) return -1;
  int n = 0;
  setgrent();
  for (const struct group *gr = getgrent(); gr != nullptr && n < OS_MAX_SGRPIDS; gr = getgrent()) {
    for (char *const *m = gr->gr_mem; m != nullptr && *m != nullptr; ++m) {
      if (strcmp(*m, name) == 0) {
        ids[n++] = gr->gr_gid;
        break;
      }
    }
  }
  endgrent();
  *count = n;
  return 0;
}

int _osgetsgrpids(const char *name, int *count, gid_t *ids) {
  return __osgetsgrpids(name, count, ids);
}

void callerid(char *buffer) {
  if (buffer != nullptr) strcpy(buffer, "clientsdk");
}

char *dvz_getlogin(void) { return os_users->getlogin(); }

}  // extern "C"
