#!/usr/bin/env bash
# Runs the Python suite against a module built with AddressSanitizer and
# UndefinedBehaviorSanitizer. The interpreter itself is not instrumented, so the ASan
# runtime is preloaded ahead of everything else, Python's own allocator is bypassed
# (PYTHONMALLOC=malloc) so that ASan sees every block, and leak detection is off: the
# interpreter keeps memory alive at exit by design. Any sanitizer report aborts the run.
#
#   bash tools/test_asan_python.sh [pytest arguments]
#
# The plot tests are left out: matplotlib's own extension modules abort on import under
# the preloaded runtime, which says nothing about ours. So are the tests that bound
# processor time (marked "timing"): the instrumented build runs several times slower.
# So are the tests of the static checks: they run the linters on a copy of the tree and
# load no compiled code, and they take a sixth of this pass.
#
# The batch tests' worker pools start from a fork server. Forked straight from the test
# process, a worker could inherit the sanitizer allocator's lock held by a thread that
# Python had already joined but that was still returning its cache to the allocator on
# its way out (this runtime takes no lock around fork, as glibc's malloc does): the
# worker then waits on that lock for ever. Seen in about one run in four.
#
# The tests run in one process per core (none of them bounds time here, see above).
#
# A test that runs longer than 10 minutes has its stacks printed, and the whole pass
# is cut at 50 minutes, so that a hang fails with a trace instead of stalling the run.
#
# Builds in build-asan-py (optimised with debug info: the solves are budgeted in
# processor seconds, and an unoptimised build would explore too little within them).
set -euo pipefail
cd "$(dirname "$0")/.."

python3 -m pip install -q "pybind11>=3.0,<4" "nlohmann-json==3.12.0" "pytest>=8" \
    "pytest-xdist>=3.6" "hypothesis>=6"

cmake -S . -B build-asan-py -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=ON \
    -DZELK_PYTHON=ON -DZELK_TESTS=OFF -DZELK_WERROR=ON \
    -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build build-asan-py -j"$(nproc)" --target _zelk_core

libasan=$(${CXX:-g++} -print-file-name=libasan.so)
if [ ! -e "$libasan" ]; then
    echo "libasan.so not found next to ${CXX:-g++}" >&2
    exit 1
fi

# The C++ runtime is preloaded too: the interpreter does not link it, and without it at
# start-up ASan's exception interceptor finds no __cxa_throw and aborts the first throw.
libstdcxx=$(${CXX:-g++} -print-file-name=libstdc++.so.6)

# Reports go to files (pytest captures the error stream and would swallow them on an
# abort) and are printed when the run fails. The package's Python sources come from the
# tree, the compiled module from the build.
log_dir=$(mktemp -d)
status=0
LD_PRELOAD="$libasan $libstdcxx" \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1:log_path="$log_dir/asan" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path="$log_dir/ubsan" \
PYTHONMALLOC=malloc \
ZELK_TEST_START_METHOD=forkserver \
PYTHONPATH="$PWD/build-asan-py:$PWD/python${PYTHONPATH:+:$PYTHONPATH}" \
    timeout --signal=ABRT 3000 python3 -m pytest tests/python -q -p no:cacheprovider -n "$(nproc)" \
    -o faulthandler_timeout=600 -k "not plot" -m "not timing" \
    --ignore=tests/python/test_static_checks.py "$@" \
    || status=$?
if compgen -G "$log_dir/*" >/dev/null; then
    cat "$log_dir"/* >&2
    status=${status/#0/1}
fi
rm -rf "$log_dir"
exit "$status"
