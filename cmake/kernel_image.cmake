# korimath.sys: a native-subsystem x86-64 kernel driver whose only import is
# ntoskrnl.exe and whose image entry point is DriverEntry itself.
enable_language(ASM)
enable_language(RC)

set(KORIMATH_MINGW_ROOT /usr/x86_64-w64-mingw32)

add_executable(korimath
    ${KORIMATH_SOURCES}
    probe/processor_access.cpp
    driver/load_config.S
    driver/korimath.rc)
set_target_properties(korimath PROPERTIES SUFFIX ".sys" LINKER_LANGUAGE CXX)
target_include_directories(korimath PRIVATE ${PROJECT_SOURCE_DIR})
target_include_directories(korimath SYSTEM PRIVATE ${KORIMATH_MINGW_ROOT}/include/ddk)

target_compile_options(korimath PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:
        -std=c++20 -fms-extensions -fno-exceptions -fno-rtti -ffreestanding
        -fno-stack-protector -mno-red-zone -Os -mguard=cf
        # Control-flow guard marks valid call targets per 16-byte slot: each
        # function starts a slot of its own.
        -falign-functions=16
        # Unwind data for every frame, as x64 Windows expects of kernel code:
        # exception dispatch and crash-dump stack walks depend on it.
        -fasynchronous-unwind-tables
        # Per-function stack frames (.su beside each object) for the footprint report.
        -fstack-usage
        -Wall -Wextra -Werror
        # Paths and build dates must not reach the image: builds are reproducible.
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
    >)

target_link_options(korimath PRIVATE
    -fuse-ld=lld-16 -nostdlib
    -Wl,-e,DriverEntry
    # Windows 10 header, native subsystem 6.1.
    -Wl,--subsystem,native:6.1
    -Wl,--major-os-version,10 -Wl,--minor-os-version,0
    # Relocatable with high-entropy addressing, NX-compatible, control-flow
    # guard; not terminal-server aware, a flag for applications only.
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--guard-cf -Wl,--disable-tsaware
    # The import directory and IAT go to the discardable INIT section; the
    # guard pointers join the other read-only data.
    "SHELL:-Xlinker -Xlink=-merge:.idata=INIT"
    "SHELL:-Xlinker -Xlink=-section:INIT,RD"
    "SHELL:-Xlinker -Xlink=-merge:.00cfg=.rdata"
    # The kernel checks a driver's image checksum.
    -Wl,-Xlink=-release
    # Reproducible and small: no symbol table in the image (the symbols go to
    # korimath.pdb), no time stamp but the repro hash.
    -Wl,--no-insert-timestamp -Wl,-s
    -Wl,-Map,korimath.map)
target_link_directories(korimath PRIVATE ${KORIMATH_MINGW_ROOT}/lib)
target_link_libraries(korimath PRIVATE ntoskrnl)
korimath_add_symbols(korimath korimath.pdb)
