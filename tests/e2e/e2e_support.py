"""What the end-to-end tests share: scratch mailboxes in the stand-in host's
layout, the plug-in copied beside its settings file, scripted runs of
StandInHost.exe under Wine, and tools/mailcheck to judge the result."""

import importlib.machinery
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep __pycache__ out of the source tree

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
SAMPLE_INBOX = os.path.join(ROOT, "samples", "mailbox", "Main", "Inbox")


def _load_mailcheck():
    loader = importlib.machinery.SourceFileLoader("mailcheck", os.path.join(ROOT, "tools", "mailcheck"))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("mailcheck", loader))
    loader.exec_module(module)
    return module


mailcheck = _load_mailcheck()

# The plug-in's texts, as its dialogs show them.
CONFIRM_ONE = "添付ファイルを削除してもよいですか？"
CONFIRM_BULK = "添付ファイルの一括削除をしてもよいですか？"
NOTICE_NOT_MULTIPART = "現在は、multipart/mixedの形式以外は、サポートしていません。"
NOTICE_CANNOT_PROCESS = "このメールは処理できませんでした。"
NOTICE_BACKUP_FAILED = "バックアップ処理を行うことができませんでした。"
LIST_COUNT_LABEL = "添付ファイル数:"

# The notice a listed message brings, by the outcome mailcheck expects for it.
NOTICE_FOR_OUTCOME = {mailcheck.NOT_MULTIPART: NOTICE_NOT_MULTIPART, mailcheck.TOO_DEEP: NOTICE_CANNOT_PROCESS}


def windows_path(path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Mailbox:
    """A scratch data folder DATA/Main/{Inbox,Trash} with the plug-in and its
    settings file in a folder of their own, and a copy of the Inbox as it was."""

    def __init__(self, dll, backup=True):
        self.root = tempfile.mkdtemp(prefix="tlclipsum-e2e-")
        self.data = os.path.join(self.root, "data")
        self.inbox = os.path.join(self.data, "Main", "Inbox")
        self.trash = os.path.join(self.data, "Main", "Trash")
        self.original = os.path.join(self.root, "original-inbox")
        os.makedirs(self.trash)
        plugin_folder = os.path.join(self.root, "plugin")
        os.makedirs(plugin_folder)
        self.plugin = os.path.join(plugin_folder, "TlClipsum.dll")
        shutil.copyfile(dll, self.plugin)
        with open(os.path.join(plugin_folder, "TlClipsum.ini"), "wb") as settings:
            settings.write(b"[Settings]\r\nBackUP=%d\r\nDeleteMsg=0\r\nHtmlMsgOff=0\r\n" % (1 if backup else 0))

    def fill_from(self, folder):
        shutil.copytree(folder, self.inbox)
        self.keep_original()

    def keep_original(self):
        shutil.copytree(self.inbox, self.original)

    def path(self, name):
        return os.path.join(self.root, name)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def run_host(self, host, steps, timeout, options=()):
        """Runs StandInHost.exe over this mailbox with the scripted steps and a
        final log step, and any further options of its own (e.g. --full-disk);
        (exit status, its output, the log's bytes)."""
        log = self.path("host-log.txt")
        command = [WINE_RUN, host, "--data", windows_path(self.data) + "\\", "--mailbox", "Main",
                   "--folder", "Inbox", "--plugin", windows_path(self.plugin)] + list(options)
        for step in steps + ["log " + windows_path(log)]:
            command += ["--do", step]
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        text = b""
        if os.path.exists(log):
            with open(log, "rb") as f:
                text = f.read()
        return done.returncode, done.stdout.decode("utf-8", "replace"), text

    def check(self):
        """mailcheck's report of the Inbox and the trash against the original."""
        return mailcheck.check(self.original, self.inbox, self.trash)


def dialogs_of(log):
    """[(caption, text)] of the dialogs the host saw, in order, from its log."""
    section = log.split(b"\n-- dialogs\n", 1)[-1] if b"\n-- dialogs\n" in log else b""
    return [(caption.decode("cp932", "replace"), text.decode("cp932", "replace"))
            for caption, text in re.findall(rb'^dialog "(.*?)" "(.*?)"(?=;|\r?\n|$)', section, re.S | re.M)]


def listed_messages(folder):
    """(file name, expected outcome) of every message the host marks as having
    attachments, in the host's order."""
    return [(name, mailcheck.expectation(data, False)[0])
            for name, data in sorted(mailcheck.eml_files(folder).items()) if mailcheck.is_listed(data)]


def report_failures(report):
    """Lines naming what mailcheck found wrong, and copies in the trash that
    belong to no stripped message (a second backup, or a stray copy)."""
    lines = ["%s: %s" % (entry["file"], problem) for entry in report["messages"] for problem in entry["problems"]]
    lines += ["%s: not in the original Inbox" % name for name in report["unexpected_in_inbox"]]
    lines += ["trash holds %s, a copy of no stripped message" % name for name in report["other_trash_files"]]
    return lines


def print_table(report):
    for row in mailcheck.table(report):
        print(row.rstrip())


def verdict(name, failures):
    """Prints the failures (the first 40) and the outcome; returns the exit status."""
    for line in failures[:40]:
        print("%s: %s" % (name, line))
    print("%s: %s" % (name, "FAILED" if failures else "passed"))
    return 1 if failures else 0
