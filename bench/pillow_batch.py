#!/usr/bin/python3
"""The batch tool's export and import jobs done with Pillow, the yardstick
bench/batch_bench.py measures pelloran-batch against.

    pillow_batch.py export GRPFACES.S10 DIR bmp|png
    pillow_batch.py import GRPFACES.S10 DIR      (writes the records, then fsync)
"""
import os
import sys

from PIL import Image

LAYOUTS = {"large": (37260, 6144, 64, 80), "small": (20244, 2304, 32, 40)}
LAST = 832


def small_name(large):
    return large[:-5] + "T" + large[-4:]


def records(path, slot):
    base, size, _, _ = LAYOUTS[slot]
    with open(path, "rb") as f:
        f.seek(base)
        data = f.read(size * LAST)
    return [data[i * size:(i + 1) * size] for i in range(LAST)]


def export(large, folder, kind):
    os.makedirs(folder, exist_ok=True)
    for slot, path in (("large", large), ("small", small_name(large))):
        _, size, width, height = LAYOUTS[slot]
        for n, record in enumerate(records(path, slot), 1):
            image = Image.frombytes("P", (width, height), record[:width * height])
            block = record[width * height:]
            image.putpalette(bytes(block[i + c] for i in range(0, 1024, 4) for c in (2, 1, 0)))
            suffix = "T" if slot == "small" else ""
            image.save(os.path.join(folder, f"{n:03}{suffix}.{kind}"))


def import_pack(large, folder):
    for slot, path in (("large", large), ("small", small_name(large))):
        base, size, width, height = LAYOUTS[slot]
        with open(path, "r+b") as f:
            for n in range(1, LAST + 1):
                name = os.path.join(folder, f"{n:03}{'T' if slot == 'small' else ''}.bmp")
                if not os.path.exists(name):
                    name = name[:-4] + ".BMP"
                image = Image.open(name)
                palette = image.getpalette()
                block = bytearray(1024)
                for e in range(len(palette) // 3):
                    block[4 * e:4 * e + 3] = bytes((palette[3 * e + 2], palette[3 * e + 1],
                                                    palette[3 * e]))
                f.seek(base + (n - 1) * size)
                f.write(image.tobytes() + bytes(block))
            f.flush()
            os.fsync(f.fileno())


if __name__ == "__main__":
    if sys.argv[1] == "export":
        export(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        import_pack(sys.argv[2], sys.argv[3])
