#!/usr/bin/env python3
"""The release zip, unpacked: the DLL that was built, the settings file with
the recommended values, and the two install guides as Windows users read them
(CR LF, the Japanese in code page 932).

    package_test.py RELEASE.zip TLCLIPSUM.dll GUIDE_FOLDER
"""

import configparser
import os
import sys
import unittest
import zipfile

ZIP_FILE, DLL, GUIDES = (sys.argv[1:4] + [None] * 3)[:3]


class ReleasePackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with zipfile.ZipFile(ZIP_FILE) as package:
            cls.entries = {info.filename: package.read(info) for info in package.infolist()}

    def guide_source(self, name):
        with open(os.path.join(GUIDES, name), "rb") as f:
            return f.read()

    def test_holds_the_dll_its_settings_and_both_guides_only(self):
        self.assertEqual(sorted(self.entries), ["README-en.txt", "README-ja.txt", "TlClipsum.dll", "TlClipsum.ini"])

    def test_settings_file_turns_on_the_backup_the_readable_list_the_progress_and_the_note(self):
        data = self.entries["TlClipsum.ini"]
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "CR LF line ends, as the profile functions write them")
        settings = configparser.ConfigParser(comment_prefixes=(";",))
        settings.optionxform = str
        settings.read_string(data.decode("ascii"))
        self.assertEqual(["Settings"], settings.sections())
        self.assertEqual({"BackUP": "1", "DeleteMsg": "0", "HtmlMsgOff": "0", "ListDetails": "1",
                          "BulkProgress": "1", "RemovedNote": "1"}, dict(settings["Settings"]),
                         "SaveFolder is the user's to choose")

    def test_dll_is_the_built_one(self):
        with open(DLL, "rb") as f:
            self.assertEqual(self.entries["TlClipsum.dll"], f.read())

    def test_japanese_guide_is_code_page_932_with_crlf(self):
        data = self.entries["README-ja.txt"]
        text = data.decode("cp932")  # strict: any byte that is not code page 932 fails here
        with self.assertRaises(UnicodeDecodeError):
            data.decode("utf-8")
        self.assertEqual(text, self.guide_source("README-ja.txt").decode("utf-8").replace("\n", "\r\n"))
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""))

    def test_english_guide_is_ascii_with_crlf(self):
        data = self.entries["README-en.txt"]
        data.decode("ascii")
        self.assertEqual(data, self.guide_source("README-en.txt").replace(b"\n", b"\r\n"))
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""))

    def test_guides_cover_installing_settings_backup_and_limits(self):
        for name, words in (("README-en.txt", ["TlClipsum.dll", "TlClipsum.ini", "plug-in folder", "BackUP",
                                                "DeleteMsg", "HtmlMsgOff", "ListDetails", "BulkProgress",
                                                "RemovedNote", "SaveFolder", "X-TlClipsum-Removed",
                                                "Content-Type: text/html", "trash folder", "empty the trash",
                                                "restore", "never touched", "nested too deep",
                                                "backup copy failed"]),
                            ("README-ja.txt", ["TlClipsum.dll", "TlClipsum.ini", "プラグインフォルダ", "BackUP",
                                                "DeleteMsg", "HtmlMsgOff", "ListDetails", "BulkProgress",
                                                "RemovedNote", "SaveFolder", "X-TlClipsum-Removed",
                                                "Content-Type: text/html", "ゴミ箱", "空にする", "元に戻す",
                                                "手を付けない", "入れ子が深すぎる", "バックアップに失敗"])):
            text = self.entries[name].decode("cp932")
            for word in words:
                self.assertIn(word, text, "%s does not mention %s" % (name, word))


if __name__ == "__main__":
    if ZIP_FILE is None or GUIDES is None:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1])
