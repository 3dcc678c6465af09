#!/usr/bin/env bash
# Call benchmarks between two namespaced Kavelo hosts: start-up, idle memory and
# wake-ups, mouth-to-ear latency and the CPU a full-duplex call costs.
#
#   bench_call_metrics.sh KAVELO_BINARY BARE_WINDOW_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Two hosts on one private bridge (namespaced_hosts.sh): A 10.231.9.1, B 10.231.9.2.
# KAVELO_BENCH_KEEPALIVE_MS: period of the quiet stream kept on each virtual sink
# (20, as a busy desktop's sound card; 0: none, each sink runs at its clients' pace).
# KAVELO_BENCH_ECHO_CANCELLATION=0: both programs start with their echo canceller
# off, as a headset user leaves it, to measure what the canceller costs.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage="usage: bench_call_metrics.sh KAVELO_BINARY BARE_WINDOW_BINARY PHONE_WAV [OUTPUT_DIR]"
kavelo=${1:?$usage}
bare=${2:?$usage}
phone_wav=${3:?$usage}
out_dir=${4:-}
keepalive_ms=${KAVELO_BENCH_KEEPALIVE_MS:-20}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare bench
[ -x "$bare" ] || fail "no bare window program at $bare"
bare=$(realpath "$bare")
hosts_setup "kvb$$" a=10.231.9.1 b=10.231.9.2

printf 'Bob|%s\r\n' "${address[b]}" >"$work/a/program/contacts.vip"
printf 'Alice|%s\r\n' "${address[a]}" >"$work/b/program/contacts.vip"
if [ "${KAVELO_BENCH_ECHO_CANCELLATION:-1}" = 0 ]; then
  for host in a b; do printf 'EchoCancellation=0\n' >"$work/$host/program/kavelo.ini"; done
fi

/usr/bin/python3 "$here/bench_call_metrics.py" --kavelo "$kavelo" --bare "$bare" --work "$work" --out "$out_dir" --hosts "${hosts[@]}"
