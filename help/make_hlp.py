#!/usr/bin/env python3
"""Builds Kavo.hlp from the UTF-8 help text (help/kavo_help.txt, whose first lines say how
it is written), or the same help as one HTML page.

    make_hlp.py --version 1.01 SOURCE OUTPUT
    make_hlp.py --version 1.01 --html SOURCE OUTPUT

The HTML page is UTF-8 and says so; each topic is a section whose id is the topic's id,
and the links between topics are links to those sections.

The output is a Windows Help file in the WinHelp 3.1/4 layout, uncompressed, its text in
Shift_JIS (code page 932) and its |SYSTEM records saying so (character set 128, locale
0x0411). It holds the internal files a help viewer needs to open a file and follow its
links: |SYSTEM, |FONT, |TOPIC and |CONTEXT, listed in the internal directory. The output
depends only on its inputs (no date inside), so equal sources give equal files.
"""

import argparse
import html
import os
import re
import struct
import sys

TOPIC_BLOCK_SIZE = 4096           # |SYSTEM flags 0 with format 33: uncompressed 4 KiB blocks
TOPIC_BLOCK_HEADER = 12
TOPIC_BLOCK_DATA = TOPIC_BLOCK_SIZE - TOPIC_BLOCK_HEADER
TOPICPOS_BLOCK = 0x4000           # a TOPICPOS counts 16 KiB per block from format 21 on
TOPICOFFSET_BLOCK = 0x8000        # a TOPICOFFSET counts 32 Ki characters per block
LINK_HEADER = 21
NONE = 0xFFFFFFFF                 # "no position" in the position fields

RECORD_TOPIC_HEADER = 0x02
RECORD_TEXT = 0x20

SHIFT_JIS_CHARSET = 128
JAPANESE_LCID = 0x0411
FACE_NAME = "ＭＳ Ｐゴシック"
HELP_TITLE = "かぼ ヘルプ"         # the help window's title, and the HTML page's
FACE_FIELD = 32                   # bytes per face name in |FONT
FAMILY_SWISS = 3

# Font descriptors in |FONT, by number: (attributes, half-points). Attribute 1 is bold.
FONT_BODY, FONT_TITLE, FONT_HEADING = 0, 1, 2
FONTS = [(0, 20), (1, 28), (1, 22)]

# Paragraph info bits and the values that follow them, in half-points.
SPACE_ABOVE, LEFT_INDENT, FIRST_LINE_INDENT = 0x0002, 0x0010, 0x0040
ITEM_INDENT = 24
BULLET = "・"

CMD_FONT, CMD_END_PARAGRAPH, CMD_END_HOTSPOT, CMD_JUMP, CMD_END = 0x80, 0x82, 0x89, 0xE3, 0xFF

ID_PATTERN = re.compile(r"[A-Za-z0-9_.]+\Z")
LINK_PATTERN = re.compile(r"\[\[([^]|]*)(?:\|([^]]*))?\]\]")


class SourceError(Exception):
    pass


# Reading the help text.

class Topic:
    def __init__(self, topic_id, title, line):
        self.id = topic_id
        self.title = title
        self.line = line
        self.blocks = []           # (kind, text, line): kind is "para", "heading" or "item"


def read_source(text, version):
    topics = []
    paragraph = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip()
        if line.startswith("#"):
            continue
        if not line.strip() or line.startswith("=") or line.startswith("- "):
            paragraph = None
        if not line.strip():
            continue
        line = line.replace("{version}", version)
        if line.startswith("== "):
            current(topics, number).blocks.append(("heading", line[3:].strip(), number))
        elif line.startswith("= "):
            parts = line[2:].strip().split(None, 1)
            if len(parts) != 2 or not ID_PATTERN.match(parts[0]):
                raise SourceError(f"line {number}: a topic needs an id (letters, digits, _ .) and a title")
            topics.append(Topic(parts[0], parts[1], number))
        elif line.startswith("- "):
            current(topics, number).blocks.append(("item", line[2:].strip(), number))
        elif paragraph is not None:
            kind, joined, start = paragraph.blocks[-1]
            paragraph.blocks[-1] = (kind, joined + line.strip(), start)
        else:
            paragraph = current(topics, number)
            paragraph.blocks.append(("para", line.strip(), number))
    if not topics:
        raise SourceError("no topic (a line '= ID title')")
    ids = [t.id for t in topics]
    for topic in topics:
        if ids.count(topic.id) > 1:
            raise SourceError(f"line {topic.line}: topic id {topic.id} is used twice")
    return topics


def current(topics, number):
    if not topics:
        raise SourceError(f"line {number}: text before the first topic")
    return topics[-1]


