/*
** A simulated SPX/IPX network for tests of the SPX driver and SAP: two
** TLI providers registered with the platform's TLI layer, and a double of
** the SAP agent of the network.
**
** The network lives in a directory (each test its own). An IPX address
** {network, node, socket} names a socket file there; the SAP broadcast
** destination (node FF x 6, socket 0x0452) names the agent's file.
**   "/dev/mspx": SOCK_SEQPACKET, one record per t_snd; provider
**                information addr 12, options 1, tsdu 534, servtype 1.
**   "/dev/mipx": SOCK_DGRAM, datagrams with the sender's 12-byte address.
** A bind to the address of 12 zero bytes (or none) takes a fresh socket
** of the local network and node. The product never links this library.
*/
#ifndef DVZ_TESTBED_SPX_SIM_H
#define DVZ_TESTBED_SPX_SIM_H

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace spx_sim {

using IpxAddr = std::array<uint8_t, 12>;

/* {network, node (low 48 bits), socket}, network byte order. */
IpxAddr ipx_addr(uint32_t network, uint64_t node, uint16_t socket);

/* Registers the two providers (again, after withdraw) and makes dir the
** network. REQUIRES: the paths of dir fit a socket address (about 60
** characters of dir). The local network and node of fresh binds are
** 0x0000000a and 0x00000000000b. */
void install(const std::string &dir);
/* Renames the providers so that "/dev/mspx" and "/dev/mipx" open nothing,
** as on a machine without them. Endpoints already open keep working. */
void withdraw();
/* The socket file of an address in the current network. */
std::string path_of(const IpxAddr &addr);

/* What the agent saw of an advertisement. */
struct Advert {
  int type;
  std::string name; /* up to the first NUL */
  IpxAddr addr;
  int hops;
};

/* The SAP agent double: binds the agent's file of the current network
** and serves it from a thread. It records every advertisement and every
** query, and answers a query with the datagrams scripted for its server
** type (none: it stays silent). */
class SapAgent {
 public:
  SapAgent(); /* throws std::runtime_error when the file cannot be bound */
  ~SapAgent();
  SapAgent(const SapAgent &) = delete;
  SapAgent &operator=(const SapAgent &) = delete;

  /* The datagrams sent back, in order, to a query for type. */
  void answer(int type, std::vector<std::string> datagrams);
  std::vector<Advert> adverts() const;
  /* The raw queries received. */
  std::vector<std::string> queries() const;
  /* Waits up to ms for at least n advertisements; true when there. */
  bool wait_adverts(size_t n, int ms) const;

  /* A 64-byte server entry; name is copied raw and NUL-padded (48 bytes
  ** give a name without a terminator). */
  static std::string entry(int type, std::string_view name, const IpxAddr &addr, int hops);
  /* A response datagram: operation 2 and the entries. */
  static std::string response(const std::vector<std::string> &entries);

 private:
  void serve();

  int fd_ = -1;
  int stop_[2] = {-1, -1};
  mutable std::mutex mutex_;
  std::map<int, std::vector<std::string>> script_;
  std::vector<Advert> adverts_;
  std::vector<std::string> queries_;
  std::thread thread_;
};

}  // namespace spx_sim

#endif
