/*
** The protocol switch: the table that maps a protocol name to its driver
** (tlnetswtab, reached through tlprototab), the address-to-row look-up,
** and the drivers' operation vectors with their loader. The transport
** layer (transport_layer.cpp) walks the table; the drivers load their
** vector at connect, listen and restore.
**
** Row order is the protocol index an association records: never reorder.
*/
#include <cstring>

#include "pipe_driver.h"
#include "shm_driver.h"
#include "spx_records.h"
#include "strpipe_driver.h"
#include "tl_records.h"
#include "tl_save.h"

namespace {

/* TLI over TCP (types 0 and 17). */
constexpr opvec tlitcp_opvec = {
    .init = inittli,
    .term = termtli,
    .conn = conntli,
    .lisn = lisntli,
    .accp = accptli,
    .send = sendtli,
    .recv = recvtli,
    .soob = soobtli,
    .roob = roobtli,
    .disc = disctli,
    .save = savetli,
    .rest = resttli,
    .attr = attrtli,
    .wait = waittli,
    .cons2tladdr = tcpcons2tladdr,
    .tladdr2cons = tcptladdr2cons,
    .load_addr = tlitcp_load_addr,
    .tladdr2native = tladdr2sockaddr_in,
    .native2tladdr = sockaddr_in2tladdr,
    .setopts = tlitcp_setopts,
    .siginit = tlitcp_siginit,
    .port_bind = tlitcpport_bind,
};

/* TLI over SPX and IPX (type 5): the TLI entries of the TCP vector with
** the SPX addressing (spx_addr.cpp) in slots 14 to 21. */
constexpr opvec spx_vector() {
  opvec v = tlitcp_opvec;
  v.cons2tladdr = tlispxcons2tladdr;
  v.tladdr2cons = tlispxtladdr2cons;
  v.load_addr = tlispx_load_addr;
  v.tladdr2native = tladdr2ipxaddr;
  v.native2tladdr = ipxaddr2tladdr;
  v.setopts = tlispx_setopts;
  v.siginit = tlispx_siginit;
  v.port_bind = tlispxport_bind;
  return v;
}
constexpr opvec tlispx_opvec = spx_vector();

/* The second TCP vector: the same entries as type 0. */
constexpr opvec imctli_opvec = tlitcp_opvec;

/* The pipe (type 9): load_addr to port_bind, except siginit, are absent. */
constexpr opvec pipe_opvec = {
    .init = initpip,
    .term = termpip,
    .conn = connpip,
    .lisn = lisnpip,
    .accp = accppip,
    .send = sendpip,
    .recv = recvpip,
    .soob = soobpip,
    .roob = roobpip,
    .disc = discpip,
    .save = savepip,
    .rest = restpip,
    .attr = attrpip,
    .wait = waitpip,
    .cons2tladdr = pipecons2tladdr,
    .tladdr2cons = pipetladdr2cons,
    .load_addr = nullptr,
    .tladdr2native = nullptr,
    .native2tladdr = nullptr,
    .setopts = nullptr,
    .siginit = ipcpip_siginit,
    .port_bind = nullptr,
};

/* Shared memory (type 10): slots 16 to 21 are absent. */
constexpr opvec shm_opvec = {
    .init = initshm,
    .term = termshm,
    .conn = connshm,
    .lisn = lisnshm,
    .accp = accpshm,
    .send = sendshm,
    .recv = recvshm,
    .soob = soobshm,
    .roob = roobshm,
    .disc = discshm,
    .save = saveshm,
    .rest = restshm,
    .attr = attrshm,
    .wait = waitshm,
    .cons2tladdr = shmcons2tladdr,
    .tladdr2cons = shmtladdr2cons,
    .load_addr = nullptr,
    .tladdr2native = nullptr,
    .native2tladdr = nullptr,
    .setopts = nullptr,
    .siginit = nullptr,
    .port_bind = nullptr,
};

/* STREAMS pipe (type 12): slots 16 to 19 and 21 are absent. */
constexpr opvec strpipe_opvec = {
    .init = initstr,
    .term = termstr,
    .conn = connstr,
    .lisn = lisnstr,
    .accp = accpstr,
    .send = sendstr,
    .recv = recvstr,
    .soob = soobstr,
    .roob = roobstr,
    .disc = discstr,
    .save = savestr,
    .rest = reststr,
    .attr = attrstr,
    .wait = waitstr,
    .cons2tladdr = unixcons2tladdr,
    .tladdr2cons = unixtladdr2cons,
    .load_addr = nullptr,
    .tladdr2native = nullptr,
    .native2tladdr = nullptr,
    .setopts = nullptr,
    .siginit = ipcstr_siginit,
    .port_bind = nullptr,
};

/* Vectors by driver type; a type missing here has none. */
struct vector_row {
  int drvtype;
  const opvec *ops;
};
constexpr vector_row vector_table[] = {
    {tl_drv_tlitcp, &tlitcp_opvec}, {tl_drv_tlispx, &tlispx_opvec}, {tl_drv_tliimc, &imctli_opvec},
    {tl_drv_ipcpip, &pipe_opvec},   {tl_drv_ipcshm, &shm_opvec},    {tl_drv_ipcstr, &strpipe_opvec},
};

}  // namespace

