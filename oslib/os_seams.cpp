/*
** Production bindings of the client environment's seams (os_seams.h):
** the real clock, resolver, user database, node name and mount table,
** and the microsecond reading of whichever clock is in force.
*/
#include "os_seams.h"

#include <sys/time.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

time_t real_now(void) { return time(nullptr); }

struct hostent *real_gethostbyname(const char *name, int *herr) {
  struct hostent *h = gethostbyname(name);
  if (herr != nullptr) *herr = h == nullptr ? h_errno : 0;
  return h;
}

struct hostent *real_gethostbyaddr(const void *address, socklen_t length, int type) {
  return gethostbyaddr(address, length, type);
}

const char *no_home_override(void) { return nullptr; }

/* NFS by its super-block magic (nfs and nfs4 share it); Linux has no RFS. */
int real_fs_type(const char *path, char *type, size_t size) {
  struct statfs sb;
  if (statfs(path, &sb) != 0) return -1;
  constexpr long nfs_super_magic = 0x6969;
  snprintf(type, size, "%s", sb.f_type == nfs_super_magic ? "nfs" : "local");
  return 0;
}

}  // namespace

const os_clock_seam os_system_clock = {real_now, sleep};
const os_clock_seam *os_clock = &os_system_clock;

void os_clock_read(struct timeval *reading) {
  if (os_clock == &os_system_clock) {
    gettimeofday(reading, nullptr);
    return;
  }
  reading->tv_sec = os_clock->now();
  reading->tv_usec = 0;
}

const os_resolver_seam os_system_resolver = {real_gethostbyname, real_gethostbyaddr, getservbyname};
const os_resolver_seam *os_resolver = &os_system_resolver;

const os_users_seam os_system_users = {getpwnam, getpwuid, getspnam, getgrgid, getlogin};
const os_users_seam *os_users = &os_system_users;

const os_host_seam os_system_host = {uname, no_home_override};
const os_host_seam *os_host = &os_system_host;

const os_mount_seam os_system_mount = {"/proc/self/mounts", real_fs_type};
const os_mount_seam *os_mount = &os_system_mount;
