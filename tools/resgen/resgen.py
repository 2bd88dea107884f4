#!/usr/bin/env python3
"""Writes the program's icon and tracker cursors from readable sources.

The cursors come from text art (res/cursors/track_NNN.txt); the icon is drawn
by the code below at each of its sizes. Outputs, all into --out:

  parlex.ico          icon 128: five 32-bit images, 256, 48, 32, 24, 16
  parlex_NNN.png      the same five images as PNG files (the desktop's icon theme)
  track_207.cur ...   cursors 207-212: a 32x32 and a 16x16 monochrome image
  parlex.manifest is not made here (CMake configures it).

With --cpp FILE it also writes the same bytes as C++ arrays behind the API of
res/resource_data.h, for the build that has no resource compiler. With
--preview DIR it writes enlarged PNG pictures of every image for a look.

Standard library only: this runs on the build host for both builds.
"""

import argparse
import math
import os
import struct
import sys
import zlib

ICON_SIZES = (256, 48, 32, 24, 16)
CURSOR_IDS = (207, 208, 209, 210, 211, 212)

# ---------------------------------------------------------------------------
# Cursor text art


class ArtError(Exception):
    pass


def parse_cursor_art(path):
    """Returns [(size, (hx, hy), rows)] from a text-art file.

    rows are strings of '#' (black), '+' (white) and '.' (transparent).
    """
    images = []
    current = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n").rstrip("\r")
            where = f"{path}:{number}"
            if not line or line.startswith(";"):
                continue
            if line.startswith("image"):
                parts = line.split()
                if len(parts) != 5 or parts[2] != "hotspot":
                    raise ArtError(f"{where}: expected 'image SIZE hotspot X Y'")
                size, hx, hy = int(parts[1]), int(parts[3]), int(parts[4])
                if size not in (16, 32, 48, 64) or not (0 <= hx < size and 0 <= hy < size):
                    raise ArtError(f"{where}: bad size or hotspot")
                current = (size, (hx, hy), [])
                images.append(current)
                continue
            if current is None:
                raise ArtError(f"{where}: pixels before an image line")
            if len(line) != current[0] or any(c not in "#+." for c in line):
                raise ArtError(f"{where}: a row is {current[0]} of '#', '+', '.'")
            if len(current[2]) == current[0]:
                raise ArtError(f"{where}: too many rows")
            current[2].append(line)
    for size, _, rows in images:
        if len(rows) != size:
            raise ArtError(f"{path}: an image of size {size} has {len(rows)} rows")
    if not images:
        raise ArtError(f"{path}: no image")
    return images


