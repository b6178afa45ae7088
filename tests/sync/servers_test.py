#!/usr/bin/python3
# The sync against real servers started here on 127.0.0.1 (Radicale and Xandikos, storage in a temporary
# folder, stopped at the end), each case run against both; and against a small misbehaving server of the
# test's own for what real servers do only on a bad day.
#   servers_test.py PATH/TO/tesselby-contacts
import base64
import http.server
import os
import pty
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

COMMAND = sys.argv[1] if __name__ == "__main__" else None  # kill_sync.py sets its own
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port, process):
    for _ in range(200):
        if process.poll() is not None:
            raise RuntimeError("the server stopped at start")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("the server did not start")


class Server:
    """A real server, its storage in a folder of its own; the address book's URL, and a client over HTTP."""

    def __init__(self, kind, root):
        self.kind = kind
        self.port = free_port()
        self.root = root
        store = os.path.join(root, kind)
        log = open(os.path.join(root, kind + ".log"), "w")
        if kind == "radicale":
            users = os.path.join(root, "users")
            with open(users, "w") as f:
                f.write("alice:secret\n")
            self.auth = "Basic " + base64.b64encode(b"alice:secret").decode()
            self.process = subprocess.Popen(
                ["/usr/bin/python3", "-m", "radicale", "--config", "", "--server-hosts", "127.0.0.1:%d" % self.port,
                 "--storage-filesystem-folder", store, "--auth-type", "htpasswd", "--auth-htpasswd-filename", users,
                 "--auth-htpasswd-encryption", "plain", "--rights-type", "owner_only"], stdout=log, stderr=log)
            wait_for(self.port, self.process)
            self.book = "http://127.0.0.1:%d/alice/contacts/" % self.port
            self.request("MKCOL", self.book, b'<?xml version="1.0"?><D:mkcol xmlns:D="DAV:" '
                         b'xmlns:C="urn:ietf:params:xml:ns:carddav"><D:set><D:prop><D:resourcetype><D:collection/>'
                         b'<C:addressbook/></D:resourcetype></D:prop></D:set></D:mkcol>')
        else:
            self.auth = None
            self.process = subprocess.Popen(["xandikos", "-d", store, "-l", "127.0.0.1", "-p", str(self.port),
                                             "--defaults"], stdout=log, stderr=log)
            wait_for(self.port, self.process)
            self.book = "http://127.0.0.1:%d/user/contacts/addressbook/" % self.port
        self.base = "http://127.0.0.1:%d/" % self.port

    def stop(self):
        self.process.terminate()
        self.process.wait(10)

    def request(self, method, url, body=None, headers=None):
        request = urllib.request.Request(url, data=body, method=method, headers=headers or {})
        if self.auth:
            request.add_header("Authorization", self.auth)
        try:
            with urllib.request.urlopen(request) as answer:
                return answer.status, answer.read().decode(), answer.headers.get("ETag")
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode(), None

    def cards(self):
        """Every card of the book: href -> text."""
        status, body, _ = self.request(
            "REPORT", self.book,
            b'<?xml version="1.0"?><C:addressbook-query xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">'
            b'<D:prop><D:getetag/><C:address-data/></D:prop></C:addressbook-query>',
            {"Depth": "1", "Content-Type": "application/xml"})
        found = {}
        for response in re.findall(r"<[^>]*response>(.*?)</[^>]*response>", body, re.S):
            href = re.search(r"<[^>]*href>([^<]*)<", response).group(1)
            if not href.endswith(".vcf"):
                continue
            data = re.search(r"<[^>]*address-data[^>]*>(.*?)</", response, re.S)
            if data:
                text = data.group(1).replace("&#13;", "\r").replace("&lt;", "<").replace("&gt;", ">")
                found[href] = text.replace("&amp;", "&")
        return found

    def put(self, href, text):
        return self.request("PUT", self.base.rstrip("/") + href, text.encode(),
                            {"Content-Type": "text/vcard; charset=utf-8"})[0]


class Computer:
    """A computer with its own list, settings and state, running the command."""

    def __init__(self, root, name):
        self.home = os.path.join(root, name)
        self.env = dict(os.environ, HOME=self.home, XDG_DATA_HOME=self.home + "/data",
                        XDG_CONFIG_HOME=self.home + "/config", XDG_STATE_HOME=self.home + "/state",
                        TESSELBY_SYNC_PASSWORD="secret")

    def run(self, *args):
        done = subprocess.run([COMMAND, *args], env=self.env, capture_output=True, text=True, timeout=120)
        return done.returncode, done.stdout + done.stderr

    def ask(self, answers, *args):
        """Runs the command on a terminal of its own (a pseudo-terminal for its input and both outputs),
        typing the next answer each time it asks, and Ctrl-D once the answers run out."""
        master, slave = pty.openpty()
        process = subprocess.Popen([COMMAND, *args], env=self.env, stdin=slave, stdout=slave, stderr=slave)
        os.close(slave)
        output, pending, asked, deadline = b"", list(answers), 0, time.time() + 120
        while time.time() < deadline:
            if not select.select([master], [], [], 1)[0]:
                continue
            try:
                piece = os.read(master, 65536)
            except OSError:  # the terminal's other end closed
                break
            if not piece:
                break
            output += piece
            if output.count(b"(l)? ") > asked:
                os.write(master, (pending.pop(0) + "\n").encode() if pending else b"\x04")
                asked += 1
        if process.poll() is None:  # it never finished: what it wrote is in the check's message
            process.kill()
        status = process.wait()
        os.close(master)
        return status, output.decode(errors="replace")

    def history(self):
        return self.run("history", "--format", "tsv")[1].splitlines()

    def people(self):
        done = subprocess.run([COMMAND, "list", "--any", ""], env=self.env, capture_output=True, text=True)
        return sorted(done.stdout.splitlines())

    def add(self, *people, duplicates=False):
        def escaped(value):
            return value.replace("\\", "\\\\").replace(";", "\\;").replace(",", "\\,")
        cards = "".join("BEGIN:VCARD\r\nVERSION:3.0\r\nN:%s;%s;;;\r\nFN:%s %s\r\nTEL:%s\r\nEMAIL:%s\r\nEND:VCARD\r\n"
                        % tuple(map(escaped, (p[1], p[0], p[0], p[1], p[2], p[3]))) for p in people)
        path = os.path.join(self.home, "in.vcf")
        os.makedirs(self.home, exist_ok=True)
        with open(path, "w") as f:
            f.write(cards)
        return self.run("import", *(["--allow-duplicates"] if duplicates else []), path)

    def list_file(self):
        return os.path.join(self.home, "data", "tesselby", "tesselby.txt")

    def edit(self, old, new):
        with open(self.list_file(), "rb") as f:
            text = f.read()
        with open(self.list_file(), "wb") as f:
            f.write(text.replace(old.encode(), new.encode()))


def people_of(server):
    names = []
    for text in server.cards().values():
        fn = re.search(r"^FN:(.*?)\r?$", text, re.M)
        names.append(fn.group(1) if fn else "?")
    return sorted(names)


def first_sync(computer, server):
    user = ["--user", "alice"] if server.auth else []
    return computer.run("sync", "--url", server.base, *user)


