#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those
# that are missing. Safe to run again: a complete machine installs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev   # native build, sanitizers, libFuzzer
  googletest libgtest-dev libbenchmark-dev         # tests and benchmarks
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 xvfb xauth                           # Windows tests
  python3
  libssl-dev python3-cryptography                  # qmpack's signing natively; the signature cross-check
  tinyproxy                                        # the HTTP client's real proxy peer
  nginx openssl                                    # the TLS server of the HTTPS tests, the demo and the benchmark; its certificates
  imagemagick                                      # screenshots of the program's windows (PNG)
  fonts-liberation                                 # Arial's metrics for the windows under Wine
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: must run as root to install packages" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
