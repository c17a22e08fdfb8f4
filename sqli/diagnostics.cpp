/*
** diagnostics.cpp: the diagnostics area of the last operation and GET
** DIAGNOSTICS. Every status change brings the area up to date
** (_sqsetCODE); warnings, a routine's own state and text, and the
** current connection's names go into its records. The area is one heap
** block: a header and its records right behind it, growing by 8 records.
** Also the catalog message of a status code with its parameter put in.
*/
#include <algorithm>
#include <cstring>

#include "gl_chars.h"
#include "gl_locale.h"
#include "os_glsenv.h"
#include "os_messages.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_seams.h"

namespace {

constexpr int diag_step = 8;
constexpr int text_max = 8192; /* a record's own text and an item 6 value */
constexpr int errmsg_max = 360; /* geterrmsg's output with its NUL */

/* Host types GET DIAGNOSTICS hands values over with. */
enum { item_char = 100, item_int = 102, item_code = 103 };

/* Copies at most size - 1 bytes of the text at src and a NUL. */
void copy_text(char *dst, const char *src, size_t size) {
  const size_t n = src != nullptr ? strnlen(src, size - 1) : 0;
  if (n > 0) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

size_t area_bytes(int capacity) {
  return sizeof(sqli_diag_area) + sizeof(sqli_diag_rec) * static_cast<size_t>(capacity);
}

sqli_diag_rec *records_behind(sqli_diag_area *area) {
  return reinterpret_cast<sqli_diag_rec *>(reinterpret_cast<char *>(area) + sizeof *area);
}

/* A record takes the context's current server and connection names. */
void take_names(sqli_diag_rec *rec, const sqli_tcb *tcb) {
  copy_text(rec->server_name, tcb->server_name, sizeof rec->server_name);
  copy_text(rec->conn_name, tcb->conn_name, sizeof rec->conn_name);
}

/* A record takes SQLCODE and sqlerrm, the names too. */
void take_status(sqli_diag_rec *rec, const sqli_tcb *tcb) {
  take_names(rec, tcb);
  rec->code = *tcb->sqlcode;
  copy_text(rec->param, tcb->sqlca->sqlerrm, sizeof rec->param);
}

/* The records below the count may now hold something: the next clear
** resets them. */
void note_used(sqli_tcb *tcb) { tcb->diag_used = std::max(tcb->diag_used, tcb->diag->count); }

/* The next free record, the area grown when it is full; null after
** recording -406. */
sqli_diag_rec *append(sqli_tcb *tcb) {
  if (tcb->diag->count >= tcb->diag_capacity && dgrealloc(tcb) != 0) return nullptr;
  sqli_diag_rec *rec = &tcb->diag->recs[tcb->diag->count++];
  note_used(tcb);
  rec->sqlstate[0] = '\0';
  rec->code = 0;
  rec->textlen = 0;
  rec->text[0] = '\0';
  rec->param[0] = '\0';
  return rec;
}

/* Makes the area or grows it when full; false after recording -406. */
bool room_for_one(sqli_tcb *tcb) {
  if (tcb->diag == nullptr || tcb->diag->count >= tcb->diag_capacity) return dgrealloc(tcb) == 0;
  return true;
}

bool is_warning_state(const char *state) { return state[0] == '0' && state[1] == '1'; }

/* Puts a value into an item's host variable; false after a failed
** conversion (recorded by it). */
bool hand_over(const sqli_diag_item &item, const void *value, int type, int length) {
  return _sqvar2var(static_cast<const char *>(value), type, length,
                    static_cast<char *>(item.hostvar), item.hosttype, item.hostlen) == 0;
}

/* Length of the character at s in the current locale (1 in a single-byte
** one, and for a byte that starts no character). */
int char_length(gl_locale *loc, const char *s, size_t left) {
  if (loc == nullptr || gl_mb_loc_max(loc) <= 1) return 1;
  const int n = gl_full_mblen(loc, reinterpret_cast<const unsigned char *>(s),
                              static_cast<int>(std::min<size_t>(left, 4)));
  return n > 0 ? n : 1;
}

/* The statement items (exception number -1). */
int statement_items(sqli_diag_item *items, sqli_tcb *tcb) {
  for (sqli_diag_item *it = items; it->item != 0; ++it) {
    int32_t number = 0;
    switch (it->item) {
      case sqli_diag_number:
        number = tcb->diag != nullptr ? tcb->diag->count : 0;
        if (!hand_over(*it, &number, item_int, 4)) return -1;
        break;
      case sqli_diag_more:
        if (!hand_over(*it, "N", item_char, 2)) return -1;
        break;
      case sqli_diag_rowcount:
        number = tcb->sqlca->sqlerrd[2];
        if (!hand_over(*it, &number, item_int, 4)) return -1;
        break;
      default:
        _sqdiagerr(SQLI_E_DIAGITEM, tcb);
        return -1;
    }
  }
  return *tcb->sqlcode;
}

/* The items of record index. */
int record_items(sqli_diag_item *items, int index, sqli_tcb *tcb) {
  char state[SQLI_SQLSTATE_SIZE] = {};
  int32_t code = 0;
  int msgnum = 0;
  if (MapException(index, state, &code, &msgnum, tcb) != 0) return -1;
  /* A failed hand-over records its error, which may move the area: the
  ** items read a copy of the record. */
  const sqli_diag_rec rec = tcb->diag->recs[index - 1];
  const bool warning_hint = code == 0 && rec.sqlstate[0] != '\0';

  /* The message text: a standard text, the catalog text of the code, or
  ** the record's own text (a routine's error, or a warning it raised). */
  char text[text_max + 1] = {};
  bool origin_user = false;
  if (msgnum > 0) {
    rget_lmsg(msgnum, text, text_max, nullptr);
  } else if (!warning_hint && code != SQLI_E_ROUTINE) {
    if (rec.param[0] != '\0') {
      geterrmsg(code, text, rec.param);
    } else {
      rget_lmsg(code, text, text_max, nullptr);
    }
  } else {
    const int n = std::clamp(rec.textlen, 0, text_max);
    std::memcpy(text, rec.text, static_cast<size_t>(n));
    text[n] = '\0';
    copy_text(state, rec.sqlstate, sizeof state);
    origin_user = true;
  }
  text[text_max - 1] = '\0';
  size_t len = std::strlen(text);
  if (len > 0 && text[len - 1] == '\n') text[--len] = '\0';

  const char *class_origin = msgnum > 0 ? "ISO 9075" : origin_user ? "U0001" : "IX";
  const char *subclass_origin = msgnum > 0 ? "ISO 9075" : origin_user ? "U0001" : "IX000";
  for (sqli_diag_item *it = items; it->item != 0; ++it) {
    bool ok = true;
    int32_t number = 0;
    switch (it->item) {
      case sqli_diag_returned_sqlstate:
        ok = hand_over(*it, state, item_char, SQLI_SQLSTATE_SIZE);
        break;
      case sqli_diag_class_origin:
        ok = hand_over(*it, class_origin, item_char, 20);
        break;
      case sqli_diag_subclass_origin:
        ok = hand_over(*it, subclass_origin, item_char, 20);
        break;
      case sqli_diag_message_text:
        ok = hand_over(*it, text, item_char, text_max);
        break;
      case sqli_diag_message_length:
        number = static_cast<int32_t>(len);
        ok = hand_over(*it, &number, item_int, 4);
        break;
      case sqli_diag_server_name:
        ok = hand_over(*it, rec.server_name, item_char, sizeof rec.server_name);
        break;
      case sqli_diag_connection_name:
        ok = hand_over(*it, rec.conn_name, item_char, sizeof rec.conn_name);
        break;
      case sqli_diag_dvz_sqlcode:
        number = code;
        ok = hand_over(*it, &number, item_code, 4);
        break;
      default:
        break; /* other items are passed over */
    }
    if (!ok) return -1;
  }
  return *tcb->sqlcode;
}

}  // namespace

int _sqdiagerr(int code, sqli_tcb *tcb) {
  sqlca_s *ca = tcb != nullptr ? tcb->sqlca : &sqlca;
  int32_t *sqlcode = tcb != nullptr ? tcb->sqlcode : &SQLCODE;
  char *sqlstate = tcb != nullptr ? tcb->sqlstate : SQLSTATE;
  ca->sqlcode = code;
  *sqlcode = code;
  std::strcpy(sqlstate, "IX001");
  return code;
}

int dgrealloc(sqli_tcb *tcb) {
  if (tcb->diag == nullptr) {
    auto *area = static_cast<sqli_diag_area *>(sqli_alloc(area_bytes(diag_step)));
    if (area == nullptr) {
      _sqdiagerr(SQLI_E_NOMEM, tcb);
      return -1;
    }
    area->count = 0;
    area->recs = records_behind(area);
    tcb->diag = area;
    tcb->diag_capacity = diag_step;
    tcb->diag_used = diag_step; /* new records: the next clear resets them all */
    return 0;
  }
  if (tcb->diag_capacity > tcb->diag->count) return 0;
  int capacity = tcb->diag_capacity;
  while (capacity <= tcb->diag->count)
    capacity += diag_step;
  auto *area = static_cast<sqli_diag_area *>(sqli_alloc(area_bytes(capacity)));
  if (area == nullptr) {
    _sqdiagerr(SQLI_E_NOMEM, tcb);
    return -1;
  }
  std::memcpy(area, tcb->diag, area_bytes(tcb->diag_capacity));
  area->recs = records_behind(area);
  sqli_release(tcb->diag);
  tcb->diag = area;
  tcb->diag_capacity = capacity;
  tcb->diag_used = capacity;
  return 0;
}

void _sqinitdiag(sqli_tcb *tcb) {
  std::strcpy(tcb->sqlstate, "00000");
  tcb->flags = static_cast<int16_t>(tcb->flags & ~(sqli_flag_dbstmt | sqli_flag_revoke));
  tcb->connect_stmt = 0;
  if ((tcb->flags & sqli_flag_clear) != 0) return;
  if (tcb->diag == nullptr && dgrealloc(tcb) != 0) return;
  /* Only the records written since the last clear: the others are clear
  ** already, and each is 9 KiB apart from the next. */
  const int used = std::min(tcb->diag_used, tcb->diag_capacity);
  for (int i = 0; i < used; ++i) {
    sqli_diag_rec &rec = tcb->diag->recs[i];
    rec.sqlstate[0] = '\0';
    rec.param[0] = '\0';
    rec.code = 0;
    rec.textlen = 0;
  }
  tcb->diag->count = 0;
  tcb->diag_used = 0;
}

int _sqsetCODE(sqli_tcb *tcb) {
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_clear);
  if (tcb->diag == nullptr) return -1;
  if (tcb->diag->count >= tcb->diag_capacity && dgrealloc(tcb) != 0) return -1;
  sqli_diag_area *diag = tcb->diag;
  const int32_t code = *tcb->sqlcode;
  const int n = diag->count;
  if (code == 0 && n > 0) {
    for (int i = 0; i < n; ++i)
      take_names(&diag->recs[i], tcb);
  } else if (code != 0 && code != SQLI_E_ROUTINE && n > 0 &&
             is_warning_state(diag->recs[0].sqlstate)) {
    /* An error after warnings: the error is the one record left. */
    sqli_diag_rec *rec = &diag->recs[0];
    take_status(rec, tcb);
    std::strcpy(rec->sqlstate, "00000");
    diag->count = 1;
  } else if (code != 0 && n > 0 && diag->recs[n - 1].code == 0 &&
             diag->recs[n - 1].sqlstate[0] == '\0') {
    take_status(&diag->recs[n - 1], tcb);
  } else {
    sqli_diag_rec *rec = append(tcb);
    if (rec == nullptr) return -1;
    take_status(rec, tcb);
  }
  return 0;
}

