// Administrator rights: whether this process has them, and the double-click
// path that asks Windows for them.
#pragma once

#include "operator/win32/output.h"

bool IsElevated();

// Starts this program again elevated ("runas"), in its own window, with
// "run" and the private marker that lets that window wait for a key.
// ExitDone once started, else ExitNotElevated (declined, or failed).
int RelaunchElevated(Output& To);
