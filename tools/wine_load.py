#!/usr/bin/python3
"""Runs `korimath.exe run` under Wine in a private prefix, as an operator on
Windows would: the program writes the driver it carries to
System32\\drivers, loads it, prints the report and the verdict, stops it and
removes the service again. KORIMATH_SYS is only used to settle the prefix."""

import sys

from winehost import WineHost


def main():
    if len(sys.argv) != 3:
        print("usage: wine_load.py KORIMATH_EXE KORIMATH_SYS", file=sys.stderr)
        return 2
    program, image = sys.argv[1], sys.argv[2]
    with WineHost() as host:
        host.settle(image)
        folder = host.place("korimath", [program])
        code, out = host.run([folder + "\\korimath.exe", "run"], check=False)
        print(f"C:\\korimath> korimath run\n{out.rstrip()}\n[exit code {code}]")
        left = host.state("korimath")
        print("[no korimath service left behind]" if left is None else f"[korimath service left behind: {left}]")
        return code if left is None else 1


if __name__ == "__main__":
    sys.exit(main())
