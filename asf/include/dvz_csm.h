/*
** dvz_csm.h: the contract between communication support (asf/css) and a
** communication-support module (CSM), a shared library named in
** concsm.cfg that transforms one connection's messages. CSS finds the
** module's `csm_init` with dlsym, calls it once per configuration line
** when a connection first uses that line, and afterwards reaches the
** module only through the function vector that `csm_init` filled.
**
** This header is C (modules are written in C) and is the only one a
** module needs. Word sizes: the vectors and the information record keep
** their word count and word order, each word pointer-sized (8 bytes on a
** 64-bit host): the function vector is 10 words, the information record
** 79 words. The error block's fields are 32-bit integers and a 256-byte
** text. In-memory records only: nothing here crosses a process.
*/
#ifndef DVZ_ASF_CSM_H
#define DVZ_ASF_CSM_H

#include <stdint.h>

#include "asf_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions. ---- */

/* Version of css_vect that CSS hands to csm_init. */
#define CSS_VECT_VERSION 1
/* Version the function vector must carry after csm_init (it is zeroed
** with this version before the call). */
#define CSM_FUNC_VEC_VERSION 3

/* ---- Step statuses: word 0 (`status`) of the error block after a
** successful create, accept, release or process call. ---- */
#define CSM_STATUS_DONE 1 /* handshake: finished; message: output ready, finished */
#define CSM_STATUS_MORE \
  2 /* handshake: finished, input already pending;
                                    message: output ready, more output from the same input */
#define CSM_STATUS_SEND_REPLY 3 /* send the output, then call again with the reply */
#define CSM_STATUS_SEND_AGAIN 4 /* send the output, then call again at once */
#define CSM_STATUS_NEED_INPUT 5 /* nothing to send: call again with the next input */

/* ---- Module codes: the `code` of a failing call's error block. Codes
** -5013..-5001 are kept as the module gave them; any other code is
** reported as CSM_ERR_UNKNOWN, the module's own code kept beside it. ---- */
#define CSM_ERR_FIRST CSM_ERR_INTERNAL /* lowest kept module code */
#define CSM_ERR_LAST CSM_ERR_INIT /* highest kept module code */

/* ---- Flags. ---- */

/* Directions a connection's module transforms (get_flags). */
#define CSM_FLAG_OUTPUT 1u
#define CSM_FLAG_INPUT 2u
/* Capability bits of a connection that survive only where the module's
** init flags carry them. */
#define CSM_FLAG_CAP1 0x10000u
#define CSM_FLAG_CAP2 0x20000u

/* Size of the text of the error blocks. */
#define CSM_ERRTEXT_SIZE 256

/* A buffer: data and its size in bytes. Its two fields have the layout of
** the first two fields of the association services' message buffer, so
** that such a buffer can be handed over as a csm_buffer. */
typedef struct csm_buffer {
  char *data;
  int32_t size;
} csm_buffer;

/* The block a module fills, one per connection module: the step status
** after success, the failure code and a second code after failure, and a
** text (NUL-terminated within its 256 bytes). */
typedef struct csm_errblk {
  int32_t status;
  int32_t code;
  int32_t code2;
  char text[CSM_ERRTEXT_SIZE];
} csm_errblk;

/* ---- What CSS offers a module. ---- */

/* Memory for everything a module hands to CSS (output buffers above all):
** zeroed allocation, release, resize. surrender does nothing. */
typedef struct css_service_methods {
  void *(*css_malloc)(long size);
  void (*css_free)(void *block);
  void *(*css_realloc)(void *block, long size);
  void (*css_surrender)(void);
} css_service_methods;

/* Buffer records built on css_malloc:
** new: a zeroed record, no data; new_alloc: a record with size zeroed
** bytes; alloc: size zeroed bytes into an existing record (0, or -1;
** size 0 gets no data);
** init: sets data and size; free: frees the data when size is not 0 and
** empties the record; delete: free, then the record itself. */
typedef struct csm_buffer_methods {
  csm_buffer *(*csm_buffer_new)(void);
  csm_buffer *(*csm_buffer_new_alloc)(long size);
  int (*csm_buffer_alloc)(csm_buffer *buffer, long size);
  void (*csm_buffer_init)(csm_buffer *buffer, char *data, long size);
  void (*csm_buffer_free)(csm_buffer *buffer);
  void (*csm_buffer_delete)(csm_buffer *buffer);
} csm_buffer_methods;

