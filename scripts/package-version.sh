#!/usr/bin/env bash
# Prints the version a package built from this tree carries: the project's
# version on a clean tree at its release tag (v0.1.0 or 0.1.0); otherwise the
# commit is added, with "+dirty" when the tree has changes not committed
# (0.1.0+git6b2ee1a+dirty), so a test package never passes for a release.
# Outside a git checkout, the project's version.
set -euo pipefail
cd "$(dirname "$0")/.."
base=$(sed -n 's/^project(quillon-host VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if ! git rev-parse --git-dir >/dev/null 2>&1; then
  echo "$base"
  exit 0
fi
dirty=""
[[ -n "$(git status --porcelain)" ]] && dirty="+dirty"
if [[ -z "$dirty" ]] && git tag --points-at HEAD | grep -qxE "v?${base//./\\.}"; then
  echo "$base"
else
  echo "$base+git$(git rev-parse --short=7 HEAD)$dirty"
fi
