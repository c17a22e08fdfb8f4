/*
** os_gentcb.h: the general control block of the client library. One
** block per process, made on first use (CheckGenInit), holds the per-process
** state of the value library (current time, today, DBTODAY, digit buffer,
** flags), the two error words through which the value functions and the
** locale layer report their last failure (`toerrno`, `glserror`), and the
** state of the message-catalog reader (os_messages.h).
**
** The block is process-wide and unlocked. Fields owned by other modules are
** written only by them; the catalog fields only by the catalog reader.
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_GENTCB_H
#define DVZ_OSLIB_OS_GENTCB_H

#include <stdint.h>
#include <stdio.h>

#include "os_glsenv.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the catalog path fields (explicit catalog, open name, found path). */
#define GEN_MSG_PATH_SIZE 260
/* Entries of one index block and the size of the block buffer. */
#define GEN_MSG_BLOCK_ENTRIES 8
#define GEN_MSG_BLOCK_SIZE 80
/* Size of the text buffer of _nmsgtext. */
#define GEN_MSG_TEXT_SIZE 160

/* The flag bits of the block. */
enum gen_tcb_flag {
  gen_flag_today_fixed = 0x1,
  gen_flag_dbtoday_reading = 0x2,
  gen_flag_dbtoday_active = 0x4,
  gen_flag_dbtoday_examined = 0x8,
  gen_flag_long_identifiers = 0x10,
  gen_flag_dtenv_read = 0x20,
  gen_flag_dtenv_on = 0x40,
  gen_flag_prec16_on = 0x80,
  gen_flag_prec16_read = 0x100
};

/* The general control block, fields in their fixed order. */
typedef struct gen_tcb {
  dec_t *fixed_now; /* a caller's value standing for the current time */
  int32_t today_key; /* cache key of today's date */
  intrvl_t dbtoday_offset;
  int32_t today;
  int32_t dbtoday_date;
  int32_t toerrno; /* 0 or the error of the last failed value conversion */
  char *digit_buffer;
  int32_t digit_capacity;
  int16_t escape_warning;
  int32_t flags; /* gen_tcb_flag bits */
  int32_t api_error; /* getgenerr */
  int32_t glserror; /* 0 or the error of the last locale failure */
  unsigned char cv_lookahead[5]; /* bytes held back by a conversion */
  int32_t cv_lookahead_len;
  int32_t cv_lookahead_state;
  char *dovarizadir; /* DOVARIZADIR or "/usr/dovariza", a copy made once */
  char msg_explicit[GEN_MSG_PATH_SIZE]; /* _setmsgfile; used for every number */
  FILE *msg_stream; /* stream handed out by rseekmsg */
  int32_t msg_fd; /* open catalog, -1 none */
  int32_t msg_count; /* index entries of the open catalog */
  char msg_open_name[GEN_MSG_PATH_SIZE]; /* the name the catalog was opened by */
  char msg_found_path[GEN_MSG_PATH_SIZE]; /* result of the catalog search */
  int32_t msg_cached_number; /* number whose text is in msg_text, 0 none */
  int16_t msg_wide; /* 1 when the entries are 10 bytes */
  int32_t msg_block_count; /* entries per index block: count, at most 8 */
  int16_t msg_entry_size; /* 8 or 10 */
  char *msg_block; /* the last index block read, GEN_MSG_BLOCK_SIZE bytes */
  int32_t msg_block_entries; /* entries held in msg_block */
  char *msg_text; /* GEN_MSG_TEXT_SIZE bytes, for _nmsgtext */
  int32_t float_type;
  int32_t decimal_calc;
} gen_tcb;

/* The process's block, none until first use. */
extern gen_tcb *gentcb;
/* The current database is ANSI-compliant (gen_setansidb). */
extern int ansidb;

/* A new block, filled by genfill, or NULL when memory is short. */
gen_tcb *gentcb_alloc(void);
/* Zero-fills a block and sets its catalog descriptor to -1. */
void genfill(gen_tcb *block);
/* The process's block, made on first use; NULL when memory is short. */
gen_tcb *CheckGenInit(void);

/* toerrno, making the block if needed; -406 when it cannot be made. */
int get_toerrno(void);
/* Stores toerrno, making the block if needed (nothing when it cannot). */
void set_toerrno(int value);
/* glserror; -406 when there is no block. */
int get_glserror(void);
/* Stores glserror and returns value; -406 when there is no block. */
int set_glserror(int value);
/* The API error word; 0 without a block. */
int getgenerr(void);
/* Sets the long-identifier flag (server version handshake). */
void gset_dbver(void);
/* The long-identifier flag (0 or gen_flag_long_identifiers); 0 without a block. */
int gget_dbver(void);
/* Stores the float type (making the block if needed). */
void dvzGEN_setFloatType(int value);
/* The float type; -1 without a block. */
int dvzGEN_getFloatType(void);
/* Records whether the current database is ANSI-compliant. */
void gen_setansidb(int flag);
/* The connect's saved locale-environment area (glsenv_savearea). */
glsenv_save *CheckSaveAreaInit(void);
/* The API check made when the block is created: always 0. */
int checkGenApi(void);

#ifdef __cplusplus
}
#endif

#endif
