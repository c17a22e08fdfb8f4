/*
** The pipe driver: an association with a back-end program on this machine
** over two ordinary pipes. The client side forks and execs the program
** with the pipes as its standard input and output; the back-end side (a
** program started that way) accepts the association on descriptors 0 and
** 1 and takes its connect packet from its arguments or from descriptor 0.
** The transport layer calls these entries through `pipe_opvec` and the
** "ipcpip" row of the protocol switch (asf/tl/protocol_switch.cpp).
**
** Expedited data is a signal: the client sends SIGTERM to the back-end
** through a pidfd taken at fork (a back-end that is gone gets nothing,
** and a reused pid never does); the back-end's handler turns it into the
** expedited byte "B". The back-ends are reaped by the SIGCHLD reaper,
** which waits only for the pids this driver started, so that other
** children keep their exit statuses for their own waits.
**
** A hand-over to an executed program saves the private block's image
** (savepip) and rebuilds it there (restpip); the pipes stay open across
** exec.
**
** Pipe writes rely on SIGPIPE being ignored by the process (the monitor
** and the tests ignore it); a write to a back-end that is gone then fails
** with EPIPE and gives -25586.
*/
#include "pipe_driver.h"

#include <fcntl.h>
#include <linux/sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "asf_al.h"
#include "asf_arena.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "fd_close.h"
#include "gen_strings.h"
#include "os_wrappers.h"
#include "svr4.h"

namespace {

/* Flags word (request word 1) and its bits, and the word (request word 6)
** that ask initpip for the reaper. */
constexpr int init_word_flags = 0;
constexpr int init_word_reaper = 5;
constexpr uintptr_t init_reaper_bits = 16 | 4;
/* The wait at exactly PIPE_EMPTY_READS empty reads. */
constexpr int last_empty_wait_ms = 10;
/* A caller-owned record: never registered back. */
constexpr int32_t caller_owned = -2;
constexpr char interrupt_byte = 'B';

/* Process-wide conversion buffer of pipecons2tladdr: the address texts
** reach the driver from the name service, which bounds them to this. */
char conversion_text[ASF_TLADDR_TEXT_MAX + 1];
char empty_text[1];
pipeaddr conversion = {nullptr, {nullptr, nullptr, nullptr, nullptr}};

/* The back-end program's own arguments (asf_pipe_set_process_args). */
int process_argc = 0;
char **process_argv = nullptr;

/* The back-ends started and not yet reaped: the reaper's whole world. A
** slot holds a pid or 0; the main flow writes slots with SIGCHLD blocked,
** the reaper only clears them. */
constexpr int backend_slots = 256;
volatile sig_atomic_t backend_pids[backend_slots];

/* Waits (without blocking) for every registered back-end until a pass
** finds none ready; a pid the system reaped already (ECHILD) is dropped
** too. Async-signal-safe; errno is kept. */
void reap_backends() {
  const int saved_errno = errno;
  bool again = true;
  while (again) {
    again = false;
    for (int i = 0; i < backend_slots; ++i) {
      const pid_t pid = backend_pids[i];
      if (pid <= 0) continue;
      int status = 0;
      pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid || (r == -1 && errno == ECHILD)) {
        backend_pids[i] = 0;
        again = true;
      }
    }
  }
  errno = saved_errno;
}

/* Puts pid in a free slot. REQUIRES: SIGCHLD blocked. false when every
** slot is taken by a live back-end. */
bool register_backend(pid_t pid) {
  for (int i = 0; i < backend_slots; ++i) {
    if (backend_pids[i] == 0) {
      backend_pids[i] = pid;
      return true;
    }
  }
  return false;
}

/* True when a slot is free after reaping what can be reaped. */
bool backend_slot_free() {
  svr4::SignalBlock block {SIGCHLD};
  reap_backends();
  for (int i = 0; i < backend_slots; ++i)
    if (backend_pids[i] == 0) return true;
  return false;
}

int system_signal_backend(int pidfd, int, int sig) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

/* Applies fn to both descriptors of pc (once when they are the same). */
template <typename Fn>
int both_descriptors(const pipectl *pc, Fn fn) {
  if (fn(pc->rfd) != 0) return -1;
  if (pc->wfd != pc->rfd && fn(pc->wfd) != 0) return -1;
  return 0;
}

