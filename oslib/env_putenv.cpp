/*
** Putting variables into the process environment, and releasing the
** environment table (os_env.h).
**
** Values go in with setenv, which copies them: the process environment
** never points into memory of ours. The put-list only records what was
** put (name=value texts, newest first); gFreeEVars frees the list and the
** table, while the variables themselves stay set.
*/
#include <cstdlib>
#include <cstring>

#include "env_internal.h"
#include "os_env.h"

namespace {

/* One text put into the environment: "name=value", in the same allocation. */
struct put_node {
  put_node *next;
  char text[];
};

/* The put-list, newest first. */
put_node *Dvz_FEPutEnvVals = nullptr;

}  // namespace

extern "C" {

int gfeputenv(const char *name, const char *value) {
  if (name == nullptr || *name == '\0' || strchr(name, '=') != nullptr) return -7;
  if (value == nullptr) value = "";
  size_t name_length = strlen(name);
  size_t value_length = strlen(value);
  auto *node = static_cast<put_node *>(malloc(sizeof(put_node) + name_length + value_length + 2));
  if (node == nullptr) return -2;
  memcpy(node->text, name, name_length);
  node->text[name_length] = '=';
  memcpy(node->text + name_length + 1, value, value_length + 1);
  if (setenv(name, value, 1) != 0) {
    free(node);
    return -2;
  }
  node->next = Dvz_FEPutEnvVals;
  Dvz_FEPutEnvVals = node;
  return 0;
}

int gputenv(const char *name, const char *value) { return gfeputenv(name, value); }

void gFreeEVars(void) {
  dvz_env::release_table();
  while (Dvz_FEPutEnvVals != nullptr) {
    put_node *next = Dvz_FEPutEnvVals->next;
    free(Dvz_FEPutEnvVals);
    Dvz_FEPutEnvVals = next;
  }
}

}  // extern "C"
