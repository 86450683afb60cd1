#!/usr/bin/env bash
# Builds everything and runs every test suite. The D-Bus tests need a session
# bus, so the suites run under a private one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
dbus-run-session -- ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
