/*
** The C library's locales compiled at test time (see peer_locales.h).
*/
#include "peer_locales.h"

#include <sys/wait.h>
#include <wchar.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>

/* newlocale keeps its LOCPATH list for good; not a leak of ours. */
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

namespace glstest {

namespace {

/* A directory name the C library takes as it stands: no "_", "." or "@"
** (which it would read as the parts of a locale name) and no alias of
** locale.alias. */
std::string directory_name(std::string_view source, std::string_view charmap) {
  std::string name = "glspeer-" + std::string(source) + "-" + std::string(charmap);
  for (char &c : name) {
    if (c == '_' || c == '.' || c == '@') c = '-';
  }
  return name;
}

}  // namespace

PeerLocales::~PeerLocales() {
  for (const auto &[name, loc] : locales_) {
    if (loc != nullptr) freelocale(loc);
  }
}

locale_t PeerLocales::get(std::string_view source, std::string_view charmap) {
  const std::string name = directory_name(source, charmap);
  if (auto it = locales_.find(name); it != locales_.end()) return it->second;
  const std::string cmd = "localedef -i '" + std::string(source) + "' -f '" + std::string(charmap) +
                          "' '" + dir_.file(name) + "' >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  /* Exit status 1 means warnings only (POSIX and SHIFT_JIS have some). */
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << cmd;
  const char *previous = std::getenv("LOCPATH");
  const std::string saved = previous != nullptr ? previous : "";
  setenv("LOCPATH", dir_.path().c_str(), 1);
  locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), nullptr);
  if (previous != nullptr) {
    setenv("LOCPATH", saved.c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  EXPECT_NE(loc, nullptr) << cmd;
  locales_.emplace(name, loc);
  return loc;
}

locale_t peer_locale(std::string_view source, std::string_view charmap) {
  static PeerLocales peers;
  return peers.get(source, charmap);
}

PeerChar peer_decode(locale_t loc, const unsigned char *s, std::size_t n) {
  locale_t previous = uselocale(loc);
  std::mbstate_t state {};
  wchar_t wc = 0;
  const std::size_t rc = mbrtowc(&wc, reinterpret_cast<const char *>(s), n, &state);
  uselocale(previous);
  PeerChar c;
  if (rc == static_cast<std::size_t>(-1)) return c;
  if (rc == static_cast<std::size_t>(-2)) {
    c.length = -2;
    return c;
  }
  c.length = static_cast<int>(rc);
  c.ucs = static_cast<uint32_t>(wc);
  return c;
}

int peer_encode(locale_t loc, uint32_t ucs, unsigned char *out) {
  locale_t previous = uselocale(loc);
  std::mbstate_t state {};
  char bytes[MB_LEN_MAX];
  const std::size_t rc = wcrtomb(bytes, static_cast<wchar_t>(ucs), &state);
  uselocale(previous);
  if (rc == static_cast<std::size_t>(-1) || rc > 8) return -1;
  std::memcpy(out, bytes, rc);
  return static_cast<int>(rc);
}

}  // namespace glstest
