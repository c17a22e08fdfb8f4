/*
** gls_gen - writes the data files the locale library ships (the tree that
** installs as $DOVARIZADIR/gls: cm3/ the code-set registry, lc11/ locale
** files, cv9/ conversion files).
**
** Usage: gls_gen <gls directory>. Run by the build target regen-gls-data
** on glslib/data/gls; its output is committed. Every file is written from
** the library's own tables (through the library's writer where it has one),
** to a temporary name that replaces the file only when complete, and then
** read back through the library's reader; the same input always gives the
** same bytes. Exit status 0, or 1 with a message on standard error.
** Calls the library's built-in registry and reads the written registry
** back through the library's registry cache.
*/
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "glslib.h"

namespace {

namespace fs = std::filesystem;

/* Names the shipped registry adds to the built-in table. */
struct Alias {
  const char *name;
  int number;
};
constexpr Alias registry_aliases[] = {
    {"utf-8", 57372},
    {"iso-8859-1", 819},
    {"ccsid933", 933},
};

constexpr const char registry_header[] =
    "# Code-set registry of the locale library.\n"
    "#\n"
    "# One entry per line: a code-set name (1 to 21 letters, digits or\n"
    "# punctuation; case does not matter) and its code-set number in decimal.\n"
    "# The first entry with a name wins. Written by gls_gen from the\n"
    "# library's built-in table: change the generator, not this file.\n";

/* An error word to hand the library as its record. */
struct ErrorWord {
  int err = 0;
  gl_locale *record() { return reinterpret_cast<gl_locale *>(&err); }
};

bool write_registry(FILE *fp) {
  bool ok = std::fputs(registry_header, fp) >= 0;
  ok = ok && std::fputs("\n# The built-in table, in its order.\n", fp) >= 0;
  for (const gl_registry_row *r = gls_canned_registry; ok && r->name != nullptr; ++r) {
    ok = std::fprintf(fp, "%-21s %d\n", r->name, r->number) > 0;
  }
  ok = ok && std::fputs("\n# Further names.\n", fp) >= 0;
  for (const Alias &a : registry_aliases) {
    ok = ok && std::fprintf(fp, "%-21s %d\n", a.name, a.number) > 0;
  }
  return ok;
}

/* The written registry, cached by the library, must give every name its
** number. */
bool check_registry(const fs::path &path) {
  ErrorWord word;
  gl_free_registry_cache();
  gl_cache_registry(word.record(), path.c_str());
  bool ok = word.err == 0 && gls_registry_list_cache != nullptr;
  for (const gl_registry_row *r = gls_canned_registry; ok && r->name != nullptr; ++r) {
    ok = gl_cs_name2cs_num(word.record(), r->name, nullptr) == r->number;
  }
  for (const Alias &a : registry_aliases) {
    ok = ok && gl_cs_name2cs_num(word.record(), a.name, nullptr) == a.number;
  }
  gl_free_registry_cache();
  if (!ok)
    std::fprintf(stderr, "gls_gen: %s does not read back (error %d)\n", path.c_str(), word.err);
  return ok;
}

struct GeneratedFile {
  const char *path; /* relative to the gls directory */
  bool (*write)(FILE *fp);
  bool (*check)(const fs::path &path);
};

constexpr GeneratedFile generated_files[] = {
    {"cm3/registry", write_registry, check_registry},
};

bool generate(const fs::path &root, const GeneratedFile &file) {
  fs::path target = root / file.path;
  fs::path temporary = target;
  temporary += ".tmp";
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    std::fprintf(stderr, "gls_gen: %s: %s\n", target.parent_path().c_str(), ec.message().c_str());
    return false;
  }
  FILE *fp = std::fopen(temporary.c_str(), "w");
  if (fp == nullptr) {
    std::fprintf(stderr, "gls_gen: %s: %s\n", temporary.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = file.write(fp);
  ok = std::fclose(fp) == 0 && ok;
  if (ok) ok = file.check(temporary);
  if (ok) {
    fs::rename(temporary, target, ec);
    ok = !ec;
    if (ec) std::fprintf(stderr, "gls_gen: %s: %s\n", target.c_str(), ec.message().c_str());
  } else {
    std::fprintf(stderr, "gls_gen: could not write %s\n", target.c_str());
  }
  if (!ok) fs::remove(temporary, ec);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: gls_gen <gls directory>\n");
    return 1;
  }
  fs::path root = argv[1];
  for (const GeneratedFile &file : generated_files) {
    if (!generate(root, file)) return 1;
  }
  return 0;
}
