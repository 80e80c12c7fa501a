// DISM as Microsoft Learn's "DISM API Functions" describe it: DismInitialize
// refuses unelevated callers with ERROR_ELEVATION_REQUIRED, an unknown
// feature answers CBS_E_UNKNOWN_UPDATE, every DismFeatureInfo goes back
// through DismDelete, and the session calls come in order; the scratch
// folder exists while DISM works and is gone afterwards.
#include <algorithm>
#include <map>
#include <string>

#include "operator/win32/dism_features.h"
#include "tests/win32/expect.h"

namespace {

struct DismWorld {
    HRESULT Initialize = S_OK, Open = S_OK, Info = S_OK;  // Info: what every DismGetFeatureInfo answers, if not S_OK
    std::map<std::wstring, int> States;                   // the features this image knows
    std::string Calls;
    int Handed = 0, Deleted = 0;
    bool ScratchPrivate = false;
    std::wstring Scratch;
} World;

const DismApi Double{
    [](DismLogLevel, PCWSTR, PCWSTR Scratch) {
        World.Calls += "initialize ";
        World.Scratch = Scratch != nullptr ? Scratch : L"";
        // Wine keeps no security descriptor on folders: its descriptor is a host test's (safeguards).
        World.ScratchPrivate = Scratch != nullptr && GetFileAttributesW(Scratch) == FILE_ATTRIBUTE_DIRECTORY;
        return World.Initialize;
    },
    [](PCWSTR Image, PCWSTR, PCWSTR, DismSession* Session) {
        World.Calls += std::wstring(Image) == DISM_ONLINE_IMAGE ? "open " : "open-other ";
        *Session = 7;
        return World.Open;
    },
    [](DismSession Session, PCWSTR Name, PCWSTR, DismPackageIdentifier, DismFeatureInfo** Info) {
        World.Calls += Session == 7 ? "info " : "info-other ";
        const auto known = World.States.find(Name);
        if (World.Info != S_OK || known == World.States.end()) {
            return World.Info != S_OK ? World.Info : static_cast<HRESULT>(0x800F080C);  // CBS_E_UNKNOWN_UPDATE
        }
        *Info = new DismFeatureInfo{Name, static_cast<DismPackageFeatureState>(known->second), nullptr, nullptr,
                                    DismRestartNo, nullptr, 0};
        ++World.Handed;
        return S_OK;
    },
    [](VOID* Structure) { return delete static_cast<DismFeatureInfo*>(Structure), ++World.Deleted, S_OK; },
    [](DismSession) { return World.Calls += "close ", S_OK; },
    []() { return World.Calls += "shutdown", S_OK; },
};

}  // namespace

void DismTable()
{
    using enum FeatureState;
    const std::map<std::wstring, int> client = {
        {L"Microsoft-Hyper-V-Hypervisor", DismStateInstalled}, {L"Microsoft-Hyper-V-All", DismStateInstalled},
        {L"VirtualMachinePlatform", DismStateInstallPending}, {L"HypervisorPlatform", DismStateNotPresent},
        {L"Containers-DisposableClientVM", DismStateSuperseded}, {L"Microsoft-Windows-Subsystem-Linux", DismStateUninstallPending},
        {L"Windows-Defender-ApplicationGuard", DismStateStaged}};
    const struct {
        const char* Case;
        DismWorld World;
        bool Loaded;
        unsigned long Error;
        FeatureState Expected[OptionalFeatureCount];
        const char* Calls;
    } rows[] = {
        {"dismapi.dll absent", {}, false, 126, {}, ""},
        {"not elevated", {HRESULT_FROM_WIN32(740)}, true, 740, {}, "initialize "},
        {"every state, client names", {S_OK, S_OK, S_OK, client}, true, 0,
         {Enabled, RestartPending, Disabled, Disabled, RestartPending, Disabled},
         "initialize open info info info info info info close shutdown"},
        {"Server: the role's name", {S_OK, S_OK, S_OK, {{L"Microsoft-Hyper-V", DismStateInstalled}}}, true, 0,
         {Enabled, Absent, Absent, Absent, Absent, Absent},
         "initialize open info info info info info info info close shutdown"},
        {"a feature DISM fails on", {S_OK, S_OK, E_FAIL, client}, true, 0x80004005, {},
         "initialize open info info info info info info close shutdown"},
        {"the session refused", {S_OK, E_ACCESSDENIED}, true, 5, {}, "initialize open shutdown"},
    };
    for (const auto& row : rows) {
        World = row.World;
        WindowsSide side;
        ReadFeatures(row.Loaded ? Double : DismApi{}, side);
        EXPECT(std::equal(side.Features, side.Features + OptionalFeatureCount, row.Expected), row.Case);
        EXPECT(side.FeaturesError == row.Error && World.Calls == row.Calls && World.Handed == World.Deleted, row.Case);
        // The scratch folder under %SystemRoot%\Temp, there while DISM works, gone afterwards.
        EXPECT(!row.Loaded || (World.Scratch.find(L"\\Temp\\korimath-") != std::wstring::npos && World.ScratchPrivate),
               row.Case);
        EXPECT(World.Scratch.empty() || GetFileAttributesW(World.Scratch.c_str()) == INVALID_FILE_ATTRIBUTES, row.Case);
    }
}
