#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/: small valid inputs of each kind.

Run from anywhere; it rewrites only the files it names. The packet-handler targets take records
of (selector, packet id, payload length, payload in clear); the frame reader takes a read size
byte followed by real client frames.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "sample", "VornhalData")
KEY = b"Hq7!mZ2#vR"
CLIENT_NO_SEED = {0, 11, 16, 126}


def cp(text):
    return text.encode("cp932")


def s8(text):
    b = cp(text) if isinstance(text, str) else text
    return bytes([len(b)]) + b


def u16(v):
    return bytes([(v >> 8) & 255, v & 255])


def scramble(payload, seed):
    out = bytearray(payload)
    r = 0
    for i in range(len(out)):
        b = out[i] ^ seed ^ KEY[i % len(KEY)]
        b ^= 0xFF if r == seed else r
        out[i] = b
        if (i + 1) % len(KEY) == 0:
            r = (r + 1) & 255
    return bytes(out)


def frame(pid, payload, seed=0x5A):
    body = bytes([pid]) + (payload if pid in CLIENT_NO_SEED else bytes([seed]) + scramble(payload, seed))
    return b"\xAA" + u16(len(body)) + body


def record(sel, pid, payload):
    return bytes([sel, pid, len(payload)]) + payload


MULTI = {
    "version": (0, u16(2850)),
    "old_version": (0, u16(2849)),
    "create": (2, s8("dave") + s8("pw") + s8("Dave") + s8("d@example.com")),
    "create_bad_name": (2, s8("a?b") + s8("pw") + s8("") + s8("")),
    "login": (3, s8("alice") + s8("pw") + b"\x00"),
    "login_force": (3, s8("bob") + s8("pw") + b"\x01"),
    "appearance": (4, b"\x01\x02\x10\x20\x30"),
    "temp_list": (15, b"\x03"),
    "temp_file": (15, b"\x02\x00" + s8("a.dat")),
    "rule_check": (16, b"\x00" + s8("")),
    "password": (38, s8("alice") + s8("pw") + s8("new")),
    "rule_request": (75, b""),
    "server_info": (87, b"\x00\x00"),
    "server_list": (87, b"\x01"),
    "web": (104, b"\x01"),
    "script": (108, b"\x00" + s8("VornhalTest")),
    "script_list": (108, b"\x03"),
}

ZONE = {
    "server_info": (11, b""),
    "login": (16, b"\x00" + s8("") + s8("carol")),
    "takeover": (16, b"\x00" + s8("") + s8("alice")),
    "chat": (14, b"\x00" + s8("こんにちは")),
    "command": (14, b"\x00" + s8("@where")),
    "turn": (17, b"\x01"),
    "step": (51, b"\x01\x05\x00"),
    "step_bad_dir": (51, b"\x09\x05\x00"),
    "whisper": (25, b"\x00" + s8("bob") + s8("やあ")),
    "whisper_offline": (25, b"\x00" + s8("carol") + s8("hi")),
    "path": (84, u16(31) + u16(30) + b"\x01\x02\x01\x01" + u16(33) + u16(30) + b"\x01"),
    "pick": (7, b""),
    "drop_item": (8, b"\x01" + u16(1)),
    "drop_glod": (9, bytes([0, 0, 0, 10])),
    "attack": (19, b"\x01"),
    "use": (28, b"\x00\x01\x00\x00\x00\x00"),
    "motion": (29, b"\x01"),
    "unequip": (31, b"\x01"),
    "shop": (45, b"\x00"),
    "slot": (48, b"\x00\x01\x02"),
    "signal": (53, b"\x00"),
    "match_list": (61, b"\x00"),
    "object_info": (67, bytes([0, 0, 0xC3, 0x50])),
    "hp_info": (68, bytes([3, 0, 0, 0])),
    "stat_up": (71, b"\x01"),
    "ignored": (101, b"\x00"),
    "script": (108, b"\x00" + s8("VornhalTest")),
    "web_board": (114, b"\x00"),
    "bulletin": (124, b"\x00"),
}

