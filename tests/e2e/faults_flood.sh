#!/usr/bin/env bash
# Whole-program test: a call between two namespaced hosts while a third floods
# the callee with datagrams from 1 000 source addresses.
#
#   faults_flood.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Hosts on one private bridge (10.232.0.0/16): A 10.232.7.1 and B 10.232.7.2 run
# Kavelo, each with its own sound server, display and buses; C 10.232.7.3 only
# sends, from the extra addresses 10.232.8.0 - 10.232.11.231 on its interface.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: faults_flood.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
phone_wav=${2:?usage: faults_flood.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare flood

bare_hosts="c"
hosts_setup "kvffl$$" a=10.232.7.1 b=10.232.7.2 c=10.232.7.3

# C's 1 000 flood addresses.
/usr/bin/python3 - "$work/flood-addresses" <<'PY'
import ipaddress, sys
base = ipaddress.IPv4Address("10.232.8.0")
with open(sys.argv[1], "w") as f:
    for i in range(1000):
        f.write("address add %s/16 dev eth0\n" % (base + i))
PY
ip -n "${tag}c" -batch "$work/flood-addresses" || fail "cannot add the flood addresses to host c"

printf 'Bob|%s\r\n' 10.232.7.2 >"$work/a/program/contacts.vip"
printf 'Alice|%s\r\n' 10.232.7.1 >"$work/b/program/contacts.vip"

/usr/bin/python3 "$here/faults_flood.py" --kavelo "$kavelo" --work "$work" --out "$out_dir" --sender-ns "${tag}c"
