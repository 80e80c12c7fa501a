#!/usr/bin/python3
"""The real korimath.exe, carrying the real korimath.sys, under Wine: every
action, what it leaves behind, the services it finds and must replace, the
lock, failures as JSON, and the report compared field by field with what
this processor says through CPUID.

usage: test_operator_program.py KORIMATH_EXE KORIMATH_SYS HOST_CPUID KORIMATH_INF HOLD_SERVICE_EXE

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
    highest = int(raw["leaf80000000_eax"])
    svm = (ext_ecx >> 2) & 1 if highest >= 0x80000001 else "absent"
    fields.update(cpuid_vmx=(ecx1 >> 5) & 1, cpuid_smx=(ecx1 >> 6) & 1, cpuid_svm=svm,
                  cpuid_nested_paging=svm_edx & 1 if svm == 1 and highest >= 0x8000000A else "absent")
    fields.update({"report": True, "CPU_Vendor": text["vendor"], "CPU_Name": text["brand"],
                   "report_this_boot": True, "report_matches_processor": True,
                   "hypervisor_present": present, "hypervisor_vendor": text["hypervisor"] if present else "absent",
                   "hypervisor_root_partition": raw["hypervisor_root"] == "1", "exit_code": 0, "error": "absent",
                   "error_text": "absent"})
    # Windows' own flags mean something only without a hypervisor.
    fields.update(dict.fromkeys(["windows_virtualization_firmware_enabled", "windows_slat"],
                                "absent" if present else None))
    return fields, text["hypervisor"]


def json_matches(out, expected):
    got = one_json_object(out)
    if got is None:
        check(False, "--json prints one JSON object", out)
        return {}
    wrong = []
    for name, want in expected.items():
        value = got.get(name, "missing")
        if not (value is None if want == "absent" else value in (0, 1) if want is None else value == want):
            wrong.append(f"{name}={value!r} (want {'null' if want == 'absent' else want!r})")
    check(not wrong, f"json: {len(expected)} fields as CPUID says: {', '.join(wrong) or 'all match'}", out)
    return got


def one_json_object(out):
    """The JSON object that is all of standard output, or None."""
    try:
        got = json.loads(out.rsplit("[exit code", 1)[0])
    except ValueError:
        return None
    return got if isinstance(got, dict) else None


@contextlib.contextmanager
def holding(host, hold, *args):
    """hold_service.exe holding what args name while the block runs; waits for it to let go."""
    with subprocess.Popen(["wine", hold, *args], env=host.env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL) as holder:
        time.sleep(2)
        yield holder
        holder.wait(timeout=60)


def seed_report(host, values):
    """Writes values (name: str or int) under HKLM\\Software\\Korimath, after
    clearing the key, as an earlier load or a disk image would have left them."""
    host.run(["reg", "delete", r"HKLM\Software\Korimath", "/f"], check=False)
    for name, value in values.items():
        kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
        host.run(["reg", "add", r"HKLM\Software\Korimath", "/v", name, "/t", kind, "/d", str(value), "/f"])


def patched(program, work, folder, at, patch):
    """A copy of the program in work/folder with patch written at offset at: nothing else moves."""
    data = bytearray(open(program, "rb").read())
    data[at:at + len(patch)] = patch
    os.makedirs(os.path.join(work, folder))
    path = os.path.join(work, folder, "korimath.exe")
    open(path, "wb").write(bytes(data))
    return path


def main():
    program, image, helper, inf, holder = sys.argv[1:6]
    expected, hypervisor = expected_json(helper)
    carried = open(image, "rb").read()
    print(f"processor: {expected['CPU_Vendor']!r} {expected['CPU_Name']!r}, hypervisor {hypervisor!r}")

    with WineHost() as host, tempfile.TemporaryDirectory() as work:
        system_copy = os.path.join(host.prefix, "drive_c", "windows", "system32", "drivers", "korimath.sys")

        def korimath(folder, *args):
            code, out = host.run([folder + "\\korimath.exe"] + list(args), check=False)
            return code, f"{out}[exit code {code}]"

        def image_path():
            code, out = host.run(["reg", "query", SERVICE_KEY, "/v", "ImagePath"], check=False)
            found = re.search(r"ImagePath\s+REG_\w+\s+(.*)", out)
            return found.group(1).strip() if code == 0 and found else None

        def nothing_left(what):
            services = host.run(["reg", "query", r"HKLM\System\CurrentControlSet\Services"], check=False)[1]
            check("\\korimath" not in services.lower() and not os.path.exists(system_copy)
                  and not any(name.endswith(".new") for name in os.listdir(os.path.dirname(system_copy))),
                  f"{what}: no korimath service and no System32\\drivers\\korimath.sys afterwards")

        odd = host.place(ODD_FOLDER, [program])
        code, out = korimath(odd, "report", "--json")
        got = one_json_object(out) or {}
        verdict = got.get("verdict")
        check(code == 8 and got.get("exit_code") == 8 and got.get("report") is False and verdict
              and got.get("report_written", "") is None and got.get("driver_loaded", "") is None,
              f"report --json on a fresh prefix: one JSON object, exit 8, the verdict from user mode ({verdict})", out)
        check(all(got.get(name, "missing") == (None if want == "absent" else want) for name, want in expected.items()
                  if name.startswith("cpuid_")), "report --json: the cpuid_* fields are this processor's", out)
        dmi = "/sys/class/dmi/id/sys_vendor"  # some build machines have no DMI: then Wine's own table answers
        vendor = open(dmi, encoding="utf-8", errors="replace").read().strip() if os.access(dmi, os.R_OK) else None
        system = got.get("system_manufacturer")
        check(system == vendor if vendor else system is None or isinstance(system, str),
              f"system_manufacturer is the firmware's: {system!r} (Linux: {vendor!r})", out)
        code, out = korimath(odd, "report")
        check(code == 8 and f"({verdict})" in out, "report before any run: exit 8, the same verdict as text", out)

        # Reports an earlier load on other hardware left: set aside, and the verdict stays the machine's own.
        # The brand goes beyond ASCII, through a pipe as UTF-8.
        other = "AuthenticAMD" if expected["CPU_Vendor"] == "GenuineIntel" else "GenuineIntel"
        for vendor, brand, what in ((other, expected["CPU_Name"], "another vendor"),
                                    (expected["CPU_Vendor"], "Prozessor Übung 测试", "another brand")):
            seed_report(host, {"CPU_Vendor": vendor, "CPU_Name": brand, "CPU_VT": 1, "SVM": 1})
            code, out = korimath(odd, "report", "--json")
            got = one_json_object(out) or {}
            check(got.get("verdict") == verdict and got.get("report_matches_processor") is False
                  and "set aside" in got.get("verdict_text", "") and got.get("CPU_Name") == brand,
                  f"a report naming {what}: set aside, same verdict, CPU_Name {got.get('CPU_Name')!r}", out)
        code, out = korimath(odd, "report")
        check("Prozessor Übung 测试" in out, "text beyond ASCII reaches redirected output whole", out)

        # Every flag of both vendors and a brand of another processor, as a load on other hardware would leave
        # them: run must print what its own load writes, never what it found before.
        seed_report(host, dict({name: 1 for name in ["CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX", "CR0_NE",
                                                      "CR0_PE", "CR0_PG", "CR4_VMXE", "SVM", "SVM_NP", "VM_CR"]},
                               CPU_Vendor=expected["CPU_Vendor"], CPU_Name="Old Processor"))
        host.settle(image)
        code, out = korimath(odd, "run", "--json")
        got = json_matches(out, expected)
        check(got.get("verdict") == verdict and got.get("driver_loaded") is True,
              f"run --json, the program alone in an odd folder: this load's report, the same verdict {verdict}", out)
        nothing_left("run")
        if hypervisor:
            name = HYPERVISOR_NAMES.get(hypervisor, hypervisor)
            check(name in got.get("verdict_text", ""), f"the verdict names the hypervisor {name}", out)
        code, out = korimath(odd, "report", "--json")  # the report stays after run: exit 0 is in the fields
        got = json_matches(out, expected)
        windows_side(host, korimath, odd, got)
        check_and_firmware_setup(korimath, odd, os.path.dirname(inf), nothing_left)

        code, out = korimath(odd, "install")
        check(code == 0 and image_path() == r"\SystemRoot\System32\drivers\korimath.sys"
              and open(system_copy, "rb").read() == carried,
              "install: the service loads System32\\drivers\\korimath.sys, the carried driver byte for byte",
              f"{out} ImagePath={image_path()}")
        code, out = korimath(odd, "install")
        check(code == 0 and "already installed" in out, "install again: exit 0, already installed", out)
        with open(os.path.join(host.prefix, "drive_c", ODD_FOLDER, "korimath.sys"), "wb") as planted:
            planted.write(b"MZ" + b"\0" * 510)
        code, out = korimath(odd, "run")
        check(code == 0 and "driver loaded" in out and "Verdict (" in out and "driver stopped" in out
              and host.state("korimath") == "STOPPED" and open(system_copy, "rb").read() == carried,
              "a broken korimath.sys beside the program: run ignores it, uses the installed service, leaves it", out)

        host.service("start", "korimath")
        code, out = korimath(odd, "run", "--json")
        again = json_matches(out, expected)
        same = [name for name in list(expected) + ["verdict"] if got.get(name) != again.get(name)]
        check(code == 0 and not same, f"run --json while running: only JSON, the same report ({same or 'alike'})", out)
        host.service("start", "korimath")
        code, out = korimath(odd, "remove")
        check(code == 0 and "removed" in out and korimath(odd, "report")[0] == 0,
              "remove while running: stops and removes, exit 0; the report stays", out)
        nothing_left("remove")

        # Services an earlier version, or anyone, left pointing outside System32\drivers: into a user's
        # folder, or into an installer cache deleted since (the purged-cache case).
        broken = host.place("Users\\bob\\Downloads", [])
        with open(os.path.join(host.prefix, "drive_c", "Users", "bob", "Downloads", "korimath.sys"), "wb") as f:
            f.write(b"MZ" + b"\0" * 510)
        for leftover, action in ((broken + "\\korimath.sys", "run"), ("C:\\ccmcache\\4\\korimath.sys", "run"),
                                 (broken + "\\korimath.sys", "install")):
            host.service("create", "korimath", "type=", "kernel", "start=", "demand", "binPath=", leftover)
            code, out = korimath(odd, action)
            check(code == 0 and "pointing it at this program's driver" in out and "error" not in out,
                  f"{action} with a service loading {leftover}: repointed, never started from there, exit 0", out)
            if action == "run":
                check(image_path() == leftover and not os.path.exists(system_copy),
                      "run puts a service it did not create back as it was, and removes its file", image_path())
                host.service("delete", "korimath")
        check(image_path() == r"\SystemRoot\System32\drivers\korimath.sys", "install repoints the leftover in place")
        korimath(odd, "remove")

        hold = host.place("hold", [holder]) + "\\hold_service.exe"
        safeguards(host, korimath, odd, hold, system_copy, carried, nothing_left)
        second_review(host, korimath, odd, hold, system_copy, nothing_left)
        with holding(host, hold, "mutex", "Global\\Korimath-InstallRunRemove", "6"):
            began = time.monotonic()
            code, out = korimath(odd, "run")
            waited = time.monotonic() - began
        check(code == 0 and waited >= 3, f"run while another korimath holds the lock: waits ({waited:.1f} s), exit 0",
              out)
        nothing_left("a run that waited")

        korimath(odd, "install")
        with holding(host, hold, "service", "korimath", "10"):
            time.sleep(1)
            code, out = korimath(odd, "remove")
        check(code == 10 and "error 1072" in out and "services.msc" in out and host.state("korimath") is None,
              "remove while another program holds the service: exit 10, says why; gone once it lets go", out)

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
        stored = os.path.join(host.prefix, "drive_c", "windows", *store.split("\\"), "korimath.sys")
        check(code == 0 and "pnputil" in out and os.path.exists(stored),
              "remove of a driver-store install: the store's copy stays, says how to drop the package", out)

        # The driver resource gone: its RCDATA type entry renumbered.
        rcdata = next(e for e in pefile.PE(program).DIRECTORY_ENTRY_RESOURCE.entries if e.id == 10)
        empty = host.place("empty", [patched(program, work, "empty", rcdata.struct.get_file_offset(),
                                             (0x7FFF).to_bytes(4, "little"))])
        code, out = korimath(empty, "run")
        check(code == 4 and "carries no driver" in out, "a program that carries no driver: exit 4", out)
        # The carried driver's PE header cut away: the loader refuses it.
        refused = host.place("refused", [patched(program, work, "refused", open(program, "rb").read().index(carried),
                                                 b"\0" * 0x200)])
        code, out = korimath(refused, "run")
        check(code == 7 and "start refused: error " in out and "Verdict (" in out,
              "a driver the loader refuses: exit 7 with its error, and a verdict without the driver", out)
        nothing_left("a refused start")
        code, out = korimath(refused, "run", "--json")
        got = one_json_object(out) or {}
        check(code == got.get("exit_code") == 7 and isinstance(got.get("error"), int) and got.get("verdict") == verdict
              and "start refused" in (got.get("error_text") or "") and got.get("driver_loaded") is False,
              f"run --json with the driver refused: one JSON object, error {got.get('error')}, the same verdict", out)

        plain = host.place("plain", [program])  # cmd's own syntax would split the odd name at "&"
        host.run(["start", "/wait", "cmd", "/c", plain + "\\korimath.exe report --json > C:\\out.json"], timeout=30,
                 check=False)
        with open(os.path.join(host.prefix, "drive_c", "out.json"), encoding="utf-8") as f:
            written = f.read()
        check(one_json_object(written) is not None,
              "start /wait, a console of its own, output to a file: ends, and the file is one JSON object", written)

        relay = dict(host.env, WINEDEBUG="+relay")
        with tempfile.TemporaryFile() as trace:
            subprocess.run(["wine", odd + "\\korimath.exe", "report"], env=relay, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=trace, timeout=120)
            trace.seek(0)
            calls = [name + ("(%s)" % argument if name == "SetDefaultDllDirectories" else "")
                     for name, argument in re.findall(r"Call [\w.-]+\.(\w+)\(([0-9a-f]*).*ret=0*14000",
                                                      trace.read().decode("latin-1"))]
        check(calls[:3] == ["SetDefaultDllDirectories(00000800)", "GetCommandLineW", "CommandLineToArgvW"],
              "the DLL search is restricted to System32 (0x800) before anything else, even the command line",
              calls[:4])

    print(f"{failures} failed")
    return 1 if failures else 0


def safeguards(host, korimath, folder, hold, system_copy, carried, nothing_left):
    """What a local non-administrator could do to korimath's objects, as far as Wine shows it."""
    service_key = ["reg", "query", SERVICE_KEY, "/s"]
    with holding(host, hold, "squat", "Global\\Korimath", "8"):
        code, out = korimath(folder, "run")
    check(code == 0, "Global\\Korimath squatted with a DACL that denies everyone: run still succeeds", out)
    for kind, image in (("own", "C:\\vendor\\service.exe"), ("kernel", "\\SystemRoot\\System32\\drivers\\vendor.sys")):
        host.service("create", "korimath", "type=", kind, "start=", "demand", "binPath=", image)
        before = host.run(service_key, check=False)
        code, out = korimath(folder, "run")
        check(code == 5 and "not korimath's" in out and host.run(service_key, check=False) == before
              and not os.path.exists(system_copy), f"a {kind} service named korimath loading {image}: exit 5, "
                                                   "left exactly as it was", out)
        code, out = korimath(folder, "remove")
        check(code == 5 and host.run(service_key, check=False) == before, "remove leaves it too", out)
        host.service("delete", "korimath")
    elsewhere = os.path.join(host.prefix, "drive_c", "elsewhere.sys")
    with open(elsewhere, "wb") as f:
        f.write(b"MZ not a driver" + b"\0" * 500)
    os.link(elsewhere, system_copy)
    code, out = korimath(folder, "install")
    start = host.run(["reg", "query", SERVICE_KEY, "/v", "Start"], check=False)[1]
    check(code == 0 and os.stat(system_copy).st_nlink == 1 and open(system_copy, "rb").read() == carried
          and open(elsewhere, "rb").read().startswith(b"MZ not a driver") and "0x3" in start,
          "a hard link planted as the System32 copy: replaced by a file of its own, the other file unchanged; "
          "the service demand-start", out + start)
    spoil(system_copy)
    code, out = korimath(folder, "run")
    check(code == 0 and "driver loaded" in out and open(system_copy, "rb").read() == carried,
          "a System32 copy of the right size with other bytes: run writes the carried driver again and loads it", out)
    host.service("start", "korimath")
    spoil(system_copy)
    code, out = korimath(folder, "install")
    check(code == 0 and host.state("korimath") == "STOPPED" and open(system_copy, "rb").read() == carried,
          "install under a running driver: stops it before it replaces the file", out)
    korimath(folder, "remove")
    nothing_left("the safeguards")


