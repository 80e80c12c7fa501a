#!/usr/bin/python3
"""Checks the bytes of korimath.sys and korimath.exe in one pass against a
table of expected fields, then the guard table, the exception scope around
RDMSR and the PDB the image names. Prints every mismatch.

usage: check_image.py BUILD_DIR   (holding korimath.sys, .map, .pdb, korimath.exe)
"""

import os
import re
import struct
import subprocess
import sys
import uuid

import pefile

DISCARDABLE, EXECUTE, WRITE = 0x02000000, 0x20000000, 0x80000000
KERNEL_IMPORTS = {"RtlInitAnsiString", "RtlAnsiStringToUnicodeString", "RtlFreeUnicodeString", "RtlWriteRegistryValue",
                  "sprintf_s", "strncat", "strcmp", "memset", "__C_specific_handler"}


def directory(pe, name):
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + name]]


def section_name(pe, rva):
    return next((s.Name.rstrip(b"\0").decode() for s in pe.sections
                 if s.VirtualAddress <= rva < s.VirtualAddress + s.Misc_VirtualSize), None)


def imports(pe):
    return {e.dll.decode().lower(): {i.name.decode() for i in e.imports} for e in pe.DIRECTORY_ENTRY_IMPORT}


def version(pe):
    fixed = pe.VS_FIXEDFILEINFO[0]
    tables = [t for info in pe.FileInfo[0] for t in getattr(info, "StringTable", [])]
    translations = [v.entry.get(b"Translation") for info in pe.FileInfo[0] for v in getattr(info, "Var", [])]
    return (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS, hex(fixed.FileOS),
            fixed.FileType, fixed.FileSubtype, hex(fixed.FileFlagsMask), fixed.FileFlags,
            [t.LangID.decode().lower() for t in tables], translations, tables[0].entries.get(b"InternalName"))


def debug_records(pe):
    return [(d.struct.Type, getattr(d.entry, "PdbFileName", None)) for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])]


def guard_targets(pe, symbols):
    """The functions control-flow guard lets an indirect call reach."""
    lc = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    stride = 4 + ((lc.GuardFlags >> 28) & 0xF)
    table = lc.GuardCFFunctionTable - pe.OPTIONAL_HEADER.ImageBase
    rvas = [pe.get_dword_at_rva(table + stride * i) for i in range(lc.GuardCFFunctionCount)]
    names = {rva: name for name, rva in symbols.items()}
    return sorted((names.get(rva, hex(rva)), rva % 16) for rva in rvas)


def rdmsr_guarded(pe, symbols):
    """Every call of the out-of-line RDMSR lies inside a __try scope whose
    filter is EXCEPTION_EXECUTE_HANDLER, return address included."""
    rdmsr, handler = symbols["ExecuteRdmsr(unsigned long)"], symbols["__C_specific_handler"]
    scopes = []
    for entry in pe.DIRECTORY_ENTRY_EXCEPTION:
        unwind = entry.unwindinfo
        if unwind and unwind.Flags & 1 and unwind.ExceptionHandler == handler:
            table = entry.struct.UnwindData + 4 + ((unwind.CountOfCodes + 1) & ~1) * 2 + 4
            for i in range(pe.get_dword_at_rva(table)):
                scopes.append([pe.get_dword_at_rva(table + 4 + 16 * i + 4 * k) for k in range(3)])
    text = next(s for s in pe.sections if s.Name.startswith(b".text"))
    code = text.get_data()[:text.Misc_VirtualSize]
    calls = [text.VirtualAddress + i for i in range(len(code) - 4) if code[i] == 0xE8 and
             text.VirtualAddress + i + 5 + int.from_bytes(code[i + 1:i + 5], "little", signed=True) == rdmsr]
    return pe.get_data(rdmsr, 2) == b"\x0f\x32" and bool(calls) and all(
        any(b <= call + 4 and call + 5 < e and f == 1 for b, e, f in scopes) for call in calls)


def pdb_facts(pe, pdb):
    """(matches the image's CodeView GUID and age, the routines it holds)."""
    def dump(what):
        return subprocess.run(["llvm-pdbutil-16", "dump", what, pdb], check=True, capture_output=True, text=True).stdout
    summary = dump("--summary")
    r = pe.DIRECTORY_ENTRY_DEBUG[0].entry
    guid = uuid.UUID(bytes_le=struct.pack("<IHH", r.Signature_Data1, r.Signature_Data2, r.Signature_Data3)
                     + bytes([r.Signature_Data4, r.Signature_Data5]) + r.Signature_Data6)
    same = f"GUID: {{{str(guid).upper()}}}" in summary and f"Age: {r.Age}\n" in summary
    return same, sorted(set(re.findall(r"S_[GL]PROC32 .*`(\w+)`", dump("--symbols"))) & ROUTINES)


ROUTINES = {"DriverEntry", "UnloadDriver", "ReadVendorString", "ReadBrandString", "ProbeIntelVmx", "ProbeAmdSvm",
            "WriteTextValue", "WriteFlagValue", "ReadMsr", "ExecuteRdmsr"}


