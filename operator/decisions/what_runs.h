// What runs here: for each kind of program that needs hardware
// virtualization, ready, what it needs, or not possible here, with the one
// next step and what it costs. Decided from the verdict and Windows' side.
#pragma once

#include "operator/decisions/verdict.h"
#include "operator/decisions/windows_side.h"

enum class Program { HyperV, Wsl2, Sandbox, WhpPrograms, OwnHypervisorPrograms, Count };
constexpr unsigned ProgramCount = static_cast<unsigned>(Program::Count);

enum class Readiness { Unknown, Ready, Needs, NotPossible };

struct ProgramRow {
    Readiness State = Readiness::Unknown;
    const wchar_t* Blocker = nullptr;  // a stable id; nullptr only when ready
    FixedText<2048> Step;              // the one next step and what it costs
};

struct WhatRuns {
    ProgramRow Rows[ProgramCount];
    FixedText<256> HostNote;  // in a virtual machine: every row depends on its host
};

WhatRuns DecideWhatRuns(const MachineFacts& Facts, const Verdict& Result);

// Whether hardware virtualization is available to this Windows (enabled on
// bare metal, passed through to a guest, or in use by Windows' own
// hypervisor): nullptr when it is, else the one stable id of what stops it:
// "firmware-disabled", "firmware-unlocked", "processor-unsupported",
// "hidden-after-boot", "host-does-not-pass-through",
// "host-offers-no-nesting" or "not-x64".
const wchar_t* Blocker(const MachineFacts& Facts, const Verdict& Result);

// korimath check's exit code: ExitDone when Blocker finds nothing (the JSON's
// "ready": true), else ExitNotReady.
int CheckExitCode(const MachineFacts& Facts, const Verdict& Result);

// korimath check's one short line: "<verdict id>: ready", or
// "<verdict id>: not ready (<blocker>): <what to do>".
FixedText<2048> CheckLine(const MachineFacts& Facts, const Verdict& Result);

// "Hyper-V", "WSL 2", ...; the last row names Intel HAXM only on Intel processors.
std::string_view ProgramName(Program Which, const MachineFacts& Facts);
const wchar_t* ProgramKey(Program Which);  // "hyper_v", "wsl2", ... for the JSON fields
