/*
** The SQLI server double for the runtime's tests (double_server.h).
*/
#include "double_server.h"

#include <stdexcept>

#include "testbed_support.h"

namespace sqli_test {

DoubleServer::DoubleServer(std::vector<std::string> options, std::string_view scenario,
                           std::string server)
    : server_(std::move(server)) {
  scenario_ = dir_.write("scenario.json", scenario);
  std::vector<std::string> args {"--sqli", "--scenario", scenario_};
  args.insert(args.end(), options.begin(), options.end());
  double_ = std::make_unique<testbed::SqliDouble>(std::move(args));
  hosts_text_ = sqlhosts_line(server_, double_->port());
  sqlhosts_ = dir_.write("sqlhosts", hosts_text_);
  hosts_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASQLHOSTS", sqlhosts_);
  server_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", server_);
}

void DoubleServer::set_scenario(std::string_view json) const {
  if (!testbed::replace_file(scenario_, json))
    throw std::runtime_error("cannot replace the scenario file " + scenario_);
}

void DoubleServer::add_server(std::string_view name, int port) {
  hosts_text_ += sqlhosts_line(name, port);
  if (!testbed::replace_file(sqlhosts_, hosts_text_))
    throw std::runtime_error("cannot replace the sqlhosts file " + sqlhosts_);
}

std::vector<testbed::SqliJournalEntry> DoubleServer::messages(int code) const {
  std::vector<testbed::SqliJournalEntry> out;
  for (auto &e : double_->entries("sqli"))
    if (e.number("code") == code) out.push_back(std::move(e));
  return out;
}

std::string DoubleServer::sqli_hex() const {
  std::string all;
  for (const auto &e : double_->entries("sqli"))
    all += e.get("raw");
  return all;
}

std::string DoubleServer::sqlhosts_line(std::string_view name, int port) {
  return std::string(name) + " oltlitcp 127.0.0.1 " + std::to_string(port) + "\n";
}

}  // namespace sqli_test
