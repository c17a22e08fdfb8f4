/*
** os_wrappers.h: the thin layer through which the client library reaches
** users, groups, hosts, services, paths, memory and locks of the operating
** system. Look-ups copy the platform's answer into fixed-size records owned
** by the caller (texts cut to their fields and always NUL-terminated);
** temporary resolver failures are retried. The database-path services
** resolve a database name to the real directory and the file server behind
** it. Path helpers report through gerrno (os_env.h).
**
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_WRAPPERS_H
#define DVZ_OSLIB_OS_WRAPPERS_H

#include <grp.h>
#include <netdb.h>
#include <pwd.h>
#include <shadow.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "os_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A user of the passwd database. */
typedef struct ospasswd_t {
  char name[32];
  char passwd[512];
  int32_t uid;
  int32_t gid;
  char dir[64];
  char shell[256];
} ospasswd_t;

/* A user's shadow entry. */
typedef struct osspwd_t {
  char name[32];
  char passwd[512];
} osspwd_t;

/* A host: its official name and first address (IPv4 only). */
typedef struct oshostent_t {
  char name[256];
  int32_t addrtype;
  int32_t length;
  unsigned char address[4];
} oshostent_t;

/* A service: name, port in network byte order, protocol. */
typedef struct osservent_t {
  char name[128];
  int32_t port;
  char proto[8];
} osservent_t;

/* Size of one member name in osgroup_t's member list. */
#define OSGROUP_MEMBER_SIZE 32

/* A group. members: 32-byte member names one after the other, ended by an
** empty one; owned by the record (freed by _osfreegroup). */
typedef struct osgroup_t {
  char name[32];
  char passwd[512];
  int32_t gid;
  char *members;
} osgroup_t;

/* A netgroup membership question and its answer (result 1 member, 0 not);
** an empty field means any. */
typedef struct osnetgr_t {
  char netgroup[32];
  char host[32];
  char user[32];
  char domain[32];
  int32_t result;
} osnetgr_t;

/* Largest number of group ids __osgetsgrpids stores. */
#define OS_MAX_SGRPIDS 16

/* ---- Users and groups. ---- */

/* Fill pw from the passwd entry of name / uid; 0, or -1 (no such user,
** pw unchanged). */
int _osgetpwnam(const char *name, ospasswd_t *pw);
int _osgetpwuid(uid_t uid, ospasswd_t *pw);
/* The same, for the name / the given id, filling pw (name taken from pw). */
int __osgetpwnam(ospasswd_t *pw);
int __osgetpwuid(uid_t uid, ospasswd_t *pw);
/* The platform's passwd look-ups. */
struct passwd *dvz_getpwnam(const char *name);
struct passwd *dvz_getpwuid(uid_t uid);

/* Fill sp with the encrypted password of name; -1 when there is no usable
** shadow entry (see dvz_getspnam). __osgetspnam takes the name from sp. */
int _osgetspnam(const char *name, osspwd_t *sp);
int __osgetspnam(osspwd_t *sp);
/* The shadow entry of name, or NULL when the account has expired, the
** password was never set or is older than its maximum age (an expiry or
** maximum age of -1 skips that rule). */
struct spwd *dvz_getspnam(const char *name);

/* A new group record with its member list, or NULL; free with _osfreegroup. */
osgroup_t *_osgetgrgid(gid_t gid);
/* Fills g (and allocates its member list) from group gid; 0 or -1. */
int __osgetgrgid(gid_t gid, osgroup_t *g);
/* Frees the member list and the record; NULL is ignored. */
void _osfreegroup(osgroup_t *g);
/* malloc(n). */
void *alloc_mem(size_t n);
/* Ids of up to OS_MAX_SGRPIDS groups that list name as a member, into ids
** and *count; 0, or -1 for a NULL argument. */
int __osgetsgrpids(const char *name, int *count, gid_t *ids);
int _osgetsgrpids(const char *name, int *count, gid_t *ids);