def runs_of(text, titles, line):
    """Splits text at its links: a list of (text, target id or None)."""
    runs = []
    at = 0
    for match in LINK_PATTERN.finditer(text):
        target, shown = match.group(1), match.group(2)
        if target not in titles:
            raise SourceError(f"line {line}: link to unknown topic '{target}'")
        if match.start() > at:
            runs.append((text[at:match.start()], None))
        runs.append((shown if shown else titles[target], target))
        at = match.end()
    if at < len(text):
        runs.append((text[at:], None))
    if any("[[" in run or "]]" in run for run, _ in runs):
        raise SourceError(f"line {line}: unfinished link")
    return runs


def shift_jis(text, line):
    try:
        return text.encode("cp932")
    except UnicodeEncodeError as error:
        bad = text[error.start]
        raise SourceError(f"line {line}: '{bad}' (U+{ord(bad):04X}) is not in Shift_JIS (code page 932)")


# Numbers as the format stores them: little-endian, and the "compressed" forms of
# paragraph records.

def u16(value):
    return struct.pack("<H", value & 0xFFFF)


def u32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


def compressed_ushort(value):
    return bytes([value * 2]) if value < 0x80 else u16(value * 2 + 1)


def compressed_short(value):
    return bytes([(value + 0x40) * 2]) if -0x40 <= value < 0x40 else u16((value + 0x4000) * 2 + 1)


def compressed_long(value):
    return u16((value + 0x4000) * 2) if -0x4000 <= value < 0x4000 else u32((value + 0x40000000) * 2 + 1)


def context_hash(topic_id):
    """The hash under which |CONTEXT files a context id, as a signed 32-bit number."""
    value = 0
    for c in topic_id:
        if c.isdigit():
            code = 10 if c == "0" else ord(c) - ord("0")
        elif c.isalpha():
            code = ord(c.upper()) - ord("A") + 17
        else:
            code = {".": 12, "_": 13}[c]
        value = (value * 43 + code) & 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


# Topic records.

class Link:
    """One TOPICLINK: a record type and its two data parts."""

    def __init__(self, record_type, data1, data2, topic=None):
        self.type = record_type
        self.data1 = data1
        self.data2 = data2
        self.topic = topic          # the Topic a header record starts
        self.pos = None             # TOPICPOS, set by the layout
        self.offset = None          # TOPICOFFSET, set by the layout

    def size(self):
        return LINK_HEADER + len(self.data1) + len(self.data2)


def paragraph_record(runs, font, bits=0, values=()):
    """A text record of one paragraph. Each formatting command in the first data part
    follows one NUL-ended string of the second: the text up to that command."""
    strings, commands, pending = [], [], [b""]

    def command(code):
        strings.append(pending[0])
        commands.append(code)
        pending[0] = b""

    command(bytes([CMD_FONT]) + u16(font))
    for text, target in runs:
        if target is None:
            pending[0] += text
        else:
            command(bytes([CMD_JUMP]) + u32(context_hash(target)))
            pending[0] += text
            command(bytes([CMD_END_HOTSPOT]))
    command(bytes([CMD_END_PARAGRAPH]))
    command(bytes([CMD_END]))
    data2 = b"".join(s + b"\0" for s in strings)
    # Paragraph info: two bytes always 0x00 0x80, an id of 0, the bits, their values.
    info = b"\x00\x80" + u16(0) + u16(bits) + b"".join(compressed_short(v) for v in values)
    formatting = info + b"".join(commands)
    data1 = compressed_long(len(formatting)) + compressed_ushort(len(data2)) + formatting
    return Link(RECORD_TEXT, data1, data2)


def topic_links(topic, titles):
    # The header's fields are known only after the layout; its size is fixed.
    header = topic_header(0, 0, NONE, NONE, NONE, NONE)
    links = [Link(RECORD_TOPIC_HEADER, header, shift_jis(topic.title, topic.line) + b"\0", topic)]
    links.append(paragraph_record([(shift_jis(topic.title, topic.line), None)], FONT_TITLE))
    for kind, text, line in topic.blocks:
        runs = [(shift_jis(t, line), target) for t, target in runs_of(text, titles, line)]
        if kind == "heading":
            links.append(paragraph_record(runs, FONT_HEADING, SPACE_ABOVE, [12]))
        elif kind == "item":
            runs.insert(0, (shift_jis(BULLET, line), None))
            links.append(paragraph_record(runs, FONT_BODY, SPACE_ABOVE | LEFT_INDENT | FIRST_LINE_INDENT,
                                          [4, ITEM_INDENT, -ITEM_INDENT]))
        else:
            links.append(paragraph_record(runs, FONT_BODY, SPACE_ABOVE, [8]))
    for link in links:
        if link.size() > TOPIC_BLOCK_DATA:
            raise SourceError(f"line {topic.line}: a paragraph of topic {topic.id} is too long "
                              f"({link.size()} bytes, at most {TOPIC_BLOCK_DATA})")
    return links


