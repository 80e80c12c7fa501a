#!/usr/bin/python3
"""The real korimath.exe against the real korimath.sys under Wine: every
action, the failures the service manager can give here, and the report as
JSON compared field by field with what this processor says through CPUID.

usage: test_operator_program.py KORIMATH_EXE KORIMATH_SYS HOST_CPUID KORIMATH_INF HOLD_SERVICE_EXE

Wine differs from Windows where tools/winehost.py says; here that means: the
not-elevated path cannot be shown (every Wine process is elevated) and is left
to the code's own check; CR0, CR4 and MSR flags are emulated, so they are
checked as 0/1 values, not against the hardware; Wine has no pnputil and its
setupapi no driver store (DIRID 13 lands in system32\\unknown), so the INF is
installed with InstallHinfSection and the driver-store case is set up by hand.
"""

import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from winehost import WineHost  # noqa: E402

# Spaces, ")", "&", "!", "%" and letters beyond ASCII: all broke the old
# command script, and all must work in a folder name.
ODD_FOLDER = "korimath-1.0.0.2 (1) & co! 100% 测试 Übung"
HYPERVISOR_NAMES = {"Microsoft Hv": "Microsoft Hyper-V", "KVMKVMKVM": "KVM", "VMwareVMware": "VMware",
                    "XenVMMXenVMM": "Xen", "VBoxVBoxVBox": "VirtualBox"}
failures = 0


def check(ok, what, output=""):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures += 1
        print("     output: " + str(output).strip().replace("\n", "\n             "))


def expected_json(helper):
    """The JSON fields korimath.exe must print on this processor, from CPUID
    read directly; None marks a flag Wine's emulation decides (0 or 1)."""
    out = subprocess.run([helper], check=True, capture_output=True, text=True, timeout=30).stdout
    raw = dict(line.split("=", 1) for line in out.split("\n") if line)
    text = {name: bytes.fromhex(raw[name + "_hex"]).decode("latin-1") for name in ("vendor", "brand", "hypervisor")}
    ecx1, ext_ecx, svm_edx = int(raw["leaf1_ecx"]), int(raw["leaf80000001_ecx"]), int(raw["leaf8000000a_edx"])
    fields = dict.fromkeys(["CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX", "CR0_NE", "CR0_PE", "CR0_PG", "CR4_VMXE",
                            "SVM", "SVM_NP", "VM_CR"], "absent")
    if text["vendor"] == "GenuineIntel":
        fields.update(dict.fromkeys(["BIOSLock", "VMInSMX", "VMOutSideSMX"], None if ecx1 & 0x60 else 0))
        fields.update(dict.fromkeys(["CR0_NE", "CR0_PE", "CR0_PG", "CR4_VMXE"], None), CPU_VT=(ecx1 >> 5) & 1)
    elif text["vendor"] == "AuthenticAMD":
        fields.update(SVM=(ext_ecx >> 2) & 1, SVM_NP=svm_edx & 1, VM_CR=None if ext_ecx & 4 else 0)
    present = (ecx1 >> 31) & 1 == 1
    fields.update({"report": True, "CPU_Vendor": text["vendor"], "CPU_Name": text["brand"],
                   "hypervisor_present": present, "hypervisor_vendor": text["hypervisor"] if present else "absent",
                   "hypervisor_root_partition": raw["hypervisor_root"] == "1"})
    return fields, text["hypervisor"]


def json_matches(out, expected):
    try:
        got = json.loads(out)
    except ValueError as error:
        check(False, f"--json prints one JSON object ({error})", out)
        return {}
    wrong = []
    for name, want in expected.items():
        value = got.get(name, "missing")
        if not (value is None if want == "absent" else value in (0, 1) if want is None else value == want):
            wrong.append(f"{name}={value!r} (want {'null' if want == 'absent' else want!r})")
    check(not wrong, f"json: {len(expected)} fields as CPUID says: {', '.join(wrong) or 'all match'}", out)
    return got


