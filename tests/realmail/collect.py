#!/usr/bin/env python3
"""Rebuilds tests/realmail/messages/ and SOURCES.tsv from Debian packages.

Downloads the packages named in PACKAGES into a scratch folder (apt-get
download for binary packages; apt-get source --download-only, through a
private apt state with source entries, for source packages), unpacks them,
takes every candidate file (mbox files split at their "From " lines), keeps
the messages whose header shows that a real program wrote them, and writes
them byte for byte as found.

Run as root on Debian 12 (apt-get needs it):
    tests/realmail/collect.py [--scratch DIR] [--dry-run]
"""

import argparse
import email.parser
import email.policy
import fnmatch
import glob
import hashlib
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAX_BYTES = 200 * 1024
# Single-part messages are kept too (they must be left alone), but fewer of
# them: what matters most is how multipart mail comes out.
MAX_SINGLE_PART_PER_SOURCE = 12
# Bounces alone would fill the collection: past this, a source adds no more.
MAX_PER_SOURCE = 70

# (file prefix, package, "src" or "deb", globs inside the unpacked package, mbox?)
PACKAGES = [
    ("notmuch", "notmuch", "src", ["*/test/corpora/**"], False),
    ("bounce", "libmail-deliverystatus-bounceparser-perl", "src", ["*/t/corpus/*"], False),
    ("pyemail", "libpython3.11-testsuite", "deb", ["usr/lib/python3.11/test/test_email/data/msg_*.txt"], False),
    ("enmime", "golang-github-jhillyerd-enmime-dev", "deb",
     ["usr/share/gocode/src/github.com/jhillyerd/enmime/testdata/**/*.raw"], False),
    ("kmime", "kmime", "src", ["*/autotests/data/**/*.mbox"], True),
    ("rspamd", "rspamd", "src", ["*/test/functional/messages/**/*.eml"], False),
    ("bogofilter", "bogofilter", "src", ["*/src/tests/inputs/*"], True),
    ("gmime", "gmime", "src", ["*/tests/*.msg", "*/tests/data/mbox/input/*.mbox"], True),
    ("mboxparser", "libmail-mboxparser-perl", "src", ["*/t/testbox", "*/t/qpname"], True),
]

# Packages whose own copyright file is not in the package (it points to
# another's, in a form that is not machine-readable): the licence it names.
LICENCE_NOTED = {
    "libpython3.11-testsuite": "PSF-2.0 (the Python License, in python3.11's copyright file)",
}

# Header fields that only a real mail program or server writes.
REAL_MARKERS = ("received", "x-mailer", "user-agent", "return-path", "dkim-signature",
                "x-mimeole", "x-originating-ip", "x-mailing-list", "list-id", "x-ms-has-attach",
                "x-feed2imap-version")
MADE_UP_DOMAIN = re.compile(rb"@(?:[\w.-]+\.)?(?:example\.(?:com|org|net)|example|test|invalid|localhost|"
                            rb"foo\.(?:com|bar)|bar\.com|domain\.com|host\.com)\b", re.I)


def run(command, cwd=None):
    done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        sys.stderr.write(done.stdout.decode("utf-8", "replace"))
    return done.returncode == 0


def private_apt(scratch):
    """apt-get options for a private state whose entries are the system's
    own, turned into source entries (no host is written here)."""
    state = os.path.join(scratch, "apt")
    for sub in ("lists/partial", "cache/archives/partial"):
        os.makedirs(os.path.join(state, sub), exist_ok=True)
    lines = []
    for path in glob.glob("/etc/apt/sources.list.d/*.sources"):
        with open(path) as f:
            lines += [re.sub(r"^Types:.*$", "Types: deb-src", line.rstrip("\n")) for line in f]
        lines.append("")
    sources = os.path.join(state, "debsrc.sources")
    with open(sources, "w") as f:
        f.write("\n".join(lines) + "\n")
    options = ["-o", "Dir::Etc::SourceList=/dev/null", "-o", "Dir::Etc::SourceParts=" + state,
               "-o", "Dir::State::Lists=" + os.path.join(state, "lists"),
               "-o", "Dir::Cache=" + os.path.join(state, "cache")]
    run(["apt-get"] + options + ["update"])
    return options


def fetch(scratch, package, kind, apt_options):
    """Unpacks the package; (folder, version, copyright file)."""
    downloads = os.path.join(scratch, "downloads", package)
    unpacked = os.path.join(scratch, "unpacked", package)
    os.makedirs(downloads, exist_ok=True)
    if kind == "deb":
        if not glob.glob(os.path.join(downloads, "*.deb")):
            run(["apt-get", "download", package], cwd=downloads)
        deb = glob.glob(os.path.join(downloads, "%s_*.deb" % package))[0]
        version = os.path.basename(deb).split("_")[1].replace("%3a", ":")
        if not os.path.isdir(unpacked):
            run(["dpkg-deb", "-x", deb, unpacked])
        return unpacked, version, os.path.join(unpacked, "usr/share/doc", package, "copyright")
    if not glob.glob(os.path.join(downloads, "*.dsc")):
        # The mirror may lack the packaging tarball: the upstream one is enough.
        run(["apt-get"] + apt_options + ["source", "--download-only", package], cwd=downloads)
    dsc = glob.glob(os.path.join(downloads, "%s_*.dsc" % package))[0]
    version = os.path.basename(dsc)[len(package) + 1:-len(".dsc")]
    if not os.path.isdir(unpacked):
        os.makedirs(unpacked)
        for tarball in glob.glob(os.path.join(downloads, "*.tar.*")):
            if not tarball.endswith(".asc"):
                run(["tar", "-xf", tarball, "-C", unpacked])
    copyright_file = os.path.join(unpacked, "debian", "copyright")
    if not os.path.exists(copyright_file):
        # No packaging tarball: the binary package of the same name carries it.
        binary = os.path.join(scratch, "unpacked", package + ".deb")
        if not glob.glob(os.path.join(downloads, "*.deb")):
            run(["apt-get", "download", package], cwd=downloads)
        for deb in glob.glob(os.path.join(downloads, "*.deb")):
            run(["dpkg-deb", "-x", deb, binary])
        copyright_file = os.path.join(binary, "usr/share/doc", package, "copyright")
    return unpacked, version, copyright_file


