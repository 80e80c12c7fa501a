#!/usr/bin/python3
"""dist/korimath.inf is a primitive-driver INF: the [Version] Windows needs,
no [Manufacturer], architecture-decorated DefaultInstall sections only, the
image copied to the driver store (DIRID 13) and one demand-start kernel
service named korimath.

usage: check_inf.py KORIMATH_INF"""

import re
import sys

VERSION = {"Signature": '"$WINDOWS NT$"', "Class": "System",
           "ClassGuid": "{4d36e97d-e325-11ce-bfc1-08002be10318}", "Provider": "%Provider%",
           "DriverVer": "12/07/2026,1.0.0.2", "CatalogFile": "korimath.cat", "PnpLockdown": "1"}
SERVICE = {"ServiceType": "1", "StartType": "3", "ErrorControl": "1", "ServiceBinary": r"%13%\korimath.sys"}


def sections(text):
    """{section name (lower case): [(key, value) or (line, None)]}, comments dropped."""
    result, current = {}, None
    for line in text.split("\r\n"):
        line = re.sub(r"\s*;.*$", "", line).strip()
        if not line:
            continue
        header = re.fullmatch(r"\[(.+)\]", line)
        if header:
            current = result.setdefault(header.group(1).lower(), [])
        elif "=" in line:
            key, value = (part.strip() for part in line.split("=", 1))
            current.append((key, value))
        else:
            current.append((line, None))
    return result


def main():
    raw = open(sys.argv[1], "rb").read()
    errors = []
    if raw.count(b"\n") != raw.count(b"\r\n") or not raw.endswith(b"\r\n"):
        errors.append("not CRLF throughout")
    inf = sections(raw.decode("ascii"))
    version = dict(inf.get("version", []))
    for key, want in VERSION.items():
        if version.get(key) != want:
            errors.append(f"[Version] {key} = {version.get(key)!r}, want {want!r}")
    for forbidden in ("manufacturer", "defaultinstall", "defaultinstall.services"):
        if forbidden in inf:
            errors.append(f"[{forbidden}] present: a primitive driver has no device and decorated sections only")
    install = dict(inf.get("defaultinstall.ntamd64", []))
    files = install.get("CopyFiles", "").lower()
    if [key for key, _ in inf.get(files, [])] != ["korimath.sys"]:
        errors.append(f"[DefaultInstall.NTamd64] copies {inf.get(files)}, not korimath.sys alone")
    if dict(inf.get("destinationdirs", [])).get("Korimath.Files") != "13":
        errors.append("the image does not go to the driver store (DIRID 13)")
    services = inf.get("defaultinstall.ntamd64.services", [])
    added = [value.split(",") for key, value in services if key == "AddService"]
    if len(added) != 1 or added[0][0].strip() != "korimath":
        errors.append(f"AddService entries {added}, want one service korimath")
    else:
        service = dict(inf.get(added[0][2].strip().lower(), []))
        for key, want in SERVICE.items():
            if service.get(key) != want:
                errors.append(f"service {key} = {service.get(key)!r}, want {want!r}")
    for error in errors:
        print("FAIL " + error)
    print("korimath.inf: " + ("ok" if not errors else f"{len(errors)} problems"))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
