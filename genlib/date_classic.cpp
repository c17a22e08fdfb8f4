/*
** date_classic.cpp: the classic DBDATE reader. It turns a DBDATE such as
** "DMY4-" into a picture ("dd-mm-yyyy", kept in dbdatefmt) and builds such
** a specification from the platform's date format. Nothing in the client
** library calls it: the locale environment translates DBDATE itself
** (dbdate_to_gl_date). Kept for programs that read dbdatefmt.
**
** DBDATE (default "MDY4/") holds D, M and Y (either case) in the order of
** the fields, Y followed by the year width 2 or 4, then optionally the
** separator character and a trailing era marker C1, J1 or J2.
*/
#include <langinfo.h>

#include <cctype>
#include <cstring>
#include <string>

#include "date_internal.h"
#include "os_env.h"

extern "C" {

char dbdatefmt[DBDATEFMT_SIZE];
int initflg;

}  // extern "C"

namespace {

constexpr const char *default_dbdate = "MDY4/";

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

extern "C" {

/* 0 when dbdate holds exactly one D, one M and one Y followed by 2 or 4;
** else -1. */
int chkfmt(const char *dbdate) {
  if (dbdate == nullptr) return -1;
  int days = 0, months = 0, years = 0;
  for (const char *p = dbdate; *p != '\0'; ++p) {
    char c = upper(*p);
    if (c == 'D') ++days;
    if (c == 'M') ++months;
    if (c == 'Y') {
      ++years;
      if (p[1] != '2' && p[1] != '4') return -1;
    }
  }
  return days == 1 && months == 1 && years == 1 ? 0 : -1;
}

/* The separator a DBDATE character stands for: blank, '-', '.' and '/'
** themselves, '0' none (NUL), anything else '/'. */
int datesep(int c) {
  switch (c) {
    case ' ':
    case '-':
    case '.':
    case '/':
      return c;
    case '0':
      return '\0';
    default:
      return '/';
  }
}

/* A trailing era marker of dbdate (trailing blanks ignored): 1 for C1 or
** J1, 2 for J2, else 0. */
int search_c1(const char *dbdate) {
  if (dbdate == nullptr) return 0;
  size_t n = std::strlen(dbdate);
  while (n > 0 && dbdate[n - 1] == ' ')
    --n;
  if (n < 2 || (dbdate[n - 1] != '1' && dbdate[n - 1] != '2')) return 0;
  char letter = upper(dbdate[n - 2]);
  if (letter == 'C' && dbdate[n - 1] == '1') return 1;
  if (letter == 'J') return dbdate[n - 1] == '1' ? 1 : 2;
  return 0;
}

/* Builds dbdatefmt from DBDATE (or the default) and sets initflg: 0, or
** -1212 for an invalid DBDATE (dbdatefmt then empty). */
int getfmt(void) {
  const char *dbdate = ggetenv("DBDATE");
  if (dbdate == nullptr || *dbdate == '\0') dbdate = default_dbdate;
  dbdatefmt[0] = '\0';
  if (chkfmt(dbdate) != 0) return gls_err_bad_dbdate;
  int marker = search_c1(dbdate);
  std::string fields[3];
  int count = 0;
  char era = '\0';
  const char *p = dbdate;
  for (; *p != '\0' && count < 3; ++p) {
    char c = upper(*p);
    if (c == 'D') {
      fields[count++] = "dd";
    } else if (c == 'M') {
      fields[count++] = "mm";
    } else if (c == 'E') {
      era = 'e';
    } else if (c == 'G' || c == 'N') {
      era = 'g';
    } else if (c == 'Y') {
      std::string year = p[1] == '4' ? "yyyy" : "yy";
      ++p;
      if (era == '\0' && marker != 0) era = marker == 1 ? 'g' : 'e';
      fields[count++] = era != '\0' ? std::string(1, era) + year : year;
    } else {
      return gls_err_bad_dbdate;
    }
  }
  int separator = datesep(*p);
  std::string picture = fields[0];
  for (int i = 1; i < 3; ++i) {
    if (separator != '\0') picture += static_cast<char>(separator);
    picture += fields[i];
  }
  if (picture.size() >= sizeof dbdatefmt) return gls_err_bad_dbdate;
  std::memcpy(dbdatefmt, picture.c_str(), picture.size() + 1);
  initflg = 1;
  return 0;
}

/* REQUIRES: out holds DBDATEFMT_SIZE bytes. dbdatefmt, built first when
** needed: 0 or getfmt's error. */
int fmtstr(char *out) {
  if (!initflg) {
    int status = getfmt();
    if (status != 0) return status;
  }
  std::memcpy(out, dbdatefmt, sizeof dbdatefmt);
  return 0;
}

/* REQUIRES: out holds DBDATEFMT_SIZE bytes. A DBDATE specification from
** the platform's date format, year width 4 ("%d.%m.%y" gives "DMY4."):
** 0, or -1212 when the format lacks a day, month or year. */
int getdbdate(char *out) {
  const char *format = nl_langinfo(D_FMT);
  std::string spec;
  char separator = '\0';
  bool seen[3] = {};
  for (const char *p = format; p != nullptr && *p != '\0'; ++p) {
    if (*p != '%') {
      if (separator == '\0' && !spec.empty()) separator = *p;
      continue;
    }
    ++p;
    while (*p == 'E' || *p == 'O')
      ++p;
    int field = *p == 'd' || *p == 'e' ? 0 : *p == 'm' ? 1 : *p == 'y' || *p == 'Y' ? 2 : -1;
    if (field < 0 || seen[field]) {
      if (*p == '\0') break;
      continue;
    }
    seen[field] = true;
    spec += field == 0 ? "D" : field == 1 ? "M" : "Y4";
  }
  if (!seen[0] || !seen[1] || !seen[2]) return gls_err_bad_dbdate;
  spec += separator != '\0' && datesep(separator) == separator ? separator : '0';
  std::memcpy(out, spec.c_str(), spec.size() + 1);
  return 0;
}

/* The length of a DBDATE specification without its separator and era
** marker: up to and including the year width after the third field. */
int dbdatelen(const char *spec) {
  if (spec == nullptr) return 0;
  int fields = 0;
  const char *p = spec;
  while (*p != '\0' && fields < 3) {
    char c = upper(*p);
    if (c == 'D' || c == 'M') ++fields;
    if (c == 'Y') {
      ++fields;
      if (p[1] == '2' || p[1] == '4') ++p;
    }
    ++p;
  }
  return static_cast<int>(p - spec);
}

}  // extern "C"
