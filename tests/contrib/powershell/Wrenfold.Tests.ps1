# The module Wrenfold (contrib/powershell): its report reader over the
# shared report fixtures, and Invoke-Wrenfold over real remoting sessions
# (SSH to this computer), each session a computer that runs the real
# wrenfold.exe under Wine. run.ps1 beside this file runs them.

BeforeAll {
    $root = (Resolve-Path (Join-Path $PSScriptRoot '../../..')).ProviderPath
    $module = Import-Module (Join-Path $root 'contrib/powershell/Wrenfold') -Force -PassThru
    $fixtures = Join-Path $root 'tests/contrib/reports'

    function ConvertTo-Neutral($Objects) {
        # The objects in the form of expected.json, which the summary's test
        # (tests/contrib/test_summary.py) also reads.
        $computers = @($Objects | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' } | ForEach-Object {
                [ordered]@{ computer = $_.ComputerName; exit_code = $_.ExitCode
                    profiles_enumerated = $_.ProfilesEnumerated; profiles_deleted = $_.ProfilesDeleted
                    free_mb_before = $_.FreeBeforeMB; free_mb_after = $_.FreeAfterMB
                    reclaimed_mb = $_.ReclaimedMB; note = $_.Note } })
        # In the order of their names, code by code, as Python sorts them.
        $byName = New-Object 'System.Collections.Generic.Dictionary[string,object]' ([StringComparer]::Ordinal)
        foreach ($computer in $computers) { $byName[$computer.computer] = $computer }
        $names = New-Object System.Collections.Generic.List[string] (, [string[]]@($byName.Keys))
        $names.Sort([StringComparer]::Ordinal)
        $sorted = @($names | ForEach-Object { $byName[$_] })
        $profiles = @($Objects | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Profile' } | ForEach-Object {
                $modified = $null
                if ($null -ne $_.ModifiedDate) {
                    $modified = $_.ModifiedDate.ToString('yyyy/MM/dd HH:mm', [Globalization.CultureInfo]::InvariantCulture)
                }
                [ordered]@{ computer = $_.ComputerName; folder = $_.Folder; modified = $modified
                    age_days = $_.AgeDays; action = $_.Action; reason = $_.Reason; error = $_.Error } })
        @{ computers = $sorted; profiles = $profiles }
    }

    function Get-ObjectsOf($Objects, [string]$Name) {
        $Objects | Where-Object { $_.ComputerName -eq $Name }
    }
}

Describe 'ConvertFrom-WrenfoldReport' {
    It 'reads every report fixture as expected.json says, as the fleet summary does' {
        $expected = Get-Content -Raw (Join-Path $fixtures 'expected.json') | ConvertFrom-Json
        $actual = ConvertTo-Neutral (ConvertFrom-WrenfoldReport -Path $fixtures)
        foreach ($part in 'computers', 'profiles') {
            $actual[$part].Count | Should -Be $expected.$part.Count -Because $part
            for ($i = 0; $i -lt $actual[$part].Count; $i++) {
                ($actual[$part][$i] | ConvertTo-Json -Compress) |
                    Should -BeExactly ($expected.$part[$i] | ConvertTo-Json -Compress) -Because "$part $i"
            }
        }
    }

    It 'reads the lines of one report down the pipeline as that file' {
        # The computer comes from the summary there, the exit code from -ExitCode.
        $file = Join-Path $fixtures 'failed.log'
        $fromFile = ConvertTo-Neutral (ConvertFrom-WrenfoldReport -Path $file)
        $fromText = ConvertTo-Neutral (Get-Content $file | ConvertFrom-WrenfoldReport -ComputerName failed -ExitCode 5)
        ($fromText | ConvertTo-Json -Depth 5) | Should -BeExactly ($fromFile | ConvertTo-Json -Depth 5)
        $named = Get-Content $file | ConvertFrom-WrenfoldReport
        @($named | Select-Object -ExpandProperty ComputerName -Unique) | Should -Be @('VM')
    }
}

