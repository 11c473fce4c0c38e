#!/usr/bin/env python3
"""Generates a benchmark world: the sample world plus large open maps and ready-made characters.

The sample data folder is copied to OUT; maps 20001, 20002, ... (each WIDTH x HEIGHT cells,
walls only on the outer ring) are added to db/MapDB.txt and map/; and COUNT character files
save/<prefix><i>.json are written, all with the password "bench".

Placement:
  spread  every character alone in its own area: characters stand 3 blocks (12 cells) apart
          on a grid, one grid per map, as many maps as needed. The area of a character is the
          5 x 5 blocks of 4 x 4 cells around its own block, so no other character is in it.
  crowd   every character on the same cell of the first bench map, in one area.
  dense   characters packed PER_BLOCK to a block on a 1-block grid (many neighbours each).
A character stands on a cell whose x mod 4 is 1, so a step east and back stays in its block.

Usage: gen_world.py OUT --count N [--layout spread|crowd|dense] [--prefix bot] [--maps M]
"""
import argparse
import hashlib
import json
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "sample", "VornhalData")
FIRST_MAP = 20001
SIZE = 240          # cells per side of a bench map; the grid file holds SIZE + 1 per side
BLOCK = 4
SPACING = 3 * BLOCK  # cells between two characters that must not see each other
PASSWORD = "bench"


def grid(size):
    w = h = size + 1
    out = bytearray([w, h])
    for y in range(h):
        for x in range(w):
            out.append(1 if x in (0, w - 1) or y in (0, h - 1) else 0)
    return bytes(out)


def positions(layout, count, per_block):
    """(map index, x, y) for every character."""
    if layout == "crowd":
        return [(0, 4 * 10 + 1, 4 * 10 + 1)] * count
    if layout == "dense":
        step = BLOCK
    else:
        step = SPACING
    per_side = (SIZE - 2 * BLOCK) // step
    cells = []
    for i in range(count):
        slot = i // per_block if layout == "dense" else i
        m, rest = divmod(slot, per_side * per_side)
        gy, gx = divmod(rest, per_side)
        cells.append((m, BLOCK + gx * step + 1, BLOCK + gy * step + 1))
    return cells


def chara_file(name, map_id, x, y):
    j = {
        "Name": name,
        "Password": hashlib.sha1(PASSWORD.encode("utf-8")).hexdigest(),
        "RealName": name,
        "MailAddr": "bot@localhost",
        "AdminLv": 0,
        "Sex": 0,
        "Job": 0,
        "Mark": 0,
        "HairType": 0,
        "HairColor": 0,
        "MapID": map_id,
        "X": x,
        "Y": y,
        "Dir": 2,
        "Speed": 80,
        "Glod": 0,
        "Equipments": [],
        "Inventory": [],
    }
    text = json.dumps(j, ensure_ascii=False, indent=2).replace("\n", "\r\n") + "\r\n"
    return b"\xef\xbb\xbf" + text.encode("utf-8")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--count", type=int, required=True)
    ap.add_argument("--layout", choices=["spread", "crowd", "dense"], default="spread")
    ap.add_argument("--prefix", default="bot")
    ap.add_argument("--per-block", type=int, default=4)
    ap.add_argument("--maps", type=int, default=0, help="bench maps to add (default: as needed)")
    a = ap.parse_args()

    if os.path.exists(a.out):
        shutil.rmtree(a.out)
    shutil.copytree(SAMPLE, a.out)

    cells = positions(a.layout, a.count, a.per_block)
    maps = max(a.maps, 1 + max((m for m, _, _ in cells), default=0))
    assert FIRST_MAP + maps <= 65535

    mapdb = os.path.join(a.out, "db", "MapDB.txt")
    with open(mapdb, "rb") as f:
        text = f.read()
    if not text.endswith(b"\r\n"):
        text += b"\r\n"
    for m in range(maps):
        line = "%d,%d,%d,0,0,ベンチ平原%d,2\r\n" % (FIRST_MAP + m, SIZE, SIZE, m + 1)
        text += line.encode("cp932")
        with open(os.path.join(a.out, "map", "%05d.dat" % (FIRST_MAP + m)), "wb") as f:
            f.write(grid(SIZE))
    with open(mapdb, "wb") as f:
        f.write(text)

    save = os.path.join(a.out, "save")
    os.makedirs(save, exist_ok=True)
    for i, (m, x, y) in enumerate(cells):
        name = "%s%d" % (a.prefix, i)
        with open(os.path.join(save, name + ".json"), "wb") as f:
            f.write(chara_file(name, FIRST_MAP + m, x, y))
    print("generated %d characters (%s) on %d bench maps of %dx%d in %s"
          % (a.count, a.layout, maps, SIZE, SIZE, a.out))


if __name__ == "__main__":
    main()
