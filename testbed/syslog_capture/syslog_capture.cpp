/*
** The syslog capture (syslog_capture.h): an AF_UNIX datagram socket bound
** where syslog messages are sent, read by one background thread. Called by
** tests and by syslog_capture_main.cpp; calls the C library and the
** testbed's bounded wait.
*/
#include "syslog_capture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "testbed_support.h"

namespace testbed {

namespace {

constexpr size_t max_datagram = 65536;

/* An AF_UNIX address for path; false when the path does not fit. */
bool unix_address(const std::string &path, sockaddr_un *address) {
  memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

/* What is at path: nothing, a socket nobody reads (safe to replace),
** a live socket, or something else (left alone). */
enum class occupant { none, dead_socket, live, other };

occupant what_is_at(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? occupant::none : occupant::other;
  sockaddr_un address;
  int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0 || !unix_address(path, &address)) {
    if (probe >= 0) close(probe);
    return occupant::other;
  }
  int rc = connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address);
  int error = errno;
  close(probe);
  if (rc == 0) return occupant::live;
  /* journald's /dev/log is a stream socket for some: a stream peer counts. */
  if (error == EPROTOTYPE) return occupant::live;
  if (S_ISSOCK(st.st_mode) && error == ECONNREFUSED) return occupant::dead_socket;
  return occupant::other;
}

}  // namespace

SyslogMessage parse_syslog_datagram(std::string_view datagram) {
  SyslogMessage message;
  while (!datagram.empty() && (datagram.back() == '\0' || datagram.back() == '\n'))
    datagram.remove_suffix(1);
  if (datagram.size() > 2 && datagram[0] == '<') {
    size_t close = datagram.find('>');
    if (close != std::string_view::npos && close > 1 && close <= 4) {
      int value = 0;
      bool digits = true;
      for (char c : datagram.substr(1, close - 1)) {
        if (c < '0' || c > '9') digits = false;
        value = value * 10 + (c - '0');
      }
      if (digits) {
        message.priority = value;
        message.facility = value & ~7;
        message.level = value & 7;
        datagram.remove_prefix(close + 1);
      }
    }
  }
  message.text = std::string(datagram);
  return message;
}

std::string format_syslog_message(const SyslogMessage &message) {
  return "facility=" + std::to_string(message.facility) +
         " level=" + std::to_string(message.level) + " pri=" + std::to_string(message.priority) +
         " " + message.text;
}

SyslogCapture::SyslogCapture(std::string path,
                             std::function<void(const SyslogMessage &)> on_message)
    : path_(std::move(path)), on_message_(std::move(on_message)) {
  switch (what_is_at(path_)) {
    case occupant::live:
      status_ = Status::daemon_present;
      reason_ = "a syslog daemon answers at " + path_;
      return;
    case occupant::other:
      reason_ = path_ + " exists and is not a socket left behind";
      return;
    case occupant::dead_socket:
      unlink(path_.c_str());
      break;
    case occupant::none:
      break;
  }
  sockaddr_un address;
  if (!unix_address(path_, &address)) {
    reason_ = "path too long: " + path_;
    return;
  }
  socket_fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_fd_ < 0 || pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    reason_ = std::string("socket: ") + strerror(errno);
    return;
  }
  if (bind(socket_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    reason_ = "cannot bind " + path_ + ": " + strerror(errno);
    return;
  }
  chmod(path_.c_str(), 0666); /* every user may log, as with a daemon */
  status_ = Status::capturing;
  thread_ = std::thread([this] { receive_loop(); });
}

SyslogCapture::~SyslogCapture() {
  if (thread_.joinable()) {
    char byte = 1;
    if (write(stop_pipe_[1], &byte, 1) < 0) {
      /* the thread then ends with the process; nothing else to do */
    }
    thread_.join();
  }
  if (status_ == Status::capturing) unlink(path_.c_str());
  if (socket_fd_ >= 0) close(socket_fd_);
  for (int fd : stop_pipe_)
    if (fd >= 0) close(fd);
}

void SyslogCapture::receive_loop() {
  std::string buffer(max_datagram, '\0');
  for (;;) {
    pollfd fds[2] = {{socket_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN)) {
      /* Drain what arrived before the stop: it belongs to the run. */
      ssize_t n;
      while ((n = recv(socket_fd_, buffer.data(), buffer.size(), MSG_DONTWAIT)) > 0) {
        SyslogMessage m = parse_syslog_datagram(std::string_view(buffer.data(), size_t(n)));
        if (on_message_) on_message_(m);
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(std::move(m));
      }
      return;
    }
    if (fds[0].revents & POLLIN) {
      ssize_t n = recv(socket_fd_, buffer.data(), buffer.size(), 0);
      if (n <= 0) continue;
      SyslogMessage m = parse_syslog_datagram(std::string_view(buffer.data(), size_t(n)));
      if (on_message_) on_message_(m);
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(m));
    }
  }
}

std::vector<SyslogMessage> SyslogCapture::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

bool SyslogCapture::wait_for(std::string_view text, double timeout_seconds) const {
  return wait_until(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const SyslogMessage &m : messages_)
          if (m.text.find(text) != std::string::npos) return true;
        return false;
      },
      timeout_seconds);
}

}  // namespace testbed
