/*
** os_trace.h: the SQL protocol trace that SQLIDEBUG switches on. The
** runtime's buffered message I/O hands every buffer it reads or writes to
** dump_read_buffer / dump_write_buffer, and records connects, connection
** switches and disconnects with trace_connect. SQLIDEBUG is "1[:]name"
** for the readable hexadecimal form or "2:name" for the binary form with
** time stamps; the file is name_<pid>, and a process forked while tracing
** moves to <first file>_<its pid> at its first traced buffer.
**
** Set up once per process (_sqdbgsetup, from the OS context's creation and
** from the association services' initialisation); files are never closed.
**
** C linkage, except the C++ section at the end (the trace state and the
** file openers, which hold the first path in a std::string).
*/
#ifndef DVZ_OSLIB_OS_TRACE_H
#define DVZ_OSLIB_OS_TRACE_H

#include <stdint.h>

#include "os_context.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Values of _sqdbg. */
enum { sqdbg_off = 0, sqdbg_text = 4, sqdbg_binary = 8 };

/* _sqdbgfile when no trace file could be made: the text trace then goes to
** the standard error output and processes never switch files. */
#define SQDBG_NO_FILE 2

/* The highest protocol version the trace records. */
#define SQDBG_MAX_VERSION 311

/* The trace form (sqdbg_*). Written by _sqdbgsetup and by a failure to
** make a binary trace file; read by the runtime before tracing. */
extern int16_t _sqdbg;
/* The current trace file's descriptor, or SQDBG_NO_FILE. */
extern int32_t _sqdbgfile;

/* Reads SQLIDEBUG (through ggetenv, so an rc file may set it) and opens
** the process's first trace file when it asks for one; returns status.
** Does nothing in a process that has already set up (or has its file). */
int _sqdbgsetup(int status);

/* Records the protocol version for the heads of forked processes' files
** (at most SQDBG_MAX_VERSION is kept). Called by the runtime. */
void dvz_trace_setversion(int version);

/* Makes the trace follow process pid: switches to its file, or writes a
** fork marker into the current file and makes the process's own file. */
void change_sqdbg(int pid, ostcb_t *context);

/* Traces a buffer read from the server: count bytes (a count of 0 or less
** traces the header, or an empty record, alone). assoc is the
** connection's association id (the service call's ascid; NULL shows 0);
** the direction follows the context's fork flag. */
void dump_read_buffer(int count, const char *bytes, ostcb_t *context, const void *assoc);
/* Traces a buffer written to the server; nothing for a count below 1. */
void dump_write_buffer(const char *bytes, int count, ostcb_t *context, const void *assoc);
/* Writes the time stamp of a binary record: the time of day in seconds as
** a big-endian IEEE double. */
void dump_tmstamp(void);

/* Kinds of trace_connect. */
enum { sqdbg_connect = 0, sqdbg_setconnection = 1, sqdbg_disconnect = 2 };
/* Traces a connection event (kind sqdbg_*) with two names (each cut to 80
** bytes, NULL as empty) and the caller's 16-bit number; nothing when the
** trace is off. */
void trace_connect(int kind, const char *name1, const char *name2, int number);

#ifdef __cplusplus
}

#include <string>

/* One row of the process table: a process that has traced (pid 0 marks a
** free row), its OS context and its trace file's descriptor. */
struct sqdbg_row {
  int32_t pid;
  ostcb_t *context;
  int32_t fd;
};

/* The trace state of the process. Written only by the trace (and the
** version by dvz_trace_setversion); the rows grow by ten at a time and are
** never freed. */
struct sqdbg_state {
  int32_t current_row; /* the row of the process now tracing */
  int32_t row_count; /* rows allocated */
  int16_t version; /* written at the head of forked processes' files */
  std::string first_path; /* the full path of the first trace file */
  sqdbg_row *rows; /* NULL until the first file is made */
};
extern sqdbg_state sqlidebug;

/* Makes the trace file name_<pid>, sets _sqdbgfile to it (SQDBG_NO_FILE on
** failure, which switches a binary trace off with its message) and stores
** the full path in *path. */
void fe_open_sqdbgfile(const char *name, int pid, std::string *path);
/* Makes the trace file of process pid and records it in row (0 for the
** first file, -1 for a new row at the end of the table). */
void open_sqdbgfile(const char *name, int row, int pid);
#endif

#endif