/* The timeout handling of send and receive on fd (kind: the poll kind).
** A timeout of 0 switches both descriptors to non-blocking and does not
** wait; a positive one waits; a negative one switches them back.
** Returns 0 to go on, 1 when the wait ran out (asfcode 6 set), -1 when a
** switch failed (its status set). */
int prepare_transfer(drvblock *drv, const pipectl *pc, int fd, int kind, asfsvcctl *ctl) {
  const int timeout = ctl->timeout;
  if (timeout < 0) {
    if ((drv->flags & DRV_NONBLOCKING) == 0) return 0;
    const uint32_t saved = drv->savedfl;
    int rc = both_descriptors(pc, [&](int d) {
      drv->savedfl = saved;
      return do_blocking(drv, d, ctl);
    });
    return rc;
  }
  if (timeout == 0 && (drv->flags & DRV_NONBLOCKING) == 0) {
    uint32_t first = 0;
    bool have_first = false;
    int rc = both_descriptors(pc, [&](int d) {
      int r = do_non_blocking(drv, d, ctl);
      if (r == 0 && !have_first) {
        first = drv->savedfl;
        have_first = true;
      }
      return r;
    });
    // The flags kept are those of the first descriptor: both ends of a
    // pipe carry the same status flags.
    if (have_first) drv->savedfl = first;
    if (rc != 0) return -1;
  }
  if (sysv_select_poll(fd, 0, timeout, kind) != 0) {
    driver_error(ctl, TLI_STATUS_AGAIN, errno);
    return 1;
  }
  return 0;
}

/* Reads the connect packet of the back-end side into buf: the process's
** arguments joined by blanks when there are 4 or more, else from rfd until
** the session header's length is complete. Returns 0, or -1 with -25591
** (errstr "read" when reading failed). */
int get_con_pkt(const pipectl *pc, rscbufctl *buf, asfsvcctl *ctl) {
  buf->p = buf->buff;
  if (process_argc >= 4 && process_argv != nullptr) {
    size_t used = 0;
    for (int i = 1; i < process_argc; ++i) {
      const char *arg = process_argv[i] != nullptr ? process_argv[i] : "";
      const size_t blank = i > 1 ? 1 : 0;
      const size_t len = std::strlen(arg);
      if (used + blank + len > static_cast<size_t>(buf->lbuff)) {
        // Never cut: a partial connect packet would be misread.
        driver_error(ctl, ASF_ERR_BADADDR, E2BIG);
        return -1;
      }
      if (blank != 0) buf->buff[used++] = ' ';
      std::memcpy(buf->buff + used, arg, len);
      used += len;
    }
    buf->size = static_cast<int32_t>(used);
    return 0;
  }
  // Only what the header asks for is read, so that nothing sent after the
  // connect packet is taken with it: first the length field (the 10-byte
  // prefix of the text form), then the rest.
  const int32_t room = buf->lbuff;
  int32_t got = 0;
  int32_t need = -1;
  int32_t want = room < 2 ? room : 2;
  if (want < 1) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  while (got < want) {
    ssize_t n;
    do {
      n = read(pc->rfd, buf->buff + got, static_cast<size_t>(want - got));
    } while (n < 0 && errno == EINTR);
    if (n < 1) {
      driver_error(ctl, ASF_ERR_BADADDR, n == 0 ? 0 : errno);
      asf_set_errstr(ctl, "read");
      return -1;
    }
    got += static_cast<int32_t>(n);
    if (need >= 0 || got < want) continue;
    const auto *b = reinterpret_cast<const unsigned char *>(buf->buff);
    if (b[0] == 's' && b[1] == 'q') {
      // Text form: "sq" and the 6-byte header in 8 characters; its length
      // counts the 6 raw bytes, the wire carries 10.
      if (got < 10) {
        // The prefix must fit the buffer too, or what came is all there is.
        want = room >= 10 ? 10 : got;
        continue;
      }
      char raw[6];
      con6tobin(buf->buff + 2, raw, 8);
      need = ((static_cast<unsigned char>(raw[0]) << 8) | static_cast<unsigned char>(raw[1])) + 4;
    } else {
      need = (b[0] << 8) | b[1];
    }
    // A length that no header can have, or more than the buffer holds:
    // what came is all the packet there is.
    if (need < got || need > room) need = got;
    want = need;
  }
  buf->size = got;
  return 0;
}

