#!/usr/bin/python3
# Syncs killed (SIGKILL) at random moments, in both directions, against servers started here on
# 127.0.0.1; then one more sync: each person exactly once on each side, and every change made on
# either side between the kills present on both.
#
#   kill_sync.py PATH/TO/tesselby-contacts [KILLS [CARDS [SERVERS]]]
#
# CARDS people in all, half of them made in the list and half on the server before the first sync, so
# that the first syncs carry CARDS/2 each way; SERVERS is a comma-separated choice of radicale, xandikos
# and own (the tests' own in-memory server, which offers no sync-collection). The kills are shared out
# among the servers. Between kills, people are added, changed and removed in the list (by another
# program's edits of the file and by import), on the server (as a phone would), or both. Each person
# is changed only on one side, so that no change meets a conflict and each one's end is known.
#
# CTest runs a short run; the long one is run by hand:  kill_sync.py COMMAND 200 2000 radicale,xandikos,own
import collections
import os
import random
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import servers_test  # noqa: E402  (the servers and the computer of the sync's tests)
from servers_test import Computer, Misbehaving, Server, start_misbehaving  # noqa: E402

COMMAND = os.path.abspath(sys.argv[1])
KILLS = int(sys.argv[2]) if len(sys.argv) > 2 else 30
CARDS = int(sys.argv[3]) if len(sys.argv) > 3 else 300
KINDS = (sys.argv[4] if len(sys.argv) > 4 else "radicale,xandikos,own").split(",")
servers_test.COMMAND = COMMAND
random.seed(os.environ.get("KILL_SYNC_SEED", str(time.time())))
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, flush=True)


class Own:
    """The tests' own server, in memory, shaped as Server is."""

    def __init__(self):
        Misbehaving.cards = {}
        Misbehaving.faults = []
        self.http, base = start_misbehaving()
        self.kind = "own"
        self.auth = None
        self.base = base + "/"
        self.book = self.base + "book/"

    def stop(self):
        self.http.shutdown()

    def put(self, href, text):
        Misbehaving.counter[0] += 1
        Misbehaving.cards[href.rsplit("/", 1)[-1]] = ('"%d"' % Misbehaving.counter[0], text)
        return 201

    def delete(self, href):
        Misbehaving.cards.pop(href.rsplit("/", 1)[-1], None)

    def texts(self):
        return [text for _, text in Misbehaving.cards.values()]


def server_texts(server):
    return server.texts() if isinstance(server, Own) else list(server.cards().values())


def server_delete(server, href):
    if isinstance(server, Own):
        server.delete(href)
    else:
        status = server.request("DELETE", server.base.rstrip("/") + href)[0]
        check(status in (200, 204), "%s: the phone's removal of %s: %d" % (server.kind, href, status))


def unfolded(text):
    return re.sub(r"\r?\n[ \t]", "", text)


def person_of_card(text):
    """The four values of one of this test's cards, as the sync maps them."""
    text = unfolded(text)
    n = re.search(r"^N[;:](?:[^:\r\n]*:)?(.*?)\r?$", text, re.M)
    tel = re.search(r"^TEL[;:](?:[^:\r\n]*:)?(.*?)\r?$", text, re.M)
    email = re.search(r"^EMAIL[;:](?:[^:\r\n]*:)?(.*?)\r?$", text, re.M)
    parts = (n.group(1) if n else "").split(";")
    last = parts[0] if parts else ""
    first = parts[1] if len(parts) > 1 else ""
    return (first, last, tel.group(1) if tel else "", email.group(1) if email else "")


def record_bytes(values):
    return "".join('"%s"\r\n' % value for value in values).encode()


