/*
** css_records.h: the records and entry points of communication support's
** static side: the module configuration (concsm.cfg) read into a library
** context of module descriptors, the lexer shared with the connection's
** module specification, module loading, the error block every operation
** fills, and the list, stack and buffer utilities of the layer; and the
** per-connection side: an association's context, its chain of entries
** and states, the handshakes and message processing.
**
** The library context is process-wide, built once by the association
** glue (asf/asfcss) and read by the per-connection side. One thread.
** In-memory records only. C linkage. Internal to asf.
*/
#ifndef DVZ_ASF_CSS_RECORDS_H
#define DVZ_ASF_CSS_RECORDS_H

#include <stdint.h>

#include "asf_errors.h"
#include "dvz_csm.h"

#ifdef __cplusplus
extern "C" {
#endif

/* -14571 (no library context) is PF_ERR_NOCSS (asf_errors.h). */

/* Sizes: a stored identifier (31 characters), a token or line. */
#define CSS_NAME_SIZE 32
#define CSS_TEXT_SIZE 1024

/* ---- Lists, stacks, buffers. ---- */

typedef struct css_list_node {
  struct css_list_node *next;
  struct css_list_node *prev;
  void *data;
} css_list_node;

typedef struct css_list {
  css_list_node *first;
  css_list_node *last;
  int32_t count;
} css_list;

/* Iterator directions. */
enum { CSS_ITER_FORWARD = 1, CSS_ITER_BACKWARD = 2 };

typedef struct css_list_iter {
  css_list *list;
  css_list_node *current;
  int32_t direction;
  int32_t started;
} css_list_iter;

typedef struct css_stack_node {
  struct css_stack_node *next;
  void *data;
} css_stack_node;

typedef struct css_stack {
  css_stack_node *top;
  int32_t depth;
} css_stack;

/* Callbacks of the utilities. */
typedef int (*css_compare_fn)(const void *item, const void *key); /* 0 = match */
typedef void (*css_delete_fn)(void *item);
typedef void (*css_print_fn)(const void *item);

/* ---- The error block every CSS operation fills (callers zero it). ---- */
typedef struct css_errblk {
  int32_t flag; /* disposition reported by message processing */
  int32_t code; /* CSS code, or the kept module code */
  int32_t modcode; /* the module's own code */
  int32_t further; /* the module's second code */
  char parm[CSM_ERRTEXT_SIZE];
} css_errblk;

/* ---- Descriptors and the library context. ---- */

/* Load states of a descriptor. */
enum { CSM_NOT_LOADED = 0, CSM_LOADED = 1, CSM_LOAD_FAILED = 2 };

typedef struct csm_descr {
  char *name;
  int32_t state;
  uint32_t flags; /* set by csm_init */
  char *libpath; /* null: no library specification; may be empty */
  char *gopts;
  char *copts;
  css_list members; /* of csm_descr_ref; non-empty only for a virtual module */
  csm_init_fn init;
  csm_func_vec *vector; /* owned while the state is CSM_LOADED */
  void *context; /* set by csm_init */
  void *library; /* stays empty: libraries are never closed */
} csm_descr;

/* One member of a virtual module. */
typedef struct csm_descr_ref {
  csm_descr *descr;
} csm_descr_ref;

typedef struct csslibctx {
  css_list descrs; /* of csm_descr, in file order */
} csslibctx;

/* ---- The per-connection side: a chain head, module(s), tail. ---- */

/* Kinds of chain entries. */
enum { CSS_KIND_CSM = 0, CSS_KIND_HEAD = 1, CSS_KIND_TAIL = 2 };
/* Phases of a chain entry. */
enum {
  CSS_PHASE_HANDSHAKE = 0,
  CSS_PHASE_ESTABLISHED = 1,
  CSS_PHASE_INSTREAM = 2, /* an in-stream handshake is running */
  CSS_PHASE_CLOSED = 3 /* released or disconnected */
};
/* Sides of an entry on which fresh states were pushed (disabled_side). */
enum { CSS_SIDE_NONE = 0, CSS_SIDE_HEAD = 1, CSS_SIDE_TAIL = 2 };
/* Dispositions of message processing (css_errblk flag). */
enum { CSS_DISP_DONE = 0, CSS_DISP_MORE_OUTPUT = 1, CSS_DISP_MORE_INPUT = 2 };
/* Directions of css_buffer_done. */
enum { CSS_DIR_INPUT = 0, CSS_DIR_OUTPUT = 1 };

struct css_csm_data;

/* One entry's state; the top of its stack is the current one. A new state
** is {0, 1, 0, 1, none, none, none}. */
typedef struct css_csm_state {
  int32_t again; /* 1: call the module again */
  int32_t no_output; /* 1: nothing pending for the next entry */
  int32_t in; /* 1: more output from the present input: call again without new input */
  int32_t enabled; /* 0 while the entries on one side have fresh states */
  csm_buffer *input;
  csm_buffer *output;
  struct css_csm_data *owner; /* who produced output: it goes back there */
} css_csm_state;

/* One chain entry. css_load_csm appends a module's entry; the head and the
** tail are made by the per-connection side. */
typedef struct css_csm_data {
  void *cssctx; /* the owning cssctx */
  csm_descr *descr; /* none for head and tail */
  char *parm; /* connection parameter, owned */
  void *handle; /* the module's connection handle */
  uint32_t flags; /* CSM_FLAG_OUTPUT | CSM_FLAG_INPUT, from get_flags */
  int32_t kind; /* CSS_KIND_* */
  int32_t phase; /* CSS_PHASE_* */
  int32_t disabled_side; /* CSS_SIDE_*: where this entry pushed fresh states */
  csm_errblk errblk; /* the module's block; status starts at 1 */
  css_stack *stack; /* of css_csm_state; never empty; depth in stack->depth */
} css_csm_data;

/* The caller's I/O methods (4 words). done: gives a buffer back (>= 0 on
** success); get: reads into *buffer (>= 0 on success); put: sends buffer,
** returning the number of bytes taken. */
typedef struct css_io_methods {
  void *arg;
  int (*done)(void *arg, csm_buffer *buffer);
  int (*get)(void *arg, csm_buffer **buffer);
  int (*put)(void *arg, csm_buffer *buffer);
} css_io_methods;

/* One association's context: the chain and what message processing
** remembers between calls. */
typedef struct cssctx {
  csslibctx *lib;
  css_list chain; /* of css_csm_data: head, module(s), tail */
  css_csm_data *head;
  css_csm_data *tail;
  css_csm_data *in_end; /* the end whose output was handed out for input */
  css_csm_data *out_end; /* the same for output */
  css_io_methods io;
  int32_t in_disposition;
  int32_t out_disposition;
  int32_t mode; /* 0 client, 1 server */
  void *lock; /* one thread: a no-op lock */
} cssctx;

/* Tells the glue that these entries are declared here. */
#define DVZ_CSS_CONTEXT_API 1

/* A new entry for descr in cssctx (parm not set) with one new state, or
** null. */
css_csm_data *css_csm_data_new(void *cssctx, csm_descr *descr);
/* Frees the entry, its states and its parameter (not the buffers the
** states name); usable as a css_delete_fn. */
void css_csm_data_delete(void *entry);

/* ---- Contexts and message processing (css_context.cpp). All return 0,
** or -1 with err filled. ---- */

/* Builds a context for mode (0 client, 1 server) into *ctx: head, the
** specification's module, tail. */
int css_init_context(cssctx **ctx, csslibctx *lib, css_io_methods *io, const char *spec, int mode,
                     css_errblk *err);
/* Client handshake. *slot receives the context, cleared on failure;
** *enabled the directions and capability bits the module transforms;
** err->flag is 1 when input is already pending. */
int css_create_context(cssctx **slot, csslibctx *lib, css_io_methods *io, csm_conn_info *info,
                       const char *spec, void *caller_arg, uint32_t *enabled, css_errblk *err);
/* Server handshake; as css_create_context. */
int css_accept_context(cssctx **slot, csslibctx *lib, css_io_methods *io, csm_conn_info *info,
                       const char *spec, uint32_t *enabled, css_errblk *err);
/* Runs one outgoing (incoming) message through the chain. *out receives
** the result (may be null); err->flag the disposition (CSS_DISP_*). A
** failure leaves the context as it stands. */
int css_process_out_message(cssctx *ctx, csm_buffer *msg, csm_buffer **out, css_errblk *err);
int css_process_in_message(cssctx *ctx, csm_buffer *msg, csm_buffer **out, css_errblk *err);
/* Gives back the last result of direction (CSS_DIR_*) to its producer. */
int css_buffer_done(cssctx *ctx, csm_buffer *buffer, int direction, css_errblk *err);
/* Orderly close; the context is deleted and *slot cleared either way. */
int css_release_context(cssctx **slot, css_errblk *err);
/* Abortive close; the context is deleted and *slot cleared either way. */
int css_abort_context(cssctx **slot, csm_abort_reason *reason, css_errblk *err);

/* Chain steps, usable on their own by white-box callers. */
/* 1 when entry transforms direction (CSS_DIR_*): slot present and flag. */
int css_csm_is_active(const css_csm_data *entry, int direction);
/* Gives entry's held input back to the owner recorded by prev, the entry
** that produced it. */
int css_return_input_buffer(cssctx *ctx, css_csm_data *entry, css_csm_data *prev, css_errblk *err);
/* Gives a transport buffer back through the caller's done method. */
int css_return_iobuffer(cssctx *ctx, csm_buffer *buffer, css_errblk *err);
/* Gives buffer back to owner: its module's return_buffer slot; nothing
** for head, tail or an empty slot. */
int css_csm_return_buffer(css_csm_data *owner, csm_buffer *buffer, css_errblk *err);
/* Moves entry's output toward the head (pass-through entries). */
int css_cascade_output(cssctx *ctx, css_csm_data *entry, css_errblk *err);
/* Moves the head's output toward entry; 1 when entry got input, 0 when a
** module before it kept it. */
int css_cascade_input(cssctx *ctx, css_csm_data *entry, css_errblk *err);
/* Sends the head's output through the caller's put method and gives it
** back to its owner. */
int css_put_bytes(cssctx *ctx, css_errblk *err);
/* Reads a transport buffer into the head's output. */
int css_get_bytes(cssctx *ctx, css_errblk *err);
/* One step of a message walk in direction (CSS_DIR_*): takes the next
** entry from it after *prev and updates *prev and far. 1: go on, 0: the
** walk ended, -1: failure. */
int css_process_message(cssctx *ctx, css_list_iter *it, css_csm_data **prev, css_csm_data *far,
                        int direction, css_errblk *err);

/* Reader of the configuration file. read_line: the line's length without
** its trailing newline and carriage returns, -1 at the end, -2 for a line
** longer than CSS_TEXT_SIZE - 1 characters (which is consumed whole). */
typedef struct cssio_vector {
  void *(*open)(const char *path);
  int (*read_line)(void *handle, char *buffer, int size);
  void (*close)(void *handle);
} cssio_vector;

/* A static link row: a module name and its init entry. */
typedef struct csm_stat_row {
  const char *name;
  csm_init_fn init;
} csm_stat_row;

/* A lexer token. */
enum { CSS_TOKEN_IDENT = 1, CSS_TOKEN_STRING = 2 };
typedef struct css_token {
  char text[CSS_TEXT_SIZE];
  int32_t kind;
  int32_t delim; /* the character after the token and its blanks; 0 at the end */
} css_token;

/* ---- Memory and vectors for modules. ---- */
void *css_malloc(long size);
void css_free(void *block);
void *css_realloc(void *block, long size);
void css_surrender(void);
const css_vect *css_func_vec_get(void);
csm_func_vec *csm_func_vec_new(void);

/* ---- Buffers. ---- */
csm_buffer *csm_buffer_new(void);
csm_buffer *csm_buffer_new_alloc(long size);
int csm_buffer_alloc(csm_buffer *buffer, long size);
void csm_buffer_init(csm_buffer *buffer, char *data, long size);
void csm_buffer_free(csm_buffer *buffer);
void csm_buffer_delete(csm_buffer *buffer);

/* ---- Lists. ---- */
/* A new empty list, or null. */
css_list *css_list_new(void);
/* Appends data; 0, or -1 when memory runs out. */
int css_list_append(css_list *list, void *data);
/* Deletes every item (delete, or css_free when null) and node; the list
** record stays, empty. */
void css_list_delete_items(css_list *list, css_delete_fn del);
/* css_list_delete_items, then frees the list record; null is ignored. */
void css_list_delete(css_list *list, css_delete_fn del);
/* The first item for which compare(item, key) is 0, or null. */
void *css_list_find_item(css_list *list, css_compare_fn compare, const void *key);
/* Deletes the items match(item, key) accepts (all when match is null)
** through del (css_free when null); mode 1 stops after the first.
** Returns the number deleted. */
int css_list_delete_item(css_list *list, css_compare_fn match, const void *key, css_delete_fn del,
                         int mode);
/* Calls print for every item in order. */
void css_list_print(css_list *list, css_print_fn print);
/* Positions it before the first (forward) or after the last (backward)
** item of list. */
void css_list_iter_init(css_list_iter *it, css_list *list, int direction);
/* The next item in the iterator's direction, or null at the end. */
void *css_list_iter_next(css_list_iter *it);
/* Swaps the direction without moving. */
void css_list_iter_reverse(css_list_iter *it);

/* ---- Stacks. ---- */
css_stack *css_stack_new(void);
/* 0, or -1 when memory runs out. */
int css_stack_push(css_stack *stack, void *data);
/* The top item, removed; null when empty. */
void *css_stack_pop(css_stack *stack);
/* The top item, or null when empty. */
void *css_stack_top(const css_stack *stack);
/* Frees an empty stack (0); a non-empty one is left alone (-1). */
int css_stack_delete(css_stack *stack);
/* Pops every item into del (when not null), then frees the stack. */
void css_stack_dismantle(css_stack *stack, css_delete_fn del);

/* ---- Errors. ---- */
/* Fills err for code with the parameter its format takes from the
** arguments (texts as const char *, numbers as long); returns -1. */
int css_err(css_errblk *err, int32_t code, ...);
/* Copies the module's block into err; returns -1. */
int css_csm_err(css_errblk *err, const csm_errblk *module);

/* ---- Configuration. ---- */
extern const csm_stat_row csm_stat[];
/* The file reader: fopen "r", fgets into CSS_TEXT_SIZE bytes, fclose. */
void cssio_init(cssio_vector *io);
void *css_ioopen(const char *path);
int css_ioread_line(void *handle, char *buffer, int size);
void css_ioclose(void *handle);

/* Reads the file at path into a new library context (*lib). 0, or -1
** with err filled and *lib untouched. */
int css_init(csslibctx **lib, const char *path, css_errblk *err);
/* Deletes *lib (modules with a context get terminate), clears *lib and
** err's code; 0. */
int css_terminate(csslibctx **lib, css_errblk *err);
/* Compiles every line read through io into lib; 0, or -1 with err
** filled at the first failing line. */
int css_compile_csm_list(csslibctx *lib, const cssio_vector *io, void *handle, css_errblk *err);
/* Checks the compiled descriptors; 0, or -1 with err filled. */
int css_verify_csm_list(csslibctx *lib, css_errblk *err);

/* One lexical unit at *pos into token: its length (0: no token), or -1
** for an invalid character. *pos is left on the delimiter. */
int lex_get_unit(const char **pos, css_token *token);
/* Parses one line at *pos into list: 0, or -1 syntax, -2 memory or
** caller identity, -3 duplicate, -4 undefined, -5 no library. */
int csm_descr_parse(css_list *list, csm_descr *current, const char **pos, css_token *token);
/* The options after '(' of descr's definition; as csm_descr_parse. */
int csm_descr_options(csm_descr *descr, const char **pos, css_token *token);
/* The library path that key selects in the library text spec, allocated
** into *path; 0, or -2 when memory runs out. */
int get_csm_libname(const char *spec, const char *key, char **path);
/* Takes the init entry of descr's name from csm_stat; 0, or -1. */
int css_csm_static_link(csm_descr *descr);

/* The descriptor named name (ignoring case), or null. */
csm_descr *css_find_csm_descr(css_list *list, const char *name);
/* The connection's module list: its next module name into name
** (CSS_NAME_SIZE bytes): its length, 0 when there is none, -1 when a
** quoted string or an invalid character stands there. */
int css_get_csm_name(char *name, const char **pos);
/* The module list's optional quoted parameter into parm
** (CSS_TEXT_SIZE bytes): its length (0: none), or -1. */
int css_get_csm_parm(char *parm, const char **pos);

/* Loads descr (each member of a virtual one) for a connection and
** appends its entry to conn_list; 0, or -1 with err filled. */
int css_load_csm(void *cssctx, csm_descr *descr, css_list *conn_list, const char **pos,
                 css_errblk *err);
/* Opens descr's library and takes its csm_init; 0, or -1 with err filled
** and the load state set to failed. */
int css_load_library(csm_descr *descr, css_errblk *err);
/* Deletes a descriptor (a css_delete_fn). */
void csm_descr_ldelete(void *descr);
/* Printers of descriptors and member references: they print nothing. */
void csm_descr_print(const void *descr);
void csm_descr_ref_print(const void *ref);

#ifdef __cplusplus
}
#endif

#endif