/* Puts buf back as the association's receive buffer when it was taken
** from there, and clears *slot. -1. */
int give_back_recv(Assocctl *assoc, rscbufctl *buf, bool own, rscbufctl **slot) {
  if (own) {
    bufReg(assoc, asf_sel_recv, buf);
    *slot = nullptr;
  }
  return -1;
}

/* The back-end process: its pipes become descriptors 0 and 1, everything
** from 3 up is closed, and the program replaces it. Never returns. Only
** async-signal-safe calls: it runs between fork and exec. */
[[noreturn]] void child_process_fn(const int a[2], const int b[2], const pipeaddr *addr,
                                   long fd_limit, const char *exec_failed, size_t exec_failed_len) {
  close(a[0]);
  close(b[1]);
  int in = b[0];
  int out = a[1];
  if (in != 0) {
    if (out == 0) {
      out = dup(out);
      if (out < 0) {
        static const char trouble[] = "_iforkbackend: trouble setup pipes\n";
        (void)!write(2, trouble, sizeof trouble - 1);
        _exit(1);
      }
      close(0);
    }
    dup2(in, 0);
    close(in);
  } else {
    fcntl(0, F_SETFD, 0);
  }
  if (out != 1) {
    dup2(out, 1);
    close(out);
  } else {
    fcntl(1, F_SETFD, 0);
  }
  dvz_close_from(3, fd_limit);
  execv(addr->path, addr->argv);
  (void)!write(2, exec_failed, exec_failed_len);
  _exit(1);
}

/* Forks with a pidfd for the child when the kernel gives one (clone3),
** else with fork and pidfd_open. Returns the child's pid (0 in the
** child), or -1 with errno; *pidfd is -1 when no handle could be had. */
pid_t fork_with_pidfd(int *pidfd) {
  *pidfd = -1;
  struct clone_args args;
  std::memset(&args, 0, sizeof args);
  int fd = -1;
  args.flags = CLONE_PIDFD;
  args.pidfd = reinterpret_cast<uintptr_t>(&fd);
  args.exit_signal = SIGCHLD;
  long pid = syscall(SYS_clone3, &args, sizeof args);
  if (pid >= 0) {
    if (pid > 0) *pidfd = fd;
    return static_cast<pid_t>(pid);
  }
  if (errno != ENOSYS && errno != EPERM && errno != EINVAL) return -1;
  pid_t child = fork();
  if (child > 0) *pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  return child;
}

/* The descriptor limit the child closes up to. */
long descriptor_limit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return _osftabsize();
  return limit.rlim_max > static_cast<rlim_t>(INT_MAX) ? INT_MAX
                                                       : static_cast<long>(limit.rlim_max);
}

/* True when the process behind pidfd has ended (exited, zombie or reaped). */
bool backend_gone(int pidfd) {
  struct pollfd p = {pidfd, POLLIN, 0};
  int rc;
  do {
    rc = poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc != 0;
}

}  // namespace

