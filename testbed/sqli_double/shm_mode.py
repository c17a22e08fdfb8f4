"""Shared-memory mode of the SQLI server double (sqli_double.py --shm NAME).

Interface: sqli_double.main() calls serve(args, journal) when --shm NAME is
given. args is the parsed command line (args.shm is NAME, args.ready,
args.read_timeout, args.lifetime and the reply options as in the socket
mode); journal is the double's Journal, whose write(assoc, session, what,
fields, raw) appends one line. serve() runs until SIGTERM or SIGINT, its
lifetime, or its parent's end, and returns the exit status.

The server owns one pool of one or two segments (header, slot bitmap, four
client slots, per-slot alert bytes and counter blocks, 20 buffers of
20 + 1024 bytes per slot) and two semaphore sets (the slot lock; the
server alert and one wait semaphore per slot), attached at a fixed address
below 4 GiB. The rendezvous file .dvz.NAME goes beside the ready file; the
ready file then gets the process id (there is no port). The SQLI dialogue
itself is the socket mode's (sqli_double.Server), over a connection object
that reads and writes the shared buffers; clients are served one at a
time, in the order their connect alerts are seen. Every wait is a bounded
semtimedop, and every IPC object goes away on exit (except after the kill
faults, which leave them for the test to clear). The pool's shape and the
faults come from the environment (README.md).
"""

import ctypes
import os
import signal
import struct
import time

import sqli_double as sd

# ---- System V IPC through libc.
IPC_PRIVATE = 0
IPC_CREAT = 0o1000
IPC_NOWAIT = 0o4000
IPC_RMID = 0
SETVAL = 16


class SemBuf(ctypes.Structure):
    _fields_ = [("sem_num", ctypes.c_ushort), ("sem_op", ctypes.c_short),
                ("sem_flg", ctypes.c_short)]


class TimeSpec(ctypes.Structure):
    _fields_ = [("tv_sec", ctypes.c_long), ("tv_nsec", ctypes.c_long)]


_libc = ctypes.CDLL(None, use_errno=True)
_libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]
_libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_libc.shmat.restype = ctypes.c_void_p
_libc.shmdt.argtypes = [ctypes.c_void_p]
_libc.shmctl.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_void_p]
_libc.semget.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int]
_libc.semop.argtypes = [ctypes.c_int, ctypes.POINTER(SemBuf), ctypes.c_size_t]
_libc.semtimedop.argtypes = [ctypes.c_int, ctypes.POINTER(SemBuf), ctypes.c_size_t,
                             ctypes.POINTER(TimeSpec)]


def _fail(what):
    e = ctypes.get_errno()
    raise OSError(e, "%s: %s" % (what, os.strerror(e)))


def semop(semid, num, op, flags=0, timeout=None):
    """One semaphore operation; with timeout (seconds) a bounded wait.
    True when done, False on EAGAIN (timed out or IPC_NOWAIT)."""
    sb = SemBuf(num, op, flags)
    ts = None
    if timeout is not None:
        ts = TimeSpec(int(timeout), int((timeout - int(timeout)) * 1e9))
    while True:
        rc = _libc.semtimedop(semid, ctypes.byref(sb), 1,
                              ctypes.byref(ts) if ts is not None else None)
        if rc == 0:
            return True
        e = ctypes.get_errno()
        if e == 4:  # EINTR: the caller's loop looks at its stop flag
            return False
        if e == 11:  # EAGAIN
            return False
        _fail("semtimedop")


def semctl_setval(semid, num, value):
    if _libc.semctl(semid, num, SETVAL, ctypes.c_int(value)) != 0:
        _fail("semctl SETVAL")


