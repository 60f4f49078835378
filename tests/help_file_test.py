#!/usr/bin/env python3
"""Reads Kavo.hlp back the way a help viewer does, from the published description of the
Windows Help format (and none of the code that writes it), and checks it against the help
text it was made from: every topic under its id, its title and its Japanese text as
Shift_JIS, the links between topics, and the system records that say the text is Japanese.

    help_file_test.py Kavo.hlp help/kavo_help.txt VERSION
"""

import re
import struct
import sys

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def i32(data, at):
    return struct.unpack_from("<i", data, at)[0]


# The container: a header, internal files, and a directory of them kept as a B+ tree.

def btree_entries(tree, read_entry):
    """All leaf entries of a B+ tree (it starts with its header), in order."""
    if u16(tree, 0) != 0x293B:
        raise ValueError("not a B+ tree")
    page_size, root, levels = u16(tree, 4), u16(tree, 26), u16(tree, 32)
    pages = 38
    page = root
    for _ in range(levels - 1):                  # index pages: go down their first link
        page = u16(tree, pages + page * page_size + 4)
    entries = []
    while page != 0xFFFF:
        at = pages + page * page_size
        count, page = u16(tree, at + 2), u16(tree, at + 6)
        at += 8
        for _ in range(count):
            entry, at = read_entry(tree, at)
            entries.append(entry)
    return entries


def read_name_offset(tree, at):
    end = tree.index(b"\0", at)
    return (tree[at:end].decode("ascii"), u32(tree, end + 1)), end + 5


def internal_files(data):
    check(u32(data, 0) == 0x00035F3F, "file magic")
    check(u32(data, 12) == len(data), f"file size {u32(data, 12)} in the header, {len(data)} on disk")

    def body(at):
        reserved, used = u32(data, at), u32(data, at + 4)
        check(reserved >= used + 9 and at + reserved <= len(data), f"internal file at {at} does not fit")
        return data[at + 9:at + 9 + used]

    return {name: body(at) for name, at in btree_entries(body(u32(data, 4)), read_name_offset)}


# |SYSTEM

def system_records(system):
    check(u16(system, 0) == 0x036C and u16(system, 4) == 1, "|SYSTEM magic and major version")
    check(u16(system, 2) > 16, f"format {u16(system, 2)} has no system records")
    check(u16(system, 10) == 0, "the file is compressed (|SYSTEM flags)")
    records, at = {}, 12
    while at + 4 <= len(system):
        kind, size = u16(system, at), u16(system, at + 2)
        records.setdefault(kind, system[at + 4:at + 4 + size])
        at += 4 + size
    return records


# |TOPIC: 4 KiB blocks of a 12-byte header and data. A TOPICPOS counts 0x4000 per block
# from the first data byte; a TOPICOFFSET counts 0x8000 per block and, within it, the
# characters of the text records before it.

BLOCK, HEADER = 4096, 12


def compressed(data, at, small, large, bias_small, bias_large):
    if data[at] & 1:
        return (int.from_bytes(data[at:at + large], "little") >> 1) - bias_large, at + large
    return (int.from_bytes(data[at:at + small], "little") >> 1) - bias_small, at + small


def paragraph_text(data1, data2, fonts):
    """The text of a text record and its jumps: (text, [(context hash, hotspot text)])."""
    at = 0
    _, at = compressed(data1, at, 2, 4, 0x4000, 0x40000000)        # TopicSize
    length, at = compressed(data1, at, 1, 2, 0, 0)                  # TopicLength
    check(length == len(data2), f"text length {length}, {len(data2)} bytes of text")
    at += 4
    bits = u16(data1, at)
    at += 2
    if bits & 0x0001:
        _, at = compressed(data1, at, 2, 4, 0x4000, 0x40000000)
    for bit in (0x02, 0x04, 0x08, 0x10, 0x20, 0x40):
        if bits & bit:
            _, at = compressed(data1, at, 1, 2, 0x40, 0x4000)
    if bits & 0x0100:
        at += 3
    if bits & 0x0200:
        tabs, at = compressed(data1, at, 1, 2, 0x40, 0x4000)
        for _ in range(tabs):
            stop, at = compressed(data1, at, 1, 2, 0, 0)
            if stop & 0x4000:
                _, at = compressed(data1, at, 1, 2, 0, 0)
    strings = data2.split(b"\0")
    text, jumps, hotspot = b"", [], None
    for string in strings:
        text += string
        if hotspot is not None:
            hotspot[1] += string
        command = data1[at]
        if command == 0xFF:
            break
        if command == 0x80:
            check(u16(data1, at + 1) < fonts, f"font {u16(data1, at + 1)} of {fonts}")
            at += 3
        elif command in (0x81, 0x82, 0x83, 0x8B, 0x8C):
            at += 1
        elif command in (0xE2, 0xE3, 0xE6, 0xE7):
            hotspot = [i32(data1, at + 1), b""]
            at += 5
        elif command == 0x89:
            check(hotspot is not None, "end of a hotspot that did not start")
            if hotspot is not None:
                jumps.append(tuple(hotspot))
            hotspot = None
            at += 1
        else:
            check(False, f"unexpected formatting command 0x{command:02X}")
            break
    else:
        check(False, "text record without its end command")
    return text, jumps


