#!/usr/bin/python3
"""Prints a BMP file as Pillow reads it, for tests to compare.

First line: width, height and Pillow's mode. Then one line per row, top row
first, one token per pixel: the palette index in decimal (or - when the file
has no palette), a colon, and the colour as six hex digits RRGGBB.
"""

import sys

from PIL import Image


def main(path):
    with Image.open(path) as image:
        image.load()
        width, height = image.size
        print(width, height, image.mode)
        indices = image if image.mode == "P" else None
        colours = image.convert("RGB")
        for y in range(height):
            tokens = []
            for x in range(width):
                index = "-" if indices is None else str(indices.getpixel((x, y)))
                r, g, b = colours.getpixel((x, y))
                tokens.append(f"{index}:{r:02x}{g:02x}{b:02x}")
            print(" ".join(tokens))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pillow_read_back.py FILE.bmp")
    main(sys.argv[1])
