// Runs every reader's table under Wine; prints each failure and a summary.
#include <initializer_list>

#include "tests/win32/expect.h"

int main()
{
    for (void (*table)() : {DismTable, EventLogTable, FirmwareTable, SettingsTable, ServiceTable, WmiTable}) {
        table();
    }
    std::printf("%s: %d failed\n", Failures == 0 ? "ok" : "FAIL", Failures);
    return Failures == 0 ? 0 : 1;
}
