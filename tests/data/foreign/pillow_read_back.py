#!/usr/bin/python3
"""Prints BMP files as Pillow reads them, for tests to compare: an
independent reader of the same bytes.

    pillow_read_back.py FILE...        or        pillow_read_back.py --list LISTFILE

(LISTFILE names one file a line.) For each file a line "file PATH", then
either "error MESSAGE" or: width, height and Pillow's mode on one line, then
one line per row, top row first, one token per pixel: the palette index in
decimal (or - when Pillow gives no palette), a colon, and the colour as six
hex digits RRGGBB.
"""

import sys

from PIL import Image


def show(path):
    print("file", path)
    try:
        with Image.open(path) as image:
            image.load()
            width, height = image.size
            count = width * height
            indices = list(image.getdata()) if image.mode == "P" else ["-"] * count
            colours = list(image.convert("RGB").getdata())
            tokens = [f"{i}:{r:02x}{g:02x}{b:02x}" for i, (r, g, b) in zip(indices, colours)]
            rows = [" ".join(tokens[y * width:(y + 1) * width]) for y in range(height)]
    except Exception as error:  # any refusal is an answer, not a crash
        print("error", str(error).replace("\n", " ") or type(error).__name__)
        return
    print(width, height, image.mode)
    print("\n".join(rows))


def main(arguments):
    if arguments[:1] == ["--list"] and len(arguments) == 2:
        with open(arguments[1], encoding="utf-8") as listing:
            arguments = [line.rstrip("\n") for line in listing if line.strip()]
    if not arguments:
        sys.exit("usage: pillow_read_back.py FILE... | --list LISTFILE")
    for path in arguments:
        show(path)


if __name__ == "__main__":
    main(sys.argv[1:])
