#include "operator/actions.h"

#include "operator/win32/driver_file.h"
#include "operator/decisions/exit_codes.h"
#include "operator/decisions/messages.h"
#include "operator/win32/report_output.h"
#include "operator/win32/service_control.h"

namespace {

constexpr DWORD ServiceAccess =
    SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | DELETE;

// The service as install or run leave it ready to start, and what run must
// undo afterwards.
struct Prepared {
    WideBuffer Windows;
    ServiceHandle Manager;
    ServiceHandle Service;
    WideBuffer CopyPath;
    DriverPlan Plan;
};

// Finds the service, decides (PlanInstall or PlanRun) and carries that out.
int Prepare(Output& To, bool ForRun, Prepared& Ready)
{
    const CarriedDriver driver = FindCarriedDriver();
    if (driver.Bytes == nullptr || !WindowsFolder(Ready.Windows) ||
        !SystemCopyPath(Ready.Windows.View(), Ready.CopyPath)) {
        return Refuse(To, L"this program carries no driver, or Windows does not say where System32 is: download "
                          L"korimath.exe again and check it against SHA256SUMS.",
                      ExitDriverUnavailable);
    }
    DWORD error = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE, Ready.Manager);
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot open the service manager", error, ExitCreateFailed);
    }
    Found found = Found::NoService;
    WideBuffer configured;
    error = OpenKorimath(Ready.Manager.Get(), ServiceAccess, Ready.Service);
    if (error == ERROR_SUCCESS) {
        error = QueryImagePath(Ready.Service.Get(), configured);
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot read the installed service's image path", error, ExitServiceConflict);
        }
        found = FoundFrom(ClassifyImagePath(configured.View(), Ready.Windows.View()));
    } else if (error != ErrorServiceDoesNotExist) {
        return Fail(To, L"cannot open service korimath", error, ExitCreateFailed);
    }
    const SystemCopyState copy = InspectSystemCopy(Ready.CopyPath.CStr(), driver);
    Ready.Plan = ForRun ? PlanRun(found, copy) : PlanInstall(found, copy);

    if (found == Found::Elsewhere) {
        Say(To, {L"korimath: service korimath loads ", configured.View(),
                 L", a file outside System32\\drivers that is not started from there; replacing it with this "
                 L"program's driver\n"});
    }
    if (Ready.Service && Ready.Plan.WriteSystemCopy) {
        error = StopAndWait(Ready.Service.Get());  // a loaded image cannot be overwritten
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot stop the installed driver to replace it", error,
                        found == Found::Elsewhere ? ExitServiceConflict : ExitStopFailed);
        }
    }
    if (Ready.Plan.WriteSystemCopy) {
        error = WriteSystemCopy(Ready.CopyPath.CStr(), driver);
        if (error != ERROR_SUCCESS) {
            DeleteSystemCopy(Ready.CopyPath.CStr());
            return Fail(To, L"cannot write the driver to System32\\drivers", error, ExitDriverUnavailable);
        }
    }
    if (Ready.Plan.CreateService) {
        error = CreateKorimath(Ready.Manager.Get(), SystemCopyImagePath, ServiceAccess, Ready.Service);
        if (error != ERROR_SUCCESS) {
            DeleteSystemCopy(Ready.CopyPath.CStr());
            return Fail(To, L"cannot install service korimath", error, ExitCreateFailed);
        }
        Say(To, {L"korimath: installed ", Ready.CopyPath.View(), L" as kernel service korimath\n"});
    } else if (Ready.Plan.RepointService) {
        error = RepointKorimath(Ready.Service.Get(), SystemCopyImagePath);
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot replace service korimath", error, ExitServiceConflict);
        }
        Say(To, {L"korimath: service korimath now loads ", Ready.CopyPath.View(), L"\n"});
    } else if (found == Found::DriverStore) {
        Say(To, {L"korimath: installed from the driver store (", configured.View(), L"); using it as it is\n"});
    } else if (Ready.Plan.WriteSystemCopy) {
        Say(To, {L"korimath: wrote this program's driver to ", Ready.CopyPath.View(), L"\n"});
    } else {
        Say(To, {L"korimath: already installed: ", Ready.CopyPath.View(), L"\n"});
    }
    return ExitDone;
}

// The service and the System32 copy go; the report stays.
int Uninstall(Output& To, SC_HANDLE Manager, ServiceHandle& Service, const WideBuffer& CopyPath)
{
    const DWORD removed = DeleteAndWait(Manager, Service);
    const DWORD deleted = DeleteSystemCopy(CopyPath.CStr());
    if (removed != ERROR_SUCCESS) {
        return Fail(To, L"service korimath is still present", removed, ExitDeleteFailed);
    }
    if (deleted != ERROR_SUCCESS) {
        return Fail(To, L"cannot delete the driver's copy in System32\\drivers", deleted, ExitDeleteFailed);
    }
    return ExitDone;
}

}  // namespace

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
    To.Driver = DriverLoad{true, error != ERROR_SUCCESS, error};
    if (error != ERROR_SUCCESS) {
        SayError(To, L"start refused", error);
        if (ready.Plan.RemoveAfterRun) {
            Uninstall(To, ready.Manager.Get(), ready.Service, ready.CopyPath);
        }
        PrintReport(To);  // what Windows itself says, without the driver
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
    if (ready.Plan.RemoveAfterRun) {
        const int removed = Uninstall(To, ready.Manager.Get(), ready.Service, ready.CopyPath);
        if (removed != ExitDone) {
            return removed;
        }
        Say(To, {L"korimath: removed the service and its driver file again\n"});
    }
    return reported;
}

int Remove(Output& To)
{
    WideBuffer windows;
    WideBuffer copyPath;
    if (!WindowsFolder(windows) || !SystemCopyPath(windows.View(), copyPath)) {
        return Fail(To, L"cannot find System32", GetLastError(), ExitDeleteFailed);
    }
    ServiceHandle manager;
    DWORD error = OpenManager(SC_MANAGER_CONNECT, manager);
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot open the service manager", error, ExitDeleteFailed);
    }
    ServiceHandle service;
    error = OpenKorimath(manager.Get(), SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE, service);
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
    WideBuffer configured;
    const bool fromDriverStore = QueryImagePath(service.Get(), configured) == ERROR_SUCCESS &&
                                 ClassifyImagePath(configured.View(), windows.View()) == InstalledImage::DriverStore;
    error = StopAndWait(service.Get());
    if (error != ERROR_SUCCESS) {
        SayError(To, L"cannot stop the driver", error);
        return ExitStopFailed;
    }
    const int removed = Uninstall(To, manager.Get(), service, copyPath);
    if (removed != ExitDone) {
        return removed;
    }
    Say(To, {L"korimath: removed service korimath and ", copyPath.View(),
             L" (the report under HKLM\\Software\\Korimath stays)\n"});
    if (fromDriverStore) {
        Say(To, {L"korimath: the driver package stays in the driver store: \"pnputil /enum-drivers\" lists it as "
                 L"oemNN.inf, and \"pnputil /delete-driver oemNN.inf\" removes it.\n"});
    }
    return ExitDone;
}
