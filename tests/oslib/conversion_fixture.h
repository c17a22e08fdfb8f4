/*
** Real code-set converters for the tests: a descriptor loaded from the
** locale data of the process's DOVARIZADIR tree (the build's generated
** .cvo files), and a guard that puts one into a converter field of the
** current locale environment's state block for its lifetime.
**
** Specifications: "en_US.8859-1" (single byte) and "en_US.utf8".
*/
#ifndef DVZ_TESTS_OSLIB_CONVERSION_FIXTURE_H
#define DVZ_TESTS_OSLIB_CONVERSION_FIXTURE_H

#include <gtest/gtest.h>

#include "gl_conv.h"
#include "gl_host.h"
#include "os_glsenv.h"

namespace oslib_test {

constexpr const char *latin1_spec = "en_US.8859-1";
constexpr const char *utf8_spec = "en_US.utf8";

/* A converter source -> target, loaded by the usual search; get() is NULL
** (with a failure recorded) when it does not load. */
class LoadedConverter {
 public:
  LoadedConverter(const char *target, const char *source) {
    const int rc = gl_cv_load(&cv_, target, source, nullptr, nullptr);
    if (rc != 1) {
      ADD_FAILURE() << "cannot load the converter " << source << " -> " << target << " (result "
                    << rc << ")";
      if (cv_ != nullptr) gl_cv_unload(cv_);
      cv_ = nullptr;
    }
  }
  ~LoadedConverter() {
    if (cv_ == nullptr) return;
    /* The fast map is not freed with the descriptor. */
    _gl_free_ptr(cv_->fast_map);
    gl_cv_unload(cv_);
  }
  LoadedConverter(const LoadedConverter &) = delete;
  LoadedConverter &operator=(const LoadedConverter &) = delete;

  gl_cv_desc *get() const { return cv_; }

 private:
  gl_cv_desc *cv_ = nullptr;
};

/* 8859-1 to UTF-8 and back. */
struct Latin1ToUtf8 : LoadedConverter {
  Latin1ToUtf8() : LoadedConverter(utf8_spec, latin1_spec) {}
};
struct Utf8ToLatin1 : LoadedConverter {
  Utf8ToLatin1() : LoadedConverter(latin1_spec, utf8_spec) {}
};

/* Puts cv into one converter field (&new_gls_env::cv_client_os, ...) of
** the current environment, restoring the field's value at the end. */
class EnvironmentConverter {
 public:
  EnvironmentConverter(gl_cv_desc *new_gls_env::*field, gl_cv_desc *cv) : field_(field) {
    gls_env *env = CheckGlsEnv();
    if (env == nullptr || env->state == nullptr) {
      ADD_FAILURE() << "no current locale environment";
      return;
    }
    state_ = env->state;
    saved_ = state_->*field_;
    state_->*field_ = cv;
  }
  ~EnvironmentConverter() {
    if (state_ != nullptr) state_->*field_ = saved_;
  }
  EnvironmentConverter(const EnvironmentConverter &) = delete;
  EnvironmentConverter &operator=(const EnvironmentConverter &) = delete;

 private:
  gl_cv_desc *new_gls_env::*field_;
  new_gls_env *state_ = nullptr;
  gl_cv_desc *saved_ = nullptr;
};

}  // namespace oslib_test

#endif
