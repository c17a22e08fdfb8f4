/*
** asf_ns.h: the name service of the association services and the .netrc
** look-up it uses. The name service turns a name request (a database
** environment, a server, an explicit transport address, or nothing) into a
** registry `NSReg` (asf_records.h) of candidate server entries, read from
** the sqlhosts file (asf_sqlhosts.h) and DBPATH. The connection manager and
** the directory service are its callers; the registry is freed with
** ASF_FreeNSReg (asf_call.h).
**
** Every string an entry holds is an allocation of its own (pool 1): the
** transport address text in particular is never shared with the caller's
** name request, so a lower layer may copy and cut its own copy freely.
** In-memory records in host order. One thread. C linkage.
*/
#ifndef DVZ_ASF_NS_H
#define DVZ_ASF_NS_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_sqlhosts.h"
#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Names the name service gives to failure numbers of asf_errors.h. */
#define NS_ERR_NOUSER ASF_ERR_NOUSER /* the current user cannot be found */
#define NS_ERR_INTERNAL ASF_ERR_COMMON /* an internal argument error, or a full registry */

/* Sizes, terminator included: a server name, a database name or path. */
#define NS_SERVER_SIZE 129
#define NS_DBNAME_SIZE 261
/* Room of the .netrc look-up's outputs: a 256-character token and a NUL. */
#define NS_NETRC_SIZE 257
/* Most DBPATH elements read. */
#define NS_DBPATH_ELEMENTS 100

/* Name-request kinds. */
enum {
  ns_req_default = 0, /* the server of DOVARIZASERVER, then DBPATH */
  ns_req_address = 1, /* host|service|protocol[|options] */
  ns_req_dbenv = 3, /* a database environment */
  ns_req_server = 7 /* the server alone, no database */
};

/* User kinds of the caller and login kinds of an entry. */
enum {
  ns_user_none = 0, /* the current user is taken */
  ns_user_password = 1, /* user and password */
  ns_user_credential = 16, /* a credential */
  ns_user_current = 17 /* the current user without password (entries only) */
};

/* User information as the caller passes it. */
typedef struct nsuserinfo {
  int32_t kind; /* ns_user_none, ns_user_password or ns_user_credential */
  const char *user; /* user name, or none */
  const char *password; /* password, or none */
  uint32_t word; /* copied into the entries' user word */
  void *credential; /* the credential for kind 16 */
} nsuserinfo;

/* A name request: a kind and its text. */
typedef struct nsnamereq {
  int32_t kind; /* ns_req_* */
  const char *text; /* required for kinds 1 and 3 */
} nsnamereq;

/* ---- Building the registry. ---- */

/* Builds the registry of req for the user ui (null: the current user) in
** mode (1: no DBPATH entries) into *out.
** Returns 0 with ctl's asfcode 0 and *out a new registry (pool 1) the
** caller frees with ASF_FreeNSReg; or -1 with asfcode the failure (for
** -25555 the server name in errstr), *out null and nothing left allocated.
** oserr is 0 either way. */
int nsGetRegistry(asfsvcctl *ctl, int mode, const nsuserinfo *ui, const nsnamereq *req,
                  NSReg **out);
/* 0 when the arguments of nsGetRegistry are acceptable, else -25563. */
int nsChkRegArgs(asfsvcctl *ctl, const nsuserinfo *ui, const nsnamereq *req, NSReg **out);

/* Appends the entry of info (database db, server name given by the caller
** or none, omit code omit) to reg; f is the open sqlhosts file.
** Returns 0; -1 (full registry, bad argument, address or login that cannot
** be made); -406; -27004; or an error of the database look-up. On failure
** the registry is as it was. */
int nsAddEntry(fbuf *f, const SvrInfo *info, const char *db, const nsuserinfo *ui, NSReg *reg,
               const char *server, int omit);
/* nsAddEntry for each member of list in order; the first error is returned. */
int nsAddGroup(fbuf *f, const SvrGroup *list, const char *db, const nsuserinfo *ui, NSReg *reg,
               const char *server, int omit);
/* The DBPATH entries for database db; group is the default server's group
** and work a scratch list (left empty). Returns 0, -373 or an add error. */
int nsDoDbpath(fbuf *f, const char *db, const SvrGroup *group, const nsuserinfo *ui, NSReg *reg,
               SvrGroup *work);
