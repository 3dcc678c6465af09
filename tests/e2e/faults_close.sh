#!/usr/bin/env bash
# Whole-program test: closing from the tray when app.txt cannot be written.
#
#   faults_close.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]
#
# One namespaced host, A 10.236.3.1, with a desktop: a window manager (openbox)
# and a system tray (trayer) on its display. A folder named app.txt stands in
# A's program folder, so that nobody, root included, can write the file.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: faults_close.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
phone_wav=${2:?usage: faults_close.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare close
for tool in openbox trayer xwininfo; do
  command -v "$tool" >/dev/null 2>&1 || fail "missing tool '$tool' (scripts/install-deps.sh installs it)"
done
rm -rf "${out_dir:?}"/*.png "$out_dir"/logs-*

hosts_setup "kvcls$$" a=10.236.3.1
mkdir "$work/a/program/app.txt"

/usr/bin/python3 "$here/faults_close.py" --kavelo "$kavelo" --work "$work" --out "$out_dir"
