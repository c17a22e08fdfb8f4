/*
** locator.h: the locator `loc_t` through which a program hands a BYTE or
** TEXT value to the runtime or receives one: in memory, in a named file,
** through an open file descriptor or through the program's own functions.
** The program owns the record and fills the kind and the kind's fields
** before use; the runtime moves the bytes. The value library only sizes
** it and tests or sets its NULL indicator.
**
** Header-only, C linkage; an in-memory record that never leaves the
** process.
*/
#ifndef DVZ_GENLIB_LOCATOR_H
#define DVZ_GENLIB_LOCATOR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of locator. */
enum loc_kind { loc_in_memory = 1, loc_in_file = 2, loc_in_fd = 3, loc_in_user = 4 };

/* Open modes of the program's functions. */
enum loc_open_mode { loc_open_read = 1, loc_open_write = 2 };

typedef struct loc_t {
  int16_t kind;
  union {
    struct {
      int32_t buffer_size; /* -1: the runtime allocates the buffer */
      char *buffer;
      char *current; /* next byte to read or write */
      int32_t memory_flags; /* bit 1: buffer allocated by the runtime */
    } mem;
    struct {
      char *file_name; /* trailing blanks ignored */
      int32_t file_mode; /* not read by the runtime */
      int32_t file_fd; /* kind 2: set by the runtime, -1 when closed */
      int32_t file_position; /* end-of-file offset when appending */
    } file;
  } u;
  int32_t indicator; /* -1 NULL, else 0 */
  int32_t sql_type; /* 11 BYTE or 12 TEXT */
  int32_t size; /* bytes of the value; -1 unknown */
  int32_t status; /* 0 or the error of the last operation */
  char *user_data; /* the program's, never read by the runtime */
  int32_t transferred; /* bytes moved since the last open */
  int (*open_fn)(struct loc_t *loc, int mode, int size);
  int (*close_fn)(struct loc_t *loc);
  int (*read_fn)(struct loc_t *loc, char *buffer, int count);
  int (*write_fn)(struct loc_t *loc, char *buffer, int count);
  int32_t open_flags; /* 1 read, 2 write, 4 append, 0x10 whole file, 0x20 */
} loc_t;

#ifdef __cplusplus
}
#endif

#endif
