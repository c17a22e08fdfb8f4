/*
** Fuzz target: the take-over readers of a handed-over association. The
** first byte chooses the global record or an association of one of the
** three kinds; the rest is written into a pipe whose read end the kind's
** variable names, as the saving program would leave it, and the reader
** takes it over: the header, the connection manager's records and the
** lower layers' images are all read from the fuzzed bytes. The switch
** table's rest entries are replaced by one that only takes a driver image
** from the arena, so that no descriptor named by the input is touched.
** A taken-over association is aborted again; everything must be given
** back, and nothing may be read outside the bytes written.
*/
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asf_al.h"
#include "asf_call.h"
#include "cm_records.h"
#include "fuzz_environment.h"
#include "handover.h"
#include "tl_records.h"

namespace {

/* One pipe's worth at most: the writer must never block. */
constexpr size_t max_input = 4096;
constexpr int table_rows = 8;

tlnetsw table[table_rows];
const tl_driver_seam seam = {table, nullptr};

/* Takes a driver image of 16 bytes and rebuilds nothing. */
int fuzz_rest(drvblock *, void *arena, asfsvcctl *ctl) {
  int32_t off;
  if (opAlloc(static_cast<opblock *>(arena), 16, &off) == nullptr) {
    ctl->asfcode = -1;
    return -1;
  }
  return 0;
}

[[noreturn]] void fail(const char *what) {
  std::fprintf(stderr, "fuzz_takeover: %s\n", what);
  std::abort();
}

/* Writes data into a new pipe and names its read end in var. */
void name_pipe(const char *var, const uint8_t *data, size_t size) {
  int fds[2];
  if (pipe(fds) != 0) fail("pipe");
  if (size > 0 && write(fds[1], data, size) != static_cast<ssize_t>(size)) fail("write");
  close(fds[1]);
  setenv(var, std::to_string(fds[0]).c_str(), 1);
}

/* Aborts and frees a taken-over association and takes it off its queue. */
void discard(Assocctl *a, Assocctl **head, int32_t *count) {
  asfsvcctl ctl {};
  ctl.flags = 1;
  ctl.timeout = -1;
  ctl.ascid = a;
  cmDiscon(&ctl, asf_svc_abort, nullptr);
  ASFGLBCTL *g = getASFGLBCTL();
  delAssocInQ(&g->lock, head, a, count);
  alCSfree(a);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  for (int i = 0; i < table_rows; ++i) {
    table[i] = tlnetswtab[i];
    if (table[i].name != nullptr) table[i].rest = fuzz_rest;
    if (table[i].name == nullptr) break;
  }
  tl_driver_override = &seam;
  tlprototab = table;
  asfsvcreq req {};
  req.word[1] = ASF_INIT_FIRST;
  asfsvcctl ctl {};
  if (defineASFCtl(&req, &ctl) != 0) fail("no global block");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > max_input + 1) return 0;
  const int choice = data[0] % 4;
  ASFGLBCTL *g = getASFGLBCTL();
  asfsvcctl ctl {};
  if (choice == 0) {
    name_pipe(HO_VAR_GLOBAL, data + 1, size - 1);
    const int rc = getGlobData(&ctl);
    if (rc != 0 && rc != HO_ERR_FAILED) fail("global: unexpected status");
    unsetenv(HO_VAR_GLOBAL);
    return 0;
  }
  static const char *const vars[] = {nullptr, HO_VAR_REQUESTER, HO_VAR_ACCEPTED, HO_VAR_LISTENER};
  static const int area_words[] = {0, ho_word_req_area, ho_word_acc_area, ho_word_lsn_area};
  static const int id_words[] = {0, ho_word_req_id, ho_word_acc_id, ho_word_lsn_id};
  const int kind = choice;
  char area[2] = {};
  asfsvcreq req {};
  req.word[area_words[kind]] = reinterpret_cast<uintptr_t>(area);
  name_pipe(vars[kind], data + 1, size - 1);
  const int rc = getAssocData(kind, &ctl, &req);
  unsetenv(vars[kind]);
  auto *a = reinterpret_cast<Assocctl *>(req.word[id_words[kind]]);
  Assocctl **head = kind == asf_kind_requester  ? &g->reqq
                    : kind == asf_kind_accepted ? &g->accq
                                                : &g->lsnq;
  int32_t *count = kind == asf_kind_requester  ? &g->nreq
                   : kind == asf_kind_accepted ? &g->nacc
                                               : &g->nlsn;
  if (rc != 0) {
    if (a != nullptr || *head != nullptr) fail("a failed take-over left an association");
    if (rc != HO_ERR_FAILED && rc != ASF_ERR_MEMORY) fail("unexpected status");
    return 0;
  }
  if (!asfValidAssoc(a) || *head != a || a->kind != kind) fail("taken over wrongly");
  if (a->al->state < asf_state_new || a->al->state > asf_state_failed) fail("state out of range");
  discard(a, head, count);
  if (*head != nullptr) fail("queue not empty");
  return 0;
}
