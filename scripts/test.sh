#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and runs all tests: once in a normal build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer. MOLTRA_WARNINGS_AS_ERRORS=ON (as in CI)
# makes every compiler warning fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
werror="-DMOLTRA_WARNINGS_AS_ERRORS=${MOLTRA_WARNINGS_AS_ERRORS:-OFF}"
scripts/build.sh build "$werror"
(cd build && ctest --output-on-failure -j 2)
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DMOLTRA_SANITIZE=ON -DMOLTRA_BUILD_BENCHMARKS=OFF "$werror"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j 2)
