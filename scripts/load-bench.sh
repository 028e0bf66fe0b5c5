#!/usr/bin/env bash
# The long version of the load test: the same cases as tests/integration/
# load_test.cpp at a larger scale, against the plain (default preset) build.
#
#   scripts/load-bench.sh [connections] [clients] [commands]
#   (defaults: 10000 connections, 200 clients, 2000000 commands)
#
# Prints the commands per second and the helper's resident size before and
# after the load; the test fails if a command goes unanswered or the resident
# size grows by a megabyte or more.
set -euo pipefail
cd "$(dirname "$0")/.."

export FERROWIND_LOAD_CONNECTIONS=${1:-10000}
export FERROWIND_LOAD_CLIENTS=${2:-200}
export FERROWIND_LOAD_COMMANDS=${3:-2000000}

cmake --preset default >/dev/null
cmake --build --preset default --target integration_tests
tests/integration/isolated.sh build/default/tests/integration_tests --gtest_filter='Load.*'
