/*
** Test-side writer of locale files (see lco_builder.h).
*/
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lcotest {

Bytes key(std::initializer_list<int> bytes) {
  Bytes k;
  for (int b : bytes)
    k.push_back(static_cast<unsigned char>(b));
  return k;
}

namespace {

std::string hex8(uint32_t v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08x", v);
  return buffer;
}

}  // namespace

void u16_entry_writer(FILE *stream, const void *entry, int) {
  uint16_t value;
  std::memcpy(&value, entry, sizeof value);
  std::fprintf(stream, "%04x", value);
}

std::string table_text(const std::map<Bytes, uint16_t> &entries, uint16_t default_entry) {
  gl_multi_t *table = _gl_create_multi(2, GL_MULTI_VALID, &default_entry);
  EXPECT_NE(table, nullptr);
  for (const auto &[k, v] : entries) {
    gl_char_desc desc {};
    desc.byte_count = static_cast<uint32_t>(k.size());
    std::memcpy(desc.bytes, k.data(), k.size());
    EXPECT_EQ(_gl_insert_desc_multi(&desc, &v, table), 0);
  }
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  EXPECT_EQ(_gl_fprintf_multi(out, table, u16_entry_writer), 0);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  _gl_free_multi(table);
  return text;
}

std::string enc(std::string_view bytes) {
  std::string out = std::to_string(bytes.size());
  if (!bytes.empty()) {
    out += ' ';
    char pair[4];
    for (unsigned char c : bytes) {
      std::snprintf(pair, sizeof pair, "%02x", c);
      out += pair;
    }
  }
  return out + "\n";
}

std::string Lco::text() const {
  std::string out = header;
  const std::pair<const char *, const std::optional<std::string> *> sections[] = {
      {"### LC_CTYPE\n", &ctype},     {"### LC_COLLATE\n", &collate},
      {"### LC_NUMERIC\n", &numeric}, {"### LC_MONETARY\n", &monetary},
      {"### LC_TIME\n", &time},       {"### LC_MESSAGES\n", &messages}};
  for (const auto &[marker, body] : sections) {
    if (!body->has_value()) continue;
    out += marker;
    out += **body;
  }
  return out;
}

std::string header_text(std::string_view codeset, int version) {
  std::string out = "FILE_TYPE=locale_object\n";
  out += "COMPILER_VERSION=" + std::to_string(version) + "\n";
  out += "HEADER_LINES=5\n";
  out += "SOURCE=test fixture\n";
  out += "GENERATOR=lco_builder\n";
  out += std::string(codeset) + "\n";
  return out;
}

std::string CtypeToy::text() const {
  std::string out = table_text(classes);
  out += std::to_string(named.size()) + "\n";
  for (const auto &[number, name] : named)
    out += std::to_string(number) + " " + name + "\n";
  out += table_text(case_index);
  out += std::to_string(pairs.size());
  for (const auto &[upper, lower] : pairs)
    out += "\n" + hex8(upper) + " " + hex8(lower);
  out += after_pairs + "\n";
  return out;
}

CtypeToy toy_ctype() {
  CtypeToy t;
  t.classes = {{key({'A'}), 1 | 4 | 128 | 256 | 512},
               {key({'a'}), 2 | 4 | 128 | 256 | 512},
               {key({'1'}), 8 | 128 | 256 | 512}};
  t.case_index = {{key({'A'}), 1}, {key({'a'}), 1}};
  t.pairs = {{'A', 'a'}};
  return t;
}

CtypeToy two_byte_ctype() {
  CtypeToy t;
  t.min_length = 2;
  for (int c = 0x21; c < 0x7f; ++c)
    t.classes[key({0, c})] = 128 | 256;
  std::map<Bytes, uint16_t> own = {{key({0, 'A'}), 1 | 4 | 128 | 256},
                                   {key({0, 'a'}), 2 | 4 | 128 | 256},
                                   {key({0, '1'}), 8 | 128 | 256},
                                   {key({0, '\n'}), 16 | 32},
                                   {key({0, ' '}), 16 | 256 | 1024},
                                   {key({0, '+'}), 64 | 128 | 256},
                                   {key({0, '-'}), 64 | 128 | 256},
                                   {key({0, '.'}), 64 | 128 | 256},
                                   {key({0, 0}), 32}};
  for (const auto &[k, v] : own)
    t.classes[k] = v;
  t.case_index = {{key({0, 'A'}), 1}, {key({0, 'a'}), 1}};
  t.pairs = {{0x41, 0x61}};
  return t;
}

std::string CollateToy::text() const {
  std::string out = kind + "\n";
  if (kind != "as_specified") return out;
  out += table_text(rows);
  out += std::to_string(order) + " " + std::to_string(highest_row) + " " + std::to_string(passes) +
         " " + std::to_string(elements.size()) + " " + std::to_string(expansions.size()) + " " +
         std::to_string(highest_weight) + "\n";
  char buffer[16];
  for (int f : flags) {
    std::snprintf(buffer, sizeof buffer, "%04x", f);
    out += buffer;
  }
  out += "\n";
  for (const Element &e : elements) {
    std::snprintf(buffer, sizeof buffer, "%x%04x", static_cast<unsigned>(e.chars.size()), e.row);
    out += buffer;
    for (uint32_t c : e.chars)
      out += " " + hex8(c);
    out += "\n";
  }
  for (const auto &x : expansions) {
    std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(x.size()));
    out += buffer;
    for (uint32_t c : x)
      out += " " + hex8(c);
    out += "\n";
  }
  for (const auto &row : weights) {
    for (uint16_t w : row) {
      std::snprintf(buffer, sizeof buffer, "%04x ", w);
      out += buffer;
    }
    out += "\n";
  }
  return out;
}

