/*
** fork1 and the System V signal calls, over fork and sigaction. glibc's
** own signal() has BSD semantics; our callers only install a handler or
** ignore a signal, so plain sigaction with no flags serves them. Also the
** one signal-blocking guard of the library (svr4::SignalBlock).
*/
#include <csignal>

#include <pthread.h>
#include <unistd.h>

#include "svr4.h"

extern "C" {

pid_t fork1(void) { return fork(); }

svr4_handler svr4_signal(int sig, svr4_handler handler) {
  struct sigaction action {
  }, old {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  if (sigaction(sig, &action, &old) != 0) return SIG_ERR;
  return old.sa_handler;
}

svr4_handler svr4_sigset(int sig, svr4_handler handler) { return svr4_signal(sig, handler); }

int svr4_sigignore(int sig) { return svr4_signal(sig, SIG_IGN) == SIG_ERR ? -1 : 0; }
}

namespace svr4 {

SignalBlock::SignalBlock(std::initializer_list<int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : signals)
    sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalBlock::~SignalBlock() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace svr4
