#!/usr/bin/env python3
"""Writes tests/fixtures/random/seed_987654321.txt: the reference sequence of the library's
seeded random generator, computed here with Python's exact integers, so that the C++ tests
compare against an independent computation.

Generator: state := (state * 134775813 + 1) mod 2^32; NextDouble = state / 2^32;
NextInt(n) = trunc(state / 2^32 * n) in double precision.

Run from the repository root: python3 tools/random_reference.py
"""
import math
import os

SEED = 987654321
OUT = os.path.join("tests", "fixtures", "random", "seed_987654321.txt")


class Random:
    def __init__(self, seed):
        self.state = seed

    def next_state(self):
        self.state = (self.state * 134775813 + 1) % 2**32

    def next_double(self):
        self.next_state()
        return self.state / 2**32

    def next_int(self, n):
        self.next_state()
        return math.trunc(self.state / 2**32 * n)


def main():
    lines = ["# reference values for seed %d; one section per sequence" % SEED]

    r = Random(SEED)
    lines.append("[speeds] NextInt(40) + 60, 1000 draws")
    lines.extend(str(r.next_int(40) + 60) for _ in range(1000))

    r = Random(SEED)
    lines.append("[doubles] NextDouble, 100 draws, shortest round-trip text")
    lines.extend(repr(r.next_double()) for _ in range(100))

    r = Random(SEED)
    lines.append("[states] state after each of 100 steps")
    for _ in range(100):
        r.next_state()
        lines.append(str(r.state))

    # Fisher-Yates as the lists do it: for i = n-1 downto 1: j = NextInt(i + 1); swap i, j.
    items = list(range(20))
    r = Random(SEED)
    for i in range(len(items) - 1, 0, -1):
        j = r.next_int(i + 1)
        items[i], items[j] = items[j], items[i]
    lines.append("[shuffle] 0..19 shuffled")
    lines.extend(str(v) for v in items)

    # Wide and negative seeds wrap by the floored modulus.
    lines.append("[wrap] NextInt(1000000) after seeds -1, -987654321, 2^40 + 5")
    for seed in (-1, -987654321, 2**40 + 5):
        r = Random(seed)
        lines.append(str(r.next_int(1000000)))

    with open(OUT, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
