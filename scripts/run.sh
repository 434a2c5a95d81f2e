#!/usr/bin/env bash
# The main job: builds the host, makes a real recording with it (against your
# sound server, or a private one with test tones when none runs), then runs a
# scripted serial session against it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
export QUILLON_BUILD_DIR="${QUILLON_BUILD_DIR:-build}"
python3 scripts/record_demo.py "$@"
echo
exec python3 scripts/demo_session.py
