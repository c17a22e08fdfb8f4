/*
** sqli_globals.h: the runtime's public tuning globals: the smallest fetch
** buffer, the rows of an array fetch, and whether ANSI warnings are
** dropped. Programs set the first two before their fetches. C linkage.
*/
#ifndef DVZ_SQLI_GLOBALS_H
#define DVZ_SQLI_GLOBALS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

extern int16_t FetBufSize; /* smallest fetch buffer (4096) */
extern int16_t FetArrSize; /* rows per array fetch; 0 or less: none */
extern int32_t Noansiwarn; /* 1: ANSI warnings (flag 0x10) dropped */

#ifdef __cplusplus
}
#endif

#endif