int MapException(int index, char *state, int *code, int *msgnum, sqli_tcb *tcb) {
  if (tcb->diag == nullptr || index < 1 || index > tcb->diag->count) {
    _sqdiagerr(SQLI_E_DIAGITEM, tcb);
    return -1;
  }
  const sqli_diag_rec &rec = tcb->diag->recs[index - 1];
  *code = rec.code;
  const char *hint = rec.code == 0 ? rec.sqlstate : "";
  const int number = MapSqlstate(state, rec.code, hint);
  if (number < 0) return -1;
  if (msgnum != nullptr) *msgnum = number;
  return 0;
}

void CpyWarn(const char *state, sqli_tcb *tcb) {
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_clear);
  if (!room_for_one(tcb)) return;
  sqli_diag_area *diag = tcb->diag;
  for (int i = 0; i < diag->count; ++i)
    if (std::strcmp(diag->recs[i].sqlstate, state) == 0) return;
  if (*tcb->sqlcode == 0 && std::strcmp(tcb->sqlstate, "00000") == 0) {
    copy_text(tcb->sqlstate, state, SQLI_SQLSTATE_SIZE);
    sqli_diag_rec *rec = &diag->recs[0];
    rec->code = 0;
    take_names(rec, tcb);
    copy_text(rec->sqlstate, state, sizeof rec->sqlstate);
    /* A first record written into an empty area is counted, so that a
    ** second warning is added behind it instead of over it. */
    if (diag->count == 0) diag->count = 1;
    note_used(tcb);
    return;
  }
  sqli_diag_rec *rec = append(tcb);
  if (rec == nullptr) return;
  take_names(rec, tcb);
  copy_text(rec->sqlstate, state, sizeof rec->sqlstate);
}

