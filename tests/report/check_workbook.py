#!/usr/bin/python3
"""Reads an exported workbook with an independent reader and compares it with what was exported.

check_workbook.py FILE EXPECTED.json
EXPECTED: {"header": [names], "nrows": records, "complete": all rows listed, "rows": [[index, [cell, ...]], ...]}
Column widths are compared exactly when every row is listed, else only as a lower bound.
A cell is null (NULL) or {"v": value, "text": display text} where value is a string, a number,
a boolean or {"date": "YYYY-MM-DDTHH:MM:SS"}. Prints every difference; exit status 1 when any.
"""
import datetime
import json
import sys

GREEN = (0, 255, 0)
problems = []


def fail(msg):
    problems.append(msg)


def cells_width(text):
    # Half-width cells as the ANSI code page 936 counts them: bytes in GBK.
    return len(text.encode("gbk", errors="replace"))


def expected_widths(exp):
    widths = []
    for c, name in enumerate(exp["header"][:26]):
        w = cells_width(name)
        for _, cells in exp["rows"]:
            cell = cells[c]
            if cell is not None:
                w = max(w, cells_width(cell["text"]))
        widths.append(min(255, w + 1) if w else None)
    return widths


def as_datetime(v):
    return datetime.datetime.strptime(v["date"], "%Y-%m-%dT%H:%M:%S")


def short(v):
    r = repr(v)
    return r if len(r) <= 120 else f"{r[:100]}... ({len(v) if isinstance(v, str) else '?'} characters)"


def same(got, want, where):
    if want is None:
        if got not in (None, ""):
            fail(f"{where}: expected an empty cell, got {short(got)}")
        return
    v = want["v"]
    if isinstance(v, dict):
        if got != as_datetime(v):
            fail(f"{where}: expected date {v['date']}, got {got!r}")
    elif isinstance(v, bool):
        if not isinstance(got, bool) or got != v:
            fail(f"{where}: expected boolean {v}, got {got!r}")
    elif isinstance(v, (int, float)):
        if isinstance(got, bool) or not isinstance(got, (int, float)) or abs(got - v) > 1e-9 * max(1, abs(v)):
            fail(f"{where}: expected number {v}, got {got!r}")
    elif v == "" and got in (None, ""):
        pass
    elif got != v:
        fail(f"{where}: expected text {short(v)}, got {short(got)}")


def check_xlsx(path, exp):
    import openpyxl
    from openpyxl.utils import get_column_letter
    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    ncols = len(exp["header"])
    if ws.max_row != exp["nrows"] + 1:
        fail(f"rows: expected {exp['nrows'] + 1}, got {ws.max_row}")
    if ws.max_column != ncols:
        fail(f"columns: expected {ncols}, got {ws.max_column}")
    for c, name in enumerate(exp["header"], 1):
        cell = ws.cell(1, c)
        if cell.value != name:
            fail(f"header {c}: expected {name!r}, got {cell.value!r}")
        if cell.fill.fill_type != "solid" or not str(cell.fill.fgColor.rgb).upper().endswith("00FF00"):
            fail(f"header {c}: fill {cell.fill.fill_type} {cell.fill.fgColor.rgb}")
    for index, cells in exp["rows"]:
        for c, want in enumerate(cells, 1):
            cell = ws.cell(index + 2, c)
            same(cell.value, want, f"row {index + 2} col {c}")
            if cell.fill.fill_type not in (None, "none"):
                fail(f"row {index + 2} col {c}: data cell is filled")
    for c, want in enumerate(expected_widths(exp)):
        dim = ws.column_dimensions[get_column_letter(c + 1)]
        if want is None:
            continue
        # The writer stores the width with Excel's cell padding added (less than one character).
        if not dim.customWidth or dim.width is None or not (want <= dim.width < (want + 1 if exp["complete"] else 256)):
            fail(f"width of column {c + 1}: expected {want}, got {dim.width}")
    for c in range(26, ncols):
        letter = get_column_letter(c + 1)
        if letter in ws.column_dimensions and ws.column_dimensions[letter].customWidth:
            fail(f"column {c + 1} beyond Z has a fitted width")


