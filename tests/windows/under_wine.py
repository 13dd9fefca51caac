#!/usr/bin/env python3
"""The Windows programs under Wine, held to the Linux ones.

    under_wine.py batch  WINDOWS_BUILD LINUX_BUILD
    under_wine.py window WINDOWS_BUILD LINUX_BUILD SCREENSHOT

`batch`: the Windows batch tool exports, imports and undoes exactly as the
Linux one does, in a folder with Chinese characters and a space in its name;
it waits for another process's writer lock (a read-only archive is left to
core_tests: Wine run as root, as in CI, writes whatever the permission bits say);
its output reads as Chinese on a console and in a pipe.

`window`: the editor started on an X server shows portrait 1's exact pixels,
and its captions are drawn with a Chinese font, not as empty boxes.

The Wine prefix comes from the environment (WINEPREFIX, made by
scripts/wine-prefix)."""

import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

FAILURES = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        FAILURES.append(what)


def run(command, **options):
    """Runs to the end; what it printed is captured through files, not pipes:
    a Wine program that needs a desktop starts explorer.exe, which inherits
    its stderr and outlives it, so a pipe would not end until the server did."""
    command = [str(part) for part in command]
    if not options.pop("capture_output", True):
        return subprocess.run(command, timeout=120, **options)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run(command, stdout=out, stderr=err, timeout=120, **options)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, done.returncode, out.read(), err.read())


def wine(program, *arguments, **options):
    env = dict(os.environ, **options.pop("env", {}))
    return run(["wine", program, *arguments], env=env, **options)


def same_folders(a, b):
    names = sorted(os.listdir(a))
    if names != sorted(os.listdir(b)):
        return False
    match, mismatch, errors = filecmp.cmpfiles(a, b, names, shallow=False)
    return not mismatch and not errors


def archives(folder):
    return [(folder / name).read_bytes() for name in ("GRPFACES.S10", "GRPFACET.S10")]


