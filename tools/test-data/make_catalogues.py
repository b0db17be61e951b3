#!/usr/bin/env python3
"""Writes the test catalogues into tests/data/catalogue/: catalogue.json (and catalogue.mdb through
mkmdb) plus damaged copies.

    tools/test-data/make_catalogues.py [PATH/TO/mkmdb.py]     (default: ../../../shared/tools/mkmdb/mkmdb.py)

The outputs are committed, so the tests need neither this script nor mkmdb.
"""
import json
import os
import subprocess
import sys

TOOL = os.path.dirname(os.path.abspath(__file__))
HERE = os.path.join(TOOL, "../../tests/data/catalogue")
MKMDB = sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOOL, "../../../shared/tools/mkmdb/mkmdb.py")

TREE_COLUMNS = [
    {"name": "cID", "type": "autonumber"},
    {"name": "cParentID", "type": "text", "size": 50},
    {"name": "cCode", "type": "text", "size": 50},
    {"name": "cName", "type": "text", "size": 100},
    {"name": "bSign", "type": "boolean"},
    {"name": "bEnd", "type": "boolean"},
    {"name": "nLevel", "type": "integer"},
    {"name": "dEdit", "type": "datetime"},
    {"name": "cNote", "type": "memo"},
]

# A memo well past libmdb's default 16 KB bind size (about 60 KB of UTF-8).
LONG_NOTE = "".join("第%05d行：检查凭证断号与科目余额。\n" % i for i in range(1200))

# Insertion order differs from cID order; cID 3, 9, 12 sort differently as text ("12" < "3").
TOOLS_ROWS = [
    [10, None, "A", "一般检查", True, False, 1, "2024-05-06 07:08:09", None],
    [2, None, "B", "年结系列检查", False, False, 1, None, ""],
    [12, "2", "B01", "期末结账", True, True, 2, "1999-12-31 23:59:59", "结账前检查"],
    [3, "2", "B02", "科目余额表", False, True, 2, None, None],
    [9, "2", "b03", "Case Mixed 代码", False, True, 2, None, None],
    [100, "10", "A01", "凭证断号", True, True, 2, "2000-02-29 12:00:00", LONG_NOTE],
    [101, "10", "A02", "", False, False, 2, None, None],
    [50, "101", "A0201", "三级节点", False, True, 3, None, None],
    [20, "", "E", "空父级（空文本而非NULL）", True, True, 1, None, None],
    [30, "999", "O", "孤儿行", True, True, 1, None, None],
]

NJA_ROWS = [
    [1, None, "N1", "年结准备", False, False, 1, None, None],
    [3, "1", "N12", "结转损益", True, True, 2, None, None],
    [2, "1", "N11", "检查未记账凭证", False, True, 2, None, None],
]

SETTINGS = {
    "name": "Settings",
    "columns": [
        {"name": "cKey", "type": "text", "size": 20},
        {"name": "nCount", "type": "long"},
        {"name": "nByte", "type": "byte"},
        {"name": "fRate", "type": "single"},
        {"name": "fAmount", "type": "double"},
        {"name": "bOn", "type": "boolean"},
    ],
    "rows": [
        ["版本", 2024, 7, 0.5, 1234.5678, True],
        ["空值", None, None, None, None, False],
    ],
}


def build(desc, name):
    path_json = os.path.join(HERE, name + ".json")
    with open(path_json, "w", encoding="utf-8") as f:
        json.dump(desc, f, ensure_ascii=False, indent=1)
        f.write("\n")
    subprocess.run([sys.executable, MKMDB, path_json, os.path.join(HERE, name + ".mdb")], check=True)


def main():
    build({"tables": [
        {"name": "Tools", "columns": TREE_COLUMNS, "rows": TOOLS_ROWS},
        {"name": "NjaTree", "columns": TREE_COLUMNS, "rows": NJA_ROWS},
        SETTINGS,
        {"name": "Empty", "columns": TREE_COLUMNS[:6], "rows": []},
        {"name": "参数表", "columns": [{"name": "名称", "type": "text", "size": 20}, {"name": "取值", "type": "long"}],
         "rows": [["年度", 2024]]},
    ]}, "catalogue")

    with open(os.path.join(HERE, "catalogue.mdb"), "rb") as f:
        good = f.read()
    pg = 4096
    # Not a Jet file at all.
    with open(os.path.join(HERE, "not_jet.mdb"), "wb") as f:
        f.write("这不是数据库文件\r\n".encode("gb18030") * 300)
    # Cut in the middle of a page, and cut at a page boundary before the data pages end.
    with open(os.path.join(HERE, "truncated.mdb"), "wb") as f:
        f.write(good[: len(good) // 2 + 123])
    with open(os.path.join(HERE, "truncated_pages.mdb"), "wb") as f:
        f.write(good[: len(good) - 2 * pg])
    # Garbage over a data page: the Tools table's rows, and the system catalogue's rows.
    for name, page in (("corrupt.mdb", 4), ("corrupt_catalog.mdb", 1)):
        bad = bytearray(good)
        assert bad[page * pg] == 0x01  # a data page
        for i in range(8, pg):
            bad[page * pg + i] = (i * 37 + page) & 0xFF
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(bad)

if __name__ == "__main__":
    main()
