#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12; quick when all is there.
set -euo pipefail

packages=(
  make cmake ninja-build clang g++ libgtest-dev nlohmann-json3-dev python3
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 faketime python3-jsonschema
  ansible osslsigncode openssl
  libbenchmark-dev
  libclang-rt-14-dev
  clang-tidy cppcheck
  openssh-server openssh-client
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} != 0)); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  # Installing openssh-server starts no server here: the module's tests
  # start one of their own (testing/powershell/LoopbackSsh.ps1).
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# PowerShell and Pester, for the PowerShell module's tests, from NuGet (the
# .NET SDK is on the machine): PowerShell as the .NET global tool, Pester's
# package restored into build/nuget and imported from there by the tests.
# PSScriptAnalyzer is not served by the NuGet source these machines reach.
POWERSHELL_VERSION=7.6.10
PESTER_VERSION=5.7.1
root=$(cd "$(dirname "$0")/.." && pwd)
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
if ! command -v dotnet >/dev/null; then
  # The builds and the demo need neither; the module's tests in make test do.
  echo "install-deps: no .NET SDK (dotnet): PowerShell and Pester are not installed," \
    "so the PowerShell module's tests cannot run" >&2
  exit 0
fi
tools=$(dotnet tool list --global)
if ! grep -Eiq "^powershell +$POWERSHELL_VERSION( |$)" <<<"$tools"; then
  echo "Installing PowerShell $POWERSHELL_VERSION (dotnet global tool)"
  if grep -Eiq "^powershell " <<<"$tools"; then
    dotnet tool update --global PowerShell --version "$POWERSHELL_VERSION" --allow-downgrade >/dev/null
  else
    dotnet tool install --global PowerShell --version "$POWERSHELL_VERSION" >/dev/null
  fi
fi
nuget="$root/build/nuget"
if [[ ! -f "$nuget/pester/$PESTER_VERSION/tools/Pester.psd1" ]]; then
  echo "Restoring Pester $PESTER_VERSION from NuGet into build/nuget"
  mkdir -p "$nuget/fetch"
  sdk=$(dotnet --version)
  cat >"$nuget/fetch/fetch.csproj" <<EOF
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup><TargetFramework>net${sdk%%.*}.0</TargetFramework></PropertyGroup>
  <ItemGroup><PackageDownload Include="Pester" Version="[$PESTER_VERSION]" /></ItemGroup>
</Project>
EOF
  dotnet restore "$nuget/fetch/fetch.csproj" --packages "$nuget" >/dev/null
fi
