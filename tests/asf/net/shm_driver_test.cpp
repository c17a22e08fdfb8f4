/*
** The shared-memory driver against a server of the test's own, written
** from the shared layouts: a pool of one segment (header, bitmap, client
** slots, alert bytes, counter block, 1024-byte buffers), one semaphore
** set (lock, server alert, client wait) and the rendezvous file in a
** temporary directory. The in-process server answers each post at once
** from the driver's IPC seam, which also records what the server sees at
** every semaphore operation; the kill tests run the server in a forked
** child that ends itself with SIGKILL. Every IPC object a test makes is
** removed by the fixture, and /proc/sysvipc shows none left over.
*/
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "asf_al.h"
#include "asf_memory.h"
#include "net_paths.h"
#include "os_seams.h"
#include "shm_driver.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

/* The server's pool layout (its own choice; the client reads it). */
constexpr int seg_size = 65536;
constexpr int bitmap_off = 1024;
constexpr int slots_off = 2048;
constexpr int alert_off = 8192;
constexpr int counter_off = 8200;
constexpr int bufs_off = 12288;
constexpr int sem_lock = 0, sem_alert = 1, sem_client = 2;

int32_t ld32(const uint8_t *p, size_t off) {
  int32_t v;
  std::memcpy(&v, p + off, 4);
  return v;
}
void st32(uint8_t *p, size_t off, int32_t v) { std::memcpy(p + off, &v, 4); }
void st16(uint8_t *p, size_t off, int16_t v) { std::memcpy(p + off, &v, 2); }

int count_lines(const char *path) {
  std::ifstream in(path);
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    ++n;
  return n;
}

void post(int semid, int num) {
  struct sembuf sb = {static_cast<unsigned short>(num), 1, 0};
  semop(semid, &sb, 1);
}

/* One pool with its semaphores, created by whoever calls create(). */
struct Pool {
  int shmid = -1;
  int semid = -1;
  uint8_t *mem = nullptr;
  int shmid2 = -1;
  uint8_t *mem2 = nullptr;
  int nslots = 1;
  sm_rendrec rec {};
  int sendring_read = 0;
  int recv_write = 0;
  std::string journal;
  bool echo = true;
  bool answer = true;
  int granted = 4;

  void create(int slots, bool free_slots) {
    nslots = slots;
    shmid = shmget(IPC_PRIVATE, seg_size, IPC_CREAT | 0600);
    semid = semget(IPC_PRIVATE, 3, IPC_CREAT | 0600);
    if (shmid < 0 || semid < 0) return;
    mem = static_cast<uint8_t *>(shmat(shmid, nullptr, 0));
    std::memset(mem, 0, seg_size);
    st16(mem, SM_HDR_MAGIC, SM_MAGIC);
    st16(mem, SM_HDR_VERSION, SM_VERSION);
    st32(mem, SM_HDR_IDS, -1);
    st32(mem, SM_HDR_TOTAL, seg_size);
    st32(mem, SM_HDR_SEGSIZE, seg_size);
    for (int s = 0; s < slots; ++s) {
      if (free_slots) mem[bitmap_off + s / 8] |= uint8_t(1u << (s % 8));
      uint8_t *sl = slot(s);
      st32(sl, SM_SLOT_WAITSEMID, semid);
      st32(sl, SM_SLOT_WAITSEMNUM, sem_client);
      st32(sl, SM_SLOT_ALERTOFF, alert_off);
      st32(sl, SM_SLOT_COUNTOFF, counter_off);
    }
    semctl(semid, sem_lock, SETVAL, 1);
    rec = {shmid, semid, sem_alert, semid, sem_lock, bitmap_off, slots, slots_off, 0x800000};
  }
  uint8_t *slot(int s) { return mem + slots_off + SM_SLOT_SIZE * s; }
  uint8_t *buffer(int n) { return mem + bufs_off + SM_BUF_SIZE * n; }
  std::string rendezvous(int records, int32_t count) const {
    std::string img(4, '\0');
    std::memcpy(img.data(), &count, 4);
    for (int i = 0; i < records; ++i) {
      int32_t w[9] = {rec.shmid,      rec.alert_semid, rec.alert_semnum,
                      rec.lock_semid, rec.lock_semnum, rec.bitmap_off,
                      rec.nslots,     rec.slots_off,   int32_t(rec.srvaddr)};
      img.append(reinterpret_cast<const char *>(w), sizeof w);
    }
    return img;
  }
  /* A second segment behind the first: the pool doubles. */
  void add_segment() {
    shmid2 = shmget(IPC_PRIVATE, seg_size, IPC_CREAT | 0600);
    if (shmid2 < 0) return;
    mem2 = static_cast<uint8_t *>(shmat(shmid2, nullptr, 0));
    st32(mem, SM_HDR_IDS, shmid2);
    st32(mem, SM_HDR_IDS + 4, -1);
    st32(mem, SM_HDR_TOTAL, 2 * seg_size);
  }
  void remove() {
    if (mem2 != nullptr) shmdt(mem2);
    if (shmid2 >= 0) shmctl(shmid2, IPC_RMID, nullptr);
    mem2 = nullptr;
    shmid2 = -1;
    if (mem != nullptr) shmdt(mem);
    mem = nullptr;
    if (shmid >= 0) shmctl(shmid, IPC_RMID, nullptr);
    if (semid >= 0) semctl(semid, 0, IPC_RMID);
    shmid = semid = -1;
  }

