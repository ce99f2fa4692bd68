"""Checks a picture as a person sees it: rsvg-convert draws the SVG into a
PNG with room around it, and nothing may be drawn outside the picture's own
frame (a label or a point cut off at the edge); every data point must lie in
the plot's frame and show on the page.

    python3 picture_check.py FILE.svg ...   (exit 1 and a message on a fault)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

NS = "{http://www.w3.org/2000/svg}"
PAD = 40


def rsvg():
    found = shutil.which("rsvg-convert")
    if not found:
        raise RuntimeError("rsvg-convert is missing (Debian package librsvg2-bin)")
    return found


def decode_png(data):
    """Width, height and RGBA rows of an 8-bit RGBA PNG (rsvg-convert's kind)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, chunks, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour == 6 and interlace == 0, "unexpected PNG layout"
    raw = zlib.decompress(b"".join(chunks))
    stride, rows, prev = width * 4, [], bytearray(width * 4)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(4, stride):
                line[i] = (line[i] + line[i - 4]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, prev))
        elif kind == 3:
            for i in range(stride):
                left = line[i - 4] if i >= 4 else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - 4] if i >= 4 else 0
                b, c = prev[i], prev[i - 4] if i >= 4 else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, rows


def inked(rows, x, y):
    r, g, b, a = rows[y][4 * x:4 * x + 4]
    return a > 40 and min(r, g, b) < 235


def size_of(root):
    return float(root.get("width")), float(root.get("height"))


def padded(text, width, height):
    """The same picture on a canvas larger by PAD on every side."""
    root_start = text.index("<svg")
    root_end = text.index(">", root_start)
    root = text[root_start:root_end]
    import re
    root = re.sub(r'width="[^"]*"', f'width="{width + 2 * PAD:.2f}"', root, count=1)
    root = re.sub(r'height="[^"]*"', f'height="{height + 2 * PAD:.2f}"', root, count=1)
    root = re.sub(r'viewBox="[^"]*"',
                  f'viewBox="{-PAD} {-PAD} {width + 2 * PAD:.2f} {height + 2 * PAD:.2f}"', root)
    return text[:root_start] + root + text[root_end:]


def render(text, folder, name):
    svg, png = os.path.join(folder, name + ".svg"), os.path.join(folder, name + ".png")
    with open(svg, "w", encoding="utf-8") as f:
        f.write(text)
    subprocess.run([rsvg(), "-o", png, svg], check=True, timeout=120)
    with open(png, "rb") as f:
        return decode_png(f.read())


def check(path):
    """Faults of the picture at path, as a list of messages (empty: fine)."""
    text = open(path, encoding="utf-8").read()
    root = ET.fromstring(text.encode("utf-8"))
    width, height = size_of(root)
    faults = []
    with tempfile.TemporaryDirectory() as folder:
        w, h, rows = render(padded(text, width, height), folder, "padded")
        outside = [(x - PAD, y - PAD) for y in range(h) for x in range(w)
                   if (x < PAD - 1 or x > PAD + width or y < PAD - 1 or y > PAD + height)
                   and inked(rows, x, y)]
        if outside:
            faults.append(f"{path}: {len(outside)} pixels drawn outside the picture, "
                          f"first at {outside[0]}")
        frame = root.find(f"{NS}defs/{NS}clipPath/{NS}rect")
        points = [e for e in root.iter(NS + "circle") if e.get("class") == "point"]
        if points and frame is None:
            faults.append(f"{path}: points but no plot frame")
        elif points:
            fx, fy = float(frame.get("x")), float(frame.get("y"))
            fw, fh = float(frame.get("width")), float(frame.get("height"))
            for e in points:
                cx, cy = float(e.get("cx")), float(e.get("cy"))
                if not (fx <= cx <= fx + fw and fy <= cy <= fy + fh):
                    faults.append(f"{path}: point at ({cx}, {cy}) outside the frame")
                    break
                if not inked(rows, int(round(cx)) + PAD, int(round(cy)) + PAD):
                    faults.append(f"{path}: the point at ({cx}, {cy}) does not show")
                    break
    return faults


def main(paths):
    faults = [fault for path in paths for fault in check(path)]
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