extern "C" {

const tlfamily internet = {2, "internet", {0, 0, 0}};

const tlnetsw tlnetswtab[] = {
    {"ipcshm", tl_drv_ipcshm, nullptr, "sharemem", initshm, termshm, connshm, lisnshm, restshm,
     shmcons2tladdr, shmtladdr2cons},
    {"ipcpip", tl_drv_ipcpip, nullptr, "pipe", initpip, termpip, connpip, lisnpip, restpip,
     pipecons2tladdr, pipetladdr2cons},
    {"ipcstr", tl_drv_ipcstr, nullptr, "streampipe", initstr, termstr, connstr, lisnstr, reststr,
     nullptr, nullptr},
    {"tlitcp", tl_drv_tlitcp, &internet, "/dev/tcp", inittli, termtli, conntli, lisntli, resttli,
     tcpcons2tladdr, tcptladdr2cons},
    {"tlispx", tl_drv_tlispx, &internet, "/dev/mspx", inittli, termtli, conntli, lisntli, resttli,
     tlispxcons2tladdr, tlispxtladdr2cons},
    {"tliipx", tl_drv_tlispx, &internet, "/dev/mspx", inittli, termtli, conntli, lisntli, resttli,
     tlispxcons2tladdr, tlispxtladdr2cons},
    {"tliimc", tl_drv_tliimc, &internet, "/dev/tcp", inittli, termtli, conntli, lisntli, resttli,
     tcpcons2tladdr, tcptladdr2cons},
    {nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const tlnetsw *tlprototab = nullptr;

const tl_driver_seam *tl_driver_override = nullptr;

/* Stores the switch table's address (the override's table while a test
** installs one) in *out. Returns 0. */
int get_protocol_tab(const tlnetsw **out) {
  const tlnetsw *table = tlnetswtab;
  if (tl_driver_override != nullptr && tl_driver_override->table != nullptr)
    table = tl_driver_override->table;
  if (out != nullptr) *out = table;
  return 0;
}

/* Row of the protocol named after the last "|" of address (exact,
** case-sensitive), or -1 (no "|", no such row, null address). */
int tlcons2inx(const char *address) {
  if (address == nullptr) return -1;
  const char *bar = std::strrchr(address, '|');
  if (bar == nullptr) return -1;
  if (tlprototab == nullptr) get_protocol_tab(&tlprototab);
  for (int i = 0; tlprototab[i].name != nullptr; ++i)
    if (std::strcmp(tlprototab[i].name, bar + 1) == 0) return i;
  return -1;
}

int load_operation_vector(drvblock *drv) {
  if (drv == nullptr) return -1;
  if (tl_driver_override != nullptr && tl_driver_override->vector != nullptr) {
    const opvec *ops = tl_driver_override->vector(drv->type);
    if (ops != nullptr) {
      drv->ops = *ops;
      return 0;
    }
  }
  for (const vector_row &row : vector_table) {
    if (row.drvtype == drv->type) {
      drv->ops = *row.ops;
      return 0;
    }
  }
  return -1;
}

}  // extern "C"