def spoil(path):
    """Same size, other bytes: run compares bytes, not sizes."""
    with open(path, "r+b") as f:
        f.seek(0x200)
        f.write(b"\xCC" * 16)


def seed_raw(host, values):
    """Writes REG_SZ values as raw UTF-16 through regedit, which also stores a
    value of no bytes at all (hex(1) with nothing after it)."""
    lines = ["Windows Registry Editor Version 5.00", "", r"[-HKEY_LOCAL_MACHINE\Software\Korimath]",
             r"[HKEY_LOCAL_MACHINE\Software\Korimath]"]
    for name, text in values.items():
        lines.append(f'"{name}"=hex(1):' + ",".join(f"{b:02x}" for b in text.encode("utf-16-le")))
    path = os.path.join(host.prefix, "drive_c", "seed.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(lines) + "\r\n")
    host.run(["regedit", "/s", "C:\\seed.reg"])


def second_review(host, korimath, folder, hold, system_copy, nothing_left):
    """A service held open from the moment it exists, an old System32 copy
    held open, a foreign service's long image path, a CPU_Name of no bytes
    and one carrying a newline, a line separator and a fake verdict line."""
    with holding(host, hold, "watch", "korimath-run-", "60") as holder:
        runs = [korimath(folder, "run") for _ in range(2)]
        holder.terminate()
    check(all(code == 0 and "driver loaded" in out for code, out in runs),
          "run twice while another program holds each new service from the moment it exists: exit 0 both times", runs)
    korimath(folder, "remove")
    nothing_left("once the holder lets go, the services it held")

    korimath(folder, "install")
    spoil(system_copy)  # an older copy
    with holding(host, hold, "file", "C:\\windows\\system32\\drivers\\korimath.sys", "8"):
        code, out = korimath(folder, "run")
    check(code == 4 and "error 5" in out and "holds the file" in out and "Run as administrator" not in out,
          "an older System32 copy held open: exit 4, access denied told apart from 'not elevated'", out)
    korimath(folder, "remove")

    image = "C:\\" + "x" * 1500 + "\\service.exe"
    host.service("create", "korimath", "type=", "own", "start=", "demand", "binPath=", image)
    code, out = korimath(folder, "run", "--json")
    text = (one_json_object(out) or {}).get("error_text") or ""
    check(code == 5 and text.endswith(" [cut]") and len(text) <= 1023,
          f"a foreign service with a 1,500-character image path: exit 5, its text cut with a mark ({len(text)})", out)
    host.service("delete", "korimath")

    seed_raw(host, {"CPU_Vendor": "GenuineIntel", "CPU_Name": ""})
    code, out = korimath(folder, "report", "--json")
    check((one_json_object(out) or {}).get("CPU_Name") == "", "a CPU_Name of no bytes reads as empty", out)
    seed_raw(host, {"CPU_Vendor": "GenuineIntel", "CPU_Name": "Fake\nVerdict (vmx-enabled):\u2028x\u200b"})
    code, out = korimath(folder, "report")
    check("\nVerdict (vmx-enabled):\n" not in out and "\u2028" not in out and "\u200b" not in out
          and "Fake\ufffdVerdict" in out, "a CPU_Name with a newline and invisible characters stays on its line", out)


def check_and_firmware_setup(korimath, folder, dist, nothing_left):
    """check answers ready or not with exit 0 or 1 and one line of JSON whose fields the
    Intune rules name; firmware-setup refuses cleanly, as Wine exports none of the
    firmware functions. Neither installs anything."""
    code, out = korimath(folder, "check", "--json")
    line = out.rsplit("[exit code", 1)[0]
    got = one_json_object(line) or {}
    check(line.count("\n") == 1 and line.endswith("\n") and code == (0 if got.get("ready") else 1)
          and got.get("exit_code") == code, f"check --json: one line, exit {code} as ready={got.get('ready')}", out)
    names = {rule["SettingName"] for name in ("korimath-compliance.json", "korimath-compliance-wsl2.json")
             for rule in json.load(open(os.path.join(dist, "fleet", name), encoding="utf-8"))["Rules"]}
    check(names <= set(got), f"the Intune rules' settings {sorted(names)} are fields of check --json", out)
    code, out = korimath(folder, "check")
    check(code == (0 if got.get("ready") else 1) and out.count("\n") == 1 and got.get("verdict", "?") in out
          and len(out) < 400, "check: one short line with the verdict id, the same exit code", out)
    for args in (("firmware-setup",), ("firmware-setup", "--yes")):
        code, out = korimath(folder, *args)
        check(code == 14 and "cannot restart into firmware setup" in out and "UEFI Firmware Settings" in out
              and "Nothing was changed" in out, f"{' '.join(args)}: refused (exit 14), Microsoft's route named", out)
    nothing_left("check and firmware-setup")


def windows_side(host, korimath, folder, before):
    """What Wine's Windows lacks (DISM, the Windows Hypervisor Platform, the DeviceGuard and BCD WMI classes,
    launch events; product type 0x1C): not read, every row still a boolean and a blocker string; a
    policy value Group Policy would write reaches the JSON."""
    rows = ["hyper_v", "wsl2", "sandbox", "whp_programs", "own_hypervisor_programs"]
    check(before.get("windows_edition") == "other" and before.get("feature_hyper_v", "") is None
          and before.get("whp_usable") is False and before.get("vbs_status", "") is None
          and before.get("hypervisor_launch_type", "") is None and before.get("hypervisor_launch_event", "") is None
          and before.get("ready") is (before.get("blocker") == "none")
          and all(isinstance(before.get("ready_" + row), bool) and isinstance(before.get("blocker_" + row), str)
                  for row in rows), "Wine's Windows: its facts not read, every field of the type fleets rely on", before)
    host.run(["reg", "add", r"HKLM\Software\Policies\Microsoft\Windows\DeviceGuard", "/v",
              "HypervisorEnforcedCodeIntegrity", "/t", "REG_DWORD", "/d", "1", "/f"])
    code, out = korimath(folder, "report", "--json")
    got = one_json_object(out) or {}
    check(got.get("memory_integrity_policy") == 1 and got.get("vbs_locked") is True
          and got.get("memory_integrity_configured") is True, "a policy value: configured, locked in UEFI", out)
    code, out = korimath(folder, "report")
    check("no DISM API" in out and "hypervisorlaunchtype not read" in out and "set by policy" in out
          and "WSL 2: " in out, "report: what was not read, and a row for each kind of program", out)


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
