/*
** sqli_text.h: locale-aware helpers over SQL text and names that the
** runtime and its callers share: splitting a database reference, the SQL
** keyword table, delimited identifiers, qualified table references, the
** old short form of names, unfinished routine texts, collection literals
** and case-blind comparison. Nothing here reaches the server; every
** routine works on caller-owned, NUL-terminated strings in the client code
** set, through the current locale environment.
**
** C linkage.
*/
#ifndef DVZ_SQLI_TEXT_H
#define DVZ_SQLI_TEXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Keywords ----------------------------------------------------------------------- */

/* One keyword: lower-case word, reserved flag (1 reserved), class (1 host
** language, 2 load and unload, else 0). */
typedef struct sqlkw_entry {
  const char *word;
  int16_t reserved;
  int16_t kwclass;
} sqlkw_entry;

/* The keywords in ascending byte order, ended by an entry with a null word. */
extern const sqlkw_entry sqlkwtab[];
/* Entries of sqlkwtab; 0 until counted. */
extern int32_t gsqlkwsize;

/* Counts sqlkwtab into gsqlkwsize. */
void gcntsqlkw(void);
/* The index of word in sqlkwtab (ASCII letters match either case), its
** reserved flag in *reserved; -1 and flag 0 when it is not a keyword. */
int gkwlook(const char *word, int32_t *reserved);

/* ---- Names and references ----------------------------------------------------------- */

/* Splits a database reference (name, name@server, @server, a path, or the
** //server/name forms) into server and database (each NUL-terminated in
** buffers of the given sizes), with the path flag (the database part holds
** a "/") and the slash-form flag. Returns 0, or -1 when the reference is
** null or empty or a part does not fit (the parts so far left). */
int _gpdbenv(const char *reference, char *server, int server_size, char *database,
             int database_size, int32_t *path, int32_t *slash_form);
/* Writes identifier to out (at least 256 bytes): in double quotes, inner
** quotes doubled, when it is not a regular lower-case identifier (or is a
** keyword) and DELIMIDENT is set; otherwise unchanged. A quoted form that
** would not fit leaves it unchanged. Returns 1. */
int conv_delim(const char *identifier, char *out);
/*
** Splits a qualified reference database@server:owner.table.column from the
** right into the non-null outputs (database, server, table and column take
** 131 bytes, owner 35). Unquoted parts are lower-cased, an unquoted owner
** upper-cased when upshift_owner is non-zero; a quoted part is written as
** it stands, quotes included. Returns 0, 200 (a part too long, above 128
** characters or 32 for the owner, or its bytes beyond its output), 201
** (syntax), 841 (malformed name) or -9601 (not convertible).
*/
int parsetab(const char *reference, char *database, char *server, char *owner, char *table,
             char *column, int32_t upshift_owner);
/* Cuts name (length bytes) in place to its old short form: at most 18
** characters (long_form 1) or 8 (0), the last kept one replaced by "+"
** when the name was longer. Returns 0. */
int truncate_to_oldsize(char *name, int length, int long_form);
/* Rewrites a qualified name in place with each part in its old short
** form; a table without owner joins database and server as db@srv:tab. */
void truncate_ident(char *name);

/* ---- Statement text ------------------------------------------------------------------ */

/* 1 when text (length bytes) is a CREATE PROCEDURE or FUNCTION that is not
** yet complete, else 0. */
int chkstmt(const char *text, int length);
/* Token codes of gettoken. */
enum {
  sqli_tok_unclosed_comment = -2,
  sqli_tok_end_of_text = -1,
  sqli_tok_other = 0,
  sqli_tok_end = 1,
  sqli_tok_procedure = 2,
  sqli_tok_semicolon = 3,
  sqli_tok_function = 4,
  sqli_tok_external_name = 5
};
/* The token of text (length bytes) at *offset, which moves past it. */
int gettoken(const char *text, int length, int32_t *offset);
/* Skips white space and comments at *text. Returns 0, or 1 when a comment
** is not closed. */
int skipcomments(const char **text);
/* The first character of text that is not white space. */
const char *skipwhite(const char *text);
/* From an opening quote: its closing quote, or the terminator. */
const char *skipquote(const char *text);
/* The character after the word, quoted string or single character at text. */
const char *skipword(const char *text);
/* Case-blind comparison of the first n characters: -1, 0 or 1. */
int bycbcmpr(const char *a, const char *b, int n);
/* 0 when the first n characters of text, lower-cased, are those of the
** lower-case keyword; else 1. */
int cbncmpr(const char *keyword, const char *text, int n);
/* In a CREATE TABLE text, the position of keyword after the element list
** (or after "of type"), or of the terminator or ";". */
const char *extpos(const char *text, const char *keyword);
/* Moves the bytes first..last (inclusive) n bytes further on, last first. */
void rightshift(char *first, char *last, int n);
/* 1 when the text first..last (inclusive) begins a SET, MULTISET or LIST
** literal ("set {"), else 0. */
int collection_literal(const char *first, const char *last);

#ifdef __cplusplus
}
#endif

#endif