def story(server, root):
    tag = server.kind + ": "
    one = Computer(root, server.kind + "-one")
    one.add(("Ann", "Smith", "555-1", "ann@x.org"), ("Bob", "Jones", "555-2", "bob@x.org"))
    status, out = first_sync(one, server)
    check(status == 0, tag + "the first sync into an empty book succeeds: " + out)
    check(people_of(server) == ["Ann Smith", "Bob Jones"], tag + "the book holds the list's people")
    check(all("VERSION:3.0" in t for t in server.cards().values()) and "stored differently" not in out
          and "cards fetched" not in out, tag + "new cards are 3.0, as the book asks, with no progress off a terminal")
    with open(os.path.join(one.home, "state", "tesselby", "sync-state")) as f:
        check("vcard\t3.0\n" in f.read(), tag + "the state keeps what the book takes")

    # Nothing changed: no write on either side.
    before_cards, before_list = server.cards(), open(one.list_file(), "rb").read()
    status, out = one.run("sync", "--verbose")
    check(status == 0 and "PUT" not in out and "DELETE" not in out, tag + "a sync after a sync writes nothing: " + out)
    check(out.count("REPORT") == 1 and "1 requests" in out, tag + "a sync after a sync is one request: " + out)
    check(server.cards() == before_cards and open(one.list_file(), "rb").read() == before_list,
          tag + "both sides are as they were")

    # Another list on the same computer (another XDG_DATA_HOME) is a first sync of its own: its missing
    # people are brought in, never taken as removed from the address book.
    data = one.env["XDG_DATA_HOME"]
    one.env["XDG_DATA_HOME"] = one.home + "/other-data"
    one.add(("Ann", "Smith", "555-1", "ann@x.org"))
    status, out = one.run("sync")
    check(status == 0 and people_of(server) == ["Ann Smith", "Bob Jones"] and len(one.people()) == 2,
          tag + "another list's first sync removes nobody: %s %s" % (out, people_of(server)))
    one.env["XDG_DATA_HOME"] = data
    status, out = one.run("sync", "--verbose")
    check(status == 0 and "PUT" not in out and "DELETE" not in out, tag + "and back on the first list: " + out)

    # A second computer with an empty list, and a third with equal people already.
    two = Computer(root, server.kind + "-two")
    status, out = first_sync(two, server)
    check(status == 0 and len(two.people()) == 2, tag + "an empty list gets every card: " + out)
    three = Computer(root, server.kind + "-three")
    three.add(("Bob", "Jones", "555-2", "bob@x.org"), ("Carl", "Lee", "555-3", ""),
              ("Bob", "Jones", "555-2", "bob@x.org"), duplicates=True)
    status, out = first_sync(three, server)
    check(status == 0, tag + "a first sync with people on both sides succeeds: " + out)
    check(people_of(server) == ["Ann Smith", "Bob Jones", "Bob Jones", "Carl Lee"],
          tag + "equal people are linked, not doubled (the list's true duplicate is sent): %s" % people_of(server))
    check(len(three.people()) == 4, tag + "the third computer got Ann and nothing twice: %s" % three.people())

    # The phone: a photo, an address and a second phone on Ann, Bob renamed, Carl removed, Dora added.
    cards = server.cards()
    ann = next(h for h, t in cards.items() if "FN:Ann Smith" in t)
    bob = next(h for h, t in cards.items() if "FN:Bob Jones" in t and "UID" in t)
    carl = next(h for h, t in cards.items() if "FN:Carl Lee" in t)
    end = cards[ann].rindex("END:VCARD")
    photo = "PHOTO;ENCODING=b;TYPE=JPEG:" + "QUFB" * 30
    check(server.put(ann, cards[ann][:end] + "ADR;TYPE=home:;;1 Road;Town;;;\r\n" + photo[:70] + "\r\n " + photo[70:] +
                     "\r\nTEL;TYPE=work:555-0\r\n" + cards[ann][end:]) in (200, 201, 204), tag + "the phone's edit")
    check(server.put(bob, cards[bob].replace("Jones", "Jonas")) in (200, 201, 204), tag + "the phone's rename")
    check(server.request("DELETE", server.base.rstrip("/") + carl)[0] in (200, 204), tag + "the phone's removal")
    check(server.put(server.book[len(server.base) - 1:] + "dora.vcf",
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:dora\r\nFN:Dora Ray\r\nN:Ray;Dora;;;\r\nEND:VCARD\r\n")
          in (200, 201, 204), tag + "the phone's new card")
    history = three.history()
    status, out = three.run("sync")
    check(status == 0, tag + "the sync after the phone's changes: " + out)
    people = three.people()
    check(any("Jonas" in p for p in people) and any("Dora" in p for p in people) and not any("Carl" in p for p in people),
          tag + "the phone's changes reach the list: %s" % people)

    # The sync is one change in the list's history; undo takes it back, and the next sync sends that to
    # the server; an undo of the undo and a sync bring the phone's changes back to both.
    after = three.history()
    check(len(after) == len(history) + 1 and after[0].split("\t")[3] == "tesselby-contacts sync",
          tag + "the sync is one change in the history: %s" % after[:2])
    status, out = three.run("undo")
    check(status == 0 and any("Carl" in p for p in three.people()), tag + "undo takes the sync back: " + out)
    status, out = three.run("sync", "--verbose")
    check(status == 0 and "PROPFIND" not in out, tag + "the sync after the undo (the book's version is known): " + out)
    check("Carl Lee" in people_of(server) and "Dora Ray" not in people_of(server)
          and "Bob Jonas" not in people_of(server), tag + "the undo reached the server: %s" % people_of(server))
    status, out = three.run("undo")
    status, out = three.run("sync")
    check(status == 0 and "Carl Lee" not in people_of(server) and "Dora Ray" in people_of(server)
          and "Bob Jonas" in people_of(server), tag + "the undo of the undo reached it too: " + out)
    check(sorted(three.people()) == sorted(people), tag + "and the list is as after the phone's changes")

    # Here: Ann's phone changed, Ann kept her photo and address on the server.
    three.edit("555-1", "555-9")
    status, out = three.run("sync")
    check(status == 0, tag + "the sync of a change here: " + out)
    text = server.cards()[ann]
    check("555-9" in text and "1 Road" in text and "QUFB" in text and "555-0" in text,
          tag + "the change patched only the mapped property: " + text)
    status, out = three.run("sync", "--verbose")
    check("PUT" not in out and "DELETE" not in out, tag + "no loop after a patched card: " + out)

    # The other computers catch up; a removal here reaches the server and them.
    for computer in (one, two):
        status, out = computer.run("sync", "--allow-mass-removal")
        check(status == 0, tag + "a catching-up sync: " + out)
    check(sorted(one.people()) == sorted(three.people()) or len(one.people()) == len(set(three.people())),
          tag + "the computers agree: %s %s" % (one.people(), three.people()))
    text = open(one.list_file(), "rb").read().decode()
    one.edit('"Dora"\r\n"Ray"\r\n""\r\n""\r\n', "")
    status, out = one.run("sync")
    check(status == 0 and "Dora Ray" not in people_of(server), tag + "a removal here reaches the server: " + out)

    # A conflict: the same field changed on both sides.
    two.run("sync")
    two.edit("bob@x.org", "bob@home.org")
    cards = server.cards()
    check(server.put(bob, cards[bob].replace("bob@x.org", "bob@work.org")) in (200, 201, 204), tag + "the phone's edit")
    status, out = two.run("sync")
    check(status == 3 and "conflict" in out, tag + "a conflict is reported with exit status 3: %d %s" % (status, out))
    check("bob@work.org" in server.cards()[bob] and any("bob@home.org" in p for p in two.people()),
          tag + "a conflict overwrites neither side")
    status, out = two.run("sync", "--conflict", "local")
    check(status == 0 and "bob@home.org" in server.cards()[bob], tag + "--conflict local settles it: " + out)

    # --conflict ask: refused off a terminal; on one, both values are shown and the person is settled as
    # answered (Enter or Ctrl-D leaves them); never kept in the settings. The progress line is cleared
    # before every other line, also --verbose's.
    two.edit("555-9", "555-8")
    check(server.put(ann, server.cards()[ann].replace("TEL:555-9", "TEL:555-7")) in (200, 201, 204),
          tag + "the phone's edit of the same phone")
    status, out = two.run("sync", "--conflict", "ask")
    check(status == 2 and "terminal" in out, tag + "--conflict ask off a terminal is refused: %d %s" % (status, out))
    status, out = two.ask(["x", ""], "sync", "--conflict", "ask", "--verbose")
    check(status == 3 and out.count("(l)? ") == 2 and '"555-8" here, "555-7" on the server' in out,
          tag + "asked on a terminal, asked again after a wrong answer, left as it is: %d %s" % (status, out))
    check("555-7" in server.cards()[ann] and any("555-8" in p for p in two.people()), tag + "leaving changes nothing")
    check("cards fetched" in out and not re.search(r"sent \d+ of \d+[^\r ]", out),
          tag + "the progress line is drawn and cleared before each other line: %r" % out)
    status, out = two.ask([], "sync", "--conflict", "ask")
    check(status == 3 and "555-7" in server.cards()[ann], tag + "Ctrl-D leaves it too: %d %s" % (status, out))
    status, out = two.ask(["s"], "sync", "--conflict", "ask")
    check(status == 0 and any("555-7" in p for p in two.people()) and "555-7" in server.cards()[ann],
          tag + "the server's value taken: %d %s" % (status, out))
    with open(os.path.join(two.home, "config", "tesselby", "sync.conf")) as f:
        check("conflict" not in f.read(), tag + "--conflict is not kept")
    status, out = two.run("sync", "--verbose")
    check(status == 0 and "PUT" not in out and "1 requests" in out, tag + "and the next sync writes nothing: " + out)

    # A wiped address book is not taken as a removal of everyone.
    for href in server.cards():
        server.request("DELETE", server.base.rstrip("/") + href)
    before = open(two.list_file(), "rb").read()
    status, out = two.run("sync")
    check(status == 1 and "more than half" in out and open(two.list_file(), "rb").read() == before,
          tag + "a mass removal is refused: " + out)

    # Values that need escaping reach another computer as they were: a server that writes cards its own
    # way (Radicale) keeps the values, and that is not taken for a value stored differently.
    odd = ("Zoë, Jr.", "O'Brien; \\III", "+1 (555) 0,1", "z\"q@x.org")
    four, five = Computer(root, server.kind + "-four"), Computer(root, server.kind + "-five")
    four.add(odd)
    status, out = first_sync(four, server)
    check(status == 0 and "stored differently" not in out, tag + "odd values are sent: " + out)
    status, out = first_sync(five, server)
    check(status == 0 and five.people() == four.people(), tag + "and come back as they were: %s %s %s"
          % (five.people(), four.people(), out))
    status, out = four.run("sync", "--verbose")
    check("PUT" not in out and "stored differently" not in out, tag + "with no write after them: " + out)


def hostile(server, root):
    """What a hand, another program or an odd card does to the settings, the state and the cards."""
    tag = server.kind + " (hostile): "
    book = server.book[len(server.base) - 1:]
    for href in server.cards():
        server.request("DELETE", server.base.rstrip("/") + href)
    here = Computer(root, server.kind + "-hostile")
    check(server.put(book + "slashed.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x/y@z\r\nFN:Sla Sh\r\nN:Sh;Sla;;;\r\n"
                     "TEL:1\r\nEND:VCARD\r\n") in (200, 201, 204), tag + "a card whose UID holds a slash")
    check(server.put(book + "named.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:named\r\nFN:Nina Card\r\n"
                     "N:Card;Nina;;;\r\nADR:;;1 Road;Town;;;\r\nEND:VCARD\r\n") in (200, 201, 204),
          tag + "a card with a name alone")
    status, out = first_sync(here, server)
    check(status == 0 and len(here.people()) == 2, tag + "the first sync: " + out)

    # The settings edited by hand: spaces around '=', lines ended with CR LF.
    settings = os.path.join(here.home, "config", "tesselby", "sync.conf")
    with open(settings) as f:
        text = f.read()
    with open(settings, "w", newline="") as f:
        f.write(text.replace("=", " = ").replace("\n", "\r\n"))
    status, out = here.run("sync")
    check(status == 0, tag + "settings edited by hand are read: " + out)
    # Settings that cannot be read are said so, not taken for none.
    os.remove(settings)
    os.mkdir(settings)
    status, out = here.run("sync")
    check(status == 1 and "cannot read the sync's settings" in out, tag + "settings that cannot be read: " + out)
    os.rmdir(settings)
    with open(settings, "w") as f:
        f.write(text)

    # A state file that is a link to a file of someone else's is neither read as the state nor written through.
    state = os.path.join(here.home, "state", "tesselby", "sync-state")
    victim = os.path.join(root, server.kind + "-victim")
    with open(victim, "w") as f:
        f.write("precious\n")
    os.remove(state)
    os.symlink(victim, state)
    status, out = here.run("sync", "--verbose")
    check(status == 0 and "PUT" not in out and open(victim).read() == "precious\n" and not os.path.islink(state),
          tag + "a state file linked elsewhere: " + out)

    # A person who holds a name alone, renamed here: their card is patched, its address kept.
    here.edit('"Card"', '"Kard"')
    status, out = here.run("sync", "--verbose")
    cards = server.cards()
    named = next((t for h, t in cards.items() if h.endswith("/named.vcf")), "")
    check(status == 0 and "DELETE" not in out and "Kard" in named and "1 Road" in named and len(cards) == 2,
          tag + "a name alone renamed here patches its card: %s %s" % (out, named))

    # The card with a slash in its UID removed on the phone while changed here: sent back, as one card.
    check(server.request("DELETE", server.base.rstrip("/") + book + "slashed.vcf")[0] in (200, 204),
          tag + "the phone's removal")
    here.edit('"1"', '"12"')
    status, out = here.run("sync")
    check(status == 0 and "sent back" in out and people_of(server) == ["Nina Kard", "Sla Sh"],
          tag + "a card whose UID holds a slash is sent back: %s %s" % (out, people_of(server)))
    status, out = here.run("sync", "--verbose")
    check(status == 0 and "PUT" not in out and len(server.cards()) == 2, tag + "and nothing after: " + out)

    # A card whose UID names another card's file (clash.vcf holds someone else), removed on the phone while
    # changed here: sent back as a card of its own, never taken for the other card; both stay once on each
    # side over the syncs that follow (the first with a delta, then a whole listing).
    check(server.put(book + "olaf.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:clash\r\nFN:Ola Clash\r\n"
                     "N:Clash;Ola;;;\r\nTEL:31\r\nEND:VCARD\r\n") in (200, 201, 204)
          and server.put(book + "clash.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:pia\r\nFN:Pia Other\r\n"
                         "N:Other;Pia;;;\r\nTEL:32\r\nEND:VCARD\r\n") in (200, 201, 204), tag + "two cards")
    status, out = here.run("sync")
    check(status == 0 and len(here.people()) == 4, tag + "the two cards come in: " + out)
    check(server.request("DELETE", server.base.rstrip("/") + book + "olaf.vcf")[0] in (200, 204),
          tag + "the phone's removal of Ola")
    here.edit('"31"', '"313"')
    for when, whole in (("the sync sending Ola back", False), ("a sync by the token", False),
                        ("a sync by a whole listing", True)):
        if whole:
            state = os.path.join(here.home, "state", "tesselby", "sync-state")
            with open(state) as f:
                kept = f.read()
            with open(state, "w") as f:
                f.write(re.sub(r"(?m)^token\t.*$", "token\t", kept))
        status, out = here.run("sync")
        people = here.people()
        check(status == 0 and people_of(server) == ["Nina Kard", "Ola Clash", "Pia Other", "Sla Sh"]
              and sorted(p.split("\t")[0] for p in people) == ["Nina", "Ola", "Pia", "Sla"]
              and any("313" in p for p in people),
              tag + "%s: Ola and Pia once on each side: %s %s %s" % (when, out, people, people_of(server)))

    # A card with a photo of a few mebibytes, its person changed here: patched whole, the photo kept.
    photo = "PHOTO;ENCODING=b;TYPE=JPEG:" + "QUFB" * (600 * 1024)
    check(server.put(book + "photo.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:photo\r\nFN:Pia Foto\r\nN:Foto;Pia;;;\r\n" +
                     "\r\n ".join(photo[i:i + 74] for i in range(0, len(photo), 74)) + "\r\nEND:VCARD\r\n")
          in (200, 201, 204), tag + "a card with a large photo")
    here.run("sync")
    here.edit('"Foto"', '"Photo"')
    status, out = here.run("sync")
    text = next((t for h, t in server.cards().items() if h.endswith("/photo.vcf")), "")
    check(status == 0 and "Pia Photo" in text and text.replace("\r\n ", "").count("QUFB") == 600 * 1024,
          tag + "a card with a large photo is patched, its photo kept: " + out)

    # --dry-run writes nothing on either side, nor the state or the settings.
    here.edit('"12"', '"13"')
    files = [here.list_file(), state, settings]
    before = [(os.stat(f).st_mtime_ns, open(f, "rb").read()) for f in files]
    cards = server.cards()
    status, out = here.run("sync", "--dry-run")
    check(status == 0 and "server: change" in out and server.cards() == cards and
          [(os.stat(f).st_mtime_ns, open(f, "rb").read()) for f in files] == before,
          tag + "--dry-run writes nothing: " + out)
    for href in server.cards():
        server.request("DELETE", server.base.rstrip("/") + href)


class Misbehaving(http.server.BaseHTTPRequestHandler):
    """A small address-book server that does, when told, what real ones do on a bad day; its names in
    namespaces with prefixes of its own."""
    cards = {}          # name -> (etag, text)
    # What the next requests meet, in order: None for nothing, a fault for the next request, or
    # "METHOD fault" for the next request of that method (the others pass by).
    faults = []
    no_etags = False
    rewrites = False    # stores a phone's dashes as blanks, and says so with a weak ETag
    takes_v4 = False    # names vCard 4.0 in the book's supported-address-data
    refuses_v4 = False  # though it answers a 4.0 card with 415
    counter = [0]
    # sync-collection offered, its tokens "tok-N" for the counter N; every token refused as expired when
    # expire_tokens is set. changed: name -> the counter when it was last written or removed.
    sync_tokens = False
    expire_tokens = False
    changed = {}
    tokens_asked = []
    weak_on_get = False  # gives a card's ETag weak when the card is fetched alone
    moving_on_get = False  # gives a new ETag each time a card is fetched alone, as a card always changing
    omit = set()        # names a multiget leaves out of its answer, as if it had not been asked for them
    stopping = threading.Event()
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def multistatus(self, responses, token=None):
        body = ('<?xml version="1.0"?><x:multistatus xmlns:x="DAV:" xmlns:Q="urn:ietf:params:xml:ns:carddav">'
                + "".join(responses) + ("<x:sync-token>%s</x:sync-token>" % token if token else "")
                + "</x:multistatus>").encode()
        self.answer(207, body, [("Content-Type", "application/xml")])

    def fault(self):
        if not Misbehaving.faults:
            return None
        fault = Misbehaving.faults[0]
        if fault is not None and " " in fault:
            method, fault = fault.split(" ", 1)
            if method != self.command:
                return None
        Misbehaving.faults.pop(0)
        xml = [("Content-Type", "application/xml")]
        if fault == "429":
            self.answer(429, b"slow down", [("Retry-After", "1")])
        elif fault == "429-long":
            self.answer(429, b"slow down", [("Retry-After", "86400")])
        elif fault in ("401", "403", "404", "405", "409", "415", "500", "502"):
            self.answer(int(fault), b"no")
        elif fault == "drop":
            self.send_response(207)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b'<?xml version="1.0"?><x:multistatus xmlns:x="DAV:"><x:response><x:href>/bo')
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        elif fault in ("silent", "stored-silent"):
            # Never answers (the client's timeout ends it); a stored-silent PUT is stored first.
            if fault == "stored-silent":
                return fault
            Misbehaving.stopping.wait(60)
            self.close_connection = True
        elif fault == "not-xml":
            self.answer(207, b"Welcome to our portal", xml)
        elif fault == "wrong-root":
            self.answer(207, b'<?xml version="1.0"?><d:error xmlns:d="DAV:"><d:lock-token-submitted/></d:error>', xml)
        elif fault == "truncated":
            self.answer(207, b'<?xml version="1.0"?><x:multistatus xmlns:x="DAV:"><x:response><x:href>/book/a.vcf'
                        b'</x:href><x:propstat><x:prop><x:getetag>"1"</x:getetag>', xml)
        elif fault == "bomb":
            self.answer(207, b'<?xml version="1.0"?><!DOCTYPE x:multistatus [<!ENTITY a "aaaaaaaaaa">'
                        b'<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]>'
                        b'<x:multistatus xmlns:x="DAV:"><x:response><x:href>&c;</x:href></x:response>'
                        b'</x:multistatus>', xml)
        else:
            return fault
        return True

    def sync_collection(self, body):
        if not Misbehaving.sync_tokens:
            return self.answer(403, b"no sync-collection here")
        token = re.search(r"<d:sync-token>([^<]*)</d:sync-token>", body).group(1)
        Misbehaving.tokens_asked.append(token)
        now = "tok-%d" % Misbehaving.counter[0]
        if token and (Misbehaving.expire_tokens or not re.fullmatch(r"tok-\d+", token)):
            return self.answer(403, b'<?xml version="1.0"?><D:error xmlns:D="DAV:"><D:valid-sync-token/></D:error>',
                               [("Content-Type", "application/xml")])
        since = int(token[4:]) if token else -1
        responses = []
        for name, when in Misbehaving.changed.items():
            if when <= since:
                continue
            if name in Misbehaving.cards:
                responses.append("<x:response><x:href>/book/%s</x:href><x:propstat><x:prop><x:getetag>%s</x:getetag>"
                                 "</x:prop><x:status>HTTP/1.1 200 OK</x:status></x:propstat></x:response>"
                                 % (name, Misbehaving.cards[name][0]))
            elif token:
                responses.append("<x:response><x:href>/book/%s</x:href><x:status>HTTP/1.1 404 Not Found</x:status>"
                                 "</x:response>" % name)
        self.multistatus(responses, now)

    def body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", 0)))

    def do_PROPFIND(self):
        self.body()
        if self.path.startswith("/old/"):
            return self.answer(301, b"", [("Location", "/book/")])
        if self.fault():
            return
        props = "<x:resourcetype><x:collection/><Q:addressbook/></x:resourcetype><x:displayname>Book</x:displayname>"
        if Misbehaving.takes_v4:
            props += ('<Q:supported-address-data><Q:address-data-type content-type="text/vcard" version="3.0"/>'
                      '<Q:address-data-type content-type="text/vcard" version="4.0"/></Q:supported-address-data>')
        responses = ["<x:response><x:href>/book/</x:href><x:propstat><x:prop>%s</x:prop>"
                     "<x:status>HTTP/1.1 200 OK</x:status></x:propstat></x:response>" % props]
        if self.headers.get("Depth") == "1":
            for name, (etag, _) in Misbehaving.cards.items():
                tag = "" if Misbehaving.no_etags else "<x:getetag>%s</x:getetag>" % etag
                responses.append("<x:response><x:href>/book/%s</x:href><x:propstat><x:prop>%s</x:prop>"
                                 "<x:status>HTTP/1.1 200 OK</x:status></x:propstat></x:response>" % (name, tag))
        self.multistatus(responses)

    def do_REPORT(self):
        body = self.body().decode()
        if self.fault():
            return
        if "sync-collection" in body:
            return self.sync_collection(body)
        responses = []
        for href in re.findall(r"<d:href>([^<]*)</d:href>", body):
            name = href.rsplit("/", 1)[-1]
            if name in Misbehaving.cards and name not in Misbehaving.omit:
                etag, text = Misbehaving.cards[name]
                text = text.replace("&", "&amp;").replace("<", "&lt;").replace("\r", "&#13;")
                tag = "" if Misbehaving.no_etags else "<x:getetag>%s</x:getetag>" % etag
                responses.append("<x:response><x:href>%s</x:href><x:propstat><x:prop>%s<Q:address-data>%s"
                                 "</Q:address-data></x:prop></x:propstat></x:response>" % (href, tag, text))
        self.multistatus(responses)

    def do_GET(self):
        name = self.path.rsplit("/", 1)[-1]
        if self.fault():
            return
        if name not in Misbehaving.cards:
            return self.answer(404)
        etag, text = Misbehaving.cards[name]
        if Misbehaving.weak_on_get and not etag.startswith("W/"):
            etag = "W/" + etag
        if Misbehaving.moving_on_get:
            etag = '"moved-%d"' % time.monotonic_ns()
        self.answer(200, text.encode(), [] if Misbehaving.no_etags else [("ETag", etag)])

    def do_PUT(self):
        name = self.path.rsplit("/", 1)[-1]
        text = self.body().decode()
        fault = self.fault()
        if fault is True:
            return
        exists = name in Misbehaving.cards
        if Misbehaving.refuses_v4 and "VERSION:4.0" in text:
            return self.answer(415)
        if fault == "stored-silent":
            Misbehaving.counter[0] += 1
            Misbehaving.cards[name] = ('"%d"' % Misbehaving.counter[0], text)
            Misbehaving.changed[name] = Misbehaving.counter[0]
            Misbehaving.stopping.wait(60)
            self.close_connection = True
            return
        if self.headers.get("If-None-Match") == "*" and exists:
            return self.answer(412)
        if self.headers.get("If-Match") and (not exists or Misbehaving.cards[name][0] != self.headers["If-Match"]):
            return self.answer(412)
        Misbehaving.counter[0] += 1
        etag = '"%d"' % Misbehaving.counter[0]
        if Misbehaving.rewrites:
            etag = "W/" + etag
            text = re.sub(r"(?m)^(TEL[^:]*:.*)$", lambda m: m.group(1).replace("-", " "), text)
        Misbehaving.cards[name] = (etag, text)
        Misbehaving.changed[name] = Misbehaving.counter[0]
        if fault == "412-stored":
            # Stored, but the answer says otherwise, as when a first answer was lost and the upload sent again.
            return self.answer(412)
        self.answer(201 if not exists else 204, b"", [] if Misbehaving.no_etags else [("ETag", etag)])

    def do_DELETE(self):
        name = self.path.rsplit("/", 1)[-1]
        if self.fault():
            return
        Misbehaving.cards.pop(name, None)
        Misbehaving.counter[0] += 1
        Misbehaving.changed[name] = Misbehaving.counter[0]
        self.answer(204)


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client killed mid-request is what the kill test does


