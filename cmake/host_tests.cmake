# Host build: the driver's sources against a simulated kernel and a scripted
# processor, GoogleTest under AddressSanitizer and UndefinedBehaviorSanitizer;
# the kernel image built alongside for the image and Wine tests.
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

set(KORIMATH_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(KORIMATH_WARNINGS -Wall -Wextra -Werror)

# The driver's sources and the simulated machine, compiled for the host with
# UTF-16 wchar_t, as on Windows, so L"" value names mean the same on both builds.
function(korimath_add_simulated_program target)
    add_executable(${target} ${ARGN}
        ${KORIMATH_SOURCES} tests/sim/machine.cpp)
    target_compile_features(${target} PRIVATE cxx_std_20)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE KORIMATH_HOST)
    target_compile_options(${target} PRIVATE -fshort-wchar ${KORIMATH_WARNINGS})
endfunction()

korimath_add_simulated_program(korimath_host_tests tests/driver_test.cpp)
# The table of machines names only the fields each row sets.
target_compile_options(korimath_host_tests PRIVATE ${KORIMATH_SANITIZERS} -Wno-missing-field-initializers)
target_link_options(korimath_host_tests PRIVATE ${KORIMATH_SANITIZERS})
target_link_libraries(korimath_host_tests PRIVATE GTest::gtest_main)
gtest_discover_tests(korimath_host_tests TEST_PREFIX "host." DISCOVERY_TIMEOUT 60)

# Debian's python3-pefile is visible to the system interpreter only.
set(KORIMATH_PYTHON /usr/bin/python3)

