#!/usr/bin/python3
"""The fleet recipes as shipped, where PowerShell cannot run: each script that
runs korimath.exe finds it in 64-bit Program Files from any host and refuses
a file a standard user could replace before it runs it; the discovery script
passes korimath's one line through untouched and fails visibly; detection
forwards check's exit code; remediation never turns a protection off; the
Ansible play reports hosts that are not ready without failing, decodes UTF-8,
and passes ansible-playbook --syntax-check and ansible-lint's production
profile.

usage: check_fleet.py SOURCE_DIR
"""

import os
import re
import subprocess
import sys

import yaml

failures = []


def expect(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def main():
    fleet = os.path.join(sys.argv[1], "dist", "fleet")
    scripts = {name: open(os.path.join(fleet, name), encoding="utf-8").read()
               for name in sorted(os.listdir(fleet)) if name.endswith(".ps1")}
    guards = set()  # each script is uploaded alone, so each carries its own copy of the one check
    for name, text in scripts.items():
        code = re.sub(r"#.*", "", text)
        called = re.search(r"&\s*\$\w+", code)  # a program run from a path in a variable
        if not called:
            continue
        runs = text.find(called.group(0))
        expect("$env:ProgramW6432" in code and "$env:ProgramFiles" not in code,
               f"{name}: 64-bit Program Files from a 32-bit host too")
        checked = re.search(r"\$problem = Test-Korimath \$Korimath\s+if \(\$problem\) \{", text)
        expect(bool(checked) and checked.start() < runs and "0x500D0116" in text and "Get-AuthenticodeSignature" in text,
               f"{name}: refuses a writable or unsigned korimath.exe before running it")
        guards.add(re.search(r"function Test-Korimath.*?\n\}\n", text, re.S).group(0))
    expect(len(guards) == 1, "every script's Test-Korimath is the same")
    discovery = scripts["korimath-discovery.ps1"]
    expect("ConvertTo-Json" not in discovery and "\n$lines[0]\nexit 0" in discovery and "OutputEncoding" in discovery,
           "discovery: korimath's one line, untouched, as UTF-8")
    expect(discovery.count("Stop-Discovery ") >= 3 and "exit 1" in discovery, "discovery: every failure exits 1")
    expect(re.search(r"\$code = \$LASTEXITCODE[\s\S]*\nexit \$code\n$", scripts["korimath-detect.ps1"]) is not None,
           "detection: exits with check's code")
    remediation = scripts["korimath-remediate.ps1"]
    expect(not re.search(r"hypervisorlaunchtype off|Disable-WindowsOptionalFeature|DeviceGuard|LsaCfgFlags", remediation,
                         re.I) and "needs someone at the machine" in remediation and "-NoRestart" in remediation,
           "remediation: fixes features and the launch setting without a restart, never turns a protection off")

    playbook = os.path.join(fleet, "korimath-ansible.yml")
    tasks = yaml.safe_load(open(playbook, encoding="utf-8"))[0]["tasks"]
    asked = next(task for task in tasks if "register" in task)
    report = tasks[-1]
    expect(asked["ansible.windows.win_command"].get("output_encoding_override") == "utf-8"
           and asked["failed_when"] == "korimath_check.rc not in [0, 1]", "ansible: UTF-8, and exit 1 is an answer")
    install = next(task for task in tasks if "block" in task)["block"]
    expect("ansible.windows.win_tempfile" in install[0] and "Windows\\Temp" not in str(install),
           "ansible: the install copies go to a private folder of a random name, not one a user may create first")
    expect("ansible.builtin.debug" in report and "rejectattr('korimath_answer.ready')" in report["loop"]
           and "failed_when" not in report, "ansible: lists the hosts that are not ready, failing none")
    for command in (["ansible-playbook", "--syntax-check", "-i", "localhost,", playbook],
                    ["ansible-lint", "--offline", "--profile", "production", playbook]):
        done = subprocess.run(command, capture_output=True, text=True, timeout=120, cwd=fleet,
                              env=dict(os.environ, ANSIBLE_LOCAL_TEMP="/tmp", NO_COLOR="1"))
        expect(done.returncode == 0, " ".join(command[:2]) + ": " + (done.stdout + done.stderr).strip()[-300:])
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
