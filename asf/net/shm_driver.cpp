/*
** The shared-memory driver, client side: finds the server through its
** rendezvous file, attaches the server's pool of segments, claims a
** client slot under the server's lock semaphore, and exchanges the
** server's 1024-byte buffers in place. The transport layer calls it
** through shm_opvec (asf/tl/protocol_switch.cpp).
**
** Nothing the server wrote is trusted: the pool's sizes count only as far
** as the segments the system reports, every offset is checked so that
** the structure it names lies wholly inside the pool, ring indices,
** counts and length words are checked before use, and every semaphore
** wait lasts at most a second, after which the client looks whether the
** server ended the connection or is gone.
*/
#include "shm_driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_memory.h"
#include "asf_net.h"
#include "net_paths.h"
#include "os_env.h"
#include "os_wrappers.h"

namespace {

/* Results of the bounded semaphore wait. */
enum { wait_posted = 0, wait_slice = 1, wait_dead = -2, wait_fault = SHM_ERR_FAULT };

/* Wake-ups counted before they are taken off the client semaphore. */
constexpr int32_t pending_limit = 3000;
/* Initialisations of a connect, one second apart. */
constexpr int init_calls = 12;
/* The longest a disconnect waits for a buffer and the notice's answer. */
constexpr int64_t disc_wait_ms = 10000;
/* Driver flag: the server ended the connection. */
constexpr uint32_t drv_server_ended = 0x400;
/* Lock semaphore operations are undone at exit. */
constexpr short sem_undo = SEM_UNDO;

/* Native-order field access at byte offsets. */
int32_t ld32(const uint8_t *p, size_t off) {
  int32_t v;
  std::memcpy(&v, p + off, sizeof v);
  return v;
}
void st32(uint8_t *p, size_t off, int32_t v) { std::memcpy(p + off, &v, sizeof v); }
int16_t ld16(const uint8_t *p, size_t off) {
  int16_t v;
  std::memcpy(&v, p + off, sizeof v);
  return v;
}
void st16(uint8_t *p, size_t off, int16_t v) { std::memcpy(p + off, &v, sizeof v); }
int8_t ld8(const uint8_t *p, size_t off) { return static_cast<int8_t>(p[off]); }
void st8(uint8_t *p, size_t off, int8_t v) { p[off] = static_cast<uint8_t>(v); }
/* Low 32 bits of a host address, for the layout's client-address words. */
int32_t low32(const void *p) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
}

/* ---- The system calls behind the seam. ---- */

void *sys_shmat(int id, const void *addr, int flags) { return shmat(id, addr, flags); }
int sys_shmdt(const void *addr) { return shmdt(addr); }
int sys_shmstat(int id, struct shmid_ds *ds) { return shmctl(id, IPC_STAT, ds); }
int sys_semtimedop(int id, struct sembuf *ops, size_t n, const struct timespec *limit) {
  return semtimedop(id, ops, n, limit);
}
int sys_semsetval(int id, int num, int value) { return semctl(id, num, SETVAL, value); }

/* A process counts as alive while it exists and is not a zombie. */
int sys_alive(int pid) {
  if (pid <= 0) return 0;
  if (kill(pid, 0) != 0 && errno != EPERM) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE *f = std::fopen(path, "r");
  if (f == nullptr) return 1;
  char line[512];
  size_t n = std::fread(line, 1, sizeof line - 1, f);
  std::fclose(f);
  line[n] = '\0';
  const char *close = std::strrchr(line, ')');
  if (close != nullptr && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X')) return 0;
  return 1;
}

/* Semop repeated while interrupted; limit null waits without end. */
int semop_retry(int id, int num, short op, short flags, const struct timespec *limit) {
  struct sembuf sb = {static_cast<unsigned short>(num), op, flags};
  int rc;
  do {
    rc = shm_ipc->semtimedop(id, &sb, 1, limit);
  } while (rc == -1 && errno == EINTR);
  return rc;
}

/* ---- Segment table. ---- */

void init_tab() {
  for (sm_segrow &row : sm_segtab)
    row = {-1, nullptr, 0, 0, 0};
  segtab_init = 1;
}

/* Enters a pool in the first free row: 0, or -1 when the table is full. */
int insert_tab(int32_t id, uint8_t *addr, uint32_t size, uint32_t segsize, int32_t nsegs) {
  for (sm_segrow &row : sm_segtab) {
    if (row.shmid == -1) {
      row = {id, addr, size, segsize, nsegs};
      return 0;
    }
  }
  return -1;
}

/* shmat repeated while interrupted; null on failure. */
uint8_t *attach(int32_t id, uintptr_t addr) {
  void *p;
  do {
    p = shm_ipc->shmat(id, reinterpret_cast<void *>(addr), 0);
  } while (p == reinterpret_cast<void *>(-1) && errno == EINTR);
  return p == reinterpret_cast<void *>(-1) ? nullptr : static_cast<uint8_t *>(p);
}

/* Detaches the nsegs segments of segsize bytes attached from addr on:
** 0, or -1 at the first failing shmdt. */
int asf_detachseg(uint8_t *addr, uint32_t segsize, int32_t nsegs) {
  for (int32_t k = 0; k < nsegs; ++k)
    if (shm_ipc->shmdt(addr + uint64_t(segsize) * uint64_t(k)) != 0) return -1;
  return 0;
}

/* The size the system gives segment id: 0 with *size, or -1. */
int segment_size(int32_t id, uint64_t *size) {
  struct shmid_ds ds;
  if (shm_ipc->shmstat(id, &ds) != 0) return -1;
  *size = uint64_t(ds.shm_segsz);
  return 0;
}

/* Checks the header of a first segment of real bytes: 0 with the sizes and
** the count of further ids, or -1 (magic, version, sizes or id list out of
** bounds, or a segment size past the real one). */
int check_header(const uint8_t *seg, uint64_t real, uintptr_t addr, uint32_t *total,
                 uint32_t *segsize, int *nfurther) {
  if (ld16(seg, SM_HDR_MAGIC) != SM_MAGIC || ld16(seg, SM_HDR_VERSION) != SM_VERSION) return -1;
  const int32_t tot = ld32(seg, SM_HDR_TOTAL);
  const int32_t ssz = ld32(seg, SM_HDR_SEGSIZE);
  const long page = sysconf(_SC_PAGESIZE);
  if (ssz <= 0 || page <= 0 || ssz % page != 0 || ssz < SM_HDR_SIZE || tot < ssz) return -1;
  if (uint64_t(ssz) > real) return -1;
  int n = 0;
  while (n < SM_HDR_MAXIDS && ld32(seg, SM_HDR_IDS + 4 * size_t(n)) >= 0)
    ++n;
  if (n == SM_HDR_MAXIDS) return -1;
  // The further segments must make up the total, and the pool lie below 4 GiB.
  if (uint64_t(ssz) * uint64_t(n + 1) < uint64_t(tot)) return -1;
  if (uint64_t(addr) + uint64_t(ssz) * uint64_t(n + 1) > SM_ADDR_LIMIT) return -1;
  *total = uint32_t(tot);
  *segsize = uint32_t(ssz);
  *nfurther = n;
  return 0;
}

/* ---- Rendezvous file. ---- */

/* Reads the whole rendezvous file of fd into a new block: its length, or
** -962 (read failure, too large). */
int64_t read_rendezvous(int fd, uint8_t **out) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < 0 || st.st_size > SM_REND_FILE_MAX) return SHM_ERR_FAULT;
  const auto size = size_t(st.st_size);
  auto *image = static_cast<uint8_t *>(std::malloc(size > 0 ? size : 1));
  if (image == nullptr) return SHM_ERR_FAULT;
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, image + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  *out = image;
  return int64_t(got);
}

