#!/usr/bin/env python3
"""Writes coordinate_table.txt: NMEA coordinate fields and the degree-minute-second texts the
program must show for them, computed here independently of the C++ code with exact rational
arithmetic and explicit rounding to the 64-bit mantissa of x87 extended precision and to the
53-bit mantissa of double, step by step as the receiver texts have always been computed.

Each line: value<TAB>hemisphere<TAB>L (latitude) or O (longitude)<TAB>expected text (Latin-1,
degree sign 0xB0). The table favours the values where plain double arithmetic would show a
different hundredth of a second, so that a double-only implementation fails it.

Run: python3 make_coordinate_table.py > coordinate_table.txt
"""
from fractions import Fraction as F
import math
import random
import sys


def rounded(x, bits):
    """x rounded to nearest, ties to even, with a mantissa of `bits` bits."""
    x = F(x)
    if x == 0:
        return x
    sign = -1 if x < 0 else 1
    a = abs(x)
    e = a.numerator.bit_length() - a.denominator.bit_length()
    while F(2) ** e > a:
        e -= 1
    while F(2) ** (e + 1) <= a:
        e += 1
    scale = F(2) ** (e - bits + 1)
    m = a / scale
    whole = math.floor(m)
    rest = m - whole
    if rest > F(1, 2) or (rest == F(1, 2) and whole % 2 == 1):
        whole += 1
    return sign * whole * scale


def ext(x):
    return rounded(x, 64)


def dbl(x):
    return rounded(x, 53)


def value_of(text, wide):
    r = ext if wide else dbl
    if any(c not in "0123456789." for c in text) or text.count(".") > 1 or "." not in text:
        return F(0)
    whole, frac = text.split(".")
    v = F(int(whole))
    tenth = F(0.1)  # the double nearest 0.1
    w = tenth
    for c in frac:
        v = dbl(r(v + r(int(c) * w)))
        w = dbl(r(w * tenth))
    return v


def text_of(value, hemisphere, longitude, wide=True):
    r = ext if wide else dbl
    x = value_of(value, wide)
    d = math.trunc(x) // 100
    sixtieth = r(F(1, 60))
    g = dbl(r(d + r(r(x - 100 * d) * sixtieth)))
    n = math.floor(g)
    frac = r(g - n)
    m = math.floor(r(frac * 60))
    e = dbl(r(frac * 60))
    f = math.floor(e)
    t = dbl(r(r(e - f) * 60))
    s = math.floor(t)
    k = math.floor(r(r(t - s) * 100))
    deg = str(n)
    at = min(3 if longitude else 2, len(deg))
    deg = deg[:at] + "\xb0" + deg[at:]
    return "%s %s%02d'%02d.%02d\"" % (hemisphere, deg, m, s, k)


def main():
    rng = random.Random(20120815)
    differing, ordinary = [], []
    while len(differing) < 150 or len(ordinary) < 850:
        longitude = rng.random() < 0.5
        deg = rng.randint(0, 179 if longitude else 89)
        minutes = rng.randint(0, 59)
        places = rng.choice([2, 3, 4, 4, 4, 5, 6])
        frac = "".join(rng.choice("0123456789") for _ in range(places))
        if rng.random() < 0.4:
            frac = frac[:2] + "0" * (places - 2)
        value = ("%03d%02d.%s" if longitude else "%02d%02d.%s") % (deg, minutes, frac)
        hemisphere = rng.choice("EW" if longitude else "NS")
        expected = text_of(value, hemisphere, longitude)
        row = "%s\t%s\t%s\t%s\n" % (value, hemisphere, "O" if longitude else "L", expected)
        if expected != text_of(value, hemisphere, longitude, wide=False):
            if len(differing) < 150:
                differing.append(row)
        elif len(ordinary) < 850:
            ordinary.append(row)
    sys.stdout.buffer.write("".join(differing + ordinary).encode("latin-1"))


if __name__ == "__main__":
    main()