  /* The server's answer to a connect alert: buffer tables, state 1. */
  void accept(uint8_t *sl) {
    for (int e = 0; e < SM_NBUF; ++e) {
      uint8_t *r = sl + SM_SLOT_RECVTAB + SM_BUFENT_SIZE * e;
      st32(r, SM_BUFENT_ID, 200 + e);
      st32(r, SM_BUFENT_OFFSET, bufs_off + SM_BUF_SIZE * e);
      st32(sl, SM_SLOT_RECVRING + 4 * e, -1);
    }
    for (int e = 0; e < granted; ++e) {
      uint8_t *w = sl + SM_SLOT_SENDTAB + SM_BUFENT_SIZE * e;
      st32(w, SM_BUFENT_ID, 100 + e);
      st32(w, SM_BUFENT_OFFSET, bufs_off + SM_BUF_SIZE * (10 + e));
    }
    st16(sl, SM_SLOT_NRECV, 10);
    st16(sl, SM_SLOT_NGRANT, int16_t(granted));
    st16(sl, SM_SLOT_NMIN, 1);
    st16(sl, SM_SLOT_HELDRECV, -1);
    st16(sl, SM_SLOT_HELDSEND, -1);
    sl[SM_SLOT_STATE] = sm_state_accepted;
  }
  /* Puts data into the next receive buffer and the receive ring. */
  void deliver(uint8_t *sl, const std::string &data) {
    const int n = recv_write++ % SM_NBUF;
    uint8_t *b = buffer(n);
    std::memcpy(b + SM_BUFHDR_SIZE, data.data(), data.size());
    st32(b, SM_BUFHDR_LENGTH, int32_t(data.size()));
    st32(sl, SM_SLOT_RECVRING + 4 * n, n);
  }
  /* Handles one post of the alert semaphore. */
  void on_post() {
    uint8_t *al = mem + alert_off;
    uint8_t *sl = slot(0);
    if (al[sm_alert_connect] != 0) {
      al[sm_alert_connect] = 0;
      if (!answer) return;
      accept(sl);
    } else if (al[sm_alert_data] != 0) {
      al[sm_alert_data] = 0;
      const int32_t id = ld32(sl, SM_SLOT_SENDRING + 4 * sendring_read);
      sendring_read = (sendring_read + 1) % SM_SENDRING_LEN;
      uint8_t *ent = sl + SM_SLOT_SENDTAB + SM_BUFENT_SIZE * (id - 100);
      uint8_t *b = mem + ld32(ent, SM_BUFENT_OFFSET);
      if (b[SM_BUFHDR_STATUS] != sm_buf_notice) {
        std::string data(reinterpret_cast<char *>(b + SM_BUFHDR_SIZE),
                         size_t(ld32(b, SM_BUFHDR_LENGTH)));
        journal += data;
        if (echo) deliver(sl, data);
      }
      b[SM_BUFHDR_STATUS] = sm_buf_free;
      ent[SM_BUFENT_STATE] = sm_buf_free;
    } else if (al[sm_alert_control] != 0) {
      al[sm_alert_control] = 0;
    }
    post(semid, sem_client);
  }
};

/* What the server sees at one semaphore operation of the client. */
struct Sight {
  int8_t state;
  uint8_t bitmap;
  bool alert_post;
  uint8_t flags[3];
  int32_t counter;
};

Pool *g_pool = nullptr;
std::vector<Sight> *g_sights = nullptr;
int g_lock_takes = 0;

Sight look(bool alert_post) {
  Sight s {};
  s.state = int8_t(g_pool->slot(0)[SM_SLOT_STATE]);
  s.bitmap = g_pool->mem[bitmap_off];
  s.alert_post = alert_post;
  std::memcpy(s.flags, g_pool->mem + alert_off, 3);
  s.counter = ld32(g_pool->mem, counter_off + SM_COUNTER_WORD);
  return s;
}

int watched_semtimedop(int id, struct sembuf *ops, size_t n, const struct timespec *limit) {
  const bool lock_take = id == g_pool->semid && ops->sem_num == sem_lock && ops->sem_op < 0;
  const bool alert_post = id == g_pool->semid && ops->sem_num == sem_alert && ops->sem_op > 0;
  if (lock_take) ++g_lock_takes;
  if (!lock_take && g_sights != nullptr) g_sights->push_back(look(alert_post));
  int rc = shm_system_ipc.semtimedop(id, ops, n, limit);
  if (alert_post && rc == 0) {
    // The server takes the post and answers at once.
    struct sembuf take = {sem_alert, -1, IPC_NOWAIT};
    semop(g_pool->semid, &take, 1);
    g_pool->on_post();
  }
  // And what the client finds when the operation returns.
  if (!lock_take && g_sights != nullptr && g_pool->mem != nullptr) g_sights->push_back(look(false));
  return rc;
}

const shm_ipc_seam watched_ipc = {shm_system_ipc.shmat,     shm_system_ipc.shmdt,
                                  shm_system_ipc.shmstat,   watched_semtimedop,
                                  shm_system_ipc.semsetval, shm_system_ipc.alive};

