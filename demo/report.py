#!/usr/bin/python3
"""Prints a table of the snapshots in a folder (name, size, width x height) and writes a PNG copy of
each into FOLDER/png/, with the window screenshot taken mid-batch if there is one.
  report.py FOLDER"""
import os
import sys

from PIL import Image


def main():
    folder = sys.argv[1]
    png = os.path.join(folder, "png")
    os.makedirs(png, exist_ok=True)
    names = sorted(n for n in os.listdir(folder) if n.endswith(".jpg"))
    width = max([len(n) for n in names] + [4])
    print(f"{'name':<{width}}  {'bytes':>12}  size")
    for name in names:
        path = os.path.join(folder, name)
        try:
            image = Image.open(path)
            image.load()
            size = f"{image.size[0]} x {image.size[1]}"
            image.convert("RGB").save(os.path.join(png, name[:-4] + ".png"))
        except OSError as e:
            size = f"unreadable ({e})"
        print(f"{name:<{width}}  {os.path.getsize(path):>12}  {size}")
    shot = os.path.join(folder, "batch", "window.bmp")
    if os.path.exists(shot):
        Image.open(shot).convert("RGB").save(os.path.join(png, "window-mid-batch.png"))
    print(f"\nPNG copies: {png}")


if __name__ == "__main__":
    main()
