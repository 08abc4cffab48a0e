#!/usr/bin/env python3
"""Writes seed inputs for the fuzz programs from the Baltimore data set.

Usage: tools/make_fuzz_seeds.py <data folder> <output folder>
Creates <output>/<reader>/ for dbf, shp, mif, tab and attributes: small, valid layers cut from the real
files (the native table is taken whole). Parts of one input are joined by the separator line
the fuzz programs split on.
"""
import os
import struct
import sys

SEPARATOR = b"\n--KVNET--\n"


def cut_table(data, records):
    """The first `records` records of a dBASE or MapInfo .dat table, with a fixed header."""
    header_length, record_length = struct.unpack_from("<HH", data, 8)
    out = bytearray(data[: header_length + record_length * records])
    struct.pack_into("<I", out, 4, records)
    return bytes(out) + b"\x1a"


def cut_shapes(shp, shx, records):
    """The first `records` shapes of a .shp and its .shx, with fixed file lengths."""
    index = [struct.unpack_from(">ii", shx, 100 + 8 * i) for i in range(records)]
    end = (index[-1][0] + 4 + index[-1][1]) * 2
    new_shp = bytearray(shp[:end])
    struct.pack_into(">i", new_shp, 24, end // 2)
    new_shx = bytearray(shx[: 100 + 8 * records])
    struct.pack_into(">i", new_shx, 24, (100 + 8 * records) // 2)
    return bytes(new_shp), bytes(new_shx)


def write(folder, name, parts):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(SEPARATOR.join(parts))


def main():
    data = os.path.join(sys.argv[1], "baltimore")
    out = sys.argv[2]

    def read(name):
        with open(os.path.join(data, name), "rb") as f:
            return f.read()

    dbf = read("link.dbf")
    write(os.path.join(out, "dbf"), "baltimore3_dbf", [cut_table(dbf, 3)])
    write(os.path.join(out, "dbf"), "baltimore3_dat",
          [cut_table(read("tab/link.dat"), 3), read("tab/link.tab")])

    shp, shx = cut_shapes(read("link.shp"), read("link.shx"), 4)
    write(os.path.join(out, "shp"), "baltimore4", [shp, shx, read("link.prj"), cut_table(dbf, 4)])

    mif = read("mif/link.mif").split(b"\n")
    mid = read("mif/link.mid").split(b"\n")
    data_line = mif.index(b"Data")
    write(os.path.join(out, "mif"), "baltimore5",
          [b"\n".join(mif[: data_line + 12]) + b"\n", b"\n".join(mid[:5]) + b"\n"])

    attributes = os.path.join(out, "attributes")
    write(attributes, "baltimore4_dbf", [cut_table(dbf, 4)])
    write(attributes, "baltimore4_mid", [b"\n".join(mid[:4]) + b"\n", read("mif/link.mif")[:600]])
    write(attributes, "baltimore4_csv", [b"\n".join(mid[:4]) + b"\n"])

    write(os.path.join(out, "tab"), "baltimore",
          [read("tab/link." + ext) for ext in ("tab", "map", "id", "dat")])


if __name__ == "__main__":
    main()
