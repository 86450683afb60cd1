#!/usr/bin/env bash
# The main job: installs what is missing, builds, then runs the demonstration
# of the SQLite layer on a real database file in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
bash scripts/build.sh >/dev/null
BUILD_DIR=${BUILD_DIR:-build}
"$BUILD_DIR"/bin/sqlkit-demo "$@"
