/*
** The OS context: creation on first use (also when the locale
** initialisation fails or asks for the context again), the creation
** helper's handling of the current context, the scratch buffer, the
** connection id and the runtime's fork flag and back-end ids.
**
** The program is linked with the trace set-up and the locale library's
** registry cache wrapped (--wrap): the first to count the set-ups and see
** which context is current while one runs; the second, the first step of
** every client locale initialisation, to count the initialisations and
** ask for the context from inside one. The locale initialisation runs
** once per process, so the cases that count it run in forked children.
*/
#include "os_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "gl_registry.h"
#include "locale_env.h"
#include "os_glsenv.h"

namespace {

int trace_setups = 0;
ostcb_t *current_during_trace_setup = nullptr;
int locale_initialisations = 0;
ostcb_t *seen_from_locale_initialisation = nullptr;

}  // namespace

extern "C" int __real__sqdbgsetup(int status);
extern "C" int __wrap__sqdbgsetup(int status) {
  ++trace_setups;
  current_during_trace_setup = ostcb;
  return __real__sqdbgsetup(status);
}

extern "C" void __real_gl_cache_registry(gl_locale *record, const char *registry);
extern "C" void __wrap_gl_cache_registry(gl_locale *record, const char *registry) {
  ++locale_initialisations;
  seen_from_locale_initialisation = CheckOsInit();
  __real_gl_cache_registry(record, registry);
}

