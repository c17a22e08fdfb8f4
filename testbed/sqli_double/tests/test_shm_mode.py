"""Tests of the double's shared-memory mode: the pool and rendezvous file
it publishes, a session driven by a client written here from the shared
layouts (in the same process, on the server's own mapping), and the
program's clean exit on SIGTERM.

Run from this folder: python3 -B -m unittest test_shm_mode (ctest does).
"""

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


class FakeJournal:
    def __init__(self):
        self.lines = []

    def write(self, assoc, session, what, fields=(), raw=None):
        self.lines.append((assoc, what, dict(fields), raw))


class PoolTest(unittest.TestCase):
    def test_publishes_header_and_rendezvous_and_removes_everything(self):
        before = ipc_ids()
        with tempfile.TemporaryDirectory() as d:
            pool = sm.Pool(d, "a-name-longer-than-fifteen")
            try:
                self.assertEqual(ipc_ids() - before, {("shm", pool.shmid), ("sem", pool.semid)})
                self.assertEqual(pool.ld16(0), -8009)
                self.assertEqual(pool.ld16(2), 3)
                self.assertEqual(pool.ld32(8), -1)  # no further segment
                self.assertEqual(pool.ld32(520), sm.SEG_SIZE)
                self.assertEqual(pool.ld32(524), sm.SEG_SIZE)
                self.assertEqual(pool.mem[sm.BITMAP_OFF] & 1, 1)
                # The name is cut to 15 characters, as the client cuts it.
                path = os.path.join(d, ".dvz.a-name-longer-t")
                with open(path, "rb") as f:
                    image = f.read()
                self.assertEqual(len(image), 4 + 36)
                count, shmid, asem, anum, lsem, lnum, bitmap, nslots, slots, addr = \
                    struct.unpack("=i9I", image)
                self.assertEqual(count, 1)
                self.assertEqual((shmid, asem, lsem), (pool.shmid, pool.semid, pool.semid))
                self.assertEqual((anum, lnum), (sm.SEM_ALERT, sm.SEM_LOCK))
                self.assertEqual((bitmap, nslots, slots), (sm.BITMAP_OFF, 1, sm.SLOTS_OFF))
                # Attached where the file says, below 4 GiB: the "-" base.
                self.assertEqual(addr, pool.base)
                self.assertLess(addr, 1 << 32)
                self.assertEqual(addr % os.sysconf("SC_PAGE_SIZE"), 0)
            finally:
                pool.close()
                pool.close()
            self.assertFalse(os.path.exists(path))
        self.assertEqual(ipc_ids() - before, set())


class FaultTest(unittest.TestCase):
    def test_layout_faults_and_their_names(self):
        cases = (("magic", 0, 16, -8008), ("version", 2, 16, 2), ("segsize0", 524, 32, 0),
                 ("offsets", sm.SLOTS_OFF + sm.SLOT_ALERTOFF, 32, sm.SEG_SIZE - 1))
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
        old = os.environ.get("SQLI_SHM_FAULTS")
        try:
            os.environ["SQLI_SHM_FAULTS"] = "ring12,,state6"
            self.assertEqual(sm.shm_faults(), {"ring12", "state6"})
            os.environ["SQLI_SHM_FAULTS"] = "ring12,nonsense"
            with self.assertRaises(ValueError):
                sm.shm_faults()
        finally:
            if old is None:
                os.environ.pop("SQLI_SHM_FAULTS", None)
            else:
                os.environ["SQLI_SHM_FAULTS"] = old


class Client:
    """The client's side of slot 0, from the layouts."""

    def __init__(self, pool):
        self.p = pool
        self.sl = sm.SLOTS_OFF
        self.sendidx = 0
        self.seq = 0
        self.recvidx = 0

    def alert(self, kind):
        self.p.mem[sm.ALERT_OFF + kind] = 1
        sm.semop(self.p.semid, sm.SEM_ALERT, 1)

    def connect(self):
        p = self.p
        p.mem[sm.BITMAP_OFF] &= ~1
        p.st8(self.sl + sm.SLOT_STATE, sm.ST_REQUESTED)
        self.alert(sm.ALERT_CONNECT)

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
        while sm.semop(self.p.semid, sm.SEM_CLIENT, -1, sm.IPC_NOWAIT):
            n += 1
        return n


class SessionTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.pool = sm.Pool(self.dir.name, "s%d" % os.getpid())
        self.journal = FakeJournal()
        self.session = sm.Session(self.pool, self.journal)
        self.client = Client(self.pool)

    def tearDown(self):
        self.pool.close()
        self.dir.cleanup()

    def connected(self):
        self.client.connect()
        self.assertTrue(self.session.pump(1.0))
        p, sl = self.pool, sm.SLOTS_OFF
        self.assertEqual(p.ld8(sl + sm.SLOT_STATE), sm.ST_ACCEPTED)
        self.assertGreaterEqual(self.client.posts(), 1)
        p.st8(sl + sm.SLOT_STATE, sm.ST_CONNECTED)

    def test_connect_answer_fills_both_tables_inside_the_pool(self):
        self.connected()
        p, sl = self.pool, sm.SLOTS_OFF
        self.assertEqual(p.ld16(sl + sm.SLOT_NRECV), 10)
        self.assertEqual(p.ld16(sl + sm.SLOT_NGRANT), sm.NGRANT)
        self.assertEqual(p.ld16(sl + sm.SLOT_HELDRECV), -1)
        self.assertEqual(p.ld16(sl + sm.SLOT_HELDSEND), -1)
        offsets = []
        for table, n in ((sm.SLOT_RECVTAB, 10), (sm.SLOT_SENDTAB, sm.NGRANT)):
            for e in range(n):
                off = p.ld32(sl + table + sm.BUFENT_SIZE * e + sm.BUFENT_OFFSET)
                self.assertLessEqual(off + sm.BUF_SIZE, sm.SEG_SIZE)
                offsets.append(off)
        # No two entries share a buffer.
        self.assertEqual(len(set(offsets)), len(offsets))
        for e in range(10):
            self.assertEqual(p.ld32(sl + sm.SLOT_RECVRING + 4 * e), -1)

    def test_data_both_ways_in_order_with_a_full_receive_ring(self):
        self.connected()
        # Sends are taken in ring order, across the ring's wrap.
        sent = b""
        for i in range(15):
            piece = bytes([65 + i]) * (1 + i * 70)
            self.client.send(piece)
            self.session.pump(1.0)
            sent += piece
        self.assertEqual(bytes(self.session.inbox), sent)
        # 12 KiB out: ten buffers fill the ring, the rest waits for room.
        out = bytes(range(256)) * 48
        for i in range(0, len(out), 1024):
            self.session.outbox.append(out[i : i + 1024])
        self.session.deliver()
        self.assertEqual(len(self.session.outbox), 2)
        got = b""
        while len(got) < len(out):
            data = self.client.receive()
            if data is None:
                self.session.deliver()
                data = self.client.receive()
            self.assertIsNotNone(data)
            self.assertLessEqual(len(data), 1024)
            got += data
        self.assertEqual(got, out)

    def test_interrupt_is_journaled_and_the_notice_is_acknowledged(self):
        self.connected()
        p, sl = self.pool, sm.SLOTS_OFF
        p.st8(sl + sm.SLOT_EXPBYTE, ord("B"))
        self.client.alert(sm.ALERT_CONTROL)
        self.session.pump(1.0)
        self.assertEqual([(w, f) for _, w, f, _ in self.journal.lines],
                         [("urgent", {"byte": b"B"})])
        self.assertEqual(p.ld8(sl + sm.SLOT_EXPBYTE), 0)
        self.client.posts()
        self.client.send(b"", notice=True)
        self.session.pump(1.0)
        self.assertTrue(self.session.ended)
        self.assertFalse(self.session.active)
        self.assertGreaterEqual(self.client.posts(), 1)
        # The slot is free for the next client.
        self.assertEqual(p.mem[sm.BITMAP_OFF] & 1, 1)
        # And the next client is answered afresh.
        self.client = Client(self.pool)
        self.connected()
        self.assertEqual(self.session.assoc, 2)
        self.assertTrue(self.session.active)
        self.client.send(b"again")
        self.session.pump(1.0)
        self.assertEqual(bytes(self.session.inbox), b"again")

    def test_waits_are_bounded(self):
        t = time.monotonic()
        self.assertFalse(self.session.pump(0.2))
        self.assertLess(time.monotonic() - t, 2.0)


class ProgramTest(unittest.TestCase):
    def test_sigterm_removes_every_ipc_object_and_the_file(self):
        before = ipc_ids()
        with tempfile.TemporaryDirectory() as d:
            ready = os.path.join(d, "ready")
            proc = subprocess.Popen([sys.executable, "-B", SCRIPT, "--ready", ready,
                                     "--journal", os.path.join(d, "journal"), "--shm", "p"])
            try:
                end = time.monotonic() + 20
                while not os.path.exists(ready) and time.monotonic() < end:
                    time.sleep(0.05)
                with open(ready) as f:
                    self.assertEqual(f.read(), "%d\n" % proc.pid)
                self.assertTrue(os.path.exists(os.path.join(d, ".dvz.p")))
                self.assertEqual(len(ipc_ids() - before), 2)
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(proc.wait(10), 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
            self.assertFalse(os.path.exists(os.path.join(d, ".dvz.p")))
        self.assertEqual(ipc_ids() - before, set())


if __name__ == "__main__":
    unittest.main()
