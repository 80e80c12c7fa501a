# Intune custom compliance: discovery script. Runs "korimath check", which
# needs no elevation and never loads the driver, and prints its one-line JSON
# object compressed, as Intune expects. Assign it with "Run this script using
# the logged on credentials" off and "Run script in 64 bit PowerShell Host" on.
# $Korimath is where the installer or the release bundle put korimath.exe.
$Korimath = Join-Path $env:ProgramFiles 'Korimath\korimath.exe'
& $Korimath check --json | ConvertFrom-Json | ConvertTo-Json -Compress
