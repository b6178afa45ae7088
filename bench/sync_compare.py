#!/usr/bin/python3
# tesselby-contacts sync beside vdirsyncer (Debian's), syncing the same address book into a folder of .vcf
# files, in this one run, on the same server: Radicale and Xandikos, started here on 127.0.0.1 with their
# storage in a temporary folder and the cards written straight into it before they start.
#   sync_compare.py PATH/TO/tesselby-contacts [--runs 3] [--servers radicale:10000,xandikos:1000]
#                   [--memory xandikos:50000]
# Each figure is the median of the runs, the two programs taking turns to go first; the spread is the
# fastest and the slowest run. Xandikos looks up each card vdirsyncer fetches by going over the whole
# book, so vdirsyncer's first sync there grows with the square of the book (65 s for 1,000 cards): it is
# compared at a smaller size. The memory is tesselby's alone, against its list's size.
import argparse
import base64
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

FIRST = ["Ann", "Bob", "Carl", "Dora", "Émile", "Fatima", "Grace", "Hiro", "Ines", "José", "Kwame", "Lena",
         "Mei", "Nikolai", "Olu", "Priya", "Quentin", "Rosa", "Søren", "Tariq", "Uma", "Viktor", "Wen", "Yusuf"]
LAST = ["Smith", "Okafor", "O'Brien", "García", "Nguyen", "Müller", "Kowalski", "Tanaka", "Jones, Jr.", "Lee",
        "Ivanova", "Dubois", "Haddad", "Silva", "Kim", "Novák", "Rossi", "Andersson", "Mensah", "Singh"]


def card(i):
    """A card as a phone keeps it: version 3.0, a UID, N and FN, two phones and an e-mail address."""
    rng = random.Random(i)
    first, last = rng.choice(FIRST), rng.choice(LAST)
    escaped = last.replace(",", "\\,")
    mail = "%s.%s.%d@example.org" % (first.lower(), re.sub(r"[^a-z]", "", last.lower()), i)
    return ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%08x-bench-%d\r\nN:%s;%s;;;\r\nFN:%s %s\r\n"
            "TEL;TYPE=CELL,PREF:+1 555 %07d\r\nTEL;TYPE=HOME:+1 555 %07d\r\nEMAIL;TYPE=INTERNET:%s\r\n"
            "END:VCARD\r\n" % (rng.getrandbits(32), i, escaped, first, first, escaped, i, 9999999 - i, mail))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port, process):
    for _ in range(600):
        if process.poll() is not None:
            raise RuntimeError("the server stopped at start")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("the server did not start")


class Server:
    """A server whose address book holds count cards, written into its storage before it starts."""

    def __init__(self, kind, root, count):
        self.kind, self.port = kind, free_port()
        store = os.path.join(root, kind + "-%d" % count)
        self.log = open(store + ".log", "w")
        if kind == "radicale":
            folder = os.path.join(store, "collection-root", "alice", "contacts")
            self.write_cards(folder, count)
            with open(os.path.join(folder, ".Radicale.props"), "w") as f:
                f.write('{"tag": "VADDRESSBOOK"}')
            users = os.path.join(root, "users")
            with open(users, "w") as f:
                f.write("alice:secret\n")
            self.user, self.auth = "alice", "Basic " + base64.b64encode(b"alice:secret").decode()
            self.command = ["/usr/bin/python3", "-m", "radicale", "--config", "", "--server-hosts",
                            "127.0.0.1:%d" % self.port, "--storage-filesystem-folder", store, "--auth-type",
                            "htpasswd", "--auth-htpasswd-filename", users, "--auth-htpasswd-encryption", "plain",
                            "--rights-type", "owner_only", "--logging-level", "warning"]
            self.book = "http://127.0.0.1:%d/alice/contacts/" % self.port
        else:
            # Xandikos keeps each collection as a git repository and serves what its last commit holds: it
            # makes its folders once, then the cards are committed in one go.
            self.user, self.auth = None, None
            self.command = ["xandikos", "-d", store, "-l", "127.0.0.1", "-p", str(self.port), "--defaults"]
            self.start()
            self.stop()
            folder = os.path.join(store, "user", "contacts", "addressbook")
            self.write_cards(folder, count)
            git = ["git", "-C", folder, "-c", "user.name=bench", "-c", "user.email=bench@localhost"]
            subprocess.run(git + ["add", "-A"], check=True)
            subprocess.run(git + ["commit", "-q", "-m", "Cards"], check=True)
            self.book = "http://127.0.0.1:%d/user/contacts/addressbook/" % self.port
        self.start()
        # The server's own first reading of the cards (Radicale's cache, for one) is not either program's.
        listed = self.request("PROPFIND", self.book, {"Depth": "1"}, b'<?xml version="1.0"?><d:propfind '
                              b'xmlns:d="DAV:"><d:prop><d:getetag/></d:prop></d:propfind>')
        if listed.count(b".vcf<") < count:
            raise RuntimeError("%s does not show the %d cards written into its storage" % (kind, count))
        self.request("REPORT", self.book, {}, b'<?xml version="1.0"?><d:sync-collection xmlns:d="DAV:">'
                     b'<d:sync-token/><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>')
        self.bytes = sum(len(card(i).encode()) for i in range(count))

    @staticmethod
    def write_cards(folder, count):
        os.makedirs(folder, exist_ok=True)
        for i in range(count):
            with open(os.path.join(folder, "card-%d.vcf" % i), "w", encoding="utf-8", newline="") as f:
                f.write(card(i))

    def start(self):
        self.process = subprocess.Popen(self.command, stdout=self.log, stderr=self.log)
        wait_for(self.port, self.process)

    def stop(self):
        self.process.terminate()
        self.process.wait(30)

    def change_card(self, n):
        """Gives card n a new e-mail address, as a phone would."""
        url = self.book + "card-%d.vcf" % n
        text = card(n).replace("EMAIL;TYPE=INTERNET:", "EMAIL;TYPE=INTERNET:changed.")
        self.request("PUT", url, {"Content-Type": "text/vcard; charset=utf-8"}, text.encode())

    def request(self, method, url, headers, body):
        request = urllib.request.Request(url, data=body, method=method, headers=headers)
        if "Content-Type" not in headers:
            request.add_header("Content-Type", "application/xml")
        if self.auth:
            request.add_header("Authorization", self.auth)
        with urllib.request.urlopen(request, timeout=600) as answer:
            return answer.read()


