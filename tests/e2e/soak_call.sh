#!/usr/bin/env bash
# Soak test: a long full-duplex call between two namespaced hosts, with each
# Kavelo's resident memory sampled at a fixed interval. Not run by CI.
#
#   soak_call.sh KAVELO_BINARY PHONE_WAV [MINUTES [SAMPLE_SECONDS [OUTPUT_DIR]]]
#
# Defaults: 60 minutes, one sample a minute, growth allowed up to 2 MB (2048 KiB;
# SOAK_ALLOWED_KIB overrides). Hosts A 10.232.9.1 and B 10.232.9.2 on a private bridge.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: soak_call.sh KAVELO_BINARY PHONE_WAV [MINUTES [SAMPLE_SECONDS [OUTPUT_DIR]]]}
phone_wav=${2:?usage: soak_call.sh KAVELO_BINARY PHONE_WAV [MINUTES [SAMPLE_SECONDS [OUTPUT_DIR]]]}
minutes=${3:-60}
interval=${4:-60}
out_dir=${5:-}
# shellcheck source=faults_hosts.sh
. "$here/faults_hosts.sh"

[ -x "$kavelo" ] || fail "no Kavelo program at $kavelo"
[ -f "$phone_wav" ] || fail "no ring sound at $phone_wav"
kavelo=$(realpath "$kavelo")
faults_require

work=$(mktemp -d /tmp/kavelo-soak.XXXXXX)
chmod 755 "$work"
[ -n "$out_dir" ] || out_dir="$work/out"
mkdir -p "$out_dir"
hosts=()
tag="kvfsk$$"
trap faults_cleanup EXIT
trap 'exit 1' INT TERM

faults_setup "$tag" a=10.232.9.1 b=10.232.9.2
/usr/bin/python3 "$here/soak_call.py" --kavelo "$kavelo" --work "$work" --out "$out_dir" \
  --minutes "$minutes" --interval "$interval" --allowed-kib "${SOAK_ALLOWED_KIB:-2048}"
