// What the System32 copy's own handle says of it: its attributes, links,
// owner and DACL, weighed by CheckCopy before korimath lets the kernel load it.
#pragma once

#include <windows.h>

#include <string_view>

#include "operator/decisions/safeguards.h"

// CopyProblem::None, or what makes the file untrustworthy; OthersMayWrite
// when its descriptor cannot be read. Path names it, for the probe of
// whether this system keeps owners at all (Wine keeps none).
CopyProblem InspectCopy(HANDLE File, std::wstring_view Path);
