// korimath firmware-setup: whether this Windows can restart straight into the
// firmware's setup (UEFI's OsIndications, bit 0 EFI_OS_INDICATIONS_BOOT_TO_FW_UI),
// how to confirm, what to tell the person first, and what value to write.
#pragma once

#include <cstdint>

#include "operator/decisions/verdict.h"

struct FirmwareFacts {
    bool FunctionsPresent = false;  // GetFirmwareType, Get/SetFirmwareEnvironmentVariableExW
    unsigned long Type = 0;         // FIRMWARE_TYPE: 1 BIOS, 2 UEFI
    bool PrivilegeHeld = false;     // SeSystemEnvironmentPrivilege enabled
    bool SupportRead = false;       // OsIndicationsSupported could be read
    std::uint64_t Supported = 0;
};

enum class FirmwareRefusal { None, FunctionsMissing, LegacyBios, PrivilegeRefused, SupportUnreadable, NotSupported };
FirmwareRefusal CheckFirmwareSetup(const FirmwareFacts& Facts);

// Why not, and Microsoft's own route there instead.
void AppendRefusal(FixedText<1024>& Text, FirmwareRefusal Why);

enum class Confirmation { Ask, Skip, Refuse };
// --yes skips the question; without it, only a person at a console may answer.
Confirmation HowToConfirm(bool Yes, bool Console);

// OsIndications asking for firmware setup at the next boot, every other bit kept.
constexpr std::uint64_t BootToFirmwareUi = 1;
constexpr std::uint64_t WithBootToFirmwareUi(std::uint64_t Current)
{
    return Current | BootToFirmwareUi;
}

// A restart into firmware setup that did not happen: why, and whether
// OsIndications is as it was.
struct FirmwareRestart {
    unsigned long Error = 0;         // the Win32 error that stopped it, 0 when it was cancelled
    bool Cancelled = false;          // it began, and a program or the person cancelled it
    bool Restored = false;           // OsIndications was put back (or removed) as it was
    unsigned long RestoreError = 0;  // ... and if not, why
};

// "cannot restart into firmware setup" or "the restart ... was cancelled",
// then whether OsIndications is as it was or what the next restart does.
void AppendNoRestart(FixedText<1024>& Text, const FirmwareRestart& Restart);

// What to do there, from the verdict: printed before anything changes.
void AppendFirmwareAdvice(FixedText<2048>& Text, const Verdict& Result);