/* Writes the caller identity "clientsdk". REQUIRES: 10 bytes at buffer. */
void callerid(char *buffer);
/* The platform's getlogin. */
char *dvz_getlogin(void);

/* ---- Hosts and services. ---- */

/* Fill h with the official name, type, length and first address of name
** (AF_INET only); 0 or -1. Temporary failures retried 30 times (16 at
** once, then 1 s apart). __osgethostbyname takes the name from h. */
int _osgethostbyname(const char *name, oshostent_t *h);
int __osgethostbyname(oshostent_t *h);
/* Fill h with the official name of address and the given address, length
** and type; -1 when the address has no entry or is longer than h's field.
** __osgethostbyaddr takes the address, length and type from h. */
int _osgethostbyaddr(const char *address, int length, int type, oshostent_t *h);
int __osgethostbyaddr(oshostent_t *h);
/* Fill s with name, port (network order, as given) and protocol; 0 or -1.
** A failure with errno 0 is retried as for hosts. __osgetservbyname takes
** name and protocol from s. */
int _osgetservbyname(const char *name, const char *protocol, osservent_t *s);
int __osgetservbyname(osservent_t *s);
/* Stores innetgr's answer in r->result; returns 0. Empty or NULL host,
** user or domain means any. __osinnetgr takes the question from r. */
int _osinnetgr(const char *netgroup, const char *host, const char *user, const char *domain,
               osnetgr_t *r);
int __osinnetgr(osnetgr_t *r);
/* The platform's look-ups; the first passes back h_errno through herr. */
struct hostent *dvz_gethostbyname(const char *name, int *herr);
struct hostent *dvz_gethostbyaddr(const void *address, socklen_t length, int type);
struct servent *dvz_getservbyname(const char *name, const char *protocol);

/* ---- Paths and files. ---- */

/* New string directory + "/" + name + extension, each part optional (no
** "/" without a directory); NULL with gerrno -4 when all are empty, -2
** when memory is short. The caller frees it. */
char *gbldpath(const char *directory, const char *name, const char *extension);
/* New 65-byte string: the home directory (cut to 64 characters) of the
** login name, else of the real user; NULL with gerrno -3 (no passwd
** entry) or -2. The caller frees it. */
char *ggethomepath(void);
/* 1 when the file is readable, else 0. */
int _ofreadable(const char *name);
/* The node name cut to size - 1 bytes, NUL-terminated; 0, or -1 when size
** is below 1 or uname fails. */
int rhostname(char *buffer, int size);
/* The process file-table size the library assumes: 20. */
int _osftabsize(void);
/* strtok with the process-wide scan position. */
char *dvz_strtok(char *string, const char *delimiters);

/* unlink(name); 0, or -1 with gerrno -7 (NULL), -6 (empty) or errno. */
int grmfile(const char *name);
/* Renames by linking new_name to old_name and unlinking old_name (the new
** link is removed again when that fails); 0, or -1 with gerrno as grmfile. */
int grenfile(const char *old_name, const char *new_name);
/* New string directory + "/" + name; NULL with gerrno -7, -6 or -2. */
char *gcatfpath(const char *directory, const char *name);
/* New string a + ":" + b; NULL with gerrno -7, -6 or -2. */
char *gcatspath(const char *a, const char *b);
/* New copy of the next ":"-separated element of *list, *list moved past
** it; NULL with gerrno -7 (NULL), -6 (list exhausted) or -2. */
char *ggetpelm(const char **list);
/* New copy of the last component of path without a trailing suffix; NULL
** with gerrno -3 when nothing is left, -7 or -2. */
char *gbasename(const char *path, const char *suffix);
/* New copy of the directory part of path ("/" for the root); NULL with
** gerrno -3 without a "/", -7 or -2. */
char *gpathname(const char *path);
/* Replaces the eight characters "NNNXXXXX" in template with a fresh
** three-letter counter and the last five digits of the process id, the
** counter advancing until no file of that name exists; returns template,
** or NULL with gerrno -4 when the pattern is missing (EEXIST when every
** counter value is taken). */
char *gmktemp(char *template_name);
/* The counter of gmktemp, starting at "aaa". */
extern char numpat[4];
/* Advances a three-letter a-z counter like an odometer ("zzz" -> "aaa"). */
void incpat(char *pattern);

