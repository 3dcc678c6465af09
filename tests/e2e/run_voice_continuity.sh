#!/usr/bin/env bash
# Whole-program test: what a listener hears of a peer that sends as the classic
# program does (2000-byte capture buffers: 240 ms of sound every 250 ms), on a
# clean link and on one with jitter and loss.
#
#   run_voice_continuity.sh KAVELO_BINARY VOICE_PEER_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Hosts on one private bridge: A 10.233.7.1 runs Kavelo; P 10.233.7.2 only sends.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage="usage: run_voice_continuity.sh KAVELO_BINARY VOICE_PEER_BINARY PHONE_WAV [OUTPUT_DIR [--runs N]]"
kavelo=${1:?$usage}
peer=${2:?$usage}
phone_wav=${3:?$usage}
out_dir=${4:-}
shift $(($# < 4 ? $# : 4))
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare voice
[ -x "$peer" ] || fail "no voice peer program at $peer"
peer=$(realpath "$peer")
bare_hosts="p"
hosts_setup "kvvc$$" a=10.233.7.1 p=10.233.7.2

/usr/bin/python3 "$here/voice_continuity.py" --kavelo "$kavelo" --peer "$peer" --work "$work" --out "$out_dir" \
  --host "${hosts[0]}" --peer-ns "${tag}p" "$@"
