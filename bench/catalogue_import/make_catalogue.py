#!/usr/bin/env python3
"""Writes the benchmark catalogue as mkmdb JSON: a Tools table of ROWS rows in a tree five levels
deep (10 roots, then 9 children per node), rows stored in shuffled order.

    make_catalogue.py OUT.json [ROWS]
"""
import json
import random
import sys

out = sys.argv[1]
total = int(sys.argv[2]) if len(sys.argv) > 2 else 10000

rows = []
level = []
next_id = 1
for i in range(10):
    rows.append([next_id, None, "T%d" % next_id, "检查分类%d" % next_id, i % 2 == 0, False])
    level.append(next_id)
    next_id += 1
while next_id <= total:
    new_level = []
    for parent in level:
        for _ in range(9):
            if next_id > total:
                break
            rows.append([next_id, str(parent), "T%d" % next_id, "检查项目%d：凭证与余额" % next_id,
                         next_id % 3 == 0, True])
            new_level.append(next_id)
            next_id += 1
    level = new_level
random.Random(7).shuffle(rows)

desc = {"tables": [{"name": "Tools", "columns": [
    {"name": "cID", "type": "autonumber"},
    {"name": "cParentID", "type": "text", "size": 50},
    {"name": "cCode", "type": "text", "size": 50},
    {"name": "cName", "type": "text", "size": 100},
    {"name": "bSign", "type": "boolean"},
    {"name": "bEnd", "type": "boolean"}], "rows": rows}]}
with open(out, "w", encoding="utf-8") as f:
    json.dump(desc, f, ensure_ascii=False)
