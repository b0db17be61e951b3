#!/usr/bin/env python3
"""Checks a vireo-check HTML report with an independent, strict HTML5 parser.

usage: check_html.py FILE CODE TOTAL SHOWN TEXT
The page must parse without a single error, hold no script element, and the section of item CODE
must say "共 TOTAL 行", carry its description and a trend chart, list exactly SHOWN rows and show
TEXT verbatim as the text of one cell."""
import sys

import html5lib

path, code, total, shown, text = sys.argv[1:6]
with open(path, encoding="utf-8") as f:
    page = f.read()
doc = html5lib.HTMLParser(strict=True, namespaceHTMLElements=False).parse(page)

def text_of(e):
    return "".join(e.itertext())

assert not [e for e in doc.iter() if isinstance(e.tag, str) and e.tag.endswith("script")], "script element"
sections = [s for s in doc.iter("section") if s.get("class") == "item"
            and text_of(s.find("h2")).startswith(code + " ")]
assert len(sections) == 1, f"{len(sections)} sections for {code}"
sec = sections[0]
paragraphs = [text_of(p) for p in sec.iter("p")]
assert any(f"共 {total} 行" in p for p in paragraphs), paragraphs
assert "描述" in [text_of(h) for h in sec.iter("h3")], "no description"
assert [e for e in sec.iter() if isinstance(e.tag, str) and e.tag.endswith("svg")], "no trend chart"
table = [t for t in sec.iter("table") if t.get("class") == "rows"][0]
rows = table.find("tbody").findall("tr")
assert len(rows) == int(shown), f"{len(rows)} rows"
assert text in [text_of(td) for tr in rows for td in tr.findall("td")], "text not found verbatim"
print("ok")
