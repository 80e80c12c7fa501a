# The Windows side's readers, the program's own objects, against doubles that
# answer as Microsoft documents: a Windows test program run under Wine
# (tests/win32/run_under_wine.sh), since only a Windows build has the SDK's
# types the readers use.
add_executable(korimath_win32_tests $<TARGET_OBJECTS:korimath_program_parts>
    tests/win32/main.cpp
    tests/win32/dism_test.cpp
    tests/win32/event_log_test.cpp
    tests/win32/firmware_test.cpp
    tests/win32/settings_test.cpp
    tests/win32/service_test.cpp
    tests/win32/wmi_test.cpp
    # The guard pointers the program's objects call through (its indirect calls are checked).
    driver/load_config.S)
target_include_directories(korimath_win32_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_include_directories(korimath_win32_tests SYSTEM PRIVATE
    ${KORIMATH_MINGW_GCC}/include/c++ ${KORIMATH_MINGW_GCC}/include/c++/x86_64-w64-mingw32)
target_compile_definitions(korimath_win32_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
# Rows name only the fields they set.
target_compile_options(korimath_win32_tests PRIVATE -std=c++20 -O1 -Wall -Wextra -Werror -Wno-missing-field-initializers)
target_link_options(korimath_win32_tests PRIVATE -fuse-ld=lld-16 -static)
target_link_directories(korimath_win32_tests PRIVATE ${KORIMATH_MINGW_GCC} /usr/x86_64-w64-mingw32/lib)
target_link_libraries(korimath_win32_tests PRIVATE stdc++ advapi32 bcrypt ole32 oleaut32 kernel32)
