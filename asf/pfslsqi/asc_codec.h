/*
** asc_codec.h: the connect request and response codec of the SQLI protocol
** family (its records, shared with the runtime, are in
** asf_connect_records.h). The peer format (`pfdatafmt`) and the record of
** section 109 (`ascmrec`); the binary form (asc_binary.cpp),
** the text form, the text-request parser and the old-protocol replies
** (asc_text.cpp), and the builder of a whole connect request.
**
** Callers: the protocol family (connect, indication, response), the
** session layer (the text-form header prefix) and the connection manager
** (it frees what a read returned). In-memory records follow the host word
** size; the wire forms are written and read field by field, big-endian.
** Every failure returns -1 and leaves its status in ctl->asfcode.
*/
#ifndef DVZ_ASF_ASC_CODEC_H
#define DVZ_ASF_ASC_CODEC_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_connect_records.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "os_env.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Status values the codec leaves in asfcode. */
/* Malformed or truncated data, or a write that does not fit. */
#define ASC_ERR_PROTOCOL ASF_ERR_PROTOCOL
/* Output references missing, or a request of the wrong type. */
#define ASC_ERR_NOOUTPUT ASF_ERR_ARGUMENT

/* Modes of the codec's entry points. */
enum { asc_mode_write = 1, asc_mode_read = 2 };

/* Section codes of the binary form. */
enum {
  asc_sec_start = 100,
  asc_sec_level = 101, /* "e": level and float format */
  asc_sec_status = 102, /* "f" */
  asc_sec_strlist = 103, /* "g" */
  asc_sec_conkind = 104, /* "h" */
  asc_sec_opaque = 105, /* "i" */
  asc_sec_env = 106, /* "j" */
  asc_sec_proc = 107, /* "k" */
  asc_sec_params = 108, /* "l" */
  asc_sec_text = 109, /* "m": the text form's packed parameters */
  asc_sec_bind = 110, /* start of a bind response */
  asc_sec_final = 111, /* start of the final response after a bind */
  asc_sec_ids = 116, /* "t": user and group ids */
  asc_sec_end = 127
};

/* Sizes of the connect request. */
#define ASC_REQUEST_BUFSIZE 2056 /* the request buffer */
#define ASC_REQUEST_MAX 2050 /* the largest request that fits a header */
#define ASC_HEADER_MAX 2056 /* the largest header length */
#define ASC_MAX_LISTED 120 /* names of a string list sent or taken */
#define ASC_FLOAT_FORMAT "IEEEM"

/* Form flags of a built request, as the session layer takes them. */
enum { asc_form_text = 256, asc_form_binary = 512 };

/* The peer's data format. word[3] is the float format (0 "IEEEM", 16 any
** other name, 1 none sent); word[4] is set by the text-form reader only. */
typedef struct pfdatafmt {
  int32_t word[6];
} pfdatafmt;

/* Section 109 of the text form: what the command line cannot carry. */
typedef struct ascmrec {
  int32_t level;
  ascpairs pairs; /* pairs.word is not carried */
  int32_t word[3]; /* the three words of the connect parameters */
  char progname[ASC_PROGNAME_SIZE];
  char *pfname; /* protocol family, or null */
  int32_t kind; /* connect kind */
  int32_t flags; /* connect flags */
  char *server; /* first string of the pfconkind, or null */
} ascmrec;

/* ---- Binary form (asc_binary.cpp). ---- */

/* Mode 1: writes sections 101, 108 and the optional sections at buf->p
** within buf->size bytes from *level, *params, *request, *envlist (each of
** the last two may be null) and procinfo (may be null); buf->size becomes
** the bytes written. Mode 2: reads buf->size bytes at buf->p; *level gets
** the peer's level, *params a new record, *request, *envlist and *procinfo
** (each reference may be null) what the optional sections carry, *fmt the
** peer format; buf->p and buf->size then stand behind what was read (the
** end code 127 is left unread). 0, or -1 with the status in ctl->asfcode.
** Records a failed read made stay with the caller's references. */
int ascBinary(asfsvcctl *ctl, int mode, rscbufctl *buf, int32_t *level, ascbinreq **params,
              pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo, pfdatafmt *fmt);

/* The optional sections at *cursor. Mode 1: *count is the bytes used so
** far and room the limit. Mode 2: *count is the bytes left. Advances
** *cursor and updates *count; 0 or -1 (status in ctl->asfcode). */
int ascOptBin(asfsvcctl *ctl, int mode, char **cursor, int32_t *count, int32_t room,
              pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo);

