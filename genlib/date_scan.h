/*
** date_scan.h: the field readers of the DBDATE scanner (date_scan.cpp),
** which the DATE text modules share. Each reads at *position and, on
** success, advances it past what it read. Internal; C linkage for the
** names the client library has always had.
*/
#ifndef DVZ_GENLIB_DATE_SCAN_H
#define DVZ_GENLIB_DATE_SCAN_H

#include <stdint.h>

extern "C" {

/* A month as one or two digits or as a name of the month caches (full
** names first): 0 with *month, the digits read (0 for a name) and
** *by_name; -1 when none is there. */
int scan_for_month(const char **position, int *month, int *digits, int *by_name);
/* One to max_digits digits: 0 with *value and *digits, or -1. */
int scan_for_digits(const char **position, int max_digits, int *value, int *digits);
/* An era name of the era caches at *position (the longest that matches):
** 0 with *name pointing at it in the text and *length, or -1. */
int scan_for_era(const char **position, const char **name, int *length);
/* The first position at which text contains name: 0 with *position, or
** -1. */
int scan_for_substring(const char *text, const char *name, int *position);
/* The month whose catalog abbreviation occurs first, in month order,
** anywhere in the lower-cased text: 0 with *month (1-12), or -1. */
int _ggtmonth(const char *text, int *month);
}

#endif
