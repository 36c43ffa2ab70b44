#!/usr/bin/env bash
# Installs what building and testing segmix needs, from Debian's packages,
# when it is missing: cmake, ninja, g++, GoogleTest, Google Benchmark and
# clang-format (the test script checks the source layout with it), and
# the companion programs' libraries CLI11, Eigen, Boost.Math and nlohmann-json;
# Vega (libjs-vega: segmix-fit's build inlines it into report.html) and
# chromium and nodejs (the browser stage of tools/test-all.sh renders the
# report through the DevTools protocol); then
# the fuzzing toolchain, clang 16 with its sanitizer and libFuzzer runtime
# (clang++ 15 or newer is needed: libstdc++ 12's <source_location> is
# available to clang only from 15 on); GNU parallel (parallel), and Slurm
# with MUNGE (slurm-wlm, munge), which the split-bootstrap stage
# (tools/check-slurm.sh) runs slices under. Pass extra package names to
# install them too.
#
# The fuzzing toolchain and Slurm are optional: when one cannot be installed
# the script says so and goes on, and tools/test-all.sh skips its fuzz stage
# or the Slurm half of the split-bootstrap stage.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev clang-format
  libcli11-dev libeigen3-dev libboost-math-dev nlohmann-json3-dev
  libjs-vega chromium nodejs parallel "$@")
fuzz_packages=(clang-16 libclang-rt-16-dev)
slurm_packages=(slurm-wlm munge)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=0
apt_install() {
  if ((updated == 0)); then
    $sudo apt-get update -q
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$@"
}

mapfile -t missing < <(missing_of "${packages[@]}")
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt_install "${missing[@]}"
fi

mapfile -t missing < <(missing_of "${fuzz_packages[@]}")
if ((${#missing[@]})); then
  echo "installing the fuzzing toolchain: ${missing[*]}"
  apt_install --no-install-recommends "${missing[@]}" ||
    echo "install-deps.sh: could not install ${missing[*]}; fuzzing will be skipped" >&2
fi

mapfile -t missing < <(missing_of "${slurm_packages[@]}")
if ((${#missing[@]})); then
  echo "installing Slurm: ${missing[*]}"
  apt_install --no-install-recommends "${missing[@]}" ||
    echo "install-deps.sh: could not install ${missing[*]}; the Slurm stage will be skipped" >&2
fi
