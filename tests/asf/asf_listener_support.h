/*
** asf_listener_support.h: a listener of our own for the end-to-end tests
** of the association services. Every service call is synchronous, so the
** listener runs in a child process: it initialises the services, listens
** (ASF_Call service 1) on a server of a sqlhosts file, takes one
** indication (4), answers it (5) and then does what the test asked
** (echo the client's data, or nothing); with ListenerSpec::answers it
** serves one client after another, one answer each, and aborts each
** accepted association once its client is done. It reports each step on a pipe as
** one line, "<step> <asfcode> <oserr> <text>"; the parent reads them with
** bounded waits. The child ends itself after ListenerSpec::limit_seconds
** (SIGALRM), and stop() ends it for sure: a test never hangs on it.
**
** Usage:
**   asf_test::ListenerSpec spec;
**   spec.server = "srv";              // a server of the sqlhosts file
**   spec.auth_mode = 0;               // listen word 4
**   asf_test::ListenerChild child(spec);   // forks; the child listens
**   asf_test::ListenerReport r;
**   child.next(&r);                   // "listen": r.status, r.oserr
**   ...the test connects to the server as a client...
**   child.next(&r);                   // "indication", then "response"
** The response carries a status record (error 0, or for a reject the
** login's error or ListenerSpec::reject_error).
**   child.stop();                     // waits for the end, kills past it
**
** The sqlhosts file and DOVARIZASQLHOSTS are the test's: the child
** inherits the environment at the fork. free_loopback_port() gives a port
** for the sqlhosts line. Reports the child may make: listen, indication
** (text: the user name, connect kind and environment of the accepted
** association, "user=<u> kind=<k> prog=<p> ... env=<n>=<v>,..."; for a
** refused one its errstr, " | " and that description), response,
** mux-listen, mux-indication and mux-response (a multiplexing listener's),
** echo (text: the bytes echoed), end.
*/
#ifndef DVZ_TESTS_ASF_LISTENER_SUPPORT_H
#define DVZ_TESTS_ASF_LISTENER_SUPPORT_H

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "asf_ns.h"
#include "asf_test_support.h"
#include "pf_records.h"

namespace asf_test {

/* What the child does once it has taken the indication. */
enum class AfterAccept {
  echo, /* accepts (response kind 0) and sends back what it receives */
  reject, /* answers with a reject (response kind 7) */
  accept_only /* accepts and waits for the end of the connection */
};

/* The child's answer to one indication. */
struct Answer {
  AfterAccept after = AfterAccept::echo;
  int error = -951; /* error number of a reject's status record */
  bool server_params = false; /* the response also carries "srvdvz" parameters */
};

/* The listener's orders. */
struct ListenerSpec {
  std::string server = "srv"; /* server name of the sqlhosts line */
  uint32_t auth_mode = 0; /* listen word 4: 0, 1 or 0x1000000 */
  uint32_t subcode = 0; /* listen sub-code: 0, or 3 for a dynamic listener */
  std::string protocol = "tlitcp"; /* protocol of the listen's pairs */
  int32_t level = 61; /* listen word 9 */
  AfterAccept after = AfterAccept::echo;
  int reject_error = -951; /* error number of a reject's status record */
  /* A server whose protocol is "sqlmux" the child also listens on before
  ** the indication (empty: none); multiplexed connects that arrive on the
  ** accepted connection are taken there while it serves (echo, or
  ** accept_only). */
  std::string mux_server;
  /* While it serves, the child also takes one more connection on its
  ** listener when the accepted one is quiet (reported as second-indication
  ** and second-response). */
  bool take_second = false;
  /* One answer per indication, in turn, for a child that serves several
  ** clients one after another (each accepted one is echoed, then aborted);
  ** empty: one indication answered as after and reject_error say. */
  std::vector<Answer> answers;
  /* An indication that failed is aborted without an answer (else it is
  ** answered with a reject carrying its error). */
  bool abort_refused = false;
  /* Word 1, 4 and 6 of the services' start. */
  InitWords init {};
  int limit_seconds = 20; /* the child's own end */
  /* Run in the child before anything else (seams, overrides), or empty. */
  std::function<void()> child_setup;
};

/* One report line of the child. */
struct ListenerReport {
  std::string step; /* listen, indication, response, echo, end */
  int status = 0; /* asfcode of the step */
  int oserr = 0;
  std::string text; /* errstr or the step's detail */
};

class ListenerChild {
 public:
  /* Forks the child listener. REQUIRES: the sqlhosts environment set. */
  explicit ListenerChild(const ListenerSpec &spec) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      alarm(static_cast<unsigned>(spec.limit_seconds));
      signal(SIGPIPE, SIG_IGN);
      if (spec.child_setup) spec.child_setup();
      run_child(spec, fds[1]);
      _exit(0);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    fd_ = fds[0];
  }
  ~ListenerChild() { stop(); }
  ListenerChild(const ListenerChild &) = delete;
  ListenerChild &operator=(const ListenerChild &) = delete;

