/*
** The probe's work in the monitor process: the environment check at
** start-up (db_main) and the restart of the database (ha_db_restart).
**
** Called by the monitor's start-up and its restart action, and by the
** scripted probe of the test build, which shares db_main and the restart
** rule. Calls hasyslog and usage of the monitor and its command runner;
** nothing of the embedded-SQL runtime, so the scripted probe links none
** of it.
*/
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <syslog.h>
#include <unistd.h>

#include "dovariza_probe.h"
#include "framework_command.h"
#include "probe_settings.h"

namespace dovariza {
namespace {

/* The text handed to putenv: the environment keeps pointing into it, so
** it is replaced only after putenv has taken the new one. */
std::unique_ptr<char[]> dovarizaserver_env;

/* Puts "DOVARIZASERVER=<value>" into the environment, sized to the value. */
void put_server_back(const char *value) {
  std::string text = std::string("DOVARIZASERVER=") + value;
  auto fresh = std::make_unique<char[]>(text.size() + 1);
  memcpy(fresh.get(), text.c_str(), text.size() + 1);
  putenv(fresh.get());
  dovarizaserver_env = std::move(fresh);
}

/* A decimal user id: digits only, within int32 (no overflow). */
bool parse_user_id(const char *text, uid_t *uid) {
  if (*text == '\0') return false;
  long long value = 0;
  for (const char *p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return false;
  }
  *uid = static_cast<uid_t>(value);
  return true;
}

}  // namespace

void ha_db_restart(const char *remote) {
  if (remote) {
    hasyslog(LOG_INFO, "1510", "ha_db_restart ignored - monitor is remote");
    return;
  }
  const char *config = onconfig ? onconfig : "";
  /* The value goes unquoted into a shell line: anything the shell could
  ** read as more than one plain word runs nothing. */
  if (!onconfig_is_plain(config) ||
      !run_framework_command(command_line("dovariza_kelpo %d %s", the_pid, config)).succeeded())
    hasyslog(LOG_ERR, "4510", "dovariza_kelpo %d %s failed", the_pid, config);
}

}  // namespace dovariza

bool onconfig_is_plain(std::string_view onconfig) {
  for (char c : onconfig) {
    if (c != '/' && !shell_safe_word(std::string_view(&c, 1))) return false;
  }
  return true;
}

extern "C" int db_main(const char *program, const char *instance, int extra_count, char **extra) {
  (void)instance;
  (void)extra;
  using namespace dovariza;
  if (extra_count != 0) usage(program, "too many parameters");

  dbname = getenv("DB_LOGIN");
  dovarizaserver = getenv("DOVARIZASERVER");
  if (!dbname) {
    hasyslog(LOG_NOTICE, "2510", "Environment variable DB_LOGIN not set");
    return 0;
  }
  if (!dovarizaserver) {
    hasyslog(LOG_NOTICE, "2520", "Environment variable DOVARIZASERVER not set");
    return 0;
  }
  put_server_back(dovarizaserver);
  /* getenv now answers from the text just put: keep pointing at it. */
  dovarizaserver = getenv("DOVARIZASERVER");

  onconfig = getenv("ONCONFIG");
  if (!onconfig) {
    hasyslog(LOG_NOTICE, "2530", "Environment variable ONCONFIG not set");
    return 0;
  }

  const char *owner = getenv("DOVARIZAOWNER");
  if (!owner) {
    dovariza_owner = getuid();
  } else if (!parse_user_id(owner, &dovariza_owner)) {
    hasyslog(LOG_NOTICE, "2550",
             "Environment variable DOVARIZAOWNER is not a numeric user id: '%s'", owner);
    return 0;
  }
  return 1;
}
