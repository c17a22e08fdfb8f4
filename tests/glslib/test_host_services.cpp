// Tests of the host-service table, the memory and environment helpers, the
// number helpers and the character-descriptor helpers.
#include "glslib.h"
#include "host_doubles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

using namespace glstest;

namespace {

// A record whose first word is the error word, as every library record.
struct FakeRecord {
    int error = 0;
    int other = 0;
};
gl_locale *as_record(FakeRecord &r) { return reinterpret_cast<gl_locale *>(&r); }

int hook_word;
int *hook_errno(gl_locale *) { return &hook_word; }

}  // namespace

TEST(HostServiceTable, RejectsSlotsOutsideTheTableWithError9) {
    FakeRecord record;
    gl_ext_funcptr before = _gl_get_ext_funcptr(GL_EXT_GETENV);
    EXPECT_EQ(gl_setextfunc(as_record(record), 18, reinterpret_cast<gl_ext_funcptr>(hook_errno)), -1);
    EXPECT_EQ(record.error, 9);
    record.error = 0;
    EXPECT_EQ(gl_setextfunc(as_record(record), -1, nullptr), -1);
    EXPECT_EQ(record.error, 9);
    EXPECT_EQ(_gl_get_ext_funcptr(GL_EXT_GETENV), before);
    EXPECT_EQ(_gl_get_ext_funcptr(18), nullptr);
    EXPECT_EQ(_gl_get_ext_funcptr(-1), nullptr);
}

TEST(HostServiceTable, NullRecordErrorsGoToAScratchWordWithoutAHook) {
    // Storing an error for no record must not write through NULL.
    ASSERT_EQ(_gl_get_ext_funcptr(GL_EXT_ERRNO), nullptr);
    int *word = _gl_ext_errno(nullptr);
    ASSERT_NE(word, nullptr);
    *word = 3;
    EXPECT_EQ(gl_setextfunc(nullptr, 99, nullptr), -1);
    EXPECT_EQ(*_gl_ext_errno(nullptr), 9);
    FakeRecord record;
    EXPECT_EQ(_gl_ext_errno(as_record(record)), &record.error);
}

TEST(HostServiceTable, InstalledFunctionsReplaceTheDefaultsUntilRemoved) {
    FakeRecord record;
    {
        ScopedSlot hook(GL_EXT_ERRNO, hook_errno);
        EXPECT_EQ(_gl_ext_func, 1);
        EXPECT_EQ(_gl_ext_errno(as_record(record)), &hook_word);
        EXPECT_EQ(_gl_get_ext_funcptr(GL_EXT_ERRNO), reinterpret_cast<gl_ext_funcptr>(hook_errno));
    }
    EXPECT_EQ(_gl_ext_errno(as_record(record)), &record.error);
    EXPECT_EQ(_gl_ext_func, 1);  // never cleared
}

TEST(HostServiceTable, StreamWrappersPassArgumentsAndResultsThrough) {
    char text[] = "ab";
    FILE *in = fmemopen(text, 2, "r");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(_gl_ext_fgetc(in), 'a');
    EXPECT_EQ(_gl_ext_ungetc('z', in), 'z');
    EXPECT_EQ(_gl_ext_getc(in), 'z');
    EXPECT_EQ(_gl_ext_ftell(in), 1);
    EXPECT_EQ(_gl_ext_fseek(in, 0, SEEK_SET), 0);
    char line[8];
    EXPECT_EQ(_gl_ext_fgets(line, sizeof line, in), line);
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(_gl_ext_fgetc(in), EOF);
    EXPECT_NE(_gl_ext_feof(in), 0);
    EXPECT_EQ(_gl_ext_ferror(in), 0);
    EXPECT_EQ(_gl_ext_fclose(in), 0);
}

TEST(HostServiceTable, ClockDefaultsFillTheRecordsFromLocalTime) {
    std::time_t before = std::time(nullptr);
    gl_date_rec date{};
    gl_time_rec time{};
    time.tm_spare1 = 7;
    ASSERT_EQ(_gl_ext_currdate(&date), 0);
    ASSERT_EQ(_gl_ext_currtime(&time), 0);
    struct tm now;
    localtime_r(&before, &now);
    EXPECT_EQ(date.year, now.tm_year + 1900);
    EXPECT_GE(date.month, 1);
    EXPECT_LE(date.month, 12);
    EXPECT_EQ(time.tm_fraction, 0);
    EXPECT_EQ(time.tm_year, now.tm_year);
    EXPECT_EQ(time.tm_spare1, 0);
    EXPECT_EQ(time.tm_spare2, 0);
}

