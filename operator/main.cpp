// korimath.exe: installs, runs and removes the korimath driver through the
// service control manager, and turns its report into a verdict that accounts
// for the hypervisor Windows may itself run on. Windows 10 and later.
#include <windows.h>

#include "operator/actions.h"
#include "operator/decisions/command_line.h"
#include "operator/win32/console.h"
#include "operator/win32/elevation.h"
#include "operator/decisions/exit_codes.h"
#include "operator/win32/instance_lock.h"
#include "operator/win32/report_output.h"
#include "operator/win32/windows_facts.h"

namespace {

constexpr const char* Usage =
    "korimath 1.0.0.2 - is hardware virtualization (Intel VT-x, AMD-V) available and enabled?\n"
    "\n"
    "usage: korimath run [--json]      load the driver, print its report and a verdict, stop it; a service\n"
    "                                  run had to set up goes again, so only the report remains\n"
    "       korimath report [--json]   the verdict now, refined by the last fresh report (no elevation needed)\n"
    "       korimath check [--json]    one line: ready or not, and why; exit 0 ready, 1 not (no elevation,\n"
    "                                  never loads the driver)\n"
    "       korimath firmware-setup [--yes]  say what to change there, ask, restart into firmware setup\n"
    "       korimath install           keep the driver installed as kernel service korimath\n"
    "       korimath remove            stop and delete the service and its driver file (the report stays)\n"
    "\n"
    "The driver travels inside this program and is loaded only from System32\\drivers. install, run and\n"
    "remove need a prompt opened with \"Run as administrator\". Started from Explorer, korimath asks for\n"
    "elevation and does \"run\". --json prints one JSON object on standard output.\n"
    "\n"
    "Exit codes: 0 done (check: ready), 1 check: not ready, 2 usage, 3 not elevated,\n"
    "4 driver cannot be written to System32\\drivers, 5 a service named korimath that cannot be replaced,\n"
    "6 install failed, 7 start refused, 8 no report yet, 9 stop failed, 10 remove failed, 12 busy\n"
    "(another korimath install, run or remove), 13 not an x64 processor (Windows on Arm), 14 cannot\n"
    "restart into firmware setup, 15 firmware-setup not confirmed, 16 lock unavailable, 17 DLL search\n"
    "not restricted. Failures print the Win32 error.\n";

int Perform(const CommandLine& Command, Output& To)
{
    switch (Command.Do) {
    case Action::Help:
        WriteOut(Usage);
        return ExitDone;
    case Action::Usage:
        WriteErr(Usage);
        // With --json the object says so too; on a console the usage text is enough.
        return To.Json ? Refuse(To, L"usage: korimath run|report|check [--json], korimath install|remove, korimath "
                                    L"firmware-setup [--yes]",
                                ExitUsage)
                       : ExitUsage;
    case Action::Check:
        return Check(To);
    case Action::Report:
    case Action::FirmwareSetup:
    case Action::Run:
    case Action::Install:
    case Action::Remove:
        break;
    }
    if (RefusedOffX64(Command.Do) && !NativeMachineIsX64()) {
        PrintReport(To);
        return Refuse(To, L"not an x64 processor: korimath's x64 driver cannot load on Windows on Arm; nothing was "
                          L"installed.",
                      ExitNotX64);
    }
    if (Command.Do == Action::Report) {
        return PrintReport(To);
    }
    if (!IsElevated()) {
        return Refuse(To, L"not elevated: this action loads or changes a kernel driver, or restarts the machine; run "
                          L"it from a command prompt opened with \"Run as administrator\".",
                      ExitNotElevated);
    }
    if (Command.Do == Action::FirmwareSetup) {
        return FirmwareSetup(To, Command.Yes);  // changes no service: no lock
    }
    const InstanceLock lock(InstanceLockTimeoutMs);
    if (lock.Outcome() == LockOutcome::Busy) {
        return Refuse(To, L"busy: another korimath install, run or remove has not finished within 30 seconds; try "
                          L"again when it has.",
                      ExitBusy);
    }
    if (lock.Outcome() == LockOutcome::Unavailable) {
        return Fail(To, L"lock unavailable: korimath could not create or open its administrators-only lock",
                    lock.Error(), ExitLockUnavailable);
    }
    if (Command.Do == Action::Install) {
        return Install(To);
    }
    return Command.Do == Action::Run ? RunDriver(To) : Remove(To);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CommandLine command = ParseCommandLine(argc, argv);
    Output to{command.Json, {}, {}};
    const Console where = DescribeConsole();
    // Double-clicked in Explorer: do the whole job, elevated.
    if (command.NoArguments && where.OwnedAlone) {
        if (!IsElevated()) {
            const int code = RelaunchElevated(to);
            if (code != ExitDone && ShouldWaitForKey(command, where)) {
                WaitForKey();
            }
            return code;
        }
        command.Do = Action::Run;
    }
    const int code = Perform(command, to);
    if (command.Json && !to.JsonPrinted) {
        PrintJson(to, code);  // every outcome, failures too
    }
    if (ShouldWaitForKey(command, where)) {
        WaitForKey();
    }
    return code;
}
