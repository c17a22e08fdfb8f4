/*
** The transport layer: one transport block per association, holding the
** driver block; connect, listen and accept find the driver through the
** protocol switch (protocol_switch.cpp), every later operation goes
** through the operation vector the driver loaded into its block. Called
** by the association layer, the protocol family and the session layer;
** calls the drivers (asf/net and the local drivers) through the table
** and the vectors only.
**
** Results: 0 success, -1 failure with the status in the caller's control
** record. A call through an empty table entry or vector slot fails with
** the positive status 25503 rather than jumping to null. The transport
** block's flags and state follow every driver call (see tl_records.h).
*/
#include <cstring>

#include "asf_memory.h"
#include "tl_records.h"

namespace {

/* The switch table, looked up at first use when no initialisation set it. */
const tlnetsw *switch_table() {
  if (tlprototab == nullptr) get_protocol_tab(&tlprototab);
  return tlprototab;
}

void set_status(asfsvcctl *ctl, int status) {
  if (ctl != nullptr) ctl->asfcode = status;
}

/* The association ctl names, when it is valid. */
Assocctl *association_of(asfsvcctl *ctl) {
  if (ctl == nullptr) return nullptr;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  return asfValidAssoc2(assoc) ? assoc : nullptr;
}

/* The transport block of ctl's association; null with asfcode -25546 when
** there is no valid association or it has no block. */
tlblock *transport_of(asfsvcctl *ctl) {
  Assocctl *assoc = association_of(ctl);
  if (assoc == nullptr || assoc->tlblock == nullptr) {
    set_status(ctl, TL_ERR_NO_ASSOC);
    return nullptr;
  }
  return static_cast<tlblock *>(assoc->tlblock);
}

/* A fresh transport block for ctl's association: the block, or null with
** tlCSalloc's status. */
tlblock *fresh_block(asfsvcctl *ctl) {
  if (tlCSalloc(ctl) != 0) return nullptr;
  return static_cast<tlblock *>(static_cast<Assocctl *>(ctl->ascid)->tlblock);
}

/* Row index of the address in parms when it is a text address (kind 1)
** naming a protocol of the table; -1 with asfcode 25507 otherwise. */
int row_of_request(const tlconnreq *parms, asfsvcctl *ctl) {
  int inx = -1;
  if (parms != nullptr && parms->addr != nullptr && parms->addr->kind == 1)
    inx = tlcons2inx(parms->addr->text);
  if (inx < 0) set_status(ctl, TL_STATUS_NO_PROTOCOL);
  return inx;
}

/* Gives the driver block the row's type, name and device. */
void bind_row(tlblock *tb, const tlnetsw &row) {
  tb->drv.type = row.drvtype;
  tb->drv.protname = row.name;
  tb->drv.device = row.device;
}

/* Calls an entry that may be empty: an empty one fails with 25503. */
template <typename Fn, typename... Args>
int call_entry(Fn fn, asfsvcctl *ctl, Args... args) {
  if (fn == nullptr) {
    set_status(ctl, TL_STATUS_NO_VECTOR);
    return -1;
  }
  return fn(args...);
}

bool is_mux(const char *name) { return std::strcmp(name, TL_MUX_NAME) == 0; }

/* The common network data of the first initialisation: nothing to do. */
int net_common_data(uint32_t) { return 0; }

/* Calls the init entry of row. Returns its result (-1 with 25503 when
** the row has none). */
int init_row(const tlnetsw &row, asfsvcctl *ctl, void *initreq) {
  return call_entry(row.init, ctl, ctl, initreq, static_cast<int>(row.drvtype), row.name);
}

/* The protocol name of list entry i, NUL-terminated, into name. */
void entry_name(const unsigned char *list, int i, char (&name)[TL_PROT_NAME_SIZE + 1]) {
  std::memcpy(name, list + size_t(i) * TL_PROT_ENTRY_SIZE + TL_PROT_NAME_OFFSET, TL_PROT_NAME_SIZE);
  name[TL_PROT_NAME_SIZE] = '\0';
}

/* Forwards arg to the slot of ctl's driver: the slot's result, or -1 with
** -25546 (no transport) or 25503 (empty slot). */
template <typename Fn, typename Arg>
int forward(asfsvcctl *ctl, Fn opvec::*slot, Arg arg) {
  tlblock *tb = transport_of(ctl);
  if (tb == nullptr) return -1;
  return call_entry(tb->drv.ops.*slot, ctl, &tb->drv, arg, ctl);
}

/* Points assoc's driver references into tb, once its driver is
** connected, listening, accepted or restored. */
void set_driver_refs(Assocctl *assoc, tlblock *tb) {
  assoc->tldrv = &tb->drv;
  assoc->tlops = &tb->drv.ops;
}

}  // namespace

