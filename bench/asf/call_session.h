/*
** call_session.h: the ASF_Call side of the association services'
** benchmarks: init and connect through a sqlhosts file of the run's own,
** one timed round trip of a message (send-buffer allocation, send,
** receives until the echo is whole, receive-buffer release), and the
** abort and term at the end. Used by asf_call_bench.cpp (TCP) and
** pipe_bench.cpp (pipe).
*/
#ifndef DVZ_BENCH_ASF_CALL_SESSION_H
#define DVZ_BENCH_ASF_CALL_SESSION_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"

namespace asf_bench {

inline asfsvcctl call_control(void *ascid) {
  asfsvcctl ctl {};
  ctl.flags = asf_flag_sync;
  ctl.timeout = -1;
  ctl.ascid = ascid;
  return ctl;
}

/* Connects to server of the sqlhosts file in use, the services already
** started, with the connect parameters and kind given (null: bare ones,
** no database). The association, or null (the failing code on stderr). */
inline void *call_connect_to(const char *server, ascbinreq *params = nullptr,
                             pfconkind *conkind = nullptr) {
  static ascbinreq parms {};
  std::strcpy(parms.progname, "sqlexec");
  parms.pairs.level = -1;
  parms.pairs.version = -1;
  static pfconkind kind {asc_kind_nodb, 0, {}};
  static pfrequest pfreq;
  pfreq = {asc_pf_conkind, conkind != nullptr ? conkind : &kind};
  static char status_byte;
  asfsvcctl ctl = call_control(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_connect, &req);
  req.word[2] = 7;
  req.word[3] = reinterpret_cast<uintptr_t>(server);
  req.word[4] = 1;
  req.word[5] = reinterpret_cast<uintptr_t>(&status_byte);
  req.word[7] = reinterpret_cast<uintptr_t>(params != nullptr ? params : &parms);
  req.word[9] = reinterpret_cast<uintptr_t>(&pfreq);
  if (ASF_Call(&ctl, &req) != 0) {
    std::fprintf(stderr, "connect: %d %s\n", ctl.asfcode, ctl.errstr);
    return nullptr;
  }
  return ctl.ascid;
}

/* Writes `hosts_line` as the sqlhosts file of a new directory (its path
** into dir), names its server "srv", then init (with the pipe driver's
** child reaper asked for) and connect. The association, or null (the
** failing code on stderr). */
inline void *call_connect(const std::string &hosts_line, std::string &dir) {
  char tmpl[] = "/tmp/asf_call_bench.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return nullptr;
  dir = tmpl;
  const std::string hosts = dir + "/sqlhosts";
  FILE *f = std::fopen(hosts.c_str(), "w");
  if (f == nullptr) return nullptr;
  std::fprintf(f, "%s\n", hosts_line.c_str());
  std::fclose(f);
  setenv("DOVARIZASQLHOSTS", hosts.c_str(), 1);
  setenv("DOVARIZASERVER", "srv", 1);

  static char prot[28];
  asfsvcctl ctl = call_control(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  // Flags 16, 4 and 1 with a non-zero word 6: the pipe driver reaps the
  // back-ends it started.
  req.word[1] = 21;
  req.word[6] = 100;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  if (ASF_Call(&ctl, &req) != 0) {
    std::fprintf(stderr, "init: %d\n", ctl.asfcode);
    return nullptr;
  }
  return call_connect_to("srv");
}

/* Sends n bytes of out in one send buffer: null, or what failed. */
inline const char *call_send(void *assoc, const char *out, size_t n) {
  asfsvcctl ctl = call_control(assoc);
  asfsvcreq req {};
  ASF_Init(asf_svc_sendbuf, &req);
  if (ASF_Call(&ctl, &req) != 0) return "send buffer";
  auto *buf = reinterpret_cast<rscbufctl *>(req.word[2]);
  if (buf == nullptr || buf->size < static_cast<int32_t>(n)) return "send buffer size";
  std::memcpy(buf->p, out, n);
  buf->size = static_cast<int32_t>(n);
  ASF_Init(asf_svc_send, &req);
  asf_req_set_half(&req, 2, -1);
  req.word[3] = reinterpret_cast<uintptr_t>(buf);
  if (ASF_Call(&ctl, &req) != 0) return "send";
  return nullptr;
}

/* Receives until n bytes came (or, with until_newline, up to a message
** ending in '\n'), releasing every buffer: null, or what failed. */
inline const char *call_receive(void *assoc, size_t n, bool until_newline = false) {
  asfsvcctl ctl = call_control(assoc);
  asfsvcreq req {};
  size_t got = 0;
  bool line_done = false;
  while (until_newline ? !line_done : got < n) {
    ASF_Init(asf_svc_receive, &req);
    if (ASF_Call(&ctl, &req) != 0) return "receive";
    auto *in = reinterpret_cast<rscbufctl *>(req.word[3]);
    got += static_cast<size_t>(in->size);
    line_done = in->size > 0 && in->p[in->size - 1] == '\n';
    ASF_Init(asf_svc_recvbuf_free, &req);
    req.word[2] = reinterpret_cast<uintptr_t>(in);
    ASF_Call(&ctl, &req);
  }
  return got == n || until_newline ? nullptr : "receive size";
}

/* One round trip of n bytes: null, or what failed. */
inline const char *call_round_trip(void *assoc, const char *out, size_t n) {
  if (const char *failed = call_send(assoc, out, n)) return failed;
  return call_receive(assoc, n);
}

/* Aborts the association (when there is one), terms the services and
** removes the sqlhosts directory. */
inline void call_finish(void *assoc, const std::string &dir) {
  asfsvcctl ctl = call_control(assoc);
  asfsvcreq req {};
  if (assoc != nullptr) {
    ASF_Init(asf_svc_abort, &req);
    ASF_Call(&ctl, &req);
  }
  ctl = call_control(nullptr);
  ASF_Init(asf_svc_term, &req);
  ASF_Call(&ctl, &req);
  if (!dir.empty()) {
    std::remove((dir + "/sqlhosts").c_str());
    rmdir(dir.c_str());
  }
}

}  // namespace asf_bench

#endif
