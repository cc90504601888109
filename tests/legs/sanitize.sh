#!/usr/bin/env bash
# The whole suite built and run under AddressSanitizer and UBSan: any report
# of either ends the process that made it, and so fails its test.
set -eu
cd "$(dirname "$0")/../.."
cmake --workflow --preset asan
