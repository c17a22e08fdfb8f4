/*
** The DBMS message log reader. monitor_db opens the log once, at its end,
** when the loop starts in local mode; run_probe scans it after every probe
** and hands the new text to the evaluation.
**
** The log is never reopened: a rotated log is not followed (the operator
** restarts the monitor). The buffer starts at 256 bytes, grows by 256 and is
** never shrunk or freed; the text handed out lives in it until the next scan.
*/
#include "log_scanner.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include "probe_interface.h"

namespace {

constexpr size_t buffer_step = 256;

std::string log_file_name;
int log_fd = -1;
char *log_file_buffer = nullptr;
size_t log_file_buffer_size = 0;

/* read() that retries when a signal interrupts it. */
ssize_t read_some(int fd, char *into, size_t count) {
  ssize_t n;
  do {
    n = read(fd, into, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace

extern "C" {

int init_scan_log_file(const char *path) {
  log_file_name = path ? path : "";
  return open_log_file();
}

int open_log_file(void) {
  if (log_fd >= 0) {
    close(log_fd);
    log_fd = -1;
  }
  /* Close-on-exec: the framework commands have no use for it. */
  int fd = open(log_file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    hasyslog(LOG_ERR, "4320", "Could not open DBMS log file '%s': %m", log_file_name.c_str());
    return 0;
  }
  if (lseek(fd, 0, SEEK_END) < 0) {
    hasyslog(LOG_ERR, "4330", "Error seeking to end of DBMS log file '%s': %m",
             log_file_name.c_str());
    close(fd);
    return 0;
  }
  log_fd = fd;
  return 1;
}

const char *scan_log_file(void) {
  if (log_fd < 0) return nullptr;
  if (!log_file_buffer) {
    log_file_buffer = static_cast<char *>(malloc(buffer_step));
    if (!log_file_buffer) {
      hasyslog(LOG_ERR, "4300", "Could not allocate buffer for DBMS log messages: %m");
      return nullptr;
    }
    log_file_buffer_size = buffer_step;
  }

  ssize_t n = read_some(log_fd, log_file_buffer, log_file_buffer_size - 1);
  if (n <= 0) {
    log_file_buffer[0] = '\0';
    return log_file_buffer;
  }
  size_t length = static_cast<size_t>(n);
  bool filled = length == log_file_buffer_size - 1;
  while (filled) {
    char *grown = static_cast<char *>(realloc(log_file_buffer, log_file_buffer_size + buffer_step));
    if (!grown) {
      hasyslog(LOG_ERR, "4310", "Could not enlarge buffer for DBMS log file: %m");
      break;
    }
    log_file_buffer = grown;
    log_file_buffer_size += buffer_step;
    n = read_some(log_fd, log_file_buffer + length, buffer_step);
    if (n <= 0) break;
    length += static_cast<size_t>(n);
    filled = static_cast<size_t>(n) == buffer_step;
  }
  log_file_buffer[length] = '\0';
  return log_file_buffer;
}

}  // extern "C"

size_t scan_log_buffer_size() { return log_file_buffer_size; }
