#!/usr/bin/env bash
# Whole-program test: a call and a desktop stay the user's.
#
#   call_safety.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR [--parts keyboard,answering]]
#
# Hosts on one private bridge (namespaced_hosts.sh): A 10.234.7.1 (caller) and
# B 10.234.7.2 (callee, with a window manager and a terminal to type in) run
# Kavelo; C 10.234.7.3 only sends datagrams, as a stranger would.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: call_safety.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
phone_wav=${2:?usage: call_safety.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare safety
for tool in openbox xterm; do
  command -v "$tool" >/dev/null 2>&1 || fail "missing tool '$tool' (scripts/install-deps.sh installs it)"
done
rm -rf "${out_dir:?}"/*.png "$out_dir"/logs-*

bare_hosts="c"
hosts_setup "kvsaf$$" a=10.234.7.1 b=10.234.7.2 c=10.234.7.3

printf 'Bob|%s\r\n' "${address[b]}" >"$work/a/program/contacts.vip"
printf 'Alice|%s\r\n' "${address[a]}" >"$work/b/program/contacts.vip"

/usr/bin/python3 "$here/call_safety.py" --kavelo "$kavelo" --work "$work" --out "$out_dir" \
  --stranger-ns "${tag}c" --stranger "${address[c]}" "${@:4}"
