#!/usr/bin/env bash
# Regenerates the golden list (tests/golden/jobs.txt) after a change that is meant to change
# the filter's output, and lists the groups of jobs whose output changed. Review the list
# before committing it: every group named must be one the change was meant to reach.
#   scripts/golden.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j"$(nproc)" --target label_tests >/dev/null
GOLDEN_UPDATE=1 "$build/tests/label_tests" --gtest_filter="GoldenJobs.*" --gtest_brief=1 | sed -n 's/^changed: /changed: /p'
git --no-pager diff --stat -- tests/golden/jobs.txt
