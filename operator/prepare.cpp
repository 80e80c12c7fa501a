#include "operator/prepare.h"

#include "operator/decisions/exit_codes.h"
#include "operator/decisions/messages.h"
#include "operator/win32/private_folder.h"

namespace {

constexpr DWORD ServiceAccess = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG |
                                SERVICE_CHANGE_CONFIG | DELETE | READ_CONTROL | WRITE_DAC;

// What a korimath service that is not ours is, in a sentence.
int Conflict(Output& To, const ServiceState& Found)
{
    const ServiceFound service = Found.Found();
    return Refuse(To, {L"a service named korimath exists that is not korimath's: ",
                       service.KernelDriver ? L"a kernel driver loading " : L"not a kernel driver; it loads ",
                       service.ImagePath, L". It was left as it is; remove it, or ask whoever installed it."},
                  ExitServiceConflict);
}

// Writes the copy, then holds it checked; exit 4 when it cannot be trusted.
int WriteAndHold(Output& To, Prepared& Ready, const CarriedDriver& Driver)
{
    Ready.Copy.Release();  // a held file cannot be replaced
    DWORD error = WriteSystemCopy(Ready.CopyPath.CStr(), Driver);
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot write the driver to System32\\drivers", error, ExitDriverUnavailable);
    }
    if (Ready.Copy.Open(Ready.CopyPath.CStr(), Driver) != SystemCopyState::SameAsCarried) {
        DeleteSystemCopy(Ready.CopyPath.CStr());
        FixedText<256> why;
        why.Append(DescribeCopyProblem(Ready.Copy.Problem()));
        return Refuse(To, {L"the driver written to System32\\drivers cannot be trusted: ",
                           why.Length != 0 ? why.View() : L"its bytes differ from this program's driver",
                           L"; it was not loaded."},
                      ExitDriverUnavailable);
    }
    return ExitDone;
}

}  // namespace

int Prepare(Output& To, bool ForRun, Prepared& Ready)
{
    const CarriedDriver driver = FindCarriedDriver();
    if (driver.Bytes == nullptr || !WindowsFolder(Ready.Windows) ||
        !SystemCopyPath(Ready.Windows.View(), Ready.CopyPath)) {
        return Refuse(To, L"this program carries no driver, or Windows does not say where System32 is: download "
                          L"korimath.exe again and check it against SHA256SUMS.",
                      ExitDriverUnavailable);
    }
    DWORD error = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_ENUMERATE_SERVICE,
                              Ready.Manager);
    if (error != ERROR_SUCCESS) {
        return Fail(To, L"cannot open the service manager", error, ExitCreateFailed);
    }
    RemoveRunLeftovers(Ready.Manager.Get());
    RemoveCopyLeftovers(Ready.CopyPath.CStr());
    Found found = Found::NoService;
    Ready.Name.Append(ServiceName);
    error = OpenKorimath(Ready.Manager.Get(), ServiceName, ServiceAccess, Ready.Service);
    if (error == ERROR_SUCCESS) {
        error = ReadServiceState(Ready.Service.Get(), Ready.Before);
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot read the installed service's configuration", error, ExitServiceConflict);
        }
        found = ClassifyService(Ready.Before.Found(), Ready.Windows.View());
    } else if (error != ErrorServiceDoesNotExist) {
        return Fail(To, L"cannot open service korimath", error, ExitCreateFailed);
    }
    const SystemCopyState copy = Ready.Copy.Open(Ready.CopyPath.CStr(), driver);
    Ready.Plan = ForRun ? PlanRun(found, copy) : PlanInstall(found, copy);
    if (Ready.Plan.Conflict) {
        return Conflict(To, Ready.Before);
    }
    if (found == Found::Elsewhere) {
        Say(To, {L"korimath: service korimath loads ", Ready.Before.Found().ImagePath,
                 L", a file outside System32\\drivers that is not started from there; pointing it at this "
                 L"program's driver\n"});
    } else if (found == Found::RunLeftover) {
        Say(To, {L"korimath: service korimath is left over from an earlier run; cleaning it up\n"});
    }
    if (Ready.Service && Ready.Plan.WriteSystemCopy) {
        error = StopAndWait(Ready.Service.Get());  // a loaded image cannot be replaced
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot stop the installed driver to replace it", error, ExitStopFailed);
        }
    }
    if (Ready.Plan.WriteSystemCopy) {
        const int written = WriteAndHold(To, Ready, driver);
        if (written != ExitDone) {
            return written;
        }
    }
    if (Ready.Plan.CreateService) {
        SC_HANDLE created = nullptr;
        const bool named = !ForRun || UnpredictableName(RunServicePrefix, Ready.Name);
        const FixedText<160> display = RunServiceDisplayName(Ready.Name.View());
        error = named ? CreateKorimath(WindowsServices(), Ready.Manager.Get(), Ready.Name.CStr(),
                                       ForRun ? display.CStr() : InstallDisplayName.data(), SystemCopyImagePath,
                                       ForRun ? RunDescription : InstallDescription, ServiceAccess, created)
                      : ERROR_GEN_FAILURE;
        Ready.Service.Reset(created);
        if (error != ERROR_SUCCESS) {
            Ready.Copy.Release();
            DeleteSystemCopy(Ready.CopyPath.CStr());
            return Fail(To, L"cannot install the korimath service", error, ExitCreateFailed);
        }
        Say(To, {L"korimath: installed ", Ready.CopyPath.View(), L" as kernel service ", Ready.Name.View(), L"\n"});
    } else if (Ready.Plan.RepointService) {
        error = RepointKorimath(Ready.Service.Get(), SystemCopyImagePath, ForRun ? RunDescription : InstallDescription);
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot point service korimath at System32\\drivers", error, ExitServiceConflict);
        }
        Say(To, {L"korimath: service korimath now loads ", Ready.CopyPath.View(), L"\n"});
    } else if (found == Found::DriverStore) {
        Say(To, {L"korimath: installed from the driver store (", Ready.Before.Found().ImagePath,
                 L"); using it as it is\n"});
    } else if (Ready.Plan.WriteSystemCopy) {
        Say(To, {L"korimath: wrote this program's driver to ", Ready.CopyPath.View(), L"\n"});
    } else {
        Say(To, {L"korimath: already installed: ", Ready.CopyPath.View(), L"\n"});
    }
    return ExitDone;
}

