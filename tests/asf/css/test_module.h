/*
** test_module.h: what the tests see of the communication-support test
** module (test_module.c): its handshake tokens and its counters, read
** through dlsym of "test_module_get_counts" in the loaded module.
*/
#ifndef DVZ_TESTS_ASF_CSS_TEST_MODULE_H
#define DVZ_TESTS_ASF_CSS_TEST_MODULE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The client's and the server's handshake tokens (without a NUL). */
#define TEST_MODULE_CLIENT_TOKEN "CSMTEST HELLO"
#define TEST_MODULE_SERVER_TOKEN "CSMTEST WELCOME"
/* The in-stream handshake's token and the reply a status-3 one expects. */
#define TEST_MODULE_REKEY_TOKEN "CSMTEST REKEY"
#define TEST_MODULE_REKEY_REPLY "CSMTEST REKEYED"

/* Counters of the module since it was loaded (or last reset). */
typedef struct test_module_counts {
  long inits; /* csm_init calls, failing ones included */
  long terminates; /* terminate calls */
  long buffers_made; /* output buffers handed to CSS */
  long buffers_returned; /* output buffers CSS handed back */
  long connections; /* connection handles alive */
  long aborts; /* abort calls */
  long releases; /* release calls */
} test_module_counts;

typedef void (*test_module_get_counts_fn)(test_module_counts *counts);
typedef void (*test_module_reset_counts_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