def mono_dib(rows):
    """A 1-bit DIB (header, palette, XOR mask, AND mask) for a cursor image."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4

    def mask(bit_of):
        out = bytearray()
        for row in reversed(rows):  # DIB rows run bottom-up
            line = bytearray(stride)
            for x, c in enumerate(row):
                if bit_of(c):
                    line[x // 8] |= 0x80 >> (x % 8)
            out += line
        return bytes(out)

    xor = mask(lambda c: c == "+")  # colour index 1 = white
    and_ = mask(lambda c: c == ".")  # 1 = leave the screen as it is
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, len(xor) + len(and_), 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    return header + palette + xor + and_


def icon_container(kind, entries):
    """An .ico (kind 1) or .cur (kind 2) file.

    entries: [(width, height, colour_count, field_a, field_b, data)] where the
    two fields are planes and bit count for icons, the hotspot for cursors.
    """
    out = bytearray(struct.pack("<HHH", 0, kind, len(entries)))
    offset = 6 + 16 * len(entries)
    blobs = []
    for width, height, colours, a, b, data in entries:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, colours, 0, a, b, len(data), offset)
        offset += len(data)
        blobs.append(data)
    for data in blobs:
        out += data
    return bytes(out)


def cursor_file(path):
    entries = []
    for size, (hx, hy), rows in parse_cursor_art(path):
        entries.append((size, size, 2, hx, hy, mono_dib(rows)))
    return icon_container(2, entries)


# ---------------------------------------------------------------------------
# Icon drawing: a speech bubble with three dots, drawn with signed distances
# so that every size gets its own anti-aliased edges instead of a scaled copy.


def sd_round_rect(px, py, cx, cy, hw, hh, r):
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_triangle(px, py, a, b, c):
    # Distance to a filled triangle: nearest edge, signed by the side tests.
    def seg(p0, p1):
        ex, ey = p1[0] - p0[0], p1[1] - p0[1]
        wx, wy = px - p0[0], py - p0[1]
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
        dx, dy = wx - ex * t, wy - ey * t
        return dx * dx + dy * dy, wx * ey - wy * ex

    d1, s1 = seg(a, b)
    d2, s2 = seg(b, c)
    d3, s3 = seg(c, a)
    d = math.sqrt(min(d1, d2, d3))
    inside = (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
    return -d if inside else d


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


BUBBLE = dict(cx=0.5, cy=0.43, hw=0.44, hh=0.33, r=0.19)
TAIL = ((0.22, 0.62), (0.48, 0.70), (0.13, 0.93))
DOTS = ((0.29, 0.43), (0.50, 0.43), (0.71, 0.43))
TOP_COLOUR = (0x5B, 0xB0, 0xFF)
BOTTOM_COLOUR = (0x1C, 0x6C, 0xE0)
EDGE_COLOUR = (0x10, 0x4F, 0xAE)


# Small sizes get a stubbier tail: a thin tip would fade to nothing.
SMALL_TAIL = ((0.20, 0.60), (0.52, 0.70), (0.16, 0.92))


def bubble_distance(u, v, tail=TAIL):
    b = BUBBLE
    return min(sd_round_rect(u, v, b["cx"], b["cy"], b["hw"], b["hh"], b["r"]), sd_triangle(u, v, *tail))


def clamp01(x):
    return 0.0 if x < 0.0 else 1.0 if x > 1.0 else x


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def snapped_dots(size):
    """Dot centres and radius in unit coordinates. Small sizes put the dots on
    the pixel grid, so that each is a crisp blob instead of a smear."""
    r = 0.065
    if size >= 48:
        return DOTS, r
    diameter = max(2, round(2 * r * size))
    offset = 0.0 if diameter % 2 == 0 else 0.5
    dots = tuple(((math.floor(cx * size - offset + 0.5) + offset) / size,
                  (math.floor(cy * size - offset + 0.5) + offset) / size) for cx, cy in DOTS)
    return dots, diameter / 2 / size


def draw_icon(size):
    """RGBA rows (top-down) of the icon at one size, straight alpha."""
    edge_px = max(1.0, size * 0.035)
    dots, dot_r = snapped_dots(size)
    tail = TAIL if size >= 32 else SMALL_TAIL
    shadow = size >= 32  # a soft shadow reads well only where there is room
    blur = max(1.0, size * 0.03)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            u, v = (x + 0.5) / size, (y + 0.5) / size
            d = bubble_distance(u, v, tail) * size  # in pixels
            body = clamp01(0.5 - d)
            inner = clamp01(0.5 - (d + edge_px))
            fill = mix(TOP_COLOUR, BOTTOM_COLOUR, clamp01((v - 0.10) / 0.75))
            colour = mix(EDGE_COLOUR, fill, inner)
            if size >= 32:
                dd = min(sd_circle(u, v, cx, cy, dot_r) for cx, cy in dots) * size
            else:  # squarish dots fill their few pixels
                dd = min(sd_round_rect(u, v, cx, cy, dot_r, dot_r, dot_r * 0.4) for cx, cy in dots) * size
            colour = mix(colour, (255, 255, 255), clamp01(0.5 - dd) * inner)
            alpha = body
            if shadow:
                ds = bubble_distance(u - 0.015, v - 0.03, tail) * size
                sh = 0.35 * clamp01(0.5 - ds / blur) * (1.0 - body)
                total = body + sh
                if total > 0:
                    colour = tuple(c * body / total for c in colour)
                alpha = total
            a = int(round(alpha * 255))
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(c)) for c in colour) + (a,))
        rows.append(row)
    return rows


def rgba_dib(rows):
    """A 32-bit DIB with an AND mask for an icon image."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    and_ = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        and_ += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(and_)


def icon_file():
    entries = []
    images = {}
    for size in ICON_SIZES:
        rows = draw_icon(size)
        images[size] = rows
        entries.append((size, size, 0, 1, 32, rgba_dib(rows)))
    return icon_container(1, entries), images


