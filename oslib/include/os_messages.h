/*
** os_messages.h: message catalogs. An error or message number turns into
** its text by finding its catalog file (.iem) under DOVARIZADIR, looking
** the number up in the file's sorted index and reading the text. One
** catalog is open at a time and stays open between look-ups; its last index
** block is kept, so numbers close together cost no further read. State
** lives in the general control block (os_gentcb.h).
**
** The catalog file's layout is in os_catalog_format.h.
**
** Text results are always NUL-terminated in the caller's buffer when its
** size is at least 1. C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_MESSAGES_H
#define DVZ_OSLIB_OS_MESSAGES_H

#include <stdint.h>
#include <stdio.h>

#include "os_catalog_format.h"
#include "os_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The numbers whose texts format the fallbacks: one %s (the catalog's
** leaf name) and one %d (the number). */
enum msg_fallback_number { msg_number_no_file = 32765, msg_number_no_message = 32766 };

/* A leaf name with its terminator fits this many bytes. */
#define MSG_LEAF_SIZE 20

/* One row of a message-file index; an index ends with a row of zeros. */
typedef struct msg_file_row {
  int32_t mark; /* non-zero */
  int32_t low;
  int32_t high;
  const char *leaf;
} msg_file_row;

/* The first rows of the client index (the default) and of the server
** index (the client's rows with the server's leaf names). */
extern const msg_file_row *const _cmfdvz;
extern const msg_file_row *const _smfdvz;
/* The index in use. */
extern const msg_file_row *_mfdvz;
/* The message language directory (DBLANG, or LANG in NLS mode); NULL
** while unknown. */
extern char *msg_langdir;

/* Text of number into buffer (size bytes); length gets the bytes written
** (may be NULL). Returns 0, -1232 when the text was cut or size < 1 (then
** nothing is written), or the look-up's error with a fallback text. */
int rgetlmsg(int32_t number, char *buffer, int16_t size, int32_t *length);
/* As rgetlmsg, searching with locale instead of CLIENT_LOCALE. */
int rgetlmsg_with_locale(int32_t number, char *buffer, int16_t size, int32_t *length,
                         const char *locale);
/* As rgetlmsg. */
int rget_lmsg(int32_t number, char *buffer, int16_t size, int32_t *length);
/* As rgetlmsg, without the length. */
int rgetmsg(int32_t number, char *buffer, int16_t size);
/* The worker of the four above; locale NULL means CLIENT_LOCALE. */
int rgetlmsg_gls(int32_t number, char *buffer, int16_t size, int32_t *length, const char *locale);

/* The text of number in the block's text buffer, looked up only when the
** number differs from the cached one; NULL without a block. */
char *_nmsgtext(int32_t number);
char *mmsgtext(int32_t number);

/* Positions the open catalog's descriptor at the text of number: 0 with
** *length and *fd_out, or an error. stream is not written. */
int lrseekmsg_gls(int32_t number, int32_t *length, FILE **stream, const char *locale, int *fd_out);
/* As lrseekmsg_gls, with a read stream over the catalog positioned at the
** text (owned by the block; -1227 when it cannot be made). */
int lrseekmsg(int32_t number, int32_t *length, FILE **stream);
int rseekmsg(int32_t number, int32_t *length, FILE **stream);

/* Opens a catalog (the explicit one, else the search for name) and reads
** its header, closing any catalog open before. 0, -1230, -1227 or -1229. */
int ropenmsg(const char *name, const char *locale);
/* Path of the first readable catalog called leaf, in the block: NULL when
** no path can be formed, "" when none is readable. locale NULL means
** CLIENT_LOCALE and the language directory. */
char *rmsgfname_gls(const char *leaf, const char *locale);
char *rmsgfname(const char *leaf);
/* Leaf name of |number|'s catalog into name (MSG_LEAF_SIZE bytes): 0, or
** -3 with "os.iem" for a number in no range of the index. */
int rmkmsgleafname(int32_t number, char *name);

/* Binary search of the index of the catalog on fd (count entries,
** block_count entries per block read), keeping the last block read in
** block and its entries in *block_entries. On a hit the descriptor is at
** the text: 0 with *length and *fd_out. -1228 or -1231. */
int gfind_msg(char *block, int32_t number, int entry_size, int32_t *length, int32_t count,
              int32_t block_count, int fd, int32_t *block_entries, int *fd_out);
/* Search of one block of entries: on a hit seeks fd to the text, 0 with
** *length and *fd_out; else -1. */
int gbuf_lookup(const char *block, int32_t number, int entry_size, int32_t *length, int32_t entries,
                int fd, int *fd_out);

/* Fallback texts, cut to size: message 32765 formatted with the leaf name
** of |number| ("Cannot open file '%s'\n" without it), and message 32766
** formatted with number ("Unknown error message number '%d'\n"). */
void rnofile(int32_t number, char *buffer, int16_t size);
void rnomsg(int32_t number, char *buffer, int16_t size);

/* Sets the explicit catalog (NULL or "" clears it): 0, -406, or -1230
** for a path of GEN_MSG_PATH_SIZE bytes or more. */
int _setmsgfile(const char *path);
/* Closes the catalog and its stream, frees the block and text buffers,
** clears the open name and the cached number. */
void rclosemsg(void);
/* Forgets the block buffer and the open name, closes the catalog stream. */
void rmsg_init(void);
/* Clears the open name and the cached number, then selects the server
** ('s') or client ('c') index: 0, or -1 for another letter. */
int gen_resetMessageFindFile(int which);

#ifdef __cplusplus
}
#endif

#endif
