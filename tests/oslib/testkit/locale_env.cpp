/*
** The tests' hold on the client locale environment (locale_env.h).
*/
#include "locale_env.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "lco_builder.h"
#include "os_glsenv.h"

namespace oslib_test {

CurrentLocale::CurrentLocale(gl_locale *record) {
  gls_env *env = CheckGlsEnv();
  locale_ = env->locale;
  client_locale_ = env->state->client_locale;
  db_locale_ = env->state->db_locale;
  initialised_ = env->state->initialised;
  env->locale = record;
  env->state->client_locale = record;
  env->state->db_locale = record;
  env->state->initialised = static_cast<int16_t>(initialised_ | 1);
}

CurrentLocale::~CurrentLocale() {
  gls_env *env = CheckGlsEnv();
  env->locale = locale_;
  env->state->client_locale = client_locale_;
  env->state->db_locale = db_locale_;
  env->state->initialised = initialised_;
}

void forget_locale_initialisation() {
  gls_env *env = CheckGlsEnv();
  new_gls_env *state = env->state;
  const int16_t mode = state->mode;
  gls_lconv *lconv = state->lconv;
  *state = new_gls_env {};
  state->mode = mode;
  state->lconv = lconv;
  *env = gls_env {};
  env->state = state;
}

std::string in_child(const std::function<std::string()> &body) {
  int channel[2];
  if (pipe(channel) != 0) return "pipe failed";
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    return "fork failed";
  }
  if (child == 0) {
    close(channel[0]);
    const std::string report = body();
    const ssize_t written = write(channel[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string report;
  char chunk[1024];
  ssize_t got;
  while ((got = read(channel[0], chunk, sizeof chunk)) > 0)
    report.append(chunk, static_cast<size_t>(got));
  close(channel[0]);
  int status = 0;
  if (waitpid(child, &status, 0) != child) return report + "child lost\n";
  if (!WIFEXITED(status))
    return report + "child killed by signal " + std::to_string(WTERMSIG(status)) + "\n";
  if (WEXITSTATUS(status) != 0)
    return report + "child exited " + std::to_string(WEXITSTATUS(status)) + "\n";
  return report;
}

FailingLocaleTree::FailingLocaleTree() : path_(root_.file("dovariza")) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(path_ + "/etc", error);
  if (!error) {
    fs::copy(DVZ_BUILD_DOVARIZADIR "/gls", path_ + "/gls", fs::copy_options::recursive, error);
  }
  if (error) throw std::runtime_error("cannot copy the build's locale data: " + error.message());
  /* Named by source and target code set: 8859-1 is 0333, UTF-8 e01c. */
  for (const char *leaf : {"0333e01c.cvo", "e01c0333.cvo"}) {
    if (!fs::remove(path_ + "/gls/cv9/" + leaf, error))
      throw std::runtime_error(std::string("no conversion file ") + leaf + " to remove");
  }
  /* "unicode" is code set 0xe005 in the registry. */
  root_.write("dovariza/gls/lc11/xx_yy/e005.lco", lcotest::two_byte_locale().text());
}

}  // namespace oslib_test
