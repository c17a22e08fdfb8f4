/*
** What a process holds, read from /proc for the soak and the full-stack
** scenarios: its open descriptors and its resident size.
*/
#ifndef DVZ_TESTS_E2E_PROCESS_STATE_H
#define DVZ_TESTS_E2E_PROCESS_STATE_H

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace e2e {

/* The descriptors of `pid`: number -> target, with a socket's or pipe's
** inode left out (a new connection's socket is a new one). Empty when the
** process is gone. */
inline std::map<int, std::string> descriptors_of(pid_t pid) {
  std::map<int, std::string> fds;
  std::error_code error;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto &entry : std::filesystem::directory_iterator(dir, error)) {
    std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (size_t bracket = target.find(":["); bracket != std::string::npos) target.resize(bracket);
    fds[atoi(entry.path().filename().c_str())] = target;
  }
  return fds;
}

/* The descriptors one per line, for a failure message. */
inline std::string describe(const std::map<int, std::string> &fds) {
  std::string all;
  for (const auto &[fd, target] : fds)
    all += std::to_string(fd) + " -> " + target + "\n";
  return all;
}

/* VmRSS of `pid` in KiB; -1 when it cannot be read. */
inline long resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return -1;
}

}  // namespace e2e

#endif
