#!/usr/bin/env python3
"""Draws the effect dialog's animation and writes it as a GIF.

The picture: a lamp in the middle of a ring of eight LEDs. A bright LED runs
round the ring with a fading tail while the lamp glows up and down, eight
frames of 100 ms each. 48 x 48 pixels, GIF89a, one global colour table, a
looping (application) extension, a comment extension, and a graphic control
extension before every frame.

Python 3 and its standard library only: the LZW encoder is here too. The
output is the same byte for byte on every run, so the committed file can be
checked against this script (the test suite does when Python is there).

    scripts/make_effect_gif.py [OUTPUT]    # default: resources/gif/lamp_effect.gif
"""

import math
import pathlib
import struct
import sys

SIZE = 48
FRAMES = 8
DELAY = 10  # hundredths of a second
SUBSAMPLES = 4  # per axis, for smooth edges

WHITE = (255, 255, 255)
# Every shape is drawn on white and no two shapes touch, so each pixel is a
# mix of white and one colour: a ramp of RAMP steps per colour covers them all.
RAMP = 16
COLOURS = [
    (220, 30, 30),    # 0 the LED that is lit
    (235, 110, 100),  # 1 its tail
    (245, 170, 160),  # 2 the end of the tail
    (205, 205, 210),  # 3 an LED that is off
    (110, 110, 120),  # 4 the lamp's socket
    (255, 236, 170),  # 5..8 the lamp, dim to bright
    (255, 214, 110),
    (255, 190, 60),
    (250, 160, 20),
]
CENTRE = (SIZE - 1) / 2
RING_RADIUS = 17.0
LED_RADIUS = 4.2
LAMP_RADIUS = 7.0
SOCKET_INNER, SOCKET_OUTER = 9.0, 10.5
LAMP_LEVELS = [0, 1, 2, 3, 3, 2, 1, 0]  # per frame: up for four, down for four
COMMENT = b"CorvelGUI effect animation; made by scripts/make_effect_gif.py"


def palette():
    entries = [WHITE]
    for colour in COLOURS:
        for step in range(1, RAMP + 1):
            a = step / RAMP
            entries.append(tuple(round(w + (c - w) * a) for w, c in zip(WHITE, colour)))
    entries += [WHITE] * (256 - len(entries))
    return entries


def shapes(frame):
    """(colour, inside(x, y)) for every shape of a frame."""
    out = []
    for led in range(8):
        angle = 2 * math.pi * led / 8 - math.pi / 2  # LED 0 at the top, clockwise
        cx = CENTRE + RING_RADIUS * math.cos(angle)
        cy = CENTRE + RING_RADIUS * math.sin(angle)
        behind = (frame - led) % 8
        colour = behind if behind < 3 else 3
        out.append((colour, lambda x, y, cx=cx, cy=cy: (x - cx) ** 2 + (y - cy) ** 2 <= LED_RADIUS ** 2))
    out.append((4, lambda x, y: SOCKET_INNER ** 2 <= (x - CENTRE) ** 2 + (y - CENTRE) ** 2 <= SOCKET_OUTER ** 2))
    out.append((5 + LAMP_LEVELS[frame], lambda x, y: (x - CENTRE) ** 2 + (y - CENTRE) ** 2 <= LAMP_RADIUS ** 2))
    return out


def draw(frame):
    """Palette indices of one frame, row by row."""
    pixels = []
    samples = [(i + 0.5) / SUBSAMPLES - 0.5 for i in range(SUBSAMPLES)]
    frame_shapes = shapes(frame)
    for y in range(SIZE):
        for x in range(SIZE):
            index = 0
            for colour, inside in frame_shapes:
                hits = sum(inside(x + dx, y + dy) for dx in samples for dy in samples)
                if hits:
                    step = round(hits * RAMP / SUBSAMPLES ** 2)
                    index = 1 + colour * RAMP + step - 1 if step else 0
                    break
            pixels.append(index)
    return pixels


def lzw(pixels, min_size=8):
    """GIF's variable-width LZW, codes packed from the low bit up."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    bits = nbits = 0

    def put(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_size + 1

    table, next_code, width = reset()
    put(clear, width)
    key = (pixels[0],)
    for p in pixels[1:]:
        longer = key + (p,)
        if longer in table:
            key = longer
            continue
        put(table[key], width)
        if next_code < 4096:
            # The decoder adds its entries one code later; it widens its
            # codes once the entry it adds reaches the next power of two.
            if next_code == 1 << width:
                width += 1
            table[longer] = next_code
            next_code += 1
        else:
            put(clear, width)
            table, next_code, width = reset()
        key = (p,)
    put(table[key], width)
    if next_code == 1 << width and width < 12:
        width += 1
    put(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def unlzw(data, min_size=8):
    """The decoder, to check the encoder against before anything is written."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    pos = width = 0
    bits = nbits = 0
    table = []
    out = []
    previous = None
    while True:
        while nbits < (width or min_size + 1):
            bits |= data[pos] << nbits
            pos += 1
            nbits += 8
        w = width or min_size + 1
        code = bits & ((1 << w) - 1)
        bits >>= w
        nbits -= w
        if code == clear:
            table = [[i] for i in range(clear)] + [None, None]
            width = min_size + 1
            previous = None
            continue
        if code == end:
            return out
        if code < len(table):
            entry = table[code]
            if previous is not None:
                table.append(previous + entry[:1])
        else:
            entry = previous + previous[:1]
            table.append(entry)
        out += entry
        previous = entry
        if len(table) == 1 << width and width < 12:
            width += 1


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def gif():
    out = bytearray(b"GIF89a")
    # Logical screen: a global table of 256 colours (size code 7), 8 bits per
    # primary, background colour 0 (white).
    out += struct.pack("<HHBBB", SIZE, SIZE, 0xF7, 0, 0)
    for colour in palette():
        out += bytes(colour)
    out += b"\x21\xFF\x0BNETSCAPE2.0" + sub_blocks(struct.pack("<BH", 1, 0))  # loop for ever
    out += b"\x21\xFE" + sub_blocks(COMMENT)
    for frame in range(FRAMES):
        pixels = draw(frame)
        # Graphic control: disposal 0, no transparency, the delay.
        out += b"\x21\xF9\x04" + struct.pack("<BHB", 0, DELAY, 0) + b"\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        codes = lzw(pixels)
        if unlzw(codes) != pixels:
            sys.exit("make_effect_gif: the LZW encoder does not round-trip frame %d" % frame)
        out += b"\x08" + sub_blocks(codes)
    out += b"\x3B"
    return bytes(out)


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    target = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "resources" / "gif" / "lamp_effect.gif"
    data = gif()
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_bytes(data)
    print("%s: %d bytes" % (target, len(data)))


if __name__ == "__main__":
    main()
