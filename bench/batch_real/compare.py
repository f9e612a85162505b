#!/usr/bin/python3
"""Compares the program's stored image (a 32-bit BMP, whatever its name) with the peer's PNG of
the same page, a band of rows at a time so that a 1.4 GB image never sits in memory twice.
Prints one line of JSON: both sizes, how many pixels differ, where, where each image turns white
for good, and how many rows are blank in one image where the other shows the page. With EVIDENCE, the rows around the first difference are saved there, ours on the
left, the peer's on the right.
    compare.py PROGRAM_IMAGE PEER_PNG [EVIDENCE_PNG]"""
import json
import struct
import sys

from PIL import Image, ImageChops

Image.MAX_IMAGE_PIXELS = None  # the pages are tall on purpose
BAND = 256
WHITE = ((255, 255),) * 3


class Bmp:
    """Rows of an uncompressed 32-bit BMP read straight from the file."""

    def __init__(self, path):
        self.file = open(path, "rb")
        head = self.file.read(54)
        if head[:2] != b"BM":
            raise ValueError("not a BMP")
        self.offset = struct.unpack_from("<I", head, 10)[0]
        self.width, height = struct.unpack_from("<ii", head, 18)
        bits = struct.unpack_from("<H", head, 28)[0]
        if bits != 32:
            raise ValueError(f"{bits}-bit BMP")
        self.bottom_up = height > 0
        self.height = abs(height)

    def rows(self, top, bottom):
        stride = self.width * 4
        first = self.height - bottom if self.bottom_up else top
        self.file.seek(self.offset + first * stride)
        data = self.file.read((bottom - top) * stride)
        return Image.frombytes("RGB", (self.width, bottom - top), data, "raw", "BGRX", 0,
                               -1 if self.bottom_up else 1)


def differing_mask(a, b):
    r, g, b_ = ImageChops.difference(a, b).split()
    return ImageChops.lighter(ImageChops.lighter(r, g), b_)


def not_white_bottom(band):
    """The row below the band's last non-white row, or None when the band is all white."""
    box = ImageChops.invert(band).getbbox()
    return box[3] if box else None


def ink_end(image_rows, height):
    end = 0
    for top in range(0, height, BAND):
        ink = not_white_bottom(image_rows(top, min(top + BAND, height)))
        if ink is not None:
            end = top + ink
    return end


def compare(program_path, peer_path, evidence_path=None):
    ours = Bmp(program_path)
    result = {"program_size": [ours.width, ours.height]}
    try:
        peer = Image.open(peer_path)
        peer.load()
    except FileNotFoundError:  # the peer failed on this page: what can be said of ours alone
        result["program_ink_end"] = ink_end(ours.rows, ours.height)
        return result
    if peer.mode != "RGB":
        peer = peer.convert("RGB")
    width = min(ours.width, peer.width)
    height = min(ours.height, peer.height)
    result["peer_size"] = list(peer.size)
    differing = 0
    spans = []  # [top, bottom) of rows with differences, bands next to each other merged
    peer_ink_end = 0  # below this row the peer's image is all white
    ours_ink_end = 0
    # Bands of rows blank in one image where the other shows something.
    ours_blank = peer_blank = 0
    for top in range(0, height, BAND):
        bottom = min(top + BAND, height)
        a = ours.rows(top, bottom).crop((0, 0, width, bottom - top))
        b = peer.crop((0, top, width, bottom))
        mask = differing_mask(a, b)
        box = mask.getbbox()
        if box:
            differing += width * (bottom - top) - mask.histogram()[0]
            if spans and spans[-1][1] >= top:
                spans[-1][1] = top + box[3]
            else:
                spans.append([top + box[1], top + box[3]])
        theirs_ink, our_ink = not_white_bottom(b), not_white_bottom(a)
        if theirs_ink is not None:
            peer_ink_end = top + theirs_ink
        if our_ink is not None:
            ours_ink_end = top + our_ink
        if our_ink is None and theirs_ink is not None:
            ours_blank += bottom - top
        if theirs_ink is None and our_ink is not None:
            peer_blank += bottom - top
    if spans and evidence_path:
        top = max(0, spans[0][0] - 100)
        bottom = min(height, top + 1000)
        side = Image.new("RGB", (2 * width + 8, bottom - top), (255, 0, 0))
        side.paste(ours.rows(top, bottom).crop((0, 0, width, bottom - top)), (0, 0))
        side.paste(peer.crop((0, top, width, bottom)), (width + 8, 0))
        side.save(evidence_path)
        result["evidence"] = [evidence_path, top]
    # Whatever lies outside the common area differs too.
    differing += ours.width * ours.height + peer.width * peer.height - 2 * width * height
    result.update(differing_pixels=differing, differing_spans=spans[:20], span_count=len(spans),
                  peer_ink_end=peer_ink_end, program_ink_end=ours_ink_end, compared_height=height,
                  program_blank_rows=ours_blank, peer_blank_rows=peer_blank)
    return result


if __name__ == "__main__":
    try:
        print(json.dumps(compare(*sys.argv[1:4])))
    except Exception as e:  # a missing or broken image is a row of the table, not the end of it
        print(json.dumps({"error": f"{type(e).__name__}: {e}"}))
