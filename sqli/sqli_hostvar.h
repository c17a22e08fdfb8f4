/*
** sqli_hostvar.h: value transfer between a source of one host type and a
** host variable of another, used by GET DIAGNOSTICS and the descriptor
** and fetch paths.
*/
#ifndef DVZ_SQLI_HOSTVAR_H
#define DVZ_SQLI_HOSTVAR_H

/* Converts the value at src (host type srctype, srclen bytes) into dst
** (host type dsttype, dstlen bytes). Returns 0, or the error recorded
** (-486 for a type of -1 or from 200 up). */
int _sqvar2var(const char *src, int srctype, int srclen, char *dst, int dsttype, int dstlen);

#endif
