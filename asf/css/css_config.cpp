/*
** Communication support: the module configuration file concsm.cfg read
** into the process-wide library context of module descriptors, its
** lexer (shared with the connection's module specification, which the
** per-connection side reads through css_get_csm_name and
** css_get_csm_parm), and the checks of the compiled list. Called by the
** association glue (css_init, css_terminate) and the per-connection side.
**
** A line is a definition, NAME("library spec", "global options",
** "connection options"), or a virtual module, NAME MEMBER, MEMBER, ...,
** whose members are earlier names or definitions in place; '#' starts a
** comment. Identifiers keep 31 characters.
*/
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "css_records.h"
#include "os_wrappers.h"

namespace {

/* Parse results of csm_descr_parse and csm_descr_options. */
enum {
  parse_syntax = -1,
  parse_memory = -2,
  parse_duplicate = -3,
  parse_undefined = -4,
  parse_nolibrary = -5
};

constexpr int name_max = CSS_NAME_SIZE - 1;
constexpr int text_max = CSS_TEXT_SIZE - 1;

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_ident(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

const char *skip_space(const char *p) {
  while (is_space(*p))
    ++p;
  return p;
}

/* A copy of text (null: null) from css_malloc; *failed set when memory
** runs out. */
char *copy_text(const char *text, bool *failed) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  auto *copy = static_cast<char *>(css_malloc(static_cast<long>(length + 1)));
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, text, length + 1);
  return copy;
}

bool equal_nocase(const char *a, const char *b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

/* The first place at or after from where key stands in text ignoring
** case and begins the text or follows a ',' or a blank, or null. A key
** inside a longer word ("notclient") is no key. */
const char *find_key(const char *text, const char *from, std::string_view key) {
  for (const char *p = from; *p != '\0'; ++p) {
    if (p != text && p[-1] != ',' && !is_space(p[-1])) continue;
    size_t i = 0;
    while (i < key.size() && p[i] != '\0' && lower(p[i]) == lower(key[i]))
      ++i;
    if (i == key.size()) return p;
  }
  return nullptr;
}

int compare_name(const void *item, const void *key) {
  const auto *descr = static_cast<const csm_descr *>(item);
  return descr->name != nullptr && equal_nocase(descr->name, static_cast<const char *>(key)) ? 0
                                                                                             : 1;
}

/* Makes a member reference to member and appends it to virt; 0 or -2. */
int add_member(csm_descr *virt, csm_descr *member) {
  auto *ref = static_cast<csm_descr_ref *>(css_malloc(sizeof(csm_descr_ref)));
  if (ref == nullptr) return parse_memory;
  ref->descr = member;
  if (css_list_append(&virt->members, ref) != 0) {
    css_free(ref);
    return parse_memory;
  }
  return 0;
}

/* The library key of this program: "server" or "client", or null for an
** identity that is neither. */
const char *library_key() {
  char identity[16] = {};
  callerid(identity);
  if (std::strcmp(identity, "server") == 0) return "server";
  if (std::strcmp(identity, "clientsdk") == 0) return "client";
  return nullptr;
}

/* The CSS code of a parse result. */
int32_t parse_code(int result) {
  switch (result) {
    case parse_syntax:
      return CSS_ERR_SYNTAX;
    case parse_memory:
      return CSS_ERR_MEMORY;
    case parse_duplicate:
      return CSS_ERR_DUPLICATE;
    case parse_undefined:
      return CSS_ERR_UNDEFINED;
    case parse_nolibrary:
      return CSS_ERR_NOSTATIC;
    default:
      return CSS_ERR_PARSE;
  }
}

}  // namespace

