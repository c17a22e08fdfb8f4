/*
** The STREAMS-pipe driver, connecting side: an association with a server
** on this machine over the stream it mounted at <rendezvous
** directory>/<service>.str. The transport layer (asf/tl) calls these
** entries through the operation vector of driver type 12; the stream is
** reached through the platform's STREAMS layer (platform/streams.h), by
** way of the table strpipe_driver_calls.
**
** One transport message is one STREAMS message; expedited data is a
** high-priority message, whose first byte a receive puts in the
** association's expedited slot before it goes on to the next message.
** Interrupted STREAMS calls are made again. The transport address is the
** stream path, kept in a process-wide conversion buffer.
*/
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "net_paths.h"
#include "os_wrappers.h"
#include "strpipe_driver.h"

extern "C" {
const strpipe_calls strpipe_platform_calls = {str_open, isastream, putmsg, getmsg, str_ioctl};
const strpipe_calls *strpipe_driver_calls = &strpipe_platform_calls;
}

namespace {

/* Buffer slot kinds of bufGet/bufReg. */

/* A buffer the caller owns: never registered with the association. */
constexpr int32_t caller_owned = -2;

/* Flags of a disconnect, as the transport layer passes them. */

/* The conversion buffer: the stream path of the last conversion. */
char stream_path[STRPIPE_PATH_SIZE];

const strpipe_calls &calls() { return *strpipe_driver_calls; }

/* Makes call again while it fails with EINTR; its last result. */
template <typename F>
int retry_eintr(F call) {
  for (;;) {
    int rc = call();
    if (rc != -1 || errno != EINTR) return rc;
  }
}

/* The entries this side does not offer. */
int unsupported(asfsvcctl *ctl) {
  driver_error(ctl, STRPIPE_ERR_UNSUPPORTED, 0);
  return -1;
}

enum class Transfer { go, not_ready, failed };

/* Puts fd's blocking mode as ctl's timeout asks (negative: blocking; 0:
** non-blocking, no wait) and waits up to a positive timeout for kind.
** go: transfer now; not_ready: the wait ran out (nothing stored); failed:
** the switch failed with its status stored. */
Transfer prepare_transfer(drvblock *drv, int fd, int kind, asfsvcctl *ctl) {
  const int timeout = ctl->timeout;
  if (timeout < 0) {
    if ((drv->flags & DRV_NONBLOCKING) != 0 && do_blocking(drv, fd, ctl) != 0)
      return Transfer::failed;
    return Transfer::go;
  }
  if (timeout == 0) {
    if ((drv->flags & DRV_NONBLOCKING) == 0 && do_non_blocking(drv, fd, ctl) != 0)
      return Transfer::failed;
    return Transfer::go;
  }
  return sysv_select_poll(fd, 0, timeout, kind) == 0 ? Transfer::go : Transfer::not_ready;
}

/* Puts byte c in the association's expedited receive buffer; dropped
** when the association has none. */
void store_expedited(Assocctl *assoc, char c) {
  rscbufctl *x = nullptr;
  if (bufGet(assoc, asf_sel_xrecv, &x) != 0) return;
  x->buff[0] = c;
  x->p = x->buff;
  x->size = 1;
  bufReg(assoc, asf_sel_xrecv, x);
}

/* One getmsg into buf's whole allocation, with input signals switched
** off around it when the block has them on. Returns getmsg's result,
** errno kept from it. */
int get_one(drvblock *drv, int fd, rscbufctl *buf, strbuf *ctlpart, strbuf *datapart, int *flags) {
  const bool armed = (drv->flags & DRV_SIGARMED) != 0;
  if (armed) retry_eintr([&] { return calls().ioctl(fd, I_SETSIG, 0); });
  *ctlpart = strbuf {0, 0, nullptr};
  *datapart = strbuf {buf->lbuff, 0, buf->buff};
  *flags = 0;
  const int rc = calls().getmsg(fd, ctlpart, datapart, flags);
  const int saved = errno;
  if (armed) retry_eintr([&] { return calls().ioctl(fd, I_SETSIG, S_INPUT); });
  errno = saved;
  return rc;
}

}  // namespace

