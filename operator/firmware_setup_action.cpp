// korimath firmware-setup: says what to do in firmware setup, asks, then
// restarts straight into it. Nothing changes before the confirmation.
#include "operator/actions.h"

#include "operator/decisions/exit_codes.h"
#include "operator/win32/console.h"
#include "operator/win32/firmware.h"
#include "operator/win32/report_output.h"
#include "operator/win32/system_library.h"

int FirmwareSetup(Output& To, bool Yes)
{
    const SystemLibrary kernel(L"kernel32.dll");
    const SystemLibrary user(L"user32.dll");
    const FirmwareApi api = LoadFirmwareApi(kernel, user);
    const FirmwareFacts firmware = ReadFirmwareFacts(api);
    const FirmwareRefusal refusal = CheckFirmwareSetup(firmware);
    if (refusal != FirmwareRefusal::None) {
        FixedText<1024> why;
        why.Append("cannot restart into firmware setup: ");
        AppendRefusal(why, refusal);
        return Refuse(To, why.View(), ExitNoFirmwareSetup);
    }
    const MachineFacts facts = GatherFacts(To.Driver, false);  // the advice needs the verdict alone
    FixedText<2048> advice;
    AppendFirmwareAdvice(advice, DecideVerdict(facts));
    Say(To, {L"korimath: ", advice.View(), L"\n"});
    const Console where = DescribeConsole();
    switch (HowToConfirm(Yes, where.InputIsConsole && !where.SessionZero)) {
    case Confirmation::Refuse:
        return Refuse(To, L"firmware-setup restarts this machine: confirm at a console, or pass --yes. Nothing was "
                          L"changed.",
                      ExitNotConfirmed);
    case Confirmation::Ask:
        if (!AskYes(L"Restart into firmware setup now? [y/N] ")) {
            return Refuse(To, L"not confirmed; nothing was changed.", ExitNotConfirmed);
        }
        break;
    case Confirmation::Skip:
        break;
    }
    Say(To, {L"korimath: restarting into firmware setup\n"});
    const FirmwareRestart restart = RestartIntoFirmwareSetup(api);
    FixedText<1024> why;
    AppendNoRestart(why, restart);
    if (restart.Error != 0) {
        return Fail(To, why.View(), restart.Error, ExitNoFirmwareSetup);
    }
    return Refuse(To, why.View(), ExitNoFirmwareSetup);
}
