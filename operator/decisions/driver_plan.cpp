#include "operator/decisions/driver_plan.h"

Found ClassifyService(const ServiceFound& Service, std::wstring_view SystemRoot)
{
    if (!Service.KernelDriver || !NamesKorimathSys(Service.ImagePath)) {
        return Found::Conflict;
    }
    if (Service.Description == RunDescription || StartsWith(Service.DisplayName, RunDisplayName)) {
        return Found::RunLeftover;
    }
    switch (ClassifyImagePath(Service.ImagePath, SystemRoot)) {
    case InstalledImage::SystemCopy:
        return Found::SystemCopy;
    case InstalledImage::DriverStore:
        return Found::DriverStore;
    case InstalledImage::Elsewhere:
        break;
    }
    return Found::Elsewhere;
}

bool IsRunLeftover(std::wstring_view Name, const ServiceFound& Service)
{
    return StartsWith(Name, RunServicePrefix) && Name.size() == RunServicePrefix.size() + 16 &&
           Service.KernelDriver && NamesKorimathSys(Service.ImagePath) &&
           Service.DisplayName == RunServiceDisplayName(Name).View();
}

FixedText<160> RunServiceDisplayName(std::wstring_view Name)
{
    FixedText<160> display;
    display.Append(RunDisplayName);
    display.Append(L" (");
    display.Append(Name);
    display.Append(L")");
    return display;
}

DriverPlan PlanInstall(Found Service, SystemCopyState Copy)
{
    DriverPlan plan;
    switch (Service) {
    case Found::NoService:
        plan.WriteSystemCopy = true;
        plan.CreateService = true;
        break;
    case Found::SystemCopy:
        plan.WriteSystemCopy = Copy != SystemCopyState::SameAsCarried;
        break;
    case Found::DriverStore:
        break;
    case Found::Elsewhere:
    case Found::RunLeftover:
        plan.WriteSystemCopy = true;
        plan.RepointService = true;
        break;
    case Found::Conflict:
        plan.Conflict = true;
        break;
    }
    return plan;
}

DriverPlan PlanRun(Found Service, SystemCopyState Copy)
{
    DriverPlan plan = PlanInstall(Service, Copy);
    plan.RemoveAfterRun = plan.CreateService || Service == Found::RunLeftover;
    plan.RestoreAfterRun = Service == Found::Elsewhere;
    return plan;
}
