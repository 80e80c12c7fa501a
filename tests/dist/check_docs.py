#!/usr/bin/python3
"""Holds the texts people follow (both READMEs and docs/, the error
sentences, the release scripts) to three promises Windows keeps only
conditionally: test signing needs Secure Boot off; cross-signed drivers are
no longer trusted; pnputil needs the INF and the catalog, so the bundle must
ship both. Every verdict id the program gives is documented in both
references. And the Intune compliance rules use only Intune's documented
operators and data types, with operands of their type and blocker ids the
reference lists (the Wine test checks each SettingName against "check --json").

usage: check_docs.py SOURCE_DIR
"""

import json
import os
import re
import sys

TEXTS = ["README.md", "docs/reference.md", "docs/release.md", "dist/README-Windows.txt", "operator/decisions/messages.cpp", "scripts/sign", "scripts/bundle",
         "scripts/submission"]


def problems(root):
    found = []
    texts = {name: open(os.path.join(root, name), encoding="utf-8").read() for name in TEXTS}
    for name, text in texts.items():
        lines = text.splitlines()
        for number, line in enumerate(lines):
            nearby = " ".join(lines[max(0, number - 3):number + 4])
            if "testsigning" in line and "Secure Boot" not in nearby:
                found.append(f"{name}:{number + 1}: testsigning without the Secure Boot condition")
        for sentence in re.split(r"(?<=[.;])\s+", re.sub(r"\s+", " ", text)):
            if re.search(r"cross-(certificate|sign)", sentence, re.I) and "no longer" not in sentence:
                found.append(f"{name}: cross-signing offered as if trusted: {sentence[:120]!r}")
    bundled = re.search(r"^files=\(([^)]*)\)", texts["scripts/bundle"], re.M)
    shipped = set(bundled.group(1).split()) if bundled else set()
    if any("pnputil /add-driver" in text for text in texts.values()) and not {"korimath.inf", "korimath.cat"} <= shipped:
        found.append(f"pnputil /add-driver is documented, but scripts/bundle ships only {sorted(shipped)}")
    folder = os.path.join(root, "operator", "decisions")
    code = "".join(open(os.path.join(folder, name), encoding="utf-8").read()
                   for name in sorted(os.listdir(folder)) if name.startswith("verdict"))
    for verdict in sorted(set(re.findall(r'L"((?:vmx|svm|not)-[a-z0-9-]+)"', code))):
        for name in ("docs/reference.md", "dist/README-Windows.txt"):
            if not re.search(rf"(?<![\w-]){verdict}(?![\w-])", texts[name]):
                found.append(f"{name}: verdict id {verdict} is not documented")
    found += fleet_rules(root, texts["docs/reference.md"])
    return found


# Intune custom compliance rules (Microsoft Learn, "Create a JSON file for custom compliance settings").
OPERATORS = {"IsEquals", "NotEquals", "GreaterThan", "GreaterEquals", "LessThan", "LessEquals"}
TYPES = {"Boolean": bool, "Int64": int, "Double": float, "String": str, "DateTime": str, "Version": str}


def fleet_rules(root, reference):
    found = []
    rules = [rule for name in ("korimath-compliance.json", "korimath-compliance-wsl2.json")
             for rule in json.load(open(os.path.join(root, "dist", "fleet", name), encoding="utf-8"))["Rules"]]
    for rule in rules:
        where = f"korimath-compliance.json: {rule.get('SettingName')} {rule.get('Operand')!r}"
        kind = TYPES.get(rule.get("DataType"))
        if rule.get("Operator") not in OPERATORS or kind is None or type(rule.get("Operand")) is not kind:
            found.append(f"{where}: operator, data type or operand outside Intune's documented set")
        if not str(rule.get("MoreInfoUrl", "")).startswith("https://") or not all(
                {"Language", "Title", "Description"} <= set(text) for text in rule.get("RemediationStrings") or [{}]):
            found.append(f"{where}: needs an https MoreInfoUrl and RemediationStrings with Language, Title, Description")
        if rule.get("SettingName").startswith("blocker") and f"`{rule.get('Operand')}`" not in reference:
            found.append(f"{where}: not a blocker id docs/reference.md lists")
    return found


def main():
    found = problems(sys.argv[1])
    for problem in found:
        print("FAIL " + problem)
    print(f"{len(found)} problems in {len(TEXTS)} texts")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
