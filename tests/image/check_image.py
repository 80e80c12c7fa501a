#!/usr/bin/python3
"""Checks the bytes of korimath.sys with a PE parser.

usage: check_image.py CHECK KORIMATH_SYS KORIMATH_MAP

CHECK is one of the functions named in CHECKS below; each fails with a
message that says which promise of the image is broken.
"""

import os
import re
import struct
import subprocess
import sys
import uuid

import pefile

# What the driver calls, plus what the compiler emits calls to.
DRIVER_IMPORTS = {"RtlInitAnsiString", "RtlAnsiStringToUnicodeString", "RtlFreeUnicodeString",
                  "RtlWriteRegistryValue", "sprintf_s", "strncat", "strcmp"}
COMPILER_IMPORTS = {"memset", "__C_specific_handler"}

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_SUBSYSTEM_NATIVE = 1
DLLCHAR_HIGH_ENTROPY_VA = 0x0020
DLLCHAR_DYNAMIC_BASE = 0x0040
DLLCHAR_NX_COMPAT = 0x0100
DLLCHAR_GUARD_CF = 0x4000
IMAGE_GUARD_CF_INSTRUMENTED = 0x00000100
IMAGE_GUARD_CF_FUNCTION_TABLE_PRESENT = 0x00000400
IMAGE_SCN_MEM_DISCARDABLE = 0x02000000
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
UNW_FLAG_EHANDLER = 0x1
IMAGE_DEBUG_TYPE_CODEVIEW = 2
IMAGE_DEBUG_TYPE_REPRO = 16
SIZE_LIMIT = 8 * 1024
SIZE_AIM = 6 * 1024


class ImageError(AssertionError):
    pass


def expect(ok, message):
    if not ok:
        raise ImageError(message)


def map_symbols(map_path):
    """Symbol name -> RVA, from lld's link map."""
    symbols = {}
    line_re = re.compile(r"^([0-9a-f]{8})\s+[0-9a-f]{8}\s+\d+\s{10,}(\S.*)$")
    with open(map_path) as f:
        for line in f:
            match = line_re.match(line.rstrip("\n"))
            if match:
                symbols.setdefault(match.group(2), int(match.group(1), 16))
    return symbols


def section_of(pe, rva):
    for section in pe.sections:
        if section.VirtualAddress <= rva < section.VirtualAddress + max(section.Misc_VirtualSize, 1):
            return section
    return None


def name(section):
    return section.Name.rstrip(b"\0").decode()


def check_header(pe, symbols):
    expect(pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, "not PE32+")
    expect(pe.FILE_HEADER.Machine == IMAGE_FILE_MACHINE_AMD64, "machine is not AMD64")
    opt = pe.OPTIONAL_HEADER
    expect(opt.Subsystem == IMAGE_SUBSYSTEM_NATIVE, f"subsystem {opt.Subsystem}, not native (1)")
    expect((opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion) == (10, 0),
           "operating-system version is not 10.0")
    expect((opt.MajorSubsystemVersion, opt.MinorSubsystemVersion) == (6, 1), "subsystem version is not 6.1")
    expect("DriverEntry" in symbols, "DriverEntry missing from the link map")
    expect(opt.AddressOfEntryPoint == symbols["DriverEntry"],
           f"entry point {opt.AddressOfEntryPoint:#x} is not DriverEntry ({symbols['DriverEntry']:#x})")
    # lld's repro mode stamps the header with a hash of the image, never a date.
    stamps = {entry.struct.TimeDateStamp for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])}
    expect(stamps == {pe.FILE_HEADER.TimeDateStamp}, "time stamp is not the repro hash: the build is not reproducible")