def run(command, env):
    """Runs a command: its wall-clock seconds, peak memory in bytes, exit status and output."""
    out = tempfile.TemporaryFile()
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    took = time.monotonic() - started
    out.seek(0)
    return took, usage.ru_maxrss * 1024, os.waitstatus_to_exitcode(status), out.read().decode(errors="replace")


class Tesselby:
    def __init__(self, command, root, server):
        self.command, self.server, self.home = command, server, os.path.join(root, "tesselby-" + server.kind)

    def reset(self):
        shutil.rmtree(self.home, ignore_errors=True)
        self.env = dict(os.environ, HOME=self.home, XDG_DATA_HOME=self.home + "/data",
                        XDG_CONFIG_HOME=self.home + "/config", XDG_STATE_HOME=self.home + "/state",
                        TESSELBY_SYNC_PASSWORD="secret")

    def first(self):
        user = ["--user", self.server.user] if self.server.user else []
        return self.sync("--url", self.server.book, *user)

    def sync(self, *args):
        took, peak, status, out = run([self.command, "sync", *args], self.env)
        if status != 0:
            raise RuntimeError("tesselby-contacts sync failed (%d): %s" % (status, out[-2000:]))
        return took, peak, out

    def people(self):
        done = subprocess.run([self.command, "list", "--any", ""], env=self.env, capture_output=True, check=True)
        return len(done.stdout.splitlines())

    def list_bytes(self):
        return os.path.getsize(os.path.join(self.home, "data", "tesselby", "tesselby.txt"))


