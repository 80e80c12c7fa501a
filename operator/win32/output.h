// What the program says: progress and failures, each failure with its Win32
// error number and one sentence on what to do. The first failure is also
// kept, for the JSON object every --json outcome ends with.
#pragma once

#include <initializer_list>
#include <string_view>

#include "operator/decisions/json_report.h"

struct Output {
    bool Json = false;  // standard output then carries the JSON object alone; the rest goes to standard error
    Outcome Ended;      // the first failure said (ExitCode is set at the end)
    DriverLoad Driver;  // whether run loaded the driver
    bool JsonPrinted = false;  // the action printed its JSON object itself
};

void Say(const Output& To, std::initializer_list<std::wstring_view> Parts);

// "korimath: What: error N: what it means and what to do."
void SayError(Output& To, std::wstring_view What, unsigned long Error);

// SayError, then the exit code (ExitForFailure): Otherwise, or 3 for access
// denied where the process is not elevated.
int Fail(Output& To, std::wstring_view What, unsigned long Error, int Otherwise);

// "korimath: Text\n" for a failure without a Win32 error; returns Code.
int Refuse(Output& To, std::wstring_view Text, int Code);
int Refuse(Output& To, std::initializer_list<std::wstring_view> Parts, int Code);