extern "C" {

int asfsigstate = pipe_sig_none;
Assocctl *pipe_exp_rsc_ptr = nullptr;
drvblock *pipe_exp_netctxp = nullptr;

const pipe_signal_seam pipe_system_signals = {system_signal_backend};
const pipe_signal_seam *pipe_signals = &pipe_system_signals;

const pipeaddr *pipe_last_address(void) { return &conversion; }

int pipe_backends_pending(void) {
  svr4::SignalBlock block {SIGCHLD};
  reap_backends();
  int n = 0;
  for (int i = 0; i < backend_slots; ++i)
    if (backend_pids[i] != 0) ++n;
  return n;
}

void asf_pipe_set_process_args(int argc, char **argv) {
  process_argc = argc;
  process_argv = argv;
}

/* The SIGCHLD reaper: waits for the back-ends that are ready, then
** installs itself again. */
void p_waitforchild(int) {
  reap_backends();
  const int saved_errno = errno;
  svr4_sigset(SIGCHLD, p_waitforchild);
  errno = saved_errno;
}

int ASF_SigSwitch(int mode) {
  if (asfsigstate == pipe_sig_none) return 0;
  if (mode == 1 && asfsigstate != pipe_sig_ignored) {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    action.sa_flags = SA_NOCLDWAIT;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
    asfsigstate = pipe_sig_ignored;
  } else if (mode == 2 && asfsigstate != pipe_sig_reaper) {
    svr4_sigset(SIGCHLD, p_waitforchild);
    asfsigstate = pipe_sig_reaper;
  }
  return 0;
}

/* Installs the reaper when the init request's flags hold 16 and 4 and its
** word 6 is not 0. Always 0. */
int initpip(asfsvcctl *, void *initreq, int, const char *) {
  if (initreq == nullptr) return 0;
  const auto *w = static_cast<const uintptr_t *>(initreq);
  if ((w[init_word_flags] & init_reaper_bits) == init_reaper_bits && w[init_word_reaper] != 0) {
    svr4_sigset(SIGCHLD, p_waitforchild);
    asfsigstate = pipe_sig_reaper;
  }
  return 0;
}

int termpip(asfsvcctl *, void *) { return 0; }

/* Converts host|program|protocol into the process-wide pipe address (see
** pipe_last_address); addr and drv are not used. 0, or -1 with asfcode
** -25591 (no text, too long, empty host or program). */
int pipecons2tladdr(const char *text, tladdr *, asfsvcctl *ctl, drvblock *) {
  if (text == nullptr || std::strlen(text) > ASF_TLADDR_TEXT_MAX) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  std::strcpy(conversion_text, text);
  char *last = std::strrchr(conversion_text, '|');
  if (last != nullptr) *last = '\0';
  char *first = std::strchr(conversion_text, '|');
  if (first == nullptr || first == conversion_text || first[1] == '\0') {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  *first = '\0';
  char *program = first + 1;
  char *slash = std::strrchr(program, '/');
  conversion.path = program;
  conversion.argv[0] = slash != nullptr ? slash + 1 : program;
  conversion.argv[1] = empty_text;
  conversion.argv[2] = conversion_text;
  conversion.argv[3] = nullptr;
  return 0;
}

/* Makes *slot (allocated when null) a peer address record of form 8 with
** the text "<local host>||ipcpip". 0, or -1 with -406 (nothing kept). */
int pipetladdr2cons(const tladdr *, tlpeeraddr **slot, drvblock *, asfsvcctl *ctl) {
  tlpeerfill f;
  if (tl_peer_begin(&f, slot, ctl) != 0) return -1;
  char host[ASF_NODENAME_SIZE];
  if (rhostname(host, sizeof host) != 0) {
    driver_error(ctl, ASF_ERR_MEMORY, errno);
    return tl_peer_end(&f, 0, 0);
  }
  std::snprintf(f.text, TL_PEER_TEXT_SIZE, "%s%s%s%s", host, "|", "|", "ipcpip");
  return tl_peer_end(&f, 8, 1);
}

/* Starts the back-end program the address of parms names (on this host)
** with two pipes as its standard input and output. Returns 0 with the
** private block and the buffers set up, or -1: 25503 (no vector), -25591
** (address), -25584 (not executable; errstr the path; nothing forked),
** -1250 (pipe or fork), -406 (memory), or the buffer set-up's status. A
** program that exec cannot start still gives 0; its child reports on
** standard error and exits, and the first receive sees the end. */
int connpip(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl) {
  drv->flags |= DRV_CONNECTING;
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return -1;
  }
  const tlreqaddr *addr = parms != nullptr ? parms->addr : nullptr;
  const char *text = addr != nullptr ? addr->text : nullptr;
  if (islocalhost(text, ctl) != 0) return -1;
  if (addr->kind != 1 || drv->ops.cons2tladdr == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  if (drv->ops.cons2tladdr(text, &drv->reqaddr, ctl, drv) != 0) return -1;
  drv->bufsize = PIPE_BUFSIZE;
  if (access(conversion.path, X_OK) != 0) {
    driver_error(ctl, PIPE_ERR_NOTEXEC, errno);
    asf_set_errstr(ctl, conversion.path);
    return -1;
  }
  conversion.argv[1] = parms->servername != nullptr ? parms->servername : empty_text;
  if (!backend_slot_free()) {
    driver_error(ctl, PIPE_ERR_SETUP, EAGAIN);
    return -1;
  }

  // Everything the child needs is made before the fork.
  char exec_failed[ASF_TLADDR_TEXT_MAX + 64];
  int len = std::snprintf(exec_failed, sizeof exec_failed, "_pipe connect: Error execing '%s'\n",
                          conversion.path);
  size_t exec_failed_len = len < 0 ? 0 : static_cast<size_t>(len);
  if (exec_failed_len >= sizeof exec_failed) exec_failed_len = sizeof exec_failed - 1;
  const long fd_limit = descriptor_limit();

  int a[2];
  int b[2];
  if (pipe2(a, O_CLOEXEC) != 0) {
    driver_error(ctl, PIPE_ERR_SETUP, errno);
    return -1;
  }
  if (pipe2(b, O_CLOEXEC) != 0) {
    driver_error(ctl, PIPE_ERR_SETUP, errno);
    close(a[0]);
    close(a[1]);
    return -1;
  }
  int pidfd = -1;
  pid_t pid;
  {
    // The reaper must not see the child before its slot is filled.
    svr4::SignalBlock block {SIGCHLD};
    pid = fork_with_pidfd(&pidfd);
    if (pid == 0) child_process_fn(a, b, &conversion, fd_limit, exec_failed, exec_failed_len);
    if (pid > 0) register_backend(pid);
  }
  const int fork_errno = errno;
  close(a[1]);
  close(b[0]);
  if (pid < 0) {
    close(a[0]);
    close(b[1]);
    driver_error(ctl, PIPE_ERR_SETUP, fork_errno);
    return -1;
  }
  auto fail = [&](pipectl *pc) {
    // Closing the pipes ends the child; the reaper takes it.
    if (pc != nullptr) asf_free(asf_pool_assoc, pc);
    drv->priv = nullptr;
    close(a[0]);
    close(b[1]);
    if (pidfd >= 0) close(pidfd);
    return -1;
  };
  auto *pc = static_cast<pipectl *>(asf_alloc(asf_pool_assoc, sizeof(pipectl)));
  if (pc == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return fail(nullptr);
  }
  *pc = pipectl {a[0], b[1], pid, 0, pidfd};
  drv->priv = pc;
  if (net_buffer_setup(drv, assoc_of(ctl), ctl) != 0) return fail(pc);
  return 0;
}

/* The back-end side's listen: the vector, no private block, buffer size
** 4096. 0, or -1 with 25503. */
int lisnpip(drvblock *drv, tlconnreq *, int, asfsvcctl *ctl) {
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return -1;
  }
  drv->priv = nullptr;
  drv->bufsize = PIPE_BUFSIZE;
  return 0;
}

/* Accepts the association on descriptors 0 and 1 into newassoc (whose
** transport block the layer copied from the listener): the private block,
** the peer's address into *peer (a record made when *peer is null; none
** kept when peer is null), the buffers, the connect packet marked pending
** and SIGTERM armed. 0, or -1 with the status (nothing kept). */
int accppip(drvblock *, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl) {
  if (!asfValidAssoc2(newassoc) || newassoc->tlblock == nullptr) {
    driver_error(ctl, ASF_ERR_BADASSOC, 0);
    return -1;
  }
  drvblock *drv = &static_cast<tlblock *>(newassoc->tlblock)->drv;
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return -1;
  }
  auto *pc = static_cast<pipectl *>(asf_alloc(asf_pool_assoc, sizeof(pipectl)));
  if (pc == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  *pc = pipectl {0, 1, static_cast<int32_t>(getppid()), 0, -1};
  drv->priv = pc;
  auto fail = [&] {
    asf_free(asf_pool_assoc, pc);
    drv->priv = nullptr;
    return -1;
  };
  tlpeeraddr *local = nullptr;
  tlpeeraddr **slot = peer != nullptr ? peer : &local;
  if (drv->ops.tladdr2cons == nullptr) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return fail();
  }
  if (drv->ops.tladdr2cons(&drv->repaddr, slot, drv, ctl) != 0) return fail();
  if (local != nullptr) {
    asf_free(asf_pool_assoc, local->pair->text);
    asf_free(asf_pool_assoc, local->pair);
    asf_free(asf_pool_assoc, local);
  }
  drv->flags |= DRV_ACCEPTED;
  asfsvcctl nctl = *ctl;
  nctl.ascid = newassoc;
  if (net_buffer_setup(drv, newassoc, &nctl) != 0) {
    ctl->asfcode = nctl.asfcode;
    ctl->oserr = nctl.oserr;
    return fail();
  }
  drv->word2 |= PIPE_CONPKT_PENDING;
  if (drv->ops.siginit != nullptr && drv->ops.siginit(newassoc, drv) == 0)
    drv->flags |= DRV_SIGARMED;
  return 0;
}

