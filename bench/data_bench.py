#!/usr/bin/env python3
"""Start-up and save-all times of the server on a large world.

Generates a data folder with the sample world plus extra maps (grid files included) and many
character files, then runs the real server binary offline on loopback ports and times, from
its own log lines as they arrive:
  - start-up: from launching the process to "サーバー起動" (every loader, the grids and every
    character file read);
  - save-all: from SIGINT to "キャラデータを保存しました". Shutdown first closes the (idle)
    servers, then saves every character with SaveCharaList, the same call the periodic save
    makes while it holds the world lock, so this is also an upper bound for how long the
    periodic save holds the lock.
The server is started and stopped several times: every save writes each character's file anew
(a new temporary file renamed into place; the replaced files are removed in the background).

Usage: python3 bench/data_bench.py [--binary build/vornhal] [--chars 10000] [--maps 500]
                                   [--runs 3]
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "sample", "VornhalData")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def chara_json(i):
    return ('{"Name":"bench%05d","Password":"0123456789abcdef0123456789abcdef01234567",'
            '"RealName":"ベンチ","MailAddr":"b@example.invalid","AdminLv":0,"Sex":%d,"Job":%d,'
            '"Mark":0,"HairType":%d,"HairColor":%d,"MapID":%d,"X":20,"Y":20,"Dir":2,"Speed":80,'
            '"Glod":%d,"Equipments":[{"Slot":1,"MetaKey":"stick1"},{"Slot":2,"MetaKey":"cloth1"}],'
            '"Inventory":[{"Slot":1,"MetaKey":"helixir","Count":20},'
            '{"Slot":2,"MetaKey":"bread1","Count":5},{"Slot":3,"MetaKey":"cap1","Count":1}]}'
            % (i, i % 2, i % 8, i % 20, (i * 7919) & 0xFFFFFF, 10055 if i % 3 else 1000 + i % 500,
               i * 13))


def make_world(root, chars, maps):
    data = os.path.join(root, "VornhalData")
    shutil.copytree(SAMPLE, data)
    extra = []
    for n in range(maps - 4):
        map_id = 1000 + n
        extra.append("%d,200,200,0,0,Bench%d,1\r\n" % (map_id, map_id))
        grid = bytearray([201, 201]) + bytes((x * 31 + y) % 7 == 0 for y in range(201)
                                             for x in range(201))
        with open(os.path.join(data, "map", "%05d.dat" % map_id), "wb") as f:
            f.write(grid)
    with open(os.path.join(data, "db", "MapDB.txt"), "ab") as f:
        f.write("".join(extra).encode("cp932"))
    save = os.path.join(data, "save")
    os.makedirs(save)
    for i in range(chars):
        with open(os.path.join(save, "bench%05d.json" % i), "w", encoding="utf-8") as f:
            f.write(chara_json(i))
    ports = [free_port() for _ in range(3)]
    with open(os.path.join(root, "vornhal.ini"), "w") as f:
        f.write("[MultiServer]\nPort=%d\n[ZoneServer]\nPort=%d\n[HttpServer]\nPort=%d\n" %
                tuple(ports))


class Server:
    def __init__(self, binary, root):
        self.lines = []  # (time, text)
        self.cond = threading.Condition()
        self.start = time.monotonic()
        self.proc = subprocess.Popen([binary, "--root", root, "--offline"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        buf = b""
        fd = self.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            now = time.monotonic()
            buf += chunk
            *done, buf = buf.replace(b"\r", b"\n").split(b"\n")
            with self.cond:
                for line in done:
                    self.lines.append((now, line.decode("utf-8", "replace")))
                self.cond.notify_all()

    def wait_for(self, text, timeout=120):
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for t, line in self.lines:
                    if text in line:
                        return t
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None and not any(
                        text in l for _, l in self.lines):
                    raise RuntimeError("no %r in the log:\n%s" %
                                       (text, "\n".join(l for _, l in self.lines)))
                self.cond.wait(min(left, 0.2))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", default=os.path.join(HERE, "..", "build", "vornhal"))
    ap.add_argument("--chars", type=int, default=10000)
    ap.add_argument("--maps", type=int, default=500)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    root = tempfile.mkdtemp(prefix="vornhal-bench-")
    try:
        t = time.monotonic()
        make_world(root, args.chars, args.maps)
        print("generated %d character files and %d maps in %.1f s (%s)" %
              (args.chars, args.maps, time.monotonic() - t, root))
        for run in range(1, args.runs + 1):
            server = Server(args.binary, root)
            started = server.wait_for("サーバー起動")
            server.wait_for("%d のキャラをロードしました" % args.chars, 1)
            server.wait_for("%d のマップをロードしました" % args.maps, 1)
            time.sleep(0.5)
            sigint = time.monotonic()
            server.proc.send_signal(signal.SIGINT)
            saved = server.wait_for("キャラデータを保存しました")
            server.proc.wait(60)
            print("run %d: start-up %.3f s, SIGINT to saved (save-all of %d) %.3f s%s" %
                  (run, started - server.start, args.chars, saved - sigint,
                   "  (first save)" if run == 1 else ""))
        print("command: python3 bench/data_bench.py --binary %s --chars %d --maps %d --runs %d" %
              (args.binary, args.chars, args.maps, args.runs))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
