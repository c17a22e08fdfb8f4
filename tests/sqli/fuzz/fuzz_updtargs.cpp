/*
** Fuzz target: the row copy into host variables (`_iqupdtargs`) on a
** random description and random row bytes, for each host-type family
** (character, integer, floating, DECIMAL, opaque, collection, BYTE/TEXT).
**
** Input: byte 0 picks the family and the options (named descriptor,
** indicator required, blanks-are-not-NULL, LVARCHAR allocation mode); byte
** 1 the column count (1-8) and the database-to-client converter (none,
** 8859-1 to UTF-8, UTF-8 to 8859-1: the build's generated converters);
** then per column 5 bytes: SQL type, BE16 length
** word, host type (an index into the family's types), host length; the
** rest is the row. The row lies in a heap block of exactly its length and
** every host buffer is exactly what its host type promises the runtime,
** so a read or write past either is a sanitizer report. The cursor's row
** size is the row's length: the runtime must place every field inside it
** or give the protocol error.
*/
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "gl_conv.h"
#include "os_glsenv.h"
#include "sqli_context.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_statements.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_updtargs: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 8192;
constexpr int max_cols = 8;
constexpr int col_bytes = 5;

/* The host types of each family. */
const std::vector<int> families[] = {
    {100, 108, 109, 114, 0, 13, 15, 16},
    {101, 102, 103, 110, 117, 1, 2},
    {104, 105, 3, 4},
    {107, 111, 5, 8},
    {119, 120, 121, 122, 124, 100},
    {118, 123, 100},
    {113, 116, 100},
};
constexpr int nfamilies = sizeof families / sizeof families[0];

/* The converters an input may put in the environment, loaded once. */
gl_cv_desc *converters[3] = {nullptr, nullptr, nullptr};

/* The directory of the files a file host names, made once. */
std::string &scratch_dir() {
  static std::string dir;
  return dir;
}

/* One host variable and what it owns. */
struct Host {
  std::unique_ptr<char[]> data;
  dvz_hostbuf_t record {};
  dvz_coll_t coll {};
  int16_t ind = 0;
};

