#!/usr/bin/env bash
# Whole-program test: Kavelo without a sound server at start, and a sound server
# killed in the middle of a call.
#
#   faults_audio_server.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Hosts on one private bridge: A 10.232.5.1, B 10.232.5.2 (its program is
# pointed at a sound server that does not exist), C 10.232.5.3.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: faults_audio_server.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
phone_wav=${2:?usage: faults_audio_server.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare faults

hosts_setup "kvfas$$" a=10.232.5.1 b=10.232.5.2 c=10.232.5.3
/usr/bin/python3 "$here/faults_audio_server.py" --kavelo "$kavelo" --work "$work" --out "$out_dir"
