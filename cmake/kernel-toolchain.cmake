# Cross toolchain for Windows x64: clang 16 targeting x86_64-w64-mingw32 and
# lld 16; the kernel image links mingw-w64's ntoskrnl import library, the
# operator's program its user-mode runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(KORIMATH_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_ASM_COMPILER clang-16)
set(CMAKE_RC_COMPILER llvm-windres-16)
# llvm-windres preprocesses with whatever "clang" it finds on PATH unless told
# otherwise, and needs the full path of the one it is told to use.
find_program(KORIMATH_RC_PREPROCESSOR clang-16 REQUIRED)
set(CMAKE_RC_FLAGS_INIT
    "\"--preprocessor=${KORIMATH_RC_PREPROCESSOR} --target=x86_64-w64-mingw32 -E -xc -DRC_INVOKED\"")
set(CMAKE_C_COMPILER_TARGET ${KORIMATH_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${KORIMATH_TRIPLE})
set(CMAKE_ASM_COMPILER_TARGET ${KORIMATH_TRIPLE})

set(CMAKE_SYSROOT_LINK "")
set(CMAKE_FIND_ROOT_PATH /usr/${KORIMATH_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# There is no user-mode C runtime to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
