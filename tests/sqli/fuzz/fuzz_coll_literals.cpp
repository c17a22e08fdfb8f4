/*
** Fuzz target: literal-values lists built from the input, inserted into a
** fixed collection type (LIST of ROW(a INTEGER, b VARCHAR(10), c SET of
** INTEGER NOT NULL, d LVARCHAR(8))) and into a ROW of the same fields,
** then read back
** element by element into host variables and used to set every element.
** Each entry takes four input bytes (kind, length, nesting word, flags);
** the value of a character entry is a heap block of exactly the bytes its
** length says, so a read past a literal is a sanitizer report. Other
** scalar entries stand for host data of their type, as a filled
** placeholder does: their block holds at least the largest such value. Results must be 0 or a
** negative code, and a failed insert must leave the collection as it was.
*/
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gen_collection.h"
#include "gen_types.h"
#include "sqli_coll_internal.h"
#include "sqli_context.h"
#include "sqli_descriptors.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_coll_literals: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_entries = 256;
/* Bytes of the largest fixed host value (DATETIME, INTERVAL, DECIMAL). */
constexpr size_t host_value_room = 32;

/* The entry kinds the input picks from. */
constexpr int16_t kinds[] = {sql_type_integer,      sql_type_char,        sql_type_varchar,
                             sql_type_smallint,     sql_type_datetime,    sql_type_fixed_udt,
                             sql_type_variable_udt, sql_type_boolean,     sql_type_set,
                             sql_type_multiset,     sql_type_list,        sql_type_row,
                             sqli_lit_close,        sqli_lit_null,        sqli_lit_placeholder,
                             sqli_lit_sep,          sqli_lit_sep_runtime, sqli_lit_collvar};

dvz_coll_field_t field(int level, int type, int length, const char *name) {
  dvz_coll_field_t f {};
  f.level_no = static_cast<int16_t>(level);
  f.type = static_cast<int16_t>(type);
  f.length = static_cast<int16_t>(length);
  f.fieldnmlen = static_cast<int16_t>(std::strlen(name));
  std::memcpy(f.fieldname, name, std::strlen(name));
  return f;
}

struct typeinfo_block {
  std::unique_ptr<char[]> bytes;
  dvz_coll_typeinfo_t *ti;
  explicit typeinfo_block(const std::vector<dvz_coll_field_t> &fields)
      : bytes(new char[DVZ_COLL_TYPEINFO_SIZE(fields.size())]()),
        ti(reinterpret_cast<dvz_coll_typeinfo_t *>(bytes.get())) {
    ti->ti_count = static_cast<int16_t>(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      ti->ti_fields[i] = fields[i];
      ti->ti_fields[i].seqno = static_cast<int16_t>(i);
    }
  }
};

std::vector<dvz_coll_field_t> row_fields(int base) {
  return {field(base + 1, sql_type_integer, 4, "a"), field(base + 1, sql_type_varchar, 10, "b"),
          field(base + 1, sql_type_set, 0, "c"), field(base + 2, sql_type_integer | 0x100, 4, ""),
          field(base + 1, sql_type_lvarchar, 8, "d")};
}

/* Field-name lists the input picks from (150-byte entries). */
std::vector<char> names_of(int pick) {
  static const char *const sets[][3] = {
      {nullptr}, {"b", nullptr}, {"c", "a", nullptr}, {"z", nullptr}, {"d", "a", nullptr}};
  std::vector<char> out;
  for (const char *const *n = sets[pick % 5]; *n != nullptr; ++n) {
    std::vector<char> entry(SQLI_FIELDNAME_SIZE, '\0');
    std::memcpy(entry.data(), *n, std::strlen(*n));
    out.insert(out.end(), entry.begin(), entry.end());
  }
  out.resize(out.size() + SQLI_FIELDNAME_SIZE, '\0');
  return out;
}

