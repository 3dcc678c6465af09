#!/usr/bin/env bash
# Whole-program test: Kavelo as its Debian package.
#
#   package_install.sh BUILD_DIR [OUTPUT_DIR]
#
# Packages the build's kavelo (scripts/package.sh BUILD_DIR), installs the package
# with apt-get, starts it on namespaced host A (10.235.7.1, its own display, sound
# server and buses, a scratch home) as the menu entry starts it and lets peer C
# (10.235.7.3, a bare sender) ring it; after the program has closed, removes the
# package and checks what the user's folder holds. Needs root (namespaces,
# apt-get); refuses to run where a kavelo package is installed already, which it
# would otherwise replace and remove.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:?usage: package_install.sh BUILD_DIR [OUTPUT_DIR]}")
out_dir=${2:-}
kavelo=$build/kavelo
phone_wav=$build/Phone.wav
# shellcheck source=namespaced_hosts.sh
. "$here/namespaced_hosts.sh"

hosts_prepare package
if dpkg-query -W -f='${Status}' kavelo 2>/dev/null | grep -q 'install ok installed'; then
  fail "a kavelo package is installed on this machine; remove it first (apt-get remove kavelo)"
fi
# Whatever happens, the machine is left without the package the test installed.
package_cleanup() {
  local rc=$?
  if dpkg-query -W -f='${Status}' kavelo 2>/dev/null | grep -q 'install ok installed'; then
    apt-get remove -y -qq kavelo >/dev/null 2>&1 || echo "package: could not remove the kavelo package" >&2
  fi
  (exit "$rc")
  hosts_cleanup
}
trap package_cleanup EXIT
rm -rf "${out_dir:?}"/*.png "$out_dir"/logs-*

started=$(date +%s)
"$root/scripts/package.sh" "$build" >"$out_dir/package.log" 2>&1 ||
  { tail -n 30 "$out_dir/package.log" >&2; fail "scripts/package.sh failed; see $out_dir/package.log"; }
debs=("$root"/dist/kavelo_*.deb)
[ -f "${debs[0]}" ] || fail "scripts/package.sh left no dist/kavelo_*.deb"
echo "package: built ${debs[0]#"$root"/} in $(($(date +%s) - started)) s"

bare_hosts="c"
hosts_setup "kvpkg$$" a=10.235.7.1 c=10.235.7.3

/usr/bin/python3 "$here/package_install.py" --deb "${debs[0]}" --work "$work" --out "$out_dir" \
  --peer-ns "${tag}c" --peer "${address[c]}"