/* The 6-bit text form. Mode 1: writes section 109 from mrec when *code is
** not 101, else the binary sections through ascBinary; then 127; then
** replaces the content at buf->p with its 6-bit text within buf->size
** bytes (-406 when it does not fit); buf->size becomes the text length.
** Mode 2: decodes buf->size characters at buf->p and reads either form,
** setting *code to 101 or 109 (mrec, whose strings are new, is then
** filled). 0 or -1. */
int ascScatter(asfsvcctl *ctl, int mode, rscbufctl *buf, int32_t *code, ascmrec *mrec,
               int32_t *level, ascbinreq **params, pfrequest **request, evlist_t **envlist,
               asfprocinfo *procinfo, pfdatafmt *fmt);

/* ---- Text form, parser and old-protocol replies (asc_text.cpp). ---- */

/* Mode 1: writes the text request at buf->p within buf->size bytes from
** *params, *request (type 1), *envlist (may be null), *level and procinfo;
** buf->size becomes its length including the final NUL. Mode 2: parses the
** NUL-terminated text request of buf->size bytes (the NUL at buf->p +
** buf->size) into new records, as ascBinary mode 2. 0 or -1. */
int ascString(asfsvcctl *ctl, int mode, rscbufctl *buf, int32_t *level, ascbinreq **params,
              pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo, pfdatafmt *fmt);

/* Items 1 to 8 of the text request at buf->p within buf->size bytes: login
** is the password word ("-p" and the password) or "", options the option
** words. buf->size becomes the text length including the NUL. 0, or -1
** with -406 when the text or an environment item does not fit. */
int build50aros(asfsvcctl *ctl, rscbufctl *buf, const char *login, const ascbinreq *params,
                const char *options, const evlist_t *envlist);

/* Appends " name=value" to the NUL-terminated text buf: 0, or -1 (buf
** unchanged) when the text with the item would reach room. */
int _ienvcat(char *buf, int room, const char *name, const char *value);

/* 1 when the user or password holds a blank, or an environment name or
** value a blank or "=": the text form cannot carry them. Else 0. */
int needAscBinary(const ascbinreq *params, const evlist_t *envlist);

/* Old-protocol reply for a connect of kind. Mode 2 reads buf (see
** ascBinary mode 2; *request gets a new type-2 record); mode 1 writes the
** reply from *request (type 2, else -25569) at buf->p within buf->size;
** buf->size becomes the bytes written. 0 or -1. A reading caller leaves
** the session layer's status (7 for a reject) in ctl->asfcode. */
int asc50resp(asfsvcctl *ctl, int kind, int mode, rscbufctl *buf, int32_t *level,
              ascbinreq **params, pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo,
              pfdatafmt *fmt);

/* Largest number of words of a parsed text request. */
#define ASC_MAX_WORDS 1100

/* Cuts the text request in buf into words in place (blanks and newlines
** separate; runs count as one): the word count (at most max, words[0..]),
** or -1 when the byte at buf->p + buf->size is not 0 or there are more
** than max words. */
int parse_request(rscbufctl *buf, char **words, int max);

/* Fills conkind (a new, zeroed record the caller owns) from the option
** words, counted from 1: words[4] is the fifth. 0, or -1 with -408 for an
** unknown option or too few words. */
int pfchkarg4(asfsvcctl *ctl, pfconkind *conkind, int count, char **words);

/* ---- The whole connect request. ---- */

/* Builds a client's connect request into buf (room buf->size, at most
** ASC_REQUEST_BUFSIZE): the text form when request is type 1, the program
** is "sqlexec" or "srvdvz" and needAscBinary finds nothing; otherwise code
** 100, the binary sections and 127. *form gets asc_form_text or
** asc_form_binary, buf->size the request length. 0, or -1: -25563 for a
** request of a type other than 1 or -1, -408 for a request longer than
** ASC_REQUEST_MAX (nothing may then be sent), or the writer's status. */
int ascBuildRequest(asfsvcctl *ctl, rscbufctl *buf, int32_t level, ascbinreq *params,
                    pfrequest *request, evlist_t *envlist, asfprocinfo *procinfo, int *form);

/* ---- Freeing what a read returned (all accept null). ---- */

