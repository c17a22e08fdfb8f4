/*
** Fuzz target: the listener's reading of a connect request (the session
** layer's indication and the protocol family's decoding of the request),
** through a scripted driver behind the "tlitcp" row whose accept lends
** buffers and whose receives hand out the fuzzed client bytes. The first
** byte chooses the listener's level (61 or 59) and whether a multiplexing
** listener exists, the second the size of the pieces; the rest is what
** the client sends. Every outcome must be a success with the request's
** records handed out (then answered, accept or reject), or one of the
** layers' statuses with nothing handed out; the listener always keeps
** listening, and both associations are aborted at the end.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "fuzz_environment.h"
#include "os_seams.h"
#include "pf_records.h"
#include "scripted_input_driver.h"
#include "sl_records.h"
#include "tl_records.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_listen_request: %s (%d)\n", what, value);
  std::abort();
}

using namespace scripted_input;

bool known_failure(int status) {
  switch (status) {
    case ASF_ERR_PROTOCOL:
    case SL_ERR_NORESPONSE:
    case SL_ERR_BUFREG:
    case ASF_ERR_MEMORY:
    case ASF_ERR_BADARGS:
    case ASC_ERR_NOOUTPUT:
    case TLI_ERR_PEERGONE:
      return true;
    default:
      return false;
  }
}

int fake_lisn(drvblock *drv, tlconnreq *, int, asfsvcctl *) {
  if (load_operation_vector(drv) != 0) return -1;
  drv->bufsize = buffer_size;
  return 0;
}

int fake_accp(drvblock *drv, Assocctl *newassoc, tlpeeraddr **, asfsvcctl *ctl) {
  asfsvcctl nctl = *ctl;
  nctl.ascid = newassoc;
  if (net_buffer_setup(drv, newassoc, &nctl) != 0) {
    ctl->asfcode = nctl.asfcode;
    return -1;
  }
  return 0;
}

opvec listen_vector;
const opvec *listen_vector_of(int type) { return type == tl_drv_tlitcp ? &listen_vector : nullptr; }
tl_driver_seam listen_seam;
/* The pause before closing a database list's session is not waited. */
unsigned no_sleep(unsigned) { return 0; }
const os_clock_seam quick_clock = {os_system_clock.now, no_sleep};
ASFGLBCTL global_block;

/* An association of kind with the usual control record. */
struct Assoc {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  explicit Assoc(int kind) {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, kind, status);
    if (a == nullptr) fail("alCSalloc", 0);
    ctl.ascid = a;
  }
  ~Assoc() {
    pfDiscon(&ctl, SL_DISC_ABORT, nullptr);
    alCSfree(a);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  buffer_size = 64;
  install();
  for (tlnetsw *row = table; row->name != nullptr; ++row)
    if (std::strcmp(row->name, "tlitcp") == 0) row->lisn = fake_lisn;
  listen_vector = fake_vector;
  listen_vector.accp = fake_accp;
  listen_seam = {table, listen_vector_of};
  tl_driver_override = &listen_seam;
  tlprototab = table;
  os_clock = &quick_clock;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int32_t level = (data[0] & 1) != 0 ? 59 : 61;
  const bool with_mux = (data[0] & 2) != 0;
  piece = 1 + data[1] % 80;
  input = data + 2;
  input_left = size - 2;
  asfglbctl = &global_block;
  {
    char text[] = "myhost|9088|tlitcp";
    char muxtext[] = "myhost|9088|sqlmux";
    NSEntry entry {};
    std::strcpy(entry.product, "ol");
    std::strcpy(entry.protocol, "tlitcp");
    entry.addrkind = 1;
    entry.addrtext = text;
    NSEntry muxentry = entry;
    std::strcpy(muxentry.protocol, "sqlmux");
    muxentry.addrtext = muxtext;
    Assoc listener(asf_kind_listener);
    Assoc mux(asf_kind_listener);
    asfsvcreq lreq {};
    ascpairs pairs {"", level, "", -1, 0};
    pfPutPairsAt(&lreq, pf_word_lsnpairs, &pairs);
    if (pfListen(&listener.ctl, &entry, &lreq) != 0) fail("listen", listener.ctl.asfcode);
    if (with_mux && pfListen(&mux.ctl, &muxentry, &lreq) != 0) fail("mux listen", mux.ctl.asfcode);
    Assoc accepted(asf_kind_accepted);
    asfsvcreq ind {};
    asfprocinfo peer {};
    const int rc = pfConInd(&listener.ctl, accepted.a, &ind, &peer);
    auto *lpf = static_cast<pfblock *>(listener.a->pfblock);
    if (lpf->state != pf_state_listening) fail("listener stopped listening", lpf->state);
    auto *params = reinterpret_cast<ascbinreq *>(ind.word[pf_word_cliparams]);
    if (rc == 0) {
      if (params == nullptr) fail("success without parameters", 0);
      asfsvcreq rsp {};
      ascbinreq srv {};
      srv.pairs.level = -1;
      srv.pairs.version = -1;
      pfstatus st {};
      st.subkind = asc_sub_status;
      pfrequest r {asc_pf_status, &st};
      rsp.word[pf_word_rspkind] = static_cast<uintptr_t>((data[0] & 4) != 0 ? 7 : 0);
      rsp.word[pf_word_params] = reinterpret_cast<uintptr_t>(&srv);
      rsp.word[pf_word_request] = reinterpret_cast<uintptr_t>(&r);
      pfConRes(&accepted.ctl, &rsp, nullptr);
    } else {
      if (!known_failure(listener.ctl.asfcode)) fail("indication status", listener.ctl.asfcode);
      if (ind.word[pf_word_cliparams] != 0 || ind.word[pf_word_clienv] != 0 ||
          ind.word[pf_word_clireq] != 0)
        fail("records handed out after a failure", 0);
    }
    ascFreeParams(params);
    ascFreeEnvlist(reinterpret_cast<evlist_t *>(ind.word[pf_word_clienv]));
    ascFreeRequest(reinterpret_cast<pfrequest *>(ind.word[pf_word_clireq]));
    ascFreeProcinfo(&peer);
  }
  asfglbctl = nullptr;
  return 0;
}
