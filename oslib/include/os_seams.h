/*
** Seams between the client environment and the operating system: the
** clock and sleeping, the resolver, the user and shadow databases, the
** login and node names, the home directory, the mount table and the
** file-system type. Production binds the real calls; tests install
** doubles. Each is a table of functions behind a pointer that starts at
** the production table; a test sets it before the code under test runs
** and puts it back afterwards.
*/
#ifndef DVZ_OSLIB_OS_SEAMS_H
#define DVZ_OSLIB_OS_SEAMS_H

#include <grp.h>
#include <netdb.h>
#include <pwd.h>
#include <shadow.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/utsname.h>

#include <cstddef>
#include <ctime>

/* The current time and a pause of whole seconds. */
struct os_clock_seam {
  time_t (*now)(void);
  unsigned (*sleep)(unsigned seconds);
};
extern const os_clock_seam os_system_clock;
extern const os_clock_seam *os_clock;

/* The current time to the microsecond through os_clock: the system
** clock's own reading, or a replaced clock's now() with no fraction, so
** that a test pins one clock for the environment and the value library. */
void os_clock_read(struct timeval *reading);

/* Host and service look-ups. gethostbyname passes back the resolver's
** error code (h_errno) through herr. */
struct os_resolver_seam {
  struct hostent *(*gethostbyname)(const char *name, int *herr);
  struct hostent *(*gethostbyaddr)(const void *address, socklen_t length, int type);
  struct servent *(*getservbyname)(const char *name, const char *protocol);
};
extern const os_resolver_seam os_system_resolver;
extern const os_resolver_seam *os_resolver;

/* Users, groups, shadow entries and the login name. */
struct os_users_seam {
  struct passwd *(*getpwnam)(const char *name);
  struct passwd *(*getpwuid)(uid_t uid);
  struct spwd *(*getspnam)(const char *name);
  struct group *(*getgrgid)(gid_t gid);
  char *(*getlogin)(void);
};
extern const os_users_seam os_system_users;
extern const os_users_seam *os_users;

/* The node name (uname) and the home directory. home returns NULL in
** production, so that the home directory comes from the user database;
** a test returns a directory of its own. */
struct os_host_seam {
  int (*uname)(struct utsname *name);
  const char *(*home)(void);
};
extern const os_host_seam os_system_host;
extern const os_host_seam *os_host;

/* The mount table and the type of the file system holding a path. mount
** table is the path read with getmntent (/proc/self/mounts in
** production); fs_type writes the lower-case type name ("nfs", or
** another name for a local file system) and returns 0, or -1 when the
** path cannot be examined. */
struct os_mount_seam {
  const char *mount_table;
  int (*fs_type)(const char *path, char *type, size_t size);
};
extern const os_mount_seam os_system_mount;
extern const os_mount_seam *os_mount;

#endif
