/*
** Fuzz target: the runtime's two map loaders on hostile files. The first
** byte chooses the loader, the rest is the file: the SQLSTATE map
** (citoxmsg.pam), loaded and searched through the explicit look-up and
** through status recording, or the DBAPICODE character map, loaded and
** used for a translation. A loaded SQLSTATE map never holds more entries
** than the file has records, and a search finds only entries of the code
** it looks for.
*/
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_environment.h"
#include "sqli_context.h"
#include "sqli_diag_internal.h"

namespace {

void write_file(const std::string &leaf, const uint8_t *data, size_t size) {
  const std::string path = fuzz_environment::message_dir() + "/" + leaf;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) std::abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  close(fd);
}

void sqlstate_map(const uint8_t *data, size_t size) {
  write_file("citoxmsg.pam", data, size);
  freextbl();
  sqli_xtbl_entry *table = nullptr;
  int count = 0;
  if (ldxtbl(&table, &count) == 0) {
    if (size < 10 || static_cast<size_t>(count) > (size - 10) / 13) std::abort();
    for (int i = 0; i < count; ++i) {
      /* A file out of order may hide a code; what is found has it. */
      const int found = srchCODE(table[i].code, count, table);
      if (found >= count || (found >= 0 && table[found].code != table[i].code)) std::abort();
      char state[6];
      MapSqlstate(state, table[i].code, i % 2 == 0 ? "" : "01I06");
    }
  }
  /* The same file while a status is recorded. */
  freextbl();
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return;
  _sqclrca(tcb);
  _iqseterr(-206);
  _iqseterr(-937);
  if (SQLCODE != -937) std::abort();
}

void dbapi_map(const uint8_t *data, size_t size) {
  write_file("fuzz.map", data, size);
  ldtbl = 0;
  char out[5];
  const int rc = _sqDBtoVAR("abcd", out, 4);
  if (rc == 0 && (size < 518 || out[4] != '\0')) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  setenv("DBAPICODE", "fuzz.map", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    sqlstate_map(data + 1, size - 1);
  } else {
    dbapi_map(data + 1, size - 1);
  }
  return 0;
}
