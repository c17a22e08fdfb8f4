/*
** The action file: reading real TAB-separated files (quirks included),
** its limits, the messages of bad fields with their fallbacks, and rule
** matching.
*/
#include <syslog.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "action_file.h"
#include "test_helpers.h"

using namespace montest;

namespace {

const std::string data_dir = DVZ_TEST_DATA_DIR;

/* An action list on the heap (it is large), released with its patterns. */
struct ListDeleter {
  void operator()(action_list *list) const {
    clear_action_list(list);
    delete list;
  }
};
using ListPtr = std::unique_ptr<action_list, ListDeleter>;
ListPtr new_list() { return ListPtr(new action_list {}); }

/* (id, text) of every recorded message, in order. */
std::vector<std::pair<std::string, std::string>> messages() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const sink_message &m : recorded().messages) {
    size_t dot = m.ident.rfind('.');
    out.emplace_back(m.ident.substr(dot + 1, 4), m.text);
    EXPECT_EQ(m.level, LOG_ERR) << m.text;
  }
  return out;
}

const std::string valid_rule = "*\t*\t*\t*\t*\t*\t*\tnone\n";

class ActionFile : public ::testing::Test {
 protected:
  LoggingScope scope_;
  dvz_test::TempDir dir_;
};

TEST_F(ActionFile, QuirksFixtureGivesExactMessagesAndFallbacks) {
  const std::string path = data_dir + "/quirks.actions";
  ListPtr list = new_list();
  ASSERT_EQ(read_action_file(list.get(), path.c_str()), 1);

  using M = std::pair<std::string, std::string>;
  const std::string wrong = "Wrong number of fields in line ";
  std::vector<M> expected = {
      {"4090", wrong + "2 of action file '" + path + "' (expected 8 or 9, got 1)"},
      {"4090", wrong + "3 of action file '" + path + "' (expected 8 or 9, got 1)"},
      {"4030", "encode_flag: Invalid value for time out in line 5 in action file: 2"},
      {"4020", "encode_action_type: invalid action type in line 5 of action file: 'Restart'"},
      {"4010", "encode_db_state: Invalid state value in line 5 of action file: xx"},
      {"4050", "Invalid regular expression '(ab' in line 6 in action file (field DBMS error)"},
      {"4060", "Invalid regular expression '[a' in line 6 in action file (field process_died)"},
      {"4070", "Invalid regular expression 'x{2' in line 6 in action file (field log_message)"},
      {"4010", "encode_db_state: Invalid state value in line 7 of action file: zz"},
      {"4030", "encode_flag: Invalid value for internal error in line 7 in action file: 3"},
      {"4010", "encode_db_state: Invalid state value in line 7 of action file: yy"},
  };
  EXPECT_EQ(messages(), expected);

  ASSERT_EQ(list->count, 5);
  const action_entry &ten = list->entries[0]; /* ten fields read as nine */
  EXPECT_STREQ(ten.message, "ten fields");
  ASSERT_NE(ten.dbms_error_pattern, nullptr);
  EXPECT_EQ(ten.timeout_given, 0);

  const action_entry &bad = list->entries[1];
  EXPECT_EQ(bad.state, db_state_online);
  EXPECT_EQ(bad.timeout_given, 1); /* "2" requires the flag to be 0 */
  EXPECT_EQ(bad.timeout, 0);
  EXPECT_EQ(bad.internal_error_given, 0);
  EXPECT_EQ(bad.action, ACTION_NONE);
  EXPECT_EQ(bad.new_state, rule_any_state);
  EXPECT_STREQ(bad.message, "bad values");

  const action_entry &patterns = list->entries[2];
  EXPECT_EQ(patterns.state, db_state_connecting);
  EXPECT_EQ(patterns.dbms_error_pattern, nullptr);
  EXPECT_EQ(patterns.process_died_pattern, nullptr);
  EXPECT_EQ(patterns.log_pattern, nullptr);
  EXPECT_EQ(patterns.message, nullptr);
  /* Invalid patterns match everything. */
  EXPECT_EQ(action_entry_match(&patterns, db_state_connecting, 4711, "whatever", nullptr, 1, 1), 1);

  const action_entry &states = list->entries[3];
  EXPECT_EQ(states.state, rule_any_state);
  EXPECT_EQ(states.new_state, rule_any_state);
  EXPECT_EQ(states.internal_error_given, 1);
  EXPECT_EQ(states.internal_error, 0);
  EXPECT_EQ(states.action, ACTION_RESTART);

  const action_entry &died = list->entries[4];
  EXPECT_EQ(died.new_state, db_state_online);
  EXPECT_EQ(died.action, ACTION_RESTART);
  EXPECT_EQ(action_entry_match(&died, db_state_online, 0, "ha_dbms_local", nullptr, 1, 0), 1);
}