class World:
    """What each person should be: their values, on which side they are changed, and whether they are
    gone; with the changes made on that side as a phone or another program would."""

    def __init__(self, server, computer):
        self.server = server
        self.computer = computer
        self.people = {}  # number -> [values, side, gone]
        self.next = 0
        self.changes = collections.Counter()

    def values(self, number, version):
        side = self.people[number][1] if number in self.people else None
        return ("%s%d" % ("L" if side == "list" else "R", number), "Kill%d" % version, "555-%d-%d" % (number, version),
                "p%d@kill.test" % number)

    def new(self, side):
        number = self.next
        self.next += 1
        self.people[number] = [None, side, False]
        self.people[number][0] = self.values(number, 0)
        return number

    def href(self, number):
        return self.server.book[len(self.server.base) - 1:] + "r%d.vcf" % number

    def card(self, number):
        first, last, phone, email = self.people[number][0]
        return ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:r%d\r\nN:%s;%s;;;\r\nFN:%s %s\r\nTEL;TYPE=cell:%s\r\n"
                "EMAIL:%s\r\nNOTE:kept by the phone\r\nEND:VCARD\r\n" % (number, last, first, first, last, phone, email))

    def live(self, side):
        return [n for n, (_, s, gone) in self.people.items() if s == side and not gone]

    def import_people(self, numbers):
        if not numbers:
            return
        os.makedirs(self.computer.home, exist_ok=True)
        path = os.path.join(self.computer.home, "in.vcf")
        with open(path, "w") as f:
            for n in numbers:
                first, last, phone, email = self.people[n][0]
                f.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:%s;%s;;;\r\nFN:%s %s\r\nTEL:%s\r\nEMAIL:%s\r\nEND:VCARD\r\n"
                        % (last, first, first, last, phone, email))
        status, out = self.computer.run("import", path)
        check(status == 0, "import of %d people: %s" % (len(numbers), out))

    def change_list(self, adds, changes, removals):
        live = self.live("list")
        random.shuffle(live)
        changed, removed = live[:changes], live[changes:changes + removals]
        with open(self.computer.list_file(), "rb") as f:
            text = f.read()
        for n in changed + removed:
            old = record_bytes(self.people[n][0])
            check(text.count(old) == 1, "person %d is once in the list before an edit: %d" % (n, text.count(old)))
            if n in changed:
                version = int(self.people[n][0][1][4:]) + 1
                self.people[n][0] = self.values(n, version)
                text = text.replace(old, record_bytes(self.people[n][0]))
            else:
                self.people[n][2] = True
                text = text.replace(old, b"")
        # Another program's edit: the file rewritten in place.
        with open(self.computer.list_file(), "wb") as f:
            f.write(text)
        self.import_people([self.new("list") for _ in range(adds)])
        self.changes.update({"list add": adds, "list change": len(changed), "list removal": len(removed)})

    def change_server(self, adds, changes, removals):
        live = self.live("server")
        random.shuffle(live)
        changed, removed = live[:changes], live[changes:changes + removals]
        for n in changed:
            version = int(self.people[n][0][1][4:]) + 1
            self.people[n][0] = self.values(n, version)
            self.server.put(self.href(n), self.card(n))
        for n in removed:
            self.people[n][2] = True
            server_delete(self.server, self.href(n))
        for _ in range(adds):
            n = self.new("server")
            check(self.server.put(self.href(n), self.card(n)) in (200, 201, 204), "the phone's new card %d" % n)
        self.changes.update({"server add": adds, "server change": len(changed), "server removal": len(removed)})

    def expected(self):
        return sorted(values for values, _, gone in self.people.values() if not gone)


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def folder_entries(path):
    try:
        return set(os.listdir(path))
    except FileNotFoundError:
        return set()


def killed_sync(world, mode, duration, landings, log_path):
    """One sync, killed as mode says; where the kill landed goes into landings."""
    computer = world.computer
    state_file = os.path.join(computer.home, "state", "tesselby", "sync-state")
    data_folder = os.path.dirname(computer.list_file())
    list_before, state_before = read_bytes(computer.list_file()), read_bytes(state_file)
    entries_before = folder_entries(data_folder)
    user = ["--user", "alice"] if world.server.auth else []
    with open(log_path, "w") as log:
        process = subprocess.Popen([COMMAND, "sync", "--verbose", "--url", world.server.book, *user], env=computer.env,
                                   stdout=subprocess.DEVNULL, stderr=log)
    started = time.time()
    deadline = started + 300
    writes_wanted = random.randint(1, 40)
    delay = random.uniform(0, duration * 1.2)
    saw_temp = False
    while process.poll() is None and time.time() < deadline:
        if mode == "delay":
            if time.time() - started >= delay:
                break
            time.sleep(0.0005)
        elif mode == "writes":
            with open(log_path, "rb") as f:
                answered = len(re.findall(rb"^(?:PUT|DELETE) [^\n]*\n  \d+\n", f.read(), re.M))
            if answered >= writes_wanted:
                break
            time.sleep(0.002)
        else:  # "save": as soon as the list's folder or the list itself shows the save under way
            entries = folder_entries(data_folder)
            if entries - entries_before:
                saw_temp = True
                break
            if read_bytes(computer.list_file()) != list_before:
                break
            time.sleep(0.0002)
    process.kill()
    process.wait()
    with open(log_path, "rb") as f:
        log = f.read().decode(errors="replace")
    writes_started = len(re.findall(r"^(?:PUT|DELETE) ", log, re.M))
    list_changed = read_bytes(computer.list_file()) != list_before
    state_after = read_bytes(state_file)
    # The state the sync writes before its writes keeps them as "sent" and "taken" lines.
    state_changed = state_after != state_before and not re.search(rb"\n(sent|taken)\t", state_after or b"")
    if process.returncode != -9:
        where = "finished before the kill"
    elif state_changed:
        where = "after the state's write"
    elif list_changed:
        where = "after the list's save, before the state's write"
    elif saw_temp or folder_entries(data_folder) - entries_before:
        where = "mid-save of the list"
    elif writes_started == 0:
        where = "mid-download (listing or fetching)"
    elif log.rstrip("\n").split("\n")[-1].startswith(("PUT ", "DELETE ", "GET ")):
        where = "mid-upload (a write unanswered)"
    else:
        where = "between uploads and the list's save"
    landings[where] += 1
    return time.time() - started