  /* The child's next report within timeout_ms: true, or false (no report
  ** in time, or the child ended). */
  bool next(ListenerReport *out, int timeout_ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        parse(pending_.substr(0, nl), out);
        pending_.erase(0, nl + 1);
        return true;
      }
      if (fd_ < 0) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p {fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[512];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) {
        close(fd_);
        fd_ = -1;
        continue;
      }
      pending_.append(buf, static_cast<size_t>(n));
    }
  }
  /* The next report of step, skipping others: true, or false as next. */
  bool next_step(const std::string &step, ListenerReport *out, int timeout_ms = 10000) {
    while (next(out, timeout_ms))
      if (out->step == step) return true;
    return false;
  }
  /* Waits up to wait_ms for the child's end, then kills it; reaps it and
  ** closes the pipe. The child's exit status, or -1. */
  int stop(int wait_ms = 5000) {
    int status = -1;
    if (pid_ > 0) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
      pid_t r = 0;
      while ((r = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (r == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
    return status;
  }
  pid_t pid() const { return pid_; }

 private:
  static void parse(const std::string &line, ListenerReport *out) {
    char step[32] = {};
    int status = 0, oserr = 0, used = 0;
    std::sscanf(line.c_str(), "%31s %d %d %n", step, &status, &oserr, &used);
    out->step = step;
    out->status = status;
    out->oserr = oserr;
    out->text = used > 0 && static_cast<size_t>(used) <= line.size() ? line.substr(used) : "";
  }

  /* ---- The child. ---- */
  static void report(int fd, const char *step, const asfsvcctl &ctl, const std::string &text) {
    std::string line = std::string(step) + " " + std::to_string(ctl.asfcode) + " " +
                       std::to_string(ctl.oserr) + " " + text + "\n";
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(fd, line.data() + done, line.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  static asfsvcctl ctl_for(void *ascid, int timeout = -1) {
    asfsvcctl ctl {};
    ctl.flags = asf_flag_sync;
    ctl.timeout = timeout;
    ctl.ascid = ascid;
    return ctl;
  }
  /* user=, kind=, prog= and env= of an accepted association. */
  static std::string describe(void *assoc) {
    asfsvcctl ctl = ctl_for(assoc);
    asfsvcreq req {};
    ASF_Init(asf_svc_attribute, &req);
    req.word[1] = 5;
    if (ASF_Call(&ctl, &req) != 0) return "attributes-failed";
    void *const *words = reinterpret_cast<void *const *>(req.word[2]);
    const auto *parms = static_cast<const ascbinreq *>(words[0]);
    const auto *clireq = static_cast<const pfrequest *>(words[1]);
    const auto *env = static_cast<const evlist_t *>(words[2]);
    std::string s = "user=";
    s += parms != nullptr && parms->user != nullptr ? parms->user : "";
    s += " kind=";
    s += clireq != nullptr && clireq->type == asc_pf_conkind
             ? std::to_string(static_cast<const pfconkind *>(clireq->rec)->kind)
             : "-";
    s += " prog=";
    s += parms != nullptr ? parms->progname : "";
    s += " pwd=";
    s += parms != nullptr && parms->password != nullptr ? parms->password : "(none)";
    s += " ukind=" + std::to_string(parms != nullptr ? parms->userkind : -1);
    asfsvcctl pctl = ctl_for(assoc);
    asfsvcreq preq {};
    ASF_Init(asf_svc_attribute, &preq);
    preq.word[1] = 3;
    if (ASF_Call(&pctl, &preq) == 0 && preq.word[2] != 0) {
      const auto *peer = reinterpret_cast<const asfprocinfo *>(preq.word[2]);
      s += " host=";
      s += peer->host != nullptr ? peer->host : "(none)";
      s += " uid=" + std::to_string(peer->uid);
      s += " cwd=";
      s += peer->cwd != nullptr ? peer->cwd : "(none)";
    }
    s += " env=";
    if (env != nullptr && env->names != nullptr && env->values != nullptr) {
      for (int32_t i = 0; i < env->count; ++i) {
        if (i > 0) s += ',';
        s += env->names[i] != nullptr ? env->names[i] : "";
        s += '=';
        s += env->values[i] != nullptr ? env->values[i] : "";
      }
    }
    return s;
  }
  /* The response on assoc (accept, or reject with errnum) with its
  ** status record and, with server_params, the server's parameters;
  ** reported as step. The call's result. */
  static int respond(int fd, const char *step, void *assoc, bool reject, int errnum,
                     bool server_params = false) {
    ascbinreq params {};
    std::strcpy(params.progname, "srvdvz");
    params.pairs.level = -1;
    params.pairs.version = -1;
    pfstatus st {};
    st.subkind = asc_sub_status;
    st.errnum = reject ? errnum : 0;
    pfrequest answer {asc_pf_status, &st};
    asfsvcctl rctl = ctl_for(assoc);
    asfsvcreq rreq {};
    ASF_Init(asf_svc_response, &rreq);
    rreq.word[1] = reject ? 7 : 0;
    rreq.word[9] = reinterpret_cast<uintptr_t>(&answer);
    if (server_params) rreq.word[7] = reinterpret_cast<uintptr_t>(&params);
    const int rc = ASF_Call(&rctl, &rreq);
    report(fd, step, rctl, rctl.errstr);
    return rc;
  }
  /* An indication on listener and its accept, reported as the two steps;
  ** nothing is reported when nothing came. */
  static void take_muxed(int fd, void *mux, const char *ind_step, const char *rsp_step) {
    char status = 0;
    asfsvcctl ctl = ctl_for(mux, 1000);
    asfsvcreq req {};
    ASF_Init(asf_svc_indication, &req);
    req.word[2] = reinterpret_cast<uintptr_t>(&status);
    const int rc = ASF_Call(&ctl, &req);
    void *assoc = reinterpret_cast<void *>(req.word[6]);
    if (rc != 0 && assoc == nullptr) return;
    report(fd, ind_step, ctl, rc == 0 ? describe(assoc) : std::string(ctl.errstr));
    respond(fd, rsp_step, assoc, rc != 0, ctl.oserr);
  }
  static void run_child(const ListenerSpec &spec, int fd) {
    char prot[ASF_PROT_ENTRY_SIZE] = {};
    asfsvcctl ctl;
    asfsvcreq req {};
    if (call_init(prot, &ctl, spec.init) != 0) {
      report(fd, "init", ctl, "");
      return;
    }
    char status_byte = 0;
    char text[512] = {};
    std::snprintf(text, sizeof text, "@%s", spec.server.c_str());
    ctl = ctl_for(nullptr);
    ASF_Init(asf_svc_listen, &req);
    req.word[1] = spec.subcode;
    req.word[3] = reinterpret_cast<uintptr_t>(&status_byte);
    req.word[4] = spec.auth_mode;
    req.word[5] = ns_req_dbenv;
    req.word[6] = reinterpret_cast<uintptr_t>(text);
    ascpairs pairs {};
    std::snprintf(pairs.protocol, sizeof pairs.protocol, "%s", spec.protocol.c_str());
    pairs.level = spec.level;
    pfPutPairsAt(&req, pf_word_lsnpairs, &pairs);
    req.word[9] = static_cast<uint32_t>(spec.level);
    const int lrc = ASF_Call(&ctl, &req);
    report(fd, "listen", ctl, spec.subcode == 3 ? text : ctl.errstr);
    if (lrc != 0) return;
    void *listener = ctl.ascid;
    void *mux = nullptr;
    if (!spec.mux_server.empty()) {
      char muxtext[256] = {};
      std::snprintf(muxtext, sizeof muxtext, "@%s", spec.mux_server.c_str());
      char mux_status = 0;
      asfsvcctl mctl = ctl_for(nullptr);
      asfsvcreq mreq {};
      ASF_Init(asf_svc_listen, &mreq);
      mreq.word[3] = reinterpret_cast<uintptr_t>(&mux_status);
      mreq.word[4] = spec.auth_mode;
      mreq.word[5] = ns_req_dbenv;
      mreq.word[6] = reinterpret_cast<uintptr_t>(muxtext);
      ascpairs mpairs {};
      mpairs.level = spec.level;
      pfPutPairsAt(&mreq, pf_word_lsnpairs, &mpairs);
      mreq.word[9] = static_cast<uint32_t>(spec.level);
      const int mrc = ASF_Call(&mctl, &mreq);
      report(fd, "mux-listen", mctl, mctl.errstr);
      if (mrc != 0) return;
      mux = mctl.ascid;
    }

    const bool several = !spec.answers.empty();
    const std::vector<Answer> answers =
        several ? spec.answers : std::vector<Answer> {{spec.after, spec.reject_error}};
    for (const Answer &a : answers) {
      char ind_status = 0;
      ctl = ctl_for(listener);
      ASF_Init(asf_svc_indication, &req);
      req.word[2] = reinterpret_cast<uintptr_t>(&ind_status);
      const int irc = ASF_Call(&ctl, &req);
      void *assoc = reinterpret_cast<void *>(req.word[6]);
      report(fd, "indication", ctl,
             irc == 0 ? describe(assoc) : std::string(ctl.errstr) + " | " + describe(assoc));
      if (assoc == nullptr) {
        if (several) continue;
        return;
      }
      if (irc != 0 && spec.abort_refused) {
        abort_assoc(assoc);
        continue;
      }
      // The answer carries a status record: 0, or the error of the reject
      // (the login's when it was refused).
      const bool reject = a.after == AfterAccept::reject || irc != 0;
      const int errnum = irc != 0 && ctl.oserr != 0 ? ctl.oserr : a.error;
      const int rrc = respond(fd, "response", assoc, reject, errnum, a.server_params);
      if (reject || rrc != 0) {
        if (several) continue;
        return;
      }
      report(fd, "echo", ctl_for(nullptr),
             std::to_string(serve(spec, fd, listener, mux, assoc, a)));
      if (several) abort_assoc(assoc);
    }
    asfsvcctl tctl = ctl_for(nullptr);
    asfsvcreq treq {};
    ASF_Init(asf_svc_term, &treq);
    ASF_Call(&tctl, &treq);
    report(fd, "end", tctl, "");
  }
  /* Aborts an association; a failure is not looked at. */
  static void abort_assoc(void *assoc) {
    asfsvcctl c = ctl_for(assoc);
    asfsvcreq r {};
    ASF_Init(asf_svc_abort, &r);
    ASF_Call(&c, &r);
  }
  /* Serves the accepted assoc until a receive fails: echoes its data
  ** (answer echo) or drops it, taking multiplexed connects on mux and a
  ** second connection on listener when it is quiet. The bytes echoed. */
  static size_t serve(const ListenerSpec &spec, int fd, void *listener, void *mux, void *assoc,
                      const Answer &a) {
    size_t echoed = 0;
    bool second_pending = spec.take_second;
    for (;;) {
      asfsvcctl c = ctl_for(assoc, mux != nullptr || spec.take_second ? 1000 : 5000);
      asfsvcreq r {};
      ASF_Init(asf_svc_receive, &r);
      if (ASF_Call(&c, &r) != 0) {
        // Nothing came in time: a multiplexed connect may wait for us.
        const bool quiet = c.asfcode == asf_status_again || c.asfcode == -27001;
        if (mux != nullptr && quiet) {
          take_muxed(fd, mux, "mux-indication", "mux-response");
          continue;
        }
        if (second_pending && quiet) {
          second_pending = false;
          take_muxed(fd, listener, "second-indication", "second-response");
          continue;
        }
        break;
      }
      auto *in = reinterpret_cast<rscbufctl *>(r.word[3]);
      const std::string piece(in->p, static_cast<size_t>(in->size));
      asfsvcreq rel {};
      ASF_Init(asf_svc_recvbuf_free, &rel);
      rel.word[2] = r.word[3];
      asfsvcctl relctl = ctl_for(assoc);
      ASF_Call(&relctl, &rel);
      if (a.after != AfterAccept::echo) continue;
      size_t done = 0;
      while (done < piece.size()) {
        asfsvcctl s = ctl_for(assoc);
        asfsvcreq sr {};
        ASF_Init(asf_svc_sendbuf, &sr);
        if (ASF_Call(&s, &sr) != 0) return echoed;
        auto *out = reinterpret_cast<rscbufctl *>(sr.word[2]);
        const size_t n = std::min(piece.size() - done, static_cast<size_t>(out->size));
        std::memcpy(out->p, piece.data() + done, n);
        out->size = static_cast<int32_t>(n);
        ASF_Init(asf_svc_send, &sr);
        asf_req_set_half(&sr, 2, -1);
        sr.word[3] = reinterpret_cast<uintptr_t>(out);
        if (ASF_Call(&s, &sr) != 0) return echoed;
        done += n;
      }
      echoed += piece.size();
    }
    return echoed;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
};

}  // namespace asf_test

#endif
