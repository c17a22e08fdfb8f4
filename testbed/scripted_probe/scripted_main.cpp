/*
** The scripted probe's globals and start-up check (db_main), standing in
** for the Dovariza probe in the monitor's test build. It checks the same
** environment in the same order as the real probe, so that the monitor's
** start-up can be exercised end to end. The probe operations live in
** scripted_ops.cpp.
*/
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <syslog.h>
#include <unistd.h>

#include "probe_interface.h"

extern "C" {
const char *dbms_service = "dovariza";
const char *dbms_usage = "";
int dbms_session_id = 0;
}

/* DOVARIZAOWNER as read by db_main: the user the probe child switches to. */
uid_t scripted_owner_uid = 0;

namespace {

struct required_variable {
  const char *name;
  const char *id;
  const char *message;
};

constexpr required_variable required_variables[] = {
    {"DB_LOGIN", "2510", "Environment variable DB_LOGIN not set"},
    {"DOVARIZASERVER", "2520", "Environment variable DOVARIZASERVER not set"},
    {"ONCONFIG", "2530", "Environment variable ONCONFIG not set"},
};

}  // namespace

extern "C" int db_main(const char *program, const char *instance, int extra_count, char **extra) {
  (void)instance;
  (void)extra;
  if (extra_count > 0) usage(program, "too many parameters");

  const char *values[3] = {};
  for (size_t i = 0; i < 3; ++i) {
    values[i] = getenv(required_variables[i].name);
    if (!values[i]) {
      hasyslog(LOG_NOTICE, required_variables[i].id, "%s", required_variables[i].message);
      return 0;
    }
  }

  /* putenv keeps the pointer: the text lives as long as the process. */
  const char *server = values[1];
  size_t size = strlen("DOVARIZASERVER=") + strlen(server) + 1;
  if (char *text = static_cast<char *>(malloc(size))) {
    snprintf(text, size, "DOVARIZASERVER=%s", server);
    putenv(text);
  }

  const char *owner = getenv("DOVARIZAOWNER");
  scripted_owner_uid = owner ? static_cast<uid_t>(atoi(owner)) : getuid();
  return 1;
}
