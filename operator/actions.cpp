#include "operator/actions.h"

#include "operator/decisions/exit_codes.h"
#include "operator/decisions/messages.h"
#include "operator/prepare.h"
#include "operator/win32/report_output.h"

int Install(Output& To)
{
    Prepared ready;
    return Prepare(To, false, ready);
}

int RunDriver(Output& To)
{
    Prepared ready;
    const int prepared = Prepare(To, true, ready);
    if (prepared != ExitDone) {
        return prepared;
    }
    SERVICE_STATUS_PROCESS status{};
    if (QueryState(ready.Service.Get(), status) == ERROR_SUCCESS && status.dwCurrentState != SERVICE_STOPPED) {
        Say(To, {L"korimath: already running; stopping it to load it afresh\n"});
        const DWORD error = StopAndWait(ready.Service.Get());
        if (error != ERROR_SUCCESS) {
            SayError(To, L"cannot stop the running driver; this is the report of its earlier load", error);
            return PrintReport(To);
        }
    }
    EnsureReportKey();
    DWORD error = StartAndWait(ready.Service.Get());
    ready.Copy.Release();  // held, unchangeable, until the kernel has loaded it
    To.Driver = DriverLoad{true, error != ERROR_SUCCESS, error};
    if (error != ERROR_SUCCESS) {
        SayError(To, L"start refused", error);
        Undo(To, ready);
        PrintReport(To);  // what user mode says, without the driver
        return ExitStartRefused;
    }
    Say(To, {L"korimath: driver loaded\n"});
    const int reported = PrintReport(To);
    error = StopAndWait(ready.Service.Get());
    if (error != ERROR_SUCCESS) {
        SayError(To, L"cannot stop the driver", error);
        return ExitStopFailed;
    }
    Say(To, {L"korimath: driver stopped\n"});
    const int undone = Undo(To, ready);
    return undone != ExitDone ? undone : reported;
}

int Remove(Output& To)
{
    WideBuffer windows;
    WideBuffer copyPath;
    if (!WindowsFolder(windows) || !SystemCopyPath(windows.View(), copyPath)) {
        return Fail(To, L"cannot find System32", GetLastError(), ExitDeleteFailed);
    }
    ServiceHandle manager;
    DWORD error = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE, manager);
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot open the service manager", error, ExitDeleteFailed);
    }
    RemoveRunLeftovers(manager.Get());
    RemoveCopyLeftovers(copyPath.CStr());
    ServiceHandle service;
    error = OpenKorimath(manager.Get(), ServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE,
                         service);
    if (error == ErrorServiceDoesNotExist) {
        error = DeleteSystemCopy(copyPath.CStr());
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot delete the driver's copy in System32\\drivers", error, ExitDeleteFailed);
        }
        Say(To, {L"korimath: not installed; nothing to remove\n"});
        return ExitDone;
    }
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot open service korimath", error, ExitDeleteFailed);
    }
    ServiceState found;
    error = ReadServiceState(service.Get(), found);
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot read service korimath's configuration", error, ExitDeleteFailed);
    }
    const Found which = ClassifyService(found.Found(), windows.View());
    if (which == Found::Conflict) {
        return Refuse(To, {L"the service named korimath is not korimath's (it loads ", found.Found().ImagePath,
                           L"); it was left as it is."},
                      ExitServiceConflict);
    }
    error = StopAndWait(service.Get());
    if (error != ERROR_SUCCESS) {
        SayError(To, L"cannot stop the driver", error);
        return ExitStopFailed;
    }
    const int removed = Uninstall(To, manager.Get(), ServiceName, service, copyPath);
    if (removed != ExitDone) {
        return removed;
    }
    Say(To, {L"korimath: removed service korimath and ", copyPath.View(),
             L" (the report under HKLM\\Software\\Korimath stays)\n"});
    if (which == Found::DriverStore) {
        Say(To, {L"korimath: the driver package stays in the driver store: \"pnputil /enum-drivers\" lists it as "
                 L"oemNN.inf, and \"pnputil /delete-driver oemNN.inf\" removes it.\n"});
    }
    return ExitDone;
}
