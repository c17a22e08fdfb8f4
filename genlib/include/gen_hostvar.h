/*
** gen_hostvar.h: host variables and typed values, and the display text of
** a typed value.
**
** rcvarval builds a value_t from an embedded-SQL program's variable (host
** type code 100-124, or an SQL code 0-50; 102 is taken as 103); rvalcvar
** stores a value into such a variable, converting as needed, and returns
** the conversion error word (toerrno). rvalstr writes the text a user sees
** of a value. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_HOSTVAR_H
#define DVZ_GENLIB_GEN_HOSTVAR_H

#include <stdint.h>

#include "gen_value.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decimals a FLOAT value shows (initially 16), and a SMALLFLOAT (initially
** -1: as dbfltprec). Process-wide; the program sets them. */
extern int dbfltprec;
extern int dbsmfltprec;

/* The variable record of the host types 121 (variable binary) and 124
** (lvarchar pointer). */
#define HOSTVAR_GROWABLE 0x1 /* the library may grow the buffer */
#define HOSTVAR_NULL 0x2
typedef struct dvz_hostbuf_t {
  int16_t flags;
  int32_t length; /* bytes of data */
  int32_t size; /* bytes of the buffer */
  char *data;
} dvz_hostbuf_t;

/* 0, or -1 for an unknown type, a null variable without a negative
** indicator, or a DECIMAL of more than 16 digit pairs. length: byte length
** for character and binary types, the precision word for DECIMAL and
** MONEY. indicator may be null. */
int rcvarval(char *variable, int type, value_t *v, int length, int16_t *indicator);
/* The conversion error word: 0 or negative. length: the variable's size,
** the precision word, or the DATETIME/INTERVAL qualifier (0: the value's). */
int rvalcvar(value_t *v, char *variable, int type, int length, int16_t *indicator);

/* The display text into width bytes (left- or right-justified, blank
** padded, not terminated; 0: the whole text, terminated). 0, -1207 (the
** field then holds "*"), -1223 or -1260. */
int rvalstr(value_t *v, char *buffer, int width, int left);
/* As rvalstr with 16 digits for a FLOAT value. */
int rvalstr_16prec(value_t *v, char *buffer, int width, int left);
/* rdataval of a stored column, then rvalstr. */
int rdatastr(const char *bytes, int type, int length, char *buffer, int width, int left);

#ifdef __cplusplus
}
#endif

#endif
