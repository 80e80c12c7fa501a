#!/usr/bin/python3
"""End to end: the real korimath.sys under Wine's kernel-driver host, checked
against what this very processor reports through CPUID.

usage: test_wine_load.py KORIMATH_SYS HOST_CPUID

Wine differs from Windows here, and the checks say so where it matters:
  * the report key is created before the first start (Wine's
    RtlWriteRegistryValue does not create a missing key);
  * CR0 and CR4 are emulated (CR0 reads 0x10, CR4 0), so the CR flags of an
    Intel report are checked as 0/1 values only, not against the hardware;
  * RDMSR is emulated and answers 0, so the MSR flags read 0 under Wine
    whether or not the gate lets the driver read the register.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from winehost import WineHost  # noqa: E402

INTEL_FLAGS = ["CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX", "CR0_NE", "CR0_PE", "CR0_PG", "CR4_VMXE"]
AMD_FLAGS = ["SVM", "SVM_NP", "VM_CR"]


def read_processor(helper):
    out = subprocess.run([helper], check=True, capture_output=True, text=True, timeout=30).stdout
    fields = dict(line.split("=", 1) for line in out.split())
    return {
        "vendor": bytes.fromhex(fields["vendor_hex"]).decode("latin-1"),
        "brand": bytes.fromhex(fields["brand_hex"]).decode("latin-1"),
        "leaf1_ecx": int(fields["leaf1_ecx"]),
        "ext_ecx": int(fields["leaf80000001_ecx"]),
        "svm_edx": int(fields["leaf8000000a_edx"]),
    }


def expected_report(cpu):
    """The values and data the driver must write on this processor; None
    marks a flag whose data Wine's emulation decides."""
    values = {"CPU_Vendor": ("REG_SZ", cpu["vendor"]), "CPU_Name": ("REG_SZ", cpu["brand"])}
    if cpu["vendor"] == "GenuineIntel":
        values["CPU_VT"] = ("REG_DWORD", (cpu["leaf1_ecx"] >> 5) & 1)
        has_msr = (cpu["leaf1_ecx"] >> 5) & 1 or (cpu["leaf1_ecx"] >> 6) & 1
        for name in ["BIOSLock", "VMInSMX", "VMOutSideSMX"]:
            values[name] = ("REG_DWORD", None if has_msr else 0)
        for name in ["CR0_NE", "CR0_PE", "CR0_PG", "CR4_VMXE"]:
            values[name] = ("REG_DWORD", None)
    elif cpu["vendor"] == "AuthenticAMD":
        svm = (cpu["ext_ecx"] >> 2) & 1
        values["SVM"] = ("REG_DWORD", svm)
        values["SVM_NP"] = ("REG_DWORD", cpu["svm_edx"] & 1)
        values["VM_CR"] = ("REG_DWORD", None if svm else 0)
    return values


class Checks:
    def __init__(self):
        self.failures = 0

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        self.failures += 0 if ok else 1

    def report_matches(self, report, expected, when):
        self.check(sorted(report) == sorted(expected),
                   f"{when}: value names {sorted(report)} == {sorted(expected)}")
        for name, (kind, data) in expected.items():
            got = report.get(name)
            if data is None:
                ok = got is not None and got[0] == kind and got[1] in (0, 1)
            else:
                ok = got == (kind, data)
            self.check(ok, f"{when}: {name} = {got} (want {kind} {data if data is not None else '0 or 1'})")


def main():
    image, helper = sys.argv[1], sys.argv[2]
    cpu = read_processor(helper)
    expected = expected_report(cpu)
    print(f"processor: {cpu['vendor']!r} {cpu['brand']!r}")
    checks = Checks()

    with WineHost() as host:
        host.create_report_key()
        host.create_service("korimath", host.copy_image(image))
        seconds = host.start("korimath")
        print(f"load took {seconds:.2f} s")
        checks.check(host.query("korimath") == ("RUNNING", 0), "first start: RUNNING, exit code 0")
        first = host.report()
        checks.report_matches(first, expected, "first load")

        host.stop("korimath")
        checks.check(host.wait_state("korimath", "STOPPED") == ("STOPPED", 0), "stop: STOPPED")
        checks.check(host.report() == first, "after unload: every value stays")

        host.start("korimath")
        checks.check(host.query("korimath")[0] == "RUNNING", "second start: RUNNING")
        checks.check(host.report() == first, "second load: the same data")
        host.stop("korimath")
        host.wait_state("korimath", "STOPPED")

        # Another service name, same image: the report goes to the same key.
        host.run(["reg", "delete", r"HKLM\Software\Korimath", "/f"])
        host.create_report_key()
        host.create_service("otherprobe", host.copy_image(image, "other.sys"))
        host.start("otherprobe")
        checks.check(host.query("otherprobe")[0] == "RUNNING", "second service: RUNNING")
        checks.report_matches(host.report(), expected, "second service")
        host.stop("otherprobe")
        host.wait_state("otherprobe", "STOPPED")

    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
