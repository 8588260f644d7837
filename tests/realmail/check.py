#!/usr/bin/env python3
"""Judges what clipsum does to real mail, with Python's own email package
and nothing of the engine.

For each message, `clipsum strip --all --stdout FILE` gives the message as it
would be stored afterwards. The judge classifies it:
  left alone     the output is the input, byte for byte;
  stripped       otherwise; then the output's body is compared with the
                 person's text: the decoded payload of the first text/plain
                 part, in the message's order, that is not marked as an
                 attachment and not inside a forwarded message:
    text kept      the same text (line ends and trailing blank space aside);
    wrong part     the text of another part;
    lost           no part's text;
    no text part   the original has no such part (not judged);
  headers broken  a top-level header field (other than Content-* and
                  MIME-Version) is missing from the output's header, or
                  out of order, or changed;
  encrypted changed  a message holding an encrypted part did not come out
                  unchanged.

Usage: check.py [--clipsum PATH] [-v] [--strict] [FILE_OR_FOLDER...]
(default: the messages/ folder beside this script; CLIPSUM from the
environment when --clipsum is not given).
"""

import argparse
import concurrent.futures
import email.parser
import email.policy
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ENCRYPTED_TYPES = {"multipart/encrypted", "application/pkcs7-mime", "application/x-pkcs7-mime"}

LEFT_ALONE, STRIPPED = "left alone", "stripped"
TEXT_KEPT, WRONG_PART, LOST, NO_TEXT_PART = "text kept", "wrong part", "lost", "no text part"
FAILED = "clipsum failed"
# Outcomes that fail --strict.
FAULTS = (WRONG_PART, LOST, "headers broken", "encrypted changed", FAILED)


def parse(data):
    return email.parser.BytesParser(policy=email.policy.compat32).parsebytes(data)


def normalised(data):
    """Line ends made LF, blank space at the very end dropped."""
    return data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").rstrip()


def decoded(part):
    payload = part.get_payload(decode=True)
    return normalised(payload if isinstance(payload, bytes) else b"")


def is_container(part):
    # compat32 gives message/* parts a list payload too.
    return isinstance(part.get_payload(), list)


def text_part(part):
    """The first text/plain part in order that is not an attachment and not
    inside a forwarded message, or None. The parser already makes a part
    without Content-Type text/plain (message/rfc822 in a digest)."""
    if part.get_content_maintype() == "message":
        return None
    if is_container(part):
        for child in part.get_payload():
            found = text_part(child)
            if found is not None:
                return found
        return None
    if part.get_content_type() == "text/plain" and part.get_content_disposition() != "attachment":
        return part
    return None


def leaf_texts(message):
    """The decoded payload of every leaf part, forwarded ones included."""
    return [decoded(part) for part in message.walk() if not is_container(part)]


def has_encrypted_part(message):
    return any(part.get_content_type() in ENCRYPTED_TYPES for part in message.walk())


def kept_fields(message):
    """(name, value) of the top-level header fields that must survive."""
    fields = []
    for name, value in message.raw_items():
        lowered = name.lower()
        if lowered.startswith("content-") or lowered == "mime-version":
            continue
        fields.append((lowered, value.replace("\r\n", "\n").replace("\r", "\n").rstrip()))
    return fields


def missing_fields(original, output):
    """Fields of the original not found, in order, in the output's header."""
    wanted = kept_fields(original)
    have = kept_fields(output)
    missing = []
    position = 0
    for field in wanted:
        try:
            position = have.index(field, position) + 1
        except ValueError:
            missing.append(field[0])
    return missing


