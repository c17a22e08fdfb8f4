/*
** locale_spec.cpp - locale specifications: their syntax, their code-set
** numbers, the locale file names and message directories they name, the
** pieces of a locale file name, and conversion file names.
**
** Callers: the locale loader, the conversion loader, the message-catalog
** search and the client's locale set-up. Calls: the code-set registry
** (registry.cpp) and the error word of the host-service layer.
**
** A locale file name is "ll_tt/xxxxmmmm.lco": language and territory in
** lower case, the code-set number as four lower-case hexadecimal digits, the
** modifier as written. Output buffers carry no size; gl_registry.h gives
** the sizes callers must provide.
*/
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "gl_host.h"
#include "gl_registry.h"
#include "spec_scan.h"

namespace gls_spec {

void store_error(gl_locale *record, int err) {
  if (record != nullptr) *_gl_ext_errno(record) = err;
}

int key_at(std::string_view text, std::size_t &length) {
  for (int key = 1; key <= key_count; ++key) {
    if (text.starts_with(key_names[key])) {
      length = key_names[key].size();
      return key;
    }
  }
  return 0;
}

bool scan_short(std::string_view text, ShortSpec &out, bool allow_bare) {
  if (text.size() < 5 || !is_alpha(text[0]) || !is_alpha(text[1]) || text[2] != '_' ||
      !is_alpha(text[3]) || !is_alpha(text[4])) {
    return false;
  }
  out = ShortSpec {};
  out.lang_terr = text.substr(0, 5);
  if (text.size() == 5 || text[5] != '.') {
    if (!allow_bare) return false;
    out.length = 5;
    return true;
  }
  /* The code-set name: letters, digits and punctuation up to "@". */
  std::size_t pos = 6;
  std::size_t end = pos;
  while (end < text.size() && is_graph(text[end]) && text[end] != '@')
    ++end;
  if (end == pos || end - pos > GL_CS_NAME_MAX || text[pos] == '#') return false;
  out.codeset = text.substr(pos, end - pos);
  pos = end;
  if (pos < text.size() && text[pos] == '@') {
    ++pos;
    end = pos;
    while (end < text.size() && is_alnum(text[end]))
      ++end;
    if (end == pos || end - pos > 4) return false;
    out.modifier = text.substr(pos, end - pos);
    pos = end;
  }
  out.length = pos;
  return true;
}

char *put_hex4(char *p, uint16_t number) {
  static constexpr char digits[] = "0123456789abcdef";
  for (int shift = 12; shift >= 0; shift -= 4)
    *p++ = digits[(number >> shift) & 0xF];
  return p;
}

bool parse_short(gl_locale *record, std::string_view text, const char *registry, ParsedShort &out) {
  out = ParsedShort {};
  if (!scan_short(text, out.spec)) return false;
  char name[GL_CS_NAME_MAX + 1];
  out.spec.codeset.copy(name, out.spec.codeset.size());
  name[out.spec.codeset.size()] = '\0';
  out.cs_num = gl_cs_name2cs_num(record, name, registry);
  if (out.cs_num == GL_CS_NONE) return false;

  char *p = out.fname;
  for (char c : out.spec.lang_terr)
    *p++ = to_lower(c);
  *p++ = '/';
  p = put_hex4(p, out.cs_num);
  p = std::copy(out.spec.modifier.begin(), out.spec.modifier.end(), p);
  p = std::copy_n(".lco", 4, p);
  *p = '\0';
  out.fname_length = static_cast<std::size_t>(p - out.fname);
  return true;
}

bool scan_long(std::string_view text, bool trailer_required, LongSpec &out) {
  out = LongSpec {};
  bool seen[key_count + 1] = {};
  std::size_t pos = 0;
  for (;;) {
    std::size_t key_length = 0;
    int key = key_at(text.substr(pos), key_length);
    if (key == 0 || seen[key]) return false;
    seen[key] = true;
    LongEntry &entry = out.entries[out.count++];
    entry.key = key;
    entry.key_text = text.substr(pos, key_length);
    pos += key_length;
    if (!text.substr(pos).starts_with(key_equals)) return false;
    pos += key_equals.size();
    if (!scan_short(text.substr(pos), entry.spec)) return false;
    pos += entry.spec.length;
    if (pos == text.size()) return !trailer_required;
    if (!text.substr(pos).starts_with(entry_separator)) return false;
    pos += entry_separator.size();
    if (pos == text.size()) {
      out.trailer = true;
      return true;
    }
  }
}

bool usable_spec(gl_locale *record, const char *spec, std::string_view &text) {
  if (spec == nullptr) {
    store_error(record, GL_ENULLPTR);
    return false;
  }
  text = std::string_view(spec, strnlen(spec, GL_LC_SPEC_MAX + 1));
  if (text.size() > GL_LC_SPEC_MAX) {
    store_error(record, GL_EINVAL);
    return false;
  }
  return true;
}

bool begins_with_key(std::string_view text) {
  std::size_t length = 0;
  return key_at(text, length) != 0;
}

bool parse_long(gl_locale *record, std::string_view text, bool trailer_required,
                const char *registry, LongSpec &scanned, ParsedShort (&parsed)[key_count]) {
  if (!scan_long(text, trailer_required, scanned)) {
    store_error(record, GL_EINVAL);
    return false;
  }
  for (int i = 0; i < scanned.count; ++i) {
    std::size_t at =
        static_cast<std::size_t>(scanned.entries[i].spec.lang_terr.data() - text.data());
    if (!parse_short(record, text.substr(at), registry, parsed[i]) ||
        parsed[i].cs_num != parsed[0].cs_num) {
      store_error(record, GL_EINVAL);
      return false;
    }
  }
  return true;
}

}  // namespace gls_spec

