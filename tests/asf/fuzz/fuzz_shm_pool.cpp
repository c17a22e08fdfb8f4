/*
** Fuzz target: the shared-memory driver's pool checks over a fuzzed pool
** image, in memory, with no real IPC. The input is a rendezvous record
** followed by the pool's bytes; the pool is two segments between two
** inaccessible pages below 4 GiB, so any access outside it faults. The
** driver's IPC seam hands out the image for the record's segment ids,
** takes the lock and every post at once, and fails every wait, so no
** call can block. A claimed slot then goes through the receive and send
** buffer steps; whatever they hand out must lie inside the pool.
*/
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../../asf/net/shm_driver.h"
#include "fuzz_environment.h"

namespace {

constexpr uintptr_t low_map = 0x20000000;
uint8_t *region = nullptr; /* guard page, two segments, guard page */
size_t page = 4096;

uint8_t *pool() { return region + page; }

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_shm_pool: %s (%ld)\n", what, value);
  std::abort();
}

void *fake_shmat(int id, const void *addr, int) {
  if (id == 1) return pool();
  if (id == 2 && addr == pool() + page) return pool() + page;
  errno = EINVAL;
  return reinterpret_cast<void *>(-1);
}
int fake_shmdt(const void *) { return 0; }
/* Each of the two segments is one page, whatever the header claims. */
int fake_shmstat(int id, struct shmid_ds *ds) {
  if (id != 1 && id != 2) {
    errno = EINVAL;
    return -1;
  }
  std::memset(ds, 0, sizeof *ds);
  ds->shm_segsz = page;
  ds->shm_perm.cuid = getuid();
  ds->shm_cpid = getpid();
  ds->shm_nattch = 2;
  return 0;
}
int fake_semtimedop(int, struct sembuf *ops, size_t, const struct timespec *) {
  if (ops->sem_op > 0 || (ops->sem_flg & SEM_UNDO) != 0) return 0;
  errno = (ops->sem_flg & IPC_NOWAIT) != 0 ? EAGAIN : EIDRM;
  return -1;
}
int fake_semsetval(int, int, int) { return 0; }
int fake_alive(int) { return 1; }
constexpr shm_ipc_seam fake_ipc = {fake_shmat,      fake_shmdt,     fake_shmstat,
                                   fake_semtimedop, fake_semsetval, fake_alive};

bool inside(const void *p, size_t n) {
  auto *b = static_cast<const uint8_t *>(p);
  return b >= pool() && b + n <= pool() + 2 * page;
}

int32_t ld32(const uint8_t *p, size_t off) {
  int32_t v;
  std::memcpy(&v, p + off, 4);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  page = size_t(sysconf(_SC_PAGESIZE));
  void *m = mmap(reinterpret_cast<void *>(low_map), 4 * page, PROT_NONE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (m != reinterpret_cast<void *>(low_map)) fail("no low mapping", errno);
  region = static_cast<uint8_t *>(m);
  if (mprotect(pool(), 2 * page, PROT_READ | PROT_WRITE) != 0) fail("mprotect", errno);
  shm_ipc = &fake_ipc;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < SM_REND_SIZE + 1 || size > SM_REND_SIZE + 1 + 2 * page) return 0;
  uint8_t file[SM_REND_COUNT_SIZE + SM_REND_SIZE] = {1, 0, 0, 0};
  std::memcpy(file + SM_REND_COUNT_SIZE, data + 1, SM_REND_SIZE);
  sm_rendrec rec {};
  if (shm_rend_record(file, sizeof file, 0, &rec) != 0) fail("record", 0);
  rec.shmid = 1;
  std::memset(pool(), 0, 2 * page);
  std::memcpy(pool(), data + 1 + SM_REND_SIZE, size - 1 - SM_REND_SIZE);
  if ((data[0] & 1) != 0) {
    // A sound header, so that the fuzzing reaches the slots and buffers.
    const int16_t magic = SM_MAGIC, version = SM_VERSION;
    const int32_t ids[2] = {2, -1}, total = int32_t(2 * page), segsize = int32_t(page);
    std::memcpy(pool() + SM_HDR_MAGIC, &magic, 2);
    std::memcpy(pool() + SM_HDR_VERSION, &version, 2);
    std::memcpy(pool() + SM_HDR_IDS, ids, sizeof ids);
    std::memcpy(pool() + SM_HDR_TOTAL, &total, 4);
    std::memcpy(pool() + SM_HDR_SEGSIZE, &segsize, 4);
  }
  sm_pending = (data[0] & 2) != 0 ? 3001 : 0;
  sm_lastgen = 0;
  const int s = shm_try_record(&rec, low_map + page, 1234, -1);
  if (s >= 0) {
    netscb *scb = netscb_alloc();
    uint8_t *slot = nullptr;
    if (scb == nullptr) fail("netscb", 0);
    if (net_sm_find_addr(1, int64_t(rec.slots_off) + int64_t(SM_SLOT_SIZE) * s, SM_SLOT_SIZE,
                         &slot) == 0) {
      if (!inside(slot, SM_SLOT_SIZE)) fail("slot outside", s);
      scb->slot = slot;
      // What the initialisation writes into a claimed slot.
      const int32_t id = 1;
      std::memcpy(slot + SM_SLOT_SHMID, &id, 4);
      // Connected, as after the server's answer (or left claimed).
      if ((data[0] & 0x80) == 0) slot[SM_SLOT_STATE] = sm_state_connected;
      if (shm_resolve_alerts(scb) == 0) {
        if (!inside(scb->alert, SM_ALERT_SIZE) || !inside(scb->counter, SM_COUNTER_SIZE))
          fail("alerts outside", 0);
        const int i = buf_wait(scb, 5, 0, -1);
        if (i >= 0) {
          uint8_t *ent = slot + SM_SLOT_RECVTAB + SM_BUFENT_SIZE * size_t(i);
          uint8_t *buf = nullptr;
          if (net_sm_find_addr(1, ld32(ent, SM_BUFENT_OFFSET), SM_BUF_SIZE, &buf) == 0 &&
              !inside(buf, SM_BUF_SIZE))
            fail("receive buffer outside", i);
          int16_t held = int16_t(i);
          std::memcpy(slot + SM_SLOT_HELDRECV, &held, 2);
          (void)net_sm_free_buf(scb);
        }
        char *area = nullptr;
        if (net_sm_get_buf(scb, &area, (data[0] >> 2) & 15) == 0) {
          if (!inside(area - SM_BUFHDR_SIZE, SM_BUF_SIZE)) fail("send buffer outside", 0);
          std::memset(area, 0x5a, SM_BUFDATA);
        } else if (area == nullptr) {
          fail("no fallback", 0);
        }
        (void)buf_request(scb, data[0] >> 4);
      }
    }
    netscb_cleanup(scb);
  }
  net_sm_detachsegs();
  return 0;
}
