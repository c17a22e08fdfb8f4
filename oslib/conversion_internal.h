/*
** What the conversion services' sources share: the glserror that a failed
** conversion reports.
*/
#ifndef DVZ_OSLIB_CONVERSION_INTERNAL_H
#define DVZ_OSLIB_CONVERSION_INTERNAL_H

#include "gl_errors.h"
#include "os_conv.h"

namespace oslib_conv {

/* The glserror of a conversion that failed with the locale library's
** error number error: a character without conversion or cut off by the
** input is -23103, any other failure -23113. */
inline int conversion_error(int error) {
  return error == GL_EILSEQ || error == GL_EINVAL ? gcv_err_invalid_char : gcv_err_conversion;
}

}  // namespace oslib_conv

#endif