namespace {

/* Adds a line to report when value differs from want. */
void expect(std::string &report, const char *what, long value, long want) {
  if (value != want) {
    report +=
        std::string(what) + ": " + std::to_string(value) + ", want " + std::to_string(want) + "\n";
  }
}

/* Each case starts and ends without a context. */
class OsContext : public ::testing::Test {
 protected:
  void SetUp() override { clean(); }
  void TearDown() override { clean(); }
  static void drop(ostcb_t *cb) {
    if (cb == nullptr) return;
    std::free(cb->scratch);
    std::free(cb);
  }
  static void clean() {
    drop(ostcb);
    ostcb = nullptr;
  }
  /* A child in which the next chkglsinit initialises afresh, with the
  ** counters cleared. */
  static std::string fresh_child(const std::function<std::string()> &body) {
    return oslib_test::in_child([&body] {
      oslib_test::forget_locale_initialisation();
      trace_setups = 0;
      locale_initialisations = 0;
      seen_from_locale_initialisation = nullptr;
      return body();
    });
  }
};

TEST_F(OsContext, FirstUseCreatesTheContextWithItsInitialValues) {
  ostcb_t *cb = CheckOsInit();
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(cb, ostcb);
  EXPECT_EQ(cb->read_failed, 0);
  EXPECT_EQ(cb->backend_ids[0], -1);
  EXPECT_EQ(cb->backend_ids[1], -1);
  EXPECT_EQ(cb->fork_flag, 0);
  EXPECT_EQ(cb->connection_id, -1);
  EXPECT_EQ(cb->scratch_size, 0);
  EXPECT_EQ(cb->scratch, nullptr);
  EXPECT_EQ(cb->nls_flags, 0);
  EXPECT_EQ(cb->api_error, 0);
  EXPECT_EQ(std::memcmp(cb->ctype_copy, _ixctype, sizeof cb->ctype_copy), 0);
  EXPECT_EQ(std::memcmp(cb->lowmap_copy, _ix2lowmap, sizeof cb->lowmap_copy), 0);
  EXPECT_EQ(std::memcmp(cb->upmap_copy, _ix2upmap, sizeof cb->upmap_copy), 0);
  EXPECT_EQ(CheckOsInit(), cb);
}

TEST_F(OsContext, FirstUseInitialisesTheLocaleAndSetsUpTheTraceOnce) {
  EXPECT_EQ(fresh_child([] {
              std::string report;
              ostcb_t *cb = CheckOsInit();
              if (cb == nullptr) return std::string("no context\n");
              expect(report, "second call gives the context", CheckOsInit() == cb, 1);
              expect(report, "locale initialisations", locale_initialisations, 1);
              expect(report, "trace set-ups", trace_setups, 1);
              expect(report, "client bit", CheckGlsEnv()->state->initialised & 1, 1);
              expect(report, "chkglsinit afterwards", chkglsinit(), 0);
              expect(report, "locale initialisations afterwards", locale_initialisations, 1);
              return report;
            }),
            "");
}

TEST_F(OsContext, FailedLocaleInitialisationGivesNullOnceThenTheContext) {
  EXPECT_EQ(fresh_child([] {
              std::string report;
              setenv("CLIENT_LOCALE", "xx_NONE.nothing", 1);
              expect(report, "first call gives NULL", CheckOsInit() == nullptr, 1);
              if (ostcb == nullptr) return report + "no context kept\n";
              ostcb_t *kept = ostcb;
              expect(report, "second call gives the context", CheckOsInit() == kept, 1);
              expect(report, "locale initialisations", locale_initialisations, 1);
              return report;
            }),
            "");
}

TEST_F(OsContext, LocaleInitialisationThatAsksForTheContextFindsTheNewOne) {
  EXPECT_EQ(fresh_child([] {
              std::string report;
              ostcb_t *cb = CheckOsInit();
              if (cb == nullptr) return std::string("no context\n");
              expect(report, "context seen from inside", seen_from_locale_initialisation == cb, 1);
              expect(report, "locale initialisations", locale_initialisations, 1);
              expect(report, "trace set-ups", trace_setups, 1);
              return report;
            }),
            "");
}

TEST_F(OsContext, NewContextIsCurrentOnlyWhileTheTraceIsSetUp) {
  for (bool with_previous : {false, true}) {
    ostcb_t *previous = with_previous ? CheckOsInit() : nullptr;
    current_during_trace_setup = nullptr;
    ostcb_t *made = ostcb_alloc();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(current_during_trace_setup, made);
    EXPECT_EQ(ostcb, previous);
    drop(made);
  }
}

TEST_F(OsContext, AllocationLeavesTheCurrentContextAsItWas) {
  ostcb_t *made = ostcb_alloc();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(ostcb, nullptr);
  EXPECT_EQ(made->backend_ids[0], -1);
  drop(made);

  ostcb_t *current = CheckOsInit();
  made = ostcb_alloc();
  ASSERT_NE(made, nullptr);
  EXPECT_NE(made, current);
  EXPECT_EQ(ostcb, current);
  drop(made);
}

TEST_F(OsContext, ScratchBufferGrowsInStepsOf128AndIsReused) {
  EXPECT_EQ(allocnbspace(10), nullptr) << "no context";
  ASSERT_NE(CheckOsInit(), nullptr);
  struct step {
    int request;
    int size;
    bool same_buffer;
  };
  const step steps[] = {
      {1, 128, false},   {200, 256, false},   {256, 256, true}, {10, 256, true},
      {257, 384, false}, {1000, 1024, false}, {0, 1024, true},
  };
  char *previous = nullptr;
  for (const step &s : steps) {
    char *buffer = allocnbspace(s.request);
    ASSERT_NE(buffer, nullptr) << s.request;
    EXPECT_EQ(ostcb->scratch_size, s.size) << s.request;
    if (s.same_buffer) {
      EXPECT_EQ(buffer, previous) << s.request;
    }
    std::memset(buffer, 'x', static_cast<size_t>(ostcb->scratch_size));
    previous = buffer;
  }
}

TEST_F(OsContext, ConnectionIdAndErrorWordWithAndWithoutContext) {
  dvz_ossetconn(5);
  EXPECT_EQ(dvz_osgetconn(), 0);
  EXPECT_EQ(getoserr(), 0);
  EXPECT_EQ(ostcb, nullptr) << "neither creates the context";

  ASSERT_NE(CheckOsInit(), nullptr);
  EXPECT_EQ(dvz_osgetconn(), -1);
  dvz_ossetconn(7);
  EXPECT_EQ(dvz_osgetconn(), 7);
  EXPECT_EQ(getoserr(), 0);
}

TEST_F(OsContext, ForkFlagAndBackEndIds) {
  EXPECT_EQ(get_forkflag(), 0);
  EXPECT_EQ(killbackend(), 0) << "without a context";

  set_forkflag(1);
  ASSERT_NE(ostcb, nullptr) << "setting the flag needs the context";
  EXPECT_EQ(get_forkflag(), 1);
  set_forkflag(0);
  EXPECT_EQ(get_forkflag(), 0);

  ostcb->backend_ids[0] = 1234;
  ostcb->backend_ids[1] = 5678;
  EXPECT_EQ(killbackend(), 0);
  EXPECT_EQ(ostcb->backend_ids[0], -1);
  EXPECT_EQ(ostcb->backend_ids[1], -1);
}

}  // namespace
