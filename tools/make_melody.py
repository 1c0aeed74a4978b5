#!/usr/bin/env python3
"""Writes a beep melody file for Kel ("beep.snd", played when 'BEEP音を鳴らす'
is on) from notes written as text:

    make_melody.py "C5 150, rest 50, E5 150" beep.snd
    make_melody.py -f chime.txt beep.snd

A note is a name, an optional sharp (#) or flat (b) and an octave, then a
length in milliseconds: "A4 200" is 440 Hz for 200 ms, "C#5 100", "Bb3 80".
"rest 50" is silence. Notes are separated by commas or new lines; "#" at the
start of a line begins a comment in a file.

The file: the bytes "ACM" and a zero, the note count, then per note its
frequency in hertz (0 for a rest) and its length in ms, each a signed 32-bit
little-endian number. The player adds 1 ms after every note.
"""
import re
import struct
import sys

MAGIC = b"ACM\0"
SEMITONES = {"C": -9, "D": -7, "E": -5, "F": -4, "G": -2, "A": 0, "B": 2}
# What Windows' Beep sounds; the rest of an int32 would be silence or an error.
LOWEST_HZ, HIGHEST_HZ = 37, 32767
LONGEST_MS = 10000
NOTE = re.compile(r"^(?:(rest)|([A-Ga-g])([#b]?)(-?\d))\s+(\d+)$")


def frequency(name, accidental, octave):
    steps = SEMITONES[name.upper()] + {"": 0, "#": 1, "b": -1}[accidental] + 12 * (octave - 4)
    return int(round(440.0 * 2 ** (steps / 12.0)))


def parse_notes(text):
    """[(frequency, ms), ...] from the text form; ValueError names a bad note."""
    notes = []
    for line in text.splitlines():
        if line.strip().startswith("#"):
            continue
        for item in line.split(","):
            item = " ".join(item.split())
            if not item:
                continue
            m = NOTE.match(item)
            if not m:
                raise ValueError("not a note: %r (write e.g. 'C5 150' or 'rest 50')" % item)
            ms = int(m.group(5))
            if not 1 <= ms <= LONGEST_MS:
                raise ValueError("%r: a length from 1 to %d ms" % (item, LONGEST_MS))
            hz = 0 if m.group(1) else frequency(m.group(2), m.group(3), int(m.group(4)))
            if m.group(2) and not LOWEST_HZ <= hz <= HIGHEST_HZ:
                raise ValueError("%r: %d Hz is outside %d..%d Hz" % (item, hz, LOWEST_HZ, HIGHEST_HZ))
            notes.append((hz, ms))
    if not notes:
        raise ValueError("no notes")
    return notes


def melody_bytes(notes):
    return MAGIC + struct.pack("<i", len(notes)) + b"".join(struct.pack("<ii", hz, ms) for hz, ms in notes)


def read_melody(data):
    """The notes of a melody file, as the program reads them (None: no magic)."""
    if data[:4] != MAGIC:
        return None
    if len(data) < 8:
        return []
    count = struct.unpack_from("<i", data, 4)[0]
    whole = (len(data) - 8) // 8
    return [struct.unpack_from("<ii", data, 8 + 8 * i) for i in range(max(0, min(count, whole)))]


def main(argv):
    if len(argv) == 4 and argv[1] == "-f":
        with open(argv[2], encoding="utf-8") as f:
            text = f.read()
        out = argv[3]
    elif len(argv) == 3:
        text, out = argv[1], argv[2]
    else:
        sys.stderr.write(__doc__)
        return 2
    try:
        notes = parse_notes(text)
    except ValueError as e:
        sys.stderr.write("make_melody: %s\n" % e)
        return 1
    with open(out, "wb") as f:
        f.write(melody_bytes(notes))
    total = sum(ms for _, ms in notes) + len(notes)
    print("%s: %d notes, %.2f s" % (out, len(notes), total / 1000.0))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