def driver_table(pe, symbols, pdb):
    opt, lc = pe.OPTIONAL_HEADER, pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    return [
        ("PE32+ for AMD64", (pe.PE_TYPE, pe.FILE_HEADER.Machine), (0x20B, 0x8664)),
        ("native subsystem, OS 10.0, subsystem 6.1",
         (opt.Subsystem, opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion,
          opt.MajorSubsystemVersion, opt.MinorSubsystemVersion), (1, 10, 0, 6, 1)),
        ("entry point is DriverEntry", opt.AddressOfEntryPoint, symbols["DriverEntry"]),
        ("DllCharacteristics: dynamic base, high entropy, NX, CFG only", hex(opt.DllCharacteristics), "0x4160"),
        ("relocations kept and present", (pe.FILE_HEADER.Characteristics & 1, directory(pe, "BASERELOC").Size > 0),
         (0, True)),
        ("sections", [s.Name.rstrip(b"\0").decode() for s in pe.sections],
         [".text", ".rdata", ".pdata", "INIT", ".rsrc", ".reloc"]),
        ("discardable sections: code and constants stay resident",
         [s.Name.rstrip(b"\0").decode() for s in pe.sections if s.Characteristics & DISCARDABLE], ["INIT", ".reloc"]),
        ("no section both writable and executable",
         [s.Name for s in pe.sections if s.Characteristics & (WRITE | EXECUTE) == WRITE | EXECUTE], []),
        ("import directory in INIT", section_name(pe, directory(pe, "IMPORT").VirtualAddress), "INIT"),
        ("imports", imports(pe), {"ntoskrnl.exe": KERNEL_IMPORTS}),
        ("guard flags: instrumented, function table", lc.GuardFlags & 0x500, 0x500),
        ("guard targets, each at a 16-byte slot", guard_targets(pe, symbols),
         [("DriverEntry", 0), ("UnloadDriver", 0), ("__C_specific_handler", 0)]),
        ("RDMSR inside a __try that catches everything", rdmsr_guarded(pe, symbols), True),
        ("checksum", (opt.CheckSum != 0, pe.verify_checksum()), (True, True)),
        ("version resource", version(pe),
         (0x10000, 2, 0x10000, 2, "0x40004", 0, 0, "0x3f", 0, ["080404b0"], ["0x0804 0x04b0"], b"korimath.sys")),
        ("debug records: CodeView naming korimath.pdb, repro", debug_records(pe), [(2, b"korimath.pdb\0"), (16, None)]),
        ("time stamp is the repro hash", {d.struct.TimeDateStamp for d in pe.DIRECTORY_ENTRY_DEBUG},
         {pe.FILE_HEADER.TimeDateStamp}),
        ("no symbol table", pe.FILE_HEADER.NumberOfSymbols, 0),
        ("at most 8 KiB", len(pe.__data__) <= 8192, True),
        ("korimath.pdb is the image's, with its routines", pdb_facts(pe, pdb), (True, sorted(ROUTINES))),
    ]


def resource(pe, kind, ident):
    entry = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == kind).directory.entries
    data = next(e for e in entry if e.id == ident).directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


def program_table(pe, driver):
    opt, lc = pe.OPTIONAL_HEADER, pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    return [
        ("program: x64 console for Windows 10 and later",
         (pe.FILE_HEADER.Machine, opt.Subsystem, opt.MajorSubsystemVersion, opt.MajorOperatingSystemVersion),
         (0x8664, 3, 10, 10)),
        ("program: Windows' own DLLs only", set(imports(pe)) <= {"kernel32.dll", "advapi32.dll", "shell32.dll", "ntdll.dll",
                                                                  "msvcrt.dll", "bcrypt.dll", "ole32.dll",
                                                                  "oleaut32.dll"}, True),
        ("program: restricts its DLL search", "SetDefaultDllDirectories" in imports(pe)["kernel32.dll"], True),
        ("program: dynamic base, high entropy, NX, control-flow guard", opt.DllCharacteristics & 0x4160, 0x4160),
        ("program: static imports from System32 only (DependentLoadFlags)",
         pe.get_word_at_rva(directory(pe, "LOAD_CONFIG").VirtualAddress + 0x4E), 0x800),
        ("program: guard flags: instrumented, function table, with targets",
         (lc.GuardFlags & 0x500, lc.GuardCFFunctionCount > 0), (0x500, True)),
        ("program: carries the driver byte for byte", resource(pe, 10, 101) == bytes(driver.__data__), True),
        ("program: at most 160 KiB with the driver inside", len(pe.__data__) <= 160 * 1024, True),
        ("program: version 1.0.0.2", version(pe)[:2], (0x10000, 2)),
        ("program: asInvoker manifest", b'level="asInvoker"' in resource(pe, 24, 1), True),
        ("program: debug record names korimath.exe.pdb", debug_records(pe)[0], (2, b"korimath.exe.pdb\0")),
    ]


def main():
    build = sys.argv[1]
    symbols = {}
    with open(os.path.join(build, "korimath.map")) as f:
        for line in f:
            match = re.match(r"^([0-9a-f]{8})\s+[0-9a-f]{8}\s+\d+\s{10,}(\S.*)$", line.rstrip("\n"))
            if match:
                symbols.setdefault(match.group(2), int(match.group(1), 16))
    driver = pefile.PE(os.path.join(build, "korimath.sys"))
    program = pefile.PE(os.path.join(build, "korimath.exe"))
    rows = driver_table(driver, symbols, os.path.join(build, "korimath.pdb")) + program_table(program, driver)
    wrong = [(what, got, want) for what, got, want in rows if got != want]
    for what, got, want in wrong:
        print(f"FAIL {what}: {got!r}, want {want!r}")
    print(f"{len(rows) - len(wrong)} of {len(rows)} fields as expected; korimath.sys {len(driver.__data__)} bytes, "
          f"korimath.exe {len(program.__data__)} bytes")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