int g_sleeps = 0;
unsigned counted_sleep(unsigned) {
  ++g_sleeps;
  return 0;
}
time_t real_now() { return time(nullptr); }
const os_clock_seam quick_clock = {real_now, counted_sleep};

class ShmDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    shm_lines_ = count_lines("/proc/sysvipc/shm");
    sem_lines_ = count_lines("/proc/sysvipc/sem");
    name_ = "t" + std::to_string(getpid());
    asf_tmpdir_override(dir_.path().c_str());
    ctl_.flags = 1;
    ctl_.timeout = -1;
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
    drv_.type = tl_drv_ipcshm;
    drv_.protname = "ipcshm";
    g_pool = &pool_;
    g_sights = &sights_;
    g_lock_takes = 0;
    g_sleeps = 0;
    shm_ipc = &watched_ipc;
    os_clock = &quick_clock;
    sm_lastgen = 0;
    sm_pending = 0;
  }
  void TearDown() override {
    if (drv_.priv != nullptr) discshm(&drv_, 0x8000, &ctl_);
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    alCSfree(assoc_);
    shm_ipc = &shm_system_ipc;
    os_clock = &os_system_clock;
    asf_tmpdir_override(nullptr);
    g_pool = nullptr;
    g_sights = nullptr;
    for (int id : extra_shm_)
      shmctl(id, IPC_RMID, nullptr);
    for (int id : extra_sem_)
      semctl(id, 0, IPC_RMID);
    pool_.remove();
    if (!fallback_.empty()) unlink(fallback_.c_str());
    EXPECT_EQ(_shmconnected, 0);
    _shmconnected = 0;
    EXPECT_EQ(count_lines("/proc/sysvipc/shm"), shm_lines_);
    EXPECT_EQ(count_lines("/proc/sysvipc/sem"), sem_lines_);
  }

  /* A pool with one free slot (or none) and its rendezvous file. */
  void serve(int slots = 1, bool free_slots = true, int records = 1) {
    pool_.create(slots, free_slots);
    ASSERT_GE(pool_.shmid, 0);
    ASSERT_GE(pool_.semid, 0);
    publish(records, records);
  }
  void publish(int records, int32_t count) {
    dir_.write(".dvz." + name_, pool_.rendezvous(records, count));
  }
  int connect(int timeout = -1) {
    text_ = "host|" + name_ + "|ipcshm";
    addr_ = tlreqaddr {1, text_.data()};
    tlconnreq parms {};
    parms.addr = &addr_;
    ctl_.timeout = timeout;
    ctl_.asfcode = 0;
    ctl_.oserr = 0;
    return connshm(&drv_, &parms, &ctl_);
  }
  int send(const std::string &data) {
    rscbufctl *b = nullptr;
    if (bufGet(assoc_, 9, &b) != 0) return -2;
    b->p = b->buff;
    std::memcpy(b->p, data.data(), data.size());
    b->size = int32_t(data.size());
    return sendshm(&drv_, b, &ctl_);
  }
  int receive(std::string *out, int timeout = -1) {
    rscbufctl *b = nullptr;
    ctl_.timeout = timeout;
    ctl_.asfcode = 0;
    int rc = recvshm(&drv_, &b, &ctl_);
    if (rc == 0) {
      out->assign(b->p, size_t(b->size));
      EXPECT_EQ(bufReg(assoc_, 10, b), 0);
    }
    return rc;
  }
  int attach_count() {
    struct shmid_ds ds;
    return shmctl(pool_.shmid, IPC_STAT, &ds) == 0 ? int(ds.shm_nattch) : -1;
  }
  void expect_nothing_left() {
    EXPECT_EQ(drv_.priv, nullptr);
    EXPECT_EQ(_shmconnected, 0);
    EXPECT_EQ(sm_segtab[0].shmid, -1);
    if (pool_.shmid >= 0) {
      EXPECT_EQ(attach_count(), 1);
    }
  }

  dvz_test::TempDir dir_;
  std::string name_, text_, fallback_;
  Pool pool_;
  std::vector<Sight> sights_;
  std::vector<int> extra_shm_, extra_sem_;
  pid_t child_ = -1;
  int shm_lines_ = 0, sem_lines_ = 0;
  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  drvblock drv_ {};
  tlreqaddr addr_ {};
};

