#!/usr/bin/env python3
"""Writes a catalog (a .po file) as a C++ table, for the Windows build of kavoconv, which
has no gettext: the pairs of English text and translation, sorted by the English text's
bytes so that the program can search them by halves.

    po_table.py CATALOG.po OUTPUT.cpp

Every string is written with each byte outside printable ASCII as an octal escape, so
the compiler's execution character set (Shift_JIS in that build) leaves the UTF-8 of the
translations as it is. Entries marked fuzzy or left untranslated are not written. A
translation must take the same %s as its English text, in number, or the table is not
written: the program fills them in with printf.
"""
import sys

ESCAPES = {'n': '\n', 't': '\t', 'r': '\r', '"': '"', '\\': '\\'}


def unquote(text, where):
    """The value of one "..." piece of a .po line."""
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        sys.exit(f"{where}: not a quoted string: {text}")
    out, body, i = [], text[1:-1], 0
    while i < len(body):
        if body[i] == '\\':
            i += 1
            if i == len(body) or body[i] not in ESCAPES:
                sys.exit(f"{where}: an escape this script does not know")
            out.append(ESCAPES[body[i]])
        else:
            out.append(body[i])
        i += 1
    return ''.join(out)


def entries(path):
    """(english, translation) for each translated entry that is not fuzzy."""
    found = []
    entry = {'flags': ''}  # the one being read
    key = None

    def finish():
        if entry.get('msgid') and entry.get('msgstr') and 'fuzzy' not in entry['flags']:
            found.append((entry['msgid'], entry['msgstr']))

    with open(path, encoding='utf-8') as po:
        for number, line in enumerate(po, 1):
            line, where = line.strip(), f"{path}:{number}"
            if not line:
                continue
            if line.startswith('#') or line.startswith('msgid '):
                if 'msgstr' in entry:  # the previous entry is complete
                    finish()
                    entry, key = {'flags': ''}, None
                if line.startswith('#,'):
                    entry['flags'] += line[2:]
                if line.startswith('#'):
                    continue
            if line.startswith('"'):
                if key is None:
                    sys.exit(f"{where}: a string outside an entry")
                entry[key] += unquote(line, where)
                continue
            key, _, value = line.partition(' ')
            if key not in ('msgid', 'msgstr'):
                sys.exit(f"{where}: {key} is not handled by this script")
            entry[key] = unquote(value, where)
    finish()
    return found


def c_string(text):
    out = []
    for byte in text.encode('utf-8'):
        c = chr(byte)
        if c in '"\\':
            out.append('\\' + c)
        elif 0x20 <= byte < 0x7F and c != '?':  # no trigraphs
            out.append(c)
        else:
            out.append(f'\\{byte:03o}')
    return '"' + ''.join(out) + '"'


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    pairs = sorted(entries(source), key=lambda pair: pair[0].encode('utf-8'))
    for english, translation in pairs:
        if english.count('%s') != translation.count('%s'):
            sys.exit(f"{source}: the translation does not take the %s of: {english!r}")
    lines = [f"// Made from {source.replace(chr(92), '/').split('/')[-1]} by po_table.py; not to be edited.",
             '#include "catalog.h"', '',
             'const CatalogEntry CATALOG[] = {']
    for english, translation in pairs:
        lines.append(f"    {{{c_string(english)},\n     {c_string(translation)}}},")
    lines += ['};', 'const size_t CATALOG_SIZE = sizeof CATALOG / sizeof CATALOG[0];', '']
    with open(output, 'w', encoding='utf-8', newline='\n') as out:
        out.write('\n'.join(lines))


if __name__ == '__main__':
    main()
