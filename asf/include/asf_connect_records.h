/*
** asf_connect_records.h: the records of a connect that the association
** services share with their callers: the connect parameters
** (`ascbinreq` with its pairs `ascpairs`) and the protocol-family request
** (`pfrequest`) with its records, the connect kind (`pfconkind`), the
** status record or string list (`pfstatus`) and the opaque run
** (`pfopaque`). The runtime fills them for a connect request (request
** words 7 and 9) and reads the server's from words 10 and 12.
**
** In-memory records in host order and word size; the codec writes and
** reads their wire forms field by field. Header-only, C linkage.
*/
#ifndef DVZ_ASF_CONNECT_RECORDS_H
#define DVZ_ASF_CONNECT_RECORDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ASC_PROGNAME_SIZE 12
#define ASC_NAME_SIZE 8 /* product and protocol names of the pairs */

/* The connect pairs (28 bytes on the wire of the save record). */
typedef struct ascpairs {
  char product[ASC_NAME_SIZE]; /* product name, "" for the default */
  int32_t level; /* -1 for the default */
  char protocol[ASC_NAME_SIZE]; /* protocol name, "" for the default */
  int32_t version; /* -1 for the default */
  int32_t word; /* not sent */
} ascpairs;

/* Connect parameters. Strings are NUL-terminated or null. */
typedef struct ascbinreq {
  char progname[ASC_PROGNAME_SIZE]; /* "sqlexec", "ruzodu", "srvdvz" */
  char *version; /* client version */
  char *clientid; /* client identification */
  char *pfname; /* protocol family, "sqli" */
  int32_t word[3]; /* 311, 0, 0 from the runtime */
  int32_t userkind; /* 0 none, 1 user and password, 16 credential */
  char *user;
  char *password;
  int32_t userword; /* not sent */
  void *credential; /* not sent */
  ascpairs pairs; /* product/level and protocol/version; pairs.word not sent */
  int32_t lastword; /* not sent */
} ascbinreq;

/* Connect kinds of a pfconkind. */
enum {
  asc_kind_create = 1,
  asc_kind_open = 2,
  asc_kind_start = 3,
  asc_kind_distopen = 4,
  asc_kind_drop = 5,
  asc_kind_nodb = 6,
  asc_kind_dblist = 7,
  asc_kind_tape = 8, /* parsed only */
  asc_kind_version = 9, /* parsed only */
  asc_kind_x = 10, /* written only */
  asc_kind_connect = 11
};

/* Flag bits of a pfconkind. */
enum {
  asc_flag_logword = 0x1, /* log argument given by a word not starting with "-" */
  asc_flag_logpath = 0x2, /* log argument given as a path */
  asc_flag_exclusive = 0x4, /* "-e" */
  asc_flag_grouparg = 0x10, /* group given as "-gr" */
  asc_flag_distn = 0x40, /* "-n" of kind 4 */
  asc_flag_logl = 0x80, /* "-l" */
  asc_flag_buffered = 0x800, /* "-b", kind 1 only */
  asc_flag_loga = 0x1000000 /* "-a" */
};

/* The string fields of a pfconkind, in wire order. */
enum {
  asc_str_server = 0,
  asc_str_dbname = 1,
  asc_str_logarg = 2,
  asc_str_logfile = 3,
  asc_str_grouparg = 4,
  asc_str_group = 5,
  asc_str_count = 6
};

/* The connect kind of a type-1 protocol-family request. */
typedef struct pfconkind {
  int32_t kind; /* asc_kind_* */
  int32_t flags; /* asc_flag_* */
  char *str[asc_str_count]; /* indexed by asc_str_*; null when absent */
} pfconkind;

/* One message entry of the status record. */
typedef struct pfmsgent {
  int32_t offset; /* error offset (16 bits on the wire) */
  int32_t length; /* bytes at text */
  char *text; /* message bytes, or null */
} pfmsgent;

/* A string list. */
typedef struct pfstrlist {
  int32_t count;
  char **str; /* count strings, each may be null */
} pfstrlist;

/* The record of a type-2 protocol-family request. Sub-kind 2 is the status
** record (raw .. msgs); any other sub-kind carries list. */
typedef struct pfstatus {
  int32_t subkind;
  unsigned char raw[6];
  int32_t errnum; /* 16 bits on the wire */
  int32_t isamerr; /* 16 bits on the wire */
  int32_t warnbits; /* 16 bits on the wire */
  int32_t count; /* message entries at msgs */
  pfmsgent *msgs;
  pfstrlist *list; /* sub-kinds other than 2 */
} pfstatus;

/* The record of a type -1 protocol-family request. */
typedef struct pfopaque {
  void *bytes;
  int32_t length;
} pfopaque;

/* Types of a pfrequest. */
enum { asc_pf_conkind = 1, asc_pf_status = 2, asc_pf_opaque = -1 };

/* A protocol-family request: type and a reference to its record
** (pfconkind, pfstatus or pfopaque). */
typedef struct pfrequest {
  int16_t type;
  void *rec;
} pfrequest;

/* Sub-kinds of a pfstatus. */
enum { asc_sub_list = 1, asc_sub_status = 2 };

#ifdef __cplusplus
}
#endif

#endif