TEST_F(ShmDriver, ConnectEchoDisconnectAsTheServerSeesIt) {
  serve();
  ASSERT_EQ(connect(), 0) << ctl_.asfcode;
  EXPECT_EQ(_shmconnected, 1);
  EXPECT_EQ(attach_count(), 2);
  // A second connection waits for the first to end.
  drvblock other {};
  other.type = tl_drv_ipcshm;
  tlconnreq parms {};
  parms.addr = &addr_;
  EXPECT_EQ(connshm(&other, &parms, &ctl_), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECTED);

  std::string got;
  for (const std::string &msg : {std::string("hello"), std::string(1024, 'x'), std::string()}) {
    ASSERT_EQ(send(msg), 0) << ctl_.asfcode;
    ASSERT_EQ(receive(&got), 0) << ctl_.asfcode;
    EXPECT_EQ(got, msg);
  }
  EXPECT_EQ(pool_.journal, "hello" + std::string(1024, 'x'));
  ASSERT_EQ(discshm(&drv_, 0, &ctl_), 0);
  expect_nothing_left();

  // States in order of the server's sight, repeats folded.
  std::vector<int> states;
  for (const Sight &s : sights_)
    if (states.empty() || states.back() != s.state) states.push_back(s.state);
  EXPECT_EQ(states, (std::vector<int> {9, 2, 1, 0, 8}));
  // The free bit is gone by the time the lock is given back.
  ASSERT_FALSE(sights_.empty());
  EXPECT_EQ(sights_.front().state, 9);
  EXPECT_EQ(sights_.front().bitmap & 1, 0);
  // Each post finds exactly its flag set and the counter not yet raised.
  int32_t posts = 0;
  for (const Sight &s : sights_) {
    if (!s.alert_post) continue;
    EXPECT_EQ(s.flags[0] + s.flags[1] + s.flags[2], 1);
    EXPECT_EQ(s.counter, posts);
    ++posts;
  }
  EXPECT_GE(posts, 5);
  EXPECT_EQ(ld32(pool_.mem, counter_off + SM_COUNTER_WORD), posts);

  // After the disconnect a new connection is allowed.
  pool_.mem[bitmap_off] = 1;
  pool_.sendring_read = 0;
  ASSERT_EQ(connect(), 0) << ctl_.asfcode;
  ASSERT_EQ(discshm(&drv_, 0x8000, &ctl_), 0);
}

TEST_F(ShmDriver, EmptyRingTimeoutsAndBufferRequest) {
  pool_.granted = 10;
  serve();
  ASSERT_EQ(connect(), 0);
  std::string got;
  EXPECT_EQ(receive(&got, 0), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_STATUS_AGAIN);
  const auto start = Clock::now();
  EXPECT_EQ(receive(&got, 300), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_STATUS_AGAIN);
  EXPECT_GE(ms_since(start), 250);
  EXPECT_LT(ms_since(start), 1500);
  // All ten granted: the request still asks for one.
  auto *scb = static_cast<netscb *>(drv_.priv);
  EXPECT_EQ(buf_request(scb, 5), 1);
  EXPECT_EQ(ld32(scb->slot, SM_SLOT_REQUEST), 1);
  // The post counter is shared with the server and wraps at its top.
  st32(pool_.mem, counter_off + SM_COUNTER_WORD, INT32_MAX);
  EXPECT_EQ(buf_request(scb, 1), 1);
  EXPECT_EQ(ld32(pool_.mem, counter_off + SM_COUNTER_WORD), INT32_MIN);
  pool_.granted = 0;
}

TEST_F(ShmDriver, PoolOfTwoSegmentsIsOneRangeWithItsBounds) {
  pool_.create(1, true);
  ASSERT_GE(pool_.shmid, 0);
  pool_.add_segment();
  ASSERT_GE(pool_.shmid2, 0);
  publish(1, 1);
  ASSERT_EQ(connect(), 0) << ctl_.asfcode;
  EXPECT_EQ(sm_segtab[0].size, uint32_t(2 * seg_size));
  EXPECT_EQ(sm_segtab[1].shmid, -1);  // only the first segment has a row
  // The second segment lies right behind the first.
  uint8_t *at = nullptr;
  ASSERT_EQ(net_sm_find_addr(pool_.shmid, seg_size + 100, 4, &at), 0);
  EXPECT_EQ(at, sm_segtab[0].addr + seg_size + 100);
  st32(at, 0, 0x5eed);
  EXPECT_EQ(ld32(pool_.mem2, 100), 0x5eed);
  // The look-up takes an offset equal to the pool's size, not one more,
  // and a structure must end inside the pool.
  const int64_t total = 2 * seg_size;
  EXPECT_EQ(net_sm_find_addr(pool_.shmid, total, 0, &at), 0);
  EXPECT_EQ(net_sm_find_addr(pool_.shmid, total + 1, 0, &at), SHM_ERR_FAULT);
  EXPECT_EQ(net_sm_find_addr(pool_.shmid, total - SM_SLOT_SIZE, SM_SLOT_SIZE, &at), 0);
  EXPECT_EQ(net_sm_find_addr(pool_.shmid, total - SM_SLOT_SIZE + 1, SM_SLOT_SIZE, &at),
            SHM_ERR_FAULT);
  EXPECT_EQ(net_sm_find_addr(pool_.shmid, -1, 0, &at), SHM_ERR_FAULT);
  ASSERT_EQ(discshm(&drv_, 0, &ctl_), 0);
  expect_nothing_left();
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(pool_.shmid2, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_nattch, 1u);
}

TEST_F(ShmDriver, PolledReceiveTakesCountedWakeUpsWithoutBlocking) {
  serve();
  ASSERT_EQ(connect(), 0);
  // More wake-ups counted than the semaphore holds: the polled receive
  // must not wait for them, and leaves the semaphore at 0.
  semctl(pool_.semid, sem_client, SETVAL, 2);
  sm_pending = 3000;
  pool_.deliver(pool_.slot(0), "ping");
  std::string got;
  const auto start = Clock::now();
  ASSERT_EQ(receive(&got, 0), 0) << ctl_.asfcode;
  EXPECT_EQ(got, "ping");
  EXPECT_LT(ms_since(start), 500);
  EXPECT_EQ(sm_pending, 0);
  EXPECT_EQ(semctl(pool_.semid, sem_client, GETVAL), 0);
  // With enough wake-ups on the semaphore they are taken off it.
  semctl(pool_.semid, sem_client, SETVAL, 3005);
  sm_pending = 3000;
  pool_.deliver(pool_.slot(0), "pong");
  ASSERT_EQ(receive(&got, 0), 0) << ctl_.asfcode;
  EXPECT_EQ(sm_pending, 0);
  EXPECT_EQ(semctl(pool_.semid, sem_client, GETVAL), 4);
}

