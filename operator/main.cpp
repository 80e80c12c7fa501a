// korimath.exe: installs, runs and removes the korimath driver through the
// service control manager, and turns its report into a verdict that accounts
// for the hypervisor Windows may itself run on.
#include <windows.h>
#include <intrin.h>
#include <shellapi.h>

#include "operator/console.h"
#include "operator/json_report.h"
#include "operator/messages.h"
#include "operator/service_control.h"
#include "operator/verdict.h"

namespace {

enum ExitCode : int {
    ExitDone = 0,
    ExitUsage = 2,
    ExitNotElevated = 3,
    ExitImageMissing = 4,
    ExitServiceConflict = 5,
    ExitCreateFailed = 6,
    ExitStartRefused = 7,
    ExitNoReport = 8,
    ExitStopFailed = 9,
    ExitDeleteFailed = 10,
    ExitImageOnNetwork = 11,
};

constexpr const wchar_t* Usage =
    L"korimath 1.0.0.2 - is hardware virtualization (Intel VT-x, AMD-V) available and enabled?\n"
    L"\n"
    L"usage: korimath run [--json]      install if needed, load the driver, print its report and a verdict, stop it\n"
    L"       korimath report [--json]   print the last report and its verdict (no elevation needed)\n"
    L"       korimath install           register korimath.sys (beside this program) as a kernel service\n"
    L"       korimath remove            stop and delete the service (the report stays)\n"
    L"\n"
    L"install, run and remove need a prompt opened with \"Run as administrator\". Started from Explorer,\n"
    L"korimath asks for elevation and does \"run\". --json prints one JSON object on standard output.\n"
    L"\n"
    L"Exit codes: 0 done, 2 usage, 3 not elevated or access denied, 4 image missing, 5 a service named\n"
    L"korimath exists with another image, 6 install failed, 7 start refused, 8 no report yet, 9 stop\n"
    L"failed, 10 remove failed, 11 image on a network drive or share. Failures print the Win32 error.\n";

struct Options {
    bool Json = false;  // progress then goes to standard error, JSON alone to standard output
};

void Say(const Options& Run, std::initializer_list<std::wstring_view> Parts)
{
    for (const std::wstring_view part : Parts) {
        Run.Json ? WriteErr(part) : WriteOut(part);
    }
}

// "korimath: What: error N: what it means and what to do."
void SayError(const Options& Run, std::wstring_view What, DWORD Error)
{
    FixedText<16> number;
    number.AppendNumber(Error);
    Say(Run, {L"korimath: ", What, L": error ", number.View(), L": "});
    if (const wchar_t* sentence = ExplainError(Error)) {
        Say(Run, {sentence, L"\n"});
        return;
    }
    wchar_t* system = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, Error, 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr);
    Say(Run, {length != 0 ? std::wstring_view(system, length) : std::wstring_view(L"(no description)\n")});
    LocalFree(system);
}

// Prints the failure and picks its exit code: access denied means the
// prompt is not elevated.
int Fail(const Options& Run, std::wstring_view What, DWORD Error, int Otherwise)
{
    SayError(Run, What, Error);
    return Error == ERROR_ACCESS_DENIED ? ExitNotElevated : Otherwise;
}

bool IsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

PathText SystemRoot()
{
    PathText root;
    root.Length = GetSystemWindowsDirectoryW(root.Chars, static_cast<UINT>(sizeof(root.Chars) / sizeof(wchar_t)));
    if (root.Length >= sizeof(root.Chars) / sizeof(wchar_t)) {
        root.Clear();
    }
    return root;
}

// korimath.sys beside this program, with a subst drive resolved to its real
// folder: the kernel loads drivers outside the user's session, which does not
// see the user's subst or mapped drives.
PathText ImageBesideProgram()
{
    PathText program;
    const DWORD capacity = sizeof(program.Chars) / sizeof(wchar_t);
    program.Length = GetModuleFileNameW(nullptr, program.Chars, capacity);
    if (program.Length >= capacity) {
        program.Clear();  // cut short: the image would be looked for in the wrong place
    }
    std::wstring_view folder = program.View();
    folder = Head(folder, folder.rfind(L'\\') + 1);
    PathText image;
    if (folder.size() >= 2 && folder[1] == L':') {
        const wchar_t drive[] = {folder[0], L':', 0};
        wchar_t target[1024];
        if (QueryDosDeviceW(drive, target, 1024) != 0 && StartsWithIgnoringCase(target, L"\\??\\")) {
            image.Append(Tail(target, 4));
            folder.remove_prefix(2);
        }
    }
    image.Append(folder);
    image.Append(L"korimath.sys");
    return image;
}

