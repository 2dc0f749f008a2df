#!/usr/bin/env bash
# Writes the generated seed inputs into fuzz/corpus/ again (after a change to the scripts in
# fuzz/seed_writer.cpp); other seeds there are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/fuzz_common.sh
mirte_fuzz_build
build-fuzz/fuzz/seed_writer fuzz/corpus
