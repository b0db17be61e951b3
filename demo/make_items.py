#!/usr/bin/env python3
"""Writes the demo item folders File/{code}/ from the UTF-8 sources in items-src/.

Catalogue item files are ANSI text in code page 936 with CR LF line ends, as the tool
finds them next to a real installation; the sources are kept in UTF-8 for editing.
Run after changing anything under items-src/ and commit both trees:

    python3 demo/make_items.py
"""
import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent
SRC = HERE / 'items-src'
DST = HERE / 'File'


def convert(text):
    lines = text.replace('\r\n', '\n').replace('\r', '\n').split('\n')
    if lines and lines[-1] == '':
        lines.pop()
    return ''.join(line + '\r\n' for line in lines).encode('gb18030')


def main():
    if DST.exists():
        shutil.rmtree(DST)
    count = 0
    for src in sorted(SRC.rglob('*')):
        target = DST / src.relative_to(SRC)
        if src.is_dir():
            target.mkdir(parents=True, exist_ok=True)
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(convert(src.read_text(encoding='utf-8')))
        count += 1
    print('make_items: wrote %d files under %s' % (count, DST), file=sys.stderr)


if __name__ == '__main__':
    main()
