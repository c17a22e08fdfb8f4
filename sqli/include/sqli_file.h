/*
** sqli_file.h: the runtime's client-file helpers, used for statement
** files and for BYTE and TEXT values kept in files. Names are converted
** to the operating system's code set; failures are recorded in sqlca.
** C linkage.
*/
#ifndef DVZ_SQLI_FILE_H
#define DVZ_SQLI_FILE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens name (trailing blanks cut) for reading (mode 1) or creates it
** with mode 0600 (mode 0). Returns the descriptor; -1 with -466 recorded
** for an empty name or one above 260 bytes; a negative value with -461
** recorded when the open fails. */
int _sqfilopen(const char *name, int mode);
/* Each returns 0, or -1 after recording -462 (close), -463 (read) or
** -464 (write). A read stores the bytes read (0 at the end) in *nread; a
** write writes all count bytes. */
int _sqfilclose(int fd);
int _sqfilread(int fd, char *buffer, int count, int *nread);
int _sqfilwrite(int fd, const char *buffer, int count);

#ifdef __cplusplus
}
#endif

#endif
