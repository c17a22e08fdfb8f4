/*
** Production binding of the dorvexd client seam (monitor_seams.h): the
** rpcgen client stubs of dorvexd.x and libtirpc's client calls. The monitor
** reaches dorvexd only through `dorvexd_seam`; tests bind doubles there.
**
** The stubs take `char *` because rpcgen's C does; encoding only reads the
** strings, so the const the seam promises holds. The program number and the
** call time-out come from dorvexd_rpc: the stubs' own (100222, 25 s) unless
** the monitor's test build points them elsewhere.
*/
#include "monitor_seams.h"

#include <fcntl.h>

#include "dorvexd.h"

namespace {

/* A client of version 1 of dorvexd_rpc.program on `host` over the first
** "netpath" transport that works, each call bounded by
** dorvexd_rpc.call_timeout_seconds; nullptr (reason in clnt_spcreateerror)
** on failure. */
CLIENT *create_client(const char *host) {
  CLIENT *client = clnt_create(host, dorvexd_rpc.program, DORVEXD_VERS, "netpath");
  if (!client) return nullptr;
  /* Overrides the stubs' own time-out (the same 25 s in production). */
  timeval limit {dorvexd_rpc.call_timeout_seconds, 0};
  clnt_control(client, CLSET_TIMEOUT, reinterpret_cast<char *>(&limit));
  /* libtirpc leaves the socket inheritable: every framework command, and a
  ** database restarted by one, would keep the connection to dorvexd. */
  int fd = -1;
  if (clnt_control(client, CLGET_FD, reinterpret_cast<char *>(&fd)) && fd >= 0)
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
  return client;
}

void destroy_client(CLIENT *client) { clnt_destroy(client); }

int32_t *call_get_status(const char *instance, CLIENT *client) {
  return get_status_1(const_cast<char *>(instance), client);
}

int32_t *call_set_status(const char *instance, int32_t pid, int32_t key, CLIENT *client) {
  return set_status_1(const_cast<char *>(instance), pid, key, client);
}

void *call_shutdown_db(const char *instance, const char *service, CLIENT *client) {
  return shutdown_db_1(const_cast<char *>(instance), const_cast<char *>(service), client);
}

int32_t *call_update_dbms_status(const char *instance, const char *status, int32_t dbms_error,
                                 CLIENT *client) {
  return update_dbms_status_1(const_cast<char *>(instance), const_cast<char *>(status), dbms_error,
                              client);
}

/* Both return libtirpc's static text, overwritten by the next call. */
const char *call_sperror(CLIENT *client, const char *header) {
  return clnt_sperror(client, header);
}

const char *call_spcreateerror(const char *header) { return clnt_spcreateerror(header); }

static_assert(sizeof(int) == sizeof(int32_t), "the stubs' int is the seam's int32_t");

}  // namespace

dorvexd_binding dorvexd_rpc = {DORVEXD_PROG, 25};

const dorvexd_client rpc_dorvexd_client = {
    create_client,    destroy_client,          call_get_status, call_set_status,
    call_shutdown_db, call_update_dbms_status, call_sperror,    call_spcreateerror,
};
