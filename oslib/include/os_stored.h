/*
** os_stored.h: byte, string and stored-value primitives of the client
** library. Blank-padded CHAR and length-prefixed VARCHAR buffers, the
** stored forms of SMALLINT, INTEGER, SMALLFLOAT and FLOAT (big-endian at
** any alignment; the float NULL forms are all 0xFF bytes), the 56-byte
** blob descriptor, thin file-descriptor wrappers and an 8-byte spin lock.
**
** Every stored number is big-endian whatever the host, including the
** network_* float forms: their conversion flag is kept in the signatures
** for the callers, but the bytes are the IEEE big-endian form for every
** flag. Counts are ints; a count that is not positive touches nothing.
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_STORED_H
#define DVZ_OSLIB_OS_STORED_H

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Strings (NUL-terminated) ---------------------------------------------- */

/* Appends src to dst (source first). */
void stcat(const char *src, char *dst);
/* Copies src to dst. */
void stcopy(const char *src, char *dst);
/* Length of s. */
int stleng(const char *s);
/* Length of s, at most n; 0 when n is not positive. */
int stnleng(const char *s, int n);
/* 0 when equal, else 1 or -1 by the first differing byte (unsigned); a
** shorter text is smaller. */
int stcmpr(const char *a, const char *b);
/* As stcmpr, each byte first mapped through the lower-case map
** _ix2lowmap. */
int stcmpri(const char *a, const char *b);
/* First position of c in s, or NULL; the terminating NUL is never found. */
char *stchr(const char *s, char c);
/* 0 when a and b agree in their first n characters or up to where both
** end or reach a blank (an end and a blank count alike), else -1; -1 when
** exactly one is NULL, 0 when both are or n is 0. */
int cmprstr(const char *a, const char *b, int n);
/* Cuts the trailing blanks of the first n bytes of s (all of it when n is
** negative) by writing a NUL after the last non-blank byte.
** REQUIRES: s holds n + 1 bytes when its first n bytes hold no NUL. */
void _sttrmrt(char *s, int n);

/* ---- Bytes (counted) --------------------------------------------------------- */

/* -1, 0 or 1 comparing n bytes as unsigned values; 0 when n <= 0. */
int bycmpr(const void *a, const void *b, int n);
/* Copy n bytes from src to dst; the areas may overlap. */
void bycopy(const void *src, void *dst, int n);
void bylcopy(const void *src, void *dst, int n);
/* Fills n bytes of dst with the byte c. */
void byfill(void *dst, int n, int c);
/* Bytes of the first n that remain when trailing blanks (0x20) are cut. */
int dvz_byleng(const char *buf, int n);
/* As dvz_byleng; in a multibyte current locale it walks the characters
** and cuts the final run of blank, non-control characters; an invalid
** character ends the walk, and the length is that of the characters
** before it without their final blank run. */
int byleng(const char *buf, int n);
/* Compares two blank-padded CHAR values of lengths la and lb as if the
** shorter were padded with blanks: -1, 0 or 1. */
int charcmp(const char *a, int la, const char *b, int lb);
/* 1 when all n bytes of buf equal c (or n <= 0), else 0. */
int _gIsRangeFilled(const void *buf, int n, int c);

/* ---- Stored values --------------------------------------------------------- */

/* Copies a stored CHAR(n) without its trailing blanks, NUL-terminated;
** to holds n + 1 bytes. */
void ldchar(const char *from, int n, char *to);
/* Stores text as CHAR(n) padded with blanks; a NULL text gives n blanks. */
void stchar(const char *from, char *to, int n);
/* Copies min(length byte, n) bytes of a stored VARCHAR and a NUL; returns
** that count. to holds n + 1 bytes. */
int ldvarchar(const char *from, int n, char *to);
/* Stores text as VARCHAR(n): a length byte of min(length, n, 255), then
** n bytes of text padded with blanks (to holds 1 + n bytes); a NULL text
** gives the NULL VARCHAR, 0x01 0x00. */
void stvarchar(const char *from, char *to, int n);

/* SMALLINT form. */
void stshort(int16_t value, void *to);
/* INTEGER form (32 bits: 80 00 00 00 loads as INT32_MIN); stlong
** returns 0. */
int32_t ldlong(const void *from);
int stlong(int32_t value, void *to);

