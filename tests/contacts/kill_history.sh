#!/bin/bash
# Kills adds (imports of one person) and safe saves (remove and undo, which save as an EDIT does) at
# random moments, then restores the list to the point before every change the history lists: each must
# be, byte for byte, a list the list held between the changes.
#
#   kill_history.sh COMMAND [KILLS]
#
# CTest runs it with 500 kills (fewer in the sanitizer build).
set -u
command=$(realpath "$1")
kills=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work
export XDG_STATE_HOME=$work/state
cd "$work" || exit 1
: > states.sha1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

list=$work/tesselby/tesselby.txt
# Puts right what a kill left (check reads the list, which takes back a cut add or save) and keeps the
# list as it then stands.
keep_state() {
    "$command" check > /dev/null 2>&1
    [ -f "$list" ] && sha1sum < "$list" >> states.sha1
}

one_person() {
    printf 'First Name,Last Name,Phone,E-Mail\r\nP%d,Q%d,555-%d,p%d@example.org\r\n' "$1" "$1" "$1" "$1" > in.csv
}

now() { date +%s%N; }
one_person 0
start=$(now)
"$command" import in.csv 2> /dev/null || fail "a plain import failed"
duration=$(($(now) - start))
keep_state 0

for ((n = 1; n <= kills; n++)); do
    case $((RANDOM % 4)) in
        0 | 1) one_person "$n"; args=(import in.csv) ;;
        2) args=(remove --yes --record $((RANDOM % 3 + 1))) ;;
        3) args=(undo) ;;
    esac
    delay=$(awk -v d="$duration" -v r="$RANDOM" 'BEGIN { printf "%.6f", d * 1.5 * r / 32768 / 1e9 }')
    "$command" "${args[@]}" > /dev/null 2>&1 &
    pid=$!
    sleep "$delay"
    kill -KILL $pid 2> /dev/null
    wait $pid 2> /dev/null
    keep_state "$n"
done

# Every point, oldest first; the numbers move up by one with each restore that changes the list.
"$command" history --format tsv > history.tsv 2> history.err || fail "history: $(cat history.err)"
points=$(grep -c -v $'\tbegan\t' history.tsv)
for ((from_bottom = 2; from_bottom <= points + 1; from_bottom++)); do
    total=$("$command" history --format tsv 2> /dev/null | wc -l)
    number=$((total - from_bottom + 1))
    "$command" restore "$number" > restore.out 2> restore.err || { fail "restore $number: $(cat restore.err)"; continue; }
    found=no
    grep -qxF "$(sha1sum < "$list")" states.sha1 && found=yes
    # An empty list before the first add is a point too.
    [ $found = no ] && [ ! -s "$list" ] && found=yes
    [ $found = yes ] || fail "the list before change $number (of $total) was never held: $(head -c 200 "$list" | od -c | head -3)"
done
echo "$kills kills; $points points restored; $failures failures"
[ $failures -eq 0 ]
