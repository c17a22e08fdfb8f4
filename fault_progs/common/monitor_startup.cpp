/*
** Start-up of the fault monitor: the daemon, the command line and the
** environment, the probe module's own check, the action file, the client
** of the local dorvexd, the check for a second monitor of the instance and
** the registration, the initial delay; and the common way out
** (fault_mon_exit) of the monitor and of its probe child.
**
** Called by a probe module's main through fault_mon_main, and by the
** probe module (usage). Calls logging, the action file, db_main of the
** probe module through its operations record, and dorvexd and the clock
** only through their seams (monitor_seams.h).
**
** Exit statuses: 0 orderly end, 1 argument errors / daemon failures / no
** RPC client / another monitor registered, 2 bad values, an incomplete
** probe environment or an unusable action file.
*/
#include "monitor.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <syslog.h>
#include <unistd.h>

#include "action_file.h"
#include "evaluate_actions.h"
#include "fd_close.h"
#include "monitor_log.h"
#include "monitor_seams.h"
#include "monitor_signals.h"
#include "probe_cycle.h"

namespace {

/* Set once this process registered itself with dorvexd: only then may it
** deregister the instance on the way out. */
bool registered = false;

constexpr const char console_path[] = "/dev/console";
constexpr const char clustername_path[] = "/etc/opt/ZEMKcluster/conf/default_clustername";
constexpr size_t word_max = monitor_word_size - 1;
constexpr const char blanks[] = " \t\n";

/* Numbers of the environment and the command line: atoi semantics. */
int env_number(const char *name) {
  const char *value = getenv(name);
  return value ? atoi(value) : 0;
}

/* DBMS_SERV_KEY: decimal, saturated to the 32-bit range like a 32-bit
** strtol. */
int32_t parse_serv_key(const char *text) {
  long value = strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

/* Copies the first blank-delimited word of text (at most word_max bytes)
** into buffer; returns its length. */
size_t first_word(const char *text, char *buffer) {
  text += strspn(text, blanks);
  size_t length = strcspn(text, blanks);
  if (length > word_max) length = word_max;
  memcpy(buffer, text, length);
  buffer[length] = '\0';
  return length;
}

/* Closes every descriptor below the hard limit. */
void close_inherited(rlim_t hard_limit) {
  dvz_close_from(
      0, hard_limit > static_cast<rlim_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(hard_limit));
}

}  // namespace

extern "C" {

void usage(const char *program, const char *error_text) {
  if (!program) program = "";
  if (error_text) hasyslog(LOG_ERR, "4180", "%s: %s\n", program, error_text);
  hasyslog(LOG_ERR, "4190",
           "%s: usage: %s {-r/-m} <loghost> instance_name poll_cycle_time connect_cycle_count "
           "time_out restart_delay action_file dbms_log_file %s\n",
           program, program, probe->dbms_usage ? probe->dbms_usage : "");
  exit(1);
}

int make_daemon(void) { return make_daemon(console_path); }

int fault_mon_main(int argc, char **argv, const probe_ops *ops) {
  monitor_set_probe(ops);
  make_daemon();
  return monitor_main(argc, argv);
}

int fault_mon_run_check(const char *instance, int pid) {
  int32_t *status = dorvexd_seam->get_status(instance, rpc_client);
  check_termination();
  if (status && *status != 0) {
    time_t when = *status;
    char text[64];
    hasyslog(LOG_DEBUG, "0140", "fault_mon_run_check got %s", ctime_r(&when, text) ? text : "?\n");
    return 1;
  }
  dorvexd_seam->set_status(instance, pid, dbms_serv_key, rpc_client);
  registered = true;
  check_termination();
  return 0;
}

void fault_mon_exit(int signal) {
  if (db_proc_pid > 0) kill(db_proc_pid, signal);
  hasyslog(LOG_NOTICE, "2160", "%s process received signal %d - terminating",
           db_proc_pid == 0 ? "DB" : "main", signal);
  if (db_proc_pid != 0) {
    /* The probe child never deregisters; nor does a monitor that never
    ** registered, since the registration there is another monitor's. */
    if (registered && rpc_client) {
      registered = false;
      dorvexd_seam->set_status(instance_name, 0, 0, rpc_client);
    }
    if (rpc_client) {
      dorvexd_seam->destroy(rpc_client);
      rpc_client = nullptr;
    }
  }
  log_shutdown();
  exit(0);
}

void get_remote_hostname(char *buffer) {
  buffer[0] = '\0';
  const char *hosts = getenv("HA_REMOTEHOST");
  if (!hosts || first_word(hosts, buffer) == 0) {
    hasyslog(LOG_ERR, "4280", "cannot get the remote hostname from plaxenv file.");
  }
}

int get_clustername(char *buffer) { return get_clustername(buffer, clustername_path); }

int monitor_main(int argc, char **argv) {
  const char *program = (argc > 0 && argv[0]) ? argv[0] : "";

  /* SIGPIPE ignored; SIGTERM and SIGQUIT recorded for check_termination. */
  install_termination_handlers();

  /* The monitor's environment. */
  verbose_mode = env_number("HA_DBMS_VERBOSE") != 0 ? 1 : 0;
  debug_mode = env_number("HA_DBMS_DEBUG") != 0 ? 1 : 0;
  int initial_delay = env_number("HA_FM_DBMSPROBE_DELAY");
  if (initial_delay < 0) initial_delay = 15;

  /* The option, required; "-r" also makes the monitor remote. An error
  ** here is reported once logging knows the instance. */
  int operand_count = argc > 0 ? argc - 1 : 0;
  char **operands = argv + (argc > 0 ? 1 : 0);
  const char *remembered_error = nullptr;
  if (operand_count >= 2 && strcmp(operands[0], "-r") == 0) {
    dbms_host = logical_host = operands[1];
    operands += 2;
    operand_count -= 2;
  } else if (operand_count >= 2 && strcmp(operands[0], "-m") == 0) {
    logical_host = operands[1];
    operands += 2;
    operand_count -= 2;
  } else {
    remembered_error = "Invalid parameters";
  }

  /* Logging first, so that every refusal below reaches syslog and the
  ** log file under the instance's name. */
  instance_name = operand_count > 0 ? operands[0] : "unknown";
  the_pid = getpid();
  log_startup(program, instance_name, logical_host, debug_mode, verbose_mode, LOG_NOTICE, "2000",
              probe->dbms_service);

  /* The operands: enough of them, the option, and names the shell reads
  ** as themselves. */
  if (operand_count < 7) usage(program, "not enough parameters");
  if (remembered_error) usage(program, remembered_error);
  if (operands[0][0] == '-') usage(program, "invalid option");
  /* Both go unquoted into /bin/sh command lines: only plain names, and
  ** not empty, or the shell would shift the command's arguments. */
  if (!shell_safe_word(operands[0]) || !shell_safe_word(logical_host) || operands[0][0] == '\0' ||
      logical_host[0] == '\0')
    usage(program, "Invalid parameters");

  /* The cycle values, the time-out and the restart delay. */
  const char *instance = operands[0];
  int poll_cycle_time = atoi(operands[1]);
  int connect_cycle_count = atoi(operands[2]);
  int time_out = atoi(operands[3]);
  int restart_delay = atoi(operands[4]);
  const char *action_path = operands[5];
  const char *dbms_log_file = operands[6];
  if (set_probe_cycle(poll_cycle_time, connect_cycle_count) == 0) {
    hasyslog(LOG_ERR, "4200", "Invalid value for probe_cycle_time or connect_cycle_count!");
    exit(2);
  }
  if (time_out < 0 || restart_delay < 0) {
    hasyslog(LOG_ERR, "4210", "Negative values for time out or restart delay not allowed");
    exit(2);
  }

  /* The probe's own check of its environment and extra operands. */
  if (probe->db_main(program, instance, operand_count - 7, operands + 7) == 0) exit(2);

  /* The action file; the list lives for the whole run. */
  static action_list actions;
  if (read_action_file(&actions, action_path) == 0) exit(2);

  /* The client of the local dorvexd. */
  rpc_client = dorvexd_seam->create("localhost");
  if (!rpc_client) {
    hasyslog(LOG_ERR, "4220", "could not connect to dorvexd on %s",
             dorvexd_seam->spcreateerror("localhost"));
    exit(1);
  }
  check_termination();

  /* The key the registration carries. */
  const char *key = getenv("DBMS_SERV_KEY");
  if (!key) {
    hasyslog(LOG_ERR, "4242", " can't get DBMS_SERV_KEY environment variable");
    fault_mon_exit(SIGTERM);
  }
  dbms_serv_key = parse_serv_key(key);

  /* Only one monitor per instance: register unless another one is. */
  if (fault_mon_run_check(instance, the_pid) == 1) {
    hasyslog(LOG_NOTICE, "2150", "Another fault monitor is already running for the same instance");
    exit(1);
  }

  /* The initial delay; a termination signal cuts it short. */
  if (initial_delay != 0) clock_seam->wait(initial_delay);
  check_termination();

  /* The main loop; it returns only after the stop action. */
  monitor_db(instance, time_out, restart_delay, &actions, dbms_log_file);

  /* The orderly end: deregister, end logging, destroy the client. */
  registered = false;
  dorvexd_seam->set_status(instance, 0, 0, rpc_client);
  log_shutdown();
  dorvexd_seam->destroy(rpc_client);
  rpc_client = nullptr;
  return 0;
}

}  // extern "C"

/* Returns the descriptor on 0-2 (the console, or /dev/null when the console
** cannot be opened; -1 when neither can). The launcher exits 0 at once: the
** daemon's own status is what tells. */
int make_daemon(const char *console) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    perror("cannot fork");
    exit(1);
  }
  if (pid > 0) _exit(0);

  rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max == 0) exit(1);
  close_inherited(limit.rlim_max);

  /* Descriptors 0-2 must be taken, or the log file, pipes and the RPC
  ** socket would land there and receive console output. */
  int fd = open(console, O_RDWR | O_NOCTTY);
  if (fd < 0) fd = open("/dev/null", O_RDWR);
  if (fd >= 0) {
    for (int target = 0; target <= 2; ++target) {
      if (fd != target) dup2(fd, target);
    }
    if (fd > 2) {
      close(fd);
      fd = 0;
    }
  }
  setsid();
  return fd;
}

/* REQUIRES: buffer holds monitor_word_size bytes. Stores the first word of
** the file's first line and returns 0; returns 1 after 4281 when the file
** cannot be opened. */
int get_clustername(char *buffer, const char *path) {
  buffer[0] = '\0';
  FILE *fp = fopen(path, "r");
  if (!fp) {
    hasyslog(LOG_ERR, "4281", "Could not open file %s : %d", path, errno);
    return 1;
  }
  char line[word_max + 1];
  if (fgets(line, sizeof line, fp)) first_word(line, buffer);
  fclose(fp);
  return 0;
}