# The kernel image, built from this same tree with the cross toolchain.
include(ExternalProject)
set(KORIMATH_IMAGE_DIR ${CMAKE_BINARY_DIR}/image)
set(KORIMATH_IMAGE ${KORIMATH_IMAGE_DIR}/korimath.sys)
ExternalProject_Add(korimath_image
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${KORIMATH_IMAGE_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/kernel-toolchain.cmake
               -DCMAKE_BUILD_TYPE=Release -DKORIMATH_WIN32_TESTS=ON
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${KORIMATH_IMAGE} ${KORIMATH_IMAGE_DIR}/korimath.exe ${KORIMATH_IMAGE_DIR}/korimath_win32_tests.exe)

# The bytes of the image and the program against a table of expected
# fields, the guard table, the exception scope around RDMSR and the PDB; and
# a second clean build in another directory giving the same files.
add_test(NAME image.fields
    COMMAND ${KORIMATH_PYTHON} ${PROJECT_SOURCE_DIR}/tests/image/check_image.py ${KORIMATH_IMAGE_DIR})
add_test(NAME image.reproducible
    COMMAND ${PROJECT_SOURCE_DIR}/tests/image/check_reproducible.sh ${PROJECT_SOURCE_DIR} ${KORIMATH_IMAGE_DIR}
            ${CMAKE_BINARY_DIR})
set_tests_properties(image.reproducible PROPERTIES TIMEOUT 180)

# A Windows program that holds a service open, as a Services console would.
set(KORIMATH_HOLD_SERVICE ${CMAKE_BINARY_DIR}/hold_service.exe)
add_custom_command(OUTPUT ${KORIMATH_HOLD_SERVICE}
    COMMAND clang-16 -x c++ --target=x86_64-w64-mingw32 -fuse-ld=lld-16 -municode -static -nostdlib++ -Os -s
            -Wall -Wextra -Werror ${PROJECT_SOURCE_DIR}/tests/wine/hold_service.cpp -o ${KORIMATH_HOLD_SERVICE}
            -L/usr/lib/gcc/x86_64-w64-mingw32/12-win32 -ladvapi32
    DEPENDS tests/wine/hold_service.cpp)
add_custom_target(hold_service ALL DEPENDS ${KORIMATH_HOLD_SERVICE})

# Static analysis of the driver's own sources, as compiled for the host.
find_program(KORIMATH_CLANG_TIDY NAMES clang-tidy-16 REQUIRED)
add_test(NAME lint.clang_tidy
    COMMAND ${KORIMATH_CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet --warnings-as-errors=*
            ${KORIMATH_SOURCES} ${KORIMATH_OPERATOR_SOURCES}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})

# One simulated load without sanitizers, for tools/footprint.py to count the
# instructions the driver's own code executes (scripts/footprint).
korimath_add_simulated_program(footprint_load tests/footprint_load.cpp)
set_target_properties(footprint_load PROPERTIES EXCLUDE_FROM_ALL ON)
target_compile_options(footprint_load PRIVATE -Os -g)

# A signed pair of the image and the program; the operator's program runs
# that pair against this machine's processor under Wine; the INF, the
# submission cabinet, the release bundle and what the docs promise.
set(KORIMATH_SIGNED ${CMAKE_BINARY_DIR}/signed)
add_test(NAME dist.signed_pair
    COMMAND ${PROJECT_SOURCE_DIR}/tests/dist/test_release.sh ${PROJECT_SOURCE_DIR} ${KORIMATH_IMAGE_DIR} ${KORIMATH_SIGNED}
            pair)
# The longest chain first: the signed pair, then the Wine test that needs it,
# while the other core takes clang-tidy, the second build and the bundle.
set_tests_properties(dist.signed_pair PROPERTIES FIXTURES_SETUP signed_pair COST 300)
add_test(NAME dist.bundle
    COMMAND ${PROJECT_SOURCE_DIR}/tests/dist/test_release.sh ${PROJECT_SOURCE_DIR} ${KORIMATH_IMAGE_DIR} ${KORIMATH_SIGNED}
            bundle)
set_tests_properties(dist.bundle PROPERTIES FIXTURES_REQUIRED signed_pair COST 10)
add_test(NAME wine.operator_program
    COMMAND ${KORIMATH_PYTHON} ${PROJECT_SOURCE_DIR}/tests/wine/test_operator_program.py
            ${KORIMATH_SIGNED}/korimath.exe ${KORIMATH_SIGNED}/korimath.sys
            ${PROJECT_SOURCE_DIR}/dist/korimath.inf ${KORIMATH_HOLD_SERVICE})
set_tests_properties(wine.operator_program PROPERTIES FIXTURES_REQUIRED signed_pair COST 200 TIMEOUT 240
    ENVIRONMENT KORIMATH_WINE_WORKDIR=${CMAKE_BINARY_DIR})
# Windows' side: each reader of a Windows fact against doubles, under Wine.
add_test(NAME wine.readers
    COMMAND ${PROJECT_SOURCE_DIR}/tests/win32/run_under_wine.sh ${KORIMATH_IMAGE_DIR}/korimath_win32_tests.exe)
set_tests_properties(wine.readers PROPERTIES COST 20 TIMEOUT 200 ENVIRONMENT TMPDIR=${CMAKE_BINARY_DIR})
add_test(NAME dist.inf
    COMMAND ${KORIMATH_PYTHON} ${PROJECT_SOURCE_DIR}/tests/dist/check_inf.py ${PROJECT_SOURCE_DIR}/dist/korimath.inf)
add_test(NAME dist.docs COMMAND ${KORIMATH_PYTHON} ${PROJECT_SOURCE_DIR}/tests/dist/check_docs.py ${PROJECT_SOURCE_DIR})
add_test(NAME dist.fleet COMMAND ${KORIMATH_PYTHON} ${PROJECT_SOURCE_DIR}/tests/dist/check_fleet.py ${PROJECT_SOURCE_DIR})
add_test(NAME dist.submission COMMAND ${PROJECT_SOURCE_DIR}/tests/dist/test_submission.sh
         ${PROJECT_SOURCE_DIR} ${KORIMATH_IMAGE_DIR} ${CMAKE_BINARY_DIR})

# The operator program's portable parts (verdict, error texts, paths, JSON),
# with the host's own wchar_t: they use no UTF-16 literal of the driver's.
add_executable(korimath_operator_tests ${KORIMATH_OPERATOR_SOURCES}
    tests/operator/verdict_test.cpp tests/operator/text_test.cpp tests/operator/decisions_test.cpp tests/operator/facts_test.cpp
    tests/operator/what_runs_test.cpp)
target_compile_features(korimath_operator_tests PRIVATE cxx_std_20)
target_include_directories(korimath_operator_tests PRIVATE ${PROJECT_SOURCE_DIR})
# The fleet rules the tests hold every machine's JSON to.
target_compile_definitions(korimath_operator_tests PRIVATE KORIMATH_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_compile_options(korimath_operator_tests PRIVATE ${KORIMATH_WARNINGS} ${KORIMATH_SANITIZERS})
target_link_options(korimath_operator_tests PRIVATE ${KORIMATH_SANITIZERS})
target_link_libraries(korimath_operator_tests PRIVATE GTest::gtest_main)
gtest_discover_tests(korimath_operator_tests TEST_PREFIX "operator." DISCOVERY_TIMEOUT 60)
