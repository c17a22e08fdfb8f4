/*
** Fuzz target: reading a stored column. Bytes 0-1 of the input are the
** type word and bytes 2-3 the length word (big-endian, the length word
** signed); the rest is the column, copied into a heap block of exactly
** the column's size as its type and length word give it (never as a
** length stored inside the column says), so that a read past the column
** is an address-sanitizer report. A column longer than the input is
** refused by the wrapper; nothing else is.
**
** Must hold: a code without a reader (its low byte 51-255 included)
** answers -1285 and leaves the value alone; an opaque form whose stored
** length claims more than its column is -1815 and leaves the value alone
** but for its type;
** every other read answers 0, and a text or opaque value points inside
** the column. The value read is
** then written back into a block of the same size with the same type and
** length word, which must stay inside it.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dvz_be.h"
#include "fuzz_environment.h"
#include "gen_collection.h"
#include "gen_types.h"
#include "gen_value.h"

namespace {

constexpr size_t head = 4;

[[noreturn]] void fail(const char *what, int type, int length, int status) {
  std::fprintf(stderr, "fuzz_rdataval: %s (type 0x%x, length %d, status %d)\n", what, type, length,
               status);
  std::abort();
}

/* The stored size of a column of type and length whose bytes (available
** of them) start at column; -1 when the bytes do not hold it, 0 for a code
** without a reader. */
long stored_size(int type, int length, const unsigned char *column, size_t available) {
  switch (type & 0xFF) {
    case sql_type_char:
    case sql_type_nchar:
      return length > 0 ? length : 0;
    case sql_type_varchar:
    case sql_type_nvarchar:
      if ((length & 0xFF) != 0) return 1 + (length & 0xFF);
      /* No maximum: the length byte gives the size. */
      return available < 1 ? -1 : 1 + column[0];
    case sql_type_smallint:
      return 2;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
    case sql_type_smallfloat:
      return 4;
    case sql_type_float:
      return 8;
    case sql_type_int8:
    case sql_type_serial8:
      return 10;
    case sql_type_byte:
    case sql_type_text:
      return TBLOB_STORED_SIZE;
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval:
      return (((length >> 8) & 0xFF) + (length & 1) + 3) / 2;
    case sql_type_set:
    case sql_type_multiset:
    case sql_type_list:
    case sql_type_row:
      /* A stored collection: the length word is the bytes it may read. */
      return length > 0 ? length : 0;
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
    case sql_type_lvarchar:
    case sql_type_boolean:
      /* The head, then the bytes the length word gives the value. */
      return 5 + (length > 0 ? length : 0);
    default:
      return 0;
  }
}

bool has_reader(int code) {
  return code <= sql_type_max && code != sql_type_null && code != 24 && code != 25 &&
         code != sql_type_collection && !(code >= 26 && code <= 39) && code != 42 && code != 44 &&
         !(code >= 46 && code <= 50);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < head) return 0;
  const int type = dvz_ld_be_u16(data);
  const int length = dvz_ld_be_i16(data + 2);
  const unsigned char *bytes = data + head;
  const size_t available = size - head;
  const long column_size = stored_size(type, length, bytes, available);
  if (column_size < 0 || static_cast<size_t>(column_size) > available) return 0;

  const size_t n = static_cast<size_t>(column_size);
  std::unique_ptr<char[]> column(new char[n == 0 ? 1 : n]);
  if (n > 0) std::memcpy(column.get(), bytes, n);

  value_t v;
  std::memset(&v, 0xA5, sizeof v);
  const value_t before = v;
  const int code = type & 0xFF;
  const int status = rdataval(column.get(), type, length, &v);
  const bool opaque = code == sql_type_variable_udt || code == sql_type_fixed_udt ||
                      code == sql_type_lvarchar || code == sql_type_boolean;
  const int refusal = !has_reader(code) ? -1285 : opaque && status != 0 ? -1815 : 0;
  if (refusal != 0) {
    if (status != refusal) fail("a refused read gave another error", type, length, status);
    /* The opaque reader takes the type before it reads the form. */
    value_t unchanged = before;
    if (opaque) unchanged.vtype = static_cast<int16_t>(code);
    if (std::memcmp(&v, &unchanged, sizeof v) != 0)
      fail("a refused read changed the value", type, length, status);
    if (opaque &&
        static_cast<int64_t>(dvz_ld_be_u32(column.get() + 1)) <= (length > 0 ? length : 0))
      fail("an opaque form that fits its column was refused", type, length, status);
    return 0;
  }
  const bool collection = code >= sql_type_set && code <= sql_type_row;
  /* A malformed stored collection is refused, never read past. */
  if (collection && (status == -1815 || status == -9875 || status == -9986 || status == -406))
    return 0;
  if (status != 0) fail("a reader failed", type, length, status);
  if (v.vtype != code) fail("the value's type is not the low byte", type, length, status);

  const bool points_inside = code == sql_type_char || code == sql_type_nchar ||
                             code == sql_type_varchar || code == sql_type_nvarchar || opaque;
  if (points_inside) {
    const char *start = column.get();
    if (v.vlen < 0 || v.vptr < start || v.vptr + v.vlen > start + n)
      fail("the value reaches outside the column", type, length, status);
  }

  /* Written back into a block of the column's size. */
  std::unique_ptr<char[]> out(new char[n == 0 ? 1 : n]);
  rvaldata(&v, out.get(), type & ~VTYPE_NOTNULL, length);
  if (collection) dvz_coll_free(&v.vcoll);
  return 0;
}