/* Writes buf's size bytes from p to the write pipe. Returns 0 with buf
** reset and back in the send slot (a caller-owned one left alone); -1 with
** 6 (the wait ran out, or the pipe is full without blocking; p and size
** past what was written), -25586 with errno (the back-end has gone),
** or a blocking switch's status. */
int sendpip(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  auto *pc = static_cast<pipectl *>(drv->priv);
  Assocctl *assoc = assoc_of(ctl);
  auto give_back = [&] {
    if (buf->type != caller_owned) bufReg(assoc, asf_sel_send, buf);
    return -1;
  };
  if (pc == nullptr) {
    driver_error(ctl, PIPE_ERR_WRITE, 0);
    return -1;
  }
  int prep = prepare_transfer(drv, pc, pc->wfd, asf_poll_output, ctl);
  if (prep == 1) return give_back();
  if (prep != 0) return -1;
  while (buf->size > 0) {
    ssize_t n = write(pc->wfd, buf->p, static_cast<size_t>(buf->size));
    if (n >= 0) {
      buf->p += n;
      buf->size -= static_cast<int32_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      driver_error(ctl, TLI_STATUS_AGAIN, errno);
      return -1;
    }
    driver_error(ctl, PIPE_ERR_WRITE, errno);
    return give_back();
  }
  if (buf->type != caller_owned) {
    buf->p = buf->buff + buf->p_offset;
    buf->size = buf->lbuff - buf->p_offset;
    bufReg(assoc, asf_sel_send, buf);
  }
  return 0;
}