TEST_F(ActionFile, KeywordsMapExactlyAndCaseSensitively) {
  struct Case {
    const char *text;
    int value;
    bool logged;
  };
  const Case states[] = {{"*", rule_any_state, false},   {"co", db_state_connecting, false},
                         {"on", db_state_online, false}, {"di", db_state_disconnecting, false},
                         {"ON", rule_any_state, true},   {"", rule_any_state, true},
                         {"on ", rule_any_state, true}};
  for (const Case &c : states) {
    recorded() = sink_record {};
    EXPECT_EQ(encode_db_state(c.text, 3), c.value) << c.text;
    EXPECT_EQ(!recorded().messages.empty(), c.logged) << c.text;
  }
  const Case actions[] = {{"none", 0, false},    {"n", 0, false},      {"", 0, false},
                          {"restart", 1, false}, {"r", 1, false},      {"takeover", 2, false},
                          {"t", 2, false},       {"stop", 3, false},   {"s", 3, false},
                          {"config", 4, false},  {"c", 4, false},      {"fmstart", 5, false},
                          {"f", 5, false},       {"Restart", 0, true}, {"x", 0, true}};
  for (const Case &c : actions) {
    recorded() = sink_record {};
    EXPECT_EQ(encode_action_type(c.text, 3), c.value) << c.text;
    EXPECT_EQ(!recorded().messages.empty(), c.logged) << c.text;
  }
  const Case flags[] = {{"*", -1, false}, {"0", 0, false}, {"1", 1, false},
                        {"2", 0, true},   {"", 0, true},   {"01", 0, true}};
  for (const Case &c : flags) {
    recorded() = sink_record {};
    EXPECT_EQ(encode_flag(c.text, "time out", 3), c.value) << c.text;
    EXPECT_EQ(!recorded().messages.empty(), c.logged) << c.text;
  }
}

TEST_F(ActionFile, FourHundredRulesFitAndTheNextValidOneFails) {
  std::string rules;
  for (int i = 0; i < 400; ++i)
    rules += valid_rule;
  const std::string full = dir_.file("full.actions");
  dvz_test::write_file(full, rules);
  ListPtr list = new_list();
  EXPECT_EQ(read_action_file(list.get(), full.c_str()), 1);
  EXPECT_EQ(list->count, 400);
  EXPECT_TRUE(recorded().messages.empty());
  clear_action_list(list.get());

  /* A 401st valid line fails the reading, whatever follows. */
  const std::string over = dir_.file("over.actions");
  dvz_test::write_file(over, rules + valid_rule + "bad line\n" + valid_rule);
  EXPECT_EQ(read_action_file(list.get(), over.c_str()), 0);
  EXPECT_EQ(messages(), (std::vector<std::pair<std::string, std::string>> {
                            {"4100", "too many actions - list is full!"}}));
  clear_action_list(list.get());

  /* A 401st line with a wrong field count is only skipped. */
  recorded() = sink_record {};
  const std::string skipped = dir_.file("skipped.actions");
  dvz_test::write_file(skipped, rules + "a\tb\n");
  EXPECT_EQ(read_action_file(list.get(), skipped.c_str()), 1);
  auto got = messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, "4090");
  EXPECT_NE(got[0].second.find("line 401 of action file"), std::string::npos);
  EXPECT_NE(got[0].second.find("got 2)"), std::string::npos);
}

