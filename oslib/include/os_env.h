/*
** os_env.h: the client library's environment. Every setting is read with
** ggetenv, which looks in the process environment, then in the current
** locale environment's copies of the locale variables, then in a table of
** known variables whose values come from built-in defaults, the
** installation's $DOVARIZADIR/etc/dovariza.rc and the user's ~/.dovariza
** (later sources stacked on earlier ones). Also here: the rc-file reader,
** the NLS defaults of the LC_ variables, the environment lists sent to the
** server at connect, growable name lists and the database NLS settings.
**
** Error word: gerrno (0 ok, -2 no memory, -3 no further value, -4 empty
** path, -5 unknown variable, -7 no name), shared with the path functions.
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_ENV_H
#define DVZ_OSLIB_OS_ENV_H

/* Where the installation is looked for when DOVARIZADIR is unset. */
#define DVZ_DEFAULT_DOVARIZADIR "/usr/dovariza"

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The error word of the environment, path and name-list functions. */
extern int gerrno;

/* A row of a defaults table: a variable name and its default (NULL: none).
** A row with a NULL name ends the table. */
typedef struct envdef_t {
  const char *name;
  const char *defval;
} envdef_t;

/* The built-in defaults: 123 rows and the end row. */
extern const envdef_t Dvz_DVals[];
/* A caller's further rows (gsetudenv), loaded after the built-in ones;
** NULL unless set. The table must outlive the variable table. */
extern const envdef_t *Dvz_UDVars;

/* One value of a variable: value is the copy in text[] or NULL (none);
** prev is the value it replaced. One allocation. */
typedef struct envelem_t {
  char *value;
  struct envelem_t *prev;
  char text[];
} envelem_t;

/* A row of the variable table: its values form a stack with the current
** value on top; cursor walks down the stack (ggetnenv). */
typedef struct evar_t {
  const char *name;
  envelem_t *current;
  envelem_t *cursor;
} evar_t;

/* The variable table (NULL until built) and a second table searched first
** when it has rows (nothing fills it). */
extern evar_t *Dvz_EVars;
extern int Num_EVars;
extern evar_t *Dvz_SVars;
extern int Num_SVars;

/* A growable list of owned texts: 16 slots at first, grown by 16. */
typedef struct namelist_t {
  int32_t count;
  int32_t capacity;
  char **names;
} namelist_t;

/* An environment list for the server: names are static texts (not freed),
** values are owned copies in the database's code set. */
typedef struct evlist_t {
  int32_t count;
  char **names;
  char **values;
} evlist_t;

/* The database NLS settings; longer values are cut to fit. */
typedef struct dbvars_t {
  char lc_ctype[65];
  char lc_collate[65];
  char dbnls[5];
} dbvars_t;
extern dbvars_t Dvz_DBVars;

/* The variables sent at connect (24), in NLS mode at connect (7), and in
** the secondary list (62). */
extern const char *const Dvz_MVarList[];
extern const int Num_MVarList;
extern const char *const Dvz_LVarList[];
extern const int Num_LVarList;
extern const char *const Dvz_SVarList[];
extern const int Num_SVarList;

/* rc-file flags: which NLS variables an rc file set (DBNLS only for "1" or
** "2"). */
enum {
  env_flag_dbnls = 1,
  env_flag_lang = 2,
  env_flag_lc_collate = 4,
  env_flag_lc_ctype = 8,
  env_flag_lc_monetary = 16,
  env_flag_lc_numeric = 32,
  env_flag_lc_time = 64
};

/* Look-ups. Returned texts belong to the environment, the locale
** environment or the table (valid until gFreeEVars); never free them. */

/* The value of name, or NULL: process environment, locale copies, table. */
char *ggetenv(const char *name);
/* The current locale environment's copy of one of the 14 locale variables
** (name compared without regard to case; LANG is not one), else NULL. */
char *ggetglsenv(const char *name);
/* Builds the table on first use; the process value (converted OS to client
** when it has bytes above 0x7F and a converter exists), else the table's.
** NULL with gerrno -7 (no name), -5 (unknown) or 0 (no value). */
char *ggetenv2(const char *name);
/* ggetenv. */
char *getsesenv(const char *name);
/* The value the current value replaced; NULL with gerrno -3 (none), -5, -7. */
char *ggetnenv(const char *name);
/* The row of that name (exact) with its cursor reset to the current
** value, or NULL. */
evar_t *search_evar(const char *name, evar_t *table, int count);
/* The built-in default of name in *defval (NULL: none); 0, or -1 for a
** name not in Dvz_DVals. */
int gdefenv(const char *name, const char **defval);

/* Building the table. */

