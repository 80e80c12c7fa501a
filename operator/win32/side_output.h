// The text report's lines about Windows' side and its "What runs here" block.
#pragma once

#include "operator/decisions/what_runs.h"

// One "  name  value" line of the text report.
void PrintLine(std::wstring_view Name, std::initializer_list<std::wstring_view> Parts);

void PrintWindowsSide(const MachineFacts& Facts);
void PrintWhatRuns(const MachineFacts& Facts, const WhatRuns& Runs);