def topics_of(topic_file, fonts):
    """Walks the topic records: {TOPICOFFSET of a topic: [title, paragraphs, jumps,
    (browse back, browse forward)]}."""
    check(len(topic_file) % BLOCK == 0, "|TOPIC is not made of whole blocks")
    blocks = [topic_file[i:i + BLOCK] for i in range(0, len(topic_file), BLOCK)]
    data = b"".join(block[HEADER:] for block in blocks)
    topics, current = {}, None
    pos, visited, characters, last_block = HEADER, set(), 0, 0
    while True:
        block, within = (pos - HEADER) // 0x4000, (pos - HEADER) % 0x4000
        at = block * (BLOCK - HEADER) + within
        if not check(block < len(blocks) and pos not in visited, f"bad topic link position 0x{pos:X}"):
            break
        visited.add(pos)
        size, length2, _, following, length1 = struct.unpack_from("<IIIII", data, at)
        kind = data[at + 20]
        if following == 0 or following == 0xFFFFFFFF:
            break                                # the last link holds nothing
        if block != last_block:
            characters, last_block = 0, block
        data1, data2 = data[at + 21:at + length1], data[at + length1:at + size]
        check(len(data2) == length2, "topic link text size")
        if kind == 0x02:
            # The title, then the paragraphs, the jumps and the browse sequence's neighbours.
            current = [data2.split(b"\0")[0], [], [], (u32(data1, 4), u32(data1, 8))]
            topics[block * 0x8000 + characters] = current
        elif kind == 0x20 and check(current is not None, "text before the first topic"):
            text, jumps = paragraph_text(data1, data2, fonts)
            current[1].append(text)
            current[2] += jumps
            characters += len(data2)
        elif kind != 0x20:
            check(False, f"unexpected record type 0x{kind:02X}")
        pos = following
    return topics


# The help text: what each topic must show.

def hash_of(context_id):
    value = 0
    for c in context_id.upper():
        # "1" to "9" count 1 to 9, "0" 10, "." 12, "_" 13, letters from 17 ("A" and "a").
        code = {"0": 10, ".": 12, "_": 13}.get(c, ord(c) - ord("0"))
        value = (value * 43 + code) % (1 << 32)
    return value - (1 << 32) if value >= 1 << 31 else value


def expected_topics(source, version):
    """[(id, title, [paragraphs as shown], [(target id, link text)])], in source order. The
    title is shown as the first paragraph, and list items after a bullet."""
    topics, fresh = [], True
    lines = [line.rstrip() for line in source.replace("{version}", version).splitlines()]
    for line in lines:
        if line.startswith("#"):
            continue
        if line.startswith("= "):
            topic_id, title = line[2:].split(None, 1)
            topics.append((topic_id, title, [], []))
            fresh = True
        elif not line:
            fresh = True
        elif line.startswith("== "):
            topics[-1][2].append(line[3:].strip())
            fresh = True
        elif line.startswith("- "):
            topics[-1][2].append("・" + line[2:].strip())
            fresh = True
        elif fresh:
            topics[-1][2].append(line.strip())
            fresh = False
        else:
            topics[-1][2][-1] += line.strip()
    titles = {t[0]: t[1] for t in topics}
    link = re.compile(r"\[\[([\w.]+)(?:\|([^\]]+))?\]\]")
    result = []
    for topic_id, title, texts, _ in topics:
        links = [(m.group(1), m.group(2) or titles[m.group(1)]) for text in texts for m in link.finditer(text)]
        shown = [link.sub(lambda m: m.group(2) or titles[m.group(1)], text) for text in texts]
        result.append((topic_id, title, shown, links))
    return result


