#!/usr/bin/env python3
"""Converts the program's string tables to and from Qt Linguist id-based .ts files.

  strings-ts.py export <lang> [file.ts]   table src/resources/strings/<lang>.txt -> .ts
                                          (standard output when no file is given)
  strings-ts.py import <lang> file.ts     .ts -> src/resources/strings/<lang>.txt
  strings-ts.py check                     export and import every table in memory and
                                          report any table that does not come back unchanged
  strings-ts.py sync                      rewrite every other table in the English table's
                                          order and comments (after ids were added there)

Every message carries its string id as its id, the English (2057) text as its source and the
table's section comment as its extra comment, so translators see what the text is for in
Linguist. A table is always written in the order and with the comments of the English table;
an id the .ts leaves untranslated is left out, so the program shows the English text for it.
Python 3 standard library only.
"""

import os
import sys
import xml.etree.ElementTree as ET

ENGLISH = "2057"
STRINGS_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources", "strings")

# Language id -> (name in the table's first line, Qt locale name).
LANGUAGES = {
    "2057": ("English (United Kingdom)", "en_GB"),
    "1031": ("German (Germany)", "de_DE"),
    "1036": ("French (France)", "fr_FR"),
    "3082": ("Spanish (Spain, modern sort)", "es_ES"),
    "1041": ("Japanese", "ja_JP"),
    "2052": ("Chinese (Simplified)", "zh_CN"),
}


def header_line(lang):
    return "# %s user-interface texts; id\ttext" % LANGUAGES[lang][0]


def decode(raw):
    """The text of a table line's value: \\n, \\t and \\\\ become the characters."""
    out = []
    i = 0
    while i < len(raw):
        c = raw[i]
        if c == "\\" and i + 1 < len(raw):
            nxt = raw[i + 1]
            out.append("\n" if nxt == "n" else "\t" if nxt == "t" else nxt)
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def encode(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")


def table_path(lang):
    return os.path.normpath(os.path.join(STRINGS_DIR, lang + ".txt"))


def read_lines(lang):
    with open(table_path(lang), encoding="utf-8", newline="") as f:
        return f.read().split("\n")


def parse(lines):
    """[(kind, value)]: ("comment", line), ("text", (id, text)) or ("blank", "")."""
    items = []
    for line in lines:
        if line.startswith("#"):
            items.append(("comment", line))
        elif "\t" in line and line.split("\t", 1)[0].isdigit():
            sid, raw = line.split("\t", 1)
            items.append(("text", (sid, decode(raw))))
        elif line == "":
            items.append(("blank", ""))
        else:
            raise ValueError("unreadable table line: %r" % line)
    return items


def texts_of(lang):
    return dict(value for kind, value in parse(read_lines(lang)) if kind == "text")


def to_ts(lang):
    items = parse(read_lines(ENGLISH))
    translations = texts_of(lang)
    root = ET.Element("TS", {"version": "2.1", "language": LANGUAGES[lang][1],
                             "sourcelanguage": LANGUAGES[ENGLISH][1]})
    context = ET.SubElement(root, "context")
    ET.SubElement(context, "name").text = ""
    section = ""
    for index, (kind, value) in enumerate(items):
        if kind == "comment":
            if index > 0:
                section = value[1:].strip()
            continue
        if kind != "text":
            continue
        sid, source = value
        message = ET.SubElement(context, "message", {"id": sid})
        ET.SubElement(message, "source").text = source
        if section:
            ET.SubElement(message, "extracomment").text = section
        if sid in translations:
            ET.SubElement(message, "translation").text = translations[sid]
        else:
            ET.SubElement(message, "translation", {"type": "unfinished"})
    ET.indent(root, "    ")
    body = ET.tostring(root, encoding="unicode")
    return '<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE TS>\n' + body + "\n"


def from_ts(lang, ts_text):
    """The table text for lang from a .ts: the English table's order and comments, the .ts's texts."""
    root = ET.fromstring(ts_text)
    translations = {}
    unfinished = 0
    for message in root.iter("message"):
        sid = message.get("id")
        translation = message.find("translation")
        if sid is None or translation is None:
            continue
        state = translation.get("type", "")
        if state in ("obsolete", "vanished"):
            continue
        text = translation.text or ""
        if text == "":
            continue
        if state == "unfinished":
            unfinished += 1
        translations[sid] = text
    table, extra = render_table(lang, translations)
    return table, unfinished, extra


def render_table(lang, translations):
    """The table text for lang: the English table's order and comments, the given texts by id."""
    out = []
    known = set()
    for index, (kind, value) in enumerate(parse(read_lines(ENGLISH))):
        if kind == "comment":
            out.append(header_line(lang) if index == 0 else value)
        elif kind == "blank":
            out.append("")
        else:
            sid = value[0]
            known.add(sid)
            if sid in translations:
                out.append(sid + "\t" + encode(translations[sid]))
    extra = sorted(set(translations) - known, key=int)
    return "\n".join(out), extra


def main(argv):
    if len(argv) >= 2 and argv[0] == "export" and argv[1] in LANGUAGES and len(argv) <= 3:
        ts = to_ts(argv[1])
        if len(argv) == 3:
            with open(argv[2], "w", encoding="utf-8", newline="\n") as f:
                f.write(ts)
        else:
            sys.stdout.write(ts)
        return 0
    if len(argv) == 3 and argv[0] == "import" and argv[1] in LANGUAGES:
        with open(argv[2], encoding="utf-8") as f:
            table, unfinished, extra = from_ts(argv[1], f.read())
        if extra:
            print("ignored ids the English table does not have: " + " ".join(extra), file=sys.stderr)
        if unfinished:
            print("%d texts are still marked unfinished; they were taken over" % unfinished, file=sys.stderr)
        with open(table_path(argv[1]), "w", encoding="utf-8", newline="") as f:
            f.write(table)
        return 0
    if len(argv) == 1 and argv[0] == "sync":
        for lang in sorted(LANGUAGES):
            if lang != ENGLISH and os.path.exists(table_path(lang)):
                table, _, _ = from_ts(lang, to_ts(lang))
                with open(table_path(lang), "w", encoding="utf-8", newline="") as f:
                    f.write(table)
        return 0
    if len(argv) == 1 and argv[0] == "check":
        failed = []
        for lang in sorted(LANGUAGES):
            if not os.path.exists(table_path(lang)):
                failed.append(lang + " (missing)")
                continue
            with open(table_path(lang), encoding="utf-8", newline="") as f:
                original = f.read()
            table, _, _ = from_ts(lang, to_ts(lang))
            if table != original:
                failed.append(lang)
        if failed:
            print("not unchanged after export and import: " + ", ".join(failed), file=sys.stderr)
            return 1
        print("all %d tables come back unchanged" % len(LANGUAGES))
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
