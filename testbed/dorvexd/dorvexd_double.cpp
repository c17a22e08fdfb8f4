/*
** dorvexd_double <state-dir> [<program>]: a stand-in for the cluster
** framework's DBMS service daemon, serving version 1 of the dorvexd
** program on the real ONC RPC stack (libtirpc, registered with rpcbind on
** udp and tcp): on the program number given, which each test run draws
** for itself, or on dorvexd's own 100222.
**
** It keeps a registration table (set_status / get_status), journals every
** call with its exact arguments, and lets a test steer answers through a
** control file read again at every call. Formats: README.md beside this
** file. The dispatch is rpcgen's (dorvexd_svc.c); this file supplies the
** procedure bodies and the service loop.
**
** Only the signal handler runs asynchronously; it writes one byte to a
** pipe that the service loop polls together with the RPC descriptors.
*/
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>

#include "dorvexd.h"
#include "testbed_support.h"

extern "C" void dorvexd_prog_1(struct svc_req *rqstp, SVCXPRT *transp);

namespace {

enum class Proc {
  get_status,
  set_status,
  stop_monitor,
  start_monitor,
  shutdown_db,
  get_dbms_version,
  query_dbms_status,
  update_dbms_status,
  count
};

constexpr std::array<std::string_view, static_cast<size_t>(Proc::count)> proc_names = {
    "get_status",  "set_status",       "stop_monitor",      "start_monitor",
    "shutdown_db", "get_dbms_version", "query_dbms_status", "update_dbms_status",
};

/* What get_status answers when the control file overrides the table. */
enum class StatusOverride { none, value, registered, zero };

/* The control file as read for one call. */
struct Control {
  StatusOverride get_status = StatusOverride::none;
  int32_t get_status_value = 0;
  long after_calls = 0;
  bool fail[static_cast<size_t>(Proc::count)] = {};
  bool noreply[static_cast<size_t>(Proc::count)] = {};
  int32_t result_set_status = 0;
};

struct Registration {
  time_t since;
  int32_t pid;
  int32_t key;
};

std::string state_dir;
int journal_fd = -1;
int wake_pipe[2] = {-1, -1};
long get_status_calls = 0;
std::map<std::string, Registration> table;

/* Index of a procedure name, or -1. */
int proc_index(std::string_view name) {
  for (size_t i = 0; i < proc_names.size(); ++i)
    if (proc_names[i] == name) return static_cast<int>(i);
  return -1;
}

/* Parses a whole decimal int32; false for anything else. */
bool parse_int32(const std::string &text, int32_t *out) {
  if (text.empty()) return false;
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

/* Reads <state-dir>/control; a missing file is an empty one. Malformed
** lines are reported on stderr and ignored. */
Control read_control() {
  Control c;
  std::ifstream in(state_dir + "/control");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = line.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    int32_t n = 0;
    int p = proc_index(value);
    bool ok = eq != std::string::npos;
    if (!ok) {
    } else if (key == "get_status") {
      if (value == "registered")
        c.get_status = StatusOverride::registered;
      else if (value == "zero")
        c.get_status = StatusOverride::zero;
      else if ((ok = parse_int32(value, &n)))
        c.get_status = StatusOverride::value, c.get_status_value = n;
    } else if (key == "after_calls") {
      if ((ok = parse_int32(value, &n) && n >= 0)) c.after_calls = n;
    } else if (key == "fail") {
      if ((ok = p >= 0)) c.fail[p] = true;
    } else if (key == "noreply") {
      if ((ok = p >= 0)) c.noreply[p] = true;
    } else if (key == "result_set_status") {
      if ((ok = parse_int32(value, &n))) c.result_set_status = n;
    } else {
      ok = false;
    }
    if (!ok) std::fprintf(stderr, "dorvexd_double: control line ignored: %s\n", line.c_str());
  }
  return c;
}

/* Appends one journal line with a single write, so it is complete on disk
** before the call is answered. */
void journal(const std::string &line) {
  if (!testbed::write_all(journal_fd, line + "\n")) std::perror("dorvexd_double: journal");
}

std::string arg(const char *text) { return " " + testbed::journal_escape(text ? text : ""); }
std::string arg(int32_t n) { return " " + std::to_string(n); }

/* Journals the call, then decides how it is answered. Returns true when
** the procedure should compute and send its result; false when the call
** was failed with a system error or is to go unanswered. */
bool begin_call(Proc proc, const std::string &args, struct svc_req *rq, Control *control) {
  journal(std::string(proc_names[static_cast<size_t>(proc)]) + args);
  *control = read_control();
  size_t i = static_cast<size_t>(proc);
  if (control->fail[i]) {
    svcerr_systemerr(rq->rq_xprt);
    return false;
  }
  return !control->noreply[i];
}

/* The answer of get_status: the table, unless the control file overrides
** it for this call. */
int32_t status_answer(const char *instance, const Control &c) {
  if (c.get_status != StatusOverride::none && get_status_calls > c.after_calls) {
    switch (c.get_status) {
      case StatusOverride::value:
        return c.get_status_value;
      case StatusOverride::registered:
        return static_cast<int32_t>(time(nullptr));
      default:
        return 0;
    }
  }
  auto it = table.find(instance);
  return it == table.end() ? 0 : static_cast<int32_t>(it->second.since);
}

int int_result;
char void_result;
char empty_text[] = "";
char *text_result = empty_text;

void on_signal(int) {
  int saved = errno;
  char b = 1;
  ssize_t ignored = write(wake_pipe[1], &b, 1);
  (void)ignored;
  errno = saved;
}

bool write_ready_file() {
  std::string tmp = state_dir + "/ready.tmp";
  FILE *f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  bool ok = std::fprintf(f, "%ld\n", static_cast<long>(getpid())) > 0;
  ok = (std::fclose(f) == 0) && ok;
  return ok && std::rename(tmp.c_str(), (state_dir + "/ready").c_str()) == 0;
}

}  // namespace

