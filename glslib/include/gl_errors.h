/*
** gl_errors.h: the error numbers of the locale library, the one place that
** defines them.
**
** A failing operation stores one of these in the error word of the record
** it was given (a locale record or a conversion descriptor, reached
** through _gl_ext_errno) and returns its failure value. Numbers 10, 32, 39,
** 43, 44 and 52-54 are never stored. Every module of the library, and
** every caller, names them from here.
*/
#ifndef DVZ_GLSLIB_GL_ERRORS_H
#define DVZ_GLSLIB_GL_ERRORS_H

#define GL_ENOERR 0 /* no error */
#define GL_EILSEQ 1 /* byte sequence / wide character not in the code set */
#define GL_ENULLPTR 2 /* a required pointer argument is NULL */
#define GL_ENOMEM 3 /* memory could not be allocated */
/* A count argument is negative; in a locale file, a grouping list of 16
** sizes or more. */
#define GL_ENEGCOUNT 4
#define GL_EBADPOS 5 /* a position at or before the start of its string */
#define GL_ERANGE 6 /* a converted number outside its type's range */
#define GL_EINVAL 7 /* invalid argument: length, cut character, bad spec or name */
/* A data file cannot be opened; in a locale file, an encoded string whose
** length lacks its space. */
#define GL_ENOFILE 8
#define GL_EBADARG 9 /* an argument outside its permitted set */
#define GL_EBADFILE 11 /* wrong file type or syntax */
#define GL_ECSMISMATCH 12 /* the code sets of a locale's categories differ */
#define GL_EIO 13 /* a stream read or write failed */
#define GL_E2BIG 14 /* the output buffer is too small */
#define GL_ENOREGISTRY 15 /* registry cannot be opened; NULL format */
#define GL_EEOF 16 /* end of file */
#define GL_ESTRANGEEOF 17 /* read gave EOF with neither EOF nor error flag set */
#define GL_ENOTLOADED 18 /* category to copy not loaded in the source */
#define GL_EALREADY 19 /* category to copy already loaded in the target */
#define GL_EMONCONV 20 /* monetary conversion character not 'i' nor 'n' */
#define GL_EKEYLEN 21 /* multi-level table keys longer than the reader accepts */
#define GL_EDIRECTIVE 22 /* invalid conversion directive in a format */
#define GL_ETFRACTION 23 /* time values out of range: 23-31 */
#define GL_ETSECOND 24
#define GL_ETMINUTE 25
#define GL_ETHOUR 26
#define GL_ETMDAY 27
#define GL_ETWDAY 28
#define GL_ETYDAY 29
#define GL_ETMONTH 30
#define GL_ETYEAR 31
#define GL_ENOFRACTION 33 /* a text lacks the field its format asks for: 33-48 */
#define GL_ENOSECOND 34
#define GL_ENOMINUTE 35
#define GL_ENOHOUR 36
#define GL_ENOMDAY 37
#define GL_ENOWDAY 38 /* or a day of week that disagrees with the date */
#define GL_ENOMONTH 40
#define GL_ENOYEAR 41
#define GL_ENOERA 42
#define GL_EBADCHARS 45 /* characters that cannot belong to the number */
#define GL_ENOMATCH 46 /* text that does not match the format */
#define GL_ENODECPOINT 47 /* no decimal point before a fraction */
#define GL_EMONTHNAME 48 /* a month name not recognised */
#define GL_EERA 49 /* malformed era definition in a locale file */
#define GL_ECALENDAR 50 /* unknown calendar name in a locale file */
#define GL_EVERSION 51 /* locale file of another compiler version */
#define GL_ELOADFAIL 55 /* loading a category failed, no more specific error */
#define GL_EMIXEDLEN 56 /* counted string compared with a terminated one */
#define GL_ENOCTYPE 57 /* no character-type data when a later category starts */
#define GL_ECTYPECS 58 /* category code set differs from the CTYPE code set */

#endif
