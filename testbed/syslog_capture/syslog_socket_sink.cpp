/*
** The socket syslog sink (syslog_socket_sink.h). Called by the monitor's
** hasyslog through its sink seam, in the monitor and in its probe child;
** calls only the C library. Each message opens, sends and closes its own
** socket: the daemon closes every inherited descriptor at start-up.
*/
#include "syslog_socket_sink.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace testbed {

namespace {

sockaddr_un target {}; /* where messages go; sun_path "" before set-up */
std::string ident; /* of the last open */
int facility = LOG_USER;
int mask = 0xff;

void sink_open(const char *name, int, int facility_code) {
  ident = name ? name : "";
  facility = facility_code;
}

int sink_set_mask(int new_mask) {
  int old = mask;
  if (new_mask != 0) mask = new_mask;
  return old;
}

/* Formats "<PRI>Mmm dd hh:mm:ss ident: text" and sends it in one datagram. */
void sink_vlog(int level, const char *format, va_list args) {
  int saved_errno = errno;
  if ((LOG_MASK(LOG_PRI(level)) & mask) == 0) return;
  char when[32];
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  if (strftime(when, sizeof when, "%b %e %T", &local) == 0) when[0] = '\0';

  va_list again;
  va_copy(again, args);
  errno = saved_errno; /* %m is the caller's error */
  int length = vsnprintf(nullptr, 0, format, args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) {
    errno = saved_errno;
    vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);

  std::string datagram = "<" + std::to_string(LOG_PRI(level) | (facility & LOG_FACMASK)) + ">" +
                         when + " " + ident + ": " + text;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr *>(&target), sizeof target);
    close(fd);
  }
  errno = saved_errno;
}

void sink_close() {}

constexpr syslog_sink socket_sink = {sink_open, sink_set_mask, sink_vlog, sink_close};

}  // namespace

const syslog_sink *socket_syslog_sink(const char *path) {
  target = sockaddr_un {};
  target.sun_family = AF_UNIX;
  snprintf(target.sun_path, sizeof target.sun_path, "%s", path);
  return &socket_sink;
}

}  // namespace testbed
