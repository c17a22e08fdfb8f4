/*
** Monitor logging. Every message of the monitor and of its probe child goes
** through hasyslog: it goes to syslog under an identity that names the
** program, the message id, the logical host and the instance, and (unless
** disabled) is appended as a dated line to the log file of the DBMS type.
** Rule messages (id 2050) reach the file only through log_action_message.
**
** Called by every module of the monitor and by the probe module; calls the
** syslog sink (glibc in production), stdio and cftime of platform/.
**
** Formats of file lines are kept byte for byte: "<time> ID[...]: <text>\n",
** where <time> is "%b %d %T" in the C locale. Variable texts must reach
** hasyslog as %s arguments, never as the format.
*/
#include "monitor_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <libgen.h>
#include <syslog.h>

#include "svr4.h"

namespace {

/* LOG_xxx names that HA_SLOGFACILITY may hold, with Linux's codes. */
struct facility_name {
  const char *name;
  int value;
};
constexpr facility_name fac_names[] = {
    {"LOG_KERN", LOG_KERN},
    {"LOG_USER", LOG_USER},
    {"LOG_MAIL", LOG_MAIL},
    {"LOG_DAEMON", LOG_DAEMON},
    {"LOG_AUTH", LOG_AUTH},
    {"LOG_SYSLOG", LOG_SYSLOG},
    {"LOG_LPR", LOG_LPR},
    {"LOG_NEWS", LOG_NEWS},
    {"LOG_UUCP", LOG_UUCP},
    {"LOG_CRON", LOG_CRON},
    {"LOG_LOCAL0", LOG_LOCAL0},
    {"LOG_LOCAL1", LOG_LOCAL1},
    {"LOG_LOCAL2", LOG_LOCAL2},
    {"LOG_LOCAL3", LOG_LOCAL3},
    {"LOG_LOCAL4", LOG_LOCAL4},
    {"LOG_LOCAL5", LOG_LOCAL5},
    {"LOG_LOCAL6", LOG_LOCAL6},
    {"LOG_LOCAL7", LOG_LOCAL7},
    {"", -1},
};

/* Log file of each known DBMS type. */
struct service_log {
  const char *service;
  const char *path;
};
constexpr service_log service_logs[] = {
    {"varnholt", "/var/opt/ZEMKtvvh/hadbms.log"},
    {"dovariza", "/var/opt/ZEMKtvdvz/hadbms.log"},
    {"sorvath", "/var/opt/ZEMKtvsrv/hadbms.log"},
};

/* The three recurring rule messages written only once in a row. */
enum class recurring { connect, ok, disconnect };
struct recurring_text {
  const char *text;
  recurring which;
};
constexpr recurring_text recurring_texts[] = {
    {"Connected to database", recurring::connect},
    {"RDBMS appears to be ok", recurring::ok},
    {"disconnected from database", recurring::disconnect},
};

char empty_text[] = "";

char *program_copy = nullptr; /* copy of argv[0]; its base name is used */
const char *program_base = empty_text;
char *syslog_id = nullptr; /* "<tag>.<program>", or program_base */
int syslog_mask = 0;
int syslog_fac = -1;
int debug_flag = 0;
char *instance_copy = empty_text;
char *instance_logical_host = empty_text;
int enable_logging = 1;
FILE *log_fp = nullptr;
int print_flags[3] = {1, 1, 1}; /* indexed by recurring */

constexpr const char time_format[] = "%b %d %T";

void glibc_open(const char *ident, int option, int facility) { openlog(ident, option, facility); }
int glibc_set_mask(int mask) { return setlogmask(mask); }
void glibc_vlog(int level, const char *format, va_list args) { vsyslog(level, format, args); }
void glibc_close() { closelog(); }

/* The time text of now; buf holds at least 32 bytes. */
void time_text(char *buf, size_t size) {
  time_t now = time(nullptr);
  if (cftime(buf, size, time_format, &now) == 0) buf[0] = '\0';
}

const char *current_syslog_id() { return syslog_id ? syslog_id : program_base; }

/* Copy of text (or of "" for NULL) on the heap; the empty text when the
** allocation fails. */
char *copy_or_empty(const char *text) {
  if (!text) return empty_text;
  char *copy = strdup(text);
  return copy ? copy : empty_text;
}

void release(char *&text) {
  if (text && text != empty_text) free(text);
  text = empty_text;
}

/* The message identity "ID[<syslog_id>.<id>]: <host>:<instance>". Formats
** into the caller's buffer; when it does not fit, into heap memory that the
** caller frees through *owned (the truncated text when that fails too). */
const char *build_identity(char *buf, size_t size, const char *id, char **owned) {
  *owned = nullptr;
  int n = snprintf(buf, size, "ID[%s.%s]: %s:%s", current_syslog_id(), id ? id : "",
                   instance_logical_host, instance_copy);
  if (n < 0 || static_cast<size_t>(n) < size) return buf;
  char *big = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
  if (!big) return buf;
  snprintf(big, static_cast<size_t>(n) + 1, "ID[%s.%s]: %s:%s", current_syslog_id(), id ? id : "",
           instance_logical_host, instance_copy);
  *owned = big;
  return big;
}

}  // namespace

