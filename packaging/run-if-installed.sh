#!/bin/sh
# Runs a validator when it is installed; otherwise says why and exits 77, which CTest counts as a
# skip. scripts/install-deps.sh installs both validators.
tool=$1
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "skipped: $tool is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
exec "$@"
