/*
** The DBMS message log reader. monitor_db opens the log once, at its end,
** when the loop starts in local mode; run_probe scans it after every probe
** and hands the new text to the evaluation, and monitor_db releases the
** text once the evaluation is done.
**
** The log is never reopened: a rotated log is not followed (the operator
** restarts the monitor). Memory is bounded by max_log_burst: a scan seeks
** past all but the last max_log_burst bytes of a longer burst instead of
** reading them, and the buffer, sized for the text it holds, lives only
** from one scan to its release.
*/
#include "log_scanner.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "probe_interface.h"

namespace {

std::string log_file_name;
int log_fd = -1;
char *log_file_buffer = nullptr;
size_t log_file_buffer_size = 0;

/* The text of a scan that found nothing new. */
char no_new_text[] = "";

/* read() that retries when a signal interrupts it. */
ssize_t read_some(int fd, char *into, size_t count) {
  ssize_t n;
  do {
    n = read(fd, into, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

/* Bytes to read for this scan: what lies beyond the read position, at
** most max_log_burst. With more there, the position first moves to the
** last max_log_burst bytes. When the size cannot be told, max_log_burst
** (the reads then stop at the end of the file). */
size_t bytes_to_read() {
  off_t position = lseek(log_fd, 0, SEEK_CUR);
  struct stat status {};
  if (position < 0 || fstat(log_fd, &status) != 0) return max_log_burst;
  if (status.st_size <= position) return 0;
  off_t pending = status.st_size - position;
  if (pending <= static_cast<off_t>(max_log_burst)) return static_cast<size_t>(pending);
  lseek(log_fd, status.st_size - static_cast<off_t>(max_log_burst), SEEK_SET);
  return max_log_burst;
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
  release_log_text();
  if (log_fd < 0) return nullptr;
  size_t wanted = bytes_to_read();
  if (wanted == 0) return no_new_text;

  log_file_buffer = static_cast<char *>(malloc(wanted + 1));
  if (!log_file_buffer) {
    hasyslog(LOG_ERR, "4300", "Could not allocate buffer for DBMS log messages: %m");
    return nullptr;
  }
  log_file_buffer_size = wanted + 1;

  size_t length = 0;
  while (length < wanted) {
    ssize_t n = read_some(log_fd, log_file_buffer + length, wanted - length);
    if (n <= 0) break;
    length += static_cast<size_t>(n);
  }
  log_file_buffer[length] = '\0';
  return log_file_buffer;
}

void release_log_text(void) {
  free(log_file_buffer);
  log_file_buffer = nullptr;
  log_file_buffer_size = 0;
}

}  // extern "C"

size_t scan_log_buffer_size() { return log_file_buffer_size; }