extern "C" {

int decode_syslog_facility(const char *name) {
  if (!name) return -1;
  for (const facility_name &f : fac_names) {
    if (f.value != -1 && strcmp(f.name, name) == 0) return f.value;
  }
  return -1;
}

void open_hadbms_log(const char *service) {
  const char *path = hadbms_log_override;
  if (service && !path) {
    for (const service_log &s : service_logs) {
      if (strcmp(s.service, service) == 0) path = s.path;
    }
  }
  open_hadbms_log(service, path);
}

int log_startup(const char *program, const char *instance, const char *logical_host, int debug,
                int verbose, int level, const char *message_id, const char *service) {
  /* The program's base name, from a copy of its path. */
  if (program_copy) free(program_copy);
  program_copy = program ? strdup(program) : nullptr;
  program_base = program_copy ? basename(program_copy) : empty_text;
  syslog_mask = LOG_UPTO(LOG_NOTICE);

  /* The tag, copies of the instance and the host, and the syslog
  ** identity "<tag>.<program>". */
  const char *tag = getenv("HA_SLOGTAG");
  if (!tag) tag = "ZEMKcluster.ha";
  release(instance_copy);
  release(instance_logical_host);
  instance_copy = copy_or_empty(instance);
  instance_logical_host = copy_or_empty(logical_host);
  if (syslog_id) free(syslog_id);
  syslog_id = nullptr;
  size_t size = strlen(tag) + 1 + strlen(program_base) + 1;
  if (char *id = static_cast<char *>(malloc(size))) {
    snprintf(id, size, "%s.%s", tag, program_base);
    syslog_id = id;
  }

  /* The facility, LOG_LOCAL0 unless HA_SLOGFACILITY names one. */
  const char *facility = getenv("HA_SLOGFACILITY");
  syslog_fac = facility ? decode_syslog_facility(facility) : -1;
  if (syslog_fac == -1) syslog_fac = LOG_LOCAL0;

  /* The mask: LOG_NOTICE and above, debug and verbose as asked. */
  debug_flag = 0;
  if (debug) {
    syslog_mask |= LOG_MASK(LOG_DEBUG);
    debug_flag = 1;
  }
  if (verbose) syslog_mask |= LOG_MASK(LOG_INFO);

  /* The log file, then the first message. */
  if (service) open_hadbms_log(service);
  hasyslog(level, message_id, "starting up");
  return 1;
}

void hasyslog(int level, const char *id, const char *format, ...) {
  int saved_errno = errno;
  va_list args;
  va_start(args, format);

  char when[64];
  time_text(when, sizeof when);
  char ident_buf[512];
  char *owned = nullptr;
  const char *identity = build_identity(ident_buf, sizeof ident_buf, id, &owned);

  /* glibc keeps the ident pointer until closelog: identity outlives it. */
  log_sink->open(identity, LOG_NOWAIT, syslog_fac);
  log_sink->set_mask(syslog_mask);
  va_list file_args;
  va_copy(file_args, args);
  errno = saved_errno;
  log_sink->vlog(level, format, args);
  log_sink->close();

  bool to_file = level != LOG_DEBUG || debug_flag;
  if (to_file && enable_logging && log_fp && !(id && strcmp(id, "2050") == 0)) {
    fprintf(log_fp, "%s %s: ", when, identity);
    errno = saved_errno;
    vfprintf(log_fp, format, file_args);
    fputs("\n", log_fp);
    fflush(log_fp);
  }
  va_end(file_args);
  va_end(args);
  free(owned);
  errno = saved_errno;
}

void log_action_message(const char *message_id, const char *text) {
  char when[64];
  time_text(when, sizeof when);
  if (!enable_logging || !log_fp) return;
  if (!text) text = "";

  bool recurring_hit = false;
  for (const recurring_text &r : recurring_texts) {
    if (strcmp(r.text, text) != 0) continue;
    recurring_hit = true;
    int &flag = print_flags[static_cast<int>(r.which)];
    if (!flag) return;
    flag = 0;
  }
  if (!recurring_hit) {
    for (int &flag : print_flags)
      flag = 1;
  }
  fprintf(log_fp, "%s ID[%s.%s]: :%s: ", when, current_syslog_id(), message_id ? message_id : "",
          instance_copy);
  fprintf(log_fp, "%s\n", text);
  fflush(log_fp);
}

int log_shutdown(void) {
  hasyslog(LOG_NOTICE, "2170", "shutting down");
  log_sink->close();
  if (log_fp) {
    fclose(log_fp);
    log_fp = nullptr;
  }
  return 1;
}

}  // extern "C"

