/*
** DECIMAL, MONEY, DATE and DATETIME columns fetched into character host
** variables against the committed table of oracle/fetch_text_cases.txt,
** whose texts Python's decimal and datetime wrote (fetch_text_oracle.py).
** Each line's stored column is built from its number, put in a row and
** copied by the row copy into a 41-byte host type 100.
** Runs with DBDATE=Y4MD- and DBMONEY=$. (set by the test's registration).
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dvz_be.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_types.h"
#include "sqli_context.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_statements.h"

namespace {

constexpr int host_room = 40;

/* The stored DECIMAL form (precision word or qualifier len) of text. */
std::string stored_number(const std::string &text, int len) {
  dec_t d {};
  EXPECT_EQ(deccvasc(text.c_str(), static_cast<int>(text.size()), &d), 0) << text;
  std::string out(static_cast<size_t>(gettupsize(sql_type_decimal, len)), '\0');
  stdecimal(&d, reinterpret_cast<unsigned char *>(out.data()), static_cast<int>(out.size()));
  return out;
}

/* The text the row copy leaves in a character host for one column. */
std::string fetched_text(int type, int len, const std::string &field) {
  std::vector<char> row(field.begin(), field.end());
  dbfd col {};
  col.type = static_cast<int16_t>(type);
  col.length = len;
  sqli_cursor c {};
  c.coldesc = &col;
  c.ncols = 1;
  c.buffer = c.bufpos = row.data();
  c.bufsize = static_cast<int32_t>(row.size());
  c.rowsize = static_cast<int16_t>(row.size());
  c.nbuffered = 1;
  char out[host_room + 1];
  sqlvar_struct h {};
  h.sqltype = host_type_char;
  h.sqllen = sizeof out;
  h.sqldata = out;
  _sqclrca(sqlitcb);
  EXPECT_EQ(_iqupdtargs(&c, 1, &h, 0, sqlitcb), 0);
  return std::string(out);
}

TEST(FetchTextOracle, ColumnsIntoCharacterHostsShowThePeersText) {
  ASSERT_NE(CheckGlobInit(), nullptr);
  std::ifstream table(DVZ_FETCH_TEXT_CASES);
  ASSERT_TRUE(table.good()) << DVZ_FETCH_TEXT_CASES;
  std::string line;
  int checked = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    std::string expect;
    std::string field;
    int type = 0;
    int len = 0;
    if (kind == "decimal" || kind == "money" || kind == "datetime") {
      std::string word;
      std::string number;
      in >> word >> number;
      len = std::stoi(word, nullptr, 16);
      type = kind == "decimal" ? sql_type_decimal
             : kind == "money" ? sql_type_money
                               : sql_type_datetime;
      field = stored_number(number, len);
    } else {
      ASSERT_EQ(kind, "date");
      int32_t days = 0;
      in >> days;
      type = sql_type_date;
      len = 4;
      field.resize(4);
      dvz_st_be_i32(days, field.data());
    }
    std::getline(in >> std::ws, expect);
    expect.resize(host_room, ' ');
    EXPECT_EQ(fetched_text(type, len, field), expect);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
