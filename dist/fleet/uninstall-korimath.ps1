# Removes what install-korimath.ps1 installed; a korimath driver service, if "korimath install" left one,
# goes first ("korimath remove"), so nothing stays behind. Run it as SYSTEM or elevated. A korimath.exe that
# a standard user could have replaced is not run: nothing is removed, and the script says why.
$folder = Join-Path $env:ProgramW6432 'Korimath'
$Korimath = Join-Path $folder 'korimath.exe'

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

if (Test-Path -LiteralPath $Korimath) {
    $problem = Test-Korimath $Korimath
    if ($problem) {
        "korimath: not removed: $problem"
        exit 1
    }
    & $Korimath remove | Out-Null
}
Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue
if (Test-Path -LiteralPath $folder) {
    "korimath: $folder is still there"
    exit 1
}
'korimath: removed'
