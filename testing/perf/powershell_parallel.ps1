# How much two computers cost Invoke-Wrenfold next to one: the same demo
# computer (testing/demo/computer.json) in one remoting session, then two in
# two sessions at once (-ThrottleLimit 2), each run of wrenfold.exe under
# Wine; sessions over SSH to this computer (testing/powershell). Prints the
# median of each and their ratio: run one after the other, two would take
# twice as long as one.
#
#   pwsh -NoProfile -File powershell_parallel.ps1 -Exe wrenfold.exe -Helpers HELPERS -Work DIR [-Rounds 5]
param(
    [Parameter(Mandatory = $true)][string]$Exe,
    [Parameter(Mandatory = $true)][string]$Helpers,
    [Parameter(Mandatory = $true)][string]$Work,
    [ValidateRange(1, 50)][int]$Rounds = 5
)
$ErrorActionPreference = 'Stop'
$root = (Resolve-Path (Join-Path $PSScriptRoot '../..')).ProviderPath
. (Join-Path $root 'testing/powershell/LoopbackSsh.ps1')
. (Join-Path $root 'testing/powershell/WineComputer.ps1')
$module = Import-Module (Join-Path $root 'contrib/powershell/Wrenfold') -Force -PassThru
$null = New-Item -ItemType Directory -Path $Work -Force
$Work = (Resolve-Path $Work).ProviderPath
$Exe = (Resolve-Path $Exe).ProviderPath
Set-WrenfoldWineLauncher -Module $module -Helpers (Resolve-Path $Helpers).ProviderPath -Work $Work
$run = Join-Path $Work ('bench-' + [guid]::NewGuid().ToString('N').Substring(0, 8))
$null = New-Item -ItemType Directory -Path $run
$scenario = Join-Path $root 'testing/demo/computer.json'
$server = $null
$sessions = @()
try {
    $server = Start-LoopbackSshd -Folder (Join-Path ([IO.Path]::GetTempPath()) ('wrenfold-ssh-' + [guid]::NewGuid().ToString('N')))
    $sessions = @((New-LoopbackSession $server '127.0.0.1'), (New-LoopbackSession $server 'localhost'))
    foreach ($s in $sessions) { $null = New-WineComputer -Scenario $scenario -Folder $run -Work $Work -Session $s }

    function Measure-Run([object[]]$Targets) {
        $clock = [Diagnostics.Stopwatch]::StartNew()
        $out = @(Invoke-Wrenfold -Session $Targets -MinimumAge 30 -Path $Exe -ThrottleLimit 2 -Confirm:$false)
        $clock.Stop()
        $failed = @($out | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' -and $_.ExitCode -ne 0 })
        if ($failed.Count -ne 0 -or @($out | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' }).Count -ne $Targets.Count) {
            throw "a run failed: $($out | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' } | Out-String)"
        }
        $clock.Elapsed.TotalSeconds
    }

    $null = Measure-Run $sessions  # the Wine template prefix, the first start of each session's job
    $one = @(); $two = @()
    for ($i = 0; $i -lt $Rounds; $i++) {
        $one += Measure-Run @($sessions[0])
        $two += Measure-Run $sessions
    }
    $median = { param($values) $sorted = @($values | Sort-Object); $sorted[[int][Math]::Floor($sorted.Count / 2)] }
    $m1 = & $median $one
    $m2 = & $median $two
    'one computer:  {0:N2} s (median of {1}: {2})' -f $m1, $Rounds, (($one | ForEach-Object { $_.ToString('N2') }) -join ' ')
    'two computers: {0:N2} s (median of {1}: {2})' -f $m2, $Rounds, (($two | ForEach-Object { $_.ToString('N2') }) -join ' ')
    'two / one:     {0:N2} (one after the other: 2.00)' -f ($m2 / $m1)
}
finally {
    if ($sessions) { $sessions | Remove-PSSession -ErrorAction SilentlyContinue }
    Stop-LoopbackSshd $server
    if ($server) { Remove-Item -LiteralPath $server.Folder -Recurse -Force -ErrorAction SilentlyContinue }
    Remove-WineComputers -Folder $run -Work $Work
}