/* Reads what the pipe holds into *slot's buffer, or into the association's
** receive buffer (stored through slot) when *slot is null; on the back-end
** side the first receive gives the connect packet. Returns 0 with p and
** size set, or -1: 6 (nothing yet, or the wait ran out), -25587 (the other
** side has gone, or the read failed), -25591 (no connect packet), 25503
** when no receive buffer is there; a taken buffer goes back to its slot
** and *slot is cleared. */
int recvpip(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl) {
  auto *pc = static_cast<pipectl *>(drv->priv);
  Assocctl *assoc = assoc_of(ctl);
  if (pc == nullptr || slot == nullptr) {
    driver_error(ctl, PIPE_ERR_READ, 0);
    return -1;
  }
  rscbufctl *buf = *slot;
  const bool own = buf == nullptr;
  if (own) {
    if (bufGet(assoc, asf_sel_recv, &buf) != 0) {
      driver_error(ctl, TLI_ERR_OUTSTATE, 0);
      return -1;
    }
    *slot = buf;
  }
  if ((drv->word2 & PIPE_CONPKT_PENDING) != 0) {
    int rc = get_con_pkt(pc, buf, ctl);
    drv->word2 &= ~PIPE_CONPKT_PENDING;
    return rc == 0 ? 0 : give_back_recv(assoc, buf, own, slot);
  }
  int prep = prepare_transfer(drv, pc, pc->rfd, asf_poll_input, ctl);
  if (prep != 0) return give_back_recv(assoc, buf, own, slot);
  for (;;) {
    errno = 0;
    ssize_t n = read(pc->rfd, buf->buff, static_cast<size_t>(buf->lbuff));
    if (n > 0) {
      pc->nempty = 0;
      buf->size = static_cast<int32_t>(n);
      buf->p = buf->buff;
      return 0;
    }
    if (n == 0) {
      ++pc->nempty;
      if (ctl->timeout != 0) {
        driver_error(ctl, PIPE_ERR_READ, errno);
      } else if (pc->nempty < PIPE_EMPTY_READS) {
        driver_error(ctl, TLI_STATUS_AGAIN, 0);
      } else if (pc->nempty > PIPE_EMPTY_READS) {
        pc->nempty = 0;
        driver_error(ctl, PIPE_ERR_READ, errno);
      } else if (sysv_select_poll(pc->rfd, 0, last_empty_wait_ms, asf_poll_input) == 0) {
        continue;
      } else {
        pc->nempty = 0;
        driver_error(ctl, TLI_STATUS_AGAIN, 0);
      }
      return give_back_recv(assoc, buf, own, slot);
    }
    if (errno == EINTR) continue;
    driver_error(ctl, errno == EAGAIN ? TLI_STATUS_AGAIN : PIPE_ERR_READ, errno);
    return give_back_recv(assoc, buf, own, slot);
  }
}

