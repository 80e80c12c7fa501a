# korimath.exe: the operator's console program, an x64 exe that imports only
# Windows' own DLLs and carries korimath.sys as a resource. No C runtime
# start-up code (operator/win32/entry.cpp); the C++ headers come from Debian's
# mingw-w64 g++ (win32 threads), which clang does not find by itself.
set(KORIMATH_MINGW_GCC /usr/lib/gcc/x86_64-w64-mingw32/12-win32)

# The driver the program carries: the one this build links, or, for a
# release, the one Microsoft's signing portal returned (scripts/sign).
set(KORIMATH_CARRIED_DRIVER "" CACHE FILEPATH "korimath.sys to carry inside korimath.exe instead of this build's")

# What reads Windows' facts, each through a table of the functions it calls:
# the tests under Wine link these same objects against doubles.
set(KORIMATH_READER_SOURCES
    operator/win32/dism_features.cpp
    operator/win32/firmware.cpp
    operator/win32/launch_events.cpp
    operator/win32/private_folder.cpp
    operator/win32/service_control.cpp
    operator/win32/windows_side.cpp
    operator/win32/wmi_readers.cpp)

function(korimath_program_options target)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
    target_include_directories(${target} SYSTEM PRIVATE
        ${KORIMATH_MINGW_GCC}/include/c++ ${KORIMATH_MINGW_GCC}/include/c++/x86_64-w64-mingw32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00
        # Static imports load from System32 only (LOAD_LIBRARY_SEARCH_SYSTEM32).
        $<$<COMPILE_LANGUAGE:ASM>:KORIMATH_DEPENDENT_LOAD_FLAGS=0x800>)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:
            -std=c++20 -fno-exceptions -fno-rtti -Oz -mguard=cf
            -Wall -Wextra -Werror
            -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
        >)
endfunction()

add_library(korimath_program_parts OBJECT ${KORIMATH_OPERATOR_SOURCES} ${KORIMATH_READER_SOURCES})
korimath_program_options(korimath_program_parts)
korimath_add_symbols(korimath_program_parts korimath.exe.pdb)

add_executable(korimath_exe $<TARGET_OBJECTS:korimath_program_parts>
    operator/actions.cpp
    operator/prepare.cpp
    operator/firmware_setup_action.cpp
    operator/win32/console.cpp
    operator/win32/copy_inspection.cpp
    operator/win32/driver_file.cpp
    operator/win32/elevation.cpp
    operator/win32/instance_lock.cpp
    operator/win32/output.cpp
    operator/win32/report_output.cpp
    operator/win32/windows_facts.cpp
    operator/win32/side_output.cpp
    operator/main.cpp
    operator/win32/entry.cpp
    driver/load_config.S
    operator/korimath_exe.rc)
set_target_properties(korimath_exe PROPERTIES OUTPUT_NAME korimath LINKER_LANGUAGE CXX)
if(KORIMATH_CARRIED_DRIVER)
    set(carried ${KORIMATH_CARRIED_DRIVER})
else()
    set(carried ${CMAKE_CURRENT_BINARY_DIR}/korimath.sys)
    add_dependencies(korimath_exe korimath)
endif()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/carried_driver.h
     CONTENT "#define KORIMATH_CARRIED_DRIVER_FILE \"${carried}\"\n")
set_source_files_properties(operator/korimath_exe.rc PROPERTIES OBJECT_DEPENDS "${carried}")
korimath_program_options(korimath_exe)
target_link_options(korimath_exe PRIVATE
    -fuse-ld=lld-16 -nostdlib -Wl,-e,KorimathStart
    # Windows 10 and later, in the header: the loader of older Windows refuses it.
    -Wl,--subsystem,console:10.0 -Wl,--major-os-version,10 -Wl,--minor-os-version,0
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--guard-cf
    "SHELL:-Xlinker -Xlink=-merge:.00cfg=.rdata"
    -Wl,--no-insert-timestamp -Wl,-s)
target_link_directories(korimath_exe PRIVATE ${KORIMATH_MINGW_GCC} /usr/x86_64-w64-mingw32/lib)
# msvcrt for memcpy and its kin only; libgcc for the stack probe of large frames.
target_link_libraries(korimath_exe PRIVATE advapi32 shell32 bcrypt ole32 oleaut32 kernel32 ntdll msvcrt gcc)
korimath_add_symbols(korimath_exe korimath.exe.pdb)
# With a PDB, lld keeps the DWARF sections of mingw-w64's runtime objects in
# the image; the PDB holds what a debugger needs, so they go.
find_program(KORIMATH_OBJCOPY llvm-objcopy-16 REQUIRED)
add_custom_command(TARGET korimath_exe POST_BUILD
    COMMAND ${KORIMATH_OBJCOPY} --strip-debug $<TARGET_FILE:korimath_exe>)

if(KORIMATH_WIN32_TESTS)
    include(cmake/win32_tests.cmake)
endif()