# ---- The shared layouts (native byte order: both sides run on one host).
MAGIC, VERSION = -8009, 3
HDR_MAGIC, HDR_VERSION, HDR_IDS, HDR_TOTAL, HDR_SEGSIZE = 0, 2, 8, 520, 524
REND_SIZE = 36
SLOT_SIZE = 508
SLOT_RECVTAB, SLOT_SENDTAB = 4, 164
SLOT_REQUEST, SLOT_RELFLAG = 324, 328
SLOT_NRECV, SLOT_NGRANT, SLOT_NMIN = 332, 334, 336
SLOT_HELDRECV, SLOT_HELDSEND, SLOT_RECVIDX, SLOT_NEXTSEND = 342, 344, 348, 350
SLOT_RELGEN, SLOT_NRETURNED, SLOT_SENDSEQ = 356, 358, 360
SLOT_WAITSEMID, SLOT_WAITSEMNUM = 368, 372
SLOT_ALERTOFF, SLOT_SENDRING, SLOT_RECVRING = 392, 400, 444
SLOT_STATE, SLOT_PID, SLOT_EXPBYTE, SLOT_COUNTOFF = 488, 492, 496, 500
NBUF, SENDRING_LEN = 10, 11
BUFENT_SIZE, BUFENT_ID, BUFENT_STATE, BUFENT_OFFSET = 16, 0, 4, 8
BUFHDR_SIZE, BUFHDR_STATUS, BUFHDR_SEQ, BUFHDR_LENGTH = 20, 4, 12, 16
BUFDATA = 1024
BUF_SIZE = BUFHDR_SIZE + BUFDATA
ALERT_DATA, ALERT_CONTROL, ALERT_CONNECT = 0, 1, 2
COUNTER_WORD = 4
ST_CONNECTED, ST_ACCEPTED, ST_REQUESTED, ST_ENDED, ST_DISCONNECTING = 0, 1, 2, 6, 8
BUF_FREE, BUF_HELD, BUF_NOTICE = 0, 1, 6

# This server's pool (its own choice; the client reads it from the file
# and the header). 128 KiB in one segment, or in two of 64 KiB: then the
# buffers of slot 2 and up lie in the second segment, one of them across
# the boundary.
POOL_SIZE = 131072
NSLOTS = 4
BITMAP_OFF, SLOTS_OFF, ALERTS_OFF, BUFS_OFF = 1024, 2048, 8192, 12288
ALERT_STRIDE = 16  # per slot: 8 alert bytes, then the 8-byte counter block
SLOT_BUFS = 2 * NBUF  # per slot: 10 to receive, then 10 to send
NGRANT = 4
SEM_LOCK = 0  # in the lock set
SEM_ALERT = 0  # in the alert set; slot s waits on number 1 + s there
RECV_ID, SEND_ID = 200, 100  # buffer ids of the two tables
# Attach addresses tried in turn: low, page aligned, clear of the usual
# program, heap and library mappings (and of a sanitizer's shadow).
ADDRESSES = (0x60000000, 0x50000000, 0x40000000, 0x30000000)
SLICE = 0.2  # seconds per semaphore wait


def slot_off(s):
    return SLOTS_OFF + SLOT_SIZE * s


def alert_off(s):
    return ALERTS_OFF + ALERT_STRIDE * s


def counter_off(s):
    return alert_off(s) + 8


def buffer_off(s, k):
    """Buffer k of slot s (0-9 receive, 10-19 send)."""
    return BUFS_OFF + BUF_SIZE * (SLOT_BUFS * s + k)


# Faults, from the environment variable SQLI_SHM_FAULTS (comma-separated;
# the command line is the socket mode's).
SHM_FAULTS = ("magic", "version", "segsize0", "full", "silent", "offsets", "ring12",
              "length5000", "state6", "kill-connect", "kill-receive", "semrm")


def shm_faults():
    """The faults named in SQLI_SHM_FAULTS; ValueError for an unknown one."""
    names = {n for n in os.environ.get("SQLI_SHM_FAULTS", "").split(",") if n}
    unknown = names - set(SHM_FAULTS)
    if unknown:
        raise ValueError("unknown shared-memory fault %s" % ",".join(sorted(unknown)))
    return names


def _env_int(name, default, low, high):
    text = os.environ.get(name, "")
    if text == "":
        return default
    value = int(text, 10)
    if not low <= value <= high:
        raise ValueError("%s must lie in %d..%d" % (name, low, high))
    return value


def shm_shape():
    """(segments, taken) from SQLI_SHM_SEGMENTS (1 or 2) and SQLI_SHM_TAKEN
    (slots 0 .. taken-1 start as held by other clients); ValueError for a
    value out of range."""
    return _env_int("SQLI_SHM_SEGMENTS", 1, 1, 2), _env_int("SQLI_SHM_TAKEN", 0, 0, NSLOTS)


def _signed32(v):
    return v if v < 0x80000000 else v - (1 << 32)


