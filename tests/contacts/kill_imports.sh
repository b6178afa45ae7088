#!/bin/bash
# Stops imports of many people at random moments, with SIGKILL and with the signals a user's Ctrl+C, a
# closed terminal and a plain kill send, then checks the list: every import is in it whole or not at
# all, nobody is doubled or padded, and check and one more import find the list sound.
#
#   kill_imports.sh COMMAND [KILLS] [EACH_SIGNAL] [PEOPLE]
#
# Short runs are registered with CTest; the long one is kill_imports.sh COMMAND 500 300.
set -u
command=$(realpath "$1")
kills=${2:-20}
each=${3:-5}
people=${4:-5000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work
export XDG_STATE_HOME=$work/state
cd "$work" || exit 1
set -m # so that background imports get SIGINT and SIGQUIT as a terminal would send them, not ignored

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

csv() {
    awk -v n="$1" -v p="$people" 'BEGIN {
        printf "First Name,Last Name,Phone,E-Mail\r\n"
        for (i = 0; i < p; i++) printf "I%d,P%d,555-%d,i%d.p%d@example.org\r\n", n, i, i, n, i
    }' > in.csv
}

now() { date +%s%N; }

# Each import in the list whole or absent, the reported ones whole, nobody twice or garbled.
verify() {
    "$command" list > list.out 2> list.err || fail "list: $(cat list.err)"
    awk -F '\t' -v p="$people" -v reported="$reported" '
        BEGIN { split(reported, r, " "); for (k in r) mustBeThere[r[k]] = 1 }
        {
            if (NF != 4 || $1 !~ /^I[0-9]+$/ || $2 !~ /^P[0-9]+$/) { print "garbled: " $0; bad++; next }
            n = substr($1, 2); i = substr($2, 2)
            if ($3 != "555-" i || $4 != "i" n ".p" i "@example.org") { print "garbled: " $0; bad++; next }
            if (seen[$1 "," $2]++) { print "doubled: " $0; bad++ }
            count[n]++
        }
        END {
            for (n in count) if (count[n] != p) { print "import " n " is in part: " count[n] " of " p; bad++ }
            for (n in mustBeThere) if (count[n] != p) { print "import " n " said added but has " count[n] + 0; bad++ }
            exit bad > 0
        }' list.out || fail "the list is not sound (above)"
}

# One import in full, for how long an import takes now.
reported=""
number=0
measure() {
    number=$((number + 1))
    csv $number
    local start
    start=$(now)
    "$command" import in.csv 2> import.err || fail "a plain import failed: $(cat import.err)"
    duration=$(($(now) - start))
    reported="$reported $number"
}

declare -A outcome
round() {
    local signal=$1
    number=$((number + 1))
    csv $number
    # Anywhere from the start to a little past the end of an import.
    local delay
    delay=$(awk -v d="$duration" -v r="$RANDOM" 'BEGIN { printf "%.6f", d * 1.2 * r / 32768 / 1e9 }')
    "$command" import in.csv 2> import.err &
    local pid=$!
    sleep "$delay"
    kill -s "$signal" $pid 2> /dev/null
    wait $pid
    local status=$?
    # An import that said its people were added has them in the list, whatever stopped it after.
    if grep -q "in.csv: $people people added" import.err; then
        reported="$reported $number"
        outcome[$signal,added]=$((${outcome[$signal,added]:-0} + 1))
    elif [ $status -gt 128 ]; then
        outcome[$signal,stopped]=$((${outcome[$signal,stopped]:-0} + 1))
    else
        fail "import $number ended with $status: $(cat import.err)"
    fi
}

measure
plan=()
for ((k = 0; k < kills; k++)); do plan+=(KILL); done
for signal in INT TERM HUP; do
    for ((k = 0; k < each; k++)); do plan+=("$signal"); done
done
done=0
for signal in $(printf '%s\n' "${plan[@]}" | shuf); do
    round "$signal"
    done=$((done + 1))
    # Every 50 rounds, and at the end: check, one more import, the list verified, then a fresh list so
    # that the imports stay the same size.
    if [ $((done % 50)) -eq 0 ] || [ $done -eq ${#plan[@]} ]; then
        "$command" check > check.out 2>&1 || fail "check: $(cat check.out)"
        cut_adds=$((${cut_adds:-0} + $(grep -c "an add was stopped" check.out)))
        measure
        verify
        rm -f "$work/tesselby/tesselby.txt"
        reported=""
        measure
    fi
done
for signal in KILL INT TERM HUP; do
    echo "SIG$signal: ${outcome[$signal,stopped]:-0} imports stopped before they said added, ${outcome[$signal,added]:-0} after"
done
echo "check found ${cut_adds:-0} cut adds to take back; $failures failures"
[ $failures -eq 0 ]