TEST(MemoryHelpers, AllocZeroNeverCallsTheHostAndFreeNullIsNothing) {
    FailingAllocator allocator;
    EXPECT_EQ(_gl_alloc_ptr(0), nullptr);
    EXPECT_EQ(allocator.calls(), 0);
    _gl_free_ptr(nullptr);
    void *block = _gl_alloc_ptr(16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocator.calls(), 1);
    gl_destroystring(static_cast<char *>(block));
    EXPECT_EQ(allocator.outstanding(), 0);
    EXPECT_FALSE(allocator.freed_unknown());
}

TEST(MemoryHelpers, AllocReturnsNullWhenTheHostRefuses) {
    FailingAllocator allocator(1);
    EXPECT_EQ(_gl_alloc_ptr(8), nullptr);
    EXPECT_EQ(allocator.failures(), 1);
}

TEST(MemoryHelpers, EnvVarIsNullWhenUnsetOrEmpty) {
    TableGetenv env({{"SET", "value"}, {"EMPTY", ""}});
    EXPECT_STREQ(_gl_get_env_var("SET"), "value");
    EXPECT_EQ(_gl_get_env_var("EMPTY"), nullptr);
    EXPECT_EQ(_gl_get_env_var("UNSET"), nullptr);
}

TEST(NumberHelpers, DigitCounts) {
    struct Case {
        int32_t n, base;
        int digits;
    } cases[] = {{0, 10, 1}, {9, 10, 1}, {10, 10, 2}, {-500, 10, 1}, {255, 16, 2}, {256, 16, 3},
                 {INT32_MAX, 10, 10}, {8, 2, 4}, {5, 1, 1}, {5, 0, 1}};
    for (const auto &c : cases) EXPECT_EQ(_gl_digits(c.n, c.base), c.digits) << c.n << " base " << c.base;
    EXPECT_EQ(_gl_udigits(UINT32_MAX, 10), 10);
    EXPECT_EQ(_gl_udigits(0, 10), 1);
    EXPECT_EQ(_gl_udigits(UINT32_MAX, 16), 8);
}

TEST(NumberHelpers, PowersWrapAndCountDown) {
    EXPECT_EQ(_gl_ipow(10, 3), 1000);
    EXPECT_EQ(_gl_ipow(7, 0), 1);
    EXPECT_EQ(_gl_ipow(7, -2), 1);
    EXPECT_EQ(_gl_ipow(2, 31), INT32_MIN);
    EXPECT_EQ(_gl_ipow(2, 32), 0);
    EXPECT_EQ(_gl_ipow(-3, 3), -27);
    EXPECT_EQ(_gl_ipow(3, 21), static_cast<int32_t>(10460353203ull & 0xFFFFFFFFu));
    EXPECT_DOUBLE_EQ(_gl_fpow(10.0, 3), 1000.0);
    EXPECT_DOUBLE_EQ(_gl_fpow(10.0, -2), 0.01 * 1.0);
    EXPECT_DOUBLE_EQ(_gl_fpow(2.5, 0), 1.0);
}

TEST(CharDescriptors, OffsetCarriesAndBorrowsAcrossBytes) {
    struct Case {
        gl_char_desc in;
        int32_t delta;
        gl_char_desc out;
    } cases[] = {
        {{2, {0x12, 0xFF}}, 1, {2, {0x13, 0x00}}},
        {{2, {0x12, 0x34}}, 0x102, {2, {0x13, 0x36}}},
        {{1, {0xFF}}, 1, {1, {0x00}}},                  // the carry leaves the first byte
        {{3, {0x01, 0x00, 0x00}}, -1, {3, {0x00, 0xFF, 0xFF}}},
        {{2, {0x00, 0x00}}, -1, {2, {0xFF, 0xFF}}},
        {{2, {0x41, 0x42}}, 0, {2, {0x41, 0x42}}},
        {{0, {0x41}}, 5, {0, {0x41}}},
        {{4, {0x00, 0x00, 0xFF, 0xFF}}, 0x7FFFFFFF, {4, {0x80, 0x00, 0xFF, 0xFE}}},
    };
    for (const auto &c : cases) {
        gl_char_desc out{};
        _gl_desc_offset(&c.in, c.delta, &out);
        EXPECT_EQ(_gl_desc_eq(&out, &c.out), 1) << "delta " << c.delta;
    }
}

TEST(CharDescriptors, EqualityAndPacking) {
    gl_char_desc a{2, {0xC3, 0xA9}}, b{2, {0xC3, 0xA9, 0x55}}, c{3, {0xC3, 0xA9}};
    EXPECT_EQ(_gl_desc_eq(&a, &b), 1);  // bytes past the count do not matter
    EXPECT_EQ(_gl_desc_eq(&a, &c), 0);
    EXPECT_EQ(_gl_desc_to_gl_wchar(&a), 0xC3A9u);
    gl_char_desc four{4, {0x81, 0x30, 0x81, 0x30}}, none{0, {0x41}};
    EXPECT_EQ(_gl_desc_to_gl_wchar(&four), 0x81308130u);
    EXPECT_EQ(_gl_desc_to_gl_wchar(&none), 0u);
}
