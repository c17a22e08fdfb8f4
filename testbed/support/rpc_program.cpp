/*
** Transient RPC program numbers for test runs (testbed_support.h): each
** run of the dorvexd double registers its own number, so that runs on one
** machine never meet in rpcbind. Shared by the double, which refuses a
** number already taken, and by the test support, which picks the numbers.
** Calls libtirpc's rpcbind client only.
*/
#include <unistd.h>

#include <random>

#include <rpc/rpc.h>

#include "testbed_support.h"

namespace testbed {

namespace {

/* The range ONC RPC leaves to transient programs. */
constexpr uint32_t transient_first = 0x40000000;
constexpr uint32_t transient_last = 0x5fffffff;

}  // namespace

bool rpc_program_registered(uint32_t program) {
  bool found = false;
  for (const char *netid : {"tcp", "udp"}) {
    netconfig *nconf = getnetconfigent(netid);
    if (!nconf) continue;
    rpcblist *list = rpcb_getmaps(nconf, "localhost");
    freenetconfigent(nconf);
    /* rpcbind lists itself: an empty list means it did not answer. */
    bool answered = list != nullptr;
    for (rpcblist *entry = list; entry; entry = entry->rpcb_next) {
      if (entry->rpcb_map.r_prog == program) found = true;
    }
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_rpcblist_ptr), reinterpret_cast<char *>(&list));
    if (answered) break;
  }
  return found;
}

uint32_t unused_rpc_program() {
  std::random_device entropy;
  std::mt19937 generator(entropy() ^ static_cast<uint32_t>(getpid()));
  std::uniform_int_distribution<uint32_t> pick(transient_first, transient_last);
  uint32_t program = pick(generator);
  for (int attempt = 0; attempt < 64 && rpc_program_registered(program); ++attempt)
    program = pick(generator);
  return program;
}

void rpc_program_unset(uint32_t program, uint32_t version) {
  rpcb_unset(program, version, nullptr);
}

}  // namespace testbed
