/*
** Diagnostics of the locale library: the GLSLOG and GLSDEBUG switches and
** the lines they send to ./gls.log and standard output.
**
** The switches are read through the host's getenv slot once per process, at
** the first line. gls.log is opened (appending) and closed around every
** line with the platform's stdio, never through the host services, and a
** log that cannot be opened is skipped: diagnostics never fail a caller.
** Callers: file search, the data-file readers. Calls: the C library.
*/

#include "gl_host.h"
#include "host_internal.h"

#include <cstdio>
#include <ctime>

extern "C" {

int32_t gls_debug_initialized;
int32_t gls_logging;
int32_t gls_popups;
FILE *gls_log_file;

}  // extern "C"

namespace {

constexpr const char *log_name = "gls.log";

/* A switch is on when its value begins with "on" in any case; what
** follows is not looked at ("onion" is on). */
bool switch_on(const char *name) {
  const char *value = _gl_get_env_var(name);
  return value != nullptr && (value[0] == 'o' || value[0] == 'O') &&
         (value[1] == 'n' || value[1] == 'N');
}

void write_pieces(FILE *out, std::span<const std::string_view> pieces) {
  for (std::string_view piece : pieces)
    std::fwrite(piece.data(), 1, piece.size(), out);
  std::fputc('\n', out);
}

}  // namespace

namespace glslib {

void message_pieces(std::span<const std::string_view> pieces) {
  if (!gls_debug_initialized) {
    gl_init_debug();
    gls_debug_initialized = 1;
  }
  if (gls_logging) {
    gls_log_file = std::fopen(log_name, "a");
    if (gls_log_file != nullptr) {
      write_pieces(gls_log_file, pieces);
      std::fclose(gls_log_file);
      gls_log_file = nullptr;
    }
  }
  if (gls_popups) {
    std::fputs("GLS: ", stdout);
    write_pieces(stdout, pieces);
    std::fflush(stdout);
  }
}

}  // namespace glslib

extern "C" {

void gl_init_debug(void) {
  if (switch_on("GLSLOG")) {
    gls_logging = 1;
    gls_log_file = std::fopen(log_name, "a");
    if (gls_log_file != nullptr) {
      std::time_t now = std::time(nullptr);
      char when[64] = "\n";
      ctime_r(&now, when);
      std::fprintf(gls_log_file, "----\nGLS log started %s----\n", when);
      std::fclose(gls_log_file);
      gls_log_file = nullptr;
    }
  }
  if (switch_on("GLSDEBUG")) gls_popups = 1;
}

void gl_message(const char *text) {
  glslib::message_pieces({text != nullptr ? std::string_view(text) : std::string_view()});
}

void _gl_exit_utilities(void) {
  if (gls_log_file != nullptr) {
    _gl_ext_fclose(gls_log_file);
    gls_log_file = nullptr;
  }
  gls_logging = 0;
  gls_popups = 0;
}

}  // extern "C"