void _sqbeWARN(int flags, sqli_tcb *tcb) {
  const bool db = (tcb->flags & sqli_flag_dbstmt) != 0 || tcb->connect_stmt != 0;
  const bool revoke = (tcb->flags & sqli_flag_revoke) != 0;
  struct be_row {
    int bit;
    const char *db_state;
    const char *other_state;
  };
  static constexpr be_row rows[] = {
      {0x1, "01I01", "01004"}, {0x2, "01I03", "01003"},  {0x4, "01I04", "01007"},
      {0x8, "01I05", "01I05"}, {0x10, "01I06", "01I06"}, {0x20, "01I10", "01I11"},
  };
  for (const be_row &row : rows) {
    if ((flags & row.bit) == 0) continue;
    const char *state = db ? row.db_state : row.other_state;
    if (!db && row.bit == 0x1 && revoke) state = "01006";
    CpyWarn(state, tcb);
  }
}

void _sqfeWARN(int number) {
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr) return;
  switch (number) {
    case 1:
      CpyWarn("01004", tcb);
      break;
    case 3:
      CpyWarn("01I09", tcb);
      break;
    case 4:
      CpyWarn("01I07", tcb);
      break;
    case 5:
      CpyWarn("01I08", tcb);
      break;
    default:
      break;
  }
}

