/*
** The communication-support test module: a shared library loaded by the
** CSS tests through concsm.cfg, in C as modules are. It XORs every byte of
** a message with a key in both directions, runs a one-token-each-way
** handshake, and fails on demand as its options say (README.md beside it
** lists the options, tokens and counters).
**
** Options are blank-, ',' or ';'-separated words key=value (numbers in
** C notation) read from the global-options text at init and, for one
** connection, from its parameter on top of them. Output buffers come from
** CSS's memory and are counted when made and when handed back.
*/
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "dvz_csm.h"
#include "test_module.h"

#define EXPORT __attribute__((visibility("default")))

/* Behaviour switches. 0 means off for the message numbers. */
typedef struct options {
  long xor_key;
  long init_error;
  long version;
  long init_flags;
  long get_flags;
  long no_get_flags;
  long create_status;
  long need_more;
  long more_output;
  long disconnect;
  long abort_fail;
  long instream;
  long instream_status;
  long no_login_mark;
} options;

/* The module context: the service vector and the line's options. */
typedef struct module {
  const css_vect *vect;
  options opts;
} module;

/* One connection: its options, its handshake step and message count,
** input held for "need more", and the rest of a split output. */
typedef struct connection {
  const css_vect *vect;
  options opts;
  int step;
  long messages;
  char *held;
  long held_size;
  char *rest;
  long rest_size;
  int rekey; /* in-stream handshake: 0 not yet, 1 token sent, 2 done */
} connection;

static test_module_counts counts;

EXPORT void test_module_get_counts(test_module_counts *out) { *out = counts; }
EXPORT void test_module_reset_counts(void) { memset(&counts, 0, sizeof counts); }

/* Fills err with code and text; returns -1. */
static int fail(csm_errblk *err, int code, const char *text) {
  err->code = code;
  err->code2 = 7;
  strncpy(err->text, text, sizeof err->text - 1);
  err->text[sizeof err->text - 1] = '\0';
  return -1;
}

/* The option field named by the word's key, or NULL. */
static long *option_field(options *opts, const char *key, size_t length) {
  static const struct {
    const char *key;
    size_t offset;
  } fields[] = {
      {"xor", offsetof(options, xor_key)},
      {"init_error", offsetof(options, init_error)},
      {"version", offsetof(options, version)},
      {"init_flags", offsetof(options, init_flags)},
      {"get_flags", offsetof(options, get_flags)},
      {"no_get_flags", offsetof(options, no_get_flags)},
      {"create_status", offsetof(options, create_status)},
      {"need_more", offsetof(options, need_more)},
      {"more_output", offsetof(options, more_output)},
      {"disconnect", offsetof(options, disconnect)},
      {"abort_fail", offsetof(options, abort_fail)},
      {"instream", offsetof(options, instream)},
      {"instream_status", offsetof(options, instream_status)},
      {"no_login_mark", offsetof(options, no_login_mark)},
  };
  for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
    if (strlen(fields[i].key) == length && strncmp(fields[i].key, key, length) == 0)
      return (long *)((char *)opts + fields[i].offset);
  return NULL;
}

/* Reads text (NULL: nothing) into opts; 0, or -1 for an unknown key or a
** word that is not key=number. */
static int read_options(const char *text, options *opts) {
  if (text == NULL) return 0;
  const char *p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == ',' || *p == ';')
      ++p;
    if (*p == '\0') return 0;
    const char *key = p;
    while (*p != '\0' && *p != '=' && *p != ' ' && *p != '\t' && *p != ',' && *p != ';')
      ++p;
    if (*p != '=') return -1;
    long *field = option_field(opts, key, (size_t)(p - key));
    if (field == NULL) return -1;
    char *end = NULL;
    *field = strtol(p + 1, &end, 0);
    if (end == p + 1) return -1;
    p = end;
  }
}

/* A new output buffer of size bytes from CSS's memory, counted. */
static csm_buffer *new_output(const css_vect *vect, const char *data, long size) {
  csm_buffer *buffer = vect->buffer.csm_buffer_new_alloc(size);
  if (buffer == NULL) return NULL;
  if (size > 0) memcpy(buffer->data, data, (size_t)size);
  ++counts.buffers_made;
  return buffer;
}

static void free_connection(connection *c) {
  if (c == NULL) return;
  c->vect->service.css_free(c->held);
  c->vect->service.css_free(c->rest);
  c->vect->service.css_free(c);
  --counts.connections;
}

