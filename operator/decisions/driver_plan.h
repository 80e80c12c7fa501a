// What install and run must do, given the korimath service they find and the
// copy of the driver in System32\drivers: a pure decision the host tests
// drive row by row, carried out by operator/actions.cpp.
#pragma once

#include "operator/decisions/image_path.h"

enum class Found {
    NoService,
    SystemCopy,   // the service loads %SystemRoot%\System32\drivers\korimath.sys
    DriverStore,  // the service loads the driver store's copy (INF install)
    Elsewhere,    // the service loads a file a non-administrator may control: never start it
};

Found FoundFrom(InstalledImage Image);

enum class SystemCopyState { Missing, SameAsCarried, Different };

struct DriverPlan {
    bool WriteSystemCopy = false;  // write the driver this program carries to System32\drivers
    bool CreateService = false;
    bool RepointService = false;   // point the service at the System32 copy: it loaded another file
    bool RemoveAfterRun = false;   // run set up service and file itself: both go once it has read the report
};

// Install keeps what it sets up and brings the System32 copy up to this
// program's driver. Run uses a service found at the System32 copy or in the
// driver store as it is (writing the System32 copy only when it is gone),
// and removes again what it had to create or replace.
DriverPlan PlanInstall(Found Service, SystemCopyState Copy);
DriverPlan PlanRun(Found Service, SystemCopyState Copy);
