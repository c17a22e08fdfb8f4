/*
** Framework commands through the command double: what each kind of
** system() status means (exit 0, a non-zero exit, the shell's 127, a
** signal death, no shell at all), as run_framework_command decodes it and
** as the actions log it; and the Varnholt check's refusal of a listener
** the shell would read as more than a name.
*/
#include <csignal>

#include "evaluate_support.h"
#include "framework_command.h"
#include "run_probe.h"

namespace evaltest {
namespace {

using montest::ScopedEnv;

struct status_case {
  const char *name;
  int raw; /* what system() returned */
  int exit_status; /* as decoded */
};
void PrintTo(const status_case &c, std::ostream *out) { *out << c.name; }

class CommandStatusTest : public EvaluateTest, public ::testing::WithParamInterface<status_case> {
 protected:
  /* The 4110 and 4170 texts logged since the last clear. */
  static std::vector<std::string> failures() {
    std::vector<std::string> texts;
    for (const logged &m : messages())
      if (m.id == "4110" || m.id == "4170") texts.push_back(m.text);
    return texts;
  }
};

TEST_P(CommandStatusTest, OnlyExitZeroSucceedsAndFailuresAreLogged) {
  const status_case &c = GetParam();
  const bool success = c.exit_status == 0;
  const std::string code = std::to_string(c.exit_status);
  for (const char *command : {"dovariza_jorvswap", "dorvexq", "kesmadm"})
    commands().raw_status[command] = c.raw;

  command_status direct = run_framework_command("dorvexq rhost dvz1 shutdown dovariza");
  EXPECT_EQ(c.exit_status, direct.exit_status);
  EXPECT_EQ(success, direct.succeeded());

  /* The stop action in remote mode: the toggle logs the status, the
  ** remote stop only that it failed. */
  clear();
  dbms_host = "rhost";
  EXPECT_EQ(0, take(rule("*\t*\t*\t*\t*\t*\t*\tstop")));
  std::vector<std::string> expected;
  if (!success) {
    expected = {"dovariza_jorvswap dvz1 stop failed with exit code (" + code + ")",
                "dorvexq rhost dvz1 shutdown dovariza failed"};
  }
  EXPECT_EQ(expected, failures());

  /* The local stop of the other monitors, and the takeover. */
  clear();
  dbms_host = nullptr;
  ScopedEnv hosts("HA_REMOTEHOST", "n1");
  EXPECT_EQ(0, take(rule("*\t*\t*\t*\t*\t*\t*\tstop")));
  EXPECT_EQ(success ? 1 : 0, request_takeover("dvz1", nullptr, "dovariza"));
  expected.clear();
  if (!success) {
    expected = {"dovariza_jorvswap dvz1 stop failed with exit code (" + code + ")",
                "dorvexq n1 dvz1 stop dovariza failed", "takeover request failed!"};
  }
  EXPECT_EQ(expected, failures());
}

INSTANTIATE_TEST_SUITE_P(Statuses, CommandStatusTest,
                         ::testing::Values(status_case {"ExitZero", 0, 0},
                                           status_case {"ExitThree", 3 << 8, 3},
                                           status_case {"ShellFoundNoCommand", 127 << 8, 127},
                                           status_case {"KilledBySignal", SIGKILL, -1},
                                           status_case {"KilledWithCoreDump", SIGSEGV | 0x80, -1},
                                           status_case {"NoShellCouldRun", -1, -1}),
                         [](const ::testing::TestParamInfo<status_case> &info) {
                           return info.param.name;
                         });

/* ---- the Varnholt process check ---------------------------------------- */

class ListenerTest : public EvaluateTest {
 protected:
  void SetUp() override {
    EvaluateTest::SetUp();
    varnholt_ = scripted_probe_ops;
    varnholt_.dbms_service = "varnholt";
    monitor_set_probe(&varnholt_);
  }
  probe_ops varnholt_ {};
};

TEST_F(ListenerTest, ListenerWithShellCharactersIsNotRun) {
  struct row {
    std::optional<std::string> listener;
    bool runs;
  };
  for (const row &r :
       {row {"l1", true}, row {"lsnr_2.a@b:c+d-e", true}, row {"", true}, row {std::nullopt, true},
        row {"l1;touch x", false}, row {"$(id)", false}, row {"`id`", false}, row {"a b", false},
        row {"l'1", false}, row {"l1|x", false}, row {"a/b", false}}) {
    SCOPED_TRACE(r.listener.value_or("(unset)"));
    clear();
    ScopedEnv listener("VARNHOLT_LISTENER", r.listener);
    std::string line = "varnholt_vimtask dvz1 " + r.listener.value_or("");
    EXPECT_EQ(r.runs ? 1 : 0, ha_db_monitor_processes("dvz1"));
    if (r.runs) {
      EXPECT_EQ((std::vector<std::string> {line}), commands().lines);
      EXPECT_TRUE(messages().empty());
    } else {
      EXPECT_TRUE(commands().lines.empty());
      EXPECT_EQ((std::vector<logged> {{"4110", LOG_ERR, line + " failed"}}), messages());
    }
  }
}

TEST_F(ListenerTest, KilledCheckIsAFailedCheck) {
  ScopedEnv listener("VARNHOLT_LISTENER", "l1");
  commands().raw_status["varnholt_vimtask"] = SIGKILL;
  EXPECT_EQ(0, ha_db_monitor_processes("dvz1"));
  ASSERT_EQ(1u, messages().size());
  EXPECT_EQ("4192", messages()[0].id);
  EXPECT_EQ(0u,
            messages()[0].text.rfind("varnholt_vimtask dvz1 l1 failed with status -1 : error ", 0))
      << messages()[0].text;
}

}  // namespace
}  // namespace evaltest
