#!/usr/bin/env bash
# Installs what is missing, builds and starts Quorvane.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cd "$ZOR_ROOT"

zor_install_packages
zor_install_npm
zor_build build

exec ./build/Quorvane "$@"
