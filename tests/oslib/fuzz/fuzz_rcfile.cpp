/*
** Fuzz target: the rc-file reader. The input is a whole rc file, read with
** ldcffile onto a variable table freshly built from the defaults (the fuzz
** tree has no installation rc file, the home seam gives an empty home).
** The result, the line count and the table's value of every known variable
** agree with a reading of the format written here from its description: a
** line starts at every byte after a newline; '#' at a line start makes a
** comment, an empty line is skipped; any other line (up to its first NUL
** byte, as the reader's text ends there) is a name up to the first blank
** and the value after the blanks that follow it; a last line without a
** newline counts; the NLS names are taken only with a value, unknown names
** are skipped; the last line of a name wins; the result is -4 when the
** last variable line names an unknown variable, else 0. The table is
** released after each input.
*/
#include <sys/stat.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "env_internal.h"
#include "fuzz_environment.h"
#include "os_context.h"
#include "os_env.h"
#include "os_seams.h"

namespace {

constexpr size_t max_input = 8192;

std::string rc_path;
std::string home_dir;

const char *fuzz_home(void) { return home_dir.c_str(); }
const os_host_seam fuzz_host = {uname, fuzz_home};

[[noreturn]] void fail(const char *what, const std::string &name, int value) {
  std::fprintf(stderr, "fuzz_rcfile: %s (%s, %d)\n", what, name.c_str(), value);
  std::abort();
}

bool blank(char c) { return (_ixctype[static_cast<unsigned char>(c) + 1] & os_ct_space) != 0; }

bool nls_name(const std::string &name) {
  for (const char *n :
       {"LANG", "LC_COLLATE", "LC_CTYPE", "LC_MONETARY", "LC_NUMERIC", "LC_TIME", "DBNLS"})
    if (name == n) return true;
  return false;
}

bool known(const std::string &name) { return gdefenv(name.c_str(), nullptr) == 0; }

/* The file as the format describes it. */
struct reading {
  int lines = 0;
  int result = 0;
  std::map<std::string, std::string> values; /* last value of each known name */
};

reading read_format(std::string_view file) {
  reading r;
  bool last_unknown = false;
  size_t at = 0;
  while (at < file.size()) {
    ++r.lines;
    size_t end = file.find('\n', at);
    if (end == std::string_view::npos) end = file.size();
    std::string_view line = file.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    line = line.substr(0, line.find('\0'));
    size_t name_end = 0;
    while (name_end < line.size() && !blank(line[name_end]))
      ++name_end;
    size_t value_at = name_end;
    while (value_at < line.size() && blank(line[value_at]))
      ++value_at;
    const std::string name(line.substr(0, name_end));
    const std::string value(line.substr(value_at));
    last_unknown = !known(name);
    if (last_unknown || (nls_name(name) && value.empty())) continue;
    r.values[name] = value;
  }
  r.result = last_unknown ? -4 : 0;
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string scratch = fuzz_environment::init();
  rc_path = scratch + "/input.rc";
  home_dir = scratch + "/home";
  if (mkdir(home_dir.c_str(), 0700) != 0) fail("mkdir", home_dir, errno);
  os_host = &fuzz_host;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  fuzz_environment::write_file(rc_path, data, size);
  gFreeEVars();
  if (int rc = greadenv(); rc != 0) fail("greadenv", "", rc);

  int lines = -1;
  int flags = 0;
  const int result = ldcffile(rc_path.c_str(), nullptr, &lines, &flags);
  const reading expected =
      read_format(std::string_view(reinterpret_cast<const char *>(data), size));
  if (result != expected.result) fail("result", "", result);
  if (lines != expected.lines) fail("line count", "", lines);
  for (const auto &[name, value] : expected.values) {
    const char *stored = dvz_env::table_value(name.c_str());
    if (stored == nullptr || value != stored) fail("value", name, 0);
  }
  gFreeEVars();
  return 0;
}
