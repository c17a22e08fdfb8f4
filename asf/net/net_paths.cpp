/*
** The directory of the local transports' rendezvous files, with the
** override the tests use to keep every run in its own directory.
*/
#include "net_paths.h"

namespace {
const char *override_dir = nullptr;
}

extern "C" const char *asf_tmpdir(void) {
  return override_dir != nullptr ? override_dir : ASF_TMPDIR;
}

void asf_tmpdir_override(const char *dir) { override_dir = dir; }
