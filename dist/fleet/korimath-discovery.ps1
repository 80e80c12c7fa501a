# Intune custom compliance: discovery script. Runs "korimath check --json" and passes its one line of JSON
# through as korimath wrote it (UTF-8, untouched), as Intune requires of a discovery script. Any failure is
# one line on standard error and exit 1. Upload it with "Run this script using the logged on credentials"
# off (system context) and "Run script in 64 bit PowerShell Host" on.
$ErrorActionPreference = 'Stop'
# 64-bit Program Files from a 32-bit host too, where $env:ProgramFiles is "Program Files (x86)".
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

function Stop-Discovery([string]$Why) {
    [Console]::Error.WriteLine("korimath discovery: $Why")
    exit 1
}

$problem = Test-Korimath $Korimath
if ($problem) { Stop-Discovery $problem }
[Console]::OutputEncoding = New-Object Text.UTF8Encoding $false
$lines = @(& $Korimath check --json)
if ($LASTEXITCODE -gt 1 -or $lines.Count -ne 1) { Stop-Discovery "korimath check exited $LASTEXITCODE" }
try { $null = $lines[0] | ConvertFrom-Json } catch { Stop-Discovery "korimath's output is not JSON: $($lines[0])" }
$lines[0]
exit 0
