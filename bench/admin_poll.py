#!/usr/bin/env python3
"""Tick duration and tick lateness of the main loop while the operator's API is polled.

Starts the server on the sample world (offline, loopback only) with walking bot players, lets it
run a phase without any API traffic, then a phase in which the API is polled 20 rounds a second
(each round: /api/status, /api/players, /api/maps/10055 and /metrics), and reads the server's
own per-second record (/api/history: longest tick and latest tick start per second) for both
phases side by side.

    bench/admin_poll.py [--clients 40] [--seconds 30]
"""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOKEN = "bench-token-0123456789abcdef0123456789abcdef"


def free_ports(n):
    socks = []
    for _ in range(n):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        socks.append(s)
    ports = [s.getsockname()[1] for s in socks]
    for s in socks:
        s.close()
    return ports


def get(port, path):
    req = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path),
                                 headers={"Authorization": "Bearer " + TOKEN})
    with urllib.request.urlopen(req, timeout=10) as res:
        return res.read()


def summary(samples, key):
    values = sorted(s[key] for s in samples)
    if not values:
        return "no samples"
    p = lambda q: values[min(len(values) - 1, int(q * len(values)))]
    return "max %.2f ms, p99 %.2f ms, median %.2f ms (%d s)" % (values[-1], p(0.99), p(0.5), len(values))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", default=os.path.join(SRC, "build", "vornhal"))
    ap.add_argument("--bot", default=os.path.join(SRC, "build", "vornhal-bot"))
    ap.add_argument("--clients", type=int, default=40)
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--rate", type=float, default=20, help="polling rounds a second")
    args = ap.parse_args()

    root = tempfile.mkdtemp(prefix="vornhal-admin-bench-")
    shutil.copytree(os.path.join(SRC, "sample", "VornhalData"), os.path.join(root, "VornhalData"))
    log_path = os.path.join(root, "server.log")
    server = None
    bot = None
    try:
        # Free ports are picked before the server binds them; another process may take one in
        # between, so a start that fails on a port is tried again on new ones.
        for attempt in range(5):
            multi, zone, http, admin = free_ports(4)
            with open(os.path.join(root, "vornhal.ini"), "w") as f:
                f.write("[MultiServer]\nPort=%d\n[ZoneServer]\nPort=%d\n[HttpServer]\nPort=%d\n"
                        "[Main]\nPasswordHash=sha1\n[Security]\nMaxConnectionsPerIP=0\nAccountsPerIPPerHour=0\n"
                        "[AdminServer]\nPort=%d\nToken=%s\n" % (multi, zone, http, admin, TOKEN))
            with open(log_path, "wb") as log:
                server = subprocess.Popen([args.server, "--root", root, "--offline"], stdin=subprocess.DEVNULL,
                                          stdout=log, stderr=subprocess.STDOUT)
            started = False
            for _ in range(1200):
                time.sleep(0.05)
                text = open(log_path, "rb").read()
                if "サーバー起動".encode() in text and "管理API".encode() in text:
                    started = "開始できません".encode() not in text
                    break
                if server.poll() is not None:
                    break
            if started:
                break
            if server.poll() is None:
                server.send_signal(2)
                server.wait(timeout=60)
            server = None
        if server is None:
            sys.exit("the server did not start:\n" + open(log_path, "rb").read().decode(errors="replace"))
        total = 2 * args.seconds + 30
        bot = subprocess.Popen([args.bot, "--multi-port", str(multi), "--zone-port", str(zone),
                                "--clients", str(args.clients), "--mode", "walk", "--duration", str(total),
                                "--create", "--prefix", "pollbot"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Wait until the players are in the world.
        deadline = time.time() + 60
        while time.time() < deadline:
            if json.loads(get(admin, "/api/status"))["players_online"] >= args.clients:
                break
            time.sleep(0.5)
        online = json.loads(get(admin, "/api/status"))["players_online"]
        time.sleep(2)

        quiet_start = int(time.time()) + 1
        time.sleep(args.seconds + 1)
        quiet_end = int(time.time()) - 1

        poll_start = int(time.time()) + 1
        rounds, requests = 0, 0
        period = 1.0 / args.rate
        t_next = time.time()
        t_end = poll_start + args.seconds + 1
        while time.time() < t_end:
            for path in ("/api/status", "/api/players", "/api/maps/10055", "/metrics"):
                get(admin, path)
                requests += 1
            rounds += 1
            t_next += period
            delay = t_next - time.time()
            if delay > 0:
                time.sleep(delay)
        poll_end = int(time.time()) - 1
        achieved = rounds / (poll_end + 1 - poll_start)

        history = json.loads(get(admin, "/api/history"))["samples"]
        quiet = [s for s in history if quiet_start <= s["t"] <= quiet_end]
        polled = [s for s in history if poll_start <= s["t"] <= poll_end]
        print("players in the world: %d (walking bots)" % online)
        print("API polled: %d rounds (%.1f a second), %d requests" % (rounds, achieved, requests))
        print("tick duration, no API traffic:  " + summary(quiet, "tick_max_ms"))
        print("tick duration, API polled:      " + summary(polled, "tick_max_ms"))
        print("tick lateness, no API traffic:  " + summary(quiet, "late_max_ms"))
        print("tick lateness, API polled:      " + summary(polled, "late_max_ms"))
        print("command: bench/admin_poll.py --clients %d --seconds %d --rate %g" % (args.clients, args.seconds, args.rate))
    finally:
        if bot is not None:
            bot.terminate()
            bot.wait()
        if server is not None:
            server.send_signal(2)
            server.wait(timeout=60)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
