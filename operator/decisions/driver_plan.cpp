#include "operator/decisions/driver_plan.h"

Found FoundFrom(InstalledImage Image)
{
    switch (Image) {
    case InstalledImage::SystemCopy:
        return Found::SystemCopy;
    case InstalledImage::DriverStore:
        return Found::DriverStore;
    case InstalledImage::Elsewhere:
        break;
    }
    return Found::Elsewhere;
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
        plan.WriteSystemCopy = true;
        plan.RepointService = true;
        break;
    }
    return plan;
}

DriverPlan PlanRun(Found Service, SystemCopyState Copy)
{
    DriverPlan plan = PlanInstall(Service, Copy);
    if (Service == Found::SystemCopy) {
        plan.WriteSystemCopy = Copy == SystemCopyState::Missing;
    }
    plan.RemoveAfterRun = plan.CreateService || plan.RepointService;
    return plan;
}
