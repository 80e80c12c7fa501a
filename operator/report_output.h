// The driver's report as this program reads it back from the registry's
// 64-bit view, and as it prints it: values, hypervisor and verdict, or one
// JSON object.
#pragma once

#include "operator/output.h"
#include "operator/report.h"

Report ReadReport();

// Windows creates the key on the driver's first write; creating it first is
// harmless there and lets the report land on systems that do not.
void EnsureReportKey();

// Prints the report and its verdict; ExitDone, or ExitNoReport when there is
// no report.
int PrintReport(const Output& To);