CollateToy toy_collate() {
  CollateToy c;
  c.rows = {{key({'1'}), 0}, {key({'A'}), 1}, {key({'a'}), 2}};
  c.highest_row = 2;
  c.weights = {{2}, {3}, {4}};
  return c;
}

std::string toy_numeric(std::string_view decimal, std::string_view thousands,
                        std::string_view grouping) {
  return enc(decimal) + enc(thousands) + std::string(grouping) + "\n" + enc("+") + enc("-");
}

std::string toy_monetary() {
  return enc("USD ") + enc("$") + enc(".") + enc(",") + "2 3 3\n" + enc("") + enc("-") +
         "2 2 1 0 1 0 1 1\n";
}

std::string MonetaryToy::text() const {
  std::string ints;
  for (int v : {int_frac_digits, frac_digits, p_cs_precedes, p_sep_by_space, n_cs_precedes,
                n_sep_by_space, p_sign_posn, n_sign_posn})
    ints += (ints.empty() ? "" : " ") + std::to_string(v);
  return enc(int_curr_symbol) + enc(currency_symbol) + enc(decimal_point) + enc(thousands_sep) +
         grouping + "\n" + enc(positive_sign) + enc(negative_sign) + ints + "\n";
}

std::string toy_messages() { return enc("^[yY]") + enc("^[nN]") + enc("yes") + enc("no"); }

std::string toy_time(int month_count, const std::vector<std::string> &eras,
                     const std::vector<std::string> &alt_digits, std::string_view calendar) {
  TimeToy toy;
  toy.month_count = month_count;
  toy.eras = eras;
  toy.alt_digits = alt_digits;
  toy.calendar = std::string(calendar);
  return toy.text();
}

std::string TimeToy::text() const {
  std::string out = calendar + "\n";
  const char *abdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const char *days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                        "Thursday", "Friday", "Saturday"};
  for (const char *d : abdays)
    out += enc(d);
  for (const char *d : days)
    out += enc(d);
  auto names = [&](const std::vector<std::string> &given, const std::string &stem) {
    out += std::to_string(given.empty() ? month_count : static_cast<int>(given.size())) + "\n";
    for (int i = 1; given.empty() && i <= month_count; ++i)
      out += enc(stem + std::to_string(i));
    for (const auto &n : given)
      out += enc(n);
  };
  names(abmon, "M");
  names(mon, "Month");
  out += enc(d_t_fmt) + enc(d_fmt) + enc(t_fmt) + enc(am) + enc(pm) + enc(t_fmt_ampm);
  out += std::to_string(eras.size()) + "\n";
  for (const auto &e : eras)
    out += enc(e);
  out += enc(era_d_fmt) + enc(era_t_fmt) + enc(era_d_t_fmt);
  out += std::to_string(alt_digits.size()) + "\n";
  for (const auto &d : alt_digits)
    out += enc(d);
  return out;
}