/* The fallback file is anyone's to plant: only its owner's segments count,
** and nobody else may have written it. */
bool fallback_acceptable(int fd, const sm_rendrec &rec) {
  struct stat st;
  if (fstat(fd, &st) != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return false;
  struct shmid_ds ds;
  if (shm_ipc->shmstat(rec.shmid, &ds) != 0) return false;
  return ds.shm_perm.cuid == st.st_uid;
}

/* Looks whether the server of scb's pool still lives: the first segment's
** creator exists, or the segment is attached by someone besides us. */
bool server_alive() {
  if (!segtab_init || sm_segtab[0].shmid == -1) return false;
  struct shmid_ds ds;
  if (shm_ipc->shmstat(sm_segtab[0].shmid, &ds) != 0) return false;
  if (shm_ipc->alive(ds.shm_cpid)) return true;
  return ds.shm_nattch > 1;
}

/* The entry e of a buffer table at table offset. */
uint8_t *bufent(netscb *scb, size_t table, int e) {
  return scb->slot + table + SM_BUFENT_SIZE * size_t(e);
}

/* The shared buffer of an entry, its offset checked: null when outside. */
uint8_t *entry_buffer(netscb *scb, uint8_t *ent) {
  uint8_t *buf = nullptr;
  if (net_sm_find_addr(ld32(scb->slot, SM_SLOT_SHMID), ld32(ent, SM_BUFENT_OFFSET), SM_BUF_SIZE,
                       &buf) != 0)
    return nullptr;
  st32(ent, SM_BUFENT_ADDR, low32(buf));
  return buf;
}

/* A count field of the slot, checked to lie in 0 .. SM_NBUF: the count,
** or -1. */
int slot_count(netscb *scb, size_t off) {
  int16_t v = ld16(scb->slot, off);
  return v >= 0 && v <= SM_NBUF ? v : -1;
}

/* The limit of the next semaphore wait before deadline (ms on the layer's
** clock, -1 none): at most a second. False when the deadline has passed. */
bool next_slice(int64_t deadline, struct timespec *limit) {
  int64_t slice = 1000;
  if (deadline >= 0) {
    const int64_t left = deadline - asf_now_ms();
    if (left <= 0) return false;
    if (left < slice) slice = left;
  }
  *limit = {time_t(slice / 1000), long(slice % 1000) * 1000000L};
  return true;
}

/* One bounded wait on the client semaphore: wait_posted, wait_slice
** (the second ran out, or the deadline passed: the caller looks again),
** wait_dead or wait_fault. */
int client_wait(netscb *scb, int64_t deadline) {
  const int id = ld32(scb->slot, SM_SLOT_WAITSEMID);
  const int num = ld32(scb->slot, SM_SLOT_WAITSEMNUM);
  struct timespec limit;
  if (!next_slice(deadline, &limit)) return wait_slice;
  if (semop_retry(id, num, -1, 0, &limit) == 0) return wait_posted;
  if (errno != EAGAIN) return wait_fault;
  if (!server_alive()) return wait_dead;
  return wait_slice;
}

/* Takes the lock semaphore of rec (undone at exit) in waits of at most a
** second until deadline (-1 none), looking between them whether the
** pool's server still lives: 0, or -1 with errno (ETIMEDOUT when the
** deadline passed, EAGAIN when the server is gone). */
int take_lock(const sm_rendrec *rec, int64_t deadline) {
  struct sembuf sb = {static_cast<unsigned short>(rec->lock_semnum), -1, sem_undo};
  for (;;) {
    struct timespec limit;
    if (!next_slice(deadline, &limit)) {
      errno = ETIMEDOUT;
      return -1;
    }
    // An interruption only ends this slice: the next one is cut to what is left.
    if (shm_ipc->semtimedop(rec->lock_semid, &sb, 1, &limit) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EAGAIN || !server_alive()) return -1;
  }
}

/* The receive-buffer release of every send entry still held (the
** disconnect acknowledgement's walk). */
void release_held_sends(netscb *scb) {
  const int granted = slot_count(scb, SM_SLOT_NGRANT);
  for (int e = 0; e < granted; ++e) {
    if (ld8(bufent(scb, SM_SLOT_SENDTAB, e), SM_BUFENT_STATE) != sm_buf_held) continue;
    st16(scb->slot, SM_SLOT_HELDRECV, int16_t(e));
    net_sm_free_buf(scb);
  }
}

/* The lender of the set-up's send area: the first send buffer. */
char *lend_send_area(void *priv) {
  char *area = nullptr;
  net_sm_get_buf(static_cast<netscb *>(priv), &area, 1);
  return area;
}

/* Takes the association's receive record and releases the held receive
** buffer it points at. The record, or null. */
rscbufctl *take_receive_record(netscb *scb, Assocctl *assoc, rscbufctl *given) {
  rscbufctl *buf = given;
  if (buf == nullptr && bufGet(assoc, asf_sel_recv, &buf) != 0) buf = nullptr;
  if (buf != nullptr && buf->buff != nullptr) {
    net_sm_free_buf(scb);
    buf->buff = nullptr;
    buf->p = nullptr;
  }
  return buf;
}

/* Ends a connect attempt: -25588 with errno, everything undone. */
int connect_failed(drvblock *drv, netscb *scb, bool attached, asfsvcctl *ctl) {
  const int err = errno;
  if (attached) net_sm_detachsegs();
  netscb_cleanup(scb);
  drv->priv = nullptr;
  driver_error(ctl, SHM_ERR_CONNECT, err);
  return -1;
}

int unsupported(asfsvcctl *ctl) {
  driver_error(ctl, SHM_ERR_UNSUPPORTED, errno);
  return -1;
}

}  // namespace

