/*
** registry.cpp - the code-set registry: the built-in table, the reader of
** the registry file and its two process-wide caches.
**
** Callers: the locale-specification parsers (locale_spec.cpp), the locale loader,
** the conversion loader and the client's locale set-up. Calls: the data-file
** search and the memory wrappers of the host-service layer. The registry file
** itself is read with the platform's stdio, not through the host services.
**
** File syntax: white space separates tokens; "#" where a name may begin
** starts a comment to the end of the line; an entry is a name (1-21
** letters, digits or punctuation, stored in lower case), white space and a
** decimal number below 65536; the rest of the line is ignored and every
** entry line ends with a newline. The first entry with a name wins.
*/
#include "gl_registry.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "ascii.h"
#include "gl_host.h"
#include "spec_scan.h"

extern "C" {

/* Built-in registry, in table order (the first equal name wins). Its name
** for 933 is "csid933" and stays so; the shipped registry file adds
** "ccsid933". */
const gl_registry_row gls_canned_registry[] = {
    {"ebcdic", 37},
    {"ebcdic-us", 37},
    {"ascii", 364},
    {"unitedstates", 437},
    {"cp437", 437},
    {"greek", 737},
    {"8859-7", 813},
    {"latin-greek", 813},
    {"c", 819},
    {"posix", 819},
    {"8859-1", 819},
    {"latin-1", 819},
    {"korhstextsbcs", 833},
    {"ccsid833", 833},
    {"korhstdbcs", 834},
    {"ccsid834", 834},
    {"tchhstdbcs", 835},
    {"ccsid835", 835},
    {"schhstextsbcs", 836},
    {"ccsid836", 836},
    {"schhstdbcs", 837},
    {"ccsid837", 837},
    {"pc-latin-1", 850},
    {"pc-latin-2", 852},
    {"pc-data-hebrew", 856},
    {"pc-hebrew-saa", 856},
    {"pc-cyrillic", 866},
    {"cis-1", 866},
    {"pc866", 866},
    {"8859-2", 912},
    {"latin-2", 912},
    {"cyrillic-8bit", 915},
    {"8859-5", 915},
    {"latin-cyrillic", 915},
    {"8859-8", 916},
    {"latin-hebrew", 916},
    {"8859-9", 920},
    {"latin-5", 920},
    {"ccsid932", 932},
    {"sjis-s", 932},
    {"pc-sjis", 932},
    {"korhstmxexsbcs", 933},
    {"csid933", 933},
    {"schmxexsbcs", 935},
    {"ccsid935", 935},
    {"tchhstmxexsbcs", 937},
    {"ccsid937", 937},
    {"iso-7-german", 1011},
    {"646de", 1011},
    {"iso-7-danish", 1017},
    {"pc1046", 1046},
    {"arabic-pc", 1046},
    {"8859-6", 1089},
    {"latin-arabic", 1089},
    {"east-europe", 1250},
    {"cp1250", 1250},
    {"pc-slavic", 1251},
    {"cp1251", 1251},
    {"west-europe", 1252},
    {"cp1252", 1252},
    {"pc-greek", 1253},
    {"cp1253", 1253},
    {"pc-latin5", 1254},
    {"cp1254", 1254},
    {"pc-turkish", 1254},
    {"pc-hebrew", 1255},
    {"cp1255", 1255},
    {"pc-arabic", 1256},
    {"cp1256", 1256},
    {"eucjp", 5050},
    {"tchhstexsbcs", 28709},
    {"ccsid28709", 28709},
    {"8859-3", 57346},
    {"latin-3", 57346},
    {"8859-4", 57347},
    {"latin-4", 57347},
    {"unicode", 57349},
    {"sjis", 57350},
    {"shift-jis", 57350},
    {"ujis", 57351},
    {"big5", 57352},
    {"big-5", 57352},
    {"sbig5", 57353},
    {"shift-big-5", 57353},
    {"ccdc", 57354},
    {"cccii", 57355},
    {"ksc", 57356},
    {"ks5601", 57356},
    {"cp949", 57356},
    {"gb", 57357},
    {"gb2312-80", 57357},
    {"guobiao2312", 57357},
    {"chngcase", 57358},
    {"banga", 57359},
    {"shift1", 57360},
    {"rot13", 57361},
    {"swap0to9", 57362},
    {"pcwin", 57363},
    {"qacvtest", 57365},
    {"swap09-nl", 57366},
    {"qa-unix-client", 57367},
    {"qa-unix-server", 57368},
    {"qa-win-client", 57369},
    {"mik", 57370},
    {"utf8", 57372},
    {"thai", 57373},
    {"thai620", 57373},
    {"sopstw", 57374},
    {"euctw", 57375},
    {"cns", 57375},
    {"tst", 57376},
    {"qa-win-950", 57377},
    {"cns-extended", 57378},
    {"eucxtw", 57378},
    {"qa-win-932", 57379},
    {"koi-8", 57382},
    {"csk", 57383},
    {"mazovia", 57384},
    {"maz", 57384},
    {"roman8", 57385},
    {"qa-win-unicode", 57386},
    {"qa-unix-big5", 57387},
    {nullptr, 0},
};

registry_entry *gls_registry_list_cache = nullptr;
const gl_registry_row *gls_registry_array_cache = nullptr;

}  // extern "C"

