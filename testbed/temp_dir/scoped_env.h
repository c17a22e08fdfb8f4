/*
** scoped_env.h: one environment variable set (or, with nullopt, removed)
** for the life of an object, put back as it was afterwards. Tests that
** change the environment of their own process use it beside their
** temporary directories.
*/
#ifndef DVZ_TESTBED_SCOPED_ENV_H
#define DVZ_TESTBED_SCOPED_ENV_H

#include <cstdlib>
#include <optional>
#include <string>

namespace dvz_test {

class ScopedEnv {
 public:
  ScopedEnv(const char *name, std::optional<std::string> value) : name_(name) {
    if (const char *old = getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace dvz_test

#endif