extern "C" {

const csm_stat_row csm_stat[] = {{nullptr, nullptr}};

/* ---- The file reader. ---- */

void *css_ioopen(const char *path) { return std::fopen(path, "r"); }

int css_ioread_line(void *handle, char *buffer, int size) {
  auto *file = static_cast<FILE *>(handle);
  if (size < 2 || std::fgets(buffer, size, file) == nullptr) return -1;
  size_t length = std::strlen(buffer);
  const bool ended = length > 0 && buffer[length - 1] == '\n';
  if (!ended && length == static_cast<size_t>(size - 1)) {
    // The buffer is full: the line goes on unless only carriage returns
    // remain before its end. Either way the rest of it is consumed, so
    // that it is never read as a line of its own.
    bool longer = false;
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n')
      if (c != '\r') longer = true;
    if (longer) return -2;
  }
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r'))
    buffer[--length] = '\0';
  return static_cast<int>(length);
}

void css_ioclose(void *handle) {
  if (handle != nullptr) std::fclose(static_cast<FILE *>(handle));
}

void cssio_init(cssio_vector *io) {
  io->open = css_ioopen;
  io->read_line = css_ioread_line;
  io->close = css_ioclose;
}

/* ---- The lexer. ---- */

int lex_get_unit(const char **pos, css_token *token) {
  const char *p = skip_space(*pos);
  int length = 0;
  token->text[0] = '\0';
  token->kind = 0;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') {
      if (length < text_max) token->text[length++] = *p;
      ++p;
    }
    if (*p == '"') ++p;
    token->kind = CSS_TOKEN_STRING;
  } else if (*p == '(' || *p == ')' || *p == ',') {
    // No token: the character is the delimiter.
  } else if (*p == '#') {
    p += std::strlen(p);
  } else if (is_ident(*p)) {
    while (is_ident(*p)) {
      if (length < name_max) token->text[length++] = *p;
      ++p;
    }
    token->kind = CSS_TOKEN_IDENT;
  } else if (*p != '\0') {
    *pos = p;
    return -1;
  }
  token->text[length] = '\0';
  p = skip_space(p);
  token->delim = static_cast<unsigned char>(*p);
  *pos = p;
  return length;
}

/* ---- Descriptors. ---- */

csm_descr *css_find_csm_descr(css_list *list, const char *name) {
  if (list == nullptr || name == nullptr) return nullptr;
  return static_cast<csm_descr *>(css_list_find_item(list, compare_name, name));
}

int css_csm_static_link(csm_descr *descr) {
  for (const csm_stat_row *row = csm_stat; row->name != nullptr; ++row) {
    if (descr->name != nullptr && equal_nocase(row->name, descr->name)) {
      descr->init = row->init;
      return 0;
    }
  }
  return -1;
}

int get_csm_libname(const char *spec, const char *key, char **path) {
  bool failed = false;
  *path = nullptr;
  if (std::strchr(spec, '=') == nullptr) {
    *path = copy_text(spec, &failed);
    return failed ? parse_memory : 0;
  }
  const std::string_view wanted(key);
  const char *value = "";
  size_t value_length = 0;
  for (const char *at = find_key(spec, spec, wanted); at != nullptr;
       at = find_key(spec, at + 1, wanted)) {
    const char *p = at + wanted.size();
    while (*p == ' ' || *p == '\t')
      ++p;
    if (*p != '=') continue;
    value = p + 1;
    const char *end = std::strchr(value, ',');
    value_length = end != nullptr ? static_cast<size_t>(end - value) : std::strlen(value);
    break;
  }
  auto *copy = static_cast<char *>(css_malloc(static_cast<long>(value_length + 1)));
  if (copy == nullptr) return parse_memory;
  std::memcpy(copy, value, value_length);
  *path = copy;
  return 0;
}

int csm_descr_options(csm_descr *descr, const char **pos, css_token *token) {
  char *options[3] = {};
  int place = 0;
  int result = 0;
  for (;;) {
    const int length = lex_get_unit(pos, token);
    if (length < 0) {
      result = parse_syntax;
      break;
    }
    if (token->kind != 0) {
      if (token->kind != CSS_TOKEN_STRING || place >= 3) {
        result = parse_syntax;
        break;
      }
      bool failed = false;
      css_free(options[place]);
      options[place] = copy_text(token->text, &failed);
      if (failed) {
        result = parse_memory;
        break;
      }
    }
    if (token->delim == ',') {
      ++*pos;
      ++place;
      continue;
    }
    if (token->delim == ')') {
      ++*pos;
      break;
    }
    result = parse_syntax;
    break;
  }
  if (result == 0 && options[0] != nullptr) {
    const char *key = library_key();
    if (key == nullptr)
      result = parse_memory;
    else
      result = get_csm_libname(options[0], key, &descr->libpath);
  }
  if (result == 0) {
    descr->gopts = options[1];
    descr->copts = options[2];
    options[1] = options[2] = nullptr;
    if (descr->libpath == nullptr && css_csm_static_link(descr) != 0) result = parse_nolibrary;
  }
  for (char *option : options)
    css_free(option);
  return result;
}