TEST_F(ActionFile, DbmsPatternLengthLimit) {
  action_entry entry {};
  const std::string longest(1020, '7');
  new_action_entry(&entry, "*", longest.c_str(), "*", "*", "*", "*", "*", "n", "", 1);
  EXPECT_NE(entry.dbms_error_pattern, nullptr);
  EXPECT_TRUE(recorded().messages.empty());
  action_list one {};
  one.entries[0] = entry;
  one.count = 1;
  clear_action_list(&one);

  const std::string too_long(1021, '7');
  new_action_entry(&entry, "*", too_long.c_str(), "*", "*", "*", "*", "*", "n", "", 9);
  EXPECT_EQ(entry.dbms_error_pattern, nullptr);
  EXPECT_EQ(messages(), (std::vector<std::pair<std::string, std::string>> {
                            {"4040", "regular expression '" + too_long +
                                         "' in line 9 in action file is too long - ignoring "
                                         "(max length is 1021 characters)"}}));
  EXPECT_EQ(action_entry_match(&entry, db_state_online, 908, nullptr, nullptr, 0, 0), 1);
}

TEST_F(ActionFile, LongLinesAreReadInPiecesThatCountAsLines) {
  /* A valid rule of exactly 1023 characters: its newline is a second line. */
  const std::string prefix = "*\t*\t*\t*\t*\t*\t*\tnone\t";
  const std::string rule = prefix + std::string(1023 - prefix.size(), 'm');
  ASSERT_EQ(rule.size(), 1023u);
  const std::string path = dir_.file("long.actions");
  dvz_test::write_file(path, rule + "\n" + valid_rule);
  ListPtr list = new_list();
  EXPECT_EQ(read_action_file(list.get(), path.c_str()), 1);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(std::string(list->entries[0].message), std::string(1023 - prefix.size(), 'm'));
  EXPECT_EQ(messages(), (std::vector<std::pair<std::string, std::string>> {
                            {"4090", "Wrong number of fields in line 2 of action file '" + path +
                                         "' (expected 8 or 9, got 1)"}}));
}

TEST_F(ActionFile, LineBeginningWithNulIsSkipped) {
  const std::string path = dir_.file("nul.actions");
  dvz_test::write_file(path, std::string("\0junk\tx\n", 8) + valid_rule);
  ListPtr list = new_list();
  EXPECT_EQ(read_action_file(list.get(), path.c_str()), 1);
  EXPECT_EQ(list->count, 1);
  EXPECT_TRUE(recorded().messages.empty());
}

TEST_F(ActionFile, UnreadableFileGives4080WithTheErrorText) {
  const std::string path = dir_.file("no%sfile.actions");
  ListPtr list = new_list();
  list->count = 3;
  EXPECT_EQ(read_action_file(list.get(), path.c_str()), 0);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(messages(),
            (std::vector<std::pair<std::string, std::string>> {
                {"4080", "error reading action file '" + path + "': No such file or directory"}}));
}

/* One rule, as its nine field texts. */
struct Rule {
  const char *state, *dbms, *died, *log, *timeout, *internal;
};
/* One probe outcome. */
struct Outcome {
  int state, dbms_error;
  const char *died, *log;
  int timeout, internal;
};

