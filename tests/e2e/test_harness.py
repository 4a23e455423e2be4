"""The harness's own pieces that need no Wine: self-extracting files made here match mksfx's byte for byte
and pass Info-ZIP's test, and transcripts parse back to what winauto wrote."""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class SelfExtractingFiles(harness.Case):
    OPTION_SETS = [
        {},
        {"dest": "%temp%\\日本", "run": "setup.exe /q", "delete_after": True, "overwrite": True,
         "open_folder": False, "skip_dialog": True, "crc": True, "question": "Go on?",
         "question_caption": "Q", "x64": True},
    ]

    def archive(self):
        files = {"dir/": b"", "dir/a.txt": "alpha\r\n", "b.bin": bytes(300)}
        return harness.make_zip(self.tmp.file("a.zip"), files)

    def fake_stub(self):
        # Any bytes do for the comparison; the real stub when it is built.
        try:
            return harness.stub_path()
        except FileNotFoundError:
            return self.tmp.write("stub.exe", b"MZ" + bytes(1022))

    def test_fallback_matches_mksfx(self):
        if not harness.mksfx_path():
            self.skipTest("mksfx is not built in " + harness.HOST_BUILD)
        archive, stub = self.archive(), harness.stub_path()
        for i, options in enumerate(self.OPTION_SETS):
            with self.subTest(options=options):
                mine = harness.make_sfx(self.tmp.file(f"py{i}.exe"), archive, stub=stub, use_mksfx=False,
                                        **options)
                theirs = harness.make_sfx(self.tmp.file(f"mk{i}.exe"), archive, stub=stub, use_mksfx=True,
                                          **options)
                self.assertEqual(harness.read_file(mine), harness.read_file(theirs))

    def test_fallback_passes_unzip(self):
        if not shutil.which("unzip"):
            self.skipTest("unzip is not installed")
        out = harness.make_sfx(self.tmp.file("t.exe"), self.archive(), stub=self.fake_stub(), use_mksfx=False,
                               crc=True)
        result = subprocess.run(["unzip", "-t", out], capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("extra bytes", result.stdout + result.stderr)

    def test_settings_block_layout(self):
        block = harness.settings_block(destination="D", setup_command="S", overwrite=1, open_folder=0,
                                       delete_after=1, skip_dialog=1, archive_crc=0x12345678,
                                       question_caption="C", question_text="T", kind="6")
        self.assertEqual(len(block), 996)
        self.assertEqual(block[0:8], b"TAVREN6U")
        self.assertEqual(block[0x008:0x00C], b"D\0\0\0")
        self.assertEqual(block[0x210:0x214], b"S\0\0\0")
        self.assertEqual(block[0x310:0x324], bytes.fromhex("01000000 00000000 01000000 01000000 78563412"))
        self.assertEqual(block[0x324:0x328], b"C\0\0\0")
        self.assertEqual(block[0x364:0x368], b"T\0\0\0")
        with self.assertRaises(ValueError):
            harness.settings_block(question_caption="x" * 32)
        self.assertEqual(len(harness.settings_block(question_caption="x" * 32, terminate=False)), 996)


class Transcripts(unittest.TestCase):
    def test_parse(self):
        text = "\n".join([
            'run "\\"Z:\\\\a b\\\\x.exe\\" /o"',
            'process 1 name="setup.exe"',
            'window #1 class="#32770" caption="VAZ-IDA" process=1 owner=#2',
            '  child id=65535 class="Static" text="line\\nnext \\"q\\" \\x01 日本"',
            '  child id=4 class="Button" text="&Retry" disabled',
            '  msgbox icon=error buttons=4,2 text="line\\nnext \\"q\\" \\x01 日本"',
            'read id=1001 class="msctls_progress32" text="" pos=5 range=0..100',
            'output "done"',
            'ended process=1 exit 0x00000003',
            'exit 0xFFFFFFFE',
        ])
        t = harness.Transcript(text, 0)
        w = t.windows[0]
        self.assertEqual((w.number, w.cls, w.caption, w.process, w.owner), (1, "#32770", "VAZ-IDA", 1, "#2"))
        self.assertEqual(w.text, 'line\nnext "q" \x01 日本')
        self.assertEqual(w.msgbox["buttons"], [4, 2])
        self.assertIn("disabled", w.control(4).flags)
        self.assertEqual(t.reads[0].values, {"pos": "5", "range": "0..100"})
        self.assertEqual((t.output, t.processes, t.ended), (["done"], {1: "setup.exe"}, {1: 3}))
        self.assertEqual((t.exit_code, t.exit_signed, t.killed), (0xFFFFFFFE, -2, False))
        self.assertEqual(harness.parse_fields(harness.quote('a "b" \\ c\n'))[0], ['a "b" \\ c\n'])


if __name__ == "__main__":
    harness.main()