Lco toy_locale(std::string_view codeset) {
  Lco l;
  l.header = header_text(codeset);
  l.ctype = toy_ctype().text();
  l.collate = toy_collate().text();
  l.numeric = toy_numeric();
  l.monetary = toy_monetary();
  l.time = toy_time();
  l.messages = toy_messages();
  return l;
}

LocalePtr new_record() {
  gl_locale *r = nullptr;
  EXPECT_EQ(gl_create_null_locale_4(&r), 0);
  return LocalePtr(r);
}

LocalePtr new_shipped_record(glstest::TableGetenv &env, const std::string &data) {
  env.set("GL_PATH", data + "/lc11");
  gl_free_registry_cache();
  gl_cache_registry(nullptr, (data + "/cm3/registry").c_str());
  return new_record();
}

Scene::Scene(Registry registry) {
  env_.set("GL_PATH", dir_.path());
  env_.set("DOVARIZADIR", dir_.path());
  gl_free_registry_cache();
  /* No registry file in the directory: caching installs the built-in table. */
  if (registry == Registry::built_in) gl_cache_registry(nullptr, nullptr);
}

Scene::~Scene() { gl_free_registry_cache(); }

void Scene::write(std::string_view name, const Lco &file) const { dir_.write(name, file.text()); }

void Scene::write(std::string_view name, std::string_view text) const { dir_.write(name, text); }

ToyLocales::ToyLocales() {
  scene.write("default.lco", toy_locale());
  scene.write("toy.lco", toy_locale());
  scene.write("latin2.lco", toy_locale("8859-2"));
}

const char *const category_keys[6] = {"GL_CTYPE",    "GL_COLLATE", "GL_NUMERIC",
                                      "GL_MONETARY", "GL_TIME",    "GL_MESSAGES"};

std::string query_naming(std::string_view file) {
  std::string query;
  for (const char *key : category_keys)
    query += std::string(key) + " = " + std::string(file) + " ; ";
  return query;
}

std::string load(gl_locale *record, int category, const char *spec) {
  char *query = gl_setlocale_4(record, category, spec);
  if (query == nullptr) return "(null)";
  std::string out = query;
  gl_destroystring(query);
  return out;
}

LocalePtr ToyTimes::make(const TimeToy &time) {
  Lco file = toy_locale();
  file.time = time.text();
  std::string name = "t" + std::to_string(++files_) + ".lco";
  scene_.write(name, file);
  LocalePtr r = new_record();
  EXPECT_NE(load(r.get(), GL_ALL, name.c_str()), "(null)");
  EXPECT_EQ(r->error, 0);
  return r;
}

Lco two_byte_locale() {
  Lco f;
  f.header = header_text("unicode");
  f.ctype = two_byte_ctype().text();
  CollateToy c = toy_collate();
  c.rows = {{key({0, 'A'}), 1}, {key({0, 'a'}), 2}, {key({0, '1'}), 0}};
  f.collate = c.text();
  auto two = [](std::string_view s) {
    std::string out;
    for (char ch : s) {
      out.push_back('\0');
      out.push_back(ch);
    }
    return enc(out);
  };
  f.numeric = two(".") + two("") + "0\n" + two("+") + two("-");
  f.monetary =
      two("") + two("") + two(".") + two("") + "0\n" + two("") + two("-") + "0 0 0 0 0 0 0 0\n";
  f.time = "gregorian\n";
  for (int i = 0; i < 14; ++i)
    f.time->append(two("a"));
  f.time->append("1\n" + two("A") + "1\n" + two("Aa"));
  for (int i = 0; i < 6; ++i)
    f.time->append(two("1"));
  f.time->append("1\n" + two("+:1:1989/01/08:+*:A:a:1"));
  for (int i = 0; i < 3; ++i)
    f.time->append(two(""));
  f.time->append("1\n" + two("1"));
  f.messages = two("A") + two("a") + two("A") + two("a");
  return f;
}

}  // namespace lcotest
