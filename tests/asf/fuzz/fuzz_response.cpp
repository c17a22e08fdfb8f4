/*
** Fuzz target: the protocol family's connect, from the request it builds
** to the response it reads and decodes, through a scripted driver behind
** the "tlitcp" row. The first byte chooses the pair level (61 or 59), the
** program ("sqlexec": text form, "ruzodu": binary) and the connect kind;
** the second the size of the pieces the driver hands out; the rest is what
** the server sends. Every outcome must be a success in state 20 (or 11
** after a 110 response) or one of the documented statuses in state 100;
** the abort that follows must free the blocks and the transport, and the
** caller's records must come out unchanged.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "fuzz_environment.h"
#include "pf_records.h"
#include "scripted_input_driver.h"
#include "sl_records.h"
#include "tl_records.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_response: %s (%d)\n", what, value);
  std::abort();
}

using namespace scripted_input;

bool known_failure(int status) {
  switch (status) {
    case SL_STATUS_REJECTED:
    case SL_STATUS_MUXREJECT:
    case SL_ERR_PROTOCOL:
    case SL_ERR_NORESPONSE:
    case SL_ERR_BUFREG:
    case ASF_ERR_MEMORY:
    case ASF_ERR_PROTOCOL:
    case ASC_ERR_OLDREPLY:
    case -25590:
      return true;
    default:
      return false;
  }
}

char addr[] = "127.0.0.1|9088|tlitcp";
char server[] = "srv1";
char user[] = "fuzzer";
char password[] = "pw";
char host[] = "h";
char tty[] = "t";
char cwd[] = "/";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  buffer_size = 2100;
  install();
  tl_driver_override = &seam;
  tlprototab = table;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  static constexpr int kinds[4] = {asc_kind_nodb, asc_kind_dblist, asc_kind_connect, asc_kind_open};
  piece = 1 + data[1] % 97;
  input = data + 2;
  input_left = size - 2;

  char status[12] = {};
  asfsvcctl ctl {};
  ctl.flags = 1;
  ctl.timeout = -1;
  Assocctl *a = alCSalloc(&ctl, asf_kind_requester, status);
  if (a == nullptr) fail("alCSalloc", 0);
  ctl.ascid = a;
  NSEntry entry {};
  std::strcpy(entry.product, "ol");
  std::strcpy(entry.protocol, "tlitcp");
  entry.addrkind = 1;
  entry.addrtext = addr;
  entry.servername = server;
  entry.loginkind = 1;
  entry.user = user;
  entry.password = password;
  ascbinreq params {};
  std::strcpy(params.progname, (data[0] & 2) != 0 ? "ruzodu" : "sqlexec");
  params.pairs.level = (data[0] & 1) != 0 ? 59 : -1;
  params.pairs.version = -1;
  pfconkind conkind {};
  conkind.kind = kinds[(data[0] >> 2) & 3];
  pfrequest request {asc_pf_conkind, &conkind};
  asfsvcreq req {};
  req.word[pf_word_params] = reinterpret_cast<uintptr_t>(&params);
  req.word[pf_word_request] = reinterpret_cast<uintptr_t>(&request);
  asfprocinfo procinfo {0, 1, 0, host, tty, cwd, 0, 0};
  asfprocinfo peer {};

  const int rc = pfConReq(&ctl, &entry, &req, &procinfo, &peer, nullptr);
  auto *pf = static_cast<pfblock *>(a->pfblock);
  if (pf == nullptr) fail("no block after a connect", ctl.asfcode);
  if (rc == 0) {
    if (pf->state != pf_state_connected && pf->state != pf_state_bind)
      fail("success outside states 20 and 11", pf->state);
  } else {
    if (!known_failure(ctl.asfcode)) fail("connect status", ctl.asfcode);
    if (pf->state != pf_state_failed) fail("failure outside state 100", pf->state);
  }
  if (params.user != nullptr || params.userkind != 0 || params.pairs.product[0] != '\0' ||
      conkind.str[asc_str_server] != nullptr || std::strcmp(addr, "127.0.0.1|9088|tlitcp") != 0)
    fail("caller's records changed", 0);
  if (pfDiscon(&ctl, SL_DISC_ABORT, nullptr) != 0) fail("abort", ctl.asfcode);
  if (a->pfblock != nullptr || a->tlblock != nullptr) fail("blocks left after the abort", 0);
  if (pfDiscon(&ctl, SL_DISC_ABORT, nullptr) != 0) fail("second abort", ctl.asfcode);
  ascFreeParams(reinterpret_cast<ascbinreq *>(req.word[pf_word_srvparams]));
  ascFreeEnvlist(reinterpret_cast<evlist_t *>(req.word[pf_word_srvenv]));
  ascFreeRequest(reinterpret_cast<pfrequest *>(req.word[pf_word_response]));
  ascFreeProcinfo(&peer);
  alCSfree(a);
  return 0;
}
