#!/usr/bin/python3
"""Runs `korimath.exe run` under Wine in a private prefix, with korimath.sys
beside it, as an operator on Windows would: it installs and loads the driver,
prints the report and the verdict, and stops the driver again."""

import os
import sys

from winehost import WineHost


def main():
    if len(sys.argv) != 3:
        print("usage: wine_load.py KORIMATH_EXE KORIMATH_SYS", file=sys.stderr)
        return 2
    program, image = sys.argv[1], sys.argv[2]
    with WineHost() as host:
        host.settle(image)
        folder = host.place("korimath", [program, image])
        code, out = host.run([folder + "\\" + os.path.basename(program), "run"], check=False)
        print(f"C:\\korimath> korimath run\n{out.rstrip()}\n[exit code {code}]")
        return code


if __name__ == "__main__":
    sys.exit(main())
