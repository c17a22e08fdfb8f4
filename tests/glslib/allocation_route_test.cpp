/*
** Every block the locale library makes comes from the host allocator of
** slot 13 and goes back through slot 8, so a host's allocator (and the
** failing-allocator double) sees all of them. This binary replaces the
** global operator new and counts its calls while library code runs: a
** std::string or container inside the library shows up here, even where
** its text is short enough never to fail a test otherwise.
**
** The host doubles used inside the counted window are the test's own and
** make no C++ allocation themselves.
*/
#include "cvo_builder.h"
#include "lco_builder.h"
#include "table_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

std::atomic<bool> counting {false};
std::atomic<long> free_store_calls {0};

}  // namespace

void *operator new(std::size_t size) {
  if (counting.load()) ++free_store_calls;
  void *block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

/* Slots 13 and 8: plain counters, no containers. */
long host_allocs = 0;
long host_frees = 0;
void *counting_malloc(size_t size) {
  ++host_allocs;
  return std::malloc(size);
}
void counting_free(void *block) {
  ++host_frees;
  std::free(block);
}

/* Slot 0: a fixed table of C strings. */
const char *env_names[4] = {};
char *env_values[4] = {};
char *table_getenv(const char *name) {
  for (int i = 0; i < 4 && env_names[i] != nullptr; ++i) {
    if (std::strcmp(env_names[i], name) == 0) return env_values[i];
  }
  return nullptr;
}

/* Counts operator new calls between its start and stop. */
struct CountedWindow {
  CountedWindow() {
    free_store_calls = 0;
    counting = true;
  }
  long stop() {
    counting = false;
    return free_store_calls.load();
  }
  ~CountedWindow() { counting = false; }
};

class AllocationRoute : public ::testing::Test {
 protected:
  AllocationRoute()
      : malloc_slot_(GL_EXT_MALLOC, counting_malloc),
        free_slot_(GL_EXT_FREE, counting_free),
        getenv_slot_(GL_EXT_GETENV, table_getenv) {
    host_allocs = host_frees = 0;
    gl_path_ = dir_.path() + "/nowhere-at-all:" + dir_.path();
    env_names[0] = "GL_PATH";
    env_values[0] = gl_path_.data();
    dir_.write("toy.lco", lcotest::toy_locale().text());
    dir_.write("en_us/0333.lco", lcotest::toy_locale().text());
    dir_.write("reg", "utf8 57372\n8859-1 819\nlatin-1 819\na-long-alias-name 819\n");
    registry_ = dir_.file("reg");
    gl_free_registry_cache();
  }
  ~AllocationRoute() override {
    gl_free_registry_cache();
    env_names[0] = nullptr;
  }

  dvz_test::TempDir dir_;
  std::string gl_path_;
  std::string registry_;
  glstest::ScopedSlot malloc_slot_;
  glstest::ScopedSlot free_slot_;
  glstest::ScopedSlot getenv_slot_;
};

TEST_F(AllocationRoute, SpecificationsAndTheRegistryUseOnlyTheHostAllocator) {
  const std::string long_dir = dir_.path() + "/a/directory/name/well/beyond/short/strings";
  const std::string fspec_dir = dir_.path();
  const char *reg = registry_.c_str();
  int word = 0;
  auto *rec = reinterpret_cast<gl_locale *>(&word);
  char out[512];
  char lt[GL_LC_LANGTERR_SIZE], cs[GL_LC_CSTEXT_SIZE], mod[GL_LC_MODIFIER_SIZE];
  uint16_t number = 0, alias = 0, plain = 0;
  int rc[12] = {};

  CountedWindow window;
  /* Read straight from the file, then from the cache. */
  alias = gl_cs_name2cs_num(rec, "A-LONG-ALIAS-NAME", reg);
  gl_cache_registry(rec, reg);
  /* The text after a short form looked up as a code-set name. */
  number = gl_lc_spec2cs_num(rec, "en_US.utf8 and-then-a-long-trailing-text", reg);
  plain = gl_lc_spec2cs_num(rec, "a-long-alias-name", reg);
  rc[0] = gl_lc_spec2lc_fname(rec, "GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.latin-1@euro ; ", out,
                              reg, long_dir.c_str());
  rc[1] = gl_lc_spec2msg_dname(rec, "GL_MESSAGES = en_US.8859-1 ; ", out, reg, long_dir.c_str());
  rc[2] = gl_lc_fname2lc_pieces(rec, "en_us/0333euro.lco", lt, cs, mod);
  rc[3] = gl_lc_spec2lc_norm(
      rec,
      "GL_CTYPE = en_US.8859-1 ; GL_COLLATE = en_US.8859-1 ; GL_TIME = en_US.8859-1 ; "
      "GL_MONETARY = en_US.8859-1 ; GL_NUMERIC = en_US.8859-1 ; "
      "GL_MESSAGES = en_US.latin-1 ; ",
      out, reg);
  rc[4] = gl_lc_short2lc_long(rec, "en_US.a-long-alias-name", out, reg);
  rc[5] = gl_lc_spec2lc_short(rec, "GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.8859-1 ; ", out, reg);
  rc[6] = gl_lc_spec2category(rec, "GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.latin-1@euro ; ",
                              GL_TIME, out, reg);
  rc[7] = gl_is_lc_spec(rec, "GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.a-long-alias-name");
  rc[8] = gl_lc_fname2lc_spec(rec, "en_us/0333.lco", out, fspec_dir.c_str());
  rc[9] = gl_lc_fname2lc_spec(rec, "GL_CTYPE = en_us/0333.lco ; GL_TIME = en_us/0333.lco", out,
                              fspec_dir.c_str());
  rc[10] = _gl_lc_short_spec2lc_short_norm(rec, "en_US.latin-1@euro", out, reg);
  rc[11] = gl_cs_nums2cv_fname(rec, 819, 57372, out, long_dir.c_str());
  gl_free_registry_cache();
  const long free_store = window.stop();

  EXPECT_EQ(free_store, 0) << "the library used the C++ free store";
  EXPECT_EQ(alias, 819);
  EXPECT_EQ(number, 0xE000); /* the trailing text is no code-set name */
  EXPECT_EQ(plain, 819);
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(rc[i], 0) << "call " << i;
  EXPECT_GT(host_allocs, 0); /* the cache and the composed names */
  EXPECT_EQ(host_allocs, host_frees);
}

TEST_F(AllocationRoute, LoadingQueryingAndFreeingUseOnlyTheHostAllocator) {
  gl_locale *r = nullptr;
  gl_locale *copy = nullptr;
  int created[2] = {};
  char *query[2] = {};
  const char *month = nullptr;
  int copied = -1;

  CountedWindow window;
  created[0] = gl_create_null_locale_4(&r);
  created[1] = gl_create_null_locale_4(&copy);
  query[0] = gl_setlocale_4(r, GL_ALL, "toy.lco");
  query[1] = gl_setlocale_4(r, GL_TIME, "en_us/0333.lco");
  month = gl_nl_langinfo(r, GL_MON_1);
  copied = gl_copy_cat(copy, r, GL_ALL);
  gl_localeconv(copy);
  gl_destroystring(query[0]);
  gl_destroystring(query[1]);
  gl_lc_unload(copy);
  gl_lc_unload(r);
  const long free_store = window.stop();

  EXPECT_EQ(free_store, 0) << "the library used the C++ free store";
  EXPECT_EQ(created[0], 0);
  EXPECT_EQ(created[1], 0);
  EXPECT_NE(query[0], nullptr);
  EXPECT_NE(query[1], nullptr);
  EXPECT_NE(month, nullptr);
  EXPECT_EQ(copied, 0);
  EXPECT_GT(host_allocs, 50);
  EXPECT_EQ(host_allocs, host_frees);
}

TEST_F(AllocationRoute, MultiLevelTablesUseOnlyTheHostAllocator) {
  std::string text = glstest::plain_table_text;
  char *written = nullptr;
  size_t written_size = 0;
  int rc[4] = {-1, -1, -1, -1};

  FILE *in = fmemopen(text.data(), text.size(), "r");
  FILE *out = open_memstream(&written, &written_size);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  CountedWindow window;
  gl_multi_t *read = _gl_create_multi(2, 0, nullptr);
  rc[0] = _gl_fscanf_multi(in, read, 4, ub2_reader);
  gl_multi_t *built = _gl_create_multi(2, 0, nullptr);
  const unsigned char entry[2] = {1, 2};
  gl_char_desc key {2, {0x81, 0x40}};
  rc[1] = _gl_insert_desc_multi(&key, entry, built);
  rc[2] = _gl_compress_multi(read);
  rc[3] = _gl_fprintf_multi(out, read, glstest::hex_entry_writer);
  _gl_free_multi(read);
  _gl_free_multi(built);
  const long free_store = window.stop();
  std::fclose(in);
  std::fclose(out);
  std::free(written);

  EXPECT_EQ(free_store, 0) << "the library used the C++ free store";
  EXPECT_EQ(rc[0], 0);
  EXPECT_EQ(rc[1], 0);
  EXPECT_EQ(rc[2], 0);
  EXPECT_EQ(rc[3], 0);
  EXPECT_GT(host_allocs, 0);
  EXPECT_EQ(host_allocs, host_frees);
}

TEST_F(AllocationRoute, ConversionUsesOnlyTheHostAllocator) {
  cvotest::Cvo file = cvotest::complete_single_byte();
  dir_.write("0333e01c.cvo", file.text());
  dir_.write("8859-1_utf8.cvo", file.text());
  gl_cv_desc *loaded = nullptr;
  gl_cv_desc *opened = nullptr;
  int rc[4] = {};
  const unsigned char text[] = "a long enough text to convert";
  const unsigned char *in = text;
  unsigned char out[64];
  unsigned char *o = out;
  int room = static_cast<int>(sizeof out);
  int lossy = 0;

  CountedWindow window;
  gl_cache_registry(nullptr, registry_.c_str());
  rc[0] = gl_cv_load(&loaded, "en_US.utf8", "en_US.8859-1", nullptr, nullptr);
  rc[1] = gl_miconv(loaded, &in, nullptr, &o, &room, &lossy);
  rc[2] = gl_cv_open(&opened, "en_US.utf8", "en_US.8859-1");
  _gl_free_ptr(loaded->fast_map);
  _gl_free_ptr(opened->fast_map);
  rc[3] = gl_cv_unload(loaded) + gl_cv_unload(opened);
  gl_free_registry_cache();
  const long free_store = window.stop();

  EXPECT_EQ(free_store, 0) << "the library used the C++ free store";
  EXPECT_EQ(rc[0], 1);
  EXPECT_EQ(rc[1], 0);
  EXPECT_EQ(rc[2], 1);
  EXPECT_EQ(rc[3], 0);
  EXPECT_GT(host_allocs, 0);
  EXPECT_EQ(host_allocs, host_frees);
}

TEST_F(AllocationRoute, NumbersAndMoneyUseOnlyTheHostAllocator) {
  gl_locale *r = nullptr;
  ASSERT_EQ(gl_create_null_locale_4(&r), 0);
  char *query = gl_setlocale_4(r, GL_ALL, "toy.lco");
  ASSERT_NE(query, nullptr);
  host_allocs = host_frees = 0;
  auto U = [](const char *s) { return reinterpret_cast<const unsigned char *>(s); };
  unsigned char out[128];
  int number = 0;
  double value = 0;
  int rc[4] = {};

  CountedWindow window;
  rc[0] = gl_mbsfnum(r, out, sizeof out, U("%'d %.2f %5s"), 1234567, 2.5, "text");
  rc[1] = gl_mbspnum(r, U("12 3.5"), U("%3d %4f"), &number, &value);
  rc[2] = gl_mbsfmon(r, out, sizeof out, U("%=*#8n"), 1234.5);
  rc[3] = gl_mbspmon(r, U("$1,234.50"), U("%\'n"), &value) != nullptr;
  const long free_store = window.stop();

  EXPECT_EQ(free_store, 0) << "the library used the C++ free store";
  EXPECT_GT(rc[0], 0);
  EXPECT_EQ(rc[1], 2);
  EXPECT_GT(rc[2], 0);
  EXPECT_EQ(rc[3], 1);
  EXPECT_GT(host_allocs, 0);
  EXPECT_EQ(host_allocs, host_frees);
  gl_destroystring(query);
  gl_lc_unload(r);
}

}  // namespace
