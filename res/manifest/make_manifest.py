#!/usr/bin/env python3
"""Minifies the application manifest for the resource: drops the comments
and the white space between elements, and refuses XML that does not parse.

    make_manifest.py SOURCE TARGET
"""
import re
import sys
import xml.dom.minidom


def minify(text):
    text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
    text = re.sub(r">\s+<", "><", text).strip()
    # Attributes spread over lines inside a tag need only one space.
    return re.sub(r"\s+", " ", text)


def main(source, target):
    with open(source, encoding="utf-8") as handle:
        text = minify(handle.read())
    xml.dom.minidom.parseString(text)
    with open(target, "w", encoding="utf-8", newline="") as handle:
        handle.write(text)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
