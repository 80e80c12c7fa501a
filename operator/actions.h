// install, run and remove: the korimath service and its System32 copy of the
// driver, through the service control manager. Each returns its exit code.
#pragma once

#include "operator/win32/output.h"

int Install(Output& To);
int RunDriver(Output& To);
int Remove(Output& To);
