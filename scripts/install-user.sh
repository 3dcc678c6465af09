#!/usr/bin/env bash
# Builds Kavelo and installs it for the current user: the program folder
# ~/.local/share/kavelo (kavelo, Phone.wav; contacts.vip and app.txt are kept
# there), a launcher in the applications menu and its icon.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${1:-$HOME/.local}"

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target kavelo
cmake --install build/default --prefix "$prefix"
if command -v update-desktop-database >/dev/null 2>&1; then
  update-desktop-database "$prefix/share/applications" 2>/dev/null || true
fi
echo "Kavelo is installed in $prefix/share/kavelo; start it from the applications menu."
