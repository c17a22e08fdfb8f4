/*
** sqli_test::DoubleServer: the sqlhosts file and the variables it sets
** (put back when it ends), and an association made through ASF_Call to
** the server it names, whose SQLI messages the journal shows and whose
** scenario is replaced between requests.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "asf_call_support.h"
#include "double_server.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

std::optional<std::string> env(const char *name) {
  const char *v = getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

TEST(DoubleServer, NamesItsServerAndPutsTheEnvironmentBack) {
  dvz_test::ScopedEnv before("DOVARIZASQLHOSTS", std::string("/nonexistent/sqlhosts"));
  dvz_test::ScopedEnv no_server("DOVARIZASERVER", std::nullopt);
  {
    sqli_test::DoubleServer d({}, "{}", "alpha");
    EXPECT_GT(d.port(), 0);
    EXPECT_EQ(env("DOVARIZASQLHOSTS"), d.sqlhosts_path());
    EXPECT_EQ(env("DOVARIZASERVER"), "alpha");
    const std::string first = "alpha oltlitcp 127.0.0.1 " + std::to_string(d.port()) + "\n";
    EXPECT_EQ(dvz_test::read_file(d.sqlhosts_path()), first);
    d.add_server("beta", 4321);
    EXPECT_EQ(dvz_test::read_file(d.sqlhosts_path()), first + "beta oltlitcp 127.0.0.1 4321\n");
    d.set_scenario(R"({"capabilities": 1})");
    EXPECT_EQ(dvz_test::read_file(d.scenario_path()), R"({"capabilities": 1})");
  }
  EXPECT_EQ(env("DOVARIZASQLHOSTS"), "/nonexistent/sqlhosts");
  EXPECT_EQ(env("DOVARIZASERVER"), std::nullopt);
}

TEST(DoubleServer, ServesSqliOverAnAssociationToItsServer) {
  sqli_test::DoubleServer d(
      {}, R"({"rules": [{"code": 11, "reply": "00 0f 00 00 i32(7) zeros(8) 00 0c"}]})");
  char prot[28] = {};
  asfsvcctl ctl;
  ASSERT_EQ(asf_test::call_init(prot, &ctl, {17, 10, 100}), 0) << ctl.asfcode;

  ascbinreq parms {};
  asf_test::default_parms(&parms);
  pfconkind kind {asc_kind_nodb, 0, {}};
  pfrequest pfreq {asc_pf_conkind, &kind};
  char status = 0;
  std::string server = d.server();
  ctl = asf_test::fresh_ctl();
  asfsvcreq req {};
  ASF_Init(asf_svc_connect, &req);
  req.word[2] = 7;
  req.word[3] = reinterpret_cast<uintptr_t>(server.c_str());
  req.word[4] = 1;
  req.word[5] = reinterpret_cast<uintptr_t>(&status);
  req.word[7] = reinterpret_cast<uintptr_t>(&parms);
  req.word[9] = reinterpret_cast<uintptr_t>(&pfreq);
  ASSERT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode << " " << ctl.errstr;
  void *assoc = ctl.ascid;

  ASSERT_TRUE(d.wait_for_what("connect"));
  EXPECT_EQ(d.entries("connect").at(0).get("prefix"), "sq");

  // The rule answers code 11; after the scenario changes, its default does.
  asf_test::call_send(assoc, std::string("\x00\x0b\x00\x0c", 4));
  EXPECT_EQ(asf_test::call_receive(assoc, 18), std::string("\x00\x0f\x00\x00\x00\x00\x00\x07", 8) +
                                                   std::string(8, '\0') +
                                                   std::string("\x00\x0c", 2));
  d.set_scenario(R"({"default": [{"kind": "error", "code": -201}, {"kind": "end"}]})");
  asf_test::call_send(assoc, std::string("\x00\x0b\x00\x0c", 4));
  const std::string reply = asf_test::call_receive(assoc, 12);
  EXPECT_EQ(reply.substr(0, 4), std::string("\x00\x0d\xff\x37", 4));
  EXPECT_EQ(reply.substr(10), std::string("\x00\x0c", 2));

  ASSERT_TRUE(d.wait_for([](const testbed::SqliJournalEntry &e) {
    return e.get("what") == "sqli" && e.number("code") == 12 && e.number("order") >= 5;
  }));
  const auto elevens = d.messages(11);
  ASSERT_EQ(elevens.size(), 2u);
  EXPECT_EQ(elevens[0].raw(), std::string("\x00\x0b", 2));
  EXPECT_EQ(d.messages(12).size(), 2u);

  asfsvcctl actl = asf_test::fresh_ctl(assoc);
  asfsvcreq areq {};
  ASF_Init(asf_svc_abort, &areq);
  EXPECT_EQ(ASF_Call(&actl, &areq), 0) << actl.asfcode;
  EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
}

}  // namespace
