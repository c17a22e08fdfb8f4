/*
** What the runtime's context, status and diagnostics tests share: a
** runtime put back to the state of a process that never ran an operation,
** the message directory of the process's own DOVARIZADIR tree with the
** build's catalogs and SQLSTATE maps copied in, hand-made map files in
** the wire tables' layout, and a memory table whose N-th allocation
** fails.
*/
#ifndef DVZ_TESTS_SQLI_RUNTIME_FIXTURE_H
#define DVZ_TESTS_SQLI_RUNTIME_FIXTURE_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dvz_be.h"
#include "isolation.h"
#include "os_messages.h"
#include "sqli_context.h"
#include "sqli_diag_internal.h"
#include "sqli_seams.h"
#include "temp_dir.h"

namespace sqli_test {

/* The message directory of this process's tree, and of the build's. */
inline std::string message_dir() { return oslib_test::isolated_dovarizadir() + "/msg/en_us/0333"; }
inline std::string build_message_dir() {
  return std::string(DVZ_BUILD_DOVARIZADIR) + "/msg/en_us/0333";
}

/* Writes bytes as leaf in the message directory. */
inline void put_message_file(const std::string &leaf, const std::string &bytes) {
  std::filesystem::create_directories(message_dir());
  dvz_test::write_file(message_dir() + "/" + leaf, bytes);
}
/* Removes leaf from the message directory. */
inline void remove_message_file(const std::string &leaf) {
  unlink((message_dir() + "/" + leaf).c_str());
}
/* Copies leaf from the build's message directory into this process's. */
inline void copy_build_file(const std::string &leaf) {
  const std::string bytes = dvz_test::read_file(build_message_dir() + "/" + leaf);
  ASSERT_FALSE(bytes.empty()) << leaf;
  put_message_file(leaf, bytes);
}

/* One record of an SQLSTATE map. */
struct map_row {
  int32_t code;
  int32_t msgnum;
  const char *state;
};

/* The bytes of an SQLSTATE map of rows, in the order given: "itox00", the
** count (rows.size() unless count says otherwise), 13-byte records. */
inline std::string map_bytes(const std::vector<map_row> &rows,
                             std::optional<int32_t> count = std::nullopt) {
  std::string out = "itox00";
  char word[4];
  dvz_st_be_i32(count.value_or(static_cast<int32_t>(rows.size())), word);
  out.append(word, 4);
  for (const map_row &r : rows) {
    dvz_st_be_i32(r.code, word);
    out.append(word, 4);
    dvz_st_be_i32(r.msgnum, word);
    out.append(word, 4);
    out.append(r.state, 5);
  }
  return out;
}

/* The bytes of a DBAPICODE file: "crtc00", the database-to-host map, the
** host-to-database map. */
inline std::string dbapi_bytes(const unsigned char *to_host, const unsigned char *to_db) {
  std::string out = "crtc00";
  out.append(reinterpret_cast<const char *>(to_host), 256);
  out.append(reinterpret_cast<const char *>(to_db), 256);
  return out;
}

/* Frees the context and the loaded maps, and clears the process-wide
** status, as in a process that never ran an operation. */
inline void reset_runtime() {
  if (sqlitcb != nullptr) {
    sqli_release(sqlitcb->diag);
    sqli_release(sqlitcb->scratch);
    sqli_release(sqlitcb->blob_buffer);
    sqli_release(sqlitcb->blob_convbuf);
    sqli_release(sqlitcb);
    sqlitcb = nullptr;
  }
  freextbl();
  sqli_resetMessageFile("c");
  ldtbl = 0;
  std::memset(usrconvarr, 0, sizeof usrconvarr);
  std::memset(dbconvarr, 0, sizeof dbconvarr);
  std::memset(&sqlca, 0, sizeof sqlca);
  SQLCODE = 0;
  std::memset(SQLSTATE, 0, sizeof SQLSTATE);
  rclosemsg();
}

/* A fixture with a fresh runtime and the build's catalogs and SQLSTATE map
** in the message directory. */
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *leaf : {"csql.iem", "crds.iem", "csqli.iem", "cutil.iem", "cxopen.iem",
                             "citoxmsg.pam", "itoxmsg.pam"})
      copy_build_file(leaf);
    unsetenv("DBAPICODE");
    reset_runtime();
  }
  void TearDown() override { reset_runtime(); }

  /* The context after a first clear, as an operation starts. */
  sqli_tcb *start() {
    sqli_tcb *tcb = CheckGlobInit();
    if (tcb != nullptr) _sqclrca(tcb);
    return tcb;
  }
};

/* A RuntimeTest whose context is started (start()) before each test. */
class StartedRuntimeTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    tcb = start();
    ASSERT_NE(tcb, nullptr);
  }

  sqli_tcb *tcb = nullptr;
};

/* A memory table that fails the N-th allocation or growth (1-based; 0 for
** none), installed for the life of the object. */
class FailingMemory {
 public:
  explicit FailingMemory(int fail_at) : previous_(sqli_memory) {
    state().calls = 0;
    state().fail_at = fail_at;
    sqli_memory = &table;
  }
  ~FailingMemory() { sqli_memory = previous_; }
  FailingMemory(const FailingMemory &) = delete;
  FailingMemory &operator=(const FailingMemory &) = delete;

 private:
  struct counters {
    int calls;
    int fail_at;
  };
  static counters &state() {
    static counters c;
    return c;
  }
  static bool fails() { return ++state().calls == state().fail_at; }
  static void *alloc(size_t size) { return fails() ? nullptr : sqli_system_memory.alloc(size); }
  static void *grow(void *block, size_t size) {
    return fails() ? nullptr : sqli_system_memory.grow(block, size);
  }
  static void release(void *block) { sqli_system_memory.release(block); }
  static constexpr sqli_memory_seam table = {alloc, grow, release};
  const sqli_memory_seam *previous_;
};

}  // namespace sqli_test

#endif