extern "C" {

const shm_ipc_seam shm_system_ipc = {sys_shmat,      sys_shmdt,     sys_shmstat,
                                     sys_semtimedop, sys_semsetval, sys_alive};
const shm_ipc_seam *shm_ipc = &shm_system_ipc;

int _shmconnected = 0;
sm_segrow sm_segtab[SM_SEGTAB_ROWS];
int segtab_init = 0;
int32_t sm_lastgen = 0;
int32_t sm_pending = 0;

int shm_rend_count(const uint8_t *image, size_t len, int32_t *count) {
  if (image == nullptr || len < SM_REND_COUNT_SIZE) return SHM_ERR_FAULT;
  const int32_t n = ld32(image, 0);
  if (n < 0 || (len - SM_REND_COUNT_SIZE) / SM_REND_SIZE < size_t(n)) return SHM_ERR_FAULT;
  *count = n;
  return 0;
}

int shm_rend_record(const uint8_t *image, size_t len, int32_t index, sm_rendrec *rec) {
  if (image == nullptr || index < 0) return SHM_ERR_FAULT;
  const uint64_t at = SM_REND_COUNT_SIZE + uint64_t(SM_REND_SIZE) * uint64_t(index);
  if (at + SM_REND_SIZE > len) return SHM_ERR_FAULT;
  const uint8_t *r = image + at;
  rec->shmid = ld32(r, 0);
  rec->alert_semid = ld32(r, 4);
  rec->alert_semnum = ld32(r, 8);
  rec->lock_semid = ld32(r, 12);
  rec->lock_semnum = ld32(r, 16);
  rec->bitmap_off = ld32(r, 20);
  rec->nslots = ld32(r, 24);
  rec->slots_off = ld32(r, 28);
  rec->srvaddr = uint32_t(ld32(r, 32));
  return 0;
}

int shm_attach_base(const char *env, uint32_t recaddr, uintptr_t *base) {
  uint64_t value;
  bool own = false;
  if (env == nullptr || env[0] == '\0') {
    value = SM_DEFAULT_BASE;
  } else if (env[0] == '-') {
    value = recaddr;
    own = true;
  } else {
    long kib = (env[0] == '0' && (env[1] == 'x' || env[1] == 'X')) ? std::strtol(env, nullptr, 0)
                                                                   : std::atol(env);
    if (kib <= 0 || uint64_t(kib) >= SM_ADDR_LIMIT / 1024) return SHM_ERR_FAULT;
    value = uint64_t(kib) * 1024;
  }
  if (!own) {
    const auto page = uint64_t(sysconf(_SC_PAGESIZE));
    value = (value + page - 1) / page * page;
  }
  if (value == 0 || value >= SM_ADDR_LIMIT) return SHM_ERR_FAULT;
  *base = uintptr_t(value);
  return 0;
}

int net_sm_attachseg(int32_t shmid, uintptr_t addr) {
  if (!segtab_init) init_tab();
  for (const sm_segrow &row : sm_segtab)
    if (row.shmid == shmid) return 0;
  // The header is read only when the segment really holds it, and its
  // sizes count only as far as the segments the system reports.
  uint64_t real = 0;
  if (segment_size(shmid, &real) != 0 || real < SM_HDR_SIZE) return -1;
  uint8_t *seg = attach(shmid, addr);
  if (seg == nullptr) return -1;
  uint32_t total = 0, segsize = 0;
  int nfurther = 0;
  if (check_header(seg, real, reinterpret_cast<uintptr_t>(seg), &total, &segsize, &nfurther) != 0) {
    shm_ipc->shmdt(seg);
    return -1;
  }
  int32_t ids[SM_HDR_MAXIDS];
  for (int i = 0; i < nfurther; ++i)
    ids[i] = ld32(seg, SM_HDR_IDS + 4 * size_t(i));
  for (int i = 0; i < nfurther; ++i) {
    if (segment_size(ids[i], &real) != 0 || real < segsize) {
      shm_ipc->shmdt(seg);
      return -1;
    }
  }
  if (insert_tab(shmid, seg, total, segsize, nfurther + 1) != 0) {
    shm_ipc->shmdt(seg);
    return -1;
  }
  for (int i = 0; i < nfurther; ++i) {
    const uintptr_t want = reinterpret_cast<uintptr_t>(seg) + uintptr_t(segsize) * uintptr_t(i + 1);
    uint8_t *next = attach(ids[i], want);
    if (next == nullptr || next != reinterpret_cast<uint8_t *>(want)) {
      if (next != nullptr) shm_ipc->shmdt(next);
      for (int j = i; j > 0; --j)
        shm_ipc->shmdt(seg + uintptr_t(segsize) * uintptr_t(j));
      shm_ipc->shmdt(seg);
      for (sm_segrow &row : sm_segtab)
        if (row.shmid == shmid) row = {-1, nullptr, 0, 0, 0};
      return -1;
    }
  }
  return 0;
}

int net_sm_find_addr(int32_t shmid, int64_t offset, int64_t size, uint8_t **out) {
  if (!segtab_init) init_tab();
  if (offset < 0 || size < 0) return SHM_ERR_FAULT;
  for (int i = 0; i < SM_SEGTAB_ROWS; ++i) {
    const sm_segrow &row = sm_segtab[i];
    if (row.shmid == -1) {
      if (i == 0) return SHM_ERR_FAULT;
      const sm_segrow &prev = sm_segtab[i - 1];
      if (net_sm_attachseg(shmid, reinterpret_cast<uintptr_t>(prev.addr) + prev.size) != 0)
        return SHM_ERR_FAULT;
      if (sm_segtab[i].shmid != shmid) return SHM_ERR_FAULT;
    }
    if (sm_segtab[i].shmid != shmid) continue;
    // The pool lies within the segments measured and mapped at attach.
    assert(uint64_t(sm_segtab[i].size) <=
           uint64_t(sm_segtab[i].segsize) * uint64_t(sm_segtab[i].nsegs));
    // The look-up's own rule, then the whole structure inside the pool.
    if (offset > int64_t(sm_segtab[i].size)) return SHM_ERR_FAULT;
    if (offset + size > int64_t(sm_segtab[i].size)) return SHM_ERR_FAULT;
    *out = sm_segtab[i].addr + offset;
    return 0;
  }
  return SHM_ERR_FAULT;
}

int net_sm_detachsegs(void) {
  if (!segtab_init) {
    init_tab();
    return 0;
  }
  segtab_init = 0;
  for (sm_segrow &row : sm_segtab) {
    if (row.shmid == -1) break;
    if (asf_detachseg(row.addr, row.segsize, row.nsegs) != 0) {
      init_tab();
      return -1;
    }
    row.addr = nullptr;
  }
  init_tab();
  return 0;
}

/* Claims the first free slot from start: its index, or -1. */
static int find_buf(uint8_t *bitmap, int start, int nbits, int32_t slots_off, int32_t shmid,
                    int pid) {
  if (start < 0 || nbits <= 0) return -1;
  for (int bit = start - start % 8; bit < nbits; ++bit) {
    if ((bitmap[bit / 8] & (1u << (bit % 8))) == 0) continue;
    uint8_t *slot = nullptr;
    if (net_sm_find_addr(shmid, int64_t(slots_off) + int64_t(SM_SLOT_SIZE) * bit, SM_SLOT_SIZE,
                         &slot) != 0)
      return -1;
    st8(slot, SM_SLOT_STATE, sm_state_claimed);
    st32(slot, SM_SLOT_PID, pid);
    bitmap[bit / 8] = uint8_t(bitmap[bit / 8] & ~(1u << (bit % 8)));
    return bit;
  }
  return -1;
}

int shm_try_record(const sm_rendrec *rec, uintptr_t base, int pid, int64_t deadline) {
  if (net_sm_attachseg(rec->shmid, base) != 0) return -1;
  uint8_t *bitmap = nullptr;
  if (rec->nslots <= 0 ||
      net_sm_find_addr(rec->shmid, rec->bitmap_off, (int64_t(rec->nslots) + 7) / 8, &bitmap) != 0)
    return -1;
  if (take_lock(rec, deadline) != 0) return -1;
  const int s = find_buf(bitmap, 0, rec->nslots, rec->slots_off, rec->shmid, pid);
  semop_retry(rec->lock_semid, rec->lock_semnum, 1, sem_undo, nullptr);
  return s;
}

int net_sm_init(netscb *scb, const char *name, int64_t deadline) {
  if (name == nullptr || name[0] == '\0') return SHM_ERR_FAULT;
  char cut[SM_NAME_MAX + 1];
  std::snprintf(cut, sizeof cut, "%s", name);
  char path[1024];
  std::snprintf(path, sizeof path, "%s/.dvz.%s", asf_tmpdir(), cut);
  bool fallback = false;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::snprintf(path, sizeof path, "/tmp/.dvz.%s", cut);
    fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -2;
    fallback = true;
  }
  uint8_t *image = nullptr;
  const int64_t len = read_rendezvous(fd, &image);
  int32_t count = 0;
  int result = SHM_ERR_FAULT;
  if (len >= 0 && shm_rend_count(image, size_t(len), &count) == 0) {
    const int pid = int(getpid());
    int32_t first = 0;
    if (count > 1) {
      std::srand(unsigned(pid));
      first = std::rand() % count;
    }
    const char *env = ggetenv("DOVARIZASHMBASE");
    int slot = -1;
    sm_rendrec rec {};
    for (int64_t t = 0; t <= count && slot < 0; ++t) {
      const int32_t index = t == 0 ? first : int32_t(t - 1);
      if (shm_rend_record(image, size_t(len), index, &rec) != 0) break;
      uintptr_t base = 0;
      if (shm_attach_base(env, rec.srvaddr, &base) == 0 &&
          (!fallback || fallback_acceptable(fd, rec)))
        slot = shm_try_record(&rec, base, pid, deadline);
      if (slot < 0) net_sm_detachsegs();
    }
    uint8_t *addr = nullptr;
    if (slot >= 0 &&
        net_sm_find_addr(rec.shmid, int64_t(rec.slots_off) + int64_t(SM_SLOT_SIZE) * slot,
                         SM_SLOT_SIZE, &addr) == 0) {
      scb->slot = addr;
      st8(addr, SM_SLOT_STATE, sm_state_requested);
      st32(addr, SM_SLOT_PID, pid);
      st32(addr, SM_SLOT_SHMID, rec.shmid);
      st32(addr, SM_SLOT_ALERTSEMID, rec.alert_semid);
      st32(addr, SM_SLOT_ALERTSEMNUM, rec.alert_semnum);
      st8(addr, SM_SLOT_EXPBYTE, 0);
      result = 0;
    } else if (slot >= 0) {
      net_sm_detachsegs();
    }
  }
  std::free(image);
  close(fd);
  return result;
}

