# Removes what install-korimath.ps1 installed; a korimath driver service, if "korimath install" left one,
# goes first ("korimath remove"), so nothing stays behind. Run it as SYSTEM or elevated.
$folder = Join-Path $env:ProgramW6432 'Korimath'
$program = Join-Path $folder 'korimath.exe'
if (Test-Path -LiteralPath $program) { & $program remove | Out-Null }
Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue
if (Test-Path -LiteralPath $folder) {
    "korimath: $folder is still there"
    exit 1
}
'korimath: removed'
