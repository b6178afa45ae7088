#!/bin/bash
# Imports run while a sync tool keeps delivering new versions of the list by rename, as Syncthing,
# Dropbox or an editor that saves by rename does: it copies the list, sometimes adds a person of its own,
# and renames the copy into place if the list's inode, size and change time are as they were. Every
# import that said its people were added must have them in the list exactly once; every other one must
# have said they were not, and have none of them there.
#
#   race_imports.sh COMMAND [SECONDS] [PEOPLE]
set -u
command=$(realpath "$1")
seconds=${2:-5}
people=${3:-50}
work=$(mktemp -d)
export XDG_DATA_HOME=$work
export XDG_STATE_HOME=$work/state
list=$work/tesselby/tesselby.txt
cd "$work" || exit 1

/usr/bin/python3 - "$list" "$work/stop" > sync.out <<'PY' &
import os, random, sys, time
path, stop = sys.argv[1], sys.argv[2]
delivered = own = 0
while not os.path.exists(stop):
    time.sleep(random.random() * 0.03)  # a delivery every 15 ms on average, far more often than real tools
    try:
        seen = os.stat(path)
        with open(path, 'rb') as f:
            text = f.read()
    except FileNotFoundError:
        continue
    if delivered % 5 == 0:
        own += 1
        text += b'"Sync%d"\r\n"Tool"\r\n""\r\n""\r\n' % own
    temporary = path + '.sync-tmp'
    with open(temporary, 'wb') as f:
        f.write(text)
        os.fsync(f.fileno())
    now = os.stat(path)
    if (now.st_ino, now.st_size, now.st_mtime_ns, now.st_ctime_ns) == (seen.st_ino, seen.st_size, seen.st_mtime_ns, seen.st_ctime_ns):
        os.rename(temporary, path)
        delivered += 1
    else:
        os.unlink(temporary)
print(delivered, own)
PY
sync=$!
trap 'touch "$work/stop"; wait $sync 2>/dev/null; rm -rf "$work"' EXIT

added="" refused="" silent=""
number=0
end=$(($(date +%s) + seconds))
while [ "$(date +%s)" -lt "$end" ]; do
    number=$((number + 1))
    awk -v n="$number" -v p="$people" 'BEGIN {
        printf "First Name,Last Name\r\n"; for (i = 0; i < p; i++) printf "R%d,P%d\r\n", n, i }' > in.csv
    "$command" import in.csv 2> import.err
    status=$?
    if [ $status -eq 0 ] && grep -q "$people people added" import.err; then
        added="$added $number"
    elif [ $status -ne 0 ] && grep -q "were not added" import.err; then
        refused="$refused $number"
    else
        silent="$silent $number"
    fi
done
touch "$work/stop"
wait $sync
read -r delivered own < sync.out

"$command" list > list.out || exit 1
awk -F '\t' -v p="$people" -v added="$added" -v refused="$refused" '
    BEGIN { split(added, a, " "); split(refused, r, " ") }
    $1 ~ /^R[0-9]+$/ { count[substr($1, 2)]++; if (seen[$1 "," $2]++) { print "doubled: " $1 " " $2; bad++ } }
    END {
        for (k in a) if (count[a[k]] != p) { print "import " a[k] " said added, has " count[a[k]] + 0; bad++ }
        for (k in r) if (count[r[k]] != 0) { print "import " r[k] " said not added, has " count[r[k]]; bad++ }
        exit bad > 0
    }' list.out
sound=$?
set -- $added; nAdded=$#
set -- $refused; nRefused=$#
set -- $silent; nSilent=$#
echo "$number imports in ${seconds}s beside $delivered deliveries by rename ($own with a person of the tool's own):" \
     "$nAdded added, $nRefused said not added, $nSilent said neither"
[ $sound -eq 0 ] && [ $nSilent -eq 0 ]