def check_imports(pe, symbols):
    dlls = {entry.dll.decode().lower(): entry for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    expect(list(dlls) == ["ntoskrnl.exe"], f"imports from {sorted(dlls)}, not ntoskrnl.exe alone")
    names = {imp.name.decode() for imp in dlls["ntoskrnl.exe"].imports}
    unexpected = names - DRIVER_IMPORTS - COMPILER_IMPORTS
    expect(not unexpected, f"unexpected imports: {sorted(unexpected)}")
    missing = DRIVER_IMPORTS - names
    expect(not missing, f"kernel routines not imported: {sorted(missing)}")


def check_security(pe, symbols):
    opt = pe.OPTIONAL_HEADER
    chars = opt.DllCharacteristics
    for flag, label in [(DLLCHAR_DYNAMIC_BASE, "dynamic base"), (DLLCHAR_HIGH_ENTROPY_VA, "high entropy"),
                        (DLLCHAR_NX_COMPAT, "NX compatible"), (DLLCHAR_GUARD_CF, "control-flow guard")]:
        expect(chars & flag, f"DllCharacteristics lacks {label}")
    # Dynamic base is only real with relocations to apply.
    expect(not pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED, "relocations stripped")
    reloc_dir = opt.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    expect(reloc_dir.Size > 0 and getattr(pe, "DIRECTORY_ENTRY_BASERELOC", None), "no base relocations")
    # NX is only real if nothing is both writable and executable.
    for section in pe.sections:
        expect(not (section.Characteristics & IMAGE_SCN_MEM_WRITE and section.Characteristics & IMAGE_SCN_MEM_EXECUTE),
               f"section {name(section)} is writable and executable")
    # The guard flag is only real with a filled load configuration.
    load_config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    expect(load_config is not None, "no load configuration directory")
    lc = load_config.struct
    expect(lc.GuardFlags & IMAGE_GUARD_CF_INSTRUMENTED, "GuardFlags lacks CF_INSTRUMENTED")
    expect(lc.GuardFlags & IMAGE_GUARD_CF_FUNCTION_TABLE_PRESENT, "GuardFlags lacks FUNCTION_TABLE_PRESENT")
    expect(lc.GuardCFCheckFunctionPointer and lc.GuardCFDispatchFunctionPointer, "guard function pointers unset")
    expect(lc.GuardCFFunctionTable and lc.GuardCFFunctionCount, "guard function table empty")
    stride = 4 + ((lc.GuardFlags >> 28) & 0xF)
    table = lc.GuardCFFunctionTable - opt.ImageBase
    targets = {pe.get_dword_at_rva(table + stride * i) for i in range(lc.GuardCFFunctionCount)}
    for routine in ("DriverEntry", "UnloadDriver"):
        expect(symbols.get(routine) in targets, f"{routine} is not in the guard function table")


def check_sections(pe, symbols):
    by_name = {name(section): section for section in pe.sections}
    paged = [n for n in by_name if n.upper().startswith("PAGE")]
    expect(not paged, f"pageable sections {paged}: the code must stay resident")
    for required in (".text", ".rdata"):
        expect(required in by_name, f"no {required} section")
        expect(not by_name[required].Characteristics & IMAGE_SCN_MEM_DISCARDABLE, f"{required} is discardable")
    for routine in ("DriverEntry", "UnloadDriver"):
        section = section_of(pe, symbols[routine])
        expect(section is not None and name(section) == ".text", f"{routine} is not in .text")
    imports = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]]
    init = section_of(pe, imports.VirtualAddress)
    expect(init is not None and name(init) == "INIT", "the import directory is not in INIT")
    expect(init.Characteristics & IMAGE_SCN_MEM_DISCARDABLE, "INIT is not discardable")


