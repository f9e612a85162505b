#!/usr/bin/python3
"""Checks the snapshots a batch stored, with tools of its own (Pillow, hashlib, the browser's own
screenshot), never the program's code:

  check_snapshots.py OUTPUT_FOLDER SITE_URL [--no-reference] [--pages N,N...]

The batch ran with the options sequence number, MD5 and title ticked. Every file is a valid 32-bit top-down BMP; its name is what the ticked options build; the digest in
the name is the MD5 of the file; its pixels equal the browser's own screenshot of the same page at
the same size, within a small tolerance. Exit status 0 when every check passed, 1 otherwise."""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

REMOVED = set('/\\|*?:,<>" ') | {"\u3000"}


def clean(text):
    return "".join(c for c in text if c not in REMOVED)


def expected_pages(site):
    """Sequence number -> (address, title or None when the browser decides it). The unreachable
    address has no page of its own to compare with: the browser's --screenshot writes nothing for
    it, so its snapshot is checked for everything but the pixels."""
    return {
        1: (f"{site}/index.html", "示例站点：首页"),
        3: (f"{site}/plain.html", "Plain: a page behind spaces"),
        4: (f"{site}/tall.html", "Tall page"),
        5: ("http://127.0.0.1:9/", None),
        6: (f"{site}/slow.html", "慢页面"),
    }


def read_bmp_header(data):
    if len(data) < 54 or data[:2] != b"BM":
        raise ValueError("not a BMP file")
    size, _, _, offset = struct.unpack_from("<IHHI", data, 2)
    header, width, height, planes, bits, compression, image_size = struct.unpack_from("<IiiHHII", data, 14)
    if size != len(data) or offset != 54 or header != 40 or planes != 1 or bits != 32 or compression != 0:
        raise ValueError("unexpected BMP header fields")
    if height >= 0 or image_size != width * -height * 4 or size != image_size + 54:
        raise ValueError("not a top-down 32-bit image of the stated size")
    return width, -height


def decode(path):
    with open(path, "rb") as f:
        data = f.read()
    width, height = read_bmp_header(data)
    image = Image.open(path)
    image.load()
    if image.size != (width, height):
        raise ValueError(f"decoder sees {image.size}, header says {width}x{height}")
    return data, image.convert("RGB")


def reference_screenshot(url, width, height, wait_ms, folder):
    out = os.path.join(folder, "reference.png")
    profile = tempfile.mkdtemp(dir=folder)
    # --timeout stops the load after that long; 0 does not mean "none" (the shot comes out blank,
    # or never comes), so it is passed only for a page that never finishes.
    stop_after = [f"--timeout={wait_ms}"] if wait_ms > 0 else []
    subprocess.run(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", f"--user-data-dir={profile}", f"--window-size={width},{height}",
         f"--screenshot={out}", url] + stop_after,
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    image = Image.open(out)
    image.load()
    return image.convert("RGB")


def compare(image, reference):
    """Share of pixels whose channels differ by more than 16, and the mean difference."""
    if image.size != reference.size:
        return 1.0, 255.0
    diff = ImageChops.difference(image, reference).convert("L")
    histogram = diff.histogram()
    total = image.size[0] * image.size[1]
    off = sum(histogram[17:]) / total
    mean = sum(i * n for i, n in enumerate(histogram)) / total
    return off, mean


def check(folder, site, use_reference, only=None):
    failures = []
    pages = expected_pages(site)
    if only:
        pages = {n: p for n, p in pages.items() if n in only}
    names = sorted(n for n in os.listdir(folder) if n.endswith(".jpg"))
    if "Temp.jpg" in names:
        failures.append("Temp.jpg is left over: a rename failed")
        names.remove("Temp.jpg")
    seen = set()
    for name in names:
        path = os.path.join(folder, name)
        problem = lambda why: failures.append(f"{name}: {why}")
        match = re.match(r"^(\d+)_([0-9a-f]{32})_(.*)\.jpg$", name)
        if not match:
            problem("name is not sequence_digest_title.jpg")
            continue
        number, digest, title = int(match.group(1)), match.group(2), match.group(3)
        if number not in pages:
            if not only:
                problem(f"no page has sequence number {number}")
            continue
        seen.add(number)
        url, expected_title = pages[number]
        if expected_title is not None and title != clean(expected_title):
            problem(f"title part {title!r}, expected {clean(expected_title)!r}")
        if clean(title) != title:
            problem("title part keeps characters that are removed from names")
        try:
            data, image = decode(path)
        except (ValueError, OSError) as e:
            problem(f"not a valid BMP: {e}")
            continue
        if hashlib.md5(data).hexdigest() != digest:
            problem("the digest in the name is not the file's MD5")
        if use_reference and expected_title is not None:
            with tempfile.TemporaryDirectory() as scratch:
                wait = 4000 if "slow" in url else 0
                try:
                    reference = reference_screenshot(url, image.size[0], image.size[1], wait, scratch)
                except (subprocess.SubprocessError, OSError) as e:
                    problem(f"the browser's own screenshot failed: {e}")
                    continue
                off, mean = compare(image, reference)
                if off > 0.01 or mean > 2.0:
                    problem(f"pixels differ from the browser's own screenshot "
                            f"({off:.2%} of pixels off, mean difference {mean:.2f})")
        print(f"checked {name}: {image.size[0]} x {image.size[1]}")
    for number in sorted(set(pages) - seen):
        failures.append(f"no snapshot stored for sequence number {number}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("site")
    parser.add_argument("--no-reference", action="store_true")
    parser.add_argument("--pages", help="check only these sequence numbers")
    args = parser.parse_args()
    only = {int(n) for n in args.pages.split(",")} if args.pages else None
    failures = check(args.folder, args.site, not args.no_reference, only)
    for f in failures:
        print("FAIL " + f)
    print("snapshots: " + ("all checks passed" if not failures else f"{len(failures)} problems"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