class Vdirsyncer:
    def __init__(self, root, server):
        self.home = os.path.join(root, "vdirsyncer-" + server.kind)
        self.folder, self.status = os.path.join(self.home, "cards"), os.path.join(self.home, "status")
        config = os.path.join(self.home, "config")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "config"), "w") as f:
            f.write('[general]\nstatus_path = "%s/"\n\n[pair book]\na = "book_local"\nb = "book_remote"\n'
                    'collections = null\nconflict_resolution = "b wins"\n\n[storage book_local]\n'
                    'type = "filesystem"\npath = "%s/"\nfileext = ".vcf"\n\n[storage book_remote]\n'
                    'type = "carddav"\nurl = "%s"\n' % (self.status, self.folder, server.book))
            if server.user:
                f.write('username = "%s"\npassword = "secret"\n' % server.user)
        self.env = dict(os.environ, VDIRSYNCER_CONFIG=os.path.join(config, "config"))

    def reset(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        shutil.rmtree(self.status, ignore_errors=True)
        os.makedirs(self.folder)
        # Setting up once, as its users do before the first sync; not timed.
        took, _, status, out = run(["vdirsyncer", "discover", "book"], self.env)
        if status != 0:
            raise RuntimeError("vdirsyncer discover failed: " + out[-2000:])

    def first(self):
        return self.sync()

    def sync(self):
        took, peak, status, out = run(["vdirsyncer", "-v", "WARNING", "sync"], self.env)
        if status != 0:
            raise RuntimeError("vdirsyncer sync failed (%d): %s" % (status, out[-2000:]))
        return took, peak, out

    def people(self):
        return len([name for name in os.listdir(self.folder) if name.endswith(".vcf")])


def spread(values, unit="s"):
    return "%.2f %s (%.2f-%.2f)" % (statistics.median(values), unit, min(values), max(values))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--servers", default="radicale:10000,xandikos:1000")
    parser.add_argument("--memory", default="xandikos:50000")
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="tesselby-sync-bench-")
    checks = []
    servers = []

    def check(label, value, limit, unit):
        verdict = "met" if value <= limit else "NOT MET"
        print("%-66s %8.2f%s (at most %s%s)  %s" % (label, value, unit, limit, unit, verdict), flush=True)
        checks.append(value <= limit)

    try:
        print("Machine: %d cores, load %.1f; vdirsyncer %s" % (
            os.cpu_count(), os.getloadavg()[0],
            subprocess.run(["vdirsyncer", "--version"], capture_output=True, text=True).stdout.split()[-1]))
        for kind, count in [k.split(":") for k in args.servers.split(",") if k]:
            count = int(count)
            print("\n%s, %d cards: seeding..." % (kind, count), flush=True)
            server = Server(kind, root, count)
            servers.append(server)
            clients = [Tesselby(args.command, root, server), Vdirsyncer(root, server)]
            first = {0: [], 1: []}
            again = {0: [], 1: []}
            requests = []
            for attempt in range(args.runs):
                order = (0, 1) if attempt % 2 == 0 else (1, 0)
                for c in order:
                    client = clients[c]
                    client.reset()
                    took, _, _ = client.first()
                    first[c].append(took)
                    if client.people() != count:
                        raise RuntimeError("%s got %d of %d people" % (type(client).__name__, client.people(),
                                                                       count))
                for c in order:
                    if c == 0:
                        took, _, out = clients[0].sync("--verbose")
                        found = re.search(r"(\d+) requests", out)
                        requests.append(int(found.group(1)) if found else -1)
                        if re.search(r"^(PUT|DELETE) ", out, re.M):
                            raise RuntimeError("a sync with nothing changed wrote: " + out[-2000:])
                    else:
                        took, _, _ = clients[1].sync()
                    again[c].append(took)
            print("%s, %d cards (%.1f MB), %d runs each, median (fastest-slowest):" % (
                kind, count, server.bytes / 1e6, args.runs))
            print("%-40s %-24s %-24s" % ("", "tesselby-contacts sync", "vdirsyncer sync"))
            print("%-40s %-24s %-24s" % ("first sync into an empty list/folder", spread(first[0]), spread(first[1])))
            print("%-40s %-24s %-24s" % ("a sync with nothing changed", spread(again[0]), spread(again[1])))
            print("requests of tesselby's sync with nothing changed: %s" % requests)
            check("first sync of %d cards / vdirsyncer's, %s" % (count, kind),
                  statistics.median(first[0]) / statistics.median(first[1]), 1, "x")
            check("a sync with nothing changed / vdirsyncer's, %s" % kind,
                  statistics.median(again[0]) / statistics.median(again[1]), 0.2, "x")
            check("requests of a sync with nothing changed, %s" % kind, max(requests), 1, "")
            server.stop()
            servers.remove(server)

        for kind, count in [k.split(":") for k in args.memory.split(",") if k]:
            count = int(count)
            print("\n%s, %d cards: seeding..." % (kind, count), flush=True)
            server = Server(kind, root, count)
            servers.append(server)
            client = Tesselby(args.command, root, server)
            peaks, times, lists, again, againPeaks, changed, changedPeaks = [], [], [], [], [], [], []
            for _ in range(args.runs):
                client.reset()
                took, peak, _ = client.first()
                times.append(took)
                peaks.append(peak)
                lists.append(client.list_bytes())
                if client.people() != count:
                    raise RuntimeError("tesselby got %d of %d people" % (client.people(), count))
                took, peak, _ = client.sync()
                again.append(took)
                againPeaks.append(peak)
                # A phone changes one person: the everyday sync of a large book.
                server.change_card(len(changed))
                took, peak, _ = client.sync()
                changed.append(took)
                changedPeaks.append(peak)
            mib = 1024 * 1024
            print("%s, %d cards (%.1f MB, the list %.1f MiB), tesselby alone, %d runs, median (fastest-slowest):" % (
                kind, count, server.bytes / 1e6, statistics.median(lists) / mib, args.runs))
            print("%-40s %-24s %-24s" % ("", "time", "peak memory"))
            print("%-40s %-24s %-24s" % ("first sync into an empty list", spread(times),
                                         spread([p / mib for p in peaks], "MiB")))
            print("%-40s %-24s %-24s" % ("a sync with nothing changed", spread(again),
                                         spread([p / mib for p in againPeaks], "MiB")))
            print("%-40s %-24s %-24s" % ("a sync with one card changed", spread(changed),
                                         spread([p / mib for p in changedPeaks], "MiB")))
            check("first sync of %d cards, peak memory above the list's, %s" % (count, kind),
                  (statistics.median(peaks) - statistics.median(lists)) / mib, 64, " MiB")
            check("a sync with nothing changed, %d cards, peak memory above the list's, %s" % (count, kind),
                  (statistics.median(againPeaks) - statistics.median(lists)) / mib, 64, " MiB")
            check("a sync with one card changed, %d cards, peak memory above the list's, %s" % (count, kind),
                  (statistics.median(changedPeaks) - statistics.median(lists)) / mib, 64, " MiB")
            server.stop()
            servers.remove(server)
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(root, ignore_errors=True)
    failed = checks.count(False)
    print("\n%s" % ("%d sync target(s) not met" % failed if failed else "every sync target met"))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