TEST_F(ShmDriver, StateSixEndsReceiveAndDisconnectSendsNoNotice) {
  serve();
  ASSERT_EQ(connect(), 0);
  pool_.slot(0)[SM_SLOT_STATE] = sm_state_ended;
  std::string got;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_RECV);
  const int32_t posts = ld32(pool_.mem, counter_off + SM_COUNTER_WORD);
  ASSERT_EQ(discshm(&drv_, 0, &ctl_), 0);
  EXPECT_EQ(ld32(pool_.mem, counter_off + SM_COUNTER_WORD), posts);
  EXPECT_NE(drv_.flags & 0x400u, 0u);
  expect_nothing_left();
}

TEST_F(ShmDriver, AllSlotsTakenTriesFourRecordsTwelveTimes) {
  serve(1, false, 3);
  EXPECT_EQ(connect(), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECT);
  EXPECT_EQ(g_lock_takes, 4 * 12);
  EXPECT_EQ(g_sleeps, 11);
  expect_nothing_left();
}

TEST(ShmAttachBase, FromTheEnvironment) {
  const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
  struct Case {
    const char *env;
    int rc;
    uintptr_t base;
  } cases[] = {
      {nullptr, 0, 0x800000},         {"", 0, 0x800000},
      {"0x1000", 0, 4u << 20},        {"0X1000", 0, 4u << 20},
      {"4096", 0, 4u << 20},          {"-", 0, 0x12345000},
      {"-1", 0, 0x12345000},          {"1", 0, (1024 + page - 1) / page * page},
      {"0", SHM_ERR_FAULT, 0},        {"4194304", SHM_ERR_FAULT, 0},
      {"0x400000", SHM_ERR_FAULT, 0}, {"junk", SHM_ERR_FAULT, 0},
  };
  for (const Case &c : cases) {
    uintptr_t base = 0;
    EXPECT_EQ(shm_attach_base(c.env, 0x12345000, &base), c.rc) << (c.env ? c.env : "(unset)");
    if (c.rc == 0) {
      EXPECT_EQ(base, c.base) << (c.env ? c.env : "(unset)");
    }
  }
  uintptr_t base = 0;
  EXPECT_EQ(shm_attach_base("-", 0, &base), SHM_ERR_FAULT);
}

TEST_F(ShmDriver, AttachesAtTheBaseTheEnvironmentNames) {
  serve();
  setenv("DOVARIZASHMBASE", "0x40000", 1);
  const int rc = connect();
  unsetenv("DOVARIZASHMBASE");
  ASSERT_EQ(rc, 0) << ctl_.asfcode;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(sm_segtab[0].addr), uintptr_t(0x10000000));
}

