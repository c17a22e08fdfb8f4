/*
** The action file: reading the monitor's rule table and matching a probe
** outcome against it. main reads the file once at start-up; the evaluation
** takes the first matching rule after every probe.
**
** Calls bufsplit and regcmp/regex of platform/ and hasyslog. The reading
** keeps the file's historical quirks on purpose, since existing action
** files rely on them: each 1023-byte piece of a longer line counts as a
** line, '#' marks a comment only in column 1, a bad field still yields an
** entry (with that field's fallback), and an invalid or over-long pattern
** leaves its field matching everything.
*/
#include "action_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <syslog.h>

#include "probe_interface.h"
#include "svr4.h"

namespace {

constexpr int line_buffer_size = 1024;
constexpr size_t max_fields = 9;
constexpr size_t longest_dbms_pattern = 1020;

struct keyword {
  std::string_view word;
  int value;
};

constexpr keyword state_words[] = {{"*", rule_any_state},
                                   {"co", db_state_connecting},
                                   {"on", db_state_online},
                                   {"di", db_state_disconnecting}};

constexpr keyword action_words[] = {
    {"none", ACTION_NONE},       {"n", ACTION_NONE},    {"", ACTION_NONE},
    {"restart", ACTION_RESTART}, {"r", ACTION_RESTART}, {"takeover", ACTION_TAKEOVER},
    {"t", ACTION_TAKEOVER},      {"stop", ACTION_STOP}, {"s", ACTION_STOP},
    {"config", ACTION_CONFIG},   {"c", ACTION_CONFIG},  {"fmstart", ACTION_FMSTART},
    {"f", ACTION_FMSTART},
};

constexpr keyword flag_words[] = {{"*", -1}, {"0", 0}, {"1", 1}};

/* The value of text in the table, or false when it is not there. */
template <size_t N>
bool look_up(const keyword (&table)[N], const char *text, int *value) {
  for (const keyword &k : table) {
    if (k.word == text) {
      *value = k.value;
      return true;
    }
  }
  return false;
}

bool matches_any(const char *field) {
  return !field || field[0] == '\0' || strcmp(field, "*") == 0;
}

/* A compiled unanchored pattern of field, or NULL for "any" and for a
** pattern that does not compile (the caller logs that case). */
char *compile_plain(const char *field) { return matches_any(field) ? nullptr : regcmp(field); }

}  // namespace

