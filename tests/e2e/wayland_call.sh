#!/usr/bin/env bash
# Whole-program test: a call with Kavelo on Wayland.
#
#   wayland_call.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]
#
# Two namespaced hosts: A 10.237.4.1 runs Kavelo on X11 as ever; B 10.237.4.2 runs
# it on a headless Wayland compositor (weston) with Qt's Wayland platform. B is
# worked through its accessibility bus alone: on Wayland no program may move the
# pointer or type into another's windows.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kavelo=${1:?usage: wayland_call.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
phone_wav=${2:?usage: wayland_call.sh KAVELO_BINARY PHONE_WAV [OUTPUT_DIR]}
out_dir=${3:-}
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare wayland
command -v weston >/dev/null 2>&1 || fail "missing tool 'weston' (scripts/install-deps.sh --tests installs it)"
[ -e /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so ] ||
  fail "missing Qt's Wayland platform (qt6-wayland; scripts/install-deps.sh --tests installs it)"
rm -rf "${out_dir:?}"/*.png "$out_dir"/*.wav "$out_dir"/logs-*

hosts_setup "kvwl$$" a=10.237.4.1 b=10.237.4.2
printf 'Bob|%s\r\n' "${address[b]}" >"$work/a/program/contacts.vip"
printf 'Alice|%s\r\n' "${address[a]}" >"$work/b/program/contacts.vip"

/usr/bin/python3 "$here/wayland_call.py" --kavelo "$kavelo" --work "$work" --out "$out_dir"
