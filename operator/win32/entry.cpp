// The program's entry point, in place of the C runtime's start-up code: the
// program uses no C runtime state (no stdio, atexit, locale or TLS), and that
// code was a sixth of its size. The arguments come from Windows, as the
// runtime would have split them.
#include <windows.h>
#include <shellapi.h>

int wmain(int argc, wchar_t** argv);

extern "C" void KorimathStart()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ExitProcess(argv != nullptr ? static_cast<UINT>(wmain(argc, argv)) : 2U);
}
