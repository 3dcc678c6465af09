#!/usr/bin/env bash
# Whole-program test: a real call between Kavelo programs on separate network hosts.
#
#   run_two_host_call.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Three hosts on one private bridge (namespaced_hosts.sh):
#   A 10.231.7.1 (caller), B 10.231.7.2 (callee), C 10.231.7.3 (rings B during the call).
# The Python driver then runs one Kavelo per host and works it through its
# windows over the accessibility bus.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: run_two_host_call.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
phone_wav=${2:?usage: run_two_host_call.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare e2e
rm -rf "$out_dir"/*.png "$out_dir"/*.wav "$out_dir"/logs-*
hosts_setup "kve2e$$" a=10.231.7.1 b=10.231.7.2 c=10.231.7.3

# The contact lists name the other hosts (CR LF lines of name|address).
printf 'Bob|%s\r\n' "${address[b]}" >"$work/a/program/contacts.vip"
printf 'Alice|%s\r\nCarol|%s\r\n' "${address[a]}" "${address[c]}" >"$work/b/program/contacts.vip"
printf 'Bob|%s\r\n' "${address[b]}" >"$work/c/program/contacts.vip"

/usr/bin/python3 "$here/two_host_call.py" --kavelo "$kavelo" --work "$work" --out "$out_dir" --hosts "${hosts[@]}"
