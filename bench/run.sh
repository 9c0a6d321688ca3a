#!/usr/bin/env bash
# Runs every benchmark of the release build, then the Python-side comparisons.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../build/release}
python=${PYTHON:-/usr/bin/python3}
status=0
for exe in "$build"/bin/bench_*; do
  [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  "$exe" || status=1
done
for script in "$here"/*.py; do
  [ -f "$script" ] || continue
  echo "== $(basename "$script")"
  PYTHONPATH="$build/python" BUILD_DIR="$build" "$python" "$script" || status=1
done
exit $status