extern "C" {

const char *strpipe_last_path(void) { return stream_path; }

int initstr(asfsvcctl *, void *, int, const char *) { return 0; }

int termstr(asfsvcctl *, void *) { return 0; }

int waitstr(drvblock *, void *, asfsvcctl *) { return 0; }

int ipcstr_siginit(Assocctl *, drvblock *) { return 0; }

int lisnstr(drvblock *, tlconnreq *, int, asfsvcctl *ctl) { return unsupported(ctl); }

int accpstr(drvblock *, Assocctl *, tlpeeraddr **, asfsvcctl *ctl) { return unsupported(ctl); }

int roobstr(drvblock *, rscbufctl **, asfsvcctl *ctl) { return unsupported(ctl); }

int savestr(drvblock *, void *, asfsvcctl *ctl) { return unsupported(ctl); }

int reststr(drvblock *, void *, asfsvcctl *ctl) { return unsupported(ctl); }

/* Turns host|service|protocol into the stream path <rendezvous
** directory>/<service>.str, kept in the conversion buffer (addr is not
** used). Returns 0, or -1 with asfcode -25591: no text (oserr kept), a
** missing host or service, a text over 399 characters (oserr 0), or a
** path too long for the buffer (ENAMETOOLONG); the buffer then keeps the
** previous path. */
int unixcons2tladdr(const char *text, tladdr *, asfsvcctl *ctl, drvblock *) {
  if (text == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, ctl->oserr);
    return -1;
  }
  char copy[ASF_TLADDR_TEXT_MAX + 1];
  const size_t n = std::strlen(text);
  if (n > ASF_TLADDR_TEXT_MAX) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  std::memcpy(copy, text, n + 1);
  const char *host = dvz_strtok(copy, "|");
  const char *service = host != nullptr ? dvz_strtok(nullptr, "|") : nullptr;
  if (host == nullptr || service == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  char path[STRPIPE_PATH_SIZE];
  const int len = std::snprintf(path, sizeof path, "%s/%s.str", asf_tmpdir(), service);
  if (len < 0 || static_cast<size_t>(len) >= sizeof path) {
    driver_error(ctl, ASF_ERR_BADADDR, ENAMETOOLONG);
    return -1;
  }
  std::memcpy(stream_path, path, static_cast<size_t>(len) + 1);
  return 0;
}

/* Writes the peer address text "<node>|<stream path>|<protocol>" (form 8)
** into the peer address record of *slot, made when *slot is null (addr
** is not used; the path is the last conversion's). Returns 0, or -1 with
** -406 (memory, or the node name cannot be read) or -25591 with
** ENAMETOOLONG (the text does not fit its 400 bytes), whatever this call
** allocated freed. */
int unixtladdr2cons(const tladdr *, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl) {
  if (slot == nullptr) {
    driver_error(ctl, ASF_ERR_BADARGS, 0);
    return -1;
  }
  tlpeerfill f;
  if (tl_peer_begin(&f, slot, ctl) != 0) return -1;
  auto fail = [&](int status, int oserr) {
    driver_error(ctl, status, oserr);
    return tl_peer_end(&f, 0, 0);
  };
  char node[ASF_NODENAME_SIZE];
  if (rhostname(node, sizeof node) != 0) return fail(ASF_ERR_MEMORY, errno);
  const char *protocol = drv != nullptr && drv->protname != nullptr ? drv->protname : "";
  const int len = std::snprintf(f.text, TL_PEER_TEXT_SIZE, "%s|%s|%s", node, stream_path, protocol);
  if (len < 0 || len >= TL_PEER_TEXT_SIZE) return fail(ASF_ERR_BADADDR, ENAMETOOLONG);
  return tl_peer_end(&f, 8, 1);
}

/* Opens the stream that parms' address (host|service|protocol, the host
** this machine) names and lends the association its buffers, of the
** sqlhosts buffer size when positive, else 4096. Returns 0 with the
** strpipectl in drv->priv, or -1 with asfcode set and nothing left open:
** 25503 (no vector), -25591 (no text address, another host, a bad
** address), -908 with errno (the path cannot be opened; ENOSTR when what
** it opens is not a stream), -406 (memory). */
int connstr(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl) {
  drv->flags |= DRV_CONNECTING;
  if (load_operation_vector(drv) != 0 || drv->ops.cons2tladdr == nullptr) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
    return -1;
  }
  // Without a text address the conversion buffer would hold another
  // connect's path.
  const tlreqaddr *addr = parms != nullptr ? parms->addr : nullptr;
  if (addr == nullptr || addr->kind != 1 || addr->text == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  if (islocalhost(addr->text, ctl) != 0) return -1;
  if (drv->ops.cons2tladdr(addr->text, &drv->reqaddr, ctl, drv) != 0) return -1;
  const SqlhOptions *options = parms->options;
  drv->bufsize = options != nullptr && options->bufsize > 0 ? options->bufsize : STRPIPE_BUFSIZE;

  const int fd = retry_eintr([&] { return calls().open(stream_path, O_RDWR); });
  if (fd < 0) {
    driver_error(ctl, TLI_ERR_CONNECT, errno);
    return -1;
  }
  const int stream = retry_eintr([&] { return calls().isastream(fd); });
  if (stream != 1) {
    driver_error(ctl, TLI_ERR_CONNECT, stream == 0 ? ENOSTR : errno);
    close(fd);
    return -1;
  }
  auto *sp = static_cast<strpipectl *>(asf_alloc(asf_pool_assoc, sizeof(strpipectl)));
  if (sp == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    close(fd);
    return -1;
  }
  sp->fd = fd;
  drv->priv = sp;
  if (net_buffer_setup(drv, assoc_of(ctl), ctl) != 0) {
    close(fd);
    asf_free(asf_pool_assoc, sp);
    drv->priv = nullptr;
    return -1;
  }
  return 0;
}

/* Sends buf's size bytes from p as one message. Returns 0 with buf reset
** and back in the send slot (a caller's buffer, type -2, left alone); -1
** with asfcode 6 when a positive timeout ran out (buf back in its slot) or
** the stream is full on a non-blocking send (buf stays with the caller);
** -1 with -25580 and errno for a failed send (buf back in its slot). */
int sendstr(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  if (buf == nullptr) {
    driver_error(ctl, STRPIPE_ERR_NOBUF, 0);
    return -1;
  }
  Assocctl *assoc = assoc_of(ctl);
  auto give_back = [&] {
    if (buf->type != caller_owned) bufReg(assoc, asf_sel_send, buf);
    return -1;
  };
  const auto *sp = static_cast<strpipectl *>(drv->priv);
  if (sp == nullptr) {
    driver_error(ctl, ASF_ERR_SYSCALL, EBADF);
    return give_back();
  }
  const int fd = sp->fd;
  switch (prepare_transfer(drv, fd, asf_poll_output, ctl)) {
    case Transfer::go:
      break;
    case Transfer::not_ready:
      driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
      return give_back();
    case Transfer::failed:
      return give_back();
  }
  strbuf data {0, buf->size, buf->p};
  if (retry_eintr([&] { return calls().putmsg(fd, nullptr, &data, 0); }) != 0) {
    if (errno == EAGAIN) {
      driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
      return -1;
    }
    driver_error(ctl, ASF_ERR_SYSCALL, errno);
    return give_back();
  }
  if (buf->type != caller_owned) {
    buf->p = buf->buff + buf->p_offset;
    buf->size = buf->lbuff - buf->p_offset;
    bufReg(assoc, asf_sel_send, buf);
  }
  return 0;
}

/* Receives the next normal message into *slot's buffer, or into the
** association's receive buffer (stored through slot) when *slot is null.
** High-priority messages met on the way give their first byte to the
** expedited slot, and the receive goes on within the same time limit.
** Returns 0 with p = buff and size the message's length; -1 with asfcode
** -25567 (no buffer at all), 6 (nothing in time, or nothing there on a
** non-blocking receive), -25582 with oserr 0 (the server closed), -25580
** with errno (getmsg failed; EBADMSG: a message longer than the buffer,
** consumed). On -1 the association's buffer goes back to its slot and
** *slot is cleared. */
int recvstr(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl) {
  Assocctl *assoc = assoc_of(ctl);
  rscbufctl *buf = slot != nullptr ? *slot : nullptr;
  const bool own = buf == nullptr;
  if (slot == nullptr || (own && bufGet(assoc, asf_sel_recv, &buf) != 0)) {
    driver_error(ctl, STRPIPE_ERR_NOBUF, errno);
    return -1;
  }
  *slot = buf;
  auto give_back = [&] {
    if (own) {
      bufReg(assoc, asf_sel_recv, buf);
      *slot = nullptr;
    }
    return -1;
  };
  const auto *sp = static_cast<strpipectl *>(drv->priv);
  if (sp == nullptr) {
    driver_error(ctl, ASF_ERR_SYSCALL, EBADF);
    return give_back();
  }
  const int fd = sp->fd;
  const int timeout = ctl->timeout;
  const int64_t deadline = timeout > 0 ? asf_now_ms() + timeout : 0;
  switch (prepare_transfer(drv, fd, asf_poll_input, ctl)) {
    case Transfer::go:
      break;
    case Transfer::not_ready:
      driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
      return give_back();
    case Transfer::failed:
      return give_back();
  }
  for (;;) {
    strbuf ctlpart {}, datapart {};
    int flags = 0;
    if (get_one(drv, fd, buf, &ctlpart, &datapart, &flags) != 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN)
        driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
      else
        driver_error(ctl, ASF_ERR_SYSCALL, errno);
      return give_back();
    }
    if (ctlpart.len == 0 && datapart.len == 0) {
      driver_error(ctl, TLI_ERR_PEERGONE, 0);
      return give_back();
    }
    if ((flags & RS_HIPRI) == 0) {
      buf->p = buf->buff;
      buf->size = datapart.len > 0 ? datapart.len : 0;
      return 0;
    }
    if (datapart.len > 0) store_expedited(assoc, buf->buff[0]);
    // The next message must come within what is left of a positive
    // timeout: a blocking wait here could last for ever.
    if (timeout > 0) {
      const int64_t left = deadline - asf_now_ms();
      if (left <= 0 || sysv_select_poll(fd, 0, static_cast<int>(left), asf_poll_input) != 0) {
        driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
        return give_back();
      }
    }
  }
}

