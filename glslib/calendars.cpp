/*
** The calendar table of the locale library: the names a locale file's TIME
** section may give (each with its newline, since the reader compares a
** whole line) and their ids. Read by the TIME reader and langinfo item 73.
** The date conversions between calendars come with the time layer.
*/

#include "gl_calendar.h"

extern "C" {

const gl_wchar _gl_gregorian[] = {'g', 'r', 'e', 'g', 'o', 'r', 'i', 'a', 'n', '\n', 0};
const gl_wchar _gl_hebrew[] = {'h', 'e', 'b', 'r', 'e', 'w', '\n', 0};
const gl_wchar _gl_islamic[] = {'i', 's', 'l', 'a', 'm', 'i', 'c', '\n', 0};
const gl_wchar _gl_arabic[] = {'a', 'r', 'a', 'b', 'i', 'c', '\n', 0};

const gl_calendar_name gls_canned_calendars[] = {
    {"gregorian\n", _gl_gregorian, GL_CAL_GREGORIAN},
    {"hebrew\n", _gl_hebrew, GL_CAL_HEBREW},
    {"islamic\n", _gl_islamic, GL_CAL_ISLAMIC},
    {"arabic\n", _gl_arabic, GL_CAL_ARABIC},
    {nullptr, nullptr, 0},
};

int gl_cal_gregorian_to_local(gl_locale *loc, const alt_tm *gregorian, alt_tm *local) {
  if (loc == nullptr) return -1;
  switch (loc->ltime.calendar) {
    case GL_CAL_GREGORIAN:
      *local = *gregorian;
      return 0;
    case GL_CAL_HEBREW:
      return gl_cal_gregorian_to_hebrew(gregorian, local);
    case GL_CAL_ISLAMIC:
      return gl_cal_gregorian_to_islamic(gregorian, local);
    default:
      return -1;
  }
}

int gl_cal_local_to_gregorian(gl_locale *loc, const alt_tm *local, alt_tm *gregorian) {
  if (loc == nullptr) return -1;
  switch (loc->ltime.calendar) {
    case GL_CAL_GREGORIAN:
      *gregorian = *local;
      return 0;
    case GL_CAL_HEBREW:
      return gl_cal_hebrew_to_gregorian(local, gregorian);
    case GL_CAL_ISLAMIC:
      return gl_cal_islamic_to_gregorian(local, gregorian);
    default:
      return -1;
  }
}

int gl_alt_getcentury(gl_locale *loc) {
  if (loc == nullptr) return 0;
  switch (loc->ltime.calendar) {
    case GL_CAL_HEBREW:
      return 57;
    case GL_CAL_ISLAMIC:
      return 14;
    default:
      return 0;
  }
}

}  // extern "C"
