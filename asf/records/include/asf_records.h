/*
** asf_records.h: the records the association services share with the
** runtime: the request record of a service call (`asfsvcreq`), the message
** buffer lent for sending and handed over on receipt (`rscbufctl`), and the
** name-service registry (`NSReg` of `NSEntry`, each carrying the parsed
** sqlhosts options `SqlhOptions`) that the directory service returns.
**
** In-memory records in host order and word size; none leaves the process.
** Header-only, C linkage; the association services own the operations.
*/
#ifndef DVZ_ASF_RECORDS_H
#define DVZ_ASF_RECORDS_H

#include <stdint.h>

#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The request record of a service call: word 0 the service code, words 1
** to 23 the argument block. A word is a host word, wide enough to hold an
** address. */
#define ASF_REQUEST_WORDS 24
typedef struct asfsvcreq {
  uintptr_t word[ASF_REQUEST_WORDS];
} asfsvcreq;

/* The 16-bit value kept in the first half (lowest addresses) of a request
** word: send and receive word 2. Read and written byte-wise so that the
** rest of the word is left as it is. */
static inline int16_t asf_req_half(const asfsvcreq *req, int word) {
  const unsigned char *p = (const unsigned char *)&req->word[word];
  int16_t v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
static inline void asf_req_set_half(asfsvcreq *req, int word, int16_t value) {
  unsigned char *p = (unsigned char *)&req->word[word];
  __builtin_memcpy(p, &value, sizeof value);
}

/* A message buffer. The services set type to -1 when they hand a buffer
** to the caller. */
typedef struct rscbufctl {
  char *p; /* start of the data */
  int32_t size; /* bytes of data (filled) or room (empty) */
  int32_t type; /* buffer type */
  struct rscbufctl *next; /* next buffer of a chain */
  char *buff; /* start of the allocation */
  int32_t lbuff; /* length of the allocation */
  int32_t p_offset; /* room kept in front of the data for the session header */
} rscbufctl;

/* Sizes of the name fields of the sqlhosts options. */
#define ASF_SQLH_NAME_SIZE 129

/* The parsed option field of a sqlhosts line. */
typedef struct SqlhOptions {
  uint8_t security; /* s: bit 0 hosts.equiv trusted, bit 1 .rhosts trusted */
  uint8_t netrc; /* r: bit 0 the password may come from .netrc */
  uint32_t keepalive; /* k: bit 0 keep-alive on */
  int32_t bufsize; /* b: transport buffer size, 0 when not set */
  uint8_t multiplex; /* m: non-zero, the connection may be multiplexed */
  char group[ASF_SQLH_NAME_SIZE]; /* g: the group this server belongs to */
  char endgroup[ASF_SQLH_NAME_SIZE]; /* e: the last member of this group */
  uint8_t redirect; /* c: bit 0 start at a random member */
  int32_t ident; /* i: identifier */
  char *csm; /* csm: communication-support text (pool 1), or none */
} SqlhOptions;

/* One candidate server of a registry. */
typedef struct NSEntry {
  char product[8]; /* "ol", "on", "se"...; empty for an explicit address */
  char protocol[8]; /* interface and protocol, "tlitcp"... */
  char *servername; /* server name, or none */
  char *dbpath; /* database name or path to open there, or none */
  int32_t addrkind; /* 1: addrtext is a transport address text */
  char *addrtext; /* host "|" service "|" protocol, or none */
  int32_t loginkind; /* 1 user and password, 16 credential, 17 current user */
  char *user; /* user name, or none */
  char *password; /* password, or none */
  uint32_t userword; /* the caller's further user word */
  void *credential; /* the caller's credential for login kind 16 */
  int32_t omit; /* 0, or the error that makes the entry skipped */
  SqlhOptions options; /* the server's sqlhosts options */
} NSEntry;

/* Largest number of entries of a registry. */
#define NS_MAX_ENTRIES 101

/* The name-service registry: count entries in order. */
typedef struct NSReg {
  int32_t count;
  NSEntry entry[NS_MAX_ENTRIES];
} NSReg;

#ifdef __cplusplus
}
#endif

#endif