def topic_header(number, size, back, forward, scroll, next_topic):
    # Size of the topic, the topics before and after it in the browse sequence, topic
    # number, non-scrolling region (none), scrolling region, next topic header.
    return u32(size) + u32(back) + u32(forward) + u32(number) + u32(NONE) + u32(scroll) + u32(next_topic)


def build_topic_file(topics):
    """Lays the records out in 4 KiB blocks and returns (|TOPIC bytes, headers by id)."""
    titles = {t.id: t.title for t in topics}
    per_topic = [topic_links(t, titles) for t in topics]
    # A reader stops at the last record without using it: an empty topic header ends the file.
    end = Link(RECORD_TOPIC_HEADER, topic_header(len(topics), 0, NONE, NONE, NONE, NONE), b"")
    links = [link for group in per_topic for link in group] + [end]

    # Positions. No record crosses a block boundary: one that does not fit starts the next
    # block, and the rest of the block stays zero. A TOPICOFFSET counts the characters of
    # the text records (their second data part) before it in its block.
    block, used, characters = 0, 0, 0
    for link in links:
        if used + link.size() > TOPIC_BLOCK_DATA:
            block, used, characters = block + 1, 0, 0
        link.pos = TOPIC_BLOCK_HEADER + block * TOPICPOS_BLOCK + used
        link.offset = block * TOPICOFFSET_BLOCK + characters
        used += link.size()
        if link.type == RECORD_TEXT:
            characters += len(link.data2)

    # One browse sequence through all topics in the order of the help text, for the
    # viewer's << and >> buttons.
    headers = [group[0] for group in per_topic] + [end]
    for number, group in enumerate(per_topic):
        size = sum(link.size() for link in group)
        back = headers[number - 1].offset if number > 0 else NONE
        forward = headers[number + 1].offset if number + 1 < len(per_topic) else NONE
        group[0].data1 = topic_header(number, size, back, forward, group[1].pos, headers[number + 1].pos)

    blocks = []
    previous_pos = NONE
    last_header_pos = NONE
    for index, link in enumerate(links):
        block_number = (link.pos - TOPIC_BLOCK_HEADER) // TOPICPOS_BLOCK
        if block_number == len(blocks):
            # Last record of the previous block, first record of this one, and the topic
            # header in force when the block starts.
            blocks.append(bytearray(u32(previous_pos) + u32(link.pos) + u32(last_header_pos)))
        next_pos = links[index + 1].pos if index + 1 < len(links) else NONE
        record = (u32(link.size()) + u32(len(link.data2)) + u32(previous_pos) + u32(next_pos) +
                  u32(LINK_HEADER + len(link.data1)) + bytes([link.type]) + link.data1 + link.data2)
        blocks[-1] += record
        previous_pos = link.pos
        if link.type == RECORD_TOPIC_HEADER:
            last_header_pos = link.pos
    data = b"".join(bytes(b) + bytes(TOPIC_BLOCK_SIZE - len(b)) for b in blocks)
    return data, {t.id: group[0] for t, group in zip(topics, per_topic)}


# The other internal files.

def system_file(title, copyright_text, contents_offset):
    def record(kind, data):
        return u16(kind) + u16(len(data)) + data

    # Magic, format 33 (WinHelp 4), major 1, creation time (none), flags 0 (uncompressed).
    header = u16(0x036C) + u16(33) + u16(1) + u32(0) + u16(0)
    return (header +
            record(1, shift_jis(title, 0) + b"\0") +
            record(2, shift_jis(copyright_text, 0) + b"\0") +
            record(3, u32(contents_offset)) +
            record(4, b"BrowseButtons()\0") +     # the << and >> buttons
            record(9, bytes(8) + u16(JAPANESE_LCID)) +
            record(11, u16(SHIFT_JIS_CHARSET)) +
            record(12, bytes([9, SHIFT_JIS_CHARSET]) + shift_jis(FACE_NAME, 0) + b"\0"))


def font_file():
    face = shift_jis(FACE_NAME, 0)
    names = face + bytes(FACE_FIELD - len(face))
    header = u16(1) + u16(len(FONTS)) + u16(8) + u16(8 + len(names))
    descriptors = b"".join(bytes([attributes, half_points, FAMILY_SWISS]) + u16(0) + bytes(6)
                           for attributes, half_points in FONTS)
    return header + names + descriptors