/* ---- Database paths. ---- */

/* The real directory of database name (".dbs" appended unless the name
** ends in "/", made absolute, ".dbs" removed again) into path, and the
** file server's host into host (empty for a local disk); 0, -1 (NULL
** output, result does not fit), -916 (mount table unreadable) or -922
** (current directory unknown). The current directory never changes. */
int _osrealdbn(const char *name, char *path, int path_size, char *host, int host_size);
/* Replaces path (a buffer of size bytes) by its absolute form when it can
** be entered, setting *changed; 0, -1 (does not fit) or -922. The current
** directory is the same afterwards on every return. */
int _osfullpath(char *path, int size, int *changed);
/* The host and remote path behind path when it lies on a remote mount,
** else host empty and out a copy of path; 0, -1 or -916. */
int _osmntnm(const char *path, char *host, int host_size, char *out, int out_size);
/* out = remote directory + "/" + the part of path after mount point (the
** rest alone without a remote directory); -1 when path does not begin
** with the mount point or the result does not fit. */
int transmntnm(const char *path, const char *mount_point, const char *remote_dir, char *out,
               int out_size);
/* Splits path at its last "/" (directory "." without one); 0 or -1. */
int split_fname(const char *path, char *dir, int dir_size, char *file, int file_size);
/* Splits a mount resource host:path at its first ":"; 0, or -1 when a
** part does not fit. */
int split_fsname(const char *resource, char *host, int host_size, char *path, int path_size);
/* 1 when the file-system type names a remote mount ("nfs", "rfs", any
** case), else 0. */
int isrmnttype(const char *type);

/* ---- Memory, locks, sleeping. ---- */

/* Zero-filled size bytes or NULL; pool is ignored. */
void *meAlloc(int pool, size_t size);
/* -1 for NULL, else frees block and returns 0. */
int meFree(int pool, void *block);
/* realloc(block, size). */
void *meRealloc(int pool, void *block, size_t size);

/* Lock and condition words: the system runs one thread, so every operation
** does nothing and returns 0 (dvzOS_condInit stores 0 in the word). */
typedef int32_t dvzOS_mutex_t;
typedef int32_t dvzOS_cond_t;
int dvzOS_mutexInit(dvzOS_mutex_t *mutex, const char *name);
int dvzOS_mutexDestroy(dvzOS_mutex_t *mutex);
int dvzOS_mutexLock(dvzOS_mutex_t *mutex);
int dvzOS_mutexTryLock(dvzOS_mutex_t *mutex);
int dvzOS_mutexUnLock(dvzOS_mutex_t *mutex);
int dvzOS_recursive_mutexInit(dvzOS_mutex_t *mutex, const char *name);
int dvzOS_recursive_mutexDestroy(dvzOS_mutex_t *mutex);
int dvzOS_recursive_mutexLock(dvzOS_mutex_t *mutex);
int dvzOS_recursive_mutexUnLock(dvzOS_mutex_t *mutex);
int dvzOS_condInit(dvzOS_cond_t *condition, const char *name);
int dvzOS_condWait(dvzOS_cond_t *condition, dvzOS_mutex_t *mutex);
int dvzOS_condSignal(dvzOS_cond_t *condition);
int dvzOS_condDestroy(dvzOS_cond_t *condition);
/* sleep(seconds); returns what sleep returns. */
unsigned dvzOS_sleep(unsigned seconds);

#ifdef __cplusplus
}
#endif

#endif
