# Wrenfold in PowerShell: runs wrenfold.exe on computers over PowerShell
# remoting and reads its reports into objects.
#
# Kept to the syntax that Windows PowerShell 5.1 and PowerShell 7 both accept:
# no ternary or null-coalescing operators, no pipeline chains, no classes,
# no ForEach-Object -Parallel.

Set-StrictMode -Version 2.0

# ---------------------------------------------------------------------------
# The report reader. It reads what contrib/wrenfold_summary.py reads and
# refuses what that refuses, with the same notes: a report it cannot read to
# the end gives its computer's object with a note and no counts.
# ---------------------------------------------------------------------------

$script:SummaryLines = @(
    @('Profiles Enumerated=', 'ProfilesEnumerated'),
    @('Profiles Deleted=', 'ProfilesDeleted'),
    @('Free Disk Space Before=', 'FreeBeforeMB'),
    @('Free Disk Space  After=', 'FreeAfterMB'))
# Lines a profile block may hold besides its header, its fields and the
# failures of calls.
$script:BlockLine = [regex]('\A(?:Delete\? \(Y/N\): ?|Failed to find ".*", error [0-9]+\.|' +
    'Failed, the profile modified time was invalid\.|' +
    'DeleteProfile\(.*\) reported success, but the entry is still listed\.)\z')
$script:FailedCall = [regex]('\A(?:DeleteProfile|RegOpenKeyEx|RegDeleteKey)\(.*\) failed with error ' +
    '(-?[0-9]+)\z')
# Failures of the computer as a whole, printed before its summary; the
# system's text of the error follows some of them.
$script:ComputerFailure = [regex]('\A(?:Failed to .*, (?:system error -?[0-9]+ has occurred|an invalid ' +
    'registry type \([0-9]+\) was found)\.|Error -?[0-9]+ opening .*)\z')
$script:Header = [regex]'\A\[(.*)\]\z'
$script:ExceptionExitCodes = @(-1073741819, 3221225477)  # 0xC0000005
$script:Latin1 = [System.Text.Encoding]::GetEncoding(28591)

function New-Unreadable([string]$Why) {
    # The reader's one failure: the report holds something it does not know.
    $problem = New-Object System.IO.InvalidDataException $Why
    $problem.Data['Wrenfold.Unreadable'] = $true
    $problem
}

