/*
** A stand-in for the syslog daemon: it binds an AF_UNIX datagram socket at
** the path it is given, receives what is sent there (by syslog(3) at
** /dev/log, or by the monitor's test build through its socket sink at a
** path of the test's own) and decodes facility and level from each
** message's "<PRI>" prefix. The socket is removed at the end. Used by
** end-to-end tests (in process) and by the syslog_capture tool.
**
** It never takes over a live socket: when something answers at the path
** the capture does not start (status daemon_present).
*/
#ifndef DVZ_SYSLOG_CAPTURE_H
#define DVZ_SYSLOG_CAPTURE_H

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testbed {

/* One message as syslog(3) sent it. */
struct SyslogMessage {
  int priority = -1; /* the number in "<PRI>", -1 when there was none */
  int facility = -1; /* priority with the level bits cleared (LOG_CRON is 72) */
  int level = -1; /* priority & 7 */
  std::string text; /* everything after "<PRI>": time, ident, ": ", message */
};

/* "facility=<f> level=<l> pri=<p> <text>", the tool's line form. */
std::string format_syslog_message(const SyslogMessage &message);

/* Decodes one datagram. */
SyslogMessage parse_syslog_datagram(std::string_view datagram);

class SyslogCapture {
 public:
  enum class Status { capturing, daemon_present, failed };

  /* Binds `path` when nothing answers there (a dead socket left behind is
  ** replaced) and starts receiving on a background thread. `on_message`, when
  ** given, is called for each message on that thread. */
  explicit SyslogCapture(std::string path,
                         std::function<void(const SyslogMessage &)> on_message = {});
  ~SyslogCapture(); /* stops the thread, closes and removes the socket */
  SyslogCapture(const SyslogCapture &) = delete;
  SyslogCapture &operator=(const SyslogCapture &) = delete;

  Status status() const { return status_; }
  const std::string &reason() const { return reason_; } /* why not capturing */

  /* The messages received so far, in order. */
  std::vector<SyslogMessage> messages() const;
  /* Waits until some message's text contains `text`; true when one does. */
  bool wait_for(std::string_view text, double timeout_seconds = 30) const;

 private:
  void receive_loop();

  std::string path_;
  std::function<void(const SyslogMessage &)> on_message_;
  Status status_ = Status::failed;
  std::string reason_;
  int socket_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  mutable std::mutex mutex_;
  std::vector<SyslogMessage> messages_;
  std::thread thread_;
};

}  // namespace testbed

#endif
