#!/usr/bin/env python3
"""Reads Kavo.html back with Python's HTML parser and checks it against the help text it
was made from: the charset it declares, every topic as a section under its id with its
title and text, and the links between topics as links to those sections.

    help_html_test.py Kavo.html help/kavo_help.txt VERSION
"""

import os
import re
import sys
from html.parser import HTMLParser

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from help_file_test import check, expected_topics, inputs, report  # noqa: E402  the help text, read once

BLOCKS = ("h1", "h2", "h3", "p", "li")


class Page(HTMLParser):
    """Sections as [id, [(tag, text)], [(href, link text)]]; text outside them is stray."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.title, self.sections, self.stray = None, [], []
        self.block, self.link, self.in_title = None, None, False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "section":
            self.sections.append([attrs.get("id"), [], []])
        elif tag == "title":
            self.in_title, self.title = True, ""
        elif tag in BLOCKS and self.sections:
            self.block = [tag, ""]
        elif tag == "a" and self.block:
            self.link = [attrs.get("href"), ""]

    def handle_endtag(self, tag):
        if tag == "title":
            self.in_title = False
        elif tag == "a" and self.link:
            self.sections[-1][2].append(tuple(self.link))
            self.link = None
        elif self.block and tag == self.block[0]:
            self.sections[-1][1].append(tuple(self.block))
            self.block = None

    def handle_data(self, data):
        if self.in_title:
            self.title += data
        elif self.block:
            self.block[1] += data
            if self.link:
                self.link[1] += data
        elif data.strip() and self.sections:
            self.stray.append(data.strip())


def main():
    data, source, version = inputs()
    # A page says its charset in its first 1024 bytes.
    declared = re.search(rb'<meta charset="([A-Za-z0-9_-]+)">', data[:1024])
    if not check(declared is not None, "no <meta charset> in the first 1024 bytes"):
        return report()
    charset = declared.group(1).decode("ascii").lower()
    check(charset in ("utf-8", "shift_jis"), f"charset {charset}")
    try:
        text = data.decode(charset)
    except (LookupError, UnicodeDecodeError) as error:
        check(False, f"not {charset}: {error}")
        return report()
    page = Page()
    page.feed(text)
    page.close()

    check(page.title == "かぼ ヘルプ", f"title {page.title!r}")
    check(not page.stray, f"text outside paragraphs: {page.stray}")
    expected = expected_topics(source, version)
    check([s[0] for s in page.sections] == [t[0] for t in expected],
          f"sections {[s[0] for s in page.sections]}, topics {[t[0] for t in expected]}")
    for (topic_id, title, texts, links), (_, blocks, hrefs) in zip(expected, page.sections):
        # The title heads the section; list items come after a bullet in the help file.
        shown = [("・" + text if tag == "li" else text) for tag, text in blocks]
        check(blocks[:1] and blocks[0][0] in ("h1", "h2"), f"topic {topic_id}: no title heading")
        check(shown == [title] + texts, f"topic {topic_id}: {shown}")
        check(hrefs == [("#" + target, text) for target, text in links],
              f"topic {topic_id}: links {hrefs}, expected {links}")
    return report()


if __name__ == "__main__":
    sys.exit(main())