/* Builds the table once (defaults, dovariza.rc, ~/.dovariza, NLS
** defaults); 0 (also when built already), or -2 without the OS context
** or memory, or the error of an rc file. */
int greadenv(void);
/* Pushes a copy of value (NULL: none) on name's stack: 0, -7 no name, -5
** unknown, -2 no memory. */
int ginsenv(const char *name, const char *value);
/* Loads the built-in rows, then the caller's rows; 0 or -2. */
int lddefenv(void);
int ldudefenv(void);
/* Sets the caller's defaults table (Dvz_UDVars). */
void gsetudenv(const envdef_t *table);
/* Adds the non-empty ':'-separated names of ENVIGNORE to list; 0 or -2. */
int ignoreenv(namelist_t *list);
/* Reads one rc file into the table, skipping names of ignore and ORing
** env_flag_* into *flags; *lines counts the lines read. 0 (also for a file
** that cannot be opened), -4 when the last variable line had an unknown
** name, or a negative error. */
int ldcffile(const char *path, namelist_t *ignore, int *lines, int *flags);
/* Reads the next variable line of an rc file into *buffer (grown by 128
** bytes as needed, *size its size), NUL-terminated, without its newline;
** comment and empty lines are skipped and every line counted in *lines.
** 0, -1 at the end of the file, -2 no memory (*buffer freed, *size 0). */
int _ggetcfline(FILE *file, char **buffer, int *size, int *lines);
/* Fills *element with a new element holding a copy of value (NULL: none),
** prev NULL; 0 or -2. */
int cr_envelem(envelem_t **element, const char *value);
/* Releases the table, every value and the put-list; the table is rebuilt
** on the next look-up. Variables put into the environment stay set. */
void gFreeEVars(void);

/* NLS defaults of the LC_ variables (rc flags in flags). */

/* Gives name its NLS default: language (or "en_US.819") unless an rc file
** set it; an empty process value is replaced too. 0 or a negative error. */
int gnlsenv(int flags, int flag, const char *name, const char *language);
/* LANG of the process when not empty, else of the rc files, else NULL. */
char *glangevar(int flags);
/* The process value when set and not empty, else NULL with *empty 1 when
** it is set to the empty text (0 otherwise). */
char *gnlsevar(const char *name, int *empty);

/* The process environment. */

/* Sets name to value ("" for NULL) in the process environment (copied:
** nothing of the caller's is kept); 0, -2 when it cannot be set, -7 for a
** name that cannot be a variable's (NULL, empty or holding '='). */
int gfeputenv(const char *name, const char *value);
int gputenv(const char *name, const char *value);
/* Puts DBNLS=0, DBMONEY=$., DBDATE=MDY4/ and DBPATH=. into the process
** environment; 0 or -2. */
int _os_clr_env(void);

/* Environment lists for the server. */

/* The connect list: DBPATH (REQUIRES non-NULL), the set connect variables
** and the locale ones; 0, or -1 with the list released. */
int _oscpevlist(evlist_t *list, const char *dbpath);
/* The secondary list of the set session variables; 0 or -1. */
int _oscsevlist(evlist_t *list);
/* Appends the variables of vars[0..nvars) that have a value at
** names/values[*count...], values converted client to database; 0 or -1. */
int setevlist(char **names, char **values, const char *const *vars, int nvars, int *count);
/* Appends Dvz_LVarList[index] with a plain copy of value; 0 or -1. */
int setevloc(char **names, char **values, int *count, const char *value, int index);
/* Frees the arrays and each value; the list is left empty. */
void _osfreevlist(evlist_t *list);

/* Name lists. */

/* A new empty list, or NULL when memory is short. */
namelist_t *_ginitnamelist(void);
/* Frees the list with its texts. */
void _gfreenamelist(namelist_t *list);
/* Appends a copy of name: its index, or -1 when memory is short. */
int _gaddnamelist(namelist_t *list, const char *name);
/* The index of name (exact), or -1. */
int _gsrchnamelist(const namelist_t *list, const char *name);

/* Database NLS settings (Dvz_DBVars). */

/* LC_COLLATE: loads the collation, stores on success (else its error);
** LC_CTYPE: stores and loads the classes (their result); DBNLS: stores, 0;
** other names: 0. */
int OS_setlang(const char *name, const char *value);
/* Sets DBNLS (else "0"), LC_CTYPE and LC_COLLATE from ggetenv; with reload,
** a changed value is loaded anew. 0 or the load's error. */
int OS_resetlang(int reload);
/* The stored LC_COLLATE, LC_CTYPE or DBNLS text; NULL for other names. */
char *OS_getlangvar(const char *name);
/* 1 when a LC_CTYPE value is stored, else 0. */
int OS_IsDbEnvSet(void);

#ifdef __cplusplus
}
#endif

#endif
