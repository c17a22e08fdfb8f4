/*
** The network library's message facility: error-number texts, the
** time-stamped line printer and the abort report. The shared-memory
** driver calls net_abort when a buffer it frees has a wrong status; the
** process goes on after the report.
*/
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "asf_net.h"
#include "os_datetime.h"
#include "os_seams.h"

namespace {

/* Appends the printf formatting of fmt to out. */
void append_format(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void append_format(std::string &out, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n > 0) {
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, fmt, again);
    out.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

/* The first, the last and the excluded number of the error-number table. */
constexpr int first_number = -1000;
constexpr int last_number = -960;
constexpr int unused_number = -980;

}  // namespace

extern "C" {

const char *net_msg_text[NET_MSG_TEXT_COUNT] = {
    "", /* -1000 */
    "open",
    "close",
    "bind",
    "unbind",
    "alloc",
    "free",
    "sync",
    "snddis",
    "rcvdis",
    "sndrel",
    "rcvrel",
    "snd",
    "rcv",
    "look",
    "optmgmt",
    "server not available",
    "listen",
    "accept",
    "retry",
    "", /* -980: never reached */
    "", /* -979 */
    "block",
    "non_block",
    "poll",
    "mail",
    "port",
    "lookup",
    "environment",
    "server rejected connection request",
    "listen timeout",
    "poll timeout",
    "mt_online",
    "mt_lock",
    "mt_unlock",
    "mt_wait",
    "mt_mutex",
    "mt_condition",
    "mt_sm_fail",
    "mt_sm_close",
    "mt_badversion", /* -960 */
    "", /* never reached */
};
const char *net_inv_msg = "invalid net error number";
const char *net_ending_msg = "ending";
const char *net_dead_msg = "dead host";

#define NET_DEFINE_MESSAGE(key, text) const char *m_net_##key = text;
NET_MESSAGE_VOCABULARY(NET_DEFINE_MESSAGE)
#undef NET_DEFINE_MESSAGE

const char *net_msg_textp(int number) {
  if (number == -1) return net_ending_msg;
  if (number == -2) return net_dead_msg;
  if (number < first_number || number > last_number || number == unused_number) return net_inv_msg;
  return net_msg_text[number - first_number];
}

void net_msg(const char *text) {
  char stamp[10] = "";
  time_t now = os_clock->now();
  struct tm local;
  if (dvz_localtime(&now, &local) != nullptr &&
      std::strftime(stamp, sizeof stamp, "%T", &local) == 0)
    stamp[0] = '\0';
  std::string line;
  append_format(line, "%s %s ", stamp, text != nullptr ? text : "");
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void net_msg_console(const char *text) { net_msg(text); }

void net_msg5(int number) { net_msg(net_msg_textp(number)); }

void net_abort(const char *source, int line, const char *text) {
  std::string report;
  append_format(report, "%s, line %d, %s", source != nullptr ? source : "", line,
                text != nullptr ? text : "");
  net_msg(report.c_str());
}
}
