#!/usr/bin/python3
"""dist/korimath.cmd under Wine's cmd.exe: every action, every failure it
promises a clear message and exit code for, and the verdicts it derives.

usage: test_operator_script.py KORIMATH_SYS KORIMATH_CMD

Wine differs from Windows here, and the setup says so where it matters:
  * Wine has no LocalService profile hive (HKU\\S-1-5-19), which the script
    reads to tell whether it runs elevated. Every Wine process is in effect
    elevated, so the test creates the hive once it has checked the
    not-elevated path.
  * Wine's RtlWriteRegistryValue does not create a missing key, so the report
    key is created before the driver's first start.
  * A fresh prefix may refuse a start with error 1055 until its services have
    settled; the script does not retry (Windows has no such window), so the
    setup starts a throwaway copy of the driver once, with retries, first.
"""

import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from winehost import REPORT_KEY, WineHost  # noqa: E402

failures = 0


def check(ok, what, output=""):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures += 1
        print("     output: " + str(output).strip().replace("\n", "\n             "))


def main():
    image, script = sys.argv[1], sys.argv[2]
    with WineHost() as host:
        def place(folder, with_image=True, image_bytes=None):
            target = host.windows_path(folder)
            os.makedirs(target, exist_ok=True)
            shutil.copyfile(script, os.path.join(target, "korimath.cmd"))
            if image_bytes is not None:
                with open(os.path.join(target, "korimath.sys"), "wb") as f:
                    f.write(image_bytes)
            elif with_image:
                shutil.copyfile(image, os.path.join(target, "korimath.sys"))
            return f"C:\\{folder}\\korimath.cmd"

        def korimath(where, *args):
            code, out = host.run(["cmd", "/c", where] + list(args), check=False)
            return code, f"{out}[exit code {code}]"

        main_script = place("korimath")

        code, out = korimath(main_script, "report")
        check(code == 3 and "not elevated" in out, "not elevated: exit 3 with a clear message", out)

        host.run(["reg", "add", r"HKU\S-1-5-19", "/f"])  # Wine lacks this hive
        code, out = korimath(main_script)
        check(code == 2 and "usage" in out, "no action: usage, exit 2", out)
        code, out = korimath(main_script, "report")
        check(code == 8 and "no report" in out, "report before any run: exit 8", out)

        code, out = korimath(place("lonely", with_image=False), "install")
        check(code == 4 and "image missing" in out, "image missing: exit 4", out)

        host.settle(image)  # a fresh prefix may refuse the first start with 1055
        host.create_report_key()  # Wine, unlike Windows, does not create it on write
        code, out = korimath(main_script, "run")
        check(code == 0, "run: exit 0", out)
        check("installed C:\\korimath\\korimath.sys" in out, "run: installs first", out)
        check(re.search(r"CPU_Vendor = \S", out) and re.search(r"Verdict:\n  \S", out),
              "run: prints the report and a verdict", out)
        check("stopped" in out and host.query("korimath")[0] == "STOPPED", "run: stops the driver", out)

        code, out = korimath(main_script, "install")
        check(code == 0 and "already installed" in out, "install again: exit 0, already installed", out)

        code, out = korimath(place("elsewhere"), "install")
        check(code == 5 and "another path" in out, "service exists with another path: exit 5", out)

        code, out = korimath(main_script, "remove")
        check(code == 0 and "removed" in out, "remove: exit 0", out)
        check(host.run(["reg", "query", REPORT_KEY], check=False)[0] == 0, "remove: the report key stays")
        code, out = korimath(main_script, "remove")
        check(code == 0 and "not installed" in out, "remove twice: nothing to remove, exit 0", out)

        broken = place("broken", image_bytes=b"MZ" + b"\0" * 510)
        code, out = korimath(broken, "run")
        check(code == 7 and "start refused" in out, "start refused: exit 7", out)
        korimath(broken, "remove")

        verdicts(host, main_script, korimath)
    print(f"{failures} failed")
    return 1 if failures else 0


def verdicts(host, main_script, korimath):
    """The verdict lines for reports of other processors, written by hand."""
    cases = [
        ({"CPU_Vendor": "GenuineIntel", "CPU_VT": 1, "BIOSLock": 1, "VMOutSideSMX": 1, "CR4_VMXE": 0},
         ["VMX enabled by firmware. [CPU_VT=1, BIOSLock=1, VMOutSideSMX=1]"]),
        ({"CPU_Vendor": "GenuineIntel", "CPU_VT": 1, "BIOSLock": 1, "VMOutSideSMX": 0, "CR4_VMXE": 0},
         ["VMX disabled in firmware setup", "[CPU_VT=1, BIOSLock=1, VMOutSideSMX=0]"]),
        ({"CPU_Vendor": "GenuineIntel", "CPU_VT": 1, "BIOSLock": 0, "VMOutSideSMX": 0, "CR4_VMXE": 1},
         ["Firmware left VMX to the operating system", "A hypervisor already runs", "[CR4_VMXE=1]"]),
        ({"CPU_Vendor": "GenuineIntel", "CPU_VT": 0, "BIOSLock": 0, "VMOutSideSMX": 0, "CR4_VMXE": 0},
         ["VMX unavailable", "[CPU_VT=0]"]),
        ({"CPU_Vendor": "AuthenticAMD", "SVM": 1, "SVM_NP": 1, "VM_CR": 1},
         ["SVM enabled by firmware. [SVM=1, VM_CR=1]", "Nested paging supported. [SVM_NP=1]"]),
        ({"CPU_Vendor": "AuthenticAMD", "SVM": 1, "SVM_NP": 0, "VM_CR": 0},
         ["SVM disabled in firmware setup", "[SVM=1, VM_CR=0]", "No nested paging", "[SVM_NP=0]"]),
        ({"CPU_Vendor": "HygonGenuine"}, ['Vendor "HygonGenuine"']),
    ]
    for values, expected in cases:
        host.run(["reg", "delete", REPORT_KEY, "/f"])
        host.create_report_key()
        for name, data in values.items():
            kind = "REG_SZ" if isinstance(data, str) else "REG_DWORD"
            host.run(["reg", "add", REPORT_KEY, "/v", name, "/t", kind, "/d", str(data), "/f"])
        code, out = korimath(main_script, "report")
        verdict = out.split("Verdict:", 1)[-1]
        check(code == 0 and all(text in verdict for text in expected),
              f"verdict for {values}", out)


if __name__ == "__main__":
    sys.exit(main())