int shm_resolve_alerts(netscb *scb) {
  const int32_t id = ld32(scb->slot, SM_SLOT_SHMID);
  uint8_t *alert = nullptr, *counter = nullptr;
  if (net_sm_find_addr(id, ld32(scb->slot, SM_SLOT_ALERTOFF), SM_ALERT_SIZE, &alert) != 0 ||
      net_sm_find_addr(id, ld32(scb->slot, SM_SLOT_COUNTOFF), SM_COUNTER_SIZE, &counter) != 0)
    return SHM_ERR_FAULT;
  scb->alert = alert;
  scb->counter = counter;
  st32(scb->slot, SM_SLOT_ALERTADDR, low32(alert));
  st32(scb->slot, SM_SLOT_COUNTADDR, low32(counter));
  return 0;
}

int alert_server(netscb *scb, int32_t bufid, int kind) {
  if (kind == sm_alert_data) {
    if (bufid < 0) return -1;
    if (scb->sendidx < 0 || scb->sendidx >= SM_SENDRING_LEN) scb->sendidx = 0;
    st32(scb->slot, SM_SLOT_SENDRING + 4 * size_t(scb->sendidx), bufid);
    scb->sendidx = (scb->sendidx + 1) % SM_SENDRING_LEN;
  }
  scb->alert[kind] = 1;
  int rc = semop_retry(ld32(scb->slot, SM_SLOT_ALERTSEMID), ld32(scb->slot, SM_SLOT_ALERTSEMNUM), 1,
                       0, nullptr);
  // The counter and sequence words live in memory the server also writes; they wrap.
  st32(scb->counter, SM_COUNTER_WORD, int32_t(uint32_t(ld32(scb->counter, SM_COUNTER_WORD)) + 1u));
  return rc;
}