class Pool:
    """The segments, the semaphore sets and the rendezvous file; close()
    removes all of them and may be called more than once."""

    def __init__(self, directory, name, faults=(), segments=1, taken=0):
        self.faults = set(faults)
        self.segments = segments
        self.seg_size = POOL_SIZE // segments
        self.shmids = []
        self.lock_semid = self.semid = -1
        self.base = None
        self.attached = []
        self.path = None
        try:
            self._create(directory, name, taken)
        except BaseException:
            self.close()
            raise

    @property
    def shmid(self):
        return self.shmids[0] if self.shmids else -1

    def _attach_all(self):
        """Attaches the segments one behind the other at the first address
        that takes them all; OSError when none does."""
        for addr in ADDRESSES:
            got = []
            for i, shmid in enumerate(self.shmids):
                want = addr + self.seg_size * i
                p = _libc.shmat(shmid, want, 0)
                if p is None or p == ctypes.c_void_p(-1).value:
                    break
                got.append(p)
                if p != want:
                    break
            if len(got) == len(self.shmids) and got[-1] == addr + self.seg_size * (len(got) - 1):
                self.attached = got
                return addr
            for p in got:
                _libc.shmdt(p)
        _fail("shmat")

    def _create(self, directory, name, taken):
        for _ in range(self.segments):
            shmid = _libc.shmget(IPC_PRIVATE, self.seg_size, IPC_CREAT | 0o600)
            if shmid < 0:
                _fail("shmget")
            self.shmids.append(shmid)
        self.lock_semid = _libc.semget(IPC_PRIVATE, 1, IPC_CREAT | 0o600)
        if self.lock_semid < 0:
            _fail("semget")
        self.semid = _libc.semget(IPC_PRIVATE, 1 + NSLOTS, IPC_CREAT | 0o600)
        if self.semid < 0:
            _fail("semget")
        self.base = self._attach_all()
        self.mem = (ctypes.c_ubyte * POOL_SIZE).from_address(self.base)
        ctypes.memset(self.base, 0, POOL_SIZE)
        self.st16(HDR_MAGIC, MAGIC)
        self.st16(HDR_VERSION, VERSION)
        for i, shmid in enumerate(self.shmids[1:]):
            self.st32(HDR_IDS + 4 * i, shmid)
        self.st32(HDR_IDS + 4 * (len(self.shmids) - 1), -1)
        self.st32(HDR_TOTAL, POOL_SIZE)
        self.st32(HDR_SEGSIZE, self.seg_size)
        for s in range(NSLOTS):
            if s >= taken:
                self.mem[BITMAP_OFF + s // 8] |= 1 << (s % 8)
            sl = slot_off(s)
            self.st32(sl + SLOT_WAITSEMID, self.semid)
            self.st32(sl + SLOT_WAITSEMNUM, 1 + s)
            self.st32(sl + SLOT_ALERTOFF, alert_off(s))
            self.st32(sl + SLOT_COUNTOFF, counter_off(s))
        semctl_setval(self.lock_semid, SEM_LOCK, 1)
        if "magic" in self.faults:
            self.st16(HDR_MAGIC, -8008)
        if "version" in self.faults:
            self.st16(HDR_VERSION, 2)
        if "segsize0" in self.faults:
            self.st32(HDR_SEGSIZE, 0)
        if "full" in self.faults:
            for s in range(NSLOTS):
                self.mem[BITMAP_OFF + s // 8] &= ~(1 << (s % 8))
        if "offsets" in self.faults:
            for s in range(NSLOTS):
                self.st32(slot_off(s) + SLOT_ALERTOFF, POOL_SIZE - 1)
        image = struct.pack("=i", 1) + self.rendezvous_record()
        self.path = os.path.join(directory, ".dvz." + name[:15])
        tmp = "%s.tmp.%d" % (self.path, os.getpid())
        fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        try:
            os.write(fd, image)
        finally:
            os.close(fd)
        os.rename(tmp, self.path)

    def rendezvous_record(self):
        """The 36-byte rendezvous record of this pool."""
        return struct.pack("=9i", self.shmid, self.semid, SEM_ALERT, self.lock_semid, SEM_LOCK,
                           BITMAP_OFF, NSLOTS, SLOTS_OFF, _signed32(self.base))

    def remove_semaphores(self):
        """Removes both semaphore sets now (a fault): every later wait of
        either side fails."""
        for attr in ("lock_semid", "semid"):
            semid = getattr(self, attr)
            if semid >= 0:
                _libc.semctl(semid, 0, IPC_RMID, ctypes.c_int(0))
                setattr(self, attr, -1)

    def close(self):
        if self.path is not None:
            try:
                os.unlink(self.path)
            except OSError:
                pass
            self.path = None
        self.mem = None
        for p in self.attached:
            _libc.shmdt(p)
        self.attached = []
        self.base = None
        for shmid in self.shmids:
            _libc.shmctl(shmid, IPC_RMID, None)
        self.shmids = []
        self.remove_semaphores()

    # -- field access (native order)
    def ld8(self, off):
        return struct.unpack_from("=b", self.mem, off)[0]

    def ld16(self, off):
        return struct.unpack_from("=h", self.mem, off)[0]

    def ld32(self, off):
        return struct.unpack_from("=i", self.mem, off)[0]

    def st8(self, off, v):
        struct.pack_into("=b", self.mem, off, v)

    def st16(self, off, v):
        struct.pack_into("=h", self.mem, off, v)

    def st32(self, off, v):
        struct.pack_into("=i", self.mem, off, v)

    def post_client(self, s):
        if self.semid >= 0:
            semop(self.semid, 1 + s, 1)


def die_at_once():
    """The kill faults: the double ends as a SIGKILL ends a server, with no
    clean-up at all."""
    os.kill(os.getpid(), signal.SIGKILL)
    time.sleep(10)


class Session:
    """The server's side of one slot: the connect answer, the send ring
    read in order, the receive ring filled from an outbox, the control
    alerts and the disconnect notice."""

    def __init__(self, pool, journal, index=0):
        self.pool = pool
        self.journal = journal
        self.index = index
        self.slot = slot_off(index)
        self.assoc = 0
        self.active = False  # a connect was answered and no notice came yet
        self.ended = False  # the notice came
        self.inbox = bytearray()
        self.outbox = []  # pieces of at most 1024 bytes
        self.reset()

    def reset(self):
        self.send_read = 0
        self.last_seq = 0
        self.recv_write = 0

    def accept(self, assoc):
        """Answers a connect as connection number assoc: both buffer
        tables, state 1."""
        p, sl, s = self.pool, self.slot, self.index
        if "kill-connect" in p.faults:
            die_at_once()
        for e in range(NBUF):
            ent = sl + SLOT_RECVTAB + BUFENT_SIZE * e
            p.st32(ent + BUFENT_ID, RECV_ID + e)
            p.st32(ent + BUFENT_STATE, BUF_FREE)
            p.st32(ent + BUFENT_OFFSET, buffer_off(s, e))
            p.st32(sl + SLOT_RECVRING + 4 * e, -1)
        for e in range(NBUF):
            ent = sl + SLOT_SENDTAB + BUFENT_SIZE * e
            granted = e < NGRANT
            p.st32(ent + BUFENT_ID, SEND_ID + e if granted else 0)
            p.st32(ent + BUFENT_STATE, BUF_FREE)
            p.st32(ent + BUFENT_OFFSET, buffer_off(s, NBUF + e) if granted else 0)
        for k in range(SLOT_BUFS):
            p.st8(buffer_off(s, k) + BUFHDR_STATUS, BUF_FREE)
        for off in (SLOT_REQUEST, SLOT_RELFLAG, SLOT_SENDSEQ):
            p.st32(sl + off, 0)
        p.st16(sl + SLOT_NRECV, NBUF)
        p.st16(sl + SLOT_NGRANT, NGRANT)
        # The minimum equals the grant: the client keeps every buffer.
        p.st16(sl + SLOT_NMIN, NGRANT)
        p.st16(sl + SLOT_HELDRECV, -1)
        p.st16(sl + SLOT_HELDSEND, -1)
        p.st16(sl + SLOT_RECVIDX, 0)
        p.st16(sl + SLOT_NEXTSEND, 0)
        p.st8(sl + SLOT_EXPBYTE, 0)
        for i in range(SENDRING_LEN):
            p.st32(sl + SLOT_SENDRING + 4 * i, 0)
        self.reset()
        self.inbox.clear()
        self.outbox = []
        self.assoc = assoc
        self.active = True
        self.ended = False
        if "state6" in p.faults:
            p.st8(sl + SLOT_STATE, ST_ENDED)
            return
        p.st8(sl + SLOT_STATE, ST_ACCEPTED)

    def free_slot(self):
        """After the notice: the slot goes back to the bitmap."""
        p, s = self.pool, self.index
        # The lock is given back only when taken: a lost wait must not
        # raise it to 2 and let two clients claim at once.
        taken = p.lock_semid >= 0 and semop(p.lock_semid, SEM_LOCK, -1, 0, 1.0)
        p.mem[BITMAP_OFF + s // 8] |= 1 << (s % 8)
        if taken:
            semop(p.lock_semid, SEM_LOCK, 1)

    def take_sends(self):
        """Reads the send ring in order: data into the inbox; a notice ends
        the session. True when something was taken."""
        p, sl = self.pool, self.slot
        took = False
        held = p.ld16(sl + SLOT_HELDSEND)
        while True:
            bufid = p.ld32(sl + SLOT_SENDRING + 4 * self.send_read)
            e = bufid - SEND_ID
            if e < 0 or e >= NGRANT:
                return took
            ent = sl + SLOT_SENDTAB + BUFENT_SIZE * e
            buf = p.ld32(ent + BUFENT_OFFSET)
            seq = p.ld32(buf + BUFHDR_SEQ)
            state = p.ld8(ent + BUFENT_STATE)
            # The buffer the client still fills is not sent yet; the
            # disconnect notice stays marked held while it is posted.
            if e == held and state != BUF_NOTICE:
                return took
            # A notice buffer gets no new sequence number.
            if state != BUF_NOTICE and (seq <= self.last_seq or state != BUF_HELD):
                return took
            self.last_seq = max(seq, self.last_seq)
            self.send_read = (self.send_read + 1) % SENDRING_LEN
            took = True
            if p.ld8(buf + BUFHDR_STATUS) == BUF_NOTICE or state == BUF_NOTICE:
                self.ended = True
                self.active = False
            else:
                n = p.ld32(buf + BUFHDR_LENGTH)
                n = max(0, min(n, BUFDATA))
                start = buf + BUFHDR_SIZE
                self.inbox += bytes(p.mem[start : start + n])
            p.st8(buf + BUFHDR_STATUS, BUF_FREE)
            p.st8(ent + BUFENT_STATE, BUF_FREE)
            if self.ended:
                # The acknowledgement: the client's wait sees the post
                # with its state no longer connected.
                p.post_client(self.index)
                self.free_slot()
                return took

    def deliver(self):
        """Moves outbox pieces into free receive buffers, in ring order."""
        p, sl = self.pool, self.slot
        while self.outbox and self.active:
            n = self.recv_write
            ent = sl + SLOT_RECVTAB + BUFENT_SIZE * n
            if p.ld32(sl + SLOT_RECVRING + 4 * n) != -1 or p.ld8(ent + BUFENT_STATE) != BUF_FREE:
                return
            if p.ld16(sl + SLOT_HELDRECV) == n:
                return
            piece = self.outbox.pop(0)
            buf = buffer_off(self.index, n)
            start = buf + BUFHDR_SIZE
            p.mem[start : start + len(piece)] = piece
            p.st32(buf + BUFHDR_LENGTH, 5000 if "length5000" in p.faults else len(piece))
            p.st8(buf + BUFHDR_STATUS, BUF_HELD)
            p.st8(ent + BUFENT_STATE, BUF_HELD)
            p.st32(sl + SLOT_RECVRING + 4 * n, 12 if "ring12" in p.faults else n)
            self.recv_write = (n + 1) % NBUF
            p.post_client(self.index)

    def control(self):
        """A control alert: an interrupt byte is journaled; a buffer
        request or a release is only acknowledged."""
        p, sl = self.pool, self.slot
        byte = p.ld8(sl + SLOT_EXPBYTE) & 0xFF
        if byte != 0:
            p.st8(sl + SLOT_EXPBYTE, 0)
            b = bytes([byte])
            self.journal.write(self.assoc, 0, "urgent", [("byte", b)], b)
        p.st32(sl + SLOT_REQUEST, 0)
        p.st32(sl + SLOT_RELFLAG, 0)

    def handle(self, got):
        """The flags of this slot's alert bytes, then its send ring and its
        outbox (the data flag only wakes: the ring says what came)."""
        p = self.pool
        flags = alert_off(self.index)
        if p.mem[flags + ALERT_CONTROL]:
            p.mem[flags + ALERT_CONTROL] = 0
            self.control()
        if p.mem[flags + ALERT_DATA]:
            p.mem[flags + ALERT_DATA] = 0
        if self.active:
            self.take_sends()
        self.deliver()
        if got and not self.ended:
            p.post_client(self.index)


class Sessions:
    """Every slot's session and the server alert: connect alerts are seen
    on any slot, and answered while no other connection is being
    served."""

    def __init__(self, pool, journal):
        self.pool = pool
        self.sessions = [Session(pool, journal, s) for s in range(NSLOTS)]
        self.current = None  # the session being served
        self.assoc = 0

    def pump(self, timeout):
        """One bounded wait for the server's alert and the handling of
        every flag raised; then the outbox. True when an alert came."""
        p = self.pool
        if p.semid < 0:
            # The semaphores are gone (a fault): nothing can come any more.
            time.sleep(timeout)
            return False
        got = semop(p.semid, SEM_ALERT, -1, 0, timeout)
        # Connect flags stay set while a connection is served, and are
        # looked at again once it ended.
        if self.current is None or not self.current.active:
            for s in self.sessions:
                flag = alert_off(s.index) + ALERT_CONNECT
                if not p.mem[flag]:
                    continue
                p.mem[flag] = 0
                if p.ld8(s.slot + SLOT_STATE) == ST_REQUESTED and "silent" not in p.faults:
                    self.assoc += 1
                    s.accept(self.assoc)
                    self.current = s
                    break
        if self.current is not None:
            self.current.handle(got)
        return got


class ShmConn:
    """sqli_double.Conn's reading and writing over a Session."""

    def __init__(self, sessions, server, stop):
        self.sessions = sessions
        self.session = sessions.current
        self.server = server
        self.stop = stop
        self.assoc = self.session.assoc
        self.buf = bytearray()
        self.eof = False
        self.headers = False
        self.sends = 0

    def fill(self, deadline):
        s = self.session
        while not s.inbox:
            if self.stop():
                raise sd.Closed("stopped")
            if s.ended or not s.active:
                self.eof = True
                raise sd.Closed("eof")
            if time.monotonic() >= deadline:
                raise sd.Closed("timeout")
            self.sessions.pump(SLICE)
        self.buf += s.inbox
        s.inbox.clear()

    read_exact = sd.Conn.read_exact
    read_until_nul = sd.Conn.read_until_nul
    read_some = sd.Conn.read_some

    def send(self, data, faults):
        del faults  # the socket faults do not apply here
        pool = self.session.pool
        self.sends += 1
        # The first reply after the connect's: the client now waits in a
        # receive.
        if self.sends == 2 and "kill-receive" in pool.faults:
            die_at_once()
        if self.sends == 2 and "semrm" in pool.faults:
            pool.remove_semaphores()
            raise sd.Closed("done")
        data = bytes(data)
        for i in range(0, len(data), BUFDATA):
            self.session.outbox.append(data[i : i + BUFDATA])
        self.session.deliver()


def serve(args, journal):
    """Serves the shared-memory transport named args.shm; returns the exit
    status."""
    stopping = []

    def on_term(signum, frame):
        stopping.append(signum)

    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)
    server = sd.Server(args)
    os.close(server.journal.fd)
    server.journal = journal
    parent = os.getppid()
    end = time.monotonic() + args.lifetime

    def stop():
        return bool(stopping) or time.monotonic() >= end or os.getppid() != parent

    segments, taken = shm_shape()
    pool = Pool(os.path.dirname(os.path.abspath(args.ready)), args.shm, shm_faults(), segments,
                taken)
    try:
        tmp = "%s.tmp.%d" % (args.ready, os.getpid())
        with open(tmp, "w") as f:
            f.write("%d\n" % os.getpid())
        os.rename(tmp, args.ready)
        sessions = Sessions(pool, journal)
        while not stop():
            sessions.pump(SLICE)
            session = sessions.current
            if session is None or not session.active:
                continue
            conn = ShmConn(sessions, server, stop)
            faults, faulty = server.faults_for(session.assoc)
            try:
                if server.serve_connect(conn, faults, faulty) == "data":
                    server.serve_data(conn, faults)
                else:
                    server.drain(conn)
            except sd.Closed as c:
                if c.what not in ("stopped", "done"):
                    journal.write(session.assoc, 0, c.what)
            except sd.Malformed as m:
                journal.write(session.assoc, 0, "error", [("reason", str(m))], conn.buf)
            session.active = False
    finally:
        pool.close()
    return 0