/* REQUIRES: nothing. Decides enable_logging from HA_DBMS_LOG_DISABLE and,
** when enabled and a path is given, opens it for appending into log_fp
** (closing a stream opened before). In debug mode says on standard output
** whether the file could be opened. */
void open_hadbms_log(const char *service, const char *path) {
  (void)service;
  const char *disable = getenv("HA_DBMS_LOG_DISABLE");
  enable_logging = (disable && atoi(disable) != 0) ? 0 : 1;
  if (log_fp) {
    fclose(log_fp);
    log_fp = nullptr;
  }
  if (!enable_logging || !path) return;
  /* Close-on-exec: framework commands (and a database they restart) must
  ** not keep the monitor's log open. */
  log_fp = fopen(path, "a+e");
  if (debug_flag) {
    printf(log_fp ? "opened log file %s\n" : "Could not open log file %s\n", path);
    fflush(stdout);
  }
}

const char *hadbms_log_override = nullptr;

const syslog_sink glibc_syslog_sink = {glibc_open, glibc_set_mask, glibc_vlog, glibc_close};
const syslog_sink *log_sink = &glibc_syslog_sink;

const char *log_syslog_id() { return current_syslog_id(); }
int log_syslog_mask() { return syslog_mask; }
int log_syslog_facility() { return syslog_fac; }
FILE *log_file_stream() { return log_fp; }

void log_reset() {
  if (log_fp) {
    fclose(log_fp);
    log_fp = nullptr;
  }
  enable_logging = 1;
  debug_flag = 0;
  syslog_mask = 0;
  syslog_fac = -1;
  for (int &flag : print_flags)
    flag = 1;
  release(instance_copy);
  release(instance_logical_host);
  free(syslog_id);
  syslog_id = nullptr;
  free(program_copy);
  program_copy = nullptr;
  program_base = empty_text;
}