int buf_request(netscb *scb, int wanted) {
  int granted = slot_count(scb, SM_SLOT_NGRANT);
  if (granted < 0) return -1;
  int room = SM_NBUF - granted;
  if (room == 0) room = 1;
  st32(scb->slot, SM_SLOT_REQUEST, wanted < room ? wanted : room);
  if (alert_server(scb, 0, sm_alert_control) != 0) return -1;
  return ld32(scb->slot, SM_SLOT_REQUEST);
}

int buf_wait(netscb *scb, int mode, int wanted, int64_t deadline) {
  bool waited = false;
  bool requested = false;
  int found = -1;
  if (mode == 3) sm_pending = 0;
  for (;;) {
    const int8_t state = ld8(scb->slot, SM_SLOT_STATE);
    if (state == sm_state_ended) return -1;
    if (mode == 0 || mode == 5) {
      if (state != sm_state_connected) return -1;
      const int16_t ri = ld16(scb->slot, SM_SLOT_RECVIDX);
      const int nrecv = slot_count(scb, SM_SLOT_NRECV);
      if (ri < 0 || ri >= SM_NBUF || nrecv < 0) return SHM_ERR_FAULT;
      const int32_t v = ld32(scb->slot, SM_SLOT_RECVRING + 4 * size_t(ri));
      if (v >= 0) {
        if (v >= nrecv) return SHM_ERR_FAULT;
        st32(scb->slot, SM_SLOT_RECVRING + 4 * size_t(ri), -1);
        uint8_t *ent = bufent(scb, SM_SLOT_RECVTAB, v);
        if (ld32(ent, SM_BUFENT_ADDR) == 0 && entry_buffer(scb, ent) == nullptr)
          return SHM_ERR_FAULT;
        found = v;
        if (!waited) {
          ++sm_pending;
          if (mode == 5 && sm_pending > pending_limit) {
            // Take the counted wake-ups without blocking; fewer than counted
            // means the semaphore already holds none.
            if (semop_retry(ld32(scb->slot, SM_SLOT_WAITSEMID), ld32(scb->slot, SM_SLOT_WAITSEMNUM),
                            short(-sm_pending), IPC_NOWAIT, nullptr) != 0) {
              if (errno != EAGAIN) return SHM_ERR_FAULT;
              if (shm_ipc->semsetval(ld32(scb->slot, SM_SLOT_WAITSEMID),
                                     ld32(scb->slot, SM_SLOT_WAITSEMNUM), 0) != 0)
                return SHM_ERR_FAULT;
            }
            sm_pending = 0;
          }
        }
        break;
      }
      if (mode == 5) return -99;
    } else if (mode == 1) {
      if (state != sm_state_connected) return -1;
      const int granted = slot_count(scb, SM_SLOT_NGRANT);
      const int16_t cand = ld16(scb->slot, SM_SLOT_NEXTSEND);
      if (granted <= 0 || cand < 0 || cand >= granted) return SHM_ERR_FAULT;
      if (ld8(bufent(scb, SM_SLOT_SENDTAB, cand), SM_BUFENT_STATE) == sm_buf_free) {
        found = cand;
        break;
      }
      for (int e = 0; e < granted && found < 0; ++e)
        if (ld8(bufent(scb, SM_SLOT_SENDTAB, e), SM_BUFENT_STATE) == sm_buf_free) found = e;
      if (found >= 0) break;
      if (!requested) {
        if (buf_request(scb, wanted) < 0) return SHM_ERR_FAULT;
        requested = true;
      }
    } else if (mode == 2) {
      release_held_sends(scb);
      if (waited && state != sm_state_connected) {
        found = 0;
        break;
      }
    } else if (mode == 3) {
      if (state != sm_state_requested) {
        found = 0;
        break;
      }
    } else {
      return SHM_ERR_FAULT;
    }
    const int w = client_wait(scb, deadline);
    if (w == wait_posted) {
      waited = true;
      continue;
    }
    if (w != wait_slice) return w;
    if (deadline >= 0 && asf_now_ms() >= deadline) return -99;
  }
  if (sm_pending > pending_limit) {
    int rc;
    do {
      rc = shm_ipc->semsetval(ld32(scb->slot, SM_SLOT_WAITSEMID),
                              ld32(scb->slot, SM_SLOT_WAITSEMNUM), 0);
    } while (rc == -1 && errno == EINTR);
    if (rc != 0) return SHM_ERR_FAULT;
    sm_pending = 0;
  }
  return found;
}

