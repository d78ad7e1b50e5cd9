#!/usr/bin/env bash
# The one command that runs every test: the C++ units under AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors), then the Python suite against the
# package as users install it. Installs what it needs on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/gtest/gtest.h ]; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev cmake g++ >/dev/null
    else
        echo "GoogleTest headers missing: install libgtest-dev" >&2
        exit 1
    fi
fi

python3 -m pip install -q "scikit-build-core>=0.10" "pybind11>=3.0,<4" "nlohmann-json==3.12.0" \
    "pytest>=8" "hypothesis>=6"

jobs=$(nproc)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZELK_TESTS=ON -DZELK_SANITIZE=ON \
    -DZELK_WERROR=ON -DZELK_PYTHON=OFF -DPython_EXECUTABLE="$(command -v python3)"
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

python3 -m pip install -q .
python3 -m pytest tests/python -q
