/* The STREAMS layer over SEQPACKET sockets: messages through socketpairs
** and through a listener at a path in a temporary directory, with the raw
** records read and written by plain send/recv as the peer that checks the
** framing byte for byte. */
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "streams.h"
#include "temp_dir.h"

namespace {

/* A descriptor closed at scope end. */
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

/* A connected SEQPACKET pair: ours (the layer's side) and peer. */
struct Pair {
  Fd ours, peer;
  Pair() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) == 0) {
      ours.reset(sv[0]);
      peer.reset(sv[1]);
    }
  }
};

/* A listening SEQPACKET socket at path. */
int listen_at(const std::string &path, int backlog) {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  struct sockaddr_un sa {};
  sa.sun_family = AF_UNIX;
  std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

/* One whole record from fd, as bytes. */
std::string raw_record(int fd) {
  std::vector<char> buf(1 << 17);
  ssize_t n = recv(fd, buf.data(), buf.size(), 0);
  return n < 0 ? std::string("<error>") : std::string(buf.data(), static_cast<size_t>(n));
}

std::string header(unsigned char band, uint32_t ctl_len) {
  std::string h(8, '\0');
  h[0] = static_cast<char>(band);
  h[4] = static_cast<char>(ctl_len >> 24);
  h[5] = static_cast<char>(ctl_len >> 16);
  h[6] = static_cast<char>(ctl_len >> 8);
  h[7] = static_cast<char>(ctl_len);
  return h;
}

/* What getmsg delivered. */
struct Got {
  int rc = 0;
  int err = 0;
  int flags = 0;
  int ctl_len = 0;
  int data_len = 0;
  std::string ctl, data;
};

Got get(int fd, int ctl_room = 64, int data_room = 1 << 16) {
  std::vector<char> c(static_cast<size_t>(ctl_room > 0 ? ctl_room : 1));
  std::vector<char> d(static_cast<size_t>(data_room > 0 ? data_room : 1));
  strbuf ctl {ctl_room, -7, c.data()};
  strbuf data {data_room, -7, d.data()};
  Got g;
  errno = 0;
  g.rc = getmsg(fd, &ctl, &data, &g.flags);
  g.err = errno;
  g.ctl_len = ctl.len;
  g.data_len = data.len;
  if (g.rc == 0) {
    g.ctl.assign(c.data(), static_cast<size_t>(ctl.len > 0 ? ctl.len : 0));
    g.data.assign(d.data(), static_cast<size_t>(data.len > 0 ? data.len : 0));
  }
  return g;
}

int put(int fd, const std::string &ctl, const std::string &data, int flags) {
  std::string c = ctl, d = data;
  strbuf cb {0, static_cast<int>(c.size()), c.data()};
  strbuf db {0, static_cast<int>(d.size()), d.data()};
  return putmsg(fd, c.empty() ? nullptr : &cb, &db, flags);
}

TEST(Streams, RoundTripsKeepPartsPriorityAndTheDocumentedRecordLayout) {
  struct Case {
    const char *name;
    std::string ctl, data;
    int flags;
  };
  const std::vector<Case> cases = {
      {"data only", "", "hello", 0},
      {"control and data", "CTL", "payload", 0},
      {"high priority data", "", "Z", RS_HIPRI},
      {"high priority with control", "cc", "x", RS_HIPRI},
      {"control only", std::string("\0\1\2", 3), "", 0},
      {"64 KiB of data", "", std::string(64 * 1024, 'q'), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Pair a, b;
    // Our side sends; the peer sees exactly header, control, data.
    ASSERT_EQ(put(a.ours.get(), c.ctl, c.data, c.flags), 0) << errno;
    EXPECT_EQ(
        raw_record(a.peer.get()),
        header(c.flags == RS_HIPRI ? 1 : 0, static_cast<uint32_t>(c.ctl.size())) + c.ctl + c.data);
    // The peer sends the documented record; our side reads it back.
    std::string rec =
        header(c.flags == RS_HIPRI ? 1 : 0, static_cast<uint32_t>(c.ctl.size())) + c.ctl + c.data;
    ASSERT_EQ(send(b.peer.get(), rec.data(), rec.size(), 0), static_cast<ssize_t>(rec.size()));
    Got g = get(b.ours.get());
    ASSERT_EQ(g.rc, 0) << g.err;
    EXPECT_EQ(g.flags, c.flags);
    EXPECT_EQ(g.ctl, c.ctl);
    EXPECT_EQ(g.data, c.data);
    EXPECT_EQ(g.ctl_len, static_cast<int>(c.ctl.size()));
    EXPECT_EQ(g.data_len, static_cast<int>(c.data.size()));
  }
}

TEST(Streams, MessagesComeInArrivalOrderWhateverTheirBand) {
  Pair p;
  ASSERT_EQ(put(p.peer.get(), "", "one", 0), 0);
  ASSERT_EQ(put(p.peer.get(), "", "Z", RS_HIPRI), 0);
  ASSERT_EQ(put(p.peer.get(), "", "two", 0), 0);
  const char *want[] = {"one", "Z", "two"};
  const int want_flags[] = {0, RS_HIPRI, 0};
  for (int i = 0; i < 3; ++i) {
    Got g = get(p.ours.get());
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(g.data, want[i]);
    EXPECT_EQ(g.flags, want_flags[i]);
  }
}

TEST(Streams, EmptyMessageSendsNothingAndBadArgumentsAreRefused) {
  Pair p;
  EXPECT_EQ(put(p.ours.get(), "", "", 0), 0);
  EXPECT_EQ(putmsg(p.ours.get(), nullptr, nullptr, 0), 0);
  EXPECT_EQ(put(p.ours.get(), "", "x", 2), -1);
  EXPECT_EQ(errno, EINVAL);
  strbuf nobuf {0, 3, nullptr};
  EXPECT_EQ(putmsg(p.ours.get(), nullptr, &nobuf, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  // Nothing reached the peer.
  char c;
  EXPECT_EQ(recv(p.peer.get(), &c, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, EAGAIN);
  // getmsg takes any band only.
  ASSERT_EQ(put(p.peer.get(), "", "x", 0), 0);
  char d[4];
  strbuf db {4, 0, d};
  int flags = RS_HIPRI;
  EXPECT_EQ(getmsg(p.ours.get(), nullptr, &db, &flags), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(get(p.ours.get()).data, "x");
}

TEST(Streams, HangUpGivesBothLengthsZeroAndSendsRaiseNoSigpipe) {
  Pair p;
  ASSERT_EQ(put(p.peer.get(), "", "last", 0), 0);
  p.peer.reset();
  EXPECT_EQ(get(p.ours.get()).data, "last");
  for (int i = 0; i < 2; ++i) {
    Got g = get(p.ours.get());
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(g.ctl_len, 0);
    EXPECT_EQ(g.data_len, 0);
    EXPECT_EQ(g.flags, 0);
  }
  // SIGPIPE is at its default here: a signal would end the test program.
  EXPECT_EQ(put(p.ours.get(), "", "more", 0), -1);
  EXPECT_EQ(errno, EPIPE);
}

TEST(Streams, RecordThatDoesNotFitIsRefusedWholeAndTheNextStaysIntact) {
  struct Case {
    const char *name;
    std::string record;
    int ctl_room, data_room;
  };
  const std::vector<Case> cases = {
      {"data longer than the room", header(0, 0) + std::string(100, 'd'), 64, 10},
      {"control longer than the room", header(0, 5) + "ccccc" + "dd", 4, 64},
      {"control without room", header(0, 1) + "c" + "d", 0, 64},
      {"shorter than the header", std::string("\0\0\0", 3), 64, 64},
      {"band 2", header(2, 0) + "d", 64, 64},
      {"reserved byte set",
       [] {
         std::string h = header(0, 0);
         h[2] = 1;
         return h + "d";
       }(),
       64, 64},
      {"control length past the record", header(0, 50) + "short", 64, 64},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    ASSERT_EQ(send(p.peer.get(), c.record.data(), c.record.size(), 0),
              static_cast<ssize_t>(c.record.size()));
    ASSERT_EQ(put(p.peer.get(), "", "next", 0), 0);
    Got bad = get(p.ours.get(), c.ctl_room, c.data_room);
    EXPECT_EQ(bad.rc, -1);
    EXPECT_EQ(bad.err, EBADMSG);
    EXPECT_EQ(bad.ctl_len, -1);
    EXPECT_EQ(bad.data_len, -1);
    Got next = get(p.ours.get(), c.ctl_room, c.data_room);
    EXPECT_EQ(next.rc, 0);
    EXPECT_EQ(next.data, "next");
  }
}

TEST(Streams, OpenConnectsToSocketsAndOpensEverythingElseAsAFile) {
  dvz_test::TempDir dir;
  const std::string sock = dir.file("demo.str");
  Fd lsn(listen_at(sock, 4));
  ASSERT_GE(lsn.get(), 0);
  const std::string file = dir.write("plain", "not a stream");

  Fd s(str_open(sock.c_str(), O_RDWR));
  ASSERT_GE(s.get(), 0) << errno;
  EXPECT_EQ(isastream(s.get()), 1);
  Fd served(accept(lsn.get(), nullptr, nullptr));
  ASSERT_EQ(put(served.get(), "", "hi", 0), 0);
  EXPECT_EQ(get(s.get()).data, "hi");

  Fd f(str_open(file.c_str(), O_RDWR));
  ASSERT_GE(f.get(), 0);
  EXPECT_EQ(isastream(f.get()), 0);

  errno = 0;
  EXPECT_EQ(str_open(dir.file("missing.str").c_str(), O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  lsn.reset();  // The path stays, nothing listens.
  EXPECT_EQ(str_open(sock.c_str(), O_RDWR), -1);
  EXPECT_EQ(errno, ECONNREFUSED);

  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  Fd a(sv[0]), b(sv[1]);
  EXPECT_EQ(isastream(a.get()), 0);
  EXPECT_EQ(isastream(-1), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(Streams, NonBlockingStreamWithNothingThereGivesEagain) {
  dvz_test::TempDir dir;
  const std::string sock = dir.file("nb.str");
  Fd lsn(listen_at(sock, 4));
  Fd s(str_open(sock.c_str(), O_RDWR | O_NONBLOCK));
  ASSERT_GE(s.get(), 0);
  Got g = get(s.get());
  EXPECT_EQ(g.rc, -1);
  EXPECT_EQ(g.err, EAGAIN);
}

std::atomic<int> signals_seen {0};
void count_signal(int) { signals_seen.fetch_add(1); }

/* A handler for sig without SA_RESTART, the old one back at scope end. */
class Handler {
 public:
  explicit Handler(int sig) : sig_(sig) {
    struct sigaction sa {};
    sa.sa_handler = count_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, &old_);
    signals_seen = 0;
  }
  ~Handler() { sigaction(sig_, &old_, nullptr); }
  Handler(const Handler &) = delete;
  Handler &operator=(const Handler &) = delete;

 private:
  int sig_;
  struct sigaction old_ {};
};

TEST(Streams, InterruptedGetmsgReportsEintrAndLosesNothing) {
  Pair p;
  Handler h(SIGUSR1);
  const pthread_t self = pthread_self();
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(self, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    put(p.peer.get(), "", "after", 0);
  });
  Got first = get(p.ours.get());
  t.join();
  EXPECT_EQ(first.rc, -1);
  EXPECT_EQ(first.err, EINTR);
  EXPECT_EQ(signals_seen.load(), 1);
  EXPECT_EQ(get(p.ours.get()).data, "after");
}

TEST(Streams, InterruptedConnectIsMadeAgain) {
  dvz_test::TempDir dir;
  const std::string sock = dir.file("busy.str");
  // Backlog 0 holds one pending connection; the next connect waits.
  Fd lsn(listen_at(sock, 0));
  ASSERT_GE(lsn.get(), 0);
  Fd first(socket(AF_UNIX, SOCK_SEQPACKET, 0));
  struct sockaddr_un sa {};
  sa.sun_family = AF_UNIX;
  std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", sock.c_str());
  ASSERT_EQ(connect(first.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);

  Handler h(SIGUSR1);
  const pthread_t self = pthread_self();
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    pthread_kill(self, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Fd a(accept(lsn.get(), nullptr, nullptr));
    struct pollfd pfd = {lsn.get(), POLLIN, 0};
    if (poll(&pfd, 1, 3000) != 1) return;
    Fd b(accept(lsn.get(), nullptr, nullptr));
    put(b.get(), "", "through", 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  Fd s(str_open(sock.c_str(), O_RDWR));
  const int err = errno;
  ASSERT_GE(s.get(), 0) << err;
  EXPECT_EQ(signals_seen.load(), 1);
  EXPECT_EQ(get(s.get()).data, "through");
  t.join();
}

TEST(Streams, SetsigAsksForSigpollOnInputAndZeroStopsIt) {
  Pair p;
  Handler h(SIGPOLL);
  ASSERT_EQ(str_ioctl(p.ours.get(), I_SETSIG, S_INPUT), 0);
  ASSERT_EQ(put(p.peer.get(), "", "x", 0), 0);
  for (int i = 0; i < 200 && signals_seen.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(signals_seen.load(), 1);
  EXPECT_EQ(get(p.ours.get()).data, "x");

  ASSERT_EQ(str_ioctl(p.ours.get(), I_SETSIG, 0), 0);
  signals_seen = 0;
  ASSERT_EQ(put(p.peer.get(), "", "y", 0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(signals_seen.load(), 0);
  EXPECT_EQ(get(p.ours.get()).data, "y");

  EXPECT_EQ(str_ioctl(p.ours.get(), 0x1234, 0), -1);
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