int net_sm_get_buf(netscb *scb, char **out, int wanted) {
  auto give_fallback = [&] {
    if (scb->fallback == nullptr)
      scb->fallback = static_cast<char *>(asf_alloc(asf_pool_assoc, SM_BUFDATA));
    *out = scb->fallback;
    return SHM_ERR_FAULT;
  };
  if (scb == nullptr || scb->slot == nullptr) return give_fallback();
  if (ld16(scb->slot, SM_SLOT_HELDSEND) >= 0) return give_fallback();
  const int i = buf_wait(scb, 1, wanted, -1);
  if (i < 0) return give_fallback();
  const int granted = slot_count(scb, SM_SLOT_NGRANT);
  const int16_t minimum = ld16(scb->slot, SM_SLOT_NMIN);
  if (granted > minimum && minimum >= 0 && i == granted / 2) {
    int nfree = 0;
    for (int e = 0; e < granted; ++e)
      if (ld8(bufent(scb, SM_SLOT_SENDTAB, e), SM_BUFENT_STATE) == sm_buf_free) ++nfree;
    int top = granted - 1;
    while (nfree > wanted && top >= minimum && top > i &&
           ld8(bufent(scb, SM_SLOT_SENDTAB, top), SM_BUFENT_STATE) == sm_buf_free) {
      uint8_t *ent = bufent(scb, SM_SLOT_SENDTAB, top);
      uint8_t *buf = entry_buffer(scb, ent);
      if (buf == nullptr) return give_fallback();
      if (buf[SM_BUFHDR_STATUS] != 0)
        net_abort("shm_fe", __LINE__,
                  m_net_sm_bad_status != nullptr && m_net_sm_bad_status[0] != '\0'
                      ? m_net_sm_bad_status
                      : "Not true:");
      st8(buf, SM_BUFHDR_STATUS, sm_buf_returned);
      st8(ent, SM_BUFENT_STATE, sm_buf_returned);
      st8(scb->slot, SM_SLOT_NRETURNED, int8_t(ld8(scb->slot, SM_SLOT_NRETURNED) + 1));
      --nfree;
      --top;
    }
    st16(scb->slot, SM_SLOT_NGRANT, int16_t(top + 1));
  }
  uint8_t *ent = bufent(scb, SM_SLOT_SENDTAB, i);
  uint8_t *buf = entry_buffer(scb, ent);
  if (buf == nullptr) return give_fallback();
  const int now_granted = slot_count(scb, SM_SLOT_NGRANT);
  st8(buf, SM_BUFHDR_STATUS, sm_buf_held);
  st8(ent, SM_BUFENT_STATE, sm_buf_held);
  st16(scb->slot, SM_SLOT_HELDSEND, int16_t(i));
  st16(scb->slot, SM_SLOT_NEXTSEND, int16_t(now_granted > 0 ? (i + 1) % now_granted : 0));
  const int32_t seq = int32_t(uint32_t(ld32(scb->slot, SM_SLOT_SENDSEQ)) + 1u);
  st32(scb->slot, SM_SLOT_SENDSEQ, seq);
  st32(buf, SM_BUFHDR_SEQ, seq);
  *out = reinterpret_cast<char *>(buf + SM_BUFHDR_SIZE);
  return 0;
}

int net_sm_free_buf(netscb *scb) {
  const int16_t held = ld16(scb->slot, SM_SLOT_HELDRECV);
  const int nrecv = slot_count(scb, SM_SLOT_NRECV);
  if (held < 0 || nrecv < 0 || held >= nrecv) return SHM_ERR_FAULT;
  uint8_t *ent = bufent(scb, SM_SLOT_RECVTAB, held);
  if (ld32(ent, SM_BUFENT_ADDR) == 0) return 0;
  uint8_t *buf = entry_buffer(scb, ent);
  if (buf == nullptr) return SHM_ERR_FAULT;
  st32(buf, SM_BUFHDR_RELEASE, -1);
  st8(buf, SM_BUFHDR_STATUS, sm_buf_free);
  st16(scb->slot, SM_SLOT_HELDRECV, -1);
  st8(ent, SM_BUFENT_STATE, sm_buf_free);
  const int16_t gen = ld16(scb->slot, SM_SLOT_RELGEN);
  if (gen != sm_lastgen) {
    sm_lastgen = gen;
    st32(scb->slot, SM_SLOT_RELFLAG, 1);
    if (alert_server(scb, 0, sm_alert_control) != 0) return SHM_ERR_FAULT;
  }
  return 0;
}

netscb *netscb_alloc(void) {
  auto *scb = static_cast<netscb *>(asf_alloc(asf_pool_assoc, sizeof(netscb)));
  if (scb == nullptr) return nullptr;
  std::memset(scb, 0, sizeof *scb);
  scb->tag = NETSCB_TAG;
  return scb;
}