void _sq_udr_sqlstate(const char *state, int textlen, const char *text) {
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr || !room_for_one(tcb)) return;
  if (*tcb->sqlcode == 0 && std::strcmp(tcb->sqlstate, "00000") == 0)
    copy_text(tcb->sqlstate, state, SQLI_SQLSTATE_SIZE);
  const int n = text != nullptr ? std::clamp(textlen, 0, text_max) : 0;
  sqli_diag_area *diag = tcb->diag;
  sqli_diag_rec *last = diag->count > 0 ? &diag->recs[diag->count - 1] : nullptr;
  if (last != nullptr && last->code == SQLI_E_ROUTINE &&
      (last->sqlstate[0] == '\0' || is_warning_state(last->sqlstate))) {
    if (n > 0) {
      std::memcpy(last->text, text, static_cast<size_t>(n));
      last->textlen = n;
    }
    copy_text(last->sqlstate, state, SQLI_SQLSTATE_SIZE);
    if (tcb->sqlstate[0] == '*') copy_text(tcb->sqlstate, state, SQLI_SQLSTATE_SIZE);
    return;
  }
  sqli_diag_rec *rec = append(tcb);
  if (rec == nullptr) return;
  if (n > 0) {
    std::memcpy(rec->text, text, static_cast<size_t>(n));
    rec->textlen = n;
  }
  copy_text(rec->sqlstate, state, SQLI_SQLSTATE_SIZE);
}

void _sqsetconnsrvrnm(const char *server, const char *conn, sqli_tcb *tcb) {
  copy_text(tcb->server_name, server, sizeof tcb->server_name);
  copy_text(tcb->conn_name, conn, sizeof tcb->conn_name);
}

void setconnstmt(sqli_tcb *tcb) { tcb->connect_stmt = 1; }
void _iqdbflag(sqli_tcb *tcb) { tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_dbstmt); }
void _iqrevokeflag(sqli_tcb *tcb) {
  tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_revoke);
}

int sqli_diag_get(int, sqli_diag_item *items, int exception) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr || items == nullptr) return -1;
  if (exception == -1) return statement_items(items, tcb);
  return record_items(items, exception, tcb);
}

int geterrmsg(int code, char *buf, const char *param) {
  const char *msg = mmsgtext(code);
  if (msg == nullptr) msg = "";
  gl_locale *loc = CheckGlsEnv()->locale;
  size_t out = 0;
  bool substituted = false;
  /* Adds n bytes when they fit with the NUL; false when they do not. */
  auto put = [&](const char *s, size_t n) {
    if (out + n > static_cast<size_t>(errmsg_max - 1)) return false;
    std::memcpy(buf + out, s, n);
    out += n;
    return true;
  };
  for (size_t i = 0; msg[i] != '\0';) {
    if (msg[i] == '%') {
      /* The letter after "%" goes; the parameter comes in its place the
      ** first time, nothing later. */
      ++i;
      if (msg[i] != '\0') i += static_cast<size_t>(char_length(loc, msg + i, std::strlen(msg + i)));
      if (substituted || param == nullptr) {
        substituted = true;
        continue;
      }
      substituted = true;
      bool full = false;
      for (size_t j = 0; param[j] != '\0';) {
        const int n = char_length(loc, param + j, std::strlen(param + j));
        if (!put(param + j, static_cast<size_t>(n))) {
          full = true;
          break;
        }
        j += static_cast<size_t>(n);
      }
      if (full) break;
      continue;
    }
    const int n = char_length(loc, msg + i, std::strlen(msg + i));
    if (!put(msg + i, static_cast<size_t>(n))) break;
    i += static_cast<size_t>(n);
  }
  buf[out] = '\0';
  return 0;
}

char *dvz_get_msg_param(void) {
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr) return nullptr;
  /* The caller may write through the pointer. */
  tcb->msgtext_written = 1;
  return tcb->msgtext;
}
