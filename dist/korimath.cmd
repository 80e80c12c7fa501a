@echo off
rem korimath.cmd - install, run, report on and remove the Korimath driver.
rem
rem   korimath install   register korimath.sys (beside this script) as a
rem                      demand-start kernel service named korimath
rem   korimath run       install if needed, start, print the report, stop
rem   korimath report    print the values under HKLM\Software\Korimath and
rem                      a verdict derived from them
rem   korimath remove    stop and delete the service (the report stays)
rem
rem Needs an elevated prompt. Uses sc.exe and reg.exe only. Exit codes:
rem   0 done, 2 usage, 3 not elevated, 4 image missing, 5 service exists with
rem   another path, 6 create failed, 7 start refused, 8 no report, 9 stop
rem   failed, 10 delete failed.
setlocal EnableExtensions EnableDelayedExpansion
set "SERVICE=korimath"
set "KEY=HKLM\Software\Korimath"
set "IMAGE=%~dp0korimath.sys"

set "ACTION=%~1"
if /i "%ACTION%"=="install" goto :dispatch
if /i "%ACTION%"=="run" goto :dispatch
if /i "%ACTION%"=="report" goto :dispatch
if /i "%ACTION%"=="remove" goto :dispatch
echo usage: korimath install ^| run ^| report ^| remove
exit /b 2

:dispatch
rem Only an elevated token can read the LocalService profile hive.
reg query "HKU\S-1-5-19" >nul 2>&1
if errorlevel 1 (
    echo korimath: not elevated: run this from a command prompt opened with "Run as administrator".
    exit /b 3
)
call :%ACTION%
exit /b %errorlevel%

:install
if not exist "%IMAGE%" (
    echo korimath: image missing: %IMAGE% not found; keep korimath.sys beside this script.
    exit /b 4
)
call :installed_path
if defined INSTALLED (
    if /i "!INSTALLED!"=="%IMAGE%" (
        echo korimath: already installed from %IMAGE%
        exit /b 0
    )
    echo korimath: service %SERVICE% exists with another path: !INSTALLED!
    echo korimath: run "korimath remove" first if that copy is no longer wanted.
    exit /b 5
)
sc create %SERVICE% type= kernel start= demand binPath= "%IMAGE%" >nul
if errorlevel 1 (
    echo korimath: could not create service %SERVICE% ^(sc create failed^).
    exit /b 6
)
echo korimath: installed %IMAGE% as kernel service %SERVICE%
exit /b 0

:run
call :install
if errorlevel 1 exit /b %errorlevel%
call :service_state
if /i "!STATE!"=="RUNNING" (
    echo korimath: already running; stopping it to load it afresh.
    call :stop
    if errorlevel 1 exit /b 9
)
sc start %SERVICE% >nul
if errorlevel 1 (
    echo korimath: start refused: sc start %SERVICE% failed. The image may be unsigned, blocked by
    echo korimath: driver signature enforcement, or not built for this system.
    exit /b 7
)
call :service_state
echo korimath: started, state !STATE!
call :report
set "REPORTED=%errorlevel%"
call :stop
if errorlevel 1 exit /b 9
exit /b %REPORTED%

:stop
sc stop %SERVICE% >nul
if errorlevel 1 (
    echo korimath: could not stop %SERVICE%.
    exit /b 9
)
echo korimath: stopped
exit /b 0

:remove
call :installed_path
if not defined INSTALLED (
    echo korimath: service %SERVICE% is not installed; nothing to remove.
    exit /b 0
)
call :service_state
if /i "!STATE!"=="RUNNING" call :stop
sc delete %SERVICE% >nul
if errorlevel 1 (
    echo korimath: could not delete service %SERVICE%.
    exit /b 10
)
echo korimath: removed service %SERVICE%; the report under %KEY% stays.
exit /b 0

