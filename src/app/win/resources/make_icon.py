#!/usr/bin/env python3
"""Makes the program's Windows icon group from the PNG images of data/icons (which are made
from data/icons/quillmesh-updater.svg): one .ico with a 32 x 32 and a 16 x 16 image, 16 colours
each (4 bits per pixel, the 16 colours of the standard Windows palette), a pixel transparent
where the PNG is more than half transparent.

    make_icon.py OUT.ico IN-32.png IN-16.png

Standard library only: the PNGs are 8-bit RGBA, not interlaced, as rsvg-convert writes them.
"""
import struct
import sys
import zlib

# The 16 colours of the standard Windows (VGA) palette, in palette order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def read_png(path):
    """Width, height and rows of (r, g, b, a) pixels of an 8-bit RGBA PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    position, idat, header = 8, b"", None
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        sys.exit(f"{path}: only 8-bit RGBA PNGs without interlacing")
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left = line[x - 4] if x >= 4 else 0
            up = previous[x]
            corner = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - corner
                nearest = min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                              (abs(guess - corner), 2, corner))[2]
                line[x] = (line[x] + nearest) & 0xFF
        rows.append([tuple(line[x:x + 4]) for x in range(0, stride, 4)])
        previous = line
    return width, height, rows


def nearest_colour(pixel):
    r, g, b, _ = pixel
    return min(range(16), key=lambda i: (PALETTE[i][0] - r) ** 2 + (PALETTE[i][1] - g) ** 2 +
               (PALETTE[i][2] - b) ** 2)


def icon_image(width, height, rows):
    """The image as an icon stores it: a BITMAPINFOHEADER of twice the height, the palette, the
    4-bit colour rows and the 1-bit transparency mask, both bottom-up, rows padded to 4 bytes."""
    colour_stride = ((width * 4 + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    colours, mask = b"", b""
    for row in reversed(rows):
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            transparent = pixel[3] < 128
            index = 0 if transparent else nearest_colour(pixel)
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += bytes(line)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + colours + mask


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    images = [(w, h, icon_image(w, h, rows))
              for w, h, rows in (read_png(path) for path in sys.argv[2:])]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, image in images:
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 16, 0, 1, 4,
                                 len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(image for _, _, image in images))


if __name__ == "__main__":
    main()