using namespace gls_spec;

extern "C" {

int _gl_is_category(const char *text, int *key_length) {
  if (text == nullptr) return 0;
  std::size_t length = 0;
  int key = key_at(text, length);
  if (key != 0 && key_length != nullptr) *key_length = static_cast<int>(length);
  return key;
}

int _gl_is_xopen_spec(gl_locale *record, const char **text, char **output, uint16_t *cs_num,
                      const char *registry) {
  if (text == nullptr || *text == nullptr || output == nullptr || *output == nullptr ||
      cs_num == nullptr) {
    return 0;
  }
  ParsedShort parsed;
  bool ok = parse_short(record, *text, registry, parsed);
  if (!ok) {
    if (!parsed.spec.codeset.empty() && parsed.cs_num == GL_CS_NONE) *cs_num = GL_CS_NONE;
    return 0;
  }
  std::memcpy(*output, parsed.fname, parsed.fname_length);
  *output += parsed.fname_length;
  *text += parsed.spec.length;
  *cs_num = parsed.cs_num;
  return 1;
}

uint16_t gl_lc_spec2cs_num(gl_locale *record, const char *spec, const char *registry) {
  std::string_view text;
  if (!usable_spec(record, spec, text)) return GL_CS_NONE;

  if (begins_with_key(text)) {
    LongSpec scanned;
    ParsedShort parsed[key_count];
    if (!parse_long(record, text, true, registry, scanned, parsed)) return GL_CS_NONE;
    return parsed[0].cs_num;
  }

  /* A short form, or the text after it (or all of it) as a code-set name. */
  std::string_view rest = text;
  ParsedShort parsed;
  if (parse_short(record, text, registry, parsed)) {
    if (parsed.spec.length == text.size()) return parsed.cs_num;
    rest = text.substr(parsed.spec.length);
  }
  /* rest is a tail of the caller's terminated text: no copy is needed. */
  return gl_cs_name2cs_num(record, rest.data(), registry);
}

int gl_lc_spec2lc_fname(gl_locale *record, const char *spec, char *output, const char *registry,
                        const char *prefix) {
  std::string_view text;
  if (!usable_spec(record, spec, text)) return -1;
  if (output == nullptr) {
    store_error(record, GL_ENULLPTR);
    return -1;
  }

  if (!begins_with_key(text)) {
    ParsedShort parsed;
    if (!parse_short(record, text, registry, parsed) || parsed.spec.length != text.size()) {
      store_error(record, GL_EINVAL);
      return -1;
    }
    std::memcpy(output, parsed.fname, parsed.fname_length + 1);
    return 0;
  }

  LongSpec scanned;
  ParsedShort parsed[key_count];
  if (!parse_long(record, text, false, registry, scanned, parsed)) return -1;
  std::string_view dir = prefix != nullptr ? std::string_view(prefix) : std::string_view();
  char *p = output;
  for (int i = 0; i < scanned.count; ++i) {
    if (i > 0) p = std::copy(entry_separator.begin(), entry_separator.end(), p);
    p = std::copy(scanned.entries[i].key_text.begin(), scanned.entries[i].key_text.end(), p);
    p = std::copy(key_equals.begin(), key_equals.end(), p);
    if (!dir.empty()) {
      p = std::copy(dir.begin(), dir.end(), p);
      *p++ = static_cast<char>(0xFF);
    }
    p = std::copy_n(parsed[i].fname, parsed[i].fname_length, p);
  }
  if (scanned.trailer) p = std::copy(entry_separator.begin(), entry_separator.end(), p);
  *p = '\0';
  return 0;
}

int gl_lc_spec2msg_dname(gl_locale *record, const char *spec, char *output, const char *registry,
                         const char * /*prefix*/) {
  if (output == nullptr) {
    store_error(record, GL_ENULLPTR);
    return -1;
  }
  /* The prefix is a directory of locale files, not part of a message
  ** directory: the file names are made without it. */
  char fspec[GL_LC_FSPEC_SIZE];
  if (gl_lc_spec2lc_fname(record, spec, fspec, registry, nullptr) != 0) return -1;
  const char *fname = fspec;
  if (begins_with_key(spec)) {
    static constexpr std::string_view messages_key = "GL_MESSAGES = ";
    fname = std::strstr(fspec, messages_key.data());
    if (fname == nullptr) {
      store_error(record, GL_EINVAL);
      return -1;
    }
    fname += messages_key.size();
  }
  std::memcpy(output, fname, GL_MSG_DNAME_SIZE - 1);
  output[GL_MSG_DNAME_SIZE - 1] = '\0';
  return 0;
}

int gl_cs_nums2cv_fname(gl_locale *record, uint16_t first, uint16_t second, char *output,
                        const char *prefix) {
  if (output == nullptr) {
    store_error(record, GL_ENULLPTR);
    return -1;
  }
  char *p = output;
  if (prefix != nullptr && *prefix != '\0') {
    std::size_t n = std::strlen(prefix);
    std::memcpy(p, prefix, n);
    p += n;
    *p++ = static_cast<char>(0xFF);
  }
  for (uint16_t number : {first, second}) {
    p = put_hex4(p, number);
  }
  std::memcpy(p, ".cvo", 5);
  return 0;
}

int gl_lc_pieces2lc_spec(gl_locale *record, const char *lang_terr, const char *codeset,
                         const char *modifier, char *output) {
  if (lang_terr == nullptr || codeset == nullptr || output == nullptr) {
    store_error(record, GL_ENULLPTR);
    return -1;
  }
  std::string_view lt(lang_terr);
  std::string_view cs(codeset);
  std::string_view mod = modifier != nullptr ? std::string_view(modifier) : std::string_view();
  /* Pieces that do not fit are refused, never cut into another locale. */
  bool ok = lt.size() == 5 && is_alpha(lt[0]) && is_alpha(lt[1]) && lt[2] == '_' &&
            is_alpha(lt[3]) && is_alpha(lt[4]) && !cs.empty() && cs.size() <= 5 &&
            cs.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos &&
            mod.size() <= 4;
  if (!ok) {
    store_error(record, GL_EINVAL);
    return -1;
  }
  char *p = std::copy(lt.begin(), lt.end(), output);
  *p++ = '.';
  p = std::copy(cs.begin(), cs.end(), p);
  if (!mod.empty()) {
    *p++ = '@';
    p = std::copy(mod.begin(), mod.end(), p);
  }
  *p = '\0';
  return 0;
}

int gl_lc_fname2lc_pieces(gl_locale *record, const char *fname, char *lang_terr, char *codeset,
                          char *modifier) {
  if (fname == nullptr || lang_terr == nullptr || codeset == nullptr || modifier == nullptr) {
    store_error(record, GL_ENULLPTR);
    return -1;
  }
  std::string_view text(fname);
  auto fail = [&] {
    store_error(record, GL_EINVAL);
    return -1;
  };
  if (text.size() < 7 || !is_alpha(text[0]) || !is_alpha(text[1]) || text[2] != '_' ||
      !is_alpha(text[3]) || !is_alpha(text[4]) || (text[5] != '/' && text[5] != '\\')) {
    return fail();
  }
  std::size_t pos = 6;
  unsigned number = 0;
  while (pos < text.size() && pos < 10 && is_xdigit(text[pos])) {
    char c = to_lower(text[pos++]);
    number = number * 16 + static_cast<unsigned>(is_digit(c) ? c - '0' : c - 'a' + 10);
  }
  if (pos == 6) return fail();
  std::size_t end = text.find('.', pos);
  if (end == std::string_view::npos) end = text.size();
  if (end - pos > 4) return fail();

  lang_terr[0] = to_lower(text[0]);
  lang_terr[1] = to_lower(text[1]);
  lang_terr[2] = '_';
  lang_terr[3] = to_upper(text[3]);
  lang_terr[4] = to_upper(text[4]);
  lang_terr[5] = '\0';
  std::snprintf(codeset, GL_LC_CSTEXT_SIZE, "%u", number); /* at most 65535 */
  text.substr(pos, end - pos).copy(modifier, end - pos);
  modifier[end - pos] = '\0';
  return 0;
}

}  // extern "C"