:report
reg query "%KEY%" >nul 2>&1
if errorlevel 1 (
    echo korimath: no report under %KEY%: run "korimath run" first.
    exit /b 8
)
for %%n in (CPU_Vendor CPU_Name CPU_VT BIOSLock VMInSMX VMOutSideSMX CR0_NE CR0_PE CR0_PG CR4_VMXE SVM SVM_NP VM_CR) do set "V_%%n="
for /f "tokens=1,2,*" %%a in ('reg query "%KEY%"') do call :take_value "%%a" "%%b" "%%c"
echo Report under %KEY%:
for %%n in (CPU_Vendor CPU_Name CPU_VT BIOSLock VMInSMX VMOutSideSMX CR0_NE CR0_PE CR0_PG CR4_VMXE SVM SVM_NP VM_CR) do call :show_value %%n
echo Verdict:
if "!V_CPU_Vendor!"=="GenuineIntel" goto :verdict_intel
if "!V_CPU_Vendor!"=="AuthenticAMD" goto :verdict_amd
echo   Vendor "!V_CPU_Vendor!": the driver reports no virtualization flags for it. [CPU_Vendor]
exit /b 0

:verdict_intel
if "!V_CPU_VT!"=="0" (
    echo   VMX unavailable: the processor lacks VMX, or a hypervisor hides it. [CPU_VT=0]
) else if not "!V_CPU_VT!"=="1" (
    echo   Incomplete report: CPU_VT is missing; run the driver again. [CPU_VT]
) else if "!V_BIOSLock!"=="1" (
    if "!V_VMOutSideSMX!"=="1" (
        echo   VMX enabled by firmware. [CPU_VT=1, BIOSLock=1, VMOutSideSMX=1]
    ) else (
        echo   VMX disabled in firmware setup: enable Intel VT-x there. [CPU_VT=1, BIOSLock=1, VMOutSideSMX=!V_VMOutSideSMX!]
    )
) else (
    echo   Firmware left VMX to the operating system: IA32_FEATURE_CONTROL is unlocked or unreadable. [CPU_VT=1, BIOSLock=!V_BIOSLock!]
)
if "!V_CR4_VMXE!"=="1" echo   A hypervisor already runs on this machine ^(VMX is on^). [CR4_VMXE=1]
exit /b 0

:verdict_amd
if "!V_SVM!"=="0" (
    echo   SVM unavailable: the processor lacks SVM, or a hypervisor hides it. [SVM=0]
) else if not "!V_SVM!"=="1" (
    echo   Incomplete report: SVM is missing; run the driver again. [SVM]
) else if "!V_VM_CR!"=="1" (
    echo   SVM enabled by firmware. [SVM=1, VM_CR=1]
) else (
    echo   SVM disabled in firmware setup, or VM_CR unreadable: enable SVM ^(AMD-V^) there. [SVM=1, VM_CR=!V_VM_CR!]
)
if "!V_SVM_NP!"=="1" (
    echo   Nested paging supported. [SVM_NP=1]
) else (
    echo   No nested paging: hypervisors that need it will not run. [SVM_NP=!V_SVM_NP!]
)
exit /b 0

:take_value
rem One line of reg query: name, type, data. Flags become 0, 1 or ? (not 0/1).
if /i "%~2"=="REG_SZ" set "V_%~1=%~3"
if /i "%~2"=="REG_DWORD" set "V_%~1=?"
if /i "%~2"=="REG_DWORD" if "%~3"=="0x0" set "V_%~1=0"
if /i "%~2"=="REG_DWORD" if "%~3"=="0x1" set "V_%~1=1"
exit /b 0

:show_value
if defined V_%1 echo   %1 = !V_%1!
exit /b 0

:installed_path
rem The registered image path, without the \??\ prefix Windows may add.
set "INSTALLED="
for /f "tokens=1,2,*" %%a in ('reg query "HKLM\System\CurrentControlSet\Services\%SERVICE%" /v ImagePath 2^>nul') do (
    if /i "%%a"=="ImagePath" set "INSTALLED=%%c"
)
if defined INSTALLED if "!INSTALLED:~0,4!"=="\??\" set "INSTALLED=!INSTALLED:~4!"
exit /b 0

:service_state
set "STATE="
for /f "tokens=1,2,3,4" %%a in ('sc query %SERVICE% 2^>nul') do (
    if /i "%%a"=="STATE" set "STATE=%%d"
)
exit /b 0
