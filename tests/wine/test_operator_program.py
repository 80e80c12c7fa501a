#!/usr/bin/python3
"""The real korimath.exe, carrying the real korimath.sys, under Wine: every
action, what it leaves behind, the services it finds and must replace, the
lock, failures as JSON, and the report compared field by field with what
this processor says through CPUID.

usage: test_operator_program.py KORIMATH_EXE KORIMATH_SYS KORIMATH_INF HOLD_SERVICE_EXE

What Wine hides and how the test works around it: docs/wine.md.
"""

import contextlib
import json
import os
import re
import subprocess
import sys
import tempfile
import time

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from winehost import WineHost  # noqa: E402

# Spaces, ")", "&", "!", "%" and letters beyond ASCII: all must work in a folder name.
ODD_FOLDER = "korimath-1.0.0.2 (1) & co! 100% 测试 Übung"
HYPERVISOR_NAMES = {"Microsoft Hv": "Microsoft Hyper-V", "KVMKVMKVM": "KVM", "VMwareVMware": "VMware",
                    "XenVMMXenVMM": "Xen", "VBoxVBoxVBox": "VirtualBox"}
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\korimath"
SYSTEM_COPY_PATH = r"\SystemRoot\System32\drivers\korimath.sys"
RUN_DISPLAY_NAME = "Korimath virtualization probe, temporary: korimath run removes it when it ends"
failures = 0


def check(ok, what, output=""):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures += 1
        print("     output: " + str(output).strip().replace("\n", "\n             "))


def leaf(number):
    """CPUID's four registers for one leaf, read directly by Debian's cpuid tool: /proc/cpuinfo is no substitute,
    the kernel trims the brand and drops flags that firmware turned off."""
    out = subprocess.run(["cpuid", "-1", "-r", "-l", hex(number)], check=True, capture_output=True, text=True,
                         timeout=30).stdout
    return [int(value, 16) for value in re.findall(r"e[abcd]x=(0x[0-9a-f]+)", out)]


def text(*registers):
    """The registers' bytes up to the first NUL: how the driver and korimath.exe take these texts."""
    return b"".join(r.to_bytes(4, "little") for r in registers).split(b"\0")[0].decode("latin-1")


def expected_json():
    """The JSON fields korimath.exe must print on this processor, from CPUID
    read directly; None marks a flag Wine's emulation decides (0 or 1)."""
    _, ebx, ecx, edx = leaf(0)
    vendor, brand = text(ebx, edx, ecx), "".join(text(*leaf(n)) for n in (0x80000002, 0x80000003, 0x80000004))
    ecx1, highest, ext_ecx, svm_edx = leaf(1)[2], leaf(0x80000000)[0], leaf(0x80000001)[2], leaf(0x8000000A)[3]
    present = (ecx1 >> 31) & 1 == 1
    top, *hv = leaf(0x40000000) if present else [0, 0, 0, 0]
    hypervisor = text(*hv)  # EBX, ECX, EDX
    # Root: CreatePartitions and CpuManagement without Isolation, and no other interface at 0x40000100.
    root = hypervisor == "Microsoft Hv" and top >= 0x40000003 and leaf(0x40000003)[1] & 0x401001 == 0x1001 \
        and not 0x40000100 < leaf(0x40000100)[0] < 0x40000200
    fields = dict.fromkeys(["CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX", "CR0_NE", "CR0_PE", "CR0_PG", "CR4_VMXE",
                            "SVM", "SVM_NP", "VM_CR"], "absent")
    if vendor == "GenuineIntel":
        fields.update(dict.fromkeys(["BIOSLock", "VMInSMX", "VMOutSideSMX"], None if ecx1 & 0x60 else 0))
        fields.update(dict.fromkeys(["CR0_NE", "CR0_PE", "CR0_PG", "CR4_VMXE"], None), CPU_VT=(ecx1 >> 5) & 1)
    elif vendor == "AuthenticAMD":
        fields.update(SVM=(ext_ecx >> 2) & 1, SVM_NP=svm_edx & 1, VM_CR=None if ext_ecx & 4 else 0)
    svm = (ext_ecx >> 2) & 1 if highest >= 0x80000001 else "absent"
    fields.update(cpuid_vmx=(ecx1 >> 5) & 1, cpuid_smx=(ecx1 >> 6) & 1, cpuid_svm=svm,
                  cpuid_nested_paging=svm_edx & 1 if svm == 1 and highest >= 0x8000000A else "absent")
    fields.update({"report": True, "CPU_Vendor": vendor, "CPU_Name": brand, "report_this_boot": True,
                   "report_matches_processor": True, "hypervisor_present": present,
                   "hypervisor_vendor": hypervisor if present else "absent", "hypervisor_root_partition": root,
                   "exit_code": 0, "error": "absent", "error_text": "absent"})
    # Windows' own flags mean something only without a hypervisor.
    fields.update(dict.fromkeys(["windows_virtualization_firmware_enabled", "windows_slat"],
                                "absent" if present else None))
    return fields, hypervisor