def batch(windows_build, linux_build):
    exe = windows_build / "src" / "pelloran-batch.exe"
    linux = linux_build / "src" / "pelloran-batch"
    root = Path(tempfile.mkdtemp(prefix="pelloran-wine-"))
    try:
        pair = root / "头像 存档"
        run([linux_build / "tools" / "make-demo-archives", pair], check=True)
        large = pair / "GRPFACES.S10"
        original = archives(pair)

        # The same pack, byte for byte.
        for form in ("bmp", "png"):
            ours, theirs = root / f"windows {form}", root / f"linux {form}"
            done = wine(exe, "export", large, ours, "--format", form)
            run([linux, "export", large, theirs, "--format", form], check=True)
            check(done.returncode == 0, f"export --format {form} succeeds: {done.stderr!r}")
            if form == "bmp":
                check(same_folders(ours, theirs), "the BMP pack is the Linux one, byte for byte")
            else:
                check(sorted(os.listdir(ours)) == sorted(os.listdir(theirs)),
                      "the PNG pack has the Linux pack's files")

        # Messages in a pipe are UTF-8, as on Linux (line ends aside).
        mine = wine(exe, "info", large).stdout.replace(b"\r\n", b"\n")
        reference = run([linux, "info", large]).stdout
        check(mine == reference, f"info prints the Linux text: {mine[:120]!r}")

        # On a console, the text reaches the terminal as Chinese (Wine
        # turns WriteConsoleW into the terminal's UTF-8), and the progress
        # line is drawn.
        seen = run(["script", "-qefc",
                    f"wine '{exe}' export '{large}' '{root / 'console'}'", "/dev/null"],
                   env=dict(os.environ, PELLORAN_PROGRESS_DELAY="0")).stdout
        check("已导出".encode() in seen and "导出 1664/1664".encode() in seen,
              f"a console shows the Chinese lines and the progress: {seen[-160:]!r}")

        # Import an edited pack and undo it: the archives are the Linux ones.
        edited = root / "edited"
        shutil.copytree(root / "windows bmp", edited)
        for name in ("001.bmp", "002T.BMP", "832.bmp"):
            data = bytearray((edited / name).read_bytes())
            data[-40:-20] = bytes(20)
            (edited / name).write_bytes(data)
        twin = root / "linux pair"
        shutil.copytree(pair, twin)
        done = wine(exe, "import", large, edited)
        run([linux, "import", twin / "GRPFACES.S10", edited], check=True)
        check(done.returncode == 0, f"import succeeds: {done.stderr!r}")
        check(archives(pair) == archives(twin), "the imported archives are the Linux ones")
        done = wine(exe, "undo", large)
        check(done.returncode == 0 and archives(pair) == original,
              f"undo gives back the archives: {done.stdout!r} {done.stderr!r}")

        # Another process holds the writer lock: the import waits, then
        # refuses with the reason; once the lock is let go it succeeds.
        holder = subprocess.Popen(["wine", windows_build / "tests" / "hold_lock.exe", large],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        check(holder.stdout.readline().strip() == b"held", "a second process takes the lock")
        start = time.monotonic()
        done = wine(exe, "import", large, edited, env={"PELLORAN_LOCK_WAIT": "1"})
        check(done.returncode == 1 and archives(pair) == original,
              f"an import refuses while another process writes: {done.stderr.decode()!r}")
        check(time.monotonic() - start < 30, "and does not wait long")
        holder.stdin.close()
        holder.wait(timeout=30)
        done = wine(exe, "import", large, edited)
        check(done.returncode == 0 and archives(pair) == archives(twin),
              "the import succeeds once the lock is free")

    finally:
        shutil.rmtree(root)


def window(windows_build, linux_build, screenshot):
    from PIL import Image

    root = Path(tempfile.mkdtemp(prefix="pelloran-wine-"))
    display = ":97"
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                              stderr=subprocess.DEVNULL)
    editor = None
    try:
        pair = root / "头像 存档"
        run([linux_build / "tools" / "make-demo-archives", pair], check=True)
        run([linux_build / "src" / "pelloran-batch", "export", pair / "GRPFACES.S10",
             root / "pack", "--numbers", "1"], check=True)
        env = dict(os.environ, DISPLAY=display)
        env.pop("QT_QPA_PLATFORM", None)
        editor = subprocess.Popen(["wine", windows_build / "src" / "pelloran.exe",
                                   pair / "GRPFACES.S10"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        portrait = Image.open(root / "pack" / "001.bmp").convert("RGB")
        found = None
        for _ in range(60):
            time.sleep(1)
            shot = root / "screen.png"
            if run(["import", "-display", display, "-window", "root", shot]).returncode != 0:
                continue
            screen = Image.open(shot).convert("RGB")
            found = find(screen, portrait)
            if found:
                break
        check(found is not None, "the window shows portrait 1's exact pixels")
        if found:
            time.sleep(1)
            run(["import", "-display", display, "-window", "root", screenshot], check=True)
            check(drawn_in_chinese(Image.open(screenshot).convert("RGB")),
                  "the captions are drawn with a Chinese font")
    finally:
        if editor:
            editor.kill()
        server.kill()
        shutil.rmtree(root)


def find(screen, picture):
    """Where the picture's pixels lie in the screen, exactly; None if nowhere."""
    width, height = picture.size
    rows = [picture.crop((0, y, width, y + 1)).tobytes() for y in range(height)]
    data, stride = screen.tobytes(), screen.size[0] * 3
    start = data.find(rows[0])
    while start >= 0:
        if start % 3 == 0 and (start % stride) // 3 + width <= screen.size[0]:
            if all(data[start + y * stride:start + y * stride + len(rows[y])] == rows[y]
                   for y in range(height)):
                return ((start % stride) // 3, start // stride)
        start = data.find(rows[0], start + 1)
    return None


def drawn_in_chinese(screen):
    """The "打开文件" button's caption, drawn by Wine, against the same caption
    drawn with WenQuanYi Zen Hei: a missing font gives empty boxes or nothing,
    whose dark pixels fill columns unlike the glyphs'."""
    from PIL import Image, ImageDraw, ImageFont

    font = ImageFont.truetype("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", 12)
    reference = Image.new("L", (80, 20), 255)
    ImageDraw.Draw(reference).text((0, 0), "打开文件", font=font, fill=0)
    expected = [sum(1 for y in range(20) if reference.getpixel((x, y)) < 128) for x in range(80)]
    inked = [x for x, c in enumerate(expected) if c]
    expected = expected[inked[0]:inked[-1] + 1]
    grey = screen.convert("L")
    best = 0.0
    # Wherever a run of dark columns as wide as the caption lies, compare.
    for top in range(0, grey.size[1] - 20, 2):
        band = [sum(1 for y in range(top, top + 20) if grey.getpixel((x, y)) < 100)
                for x in range(grey.size[0])]
        for left in range(0, len(band) - len(expected)):
            if not band[left]:
                continue
            window = band[left:left + len(expected)]
            overlap = sum(min(a, b) for a, b in zip(window, expected))
            score = overlap / max(sum(window), sum(expected))
            best = max(best, score)
    print(f"     caption likeness {best:.2f}")
    return best > 0.7


def main():
    what, windows_build, linux_build = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3])
    # Both builds in their own language, Chinese, whatever this machine's is:
    # without a locale in the environment the Windows programs would follow
    # the language Wine gives Windows.
    os.environ.update(LANGUAGE="", LC_ALL="C.UTF-8")
    # Each run has a Wine of its own: a desktop left by an earlier run was
    # made without this run's X server, and the window would open on it,
    # unseen. The server is started first, holding none of our pipes, and
    # whatever Wine started is ended with the run, holding none of ctest's.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 timeout=60)
    subprocess.run(["wineserver", "-k"], **quiet)
    subprocess.run(["wineserver", "-w"], **quiet)
    subprocess.run(["wineserver", "-p60"], **quiet)
    try:
        if what == "batch":
            batch(windows_build, linux_build)
        else:
            window(windows_build, linux_build, Path(sys.argv[4]))
    finally:
        subprocess.run(["wineserver", "-k"], **quiet)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
