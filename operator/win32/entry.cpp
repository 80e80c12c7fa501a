// The program's entry point, in place of the C runtime's start-up code: the
// program uses no C runtime state (no stdio, atexit, locale or TLS), and that
// code was a sixth of its size. The arguments come from Windows, as the
// runtime would have split them.
#include <windows.h>
#include <shellapi.h>

#include "operator/decisions/exit_codes.h"

int wmain(int argc, wchar_t** argv);

extern "C" void KorimathStart()
{
    // Before anything else, even the command line (CommandLineToArgvW's
    // shell32 may load DLLs on demand): DLLs load from System32 only, never
    // from this program's (user-writable) folder. If Windows refuses, stop.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        constexpr char refusal[] = "korimath: cannot restrict the DLL search to System32; nothing was done.\r\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), refusal, sizeof(refusal) - 1, &written, nullptr);
        ExitProcess(ExitDllSearch);
    }
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ExitProcess(argv != nullptr ? static_cast<UINT>(wmain(argc, argv)) : 2U);
}
