// korimath.exe's command line, and whether to keep its window open at the
// end: pure decisions, driven by the host tests.
#pragma once

#include <string_view>

enum class Action { Usage, Help, Report, Run, Install, Remove, Check, FirmwareSetup };

struct CommandLine {
    Action Do = Action::Usage;
    bool Json = false;          // one JSON object on standard output, progress on standard error
    bool Yes = false;           // firmware-setup without asking: for scripts
    bool NoArguments = false;   // as Explorer starts a double-clicked program
    bool FromExplorer = false;  // the private marker the elevation relaunch passes
};

// Passed by the double-click path to the elevated copy it starts: "run" and
// this marker. Not for people; not in the usage text.
constexpr const wchar_t* FromExplorerMarker = L"--from-explorer";

CommandLine ParseCommandLine(int Argc, const wchar_t* const* Argv);

// Off x64 (Windows on Arm), where the x64 driver cannot load: every action
// that reads or loads a report is refused; remove still cleans up, and check
// answers "not ready" (blocker not-x64).
bool RefusedOffX64(Action Do);

struct Console {
    bool OwnedAlone = false;     // no other process shares this console
    bool InputIsConsole = false; // standard input is that console, not a file or pipe
    bool SessionZero = false;    // services and SYSTEM agents: nobody is there to press a key
};

// Explorer's window closes when the program ends, so the program waits for a
// key there, and only there: never for a command line with arguments,
// --json, a redirected input, or session 0.
bool ShouldWaitForKey(const CommandLine& Command, const Console& Where);
