#!/usr/bin/env bash
# Runs every benchmark of the release build, then the Python-side comparisons.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../build/release}
python=${PYTHON:-/usr/bin/python3}
status=0
# Debian builds its benchmark library (the harness only) with assertions on, and every benchmark
# says so; the code measured is the project's release build, so the warning is dropped here.
echo "(the benchmark harness is Debian's debug build of Google Benchmark; the code measured is $build)"
for exe in "$build"/bin/bench_*; do
  [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  if ! "$exe" 2>&1 | { grep -v -F '***WARNING*** Library was built as DEBUG' || true; }; then
    status=1
  fi
done
for script in "$here"/*.py; do
  [ -f "$script" ] || continue
  echo "== $(basename "$script")"
  PYTHONPATH="$build/python" BUILD_DIR="$build" "$python" "$script" || status=1
done
exit $status
