/*
** asf_sqlhosts.h: the sqlhosts file and the small-file reader of the
** association services. The buffered reader `fbuf` reads the sqlhosts,
** .netrc and trusted-host files; the sqlhosts services read entries
** (`SvrInfo`), find a server, expand a server group and parse the option
** field into `SqlhOptions` (asf_records.h). The name service and the
** transport drivers are the callers. C linkage.
*/
#ifndef DVZ_ASF_SQLHOSTS_H
#define DVZ_ASF_SQLHOSTS_H

#include <stddef.h>
#include <stdint.h>

#include "asf_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the buffer of an fbuf. */
#define ASF_FBUF_SIZE 4096

/* A buffered input file. */
typedef struct fbuf {
  unsigned char *buffer; /* ASF_FBUF_SIZE bytes */
  int32_t bufsize; /* ASF_FBUF_SIZE */
  int32_t pos; /* next byte of the buffer; -1 nothing loaded */
  int32_t last; /* the character read last, 0-255; -1 after the end of the data */
  int32_t pool; /* the open's pool flag */
  int32_t fd; /* descriptor, -1 when none */
  int32_t loaded; /* bytes of data in the buffer */
} fbuf;

/* One sqlhosts entry. */
typedef struct SvrInfo {
  char name[129]; /* server name */
  char nettype[17]; /* connection type */
  char product[9]; /* from the nettype: "on", "ol"... */
  char protocol[7]; /* from the nettype: "tlitcp", "ipcshm"... */
  char host[257];
  char service[129];
  char options[258]; /* the rest of the line */
} SvrInfo;

/* A node of a group list; its owner frees the nodes. */
typedef struct SvrGroupNode {
  SvrInfo info;
  struct SvrGroupNode *next;
} SvrGroupNode;

/* A server group: its members in order. */
typedef struct SvrGroup {
  int32_t count;
  SvrGroupNode *first;
} SvrGroup;

/* ---- Unbuffered file primitives. ---- */

/* Opens path: "r" read-only, "w" write-only, "a" write-only appending
** (created with mode 0644), other modes read-write; the descriptor or -1. */
int asf_fopen(const char *path, const char *mode);
/* close(fd). */
int asf_fclose(int fd);
/* Seeks fd to its start: 0 or -1. */
int asf_rewind(int fd);
/* One read of size * count bytes: its result. */
int asf_fread(void *buf, int size, int count, int fd);

/* ---- Buffered reader. ---- */

/* Opens path with mode: a new fbuf, or null (memory, or no file). */
fbuf *asf_opfbuf(const char *path, const char *mode, int pool);
/* Frees f and closes its file: the close's result (0 for null). */
int asf_clfbuf(fbuf *f);
/* Loads the next buffer: 0, or -1 when nothing could be read. */
int asf_ldfbuf(fbuf *f);
/* Back to the start of the file. */
void asf_rwfbuf(fbuf *f);
/* The next line after white space into out (at most max characters and a
** NUL), its new line consumed: its length, or -1 at the end. */
int asf_fgetline(fbuf *f, char *out, int max);
/* The next white-space separated token into out (at most size - 1
** characters and a NUL): its length, or -1 at the end. */
int asf_ftoken(fbuf *f, char *out, int size);
/* The next token of the text at *pos into out (at most max characters and
** a NUL), *pos moved after it: its length, or -1 when only white space is
** left. */
int asf_stoken(char **pos, char *out, int max);

/* ---- sqlhosts. ---- */

/* The sqlhosts file opened, or null. */
fbuf *openSqlhosts(int pool);
fbuf *ASF_OpenHosts(int pool);
/* Closes it: asf_clfbuf's result. */
int closeSqlhosts(fbuf *f);
int ASF_CloseHosts(fbuf *f);
/* The next entry into info: 0, or -1 (end of file, bad arguments). */
int ASF_ReadHosts(fbuf *f, SvrInfo *info);
int readSqlhosts(fbuf *f, SvrInfo *info);
/* Empties the fields of info. */
void initSvrInfo(SvrInfo *info);
/* 0 when info is a valid entry, else -1. */
int chkSvrInfo(const SvrInfo *info);
int ASF_ChkSvrInfo(const SvrInfo *info);
/* The entry of server (DOVARIZASERVER when empty) from f (the sqlhosts
** file when null) into info: 0, -25560, -25554, -25553, -25556, -25596 or
** -25555. */
int getSvrInfo(fbuf *f, const char *server, SvrInfo *info);
int ASF_GetSvrInfo(fbuf *f, const char *server, SvrInfo *info);
/* The members of the group whose entry is group into list: 0 or an error
** as getSvrInfo's, or -27004 / -406 from the options. */
int GetSvrGroup(fbuf *f, const char *name, const SvrInfo *group, SvrGroup *list);
int ASF_GetSvrGroup(fbuf *f, const char *name, const SvrInfo *group, SvrGroup *list);
/* Frees the nodes of list and empties it. */
void ASF_FreeSvrGroup(SvrGroup *list);
/* A non-negative pseudo-random number. */
int asf_rand(void);

/* ---- Options. ---- */

/* The option field of info into opts: 0, -27004 or -406. */
int ASF_ParseSqlhOptions(const SvrInfo *info, SqlhOptions *opts);
int ParseSqlhOptions(const SvrInfo *info, SqlhOptions *opts);
/* Splits text in place into at most max key=value parameters: their
** number, or -1. */
int ASF_parmslist_parse(int max, char **keys, char **values, char *text);
int parmslist_parse(int max, char **keys, char **values, char *text);
/* The value of a text of digits up to 2147483647, or -1. */
int asf_atoposi(const char *text);

/* ---- Other entries. ---- */

/* Stores 10 in *word: 0, or -1 for null. */
int ASF_BufferHeader(int *word);
/* 0. */
int check_for_valid_connect_thread(void);
int check_for_valid_thread(void);

#ifdef __cplusplus
}
#endif

#endif
