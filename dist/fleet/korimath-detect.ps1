# Intune Remediations: detection script. Runs "korimath check" and prints its one line (Remediations keeps
# the last 2,048 characters); exits 1 (an issue: korimath-remediate.ps1 runs) when hardware virtualization
# is not available or, with $Program set, when that program is not ready. $Program: wsl2, hyper_v,
# sandbox, whp_programs, own_hypervisor_programs, or '' for the hardware alone.
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
    "korimath detection: $problem"
    exit 2
}
[Console]::OutputEncoding = New-Object Text.UTF8Encoding $false
$line = (& $Korimath check) -join ' '
$code = $LASTEXITCODE
if ($code -eq 0 -and $Program) {
    $answer = (& $Korimath check --json) | ConvertFrom-Json
    if (-not $answer."ready_$Program") {
        $line = "$($answer.verdict): $Program not ready ($($answer."blocker_$Program"))"
        $code = 1
    }
}
$line
exit $code
