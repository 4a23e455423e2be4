"""The extraction driver under Wine, from the start of a self-extracting file (or of the stub given a ZIP) to
its exit code: every way a run can end before the extraction, each with the boxes it shows (caption, icon,
buttons, text), the destination passes with the destination dialog skipped, and the folder question. Whole
runs are in test_driver_runs.py, the progress dialog in test_driver_progress.py."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import command_line, quote  # noqa: E402

EN = harness.string_table("en")
CANNOT_OPEN_ARCHIVE, UNSUPPORTED_FORMAT, CREATE_FOLDER, FOLDER_FORBIDDEN, INVALID_PATH = 2, 3, 4, 7, 10
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
ERROR_FILE_NOT_FOUND = 2
PROGRESS_CAPTION = "Decompressing..."

# A payload of stored entries: text, an empty file, a folder entry, nested folders and a binary file large
# enough that the progress dialog stays up for a while.
PAYLOAD = {
    "readme.txt": b"The payload.\r\nSecond line.\r\n",
    "empty.dat": b"",
    "docs/": b"",
    "docs/guide/chapter 1.txt": b"chapter one\r\n" * 50,
    "bin/data.bin": bytes((i * 7919 + (i >> 8)) & 0xFF for i in range(3 * 1024 * 1024)),
}


def create_folder_text(folder, table=EN):
    """String 4 as the stub formats it: the destination with its trailing backslash."""
    return table[CREATE_FOLDER].replace("%s", harness.to_windows(folder) + "\\")


def tree(folder):
    """{relative name with /: bytes, or b'' for a folder} of everything below a folder."""
    found = {}
    for root, dirs, names in os.walk(folder):
        for d in dirs:
            found[os.path.relpath(os.path.join(root, d), folder).replace(os.sep, "/")] = b""
        for n in names:
            path = os.path.join(root, n)
            found[os.path.relpath(path, folder).replace(os.sep, "/")] = harness.read_file(path)
    return found


def with_folders(files):
    """The files of a payload with every folder they imply, as tree() reports them."""
    out = {}
    for name, data in files.items():
        name = name.rstrip("/")
        out[name] = data
        parts = name.split("/")
        for i in range(1, len(parts)):
            out.setdefault("/".join(parts[:i]), b"")
    return out


class DriverCase(harness.Case):
    """Helpers of the driver's runs (no tests of its own; test_driver_runs.py shares it)."""

    def make_package(self, folder=None, files=None, name="package.exe", **options):
        """A self-extracting file made by mksfx from a ZIP of stored entries, in `folder` (default: the
        test's temp dir)."""
        folder = folder or self.tmp.path
        os.makedirs(folder, exist_ok=True)
        archive = harness.make_zip(self.tmp.file("payload.zip"), files or PAYLOAD, harness.zipfile.ZIP_STORED)
        options.setdefault("open_folder", False)
        return harness.make_sfx(os.path.join(folder, name), archive, use_mksfx=True, **options)

    def run_program(self, cmdline, steps, prefix="en", total=60):
        return harness.winauto(["run " + cmdline] + steps, prefix=prefix, total=total)

    def run_package(self, path, steps, prefix="en"):
        return self.run_program(command_line(harness.to_windows(path)), steps, prefix=prefix)

    def assertBoxes(self, t, expected):
        """Every message box of the run, in order: (caption, icon, buttons, text). None of the driver's
        boxes has an owner window."""
        boxes = [(b.caption, b.msgbox["icon"], b.msgbox["buttons"], b.text) for b in t.message_boxes()]
        self.assertEqual(boxes, expected, str(t))
        self.assertEqual([b.owner for b in t.message_boxes()], [""] * len(expected), str(t))

    def progress_windows(self, t, caption=PROGRESS_CAPTION):
        return [w for w in t.windows if w.caption == caption and w.msgbox is None]

    def assertProgressShownAndClosed(self, t):
        shown = self.progress_windows(t)
        self.assertEqual(len(shown), 1, str(t))
        self.assertIn(f"gone #{shown[0].number}", t.lines, str(t))

    def assertExtracted(self, folder, files):
        self.assertEqual(tree(folder), with_folders(files))

