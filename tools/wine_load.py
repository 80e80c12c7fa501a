#!/usr/bin/python3
"""Loads korimath.sys under Wine in a private prefix, prints the report it
wrote under HKLM\\Software\\Korimath, and stops it again."""

import sys

from winehost import REPORT_KEY, WineHost


def main():
    if len(sys.argv) != 2:
        print("usage: wine_load.py PATH\\TO\\korimath.sys", file=sys.stderr)
        return 2
    with WineHost() as host:
        host.create_report_key()  # Wine, unlike Windows, does not create it on write
        host.create_service("korimath", host.copy_image(sys.argv[1]))
        seconds = host.start("korimath")
        state, code = host.query("korimath")
        print(f"korimath: {state}, exit code {code}, started in {seconds:.2f} s")
        print(REPORT_KEY)
        for name, (kind, data) in host.report().items():
            shown = f'"{data}"' if kind == "REG_SZ" else data
            print(f"    {name:13} {kind:10} {shown}")
        host.stop("korimath")
        state, _ = host.wait_state("korimath", "STOPPED")
        print(f"korimath: {state}")
        return 0 if state == "STOPPED" else 1


if __name__ == "__main__":
    sys.exit(main())
