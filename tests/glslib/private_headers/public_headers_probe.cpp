/*
** Compiled by the private-header tests: every public header of the locale
** library, each on its own and through glslib.h, builds for a dependent of
** dvz_glslib.
*/
#include "gl_chars.h"
#include "gl_collate.h"
#include "gl_conv.h"
#include "gl_errors.h"
#include "gl_host.h"
#include "gl_locale.h"
#include "gl_money.h"
#include "gl_multi.h"
#include "gl_numbers.h"
#include "gl_registry.h"
#include "gl_strings.h"
#include "gl_time.h"
#include "glslib.h"

/* One use of each, so the probe is no empty translation unit. */
int glslib_public_headers_probe() { return GL_EINVAL + GL_CS_NAME_SLOT + GL_MULTI_END; }