Describe 'Invoke-Wrenfold' {
    BeforeAll {
        . (Join-Path $root 'testing/powershell/LoopbackSsh.ps1')
        . (Join-Path $root 'testing/powershell/WineComputer.ps1')
        $exe = $env:WRENFOLD_PS_EXE
        $work = $env:WRENFOLD_PS_WORK
        $run = Join-Path $work ('run-' + [guid]::NewGuid().ToString('N').Substring(0, 8))
        $null = New-Item -ItemType Directory -Path $run
        $server = Start-LoopbackSshd -Folder (Join-Path ([IO.Path]::GetTempPath()) ('wrenfold-ssh-' + [guid]::NewGuid().ToString('N')))
        Set-WrenfoldWineLauncher -Module $module -Helpers $env:WRENFOLD_PS_HELPERS -Work $work
        $sessions = New-Object System.Collections.Generic.List[object]

        function New-TestComputer([string]$Scenario, $Session) {
            New-WineComputer -Scenario (Join-Path $root $Scenario) -Folder $run -Work $work -Session $Session
        }

        function New-TestSession([string]$HostName) {
            $session = New-LoopbackSession $server $HostName
            $sessions.Add($session)
            $session
        }
    }

    AfterAll {
        if ($sessions) { $sessions | Remove-PSSession -ErrorAction SilentlyContinue }
        Stop-LoopbackSshd $server
        if ($server) { Remove-Item -LiteralPath $server.Folder -Recurse -Force -ErrorAction SilentlyContinue }
        Remove-WineComputers -Folder $run -Work $work
    }

    Context 'two computers, each in its own session' {
        BeforeAll {
            $one = New-TestSession '127.0.0.1'
            $two = New-TestSession 'localhost'
        }

        It 'says what would run on each computer under -WhatIf, and runs nothing' {
            $a = New-TestComputer 'testing/demo/computer.json' $one
            $b = New-TestComputer 'tests/scenarios/walk/delete-failed.json' $two
            $out = Invoke-Wrenfold -Session $one, $two -MinimumAge 30 -Path $exe -LogPath (Join-Path $run 'whatif') -WhatIf
            $out | Should -BeNullOrEmpty
            foreach ($computer in $a, $b) {
                Test-Path $computer.Runs | Should -BeFalse
                Test-Path $computer.Prefix | Should -BeFalse
                @(Get-ChildItem $computer.Temp) | Should -BeNullOrEmpty -Because 'no copy of the exe is made'
            }
            Test-Path (Join-Path $run 'whatif') | Should -BeFalse
        }

        It 'runs both at once and gives each its own objects, exit code and log' {
            $a = New-TestComputer 'testing/demo/computer.json' $one
            $b = New-TestComputer 'tests/scenarios/walk/delete-failed.json' $two
            $logs = Join-Path $run 'logs'
            $out = @(Invoke-Wrenfold -Session $one, $two -MinimumAge 30 -SkipName Kiosk, 'Two Words' -Path $exe `
                    -LogPath $logs -ThrottleLimit 2 -Confirm:$false)

            $computers = @($out | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' })
            @($computers | ForEach-Object { '{0} {1} {2}/{3} {4}' -f $_.ComputerName, $_.ExitCode, $_.ProfilesDeleted,
                    $_.ProfilesEnumerated, $_.Note }) | Should -Be @('127.0.0.1 0 3/7 ', 'localhost 5 1/5 ')
            @(Get-ObjectsOf $out '127.0.0.1' | Where-Object Action -EQ 'Deleting' | ForEach-Object Folder) |
                Should -Be @('C:\Users\Ann\', 'C:\Users\Bob\', 'C:\Users\Gone\')
            @(Get-ObjectsOf $out 'localhost' | Where-Object Error | ForEach-Object { "$($_.Folder) $($_.Error)" }) |
                Should -Be @('C:\Users\Ann\ 5', 'C:\Users\Bob\ 87', 'C:\Users\Locked\ 5')

            # The logs hold the reports byte for byte, and the skip names
            # reached the exe as one argument.
            foreach ($pair in @(@($a, '127.0.0.1'), @($b, 'localhost'))) {
                $log = [IO.File]::ReadAllBytes((Join-Path $logs "$($pair[1]).log"))
                $log | Should -Be ([IO.File]::ReadAllBytes((Join-Path $pair[0].Prefix 'stdout.bin')))
                [Text.Encoding]::ASCII.GetString($log) | Should -Match "`r`nSkip Names=Kiosk:Two Words`r`n"
                @(Get-ChildItem $pair[0].Temp -Filter 'wrenfold-*') | Should -BeNullOrEmpty -Because 'the copy of the exe is removed'
            }
            Get-Content (Join-Path $logs 'exit-codes.txt') | Should -Be @('127.0.0.1 0', 'localhost 5')
            $reread = ConvertFrom-WrenfoldReport -Path $logs | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' }
            ($reread | Select-Object ComputerName, ExitCode, ProfilesDeleted, ReclaimedMB | ConvertTo-Json) |
                Should -Be ($computers | Select-Object ComputerName, ExitCode, ProfilesDeleted, ReclaimedMB | ConvertTo-Json)

            # Each run's span (Unix seconds) overlaps the other's.
            $spanA = [double[]]((Get-Content $a.Runs) -split ' ')
            $spanB = [double[]]((Get-Content $b.Runs) -split ' ')
            $spanA[0] | Should -BeLessThan $spanB[1]
            $spanB[0] | Should -BeLessThan $spanA[1]
        }
    }

    It 'gives a computer whose session <How> its note and no counts, while the other runs' -TestCases @(
        @{ How = 'is gone'; Note = '^not run: ' }
        @{ How = 'fails on the way'; Note = '^failed: ' }
    ) {
        param($How, $Note)
        $good = New-TestSession '127.0.0.1'
        $broken = New-TestSession 'localhost'
        $null = New-TestComputer 'testing/demo/computer.json' $good
        $lost = New-TestComputer 'tests/scenarios/walk/delete-failed.json' $broken
        if ($How -eq 'is gone') {
            # The computer can no longer be reached through its session.
            # (Ending the PowerShell under the session instead can make
            # PowerShell 7.6's SSH transport end this process with an
            # unhandled broken pipe.)
            Remove-PSSession -Session $broken
        }
        else {
            # Its temporary folder is a file there: the copy of the exe fails.
            Invoke-Command -Session $broken { $env:TMPDIR = '/proc/version' }
        }
        $logs = Join-Path $run ('broken-' + $How.Replace(' ', '-'))
        $out = @(Invoke-Wrenfold -Session $good, $broken -MinimumAge 30 -Path $exe -LogPath $logs -Confirm:$false)
        $computers = @($out | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' })
        $computers.Count | Should -Be 2
        $computers[0].ExitCode | Should -Be 0 -Because $computers[0].Note
        $computers[0].ProfilesDeleted | Should -Be 4
        $computers[1].ComputerName | Should -Be 'localhost'
        $computers[1].Note | Should -Match $Note
        @($computers[1].ExitCode, $computers[1].ProfilesEnumerated, $computers[1].FreeBeforeMB) | Should -Be @($null, $null, $null)
        @(Get-ObjectsOf $out 'localhost').Count | Should -Be 1
        Test-Path $lost.Runs | Should -BeFalse
        # The folder says so too, as the fleet summary reads it.
        (ConvertFrom-WrenfoldReport -Path $logs | Where-Object ComputerName -EQ 'localhost').Note | Should -Be $computers[1].Note
    }

    It 'runs on this computer without targets' {
        $here = New-TestComputer 'tests/scenarios/walk/delete-failed.json' $null
        $env:WRENFOLD_PS_COMPUTER = $here.Scenario
        try { $out = @(Invoke-Wrenfold -MinimumAge 30 -Path $exe -Confirm:$false) }
        finally { Remove-Item Env:WRENFOLD_PS_COMPUTER }
        $computer = $out[-1]
        '{0} {1} {2}' -f $computer.ComputerName, $computer.ExitCode, $computer.ProfilesDeleted |
            Should -Be "$([Environment]::MachineName) 5 1"
    }

    It 'refuses <What> before anything runs, and runs <Accepted>' -TestCases @(
        @{ What = 'a name holding a colon'; Skip = @('Admin', 'Ki:osk'); Refusal = "holds ':'"
            Accepted = 'the names apart'; Fixed = @('Admin', 'Ki', 'osk') }
        @{ What = 'a skip list of 1024 characters'; Skip = @(('x' * 600), ('y' * 423)); Refusal = 'are 1024 characters'
            Accepted = 'one of 1023, as the exe does'; Fixed = @(('x' * 600), ('y' * 422)) }
    ) {
        param($What, $Skip, $Refusal, $Accepted, $Fixed)
        $session = New-TestSession '127.0.0.1'
        $computer = New-TestComputer 'testing/demo/computer.json' $session
        { Invoke-Wrenfold -Session $session -MinimumAge 30 -SkipName $Skip -Path $exe -Confirm:$false } |
            Should -Throw "*$Refusal*"
        Test-Path $computer.Runs | Should -BeFalse
        $logs = Join-Path $run ([guid]::NewGuid().ToString('N'))
        $out = @(Invoke-Wrenfold -Session $session -MinimumAge 30 -SkipName $Fixed -Path $exe -LogPath $logs -Confirm:$false)
        '{0} {1}' -f $out[-1].ExitCode, $out[-1].Note | Should -Be '0 '
        [IO.File]::ReadAllText((Join-Path $logs '127.0.0.1.log')) | Should -Match "`r`nSkip Names=$($Fixed -join ':')`r`n"
    }

    It 'takes computers down the pipeline by DNSHostName or Name, and gives each it cannot reach its note' {
        # As Get-ADComputer gives them; no WinRM reaches them here.
        $out = @([pscustomobject]@{ Name = 'PC1'; DNSHostName = 'pc1.corp.example' }, [pscustomobject]@{ Name = 'PC2' } |
                Invoke-Wrenfold -MinimumAge 30 -Path $exe -Confirm:$false)
        @($out | ForEach-Object { $_.ComputerName }) | Should -Be @('pc1.corp.example', 'PC2')
        foreach ($computer in $out) {
            $computer.PSTypeNames | Should -Contain 'Wrenfold.Computer'
            $computer.Note | Should -Match '^not run: .'
            @($computer.ExitCode, $computer.ProfilesEnumerated, $computer.ReclaimedMB) | Should -Be @($null, $null, $null)
        }
    }

    It 'runs the README''s PowerShell lines from the release archive' {
        # The archive as make dist packs it; the lines as the README has them,
        # unattended (no prompt to answer) and with computers that no WinRM
        # reaches here: each gives its object with the reason in its note.
        $folder = Join-Path $run 'readme'
        $null = New-Item -ItemType Directory -Path $folder
        & python3 (Join-Path $root 'scripts/dist.py') --exe $exe --out-dir $folder | Out-Null
        $LASTEXITCODE | Should -Be 0
        $readme = Get-Content -Raw (Join-Path $root 'README.md')
        $block = [regex]::Match($readme, '(?s)### PowerShell.*?```powershell\r?\n(.*?)```').Groups[1].Value
        $lines = @($block -split '\r?\n' | Where-Object { $_ -and -not $_.StartsWith('#') })
        $lines.Count | Should -Be 3
        Set-Content (Join-Path $folder 'pcs.txt') 'pc-nowhere-1', 'pc-nowhere-2'
        $script = "`$ConfirmPreference = 'None'; Set-Location '$folder'`n" + ($lines -join "`n")
        $output = & (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source -NoProfile -NonInteractive -Command $script 2>&1 | Out-String
        $LASTEXITCODE | Should -Be 0 -Because $output
        $csv = @(Get-ChildItem $folder -Filter *.csv | Import-Csv)
        @($csv | ForEach-Object ComputerName) | Should -Be @('pc-nowhere-1', 'pc-nowhere-2')
        @($csv | Where-Object { $_.Note -like 'not run: *' -and $_.ProfilesEnumerated -eq '' }).Count | Should -Be 2
        foreach ($name in 'pc-nowhere-1', 'pc-nowhere-2') {
            $output | Should -Match ([regex]::Escape("on target `"$name`"")) -Because 'the -WhatIf line names each computer'
        }
        (Get-Help Invoke-Wrenfold -Examples).examples.example.Count | Should -BeGreaterThan 1
        (Get-Help ConvertFrom-WrenfoldReport -Examples).examples.example.Count | Should -BeGreaterThan 1
    }
}
