"""Whole runs of the driver under Wine: a self-extracting file that extracts byte for byte behind the
progress dialog and opens the folder (or starts nothing), a run the worker stops on an error, and the
command-line archive mode with a destination or with a bare archive name."""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import command_line  # noqa: E402
from test_driver import (EN, FOLDER_FORBIDDEN, IDCANCEL, IDOK, PAYLOAD, DriverCase,  # noqa: E402
                         create_folder_text, tree, with_folders)


class WholeRun(DriverCase):
    def test_normal_run_extracts_and_opens_the_folder(self):
        dest = self.tmp.file("target")
        package = self.make_package(dest=harness.to_windows(dest), skip_dialog=True, overwrite=True,
                                    open_folder=True)
        # The folder opens in Wine's explorer, a process of its own: its window is closed here, and winauto
        # ends it if it stays.
        t = self.run_package(package, ["wait class=ExplorerWClass", "wmclose", "wait-gone", "wait-exit"])
        self.assertExit(t, 0)
        self.assertBoxes(t, [])
        self.assertProgressShownAndClosed(t)
        self.assertIn("explorer.exe", t.processes.values(), str(t))
        explorer = [w for w in t.windows if w.cls == "ExplorerWClass"]
        self.assertEqual([w.caption for w in explorer], ["target"], str(t))
        self.assertExtracted(dest, PAYLOAD)

    def test_finished_run_without_opening_starts_nothing(self):
        dest = self.tmp.file("quiet")
        package = self.make_package(dest=harness.to_windows(dest), skip_dialog=True, overwrite=True)
        t = self.run_package(package, ["wait-exit"])
        self.assertExit(t, 0)
        self.assertBoxes(t, [])
        self.assertEqual(t.processes, {}, str(t))
        self.assertExtracted(dest, PAYLOAD)

    def test_worker_stopped_on_an_error_fails_the_run(self):
        # A file stands where the archive has a folder: the worker stops with its message, the driver then
        # reports failure and opens nothing, and what came before the stop stays.
        dest = self.tmp.file("blocked")
        os.mkdir(dest)
        with open(os.path.join(dest, "docs"), "wb") as f:
            f.write(b"in the way")
        files = {"readme.txt": PAYLOAD["readme.txt"], "docs/": b"", "docs/guide/chapter 1.txt": b"text\r\n"}
        package = self.make_package(files=files, dest=harness.to_windows(dest), skip_dialog=True,
                                    overwrite=True, open_folder=True)
        t = self.run_package(package, ["wait caption=VAZ-IDA", f"click {IDOK}", "wait-exit"])
        self.assertExit(t, -1)
        boxes = [(b.caption, b.msgbox["icon"], b.text) for b in t.message_boxes()]
        self.assertEqual(boxes, [("VAZ-IDA", "error", EN[FOLDER_FORBIDDEN])], str(t))
        self.assertProgressShownAndClosed(t)
        self.assertEqual(t.processes, {}, str(t))
        self.assertEqual(tree(dest), {"readme.txt": PAYLOAD["readme.txt"], "docs": b"in the way"})

    def test_command_line_archive_mode(self):
        # A ZIP made by Info-ZIP zip (deflated and stored entries), given with a destination on the command
        # line; /h skips the dialog, /o creates the folder without asking, /n leaves it unopened.
        src = self.tmp.file("src")
        for name, data in PAYLOAD.items():
            if name.endswith("/"):
                os.makedirs(os.path.join(src, name), exist_ok=True)
            else:
                self.tmp.write(os.path.join("src", name), data)
        archive = self.tmp.file("by zip.zip")
        subprocess.run(["zip", "-q", "-r", "-n", ".bin", archive, "."], cwd=src, check=True)
        dest = self.tmp.file("command line", "dest")
        cmdline = (command_line(harness.to_windows(harness.stub_path())) + " /h /o /n " +
                   command_line(harness.to_windows(archive), harness.to_windows(dest)))
        t = self.run_program(cmdline, ["wait-exit"])
        self.assertExit(t, 0)
        self.assertBoxes(t, [])
        self.assertEqual(t.processes, {}, str(t))
        self.assertExtracted(dest, PAYLOAD)
        # Without /o the missing folder is asked for first.
        shutil.rmtree(self.tmp.file("command line"))
        cmdline = (command_line(harness.to_windows(harness.stub_path())) + " /h /n " +
                   command_line(harness.to_windows(archive), harness.to_windows(dest)))
        t = self.run_program(cmdline, ["wait caption=VAZ-IDA", f"click {IDOK}", "wait-exit"])
        self.assertExit(t, 0)
        self.assertBoxes(t, [("VAZ-IDA", "question", [IDOK, IDCANCEL],
                              create_folder_text(dest))])
        self.assertExtracted(dest, PAYLOAD)

    def test_bare_archive_name_extracts_into_the_current_folder(self):
        # sfx.exe /h a.zip typed in the archive's folder: the destination is that folder.
        here = self.tmp.file("here")
        os.mkdir(here)
        harness.make_zip(os.path.join(here, "a.zip"), PAYLOAD, harness.zipfile.ZIP_STORED)
        for arguments in (" /h /n a.zip", ' /h /n "a.zip"'):
            with self.subTest(arguments=arguments):
                for name in os.listdir(here):
                    if name != "a.zip":
                        shutil.rmtree(os.path.join(here, name), ignore_errors=True)
                        if os.path.exists(os.path.join(here, name)):
                            os.remove(os.path.join(here, name))
                stub = command_line(harness.to_windows(harness.stub_path()))
                t = harness.winauto(["cwd " + harness.to_windows(here), "run " + stub + arguments,
                                     "wait-exit"])
                self.assertExit(t, 0)
                self.assertBoxes(t, [])
                found = tree(here)
                del found["a.zip"]
                self.assertEqual(found, with_folders(PAYLOAD))

if __name__ == "__main__":
    harness.main()
