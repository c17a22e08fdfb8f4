/*
** The take-over program of the hand-over tests (handover_e2e_test.cpp): a
** process that handed its associations over executes this program, which
** takes them over (service 0 with flags 16 | 0x10000) and then does what
** its arguments say, reporting each step as one line on a descriptor.
**
**   asf_takeover --report-fd N --areas req,acc,lsn STEP...
**
** --areas names the kinds whose status-byte area the init request holds
** (words 22, 20 and 18); a kind left out must be ignored. Steps, in order:
**   echo:KIND:TEXT       send TEXT, receive as many bytes
**   serve:KIND:N         receive N bytes, send them back
**   urgent:KIND:C:TEXT   send TEXT, wait (5 s at most) for the expedited
**                        byte C in the kind's status-byte area, then
**                        receive as many bytes as TEXT has
**   expedited:KIND:C     wait (5 s at most) for the expedited byte C
**   accept               a new connection on the listener, accepted
**                        (kind "new")
**   abort:KIND           abort the association
** KIND is req, acc, lsn or new. Report lines:
**   env G=.. C=.. S=.. L=..   the hand-over variables at start ("-": unset)
**   init RC ASFCODE OSERR req=0|1 acc=0|1 lsn=0|1 fds=closed|open
**   echo|serve KIND ok|fail BYTES   (the bytes received, or the failure)
**   urgent KIND BYTE ok|fail BYTES  expedited KIND BYTE (0: never came)
**   accept ok|fail ...   abort KIND RC ASFCODE   end RC ASFCODE
** The program ends itself after 30 s (SIGALRM): a test never waits on it.
*/
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_records.h"
#include "pf_records.h"