/* SMALLFLOAT form; the value is narrowed to float when stored and
** widened when loaded. */
double ldfloat(const void *from);
void stfloat(double value, void *to);
/* FLOAT form. */
double lddbl(const void *from);
void stdbl(double value, void *to);
/* The same forms for a peer's float format; the bytes are the IEEE
** big-endian form whatever the flag. */
double network_ldfloat(const void *from, int flag);
void network_stfloat(double value, void *to, int flag);
double network_lddbl(const void *from, int flag);
void network_stdbl(double value, void *to, int flag);

/* Loads with the NULL forms: *isnull = 1 and the value of the all-0xFF
** bytes when the source is the NULL form, else *isnull = 0 and the value. */
double ldfltnull(const void *from, int16_t *isnull);
double network_ldfltnull(const void *from, int16_t *isnull, int flag);
double lddblnull(const void *from, int16_t *isnull);
double network_lddblnull(const void *from, int16_t *isnull, int flag);
/* Stores the NULL form when isnull is non-zero, else the value. */
void stfltnull(double value, void *to, int16_t isnull);
void network_stfltnull(double value, void *to, int16_t isnull, int flag);
void stdblnull(double value, void *to, int16_t isnull);
void network_stdblnull(double value, void *to, int16_t isnull, int flag);

/* ---- Blob descriptor ------------------------------------------------------- */

/* The descriptor of a BYTE or TEXT value, in host order. Its stored form
** (TBLOB_STORED_SIZE bytes) has the same field order, every field
** big-endian. Only tb_flags is interpreted; the other fields are carried
** unchanged between the server's row and the caller. */
typedef struct tblob_desc_t {
  int16_t tb_head[2];
  int32_t tb_words[7];
  int16_t tb_marks[3];
  int16_t tb_flags; /* TBLOB_NULL when the value is NULL */
  int32_t tb_tail[4];
} tblob_desc_t;

#define TBLOB_STORED_SIZE 56
#define TBLOB_NULL 0x1

#ifdef __cplusplus
static_assert(sizeof(tblob_desc_t) == TBLOB_STORED_SIZE, "tblob_desc_t is 56 bytes");
#else
_Static_assert(sizeof(tblob_desc_t) == TBLOB_STORED_SIZE, "tblob_desc_t is 56 bytes");
#endif

/* Writes the stored form of desc to to (zeroed first). */
void tblobstore(const tblob_desc_t *desc, void *to);
/* Reads the stored form at from into desc. */
void tblobload(tblob_desc_t *desc, const void *from);

/* ---- Files ----------------------------------------------------------------- */

/* The platform's open, close, read, lseek, write and creat: same arguments
** and results. dvz_open takes a mode when the flags create the file. */
int dvz_open(const char *path, int flags, ...);
int dvz_close(int fd);
ssize_t dvz_read(int fd, void *buf, size_t count);
off_t dvz_lseek(int fd, off_t offset, int whence);
ssize_t dvz_write(int fd, const void *buf, size_t count);
int dvz_creat(const char *path, mode_t mode);

/* ---- Spin lock ------------------------------------------------------------- */

/* An 8-byte lock record: lock is 0xFF while held (set by an atomic
** test-and-set), the byte after it is cleared with it, waiter marks a
** waiting party, owner holds the owner's value. */
typedef struct ossema_t {
  unsigned char lock;
  unsigned char spare;
  int16_t waiter;
  int32_t owner;
} ossema_t;

#ifdef __cplusplus
static_assert(sizeof(ossema_t) == 8, "ossema_t is 8 bytes");
#else
_Static_assert(sizeof(ossema_t) == 8, "ossema_t is 8 bytes");
#endif

/* Takes the lock: 1 with owner = value when it was free, else 0. */
int rcpsema(ossema_t *sema, int32_t value);
/* Releases it (owner, lock and spare cleared): 1 when a waiter was marked
** (the mark is cleared), else 0. */
int rcvsema(ossema_t *sema);
/* Clears the whole record; returns 0. */
int risema(ossema_t *sema);

#ifdef __cplusplus
}
#endif

#endif