def check_rdmsr(pe, symbols):
    """Every call of the out-of-line RDMSR sits inside a __try scope of its
    caller whose filter catches everything, so a #GP on a register the
    processor refuses is absorbed, not a bugcheck."""
    rdmsr = symbols.get("ExecuteRdmsr(unsigned long)")
    handler = symbols.get("__C_specific_handler")
    expect(rdmsr is not None and handler is not None, "ExecuteRdmsr or __C_specific_handler missing from the map")
    expect(pe.get_data(rdmsr, 2) == b"\x0f\x32", "ExecuteRdmsr does not start with RDMSR")
    scopes = []
    for entry in pe.DIRECTORY_ENTRY_EXCEPTION:
        unwind = entry.unwindinfo
        if not (unwind and unwind.Flags & UNW_FLAG_EHANDLER and unwind.ExceptionHandler == handler):
            continue
        # C_SCOPE_TABLE: a count, then {begin, end, filter, target} per scope.
        table = entry.struct.UnwindData + 4 + ((unwind.CountOfCodes + 1) & ~1) * 2 + 4
        for i in range(pe.get_dword_at_rva(table)):
            begin, end, filt, _jump_target = (pe.get_dword_at_rva(table + 4 + 16 * i + 4 * k) for k in range(4))
            scopes.append((begin, end, filt))
    text = next(section for section in pe.sections if name(section) == ".text")
    code = text.get_data()[:text.Misc_VirtualSize]
    calls = [text.VirtualAddress + i for i in range(len(code) - 4) if code[i] == 0xE8
             and text.VirtualAddress + i + 5 + int.from_bytes(code[i + 1:i + 5], "little", signed=True) == rdmsr]
    expect(calls, "no call of ExecuteRdmsr found")
    for call in calls:
        # The handler looks up the return address (call + 5), or the byte
        # before it: the scope must hold both.
        covered = [scope for scope in scopes if scope[0] <= call + 4 and call + 5 < scope[1]]
        expect(covered, f"the RDMSR call at {call:#x} is outside every __try scope")
        expect(all(filt == 1 for _, _, filt in covered),
               f"the RDMSR call at {call:#x} is not caught by EXCEPTION_EXECUTE_HANDLER")


def check_checksum(pe, symbols):
    expect(pe.OPTIONAL_HEADER.CheckSum != 0, "checksum is 0")
    expect(pe.verify_checksum(), f"checksum {pe.OPTIONAL_HEADER.CheckSum:#x} is wrong")


def check_version(pe, symbols):
    expect(hasattr(pe, "VS_FIXEDFILEINFO"), "no version resource")
    fixed = pe.VS_FIXEDFILEINFO[0]
    version = (0x00010000, 0x00000002)  # 1.0.0.2
    expect((fixed.FileVersionMS, fixed.FileVersionLS) == version, "file version is not 1.0.0.2")
    expect((fixed.ProductVersionMS, fixed.ProductVersionLS) == version, "product version is not 1.0.0.2")
    expect(fixed.FileOS == 0x40004, f"file OS {fixed.FileOS:#x}, not VOS_NT_WINDOWS32")
    expect((fixed.FileType, fixed.FileSubtype) == (0, 0), "file type and subtype are not 0")
    expect((fixed.FileFlagsMask, fixed.FileFlags) == (0x3F, 0), "file flags mask is not 0x3F with no flags")
    tables, translations = [], []
    for info in pe.FileInfo[0]:
        tables += [(t.LangID.decode().lower(), t.entries) for t in getattr(info, "StringTable", [])]
        translations += [v.entry.get(b"Translation") for v in getattr(info, "Var", [])]
    expect([t[0] for t in tables] == ["080404b0"], f"string tables {[t[0] for t in tables]}, not 080404b0 alone")
    expect(translations == ["0x0804 0x04b0"], f"translation {translations}, not 0x0804 0x04b0")
    strings = {k.decode(): v.decode() for k, v in tables[0][1].items()}
    for key in ("CompanyName", "FileDescription", "ProductName", "InternalName", "OriginalFilename",
                "LegalCopyright"):
        expect(strings.get(key), f"string {key} is missing")
    expect(strings["InternalName"] == "korimath.sys", "InternalName is not korimath.sys")


def check_size(pe, symbols):
    size = len(pe.__data__)
    print(f"image size {size} bytes (limit {SIZE_LIMIT}, aim {SIZE_AIM})")
    expect(size <= SIZE_LIMIT, f"image is {size} bytes, over {SIZE_LIMIT}")
    expect(pe.FILE_HEADER.NumberOfSymbols == 0, "symbol table present")
    debug = [(entry.struct.Type, entry.entry) for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])]
    expect([kind for kind, _ in debug] == [IMAGE_DEBUG_TYPE_CODEVIEW, IMAGE_DEBUG_TYPE_REPRO],
           f"debug directory {debug}, not one CodeView and one repro record")
    expect(debug[0][1].PdbFileName == b"korimath.pdb\0", f"CodeView names {debug[0][1].PdbFileName}, not korimath.pdb")


