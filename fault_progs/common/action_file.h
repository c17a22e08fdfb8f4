/*
** The action file: the monitor's rule table, read once at start-up and
** matched after every probe (first matching rule wins). Patterns use the
** System V regcmp syntax (platform/svr4.h).
*/
#ifndef DVZ_ACTION_FILE_H
#define DVZ_ACTION_FILE_H

#include <cstdint>

#include "db_info.h"

extern "C" {

/* A rule's state "*": any state; as its new state, keep the state. */
constexpr int32_t rule_any_state = 0;

/* One rule, eleven words in file-field order. */
struct action_entry {
  int32_t state; /* rule_any_state or a db_state */
  char *dbms_error_pattern; /* compiled "^...$", or NULL (any) */
  char *process_died_pattern; /* compiled, or NULL (any) */
  char *log_pattern; /* compiled, or NULL (any) */
  int32_t timeout_given; /* 1 when `timeout` must match */
  int32_t timeout;
  int32_t internal_error_given;
  int32_t internal_error;
  int32_t new_state; /* rule_any_state (keep) or a db_state */
  int32_t action; /* 0 none .. 5 fmstart */
  char *message; /* owned copy, or NULL */
};

enum { MAX_ACTIONS = 400 };

struct action_list {
  action_entry entries[MAX_ACTIONS];
  int32_t count;
};

/* Action numbers. */
enum {
  ACTION_NONE = 0,
  ACTION_RESTART = 1,
  ACTION_TAKEOVER = 2,
  ACTION_STOP = 3,
  ACTION_CONFIG = 4,
  ACTION_FMSTART = 5
};

/* 1 when the file was read to its end; 0 when it could not be opened (4080)
** or the list overflowed (4100). */
int read_action_file(action_list *list, const char *path);

/* The first matching entry, or NULL. Either text may be NULL (absent). */
action_entry *find_action(action_list *list, int state, int dbms_error, const char *process_died,
                          const char *log_text, int timeout, int internal_error);

/* Fills one entry from the nine field texts (any may be NULL). Returns 1. */
int new_action_entry(action_entry *entry, const char *state, const char *dbms_error,
                     const char *process_died, const char *log_message, const char *time_out,
                     const char *internal_error, const char *new_state, const char *action,
                     const char *message, int line);

int action_entry_match(const action_entry *entry, int state, int dbms_error,
                       const char *process_died, const char *log_text, int timeout,
                       int internal_error);

/* 1 when the compiled pattern is found in the text. */
int re_eqs(const char *pattern, const char *text);

int encode_db_state(const char *text, int line);
int encode_action_type(const char *text, int line);
int encode_flag(const char *text, const char *field_name, int line);
}

/* Frees the patterns and messages of every entry and sets the count to 0.
** The monitor keeps its list for the whole run; tests reuse theirs. */
void clear_action_list(action_list *list);

#endif
