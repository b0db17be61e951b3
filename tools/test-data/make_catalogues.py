#!/usr/bin/env python3
"""Writes the test catalogues into tests/data/catalogue/: catalogue.json (and catalogue.mdb through
mkmdb) plus damaged copies; and tests/data/lint/: a program folder (VUZ.mdb from catalogue.json, File/)
with one catalogue mistake of each kind for vireo-check lint.

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

LINT = os.path.join(TOOL, "../../tests/data/lint")
CLEAN = "if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ\nGO\nselect 1 as n into tempdb..VUZ\nGO\n"
LINT_ITEMS = {   # folder: {file: text (GB18030, CR LF) or bytes as written}
    "OK01": {"检查.SQL": b"\xef\xbb\xbf" + CLEAN.replace("\n", "\r\n").encode("utf-8"), "描述.txt": "正常项目。\n"},
    "OK02": {"检查.SQL": "--存储过程&&OK02\n--参数&&@d&&日期&&datetime&&1&&&&\ngoods = 1\nGOTO label\n"
                        "create table tempdb..VUZ (n int)\nGO -- 结束\n", "修复.sql": "update t set n = 0\n"},
    "DUP": {"检查.SQL": CLEAN}, "ORPH": {"检查.SQL": CLEAN}, "LEAF": {"检查.SQL": CLEAN}, "LEAF01": {"检查.SQL": CLEAN},
    "NONAME": {"检查.SQL": CLEAN}, "STRAY": {"检查.SQL": CLEAN},
    "BADGB": {"检查.SQL": b"select 1 as n into tempdb..VUZ\r\n-- \xd6\xd0\x80\r\nGO\r\n", "描述.txt": b"\xd6\xd0\xff\xff\r\n"},
    "NUL": {"检查.SQL": b"select 1 as n\r\ninto tempdb..VUZ\x00\r\n"},
    "SEP": {"检查.SQL": "select 1 as n into tempdb..VUZ\nGO;\nGO 0\nGO2\nGO.\n  GO\ngoods = 1\nGOTO label\nGO 3\ngo\n"},
    "NOVUZ": {"检查.SQL": "-- select 1 as n into tempdb..VUZ\ndrop table tempdb..VUZ\nselect * from tempdb..VUZ\nGO\n"},
    "EMPTYFIX": {"检查.SQL": CLEAN, "修复.sql": " \n\n"},
    "PROC": {"检查.SQL": "--存储过程&&\n--参数&&@a&&甲&&int&&1&&&&\n--参数&&@b&&乙&&int\n" + CLEAN},
    "PROC2": {"检查.SQL": "--存储过程&&OTHER\n" + CLEAN},
    "NOPROC": {"检查.SQL": CLEAN + "--参数&&@a&&甲&&int&&1&&&&\n"},
}
LINT_TOOLS = [   # one mistake per row, beside clean rows
    [1, None, "OK", "正常分组", False, False], [2, "1", "OK01", "正常项目", True, True],
    [3, "1", "OK02", "正常存储过程项目", False, True],
    [4, "1", "DUP", "重复甲", False, True], [5, "1", "DUP", "重复乙", False, True], [6, "1", "dup", "大小写不同", False, True],
    [7, "99", "ORPH", "上级不存在", False, True], [8, "9", "CYA", "环甲", False, False], [9, "8", "CYB", "环乙", False, False],
    [10, "1", "LEAF", "有下级的可执行项目", False, True], [11, "10", "LEAF01", "下级", False, True],
    [12, "1", "B\u0001D", "编码含控制字符", False, True], [13, "1", "NONAME", "", False, True],
    [14, "1", "NOSCRIPT", "没有脚本", False, True], [15, "1", "BADGB", "不能解码", False, True], [16, "1", "NUL", "含NUL", False, True],
    [17, "1", "SEP", "分隔符", False, True], [18, "1", "NOVUZ", "不写VUZ", False, True], [19, "1", "EMPTYFIX", "空修复脚本", False, True],
    [20, "1", "PROC", "存储过程标记无名", False, True], [21, "1", "PROC2", "存储过程名不同", False, True],
    [22, "1", "NOPROC", "参数无标记", False, True],
]


def lint():
    os.makedirs(LINT, exist_ok=True)
    cols = TREE_COLUMNS[:6]
    desc = {"tables": [{"name": "Tools", "columns": cols, "rows": LINT_TOOLS},
                       {"name": "NjaTree", "columns": cols, "rows": [[1, None, "N", "年结", False, False],
                                                                    [2, "1", "OK01", "正常项目", True, True]]}]}
    path_json = os.path.join(LINT, "catalogue.json")
    with open(path_json, "w", encoding="utf-8") as f:
        json.dump(desc, f, ensure_ascii=False, indent=1)
        f.write("\n")
    subprocess.run([sys.executable, MKMDB, path_json, os.path.join(LINT, "VUZ.mdb")], check=True)
    for folder, files in LINT_ITEMS.items():
        os.makedirs(os.path.join(LINT, "File", folder), exist_ok=True)
        for name, text in files.items():
            data = text if isinstance(text, bytes) else text.replace("\n", "\r\n").encode("gb18030")
            with open(os.path.join(LINT, "File", folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
    lint()
