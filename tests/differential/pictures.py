"""Writes and reads the pictures of the differential test where no command-line tool does
exactly what the test needs. Every picture is read by Pillow, never by the library under test.

  pictures.py save IN OUT [MODE] [KEY=VALUE...]  Pillow saves IN (converted to MODE, or to N
                                                 colours for QN) as OUT; values are numbers,
                                                 or tuples of them, where they look so
  pictures.py pam IN                             Pillow's decode of IN, as a PAM on stdout
  pictures.py rechunk IN OUT SIZE                the PNG's image data in chunks of SIZE bytes
  pictures.py orient IN OUT N                    the JPEG with an EXIF orientation of N
  pictures.py turn N                             the PNM on stdin turned upright as EXIF
                                                 orientation N says, as a PAM on stdout
  pictures.py rle4 IN OUT                        IN (16 colours at most) as a run-length
                                                 packed 4-bit Windows bitmap
  pictures.py qoi IN OUT                         IN as a QOI picture, with every kind of
                                                 chunk the format has
"""
import struct
import sys
import zlib

from PIL import Image, ImageOps


def write_pam(image):
    image = image.convert("RGBA")
    header = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
    sys.stdout.buffer.write(header % image.size + image.tobytes())


def value(text):
    try:
        return tuple(int(v) for v in text.split(",")) if "," in text else int(text)
    except ValueError:
        return text


def open_picture(path):
    """Pillow's picture of the file; the RGB_ALPHA PAM sources, which it cannot read, are
    read here."""
    data = open(path, "rb").read()
    if not data.startswith(b"P7\n"):
        return Image.open(path)
    header, pixels = data.split(b"ENDHDR\n", 1)
    fields = dict(line.split(b" ", 1) for line in header.split(b"\n")[1:] if b" " in line)
    return Image.frombytes("RGBA", (int(fields[b"WIDTH"]), int(fields[b"HEIGHT"])), pixels)


def save(source, target, mode=None, *options):
    image = open_picture(source)
    if mode and mode.startswith("Q"):
        image = image.convert("RGB").quantize(int(mode[1:]))
    elif mode:
        image = image.convert(mode)
    image.save(target, **dict((k, value(v)) for k, v in (o.split("=", 1) for o in options)))


def pam(source):
    image = open_picture(source)
    if image.mode.startswith("I"):
        image = image.point(lambda v: v / 257 + 0.5).convert("L")
    write_pam(image)


def chunks(data):
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def rechunk(source, target, size):
    data = open(source, "rb").read()
    size = int(size)
    image_data = b"".join(body for kind, body in chunks(data) if kind == b"IDAT")
    out = [data[:8]]
    for kind, body in chunks(data):
        if kind == b"IDAT":
            if image_data:
                out += [chunk(b"IDAT", image_data[at:at + size])
                        for at in range(0, len(image_data), size)]
                image_data = b""
        else:
            out.append(chunk(kind, body))
    open(target, "wb").write(b"".join(out))


def orient(source, target, orientation):
    data = open(source, "rb").read()
    # A little-endian TIFF structure with one entry: Orientation (274), SHORT, 1 value.
    tiff = b"II*\0" + struct.pack("<IHHHIHHI", 8, 1, 274, 3, 1, int(orientation), 0, 0)
    exif = b"Exif\0\0" + tiff
    app1 = b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif
    open(target, "wb").write(data[:2] + app1 + data[2:])


def turn(orientation):
    image = Image.open(sys.stdin.buffer)
    image.load()
    method = {2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180,
              4: Image.Transpose.FLIP_TOP_BOTTOM, 5: Image.Transpose.TRANSPOSE,
              6: Image.Transpose.ROTATE_270, 7: Image.Transpose.TRANSVERSE,
              8: Image.Transpose.ROTATE_90}.get(int(orientation))
    write_pam(image.transpose(method) if method is not None else image)


def rle4_row(indices):
    """Runs of one colour where there are any, else literals of up to 255 pixels, each
    padded to a 16-bit boundary; a row ends with an end-of-row code."""
    out = bytearray()
    x = 0
    while x < len(indices):
        run = 1
        while x + run < len(indices) and run < 255 and indices[x + run] == indices[x]:
            run += 1
        if run >= 4 or len(indices) - x < 3:
            out += bytes([run, indices[x] << 4 | indices[x]])
            x += run
            continue
        count = 3
        while (x + count < len(indices) and count < 255
               and indices[x + count] != indices[x + count - 1]):
            count += 1
        literal = indices[x:x + count] + [0]
        packed = bytes(literal[i] << 4 | literal[i + 1] for i in range(0, count, 2))
        out += bytes([0, count]) + packed + (b"\0" if len(packed) % 2 else b"")
        x += count
    return out + b"\0\0"


def rle4(source, target):
    image = Image.open(source).convert("RGB").quantize(16)
    width, height = image.size
    palette = image.getpalette()[:48]
    pixels = list(image.getdata())
    data = bytearray()
    for y in reversed(range(height)):
        data += rle4_row(pixels[y * width:(y + 1) * width])
    data += b"\0\1"
    colours = b"".join(bytes([palette[3 * i + 2], palette[3 * i + 1], palette[3 * i], 0])
                       for i in range(16))
    offset = 14 + 40 + len(colours)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 2, len(data), 2835, 2835, 16, 0)
    header = b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
    open(target, "wb").write(header + info + colours + data)


def qoi_chunk(pixel, previous, index):
    """The chunk of one pixel that is not a repeat of the one before (index updated)."""
    slot = (pixel[0] * 3 + pixel[1] * 5 + pixel[2] * 7 + pixel[3] * 11) % 64
    if index[slot] == pixel:
        return bytes([slot])
    index[slot] = pixel
    if pixel[3] != previous[3]:
        return bytes([0xFF]) + bytes(pixel)
    dr, dg, db = (((pixel[c] - previous[c] + 128) & 255) - 128 for c in range(3))
    if all(-2 <= d <= 1 for d in (dr, dg, db)):
        return bytes([0x40 | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2)])
    if -32 <= dg <= 31 and -8 <= dr - dg <= 7 and -8 <= db - dg <= 7:
        return bytes([0x80 | (dg + 32), (dr - dg + 8) << 4 | (db - dg + 8)])
    return bytes([0xFE]) + bytes(pixel[:3])


def qoi(source, target):
    image = open_picture(source)
    channels = 4 if "A" in image.mode else 3
    pixels = image.convert("RGBA").tobytes()
    out = bytearray(b"qoif" + struct.pack(">IIBB", image.size[0], image.size[1], channels, 0))
    index, previous, run = [None] * 64, (0, 0, 0, 255), 0
    for at in range(0, len(pixels), 4):
        pixel = tuple(pixels[at:at + 4])
        if pixel == previous:
            run += 1
            if run < 62 and at + 4 < len(pixels):
                continue
        if run:
            out.append(0xC0 | (run - 1))
            if pixel == previous:
                run = 0
                continue
            run = 0
        out += qoi_chunk(pixel, previous, index)
        previous = pixel
    open(target, "wb").write(out + bytes(7) + b"\1")


if __name__ == "__main__":
    commands = {"save": save, "pam": pam, "rechunk": rechunk, "orient": orient, "turn": turn,
                "rle4": rle4, "qoi": qoi}
    commands[sys.argv[1]](*sys.argv[2:])