function Format-QuotedLine([string]$Line) {
    # The first 60 characters of LINE quoted and escaped as Python's repr()
    # writes a string, so that a note reads the same from both readers.
    if ($Line.Length -gt 60) { $Line = $Line.Substring(0, 60) }
    $quote = "'"
    if ($Line.Contains("'") -and -not $Line.Contains('"')) { $quote = '"' }
    $text = New-Object System.Text.StringBuilder
    [void]$text.Append($quote)
    foreach ($c in $Line.ToCharArray()) {
        $code = [int]$c
        if ($c -eq [char]'\') { [void]$text.Append('\\') }
        elseif ([string]$c -ceq $quote) { [void]$text.Append('\' + $quote) }
        elseif ($code -eq 9) { [void]$text.Append('\t') }
        elseif ($code -eq 10) { [void]$text.Append('\n') }
        elseif ($code -eq 13) { [void]$text.Append('\r') }
        elseif ($code -lt 0x20 -or ($code -ge 0x7F -and $code -le 0xA0) -or $code -eq 0xAD) {
            [void]$text.Append('\x' + $code.ToString('x2'))
        }
        else { [void]$text.Append($c) }
    }
    [void]$text.Append($quote)
    $text.ToString()
}

function Assert-EveryBlockHasAnAction($Blocks) {
    foreach ($block in $Blocks) {
        if ($block.Action.Length -eq 0) {
            throw (New-Unreadable "no action for $($block.Folder): the report ends early")
        }
    }
}

function Read-ReportText([string]$Text) {
    # The computers of one report, one per [Summary for ...] block: its name,
    # its four figures, its profile blocks and the lines that say it failed
    # as a whole (a run over a list of computers reports several). Throws the
    # reader's failure with the line it could not read.
    $lines = $Text.Replace("`r`n", "`n").Split([char]10)
    $banner = $false
    for ($i = 0; $i -lt [Math]::Min(3, $lines.Count); $i++) {
        if ($lines[$i].StartsWith('Wrenfold [Version ', [StringComparison]::Ordinal)) { $banner = $true }
    }
    if (-not $banner) { throw (New-Unreadable 'no banner: not a report of wrenfold.exe') }
    $summaries = New-Object System.Collections.Generic.List[object]
    $blocks = New-Object System.Collections.Generic.List[object]
    $failures = New-Object System.Collections.Generic.List[string]
    $block = $null
    $textMayFollow = $false  # the system's text of an error just printed
    $at = 0
    while ($at -lt $lines.Count) {
        $line = $lines[$at]
        $at++
        $header = $script:Header.Match($line)
        if ($line.Length -eq 0) { continue }
        if ($textMayFollow -and -not $header.Success -and -not $script:ComputerFailure.IsMatch($line)) {
            $textMayFollow = $false
            continue
        }
        $textMayFollow = $false
        $name = $header.Groups[1].Value
        if ($header.Success -and $name.StartsWith('Summary for ', [StringComparison]::Ordinal)) {
            $summary = [ordered]@{ Computer = $name.Substring(12); Blocks = $blocks; Failures = $failures }
            foreach ($pair in $script:SummaryLines) {
                $next = ''
                if ($at -lt $lines.Count) { $next = $lines[$at] }
                $value = [regex]::Match($next, '\A' + [regex]::Escape($pair[0]) + '(-?[0-9]+)( MB)?\z')
                if (-not $value.Success) {
                    throw (New-Unreadable "line $($at + 1): expected $($pair[0].Substring(0, $pair[0].Length - 1))")
                }
                $summary[$pair[1]] = [long]$value.Groups[1].Value
                $at++
            }
            $summaries.Add($summary)
            Assert-EveryBlockHasAnAction $blocks
            $blocks = New-Object System.Collections.Generic.List[object]
            $failures = New-Object System.Collections.Generic.List[string]
            $block = $null
        }
        elseif ($header.Success -and $name -ceq 'Settings') {
            $block = $null
        }
        elseif ($header.Success) {
            $block = @{ Folder = $name; Modified = ''; Age = ''; Action = ''; Error = '' }
            $blocks.Add($block)
        }
        elseif ($line.StartsWith('Wrenfold [Version ', [StringComparison]::Ordinal) -or
                $line.StartsWith('Minimum Age=', [StringComparison]::Ordinal) -or
                $line.StartsWith('Skip Names=', [StringComparison]::Ordinal) -or
                $line -ceq 'The command completed successfully.') {
        }
        elseif ($script:ComputerFailure.IsMatch($line)) {
            $failures.Add($line)
            $textMayFollow = $true
        }
        elseif ($null -eq $block) {
            throw (New-Unreadable "line ${at}: $(Format-QuotedLine $line)")
        }
        elseif ($line.StartsWith('Modified Date=', [StringComparison]::Ordinal)) {
            $block.Modified = $line.Substring(14)
        }
        elseif ($line.StartsWith('Profile Age=', [StringComparison]::Ordinal)) {
            $age = $line.Substring(12)
            if ($age.EndsWith(' days', [StringComparison]::Ordinal)) { $age = $age.Substring(0, $age.Length - 5) }
            $block.Age = $age
        }
        elseif ($line.StartsWith('Action=', [StringComparison]::Ordinal)) {
            if ($block.Action.Length -ne 0) {
                throw (New-Unreadable "line ${at}: a second action for $($block.Folder)")
            }
            $block.Action = $line.Substring(7)
        }
        elseif ($script:FailedCall.IsMatch($line)) {
            $block.Error = $script:FailedCall.Match($line).Groups[1].Value
            $textMayFollow = $true
        }
        elseif (-not $script:BlockLine.IsMatch($line)) {
            throw (New-Unreadable "line ${at}: $(Format-QuotedLine $line)")
        }
    }
    Assert-EveryBlockHasAnAction $blocks
    if ($blocks.Count -ne 0 -or $summaries.Count -eq 0) {
        throw (New-Unreadable 'no summary after the last profile: the report ends early')
    }
    , $summaries
}

function New-ComputerObject([string]$ComputerName, $ExitCode, [string]$ReportPath, $Note) {
    [pscustomobject]@{
        PSTypeName         = 'Wrenfold.Computer'
        ComputerName       = $ComputerName
        ProfilesEnumerated = $null
        ProfilesDeleted    = $null
        FreeBeforeMB       = $null
        FreeAfterMB        = $null
        ReclaimedMB        = $null
        ExitCode           = $ExitCode
        ReportPath         = $ReportPath
        Note               = $Note
    }
}

function New-ProfileObject([string]$ComputerName, $Block) {
    $modified = $null
    $parsed = [datetime]::MinValue
    if ([datetime]::TryParseExact($Block.Modified, 'yyyy/MM/dd HH:mm', [Globalization.CultureInfo]::InvariantCulture,
            [Globalization.DateTimeStyles]::None, [ref]$parsed)) {
        $modified = $parsed
    }
    $age = $null
    $days = 0
    if ([int]::TryParse($Block.Age, [Globalization.NumberStyles]::None, [Globalization.CultureInfo]::InvariantCulture, [ref]$days)) {
        $age = $days
    }
    # "Skipping (Date)": the action, then why in brackets.
    $action = $Block.Action
    $reason = $null
    $split = [regex]::Match($action, '\A(.*?) \((.*)\)\z')
    if ($split.Success) {
        $action = $split.Groups[1].Value
        $reason = $split.Groups[2].Value
    }
    $failure = $null
    if ($Block.Error.Length -ne 0) { $failure = [long]$Block.Error }
    [pscustomobject]@{
        PSTypeName   = 'Wrenfold.Profile'
        ComputerName = $ComputerName
        Folder       = $Block.Folder
        ModifiedDate = $modified
        AgeDays      = $age
        Action       = $action
        Reason       = $reason
        Error        = $failure
    }
}

function ConvertFrom-ReportBytes {
    # A report as the exe wrote it: its bytes read one to a character, as
    # wrenfold_summary.py reads them.
    param([byte[]]$Bytes, [string]$Name, $ExitCode, [string]$ReportPath)
    ConvertFrom-ReportText $script:Latin1.GetString($Bytes) $Name $ExitCode $ReportPath
}

function ConvertFrom-ReportText {
    # The objects of one computer's report: its Wrenfold.Profile objects and
    # then its Wrenfold.Computer object (one of each computer for a run over
    # a list). NAME is the computer the report was taken from; $null takes
    # the name from the report's summary.
    param([string]$Text, [string]$Name, $ExitCode, [string]$ReportPath)
    try {
        $summaries = Read-ReportText $Text
    }
    catch [System.IO.InvalidDataException] {
        if (-not $_.Exception.Data['Wrenfold.Unreadable']) { throw }
        New-ComputerObject $Name $ExitCode $ReportPath "report not read: $($_.Exception.Message)"
        return
    }
    # An exception ends the run before free space is measured again.
    $cutShort = $false
    if ($null -ne $ExitCode) { $cutShort = $script:ExceptionExitCodes -contains $ExitCode }
    foreach ($summary in $summaries) {
        # A run over a list names each computer in its summary.
        $computer = $Name
        if ($summaries.Count -ne 1 -or [string]::IsNullOrEmpty($Name)) { $computer = $summary.Computer }
        foreach ($block in $summary.Blocks) { New-ProfileObject $computer $block }
        $result = New-ComputerObject $computer $ExitCode $ReportPath $null
        $result.ProfilesEnumerated = $summary.ProfilesEnumerated
        $result.ProfilesDeleted = $summary.ProfilesDeleted
        $result.FreeBeforeMB = $summary.FreeBeforeMB
        if ($cutShort) {
            $result.Note = 'the run ended on an exception: free space after not measured'
        }
        else {
            $result.FreeAfterMB = $summary.FreeAfterMB
            $result.ReclaimedMB = $summary.FreeAfterMB - $summary.FreeBeforeMB
            if ($summary.Failures.Count -ne 0) { $result.Note = $summary.Failures[0] }
        }
        $result
    }
}

function Read-ExitCodeFile([string]$Path) {
    # computer -> exit code (a number), or the note of a computer not run,
    # from the exit-codes.txt of a folder of reports; later lines win.
    $codes = @{}
    if (-not (Test-Path -LiteralPath $Path -PathType Leaf)) { return $codes }
    foreach ($line in [System.IO.File]::ReadAllLines($Path)) {
        $line = $line.Trim()
        $space = $line.IndexOf(' ')
        if ($space -lt 0) { $name = $line; $rest = '' }
        else { $name = $line.Substring(0, $space); $rest = $line.Substring($space + 1) }
        if ($name.Length -eq 0) { continue }
        if ($rest -cmatch '\A-?[0-9]+\z') { $codes[$name] = [long]$rest } else { $codes[$name] = $rest }
    }
    $codes
}

function ConvertFrom-ReportFolder([string]$Folder) {
    # Every <computer>.log of FOLDER and every computer of its
    # exit-codes.txt, in the order of their names.
    $codes = Read-ExitCodeFile (Join-Path $Folder 'exit-codes.txt')
    $names = @{}
    foreach ($file in Get-ChildItem -LiteralPath $Folder -Filter '*.log' -File) {
        if ($file.Name.EndsWith('.log', [StringComparison]::Ordinal)) {
            $names[$file.Name.Substring(0, $file.Name.Length - 4)] = $true
        }
    }
    foreach ($name in $codes.Keys) { $names[$name] = $true }
    # In the order of their names in lower case, code by code, as
    # wrenfold_summary.py lists them.
    $order = [string[]]@($names.Keys)
    $keys = [string[]]@($order | ForEach-Object { $_.ToLowerInvariant() + [char]0 + $_ })
    [Array]::Sort($keys, $order, [StringComparer]::Ordinal)
    foreach ($name in $order) {
        $code = $codes[$name]
        if ($code -is [string] -and $code.Length -ne 0) {
            New-ComputerObject $name $null $null $code
            continue
        }
        if ($code -is [string]) { $code = $null }
        $report = Join-Path $Folder ($name + '.log')
        if (-not (Test-Path -LiteralPath $report -PathType Leaf)) {
            New-ComputerObject $name $code $null 'no report'
            continue
        }
        ConvertFrom-ReportBytes ([System.IO.File]::ReadAllBytes($report)) $name $code $report
    }
}

<#
.SYNOPSIS
Reads reports of wrenfold.exe into objects.

.DESCRIPTION
ConvertFrom-WrenfoldReport reads reports as wrenfold.exe writes them to
standard output and emits one Wrenfold.Profile object per profile block
(ComputerName, Folder, ModifiedDate, AgeDays, Action, Reason, Error) and
one Wrenfold.Computer object per [Summary for ...] block (ComputerName,
ProfilesEnumerated, ProfilesDeleted, FreeBeforeMB, FreeAfterMB, ReclaimedMB,
ExitCode, ReportPath, Note).

The reader is strict: a report that is cut off, or that is not a report of
wrenfold.exe, gives its computer's object with a Note saying what could
not be read, and no counts, rather than counts that may be wrong. It reads
what contrib/wrenfold_summary.py reads, with the same notes.

-Path takes report files (<computer>.log, the computer named after the
file) or folders of them. The exit code of a report is read from the
exit-codes.txt beside it ("<computer> <code>" lines) where there is one; a
folder's exit-codes.txt also names computers that were not run, and each
of them gives an object with its note.

Text down the pipeline (Get-Content, or the output of wrenfold.exe) is read
as one report; its computer is -ComputerName or, without it, the name in
its summary.

ModifiedDate is a [datetime] (the computer's local time, as printed), or
$null where the report says "(Not found)"; AgeDays is $null there too.
Action is "Deleting" or "Skipping" and Reason what follows in brackets
("Date", "Name", "In use", "Local", "Cancelled", "Not found"). Error is the
number of a failed call of the profile, and ExitCode the run's exit code
where it is known.

.PARAMETER Path
Report files or folders of reports. Wildcards are accepted.

.PARAMETER InputObject
Lines or whole text of one report, down the pipeline.

.PARAMETER ComputerName
The computer of the text down the pipeline (default: the name in its summary).

.PARAMETER ExitCode
The exit code of the run whose text comes down the pipeline.

.EXAMPLE
ConvertFrom-WrenfoldReport -Path .\logs | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' }

The computers of a folder of saved reports (<computer>.log with an
optional exit-codes.txt), one object each.

.EXAMPLE
ConvertFrom-WrenfoldReport -Path .\logs\*.log | Where-Object Error | Export-Csv failed.csv -NoTypeInformation

The profiles whose deletion failed, with their error numbers.

.EXAMPLE
.\wrenfold.exe /min:90 | ConvertFrom-WrenfoldReport -ExitCode $LASTEXITCODE

Reads the report of a run on this computer as it comes.
#>
function ConvertFrom-WrenfoldReport {
    [CmdletBinding(DefaultParameterSetName = 'Path')]
    [OutputType('Wrenfold.Profile', 'Wrenfold.Computer')]
    param(
        [Parameter(Mandatory = $true, Position = 0, ParameterSetName = 'Path')]
        [string[]]$Path,

        [Parameter(Mandatory = $true, ValueFromPipeline = $true, ParameterSetName = 'Text')]
        [AllowEmptyString()]
        [string[]]$InputObject,

        [Parameter(ParameterSetName = 'Text')]
        [string]$ComputerName,

        [Parameter(ParameterSetName = 'Text')]
        [long]$ExitCode
    )
    begin {
        $text = New-Object System.Collections.Generic.List[string]
    }
    process {
        if ($PSCmdlet.ParameterSetName -eq 'Text') {
            foreach ($piece in $InputObject) { $text.Add($piece) }
            return
        }
        foreach ($item in $Path) {
            foreach ($resolved in Resolve-Path -Path $item -ErrorAction Stop) {
                $full = $resolved.ProviderPath
                if (Test-Path -LiteralPath $full -PathType Container) {
                    ConvertFrom-ReportFolder $full
                    continue
                }
                $leaf = Split-Path -Leaf $full
                $name = $leaf
                if ($leaf.EndsWith('.log', [StringComparison]::OrdinalIgnoreCase)) { $name = $leaf.Substring(0, $leaf.Length - 4) }
                $code = (Read-ExitCodeFile (Join-Path (Split-Path -Parent $full) 'exit-codes.txt'))[$name]
                if ($code -is [string]) { $code = $null }
                ConvertFrom-ReportBytes ([System.IO.File]::ReadAllBytes($full)) $name $code $full
            }
        }
    }
    end {
        if ($PSCmdlet.ParameterSetName -ne 'Text') { return }
        $code = $null
        if ($PSBoundParameters.ContainsKey('ExitCode')) { $code = $ExitCode }
        $name = $null
        if ($PSBoundParameters.ContainsKey('ComputerName')) { $name = $ComputerName }
        ConvertFrom-ReportText ($text -join "`n") $name $code $null
    }
}

# ---------------------------------------------------------------------------
# Running wrenfold.exe on computers.
# ---------------------------------------------------------------------------

# How the copied exe is started on a target. Empty: the exe itself, as on
# Windows. The module's tests, which run the exe under Wine, set it (in the
# module's scope) to a command and its first arguments; the exe's path and
# its own arguments follow them. docs/DEVELOPING.md describes it.
$script:Launcher = @()

# The exe joins its /SKIP: names with ':' and refuses a list longer than this.
$script:SkipListLimit = 1023

function ConvertTo-QuotedArgument([string]$Text) {
    # One argument of a Windows command line, in double quotes, as the C
    # runtime splits them: backslashes before a quote are doubled.
    '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)\z', '$1$1') + '"'
}

# Runs on the target, in its own PowerShell: writes the exe to a folder of
# its own, runs it with the arguments given and its input closed, and
# removes the folder. Returns the report as the exe wrote it (bytes), its
# exit code and what it wrote to standard error.
$script:RunOnTarget = {
    param([byte[]]$Exe, [string]$Arguments, [string]$LauncherFile, [string]$LauncherArguments)
    $folder = Join-Path ([System.IO.Path]::GetTempPath()) ('wrenfold-' + [guid]::NewGuid().ToString('N'))
    $file = Join-Path $folder 'wrenfold.exe'
    try {
        $null = New-Item -ItemType Directory -Path $folder -ErrorAction Stop -Confirm:$false
        [System.IO.File]::WriteAllBytes($file, $Exe)
        $info = New-Object System.Diagnostics.ProcessStartInfo
        if ($LauncherFile) {
            $info.FileName = $LauncherFile
            $info.Arguments = $LauncherArguments + ' "' + $file + '" ' + $Arguments
        }
        else {
            $info.FileName = $file
            $info.Arguments = $Arguments
        }
        $info.WorkingDirectory = $folder
        $info.UseShellExecute = $false
        $info.CreateNoWindow = $true
        $info.RedirectStandardInput = $true
        $info.RedirectStandardOutput = $true
        $info.RedirectStandardError = $true
        $process = [System.Diagnostics.Process]::Start($info)
        $process.StandardInput.Close()
        $errors = $process.StandardError.ReadToEndAsync()
        $report = New-Object System.IO.MemoryStream
        $process.StandardOutput.BaseStream.CopyTo($report)
        $process.WaitForExit()
        [pscustomobject]@{
            Report   = $report.ToArray()
            ExitCode = $process.ExitCode
            Errors   = $errors.Result
        }
    }
    finally {
        Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue -Confirm:$false
    }
}

function Get-DefaultExePath {
    # wrenfold.exe in the module's folder, else in the folder above it (the
    # release archive unpacked as it is).
    $here = Join-Path $PSScriptRoot 'wrenfold.exe'
    if (Test-Path -LiteralPath $here -PathType Leaf) { return $here }
    Join-Path (Split-Path -Parent $PSScriptRoot) 'wrenfold.exe'
}

function Write-ReportLog([string]$Folder, [string]$Name, [byte[]]$Report, $ExitCode) {
    # <computer>.log byte for byte, and the computer's line of exit-codes.txt
    # ("<computer> <code>", or "<computer> not run: ..."), which
    # contrib/wrenfold_summary.py and ConvertFrom-WrenfoldReport read.
    $path = $null
    if ($null -ne $Report) {
        $path = Join-Path $Folder ($Name + '.log')
        [System.IO.File]::WriteAllBytes($path, $Report)
    }
    $codes = Join-Path $Folder 'exit-codes.txt'
    $kept = @()
    if (Test-Path -LiteralPath $codes -PathType Leaf) {
        $kept = @([System.IO.File]::ReadAllLines($codes) | Where-Object {
                -not $_.StartsWith($Name + ' ', [StringComparison]::OrdinalIgnoreCase) -and $_ -ne $Name })
    }
    $line = ("$Name $ExitCode" -replace '[\r\n]+', ' ').TrimEnd()
    [System.IO.File]::WriteAllLines($codes, [string[]]($kept + $line))
    $path
}

<#
.SYNOPSIS
Runs wrenfold.exe on computers over PowerShell remoting and returns what it did as objects.

.DESCRIPTION
Invoke-Wrenfold copies wrenfold.exe into a PowerShell session on each
computer, runs it there on that computer (local mode, with /Y), collects
its report and exit code, removes the copy, and emits that computer's
objects as ConvertFrom-WrenfoldReport reads them: one Wrenfold.Profile per
profile and one Wrenfold.Computer with the counts and the computer's own
exit code. The computers run in parallel, -ThrottleLimit at a time. It
needs none of the remote registry, share or WMI access that a run of
wrenfold.exe over a list of computers needs, only PowerShell remoting.

Without -ComputerName or -Session it runs wrenfold.exe on this computer.

A computer that cannot be reached, or whose run fails, gives its
Wrenfold.Computer object with the error in Note and no counts; the other
computers go on.

Each computer asks for confirmation (ConfirmImpact High); -WhatIf says for
each what would run and runs nothing; -Confirm:$false runs without asking.
The prompts of wrenfold.exe itself are never used: it always runs with /Y.

The command line is built from the parameters alone, each argument quoted.
A -SkipName holding ':' or '"', and a skip list longer than wrenfold.exe
accepts (1023 characters joined with ':'), are refused before anything
runs.

.PARAMETER MinimumAge
Profiles at least this many days old are deleted (/MIN:, 1 to 99999).

.PARAMETER SkipName
Folder names under the profiles directory that are never deleted (/SKIP:).

.PARAMETER RoamingOnly
Delete only roaming profiles (/R).

.PARAMETER Path
The wrenfold.exe to copy to the computers. Default: wrenfold.exe in the
module's folder or in the folder above it.

.PARAMETER LogPath
A folder for one <computer>.log per computer, the report as wrenfold.exe
wrote it, and exit-codes.txt with one "<computer> <code>" line each; the
folder contrib/wrenfold_summary.py and ConvertFrom-WrenfoldReport read.

.PARAMETER ComputerName
The computers to run on (over WinRM, New-PSSession -ComputerName). Taken
from the pipeline by property name (ComputerName, DNSHostName or Name), so
the output of Get-ADComputer can be piped in.

.PARAMETER Session
Existing PSSessions to run in, one per computer (WinRM or SSH). They are
left open.

.PARAMETER ThrottleLimit
How many computers run at once (default 32).

.EXAMPLE
Invoke-Wrenfold -ComputerName (Get-Content pcs.txt) -MinimumAge 90 -SkipName Admin -LogPath .\logs -WhatIf

Says for each computer what would run, and runs nothing.

.EXAMPLE
Invoke-Wrenfold -ComputerName (Get-Content pcs.txt) -MinimumAge 90 -SkipName Admin -LogPath .\logs | Export-Csv profiles.csv -NoTypeInformation

Deletes the profiles of at least 90 days on each computer of pcs.txt
(asking once per computer; answer A for all), keeps each report in
.\logs and writes every object to a CSV file.

.EXAMPLE
Get-ADComputer -Filter 'Name -like "LAB-*"' | Invoke-Wrenfold -MinimumAge 60 -Confirm:$false | Where-Object { $_.PSTypeNames -contains 'Wrenfold.Computer' -and $_.ExitCode -ne 0 }

Runs on the lab's computers without asking and lists the computers whose
run needs a look.

.EXAMPLE
$s = New-PSSession -HostName pc01, pc02 -UserName admin; Invoke-Wrenfold -Session $s -MinimumAge 30 -RoamingOnly

Runs in existing sessions (here over SSH).
#>
function Invoke-Wrenfold {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'High', DefaultParameterSetName = 'Local')]
    [OutputType('Wrenfold.Profile', 'Wrenfold.Computer')]
    param(
        [Parameter(Mandatory = $true)]
        [ValidateRange(1, 99999)]
        [int]$MinimumAge,

        [ValidateNotNullOrEmpty()]
        [string[]]$SkipName,

        [switch]$RoamingOnly,

        [ValidateNotNullOrEmpty()]
        [string]$Path = (Get-DefaultExePath),

        [ValidateNotNullOrEmpty()]
        [string]$LogPath,

        [Parameter(Mandatory = $true, Position = 0, ParameterSetName = 'ComputerName',
            ValueFromPipeline = $true, ValueFromPipelineByPropertyName = $true)]
        [Alias('DNSHostName', 'Name', 'CN')]
        [ValidateNotNullOrEmpty()]
        [string[]]$ComputerName,

        [Parameter(Mandatory = $true, ParameterSetName = 'Session')]
        [ValidateNotNullOrEmpty()]
        [System.Management.Automation.Runspaces.PSSession[]]$Session,

        [ValidateRange(1, 1024)]
        [int]$ThrottleLimit = 32
    )
    begin {
        # Everything that can be refused is refused here, before any target
        # is touched.
        $arguments = New-Object System.Collections.Generic.List[string]
        $arguments.Add("/MIN:$MinimumAge")
        $arguments.Add('/Y')
        if ($RoamingOnly) { $arguments.Add('/R') }
        if ($SkipName) {
            foreach ($skip in $SkipName) {
                if ($skip.Contains(':')) {
                    throw "The skip name '$skip' holds ':', which wrenfold.exe reads as the end of a name."
                }
                if ($skip.Contains('"')) {
                    throw "The skip name '$skip' holds '`"', which no folder name can hold."
                }
            }
            $joined = $SkipName -join ':'
            if ($joined.Length -gt $script:SkipListLimit) {
                throw "The skip names joined with ':' are $($joined.Length) characters; wrenfold.exe accepts at most $script:SkipListLimit."
            }
            $arguments.Add('/SKIP:' + $joined)
        }
        $commandLine = ($arguments | ForEach-Object { ConvertTo-QuotedArgument $_ }) -join ' '
        $exePath = $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($Path)
        if (-not (Test-Path -LiteralPath $exePath -PathType Leaf)) {
            throw "wrenfold.exe not found: $exePath (give its path with -Path)."
        }
        $logFolder = $null
        if ($LogPath) {
            $logFolder = $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($LogPath)
        }
        $launcherFile = ''
        $launcherArguments = ''
        if ($script:Launcher.Count -ne 0) {
            $launcherFile = $script:Launcher[0]
            $launcherArguments = (@($script:Launcher | Select-Object -Skip 1) | ForEach-Object { ConvertTo-QuotedArgument $_ }) -join ' '
        }
        $names = New-Object System.Collections.Generic.List[string]
    }
    process {
        if ($PSCmdlet.ParameterSetName -eq 'ComputerName') {
            foreach ($name in $ComputerName) { $names.Add($name) }
        }
    }
    end {
        # The targets: (name, session or $null for this computer).
        $targets = New-Object System.Collections.Generic.List[object]
        if ($PSCmdlet.ParameterSetName -eq 'Session') {
            foreach ($s in $Session) { $targets.Add(@($s.ComputerName, $s)) }
        }
        elseif ($PSCmdlet.ParameterSetName -eq 'ComputerName') {
            foreach ($name in $names) { $targets.Add(@($name, $null)) }
        }
        else {
            $targets.Add(@([System.Environment]::MachineName, $null))
        }
        # One run per computer: two at once on one computer would delete
        # from under each other, and their logs would share a name.
        $seen = @{}
        foreach ($target in $targets) {
            $key = $target[0].ToLowerInvariant()
            if ($seen.ContainsKey($key)) { throw "The computer '$($target[0])' is named twice." }
            $seen[$key] = $true
        }

        $chosen = New-Object System.Collections.Generic.List[object]
        foreach ($target in $targets) {
            if ($PSCmdlet.ShouldProcess($target[0], "Run wrenfold.exe $commandLine")) { $chosen.Add($target) }
        }
        if ($chosen.Count -eq 0) { return }
        # The one question is the one per computer above: what the command
        # does for it on the way asks nothing more, also under -Confirm.
        if ($logFolder) { $null = New-Item -ItemType Directory -Path $logFolder -Force -ErrorAction Stop -Confirm:$false }
        $exe = [System.IO.File]::ReadAllBytes($exePath)
        $runArguments = @($exe, $commandLine, $launcherFile, $launcherArguments)

        # What each computer gave: name -> run result, or the error that stopped it.
        $results = @{}
        $problems = @{}
        $local = $PSCmdlet.ParameterSetName -eq 'Local'
        if ($local) {
            try { $results[$chosen[0][0]] = & $script:RunOnTarget @runArguments }
            catch { $problems[$chosen[0][0]] = $_.Exception.Message }
        }
        else {
            # The sessions, opened here for -ComputerName (and closed at the end).
            $byRunspace = @{}
            $open = New-Object System.Collections.Generic.List[object]
            $made = New-Object System.Collections.Generic.List[object]
            try {
                if ($PSCmdlet.ParameterSetName -eq 'ComputerName') {
                    # One at a time would wait out each unreachable computer
                    # in turn: the sessions are opened together.
                    $connectErrors = @()
                    $sessions = @()
                    try {
                        $sessions = @(New-PSSession -ComputerName @($chosen | ForEach-Object { $_[0] }) -ThrottleLimit $ThrottleLimit `
                                -ErrorAction SilentlyContinue -ErrorVariable connectErrors)
                    }
                    catch {
                        # Remoting itself is missing (no WinRM client): no computer is reached.
                        $connectErrors = @($_)
                    }
                    foreach ($s in $sessions) { $made.Add($s) }
                    foreach ($target in $chosen) {
                        $mine = @($sessions | Where-Object { $_.ComputerName -eq $target[0] } | Select-Object -First 1)
                        if ($mine.Count -ne 0) {
                            $target[1] = $mine[0]
                            continue
                        }
                        $why = @($connectErrors | Where-Object {
                                ($null -ne $_.PSObject.Properties['OriginInfo'] -and $null -ne $_.OriginInfo -and $_.OriginInfo.PSComputerName -eq $target[0]) -or
                                ("$($_.TargetObject)" -eq $target[0]) -or
                                ($_.Exception.Message -like "*$($target[0])*") } | Select-Object -First 1)
                        if ($why.Count -eq 0) { $why = @($connectErrors | Select-Object -First 1) }
                        if ($why.Count -ne 0) { $problems[$target[0]] = "not run: $($why[0].Exception.Message)" }
                        else { $problems[$target[0]] = 'not run: no session could be opened' }
                    }
                }
                foreach ($target in $chosen) {
                    if ($null -eq $target[1]) { continue }
                    if ($target[1].State -ne 'Opened') {
                        $problems[$target[0]] = "not run: the session is $($target[1].State)"
                        continue
                    }
                    $open.Add($target[1])
                    $byRunspace[$target[1].InstanceId.ToString()] = $target[0]
                }
                if ($open.Count -ne 0) {
                    # As a job, each session is a child job of its own: one
                    # that breaks fails alone, while the others go on.
                    $job = Invoke-Command -Session $open.ToArray() -ThrottleLimit $ThrottleLimit -ScriptBlock $script:RunOnTarget `
                        -ArgumentList $runArguments -AsJob
                    try {
                        # Every child: the job as a whole may end as soon as one fails.
                        $null = Wait-Job -Job @($job.ChildJobs)
                        foreach ($child in $job.ChildJobs) {
                            $name = $byRunspace[$child.Runspace.InstanceId.ToString()]
                            $childErrors = @()
                            $output = @(Receive-Job -Job $child -ErrorAction SilentlyContinue -ErrorVariable childErrors)
                            if ($output.Count -eq 1 -and $null -ne $output[0].PSObject.Properties['Report']) {
                                $results[$name] = $output[0]
                            }
                            # The session failed on the way: whether the exe
                            # ran there is not known.
                            elseif ($childErrors.Count -ne 0) {
                                $problems[$name] = "failed: $($childErrors[0].Exception.Message)"
                            }
                            elseif ($null -ne $child.JobStateInfo.Reason) {
                                $problems[$name] = "failed: $($child.JobStateInfo.Reason.Message)"
                            }
                            else {
                                $problems[$name] = 'failed: the session returned no result'
                            }
                        }
                    }
                    finally {
                        Remove-Job -Job $job -Force -Confirm:$false
                    }
                }
            }
            finally {
                if ($made.Count -ne 0) { Remove-PSSession -Session $made.ToArray() -ErrorAction SilentlyContinue -Confirm:$false }
            }
        }

        foreach ($target in $chosen) {
            $name = $target[0]
            if ($results.ContainsKey($name)) {
                $result = $results[$name]
                $report = [byte[]]$result.Report
                $logFile = $null
                if ($logFolder) { $logFile = Write-ReportLog $logFolder $name $report $result.ExitCode }
                foreach ($item in ConvertFrom-ReportBytes $report $name ([long]$result.ExitCode) $logFile) {
                    # A run that wrote no report may have said why on standard error.
                    $said = ([string]$result.Errors).Trim()
                    if ($said -and $item.PSTypeNames -contains 'Wrenfold.Computer' -and "$($item.Note)".StartsWith('report not read: ')) {
                        $item.Note += "; standard error: $(($said -split '\r?\n')[0])"
                    }
                    $item
                }
            }
            else {
                $note = $problems[$name]
                if ($logFolder) { $null = Write-ReportLog $logFolder $name $null $note }
                New-ComputerObject $name $null $null $note
            }
        }
    }
}

Export-ModuleMember -Function ConvertFrom-WrenfoldReport, Invoke-Wrenfold