TEST_F(ShmDriver, AFixedAttachNeverReplacesAMapping) {
  serve();
  // Something already lives at the default base.
  void *busy = mmap(reinterpret_cast<void *>(0x800000), 4096, PROT_READ,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_EQ(busy, reinterpret_cast<void *>(0x800000));
  EXPECT_EQ(connect(), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECT);
  EXPECT_EQ(*static_cast<volatile char *>(busy), 0);
  munmap(busy, 4096);
  expect_nothing_left();
}

/* Each corruption of what the server wrote, with the failure it gives. */
struct Corruption {
  const char *what;
  bool after_connect;
  std::function<void(Pool &)> apply;
  int code;
};

TEST_F(ShmDriver, CorruptionsGiveTheirFailureAndNothingElse) {
  const Corruption cases[] = {
      {"bad magic", false, [](Pool &p) { st16(p.mem, SM_HDR_MAGIC, 1234); }, SHM_ERR_CONNECT},
      {"bad version", false, [](Pool &p) { st16(p.mem, SM_HDR_VERSION, 4); }, SHM_ERR_CONNECT},
      {"segment size 0", false, [](Pool &p) { st32(p.mem, SM_HDR_SEGSIZE, 0); }, SHM_ERR_CONNECT},
      {"segment size not a page multiple", false,
       [](Pool &p) { st32(p.mem, SM_HDR_SEGSIZE, 5000); }, SHM_ERR_CONNECT},
      {"total below the segment size", false, [](Pool &p) { st32(p.mem, SM_HDR_TOTAL, 4096); },
       SHM_ERR_CONNECT},
      {"total past the segments", false, [](Pool &p) { st32(p.mem, SM_HDR_TOTAL, 2 * seg_size); },
       SHM_ERR_CONNECT},
      {"id list without an end", false,
       [](Pool &p) {
         for (int i = 0; i < SM_HDR_MAXIDS; ++i)
           st32(p.mem, SM_HDR_IDS + 4 * i, 0);
       },
       SHM_ERR_CONNECT},
      {"bitmap past the pool", false, [](Pool &p) { p.rec.bitmap_off = seg_size; },
       SHM_ERR_CONNECT},
      {"slots past the pool", false, [](Pool &p) { p.rec.slots_off = seg_size - 100; },
       SHM_ERR_CONNECT},
      {"alert bytes past the pool", false,
       [](Pool &p) { st32(p.slot(0), SM_SLOT_ALERTOFF, seg_size - 2); }, SHM_ERR_CONNECT},
      {"counter block past the pool", false,
       [](Pool &p) { st32(p.slot(0), SM_SLOT_COUNTOFF, seg_size - 4); }, SHM_ERR_CONNECT},
      {"connect never answered", false, [](Pool &p) { p.answer = false; }, SHM_ERR_CONNECT},
      {"ring index 12", true, [](Pool &p) { st32(p.slot(0), SM_SLOT_RECVRING, 12); }, SHM_ERR_RECV},
      {"read index 10", true, [](Pool &p) { st16(p.slot(0), SM_SLOT_RECVIDX, 10); }, SHM_ERR_RECV},
      {"receive count 11", true,
       [](Pool &p) {
         st16(p.slot(0), SM_SLOT_NRECV, 11);
         p.deliver(p.slot(0), "x");
       },
       SHM_ERR_RECV},
      {"length word 5000", true,
       [](Pool &p) {
         p.deliver(p.slot(0), "x");
         st32(p.buffer(0), SM_BUFHDR_LENGTH, 5000);
       },
       SHM_ERR_RECV},
      {"receive buffer past the pool", true,
       [](Pool &p) {
         p.deliver(p.slot(0), "x");
         st32(p.slot(0), SM_SLOT_RECVTAB + SM_BUFENT_OFFSET, seg_size - 10);
       },
       SHM_ERR_RECV},
  };
  for (const Corruption &c : cases) {
    SCOPED_TRACE(c.what);
    pool_.remove();
    pool_ = Pool {};
    serve();
    if (!c.after_connect) {
      c.apply(pool_);
      publish(1, 1);
      EXPECT_EQ(connect(1000), -1);
      EXPECT_EQ(ctl_.asfcode, c.code);
    } else {
      ASSERT_EQ(connect(), 0);
      c.apply(pool_);
      std::string got;
      EXPECT_EQ(receive(&got, 1000), -1);
      EXPECT_EQ(ctl_.asfcode, c.code);
      discshm(&drv_, 0x8000, &ctl_);
    }
    expect_nothing_left();
  }
}

/* Pools whose header claims more than the segments the system reports. */
TEST_F(ShmDriver, HeaderClaimingMoreThanItsSegmentsIsRefusedAtAttach) {
  const int page = int(sysconf(_SC_PAGESIZE));
  struct Case {
    const char *what;
    int first_pages, second_pages; /* 0: no second segment */
    int claimed_segsize, claimed_total; /* in pages */
    bool attached;
  } cases[] = {
      {"one page claiming 64", 1, 0, 64, 64, false},
      {"one page claiming 3", 1, 0, 3, 3, false},
      {"two segments as claimed", 1, 1, 1, 2, true},
      {"second segment smaller than claimed", 2, 1, 2, 4, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const int first = shmget(IPC_PRIVATE, size_t(c.first_pages * page), IPC_CREAT | 0600);
    ASSERT_GE(first, 0);
    extra_shm_.push_back(first);
    int second = -1;
    if (c.second_pages > 0) {
      second = shmget(IPC_PRIVATE, size_t(c.second_pages * page), IPC_CREAT | 0600);
      ASSERT_GE(second, 0);
      extra_shm_.push_back(second);
    }
    auto *mem = static_cast<uint8_t *>(shmat(first, nullptr, 0));
    ASSERT_NE(mem, reinterpret_cast<uint8_t *>(-1));
    st16(mem, SM_HDR_MAGIC, SM_MAGIC);
    st16(mem, SM_HDR_VERSION, SM_VERSION);
    st32(mem, SM_HDR_IDS, second);
    st32(mem, SM_HDR_IDS + 4, -1);
    st32(mem, SM_HDR_SEGSIZE, c.claimed_segsize * page);
    st32(mem, SM_HDR_TOTAL, c.claimed_total * page);
    shmdt(mem);

    EXPECT_EQ(net_sm_attachseg(first, SM_DEFAULT_BASE), c.attached ? 0 : -1);
    uint8_t *at = nullptr;
    const int64_t end = int64_t(c.claimed_total) * page;
    EXPECT_EQ(net_sm_find_addr(first, end - 4, 4, &at), c.attached ? 0 : SHM_ERR_FAULT);
    if (c.attached) {
      EXPECT_EQ(ld32(at, 0), 0);  // the last word really is there
    }
    EXPECT_EQ(net_sm_detachsegs(), 0);
    EXPECT_EQ(sm_segtab[0].shmid, -1);
    for (int id : {first, second}) {
      struct shmid_ds ds;
      if (id >= 0 && shmctl(id, IPC_STAT, &ds) == 0) {
        EXPECT_EQ(ds.shm_nattch, 0u);
      }
    }
  }
}

/* A server that holds the slot lock and never gives it back. */
TEST_F(ShmDriver, HeldSlotLockEndsTheConnectAtItsDeadline) {
  serve();
  semctl(pool_.semid, sem_lock, SETVAL, 0);
  // Without a bounded wait the connect would end only when this gives the
  // lock back, long after its deadline.
  std::atomic<bool> done {false};
  std::thread late_release([&] {
    for (int i = 0; i < 60 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!done) post(pool_.semid, sem_lock);
  });
  const auto start = Clock::now();
  const int rc = connect(1500);
  const int64_t took = ms_since(start);
  done = true;
  late_release.join();
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECT);
  EXPECT_EQ(ctl_.oserr, ETIMEDOUT);
  // Room for a loaded machine: what this catches is a wait past the deadline.
  EXPECT_GE(took, 1400);
  EXPECT_LT(took, 3000);
  expect_nothing_left();
  EXPECT_EQ(pool_.mem[bitmap_off] & 1, 1);  // the slot is still free
  EXPECT_EQ(pool_.slot(0)[SM_SLOT_STATE], 0);
  EXPECT_EQ(g_sleeps, 0);
}

TEST_F(ShmDriver, RendezvousFileShorterThanItsCountIsRefused) {
  serve();
  publish(1, 3);
  EXPECT_EQ(connect(), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECT);
  EXPECT_EQ(g_lock_takes, 0);
  int32_t count = 0;
  const std::string img = pool_.rendezvous(2, 2);
  const auto *bytes = reinterpret_cast<const uint8_t *>(img.data());
  EXPECT_EQ(shm_rend_count(bytes, img.size(), &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(shm_rend_count(bytes, img.size() - 1, &count), SHM_ERR_FAULT);
  sm_rendrec rec {};
  EXPECT_EQ(shm_rend_record(bytes, img.size(), 1, &rec), 0);
  EXPECT_EQ(rec.shmid, pool_.shmid);
  EXPECT_EQ(shm_rend_record(bytes, img.size(), 2, &rec), SHM_ERR_FAULT);
}

TEST_F(ShmDriver, RemovedSemaphoresEndTheReceive) {
  serve();
  ASSERT_EQ(connect(), 0);
  semctl(pool_.semid, 0, IPC_RMID);
  pool_.semid = -1;
  std::string got;
  const auto start = Clock::now();
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, SHM_ERR_RECV);
  EXPECT_LT(ms_since(start), 2000);
  ASSERT_EQ(discshm(&drv_, 0, &ctl_), 0);
  expect_nothing_left();
}

TEST_F(ShmDriver, FallbackFileMustBeTheCreatorsAndNotWritableByOthers) {
  serve();
  unlink(dir_.file(".dvz." + name_).c_str());
  fallback_ = "/tmp/.dvz." + name_;
  const std::string img = pool_.rendezvous(1, 1);
  {
    std::ofstream out(fallback_, std::ios::binary);
    out.write(img.data(), std::streamsize(img.size()));
  }
  struct Case {
    const char *what;
    mode_t mode;
    uid_t owner;
    int rc;
  } cases[] = {
      {"writable by others", 0666, geteuid(), -1},
      {"writable by the group", 0664, geteuid(), -1},
      {"another owner", 0644, geteuid() + 1, -1},
      {"the creator's", 0644, geteuid(), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.owner != geteuid() && geteuid() != 0) continue;  // only root can give a file away
    ASSERT_EQ(chmod(fallback_.c_str(), c.mode), 0);
    ASSERT_EQ(chown(fallback_.c_str(), c.owner, -1), 0);
    EXPECT_EQ(connect(), c.rc);
    if (c.rc == 0) {
      ASSERT_EQ(discshm(&drv_, 0x8000, &ctl_), 0);
    } else {
      EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECT);
      EXPECT_EQ(g_lock_takes, 0);
    }
    expect_nothing_left();
  }
}

/* A server in a child of its own that ends itself with SIGKILL: after it
** answered the connect, or instead of answering. Its IPC objects outlive
** it; the fixture removes them. */
void run_child_server(Pool &pool, int report, const std::string &path, bool answer) {
  pool.create(1, true);
  const int32_t ids[2] = {pool.shmid, pool.semid};
  {
    std::ofstream out(path, std::ios::binary);
    const std::string img = pool.rendezvous(1, 1);
    out.write(img.data(), std::streamsize(img.size()));
  }
  if (write(report, ids, sizeof ids) != sizeof ids) _exit(1);
  for (;;) {
    struct sembuf take = {sem_alert, -1, 0};
    if (semop(pool.semid, &take, 1) != 0) _exit(1);
    if (answer) {
      pool.mem[alert_off + sm_alert_connect] = 0;
      pool.accept(pool.slot(0));
      post(pool.semid, sem_client);
    }
    usleep(300000);
    raise(SIGKILL);
  }
}

TEST_F(ShmDriver, ServerKilledDuringReceiveOrConnect) {
  shm_ipc = &shm_system_ipc;
  for (bool answer : {true, false}) {
    SCOPED_TRACE(answer ? "during the receive" : "during the connect");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      close(fds[0]);
      Pool pool;
      run_child_server(pool, fds[1], dir_.file(".dvz." + name_), answer);
      _exit(0);
    }
    close(fds[1]);
    int32_t ids[2] = {-1, -1};
    ASSERT_EQ(read(fds[0], ids, sizeof ids), ssize_t(sizeof ids));
    close(fds[0]);
    extra_shm_.push_back(ids[0]);
    extra_sem_.push_back(ids[1]);
    const auto start = Clock::now();
    // Bounds with room for a loaded machine: what they catch is a wait
    // that never ends.
    if (answer) {
      ASSERT_EQ(connect(), 0) << ctl_.asfcode;
      std::string got;
      EXPECT_EQ(receive(&got), -1);
      EXPECT_EQ(ctl_.asfcode, SHM_ERR_RECV);
      EXPECT_LT(ms_since(start), 4000);
      ASSERT_EQ(discshm(&drv_, 0, &ctl_), 0);
    } else {
      EXPECT_EQ(connect(5000), -1);
      EXPECT_EQ(ctl_.asfcode, SHM_ERR_CONNECT);
      EXPECT_LT(ms_since(start), 6500);
    }
    EXPECT_EQ(_shmconnected, 0);
    EXPECT_EQ(sm_segtab[0].shmid, -1);
    waitpid(child_, nullptr, 0);
    child_ = -1;
  }
}

