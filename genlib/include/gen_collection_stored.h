/*
** gen_collection_stored.h: the outside faces of a collection or row value
** (`dvz_coll_t`, gen_collection.h): its stored form (type description,
** handle, flags and element data, as the server sends and receives it),
** the text of its type, the equality of two values and the membership
** test that keeps a SET free of duplicates.
**
** Stored forms are big-endian with no alignment; every name takes N bytes,
** 128 with long identifiers, else 18. A reader is told how many bytes it
** may read and checks every count and offset before using it.
**
** Results: 0 for success, else a negative error: -1 (see each entry),
** -406 no memory for a read or a type text, -837 no memory for the arrays
** of a comparison, -1815 a stored form that is short, truncated or
** malformed, -9602 two different types, -9874 the element is present,
** -9875 a nested reference that stored data may not carry (forms 4 and 8)
** or that is too short, -9986 element data whose offsets are damaged;
** errors of gen_collection.h pass through. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_COLLECTION_STORED_H
#define DVZ_GENLIB_GEN_COLLECTION_STORED_H

#include <stdint.h>

#include "gen_collection.h"
#include "gen_value.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Width of a name in the stored form. */
#define DVZ_COLL_NAME_LONG 128
#define DVZ_COLL_NAME_SHORT 18

/* ldcollection modes: the full form, the short form. */
#define DVZ_LDCOLL_FULL 1
#define DVZ_LDCOLL_SHORT 2

/* The trailer's flag word: the value is NULL. */
#define DVZ_COLL_STORED_NULL 0x80000000u

/* The comparison operator of equality (the evaluator's '='). */
#define DVZ_COLL_OP_EQUAL 46

/* A comparison of two values by an operator (46 equality) into result;
** 0 or an error. collelmtcmp is the library's. */
typedef int (*dvz_coll_cmp_fn)(int op, value_t *a, value_t *b, void *context, value_t *result);

/* ---- Stored forms ------------------------------------------------------------------ */

/*
** Reads the stored form at source (available bytes of it) into coll: once
** its counts check out, coll is freed and then owns a copy of the data
** and a new server type info.
** has_total: a BE32 total leads; long_ids: 128-byte names, else 18; mode
** DVZ_LDCOLL_SHORT reads the short form with ti as its type info (ti is
** not used otherwise). Returns 0, -406, -1815 (short or malformed, or a
** type nested more than 64 levels deep), -9875 (a nested reference of
** form 4 or 8, or too short, in the data) or -9986 (damaged offsets).
** -1815 and -406 leave coll as it was; a later error leaves it holding
** only its client type info, if it had one (as its own).
*/
int ldcollection(const char *source, dvz_coll_t *coll, int has_total, int long_ids, int mode,
                 dvz_coll_typeinfo_t *ti, int32_t available);
/* The short form: optional total, first word (bit 0 gives -1815), flag
** word, and unless NULL a data length and the data; handle 0. ti passes
** to the record with the data (and is freed with it on a later error);
** on -1815 the caller keeps it. */
int ldcollection2(const char *source, dvz_coll_t *coll, int has_total, dvz_coll_typeinfo_t *ti,
                  int32_t available);
/*
** Makes coll hold a private copy of len bytes of data under ti as its
** server type info, with flags (bit 31: NULL) and handle; coll owns both.
** A client type info coll had stays, as coll's own (a caller's is
** copied). Returns 0, -406, -9875 or -9986 (the data is checked as stored
** data); on an error ti is freed, and coll is left as it was on -406,
** else holds only that client type info.
*/
int ldcollection_data(int32_t len, const char *data, dvz_coll_t *coll, uint32_t flags,
                      dvz_coll_typeinfo_t *ti, uint32_t handle);
/* Bytes stcollection writes for coll, its total included. */
int32_t dvz_stcollection_size(const dvz_coll_t *coll, int long_ids);
/* Writes coll's stored form with its total at destination, which holds
** dvz_stcollection_size bytes. Neither rebuilds nor hashes: callers fold
** pending changes in (dvz_coll_tuple) and hash (dvz_coll_hash) first. */
void stcollection(const dvz_coll_t *coll, char *destination, int long_ids);

/* ---- Type text ---------------------------------------------------------------------- */

/*
** A newly allocated text of ti's type in *text, such as set(integer not
** null); the caller frees it. flag_a and not flag_b: LVARCHAR shows its
** length. 0, -406, or -1 (no type info, or a type that cannot be named
** or is nested more than 64 levels deep: the conversion error word then
** holds -1).
*/
int dvz_cltype2str(const dvz_coll_typeinfo_t *ti, int flag_a, char **text, int flag_b);
/* dvz_cltype2str with flag_b 0. */
int dvz_cltypetostr(const dvz_coll_typeinfo_t *ti, int flag_a, char **text);

/* ---- Equality and membership ---------------------------------------------------------- */

/* 0 when both have the same non-zero count and type code in every
** descriptor; -9602 otherwise (a null one included). */
int dvz_coll_type_equal(const dvz_coll_typeinfo_t *a, const dvz_coll_typeinfo_t *b);
/* mi_dvz_coll_equal with collelmtcmp. */
int dvz_coll_equal(dvz_coll_t *a, dvz_coll_t *b);
/*
** 0 when a and b hold equal elements (in order for LIST and ROW, as bags
** otherwise), -1 when not or when either is NULL (*isnull then 1), or an
** error (-837, -9602, errors of the hash, cursors and cmp). Both hashes
** are brought up to date; the cursor chains are left as found.
*/
int mi_dvz_coll_equal(dvz_coll_t *a, dvz_coll_t *b, dvz_coll_cmp_fn cmp, int *isnull);
/* 0 when the stored elements (of the type word) are equal by cmp, -1 when
** not (always for 40, 41, 43 and 45), or cmp's error. */
int dvz_call_equal_func(int type, dvz_coll_t *a, const char *abytes, int32_t alen, dvz_coll_t *b,
                        const char *bbytes, int32_t blen, dvz_coll_cmp_fn cmp, void *context);
/* excmp(op, a, b, result). */
int collelmtcmp(int op, value_t *a, value_t *b, void *context, value_t *result);
/* Sorts array[first..last] (pointers to records that start with an
** unsigned 32-bit key) by that key, ascending. */
void dvz_coll_qsort(void **array, int first, int last);
/*
** -9874 when an element equal to the stored element (len bytes) is in
** coll other than element number excluded (0: none), 0 when not or coll
** is empty, -1 for a NULL coll, or an error.
*/
int dvz_coll_inpred(dvz_coll_t *coll, const char *element, int32_t len, int32_t excluded,
                    dvz_coll_cmp_fn cmp, void *context);
/* dvz_coll_inpred for a value already converted. */
int dvz_coll_valuet_inpred(dvz_coll_t *coll, value_t *value, int32_t excluded, dvz_coll_cmp_fn cmp,
                           void *context);
/* 0 when a nested collection equal to the one in value (of the type word)
** is in coll other than element excluded, -1 when not, or an error. */
int dvz_coll_nested_inpred(int type, dvz_coll_t *coll, value_t *value, int32_t excluded,
                           dvz_coll_cmp_fn cmp, void *context);

#ifdef __cplusplus
}
#endif

#endif