/* Sends the interrupt: SIGTERM to the back-end this side started, unless
** it has ended (then nothing is signalled). The record goes back to the
** expedited send slot; its byte is not transmitted. Always 0. */
int soobpip(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  auto *pc = static_cast<pipectl *>(drv->priv);
  if ((drv->flags & DRV_CONNECTING) != 0 && pc != nullptr && pc->pidfd >= 0 &&
      !backend_gone(pc->pidfd))
    pipe_signals->signal_backend(pc->pidfd, pc->pid, SIGTERM);
  if (buf != nullptr) bufReg(assoc_of(ctl), asf_sel_xsend, buf);
  return 0;
}

/* Hands out the association's expedited receive buffer in *out. 0, or -1
** with -25579 and errno when the slot is empty. */
int roobpip(drvblock *, rscbufctl **out, asfsvcctl *ctl) {
  int rc;
  {
    svr4::SignalBlock block {SIGTERM};
    rc = bufGet(assoc_of(ctl), asf_sel_xrecv, out);
  }
  if (rc == 0) return 0;
  driver_error(ctl, TLI_ERR_OUTSTATE, errno);
  return -1;
}

/* Closes both pipes (unless flags hold 0x100, a hand-over), after giving
** them back their blocking mode, and releases the buffers and the private
** block. Always 0. */
int discpip(drvblock *drv, int flags, asfsvcctl *ctl) {
  auto *pc = static_cast<pipectl *>(drv->priv);
  if (pc == nullptr) return 0;
  if ((flags & tl_disc_handed_over) == 0) {
    if ((drv->flags & DRV_NONBLOCKING) != 0) {
      fcntl(pc->rfd, F_SETFL, static_cast<int>(drv->savedfl));
      fcntl(pc->wfd, F_SETFL, static_cast<int>(drv->savedfl));
      drv->flags &= ~DRV_NONBLOCKING;
    }
    drv->flags |= DRV_RELEASING;
    close(pc->rfd);
    if (pc->wfd != pc->rfd) close(pc->wfd);
  }
  if (pc->pidfd >= 0) close(pc->pidfd);
  {
    svr4::SignalBlock block {SIGTERM};
    if (pipe_exp_netctxp == drv) {
      pipe_exp_netctxp = nullptr;
      pipe_exp_rsc_ptr = nullptr;
    }
    net_deallocate(drv, ctl);
  }
  drv->priv = nullptr;
  {
    svr4::SignalBlock block {SIGCHLD};
    reap_backends();
  }
  return 0;
}

/* Writes the private block's image (read and write descriptor, the other
** side's pid, the empty-read count: 16 bytes, host order, field by field)
** into the hand-over arena and keeps both descriptors open across exec;
** the block stays with drv until the hand-over's disconnect. 0, or -1
** with {-1, errno} when the arena has no room. */
int savepip(drvblock *drv, void *arena, asfsvcctl *ctl) {
  const auto *pc = static_cast<const pipectl *>(drv->priv);
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(static_cast<opblock *>(arena), PIPECTL_IMAGE_SIZE, &off));
  if (p == nullptr || pc == nullptr) {
    driver_error(ctl, -1, p == nullptr ? errno : 0);
    return -1;
  }
  const int32_t words[4] = {pc->rfd, pc->wfd, pc->pid, pc->nempty};
  for (int i = 0; i < 4; ++i)
    ho_st32(p + 4 * i, words[i]);
  both_descriptors(pc, [](int d) {
    int fl = fcntl(d, F_GETFD);
    if (fl != -1 && (fl & FD_CLOEXEC) != 0) fcntl(d, F_SETFD, fl & ~FD_CLOEXEC);
    return 0;
  });
  return 0;
}

