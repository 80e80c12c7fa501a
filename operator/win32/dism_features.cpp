#include "operator/win32/dism_features.h"

#include "operator/decisions/messages.h"
#include "operator/win32/private_folder.h"
#include "operator/win32/system_library.h"

namespace {

// DismGetFeatureInfo's answer for a feature this image does not know
// (CBS_E_UNKNOWN_UPDATE).
constexpr HRESULT UnknownFeature = static_cast<HRESULT>(0x800F080C);

// The names DISM knows them by, the first one this Windows knows counting.
// Hyper-V: its hypervisor alone (Microsoft-Hyper-V-All reads enabled with
// only the management tools on); Server names the role Microsoft-Hyper-V.
constexpr const wchar_t* FeatureNames[OptionalFeatureCount][2] = {
    {L"Microsoft-Hyper-V-Hypervisor", L"Microsoft-Hyper-V"},
    {L"VirtualMachinePlatform", nullptr},
    {L"HypervisorPlatform", nullptr},
    {L"Containers-DisposableClientVM", nullptr},
    {L"Microsoft-Windows-Subsystem-Linux", nullptr},
    {L"Windows-Defender-ApplicationGuard", nullptr},
};

unsigned long ErrorOf(HRESULT Result)
{
    return HRESULT_FACILITY(Result) == FACILITY_WIN32 ? HRESULT_CODE(Result) : static_cast<unsigned long>(Result);
}

// Any other failure is kept, the first one, as why features were not read.
FeatureState ReadFeature(const DismApi& Dism, DismSession Session, const wchar_t* const (&Names)[2],
                         unsigned long& Error)
{
    for (const wchar_t* name : Names) {
        DismFeatureInfo* feature = nullptr;
        const HRESULT asked = name != nullptr ? Dism.GetFeatureInfo(Session, name, nullptr, DismPackageNone, &feature)
                                              : UnknownFeature;
        if (SUCCEEDED(asked) && feature != nullptr) {
            const FeatureState state = FeatureStateOf(feature->FeatureState);
            Dism.Delete(feature);
            return state;
        }
        if (asked != UnknownFeature) {
            Error = Error != 0 ? Error : ErrorOf(asked);
            return FeatureState::NotRead;
        }
    }
    return FeatureState::Absent;
}

}  // namespace

DismApi LoadDismApi(const SystemLibrary& Dll)
{
    return DismApi{KORIMATH_FIND(Dll, DismInitialize),  KORIMATH_FIND(Dll, DismOpenSession),
                   KORIMATH_FIND(Dll, DismGetFeatureInfo), KORIMATH_FIND(Dll, DismDelete),
                   KORIMATH_FIND(Dll, DismCloseSession), KORIMATH_FIND(Dll, DismShutdown)};
}

// DismInitialize answers ERROR_ELEVATION_REQUIRED unelevated; every
// structure DISM hands out goes back through DismDelete.
void ReadFeatures(const DismApi& Dism, WindowsSide& Side)
{
    if (Dism.Initialize == nullptr || Dism.OpenSession == nullptr || Dism.GetFeatureInfo == nullptr ||
        Dism.Delete == nullptr || Dism.CloseSession == nullptr || Dism.Shutdown == nullptr) {
        Side.FeaturesError = ErrorModNotFound;  // no DISM API here: the features are not available
        return;
    }
    const PrivateFolder scratch;
    if (scratch.Path() == nullptr) {
        Side.FeaturesError = scratch.Error();
        return;
    }
    HRESULT result = Dism.Initialize(DismLogErrors, nullptr, scratch.Path());
    if (FAILED(result)) {
        Side.FeaturesError = ErrorOf(result);
        return;
    }
    DismSession session = DISM_SESSION_DEFAULT;
    result = Dism.OpenSession(DISM_ONLINE_IMAGE, nullptr, nullptr, &session);
    if (SUCCEEDED(result)) {
        for (unsigned i = 0; i < OptionalFeatureCount; ++i) {
            Side.Features[i] = ReadFeature(Dism, session, FeatureNames[i], Side.FeaturesError);
        }
        Dism.CloseSession(session);
    } else {
        Side.FeaturesError = ErrorOf(result);
    }
    Dism.Shutdown();
}
