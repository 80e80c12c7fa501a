# Intune Remediations: remediation script, run where korimath-detect.ps1 found an issue. Fixes only what
# can be fixed remotely and safely for $Program (as in korimath-detect.ps1): turns on Virtual Machine
# Platform or the WSL feature without a restart, or sets hypervisorlaunchtype back to auto. Firmware and
# everything else needs someone at the machine. It never turns a protection off.
$ErrorActionPreference = 'Stop'
$Program = 'wsl2'
$Korimath = Join-Path $env:ProgramW6432 'Korimath\korimath.exe'

# Run only a korimath.exe no standard user can replace (Intune and ConfigMgr run each script alone, so each
# carries this check): folder and file owned by, and writable by, SYSTEM, Administrators and TrustedInstaller
# alone, and a valid Authenticode signature.
function Test-Korimath([string]$Path) {
    $trusted = 'S-1-5-18', 'S-1-5-32-544', 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'
    if (-not (Test-Path -LiteralPath $Path -PathType Leaf)) { return "korimath.exe is not at $Path" }
    foreach ($item in (Split-Path $Path), $Path) {
        $acl = Get-Acl -LiteralPath $item
        $writers = $acl.GetAccessRules($true, $true, [Security.Principal.SecurityIdentifier]) | Where-Object {
            $_.AccessControlType -eq 'Allow' -and ($_.PropagationFlags -band 2) -eq 0 -and
            ([long]$_.FileSystemRights -band 0x500D0116) -and $_.IdentityReference.Value -notin $trusted }
        if ($acl.GetOwner([Security.Principal.SecurityIdentifier]).Value -notin $trusted -or $writers) {
            return "$item may be changed by someone other than an administrator"
        }
    }
    $status = (Get-AuthenticodeSignature -LiteralPath $Path).Status
    if ($status -ne 'Valid') { return "the signature of $Path is $status" }
}

$problem = Test-Korimath $Korimath
if ($problem) {
    "korimath remediation: $problem"
    exit 1
}
[Console]::OutputEncoding = New-Object Text.UTF8Encoding $false
$answer = (& $Korimath check --json) | ConvertFrom-Json
$blocker = if ($Program) { $answer."blocker_$Program" } else { $answer.blocker }
switch ($blocker) {
    'none' { 'korimath: ready; nothing to do'; exit 0 }
    'feature-disabled' {
        # Microsoft Learn, "Install WSL" (manual steps): both features, then a restart, which is the user's to choose.
        foreach ($feature in 'VirtualMachinePlatform', 'Microsoft-Windows-Subsystem-Linux') {
            if ((Get-WindowsOptionalFeature -Online -FeatureName $feature).State -ne 'Enabled') {
                $null = Enable-WindowsOptionalFeature -Online -FeatureName $feature -NoRestart
            }
        }
        'korimath: turned on Virtual Machine Platform and WSL; they start at the next restart'
        exit 0
    }
    'hypervisor-launch-disabled' {
        bcdedit /set '{current}' hypervisorlaunchtype auto
        if ($LASTEXITCODE -ne 0) { 'korimath: bcdedit refused to set hypervisorlaunchtype auto'; exit 1 }
        'korimath: hypervisorlaunchtype is auto again; the hypervisor starts at the next restart'
        exit 0
    }
    'restart-pending' { 'korimath: a feature waits for a restart, which is the user''s to choose'; exit 0 }
    default {
        "korimath: needs someone at the machine ($blocker): $((& $Korimath check) -join ' ')"
        exit 1
    }
}
