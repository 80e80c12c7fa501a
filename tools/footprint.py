#!/usr/bin/python3
"""Footprint of korimath.sys: file and section sizes, DriverEntry's stack frame
and the deepest call chain below it, and the instructions the driver's own
code executes in one simulated load; and the size of korimath.exe.

usage: footprint.py IMAGE_BUILD_DIR FOOTPRINT_LOAD_BINARY
"""

import glob
import os
import re
import subprocess
import sys
import tempfile

import pefile

# callgrind_annotate's "file:function" column for the driver's own sources.
OWN_SOURCE = re.compile(r"^(\S*/)?(driver|probe|report)/[^/:]+\.(cpp|h):")


def sizes(image):
    pe = pefile.PE(image)
    print(f"image {image}: {os.path.getsize(image)} bytes")
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode()
        print(f"  {name:8} {section.SizeOfRawData:5} bytes in the file,"
              f" {section.Misc_VirtualSize:5} used")


def frames(build_dir):
    """Function (mangled) -> frame bytes from clang's .su files."""
    result = {}
    for path in glob.glob(os.path.join(build_dir, "CMakeFiles", "**", "*.su"), recursive=True):
        with open(path) as f:
            for line in f:
                where, size, _ = line.rstrip("\n").split("\t")
                result[where.rsplit(":", 1)[1]] = int(size)
    return result


def calls(build_dir):
    """Function (mangled) -> callees, from the objects' call relocations."""
    graph = {}
    objects = glob.glob(os.path.join(build_dir, "CMakeFiles", "**", "*.obj"), recursive=True)
    out = subprocess.run(["llvm-objdump-16", "-dr", "--no-show-raw-insn"] + objects,
                         check=True, capture_output=True, text=True).stdout
    current, pending_call = None, False
    for line in out.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
            current = header.group(1)
            graph.setdefault(current, set())
            continue
        if re.search(r"\s(callq|jmp|jmpq)\s", line):
            pending_call = True
            continue
        reloc = re.search(r"IMAGE_REL_AMD64_REL32\s+(\S+)", line)
        if reloc and pending_call and current:
            graph[current].add(reloc.group(1))
        pending_call = False
    return graph


def deepest(function, graph, frame, seen=()):
    """(bytes, chain) of the deepest stack below function. Every call adds its
    8-byte return address; kernel routines count as 0 (their frames are the
    kernel's)."""
    best = (0, [])
    for callee in sorted(graph.get(function, ())):
        if callee in seen or callee == function:
            continue
        depth, chain = deepest(callee, graph, frame, seen + (function,))
        best = max(best, (8 + depth, chain))
    return frame.get(function, 0) + best[0], [function] + best[1]


def instructions(binary):
    with tempfile.TemporaryDirectory() as tmp:
        out_file = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}", binary],
                       check=True, capture_output=True, timeout=300)
        text = subprocess.run(["callgrind_annotate", "--inclusive=no", "--auto=no", "--threshold=100", out_file],
                              check=True, capture_output=True, text=True).stdout
    own = 0
    for line in text.splitlines():
        match = re.match(r"^\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(\S.*)$", line)
        if match and OWN_SOURCE.search(match.group(2)):
            own += int(match.group(1).replace(",", ""))
    return own


def main():
    build_dir, load_binary = sys.argv[1], sys.argv[2]
    sizes(os.path.join(build_dir, "korimath.sys"))
    frame = frames(build_dir)
    print(f"DriverEntry stack frame: {frame.get('DriverEntry', 0)} bytes")
    depth, chain = deepest("DriverEntry", calls(build_dir), frame)
    print(f"deepest chain below the caller's frame: {depth} bytes: " + " -> ".join(chain))
    print(f"instructions executed by the driver's own code in one simulated load: {instructions(load_binary)}")
    program = os.path.join(build_dir, "korimath.exe")
    print(f"korimath.exe: {os.path.getsize(program)} bytes (aim: 64 KiB or less)")


if __name__ == "__main__":
    main()
