# An OpenSSH server of the tests' own on a loopback port, serving the
# PowerShell subsystem, for remoting sessions to this computer
# (New-PSSession -HostName 127.0.0.1). Everything it uses is in a folder of
# its own (its configuration, a host key and a client key made for the run,
# the authorized key, the known hosts); nothing of the system's SSH
# configuration or of ~/.ssh is read or written.

function Get-FreeLoopbackPort {
    $listener = New-Object System.Net.Sockets.TcpListener ([System.Net.IPAddress]::Loopback), 0
    $listener.Start()
    try { $listener.LocalEndpoint.Port } finally { $listener.Stop() }
}

function Start-LoopbackSshd {
    param([Parameter(Mandatory = $true)][string]$Folder, [string]$Pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source)
    $sshd = '/usr/sbin/sshd'
    if (-not (Test-Path -LiteralPath $sshd)) { throw "$sshd not found: scripts/install-deps.sh installs openssh-server." }
    $null = New-Item -ItemType Directory -Path $Folder -Force
    foreach ($key in 'host_key', 'client_key') {
        & ssh-keygen -q -t ed25519 -N '' -C "wrenfold-test-$key" -f (Join-Path $Folder $key)
        if ($LASTEXITCODE -ne 0) { throw "ssh-keygen failed for $key" }
    }
    Copy-Item (Join-Path $Folder 'client_key.pub') (Join-Path $Folder 'authorized_keys')
    # sshd refuses to start without its privilege separation folder, which
    # the system's own start script would make.
    if ((id -u) -eq '0' -and -not (Test-Path /run/sshd)) { $null = New-Item -ItemType Directory /run/sshd }
    $port = Get-FreeLoopbackPort
    $config = Join-Path $Folder 'sshd_config'
    @(
        "Port $port"
        'ListenAddress 127.0.0.1'
        "HostKey $(Join-Path $Folder 'host_key')"
        "PidFile $(Join-Path $Folder 'sshd.pid')"
        "AuthorizedKeysFile $(Join-Path $Folder 'authorized_keys')"
        'AuthenticationMethods publickey'
        'PubkeyAuthentication yes'
        'PasswordAuthentication no'
        'KbdInteractiveAuthentication no'
        'PermitRootLogin prohibit-password'
        'UsePAM no'
        # The folder is a temporary one whose owners sshd would question.
        'StrictModes no'
        'MaxStartups 20'
        "Subsystem powershell $Pwsh -sshs -NoLogo -NoProfile"
    ) | Set-Content -LiteralPath $config
    $log = Join-Path $Folder 'sshd.log'
    $process = Start-Process -FilePath $sshd -ArgumentList '-D', '-e', '-f', $config -PassThru `
        -RedirectStandardError $log -RedirectStandardOutput (Join-Path $Folder 'sshd.out')
    # Ready once it accepts a connection on its port.
    $deadline = [datetime]::UtcNow.AddSeconds(20)
    while ($true) {
        if ($process.HasExited) { throw "sshd ended at its start: $(Get-Content -Raw $log)" }
        $client = New-Object System.Net.Sockets.TcpClient
        try { $client.Connect([System.Net.IPAddress]::Loopback, $port); break }
        catch { if ([datetime]::UtcNow -gt $deadline) { throw "sshd did not listen on port $port" } }
        finally { $client.Dispose() }
        Start-Sleep -Milliseconds 100
    }
    [pscustomobject]@{ Process = $process; Port = $port; Folder = $Folder; Log = $log }
}

function New-LoopbackSession {
    # One remoting session over the server: a computer of the tests.
    param([Parameter(Mandatory = $true)]$Server, [string]$HostName = '127.0.0.1')
    New-PSSession -HostName $HostName -Port $Server.Port -UserName ([Environment]::UserName) `
        -KeyFilePath (Join-Path $Server.Folder 'client_key') -ErrorAction Stop `
        -Options @{ StrictHostKeyChecking = 'no'; UserKnownHostsFile = (Join-Path $Server.Folder 'known_hosts'); BatchMode = 'yes'; LogLevel = 'ERROR' }
}

function Stop-LoopbackSshd {
    param($Server)
    if ($null -eq $Server) { return }
    if (-not $Server.Process.HasExited) {
        Stop-Process -Id $Server.Process.Id -ErrorAction SilentlyContinue
        $null = $Server.Process.WaitForExit(10000)
    }
}
