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
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare soak

hosts_setup "kvfsk$$" a=10.232.9.1 b=10.232.9.2
/usr/bin/python3 "$here/soak_call.py" --kavelo "$kavelo" --work "$work" --out "$out_dir" \
  --minutes "$minutes" --interval "$interval" --allowed-kib "${SOAK_ALLOWED_KIB:-2048}"