def start_misbehaving():
    """The scriptable server, on a free port: the server and its address."""
    server = QuietServer(("127.0.0.1", 0), Misbehaving)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d" % server.server_address[1]


def misbehaving(root):
    server, base = start_misbehaving()
    tag = "misbehaving: "
    try:
        here = Computer(root, "misbehaving")
        here.add(("Ann", "Smith", "555-1", "ann@x.org"), ("Bob", "Jones", "555-2", ""))
        # A redirect to the book, odd prefixes, and a first upload stored though its answer said 412.
        Misbehaving.faults = [None, None, None, "412-stored"]
        status, out = here.run("sync", "--url", base + "/old/")
        check(not Misbehaving.faults, tag + "the upload met the lost answer")
        check(status == 0 and len(Misbehaving.cards) == 2, tag + "an upload answered 412 is linked, not sent again: %s %s"
              % (out, list(Misbehaving.cards)))
        status, out = here.run("sync", "--verbose")
        check(status == 0 and "PUT" not in out and len(Misbehaving.cards) == 2, tag + "and the next sync writes nothing: " + out)

        # No ETags at all: every card is read again, and nothing is written in a loop.
        # No ETags at all, or a card's ETag weak when it is fetched alone and strong in the listings (the
        # same version): a change here is written once.
        for setting, old, new in (("no_etags", "555-2", "555-5"), ("weak_on_get", "555-5", "555-3")):
            setattr(Misbehaving, setting, True)
            here.edit(old, new)
            status, out = here.run("sync")
            check(status == 0 and any(new in t for _, t in Misbehaving.cards.values()),
                  tag + "a change with " + setting + ": " + out)
            status, out = here.run("sync", "--verbose")
            check(status == 0 and "PUT" not in out, tag + "no loop with " + setting + ": " + out)
            setattr(Misbehaving, setting, False)
        # A card that changes each time it is read: the sync goes over it a few times, then gives up with
        # a failure, the change kept here for the next sync.
        Misbehaving.moving_on_get = True
        here.edit("555-3", "555-6")
        status, out = here.run("sync")
        check(status != 0 and "kept changing" in out and not any("555-6" in t for _, t in Misbehaving.cards.values()),
              tag + "a card always changing: " + out)
        Misbehaving.moving_on_get = False
        status, out = here.run("sync")
        check(status == 0 and any("555-6" in t for _, t in Misbehaving.cards.values()),
              tag + "the change sent once the card holds still: " + out)
        here.edit("555-6", "555-3")
        status, out = here.run("sync")
        check(status == 0, tag + "back to 555-3: " + out)

        # 429 with Retry-After is waited for; 500 and a dropped connection stop the sync with one message
        # and change nothing.
        started = time.time()
        Misbehaving.faults = ["429"]
        status, out = here.run("sync")
        check(status == 0 and time.time() - started >= 1, tag + "429 is waited for as asked: " + out)
        before = open(here.list_file(), "rb").read()
        Misbehaving.cards["carl.vcf"] = ('"c"', "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carl Lee\r\nEND:VCARD\r\n")
        # A timeout short enough for a test: a server that never answers is given up on after a second.
        here.env["TESSELBY_SYNC_TIMEOUT"] = "1"
        for faults, words in (
                (["500"], "the server failed"),
                ([None, "drop"], ""),
                (["401"], "the password is wrong"),
                (["PROPFIND 403"], "may not"),
                (["PROPFIND 404"], "nothing is at that address"),
                (["PROPFIND 405"], "is it an address book"),
                (["429-long"], "too many requests"),
                (["502"], "the server failed"),
                (["PROPFIND silent"], "did not answer for 1 s"),
                (["PROPFIND not-xml"], "not well-formed XML"),
                (["PROPFIND wrong-root"], "not a multistatus"),
                (["PROPFIND truncated"], "not well-formed XML"),
                (["PROPFIND bomb"], "document type"),
                ([None, None, "drop"], ""),
                ([None, None, "not-xml"], "not well-formed XML")):
            Misbehaving.faults = list(faults)
            status, out = here.run("sync")
            fault = " ".join(str(f) for f in faults)
            check(not Misbehaving.faults, tag + "the sync met " + fault)
            check(status == 1 and words in out and "nothing was changed" in out and
                  open(here.list_file(), "rb").read() == before, tag + fault + " changes nothing: " + out)
            check(out.count("\n") == 1, tag + fault + " gives one message: " + out)
        Misbehaving.faults = []
        status, out = here.run("sync")
        check(status == 0 and any("Carl" in p for p in here.people()), tag + "the next sync goes through: " + out)

        # A write that fails leaves both sides part-synced, each person whole and once; the next sync
        # finishes it, and a write stored though its answer was lost is linked, not sent twice.
        for number, (fault, change, words) in enumerate((
                ("PUT 403", "add", "may not"),
                ("PUT 409", "add", "a conflict"),
                ("PUT 415", "add", "does not take cards"),
                ("PUT 500", "add", "the server failed"),
                ("PUT drop", "add", ""),
                ("PUT stored-silent", "add", "did not answer"),
                ("GET 500", "change", "the server failed"),
                ("PUT 409", "change", "a conflict"),
                ("DELETE 403", "remove", "may not"),
                ("DELETE 500", "remove", "the server failed"))):
            row = tag + "%s on %s: " % (fault, change)
            if change == "add":
                here.add(("Eve%d" % number, "Write", "555-7%d" % number, ""))
            elif change == "change":
                here.edit("555-3", "555-4") if number % 2 == 0 else here.edit("555-4", "555-3")
            else:
                here.add(("Gone%d" % number, "Write", "555-8%d" % number, ""))
                status, out = here.run("sync")
                check(status == 0, row + "the sync before the removal: " + out)
                here.edit('"Gone%d"\r\n"Write"\r\n"555-8%d"\r\n""\r\n' % (number, number), "")
            Misbehaving.faults = [fault]
            status, out = here.run("sync")
            check(not Misbehaving.faults, row + "the sync met the fault")
            errors = [line for line in out.splitlines() if line.startswith("tesselby-contacts")]
            check(status == 1 and len(errors) == 1 and words in errors[0], row + "one message: " + out)
            names = [re.search(r"FN:([^\r]*)", t).group(1) for _, t in Misbehaving.cards.values()]
            check(len(names) == len(set(names)) and len(here.people()) == len(set(here.people())),
                  row + "nobody twice on either side: %s %s" % (names, here.people()))
            if fault == "PUT stored-silent":
                # Edited before the next sync: the stored card is still known for the person's.
                here.edit("555-7%d" % number, "555-6%d" % number)
            status, out = here.run("sync")
            names = sorted(re.search(r"FN:([^\r]*)", t).group(1) for _, t in Misbehaving.cards.values())
            people = here.people()
            check(status == 0 and len(names) == len(people) and len(set(names)) == len(names),
                  row + "the next sync finishes it, each person once on each side: %s %s %s" % (out, names, people))
            if fault == "PUT stored-silent":
                check(any("555-6%d" % number in t for _, t in Misbehaving.cards.values()),
                      row + "and the edit reached the stored card")
        del here.env["TESSELBY_SYNC_TIMEOUT"]

        # sync-collection: a delta; then a token the server has let expire (403 with valid-sync-token) is
        # answered by a whole listing, which neither doubles nor removes anybody. A card listed but left out
        # of the multiget that follows comes in on the next sync.
        Misbehaving.sync_tokens = True
        for name, expire, asked, left_out in (("Fay", False, [False], False), ("Fay", False, [True], False),
                                              ("Gus", False, [True], False), ("Hal", True, [True, False], False),
                                              ("Ivy", False, [True, True], True)):
            if name + ".vcf" not in Misbehaving.cards:
                Misbehaving.counter[0] += 1
                Misbehaving.cards[name + ".vcf"] = ('"%s"' % name, "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\n"
                                                    "FN:%s Token\r\nEND:VCARD\r\n" % (name, name))
                Misbehaving.changed[name + ".vcf"] = Misbehaving.counter[0]
            Misbehaving.expire_tokens = expire
            Misbehaving.tokens_asked = []
            before = len(here.people())
            if left_out:
                Misbehaving.omit = {name + ".vcf"}
                status, out = here.run("sync")
                Misbehaving.omit = set()
                check(status == 0 and not any(name in p for p in here.people()), tag + name + " left out: " + out)
            status, out = here.run("sync")
            check(status == 0 and any(name in p for p in here.people()), tag + name + " comes by the token: " + out)
            check(len(here.people()) == len(set(here.people())) and len(here.people()) >= before,
                  tag + "nobody doubled or lost by the token: %s" % here.people())
            check([bool(token) for token in Misbehaving.tokens_asked] == asked,
                  tag + "%s: the tokens asked with: %s" % (name, Misbehaving.tokens_asked))
        Misbehaving.sync_tokens = Misbehaving.expire_tokens = False

        # A card with a photo larger than an error's answer may be, changed here: patched whole.
        ann = next(name for name, (_, text) in Misbehaving.cards.items() if "FN:Ann" in text)
        photo = "QUFB" * 600000
        text = Misbehaving.cards[ann][1]
        end = text.rindex("END:VCARD")
        Misbehaving.counter[0] += 1
        Misbehaving.cards[ann] = ('"%d"' % Misbehaving.counter[0], text[:end] + "PHOTO;ENCODING=b;TYPE=JPEG:" +
                                  "\r\n ".join(photo[i:i + 72] for i in range(0, len(photo), 72)) + "\r\n" + text[end:])
        status, out = here.run("sync")
        check(status == 0, tag + "the sync after the phone's photo: " + out)
        here.edit('"555-1"', '"555-5"')
        status, out = here.run("sync")
        text = Misbehaving.cards[ann][1].replace("\r\n ", "")
        check(status == 0 and "555-5" in text and text.count("QUFB") == 600000,
              tag + "a card of 2 MB is patched whole: %s %d" % (out, text.count("QUFB")))

        # Syncs killed at random moments, both ways; then one more: each person once on each side.
        Misbehaving.cards.clear()
        killed = Computer(root, "killed")
        killed.add(*[("P%d" % i, "Kill", "%d" % i, "") for i in range(300)])
        for i in range(40):
            Misbehaving.cards["s%d.vcf" % i] = ('"s%d"' % i, "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:s%d\r\n"
                                                "FN:S%d Server\r\nEND:VCARD\r\n" % (i, i))
        # Each one killed once the server holds a few more cards than before, mid-upload; the first
        # ones before the list has taken the server's cards.
        progress = set()
        for attempt in range(8):
            process = subprocess.Popen([COMMAND, "sync", "--url", base + "/book/"], env=killed.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            target = 40 + 35 * (attempt + 1) + attempt % 3
            deadline = time.time() + 60
            while len(Misbehaving.cards) < target and process.poll() is None and time.time() < deadline:
                time.sleep(0.001)
            process.kill()
            process.wait()
            progress.add(len(Misbehaving.cards))
        status, out = killed.run("sync", "--url", base + "/book/")
        names = sorted(re.search(r"FN:([^\r]*)", t).group(1) for _, t in Misbehaving.cards.values())
        people = killed.people()
        print("cards on the server after each kill: %s" % sorted(progress))
        check(any(40 < count < 340 for count in progress), tag + "kills came mid-sync: %s" % sorted(progress))
        check(status == 0, tag + "the sync after the kills: " + out)
        check(len(names) == 340 and len(set(names)) == 340, tag + "each person once on the server: %d" % len(names))
        check(len(people) == 340 and len(set(people)) == 340, tag + "each person once in the list: %d" % len(people))
    finally:
        Misbehaving.stopping.set()
        server.shutdown()


def rewriting(root):
    """A book that takes vCard 4.0, and a server that stores a value otherwise than it was sent."""
    server, base = start_misbehaving()
    tag = "rewriting: "
    try:
        Misbehaving.cards.clear()
        Misbehaving.faults = []
        Misbehaving.takes_v4 = Misbehaving.rewrites = True
        here = Computer(root, "rewriting")
        here.add(("Ann", "Smith", "555-1", "ann@x.org"))
        status, out = here.run("sync", "--url", base + "/book/")
        texts = [t for _, t in Misbehaving.cards.values()]
        check(status == 0 and len(texts) == 1 and "VERSION:4.0" in texts[0], tag + "a new card is 4.0: %s %s" % (out, texts))
        check(out.count('stored differently: Ann Smith: phone number "555-1" was sent, the server holds "555 1"') == 1,
              tag + "the value stored otherwise is reported: " + out)
        for _ in range(2):
            status, out = here.run("sync", "--verbose")
            check(status == 0 and "PUT" not in out and "stored differently" not in out and "PROPFIND" in out
                  and any("555-1" in p for p in here.people()),
                  tag + "once, and nothing is sent again: %s %s" % (out, here.people()))
        # A change of another value goes through; the phone the server holds is kept as it holds it, not
        # written over with the list's form of it.
        Misbehaving.rewrites = False
        here.edit("ann@x.org", "ann@y.org")
        status, out = here.run("sync")
        texts = [t for _, t in Misbehaving.cards.values()]
        check(status == 0 and "ann@y.org" in texts[0] and "555 1" in texts[0], tag + "a later change: %s %s" % (out, texts))

        # A computer whose state was lost asks the book once, when it makes a card, and keeps the answer.
        other = Computer(root, "rewriting-other")
        status, out = other.run("sync", "--url", base + "/book/")
        os.remove(os.path.join(other.home, "state", "tesselby", "sync-state"))
        other.add(("Bea", "Stone", "555-4", ""))
        status, out = other.run("sync", "--verbose")
        texts = [t for _, t in Misbehaving.cards.values()]
        check(status == 0 and out.count("PROPFIND") == 2 and len(texts) == 2 and all("VERSION:4.0" in t for t in texts),
              tag + "the book is asked again: %s %s" % (out, texts))
        other.add(("Cy", "Stone", "555-5", ""))
        status, out = other.run("sync", "--verbose")
        check(status == 0 and out.count("PROPFIND") == 1, tag + "once: " + out)
        # A book that names 4.0 but refuses it is sent 3.0, from then on.
        Misbehaving.refuses_v4 = True
        for name in ("Di", "Ed"):
            other.add((name, "Stone", "555-6", ""))
            status, out = other.run("sync", "--verbose")
            texts = [t for _, t in Misbehaving.cards.values() if name in t]
            check(status == 0 and len(texts) == 1 and "VERSION:3.0" in texts[0]
                  and out.count("PUT") == (2 if name == "Di" else 1), tag + "415 for 4.0: %s %s" % (out, texts))
    finally:
        Misbehaving.takes_v4 = Misbehaving.rewrites = Misbehaving.refuses_v4 = False
        server.shutdown()


class Vdirsyncer:
    """vdirsyncer (Debian's) syncing the address book into a folder of .vcf files, as a second desktop would."""

    def __init__(self, root, server):
        home = os.path.join(root, server.kind + "-vdirsyncer")
        self.folder = os.path.join(home, "cards")
        os.makedirs(self.folder)
        config = os.path.join(home, "config")
        with open(config, "w") as f:
            f.write('[general]\nstatus_path = "%s/status/"\n\n[pair book]\na = "here"\nb = "server"\n'
                    'collections = null\nconflict_resolution = "b wins"\n\n[storage here]\ntype = "filesystem"\n'
                    'path = "%s/"\nfileext = ".vcf"\n\n[storage server]\ntype = "carddav"\nurl = "%s"\n'
                    % (home, self.folder, server.book))
            if server.auth:
                f.write('username = "alice"\npassword = "secret"\n')
        self.env = dict(os.environ, VDIRSYNCER_CONFIG=config, XDG_CONFIG_HOME=home)

    def run(self, *args):
        done = subprocess.run(["vdirsyncer", *args], env=self.env, input="y\n" * 10, capture_output=True, text=True,
                              timeout=120)
        return done.returncode, done.stdout + done.stderr

    def cards(self):
        """Each .vcf file of the folder: path -> text."""
        found = {}
        for name in os.listdir(self.folder):
            if name.endswith(".vcf"):
                with open(os.path.join(self.folder, name), newline="") as f:
                    found[os.path.join(self.folder, name)] = f.read()
        return found

    def people(self):
        return sorted(re.search(r"^FN:(.*?)\r?$", t, re.M).group(1) for t in self.cards().values())


def second_desktop(server, root):
    """vdirsyncer and this computer sync the same address book: a change in either reaches the other through
    the server, and each person is once everywhere."""
    tag = server.kind + ", vdirsyncer: "
    for href in server.cards():
        server.request("DELETE", server.base.rstrip("/") + href)
    here = Computer(root, server.kind + "-desk")
    here.add(("Ann", "Smith", "555-1", "ann@x.org"), ("Bob", "Jones", "555-2", "bob@x.org"),
             ("Carl", "Lee", "555-3", "carl@x.org"))
    status, out = here.run("sync", "--url", server.book, *(["--user", "alice"] if server.auth else []))
    check(status == 0, tag + "this computer's first sync: " + out)
    desk = Vdirsyncer(root, server)
    status, out = desk.run("discover", "book")
    check(status == 0, tag + "vdirsyncer discover: " + out)
    status, out = desk.run("sync")
    check(status == 0 and desk.people() == ["Ann Smith", "Bob Jones", "Carl Lee"],
          tag + "vdirsyncer's folder gets the list's people: %s %s" % (desk.people(), out))

    # There: Ann renamed and given another phone, Carl's file removed, Dora's file added.
    cards = desk.cards()
    ann = next(p for p, t in cards.items() if "FN:Ann Smith" in t)
    carl = next(p for p, t in cards.items() if "FN:Carl Lee" in t)
    text = re.sub(r"^FN:Ann Smith", "FN:Anna Smith", cards[ann], flags=re.M)
    text = re.sub(r"^N:Smith;Ann;", "N:Smith;Anna;", text, flags=re.M)
    with open(ann, "w", newline="") as f:
        f.write(re.sub(r"555-1(?=\r?$)", "555-7", text, flags=re.M))
    os.remove(carl)
    with open(os.path.join(desk.folder, "dora-desk.vcf"), "w", newline="") as f:
        f.write("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:dora-desk\r\nN:Ray;Dora;;;\r\nFN:Dora Ray\r\nTEL:555-4\r\n"
                "END:VCARD\r\n")
    status, out = desk.run("sync")
    check(status == 0, tag + "vdirsyncer sends its folder's changes: " + out)
    status, out = here.run("sync")
    check(status == 0, tag + "the sync after vdirsyncer's: " + out)
    people = here.people()
    check(len(people) == 3 and any("Anna" in p and "555-7" in p for p in people) and any("Dora" in p for p in people)
          and any("Bob" in p for p in people), tag + "vdirsyncer's changes reach the list, each once: %s" % people)

    # Here: Bob's e-mail changed, Dora removed, Eve added; vdirsyncer's folder follows.
    here.edit("bob@x.org", "bob@home.org")
    here.edit('"Dora"\r\n"Ray"\r\n"555-4"\r\n""\r\n', "")
    here.add(("Eve", "Park", "555-5", "eve@x.org"))
    status, out = here.run("sync")
    check(status == 0, tag + "the sync of the list's changes: " + out)
    status, out = desk.run("sync")
    check(status == 0, tag + "vdirsyncer takes them: " + out)
    check(desk.people() == ["Anna Smith", "Bob Jones", "Eve Park"],
          tag + "the list's changes reach vdirsyncer's folder: %s" % desk.people())
    check(any("bob@home.org" in t for t in desk.cards().values()), tag + "Bob's new e-mail reached the folder")

    # Both again: nothing moves, and each person is once in the list, on the server and in the folder.
    status, out = here.run("sync", "--verbose")
    check(status == 0 and "PUT" not in out and "DELETE" not in out, tag + "this computer writes nothing more: " + out)
    status, out = desk.run("sync")
    check(status == 0 and "Copying" not in out and "Deleting" not in out,
          tag + "vdirsyncer writes nothing more: " + out)
    check(len(here.people()) == 3 and people_of(server) == desk.people() == ["Anna Smith", "Bob Jones", "Eve Park"],
          tag + "each person once everywhere: %s %s %s" % (here.people(), people_of(server), desk.people()))

    # More people than one multiget takes: a new computer's first sync gets them all in one query, not a
    # multiget per hundred (which some servers answer by going over the whole book for each card).
    here.add(*[("P%d" % i, "Many", "600-%d" % i, "") for i in range(120)])
    status, out = here.run("sync")
    check(status == 0 and len(people_of(server)) == 123, tag + "120 more people sent: " + out)
    fresh = Computer(root, server.kind + "-fresh")
    status, out = fresh.run("sync", "--verbose", "--url", server.book, *(["--user", "alice"] if server.auth else []))
    check(status == 0 and out.count("REPORT ") == 2, tag + "a first sync of 123 cards is a listing and one query: " + out)
    status, out = desk.run("sync")
    people = fresh.people()
    check(status == 0 and len(people) == len(set(people)) == 123 and len(set(desk.people())) == 123,
          tag + "every card reached the new computer and the folder once: %s %s" % (people, desk.people()))


def worst_day(server, root):
    """Two syncs at once on one computer, a sync token the server does not know, and the password's ways."""
    tag = server.kind + ": "
    user = ["--user", "alice"] if server.auth else []
    # Two syncs started together take turns: both succeed, and each person is once on each side.
    pair = Computer(root, server.kind + "-pair")
    pair.add(*[("Twin%d" % i, "Turn", "555-%d" % i, "") for i in range(150)])
    before = people_of(server)
    processes = [subprocess.Popen([COMMAND, "sync", "--url", server.book, *user], env=pair.env, text=True,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT) for _ in range(2)]
    outs = [process.communicate(timeout=300)[0] for process in processes]
    check(all(process.returncode == 0 for process in processes), tag + "two syncs at once both succeed: %s" % outs)
    twins = [name for name in people_of(server) if name.endswith(" Turn")]
    check(len(twins) == 150 and len(set(twins)) == 150, tag + "two syncs at once: each twin once on the server: %d"
          % len(twins))
    check(len(pair.people()) == 150 + len(before) and len(set(pair.people())) == len(pair.people()),
          tag + "two syncs at once: each person once in the list: %d" % len(pair.people()))

    # A token the server does not know (lost, expired, or another server's) gives a whole listing again.
    state = os.path.join(pair.home, "state", "tesselby", "sync-state")
    with open(state) as f:
        text = f.read()
    check(re.search(r"^token\t.+$", text, re.M) is not None, tag + "the state holds a sync token: " + text[:200])
    with open(state, "w") as f:
        f.write(re.sub(r"^token\t.*$", "token\tdata:,bogus-token-0", text, flags=re.M))
    check(server.put(server.book[len(server.base) - 1:] + "ivy.vcf",
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ivy\r\nFN:Ivy Token\r\nN:Token;Ivy;;;\r\nEND:VCARD\r\n")
          in (200, 201, 204), tag + "the phone's new card")
    status, out = pair.run("sync", "--verbose")
    check(status == 0 and any("Ivy" in p for p in pair.people()), tag + "a bogus token gives a whole listing: " + out)
    check(len(pair.people()) == len(people_of(server)) == 151 + len(before) and "DELETE" not in out and
          "PUT" not in out, tag + "and neither doubles nor removes anybody: %s" % out[-1500:])

    if not server.auth:
        return
    # The password's ways: each refusal is one clear message and changes nothing; the password is never
    # shown by --verbose nor kept in the settings, and never goes in a URL.
    keyed = Computer(root, server.kind + "-password")
    del keyed.env["TESSELBY_SYNC_PASSWORD"]
    keyed.add(("Pat", "Word", "555-0", ""))
    secret = os.path.join(keyed.home, "secret")
    for mode, text, args, words in (
            (0o644, "secret\n", ["--password-file", secret], "may be read by others"),
            (0o600, "", ["--password-file", secret], "holds no password"),
            (0o600, "secret\n", ["--password-file", secret + "-none"], "cannot be read"),
            (0o600, "secret\n", ["--password-file", keyed.home], "cannot be read"),
            (0o600, "secret\n", ["--password-command", "false"], "the password command failed"),
            (0o600, "secret\n", ["--password-command", "true"], "printed no password"),
            (0o600, "secret\n", ["--password-env", "TESSELBY_NO_SUCH_VARIABLE"], "is not set"),
            (0o600, "wrong\n", ["--password-file", secret], "the password is wrong"),
            (0o600, "secret\n", ["--url", server.book.replace("//", "//alice:secret@")], "never given in the URL"),
            (0o600, "secret\n", ["--password-file", secret], None),
            (0o600, "secret\n", ["--password-command", "cat '%s'" % secret], None)):
        with open(secret, "w") as f:
            f.write(text)
        os.chmod(secret, mode)
        row = tag + "password %s: " % " ".join(args)
        url = [] if "--url" in args else ["--url", server.book]
        status, out = keyed.run("sync", "--verbose", *url, "--user", "alice", *args)
        if words:
            errors = [line for line in out.splitlines() if line.startswith("tesselby-contacts")]
            check(status != 0 and len(errors) == 1 and words in errors[0], row + "one message: " + out)
            check("Pat Word" not in people_of(server), row + "nothing was sent")
        else:
            check(status == 0 and "Pat Word" in people_of(server), row + "the sync goes through: " + out)
        check("secret" not in out.replace(secret, ""), row + "the password is not shown: " + out)
        settings = os.path.join(keyed.home, "config", "tesselby", "sync.conf")
        if os.path.exists(settings):
            with open(settings) as f:
                kept = f.read()
            check("secret" not in kept.replace(secret, ""), row + "the password is not kept: " + kept)


def main():
    root = tempfile.mkdtemp(prefix="tesselby-sync-")
    servers = []
    try:
        for kind in ("radicale", "xandikos"):
            server = Server(kind, root)
            servers.append(server)
            story(server, root)
            hostile(server, root)
            second_desktop(server, root)
            worst_day(server, root)
        misbehaving(root)
        rewriting(root)
    finally:
        for server in servers:
            server.stop()
        if not failures:
            shutil.rmtree(root, ignore_errors=True)
    if failures:
        print("%d checks failed; the servers' folders are in %s" % (len(failures), root))
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
