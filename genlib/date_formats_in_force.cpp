/*
** date_formats_in_force.cpp: the DATE format in force, read from the
** state block of the current locale environment (which chooses it from
** DBDATE, GL_DATE or the locale). The display width of a DATETIME
** (_dtimedigits) lives with the DATETIME formats in datetime_format.cpp.
*/
#include "gen_dectext.h"
#include "os_glsenv.h"

extern "C" {

/* The state's present flag marks only a DBDATE or GL_DATE format; the
** locale's own (en_us's %m/%d/%iY among them) is stored without it and is
** in force all the same, so only a missing format fails. */
int gls_fmtstr(char **format, int32_t *field_order, int32_t *era_kind) {
  const new_gls_env *state = CheckGlsEnv()->state;
  if (state == nullptr || state->date_format == nullptr) return gls_err_bad_dbdate;
  if (format != nullptr) *format = state->date_format;
  if (state->dbdate_style != 0) {
    if (field_order != nullptr) {
      for (int i = 0; i < 3; ++i)
        field_order[i] = state->field_order[i];
    }
    if (era_kind != nullptr) *era_kind = state->era_kind;
  }
  return 0;
}

}  // extern "C"