TEST(ShmAddress, ServiceOfTheAddressText) {
  struct Case {
    const char *text;
    int rc;
    const char *service;
  } cases[] = {
      {"host|demo|ipcshm", 0, "demo"},
      {"host|a_very_long_server_name|ipcshm", 0, "a_very_long_ser"},
      {"host|demo", -1, nullptr},
      {"host||ipcshm", -1, nullptr},
      {"nobar", -1, nullptr},
      {nullptr, -1, nullptr},
  };
  for (const Case &c : cases) {
    tladdr addr {};
    asfsvcctl ctl {};
    EXPECT_EQ(shmcons2tladdr(c.text, &addr, &ctl, nullptr), c.rc) << (c.text ? c.text : "null");
    if (c.rc == 0)
      EXPECT_STREQ(addr.service, c.service);
    else
      EXPECT_EQ(ctl.asfcode, ASF_ERR_BADADDR);
  }
  tlpeeraddr *peer = nullptr;
  asfsvcctl ctl {};
  ASSERT_EQ(shmtladdr2cons(nullptr, &peer, nullptr, &ctl), 0);
  ASSERT_NE(peer->pair, nullptr);
  EXPECT_EQ(peer->pair->form, 8);
  const std::string text = peer->pair->text;
  EXPECT_EQ(text.substr(text.size() - 8), "||ipcshm");
  asf_free(asf_pool_assoc, peer->pair->text);
  asf_free(asf_pool_assoc, peer->pair);
  asf_free(asf_pool_assoc, peer);
}

