@{
    RootModule           = 'Wrenfold.psm1'
    ModuleVersion        = '1.10.0'
    GUID                 = '5d1f0c4e-8a8b-4c52-9d2e-7b3f6a1e0c91'
    Author               = 'The Wrenfold developers'
    Description          = 'Runs wrenfold.exe on many computers over PowerShell remoting and turns its reports into objects.'
    PowerShellVersion    = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FunctionsToExport    = @('ConvertFrom-WrenfoldReport', 'Invoke-Wrenfold')
    CmdletsToExport      = @()
    VariablesToExport    = @()
    AliasesToExport      = @()
    FormatsToProcess     = @('Wrenfold.Format.ps1xml')
}
