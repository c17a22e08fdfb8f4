/*
** Compiled by the private-header tests with PROBE_HEADER naming one of the
** locale library's internal headers: a dependent of dvz_glslib must not
** find it, so building this must fail.
*/
#include PROBE_HEADER
