#!/usr/bin/env bash
# Renders the temperature graph with a made-up history into build/term_graph.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release >/dev/null
QT_QPA_PLATFORM=offscreen build/test_ui --gtest_filter='TermGraphPaint.*' >/dev/null
echo "$(pwd)/build/term_graph.png"