int Undo(Output& To, Prepared& Ready)
{
    Ready.Copy.Release();
    if (Ready.Plan.RemoveAfterRun) {
        const int removed = Uninstall(To, Ready.Manager.Get(), Ready.Name.CStr(), Ready.Service, Ready.CopyPath);
        if (removed == ExitDone) {
            Say(To, {L"korimath: removed the service and its driver file again\n"});
        }
        return removed;
    }
    if (Ready.Plan.RestoreAfterRun) {
        const DWORD error = RestoreService(Ready.Service.Get(), Ready.Before);
        if (error != ERROR_SUCCESS) {
            return Fail(To, L"cannot put service korimath back as it was", error, ExitDeleteFailed);
        }
        const DWORD deleted = DeleteSystemCopy(Ready.CopyPath.CStr());
        if (deleted != ERROR_SUCCESS) {
            return Fail(To, L"cannot delete the driver's copy in System32\\drivers", deleted, ExitDeleteFailed);
        }
        Say(To, {L"korimath: put service korimath back as it was and removed the driver file\n"});
    }
    return ExitDone;
}

int Uninstall(Output& To, SC_HANDLE Manager, const wchar_t* Name, ServiceHandle& Service, const WideBuffer& CopyPath)
{
    const bool runs = std::wstring_view(Name) != ServiceName;
    const DWORD removed = DeleteAndWait(Manager, Name, Service, runs ? 1000 : 5000);
    const DWORD deleted = DeleteSystemCopy(CopyPath.CStr());
    if (removed == ErrorServiceMarkedForDelete && runs) {
        Say(To, {L"korimath: another program holds the temporary service ", Name, L" open; Windows removes it when "
                 L"that program lets go, and it stops no later run\n"});
    } else if (removed != ERROR_SUCCESS) {
        return Fail(To, L"service korimath is still present", removed, ExitDeleteFailed);
    }
    if (deleted != ERROR_SUCCESS) {
        return Fail(To, L"cannot delete the driver's copy in System32\\drivers", deleted, ExitDeleteFailed);
    }
    return ExitDone;
}
