# Computers for the module's tests and benchmark: each a remoting session (or
# this process) whose wrenfold.exe runs under Wine on a prefix staged from a
# scenario, through wine_computer.py beside this file.

function Set-WrenfoldWineLauncher {
    # Makes the loaded module Wrenfold start its copied exe through
    # wine_computer.py (the module's $script:Launcher; see docs/DEVELOPING.md).
    param([Parameter(Mandatory = $true)]$Module, [Parameter(Mandatory = $true)][string]$Helpers,
        [Parameter(Mandatory = $true)][string]$Work)
    # The interpreter itself, not a shim that a session's PATH may lack.
    $python = (& python3 -c 'import sys; print(sys.executable)')
    $launcher = @($python, (Join-Path $PSScriptRoot 'wine_computer.py'), $Helpers, $Work)
    & $Module { param($command) $script:Launcher = $command } $launcher
}

function New-WineComputer {
    # A computer: a copy of SCENARIO in a folder of its own under FOLDER (its
    # Wine prefix is staged from it at each run, under WORK/runs) and, for a
    # session, that session's environment naming it, with a temporary folder
    # of its own, where the module puts its copy of the exe. Without a
    # session the caller sets WRENFOLD_PS_COMPUTER to Scenario.
    param([Parameter(Mandatory = $true)][string]$Scenario, [Parameter(Mandatory = $true)][string]$Folder,
        [Parameter(Mandatory = $true)][string]$Work, $Session)
    $name = "$(Split-Path -Leaf $Folder)-$([guid]::NewGuid().ToString('N').Substring(0, 8))"
    $place = Join-Path $Folder $name
    $temp = Join-Path $place 'temp'
    $null = New-Item -ItemType Directory -Path $temp
    $copy = Join-Path $place (Split-Path -Leaf $Scenario)
    Copy-Item -LiteralPath $Scenario -Destination $copy
    if ($Session) {
        Invoke-Command -Session $Session { $env:WRENFOLD_PS_COMPUTER = $using:copy; $env:TMPDIR = $using:temp }
    }
    [pscustomobject]@{
        Scenario = $copy
        Temp     = $temp
        # Each run's start and end, as wine_computer.py writes them.
        Runs     = [IO.Path]::ChangeExtension($copy, '.runs')
        # The Wine runner's folder of the last run: its prefix and stdout.bin.
        Prefix   = Join-Path $Work "runs/wine.$name.$([IO.Path]::GetFileNameWithoutExtension($copy))"
    }
}

function Remove-WineComputers {
    # The folders of the computers made under FOLDER, and their Wine runs.
    param([string]$Folder, [string]$Work)
    if (-not $Folder) { return }
    Get-ChildItem -LiteralPath (Join-Path $Work 'runs') -Filter "wine.$(Split-Path -Leaf $Folder)-*" -ErrorAction SilentlyContinue |
        Remove-Item -Recurse -Force -ErrorAction SilentlyContinue
    Remove-Item -LiteralPath $Folder -Recurse -Force -ErrorAction SilentlyContinue
}