def check_xls_records(path):
    """Texts as Excel 97 writes them: LABELSST cells into an SST continued by CONTINUE records,
    each at most 8224 bytes; EXTSST pointing at the start of every bucket's first string."""
    import olefile
    data = olefile.OleFileIO(path).openstream("Workbook").read()
    recs, pos = [], 0
    while pos + 4 <= len(data):
        rid, size = int.from_bytes(data[pos:pos + 2], "little"), int.from_bytes(data[pos + 2:pos + 4], "little")
        if rid == 0 and size == 0:
            break
        recs.append((rid, pos, data[pos + 4:pos + 4 + size]))
        if size > 8224:
            fail(f"record {rid:#06x} at {pos} holds {size} bytes")
        pos += 4 + size
    ids = [r[0] for r in recs]
    if 0x0204 in ids:
        fail("text written as LABEL records")
    labels = [int.from_bytes(d[6:10], "little") for rid, _, d in recs if rid == 0x00FD]
    if ids.count(0x00FC) != 1:
        fail("no single SST record")
        return
    i = ids.index(0x00FC)
    parts = [recs[i]]
    while i + len(parts) < len(recs) and recs[i + len(parts)][0] == 0x003C:
        parts.append(recs[i + len(parts)])
    total, unique = int.from_bytes(parts[0][2][0:4], "little"), int.from_bytes(parts[0][2][4:8], "little")
    if total != len(labels) or not labels or max(labels) >= unique:
        fail(f"SST counts {total}/{unique} for {len(labels)} cells using up to {max(labels, default=None)}")
    starts, texts, k, off = [], [], 0, 8   # (stream position, offset in its record) of every string

    def room():
        return len(parts[k][2]) - off

    for _ in range(unique):
        if room() == 0:
            k, off = k + 1, 0
        if k >= len(parts) or room() < 3:
            fail("SST ends inside a string header")
            return
        d = parts[k][2]
        starts.append((parts[k][1] + 4 + off, 4 + off))
        n, flags = int.from_bytes(d[off:off + 2], "little"), d[off + 2]
        off += 3
        text = ""
        if n and room() < (2 if flags & 1 else 1):
            fail(f"string {len(starts) - 1} is split before its first character")
        while n:
            size = 2 if flags & 1 else 1
            take = min(n, room() // size)
            text += parts[k][2][off:off + take * size].decode("utf-16-le" if size == 2 else "latin-1")
            n, off = n - take, off + take * size
            if n:
                if room() % size:
                    fail(f"string {len(starts) - 1}: a character is split")
                k, off = k + 1, 1
                if k >= len(parts):
                    fail("SST ends inside a string")
                    return
                flags = parts[k][2][0]
        texts.append(text)
    if k != len(parts) - 1 or room() != 0:
        fail("bytes left over after the SST strings")
    if len(set(texts)) != len(texts):
        fail("the SST holds a text more than once")
    if i + len(parts) >= len(recs) or recs[i + len(parts)][0] != 0x00FF:
        fail("no EXTSST after the SST")
        return
    ext = recs[i + len(parts)][2]
    per = int.from_bytes(ext[0:2], "little")
    got = [(int.from_bytes(ext[j:j + 4], "little"), int.from_bytes(ext[j + 4:j + 6], "little"))
           for j in range(2, len(ext), 8)]
    if per < 8 or got != starts[::per]:
        fail(f"EXTSST ({per} per bucket) does not point at the strings' starts")


def check_xls(path, exp):
    import xlrd
    check_xls_records(path)
    book = xlrd.open_workbook(path, formatting_info=True)
    sh = book.sheet_by_index(0)
    ncols = len(exp["header"])
    if sh.nrows != exp["nrows"] + 1:
        fail(f"rows: expected {exp['nrows'] + 1}, got {sh.nrows}")
    if sh.ncols != ncols:
        fail(f"columns: expected {ncols}, got {sh.ncols}")

    def fill(r, c):
        bg = book.xf_list[sh.cell_xf_index(r, c)].background
        return bg.fill_pattern, book.colour_map.get(bg.pattern_colour_index)

    for c, name in enumerate(exp["header"]):
        if sh.cell_value(0, c) != name:
            fail(f"header {c + 1}: expected {name!r}, got {sh.cell_value(0, c)!r}")
        if fill(0, c) != (1, GREEN):
            fail(f"header {c + 1}: fill {fill(0, c)}")
    row1 = sh.rowinfo_map.get(0)
    if row1 is None or not row1.has_default_xf_index or \
            book.colour_map.get(book.xf_list[row1.xf_index].background.pattern_colour_index) != GREEN:
        fail("row 1 as a whole is not formatted green")
    for index, cells in exp["rows"]:
        for c, want in enumerate(cells):
            r = index + 1
            cell = sh.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_DATE:
                got = xlrd.xldate.xldate_as_datetime(cell.value, book.datemode)
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                got = bool(cell.value)
            elif cell.ctype == xlrd.XL_CELL_EMPTY:
                got = None
            else:
                got = cell.value
            same(got, want, f"row {r + 1} col {c + 1}")
            if cell.ctype != xlrd.XL_CELL_EMPTY and fill(r, c)[0] != 0:
                fail(f"row {r + 1} col {c + 1}: data cell is filled")
    for c, want in enumerate(expected_widths(exp)):
        info = sh.colinfo_map.get(c)
        if want is None:
            continue
        if info is None or (info.width != want * 256 if exp["complete"] else info.width < want * 256):
            fail(f"width of column {c + 1}: expected {want * 256}, got {info.width if info else None}")
    for c in range(26, ncols):
        if c in sh.colinfo_map:
            fail(f"column {c + 1} beyond Z has a width")


def main():
    path, expected = sys.argv[1], sys.argv[2]
    with open(expected, encoding="utf-8") as f:
        exp = json.load(f)
    if path.lower().endswith(".xlsx"):
        check_xlsx(path, exp)
    else:
        check_xls(path, exp)
    for p in problems[:40]:
        print(p)
    if len(problems) > 40:
        print(f"... and {len(problems) - 40} more")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
