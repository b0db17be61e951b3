#!/usr/bin/python3
"""Reads an exported workbook with an independent reader and compares it with what was exported.

check_workbook.py FILE EXPECTED.json
EXPECTED: {"header": [names], "nrows": records, "complete": all rows listed, "rows": [[index, [cell, ...]], ...]}
Column widths are compared exactly when every row is listed, else only as a lower bound.
A cell is null (NULL) or {"v": value, "text": display text} where value is a string, a number,
a boolean or {"date": "YYYY-MM-DDTHH:MM:SS"}, with "fmt": the number format the cell must carry.
A workbook must also freeze its header row and put an autofilter over the written range.
Prints every difference; exit status 1 when any.
"""
import datetime
import json
import sys

GREEN = (0, 255, 0)
problems = []
formats = {}   # (row, column) -> number format of the cells read


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


def same(got, want, where):
    if want is None:
        if got not in (None, ""):
            fail(f"{where}: expected an empty cell, got {got!r:.120}")
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
        fail(f"{where}: expected text {v!r:.120}, got {got!r:.120}")


def read_xlsx(path):
    """(rows, columns, cell(r, c) -> (value, fill rgb or None), {column: fitted width}) from openpyxl."""
    import openpyxl
    from openpyxl.utils import column_index_from_string
    ws = openpyxl.load_workbook(path).worksheets[0]

    last = ws.cell(1, max(ws.max_column, 1)).column_letter
    if ws.freeze_panes != "A2":
        fail(f"frozen panes: expected A2, got {ws.freeze_panes}")
    if ws.auto_filter.ref != f"A1:{last}{ws.max_row}":
        fail(f"autofilter: expected A1:{last}{ws.max_row}, got {ws.auto_filter.ref}")

    def cell(r, c):
        x = ws.cell(r + 1, c + 1)
        formats[(r, c)] = x.number_format
        fill = None
        if x.fill.fill_type not in (None, "none"):
            rgb = str(x.fill.fgColor.rgb).upper()
            fill = GREEN if x.fill.fill_type == "solid" and rgb.endswith("00FF00") else rgb
        return x.value, fill

    # The writer stores the width with Excel's cell padding added (less than one character).
    widths = {column_index_from_string(k) - 1: d.width for k, d in ws.column_dimensions.items() if d.customWidth}
    return ws.max_row, ws.max_column, cell, widths


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
    # The autofilter: a hidden built-in _FilterDatabase name (code 0x0D) holding the 3-D area of
    # the written range, and AUTOFILTERINFO with a button per column before the cells.
    dims = next(d for rid, _, d in recs if rid == 0x0200)
    nrows, ncols = int.from_bytes(dims[4:8], "little"), int.from_bytes(dims[10:12], "little")
    area = b"\x3b" + b"".join(v.to_bytes(2, "little") for v in (0, 0, nrows - 1, 0, ncols - 1))
    names = [d[16:] for rid, _, d in recs if rid == 0x0018 and d[:2] == b"\x21\x00" and d[14:16] == b"\x00\x0d"]
    info = [d for rid, _, d in recs if rid == 0x009D]
    want = ([area], [ncols.to_bytes(2, "little")]) if ncols else ([], [])
    if (names, info) != want or (ncols and ids.index(0x009D) > ids.index(0x0200)):
        fail(f"autofilter: expected _FilterDatabase {area.hex()} and {ncols} buttons, got {names} {info}")
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


def read_xls(path):
    import xlrd
    check_xls_records(path)
    book = xlrd.open_workbook(path, formatting_info=True)
    sh = book.sheet_by_index(0)

    def fill_of(xf):
        bg = book.xf_list[xf].background
        return book.colour_map.get(bg.pattern_colour_index) if bg.fill_pattern else None

    if not sh.panes_are_frozen or sh.horz_split_pos != 1 or sh.vert_split_pos != 0:
        fail(f"frozen panes: expected row 1, got {sh.panes_are_frozen} {sh.horz_split_pos} {sh.vert_split_pos}")
    row1 = sh.rowinfo_map.get(0)
    if row1 is None or not row1.has_default_xf_index or fill_of(row1.xf_index) != GREEN:
        fail("row 1 as a whole is not formatted green")

    def cell(r, c):
        x = sh.cell(r, c)
        if x.ctype == xlrd.XL_CELL_DATE:
            v = xlrd.xldate.xldate_as_datetime(x.value, book.datemode)
        elif x.ctype == xlrd.XL_CELL_BOOLEAN:
            v = bool(x.value)
        elif x.ctype == xlrd.XL_CELL_EMPTY:
            return None, None
        else:
            v = x.value
        xf = sh.cell_xf_index(r, c)
        formats[(r, c)] = book.format_map[book.xf_list[xf].format_key].format_str
        return v, fill_of(xf)

    return sh.nrows, sh.ncols, cell, {c: info.width / 256 for c, info in sh.colinfo_map.items()}


def check(path, exp):
    nrows, ncols, cell, widths = (read_xlsx if path.lower().endswith(".xlsx") else read_xls)(path)
    if nrows != exp["nrows"] + 1:
        fail(f"rows: expected {exp['nrows'] + 1}, got {nrows}")
    if ncols != len(exp["header"]):
        fail(f"columns: expected {len(exp['header'])}, got {ncols}")
    for c, name in enumerate(exp["header"]):
        if cell(0, c) != (name, GREEN):
            fail(f"header {c + 1}: expected {name!r} on green, got {cell(0, c)}")
    for index, cells in exp["rows"]:
        for c, want in enumerate(cells):
            got, fill = cell(index + 1, c)
            same(got, want, f"row {index + 2} col {c + 1}")
            fmt = formats.get((index + 1, c))
            if want is not None and "fmt" in want and fmt is not None and fmt != want["fmt"]:
                fail(f"row {index + 2} col {c + 1}: expected number format {want['fmt']}, got {fmt}")
            if fill is not None:
                fail(f"row {index + 2} col {c + 1}: data cell is filled")
    for c, want in enumerate(expected_widths(exp)):
        got = widths.get(c)
        if want is not None and (got is None or not (want <= got < (want + 1 if exp["complete"] else 256))):
            fail(f"width of column {c + 1}: expected {want}, got {got}")
    for c in widths:
        if c >= 26:
            fail(f"column {c + 1} beyond Z has a fitted width")


def main():
    path, expected = sys.argv[1], sys.argv[2]
    with open(expected, encoding="utf-8") as f:
        exp = json.load(f)
    check(path, exp)
    for p in problems[:40]:
        print(p)
    if len(problems) > 40:
        print(f"... and {len(problems) - 40} more")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
