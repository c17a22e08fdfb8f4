/*
** Test-side builder of multi-level tables (see table_builder.h).
*/
#include "table_builder.h"

#include "mem_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace glstest {

const std::string plain_table_text =
    "2 1 1 ffff\n"
    "1 1\n"
    "0000108004\n"
    "810020010101\n"
    "0000000\n"
    "410010010a0b\n"
    "0000000\n"
    "1 1\n"
    "4000104004\n"
    "0000000\n"
    "400010011234\n"
    "0000000\n"
    "1 0\n"
    "a100100204\n"
    "0000000\n";

const std::string shared_table_text =
    "2 1 3 ffff\n"
    "3 2\n"
    "0000108004\n"
    "810020010101\n"
    "0000000\n"
    "4000104004\n"
    "0000000\n"
    "a100100204\n"
    "0000000\n"
    "410010010a0b\n"
    "0000000\n"
    "400010011234\n"
    "0000000\n"
    "1 1 0 0\n"
    "1 1 1 1\n"
    "1 0 2 4294967295\n";

gl_char_desc make_desc(const Bytes &key) {
  gl_char_desc desc {};
  desc.byte_count = static_cast<uint32_t>(key.size());
  std::memcpy(desc.bytes, key.data(), std::min<size_t>(key.size(), 4));
  return desc;
}

bool TableSpec::single_byte_rule() const {
  if (keys.empty()) return false;
  for (const auto &[key, entry] : keys)
    if (key.size() != 1) return false;
  return true;
}

TableSpec::Answer TableSpec::answer(const Bytes &bytes) const {
  if (single_byte_rule() && !bytes.empty()) {
    auto it = keys.find(Bytes {bytes[0]});
    if (it != keys.end() && it->second) return {it->second, 1};
    return {default_entry, 1};
  }
  for (size_t i = 1; i <= bytes.size(); ++i) {
    Bytes prefix(bytes.begin(), bytes.begin() + static_cast<long>(i));
    auto it = keys.lower_bound(prefix);
    if (it != keys.end() && it->first == prefix)
      return {it->second ? *it->second : default_entry, int(i)};
    /* Still the proper prefix of some key: the walk goes on. */
    bool goes_on = it != keys.end() && it->first.size() > prefix.size() &&
                   std::equal(prefix.begin(), prefix.end(), it->first.begin());
    if (!goes_on) return {std::nullopt, int(i)};
  }
  return {std::nullopt, int(bytes.size())};
}

MultiPtr build_table(const TableSpec &spec) {
  MultiPtr table(_gl_create_multi(spec.entry_size, 0, spec.default_entry.data()));
  EXPECT_NE(table, nullptr);
  if (!table) return table;
  for (const auto &[key, entry] : spec.keys) {
    gl_char_desc desc = make_desc(key);
    EXPECT_EQ(_gl_insert_desc_multi(&desc, entry ? entry->data() : nullptr, table.get()), 0);
  }
  return table;
}

std::string write_text(gl_multi_t *table) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  EXPECT_NE(out, nullptr);
  EXPECT_EQ(_gl_fprintf_multi(out, table, hex_entry_writer), 0);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

std::string write_table_file(const dvz_test::TempDir &dir, std::string_view relative,
                             gl_multi_t *table) {
  return dir.write(relative, write_text(table));
}

namespace {

MultiPtr read_stream(FILE *in, int entry_size, int limit, int *rc) {
  MultiPtr table(_gl_create_multi(entry_size, 0, nullptr));
  int result = -1;
  if (table && in != nullptr) result = _gl_fscanf_multi(in, table.get(), limit, hex_entry_reader);
  if (rc != nullptr) *rc = result;
  return table;
}

}  // namespace

MultiPtr read_text(std::string_view text, int entry_size, int limit, int *rc) {
  MemStream in {std::string(text)};
  return read_stream(in.get(), entry_size, limit, rc);
}

MultiPtr TableTest::read_ok(const std::string &text) {
  int rc = -1;
  MultiPtr t = read_text(text, 2, 4, &rc);
  EXPECT_EQ(rc, 0) << text;
  EXPECT_EQ(t->err, 0);
  return t;
}

MultiPtr read_table_file(const std::string &path, int entry_size, int limit, int *rc) {
  FILE *in = std::fopen(path.c_str(), "r");
  EXPECT_NE(in, nullptr) << path;
  MultiPtr table = read_stream(in, entry_size, limit, rc);
  if (in != nullptr) std::fclose(in);
  return table;
}