def primitive_driver_install(host, image, inf):
    """InstallHinfSection of the decorated DefaultInstall section creates the
    korimath service, which loads the driver."""
    folder = host.place("inf", [image])
    with open(inf, "rb") as source, open(os.path.join(host.prefix, "drive_c", "inf", "korimath.inf"), "wb") as f:
        f.write(source.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
    host.run(["rundll32", "setupapi.dll,InstallHinfSection", "DefaultInstall.NTamd64", "128",
              folder + "\\korimath.inf"])
    check(host.state("korimath") == "STOPPED", "INF: InstallHinfSection adds the demand-start service korimath")
    host.service("start", "korimath", check=False)
    check(host.state("korimath") == "RUNNING", "INF: the service it adds loads the driver")
    host.service("stop", "korimath", check=False)


def main():
    program, image, helper, inf, holder = sys.argv[1:6]
    expected, hypervisor = expected_json(helper)
    print(f"processor: {expected['CPU_Vendor']!r} {expected['CPU_Name']!r}, hypervisor {hypervisor!r}")

    with WineHost() as host:
        def korimath(folder, *args):
            code, out = host.run([folder + "\\korimath.exe"] + list(args), check=False)
            return code, f"{out}[exit code {code}]"

        odd = host.place(ODD_FOLDER, [program, image])
        code, out = korimath(odd, "report")
        check(code == 8 and "(no-report)" in out, "report before any run: exit 8, no-report", out)
        code, out = korimath(odd, "frobnicate")
        check(code == 2, "unknown action: exit 2 (usage on standard error)", out)
        host.add_network_drive("n", "share")
        code, out = korimath(host.place("share", [program, image]).replace("C:\\share", "N:"), "run")
        check(code == 11 and "network" in out, "image on a network drive: refused, exit 11", out)

        host.settle(image)
        code, out = korimath(odd, "run")
        check(code == 0 and f"installed C:\\{ODD_FOLDER}\\korimath.sys" in out, "run in an odd folder: installs", out)
        check("driver loaded" in out and "Verdict (" in out and "driver stopped" in out,
              "run: loads, prints the report and a verdict, stops", out)
        check(host.state("korimath") == "STOPPED", "run: the driver is stopped afterwards")

        code, out = korimath(odd, "report", "--json")
        got = json_matches(out.rsplit("[exit code", 1)[0], expected)
        if hypervisor:
            name = HYPERVISOR_NAMES.get(hypervisor, hypervisor)
            check(name in got.get("verdict_text", ""), f"the verdict names the hypervisor {name}", out)
        check(code == 0, "report --json after the driver stopped: the values stay, exit 0", out)

        code, out = korimath(odd, "install")
        check(code == 0 and "already installed" in out, "install again: exit 0, already installed", out)
        code, out = korimath(host.place("elsewhere", [program, image]), "install")
        check(code == 5 and "another image" in out, "service exists with another image: exit 5", out)

        host.service("start", "korimath")
        code, out = korimath(odd, "run", "--json")
        check(code == 0 and "already running" not in out, "run --json: only JSON on standard output", out)
        check(json_matches(out.rsplit("[exit code", 1)[0], expected) == got, "a second load: the same report", out)

        host.service("start", "korimath")
        code, out = korimath(odd, "remove")
        check(code == 0 and "removed" in out, "remove while running: stops and removes, exit 0", out)
        check(host.state("korimath") is None, "remove: the service is really gone")
        code, out = korimath(odd, "report")
        check(code == 0, "remove: the report stays", out)
        code, out = korimath(odd, "remove")
        check(code == 0 and "not installed" in out, "remove twice: nothing to remove, exit 0", out)

        korimath(odd, "install")
        hold = host.place("hold", [holder]) + "\\hold_service.exe"
        with subprocess.Popen(["wine", hold, "korimath", "10"], env=host.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL) as holding:
            time.sleep(3)
            code, out = korimath(odd, "remove")
            check(code == 10 and "error 1072" in out and "services.msc" in out,
                  "remove while another program holds the service: not 'removed', exit 10, says why", out)
            holding.wait(timeout=60)
        check(host.state("korimath") is None, "once the other program lets go, the service is gone")

        primitive_driver_install(host, image, inf)
        store = "system32\\DriverStore\\FileRepository\\korimath.inf_amd64_5f1e2d3c4b5a6978"
        host.place("windows\\" + store, [image])
        host.service("delete", "korimath")  # Wine's sc cannot change a binPath in place
        host.service("create", "korimath", "type=", "kernel", "start=", "demand",
                     "binPath=", "\\SystemRoot\\" + store + "\\korimath.sys")
        code, out = korimath(odd, "run")
        check(code == 0 and "installed from the driver store" in out and "driver loaded" in out,
              "run with the service installed from the driver store: uses it, exit 0", out)
        code, out = korimath(odd, "remove")
        check(code == 0 and "pnputil" in out, "remove of a driver-store install: says how to drop the package", out)

        code, out = korimath(odd, "install")
        check(code == 0 and "installed C:\\" in out, "install after remove: exit 0", out)
        host.service("start", "korimath")
        code, out = korimath(odd, "run")
        check(code == 0 and "already running; stopping it" in out, "run while running: reloads, exit 0", out)
        korimath(odd, "remove")

        code, out = korimath(host.place("lonely", [program]), "run")
        check(code == 4 and "image missing" in out, "image missing: exit 4", out)

        broken = os.path.join(host.prefix, "drive_c", "broken")
        host.place("broken", [program])
        with open(os.path.join(broken, "korimath.sys"), "wb") as f:
            f.write(b"MZ" + b"\0" * 510)
        code, out = korimath("C:\\broken", "run")
        check(code == 7 and "start refused: error " in out, "an image the loader refuses: exit 7 with its error", out)
        print("     " + out.strip().splitlines()[-2])
        korimath("C:\\broken", "remove")

    print(f"{failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
