// The driver's report as this program reads it back from the registry's
// 64-bit view, joined with what Windows and CPUID say now, and printed: as
// text, or as the one JSON object of a --json run.
#pragma once

#include "operator/win32/output.h"
#include "operator/decisions/verdict.h"

// Windows creates the key on the driver's first write; creating it first is
// harmless there and lets the report land on systems that do not.
void EnsureReportKey();

// Everything the verdict rests on, read now; with WindowsSide also the
// edition, features (DISM, seconds when elevated), platform, VBS and launch
// events, which only "What runs here" and the JSON use.
MachineFacts GatherFacts(const DriverLoad& Driver, bool WindowsSide);

// Without --json: prints the report, what Windows says and the verdict. With
// --json it prints nothing (the caller ends with PrintJson). ExitDone, or
// ExitNoReport when there is no report.
int PrintReport(const Output& To);

// korimath check: one line (or, with --json, the object); ExitDone when
// hardware virtualization is available to this Windows, else ExitNotReady.
int Check(Output& To);

// The JSON object for the whole run, on standard output.
void PrintJson(const Output& To, int ExitCode);
