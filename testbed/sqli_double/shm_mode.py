"""Shared-memory mode of the SQLI server double (sqli_double.py --shm NAME).

Interface: sqli_double.main() calls serve(args, journal) when --shm NAME is
given. args is the parsed command line (args.shm is NAME, args.ready,
args.read_timeout, args.lifetime and the reply options as in the socket
mode); journal is the double's Journal, whose write(assoc, session, what,
fields, raw) appends one line. serve() runs until SIGTERM or SIGINT, its
lifetime, or its parent's end, and returns the exit status.

The server owns one pool of one segment (header, slot bitmap, one client
slot, alert bytes, counter block, 20 buffers of 20 + 1024 bytes) and one
semaphore set (slot lock, server alert, client wait), attached at a fixed
address below 4 GiB. The rendezvous file .dvz.NAME goes beside the ready
file; the ready file then gets the process id (there is no port). The SQLI
dialogue itself is the socket mode's (sqli_double.Server), over a
connection object that reads and writes the shared buffers. Every wait is
a bounded semtimedop, and every IPC object goes away on exit. Faults come
from SQLI_SHM_FAULTS (README.md).
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
# and the header). One slot: the client keeps one connection per process.
SEG_SIZE = 65536
BITMAP_OFF, SLOTS_OFF, ALERT_OFF, COUNTER_OFF, BUFS_OFF = 1024, 2048, 8192, 8200, 12288
NSLOTS = 1
NGRANT = 4
SEM_LOCK, SEM_ALERT, SEM_CLIENT = 0, 1, 2
RECV_ID, SEND_ID = 200, 100  # buffer ids of the two tables
# Attach addresses tried in turn: low, page aligned, clear of the usual
# program, heap and library mappings (and of a sanitizer's shadow).
ADDRESSES = (0x60000000, 0x50000000, 0x40000000, 0x30000000)
SLICE = 0.2  # seconds per semaphore wait


# Faults, from the environment variable SQLI_SHM_FAULTS (comma-separated;
# the command line is the socket mode's).
SHM_FAULTS = ("magic", "version", "segsize0", "full", "silent", "offsets", "ring12",
              "length5000", "state6")


def shm_faults():
    """The faults named in SQLI_SHM_FAULTS; ValueError for an unknown one."""
    names = {n for n in os.environ.get("SQLI_SHM_FAULTS", "").split(",") if n}
    unknown = names - set(SHM_FAULTS)
    if unknown:
        raise ValueError("unknown shared-memory fault %s" % ",".join(sorted(unknown)))
    return names


def rendezvous_record(shmid, semid, srvaddr):
    """The 36-byte rendezvous record of this pool."""
    return struct.pack("=9i", shmid, semid, SEM_ALERT, semid, SEM_LOCK, BITMAP_OFF, NSLOTS,
                       SLOTS_OFF, srvaddr if srvaddr < 0x80000000 else srvaddr - (1 << 32))


class Pool:
    """The segment, the semaphore set and the rendezvous file; close()
    removes all of them and may be called more than once."""

    def __init__(self, directory, name, faults=()):
        self.faults = set(faults)
        self.shmid = self.semid = -1
        self.base = None
        self.path = None
        try:
            self._create(directory, name)
        except BaseException:
            self.close()
            raise

    def _create(self, directory, name):
        self.shmid = _libc.shmget(IPC_PRIVATE, SEG_SIZE, IPC_CREAT | 0o600)
        if self.shmid < 0:
            _fail("shmget")
        self.semid = _libc.semget(IPC_PRIVATE, 3, IPC_CREAT | 0o600)
        if self.semid < 0:
            _fail("semget")
        for addr in ADDRESSES:
            p = _libc.shmat(self.shmid, addr, 0)
            if p is not None and p != ctypes.c_void_p(-1).value and p == addr:
                self.base = p
                break
            if p is not None and p != ctypes.c_void_p(-1).value:
                _libc.shmdt(p)
        if self.base is None:
            _fail("shmat")
        self.mem = (ctypes.c_ubyte * SEG_SIZE).from_address(self.base)
        ctypes.memset(self.base, 0, SEG_SIZE)
        self.st16(HDR_MAGIC, MAGIC)
        self.st16(HDR_VERSION, VERSION)
        self.st32(HDR_IDS, -1)
        self.st32(HDR_TOTAL, SEG_SIZE)
        self.st32(HDR_SEGSIZE, SEG_SIZE)
        for s in range(NSLOTS):
            self.mem[BITMAP_OFF + s // 8] |= 1 << (s % 8)
            sl = SLOTS_OFF + SLOT_SIZE * s
            self.st32(sl + SLOT_WAITSEMID, self.semid)
            self.st32(sl + SLOT_WAITSEMNUM, SEM_CLIENT)
            self.st32(sl + SLOT_ALERTOFF, ALERT_OFF)
            self.st32(sl + SLOT_COUNTOFF, COUNTER_OFF)
        semctl_setval(self.semid, SEM_LOCK, 1)
        if "magic" in self.faults:
            self.st16(HDR_MAGIC, -8008)
        if "version" in self.faults:
            self.st16(HDR_VERSION, 2)
        if "segsize0" in self.faults:
            self.st32(HDR_SEGSIZE, 0)
        if "full" in self.faults:
            self.mem[BITMAP_OFF] = 0
        if "offsets" in self.faults:
            self.st32(SLOTS_OFF + SLOT_ALERTOFF, SEG_SIZE - 1)
        image = struct.pack("=i", 1) + rendezvous_record(self.shmid, self.semid, self.base)
        self.path = os.path.join(directory, ".dvz." + name[:15])
        tmp = "%s.tmp.%d" % (self.path, os.getpid())
        fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        try:
            os.write(fd, image)
        finally:
            os.close(fd)
        os.rename(tmp, self.path)

    def close(self):
        if self.path is not None:
            try:
                os.unlink(self.path)
            except OSError:
                pass
            self.path = None
        if self.base is not None:
            self.mem = None
            _libc.shmdt(self.base)
            self.base = None
        if self.shmid >= 0:
            _libc.shmctl(self.shmid, IPC_RMID, None)
            self.shmid = -1
        if self.semid >= 0:
            _libc.semctl(self.semid, 0, IPC_RMID, ctypes.c_int(0))
            self.semid = -1

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

    def post_client(self):
        semop(self.semid, SEM_CLIENT, 1)


class Session:
    """The server's side of slot 0: the connect answer, the send ring read
    in order, the receive ring filled from an outbox, the control alerts
    and the disconnect notice."""

    def __init__(self, pool, journal):
        self.pool = pool
        self.journal = journal
        self.slot = SLOTS_OFF
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

    def accept(self):
        """Answers a connect: both buffer tables, state 1."""
        p, sl = self.pool, self.slot
        for e in range(NBUF):
            ent = sl + SLOT_RECVTAB + BUFENT_SIZE * e
            p.st32(ent + BUFENT_ID, RECV_ID + e)
            p.st32(ent + BUFENT_STATE, BUF_FREE)
            p.st32(ent + BUFENT_OFFSET, BUFS_OFF + BUF_SIZE * e)
            p.st32(sl + SLOT_RECVRING + 4 * e, -1)
        for e in range(NBUF):
            ent = sl + SLOT_SENDTAB + BUFENT_SIZE * e
            granted = e < NGRANT
            p.st32(ent + BUFENT_ID, SEND_ID + e if granted else 0)
            p.st32(ent + BUFENT_STATE, BUF_FREE)
            p.st32(ent + BUFENT_OFFSET, BUFS_OFF + BUF_SIZE * (NBUF + e) if granted else 0)
        for e in range(2 * NBUF):
            p.st8(BUFS_OFF + BUF_SIZE * e + BUFHDR_STATUS, BUF_FREE)
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
        self.assoc += 1
        self.active = True
        self.ended = False
        if "state6" in p.faults:
            p.st8(sl + SLOT_STATE, ST_ENDED)
            return
        p.st8(sl + SLOT_STATE, ST_ACCEPTED)

    def free_slot(self):
        """After the notice: the slot goes back to the bitmap."""
        p = self.pool
        # The lock is given back only when taken: a lost wait must not
        # raise it to 2 and let two clients claim at once.
        taken = semop(p.semid, SEM_LOCK, -1, 0, 1.0)
        p.mem[BITMAP_OFF] |= 1
        if taken:
            semop(p.semid, SEM_LOCK, 1)

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
                p.post_client()
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
            buf = BUFS_OFF + BUF_SIZE * n
            start = buf + BUFHDR_SIZE
            p.mem[start : start + len(piece)] = piece
            p.st32(buf + BUFHDR_LENGTH, 5000 if "length5000" in p.faults else len(piece))
            p.st8(buf + BUFHDR_STATUS, BUF_HELD)
            p.st8(ent + BUFENT_STATE, BUF_HELD)
            p.st32(sl + SLOT_RECVRING + 4 * n, 12 if "ring12" in p.faults else n)
            self.recv_write = (n + 1) % NBUF
            p.post_client()

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

    def pump(self, timeout):
        """One bounded wait for the server's alert and the handling of
        every flag raised; then the outbox. True when an alert came."""
        p = self.pool
        got = semop(p.semid, SEM_ALERT, -1, 0, timeout)
        flags = ALERT_OFF
        if got:
            if p.mem[flags + ALERT_CONNECT]:
                p.mem[flags + ALERT_CONNECT] = 0
                if p.ld8(self.slot + SLOT_STATE) == ST_REQUESTED and "silent" not in p.faults:
                    self.accept()
            if p.mem[flags + ALERT_CONTROL]:
                p.mem[flags + ALERT_CONTROL] = 0
                self.control()
            if p.mem[flags + ALERT_DATA]:
                p.mem[flags + ALERT_DATA] = 0
        if self.active:
            self.take_sends()
        self.deliver()
        if got and not self.ended:
            p.post_client()
        return got


class ShmConn:
    """sqli_double.Conn's reading and writing over a Session."""

    def __init__(self, session, server, stop):
        self.session = session
        self.server = server
        self.stop = stop
        self.assoc = session.assoc
        self.buf = bytearray()
        self.eof = False
        self.headers = False

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
            s.pump(SLICE)
        self.buf += s.inbox
        s.inbox.clear()

    read_exact = sd.Conn.read_exact
    read_until_nul = sd.Conn.read_until_nul
    read_some = sd.Conn.read_some

    def send(self, data, faults):
        del faults  # the socket faults do not apply here
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

    pool = Pool(os.path.dirname(os.path.abspath(args.ready)), args.shm, shm_faults())
    try:
        tmp = "%s.tmp.%d" % (args.ready, os.getpid())
        with open(tmp, "w") as f:
            f.write("%d\n" % os.getpid())
        os.rename(tmp, args.ready)
        session = Session(pool, journal)
        while not stop():
            session.pump(SLICE)
            if not session.active:
                continue
            conn = ShmConn(session, server, stop)
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
