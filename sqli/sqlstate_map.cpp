/*
** sqlstate_map.cpp: the SQLSTATE of a status code, from the SQLSTATE map
** file the map compiler (sqli/gen) writes into the message directory:
** "citoxmsg.pam" for the client, "itoxmsg.pam" after
** sqli_resetMessageFile("s").
**
** File (big-endian): the magic "itox00", an i32 record count, then
** 13-byte records {i32 code, i32 message number of the state's standard
** text or 0, 5-byte SQLSTATE} in descending order of code. The file is
** read whole and every count is checked against the bytes really there:
** a count that the file cannot hold refuses the file.
*/
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "dvz_be.h"
#include "os_gentcb.h"
#include "os_messages.h"
#include "os_stored.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_seams.h"

const char *txtblname = "citoxmsg.pam";

namespace {

constexpr char client_map[] = "citoxmsg.pam";
constexpr char server_map[] = "itoxmsg.pam";
constexpr char map_magic[] = "itox00";
constexpr size_t header_size = 10;
constexpr size_t record_size = 13;

/* The loaded map: entries in the file's order, and whether it is loaded. */
sqli_xtbl_entry *xtbl = nullptr;
int xtbl_count = 0;
bool xtbl_loaded = false;

/* Warning states and the message numbers of their standard texts, in the
** order they are compared. */
struct warn_row {
  const char *state;
  int msgnum;
};
constexpr warn_row warn_rows[] = {
    {"01000", 36001}, {"01I01", 36106}, {"01004", 36004}, {"01003", 36003}, {"01I03", 36108},
    {"01I09", 36114}, {"01I04", 36109}, {"01I07", 36111}, {"01I06", 36112}, {"01I05", 36110},
    {"01I08", 36113}, {"01006", 36006}, {"01007", 36117},
};

/* Closes the descriptor it holds when it goes. */
struct fd_guard {
  int fd;
  ~fd_guard() {
    if (fd >= 0) dvz_close(fd);
  }
};

/* Reads the whole file on fd into bytes; false on a read error. */
bool read_whole(int fd, std::vector<unsigned char> &bytes) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 0) return false;
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t r = dvz_read(fd, bytes.data() + got, bytes.size() - got);
    if (r < 0) return false;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  bytes.resize(got);
  return true;
}

/* Loads the map into the statics unless it is loaded. Returns 0, or the
** error that refused it (nothing recorded): -1829 / -461 when the file is
** missing or cannot be read, -498 when it is no map or its count exceeds
** its records, -406 when memory is short. */
int load_map() {
  if (xtbl_loaded) return 0;
  const bool client = std::strcmp(txtblname, client_map) == 0;
  const int missing = client ? SQLI_E_NOSTATEMAP : SQLI_E_NOFILE;
  const char *path = CheckGenInit() != nullptr ? rmsgfname(txtblname) : nullptr;
  if (path == nullptr || path[0] == '\0') return missing;
  fd_guard file {dvz_open(path, O_RDONLY)};
  if (file.fd < 0) return missing;
  std::vector<unsigned char> bytes;
  if (!read_whole(file.fd, bytes)) return missing;
  if (bytes.size() < header_size || std::memcmp(bytes.data(), map_magic, 6) != 0)
    return SQLI_E_MAPMAGIC;
  const int32_t count = dvz_ld_be_i32(bytes.data() + 6);
  if (count < 0 || static_cast<size_t>(count) > (bytes.size() - header_size) / record_size)
    return SQLI_E_MAPMAGIC;
  auto *table = static_cast<sqli_xtbl_entry *>(
      sqli_alloc(sizeof(sqli_xtbl_entry) * static_cast<size_t>(count > 0 ? count : 1)));
  if (table == nullptr) return SQLI_E_NOMEM;
  const unsigned char *p = bytes.data() + header_size;
  for (int i = 0; i < count; ++i, p += record_size) {
    table[i].code = dvz_ld_be_i32(p);
    table[i].msgnum = dvz_ld_be_i32(p + 4);
    std::memcpy(table[i].state, p + 8, 5);
    table[i].state[5] = '\0';
  }
  xtbl = table;
  xtbl_count = count;
  xtbl_loaded = true;
  return 0;
}

/* The state and message number of code in the loaded map (see
** MapSqlstate). */
int lookup(char *state, int code, const char *hint) {
  const int i = srchCODE(code, xtbl_count, xtbl);
  if (i >= 0 && code != 0) {
    std::memcpy(state, xtbl[i].state, SQLI_SQLSTATE_SIZE);
    return xtbl[i].msgnum;
  }
  if (i >= 0) {
    if (hint == nullptr || hint[0] == '\0') {
      std::memcpy(state, xtbl[i].state, SQLI_SQLSTATE_SIZE);
      return xtbl[i].msgnum;
    }
    /* A warning recorded before stays the state. */
    const size_t n = strnlen(hint, SQLI_SQLSTATE_SIZE - 1);
    std::memcpy(state, hint, n);
    state[n] = '\0';
    return srchWARN(state);
  }
  /* A routine's own error waits for the state the routine sends. */
  std::strcpy(state, code == SQLI_E_ROUTINE ? "*****" : "IX000");
  return 0;
}

}  // namespace

int ldxtbl(sqli_xtbl_entry **table, int *count) {
  const int rc = load_map();
  if (rc != 0) {
    _sqdiagerr(rc, sqlitcb);
    return -1;
  }
  if (table != nullptr) *table = xtbl;
  if (count != nullptr) *count = xtbl_count;
  return 0;
}

void freextbl(void) {
  sqli_release(xtbl);
  xtbl = nullptr;
  xtbl_count = 0;
  xtbl_loaded = false;
}

int srchCODE(int code, int count, const sqli_xtbl_entry *table) {
  int low = 0;
  int high = count - 1;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    if (table[mid].code == code) return mid;
    /* Descending order: a smaller entry means code lies before it. */
    if (table[mid].code < code) {
      high = mid - 1;
    } else {
      low = mid + 1;
    }
  }
  return -1;
}

int srchWARN(const char *state) {
  for (const warn_row &row : warn_rows)
    if (std::strcmp(state, row.state) == 0) return row.msgnum;
  return 0;
}

int MapSqlstate(char *state, int code, const char *hint) {
  if (ldxtbl(nullptr, nullptr) != 0) return -1;
  return lookup(state, code, hint);
}

int _sqsetsqlstate(sqli_tcb *tcb) {
  /* Only a warning recorded before is a hint: the first record may
  ** still hold an earlier error's state when 0 is stored after it. */
  const sqli_diag_area *diag = tcb->diag;
  const char *first = diag != nullptr && diag->count > 0 ? diag->recs[0].sqlstate : "";
  const char *hint = first[0] == '0' && first[1] == '1' ? first : "";
  /* While a status is being recorded a missing map keeps that status:
  ** only the state says the map failed, and the next change retries. */
  if (load_map() != 0) {
    std::strcpy(tcb->sqlstate, "IX001");
    return -1;
  }
  lookup(tcb->sqlstate, *tcb->sqlcode, hint);
  return 0;
}

int sqli_resetMessageFile(const char *kind) {
  if (kind == nullptr) return -1;
  const std::string_view k(kind);
  const char *leaf = k == "s" ? server_map : k == "c" ? client_map : nullptr;
  if (leaf == nullptr) return -1;
  if (std::strcmp(txtblname, leaf) != 0) {
    txtblname = leaf;
    freextbl();
  }
  return 0;
}