/* Sends buf's bytes as one high-priority message from the connecting side
** (another side sends nothing) and puts buf back in the expedited send
** slot. Returns 0, or -1 with -25580 and errno when the send failed (or
** the block has no stream: EBADF). */
int soobstr(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  if (buf == nullptr) return 0;
  Assocctl *assoc = assoc_of(ctl);
  const auto *sp = static_cast<strpipectl *>(drv->priv);
  if ((drv->flags & DRV_CONNECTING) == 0) {
    bufReg(assoc, asf_sel_xsend, buf);
    return 0;
  }
  int rc = -1;
  int err = EBADF;
  if (sp != nullptr) {
    strbuf ctlpart {0, 0, nullptr};
    strbuf data {0, buf->size, buf->p};
    rc = retry_eintr([&] { return calls().putmsg(sp->fd, &ctlpart, &data, RS_HIPRI); });
    err = errno;
  }
  bufReg(assoc, asf_sel_xsend, buf);
  if (rc == 0) return 0;
  driver_error(ctl, ASF_ERR_SYSCALL, err);
  return -1;
}

/* Closes the stream as flags ask (not when the association is handed
** over) and frees the buffers and the strpipectl. Always 0. */
int discstr(drvblock *drv, int flags, asfsvcctl *ctl) {
  const auto *sp = static_cast<strpipectl *>(drv->priv);
  if (sp == nullptr) return 0;
  const int fd = sp->fd;
  if ((flags & tl_disc_close_only) != 0 || flags == tl_disc_stop_listening) {
    if (fd >= 0) close(fd);
  } else {
    drv->flags |= DRV_RELEASING;
    if ((flags & tl_disc_handed_over) == 0 && fd >= 0) close(fd);
  }
  net_deallocate(drv, ctl);
  drv->priv = nullptr;
  return 0;
}

/* Both words of attr's value receive the stream's descriptor (-1 without
** one). 0. */
int attrstr(drvblock *drv, void *attr) {
  const auto *sp = static_cast<const strpipectl *>(drv->priv);
  auto *a = static_cast<tlattr *>(attr);
  if (a == nullptr || a->value == nullptr) return 0;
  const int32_t fd = sp != nullptr ? sp->fd : -1;
  const int32_t words[2] = {fd, fd};
  std::memcpy(a->value, words, sizeof words);
  return 0;
}

}  // extern "C"