def btree(flags, page_size, structure, leaves):
    """A B+ tree of one leaf page holding the given entries, in their order."""
    body = b"".join(leaves)
    if 8 + len(body) > page_size:
        raise SourceError(f"{len(leaves)} entries do not fit one {page_size}-byte B+ tree page")
    page = u16(page_size - 8 - len(body)) + u16(len(leaves)) + u16(NONE) + u16(NONE) + body
    page += bytes(page_size - len(page))
    # Magic, flags, page size, structure, 0, page splits, root page, -1, pages, levels, entries.
    header = (u16(0x293B) + u16(flags) + u16(page_size) + structure.ljust(16, b"\0") +
              u16(0) + u16(0) + u16(0) + u16(NONE) + u16(1) + u16(1) + u32(len(leaves)))
    return header + page


def context_file(headers):
    entries = sorted((context_hash(topic_id), link.offset) for topic_id, link in headers.items())
    for a, b in zip(entries, entries[1:]):
        if a[0] == b[0]:
            raise SourceError("two topic ids have the same hash; rename one")
    return btree(0x0002, 0x0800, b"L4", [struct.pack("<iI", h, offset) for h, offset in entries])


def help_file(internal):
    """The whole file: header, each internal file, then the directory that names them."""
    out = bytearray(16)
    places = {}
    for name, data in internal.items():
        places[name] = len(out)
        out += u32(len(data) + 9) + u32(len(data)) + b"\x04" + data
    leaves = [name.encode("ascii") + b"\0" + u32(places[name]) for name in sorted(internal)]
    directory = btree(0x0402, 0x0400, b"z4", leaves)
    directory_at = len(out)
    out += u32(len(directory) + 9) + u32(len(directory)) + b"\x04" + directory
    out[0:16] = u32(0x00035F3F) + u32(directory_at) + u32(NONE) + u32(len(out))
    return bytes(out)


def build(source_text, version):
    topics = read_source(source_text, version)
    topic_data, headers = build_topic_file(topics)
    internal = {
        "|SYSTEM": system_file(HELP_TITLE, "Copyright (c) 2026 The Kavo developers",
                               headers[topics[0].id].offset),
        "|FONT": font_file(),
        "|TOPIC": topic_data,
        "|CONTEXT": context_file(headers),
    }
    return help_file(internal)


# The same help as an HTML page, for systems without a Windows Help viewer.

HTML_STYLE = ("body { font-family: sans-serif; line-height: 1.6; max-width: 46em; margin: 1em auto; padding: 0 1em; }\n"
              "section { margin-bottom: 2em; }")


def html_runs(text, titles, line):
    parts = []
    for run, target in runs_of(text, titles, line):
        shown = html.escape(run)
        parts.append(f'<a href="#{target}">{shown}</a>' if target else shown)
    return "".join(parts)


def build_html(source_text, version):
    topics = read_source(source_text, version)
    titles = {t.id: t.title for t in topics}
    out = ["<!DOCTYPE html>", '<html lang="ja">', "<head>", '<meta charset="utf-8">',
           f"<title>{HELP_TITLE}</title>", f"<style>\n{HTML_STYLE}\n</style>", "</head>", "<body>"]
    for number, topic in enumerate(topics):
        level = "h1" if number == 0 else "h2"   # the first topic is the contents page
        out.append(f'<section id="{topic.id}">')
        out.append(f"<{level}>{html.escape(topic.title)}</{level}>")
        in_list = False
        for kind, text, line in topic.blocks:
            if in_list and kind != "item":
                out.append("</ul>")
                in_list = False
            body = html_runs(text, titles, line)
            if kind == "item":
                if not in_list:
                    out.append("<ul>")
                    in_list = True
                out.append(f"<li>{body}</li>")
            elif kind == "heading":
                out.append(f"<h3>{body}</h3>")
            else:
                out.append(f"<p>{body}</p>")
        if in_list:
            out.append("</ul>")
        out.append("</section>")
    out += ["</body>", "</html>", ""]
    return "\n".join(out).encode("utf-8")


def main():
    parser = argparse.ArgumentParser(description="Builds Kavo.hlp, or the same help as an HTML page, "
                                                 "from the UTF-8 help text.")
    parser.add_argument("--version", required=True, help="the program's version, shown in the help")
    parser.add_argument("--html", action="store_true", help="write the help as one HTML page")
    parser.add_argument("source")
    parser.add_argument("output")
    args = parser.parse_args()
    try:
        with open(args.source, encoding="utf-8") as f:
            data = (build_html if args.html else build)(f.read(), args.version)
    except (OSError, UnicodeDecodeError) as error:
        print(f"make_hlp.py: {args.source}: {error}", file=sys.stderr)
        return 1
    except SourceError as error:
        print(f"make_hlp.py: {args.source}: {error}", file=sys.stderr)
        return 1
    temporary = args.output + ".tmp"
    try:
        with open(temporary, "wb") as f:
            f.write(data)
        os.replace(temporary, args.output)
    except OSError as error:
        print(f"make_hlp.py: {args.output}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
