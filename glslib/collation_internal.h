/*
** collation_internal.h: the collation routines the loader installs in a
** record's mbscoll_fn, mbfscoll_fn and mbsxfrm_fn, and the choice among
** them; not part of the library's interface (callers compare through the
** record's slots). C linkage: the names are the library's own.
*/
#ifndef DVZ_GLSLIB_COLLATION_INTERNAL_H
#define DVZ_GLSLIB_COLLATION_INTERNAL_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Chooses mbscoll_fn, mbfscoll_fn and mbsxfrm_fn from the COLLATE data and
** single_byte. */
void set_collation_fp(gl_locale *record);

/* The comparers: terminated strings, or counted ones (len1 and len2 bytes,
** both -1: terminated; one -1 only: error 56 and 0). Negative, 0, positive. */
int _gl_thaismocoll(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_thaismoncoll(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                         int len2);
int _gl_im_mbscoll(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_im_mbfscoll(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                        int len2);
int _gl_is_mbscoll_back(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_back(gl_locale *loc, const unsigned char *s1, int len1,
                             const unsigned char *s2, int len2);
int _gl_is_mbscoll_exp(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_exp(gl_locale *loc, const unsigned char *s1, int len1,
                            const unsigned char *s2, int len2);
int _gl_is_mbscoll_elem(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_elem(gl_locale *loc, const unsigned char *s1, int len1,
                             const unsigned char *s2, int len2);
int _gl_is_mbscoll_exp_elem(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_exp_elem(gl_locale *loc, const unsigned char *s1, int len1,
                                 const unsigned char *s2, int len2);

/* The key makers: the collation key of the terminated string s written to
** out, at most size bytes; returns the key's length (the key is terminated
** only when its length is below size). */
int _gl_thaismoxfrm(gl_locale *loc, unsigned char *out, const unsigned char *s, int size);
int gl_full_mbsxfrm(gl_locale *loc, unsigned char *out, const unsigned char *s, int size);

#ifdef __cplusplus
}
#endif

#endif