/* The service vector handed to csm_init (version CSS_VECT_VERSION). */
typedef struct css_vect {
  long version;
  css_service_methods service;
  csm_buffer_methods buffer;
} css_vect;

/* ---- The information record handed to create and accept. ---- */

#define CSM_CONN_INFO_WORDS 79
/* Words filled from the association services' information values; words
** 2 and 6 and 11..77 are zero when the record is handed over. */
#define CSM_INFO_VALUE_WORDS 11
/* Word 6: a module that has checked the client's login stores 1 here
** during accept (the server's communication-support login mode requires
** it). */
#define CSM_INFO_LOGIN_CHECKED 6
/* Last word: the address of the import vector (csm_import_fv). */
#define CSM_INFO_IMPORTS 78

typedef struct csm_conn_info {
  uintptr_t word[CSM_CONN_INFO_WORDS];
} csm_conn_info;

/* Services of the client library a module may call: the login check of
** the server side and the message-catalog reader. */
typedef struct csm_import_fv {
  int (*oschkinternet)(const char *user, const char *password, const char *host,
                       const uint8_t *security, int32_t *uid, int32_t *gid, char *home, int check);
  int (*rgetmsg)(int32_t number, char *buffer, int16_t size);
} csm_import_fv;

/* The reason handed to abort: a code (0) and a text. */
typedef struct csm_abort_reason {
  long code;
  const char *text;
} csm_abort_reason;

/* ---- The function vector a module fills (an empty slot is skipped).
** Every slot returns 0 on success, else a failure described by the error
** block. handle is the module's connection handle; context the module
** context set by csm_init. Output buffers the module hands out (*output)
** come from css_vect's memory and come back through return_buffer. ---- */
typedef struct csm_func_vec {
  long version;
  /* The descriptor is deleted; result ignored. */
  int (*terminate)(void **context, csm_errblk *err);
  /* Directions transformed (CSM_FLAG_OUTPUT | CSM_FLAG_INPUT); empty: both. */
  int (*get_flags)(void *handle, int32_t *flags, csm_errblk *err);
  /* Client handshake steps; input is null at first. */
  int (*create)(void **handle, void *context, csm_conn_info *info, csm_buffer *input,
                csm_buffer **output, void *caller_arg, const char *parameter, csm_errblk *err);
  /* Server handshake steps. */
  int (*accept)(void **handle, void *context, csm_conn_info *info, csm_buffer *input,
                csm_buffer **output, const char *parameter, csm_errblk *err);
  /* One outgoing message. */
  int (*process_output)(void *handle, csm_buffer *input, csm_buffer **output, csm_errblk *err);
  /* One incoming message (code CSM_ERR_DISCONNECTED: the peer went away). */
  int (*process_input)(void *handle, csm_buffer *input, csm_buffer **output, csm_errblk *err);
  /* Orderly close steps. */
  int (*release)(void **handle, csm_buffer *input, csm_buffer **output, csm_errblk *err);
  /* Abortive close. */
  int (*abort)(void **handle, csm_abort_reason *reason, csm_errblk *err);
  /* CSS is done with a buffer the module handed out. */
  int (*return_buffer)(void *handle, csm_buffer *buffer, csm_errblk *err);
} csm_func_vec;

/* The module's entry point, exported as "csm_init": sets *context and
** *flags, fills the slots of vector (leaving its version at 3) and
** returns 0; else fills err and returns nonzero. options is the line's
** global-options text (may be null). */
typedef int (*csm_init_fn)(void **context, const css_vect *vect, csm_func_vec *vector,
                           const char *options, uint32_t *flags, csm_errblk *err);

#ifdef __cplusplus
}
#endif

#endif