bool OnNetwork(const PathText& Image)
{
    if (IsUncPath(Image.View())) {
        return true;
    }
    const wchar_t root[] = {Image.Chars[0], L':', L'\\', 0};
    return Image.Length >= 2 && Image.Chars[1] == L':' && GetDriveTypeW(root) == DRIVE_REMOTE;
}

// The same file: the same text ignoring case as Windows does, or, for short
// names, links and other spellings, the same volume and file index.
bool SameFile(const wchar_t* A, const wchar_t* B)
{
    if (CompareStringOrdinal(A, -1, B, -1, TRUE) == CSTR_EQUAL) {
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info[2];
    const wchar_t* paths[2] = {A, B};
    for (int i = 0; i < 2; ++i) {
        const HANDLE file = CreateFileW(paths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        const BOOL ok = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!ok) {
            return false;
        }
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

void ReadText(HKEY Key, const wchar_t* Name, FixedText<128>& Text, bool& Present)
{
    DWORD size = sizeof(Text.Chars);
    const LSTATUS status = RegGetValueW(Key, nullptr, Name, RRF_RT_REG_SZ, nullptr, Text.Chars, &size);
    Present = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    if (status == ERROR_SUCCESS) {
        Text.Length = size / sizeof(wchar_t) - 1;
    } else {
        Text.Clear();
        Text.Append(Present ? L"(too long)" : L"");
    }
}

// Always the 64-bit view: a 32-bit caller would otherwise read WOW6432Node.
Report ReadReport()
{
    Report values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ReportKeyName, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        return values;
    }
    values.KeyPresent = true;
    ReadText(key, L"CPU_Vendor", values.Vendor, values.VendorPresent);
    ReadText(key, L"CPU_Name", values.Name, values.NamePresent);
    for (unsigned i = 0; i < ReportFlagCount; ++i) {
        DWORD size = sizeof(values.Flags[i].Value);
        DWORD data = 0;
        values.Flags[i].Present =
            RegGetValueW(key, nullptr, ReportFlagNames[i], RRF_RT_REG_DWORD, nullptr, &data, &size) == ERROR_SUCCESS;
        values.Flags[i].Value = data;
    }
    RegCloseKey(key);
    return values;
}

// Windows creates the key on the driver's first write; creating it first is
// harmless there and lets the report land on systems that do not.
void EnsureReportKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ReportKeyName, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

CpuidRegisters QueryCpuid(std::uint32_t Leaf)
{
    int registers[4] = {};
    __cpuidex(registers, static_cast<int>(Leaf), 0);
    return CpuidRegisters{static_cast<std::uint32_t>(registers[0]), static_cast<std::uint32_t>(registers[1]),
                          static_cast<std::uint32_t>(registers[2]), static_cast<std::uint32_t>(registers[3])};
}

void PrintValue(std::wstring_view Name, bool Present, std::wstring_view Data)
{
    if (Present) {
        FixedText<256> line;
        line.Append(L"  ");
        line.Append(Name);
        line.Append(Tail(L"              ", Name.size()));
        line.Append(Data);
        line.Append(L"\n");
        WriteOut(line.View());
    }
}

// The installed service's image as a Win32 path.
DWORD QueryInstalledImage(SC_HANDLE Service, const PathText& Root, PathText& Installed)
{
    PathText configured;
    const DWORD error = QueryImagePath(Service, configured);
    Installed = NormalizeImagePath(configured.View(), Root.View());
    return error;
}

int PrintReport(const Options& Run)
{
    const Report values = ReadReport();
    const HypervisorFacts hypervisor = ReadHypervisorFacts(QueryCpuid);
    const Verdict verdict = DecideVerdict(values, hypervisor);
    const int code = values.KeyPresent && values.VendorPresent ? ExitDone : ExitNoReport;
    if (Run.Json) {
        WriteOut(FormatJsonReport(values, hypervisor, verdict).View());
        return code;
    }
    if (values.KeyPresent) {
        WriteOut(L"Report under HKLM\\Software\\Korimath:\n");
        PrintValue(L"CPU_Vendor", values.VendorPresent, values.Vendor.View());
        PrintValue(L"CPU_Name", values.NamePresent, values.Name.View());
        for (unsigned i = 0; i < ReportFlagCount; ++i) {
            FixedText<16> number;
            number.AppendNumber(values.Flags[i].Value);
            PrintValue(ReportFlagNames[i], values.Flags[i].Present, number.View());
        }
    }
    WriteOut(L"Hypervisor: ");
    if (!hypervisor.Present) {
        WriteOut(L"none reported by CPUID\n");
    } else {
        WriteOut(HypervisorDisplayName(hypervisor));
        WriteOut(L" (\"");
        WriteOut(hypervisor.Vendor.View());
        WriteOut(hypervisor.RootPartition ? L"\"), Windows runs as its root partition\n"
                                          : L"\"), Windows runs as its guest\n");
    }
    WriteOut(L"Verdict (");
    WriteOut(verdict.Id);
    WriteOut(L"):\n  ");
    WriteOut(verdict.Text.View());
    WriteOut(L"\n");
    return code;
}

int Install(const Options& Run)
{
    const PathText image = ImageBesideProgram();
    if (OnNetwork(image)) {
        Say(Run, {L"korimath: image on a network location: ", image.View(),
                  L"\nkorimath: the kernel cannot load a driver from a network drive or share; copy korimath.exe "
                  L"and korimath.sys to a folder on a local disk and run them there.\n"});
        return ExitImageOnNetwork;
    }
    if (GetFileAttributesW(image.CStr()) == INVALID_FILE_ATTRIBUTES) {
        Say(Run, {L"korimath: image missing: ", image.View(),
                  L" not found; keep korimath.sys in the same folder as korimath.exe.\n"});
        return ExitImageMissing;
    }
    ServiceHandle manager;
    DWORD error = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE, manager);
    if (error != ERROR_SUCCESS) {
        return Fail(Run, L"cannot open the service manager", error, ExitCreateFailed);
    }
    ServiceHandle service;
    error = OpenKorimath(manager.Get(), SERVICE_QUERY_CONFIG, service);
    if (error == ERROR_SUCCESS) {
        const PathText root = SystemRoot();
        PathText installed;
        error = QueryInstalledImage(service.Get(), root, installed);
        if (error != ERROR_SUCCESS) {
            SayError(Run, L"cannot read the installed service's image path", error);
            return ExitCreateFailed;
        }
        if (SameFile(installed.CStr(), image.CStr())) {
            Say(Run, {L"korimath: already installed from ", installed.View(), L"\n"});
            return ExitDone;
        }
        if (IsDriverStoreImage(installed.View(), root.View())) {
            Say(Run, {L"korimath: installed from the driver store (", installed.View(), L"); using it as it is\n"});
            return ExitDone;
        }
        Say(Run, {L"korimath: service korimath exists with another image: ", installed.View(),
                  L"\nkorimath: run \"korimath remove\" first if that copy is no longer wanted.\n"});
        return ExitServiceConflict;
    }
    if (error != ErrorServiceDoesNotExist) {
        return Fail(Run, L"cannot open service korimath", error, ExitCreateFailed);
    }
    error = CreateKorimath(manager.Get(), image.CStr());
    if (error != ERROR_SUCCESS) {
        return Fail(Run, L"cannot install service korimath", error, ExitCreateFailed);
    }
    Say(Run, {L"korimath: installed ", image.View(), L" as kernel service korimath\n"});
    return ExitDone;
}

int RunDriver(const Options& Run)
{
    const int installed = Install(Run);
    if (installed != ExitDone) {
        return installed;
    }
    ServiceHandle manager;
    ServiceHandle service;
    DWORD error = OpenManager(SC_MANAGER_CONNECT, manager);
    if (error == ERROR_SUCCESS) {
        error = OpenKorimath(manager.Get(), SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS, service);
    }
    if (error != ERROR_SUCCESS) {
        return Fail(Run, L"cannot open service korimath", error, ExitStartRefused);
    }
    SERVICE_STATUS_PROCESS status{};
    if (QueryState(service.Get(), status) == ERROR_SUCCESS && status.dwCurrentState != SERVICE_STOPPED) {
        Say(Run, {L"korimath: already running; stopping it to load it afresh\n"});
        error = StopAndWait(service.Get());
        if (error != ERROR_SUCCESS) {
            SayError(Run, L"cannot stop the running driver; this is the report of its earlier load", error);
            return PrintReport(Run);
        }
    }
    EnsureReportKey();
    error = StartAndWait(service.Get());
    if (error != ERROR_SUCCESS) {
        SayError(Run, L"start refused", error);
        return ExitStartRefused;
    }
    Say(Run, {L"korimath: driver loaded\n"});
    const int reported = PrintReport(Run);
    error = StopAndWait(service.Get());
    if (error != ERROR_SUCCESS) {
        SayError(Run, L"cannot stop the driver", error);
        return ExitStopFailed;
    }
    Say(Run, {L"korimath: driver stopped\n"});
    return reported;
}

int Remove(const Options& Run)
{
    const PathText root = SystemRoot();
    bool fromDriverStore = false;
    ServiceHandle manager;
    DWORD error = OpenManager(SC_MANAGER_CONNECT, manager);
    if (error != ERROR_SUCCESS) {
        return Fail(Run, L"cannot open the service manager", error, ExitDeleteFailed);
    }
    {
        ServiceHandle service;
        error = OpenKorimath(manager.Get(), SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE,
                             service);
        if (error == ErrorServiceDoesNotExist) {
            Say(Run, {L"korimath: not installed; nothing to remove\n"});
            return ExitDone;
        }
        if (error != ERROR_SUCCESS) {
            return Fail(Run, L"cannot open service korimath", error, ExitDeleteFailed);
        }
        PathText installed;
        fromDriverStore = QueryInstalledImage(service.Get(), root, installed) == ERROR_SUCCESS &&
                          IsDriverStoreImage(installed.View(), root.View());
        error = StopAndWait(service.Get());
        if (error != ERROR_SUCCESS) {
            SayError(Run, L"cannot stop the driver", error);
            return ExitStopFailed;
        }
        if (!DeleteService(service.Get())) {
            SayError(Run, L"cannot remove service korimath", GetLastError());
            return ExitDeleteFailed;
        }
    }
    // The service goes only when the last handle to it closes; another program
    // may hold one. Report success only once it is really gone.
    for (int attempt = 0; attempt < 50; ++attempt) {
        ServiceHandle probe;
        if (OpenKorimath(manager.Get(), SERVICE_QUERY_STATUS, probe) == ErrorServiceDoesNotExist) {
            Say(Run, {L"korimath: removed service korimath (the report under HKLM\\Software\\Korimath stays)\n"});
            if (fromDriverStore) {
                Say(Run, {L"korimath: the driver package stays in the driver store: \"pnputil /enum-drivers\" lists "
                          L"it as oemNN.inf, and \"pnputil /delete-driver oemNN.inf\" removes it.\n"});
            }
            return ExitDone;
        }
        Sleep(100);
    }
    SayError(Run, L"service korimath is still present", ErrorServiceMarkedForDelete);
    return ExitDeleteFailed;
}

// Explorer started us without elevation: ask Windows for it and let the
// elevated copy, in its own window, do the work.
int RelaunchElevated(const Options& Run)
{
    wchar_t program[1024];
    GetModuleFileNameW(nullptr, program, 1024);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = L"run";
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) {
        return ExitDone;
    }
    SayError(Run, L"cannot run as administrator", GetLastError());
    return ExitNotElevated;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options run;
    std::wstring_view action;
    bool extra = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg = argv[i];
        if (arg == L"--json") {
            run.Json = true;
        } else if (action.empty()) {
            action = arg;
        } else {
            extra = true;
        }
    }
    // Started from Explorer: there is no prompt to read the output in, so do
    // the whole job and keep the window open until a key is pressed.
    const bool ownWindow = OwnsConsole();
    if (argc == 1 && ownWindow) {
        if (!IsElevated()) {
            const int code = RelaunchElevated(run);
            if (code != ExitDone) {
                WaitForKey();
            }
            return code;
        }
        action = L"run";
    }
    if (action == L"--help" || action == L"-h" || action == L"/?" || action == L"help") {
        WriteOut(Usage);
        return ExitDone;
    }
    const bool known = action == L"install" || action == L"run" || action == L"report" || action == L"remove";
    if (!known || extra || (run.Json && action != L"run" && action != L"report")) {
        WriteErr(Usage);
        return ExitUsage;
    }
    int code = ExitDone;
    if (action == L"report") {
        code = PrintReport(run);
    } else if (!IsElevated()) {
        Say(run, {L"korimath: not elevated: \"", action,
                  L"\" loads or changes a kernel driver; run it from a command prompt opened with \"Run as "
                  L"administrator\".\n"});
        code = ExitNotElevated;
    } else if (action == L"install") {
        code = Install(run);
    } else if (action == L"run") {
        code = RunDriver(run);
    } else {
        code = Remove(run);
    }
    if (ownWindow) {
        WaitForKey();
    }
    return code;
}