namespace {

int report_fd = 1;

void report(const std::string &line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(report_fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

asfsvcctl ctl_for(void *ascid, int timeout = -1) {
  asfsvcctl c {};
  c.flags = asf_flag_sync;
  c.timeout = timeout;
  c.ascid = ascid;
  return c;
}

/* The association and status-byte area of each kind. */
struct Kind {
  const char *name;
  int area_word, id_word;
  char area[2];
  void *assoc;
};
Kind kinds[] = {
    {"req", 22, 23, {}, nullptr},
    {"acc", 20, 21, {}, nullptr},
    {"lsn", 18, 19, {}, nullptr},
    {"new", 0, 0, {}, nullptr},
};

Kind *kind_named(const std::string &name) {
  for (Kind &k : kinds)
    if (name == k.name) return &k;
  return nullptr;
}

/* Sends text on assoc: true, or false with the failure in *why. */
bool send_text(void *assoc, const std::string &text, std::string *why) {
  asfsvcctl s = ctl_for(assoc);
  asfsvcreq sr {};
  ASF_Init(asf_svc_sendbuf, &sr);
  if (ASF_Call(&s, &sr) != 0) {
    *why = "sendbuf " + std::to_string(s.asfcode);
    return false;
  }
  auto *out = reinterpret_cast<rscbufctl *>(sr.word[2]);
  const size_t n = std::min(text.size(), static_cast<size_t>(out->size));
  std::memcpy(out->p, text.data(), n);
  out->size = static_cast<int32_t>(n);
  ASF_Init(asf_svc_send, &sr);
  asf_req_set_half(&sr, 2, -1);
  sr.word[3] = reinterpret_cast<uintptr_t>(out);
  if (ASF_Call(&s, &sr) != 0) {
    *why = "send " + std::to_string(s.asfcode);
    return false;
  }
  return true;
}

/* Receives n bytes on assoc (5 s for each piece): the bytes, or the
** failure as "receive S E" with *ok false. */
std::string receive_text(void *assoc, size_t n, bool *ok) {
  *ok = false;
  std::string got;
  while (got.size() < n) {
    asfsvcctl r = ctl_for(assoc, 5000);
    asfsvcreq rr {};
    ASF_Init(asf_svc_receive, &rr);
    if (ASF_Call(&r, &rr) != 0)
      return "receive " + std::to_string(r.asfcode) + " " + std::to_string(r.oserr);
    auto *in = reinterpret_cast<rscbufctl *>(rr.word[3]);
    got.append(in->p, static_cast<size_t>(in->size));
    asfsvcreq rel {};
    ASF_Init(asf_svc_recvbuf_free, &rel);
    rel.word[2] = rr.word[3];
    asfsvcctl relctl = ctl_for(assoc);
    ASF_Call(&relctl, &rel);
  }
  *ok = true;
  return got;
}

/* Waits (5 s at most) for want in the expedited byte of area: the byte
** found. */
int wait_expedited(const char *area, char want) {
  const volatile char *x = area + 1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (*x != want && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return *x;
}

/* A new connection on the listener, accepted: the new association or
** null (reported). */
void *accept_one(void *listener) {
  static char status[2] = {};
  asfsvcctl ctl = ctl_for(listener, 10000);
  asfsvcreq req {};
  ASF_Init(asf_svc_indication, &req);
  req.word[2] = reinterpret_cast<uintptr_t>(status);
  if (ASF_Call(&ctl, &req) != 0) {
    report("accept fail indication " + std::to_string(ctl.asfcode) + " " +
           std::to_string(ctl.oserr));
    return nullptr;
  }
  void *assoc = reinterpret_cast<void *>(req.word[6]);
  pfstatus st {};
  st.subkind = asc_sub_status;
  pfrequest answer {asc_pf_status, &st};
  asfsvcctl rctl = ctl_for(assoc);
  asfsvcreq rreq {};
  ASF_Init(asf_svc_response, &rreq);
  rreq.word[9] = reinterpret_cast<uintptr_t>(&answer);
  if (ASF_Call(&rctl, &rreq) != 0) {
    report("accept fail response " + std::to_string(rctl.asfcode));
    return nullptr;
  }
  return assoc;
}

/* "ok TEXT" when got equals want, else "fail GOT". */
std::string verdict(bool ok, const std::string &got, const std::string &want) {
  if (ok && got == want) return "ok " + got;
  // A wrong answer is shown short, other bytes as \xNN.
  std::string shown;
  for (size_t i = 0; i < got.size() && i < 40; ++i) {
    const auto c = static_cast<unsigned char>(got[i]);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    shown += c > 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return "fail " + std::to_string(got.size()) + " " + shown;
}

/* Runs one step ("what:kind:arg..."). */
void run_step(const std::string &step) {
  std::vector<std::string> part;
  for (size_t from = 0;;) {
    const size_t c = step.find(':', from);
    part.push_back(step.substr(from, c == std::string::npos ? std::string::npos : c - from));
    if (c == std::string::npos) break;
    from = c + 1;
  }
  const std::string &what = part[0];
  if (what == "accept") {
    Kind *lsn = kind_named("lsn");
    Kind *fresh = kind_named("new");
    fresh->assoc = lsn->assoc != nullptr ? accept_one(lsn->assoc) : nullptr;
    if (fresh->assoc != nullptr) report("accept ok");
    return;
  }
  Kind *k = part.size() > 1 ? kind_named(part[1]) : nullptr;
  if (k == nullptr || k->assoc == nullptr) {
    report(what + " " + (part.size() > 1 ? part[1] : "") + " none");
    return;
  }
  const std::string name = k->name;
  std::string why;
  bool ok = false;
  if (what == "echo" && part.size() == 3) {
    const std::string &text = part[2];
    const std::string got =
        send_text(k->assoc, text, &why) ? receive_text(k->assoc, text.size(), &ok) : why;
    report("echo " + name + " " + verdict(ok, got, text));
  } else if (what == "serve" && part.size() == 3) {
    const size_t n = static_cast<size_t>(std::atoi(part[2].c_str()));
    std::string got = receive_text(k->assoc, n, &ok);
    if (ok && !send_text(k->assoc, got, &why)) {
      ok = false;
      got = why;
    }
    report("serve " + name + " " + verdict(ok, got, got));
  } else if (what == "urgent" && part.size() == 4) {
    // The urgent byte arrives while the echo of text lies unread.
    const std::string &text = part[3];
    if (!send_text(k->assoc, text, &why)) {
      report("urgent " + name + " 0 fail " + why);
      return;
    }
    const int byte = wait_expedited(k->area, part[2][0]);
    const std::string got = receive_text(k->assoc, text.size(), &ok);
    report("urgent " + name + " " + std::to_string(byte) + " " + verdict(ok, got, text));
  } else if (what == "expedited" && part.size() == 3) {
    report("expedited " + name + " " + std::to_string(wait_expedited(k->area, part[2][0])));
  } else if (what == "abort") {
    asfsvcctl a = ctl_for(k->assoc);
    asfsvcreq areq {};
    ASF_Init(asf_svc_abort, &areq);
    const int rc = ASF_Call(&a, &areq);
    report("abort " + name + " " + std::to_string(rc) + " " + std::to_string(a.asfcode));
    k->assoc = nullptr;
  } else {
    report("unknown " + step);
  }
}

const char *env_or_dash(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? v : "-";
}

}  // namespace

int main(int argc, char **argv) {
  alarm(30);
  signal(SIGPIPE, SIG_IGN);
  std::string areas;
  int first_step = argc;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--report-fd" && i + 1 < argc) {
      report_fd = std::atoi(argv[++i]);
    } else if (a == "--areas" && i + 1 < argc) {
      areas = argv[++i];
    } else {
      first_step = i;
      break;
    }
  }
  const std::string g = env_or_dash("ASF_G");
  // The global record's pipe, told apart from a descriptor that later
  // reuses its number.
  struct stat g_before {};
  const bool g_named = g != "-" && fstat(std::atoi(g.c_str()), &g_before) == 0;
  report(std::string("env G=") + g + " C=" + env_or_dash("ASF_C") + " S=" + env_or_dash("ASF_S") +
         " L=" + env_or_dash("ASF_L"));

  char prot[ASF_PROT_ENTRY_SIZE] = {};
  asfsvcctl ctl = ctl_for(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = ASF_INIT_FIRST | 0x10000u;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  for (Kind &k : kinds)
    if (k.area_word != 0 && areas.find(k.name) != std::string::npos)
      req.word[k.area_word] = reinterpret_cast<uintptr_t>(k.area);
  const int rc = ASF_Call(&ctl, &req);
  std::string line = "init " + std::to_string(rc) + " " + std::to_string(ctl.asfcode) + " " +
                     std::to_string(ctl.oserr);
  for (Kind &k : kinds) {
    if (k.id_word == 0) continue;
    k.assoc = reinterpret_cast<void *>(req.word[k.id_word]);
    line += std::string(" ") + k.name + "=" + (k.assoc != nullptr ? "1" : "0");
  }
  // The global record's pipe is read and closed by the take-over.
  struct stat g_after {};
  const bool g_open = g_named && fstat(std::atoi(g.c_str()), &g_after) == 0 &&
                      g_after.st_ino == g_before.st_ino && g_after.st_dev == g_before.st_dev;
  line += std::string(" fds=") + (g_open ? "open" : "closed");
  report(line);
  if (rc != 0) return 1;

  for (int i = first_step; i < argc; ++i)
    run_step(argv[i]);

  asfsvcctl tctl = ctl_for(nullptr);
  asfsvcreq treq {};
  ASF_Init(asf_svc_term, &treq);
  const int trc = ASF_Call(&tctl, &treq);
  report("end " + std::to_string(trc) + " " + std::to_string(tctl.asfcode));
  return 0;
}