extern "C" {

/* Connects ctl's association to the text address of parms through the
** row its protocol names. Returns 0 with the block connected (state 6),
** or -1: tlCSalloc's status; 25507 (address not of kind 1, or no row),
** the block left connecting; the driver's status (25503 for a row
** without conn), the block idle with flag 4. */
int tlConnect(asfsvcctl *ctl, tlconnreq *parms) {
  tlblock *tb = fresh_block(ctl);
  if (tb == nullptr) return -1;
  tb->flags |= TL_CONNECT;
  tb->state = tl_state_connecting;
  int inx = row_of_request(parms, ctl);
  if (inx < 0) return -1;
  const tlnetsw &row = switch_table()[inx];
  bind_row(tb, row);
  if (call_entry(row.conn, ctl, &tb->drv, parms, ctl) == -1) {
    tb->flags |= TL_FAILED;
    tb->state = tl_state_idle;
    return -1;
  }
  tb->protinx = inx;
  tb->state = tl_state_connected;
  set_driver_refs(static_cast<Assocctl *>(ctl->ascid), tb);
  return 0;
}

/* Mode 0 starts listening on parms' address (as tlConnect, through the
** row's lisn); 1 stops listening (the driver's disc with 512); 2 listens
** again on a listening block; other modes return 0. Returns 0 or -1 as
** tlConnect, or the driver's result for modes 1 and 2. */
int tlListen(asfsvcctl *ctl, tlconnreq *parms, int mode) {
  if (mode == 0) {
    tlblock *tb = fresh_block(ctl);
    if (tb == nullptr) return -1;
    tb->flags |= TL_LISTEN16 | TL_LISTEN1;
    tb->state = tl_state_listening;
    int inx = row_of_request(parms, ctl);
    if (inx < 0) return -1;
    const tlnetsw &row = switch_table()[inx];
    bind_row(tb, row);
    if (call_entry(row.lisn, ctl, &tb->drv, parms, mode, ctl) == -1) {
      tb->flags |= TL_FAILED;
      tb->state = tl_state_idle;
      return -1;
    }
    tb->state = tl_state_listening;
    tb->protinx = inx;
    set_driver_refs(static_cast<Assocctl *>(ctl->ascid), tb);
    return 0;
  }
  if (mode != 1 && mode != 2) return 0;
  tlblock *tb = transport_of(ctl);
  if (tb == nullptr) return -1;
  if (mode == 1) {
    tb->state = tl_state_idle;
    return call_entry(tb->drv.ops.disc, ctl, &tb->drv, tl_disc_stop_listening, ctl);
  }
  tb->state = tl_state_listening;
  return call_entry(tb->drv.ops.lisn, ctl, &tb->drv, parms, mode, ctl);
}

/* Takes the next connection of ctl's listening association into newassoc:
** newassoc gets a copy of the listening block without its private record,
** filled by the listener's accp. Returns 0 (new block connected), or -1:
** -25546 (no listener block), tlCSalloc's status, or the driver's (the
** listener then has flag 4, the new block state idle). */
int tlAccept(asfsvcctl *ctl, Assocctl *newassoc, tlpeeraddr **peer) {
  tlblock *lb = transport_of(ctl);
  if (lb == nullptr) return -1;
  asfsvcctl nctl = *ctl;
  nctl.ascid = newassoc;
  if (tlCSalloc(&nctl) != 0) {
    ctl->asfcode = nctl.asfcode;
    ctl->oserr = nctl.oserr;
    return -1;
  }
  auto *nb = static_cast<tlblock *>(newassoc->tlblock);
  std::memcpy(nb, lb, sizeof(tlblock));
  nb->drv.priv = nullptr;
  nb->state = tl_state_accepting;
  if (call_entry(lb->drv.ops.accp, ctl, &lb->drv, newassoc, peer, ctl) == -1) {
    lb->flags |= TL_FAILED;
    nb->state = tl_state_idle;
    return -1;
  }
  nb->state = tl_state_connected;
  set_driver_refs(newassoc, nb);
  return 0;
}

int tlSend(asfsvcctl *ctl, rscbufctl *buf) { return forward(ctl, &opvec::send, buf); }

int tlRecv(asfsvcctl *ctl, rscbufctl **out) { return forward(ctl, &opvec::recv, out); }

int tlSndexpt(asfsvcctl *ctl, rscbufctl *buf) { return forward(ctl, &opvec::soob, buf); }

/* As the other forwarding operations; a successful expedited receive is
** counted in the driver block. */
int tlRcvexpt(asfsvcctl *ctl, rscbufctl **out) {
  int rc = forward(ctl, &opvec::roob, out);
  if (rc == 0) ++static_cast<tlblock *>(static_cast<Assocctl *>(ctl->ascid)->tlblock)->drv.nexpt;
  return rc;
}

int tlWait(asfsvcctl *ctl, void *arg) { return forward(ctl, &opvec::wait, arg); }

/* Code 1 clears the value pointer, 257 does nothing, other codes go to the
** driver's attr. Returns 0, or -1 (-25546, 25503 or the driver's). */
int tlAttrib(asfsvcctl *ctl, tlattr *attr) {
  tlblock *tb = transport_of(ctl);
  if (tb == nullptr) return -1;
  if (attr != nullptr && attr->code == 1) {
    attr->value = nullptr;
    return 0;
  }
  if (attr != nullptr && attr->code == 257) return 0;
  return call_entry(tb->drv.ops.attr, ctl, &tb->drv, static_cast<void *>(attr));
}

/* Disconnects the driver with flags (256 added for a saved transport,
** whose driver is called only when it had a private record) and frees the
** transport block. The driver's result is ignored. Returns tlCSfree's
** result, or -1 with -25546 when there is no transport. */
int tlDiscon(asfsvcctl *ctl, int flags) {
  tlblock *tb = transport_of(ctl);
  if (tb == nullptr) return -1;
  drvblock *drv = &tb->drv;
  if (tb->state == tl_state_saved) {
    tb->flags |= TL_SAVED_DISC;
    if (drv->priv != nullptr && drv->ops.disc != nullptr)
      drv->ops.disc(drv, flags | tl_disc_handed_over, ctl);
  } else {
    tb->state = tl_state_disconnecting;
    if (drv->ops.init != nullptr && drv->ops.disc != nullptr) drv->ops.disc(drv, flags, ctl);
  }
  return tlCSfree(static_cast<Assocctl *>(ctl->ascid));
}

/* At the first initialisation (flag 16) makes the transport-global record
** and sets the table; then initialises the listed protocols (one entry
** with an empty name: every row). Returns 0, or -1: -406 (no memory for
** the global record), -25563 (count 0 or no list), 25507 (a listed
** protocol without a row), or the first failing init's status. A negative
** count initialises nothing and returns 0. */
int tlInit(asfsvcctl *ctl, void *initreq) {
  if (initreq == nullptr) {
    set_status(ctl, TL_ERR_NO_PROTOCOLS);
    return -1;
  }
  const auto *w = static_cast<const uintptr_t *>(initreq);
  const auto flags = static_cast<uint32_t>(w[TL_INIT_FLAGS]);
  ASFGLBCTL *g = asfglbctl;
  if ((flags & TL_INIT_FIRST) != 0 && (g == nullptr || g->prottab == nullptr)) {
    // Without a global control block there is nowhere to hang the record;
    // the table is set all the same.
    tlglobal *tg = nullptr;
    if (g != nullptr) {
      tg = static_cast<tlglobal *>(asf_alloc(asf_pool_global, sizeof(tlglobal)));
      if (tg == nullptr) {
        driver_error(ctl, ASF_ERR_MEMORY, 12);
        return -1;
      }
      g->prottab = tg;
    }
    get_protocol_tab(&tlprototab);
    if (net_common_data(flags) == -1) {
      set_status(ctl, ASF_ERR_MEMORY);
      return -1;
    }
    if (tg != nullptr) tg->flags |= TLG_NETDATA;
  }
  const auto count = static_cast<int32_t>(w[TL_INIT_NPROT]);
  const auto *list = reinterpret_cast<const unsigned char *>(w[TL_INIT_PROT]);
  if (count == 0 || (count > 0 && list == nullptr)) {
    set_status(ctl, TL_ERR_NO_PROTOCOLS);
    return -1;
  }
  if (count < 0) return 0;
  const tlnetsw *table = switch_table();
  char name[TL_PROT_NAME_SIZE + 1];
  entry_name(list, 0, name);
  if (count == 1 && name[0] == '\0') {
    for (int i = 0; table[i].name != nullptr; ++i) {
      if (is_mux(table[i].name)) continue;
      if (init_row(table[i], ctl, initreq) == -1) return -1;
    }
    return 0;
  }
  for (int e = 0; e < count; ++e) {
    entry_name(list, e, name);
    if (is_mux(name)) continue;
    int inx = 0;
    while (table[inx].name != nullptr && std::strcmp(table[inx].name, name) != 0)
      ++inx;
    if (table[inx].name == nullptr) {
      set_status(ctl, TL_STATUS_NO_PROTOCOL);
      return -1;
    }
    if (init_row(table[inx], ctl, initreq) == -1) return -1;
  }
  return 0;
}

/* Terminates every row's driver in table order, then frees the
** transport-global record. Returns 0, or -1 at the first failing term
** (the record then stays). */
int tlTerm(asfsvcctl *ctl, void *arg) {
  const tlnetsw *table = switch_table();
  for (int i = 0; table[i].name != nullptr; ++i) {
    if (is_mux(table[i].name)) continue;
    if (call_entry(table[i].term, ctl, ctl, arg) == -1) return -1;
  }
  if (asfglbctl != nullptr && asfglbctl->prottab != nullptr) {
    asf_free(asf_pool_global, asfglbctl->prottab);
    asfglbctl->prottab = nullptr;
  }
  return 0;
}

}  // extern "C"
