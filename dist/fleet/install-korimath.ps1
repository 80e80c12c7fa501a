# Installs korimath.exe where every recipe looks for it, %ProgramW6432%\Korimath\korimath.exe, for an
# Intune Win32 app, a Configuration Manager application or Ansible; run it as SYSTEM or elevated, from the
# folder that holds the release's korimath.exe. The file is copied, never moved (a moved file keeps its
# old permissions, a user's write access among them), and folder and file take only what Program Files
# passes down: no write access for standard users. Exit 0 installed, 1 not.
$ErrorActionPreference = 'Stop'
$folder = Join-Path $env:ProgramW6432 'Korimath'
$target = Join-Path $folder 'korimath.exe'
try {
    $null = New-Item -ItemType Directory -Path $folder -Force
    icacls $folder /reset /T /Q | Out-Null  # inherited permissions only, also where a folder was moved here
    Copy-Item -LiteralPath (Join-Path $PSScriptRoot 'korimath.exe') -Destination $target -Force
    icacls $target /reset /Q | Out-Null
    $status = (Get-AuthenticodeSignature -LiteralPath $target).Status
    if ($status -ne 'Valid') { throw "the signature of korimath.exe is $status" }
    "korimath: installed $target"
} catch {
    "korimath: not installed: $($_.Exception.Message)"
    exit 1
}