/* Bytes a host of type (low byte) and length needs, as its caller owes
** them: the length for character types (a length of 0 promises room for
** any value of the column: its length or a display text), else the type's
** size. */
size_t host_bytes(int type, int len, int collen) {
  switch (type) {
    case 100:
    case 108:
    case 109:
    case 114:
    case 119:
    case 120:
    case 0:
    case 13:
    case 15:
    case 16:
      return static_cast<size_t>(len > 0 ? len : std::max(collen, 128) + 2);
    case 122:
      return 1;
    default: {
      const int size = rtypmsize(type, len);
      return static_cast<size_t>(std::max(size, 16));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DB_LOCALE", "DBLANG", "DBNLS", "DBAPICODE", "CLIENT_LOCALE"})
    unsetenv(name);
  if (CheckGlobInit() == nullptr) fail("runtime context", 0);
  const char *tmp = std::getenv("TMPDIR");
  std::string dir =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/updtargs-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) fail("scratch directory", errno);
  scratch_dir() = dir;
  if (gl_cv_load(&converters[1], "en_US.utf8", "en_US.8859-1", nullptr, nullptr) != 1 ||
      gl_cv_load(&converters[2], "en_US.8859-1", "en_US.utf8", nullptr, nullptr) != 1)
    fail("converters", 0);
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->state == nullptr) fail("locale environment", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > max_input) return 0;
  sqli_tcb *tcb = sqlitcb;
  const int family = data[0] % nfamilies;
  const int options = ((data[0] & 0x10) != 0 ? 2 : 0) | ((data[0] & 0x20) != 0 ? 4 : 0);
  tcb->flags =
      static_cast<int16_t>((data[0] & 0x40) != 0 ? tcb->flags | sqli_flag_blanks_not_null
                                                 : tcb->flags & ~sqli_flag_blanks_not_null);
  tcb->lvar_alloc = (data[0] & 0x80) != 0 ? 1 : 0;
  const int ncols = 1 + data[1] % max_cols;
  new_gls_env *state = CheckGlsEnv()->state;
  gl_cv_desc *const saved = state->cv_db_client;
  state->cv_db_client = converters[((data[1] >> 3) & 3) % 3];
  size_t at = 2;
  if (size < at + static_cast<size_t>(ncols) * col_bytes) {
    state->cv_db_client = saved;
    return 0;
  }

  std::vector<dbfd> cols(static_cast<size_t>(ncols));
  std::vector<sqlvar_struct> vars(static_cast<size_t>(ncols));
  std::vector<Host> hosts(static_cast<size_t>(ncols));
  const std::vector<int> &types = families[family];
  for (int i = 0; i < ncols; ++i, at += col_bytes) {
    dbfd &c = cols[static_cast<size_t>(i)];
    c.type = static_cast<int16_t>(data[at] % 50);
    c.length = dvz_ld_be_u16(data + at + 1);
    const int host = types[data[at + 3] % types.size()];
    const int hostlen = data[at + 4];
    sqlvar_struct &v = vars[static_cast<size_t>(i)];
    Host &h = hosts[static_cast<size_t>(i)];
    /* A BYTE or TEXT value for a locator or file host comes beside the
    ** row, over a connection this target has not (fuzz_blob_chunks reads
    ** those): such a column is read as CHAR here. */
    if ((c.type == sql_type_byte || c.type == sql_type_text) && (host == 113 || host == 116))
      c.type = sql_type_char;
    v.sqltype = static_cast<int16_t>(host);
    v.sqllen = host == 107 || host == 111 || host == 5 || host == 8 ? c.length : hostlen;
    v.sqlind = (data[at + 4] & 1) != 0 ? &h.ind : nullptr;
    if (host == 121 || host == 124) {
      h.record.flags = (hostlen & 2) != 0 ? HOSTVAR_GROWABLE : 0;
      h.record.size = hostlen / 4;
      h.record.data = static_cast<char *>(std::malloc(static_cast<size_t>(h.record.size) + 1));
      v.sqldata = reinterpret_cast<char *>(&h.record);
    } else if (host == 118 || host == 123) {
      v.sqldata = reinterpret_cast<char *>(&h.coll);
    } else if (host == 116) {
      /* A file host names its file, given with its length or terminated:
      ** always one in the scratch directory, never a path of the input. */
      const std::string name = scratch_dir() + "/value";
      h.data.reset(new char[name.size() + 1]);
      std::memcpy(h.data.get(), name.c_str(), name.size() + 1);
      v.sqllen = (hostlen & 2) != 0 ? 0 : static_cast<int>(name.size());
      v.sqldata = h.data.get();
    } else {
      /* A named descriptor's buffers hold their length and a NUL. */
      const size_t n = host_bytes(host, v.sqllen, c.length) + ((options & 2) != 0 ? 1 : 0);
      h.data.reset(new char[n]);
      std::memset(h.data.get(), 'Z', n);
      v.sqldata = h.data.get();
    }
  }

  const size_t rowlen = std::min<size_t>(size - at, 32767);
  std::unique_ptr<char[]> row(new char[std::max<size_t>(rowlen, 1)]);
  std::memcpy(row.get(), data + at, rowlen);
  sqli_cursor cursor {};
  cursor.coldesc = cols.data();
  cursor.ncols = static_cast<int16_t>(ncols);
  cursor.buffer = cursor.bufpos = row.get();
  cursor.bufsize = static_cast<int32_t>(rowlen);
  cursor.rowsize = static_cast<int16_t>(rowlen);
  cursor.nbuffered = 1;
  tcb->curconn = nullptr;
  _sqclrca(tcb);
  const int code = _iqupdtargs(&cursor, ncols, vars.data(), options, tcb);
  if (code > 0) fail("positive code", code);

  for (int i = 0; i < ncols; ++i) {
    sqlvar_struct &v = vars[static_cast<size_t>(i)];
    Host &h = hosts[static_cast<size_t>(i)];
    const int host = v.sqltype & 0xFF;
    if (host == 121 || host == 124) std::free(h.record.data);
    if (host == 118 || host == 123) dvz_coll_free(&h.coll);
    if ((v.sqlflags & sqlvar_own_data) != 0) std::free(v.sqldata);
  }
  state->cv_db_client = saved;
  return 0;
}
