/*
** opaque_form.cpp: the stored form of the opaque scalar types (variable
** and fixed UDT, LVARCHAR, BOOLEAN) as they travel in rows and element
** data: one NULL flag byte (1 NULL, 0 not NULL), a big-endian 32-bit
** length, then the bytes; a NULL value is the flag and length 0 alone.
**
** Callers: the column writers and readers of value_columns.cpp, and the
** runtime for the values it sends. The layout is a wire format: keep it
** byte for byte.
*/
#include <cstdint>
#include <cstring>

#include "dvz_be.h"
#include "gen_collection_stored.h"
#include "gen_types.h"
#include "gen_value.h"

namespace {

constexpr int flag_bytes = 1;
constexpr int head_bytes = flag_bytes + 4;

}  // namespace

extern "C" {

/*
** Writes the form of length bytes (a negative length counts as 0) or, when
** isnull is non-zero, the NULL form. REQUIRES: destination holds 5 bytes
** plus the length written.
*/
void studt(char *destination, const char *bytes, int length, int isnull) {
  if (isnull != 0 || length < 0) length = 0;
  destination[0] = isnull != 0 ? 1 : 0;
  dvz_st_be_u32(static_cast<uint32_t>(length), destination + flag_bytes);
  if (length > 0) std::memcpy(destination + head_bytes, bytes, static_cast<size_t>(length));
}

/*
** Reads the form at source into v by v's type: the indicator from the flag
** byte's bit 0; for 40, 41 and 43 the pointer to the bytes and their
** stored length (43 also clears the precision word); for 45 the pointer
** and length 1, a form without its byte reading as NULL (as does a length
** with its top bit set, for every type).
** REQUIRES: source holds the 5-byte head and length bytes after it (the
** column's room; none when length is not positive). Returns 0, or -1815
** when the stored length claims more bytes than that room (v is then
** untouched): the value is never read past its column.
*/
int ldudt(const char *source, int length, value_t *v) {
  const auto *p = reinterpret_cast<const unsigned char *>(source);
  const int room = length > 0 ? length : 0;
  auto stored = static_cast<int32_t>(dvz_ld_be_u32(p + flag_bytes));
  if (stored > room) return coll_err_stored_form;
  v->vind = (p[0] & 1) != 0 ? -1 : 0;
  /* No value has 2 GB or more: such a length is read as NULL. */
  if (stored < 0) {
    stored = 0;
    v->vind = -1;
  }
  char *data = const_cast<char *>(source) + head_bytes;
  switch (v->vtype & 0xFF) {
    case sql_type_lvarchar:
      v->vprec = 0;
      [[fallthrough]];
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
      v->vptr = data;
      v->vlen = stored;
      break;
    case sql_type_boolean:
      v->vptr = data;
      v->vlen = 1;
      if (stored < 1) {
        v->vlen = 0;
        v->vind = -1;
      }
      break;
    default:
      break;
  }
  return 0;
}

}  // extern "C"
