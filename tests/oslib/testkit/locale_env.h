/*
** The client locale environment as the oslib tests set it up: a guard
** that makes a loaded locale record current and initialised (so that the
** locale initialisation does nothing), a runner that takes a piece of a
** test into a forked child (the initialisation runs once per process, so
** a case that needs it fresh or failing runs there), and a DOVARIZADIR
** tree in which the initialisation can be made to fail for real.
*/
#ifndef DVZ_TESTS_OSLIB_LOCALE_ENV_H
#define DVZ_TESTS_OSLIB_LOCALE_ENV_H

#include <cstdint>
#include <functional>
#include <string>

#include "gl_conv.h"
#include "temp_dir.h"

namespace oslib_test {

/* Makes record the current environment's locale and its client and
** database locale, with the client bit in the initialised bits, for its
** lifetime; the fields are put back as they were afterwards. */
class CurrentLocale {
 public:
  explicit CurrentLocale(gl_locale *record);
  ~CurrentLocale();
  CurrentLocale(const CurrentLocale &) = delete;
  CurrentLocale &operator=(const CurrentLocale &) = delete;

 private:
  gl_locale *locale_;
  gl_locale *client_locale_;
  gl_locale *db_locale_;
  int16_t initialised_;
};

/* Makes the current environment look as it does in a process that never
** initialised it (no locale, converters, copies or formats; the mode and
** conventions block kept), so that the next chkglsinit initialises it
** afresh. Nothing is freed: for forked children only. */
void forget_locale_initialisation();

/* Runs body in a forked child and returns its report: what body returned
** ("" when all was well), or a line saying how the child ended when it
** did not come back from body. The parent waits for the child. */
std::string in_child(const std::function<std::string()> &body);

/* A DOVARIZADIR of its own in which the client locale fails to initialise
** for real: a copy of the build's locale data without the conversion
** files between 8859-1 and UTF-8 (so DB_LOCALE=en_US.utf8 fails with
** -23104), with `two_byte_locale` added (CLIENT_LOCALE of it fails with
** -34394), and an empty etc/. */
class FailingLocaleTree {
 public:
  static constexpr const char *two_byte_locale = "xx_YY.unicode";

  FailingLocaleTree(); /* throws std::runtime_error when it cannot be made */
  const std::string &path() const { return path_; }

 private:
  dvz_test::TempDir root_;
  std::string path_;
};

}  // namespace oslib_test

#endif