namespace {

using gls_spec::store_error;

constexpr size_t name_block = GL_CS_NAME_MAX + 1; /* 22-byte name blocks */

using glslib::ascii::is_digit;
using glslib::ascii::is_space;
using glslib::ascii::to_lower;

/* The registry file, closed on every path out. */
class RegistryFile {
 public:
  RegistryFile(gl_locale *record, const char *registry) {
    fp_ = registry != nullptr ? std::fopen(registry, "r")
                              : gl_path_search_no_ext(record, "registry", "cm", "3");
  }
  ~RegistryFile() { close(); }
  RegistryFile(const RegistryFile &) = delete;
  RegistryFile &operator=(const RegistryFile &) = delete;

  bool is_open() const { return fp_ != nullptr; }
  void close() {
    if (fp_ != nullptr) std::fclose(fp_);
    fp_ = nullptr;
  }

  enum class Name { found, end, too_long };

  /* Reads the next entry name into name (lower case, terminated), past
  ** white space and comments. end: the file ends before or at the end of
  ** the name. too_long: 22 characters or more (a syntax error). The name
  ** may be empty when a character that cannot be in a name stands there. */
  Name read_name(char (&name)[name_block]) {
    int c = skip_space();
    while (c == '#') {
      while (c != EOF && c != '\n')
        c = std::getc(fp_);
      c = skip_space();
    }
    size_t n = 0;
    for (; c != EOF && glslib::ascii::is_graph(c); c = std::getc(fp_)) {
      if (n == GL_CS_NAME_MAX) return Name::too_long;
      name[n++] = to_lower(c);
    }
    name[n] = '\0';
    if (c == EOF) return Name::end;
    std::ungetc(c, fp_);
    return Name::found;
  }

  /* Reads an entry number: white space, then decimal digits whose value
  ** is below 65536, not followed directly by the end of the file.
  ** Returns the number or GL_CS_NONE (a syntax error). */
  uint16_t read_number() {
    int c = skip_space();
    if (!is_digit(c)) return GL_CS_NONE;
    unsigned long value = 0;
    for (; is_digit(c); c = std::getc(fp_)) {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 0xFFFF) return GL_CS_NONE;
    }
    if (c == EOF) return GL_CS_NONE;
    std::ungetc(c, fp_);
    return static_cast<uint16_t>(value);
  }

  /* Skips the rest of the line; false when the file ends without a newline. */
  bool skip_line() {
    int c;
    while ((c = std::getc(fp_)) != EOF) {
      if (c == '\n') return true;
    }
    return false;
  }

 private:
  int skip_space() {
    int c;
    do
      c = std::getc(fp_);
    while (c != EOF && is_space(c));
    return c;
  }

  FILE *fp_ = nullptr;
};

void free_list(registry_entry *e) {
  while (e != nullptr) {
    registry_entry *next = e->next;
    _gl_free_ptr(e->name);
    _gl_free_ptr(e);
    e = next;
  }
}

