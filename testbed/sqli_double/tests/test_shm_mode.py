"""Tests of the double's shared-memory mode: the pool and rendezvous file
it publishes (one or two segments, slots held by others), sessions driven
by a client written here from the shared layouts (in the same process, on
the server's own mapping), the faults, and the program's exits: clean on
SIGTERM, and by SIGKILL under the kill faults, leaving its objects behind.

Run from this folder: python3 -B -m unittest test_shm_mode (ctest does).
"""

import ctypes
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import shm_mode as sm  # noqa: E402

SCRIPT = os.path.join(os.path.dirname(HERE), "sqli_double.py")


def ipc_ids():
    """The ids of every segment and semaphore set on the host."""
    out = set()
    for kind in ("shm", "sem"):
        with open("/proc/sysvipc/" + kind) as f:
            for line in f.readlines()[1:]:
                out.add((kind, int(line.split()[1])))
    return out


def pool_ids(pool):
    return {("shm", i) for i in pool.shmids} | {("sem", pool.semid), ("sem", pool.lock_semid)}


class FakeJournal:
    def __init__(self):
        self.lines = []

    def write(self, assoc, session, what, fields=(), raw=None):
        self.lines.append((assoc, what, dict(fields), raw))


class ScopedEnv:
    def __init__(self, **values):
        self.values = values
        self.old = {}

    def __enter__(self):
        for k, v in self.values.items():
            self.old[k] = os.environ.get(k)
            os.environ[k] = v
        return self

    def __exit__(self, *exc):
        for k, v in self.old.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


