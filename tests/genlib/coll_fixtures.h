/*
** coll_fixtures.h: what the collection tests build their records from:
** type infos from short descriptor lists, and element data as the runtime
** writes it (scalar elements through rvaldata, variable-size element data
** with its offset table), and the oracle's golden stored forms
** (oracle/coll_cases.txt) with the SET type info they were made from.
*/
#ifndef DVZ_TESTS_GENLIB_COLL_FIXTURES_H
#define DVZ_TESTS_GENLIB_COLL_FIXTURES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_types.h"
#include "gen_value.h"
#include "value_builders.h"

namespace coll_test {

struct typeinfo_deleter {
  void operator()(dvz_coll_typeinfo_t *ti) const { std::free(ti); }
};
using typeinfo_ptr = std::unique_ptr<dvz_coll_typeinfo_t, typeinfo_deleter>;

/* A descriptor given by level, type word and length word. */
struct field_desc {
  int level;
  int type;
  int length;
};

/* A type info from descriptors numbered in order: each one's parent is
** the one before it, its xid 100 + its number and its alignment its
** number (so that renumbering and look-ups show which one was taken). */
inline typeinfo_ptr make_typeinfo(const std::vector<field_desc> &descs) {
  const auto count = static_cast<int>(descs.size());
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(count + 1)));
  ti->ti_count = static_cast<int16_t>(count);
  for (int i = 0; i < count; ++i) {
    dvz_coll_field_t &f = ti->ti_fields[i];
    f.seqno = static_cast<int16_t>(i);
    f.level_no = static_cast<int16_t>(descs[static_cast<size_t>(i)].level);
    f.parent_no = static_cast<int16_t>(i == 0 ? 0 : i - 1);
    f.type = static_cast<int16_t>(descs[static_cast<size_t>(i)].type);
    f.length = static_cast<int16_t>(descs[static_cast<size_t>(i)].length);
    f.xid = 100 + i;
    f.align = static_cast<int16_t>(i);
  }
  return typeinfo_ptr(ti);
}

/* A descriptor with a field name. */
inline dvz_coll_field_t field(int level, int type, int length, const char *name = "") {
  dvz_coll_field_t f {};
  f.level_no = static_cast<int16_t>(level);
  f.type = static_cast<int16_t>(type);
  f.length = static_cast<int16_t>(length);
  f.fieldnmlen = static_cast<int16_t>(std::strlen(name));
  std::memcpy(f.fieldname, name, std::strlen(name));
  return f;
}

/* A type info from whole descriptors, numbered in order. */
inline typeinfo_ptr typeinfo_of_fields(std::initializer_list<dvz_coll_field_t> fields) {
  auto *ti =
      static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(fields.size() + 1)));
  ti->ti_count = static_cast<int16_t>(fields.size());
  int i = 0;
  for (const dvz_coll_field_t &f : fields) {
    ti->ti_fields[i] = f;
    ti->ti_fields[i].seqno = static_cast<int16_t>(i);
    ++i;
  }
  return typeinfo_ptr(ti);
}

/* An INTEGER element as the runtime writes it. */
inline std::string int_elem(int32_t n) {
  value_t v = value_test::int_value(sql_type_integer, n);
  char out[4];
  EXPECT_EQ(rvaldata(&v, out, sql_type_integer, 4), 0);
  return std::string(out, 4);
}

/* Element data of a variable-size collection: the elements, the word -1,
** then the offsets, the first element's last. */
inline std::string variable_data(const std::vector<std::string> &elements) {
  std::string data;
  std::vector<int32_t> offsets;
  for (const std::string &e : elements) {
    offsets.push_back(static_cast<int32_t>(data.size()));
    data += e;
  }
  char word[4];
  dvz_st_be_i32(-1, word);
  data.append(word, 4);
  for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
    dvz_st_be_i32(*it, word);
    data.append(word, 4);
  }
  return data;
}

/* The oracle's golden table read from path: case name -> {total length,
** stored bytes in hex}. Empty when the file is missing. */
inline std::map<std::string, std::pair<int, std::string>> oracle_goldens(const char *path) {
  std::map<std::string, std::pair<int, std::string>> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    std::string name;
    int total = 0;
    std::string bytes;
    if (words >> kind >> name >> total >> bytes && kind == "golden") out[name] = {total, bytes};
  }
  return out;
}

inline void set_name(char *to, const char *text) { std::memcpy(to, text, std::strlen(text)); }

/* The oracle's SET of two INTEGER, field for field. */
inline typeinfo_ptr oracle_set_typeinfo() {
  dvz_coll_field_t d0 = field(0, sql_type_set, 0, "set_col");
  d0.parent_no = -1;
  d0.field_no = 3;
  d0.xid = 0x01020304;
  d0.flags = 0x10;
  d0.xtype_nm_len = 9;
  set_name(d0.xtype_name, "named_set");
  d0.xtype_owner_len = 6;
  set_name(d0.xtype_owner_name, "owner1");
  d0.align = 8;
  d0.srctype = 0x0A0B0C0D;
  dvz_coll_field_t d1 = field(1, 0x100 | sql_type_integer, 4, "elt");
  d1.field_no = 4;
  d1.flags = 0x20;
  d1.align = 4;
  d1.srctype = 2;
  typeinfo_ptr ti = typeinfo_of_fields({d0, d1});
  ti->ti_xid = 0x1234ABCD;
  ti->ti_hdrval = 0x0102;
  set_name(ti->ti_name, "set_of_int");
  return ti;
}

}  // namespace coll_test

#endif
