// What decides every program's row before Windows' side counts: the
// processor, its firmware, a virtual machine's host, and DEP. Shared by the
// rows of what runs here and by check's one line.
#pragma once

#include <string_view>

#include "operator/decisions/what_runs.h"

void SetRow(ProgramRow& Row, Readiness State, const wchar_t* Blocker, std::string_view Step);
bool IntelProcessor(const MachineFacts& Facts);

// The hardware itself, whatever the program: false when it decided the row.
bool HardwareAllows(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result);

// DEP, which Windows reports (PF_NX_ENABLED): off in firmware when CPUID
// hides NX too (IA32_MISC_ENABLE's XD disable), else by Windows' own switch.
// False when it decided the row.
bool DepAllows(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result);