/* nsAddEntry with path and omit for each member of group nsOmit accepts. */
int nsDoOmitTest(fbuf *f, const char *path, const SvrGroup *group, const nsuserinfo *ui, NSReg *reg,
                 int omit);
/* The entry of the explicit address of req (kind 1) as entry 0 of reg,
** count 1. Returns 0, -1 (a missing field, no user), -406 or -27004; on
** failure no string is left behind. */
int nsTLGenForm(NSReg *reg, const nsuserinfo *ui, int omit, const nsnamereq *req);
/* Address kind 1 and the address text of info into e: 0, -1 (a back-end
** program path over 260 characters) or -406. */
int nsGenAddr(const SvrInfo *info, NSEntry *e);
/* The login fields of e for the server's host: 0, -1 (no user) or -406.
** REQUIRES: e's options already parsed (the .netrc option). */
int nsGetUsrid(const char *host, const nsuserinfo *ui, NSEntry *e);

/* ---- Database environments and DBPATH. ---- */

/* Splits a database environment into server (NS_SERVER_SIZE bytes) and
** database (NS_DBNAME_SIZE bytes): 0, -909 or -906. */
int parseDbenv(const char *text, char *server, char *db);
/* The "//server/path" or plain path form: 0, -909 or -906. */
int parseSlashDbenv(const char *text, char *server, char *path);
/* The next ':'-separated element of text into element (NS_DBNAME_SIZE
** bytes), *rest after its separator (null after the last).
** Returns 0, or -373 for an element of 260 characters or more. */
int nsGetDbpentry(const char *text, char *element, const char **rest);
/* Splits one DBPATH element for database db into server (NS_SERVER_SIZE
** bytes, empty for none) and path (NS_DBNAME_SIZE bytes): 0 or -373. */
int nsNewDbenv(const char *element, const char *db, char *server, char *path);

/* ---- Small tests. ---- */

/* The real location of db for the local "se" server info: out gets the
** server to use, path (NS_DBNAME_SIZE bytes) the real path, *omit -25558
** when the database's host is not in sqlhosts. 0 or the look-up's error. */
int nsExpandDbn(fbuf *f, const SvrInfo *info, const char *db, SvrInfo *out, int *omit, char *path);
/* 1 when the database at path exists (path + ".dbs", base name lower-cased;
** a path ending in "/" as it is), else 0. */
int nsDbnExist(const char *path);
/* 1 when member must not be added with path, else 0. */
int nsOmit(const SvrInfo *member, const char *path);
/* 1 for a product reached through a gateway program, else 0. */
int nsIsGateway(const char *product);
/* 1 for an "se" server on this host, else 0. */
int nsIsLocalSE(const SvrInfo *info);
/* 1 when host names this machine (its node name, or "localhost"). */
int isLocHost(const char *host);
/* Number of '/' in text. */
int slashCnt(const char *text);

/* Do nothing; return 0. */
int nsInit(void);
int nsTerm(void);
int nsIsTransBridge(void);

/* ---- The login check. ---- */

/* The login check of the server side: 0 when user may log in from host,
** with password (null: none) checked against the passwd or shadow entry,
** or without one on the strength of the host (this host, "localhost", or
** trusted through /etc/hosts.equiv or the user's .rhosts as *security's
** bits 0 and 1 allow). uid, gid and home (room for 64 bytes, as
** ospasswd_t.dir) receive the user's ids and home directory when not
** null. check set requires a host (an empty one is none) and reads the
** shadow entry; without check only the user is looked up. -951
** unknown user, -952 wrong or missing password, -954 no host, -956 host
** not trusted, -406 memory, -1 this host's name unknown. */
int _oschkinternet(const char *user, const char *password, const char *host,
                   const uint8_t *security, int32_t *uid, int32_t *gid, char *home, int check);

/* ---- The .netrc look-up. ---- */

/* Login and password of user for host from the user's ~/.netrc into login
** and password (NS_NETRC_SIZE bytes each; both emptied first). The login
** is the user name when the entry has none or nothing was found.
** Returns 0 (the host has an entry), -1 (no entry, no user, no file) or
** -406. */
int _osnrclookup(const char *host, const char *user, char *login, char *password);
/* Searches the open .netrc f for host: 0 (found; login and password set
** when the entry has them, the first of each) or -1. */
int _osnrcpwd(fbuf *f, const char *host, char *login, char *password);

#ifdef __cplusplus
}
#endif

#endif
