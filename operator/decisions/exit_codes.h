// korimath.exe's exit codes. Installers and fleet tools act on them: a number,
// once given a meaning, keeps it.
#pragma once

enum ExitCode : int {
    ExitDone = 0,
    ExitNotReady = 1,          // check: hardware virtualization is not available to this Windows
    ExitUsage = 2,
    ExitNotElevated = 3,       // not elevated (or access denied to a process that is not)
    ExitDriverUnavailable = 4, // the driver this program carries cannot be read or written to System32\drivers
    ExitServiceConflict = 5,   // a korimath service this program cannot replace
    ExitCreateFailed = 6,
    ExitStartRefused = 7,
    ExitNoReport = 8,
    ExitStopFailed = 9,
    ExitDeleteFailed = 10,
    // 11 meant "image on a network location" while the driver sat beside the program; no longer given.
    ExitBusy = 12,             // another korimath install, run or remove did not finish in time
    ExitNotX64 = 13,           // Windows on Arm: the x64 driver cannot load, nothing was installed
    ExitNoFirmwareSetup = 14,  // firmware-setup: this Windows cannot restart into firmware setup; nothing changed
    ExitNotConfirmed = 15,     // firmware-setup: not confirmed (declined, or no console and no --yes); nothing changed
    ExitLockUnavailable = 16,  // the administrators-only lock could not be created or opened
    ExitDllSearch = 17,        // the DLL search could not be restricted to System32: nothing was done
};
