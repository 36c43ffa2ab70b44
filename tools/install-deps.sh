#!/usr/bin/env bash
# Installs what building and testing segmix needs, from Debian's packages,
# when it is missing: cmake, ninja, g++, GoogleTest and Google Benchmark.
# Pass extra package names to install them too (e.g. clang for the fuzzers).
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
