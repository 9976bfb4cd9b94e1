# Runs the module's Pester tests (Wrenfold.Tests.ps1 beside this file) and
# prints their count; exits 1 when one fails or none ran.
#
#   pwsh -NoProfile -File run.ps1 -Pester PESTER.psd1 -Exe wrenfold.exe -Helpers HELPERS -Work DIR
#
# PESTER.psd1 is the Pester module that scripts/install-deps.sh restores from
# NuGet; HELPERS the Wine helpers of the native build; DIR a folder for the
# Wine prefixes and the tests' files.
param(
    [Parameter(Mandatory = $true)][string]$Pester,
    [Parameter(Mandatory = $true)][string]$Exe,
    [Parameter(Mandatory = $true)][string]$Helpers,
    [Parameter(Mandatory = $true)][string]$Work
)
$ErrorActionPreference = 'Stop'
Import-Module (Resolve-Path $Pester).ProviderPath -Force
$env:WRENFOLD_PS_EXE = (Resolve-Path $Exe).ProviderPath
$env:WRENFOLD_PS_HELPERS = (Resolve-Path $Helpers).ProviderPath
$null = New-Item -ItemType Directory -Path $Work -Force
$env:WRENFOLD_PS_WORK = (Resolve-Path $Work).ProviderPath

$configuration = New-PesterConfiguration
$configuration.Run.Path = Join-Path $PSScriptRoot 'Wrenfold.Tests.ps1'
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $configuration
"The module's tests took $([int]$result.Duration.TotalSeconds) s."
"Pester: $($result.PassedCount) passed, $($result.FailedCount) failed, $($result.SkippedCount) skipped"
if ($result.FailedCount -ne 0 -or $result.PassedCount -eq 0 -or $result.Result -ne 'Passed') { exit 1 }
