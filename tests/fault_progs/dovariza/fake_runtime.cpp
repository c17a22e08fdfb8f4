/*
** The recording fake of the embedded-SQL runtime (fake_runtime.h). The
** journal spells each argument as the probe passed it: numbers in decimal
** (flags in hex), null pointers as "null", texts quoted, statement texts
** as their fragments, the cursor handle as "h", statement records by their
** order of first use ("rec0", "rec1", ...), and the output sqlda by its
** shape.
*/
#include "fake_runtime.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "os_messages.h"
#include "sqli_connect.h"
#include "sqli_cursor.h"
#include "sqli_statement.h"
#include "sqli_status.h"

extern "C" {
sqlca_s sqlca;
int32_t SQLCODE;
char SQLSTATE[SQLI_SQLSTATE_SIZE];
}

namespace fakert {
namespace {

int handle_target; /* the cursor handle is its address */
std::vector<const void *> records_seen;

std::string text(const char *t) { return t ? "'" + std::string(t) + "'" : "null"; }
std::string ptr(const void *p) { return p ? "set" : "null"; }
std::string hex(int32_t v) {
  char b[16];
  snprintf(b, sizeof b, "0x%x", static_cast<unsigned>(v));
  return b;
}
std::string handle(const void *h) { return h == &handle_target ? "h" : h ? "other" : "null"; }
std::string cmdtxt(const char *const *c) {
  if (!c) return "null";
  std::string s = "[";
  for (const char *const *f = c; *f; ++f)
    s += (f == c ? "'" : ",'") + std::string(*f) + "'";
  return s + "]";
}
std::string record(const void *r) {
  if (!r) return "null";
  for (size_t i = 0; i < records_seen.size(); ++i)
    if (records_seen[i] == r) return "rec" + std::to_string(i);
  records_seen.push_back(r);
  return "rec" + std::to_string(records_seen.size() - 1);
}
/* The shape of the output descriptor: count, occurrence word, and per
** entry type/length/indicator. */
std::string shape(const sqlda *d) {
  if (!d) return "null";
  std::string s = "sqlda{" + std::to_string(d->sqld) + "," + std::to_string(d->desc_occ) + ",'" +
                  std::string(d->desc_name, strnlen(d->desc_name, sizeof d->desc_name)) + "'";
  for (int i = 0; i < d->sqld && d->sqlvar; ++i)
    s += ";" + std::to_string(d->sqlvar[i].sqltype) + "/" + std::to_string(d->sqlvar[i].sqllen) +
         "/" + ptr(d->sqlvar[i].sqlind);
  return s + "}";
}

/* Journals line and sets the status to the next scripted code of name. */
int32_t record_call(const std::string &name, const std::string &line) {
  state &s = fake();
  s.journal.push_back(name + (line.empty() ? "" : " " + line));
  int32_t code = 0;
  auto it = s.codes.find(name);
  if (it != s.codes.end() && !it->second.empty()) {
    code = it->second.front();
    it->second.pop_front();
  }
  sqlca.sqlcode = code;
  SQLCODE = code;
  return code;
}

}  // namespace

state &fake() {
  static state s;
  return s;
}

void reset() {
  fake() = state {};
  records_seen.clear();
  memset(&sqlca, 0, sizeof sqlca);
  SQLCODE = 0;
}

std::vector<std::string> calls_named(const std::string &prefix) {
  std::vector<std::string> out;
  for (const std::string &l : fake().journal)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

}  // namespace fakert

using namespace fakert;

extern "C" {

void sqli_connect_open(int32_t version, int32_t type, const char *dbenv, const char *name,
                       void *user, int32_t concurrent) {
  record_call("connect_open", std::to_string(version) + " " + std::to_string(type) + " " +
                                  text(dbenv) + " " + text(name) + " " + ptr(user) + " " +
                                  std::to_string(concurrent));
}

void sqli_connect_close(int32_t type, const char *name, int32_t mode, int32_t keep) {
  int32_t before = sqlca.sqlcode;
  int32_t code =
      record_call("connect_close", std::to_string(type) + " " + text(name) + " " +
                                       std::to_string(mode) + " " + std::to_string(keep));
  /* keep: the status already recorded stays, as the runtime promises. */
  if (keep && code == 0) sqlca.sqlcode = SQLCODE = before;
}

void *sqli_curs_locate(int32_t version, const char *name, int32_t flags) {
  int32_t code =
      record_call("locate", std::to_string(version) + " " + text(name) + " " + hex(flags));
  return code < 0 ? nullptr : &handle_target;
}

int32_t sqli_curs_decl_stat(int32_t version, void *h, const char *name, const char *const *c,
                            sqli_varlist *input, sqli_varlist *output, int32_t options,
                            void *coll_a, void *coll_b, int32_t kind, int32_t coll_word,
                            int32_t coll_flag) {
  return record_call("declare", std::to_string(version) + " " + handle(h) + " " + text(name) + " " +
                                    cmdtxt(c) + " " + ptr(input) + " " + ptr(output) + " " +
                                    std::to_string(options) + " " + ptr(coll_a) + " " +
                                    ptr(coll_b) + " " + std::to_string(kind) + " " +
                                    std::to_string(coll_word) + " " + std::to_string(coll_flag));
}

int32_t sqli_curs_open(int32_t version, void *h, sqlda *input, const char *descname,
                       struct value_t *values, int32_t usage, int32_t reoptimize) {
  return record_call("open", std::to_string(version) + " " + handle(h) + " " + ptr(input) + " " +
                                 text(descname) + " " + ptr(values) + " " + std::to_string(usage) +
                                 " " + std::to_string(reoptimize));
}

int32_t sqli_curs_fetch(int32_t version, void *h, sqli_varlist *position, sqlda *output,
                        const char *descname, sqli_fetchspec *spec) {
  state &s = fake();
  std::string line =
      std::to_string(version) + " " + handle(h) + " " + ptr(position) + " " + shape(output) + " " +
      text(descname) + " " +
      (spec ? "{" + std::to_string(spec->position) + "," + std::to_string(spec->direction) + "," +
                  std::to_string(spec->indicator_required) + "}"
            : "null");
  int32_t code = record_call("fetch", line);
  if (code != 0) return code;
  if (s.next_row >= s.rows.size()) {
    sqlca.sqlcode = SQLCODE = 100;
    return 100;
  }
  const row &r = s.rows[s.next_row++];
  if (output && output->sqld == 2 && output->sqlvar) {
    size_t room = static_cast<size_t>(output->sqlvar[0].sqllen);
    size_t n = std::min(r.name.size() + 1, room);
    memcpy(output->sqlvar[0].sqldata, r.name.c_str(), n);
    memcpy(output->sqlvar[1].sqldata, &r.value, sizeof r.value);
  }
  /* The row count as the server's replies would move it: only when a new
  ** batch arrives, never for a row served from the buffer. */
  size_t delivered = s.next_row;
  size_t batch = static_cast<size_t>(s.batch);
  size_t batches = (delivered + batch - 1) / batch;
  switch (s.pattern) {
    case row_count_pattern::zero:
      sqlca.sqlerrd[2] = 0;
      break;
    case row_count_pattern::per_batch:
      sqlca.sqlerrd[2] =
          static_cast<int32_t>(std::min(batch, s.rows.size() - (batches - 1) * batch));
      break;
    case row_count_pattern::cumulative:
      sqlca.sqlerrd[2] = static_cast<int32_t>(std::min(batches * batch, s.rows.size()));
      break;
    case row_count_pattern::falling:
      sqlca.sqlerrd[2] = static_cast<int32_t>(s.rows.size() - delivered);
      break;
  }
  return 0;
}

int32_t sqli_curs_close(int32_t version, void *h) {
  return record_call("close", std::to_string(version) + " " + handle(h));
}

int32_t sqli_stmt(int32_t version, sqli_stmtrec *rec, const char *const *c, int32_t ninput,
                  sqlvar_struct *input, struct value_t *values, void *coll_a, void *coll_b,
                  void *coll_c, int32_t kind, int32_t coll_word, int32_t coll_flag) {
  return record_call("stmt", std::to_string(version) + " " + record(rec) + " " + cmdtxt(c) + " " +
                                 std::to_string(ninput) + " " + ptr(input) + " " + ptr(values) +
                                 " " + ptr(coll_a) + " " + ptr(coll_b) + " " + ptr(coll_c) + " " +
                                 std::to_string(kind) + " " + std::to_string(coll_word) + " " +
                                 std::to_string(coll_flag));
}

int32_t sqli_trans_commit(void) { return record_call("commit", ""); }

int rgetlmsg(int32_t number, char *buffer, int16_t size, int32_t *length) {
  state &s = fake();
  fake().journal.push_back("rgetlmsg " + std::to_string(number) + " " + std::to_string(size));
  if (s.catalog_fails) {
    if (size > 0) buffer[0] = '\0';
    return -1;
  }
  /* Fills the whole buffer past the text, as a careless catalog would, so
  ** only the reported length ends the text. */
  memset(buffer, 'X', static_cast<size_t>(size));
  size_t n = std::min(s.catalog_text.size(), static_cast<size_t>(size));
  memcpy(buffer, s.catalog_text.data(), n);
  if (length) *length = s.catalog_length >= 0 ? s.catalog_length : static_cast<int32_t>(n);
  return 0;
}

}  // extern "C"