/* Rebuilds the private block from its image in the executed program: the
** buffers, the vector, and SIGTERM armed as the accept does. A client
** side gets a new handle on its back-end (none when the kernel gives
** none) and the reaper looks after it again. 0, or -1 with {-1, errno}
** (no image), -406, the buffer set-up's status or 25503; nothing of the
** driver's is left allocated after a failure. */
int restpip(drvblock *drv, void *arena, asfsvcctl *ctl) {
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(static_cast<opblock *>(arena), PIPECTL_IMAGE_SIZE, &off));
  if (p == nullptr) {
    driver_error(ctl, -1, errno);
    return -1;
  }
  auto *pc = static_cast<pipectl *>(asf_alloc(asf_pool_assoc, sizeof(pipectl)));
  if (pc == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  Assocctl *assoc = assoc_of(ctl);
  if (net_buffer_setup(drv, assoc, ctl) != 0) {
    asf_free(asf_pool_assoc, pc);
    return -1;
  }
  int32_t words[4];
  for (int i = 0; i < 4; ++i)
    words[i] = ho_ld32(p + 4 * i);
  *pc = pipectl {words[0], words[1], words[2], words[3], -1};
  if ((drv->flags & DRV_CONNECTING) != 0 && pc->pid > 0) {
    pc->pidfd = static_cast<int>(syscall(SYS_pidfd_open, pc->pid, 0));
    if (pc->pidfd < 0) pc->pidfd = -1;
    svr4::SignalBlock block {SIGCHLD};
    register_backend(pc->pid);
  }
  drv->priv = pc;
  if (load_operation_vector(drv) != 0) {
    if (pc->pidfd >= 0) close(pc->pidfd);
    net_deallocate(drv, ctl);
    drv->priv = nullptr;
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return -1;
  }
  if (drv->ops.siginit != nullptr && drv->ops.siginit(assoc, drv) == 0) drv->flags |= DRV_SIGARMED;
  return 0;
}

/* Stores {read, write descriptor} (two int32) at the attribute's value.
** 0. */
int attrpip(drvblock *drv, void *attr) {
  auto *pc = static_cast<pipectl *>(drv->priv);
  auto *a = static_cast<tlattr *>(attr);
  if (a == nullptr || a->value == nullptr) return 0;
  int32_t words[2] = {pc != nullptr ? pc->rfd : -1, pc != nullptr ? pc->wfd : -1};
  std::memcpy(a->value, words, sizeof words);
  return 0;
}

/* Not supported: -1 with -25592 and errno. */
int waitpip(drvblock *, void *, asfsvcctl *ctl) {
  driver_error(ctl, PIPE_ERR_UNSUPPORTED, errno);
  return -1;
}

/* Remembers assoc and drv for the SIGTERM handler and installs it. 0, or
** -1 when the handler cannot be installed. */
int ipcpip_siginit(Assocctl *assoc, drvblock *drv) {
  {
    svr4::SignalBlock block {SIGTERM};
    pipe_exp_rsc_ptr = assoc;
    pipe_exp_netctxp = drv;
  }
  return svr4_signal(SIGTERM, ipcpip_sighand) == SIG_ERR ? -1 : 0;
}

/* SIGTERM on the back-end side: the expedited byte "B" into the
** association's expedited receive buffer, when there is one. */
void ipcpip_sighand(int) {
  const int saved_errno = errno;
  svr4_signal(SIGTERM, ipcpip_sighand);
  Assocctl *assoc = pipe_exp_rsc_ptr;
  rscbufctl *x = nullptr;
  if (assoc != nullptr && bufGet(assoc, asf_sel_xrecv, &x) == 0 && x != nullptr) {
    x->buff[0] = interrupt_byte;
    x->p = x->buff;
    x->size = 1;
    bufReg(assoc, asf_sel_xrecv, x);
  }
  errno = saved_errno;
}

}  // extern "C"
