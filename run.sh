#!/usr/bin/env bash
# Installs what the build needs, builds MIRTE in build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
mirte_install_packages
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -x build/mirte ]; then
  exec build/mirte
else
  echo "Built everything; there is no program to start yet."
fi
