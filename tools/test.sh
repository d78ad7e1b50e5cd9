#!/usr/bin/env bash
# The one command that runs every test: the C++ units under AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors), then the Python suite against the
# package as users install it. Installs what it needs on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/gtest/gtest.h ] || ! command -v clang-format-14 >/dev/null; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev cmake g++ \
            clang-format-14 >/dev/null
    else
        echo "GoogleTest headers or clang-format-14 missing: install libgtest-dev clang-format-14" >&2
        exit 1
    fi
fi

python3 -m pip install -q "scikit-build-core>=0.10" "pybind11>=3.0,<4" "nlohmann-json==3.12.0" \
    "pytest>=8" "pytest-xdist>=3.6" "hypothesis>=6" numpy matplotlib "dask[distributed]" "vrplib>=1.4" \
    "ruff==0.17.6" "mypy==2.4.1"

# Formatting, lint and types first: they take seconds and fail the run on any finding.
bash tools/static_checks.sh

jobs=$(nproc)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZELK_TESTS=ON -DZELK_SANITIZE=ON \
    -DZELK_WERROR=ON -DZELK_PYTHON=OFF -DPython_EXECUTABLE="$(command -v python3)"
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

# A short libFuzzer run over the JSON instance path (seed corpus plus 2000 mutations,
# well under a minute); any sanitizer report or undocumented exception fails the run.
fuzzer_runtime() { echo "$(clang++-14 -print-runtime-dir 2>/dev/null)/libclang_rt.fuzzer-x86_64.a"; }
if ! command -v clang++-14 >/dev/null || [ ! -f "$(fuzzer_runtime)" ]; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-14 libclang-rt-14-dev >/dev/null
    else
        echo "clang-14 and libclang-rt-14-dev missing: install them to run the fuzzer" >&2
        exit 1
    fi
fi
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DZELK_FUZZ=ON \
    -DZELK_PYTHON=OFF -DZELK_TESTS=OFF -DPython_EXECUTABLE="$(command -v python3)"
cmake --build build-fuzz -j"$jobs" --target json_instance_fuzzer
# New inputs go to a scratch folder, a crashing input to build-fuzz/crash-*.
fuzz_out=$(mktemp -d)
build-fuzz/tests/fuzz/json_instance_fuzzer -runs=2000 -seed=1 -close_fd_mask=3 \
    -dict=tests/fuzz/json_instance.dict -artifact_prefix=build-fuzz/ \
    "$fuzz_out" tests/fuzz/corpus
rm -rf "$fuzz_out"

python3 -m pip install -q .
# One test process per core; the tests that bound time (marked "timing") run alone after,
# so that no other test competes with them for the processor.
python3 -m pytest tests/python -q -n "$jobs" -m "not timing"
python3 -m pytest tests/python -q -m timing
