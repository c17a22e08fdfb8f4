/*
** Fuzz target: the session layer's reading of a connect response and of
** data, through a scripted driver behind the "tlitcp" row. The first byte
** chooses the level (61 or 59), the old-reply form and the multiplexing
** option, the second the size of the pieces the driver hands out; the
** rest is what the server sends. After a connect that succeeds, a second
** session may join a multiplexed connection, and both receive until the
** bytes run out; then both are aborted. Every outcome must be a success
** in state 20 with the whole response, or one of the layer's statuses,
** and every delivered piece must lie inside its buffer.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "fuzz_environment.h"
#include "scripted_input_driver.h"
#include "sl_records.h"
#include "tl_records.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_slresponse: %s (%d)\n", what, value);
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
      return true;
    default:
      return false;
  }
}

/* One client association with its session block. */
struct Client {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  char text[32] = "127.0.0.1|9088|tlitcp";
  tlreqaddr addr {1, text};
  SqlhOptions options {};
  tlconnreq parms {};
  rscbufctl *response = nullptr;
  char req[40] = "a connect request of some forty bytes..";
  rscbufctl request {req, 39, 0, nullptr, req, 39, 0};

  Client() {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_requester, status);
    if (a == nullptr) fail("alCSalloc", 0);
    ctl.ascid = a;
    if (sqlCSalloc(&ctl, 0, "ol", "tlitcp") != 0) fail("sqlCSalloc", ctl.asfcode);
    parms.addr = &addr;
    parms.options = &options;
  }
  ~Client() {
    drop_response();
    slSQIdiscon(&ctl, SL_DISC_ABORT, nullptr);
    if (a->tlblock != nullptr) tlCSfree(a);
    alCSfree(a);
  }
  void drop_response() {
    if (response == nullptr) return;
    if (response->buff != nullptr) asf_free(asf_pool_assoc, response->buff);
    asf_free(asf_pool_assoc, response);
    response = nullptr;
  }
  bool connect(int level, int form, Assocctl *shared) {
    int rc = slSQIreq(&ctl, form, &parms, level, &request, &response, shared);
    auto *s = static_cast<slsession *>(a->slblock);
    if (rc == 0) {
      if (s->state != sl_state_connected) fail("success outside state 20", s->state);
      if (response == nullptr || response->size != response->lbuff)
        fail("success without the whole response", 0);
      return true;
    }
    if (!known_failure(ctl.asfcode)) fail("connect status", ctl.asfcode);
    return false;
  }
  /* Receives until a failure; every piece inside its buffer. */
  void drain() {
    for (int i = 0; i < 64; ++i) {
      rscbufctl *out = nullptr;
      if (slSQIrecv(&ctl, &out) != 0) return;
      if (out == nullptr || out->size < 0 || out->p < out->buff ||
          out->p + out->size > out->buff + out->lbuff)
        fail("delivered piece outside its buffer", out != nullptr ? out->size : -1);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  buffer_size = 64;
  install();
  tl_driver_override = &seam;
  tlprototab = table;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int level = (data[0] & 1) != 0 ? 59 : 61;
  const int forms[4] = {1, 2, 4, 3};
  const int form = ((data[0] & 2) != 0 ? 256 : 512) + forms[(data[0] >> 2) & 3];
  const bool mux = (data[0] & 16) != 0;
  piece = 1 + data[1] % 80;
  input = data + 2;
  input_left = size - 2;
  Client a;
  a.options.multiplex = mux ? 1 : 0;
  if (!a.connect(level, form, nullptr)) return 0;
  if ((data[0] & 32) != 0) {
    Client b;
    b.options.multiplex = 1;
    if (b.connect(level, form, a.a)) {
      b.drain();
      a.drain();
    }
  } else {
    a.drain();
  }
  return 0;
}
