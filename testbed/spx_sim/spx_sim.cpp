/*
** The simulated SPX/IPX network (spx_sim.h): the address mapping of the
** two TLI providers and the SAP agent double. Used by the tests of the
** SPX driver and SAP only.
**
** The address mapping runs inside the platform's TLI calls, and the SAP
** re-advertisement sends from a signal handler: to_socket therefore only
** copies and formats bytes by hand, with no allocation and no stdio.
*/
#include "spx_sim.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "tli.h"

namespace spx_sim {

namespace {

constexpr size_t addr_size = 12;
constexpr uint16_t sap_socket = 0x0452;
constexpr char hex_digits[] = "0123456789abcdef";
constexpr int sap_entry_size = 64;

/* The network directory and the agent's file, kept as plain arrays. */
char net_dir[80];
size_t net_dir_len = 0;
char agent_path[sizeof(sockaddr_un::sun_path)];

/* Network and node of a fresh bind. */
constexpr uint8_t local_net_node[10] = {0, 0, 0, 0x0a, 0, 0, 0, 0, 0, 0x0b};
/* The agent's own address, as senders see it. */
constexpr uint8_t agent_addr[addr_size] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x04, 0x52};

/* The next socket number tried for a fresh bind. */
std::atomic<uint32_t> next_socket {0};

bool is_zero(const char *addr) {
  for (size_t i = 0; i < addr_size; ++i)
    if (addr[i] != 0) return false;
  return true;
}

bool is_broadcast(const unsigned char *a) {
  for (size_t i = 4; i < 10; ++i)
    if (a[i] != 0xff) return false;
  return a[10] == (sap_socket >> 8) && a[11] == (sap_socket & 0xff);
}

/* "<dir>/ipx-NNNNNNNN-HHHHHHHHHHHH-SSSS" for a into out (room
** sizeof(sun_path)); false when it does not fit. */
bool format_path(const unsigned char *a, char *out) {
  constexpr size_t tail = 1 + 4 + 8 + 1 + 12 + 1 + 4;
  if (net_dir_len == 0 || net_dir_len + tail + 1 > sizeof(sockaddr_un::sun_path)) return false;
  std::memcpy(out, net_dir, net_dir_len);
  char *p = out + net_dir_len;
  std::memcpy(p, "/ipx-", 5);
  p += 5;
  for (size_t i = 0; i < addr_size; ++i) {
    if (i == 4 || i == 10) *p++ = '-';
    *p++ = hex_digits[a[i] >> 4];
    *p++ = hex_digits[a[i] & 15];
  }
  *p = '\0';
  return true;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* The address a socket file names, or false when it names none. */
bool parse_path(const char *path, uint8_t *a) {
  if (std::strcmp(path, agent_path) == 0) {
    std::memcpy(a, agent_addr, addr_size);
    return true;
  }
  const char *base = std::strrchr(path, '/');
  if (base == nullptr || std::strncmp(base, "/ipx-", 5) != 0) return false;
  const char *p = base + 5;
  for (size_t i = 0; i < addr_size; ++i) {
    if (i == 4 || i == 10) {
      if (*p++ != '-') return false;
    }
    int hi = hex_value(p[0]);
    int lo = hi < 0 ? -1 : hex_value(p[1]);
    if (lo < 0) return false;
    a[i] = static_cast<uint8_t>(hi * 16 + lo);
    p += 2;
  }
  return *p == '\0';
}

int to_socket(const char *addr, unsigned int len, sockaddr_storage *out, socklen_t *outlen) {
  auto *un = reinterpret_cast<sockaddr_un *>(out);
  std::memset(un, 0, sizeof *un);
  un->sun_family = AF_UNIX;
  if (len != 0 && len != addr_size) return -1;
  if (len == 0 || addr == nullptr || is_zero(addr)) {
    // A fresh socket of the local network: the first free number from
    // one this process has not tried yet.
    uint8_t a[addr_size];
    std::memcpy(a, local_net_node, sizeof local_net_node);
    for (int tries = 0; tries < 0x4000; ++tries) {
      uint32_t n = 0x4000 + ((next_socket++ + static_cast<uint32_t>(getpid()) * 64) & 0x3fff);
      a[10] = static_cast<uint8_t>(n >> 8);
      a[11] = static_cast<uint8_t>(n & 0xff);
      if (!format_path(a, un->sun_path)) return -1;
      struct stat st;
      if (stat(un->sun_path, &st) != 0) {
        *outlen = sizeof *un;
        return 0;
      }
    }
    return -1;
  }
  const auto *a = reinterpret_cast<const unsigned char *>(addr);
  if (is_broadcast(a)) {
    if (agent_path[0] == '\0') return -1;
    std::memcpy(un->sun_path, agent_path, sizeof agent_path);
  } else if (!format_path(a, un->sun_path)) {
    return -1;
  }
  *outlen = sizeof *un;
  return 0;
}

int from_socket(const sockaddr *sa, socklen_t salen, char *out, unsigned int maxlen) {
  if (sa->sa_family != AF_UNIX || maxlen < addr_size) return -1;
  const auto *un = reinterpret_cast<const sockaddr_un *>(sa);
  uint8_t a[addr_size] = {};
  const size_t pathlen =
      salen > offsetof(sockaddr_un, sun_path) ? salen - offsetof(sockaddr_un, sun_path) : 0;
  char path[sizeof un->sun_path + 1] = {};
  std::memcpy(path, un->sun_path, std::min(pathlen, sizeof un->sun_path));
  // An unnamed socket has the address of zeros.
  if (path[0] != '\0' && !parse_path(path, a)) return -1;
  std::memcpy(out, a, addr_size);
  return addr_size;
}

/* Device names while installed and while withdrawn. */
char spx_device[32] = "/dev/mspx";
char ipx_device[32] = "/dev/mipx";

tli_provider spx_provider = {spx_device, AF_UNIX,    SOCK_SEQPACKET, 0, {12, 1, 534, -2, -2, -2, 1},
                             to_socket,  from_socket};
tli_provider ipx_provider = {
    ipx_device, AF_UNIX, SOCK_DGRAM, 0, {12, 1, 546, -2, -2, -2, T_CLTS}, to_socket, from_socket};

uint16_t be16(const char *p) {
  return static_cast<uint16_t>((static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]));
}

}  // namespace

