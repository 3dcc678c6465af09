#!/usr/bin/env bash
# Checks that includes between the folders of src/ point down only:
#   app -> windows -> audio / net / store / desktop -> platform -> voice
# (folders on one line do not include each other), that the voice code is plain
# C++ (no Qt, no libpulse), and that only the sound-server layer includes libpulse.
set -euo pipefail
src=${1:?usage: check_layers.sh SRC_DIR}
cd "$src"

rank() {
    case "$1" in
    app) echo 5 ;;
    windows) echo 4 ;;
    audio | net | store | desktop) echo 3 ;;
    platform) echo 2 ;;
    voice) echo 1 ;;
    *) echo 0 ;;
    esac
}

faults=0
fault() {
    echo "$1"
    faults=$((faults + 1))
}

while IFS= read -r file; do
    from=${file%%/*}
    [ "$from" = "$file" ] && continue # main.cpp, the program's entry
    from_rank=$(rank "$from")
    [ "$from_rank" = 0 ] && fault "$file: a folder no layer names"
    while IFS= read -r included; do
        to=${included%%/*}
        to_rank=$(rank "$to")
        if [ "$to_rank" = 0 ]; then
            fault "$file includes \"$included\": a folder no layer names"
        elif [ "$to" != "$from" ] && [ "$to_rank" -ge "$from_rank" ]; then
            fault "$file includes \"$included\": $to is not below $from"
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort)

while IFS= read -r hit; do
    fault "$hit: the voice code includes no Qt and no libpulse"
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(Q|pulse/)' voice || true)

while IFS= read -r hit; do
    fault "$hit: only src/platform/pulse talks to the sound server"
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<pulse/' . | grep -v '^\./platform/pulse/' || true)

if [ "$faults" -gt 0 ]; then
    echo "$faults include(s) against the layers"
    exit 1
fi
echo "includes point down only"
