// What install and run must do, given the korimath service they find and the
// copy of the driver in System32\drivers: a pure decision the host tests
// drive row by row, carried out by operator/actions.cpp.
#pragma once

#include <string_view>

#include "operator/decisions/image_path.h"
#include "operator/decisions/text.h"

enum class Found {
    NoService,
    SystemCopy,   // the service loads %SystemRoot%\System32\drivers\korimath.sys
    DriverStore,  // the service loads the driver store's copy (INF install)
    Elsewhere,    // a korimath.sys a non-administrator may control: never start it, repoint it
    RunLeftover,  // a service an earlier run created and could not delete: clean it up, do not adopt it
    Conflict,     // not a kernel driver, or an image other than korimath.sys: someone else's, left alone
};

// Install keeps kernel service "korimath". Run, where there is none, creates
// one under a name no one can predict (RunServicePrefix and 16 random hex
// digits), so that no one can open it before its DACL is set and hold it;
// CreateServiceW itself gives it a display name that starts with
// RunDisplayName and ends with that name (display names are unique too),
// which marks it as run's. Earlier versions marked run's "korimath" with
// RunDescription.
constexpr const wchar_t* ServiceName = L"korimath";
constexpr std::wstring_view RunServicePrefix = L"korimath-run-";
constexpr std::wstring_view InstallDescription = L"Korimath virtualization probe";
constexpr std::wstring_view RunDescription =
    L"Korimath virtualization probe, temporary: korimath run removes it when it ends";
constexpr std::wstring_view InstallDisplayName = InstallDescription;
constexpr std::wstring_view RunDisplayName = RunDescription;

struct ServiceFound {
    bool KernelDriver = false;  // SERVICE_KERNEL_DRIVER
    std::wstring_view ImagePath;
    std::wstring_view Description;
    std::wstring_view DisplayName;
};
Found ClassifyService(const ServiceFound& Service, std::wstring_view SystemRoot);

// A service an earlier run created under its own name and could not delete
// (a crash, or a program held it open): korimath's to clean up.
bool IsRunLeftover(std::wstring_view Name, const ServiceFound& Service);

// "<RunDisplayName> (<Name>)".
FixedText<160> RunServiceDisplayName(std::wstring_view Name);

enum class SystemCopyState { Missing, SameAsCarried, Different };

struct DriverPlan {
    bool WriteSystemCopy = false;   // write the driver this program carries to System32\drivers
    bool CreateService = false;     // demand-start, SYSTEM and Administrators only
    bool RepointService = false;    // point the service at the System32 copy, clear its group and
                                    // dependencies, reset its security
    bool RemoveAfterRun = false;    // run set up the service itself: it goes, with the file
    bool RestoreAfterRun = false;   // run repointed someone's service: it is put back as it was
    bool Conflict = false;          // a service named korimath that is not ours: exit 5, untouched
};

// Install keeps what it sets up and brings the System32 copy up to this
// program's driver. Run uses a service found at the System32 copy or in the
// driver store (the copy rewritten when it differs from the carried driver),
// removes what it created and restores what it repointed.
DriverPlan PlanInstall(Found Service, SystemCopyState Copy);
DriverPlan PlanRun(Found Service, SystemCopyState Copy);