/* The procedures, called by rpcgen's dispatch. Returning nullptr sends no
** reply (after svcerr_systemerr, the error is the reply). */
extern "C" {

int *get_status_1_svc(char *instance, struct svc_req *rq) {
  ++get_status_calls;
  Control c;
  if (!begin_call(Proc::get_status, arg(instance), rq, &c)) return nullptr;
  int_result = status_answer(instance, c);
  return &int_result;
}

int *set_status_1_svc(char *instance, int pid, int key, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::set_status, arg(instance) + arg(pid) + arg(key), rq, &c)) return nullptr;
  /* pid 0 means "no monitor": the entry goes, whatever the key. */
  if (pid != 0)
    table[instance] = Registration {time(nullptr), pid, key};
  else
    table.erase(instance);
  int_result = c.result_set_status;
  return &int_result;
}

int *stop_monitor_1_svc(char *instance, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::stop_monitor, arg(instance), rq, &c)) return nullptr;
  int_result = 0;
  return &int_result;
}

void *start_monitor_1_svc(char *instance, int pid, int key, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::start_monitor, arg(instance) + arg(pid) + arg(key), rq, &c)) return nullptr;
  return &void_result;
}

void *shutdown_db_1_svc(char *instance, char *service, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::shutdown_db, arg(instance) + arg(service), rq, &c)) return nullptr;
  return &void_result;
}

char **get_dbms_version_1_svc(char *instance, char *service, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::get_dbms_version, arg(instance) + arg(service), rq, &c)) return nullptr;
  return &text_result;
}

char **query_dbms_status_1_svc(char *instance, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::query_dbms_status, arg(instance), rq, &c)) return nullptr;
  return &text_result;
}

int *update_dbms_status_1_svc(char *instance, char *status, int dbms_error, struct svc_req *rq) {
  Control c;
  if (!begin_call(Proc::update_dbms_status, arg(instance) + arg(status) + arg(dbms_error), rq, &c))
    return nullptr;
  int_result = 0;
  return &int_result;
}

}  // extern "C"

int main(int argc, char **argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: dorvexd_double <state-dir> [<program>]\n");
    return 2;
  }
  uint32_t program = DORVEXD_PROG;
  if (argc == 3) {
    char *end = nullptr;
    errno = 0;
    unsigned long number = std::strtoul(argv[2], &end, 0);
    if (end == argv[2] || *end != '\0' || errno != 0 || number == 0 || number > UINT32_MAX) {
      std::fprintf(stderr, "dorvexd_double: not a program number: %s\n", argv[2]);
      return 2;
    }
    program = static_cast<uint32_t>(number);
  }
  state_dir = argv[1];
  journal_fd =
      open((state_dir + "/journal").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (journal_fd < 0) {
    std::perror("dorvexd_double: journal");
    return 1;
  }
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("dorvexd_double: pipe");
    return 1;
  }
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (program == DORVEXD_PROG) {
    /* Run by hand on dorvexd's number: a killed predecessor leaves its
    ** entries behind; clients would then find a dead port and every call
    ** would fail with "Unable to receive". */
    rpcb_unset(DORVEXD_PROG, DORVEXD_VERS, nullptr);
    pmap_unset(DORVEXD_PROG, DORVEXD_VERS);
  } else if (testbed::rpc_program_registered(program)) {
    /* A number drawn for a test run belongs to whoever registered it. */
    std::fprintf(stderr, "dorvexd_double: program %u is registered already\n", program);
    return testbed::dorvexd_program_taken;
  }

  for (const char *nettype : {"udp", "tcp"}) {
    if (svc_create(dorvexd_prog_1, program, DORVEXD_VERS, nettype) == 0) {
      std::fprintf(stderr, "dorvexd_double: cannot register %u/1 on %s\n", program, nettype);
      svc_unreg(program, DORVEXD_VERS);
      return 1;
    }
  }
  if (!write_ready_file()) {
    std::perror("dorvexd_double: ready");
    svc_unreg(program, DORVEXD_VERS);
    return 1;
  }

  int status = 0;
  for (;;) {
    /* svc_pollfd changes as TCP connections come and go: copy it each time. */
    std::vector<struct pollfd> fds(svc_pollfd, svc_pollfd + svc_max_pollfd);
    fds.push_back({wake_pipe[0], POLLIN, 0});
    int n = poll(fds.data(), fds.size(), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("dorvexd_double: poll");
      status = 1;
      break;
    }
    if (fds.back().revents != 0) break;
    /* The dispatch may accept a connection and so grow svc_max_pollfd
    ** while it walks this copy: pad it with unused entries. */
    fds.back() = {-1, 0, 0};
    fds.resize(fds.size() + 64, {-1, 0, 0});
    svc_getreq_poll(fds.data(), n);
  }
  svc_unreg(program, DORVEXD_VERS);
  close(journal_fd);
  return status;
}
