/*
** The DBMS message log reader: the log is opened once at its end, and each
** scan returns the text the DBMS appended since the previous scan, at most
** its last max_log_burst bytes.
*/
#ifndef DVZ_LOG_SCANNER_H
#define DVZ_LOG_SCANNER_H

#include <cstddef>

/* Most bytes of new text one scan hands out: of a longer burst only the
** end is read, and what came before it is skipped. */
constexpr size_t max_log_burst = 1024 * 1024;

extern "C" {

/* Remembers path and opens the log at its end; the result of open_log_file. */
int init_scan_log_file(const char *path);

/* (Re)opens the remembered log, positioned at its end. 1 on success; else 0
** after 4320 or 4330, with no log open. */
int open_log_file(void);

/* The text appended since the last scan: all of it up to max_log_burst
** bytes, else its last max_log_burst bytes. "" when there is none, or NULL
** when the log is not open or no buffer can be had (4300). The text lives
** in the reader's buffer until release_log_text or the next scan. */
const char *scan_log_file(void);

/* Frees the buffer of the last scan's text; the text is gone after it. */
void release_log_text(void);
}

/* Size of the reader's buffer (0 when it holds none), for tests. */
size_t scan_log_buffer_size();

#endif