void netscb_cleanup(netscb *scb) {
  if (scb == nullptr) return;
  if (scb->fallback != nullptr) asf_free(asf_pool_assoc, scb->fallback);
  asf_free(asf_pool_assoc, scb);
}

int initshm(asfsvcctl *, void *, int, const char *) { return 0; }
int termshm(asfsvcctl *, void *) { return 0; }

int connshm(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl) {
  // A positive timeout is the budget of the whole attempt.
  const int64_t deadline = ctl->timeout > 0 ? asf_now_ms() + ctl->timeout : -1;
  if (_shmconnected) {
    driver_error(ctl, SHM_ERR_CONNECTED, 0);
    return -1;
  }
  drv->flags |= DRV_CONNECTING;
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return -1;
  }
  if (parms != nullptr && parms->addr != nullptr && parms->addr->kind == 1 &&
      drv->ops.cons2tladdr != nullptr) {
    if (drv->ops.cons2tladdr(parms->addr->text, &drv->reqaddr, ctl, drv) != 0) return -1;
  }
  netscb *scb = netscb_alloc();
  if (scb == nullptr) {
    driver_error(ctl, SHM_ERR_CONNECT, errno);
    return -1;
  }
  int rc = -1;
  for (int call = 0; call < init_calls; ++call) {
    rc = net_sm_init(scb, drv->reqaddr.service, deadline);
    if (rc == 0) break;
    // No further try once the attempt's budget is spent.
    if (call + 1 == init_calls || (deadline >= 0 && asf_now_ms() >= deadline)) break;
    dvzOS_sleep(1);
  }
  if (rc != 0) {
    if (deadline >= 0 && asf_now_ms() >= deadline) errno = ETIMEDOUT;
    return connect_failed(drv, scb, false, ctl);
  }
  scb->sendidx = 0;
  if (shm_resolve_alerts(scb) != 0) return connect_failed(drv, scb, true, ctl);
  if (shm_ipc->semsetval(ld32(scb->slot, SM_SLOT_WAITSEMID), ld32(scb->slot, SM_SLOT_WAITSEMNUM),
                         1) != 0)
    return connect_failed(drv, scb, true, ctl);
  if (alert_server(scb, 0, sm_alert_connect) != 0) return connect_failed(drv, scb, true, ctl);
  if (buf_wait(scb, 3, 0, deadline) < 0) return connect_failed(drv, scb, true, ctl);
  if (ld8(scb->slot, SM_SLOT_STATE) != sm_state_accepted)
    return connect_failed(drv, scb, true, ctl);
  st8(scb->slot, SM_SLOT_STATE, sm_state_connected);
  drv->priv = scb;
  drv->bufsize = TL_SHM_BUFSIZE;
  asfsvcctl inner {};
  if (shm_buffer_setup(drv, assoc_of(ctl), &inner, lend_send_area) != 0) {
    errno = inner.oserr;
    return connect_failed(drv, scb, true, ctl);
  }
  _shmconnected = 1;
  return 0;
}

int lisnshm(drvblock *, tlconnreq *, int, asfsvcctl *ctl) {
  driver_error(ctl, SHM_ERR_UNSUPPORTED, 0);
  return -1;
}

int accpshm(drvblock *, Assocctl *, tlpeeraddr **, asfsvcctl *ctl) {
  driver_error(ctl, SHM_ERR_UNSUPPORTED, 0);
  return -1;
}

int roobshm(drvblock *, rscbufctl **, asfsvcctl *ctl) { return unsupported(ctl); }
int saveshm(drvblock *, void *, asfsvcctl *ctl) { return unsupported(ctl); }
int restshm(drvblock *, void *, asfsvcctl *ctl) { return unsupported(ctl); }
int waitshm(drvblock *, void *, asfsvcctl *ctl) { return unsupported(ctl); }

int attrshm(drvblock *, void *attr) {
  auto *a = static_cast<tlattr *>(attr);
  if (a == nullptr || a->value == nullptr) return 0;
  const int32_t words[2] = {-1, -1};
  std::memcpy(a->value, words, sizeof words);
  return 0;
}

int sendshm(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  auto *scb = static_cast<netscb *>(drv->priv);
  if (scb == nullptr || scb->slot == nullptr || buf == nullptr) {
    driver_error(ctl, SHM_ERR_SEND, 0);
    return -1;
  }
  const int16_t held = ld16(scb->slot, SM_SLOT_HELDSEND);
  const int granted = slot_count(scb, SM_SLOT_NGRANT);
  uint8_t *ent = held >= 0 && held < SM_NBUF ? bufent(scb, SM_SLOT_SENDTAB, held) : nullptr;
  uint8_t *shared = ent != nullptr && granted > held ? entry_buffer(scb, ent) : nullptr;
  if (shared == nullptr || reinterpret_cast<char *>(shared + SM_BUFHDR_SIZE) != buf->buff ||
      buf->size < 0 || buf->size > SM_BUFDATA) {
    driver_error(ctl, SHM_ERR_SEND, 0);
    return -1;
  }
  st16(scb->slot, SM_SLOT_HELDSEND, -1);
  st32(shared, SM_BUFHDR_LENGTH, buf->size);
  if (alert_server(scb, ld32(ent, SM_BUFENT_ID), sm_alert_data) != 0) {
    driver_error(ctl, SHM_ERR_POST, errno);
    return -1;
  }
  char *next = nullptr;
  net_sm_get_buf(scb, &next, 1);
  if (next == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, errno);
    return -1;
  }
  buf->buff = next;
  buf->lbuff = TL_SHM_BUFSIZE;
  buf->p = next + buf->p_offset;
  buf->size = buf->lbuff - buf->p_offset;
  bufReg(assoc_of(ctl), asf_sel_send, buf);
  return 0;
}

