#!/usr/bin/env bash
# The main job: installs what is missing, builds, then types sample sentences
# through the input method (server, controller, engine and the generated data)
# and prints what it commits. Arguments, if any, are passed to taviro-type
# instead (see build/bin/taviro-type --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
bash scripts/build.sh >/dev/null
BUILD_DIR=${BUILD_DIR:-build}
if [ $# -gt 0 ]; then
  exec "$BUILD_DIR"/bin/taviro-type "$@"
fi
printf '%s\n' "nihao " "woshizhongguoren " "jintiantianqihenhao " "xi'an " \
  | "$BUILD_DIR"/bin/taviro-type 2> >(grep -v '!!!' >&2)