def check_pdb(pe, symbols):
    """korimath.pdb beside the image is the one its CodeView record names, and
    holds the driver's routines."""
    pdb = os.path.join(os.path.dirname(pe.__korimath_path__), "korimath.pdb")
    summary = subprocess.run(["llvm-pdbutil-16", "dump", "--summary", pdb], check=True, capture_output=True,
                             text=True).stdout
    guid = re.search(r"GUID: \{([0-9A-F-]+)\}", summary).group(1)
    age = int(re.search(r"Age: (\d+)", summary).group(1))
    record = pe.DIRECTORY_ENTRY_DEBUG[0].entry
    image_guid = str(uuid.UUID(bytes_le=struct.pack("<IHH", record.Signature_Data1, record.Signature_Data2,
                                                    record.Signature_Data3)
                                + bytes([record.Signature_Data4, record.Signature_Data5])
                                + record.Signature_Data6)).upper()
    expect((image_guid, record.Age) == (guid, age), f"image names PDB {image_guid}/{record.Age}, PDB is {guid}/{age}")
    procedures = subprocess.run(["llvm-pdbutil-16", "dump", "--symbols", pdb], check=True, capture_output=True,
                                text=True).stdout
    for routine in ("DriverEntry", "UnloadDriver", "ProbeIntelVmx", "ProbeAmdSvm", "ReadMsr", "ExecuteRdmsr",
                    "ReadVendorString", "WriteTextValue"):
        expect(re.search(r"S_[GL]PROC32 .*`" + routine + "`", procedures), f"{routine} missing from korimath.pdb")


# korimath.exe: Windows' own DLLs only, no DLL of ours or of a toolchain beside it.
PROGRAM_DLLS = {"kernel32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}
PROGRAM_SIZE_LIMIT = 64 * 1024
RT_MANIFEST = 24


def check_program(pe, symbols):
    dlls = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    expect(dlls <= PROGRAM_DLLS, f"korimath.exe imports {sorted(dlls - PROGRAM_DLLS)}")
    expect(pe.FILE_HEADER.Machine == IMAGE_FILE_MACHINE_AMD64, "korimath.exe is not x64")
    expect(pe.OPTIONAL_HEADER.Subsystem == 3, "korimath.exe is not a console program")
    chars = pe.OPTIONAL_HEADER.DllCharacteristics
    expect(chars & DLLCHAR_DYNAMIC_BASE and chars & DLLCHAR_HIGH_ENTROPY_VA and chars & DLLCHAR_NX_COMPAT,
           "korimath.exe lacks dynamic base, high entropy or NX")
    size = len(pe.__data__)
    print(f"korimath.exe size {size} bytes (limit {PROGRAM_SIZE_LIMIT})")
    expect(size <= PROGRAM_SIZE_LIMIT, f"korimath.exe is {size} bytes, over {PROGRAM_SIZE_LIMIT}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    expect((fixed.FileVersionMS, fixed.FileVersionLS) == (0x00010000, 0x00000002), "file version is not 1.0.0.2")
    manifests = [entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == RT_MANIFEST]
    expect(manifests, "korimath.exe has no application manifest")
    manifest = manifests[0].directory.entries[0].directory.entries[0].data.struct
    text = pe.get_data(manifest.OffsetToData, manifest.Size).decode()
    expect('level="asInvoker"' in text, "the manifest does not run korimath.exe as invoker")


CHECKS = {"header": check_header, "imports": check_imports, "security": check_security,
          "sections": check_sections, "rdmsr": check_rdmsr, "checksum": check_checksum, "version": check_version,
          "size": check_size, "pdb": check_pdb, "program": check_program}


def main():
    check, image, map_path = sys.argv[1:4]
    pe = pefile.PE(image)
    pe.__korimath_path__ = image
    try:
        CHECKS[check](pe, map_symbols(map_path) if check != "program" else {})
    except ImageError as error:
        print(f"{image}: {check}: {error}")
        return 1
    print(f"{check}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