# ---------------------------------------------------------------------------
# Outputs


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def cpp_array(name, data):
    lines = [f"const std::uint8_t {name}[{len(data)}] = {{"]
    for i in range(0, len(data), 24):
        lines.append("    " + ",".join(str(b) for b in data[i : i + 24]) + ",")
    lines.append("};")
    return "\n".join(lines)


def cpp_source(icon, cursors):
    parts = [
        "// Generated by tools/resgen/resgen.py from res/cursors/*.txt and its icon drawing. Do not edit.",
        '#include "resource_data.h"',
        "",
        "namespace parlex::res {",
        "namespace {",
        cpp_array("kIcon", icon),
    ]
    for cid in CURSOR_IDS:
        parts.append(cpp_array(f"kCursor{cid}", cursors[cid]))
    parts += [
        "}  // namespace",
        "",
        "std::span<const std::uint8_t> IconFile() { return kIcon; }",
        "",
        "std::span<const std::uint8_t> CursorFile(int id) {",
        "  switch (id) {",
    ]
    for cid in CURSOR_IDS:
        parts.append(f"    case {cid}:")
        parts.append(f"      return kCursor{cid};")
    parts += ["  }", "  return {};", "}", "", "}  // namespace parlex::res", ""]
    return "\n".join(parts).encode()


def png(width, height, rgba_rows):
    raw = bytearray()
    for row in rgba_rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


def on_checkerboard(rows, scale, cell=4):
    """Enlarged copy of RGBA rows over a grey checkerboard, so that white,
    black and transparent can all be told apart."""
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            for sx in range(scale):
                line.append((r, g, b, a))
        for sy in range(scale):
            yy = y * scale + sy
            out_row = []
            for xx, (r, g, b, a) in enumerate(line):
                bg = 160 if ((xx // (cell * scale // 4 or 1)) + (yy // (cell * scale // 4 or 1))) % 2 else 200
                t = a / 255.0
                out_row.append(tuple(int(round(c * t + bg * (1 - t))) for c in (r, g, b)) + (255,))
            out.append(out_row)
    return out


def art_rgba(rows):
    colours = {"#": (0, 0, 0, 255), "+": (255, 255, 255, 255), ".": (0, 0, 0, 0)}
    return [[colours[c] for c in row] for row in rows]


def write_previews(directory, icon_images, cursor_dir):
    os.makedirs(directory, exist_ok=True)
    for size, rows in icon_images.items():
        scale = max(1, 256 // size)
        big = on_checkerboard(rows, scale)
        write_if_changed(os.path.join(directory, f"icon_{size}.png"), png(len(big[0]), len(big), big))
    for cid in CURSOR_IDS:
        for size, (hx, hy), rows in parse_cursor_art(os.path.join(cursor_dir, f"track_{cid}.txt")):
            scale = 256 // size
            big = on_checkerboard(art_rgba(rows), scale)
            # mark the hotspot with a small red square
            for yy in range(hy * scale + scale // 2 - 2, hy * scale + scale // 2 + 2):
                for xx in range(hx * scale + scale // 2 - 2, hx * scale + scale // 2 + 2):
                    big[yy][xx] = (255, 0, 0, 255)
            write_if_changed(os.path.join(directory, f"cursor_{cid}_{size}.png"), png(len(big[0]), len(big), big))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cursors", required=True, help="directory of the cursor text art")
    parser.add_argument("--out", required=True, help="directory for the .ico and .cur files")
    parser.add_argument("--cpp", help="also write the files as a C++ source for res/resource_data.h")
    parser.add_argument("--preview", help="also write enlarged PNG pictures into this directory")
    args = parser.parse_args(argv)
    try:
        cursors = {cid: cursor_file(os.path.join(args.cursors, f"track_{cid}.txt")) for cid in CURSOR_IDS}
    except (ArtError, OSError, ValueError) as e:
        print(f"resgen: {e}", file=sys.stderr)
        return 1
    icon, icon_images = icon_file()
    os.makedirs(args.out, exist_ok=True)
    write_if_changed(os.path.join(args.out, "parlex.ico"), icon)
    for size, rows in icon_images.items():
        write_if_changed(os.path.join(args.out, f"parlex_{size}.png"), png(size, size, rows))
    for cid, data in cursors.items():
        write_if_changed(os.path.join(args.out, f"track_{cid}.cur"), data)
    if args.cpp:
        write_if_changed(args.cpp, cpp_source(icon, cursors))
    if args.preview:
        write_previews(args.preview, icon_images, args.cursors)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
