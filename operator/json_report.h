// The machine-readable form of "korimath report --json": one JSON object
// whose field names stay stable for installers and fleet tools.
#pragma once

#include "operator/hypervisor.h"
#include "operator/report.h"
#include "operator/verdict.h"

using JsonText = FixedText<4096>;

JsonText FormatJsonReport(const Report& Values, const HypervisorFacts& Hypervisor, const Verdict& Result);
