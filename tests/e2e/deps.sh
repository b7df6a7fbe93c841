#!/usr/bin/env bash
# Installs what the end-to-end suite (and, with --demo, tools/demo) needs.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "${1:-}" = --demo ]; then exec tools/packages wine demo; fi
exec tools/packages wine