IpxAddr ipx_addr(uint32_t network, uint64_t node, uint16_t socket) {
  IpxAddr a {};
  for (int i = 0; i < 4; ++i)
    a[i] = static_cast<uint8_t>(network >> (24 - 8 * i));
  for (int i = 0; i < 6; ++i)
    a[4 + i] = static_cast<uint8_t>(node >> (40 - 8 * i));
  a[10] = static_cast<uint8_t>(socket >> 8);
  a[11] = static_cast<uint8_t>(socket & 0xff);
  return a;
}

void install(const std::string &dir) {
  if (dir.size() + 1 > sizeof net_dir) throw std::runtime_error("spx_sim: directory path too long");
  std::memcpy(net_dir, dir.c_str(), dir.size() + 1);
  net_dir_len = dir.size();
  const std::string agent = dir + "/sap";
  if (agent.size() + 1 > sizeof agent_path) throw std::runtime_error("spx_sim: path too long");
  std::memcpy(agent_path, agent.c_str(), agent.size() + 1);
  std::strcpy(spx_device, "/dev/mspx");
  std::strcpy(ipx_device, "/dev/mipx");
  if (tli_register_provider(&spx_provider) != 0 || tli_register_provider(&ipx_provider) != 0)
    throw std::runtime_error("spx_sim: provider table full");
}

void withdraw() {
  std::strcpy(spx_device, "/spx-sim/withdrawn-mspx");
  std::strcpy(ipx_device, "/spx-sim/withdrawn-mipx");
}

std::string path_of(const IpxAddr &addr) {
  sockaddr_storage ss;
  socklen_t len;
  if (to_socket(reinterpret_cast<const char *>(addr.data()), addr_size, &ss, &len) != 0) return {};
  return reinterpret_cast<sockaddr_un *>(&ss)->sun_path;
}

SapAgent::SapAgent() {
  fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un un {};
  un.sun_family = AF_UNIX;
  std::memcpy(un.sun_path, agent_path, sizeof agent_path);
  unlink(agent_path);
  if (fd_ < 0 || agent_path[0] == '\0' ||
      bind(fd_, reinterpret_cast<sockaddr *>(&un), sizeof un) != 0 || pipe(stop_) != 0) {
    if (fd_ >= 0) close(fd_);
    throw std::runtime_error("spx_sim: cannot bind the SAP agent");
  }
  thread_ = std::thread([this] { serve(); });
}

SapAgent::~SapAgent() {
  char c = 0;
  if (write(stop_[1], &c, 1) != 1) {}
  if (thread_.joinable()) thread_.join();
  close(stop_[0]);
  close(stop_[1]);
  close(fd_);
}

void SapAgent::answer(int type, std::vector<std::string> datagrams) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_[type] = std::move(datagrams);
}

std::vector<Advert> SapAgent::adverts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return adverts_;
}

std::vector<std::string> SapAgent::queries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queries_;
}

bool SapAgent::wait_adverts(size_t n, int ms) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (adverts().size() >= n) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string SapAgent::entry(int type, std::string_view name, const IpxAddr &addr, int hops) {
  std::string e(sap_entry_size, '\0');
  e[0] = static_cast<char>(type >> 8);
  e[1] = static_cast<char>(type & 0xff);
  std::memcpy(e.data() + 2, name.data(), std::min<size_t>(name.size(), 48));
  std::memcpy(e.data() + 50, addr.data(), addr_size);
  e[62] = static_cast<char>(hops >> 8);
  e[63] = static_cast<char>(hops & 0xff);
  return e;
}

std::string SapAgent::response(const std::vector<std::string> &entries) {
  std::string d("\x00\x02", 2);
  for (const std::string &e : entries)
    d += e;
  return d;
}

void SapAgent::serve() {
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents != 0) return;
    char data[600];
    sockaddr_un from {};
    socklen_t fromlen = sizeof from;
    ssize_t n = recvfrom(fd_, data, sizeof data, 0, reinterpret_cast<sockaddr *>(&from), &fromlen);
    if (n < 4) continue;
    const int op = be16(data);
    const int type = be16(data + 2);
    std::vector<std::string> replies;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (op == 2 && n == 66) {
        Advert a {type, std::string(data + 4, strnlen(data + 4, 48)), {}, be16(data + 64)};
        std::memcpy(a.addr.data(), data + 52, addr_size);
        adverts_.push_back(a);
      } else if (op == 1) {
        queries_.emplace_back(data, static_cast<size_t>(n));
        auto it = script_.find(type);
        if (it != script_.end()) replies = it->second;
      }
    }
    for (const std::string &r : replies)
      sendto(fd_, r.data(), r.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&from), fromlen);
  }
}

}  // namespace spx_sim
