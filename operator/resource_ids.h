// Resource ids shared by korimath_exe.rc and the program's code.
#pragma once

// RCDATA: korimath.sys itself, the driver this program installs and loads.
#define KORIMATH_CARRIED_DRIVER 101
