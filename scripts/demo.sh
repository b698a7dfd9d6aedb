#!/usr/bin/env bash
# Installs what is needed, builds, starts the local service with the demo
# account and the client pointed at it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh normal
exec build/quilloralite