class Driver(DriverCase):
    # ---- the outcomes before any extraction ----

    def test_named_archive_that_cannot_be_opened(self):
        missing = self.tmp.file("no such archive.zip")
        steps = ["wait caption=VAZ-IDA", f"click {IDCANCEL}",
                 "wait caption=VAZ-IDA text=" + quote(EN[CANNOT_OPEN_ARCHIVE]), f"click {IDOK}", "wait-exit"]
        stub = harness.to_windows(harness.stub_path())
        t = self.run_program(command_line(stub, harness.to_windows(missing)), steps)
        self.assertExit(t, -1)
        self.assertBoxes(t, [
            ("VAZ-IDA", "error", [IDRETRY, IDCANCEL], harness.system_error_text(ERROR_FILE_NOT_FOUND)),
            ("VAZ-IDA", "error", [IDOK], EN[CANNOT_OPEN_ARCHIVE]),
        ])
        self.assertFalse(os.path.exists(missing))

    def test_files_without_an_archive(self):
        stub = harness.read_file(harness.stub_path())
        block = harness.settings_block(destination=self.tmp.win("out"), skip_dialog=1, overwrite=1,
                                       open_folder=0)
        garbage = bytes((i * 37 + 11) & 0xFF for i in range(5000)).replace(b"PK", b"pk")
        cases = (
            # The own file with nothing behind the image ends at once, silently.
            ("bare stub", b"", []),
            # A settings block and bytes that hold no end record: the format is refused.
            ("block and garbage", block + garbage,
             [("VAZ-IDA", "error", [IDOK], EN[UNSUPPORTED_FORMAT])]),
            ("block only", block, [("VAZ-IDA", "error", [IDOK], EN[UNSUPPORTED_FORMAT])]),
            ("garbage without a block", garbage, [("VAZ-IDA", "error", [IDOK], EN[UNSUPPORTED_FORMAT])]),
        )
        for name, tail, boxes in cases:
            with self.subTest(name):
                path = self.tmp.file(name.replace(" ", "_") + ".exe")
                harness.write_sfx(path, stub, b"", tail)
                steps = (["wait caption=VAZ-IDA", f"click {IDOK}"] if boxes else []) + ["wait-exit"]
                t = self.run_package(path, steps)
                self.assertExit(t, -1)
                self.assertBoxes(t, boxes)
                self.assertEqual([w.caption for w in t.windows if w.msgbox is None], [], str(t))
                self.assertFalse(os.path.exists(self.tmp.file("out")))

    def test_stored_question(self):
        question, caption = "Install the sample files?", "Sample setup"
        dest = self.tmp.file("answered", "out")
        package = self.make_package(dest=harness.to_windows(dest), skip_dialog=True, question=question,
                                    question_caption=caption)
        # No: the run ends before anything else is asked or written.
        t = self.run_package(package, [f"wait caption={quote(caption)}", f"click {IDNO}", "wait-exit"])
        self.assertExit(t, -1)
        self.assertBoxes(t, [(caption, "question", [IDYES, IDNO], question)])
        self.assertFalse(os.path.exists(self.tmp.file("answered")))
        # Yes: the question comes before the folder question, and the run goes on to extract.
        t = self.run_package(package, [f"wait caption={quote(caption)}", f"click {IDYES}",
                                       "wait caption=VAZ-IDA", f"click {IDOK}", "wait-exit"])
        self.assertExit(t, 0)
        self.assertBoxes(t, [(caption, "question", [IDYES, IDNO], question),
                             ("VAZ-IDA", "question", [IDOK, IDCANCEL], create_folder_text(dest))])
        self.assertExtracted(dest, PAYLOAD)
        self.assertProgressShownAndClosed(t)

    # ---- the destination passes with the dialog skipped ----

    def test_rejected_destination_falls_back_to_the_archive_folder(self):
        climbs = "..\\" * 40 + "out"
        for stored in ("out?x", "a|b\\c", climbs, "x<y"):
            with self.subTest(stored=stored):
                folder = self.tmp.file("fallback " + str(abs(hash(stored))))
                package = self.make_package(folder, dest=stored, skip_dialog=True)
                t = self.run_package(package, ["wait-exit"])
                self.assertExit(t, 0)
                self.assertBoxes(t, [])
                self.assertProgressShownAndClosed(t)
                # The archive's folder exists, so nothing is asked; the entries land beside the package.
                found = tree(folder)
                del found["package.exe"]
                self.assertEqual(found, with_folders(PAYLOAD))

    def test_rejected_archive_folder_without_the_dialog_stops(self):
        # Every pass falls back to the archive's folder, which is itself refused: the run must stop, once.
        for stored in ("", "out", "out?x"):
            with self.subTest(stored=stored):
                folder = self.tmp.file(f"semi;colon {len(stored)}")
                package = self.make_package(folder, dest=stored, skip_dialog=True)
                t = self.run_package(package, ["wait caption=VAZ-IDA", f"click {IDOK}", "wait-exit"])
                self.assertExit(t, -1)
                self.assertBoxes(t, [("VAZ-IDA", "error", [IDOK], EN[INVALID_PATH])])
                self.assertEqual(self.progress_windows(t), [])
                self.assertEqual(os.listdir(folder), ["package.exe"])

    # ---- the folder question ----

    def test_folder_creation_declined(self):
        dest = self.tmp.file("new", "deeper")
        package = self.make_package(dest=harness.to_windows(dest), skip_dialog=True)
        t = self.run_package(package, ["wait caption=VAZ-IDA", f"click {IDCANCEL}", "wait-exit"])
        # Declining is not a failure of the run.
        self.assertExit(t, 0)
        self.assertBoxes(t, [("VAZ-IDA", "question", [IDOK, IDCANCEL],
                              create_folder_text(dest))])
        self.assertEqual(self.progress_windows(t), [])
        self.assertFalse(os.path.exists(self.tmp.file("new")))

    def test_folder_that_cannot_be_created(self):
        # A file stands where a folder of the destination's path would have to be.
        self.tmp.write("in the way", "a file, not a folder")
        dest = self.tmp.file("in the way", "out")
        for overwrite, steps, boxes in (
            (False, ["wait caption=VAZ-IDA", f"click {IDOK}", "wait caption=VAZ-IDA", f"click {IDOK}"],
             [("VAZ-IDA", "question", [IDOK, IDCANCEL], create_folder_text(dest)),
              ("VAZ-IDA", "error", [IDOK], EN[FOLDER_FORBIDDEN])]),
            # Told to create folders without asking, the stub goes straight to the failure.
            (True, ["wait caption=VAZ-IDA", f"click {IDOK}"],
             [("VAZ-IDA", "error", [IDOK], EN[FOLDER_FORBIDDEN])]),
        ):
            with self.subTest(overwrite=overwrite):
                package = self.make_package(dest=harness.to_windows(dest), skip_dialog=True,
                                            overwrite=overwrite, name=f"package {int(overwrite)}.exe")
                t = self.run_package(package, steps + ["wait-exit"])
                self.assertExit(t, 0)
                self.assertBoxes(t, boxes)
                self.assertEqual(self.progress_windows(t), [])
                self.assertTrue(os.path.isfile(self.tmp.file("in the way")))


if __name__ == "__main__":
    harness.main()
