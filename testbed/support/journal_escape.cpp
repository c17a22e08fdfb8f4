/*
** The journal form of a string argument (testbed_support.h), shared by the
** dorvexd double, which writes its journal, and the tests that read it.
*/
#include <cstdio>

#include "testbed_support.h"

namespace testbed {

std::string journal_escape(std::string_view text) {
  if (text.empty()) return "\"\"";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x21 || c > 0x7e || c == '\\' || c == '"') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace testbed