int csm_descr_parse(css_list *list, csm_descr *current, const char **pos, css_token *token) {
  for (;;) {
    const int length = lex_get_unit(pos, token);
    if (length < 0) return parse_syntax;
    if (token->kind == 0) {
      if (token->delim == ',') {
        ++*pos;
        continue;
      }
      return token->delim == 0 ? 0 : parse_syntax;
    }
    if (token->kind != CSS_TOKEN_IDENT) return parse_syntax;

    if (csm_descr *existing = css_find_csm_descr(list, token->text); existing != nullptr) {
      if (current == nullptr) return parse_duplicate;
      if (token->delim != ',' && token->delim != 0) return parse_duplicate;
      const int added = add_member(current, existing);
      if (added != 0) return added;
      continue;
    }

    auto *descr = static_cast<csm_descr *>(css_malloc(sizeof(csm_descr)));
    if (descr == nullptr) return parse_memory;
    bool failed = false;
    descr->name = copy_text(token->text, &failed);
    if (failed || css_list_append(list, descr) != 0) {
      csm_descr_ldelete(descr);
      return parse_memory;
    }

    const int delim = token->delim;
    if (delim == '(') {
      ++*pos;
      const int result = csm_descr_options(descr, pos, token);
      if (result != 0) return result;
      // The character after ')' is a ',' or a blank.
      if (**pos != '\0') ++*pos;
      if (current != nullptr) {
        const int added = add_member(current, descr);
        if (added != 0) return added;
      }
      continue;
    }
    if (delim == ',' || delim == 0) return parse_undefined;
    if (is_ident(static_cast<char>(delim))) return csm_descr_parse(list, descr, pos, token);
    return parse_syntax;
  }
}

int css_compile_csm_list(csslibctx *lib, const cssio_vector *io, void *handle, css_errblk *err) {
  char line[CSS_TEXT_SIZE];
  css_token token;
  for (;;) {
    const int length = io->read_line(handle, line, sizeof line);
    if (length == -1) return 0;
    if (length == -2) return css_err(err, CSS_ERR_SYNTAX);
    if (length <= 0) continue;
    const char *pos = line;
    const int result = csm_descr_parse(&lib->descrs, nullptr, &pos, &token);
    if (result == 0) continue;
    const int32_t code = parse_code(result);
    return code == CSS_ERR_PARSE ? css_err(err, code, static_cast<long>(result))
                                 : css_err(err, code);
  }
}

int css_verify_csm_list(csslibctx *lib, css_errblk *err) {
  for (css_list_node *node = lib->descrs.first; node != nullptr; node = node->next) {
    const auto *descr = static_cast<const csm_descr *>(node->data);
    if (descr->name == nullptr) return css_err(err, CSS_ERR_NAMELESS);
    if (descr->members.count > 0) {
      for (css_list_node *m = descr->members.first; m != nullptr; m = m->next)
        if (static_cast<const csm_descr_ref *>(m->data)->descr == descr)
          return css_err(err, CSS_ERR_SELFMEMBER, descr->name);
    } else if (descr->libpath == nullptr && descr->init == nullptr) {
      return css_err(err, CSS_ERR_INCOMPLETE, descr->name);
    }
  }
  return 0;
}

int css_init(csslibctx **lib, const char *path, css_errblk *err) {
  cssio_vector io;
  cssio_init(&io);
  void *handle = path != nullptr ? io.open(path) : nullptr;
  if (handle == nullptr) return css_err(err, CSS_ERR_CFGOPEN, path);
  auto *ctx = static_cast<csslibctx *>(css_malloc(sizeof(csslibctx)));
  if (ctx == nullptr) {
    io.close(handle);
    return css_err(err, CSS_ERR_MEMORY);
  }
  const int compiled = css_compile_csm_list(ctx, &io, handle, err);
  io.close(handle);
  if (compiled != 0) {
    // The compile's error stays in err.
    css_errblk scratch {};
    css_terminate(&ctx, &scratch);
    return -1;
  }
  if (css_verify_csm_list(ctx, err) != 0) {
    css_errblk scratch {};
    css_terminate(&ctx, &scratch);
    return -1;
  }
  *lib = ctx;
  return 0;
}

int css_terminate(csslibctx **lib, css_errblk *err) {
  if (lib != nullptr && *lib != nullptr) {
    css_list_delete_items(&(*lib)->descrs, csm_descr_ldelete);
    css_free(*lib);
    *lib = nullptr;
  }
  if (err != nullptr) err->code = 0;
  return 0;
}

/* ---- The connection's module specification. ---- */

int css_get_csm_name(char *name, const char **pos) {
  css_token token;
  name[0] = '\0';
  const int length = lex_get_unit(pos, &token);
  if (length < 0 || token.kind == CSS_TOKEN_STRING) return -1;
  if (token.kind == 0) return 0;
  std::memcpy(name, token.text, static_cast<size_t>(length) + 1);
  if (token.delim == ',') ++*pos;
  return length;
}

int css_get_csm_parm(char *parm, const char **pos) {
  css_token token;
  parm[0] = '\0';
  const int length = lex_get_unit(pos, &token);
  if (length < 0 || token.kind == CSS_TOKEN_IDENT) return -1;
  std::memcpy(parm, token.text, static_cast<size_t>(length) + 1);
  if (token.delim == ',') ++*pos;
  return length;
}

}  // extern "C"
