#!/usr/bin/env bash
# The static checks: every C++ file against the repository's .clang-format, and ruff
# and mypy on the Python package. Exits non-zero on any finding. Takes the root of a
# tree to check (default: this repository), so that a test can plant a fault in a copy.
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

status=0
cpp_files=$(find core graph plugins search improve bindings tests benchmarks \
    \( -name '*.cpp' -o -name '*.h' \) -type f 2>/dev/null | sort || true)
if [ -n "$cpp_files" ]; then
    # shellcheck disable=SC2086
    clang-format-14 --dry-run --Werror $cpp_files || status=1
fi
ruff check --quiet python/ || status=1
# The compiled module's stubs ship as a stub-only package; mypy reads them from a
# folder where they carry the module's own name, without a build.
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
cp python/_zelk_core-stubs/__init__.pyi "$stubs/_zelk_core.pyi"
MYPYPATH="$stubs" mypy --no-error-summary --cache-dir "$stubs/.mypy_cache" python/zelk || status=1
exit $status