/* The connection at *handle, made on the first call from the module's
** options and the parameter; NULL with err filled on failure. */
static connection *connection_of(void **handle, module *m, const char *parameter, csm_errblk *err) {
  if (*handle != NULL) return (connection *)*handle;
  connection *c = m->vect->service.css_malloc(sizeof(connection));
  if (c == NULL) {
    fail(err, CSM_ERR_MEMORY, "no memory for a connection");
    return NULL;
  }
  ++counts.connections;
  c->vect = m->vect;
  c->opts = m->opts;
  if (read_options(parameter, &c->opts) != 0) {
    free_connection(c);
    fail(err, CSM_ERR_OPTIONS, "bad connection parameter");
    return NULL;
  }
  *handle = c;
  return c;
}

static int token_is(const csm_buffer *input, const char *token) {
  const size_t length = strlen(token);
  return input != NULL && input->size == (int32_t)length && memcmp(input->data, token, length) == 0;
}

static int tm_create(void **handle, void *context, csm_conn_info *info, csm_buffer *input,
                     csm_buffer **output, void *caller_arg, const char *parameter,
                     csm_errblk *err) {
  (void)info;
  (void)caller_arg;
  connection *c = connection_of(handle, context, parameter, err);
  if (c == NULL) return -1;
  *output = NULL;
  if (c->step == 0) {
    c->step = 1;
    if (c->opts.create_status != 0) {
      err->status = (int32_t)c->opts.create_status;
      return 0;
    }
    *output = new_output(c->vect, TEST_MODULE_CLIENT_TOKEN, strlen(TEST_MODULE_CLIENT_TOKEN));
    if (*output == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for the token");
    err->status = CSM_STATUS_SEND_REPLY;
    return 0;
  }
  if (!token_is(input, TEST_MODULE_SERVER_TOKEN))
    return fail(err, CSM_ERR_HANDSHAKE, "not the server's token");
  c->step = 2;
  err->status = CSM_STATUS_DONE;
  return 0;
}

static int tm_accept(void **handle, void *context, csm_conn_info *info, csm_buffer *input,
                     csm_buffer **output, const char *parameter, csm_errblk *err) {
  connection *c = connection_of(handle, context, parameter, err);
  if (c == NULL) return -1;
  *output = NULL;
  if (c->step == 0) {
    if (!token_is(input, TEST_MODULE_CLIENT_TOKEN))
      return fail(err, CSM_ERR_HANDSHAKE, "not the client's token");
    c->step = 1;
    *output = new_output(c->vect, TEST_MODULE_SERVER_TOKEN, strlen(TEST_MODULE_SERVER_TOKEN));
    if (*output == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for the token");
    err->status = CSM_STATUS_SEND_AGAIN;
    return 0;
  }
  c->step = 2;
  if (info != NULL && c->opts.no_login_mark == 0) info->word[CSM_INFO_LOGIN_CHECKED] = 1;
  err->status = CSM_STATUS_DONE;
  return 0;
}

/* One message in either direction. */
static int tm_process(void *handle, csm_buffer *input, csm_buffer **output, csm_errblk *err) {
  connection *c = handle;
  *output = NULL;
  if (c == NULL) return fail(err, CSM_ERR_SEQUENCE, "no connection");
  if (c->rest != NULL) {
    // The second half of a split output: the input was taken already.
    *output = new_output(c->vect, c->rest, c->rest_size);
    c->vect->service.css_free(c->rest);
    c->rest = NULL;
    if (*output == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for output");
    err->status = CSM_STATUS_DONE;
    return 0;
  }
  csm_buffer empty = {NULL, 0};
  if (c->rekey == 1) {
    // The call after the in-stream token: with status 3 the input is the
    // peer's reply and the message is the one held; with 4 it comes again.
    c->rekey = 2;
    if (c->opts.instream_status == CSM_STATUS_SEND_REPLY) {
      if (!token_is(input, TEST_MODULE_REKEY_REPLY))
        return fail(err, CSM_ERR_HANDSHAKE, "not the rekey reply");
      input = &empty;
    }
  } else {
    ++c->messages;
    if (c->messages == c->opts.disconnect) return fail(err, CSM_ERR_DISCONNECTED, "disconnect");
    if (input == NULL || input->size < 0) return fail(err, CSM_ERR_SEQUENCE, "no input");
    if (c->messages == c->opts.instream) {
      const int reply = c->opts.instream_status == CSM_STATUS_SEND_REPLY;
      if (reply) {
        c->held = c->vect->service.css_malloc(input->size > 0 ? input->size : 1);
        if (c->held == NULL) return fail(err, CSM_ERR_MEMORY, "no memory to hold the message");
        if (input->size > 0) memcpy(c->held, input->data, (size_t)input->size);
        c->held_size = input->size;
      }
      *output = new_output(c->vect, TEST_MODULE_REKEY_TOKEN, strlen(TEST_MODULE_REKEY_TOKEN));
      if (*output == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for the token");
      c->rekey = 1;
      err->status = reply ? CSM_STATUS_SEND_REPLY : CSM_STATUS_SEND_AGAIN;
      return 0;
    }
  }

  const long size = c->held_size + input->size;
  char *data = c->vect->service.css_malloc(size > 0 ? size : 1);
  if (data == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for the message");
  if (c->held_size > 0) memcpy(data, c->held, (size_t)c->held_size);
  if (input->size > 0) memcpy(data + c->held_size, input->data, (size_t)input->size);
  c->vect->service.css_free(c->held);
  c->held = NULL;
  c->held_size = 0;

  if (c->messages == c->opts.need_more) {
    c->held = data;
    c->held_size = size;
    err->status = CSM_STATUS_NEED_INPUT;
    return 0;
  }
  for (long i = 0; i < size; ++i)
    data[i] = (char)(data[i] ^ (char)c->opts.xor_key);
  long first = size;
  if (c->messages == c->opts.more_output && size >= 2) first = size / 2;
  *output = new_output(c->vect, data, first);
  if (*output != NULL && first < size) {
    c->rest_size = size - first;
    c->rest = c->vect->service.css_malloc(c->rest_size);
    if (c->rest == NULL) {
      c->vect->buffer.csm_buffer_delete(*output);
      --counts.buffers_made;
      *output = NULL;
    } else {
      memcpy(c->rest, data + first, (size_t)c->rest_size);
    }
  }
  c->vect->service.css_free(data);
  if (*output == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for output");
  err->status = first < size ? CSM_STATUS_MORE : CSM_STATUS_DONE;
  return 0;
}

static int tm_get_flags(void *handle, int32_t *flags, csm_errblk *err) {
  (void)err;
  const connection *c = handle;
  *flags = (int32_t)(c != NULL && c->opts.get_flags != 0 ? c->opts.get_flags
                                                         : CSM_FLAG_OUTPUT | CSM_FLAG_INPUT);
  return 0;
}

static int tm_release(void **handle, csm_buffer *input, csm_buffer **output, csm_errblk *err) {
  (void)input;
  *output = NULL;
  ++counts.releases;
  free_connection(*handle);
  *handle = NULL;
  err->status = CSM_STATUS_DONE;
  return 0;
}

static int tm_abort(void **handle, csm_abort_reason *reason, csm_errblk *err) {
  (void)reason;
  ++counts.aborts;
  connection *c = *handle;
  const int failing = c != NULL && c->opts.abort_fail != 0;
  free_connection(c);
  *handle = NULL;
  if (failing) return fail(err, CSM_ERR_ABORT, "abort_fail");
  return 0;
}

static int tm_return_buffer(void *handle, csm_buffer *buffer, csm_errblk *err) {
  const connection *c = handle;
  if (c == NULL || buffer == NULL) return fail(err, CSM_ERR_BUFFER, "no buffer");
  c->vect->buffer.csm_buffer_delete(buffer);
  ++counts.buffers_returned;
  return 0;
}

static int tm_terminate(void **context, csm_errblk *err) {
  (void)err;
  module *m = *context;
  ++counts.terminates;
  if (m != NULL) m->vect->service.css_free(m);
  *context = NULL;
  return 0;
}

EXPORT int csm_init(void **context, const css_vect *vect, csm_func_vec *vector,
                    const char *options_text, uint32_t *flags, csm_errblk *err) {
  options opts;
  memset(&opts, 0, sizeof opts);
  ++counts.inits;
  opts.version = CSM_FUNC_VEC_VERSION;
  if (read_options(options_text, &opts) != 0) return fail(err, CSM_ERR_OPTIONS, "bad options");
  if (opts.init_error != 0) return fail(err, (int)opts.init_error, "init_error");
  // A vector of another version is never used, nor terminated: no context.
  module *m = NULL;
  if (opts.version == CSM_FUNC_VEC_VERSION) {
    m = vect->service.css_malloc(sizeof(module));
    if (m == NULL) return fail(err, CSM_ERR_MEMORY, "no memory for the module");
    m->vect = vect;
    m->opts = opts;
  }
  vector->version = opts.version;
  vector->terminate = tm_terminate;
  vector->get_flags = opts.no_get_flags != 0 ? NULL : tm_get_flags;
  vector->create = tm_create;
  vector->accept = tm_accept;
  vector->process_output = tm_process;
  vector->process_input = tm_process;
  vector->release = tm_release;
  vector->abort = tm_abort;
  vector->return_buffer = tm_return_buffer;
  *flags = (uint32_t)opts.init_flags;
  *context = m;
  return 0;
}
