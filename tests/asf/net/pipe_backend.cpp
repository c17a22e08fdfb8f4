/*
** A back-end program for the pipe driver's tests: it accepts the
** association on its standard input and output through the transport
** layer's listen and accept on the pipe row (the driver's back-end side),
** answers the connect packet with one report line, then echoes every
** message. The report says what the client side must guarantee: argc and
** argv, what descriptors 0 and 1 are, which descriptors from 3 up are
** open, the peer text and the connect packet (hex).
**
** Protocol of its replies, one line each (single writes, below PIPE_BUF):
**   HELLO argc=<n> argv=<a0>|<a1>|... fd0=<fifo|other> fd1=<...>
**         high=<fd,fd,...> peer=<text> pkt=<hex>
**   CONFAIL <asfcode> <errstr>        (the connect packet could not be had)
**   INTERRUPT                         (an expedited "B" was pending)
** then the message echoed as it came. A message "exit" ends the program.
*/
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asf_al.h"
#include "asf_pipe.h"
#include "os_wrappers.h"
#include "tl_records.h"

namespace {

/* Descriptors from 3 up that are open, comma-separated (the directory's
** own descriptor left out). Looked at before anything else opens one. */
std::string high_descriptors() {
  std::string out;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return "?";
  const int own = dirfd(d);
  while (const dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    int fd = std::atoi(e->d_name);
    if (fd < 3 || fd == own) continue;
    if (!out.empty()) out += ',';
    out += e->d_name;
  }
  closedir(d);
  return out;
}

const char *kind_of(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return "closed";
  return S_ISFIFO(st.st_mode) ? "fifo" : "other";
}

std::string hex(const char *p, int n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(p[i]);
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

/* Sends text through the layer in one message. */
bool reply(asfsvcctl *ctl, Assocctl *assoc, const std::string &text) {
  rscbufctl *b = nullptr;
  if (bufGet(assoc, 9, &b) != 0) return false;
  if (text.size() > static_cast<size_t>(b->size)) return false;
  std::memcpy(b->p, text.data(), text.size());
  b->size = static_cast<int32_t>(text.size());
  return tlSend(ctl, b) == 0;
}

/* Frees an accept's peer address record. */
void asf_test_free_peer(tlpeeraddr *peer) {
  if (peer == nullptr) return;
  if (peer->pair != nullptr) {
    meFree(1, peer->pair->text);
    meFree(1, peer->pair);
  }
  meFree(1, peer);
}

}  // namespace

int main(int argc, char **argv) {
  const std::string high = high_descriptors();
  signal(SIGPIPE, SIG_IGN);
  asf_pipe_set_process_args(argc, argv);
  std::string report = "HELLO argc=" + std::to_string(argc) + " argv=";
  for (int i = 0; i < argc; ++i)
    report += std::string(i > 0 ? "|" : "") + argv[i];
  report += std::string(" fd0=") + kind_of(0) + " fd1=" + kind_of(1) + " high=" + high;

  char lstatus[4] = {};
  char astatus[4] = {};
  asfsvcctl lctl {};
  lctl.flags = 1;
  lctl.timeout = -1;
  Assocctl *lsn = alCSalloc(&lctl, asf_kind_listener, lstatus);
  if (lsn == nullptr) return 2;
  lctl.ascid = lsn;
  char node[ASF_NODENAME_SIZE] = {};
  rhostname(node, sizeof node);
  std::string text = std::string(node) + "|backend|ipcpip";
  tlreqaddr addr {1, text.data()};
  tlconnreq parms {};
  parms.addr = &addr;
  if (tlListen(&lctl, &parms, 0) != 0) return 3;
  asfsvcctl actl = lctl;
  Assocctl *acc = alCSalloc(&actl, asf_kind_accepted, astatus);
  if (acc == nullptr) return 4;
  tlpeeraddr *peer = nullptr;
  if (tlAccept(&lctl, acc, &peer) != 0) return 5;
  report += std::string(" peer=") + peer->pair->text;
  actl.ascid = acc;
  actl.timeout = -1;

  auto finish = [&](int code) {
    tlDiscon(&actl, 0);
    alCSfree(acc);
    asf_test_free_peer(peer);
    tlListen(&lctl, nullptr, 1);
    tlDiscon(&lctl, 0);
    alCSfree(lsn);
    return code;
  };
  rscbufctl *r = nullptr;
  if (tlRecv(&actl, &r) != 0) {
    reply(&actl, acc,
          "CONFAIL " + std::to_string(actl.asfcode) + " " + std::string(actl.errstr) + "\n");
    return finish(6);
  }
  report += " pkt=" + hex(r->p, r->size) + "\n";
  bufReg(acc, 10, r);
  if (!reply(&actl, acc, report)) return finish(7);

  for (;;) {
    r = nullptr;
    if (tlRecv(&actl, &r) != 0) break;
    std::string msg(r->p, static_cast<size_t>(r->size));
    bufReg(acc, 10, r);
    rscbufctl *x = nullptr;
    if (tlRcvexpt(&actl, &x) == 0) {
      const bool interrupted = x->p != nullptr && x->p[0] == 'B';
      x->buff[0] = '\0';
      bufReg(acc, 6, x);
      if (interrupted && !reply(&actl, acc, "INTERRUPT\n")) break;
    }
    if (msg == "exit") break;
    if (!reply(&actl, acc, msg)) break;
  }
  return finish(0);
}