def json_matches(out, expected):
    got = one_json_object(out)
    wrong = [f"{name}={got.get(name, 'missing')!r} (want {'null' if want == 'absent' else want!r})"
             for name, want in expected.items() if got is not None and not (
                 got.get(name, "missing") is None if want == "absent" else
                 got.get(name) in (0, 1) if want is None else got.get(name) == want)]
    check(got is not None and not wrong,
          f"json: one object, {len(expected)} fields as CPUID says: {', '.join(wrong) or 'all match'}", out)
    return got or {}


def has(got, **want):
    """Each named field there with exactly that value (false is not 0)."""
    return all(name in got and type(got[name]) is type(value) and got[name] == value for name, value in want.items())


def one_json_object(out):
    """The JSON object that is all of standard output, or None."""
    try:
        got = json.loads(out.rsplit("[exit code", 1)[0])
    except ValueError:
        return None
    return got if isinstance(got, dict) else None


class Prefix:
    """korimath.exe in a Wine prefix, and what it leaves there."""

    def __init__(self, host, hold):
        self.host, self.hold = host, hold
        self.system_copy = os.path.join(host.prefix, "drive_c", "windows", "system32", "drivers", "korimath.sys")

    def korimath(self, folder, *args):
        """(exit code, output with its code appended, the JSON object that is all of it or {})."""
        code, out = self.host.run([folder + "\\korimath.exe"] + list(args), check=False)
        return code, f"{out}[exit code {code}]", one_json_object(out) or {}

    def expect(self, folder, args, code, says, what, also=lambda: True):
        """Runs korimath; its exit code, the texts its output holds, and what also says afterwards."""
        got, out, _ = self.korimath(folder, *args)
        check(got == code and all(text in out for text in says) and also(), what, out)
        return out

    def carried(self):
        return open(self.system_copy, "rb").read() if os.path.exists(self.system_copy) else None

    def image_path(self):
        code, out = self.host.run(["reg", "query", SERVICE_KEY, "/v", "ImagePath"], check=False)
        found = re.search(r"ImagePath\s+REG_\w+\s+(.*)", out)
        return found.group(1).strip() if code == 0 and found else None

    def nothing_left(self, what):
        services = self.host.run(["reg", "query", r"HKLM\System\CurrentControlSet\Services"], check=False)[1]
        check("\\korimath" not in services.lower() and not os.path.exists(self.system_copy)
              and not any(name.endswith(".new") for name in os.listdir(os.path.dirname(self.system_copy))),
              f"{what}: no korimath service and no System32\\drivers\\korimath.sys afterwards")

    @contextlib.contextmanager
    def holding(self, *args):
        """hold_service.exe holding what args name (for at most the seconds they give) while the block runs,
        from the moment it says it holds it; ended when the block is done, and waited for."""
        with subprocess.Popen(["wine", self.hold, *args], env=self.host.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL) as holder:
            holder.stdout.readline()  # "held", or nothing if it could not start
            yield
            holder.terminate()
            holder.wait(timeout=60)

    def create(self, kind, image):
        self.host.service("create", "korimath", "type=", kind, "start=", "demand", "binPath=", image)

    def plant(self, path, data=b"MZ" + b"\0" * 510):
        """A file in the prefix's drive C: (path relative to it)."""
        path = os.path.join(self.host.prefix, "drive_c", *path.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def seed_report(self, values, raw=False):
        """Values under HKLM\\Software\\Korimath after clearing the key, as an earlier load or a disk image would
        have left them: through reg (a str or an int each), or raw UTF-16 through regedit, which also stores a
        value of no bytes at all (hex(1) with nothing after it)."""
        self.host.run(["reg", "delete", r"HKLM\Software\Korimath", "/f"], check=False)
        if raw:
            lines = ["Windows Registry Editor Version 5.00", "", r"[HKEY_LOCAL_MACHINE\Software\Korimath]"]
            lines += [f'"{name}"=hex(1):' + ",".join(f"{b:02x}" for b in text.encode("utf-16-le"))
                      for name, text in values.items()]
            with open(os.path.join(self.host.prefix, "drive_c", "seed.reg"), "w", encoding="utf-16") as f:
                f.write("\r\n".join(lines) + "\r\n")
            self.host.run(["regedit", "/s", "C:\\seed.reg"])
        for name, value in values.items() if not raw else ():
            kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
            self.host.run(["reg", "add", r"HKLM\Software\Korimath", "/v", name, "/t", kind, "/d", str(value), "/f"])


def patched(program, work, folder, at, patch):
    """A copy of the program in work/folder with patch written at offset at: nothing else moves."""
    data = bytearray(open(program, "rb").read())
    data[at:at + len(patch)] = patch
    os.makedirs(os.path.join(work, folder))
    path = os.path.join(work, folder, "korimath.exe")
    open(path, "wb").write(bytes(data))
    return path


def spoil(path):
    """Same size, other bytes: run compares bytes, not sizes."""
    with open(path, "r+b") as f:
        f.seek(0x200)
        f.write(b"\xCC" * 16)


def main():
    program, image, inf, holder = sys.argv[1:5]
    expected, hypervisor = expected_json()
    carried = open(image, "rb").read()
    print(f"processor: {expected['CPU_Vendor']!r} {expected['CPU_Name']!r}, hypervisor {hypervisor!r}")

    with WineHost() as host, tempfile.TemporaryDirectory() as work:
        wine = Prefix(host, host.place("hold", [holder]) + "\\hold_service.exe")
        korimath, expect = wine.korimath, wine.expect
        odd = host.place(ODD_FOLDER, [program])
        code, out, got = korimath(odd, "report", "--json")
        verdict = got.get("verdict")
        check(code == 8 and verdict and has(got, exit_code=8, report=False, report_written=None, driver_loaded=None),
              f"report --json on a fresh prefix: one JSON object, exit 8, the verdict from user mode ({verdict})", out)
        dmi = "/sys/class/dmi/id/sys_vendor"  # some build machines have no DMI: then Wine's own table answers
        vendor = open(dmi, encoding="utf-8", errors="replace").read().strip() if os.access(dmi, os.R_OK) else None
        system = got.get("system_manufacturer")
        check(system == vendor if vendor else system is None or isinstance(system, str),
              f"system_manufacturer is the firmware's: {system!r} (Linux: {vendor!r})", out)
        expect(odd, ["report"], 8, [f"({verdict})"], "report before any run: exit 8, the same verdict as text")

        # Reports an earlier load on other hardware left: set aside, and the verdict stays the machine's own.
        # The brand goes beyond ASCII, through a pipe as UTF-8.
        other = "AuthenticAMD" if expected["CPU_Vendor"] == "GenuineIntel" else "GenuineIntel"
        for vendor, brand, what in ((other, expected["CPU_Name"], "another vendor"),
                                    (expected["CPU_Vendor"], "Prozessor Übung 测试", "another brand")):
            wine.seed_report({"CPU_Vendor": vendor, "CPU_Name": brand, "CPU_VT": 1, "SVM": 1})
            code, out, got = korimath(odd, "report", "--json")
            check(has(got, verdict=verdict, report_matches_processor=False, CPU_Name=brand) and "set aside" in
                  got.get("verdict_text", ""), f"a report naming {what}: set aside, same verdict, its CPU_Name", out)
        expect(odd, ["report"], 0, ["Prozessor Übung 测试"], "text beyond ASCII reaches redirected output whole")

        # Every flag of both vendors and a brand of another processor, as a load on other hardware would leave
        # them: run must print what its own load writes, never what it found before.
        wine.seed_report(dict({name: 1 for name in ["CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX", "CR0_NE",
                                                     "CR0_PE", "CR0_PG", "CR4_VMXE", "SVM", "SVM_NP", "VM_CR"]},
                              CPU_Vendor=expected["CPU_Vendor"], CPU_Name="Old Processor"))
        host.settle(image)
        code, out, _ = korimath(odd, "run", "--json")
        got = json_matches(out, expected)
        name = HYPERVISOR_NAMES.get(hypervisor, hypervisor)
        check(has(got, verdict=verdict, driver_loaded=True) and name in got.get("verdict_text", ""),
              f"run --json, alone in an odd folder: this load's report, the same verdict, naming {name!r}", out)
        wine.nothing_left("run")
        got = json_matches(korimath(odd, "report", "--json")[1], expected)  # the report stays: exit 0 in the fields
        windows_side(wine, odd, got)
        check_and_firmware_setup(wine, odd, os.path.dirname(inf))

        expect(odd, ["install"], 0, [], "install: the service loads the System32 copy, the carried driver's bytes",
               lambda: wine.image_path() == SYSTEM_COPY_PATH and wine.carried() == carried)
        expect(odd, ["install"], 0, ["already installed"], "install again: exit 0, already installed")
        wine.plant(ODD_FOLDER + "\\korimath.sys")
        expect(odd, ["run"], 0, ["driver loaded", "Verdict (", "driver stopped"],
               "a broken korimath.sys beside the program: run ignores it, uses the installed service, leaves it",
               lambda: host.state("korimath") == "STOPPED" and wine.carried() == carried)
        host.service("start", "korimath")
        code, out, _ = korimath(odd, "run", "--json")
        again = json_matches(out, expected)
        same = [name for name in list(expected) + ["verdict"] if got.get(name) != again.get(name)]
        check(code == 0 and not same, f"run --json while running: only JSON, the same report ({same or 'alike'})", out)
        host.service("start", "korimath")
        expect(odd, ["remove"], 0, ["removed"], "remove while running: stops and removes, exit 0; the report stays",
               lambda: korimath(odd, "report")[0] == 0)
        wine.nothing_left("remove")

        # Services an earlier version, or anyone, left pointing outside System32\drivers: into a user's
        # folder, or into an installer cache deleted since (the purged-cache case).
        wine.plant("Users\\bob\\Downloads\\korimath.sys")
        for leftover, action in (("C:\\Users\\bob\\Downloads\\korimath.sys", "run"),
                                 ("C:\\ccmcache\\4\\korimath.sys", "run"),
                                 ("C:\\Users\\bob\\Downloads\\korimath.sys", "install")):
            wine.create("kernel", leftover)
            code, out, _ = korimath(odd, action)
            restored = action != "run" or (wine.image_path() == leftover and wine.carried() is None)
            check(code == 0 and "pointing it at this program's driver" in out and "error" not in out and restored,
                  f"{action} with a service loading {leftover}: repointed, exit 0; run puts it back, file gone", out)
            if action == "run":
                host.delete("korimath")
        check(wine.image_path() == SYSTEM_COPY_PATH, "install repoints the leftover in place")
        korimath(odd, "remove")

        safeguards(wine, odd, carried)
        second_review(wine, odd)
        with wine.holding("mutex", "Global\\Korimath-InstallRunRemove", "5"):
            began = time.monotonic()
            code, out, _ = korimath(odd, "run")
            waited = time.monotonic() - began
        check(code == 0 and waited >= 2, f"run while another korimath holds the lock: waits ({waited:.1f} s)", out)
        wine.nothing_left("a run that waited")
        korimath(odd, "install")
        with wine.holding("service", "korimath", "10"):
            code, out, _ = korimath(odd, "remove")
        check(code == 10 and "error 1072" in out and "services.msc" in out and host.state("korimath") is None,
              "remove while another program holds the service: exit 10, says why; gone once it lets go", out)

        primitive_driver_install(host, image, inf)
        store = "windows\\system32\\DriverStore\\FileRepository\\korimath.inf_amd64_5f1e2d3c4b5a6978"
        host.place(store, [image])
        host.delete("korimath")  # Wine's sc cannot change a binPath in place
        wine.create("kernel", "\\SystemRoot\\" + store[8:] + "\\korimath.sys")
        expect(odd, ["run"], 0, ["installed from the driver store", "driver loaded"],
               "run with the service installed from the driver store: uses it, exit 0")
        stored = os.path.join(host.prefix, "drive_c", *store.split("\\"), "korimath.sys")
        expect(odd, ["remove"], 0, ["pnputil"], "remove of a driver-store install: its copy stays, pnputil named",
               lambda: os.path.exists(stored))

        # The driver resource gone (its RCDATA type entry renumbered), and the carried driver's PE header cut away.
        rcdata = next(e for e in pefile.PE(program).DIRECTORY_ENTRY_RESOURCE.entries if e.id == 10)
        empty = host.place("empty", [patched(program, work, "empty", rcdata.struct.get_file_offset(),
                                             (0x7FFF).to_bytes(4, "little"))])
        expect(empty, ["run"], 4, ["carries no driver"], "a program that carries no driver: exit 4")
        refused = host.place("refused", [patched(program, work, "refused", open(program, "rb").read().index(carried),
                                                 b"\0" * 0x200)])
        expect(refused, ["run"], 7, ["start refused: error ", "Verdict ("],
               "a driver the loader refuses: exit 7 with its error, and a verdict without the driver")
        wine.nothing_left("a refused start")
        code, out, got = korimath(refused, "run", "--json")
        check(code == 7 and has(got, exit_code=7, verdict=verdict, driver_loaded=False)
              and type(got.get("error")) is int and "start refused" in got.get("error_text", ""),
              "run --json, driver refused: its error, the verdict", out)

        plain = host.place("plain", [program])  # cmd's own syntax would split the odd name at "&"
        host.run(["start", "/wait", "cmd", "/c", plain + "\\korimath.exe report --json > C:\\out.json"], timeout=30,
                 check=False)
        written = open(os.path.join(host.prefix, "drive_c", "out.json"), encoding="utf-8").read()
        check(one_json_object(written), "start /wait, a console of its own, output to a file: one JSON object", written)

        with tempfile.TemporaryFile() as trace:
            subprocess.run(["wine", odd + "\\korimath.exe", "report"], env=dict(host.env, WINEDEBUG="+relay"),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=trace, timeout=120)
            trace.seek(0)
            calls = [name + ("(%s)" % argument if name == "SetDefaultDllDirectories" else "")
                     for name, argument in re.findall(r"Call [\w.-]+\.(\w+)\(([0-9a-f]*).*ret=0*14000",
                                                      trace.read().decode("latin-1"))]
        check(calls[:3] == ["SetDefaultDllDirectories(00000800)", "GetCommandLineW", "CommandLineToArgvW"],
              "the DLL search restricted to System32 (0x800) before anything else, even the command line", calls[:4])

    print(f"{failures} failed")
    return 1 if failures else 0


def safeguards(wine, folder, carried):
    """What a local non-administrator could do to korimath's objects, as far as Wine shows it."""
    host, service_key = wine.host, ["reg", "query", SERVICE_KEY, "/s"]
    with wine.holding("squat", "Global\\Korimath", "8"):
        code, out, _ = wine.korimath(folder, "run")
    check(code == 0, "Global\\Korimath squatted with a DACL that denies everyone: run still succeeds", out)
    for kind, image in (("own", "C:\\vendor\\service.exe"), ("kernel", "\\SystemRoot\\System32\\drivers\\vendor.sys")):
        wine.create(kind, image)
        before = host.run(service_key, check=False)
        for action in ("run", "remove"):
            wine.expect(folder, [action], 5, ["not korimath's"] if action == "run" else [],
                        f"{action} with a {kind} service named korimath loading {image}: exit 5, left as it was",
                        lambda: host.run(service_key, check=False) == before and wine.carried() is None)
        wine.host.delete("korimath")
    elsewhere = os.path.join(host.prefix, "drive_c", "elsewhere.sys")
    wine.plant("elsewhere.sys", b"MZ not a driver" + b"\0" * 500)
    os.link(elsewhere, wine.system_copy)
    wine.plant("windows\\system32\\drivers\\korimath.sys.4321.new")  # a run that died; nothing_left checks it
    wine.expect(folder, ["install"], 0, [], "a hard link planted as the System32 copy: replaced by a file of its own; "
                "the service demand-start",
                lambda: os.stat(wine.system_copy).st_nlink == 1 and wine.carried() == carried
                and open(elsewhere, "rb").read().startswith(b"MZ not a driver")
                and "0x3" in host.run(["reg", "query", SERVICE_KEY, "/v", "Start"], check=False)[1])
    spoil(wine.system_copy)
    wine.expect(folder, ["run"], 0, ["driver loaded"], "a System32 copy of other bytes: run writes the carried driver",
                lambda: wine.carried() == carried)
    host.service("start", "korimath")
    spoil(wine.system_copy)
    wine.expect(folder, ["install"], 0, [], "install under a running driver: stops it before it replaces the file",
                lambda: host.state("korimath") == "STOPPED" and wine.carried() == carried)
    wine.korimath(folder, "remove")
    wine.nothing_left("the safeguards")


def second_review(wine, folder):
    """A service held open from the moment it exists, an old System32 copy
    held open, a foreign service's long image path, a CPU_Name of no bytes
    and one carrying a newline, a line separator and a fake verdict line."""
    with wine.holding("watch", "korimath-run-", "60"):
        runs = [wine.korimath(folder, "run")[:2] for _ in range(2)]
    check(all(code == 0 and "driver loaded" in out for code, out in runs),
          "run twice while another program holds each new service from the moment it exists: exit 0 both times", runs)
    wine.korimath(folder, "remove")
    wine.nothing_left("once the holder lets go, the services it held")
    # Temporary services a run that died left: the next run removes those its display name marks as run's, only.
    crashed, other = "korimath-run-0123456789abcdef", "korimath-run-fedcba9876543210"
    for name, display in ((crashed, f"{RUN_DISPLAY_NAME} ({crashed})"), (other, "Someone else's driver")):
        wine.host.service("create", name, "type=", "kernel", "start=", "demand", "displayname=", display, "binPath=",
                          "C:\\windows\\system32\\drivers\\korimath.sys")
    wine.korimath(folder, "run")
    check(wine.host.state(crashed) is None and wine.host.state(other) == "STOPPED",
          "a temporary service a run that died left: the next run removes it, and not another program's")
    wine.host.delete(other)

    wine.korimath(folder, "install")
    spoil(wine.system_copy)  # an older copy
    with wine.holding("file", "C:\\windows\\system32\\drivers\\korimath.sys", "8"):
        code, out, _ = wine.korimath(folder, "run")
    check(code == 4 and "error 5" in out and "holds the file" in out and "Run as administrator" not in out,
          "an older System32 copy held open: exit 4, access denied told apart from 'not elevated'", out)
    wine.korimath(folder, "remove")

    wine.create("own", "C:\\" + "x" * 1500 + "\\service.exe")
    code, out, got = wine.korimath(folder, "run", "--json")
    text = got.get("error_text") or ""
    check(code == 5 and text.endswith(" [cut]") and len(text) <= 1023,
          f"a foreign service with a 1,500-character image path: exit 5, its text cut with a mark ({len(text)})", out)
    wine.host.delete("korimath")

    wine.seed_report({"CPU_Vendor": "GenuineIntel", "CPU_Name": ""}, raw=True)
    check(wine.korimath(folder, "report", "--json")[2].get("CPU_Name") == "", "a CPU_Name of no bytes reads as empty")
    wine.seed_report({"CPU_Vendor": "GenuineIntel", "CPU_Name": "Fake\nVerdict (vmx-enabled):\u2028x\u200b"}, raw=True)
    code, out, _ = wine.korimath(folder, "report")
    check("\nVerdict (vmx-enabled):\n" not in out and "\u2028" not in out and "\u200b" not in out
          and "Fake\ufffdVerdict" in out, "a CPU_Name with a newline and invisible characters stays on its line", out)


def check_and_firmware_setup(wine, folder, dist):
    """check answers ready or not with exit 0 or 1 and one line of JSON whose fields the
    Intune rules name; firmware-setup refuses cleanly, as Wine exports none of the
    firmware functions. Neither installs anything."""
    code, out, got = wine.korimath(folder, "check", "--json")
    line = out.rsplit("[exit code", 1)[0]
    exit_code = 0 if got.get("ready") else 1
    check(line.count("\n") == 1 and line.endswith("\n") and code == exit_code and got.get("exit_code") == code,
          f"check --json: one line, exit {code} as ready={got.get('ready')}", out)
    names = {rule["SettingName"] for name in ("korimath-compliance.json", "korimath-compliance-wsl2.json")
             for rule in json.load(open(os.path.join(dist, "fleet", name), encoding="utf-8"))["Rules"]}
    check(names <= set(got), f"the Intune rules' settings {sorted(names)} are fields of check --json", out)
    code, out, _ = wine.korimath(folder, "check")
    check(code == exit_code and got.get("verdict", "?") in out and out.count("\n") == 1 and len(out) < 400,
          "check: one short line with the verdict id, the same exit code", out)
    for args in (["firmware-setup"], ["firmware-setup", "--yes"]):
        wine.expect(folder, args, 14, ["cannot restart into firmware setup", "UEFI Firmware Settings",
                                       "Nothing was changed"], f"{' '.join(args)}: exit 14, Microsoft's route named")
    wine.nothing_left("check and firmware-setup")


def windows_side(wine, folder, before):
    """What Wine's Windows lacks (DISM, the Windows Hypervisor Platform, the DeviceGuard and BCD WMI classes,
    launch events; product type 0x1C): not read, every row still a boolean and a blocker string; a
    policy value Group Policy would write reaches the JSON."""
    rows = ["hyper_v", "wsl2", "sandbox", "whp_programs", "own_hypervisor_programs"]
    check(has(before, windows_edition="other", feature_hyper_v=None, whp_usable=False, vbs_status=None,
              hypervisor_launch_type=None, hypervisor_launch_event=None, ready=before.get("blocker") == "none")
          and all(isinstance(before.get("ready_" + row), bool) and isinstance(before.get("blocker_" + row), str)
                  for row in rows), "Wine's Windows: its facts not read, each field of the type fleets rely on", before)
    wine.host.run(["reg", "add", r"HKLM\Software\Policies\Microsoft\Windows\DeviceGuard", "/v",
                   "HypervisorEnforcedCodeIntegrity", "/t", "REG_DWORD", "/d", "1", "/f"])
    code, out, got = wine.korimath(folder, "report", "--json")
    check(has(got, memory_integrity_policy=1, vbs_locked=True, memory_integrity_configured=True),
          "a policy value: configured, locked in UEFI", out)
    wine.expect(folder, ["report"], 0, ["no DISM API", "hypervisorlaunchtype not read", "set by policy", "WSL 2: "],
                "report: what was not read, and a row for each kind of program")


def primitive_driver_install(host, image, inf):
    """InstallHinfSection of the decorated DefaultInstall section creates the
    korimath service, which loads the driver."""
    folder = host.place("inf", [image])
    with open(inf, "rb") as source, open(os.path.join(host.prefix, "drive_c", "inf", "korimath.inf"), "wb") as f:
        f.write(source.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
    host.run(["rundll32", "setupapi.dll,InstallHinfSection", "DefaultInstall.NTamd64", "128",
              folder + "\\korimath.inf"])
    added = host.state("korimath")
    host.service("start", "korimath", check=False)
    check(added == "STOPPED" and host.state("korimath") == "RUNNING",
          "INF: InstallHinfSection adds the demand-start service korimath, which loads the driver")
    host.service("stop", "korimath", check=False)


if __name__ == "__main__":
    sys.exit(main())
