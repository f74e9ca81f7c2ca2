#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Collecting a dropped tree of 20,000 files. Usage: bench/collect_sources.sh [BUILD_DIR]
set -eu
build=${1:-build}
"$build/bench/collect_sources_bench" "$build/bench/tree"