/* Reads every element of coll back into host variables of each kind. */
void read_back(dvz_coll_t *coll, const char *names, sqli_tcb *tcb) {
  dvz_coll_cursor_t cur;
  if (dvz_coll_open(coll, &cur) != 0) fail("open", 0);
  for (int n = 0; n < 64; ++n) {
    char *element = nullptr;
    int32_t len = 0;
    if (dvz_coll_next(coll, &cur, &element, &len) != 0) break;
    int32_t a = 0;
    char b[16] = {};
    dvz_coll_t c {};
    char d[16] = {};
    int16_t ind[4] = {};
    sqlvar_struct out[4] = {};
    out[0].sqltype = host_type_int;
    out[0].sqllen = 4;
    out[0].sqldata = reinterpret_cast<char *>(&a);
    out[1].sqltype = host_type_char;
    out[1].sqllen = sizeof b;
    out[1].sqldata = b;
    out[2].sqltype = host_type_collection;
    out[2].sqldata = reinterpret_cast<char *>(&c);
    out[3].sqltype = host_type_char;
    out[3].sqllen = sizeof d;
    out[3].sqldata = d;
    for (int k = 0; k < 4; ++k)
      out[k].sqlind = &ind[k];
    const int rc = dvz_rc_get(coll, &cur, element, names, 4, out, 0, tcb);
    if (rc > 0) fail("read result", rc);
    if (dvz_coll_free(&c) != 0) fail("free of the host collection", 0);
  }
  if (dvz_coll_close(coll, &cur) != 0) fail("close", 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DB_LOCALE", "DBLANG", "DBNLS", "DBAPICODE", "CLIENT_LOCALE"})
    unsetenv(name);
  if (CheckGlobInit() == nullptr) fail("runtime context", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  sqli_tcb *tcb = getsqlitcb();
  _sqclrca(tcb);
  const int pick = data[0];
  const int32_t pos = data[1] % 3;
  data += 2;
  size -= 2;

  /* A SET of INTEGER that collection-variable entries designate. */
  typeinfo_block inner_type({field(0, sql_type_set, 0, ""), field(1, sql_type_integer, 4, "")});
  dvz_coll_t inner {};
  if (dvz_coll_init(&inner, inner_type.ti, 1, nullptr, 0) != 0) fail("inner", 0);
  int32_t seven = 7;
  sqli_litval seed[] = {{reinterpret_cast<char *>(&seven), sql_type_integer, 4, 0, 0}, {}};
  if (dvz_rc_construct(&inner, nullptr, seed, 0) != 0) fail("inner insert", 0);

  std::vector<std::unique_ptr<char[]>> values;
  std::vector<sqli_litval> lits;
  size_t at = 0;
  while (at + 4 <= size && lits.size() < max_entries) {
    sqli_litval e {};
    e.type = kinds[data[at] % (sizeof kinds / sizeof kinds[0])];
    const int len = data[at + 1] % 24;
    e.nesting = static_cast<int16_t>(data[at + 2] % 3);
    e.flags =
        static_cast<int16_t>(data[at + 3] & 0x80 ? 0x1000 : (data[at + 3] & 0x40 ? 0x0A66 : 0));
    at += 4;
    if (e.type == sqli_lit_collvar) {
      e.value = (len & 1) != 0 ? reinterpret_cast<char *>(&inner) : nullptr;
    } else if (e.type >= 0 && !(e.type >= sql_type_set && e.type <= sql_type_row)) {
      const size_t n = std::min<size_t>(static_cast<size_t>(len), size - at);
      const bool text = e.type == sql_type_char || e.type == sql_type_varchar;
      const size_t room = text ? n + 1 : std::max<size_t>(n + 1, host_value_room);
      values.emplace_back(new char[room]());
      std::memcpy(values.back().get(), data + at, n);
      values.back()[n] = '\0';
      at += n;
      e.value = values.back().get();
      e.length = static_cast<int16_t>(n);
      if (e.type == sql_type_char && n == 0) e.length = 1; /* not the terminator */
    }
    lits.push_back(e);
  }
  lits.push_back(sqli_litval {});
  const std::vector<char> names = names_of(pick);
  const char *named = (pick % 5) == 0 ? nullptr : names.data();

  std::vector<dvz_coll_field_t> list_fields = {field(0, sql_type_list, 0, ""),
                                               field(1, sql_type_row, 0, "")};
  for (const dvz_coll_field_t &f : row_fields(1))
    list_fields.push_back(f);
  typeinfo_block list_type(list_fields);
  std::vector<dvz_coll_field_t> rfields = {field(0, sql_type_row, 0, "")};
  for (const dvz_coll_field_t &f : row_fields(0))
    rfields.push_back(f);
  typeinfo_block row_type(rfields);

  for (dvz_coll_typeinfo_t *ti : {list_type.ti, row_type.ti}) {
    dvz_coll_t coll {};
    if (dvz_coll_init(&coll, ti, 1, nullptr, 0) != 0) fail("init", 0);
    const int rc = dvz_rc_construct(&coll, named, lits.data(), pos);
    if (rc > 0) fail("construct result", rc);
    if (rc != 0 && coll.cl_log != nullptr) fail("failed insert changed the collection", rc);
    read_back(&coll, named, tcb);
    const int set = dvz_rc_setall(&coll, named, lits.data());
    if (set > 0) fail("setall result", set);
    read_back(&coll, named, tcb);
    if (dvz_coll_free(&coll) != 0) fail("free", 0);
  }
  if (dvz_coll_free(&inner) != 0) fail("inner free", 0);
  return 0;
}