int recvshm(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl) {
  auto *scb = static_cast<netscb *>(drv->priv);
  Assocctl *assoc = assoc_of(ctl);
  if (scb == nullptr || scb->slot == nullptr || slot == nullptr) {
    driver_error(ctl, SHM_ERR_RECV, 0);
    return -1;
  }
  rscbufctl *buf = take_receive_record(scb, assoc, *slot);
  auto fail = [&](int code) {
    if (buf != nullptr && buf != *slot) bufReg(assoc, asf_sel_recv, buf);
    driver_error(ctl, code, errno);
    return -1;
  };
  if (buf == nullptr) return fail(SHM_ERR_RECV);
  if (ld16(scb->slot, SM_SLOT_HELDRECV) >= 0) return fail(SHM_ERR_RECV);
  const int64_t deadline = ctl->timeout > 0 ? asf_now_ms() + ctl->timeout : -1;
  const int i = buf_wait(scb, ctl->timeout == 0 ? 5 : 0, 0, deadline);
  if (i == -99) return fail(SHM_STATUS_AGAIN);
  if (i < 0) return fail(SHM_ERR_RECV);
  uint8_t *ent = bufent(scb, SM_SLOT_RECVTAB, i);
  uint8_t *shared = entry_buffer(scb, ent);
  const int32_t length = shared != nullptr ? ld32(shared, SM_BUFHDR_LENGTH) : -1;
  if (length < 0 || length > SM_BUFDATA) return fail(SHM_ERR_RECV);
  st16(scb->slot, SM_SLOT_RECVIDX, int16_t((ld16(scb->slot, SM_SLOT_RECVIDX) + 1) % SM_NBUF));
  st16(scb->slot, SM_SLOT_HELDRECV, int16_t(i));
  buf->buff = reinterpret_cast<char *>(shared + SM_BUFHDR_SIZE);
  buf->p = buf->buff;
  buf->size = length;
  *slot = buf;
  return 0;
}

int soobshm(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  auto *scb = static_cast<netscb *>(drv->priv);
  if (scb == nullptr || scb->slot == nullptr || buf == nullptr || buf->p == nullptr) {
    driver_error(ctl, SHM_ERR_CONNECT, 0);
    return -1;
  }
  st8(scb->slot, SM_SLOT_EXPBYTE, int8_t(buf->p[0]));
  bufReg(assoc_of(ctl), asf_sel_xsend, buf);
  if (alert_server(scb, 0, sm_alert_control) != 0) {
    driver_error(ctl, SHM_ERR_CONNECT, errno);
    return -1;
  }
  return 0;
}

int discshm(drvblock *drv, int flags, asfsvcctl *ctl) {
  auto *scb = static_cast<netscb *>(drv->priv);
  if (scb == nullptr || scb->slot == nullptr) return 0;
  Assocctl *assoc = assoc_of(ctl);
  if (ld8(scb->slot, SM_SLOT_STATE) != sm_state_connected) {
    drv->flags |= drv_server_ended;
  } else if ((flags & tl_disc_close_only) == 0) {
    rscbufctl *rec = take_receive_record(scb, assoc, nullptr);
    if (rec != nullptr) bufReg(assoc, asf_sel_recv, rec);
    /* A live server that never answers the notice must not hold the
    ** disconnect: both waits give up at one deadline and clean up. */
    const int64_t deadline = asf_now_ms() + disc_wait_ms;
    const int i = buf_wait(scb, 1, 1, deadline);
    if (i >= 0) {
      uint8_t *ent = bufent(scb, SM_SLOT_SENDTAB, i);
      uint8_t *shared = entry_buffer(scb, ent);
      if (shared != nullptr) {
        st8(shared, SM_BUFHDR_STATUS, sm_buf_notice);
        st8(ent, SM_BUFENT_STATE, sm_buf_notice);
        st16(scb->slot, SM_SLOT_HELDSEND, int16_t(i));
        st8(scb->slot, SM_SLOT_STATE, sm_state_disconnecting);
        if (alert_server(scb, ld32(ent, SM_BUFENT_ID), sm_alert_data) == 0)
          buf_wait(scb, 2, 0, deadline);
      }
    }
  }
  if (net_sm_detachsegs() == 0) scb->slot = nullptr;
  shm_deallocate(drv, ctl);
  _shmconnected = 0;
  netscb_cleanup(scb);
  drv->priv = nullptr;
  return 0;
}

int shmcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *) {
  if (text == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  const size_t len = std::strlen(text);
  auto *copy = static_cast<char *>(std::malloc(len + 1));
  if (copy == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, errno);
    return -1;
  }
  std::memcpy(copy, text, len + 1);
  char *last = std::strrchr(copy, '|');
  char *first = std::strchr(copy, '|');
  if (last == nullptr || first == nullptr) {
    std::free(copy);
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  *last = '\0';
  const char *service = first == last ? last : first + 1;
  if (first == last || service[0] == '\0') {
    std::free(copy);
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  std::memset(addr->service, 0, sizeof addr->service);
  std::strncpy(addr->service, service, SM_NAME_MAX + 1);
  addr->service[SM_NAME_MAX] = '\0';
  std::free(copy);
  return 0;
}

int shmtladdr2cons(const tladdr *, tlpeeraddr **slot, drvblock *, asfsvcctl *ctl) {
  if (slot == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, 0);
    return -1;
  }
  tlpeerfill f;
  if (tl_peer_begin(&f, slot, ctl) != 0) return -1;
  char host[ASF_NODENAME_SIZE] = {};
  if (rhostname(host, sizeof host) != 0) {
    driver_error(ctl, ASF_ERR_MEMORY, errno);
    return tl_peer_end(&f, 0, 0);
  }
  std::snprintf(f.text, TL_PEER_TEXT_SIZE, "%s%c%c%s", host, '|', '|', "ipcshm");
  return tl_peer_end(&f, 8, 1);
}

}  // extern "C"
