#include "operator/decisions/firmware_setup.h"

namespace {

constexpr unsigned long FirmwareTypeUefi = 2;  // FIRMWARE_TYPE (winnt.h)

// Microsoft's manual route to UEFI firmware settings (Windows Settings, and
// "shutdown /r /fw" from an elevated prompt).
constexpr std::string_view ManualRoute =
    " Instead: Settings > System > Recovery > Advanced startup > Restart now, then Troubleshoot > Advanced options "
    "> UEFI Firmware Settings; or \"shutdown /r /fw\" from an elevated prompt. Nothing was changed.";

}  // namespace

FirmwareRefusal CheckFirmwareSetup(const FirmwareFacts& Facts)
{
    if (!Facts.FunctionsPresent) {
        return FirmwareRefusal::FunctionsMissing;
    }
    if (Facts.Type != FirmwareTypeUefi) {
        return FirmwareRefusal::LegacyBios;
    }
    if (!Facts.PrivilegeHeld) {
        return FirmwareRefusal::PrivilegeRefused;
    }
    if (!Facts.SupportRead) {
        return FirmwareRefusal::SupportUnreadable;
    }
    return (Facts.Supported & BootToFirmwareUi) != 0 ? FirmwareRefusal::None : FirmwareRefusal::NotSupported;
}

void AppendRefusal(FixedText<1024>& Text, FirmwareRefusal Why)
{
    switch (Why) {
    case FirmwareRefusal::None:
        return;
    case FirmwareRefusal::FunctionsMissing:
        Text.Append("this Windows lacks the functions that ask the firmware to open its setup.");
        break;
    case FirmwareRefusal::LegacyBios:
        Text.Append("this machine starts with a legacy BIOS, which Windows cannot ask to open its setup: press the "
                    "setup key its maker names (often F2, F10, F12 or Del) while it starts. Nothing was changed.");
        return;
    case FirmwareRefusal::PrivilegeRefused:
        Text.Append("Windows refused the privilege to change firmware variables (SeSystemEnvironmentPrivilege); "
                    "a policy may withhold it.");
        break;
    case FirmwareRefusal::SupportUnreadable:
        Text.Append("the firmware did not say whether it can open its setup on request (OsIndicationsSupported).");
        break;
    case FirmwareRefusal::NotSupported:
        Text.Append("this firmware cannot open its setup on request (OsIndicationsSupported lacks "
                    "EFI_OS_INDICATIONS_BOOT_TO_FW_UI).");
        break;
    }
    Text.Append(ManualRoute);
}

Confirmation HowToConfirm(bool Yes, bool Console)
{
    if (Yes) {
        return Confirmation::Skip;
    }
    return Console ? Confirmation::Ask : Confirmation::Refuse;
}

void AppendNoRestart(FixedText<1024>& Text, const FirmwareRestart& Restart)
{
    Text.Append(Restart.Cancelled ? "the restart into firmware setup was cancelled (a program would not close, or "
                                    "someone chose Cancel)"
                                  : "cannot restart into firmware setup");
    if (Restart.Restored) {
        Text.Append("; OsIndications is as it was, so the next restart starts Windows as usual");
        return;
    }
    Text.Append("; OsIndications could not be put back (error ");
    Text.AppendNumber(Restart.RestoreError);
    Text.Append("), so the next restart opens firmware setup");
}

void AppendFirmwareAdvice(FixedText<2048>& Text, const Verdict& Result)
{
    const bool off = Result.Found == Finding::FirmwareDisabled || Result.Found == Finding::FirmwareUnlocked;
    if (off) {
        Text.Append(Result.Vmx ? "In firmware setup, turn on \"Intel Virtualization Technology\" (some firmware "
                                 "says \"VT-x\" or \"Vanderpool\"; VT-d is a different switch)."
                               : "In firmware setup, turn on \"SVM Mode\" (some firmware says \"SVM\" or \"AMD-V\").");
    } else {
        Text.Append("korimath's verdict (");
        Text.Append(Result.Id);
        Text.Append(") does not call for a firmware change; firmware setup opens all the same.");
    }
    Text.Append(" Setup's \"Save and Exit\" applies a change. If korimath still says it is disabled afterwards, shut "
                "down fully and start again");
    Text.Append(Result.Vmx ? ": IA32_FEATURE_CONTROL keeps its lock until a power-up reset." : ".");
    Text.Append(" Save your open work first: Windows restarts as soon as you confirm. If BitLocker protects this "
                "drive, have its recovery key at hand: changed firmware settings can make it ask for the key.");
}
