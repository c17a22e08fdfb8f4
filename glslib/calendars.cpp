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

}  // extern "C"
