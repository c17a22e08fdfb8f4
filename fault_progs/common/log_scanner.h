/*
** The DBMS message log reader: the log is opened once at its end, and each
** scan returns the text the DBMS appended since the previous scan.
*/
#ifndef DVZ_LOG_SCANNER_H
#define DVZ_LOG_SCANNER_H

#include <cstddef>

extern "C" {

/* Remembers path and opens the log at its end; the result of open_log_file. */
int init_scan_log_file(const char *path);

/* (Re)opens the remembered log, positioned at its end. 1 on success; else 0
** after 4320 or 4330, with no log open. */
int open_log_file(void);

/* The text appended since the last scan, "" when there is none, or NULL
** when the log is not open or no buffer can be had. The text lives in the
** reader's buffer until the next scan. */
const char *scan_log_file(void);
}

/* Size of the reader's buffer (0 before the first scan), for tests. */
size_t scan_log_buffer_size();

#endif
