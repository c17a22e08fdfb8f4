/*
** locale_overlay - hand-authored TIME data that the system's locale
** sources do not hold, merged into a LocaleData record before it is
** written: the calendar, month names of a calendar other than the
** Gregorian, and eras in this library's grammar. Overlays are UTF-8 text
** files under glslib/gen/overlays/; each text is converted to the target
** code set through the charmap's Unicode map. Used by locale_gen.cpp.
**
** File format: one entry a line, a keyword, blanks, then the value to the
** end of the line; lines that are empty or begin with "#" are comments.
**   calendar <name>    a name of the library's calendar table, without
**                      its newline (at most once)
**   mon <name>         the next full month name
**   abmon <name>       the next abbreviated month name
**   era <era string>   the next era string
** A list an overlay gives replaces the system locale's list whole; mon and
** abmon go together, with the month count of the calendar.
*/
#ifndef DVZ_GLSLIB_GEN_LOCALE_OVERLAY_H
#define DVZ_GLSLIB_GEN_LOCALE_OVERLAY_H

#include <cstdint>
#include <string>
#include <vector>

#include "locale_glibc.h"

namespace glsgen {

/* An overlay as read: texts in Unicode. */
struct TimeOverlay {
  std::string calendar; /* empty: the locale keeps its calendar */
  std::vector<std::u32string> mon, abmon, eras;
};

/* Reads the overlay file at path. False with a message (file and line) in
** *error. */
bool read_overlay(const std::string &path, TimeOverlay &out, std::string *error);

/* Merges the overlay into data, each text converted to data's code set.
** False with a message when a character is not in the code set or the
** month lists do not fit the calendar. */
bool apply_overlay(const TimeOverlay &overlay, LocaleData &data, std::string *error);

}  // namespace glsgen

#endif
