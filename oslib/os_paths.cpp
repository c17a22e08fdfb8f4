/*
** Paths and files: building and splitting path names, the home directory,
** readability, the node-independent helpers of the file services and
** temporary names. The environment services build rc-file paths and find
** the home directory here; the catalog reader tests readability. Results
** are new strings that the caller frees; failures are NULL (or -1) with
** the reason in gerrno (os_env.h).
*/
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "os_conv.h"
#include "os_env.h"
#include "os_seams.h"
#include "os_text_copy.h"
#include "os_wrappers.h"

namespace {

constexpr int gerr_no_memory = -2;
constexpr int gerr_nothing_left = -3;
constexpr int gerr_empty_path = -4;
constexpr int gerr_empty_name = -6;
constexpr int gerr_no_name = -7;

/* The home directory's room: 64 characters and the NUL. */
constexpr size_t home_size = 65;
constexpr int file_table_size = 20;

constexpr std::string_view temp_pattern = "NNNXXXXX";
constexpr size_t counter_letters = 3;
constexpr int counter_values = 26 * 26 * 26;
constexpr int pid_modulus = 100000;

/* A new NUL-terminated copy of the concatenated parts; NULL with gerrno -2. */
char *join(std::initializer_list<std::string_view> parts) {
  size_t n = 1;
  for (std::string_view p : parts)
    n += p.size();
  char *s = static_cast<char *>(malloc(n));
  if (s == nullptr) {
    gerrno = gerr_no_memory;
    return nullptr;
  }
  char *at = s;
  for (std::string_view p : parts) {
    memcpy(at, p.data(), p.size());
    at += p.size();
  }
  *at = '\0';
  return s;
}

std::string_view text_or_empty(const char *s) { return s == nullptr ? "" : s; }

/* gerrno for a required name argument: -7 NULL, -6 empty; true when it is
** usable. */
bool name_given(const char *name) {
  if (name == nullptr) {
    gerrno = gerr_no_name;
    return false;
  }
  if (*name == '\0') {
    gerrno = gerr_empty_name;
    return false;
  }
  return true;
}

/* The passwd entry of the login name, else of the real user. */
const struct passwd *current_user() {
  const char *login = dvz_getlogin();
  const struct passwd *p = login != nullptr ? dvz_getpwnam(login) : nullptr;
  return p != nullptr ? p : dvz_getpwuid(getuid());
}

}  // namespace

extern "C" {

char numpat[4] = "aaa";

char *gbldpath(const char *directory, const char *name, const char *extension) {
  std::string_view dir = text_or_empty(directory);
  std::string_view base = text_or_empty(name);
  std::string_view ext = text_or_empty(extension);
  if (dir.empty() && base.empty() && ext.empty()) {
    gerrno = gerr_empty_path;
    return nullptr;
  }
  return join({dir, dir.empty() ? "" : "/", base, ext});
}

/* The home seam answers first (tests give each process a home of its own);
** $HOME is never read. */
char *ggethomepath(void) {
  const char *home = os_host->home();
  if (home == nullptr) {
    const struct passwd *p = current_user();
    if (p == nullptr || p->pw_dir == nullptr) {
      gerrno = gerr_nothing_left;
      return nullptr;
    }
    home = p->pw_dir;
  }
  char *s = static_cast<char *>(malloc(home_size));
  if (s == nullptr) {
    gerrno = gerr_no_memory;
    return nullptr;
  }
  oslib_text::copy_cut(s, home_size, home);
  return s;
}

int _ofreadable(const char *name) { return name != nullptr && gcvaccess(name, R_OK) == 0 ? 1 : 0; }

int _osftabsize(void) { return file_table_size; }

char *dvz_strtok(char *string, const char *delimiters) { return strtok(string, delimiters); }

int grmfile(const char *name) {
  if (!name_given(name)) return -1;
  if (unlink(name) != 0) {
    gerrno = errno;
    return -1;
  }
  return 0;
}

int grenfile(const char *old_name, const char *new_name) {
  if (!name_given(old_name) || !name_given(new_name)) return -1;
  if (link(old_name, new_name) != 0) {
    gerrno = errno;
    return -1;
  }
  if (unlink(old_name) != 0) {
    int err = errno;
    unlink(new_name);
    gerrno = err;
    return -1;
  }
  return 0;
}

char *gcatfpath(const char *directory, const char *name) {
  if (!name_given(directory) || !name_given(name)) return nullptr;
  return join({directory, "/", name});
}

char *gcatspath(const char *a, const char *b) {
  if (!name_given(a) || !name_given(b)) return nullptr;
  return join({a, ":", b});
}

char *ggetpelm(const char **list) {
  if (list == nullptr) {
    gerrno = gerr_no_name;
    return nullptr;
  }
  if (!name_given(*list)) return nullptr;
  const char *start = *list;
  const char *colon = strchr(start, ':');
  size_t n = colon != nullptr ? static_cast<size_t>(colon - start) : strlen(start);
  char *element = join({std::string_view(start, n)});
  if (element != nullptr) *list = colon != nullptr ? colon + 1 : start + n;
  return element;
}

char *gbasename(const char *path, const char *suffix) {
  if (path == nullptr) {
    gerrno = gerr_no_name;
    return nullptr;
  }
  const char *slash = strrchr(path, '/');
  std::string_view base = slash != nullptr ? slash + 1 : path;
  std::string_view end = text_or_empty(suffix);
  if (!end.empty() && base.ends_with(end)) base.remove_suffix(end.size());
  if (base.empty()) {
    gerrno = gerr_nothing_left;
    return nullptr;
  }
  return join({base});
}

char *gpathname(const char *path) {
  if (path == nullptr) {
    gerrno = gerr_no_name;
    return nullptr;
  }
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) {
    gerrno = gerr_nothing_left;
    return nullptr;
  }
  if (slash == path) return join({"/"});
  return join({std::string_view(path, static_cast<size_t>(slash - path))});
}

void incpat(char *pattern) {
  for (size_t i = counter_letters; i-- > 0;) {
    if (pattern[i] < 'z') {
      ++pattern[i];
      return;
    }
    pattern[i] = 'a';
  }
}

/* Each name takes the counter's current value and advances it, so that
** names of one process differ even when no file is created between calls.
** When every counter value names an existing file the result is NULL with
** gerrno EEXIST. */
char *gmktemp(char *template_name) {
  char *at = template_name != nullptr ? strstr(template_name, temp_pattern.data()) : nullptr;
  if (at == nullptr) {
    gerrno = gerr_empty_path;
    return nullptr;
  }
  char pid_digits[8];
  snprintf(pid_digits, sizeof pid_digits, "%05d", static_cast<int>(getpid() % pid_modulus));
  memcpy(at + counter_letters, pid_digits, temp_pattern.size() - counter_letters);
  for (int tries = 0; tries < counter_values; ++tries) {
    memcpy(at, numpat, counter_letters);
    incpat(numpat);
    if (access(template_name, F_OK) != 0) return template_name;
  }
  gerrno = EEXIST;
  return nullptr;
}

}  // extern "C"