def judge(data, output):
    """The outcome of one message: a dict with 'action', 'text' (for a
    stripped message), 'problems' (lines naming what went wrong)."""
    result = {"action": LEFT_ALONE if output == data else STRIPPED, "text": None, "problems": [],
              "headers_broken": False, "encrypted_changed": False}
    original = parse(data)
    if result["action"] == LEFT_ALONE:
        return result
    if has_encrypted_part(original):
        result["encrypted_changed"] = True
        result["problems"].append("encrypted changed: a message with an encrypted part was stripped")
    stripped = parse(output)
    missing = missing_fields(original, stripped)
    if missing:
        result["headers_broken"] = True
        result["problems"].append("headers broken: %s missing or out of order" % ", ".join(missing))
    expected = text_part(original)
    if expected is None:
        result["text"] = NO_TEXT_PART
        return result
    body = None if is_container(stripped) else decoded(stripped)
    if body == decoded(expected):
        result["text"] = TEXT_KEPT
    elif body is not None and body in leaf_texts(original):
        result["text"] = WRONG_PART
        result["problems"].append("wrong part: the body is the text of another part")
    else:
        result["text"] = LOST
        result["problems"].append("lost: the output is still multipart" if body is None else
                                  "lost: the output's body is no part's text")
    return result


def run_clipsum(clipsum, path):
    """(input bytes, output bytes, None), or (input bytes, None, why
    clipsum failed)."""
    with open(path, "rb") as f:
        data = f.read()
    done = subprocess.run([clipsum, "strip", "--all", "--stdout", path], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    if done.returncode != 0:
        return data, None, done.stderr.decode("utf-8", "replace").strip() or "exit status %d" % done.returncode
    return data, done.stdout, None


def check_file(clipsum, path):
    data, output, failure = run_clipsum(clipsum, path)
    if failure is not None:
        return {"action": FAILED, "text": None, "headers_broken": False, "encrypted_changed": False,
                "problems": ["clipsum failed: " + failure.splitlines()[-1]]}
    return judge(data, output)


def message_files(arguments):
    files = []
    for argument in arguments:
        if os.path.isdir(argument):
            files += sorted(os.path.join(argument, name) for name in os.listdir(argument)
                            if name.endswith(".eml"))
        else:
            files.append(argument)
    return files


def counts(results):
    values = list(results.values())
    return [
        ("total", len(values)),
        (LEFT_ALONE, sum(r["action"] == LEFT_ALONE for r in values)),
        (STRIPPED, sum(r["action"] == STRIPPED for r in values)),
        (TEXT_KEPT, sum(r["text"] == TEXT_KEPT for r in values)),
        (WRONG_PART, sum(r["text"] == WRONG_PART for r in values)),
        (LOST, sum(r["text"] == LOST for r in values)),
        (NO_TEXT_PART, sum(r["text"] == NO_TEXT_PART for r in values)),
        ("headers broken", sum(r["headers_broken"] for r in values)),
        ("encrypted changed", sum(r["encrypted_changed"] for r in values)),
        (FAILED, sum(r["action"] == FAILED for r in values)),
    ]


def main(argv=None):
    parser = argparse.ArgumentParser(description="Judges clipsum on real mail.")
    parser.add_argument("--clipsum", default=os.environ.get("CLIPSUM"), help="path of the clipsum program")
    parser.add_argument("-v", "--verbose", action="store_true", help="one line per message that is not fine")
    parser.add_argument("--strict", action="store_true",
                        help="exit 1 when any message is wrong part, lost, headers broken or encrypted changed")
    parser.add_argument("paths", nargs="*", default=[os.path.join(HERE, "messages")])
    args = parser.parse_args(argv)
    if not args.clipsum:
        parser.error("give --clipsum PATH or set CLIPSUM")
    files = message_files(args.paths)
    if not files:
        parser.error("no message files")
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        outcomes = pool.map(lambda path: check_file(args.clipsum, path), files)
        results = dict(zip(files, outcomes))
    table = counts(results)
    for name, count in table:
        print("%-18s %5d" % (name, count))
    if args.verbose:
        for path, result in results.items():
            if result["problems"]:
                print("%s: %s" % (os.path.basename(path), "; ".join(result["problems"])))
    print("%d messages in %.1f s" % (len(files), time.monotonic() - started))
    faults = sum(count for name, count in table if name in FAULTS)
    return 1 if args.strict and faults else 0


if __name__ == "__main__":
    sys.exit(main())
