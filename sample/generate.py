#!/usr/bin/env python3
"""Writes the bundled sample world into VornhalData/ from the readable sources.

The text databases in source/db/ are kept in UTF-8 with LF line ends and written in code
page 932 with CR LF, as the server reads them. The grid files, the temp data and the dialog
scripts are built here. Running the script again reproduces the same bytes.

Usage: python3 sample/generate.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "source")
OUT = os.path.join(HERE, "VornhalData")

# Map id -> (width, height, wall shapes). Grids cover the cells (0, 0) to (width, height),
# so every cell the map can name has an entry. The outer ring is wall. Shapes are
# ("rect", x1, y1, x2, y2) filled blocks and ("dots", x0, y0, x1, y1, step) scattered cells
# (trees, rocks).
MAPS = {
    10055: (80, 60, [
        ("rect", 8, 8, 16, 14),    # houses
        ("rect", 24, 8, 34, 14),
        ("rect", 44, 8, 56, 16),
        ("rect", 62, 20, 72, 30),
        ("rect", 8, 42, 18, 50),
        ("rect", 50, 40, 66, 48),
        ("rect", 26, 22, 28, 26),  # the well
    ]),
    1: (120, 100, [
        ("dots", 6, 10, 110, 92, 9),
        ("rect", 20, 60, 34, 66),  # a rock field
        ("rect", 80, 20, 96, 24),
    ]),
    2: (64, 64, [
        ("dots", 4, 4, 60, 60, 5),
        ("rect", 40, 40, 52, 44),
    ]),
    3: (48, 40, [
        ("rect", 1, 1, 8, 6),
        ("rect", 36, 1, 46, 12),
        ("rect", 14, 16, 30, 20),
        ("dots", 3, 22, 45, 35, 6),
    ]),
}

# Cells that must stay walkable, with one cell of room around them: where new characters
# start, where the guide stands, where the guide's script sends players, and the NPCs.
KEEP_CLEAR = {
    10055: [(17, 35), (30, 34), (22, 30), (36, 30), (18, 33), (42, 52)],
    1: [(65, 50), (64, 48)],
    2: [(20, 20)],
    3: [(12, 10)],
}

DIALOGS = [
    "MultiHelpDialog", "HelpDialog", "QuestSelDialog", "MerchantSellDialog",
    "MerchantIdentifyDialog", "QuestDialog2", "ItemsDialog", "MerchantBankWIDialog",
    "QuestDialog", "MerchantBankDIDialog", "MerchantBuyDialog", "BarberShopDialog",
    "MerchantBankWGDialog", "MerchantRepairDialog", "MerchantDialog", "MerchantBankDialog",
    "PassWordDialog", "QuestSelDialog2", "MerchantBankDGDialog", "Merchant",
]

DIALOG_TEXT = {
    "MultiHelpDialog": "ログインとアカウント作成のヘルプです。",
    "HelpDialog": "操作のヘルプです。矢印キーで移動し、クリックで話しかけます。",
    "QuestSelDialog": "受ける依頼を選んでください。",
    "MerchantSellDialog": "売りたい品を選んでください。",
    "MerchantIdentifyDialog": "鑑定する品を選んでください。",
    "QuestDialog2": "依頼の続きです。",
    "ItemsDialog": "持ち物の一覧です。",
    "MerchantBankWIDialog": "預けた品を引き出します。",
    "QuestDialog": "依頼の内容です。",
    "MerchantBankDIDialog": "品を預けます。",
    "MerchantBuyDialog": "買いたい品を選んでください。",
    "BarberShopDialog": "髪型と髪の色を選んでください。",
    "MerchantBankWGDialog": "預けたお金を引き出します。",
    "MerchantRepairDialog": "修理する品を選んでください。",
    "MerchantDialog": "いらっしゃいませ。何をお求めですか。",
    "MerchantBankDialog": "銀行へようこそ。",
    "PassWordDialog": "パスワードを入力してください。",
    "QuestSelDialog2": "次の依頼を選んでください。",
    "MerchantBankDGDialog": "お金を預けます。",
    "Merchant": "商人の窓口です。",
}

SCRIPTS_EXTRA = {
    "VornhalTest": (
        '<script name="VornhalTest">\n'
        '  <page id="1">\n'
        '    <text>ようこそ、ヴォルンハルへ。私は案内役です。</text>\n'
        '    <text>南の草原へお送りしましょうか。</text>\n'
        '    <choice goto="end">お願いします</choice>\n'
        '    <choice goto="close">また今度</choice>\n'
        '  </page>\n'
        '  <end report="1"/>\n'
        '</script>\n'),
    "nMiAllMarket01": (
        '<script name="nMiAllMarket01">\n'
        '  <page id="1">\n'
        '    <text>よろず屋です。品物をご覧ください。</text>\n'
        '    <market type="BUY" item="I" units="U"/>\n'
        '  </page>\n'
        '</script>\n'),
}

# Temp data: client name -> (file name in temp/, text of the file before compression).
TEMP_FILES = [
    ("MapInfo", "mapinfo.tmp", None),  # filled from MapDB.txt below
    ("ItemInfo", "iteminfo.tmp", None),  # filled from ItemDB.txt below
]
TEMP_INDEX = "temp02281004"
TEMP_MAGIC = b"VTMP"  # the first four bytes of the index are not read by the server


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def crlf_cp932(text):
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def read_source(name):
    with open(os.path.join(SOURCE, name), encoding="utf-8") as f:
        return f.read()


def portal_cells(portals_text):
    """Source areas and arrival cells per map, which must stay walkable."""
    cells = {}
    for line in portals_text.splitlines():
        line = line.strip()
        if not line or line.startswith(";") or line.startswith("//"):
            continue
        f = [int(v) for v in line.split(",")]
        src, x1, y1, x2, y2, dest, dx, dy = f[:8]
        area = [(x, y) for x in range(min(x1, x2), max(x1, x2) + 1)
                for y in range(min(y1, y2), max(y1, y2) + 1)]
        cells.setdefault(src, []).extend(area)
        cells.setdefault(dest, []).append((dx, dy))
    return cells


def grid(map_id, width, height, shapes, keep):
    w, h = width + 1, height + 1
    assert w <= 255 and h <= 255, "grid sizes are one byte"
    cells = [[0] * h for _ in range(w)]
    for x in range(w):
        cells[x][0] = cells[x][h - 1] = 1
    for y in range(h):
        cells[0][y] = cells[w - 1][y] = 1
    for shape in shapes:
        if shape[0] == "rect":
            _, x1, y1, x2, y2 = shape
            for x in range(x1, x2 + 1):
                for y in range(y1, y2 + 1):
                    cells[x][y] = 1
        else:
            _, x0, y0, x1, y1, step = shape
            for x in range(x0, x1 + 1, step):
                for y in range(y0, y1 + 1, step):
                    # shift every other row so the pattern looks less like a fence
                    cx = x + (2 if (y // step) % 2 else 0)
                    if cx < w - 1:
                        cells[cx][y] = 1
    for (kx, ky) in keep:
        for x in range(kx - 1, kx + 2):
            for y in range(ky - 1, ky + 2):
                if 0 < x < w - 1 and 0 < y < h - 1:
                    cells[x][y] = 0
    for (kx, ky) in keep:
        assert cells[kx][ky] == 0, (map_id, kx, ky)
    out = bytearray([w, h])
    for y in range(h):
        for x in range(w):
            out.append(cells[x][y])
    return bytes(out)


def script_bytes(text):
    # UTF-16LE without a byte-order mark: the server converts every character, a mark too.
    return text.encode("utf-16-le")


def dialog_script(name):
    return (
        '<script name="%s">\n'
        '  <page id="1">\n'
        '    <text>%s</text>\n'
        '    <choice goto="close">閉じる</choice>\n'
        '  </page>\n'
        '</script>\n' % (name, DIALOG_TEXT[name]))


def str8(text):
    b = text.encode("cp932")
    assert len(b) <= 255
    return bytes([len(b)]) + b


def main():
    db = {name: read_source(os.path.join("db", name)) for name in
          ("ItemDB.txt", "MapDB.txt", "PortalList.txt", "NpcList.txt", "MobDB.txt", "Rule.txt")}
    for name, text in db.items():
        write(os.path.join(OUT, "db", name), crlf_cp932(text))

    keep = portal_cells(db["PortalList.txt"])
    for map_id, cells in KEEP_CLEAR.items():
        keep.setdefault(map_id, []).extend(cells)
    for map_id, (width, height, shapes) in MAPS.items():
        write(os.path.join(OUT, "map", "%05d.dat" % map_id),
              grid(map_id, width, height, shapes, keep.get(map_id, [])))

    for name in DIALOGS:
        write(os.path.join(OUT, "script", name + ".xml"), script_bytes(dialog_script(name)))
    for name, text in SCRIPTS_EXTRA.items():
        write(os.path.join(OUT, "script", name + ".xml"), script_bytes(text))

    contents = {
        "MapInfo": "".join(l + "\n" for l in db["MapDB.txt"].splitlines()
                           if l and not l.startswith(";")),
        "ItemInfo": "".join(l + "\n" for l in db["ItemDB.txt"].splitlines()
                            if l and not l.startswith(";") and not l.startswith("//")),
    }
    index = struct.pack(">H", len(TEMP_FILES))
    for name, file_name, _ in TEMP_FILES:
        index += str8(name) + str8(file_name)
        write(os.path.join(OUT, "temp", file_name),
              zlib.compress(contents[name].encode("cp932"), -1))
    write(os.path.join(OUT, "temp", TEMP_INDEX), TEMP_MAGIC + zlib.compress(index, -1))


if __name__ == "__main__":
    main()
