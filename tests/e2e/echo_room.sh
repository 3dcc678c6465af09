#!/usr/bin/env bash
# Whole-program test: echo through a room in a call between two namespaced Kavelo hosts.
#
#   echo_room.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Two hosts on one private bridge (namespaced_hosts.sh): A 10.238.5.1 talks,
# B 10.238.5.2 has the room (a loopback from its speaker into its microphone).
# The Python driver makes the room, starts the call and measures what A hears
# of itself, B's voice through double talk, the measure's floor and the room
# with B's echo cancellation switched off.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage="usage: echo_room.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]"
kavelo=${1:?$usage}
phone_wav=${2:?$usage}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare echo-room
rm -rf "$out_dir"/*.wav "$out_dir"/*.png "$out_dir"/logs-* "$out_dir"/echo-room.json
hosts_setup "kvecr$$" a=10.238.5.1 b=10.238.5.2

printf 'Bob|%s\r\n' "${address[b]}" >"$work/a/program/contacts.vip"
printf 'Alice|%s\r\n' "${address[a]}" >"$work/b/program/contacts.vip"

/usr/bin/python3 "$here/echo_room.py" --kavelo "$kavelo" --work "$work" --out "$out_dir" --hosts "${hosts[@]}"