TableSpec random_table(std::mt19937 &rng, int entry_size, int max_keys) {
  TableSpec spec;
  spec.entry_size = entry_size;
  std::uniform_int_distribution<int> byte(0, 255);
  spec.default_entry.resize(entry_size);
  for (auto &b : spec.default_entry)
    b = static_cast<unsigned char>(byte(rng));
  /* A small pool of entries (the default among them) makes runs likely. */
  std::vector<Bytes> pool {spec.default_entry};
  for (int i = 0; i < 3; ++i) {
    Bytes e(entry_size);
    for (auto &b : e)
      b = static_cast<unsigned char>(byte(rng));
    pool.push_back(e);
  }
  /* Narrow byte ranges per table so that keys share nodes and arrays. */
  const int low = byte(rng) % 200;
  const int span = 1 + byte(rng) % 56;
  std::uniform_int_distribution<int> key_byte(low, low + span - 1);
  std::uniform_int_distribution<int> length(1, 4);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(pool.size()));
  const int max_length = length(rng); /* some tables stay single-byte */
  const int attempts = max_keys * 3;
  for (int a = 0; a < attempts && static_cast<int>(spec.keys.size()) < max_keys; ++a) {
    Bytes key(static_cast<size_t>(std::uniform_int_distribution<int>(1, max_length)(rng)));
    for (auto &b : key)
      b = static_cast<unsigned char>(key_byte(rng));
    bool clash = false;
    for (const auto &[other, entry] : spec.keys) {
      size_t n = std::min(other.size(), key.size());
      if (std::equal(key.begin(), key.begin() + static_cast<long>(n), other.begin())) {
        clash = true;
        break;
      }
    }
    if (clash) continue;
    int p = pick(rng);
    spec.keys[key] =
        p == static_cast<int>(pool.size()) ? std::nullopt : std::optional<Bytes>(pool[p]);
  }
  return spec;
}

Bytes entry_bytes(const void *entry, int size) {
  if (entry == nullptr) return {};
  const auto *p = static_cast<const unsigned char *>(entry);
  return Bytes(p, p + size);
}

/* Every lookup of every one- and two-byte string answers the same in a and b. */
void expect_same_two_byte_answers(const gl_multi_t *a, const gl_multi_t *b) {
  const int size = a->entry_size;
  auto entry = [size](const void *e) { return entry_bytes(e, size); };
  int error_a = 0, error_b = 0; /* error words of two records */
  auto *la = reinterpret_cast<gl_locale *>(&error_a);
  auto *lb = reinterpret_cast<gl_locale *>(&error_b);
  for (int b0 = 0; b0 < 256; ++b0) {
    for (int b1 = 0; b1 < 256; ++b1) {
      const unsigned char s[4] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1), 0,
                                  0};
      int na = -1, nb = -1;
      ASSERT_EQ(entry(_gl_retrieve_text_multi(s, a, &na, la)),
                entry(_gl_retrieve_text_multi(s, b, &nb, lb)));
      ASSERT_EQ(na, nb);
      ASSERT_EQ(error_a, error_b);
      for (int limit = 0; limit <= 2; ++limit) {
        ASSERT_EQ(entry(_gl_retrieve_text_multi_limit(s, a, limit, &na, la)),
                  entry(_gl_retrieve_text_multi_limit(s, b, limit, &nb, lb)));
        ASSERT_EQ(na, nb);
        ASSERT_EQ(error_a, error_b);
      }
      ASSERT_EQ(entry(_gl_retrieve_little_endian_unicode_limit(s, a, 2, la)),
                entry(_gl_retrieve_little_endian_unicode_limit(s, b, 2, lb)));
      ASSERT_EQ(error_a, error_b);
      const gl_wchar wc = static_cast<gl_wchar>(b0 << 8 | b1);
      ASSERT_EQ(entry(_gl_retrieve_wchar_multi_nl(la, wc, a)),
                entry(_gl_retrieve_wchar_multi_nl(lb, wc, b)));
      ASSERT_EQ(error_a, error_b);
      gl_char_desc d1 {1, {s[0]}}, d2 {2, {s[0], s[1]}};
      ASSERT_EQ(entry(_gl_retrieve_desc_multi(&d1, a)), entry(_gl_retrieve_desc_multi(&d1, b)));
      ASSERT_EQ(entry(_gl_retrieve_desc_multi(&d2, a)), entry(_gl_retrieve_desc_multi(&d2, b)));
    }
  }
  EXPECT_EQ(_gl_multi_max_length(a), _gl_multi_max_length(b));
  EXPECT_EQ(_gl_multi_min_length(a), _gl_multi_min_length(b));
}

}  // namespace glstest
