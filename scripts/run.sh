#!/usr/bin/env bash
# The main job: builds the host and runs a scripted session against it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
export QUILLON_BUILD_DIR="${QUILLON_BUILD_DIR:-build}"
exec python3 scripts/demo_session.py "$@"