TEST(ShmUnsupported, RefusedOperations) {
  drvblock drv {};
  asfsvcctl ctl {};
  EXPECT_EQ(lisnshm(&drv, nullptr, 0, &ctl), -1);
  EXPECT_EQ(ctl.asfcode, SHM_ERR_UNSUPPORTED);
  ctl = {};
  EXPECT_EQ(accpshm(&drv, nullptr, nullptr, &ctl), -1);
  EXPECT_EQ(ctl.asfcode, SHM_ERR_UNSUPPORTED);
  for (auto fn : {+[](asfsvcctl *c) { return roobshm(nullptr, nullptr, c); },
                  +[](asfsvcctl *c) { return saveshm(nullptr, nullptr, c); },
                  +[](asfsvcctl *c) { return restshm(nullptr, nullptr, c); },
                  +[](asfsvcctl *c) { return waitshm(nullptr, nullptr, c); }}) {
    ctl = {};
    EXPECT_EQ(fn(&ctl), -1);
    EXPECT_EQ(ctl.asfcode, SHM_ERR_UNSUPPORTED);
  }
  int32_t words[2] = {5, 5};
  tlattr attr {0, words};
  EXPECT_EQ(attrshm(&drv, &attr), 0);
  EXPECT_EQ(words[0], -1);
  EXPECT_EQ(words[1], -1);
}

}  // namespace

namespace {

TEST(ShmRow, TheSwitchRowLoadsTheSharedMemoryVector) {
  const tlnetsw &row = tlnetswtab[0];
  ASSERT_STREQ(row.name, "ipcshm");
  EXPECT_EQ(row.conn, connshm);
  EXPECT_EQ(row.lisn, lisnshm);
  EXPECT_EQ(row.rest, restshm);
  EXPECT_EQ(row.cons2tladdr, shmcons2tladdr);
  EXPECT_EQ(row.tladdr2cons, shmtladdr2cons);
  drvblock drv {};
  drv.type = tl_drv_ipcshm;
  ASSERT_EQ(load_operation_vector(&drv), 0);
  EXPECT_EQ(drv.ops.conn, connshm);
  EXPECT_EQ(drv.ops.send, sendshm);
  EXPECT_EQ(drv.ops.recv, recvshm);
  EXPECT_EQ(drv.ops.soob, soobshm);
  EXPECT_EQ(drv.ops.roob, roobshm);
  EXPECT_EQ(drv.ops.disc, discshm);
  EXPECT_EQ(drv.ops.wait, waitshm);
  EXPECT_EQ(drv.ops.attr, attrshm);
  EXPECT_EQ(drv.ops.load_addr, nullptr);
  EXPECT_EQ(drv.ops.siginit, nullptr);
  EXPECT_EQ(drv.ops.port_bind, nullptr);
}

}  // namespace