/* Lookup by reading the file: the number of the first entry so named, or
** GL_CS_NONE with found = false when the file has no such entry. Errors:
** 15 no file, 11 syntax (found is then true so that the caller stops). */
uint16_t lookup_in_file(gl_locale *record, const char *name, const char *registry, bool &found) {
  found = true;
  RegistryFile file(record, registry);
  if (!file.is_open()) {
    store_error(record, GL_ENOREGISTRY);
    return GL_CS_NONE;
  }
  char entry[name_block];
  for (;;) {
    switch (file.read_name(entry)) {
      case RegistryFile::Name::end:
        found = false;
        return GL_CS_NONE;
      case RegistryFile::Name::too_long:
        store_error(record, GL_EBADFILE);
        return GL_CS_NONE;
      case RegistryFile::Name::found:
        break;
    }
    if (std::strcmp(entry, name) == 0) {
      uint16_t number = file.read_number();
      if (number == GL_CS_NONE) store_error(record, GL_EBADFILE);
      return number;
    }
    if (!file.skip_line()) {
      store_error(record, GL_EBADFILE);
      return GL_CS_NONE;
    }
  }
}

}  // namespace

extern "C" {

uint16_t gl_cs_name2cs_num(gl_locale *record, const char *name, const char *registry) {
  if (name == nullptr) {
    store_error(record, GL_ENULLPTR);
    return GL_CS_NONE;
  }
  /* A name that no entry can hold is never cut to one that might match. */
  size_t len = std::strlen(name);
  if (len == 0 || len > GL_CS_NAME_MAX) {
    store_error(record, GL_EINVAL);
    return GL_CS_NONE;
  }
  char lower[name_block];
  for (size_t i = 0; i < len; ++i)
    lower[i] = to_lower(static_cast<unsigned char>(name[i]));
  lower[len] = '\0';

  bool found = false;
  uint16_t number = GL_CS_NONE;
  if (gls_registry_list_cache != nullptr) {
    for (const registry_entry *e = gls_registry_list_cache; e != nullptr; e = e->next) {
      if (std::strcmp(e->name, lower) == 0) return static_cast<uint16_t>(e->number);
    }
  } else if (gls_registry_array_cache != nullptr) {
    for (const gl_registry_row *r = gls_registry_array_cache; r->name != nullptr; ++r) {
      if (std::strcmp(r->name, lower) == 0) return static_cast<uint16_t>(r->number);
    }
  } else {
    number = lookup_in_file(record, lower, registry, found);
    if (found) return number;
  }

  /* Not a registered name: a number written in decimal stands for itself. */
  std::string_view text(lower, len);
  if (text.find_first_not_of("0123456789") == std::string_view::npos) {
    unsigned long value = 0;
    for (char c : text) {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 0xFFFF) break;
    }
    /* 57344 is the "no code set" value itself, so it is no answer either. */
    if (value < 0x10000 && value != GL_CS_NONE) return static_cast<uint16_t>(value);
  }
  store_error(record, GL_EINVAL);
  return GL_CS_NONE;
}

void gl_free_registry_cache(void) {
  free_list(gls_registry_list_cache);
  gls_registry_list_cache = nullptr;
  gls_registry_array_cache = nullptr;
}

void gl_cache_registry(gl_locale *record, const char *registry) {
  gl_free_registry_cache();
  RegistryFile file(record, registry);
  if (!file.is_open()) {
    store_error(record, GL_ENOREGISTRY);
    gls_registry_array_cache = gls_canned_registry;
    return;
  }

  registry_entry *head = nullptr;
  registry_entry **tail = &head;
  auto fail = [&](int err) {
    file.close();
    free_list(head);
    store_error(record, err);
    gls_registry_array_cache = gls_canned_registry;
  };

  char name[name_block];
  for (;;) {
    RegistryFile::Name got = file.read_name(name);
    if (got == RegistryFile::Name::end) break;
    if (got == RegistryFile::Name::too_long) return fail(GL_EBADFILE);

    auto *node = static_cast<registry_entry *>(_gl_alloc_ptr(sizeof(registry_entry)));
    char *block = static_cast<char *>(_gl_alloc_ptr(name_block));
    if (node == nullptr || block == nullptr) {
      _gl_free_ptr(node);
      _gl_free_ptr(block);
      return fail(GL_ENOMEM);
    }
    std::memcpy(block, name, name_block);
    node->name = block;
    node->next = nullptr;
    uint16_t number = file.read_number();
    if (number == GL_CS_NONE) {
      _gl_free_ptr(block);
      _gl_free_ptr(node);
      return fail(GL_EBADFILE);
    }
    node->number = number;
    *tail = node;
    tail = &node->next;
    if (!file.skip_line()) break;
  }
  file.close();
  gls_registry_list_cache = head;
}

}  // extern "C"