class PoolTest(unittest.TestCase):
    def test_publishes_header_and_rendezvous_and_removes_everything(self):
        for segments in (1, 2):
            with self.subTest(segments=segments):
                self.check_pool(segments)

    def check_pool(self, segments):
        before = ipc_ids()
        with tempfile.TemporaryDirectory() as d:
            pool = sm.Pool(d, "a-name-longer-than-fifteen", segments=segments)
            try:
                self.assertEqual(ipc_ids() - before, pool_ids(pool))
                self.assertEqual(len(pool.shmids), segments)
                self.assertNotEqual(pool.semid, pool.lock_semid)
                self.assertEqual(pool.ld16(0), -8009)
                self.assertEqual(pool.ld16(2), 3)
                # The further ids, then the negative end.
                for i, shmid in enumerate(pool.shmids[1:]):
                    self.assertEqual(pool.ld32(8 + 4 * i), shmid)
                self.assertEqual(pool.ld32(8 + 4 * (segments - 1)), -1)
                self.assertEqual(pool.ld32(520), sm.POOL_SIZE)
                self.assertEqual(pool.ld32(524), sm.POOL_SIZE // segments)
                # Every slot is free and names its own alert bytes and
                # wait semaphore; the last buffer lies inside the pool.
                self.assertEqual(pool.mem[sm.BITMAP_OFF], (1 << sm.NSLOTS) - 1)
                alerts = {pool.ld32(sm.slot_off(s) + sm.SLOT_ALERTOFF) for s in range(sm.NSLOTS)}
                waits = {pool.ld32(sm.slot_off(s) + sm.SLOT_WAITSEMNUM) for s in range(sm.NSLOTS)}
                self.assertEqual(len(alerts), sm.NSLOTS)
                self.assertEqual(waits, set(range(1, 1 + sm.NSLOTS)))
                self.assertLessEqual(sm.buffer_off(sm.NSLOTS - 1, 19) + sm.BUF_SIZE, sm.POOL_SIZE)
                self.assertLess(sm.slot_off(sm.NSLOTS), sm.ALERTS_OFF)
                # The name is cut to 15 characters, as the client cuts it.
                path = os.path.join(d, ".dvz.a-name-longer-t")
                with open(path, "rb") as f:
                    image = f.read()
                self.assertEqual(len(image), 4 + 36)
                count, shmid, asem, anum, lsem, lnum, bitmap, nslots, slots, addr = \
                    struct.unpack("=i9I", image)
                self.assertEqual(count, 1)
                self.assertEqual((shmid, asem, lsem), (pool.shmid, pool.semid, pool.lock_semid))
                self.assertEqual((anum, lnum), (sm.SEM_ALERT, sm.SEM_LOCK))
                self.assertEqual((bitmap, nslots, slots), (sm.BITMAP_OFF, sm.NSLOTS, sm.SLOTS_OFF))
                # Attached where the file says, below 4 GiB: the "-" base.
                self.assertEqual(addr, pool.base)
                self.assertLess(addr + sm.POOL_SIZE, 1 << 32)
                self.assertEqual(addr % os.sysconf("SC_PAGE_SIZE"), 0)
            finally:
                pool.close()
                pool.close()
            self.assertFalse(os.path.exists(path))
        self.assertEqual(ipc_ids() - before, set())

    def test_second_segment_follows_the_first_and_holds_the_upper_slots(self):
        with tempfile.TemporaryDirectory() as d:
            pool = sm.Pool(d, "two", segments=2)
            try:
                # A byte written through the second segment's own mapping
                # elsewhere is seen at base + 64 KiB.
                other = ctypes.CDLL(None).shmat
                other.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
                other.restype = ctypes.c_void_p
                p = other(pool.shmids[1], None, 0)
                self.assertNotEqual(p, ctypes.c_void_p(-1).value)
                try:
                    ctypes.c_ubyte.from_address(p + 5).value = 0x5A
                    self.assertEqual(pool.mem[pool.seg_size + 5], 0x5A)
                finally:
                    ctypes.CDLL(None).shmdt(ctypes.c_void_p(p))
                # Slot 2's buffers reach into the second segment, one of
                # them across the boundary.
                spans = [(sm.buffer_off(2, k), sm.buffer_off(2, k) + sm.BUF_SIZE)
                         for k in range(sm.SLOT_BUFS)]
                self.assertTrue(any(a < pool.seg_size < b for a, b in spans))
                self.assertLess(sm.buffer_off(1, 19) + sm.BUF_SIZE, pool.seg_size)
            finally:
                pool.close()

    def test_taken_slots_are_clear_in_the_bitmap(self):
        with tempfile.TemporaryDirectory() as d:
            for taken, bits in ((0, 0b1111), (2, 0b1100), (4, 0)):
                with self.subTest(taken=taken):
                    pool = sm.Pool(d, "t", taken=taken)
                    try:
                        self.assertEqual(pool.mem[sm.BITMAP_OFF], bits)
                    finally:
                        pool.close()

    def test_shape_from_the_environment(self):
        cases = (({}, (1, 0)), ({"SQLI_SHM_SEGMENTS": "2", "SQLI_SHM_TAKEN": "3"}, (2, 3)),
                 ({"SQLI_SHM_SEGMENTS": "3"}, None), ({"SQLI_SHM_TAKEN": "5"}, None),
                 ({"SQLI_SHM_SEGMENTS": "x"}, None))
        for env, want in cases:
            with self.subTest(env=env):
                full = {"SQLI_SHM_SEGMENTS": "", "SQLI_SHM_TAKEN": ""}
                full.update(env)
                with ScopedEnv(**full):
                    if want is None:
                        with self.assertRaises(ValueError):
                            sm.shm_shape()
                    else:
                        self.assertEqual(sm.shm_shape(), want)


class FaultTest(unittest.TestCase):
    def test_layout_faults_and_their_names(self):
        cases = (("magic", 0, 16, -8008), ("version", 2, 16, 2), ("segsize0", 524, 32, 0),
                 ("offsets", sm.slot_off(3) + sm.SLOT_ALERTOFF, 32, sm.POOL_SIZE - 1))
        with tempfile.TemporaryDirectory() as d:
            for name, off, bits, want in cases:
                with self.subTest(name):
                    pool = sm.Pool(d, "f", {name})
                    try:
                        got = pool.ld16(off) if bits == 16 else pool.ld32(off)
                        self.assertEqual(got, want)
                    finally:
                        pool.close()
            pool = sm.Pool(d, "f", {"full"})
            try:
                self.assertEqual(pool.mem[sm.BITMAP_OFF], 0)
            finally:
                pool.close()
        with ScopedEnv(SQLI_SHM_FAULTS="ring12,,state6,semrm,kill-connect,kill-receive"):
            self.assertEqual(sm.shm_faults(),
                             {"ring12", "state6", "semrm", "kill-connect", "kill-receive"})
        with ScopedEnv(SQLI_SHM_FAULTS="ring12,nonsense"):
            with self.assertRaises(ValueError):
                sm.shm_faults()

    def test_removed_semaphores_leave_the_server_idle_and_closable(self):
        before = ipc_ids()
        with tempfile.TemporaryDirectory() as d:
            pool = sm.Pool(d, "r")
            try:
                sems = {("sem", pool.semid), ("sem", pool.lock_semid)}
                pool.remove_semaphores()
                self.assertEqual(ipc_ids() & sems, set())
                sessions = sm.Sessions(pool, FakeJournal())
                t = time.monotonic()
                self.assertFalse(sessions.pump(0.1))
                self.assertLess(time.monotonic() - t, 2.0)
                pool.post_client(0)  # no set: nothing to post
            finally:
                pool.close()
        self.assertEqual(ipc_ids() - before, set())


class SemrmConnTest(unittest.TestCase):
    def test_first_data_reply_removes_the_semaphores_instead(self):
        with tempfile.TemporaryDirectory() as d:
            pool = sm.Pool(d, "m", {"semrm"})
            try:
                sets = {("sem", pool.semid), ("sem", pool.lock_semid)}
                sessions = sm.Sessions(pool, FakeJournal())
                client = Client(pool)
                client.connect()
                sessions.pump(1.0)
                conn = sm.ShmConn(sessions, None, lambda: False)
                conn.send(b"connect reply", None)
                self.assertEqual(sessions.current.outbox, [])
                with self.assertRaises(sm.sd.Closed):
                    conn.send(b"echo", None)
                self.assertEqual(ipc_ids() & sets, set())
                self.assertEqual(client.receive(), b"connect reply")
                self.assertIsNone(client.receive())
            finally:
                pool.close()


class Client:
    """The client's side of one slot, from the layouts."""

    def __init__(self, pool, slot=0):
        self.p = pool
        self.s = slot
        self.sl = sm.slot_off(slot)
        self.alerts = pool.ld32(self.sl + sm.SLOT_ALERTOFF)
        self.sendidx = 0
        self.seq = 0
        self.recvidx = 0

    def alert(self, kind):
        self.p.mem[self.alerts + kind] = 1
        sm.semop(self.p.semid, sm.SEM_ALERT, 1)

    def connect(self):
        p = self.p
        p.mem[sm.BITMAP_OFF] &= ~(1 << self.s)
        p.st8(self.sl + sm.SLOT_STATE, sm.ST_REQUESTED)
        self.alert(sm.ALERT_CONNECT)

    def state(self):
        return self.p.ld8(self.sl + sm.SLOT_STATE)

    def send(self, data, notice=False):
        """Fills a free send buffer and posts it: its entry index."""
        p, sl = self.p, self.sl
        for e in range(p.ld16(sl + sm.SLOT_NGRANT)):
            ent = sl + sm.SLOT_SENDTAB + sm.BUFENT_SIZE * e
            if p.ld8(ent + sm.BUFENT_STATE) == sm.BUF_FREE:
                break
        else:
            raise AssertionError("no free send buffer")
        buf = p.ld32(ent + sm.BUFENT_OFFSET)
        state = sm.BUF_NOTICE if notice else sm.BUF_HELD
        p.st8(ent + sm.BUFENT_STATE, state)
        p.st8(buf + sm.BUFHDR_STATUS, state)
        if not notice:
            self.seq += 1
            p.st32(buf + sm.BUFHDR_SEQ, self.seq)
            start = buf + sm.BUFHDR_SIZE
            p.mem[start : start + len(data)] = data
            p.st32(buf + sm.BUFHDR_LENGTH, len(data))
        else:
            p.st16(sl + sm.SLOT_HELDSEND, e)
            p.st8(sl + sm.SLOT_STATE, sm.ST_DISCONNECTING)
        p.st32(sl + sm.SLOT_SENDRING + 4 * self.sendidx, p.ld32(ent + sm.BUFENT_ID))
        self.sendidx = (self.sendidx + 1) % sm.SENDRING_LEN
        self.alert(sm.ALERT_DATA)
        return e

    def receive(self):
        """The next receive buffer's bytes, released at once; None when the
        ring is empty."""
        p, sl = self.p, self.sl
        ring = sl + sm.SLOT_RECVRING + 4 * self.recvidx
        n = p.ld32(ring)
        if n < 0:
            return None
        p.st32(ring, -1)
        self.recvidx = (self.recvidx + 1) % sm.NBUF
        ent = sl + sm.SLOT_RECVTAB + sm.BUFENT_SIZE * n
        buf = p.ld32(ent + sm.BUFENT_OFFSET)
        start = buf + sm.BUFHDR_SIZE
        data = bytes(p.mem[start : start + p.ld32(buf + sm.BUFHDR_LENGTH)])
        p.st8(buf + sm.BUFHDR_STATUS, sm.BUF_FREE)
        p.st8(ent + sm.BUFENT_STATE, sm.BUF_FREE)
        return data

    def posts(self):
        """Takes every post of the client semaphore: how many there were."""
        n = 0
        while sm.semop(self.p.semid, 1 + self.s, -1, sm.IPC_NOWAIT):
            n += 1
        return n


class SessionTest(unittest.TestCase):
    """One client on slot 0 of a one-segment pool, and on slot 2 of a
    two-segment pool (its buffers in the second segment)."""

    SHAPES = ((1, 0), (2, 2))

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.pools = []

    def tearDown(self):
        for pool in self.pools:
            pool.close()
        self.dir.cleanup()

    def start(self, segments=1, taken=0):
        pool = sm.Pool(self.dir.name, "s%d" % os.getpid(), segments=segments, taken=taken)
        self.pools.append(pool)
        self.pool = pool
        self.journal = FakeJournal()
        self.sessions = sm.Sessions(pool, self.journal)
        self.client = Client(pool, taken)

    def connected(self, client=None):
        client = client or self.client
        client.connect()
        self.assertTrue(self.sessions.pump(1.0))
        self.assertEqual(client.state(), sm.ST_ACCEPTED)
        self.assertGreaterEqual(client.posts(), 1)
        self.pool.st8(client.sl + sm.SLOT_STATE, sm.ST_CONNECTED)

    def test_connect_answer_fills_both_tables_inside_the_pool(self):
        for segments, taken in self.SHAPES:
            with self.subTest(segments=segments):
                self.start(segments, taken)
                self.connected()
                p, sl = self.pool, self.client.sl
                self.assertEqual(p.ld16(sl + sm.SLOT_NRECV), 10)
                self.assertEqual(p.ld16(sl + sm.SLOT_NGRANT), sm.NGRANT)
                self.assertEqual(p.ld16(sl + sm.SLOT_HELDRECV), -1)
                self.assertEqual(p.ld16(sl + sm.SLOT_HELDSEND), -1)
                offsets = []
                for table, n in ((sm.SLOT_RECVTAB, 10), (sm.SLOT_SENDTAB, sm.NGRANT)):
                    for e in range(n):
                        off = p.ld32(sl + table + sm.BUFENT_SIZE * e + sm.BUFENT_OFFSET)
                        self.assertGreaterEqual(off, sm.BUFS_OFF)
                        self.assertLessEqual(off + sm.BUF_SIZE, sm.POOL_SIZE)
                        offsets.append(off)
                # No two entries share a buffer.
                self.assertEqual(len(set(offsets)), len(offsets))
                if segments == 2:
                    self.assertTrue(any(o + sm.BUF_SIZE > p.seg_size for o in offsets))
                for e in range(10):
                    self.assertEqual(p.ld32(sl + sm.SLOT_RECVRING + 4 * e), -1)
                self.assertEqual(self.sessions.current.index, taken)

    def test_data_both_ways_in_order_with_a_full_receive_ring(self):
        for segments, taken in self.SHAPES:
            with self.subTest(segments=segments):
                self.start(segments, taken)
                self.check_data()

    def check_data(self):
        self.connected()
        session = self.sessions.current
        # Sends are taken in ring order, across the ring's wrap.
        sent = b""
        for i in range(15):
            piece = bytes([65 + i]) * (1 + i * 70)
            self.client.send(piece)
            self.sessions.pump(1.0)
            sent += piece
        self.assertEqual(bytes(session.inbox), sent)
        # 12 KiB out: ten buffers fill the ring, the rest waits for room.
        out = bytes(range(256)) * 48
        for i in range(0, len(out), 1024):
            session.outbox.append(out[i : i + 1024])
        session.deliver()
        self.assertEqual(len(session.outbox), 2)
        got = b""
        while len(got) < len(out):
            data = self.client.receive()
            if data is None:
                session.deliver()
                data = self.client.receive()
            self.assertIsNotNone(data)
            self.assertLessEqual(len(data), 1024)
            got += data
        self.assertEqual(got, out)

    def test_interrupt_is_journaled_and_the_notice_is_acknowledged(self):
        self.start()
        self.connected()
        p, sl = self.pool, self.client.sl
        p.st8(sl + sm.SLOT_EXPBYTE, ord("B"))
        self.client.alert(sm.ALERT_CONTROL)
        self.sessions.pump(1.0)
        self.assertEqual([(w, f) for _, w, f, _ in self.journal.lines],
                         [("urgent", {"byte": b"B"})])
        self.assertEqual(p.ld8(sl + sm.SLOT_EXPBYTE), 0)
        self.client.posts()
        self.client.send(b"", notice=True)
        self.sessions.pump(1.0)
        session = self.sessions.current
        self.assertTrue(session.ended)
        self.assertFalse(session.active)
        self.assertGreaterEqual(self.client.posts(), 1)
        # The slot is free for the next client.
        self.assertEqual(p.mem[sm.BITMAP_OFF] & 1, 1)
        # And the next client is answered afresh.
        self.client = Client(self.pool)
        self.connected()
        self.assertEqual(self.sessions.current.assoc, 2)
        self.assertTrue(self.sessions.current.active)
        self.client.send(b"again")
        self.sessions.pump(1.0)
        self.assertEqual(bytes(self.sessions.current.inbox), b"again")

    def test_second_slot_is_answered_once_the_first_connection_ends(self):
        self.start()
        first, second = self.client, Client(self.pool, 1)
        self.connected(first)
        second.connect()
        self.sessions.pump(0.5)
        self.assertEqual(second.state(), sm.ST_REQUESTED)
        first.send(b"one")
        self.sessions.pump(1.0)
        self.assertEqual(bytes(self.sessions.current.inbox), b"one")
        first.send(b"", notice=True)
        self.sessions.pump(1.0)
        self.assertTrue(self.sessions.sessions[0].ended)
        # No further post is needed: the flag waits in the pool.
        self.sessions.pump(0.2)
        self.assertEqual(second.state(), sm.ST_ACCEPTED)
        self.assertEqual(self.sessions.current.index, 1)
        self.assertEqual(self.sessions.current.assoc, 2)
        self.pool.st8(second.sl + sm.SLOT_STATE, sm.ST_CONNECTED)
        second.send(b"two")
        self.sessions.pump(1.0)
        self.assertEqual(bytes(self.sessions.current.inbox), b"two")
        # Each slot's posts went to its own semaphore.
        self.assertGreaterEqual(second.posts(), 1)

    def test_waits_are_bounded(self):
        self.start()
        t = time.monotonic()
        self.assertFalse(self.sessions.pump(0.2))
        self.assertLess(time.monotonic() - t, 2.0)


def rendezvous_ids(directory, name):
    """The ids the double published: every segment (from the header) and
    both semaphore sets, read through a mapping of this process."""
    with open(os.path.join(directory, ".dvz." + name), "rb") as f:
        rec = struct.unpack("=i9i", f.read(40))
    libc = ctypes.CDLL(None)
    libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    libc.shmat.restype = ctypes.c_void_p
    p = libc.shmat(rec[1], None, 0)
    ids = {("shm", rec[1]), ("sem", rec[2]), ("sem", rec[4])}
    i = 0
    while True:
        further = ctypes.c_int.from_address(p + 8 + 4 * i).value
        if further < 0:
            break
        ids.add(("shm", further))
        i += 1
    libc.shmdt(ctypes.c_void_p(p))
    return rec, ids


def remove_ids(ids):
    libc = ctypes.CDLL(None)
    for kind, i in ids:
        if kind == "shm":
            libc.shmctl(i, sm.IPC_RMID, None)
        else:
            libc.semctl(i, 0, sm.IPC_RMID, ctypes.c_int(0))


class ProgramTest(unittest.TestCase):
    def start(self, d, env=None):
        ready = os.path.join(d, "ready")
        proc = subprocess.Popen([sys.executable, "-B", SCRIPT, "--ready", ready, "--journal",
                                 os.path.join(d, "journal"), "--shm", "p"],
                                env=dict(os.environ, **(env or {})))
        end = time.monotonic() + 20
        while not os.path.exists(ready) and time.monotonic() < end and proc.poll() is None:
            time.sleep(0.05)
        with open(ready) as f:
            self.assertEqual(f.read(), "%d\n" % proc.pid)
        return proc

    def test_sigterm_removes_every_ipc_object_and_the_file(self):
        before = ipc_ids()
        with tempfile.TemporaryDirectory() as d:
            proc = self.start(d, {"SQLI_SHM_SEGMENTS": "2"})
            try:
                self.assertTrue(os.path.exists(os.path.join(d, ".dvz.p")))
                _, ids = rendezvous_ids(d, "p")
                self.assertEqual(len(ids), 4)
                self.assertEqual(ipc_ids() - before, ids)
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(proc.wait(10), 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
            self.assertFalse(os.path.exists(os.path.join(d, ".dvz.p")))
        self.assertEqual(ipc_ids() - before, set())

    def test_kill_connect_dies_by_sigkill_at_the_connect_alert(self):
        with tempfile.TemporaryDirectory() as d:
            proc = self.start(d, {"SQLI_SHM_FAULTS": "kill-connect"})
            rec, ids = rendezvous_ids(d, "p")
            try:
                libc = ctypes.CDLL(None)
                libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
                libc.shmat.restype = ctypes.c_void_p
                p = libc.shmat(rec[1], None, 0)
                slot = p + rec[8]
                alerts = ctypes.c_int.from_address(slot + sm.SLOT_ALERTOFF).value
                ctypes.c_byte.from_address(slot + sm.SLOT_STATE).value = sm.ST_REQUESTED
                ctypes.c_ubyte.from_address(p + alerts + sm.ALERT_CONNECT).value = 1
                sm.semop(rec[2], rec[3], 1)
                self.assertEqual(proc.wait(10), -signal.SIGKILL)
                # Nothing was answered, and nothing was cleaned up.
                self.assertEqual(ctypes.c_byte.from_address(slot + sm.SLOT_STATE).value,
                                 sm.ST_REQUESTED)
                libc.shmdt(ctypes.c_void_p(p))
                self.assertEqual(ids - ipc_ids(), set())
                self.assertTrue(os.path.exists(os.path.join(d, ".dvz.p")))
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                remove_ids(ids)


if __name__ == "__main__":
    unittest.main()
