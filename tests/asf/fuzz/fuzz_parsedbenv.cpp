/*
** Fuzz target: database environments split into server and database. The
** input is the text, in a heap block of exactly its length and a NUL; the
** outputs are heap blocks of exactly their documented sizes, so a write or
** read past any of them is a sanitizer report. A success gives terminated
** names within their limits, and a text without "@" or "//" comes back
** whole as the database; a failure is one of the splitter's statuses. The
** client locale (the source tree's locale data) is loaded once, so the
** at-sign search runs as in a client.
*/
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "asf_ns.h"
#include "fuzz_environment.h"
#include "os_glsenv.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_parsedbenv: %s (%d)\n", what, value);
  std::abort();
}

/* Inputs beyond the longest names add nothing. */
constexpr size_t max_input = 1024;

void check_names(const char *server, const char *db) {
  if (strnlen(server, NS_SERVER_SIZE) >= NS_SERVER_SIZE) fail("server not terminated", 0);
  if (strnlen(db, NS_DBNAME_SIZE) >= NS_DBNAME_SIZE) fail("database not terminated", 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  /* The locale data of the source tree, so that the locale initialises. */
  std::string here = __FILE__;
  std::string gls = here.substr(0, here.rfind('/')) + "/../../../glslib/data/gls";
  std::string link = std::string(std::getenv("DOVARIZADIR")) + "/gls";
  if (symlink(gls.c_str(), link.c_str()) != 0 || chkglsinit() != 0) fail("locale data", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size > 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';
  std::unique_ptr<char[]> server(new char[NS_SERVER_SIZE]);
  std::unique_ptr<char[]> db(new char[NS_DBNAME_SIZE]);

  int rc = parseDbenv(text.get(), server.get(), db.get());
  if (rc != 0 && rc != NS_ERR_DBNAME && rc != NS_ERR_SLASHSVR) fail("parseDbenv status", rc);
  if (rc == 0) {
    check_names(server.get(), db.get());
    bool plain = std::strchr(text.get(), '@') == nullptr && std::strncmp(text.get(), "//", 2) != 0;
    if (plain && (server[0] != '\0' || std::strcmp(db.get(), text.get()) != 0))
      fail("a plain path changed", 0);
  }

  rc = parseSlashDbenv(text.get(), server.get(), db.get());
  if (rc != 0 && rc != NS_ERR_DBNAME && rc != NS_ERR_SLASHSVR) fail("parseSlashDbenv status", rc);
  if (rc == 0) {
    check_names(server.get(), db.get());
    if (server[0] != '\0' && std::strchr(server.get(), '/') != nullptr) fail("slash in server", 0);
  }
  return 0;
}
