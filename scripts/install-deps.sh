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
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