extern "C" {

int encode_db_state(const char *text, int line) {
  if (!text) text = "";
  int value = 0;
  if (look_up(state_words, text, &value)) return value;
  hasyslog(LOG_ERR, "4010", "encode_db_state: Invalid state value in line %d of action file: %s",
           line, text);
  return rule_any_state;
}

int encode_action_type(const char *text, int line) {
  if (!text) text = "";
  int value = 0;
  if (look_up(action_words, text, &value)) return value;
  hasyslog(LOG_ERR, "4020",
           "encode_action_type: invalid action type in line %d of action file: '%s'", line, text);
  return ACTION_NONE;
}

int encode_flag(const char *text, const char *field_name, int line) {
  if (!text) text = "";
  int value = 0;
  if (look_up(flag_words, text, &value)) return value;
  hasyslog(LOG_ERR, "4030", "encode_flag: Invalid value for %s in line %d in action file: %s",
           field_name ? field_name : "", line, text);
  return 0;
}

int new_action_entry(action_entry *entry, const char *state, const char *dbms_error,
                     const char *process_died, const char *log_message, const char *time_out,
                     const char *internal_error, const char *new_state, const char *action,
                     const char *message, int line) {
  *entry = action_entry {};
  entry->state = encode_db_state(state, line);

  if (!matches_any(dbms_error)) {
    if (strlen(dbms_error) > longest_dbms_pattern) {
      hasyslog(LOG_ERR, "4040",
               "regular expression '%s' in line %d in action file is too long - ignoring (max "
               "length is %d characters)",
               dbms_error, line, static_cast<int>(longest_dbms_pattern + 1));
    } else {
      char anchored[line_buffer_size];
      snprintf(anchored, sizeof anchored, "^%s$", dbms_error);
      entry->dbms_error_pattern = regcmp(anchored);
      if (!entry->dbms_error_pattern) {
        hasyslog(LOG_ERR, "4050",
                 "Invalid regular expression '%s' in line %d in action file (field DBMS error)",
                 dbms_error, line);
      }
    }
  }
  entry->process_died_pattern = compile_plain(process_died);
  if (!entry->process_died_pattern && !matches_any(process_died)) {
    hasyslog(LOG_ERR, "4060",
             "Invalid regular expression '%s' in line %d in action file (field process_died)",
             process_died, line);
  }
  entry->log_pattern = compile_plain(log_message);
  if (!entry->log_pattern && !matches_any(log_message)) {
    hasyslog(LOG_ERR, "4070",
             "Invalid regular expression '%s' in line %d in action file (field log_message)",
             log_message, line);
  }

  entry->timeout = encode_flag(time_out, "time out", line);
  entry->timeout_given = entry->timeout != -1;
  entry->internal_error = encode_flag(internal_error, "internal error", line);
  entry->internal_error_given = entry->internal_error != -1;

  entry->action = encode_action_type(action, line);
  entry->message = (message && message[0] != '\0') ? strdup(message) : nullptr;
  entry->new_state = encode_db_state(new_state, line);
  return 1;
}

int read_action_file(action_list *list, const char *path) {
  list->count = 0;
  FILE *fp = fopen(path, "r");
  if (!fp) {
    hasyslog(LOG_ERR, "4080", "error reading action file '%s': %m", path);
    return 0;
  }
  char line[line_buffer_size];
  int line_no = 0;
  while (fgets(line, sizeof line, fp)) {
    ++line_no;
    if (line[0] == '\0' || line[0] == '#') continue;
    char *fields[max_fields];
    int count = static_cast<int>(bufsplit(line, max_fields, fields));
    if (count != 8 && count != 9) {
      hasyslog(LOG_ERR, "4090",
               "Wrong number of fields in line %d of action file '%s' (expected 8 or 9, got %d)",
               line_no, path, count);
      continue;
    }
    if (list->count >= MAX_ACTIONS) {
      hasyslog(LOG_ERR, "4100", "too many actions - list is full!");
      fclose(fp);
      return 0;
    }
    /* An 8-field line's ninth slot points at the terminating NUL: no message. */
    new_action_entry(&list->entries[list->count], fields[0], fields[1], fields[2], fields[3],
                     fields[4], fields[5], fields[6], fields[7], fields[8], line_no);
    list->count++;
  }
  fclose(fp);
  return 1;
}

int re_eqs(const char *pattern, const char *text) {
  return regex(pattern, text) != nullptr ? 1 : 0;
}

int action_entry_match(const action_entry *entry, int state, int dbms_error,
                       const char *process_died, const char *log_text, int timeout,
                       int internal_error) {
  if (entry->state != rule_any_state && entry->state != state) return 0;
  if (entry->timeout_given && entry->timeout != timeout) return 0;
  if (entry->internal_error_given && entry->internal_error != internal_error) return 0;
  if (entry->dbms_error_pattern) {
    char number[16];
    snprintf(number, sizeof number, "%d", dbms_error);
    if (!re_eqs(entry->dbms_error_pattern, number)) return 0;
  }
  if (entry->process_died_pattern &&
      (!process_died || !re_eqs(entry->process_died_pattern, process_died)))
    return 0;
  if (entry->log_pattern && (!log_text || !re_eqs(entry->log_pattern, log_text))) return 0;
  return 1;
}

action_entry *find_action(action_list *list, int state, int dbms_error, const char *process_died,
                          const char *log_text, int timeout, int internal_error) {
  for (int i = 0; i < list->count; ++i) {
    if (action_entry_match(&list->entries[i], state, dbms_error, process_died, log_text, timeout,
                           internal_error))
      return &list->entries[i];
  }
  return nullptr;
}

}  // extern "C"

void clear_action_list(action_list *list) {
  for (int i = 0; i < list->count; ++i) {
    action_entry &e = list->entries[i];
    for (char *pattern : {e.dbms_error_pattern, e.process_died_pattern, e.log_pattern}) {
      if (pattern) regcmp_free(pattern);
    }
    free(e.message);
    e = action_entry {};
  }
  list->count = 0;
}