def licence_for(copyright_file, path):
    """The License of the last Files stanza of a machine-readable copyright
    file that matches the path (the last match wins), else of 'Files: *'."""
    try:
        with open(copyright_file, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return "unknown"
    found = "unknown"
    for stanza in re.split(r"\n\s*\n", text):
        files = re.search(r"^Files:(.*(?:\n[ \t].*)*)", stanza, re.M)
        licence = re.search(r"^License:[ \t]*(.+)$", stanza, re.M)
        if not files or not licence:
            continue
        if any(fnmatch.fnmatch(path, pattern) or pattern == "*" for pattern in files.group(1).split()):
            found = licence.group(1).strip()
    return found


def split_mbox(data):
    """The messages of an mbox, each without its "From " line, byte for
    byte; a file that does not start with "From " is one message."""
    if not data.startswith(b"From "):
        return [data]
    starts = [0] + [m.start() + 1 for m in re.finditer(rb"\n(?=From )", data)]
    messages = []
    for begin, end in zip(starts, starts[1:] + [len(data)]):
        chunk = data[begin:end]
        first_line_end = chunk.find(b"\n")
        if first_line_end >= 0:
            messages.append(chunk[first_line_end + 1:])
    return messages


def header_of(data):
    end = re.search(rb"\r?\n\r?\n", data)
    return data[:end.start()] if end else data


def written_by_a_program(data):
    """Whether the header shows a real program wrote the message: a field
    only mail programs write, and no made-up address in From unless a
    server's Received says the message travelled."""
    header = header_of(data)
    names = {m.group(1).lower().decode("ascii", "replace")
             for m in re.finditer(rb"^([!-9;-~]+)[ \t]*:", header, re.M)}
    if "from" not in names and "return-path" not in names:
        return False
    from_line = re.search(rb"^From:(.*(?:\r?\n[ \t].*)*)", header, re.M | re.I)
    if from_line and MADE_UP_DOMAIN.search(from_line.group(1)) and "received" not in names:
        return False
    return any(marker in names for marker in REAL_MARKERS)


def is_multipart(data):
    message = email.parser.BytesParser(policy=email.policy.compat32).parsebytes(data, headersonly=True)
    return message.get_content_maintype() == "multipart"


def candidates(unpacked, patterns, mbox):
    """(path inside the package, bytes) of each candidate message."""
    seen = set()
    for pattern in patterns:
        for path in sorted(glob.glob(os.path.join(unpacked, pattern), recursive=True)):
            if path in seen or not os.path.isfile(path) or os.path.islink(path):
                continue
            seen.add(path)
            if os.path.getsize(path) > (4 * MAX_BYTES if mbox else MAX_BYTES):
                continue
            with open(path, "rb") as f:
                data = f.read()
            inner = os.path.relpath(path, unpacked)
            parts = split_mbox(data) if mbox else [data]
            for index, message in enumerate(parts):
                where = inner if len(parts) == 1 else "%s#%d" % (inner, index + 1)
                yield where, message


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scratch", default="/tmp/realmail-collect")
    parser.add_argument("--dry-run", action="store_true", help="count, write nothing")
    args = parser.parse_args()
    apt_options = private_apt(args.scratch)
    messages_dir = os.path.join(HERE, "messages")
    rows = []
    digests = set()
    kept = {}
    for prefix, package, kind, patterns, mbox in PACKAGES:
        unpacked, version, copyright_file = fetch(args.scratch, package, kind, apt_options)
        count, single = 0, 0
        for where, data in candidates(unpacked, patterns, mbox):
            digest = hashlib.sha256(data).digest()
            if len(data) > MAX_BYTES or digest in digests or not written_by_a_program(data):
                continue
            if count >= MAX_PER_SOURCE:
                break
            if not is_multipart(data):
                if single >= MAX_SINGLE_PART_PER_SOURCE:
                    continue
                single += 1
            digests.add(digest)
            count += 1
            name = "%s-%04d.eml" % (prefix, count)
            # Paths in a source package start with its upstream folder.
            inner = where.split("/", 1)[1] if kind == "src" else where
            licence = LICENCE_NOTED.get(package) or licence_for(copyright_file, inner.split("#")[0])
            kept[name] = data
            rows.append((name, package, version, inner, licence))
        print("%-12s %-45s %4d kept (%d single-part)" % (prefix, package, count, single))
    print("%d messages, %d bytes" % (len(kept), sum(len(d) for d in kept.values())))
    if args.dry_run:
        return 0
    os.makedirs(messages_dir, exist_ok=True)
    for name in os.listdir(messages_dir):
        if name.endswith(".eml"):
            os.remove(os.path.join(messages_dir, name))
    for name, data in kept.items():
        with open(os.path.join(messages_dir, name), "wb") as f:
            f.write(data)
    with open(os.path.join(HERE, "SOURCES.tsv"), "w", encoding="utf-8") as f:
        f.write("file\tpackage\tversion\tpath\tlicence\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