GM = ["help", "count", "where", "haircolor 300 -5 x", "goto 1 10 10", "goto 99999 1 1",
      "move 31 31", "shout hello world", "say 3 hi", "revive", "packet 0D0102", "packet 0D1",
      "summon", "summon\nmovemob", "item helixir", "item money1", "removeitem 64", "glod 4294967295",
      "reload", "droptest", "effect 5", "portal", "browser", "shop"]


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def sample(name):
    with open(os.path.join(SAMPLE, name), "rb") as f:
        return f.read()


def main():
    for name, (pid, payload) in MULTI.items():
        write("multi", name, record(0, pid, payload))
        write("frame_reader", "multi_" + name, b"\x00" + frame(pid, payload))
    write("multi", "session", b"".join(record(i % 3, p, pl) for i, (p, pl) in enumerate(MULTI.values())))
    for name, (pid, payload) in ZONE.items():
        write("zone", name, record(0, pid, payload))
        write("frame_reader", "zone_" + name, b"\x00" + frame(pid, payload, seed=3))
    write("zone", "stranger", b"".join(record(2, p, pl) for p, pl in ZONE.values()))
    write("zone", "walk", b"".join(record(0, 51, bytes([d, i, 0])) for i, d in enumerate([1, 1, 1, 1, 2, 2, 2, 2])))
    write("frame_reader", "split", b"\x03" + frame(51, b"\x01\x05\x00") + frame(14, b"\x00" + s8("x" * 40)))
    write("frame_reader", "garbage", b"\x00\x01\xAA\x00\x02\x00\x00" + frame(0, u16(2850)))
    write("frame_reader", "empty_body", b"\x00\xAA\x00\x00\xAA\x00\x01\x33")
    for i, line in enumerate(GM):
        write("gm", "cmd%02d" % i, cp(line))

    write("ini", "settings", b"[Main]\r\nPriority=0\r\nAccountLimit=0\r\nAccountLimitValue=10\r\n"
          b"[MultiServer]\r\nPort=1510\r\n[ZoneServer]\r\nPort=11010\r\nForcePK=0\r\n"
          b"[HttpServer]\r\nPort=8080\r\n")
    write("ini", "odd", b"; comment\n[main]\n Port = 0x10 \n[Main]\nPort=$20\n\n[Empty]\nkey\n=v\n")

    db = {"item": "ItemDB.txt", "portal": "PortalList.txt", "npc": "NpcList.txt", "mob": "MobDB.txt"}
    for target, name in db.items():
        text = sample("db/" + name)
        write("db_" + target, "sample", text)
        for i, line in enumerate(l for l in text.splitlines() if l and not l.startswith((b";", b"//"))):
            write("db_" + target, "line%02d" % i, line + b"\r\n")
    mapdb = sample("db/MapDB.txt")
    write("db_map", "sample", mapdb)
    write("db_map", "with_grid", mapdb + b"\x00" + sample("map/00001.dat")[:200])
    write("db_map", "small_grid", b"1,10,10,0,0,Field,2\r\n\x00\x03\x02\x00\x01\x00\x00\x00\x01")
    write("db_map", "short_grid", b"1,10,10,0,0,Field,2\r\n\x00\x05\x05\x00")
    write("db_item", "edge", b" ; c\r\n//c\r\nKey,N, 1,-1,0,0,0,0,0,0,0\r\nkey2,N,$FF,0,0,0,16711680,1,0,0,0\r\n")
    write("db_mob", "quoted", b'"Big ""Bee""" 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 -1 -2 true 0.5\r\n')
    for f in ("alice.json", "bob.json"):
        p = os.path.join(HERE, "seeds", f)
        if os.path.exists(p):
            with open(p, "rb") as src:
                write("chara_file", f, src.read())
    return 0


if __name__ == "__main__":
    sys.exit(main())
