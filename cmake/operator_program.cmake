# korimath.exe: the operator's console program, a static x64 exe that imports
# only Windows' own DLLs. The C++ headers and runtime come from Debian's
# mingw-w64 g++ (win32 threads), which clang does not find by itself.
set(KORIMATH_MINGW_GCC /usr/lib/gcc/x86_64-w64-mingw32/12-win32)

add_executable(korimath_exe ${KORIMATH_OPERATOR_SOURCES}
    operator/console.cpp
    operator/service_control.cpp
    operator/main.cpp
    operator/korimath_exe.rc)
set_target_properties(korimath_exe PROPERTIES OUTPUT_NAME korimath LINKER_LANGUAGE CXX)
target_include_directories(korimath_exe PRIVATE ${PROJECT_SOURCE_DIR})
target_include_directories(korimath_exe SYSTEM PRIVATE
    ${KORIMATH_MINGW_GCC}/include/c++ ${KORIMATH_MINGW_GCC}/include/c++/x86_64-w64-mingw32)
target_compile_definitions(korimath_exe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_compile_options(korimath_exe PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:
        -std=c++20 -fno-exceptions -fno-rtti -Os -municode
        -Wall -Wextra -Werror
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
    >)
target_link_options(korimath_exe PRIVATE
    -fuse-ld=lld-16 -municode -static
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
    -Wl,--no-insert-timestamp -Wl,-s)
target_link_directories(korimath_exe PRIVATE ${KORIMATH_MINGW_GCC})
target_link_libraries(korimath_exe PRIVATE advapi32 shell32 kernel32)
korimath_add_symbols(korimath_exe korimath.exe.pdb)
# With a PDB, lld keeps the DWARF sections of mingw-w64's runtime objects in
# the image; the PDB holds what a debugger needs, so they go.
find_program(KORIMATH_OBJCOPY llvm-objcopy-16 REQUIRED)
add_custom_command(TARGET korimath_exe POST_BUILD
    COMMAND ${KORIMATH_OBJCOPY} --strip-debug $<TARGET_FILE:korimath_exe>)