def inputs():
    """The file under test (its bytes), the help text and the version, as the command line names them."""
    path, source_path, version = sys.argv[1:4]
    with open(path, "rb") as f:
        data = f.read()
    with open(source_path, encoding="utf-8") as f:
        source = f.read()
    return data, source, version


def main():
    data, source, version = inputs()
    check("{version}" in source, "the help text does not show the version")
    files = internal_files(data)
    for name in ("|SYSTEM", "|TOPIC", "|CONTEXT", "|FONT"):
        check(name in files, f"no {name}")
    if failures:
        return report()

    records = system_records(files["|SYSTEM"])
    check(records.get(11) == struct.pack("<H", 128), f"character set record {records.get(11)!r}, not 128 (Shift_JIS)")
    check(len(records.get(9, b"")) >= 10 and u16(records[9], 8) == 0x0411, f"locale record {records.get(9)!r}")
    check(records.get(1, b"").split(b"\0")[0] == "かぼ ヘルプ".encode("cp932"), f"title {records.get(1)!r}")
    check(records.get(4) == b"BrowseButtons()\0", f"start-up macro {records.get(4)!r}")

    font = files["|FONT"]
    faces, descriptors, face_at, descriptor_at = (u16(font, i) for i in (0, 2, 4, 6))
    face_size = (descriptor_at - face_at) // faces
    for i in range(descriptors):
        check(u16(font, descriptor_at + 11 * i + 3) < faces, f"font {i} names face {u16(font, descriptor_at + 11 * i + 3)}")
    for i in range(faces):
        name = font[face_at + i * face_size:face_at + (i + 1) * face_size].split(b"\0")[0]
        check(name.decode("cp932", "replace").isprintable(), f"face name {name!r}")

    contexts = btree_entries(files["|CONTEXT"], lambda t, at: ((i32(t, at), u32(t, at + 4)), at + 8))
    hashes = [h for h, _ in contexts]
    check(hashes == sorted(hashes), "|CONTEXT is not sorted by hash")
    where = dict(contexts)
    topics = topics_of(files["|TOPIC"], descriptors)

    expected = expected_topics(source, version)
    check(len(topics) == len(expected), f"{len(topics)} topics in the file, {len(expected)} in the help text")
    check(len(records.get(3, b"")) == 4 and u32(records[3], 0) == where.get(hash_of(expected[0][0])),
          "the contents record does not name the first topic")
    offsets = [where.get(hash_of(t[0])) for t in expected]
    for number, (topic_id, title, texts, links) in enumerate(expected):
        offset = where.get(hash_of(topic_id))
        if not check(offset in topics, f"topic {topic_id}: not found by its id"):
            continue
        shown_title, paragraphs, jumps, browse = topics[offset]
        # The browse sequence (the << and >> buttons) follows the help text.
        neighbours = (offsets[number - 1] if number > 0 else 0xFFFFFFFF,
                      offsets[number + 1] if number + 1 < len(offsets) else 0xFFFFFFFF)
        check(browse == neighbours, f"topic {topic_id}: browse sequence {browse}, expected {neighbours}")
        check(shown_title == title.encode("cp932"), f"topic {topic_id}: title {shown_title.decode('cp932')}")
        want = [part.encode("cp932") for part in [title] + texts]
        for i in range(max(len(want), len(paragraphs))):
            got = paragraphs[i] if i < len(paragraphs) else b"(none)"
            check(i < len(want) and got == want[i],
                  f"topic {topic_id}, paragraph {i + 1}: {got.decode('cp932', 'replace')}")
        check([(h, t) for h, t in jumps] == [(hash_of(i), s.encode("cp932")) for i, s in links],
              f"topic {topic_id}: links {[(h, t.decode('cp932')) for h, t in jumps]}, expected {links}")
    check(any(version.encode("ascii") in p for t in topics.values() for p in t[1]), f"version {version} not shown")
    return report()


def report():
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
