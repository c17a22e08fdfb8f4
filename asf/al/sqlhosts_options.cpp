/*
** The option field of a sqlhosts line: splitting it into key=value
** parameters and reading them into `SqlhOptions`. Called by the sqlhosts
** services (group expansion) and the name service; the transport drivers
** read the parsed record.
*/
#include <cctype>
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_sqlhosts.h"

namespace {

/* Most parameters of one option field. */
constexpr int max_parameters = 32;

/* What a single-letter key does with its value. */
enum class option_kind { number, group, endgroup };

/* A single-letter key: the accepted range of its number and where it goes. */
struct letter_option {
  char key;
  option_kind kind;
  int min;
  int max;
  void (*store)(SqlhOptions *opts, int value);
};

constexpr int unbounded = 2147483647;

constexpr letter_option letter_options[] = {
    {'s', option_kind::number, 0, 3,
     [](SqlhOptions *o, int v) { o->security = static_cast<uint8_t>(v); }},
    {'r', option_kind::number, 0, 1,
     [](SqlhOptions *o, int v) {
       if (v == 0) o->netrc &= static_cast<uint8_t>(~1u);
     }},
    {'k', option_kind::number, 0, 1,
     [](SqlhOptions *o, int v) {
       if (v == 0) o->keepalive &= ~1u;
     }},
    {'b', option_kind::number, 1, 32768,
     [](SqlhOptions *o, int v) { o->bufsize = v < 140 ? 140 : v; }},
    {'m', option_kind::number, 0, unbounded,
     [](SqlhOptions *o, int v) { o->multiplex = static_cast<uint8_t>(v); }},
    {'g', option_kind::group, 0, 0, nullptr},
    {'e', option_kind::endgroup, 0, 0, nullptr},
    {'c', option_kind::number, 0, 1,
     [](SqlhOptions *o, int v) {
       if (v == 1) o->redirect |= 1;
     }},
    {'i', option_kind::number, 0, unbounded, [](SqlhOptions *o, int v) { o->ident = v; }},
};

bool is_separator(unsigned char c) { return std::isspace(c) || c == ','; }

/* 1 when the protocol part of the entry (last 3 characters of its
** interface-protocol) is "tcp". */
bool is_tcp(const SvrInfo *info) {
  size_t len = std::strlen(info->protocol);
  return len >= 3 && std::strcmp(info->protocol + len - 3, "tcp") == 0;
}

void copy_name(char (&field)[ASF_SQLH_NAME_SIZE], const char *value) {
  std::strncpy(field, value, ASF_SQLH_NAME_SIZE - 1);
  field[ASF_SQLH_NAME_SIZE - 1] = '\0';
}

/* Applies one single-letter option: 0 or -27004. */
int apply_letter(const SvrInfo *info, SqlhOptions *opts, char key, const char *value) {
  for (const letter_option &o : letter_options) {
    if (o.key != key) continue;
    if (o.kind == option_kind::group) {
      copy_name(opts->group, value);
      return 0;
    }
    if (o.kind == option_kind::endgroup) {
      copy_name(opts->endgroup, value);
      return 0;
    }
    // The buffer size concerns TCP only; elsewhere it is not even checked.
    if (key == 'b' && !is_tcp(info)) return 0;
    int v = asf_atoposi(value);
    if (v < 0 || v < o.min || v > o.max) return ASF_ERR_OPTIONS;
    o.store(opts, v);
    return 0;
  }
  return 0;
}

/* A copy of the communication-support value without one enclosing pair
** of parentheses, or null. */
char *csm_copy(const char *value) {
  size_t len = std::strlen(value);
  if (len >= 2 && value[0] == '(' && value[len - 1] == ')') {
    auto *copy = static_cast<char *>(asf_alloc(asf_pool_assoc, len - 1));
    if (copy != nullptr) std::memcpy(copy, value + 1, len - 2);
    return copy;
  }
  return meStrDup(asf_pool_assoc, value);
}

}  // namespace

extern "C" {

int asf_atoposi(const char *text) {
  if (text == nullptr) return -1;
  size_t len = std::strlen(text);
  for (size_t i = 0; i < len; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
  if (len > 10 || (len == 10 && std::strcmp(text, "2147483647") > 0)) return -1;
  int value = 0;
  for (size_t i = 0; i < len; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

int ASF_parmslist_parse(int max, char **keys, char **values, char *text) {
  if (max == 0 || keys == nullptr || values == nullptr || text == nullptr) return -1;
  int count = 0;
  char *p = text;
  while (count < max) {
    while (*p != '\0' && is_separator(static_cast<unsigned char>(*p)))
      ++p;
    if (*p == '\0' || *p == '#') break;
    char *start = p;
    int depth = 0;
    bool last = false;
    for (; *p != '\0'; ++p) {
      if (*p == '(') {
        ++depth;
      } else if (*p == ')') {
        if (depth > 0) --depth;
      } else if (depth == 0 && (is_separator(static_cast<unsigned char>(*p)) || *p == '#')) {
        break;
      }
    }
    if (*p == '\0' || *p == '#') last = true;
    if (*p != '\0') *p++ = '\0';
    char *eq = std::strchr(start, '=');
    if (eq == nullptr || eq[1] == '\0') return -1;
    *eq = '\0';
    keys[count] = start;
    values[count] = eq + 1;
    ++count;
    if (last) break;
  }
  return count;
}

int parmslist_parse(int max, char **keys, char **values, char *text) {
  return ASF_parmslist_parse(max, keys, values, text);
}

int ASF_ParseSqlhOptions(const SvrInfo *info, SqlhOptions *opts) {
  if (info == nullptr || opts == nullptr) return ASF_ERR_OPTIONS;
  std::memset(opts, 0, sizeof *opts);
  opts->security = 3;
  opts->netrc = 1;
  opts->keepalive = 1;
  if (info->options[0] == '\0') return 0;
  char text[sizeof info->options];
  std::memcpy(text, info->options, sizeof text);
  text[sizeof text - 1] = '\0';
  char *keys[max_parameters];
  char *values[max_parameters];
  int n = ASF_parmslist_parse(max_parameters, keys, values, text);
  if (n < 0) return ASF_ERR_OPTIONS;
  int rc = 0;
  for (int i = 0; i < n && rc == 0; ++i) {
    size_t keylen = std::strlen(keys[i]);
    if (keylen == 1) {
      rc = apply_letter(info, opts, keys[i][0], values[i]);
    } else if (std::strcmp(keys[i], "csm") == 0 && opts->csm == nullptr) {
      opts->csm = csm_copy(values[i]);
      if (opts->csm == nullptr) rc = ASF_ERR_MEMORY;
    }
  }
  if (rc != 0 && opts->csm != nullptr) {
    asf_free(asf_pool_assoc, opts->csm);
    opts->csm = nullptr;
  }
  return rc;
}

int ParseSqlhOptions(const SvrInfo *info, SqlhOptions *opts) {
  return ASF_ParseSqlhOptions(info, opts);
}

}  // extern "C"