/* Frees the record and its strings. */
void ascFreeParams(ascbinreq *params);
/* Frees the request, its record and everything the record owns. */
void ascFreeRequest(pfrequest *request);
/* Frees the list record with its names and values. */
void ascFreeEnvlist(evlist_t *envlist);
/* Frees the host, terminal and directory strings; the record stays. */
void ascFreeProcinfo(asfprocinfo *procinfo);
/* Frees the protocol-family name and server strings; the record stays. */
void ascFreeMrec(ascmrec *mrec);

#ifdef __cplusplus
}

#include <cstring>

/* Cursors over a wire area, shared by the two codec files. A write
** succeeds only when at least one byte of room remains after the field;
** a read only when the field's bytes are all there. Both stop for good at
** the first failure. */
namespace asc_wire {

struct Writer {
  char *p;
  int32_t used;
  int32_t room;
  bool ok = true;

  bool fits(int32_t n) {
    if (ok && (n < 0 || n >= room - used)) ok = false;
    return ok;
  }
  void bytes(const void *from, int32_t n) {
    if (!fits(n)) return;
    if (n > 0) std::memcpy(p + used, from, static_cast<size_t>(n));
    used += n;
  }
  void u16(uint32_t v) {
    unsigned char b[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    bytes(b, 2);
  }
  void u32(uint32_t v) {
    unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    bytes(b, 4);
  }
  /* A string: BE16 length counting the NUL, the bytes and the NUL; null
  ** is a BE16 0 alone. */
  void str(const char *s) {
    if (s == nullptr) return u16(0);
    size_t n = std::strlen(s) + 1;
    if (n > 0xFFFF) {
      ok = false;
      return;
    }
    if (!fits(static_cast<int32_t>(n) + 2)) return;
    u16(static_cast<uint32_t>(n));
    bytes(s, static_cast<int32_t>(n));
  }
};

struct Reader {
  const unsigned char *p;
  int32_t left;
  bool ok = true;

  bool has(int32_t n) {
    if (ok && (n < 0 || n > left)) ok = false;
    return ok;
  }
  void skip(int32_t n) {
    if (!has(n)) return;
    p += n;
    left -= n;
  }
  uint32_t u16() {
    if (!has(2)) return 0;
    uint32_t v = (static_cast<uint32_t>(p[0]) << 8) | p[1];
    skip(2);
    return v;
  }
  int32_t i16() { return static_cast<int16_t>(static_cast<uint16_t>(u16())); }
  uint32_t peek16() const {
    return left >= 2 ? (static_cast<uint32_t>(p[0]) << 8) | p[1] : 0xFFFFFFFFu;
  }
  int32_t i32() {
    if (!has(4)) return 0;
    uint32_t v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                 (static_cast<uint32_t>(p[2]) << 8) | p[3];
    skip(4);
    return static_cast<int32_t>(v);
  }
  void bytes(void *to, int32_t n) {
    if (!has(n)) return;
    if (n > 0) std::memcpy(to, p, static_cast<size_t>(n));
    skip(n);
  }
};

/* Leaves status in ctl unless a more specific failure of the codec is
** there already (memory, bad arguments, missing outputs); returns -1. */
inline int fail(asfsvcctl *ctl, int32_t status) {
  if (ctl != nullptr && ctl->asfcode != ASF_ERR_MEMORY && ctl->asfcode != ASF_ERR_BADARGS &&
      ctl->asfcode != ASC_ERR_NOOUTPUT)
    ctl->asfcode = status;
  return -1;
}

/* Sets status whatever was there; returns -1. */
inline int fail_hard(asfsvcctl *ctl, int32_t status) {
  if (ctl != nullptr) ctl->asfcode = status;
  return -1;
}

/* True when name may stand in a request's environment list: present, not
** empty and without "=", which would end the name where the value begins
** once the list becomes environment entries. */
inline bool env_name_ok(const char *name) {
  return name != nullptr && name[0] != '\0' && std::strchr(name, '=') == nullptr;
}

/* Clears procinfo for a read: everything 0, the ids -1. */
inline void clear_procinfo(asfprocinfo *procinfo) {
  std::memset(procinfo, 0, sizeof *procinfo);
  procinfo->pid = -1;
  procinfo->word2 = -1;
  procinfo->uid = -1;
  procinfo->gid = -1;
}

}  // namespace asc_wire
#endif

#endif