def run_on(server, root, kills, cards):
    tag = server.kind + ": "
    computer = Computer(root, server.kind + "-kill")
    world = World(server, computer)
    landings = collections.Counter()
    # Half the people in the list, half on the server, before the first sync.
    world.import_people([world.new("list") for _ in range(cards // 2)])
    for _ in range(cards - cards // 2):
        n = world.new("server")
        world.server.put(world.href(n), world.card(n))
    log_path = os.path.join(root, server.kind + "-sync.log")
    duration = 2.0
    modes = ["delay", "delay", "writes", "save"]
    started = time.time()
    for kill in range(kills):
        # Changes between kills: in the list, on the server, or both.
        if kill > 0 and random.random() < 0.6:
            direction = random.choice(["list", "server", "both"])
            most = max(6, cards // 40)
            if direction in ("list", "both"):
                world.change_list(random.randint(0, most), random.randint(0, most), random.randint(0, most // 2))
            if direction in ("server", "both"):
                world.change_server(random.randint(0, most), random.randint(0, most), random.randint(0, most // 2))
        before = landings["finished before the kill"]
        took = killed_sync(world, random.choice(modes), duration, landings, log_path)
        if (kill + 1) % 20 == 0:
            print("%s%d kills, %.0f s" % (tag, kill + 1, time.time() - started), flush=True)
        # The delays span the time of the last sync that ran to its end.
        if landings["finished before the kill"] > before:
            duration = max(0.2, took)
    status, out = computer.run("sync", "--url", server.book, *(["--user", "alice"] if server.auth else []))
    check(status == 0, tag + "the sync after the kills succeeds: " + out[-2000:])
    expected = world.expected()
    in_list = sorted(tuple(line.split("\t")) for line in computer.people())
    on_server = sorted(person_of_card(text) for text in server_texts(server))
    for side, found in (("list", in_list), ("server", on_server)):
        counts = collections.Counter(found)
        doubled = [p for p, c in counts.items() if c > 1]
        missing = sorted(set(expected) - set(found))
        extra = sorted(set(found) - set(expected))
        check(not doubled, tag + "each person once on the %s side; doubled: %s" % (side, doubled[:5]))
        check(not missing, tag + "no change lost on the %s side; missing or not as changed: %s" % (side, missing[:5]))
        check(not extra, tag + "nothing on the %s side that should not be: %s" % (side, extra[:5]))
    status, out = computer.run("sync", "--verbose")
    check(status == 0 and "PUT " not in out and "DELETE " not in out, tag + "a sync after that writes nothing: " + out[-2000:])
    print("%s%d kills in %.0f s, %d people at the end; changes between kills: %s" % (
        tag, kills, time.time() - started, len(expected), dict(world.changes)))
    for where, count in sorted(landings.items(), key=lambda item: -item[1]):
        print("  %4d  %s" % (count, where))
    sys.stdout.flush()


def main():
    root = tempfile.mkdtemp(prefix="tesselby-kill-sync-")
    servers = []
    try:
        for i, kind in enumerate(KINDS):
            server = Own() if kind == "own" else Server(kind, root)
            servers.append(server)
            share = KILLS // len(KINDS) + (1 if i < KILLS % len(KINDS) else 0)
            run_on(server, root, share, CARDS)
    finally:
        for server in servers:
            server.stop()
    if failures:
        print("%d checks failed; the folders are in %s" % (len(failures), root))
        sys.exit(1)
    subprocess.run(["rm", "-rf", root])
    print("all checks passed")


if __name__ == "__main__":
    main()