TEST_F(ActionFile, MatchingTable) {
  struct Case {
    Rule rule;
    Outcome outcome;
    int match;
  } cases[] = {
      /* state any against a specific one, and a specific against others */
      {{"*", "*", "*", "*", "*", "*"}, {db_state_disconnecting, 0, nullptr, nullptr, 0, 0}, 1},
      {{"on", "*", "*", "*", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 1},
      {{"on", "*", "*", "*", "*", "*"}, {db_state_connecting, 0, nullptr, nullptr, 0, 0}, 0},
      /* flags given must equal; not given, anything goes */
      {{"*", "*", "*", "*", "1", "*"}, {db_state_online, 0, nullptr, nullptr, 1, 0}, 1},
      {{"*", "*", "*", "*", "1", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 0},
      {{"*", "*", "*", "*", "0", "1"}, {db_state_online, 0, nullptr, nullptr, 0, 1}, 1},
      {{"*", "*", "*", "*", "*", "0"}, {db_state_online, 0, nullptr, nullptr, 1, 1}, 0},
      {{"*", "*", "*", "*", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 1, 1}, 1},
      /* the DBMS error pattern is anchored at both ends */
      {{"*", "908", "*", "*", "*", "*"}, {db_state_online, 908, nullptr, nullptr, 0, 0}, 1},
      {{"*", "908", "*", "*", "*", "*"}, {db_state_online, 9080, nullptr, nullptr, 0, 0}, 0},
      {{"*", "908", "*", "*", "*", "*"}, {db_state_online, 1908, nullptr, nullptr, 0, 0}, 0},
      {{"*", "908", "*", "*", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 0},
      {{"*", "0", "*", "*", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 1},
      {{"*", "-[0-9]+", "*", "*", "*", "*"}, {db_state_online, -271, nullptr, nullptr, 0, 0}, 1},
      /* texts are searched anywhere; an absent text never matches */
      {{"*", "*", "local", "*", "*", "*"}, {db_state_online, 0, "ha_dbms_local", nullptr, 0, 0}, 1},
      {{"*", "*", "local", "*", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 0},
      {{"*", "*", "*", "Fatal", "*", "*"},
       {db_state_online, 0, nullptr, "a\nFatal error\n", 0, 0},
       1},
      {{"*", "*", "*", "Fatal", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 0},
      {{"*", "*", "*", "x*", "*", "*"}, {db_state_online, 0, nullptr, nullptr, 0, 0}, 0},
      {{"*", "*", "*", "x*", "*", "*"}, {db_state_online, 0, nullptr, "", 0, 0}, 1},
      {{"*", "*", "*", "Fatal", "*", "*"}, {db_state_online, 0, nullptr, "", 0, 0}, 0},
      /* an empty field means any */
      {{"*", "", "", "", "*", "*"}, {db_state_online, 5, nullptr, nullptr, 0, 0}, 1},
  };
  for (const Case &c : cases) {
    action_entry entry {};
    new_action_entry(&entry, c.rule.state, c.rule.dbms, c.rule.died, c.rule.log, c.rule.timeout,
                     c.rule.internal, "*", "n", "", 1);
    const Outcome &o = c.outcome;
    EXPECT_EQ(
        action_entry_match(&entry, o.state, o.dbms_error, o.died, o.log, o.timeout, o.internal),
        c.match)
        << c.rule.state << " " << c.rule.dbms << " " << c.rule.died << " " << c.rule.log << " "
        << c.rule.timeout << " " << c.rule.internal << " / " << o.state << " " << o.dbms_error;
    action_list one {};
    one.entries[0] = entry;
    one.count = 1;
    clear_action_list(&one);
  }
  EXPECT_TRUE(recorded().messages.empty());
}

TEST_F(ActionFile, FindActionTakesTheFirstMatchingRule) {
  const std::string path = dir_.file("order.actions");
  dvz_test::write_file(path,
                       "on\t908\t*\t*\t*\t*\t*\trestart\tfirst\n"
                       "on\t*\t*\t*\t*\t*\t*\tnone\tsecond\n"
                       "*\t*\t*\t*\t*\t*\tco\tstop\tthird\n");
  ListPtr list = new_list();
  ASSERT_EQ(read_action_file(list.get(), path.c_str()), 1);
  struct Case {
    int state, dbms_error;
    const char *message;
  } cases[] = {{db_state_online, 908, "first"},
               {db_state_online, 100, "second"},
               {db_state_connecting, 908, "third"}};
  for (const Case &c : cases) {
    action_entry *found = find_action(list.get(), c.state, c.dbms_error, nullptr, nullptr, 0, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->message, c.message);
  }
  list->count = 2; /* without the catch-all, a connecting probe finds none */
  EXPECT_EQ(find_action(list.get(), db_state_connecting, 0, nullptr, nullptr, 0, 0), nullptr);
  list->count = 3;
  action_list empty {};
  EXPECT_EQ(find_action(&empty, db_state_online, 0, nullptr, nullptr, 0, 0), nullptr);
}

}  // namespace
