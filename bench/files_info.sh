#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The source files info view with 5,000 sources: gathering, opening, sorting.
# Usage: bench/files_info.sh [BUILD_DIR]
set -eu
build=${1:-build}
QT_LOGGING_RULES="qt.qpa.*=false" "$build/bench/files_info_bench" "$build/bench/info"
