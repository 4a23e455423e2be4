"""The progress dialog of a whole run under Wine: Cancel and the close box during a large entry (the run fails
and the partial file goes), the bar's range and positions in 1024-byte units of the file as the transcript
reads them (also its last position while a box of the worker is up), the animation control, and runs into
the prefix's temporary folder in English and in Japanese."""

import os
import shutil
import struct
import subprocess
import sys
import threading
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import command_line, quote  # noqa: E402

EN, JA = harness.string_table("en"), harness.string_table("ja")
CREATE_FOLDER = 4
IDOK, IDCANCEL = 1, 2
PROGRESS_BAR, ENTRY_NAME, ANIMATION = 1004, 1006, 1
CAPTIONS = {"en": "Decompressing...", "ja": "\u9032\u6357\u72b6\u6cc1"}
LARGE_ENTRY_MB = 300


def end_record(data):
    """(central directory offset, entry count) of the end record of a file."""
    end = data.rfind(b"PK\x05\x06")
    count, _, offset = struct.unpack_from("<HII", data, end + 10)
    return offset, count


def local_entries(data):
    """{name: (offset of the data, compressed size)} from the central directory of a self-extracting file
    whose offsets count from the file's start (as mksfx writes them)."""
    offset, count = end_record(data)
    entries, pos = {}, offset
    for _ in range(count):
        csize = struct.unpack_from("<I", data, pos + 20)[0]
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
        local = struct.unpack_from("<I", data, pos + 42)[0]
        name = data[pos + 46:pos + 46 + name_len].decode("cp437")
        local_name_len, local_extra_len = struct.unpack_from("<HH", data, local + 26)
        entries[name] = (local + 30 + local_name_len + local_extra_len, csize)
        pos += 46 + name_len + extra_len + comment_len
    return entries


def read_xwd(data):
    """(width, height, rows of pixel bytes) of an xwd dump in ZPixmap format."""
    header = struct.unpack_from(">25I", data, 0)
    header_size, width, height, bits_per_pixel, bytes_per_line, colours = (
        header[0], header[4], header[5], header[11], header[12], header[19])
    pixels = data[header_size + 12 * colours:]
    step = bits_per_pixel // 8
    rows = [[pixels[y * bytes_per_line + x * step:y * bytes_per_line + (x + 1) * step] for x in range(width)]
            for y in range(height)]
    return width, height, rows


def capture_window(caption):
    """The client area of the one window of that caption on this process's display, as read_xwd gives it."""
    found = subprocess.run(["xdotool", "search", "--name", "^" + caption.replace(".", "\\.") + "$"],
                           capture_output=True, text=True, timeout=10).stdout.split()
    if len(found) != 1:
        return None
    dump = subprocess.run(["xwd", "-id", found[0], "-silent"], capture_output=True, timeout=10).stdout
    return read_xwd(dump)


def prefix_temp_folder(prefix):
    """(Windows path, Linux path) of the temporary folder of a Wine prefix."""
    status, out, err = harness.wine(["cmd", "/c", "echo %TEMP%"], prefix=prefix)
    windows = out.strip().splitlines()[-1].strip()
    if status != 0 or not windows[1:3] == ":\\":
        raise RuntimeError(f"no temporary folder in prefix {prefix}: {out!r} {err[-300:]}")
    root = subprocess.run([os.path.join(harness.SOURCE_DIR, "scripts", "wine-prefix"), prefix],
                          capture_output=True, text=True, check=True).stdout.strip()
    linux = os.path.join(root, "dosdevices", windows[0:2].lower(), *windows[3:].split("\\"))
    return windows, os.path.realpath(linux)


class LargeEntry(harness.Case):
    """One self-extracting file with a large stored entry of zeros first and a small entry behind it,
    shared by the cancel tests."""

    @classmethod
    def setUpClass(cls):
        cls.shared = harness.TempDir()
        src = cls.shared.file("src")
        os.mkdir(src)
        with open(os.path.join(src, "zeros.bin"), "wb") as f:
            f.truncate(LARGE_ENTRY_MB * 1024 * 1024)
        with open(os.path.join(src, "after.txt"), "wb") as f:
            f.write(b"behind the large entry\r\n")
        archive = cls.shared.file("large.zip")
        subprocess.run(["zip", "-q", "-0", archive, "zeros.bin", "after.txt"], cwd=src, check=True,
                       timeout=300)
        os.remove(os.path.join(src, "zeros.bin"))
        cls.dest = cls.shared.file("dest")
        cls.package = harness.make_sfx(cls.shared.file("large.exe"), archive, use_mksfx=True,
                                       dest=harness.to_windows(cls.dest), skip_dialog=True, overwrite=True,
                                       open_folder=False)
        os.remove(archive)
        with open(cls.package, "rb") as f:
            f.seek(-4096, os.SEEK_END)
            tail = f.read()
        cls.central_offset = struct.unpack_from("<I", tail, tail.rfind(b"PK\x05\x06") + 16)[0]
        cls.stub_size = os.path.getsize(harness.stub_path())

    @classmethod
    def tearDownClass(cls):
        cls.shared.cleanup()

    def setUp(self):
        super().setUp()
        shutil.rmtree(self.dest, ignore_errors=True)

    def cancel_run(self, step):
        t = harness.winauto([
            "run " + command_line(harness.to_windows(self.package)),
            f"wait caption={quote(CAPTIONS['en'])}",
            f"read {PROGRESS_BAR}",
            "sleep 400",
            f"read {PROGRESS_BAR}",
            step,
            "wait-gone",
            "wait-exit",
        ], step_timeout=30, total=90)
        self.assertExit(t, -1)
        self.assertEqual(t.message_boxes(), [], str(t))
        # The large entry was cut off, so the cancel came in the middle of it: its partial file is removed
        # and nothing behind it is extracted.
        self.assertTrue(os.path.isdir(self.dest))
        self.assertEqual(os.listdir(self.dest), [], str(t))
        bars = [r for r in t.reads if isinstance(r, harness.Control) and r.id == PROGRESS_BAR]
        self.assertEqual(len(bars), 2, str(t))
        positions = [int(b.values["pos"]) for b in bars]
        last = (self.central_offset - 1) // 1024
        for bar in bars:
            self.assertEqual(bar.values["range"], f"0..{self.central_offset // 1024}", str(t))
        # Positions count from the start of the file: once the first block is written the bar stands past
        # the stub and its settings block (before it, at 0), and it stays below the end.
        self.assertLess(positions[0], positions[1], str(t))
        self.assertTrue(positions[0] == 0 or self.stub_size // 1024 <= positions[0], str(t))
        self.assertLessEqual(self.stub_size // 1024, positions[1], str(t))
        self.assertLess(positions[1], last, str(t))
        return t

    def test_clip_plays_in_the_upper_part_right_of_x_50(self):
        # Wine's animation control does not answer ACM_ISPLAYING, so the screen is asked instead: two
        # pictures of the dialog a moment apart differ where the paper flies, inside the clip's 272 x 60
        # pixels placed at x 50, y 0; left of x 50 the upper part shows only the dialog's background.
        if not (os.environ.get("DISPLAY") and shutil.which("xdotool") and shutil.which("xwd")):
            self.skipTest("needs a display shared with Wine, xdotool and xwd")
        shown, captured = self.tmp.file("shown"), self.tmp.file("captured")
        script = [
            "run " + command_line(harness.to_windows(self.package)),
            f"wait caption={quote(CAPTIONS['en'])}",
            "touch " + quote(harness.to_windows(shown)),
            "wait-file " + quote(harness.to_windows(captured)),
            f"click {IDCANCEL}",
            "wait-gone",
            "wait-exit",
        ]
        result = {}
        runner = threading.Thread(target=lambda: result.update(t=harness.winauto(script, step_timeout=30)))
        runner.start()
        pictures = []
        try:
            deadline = time.time() + 40
            while not os.path.exists(shown) and runner.is_alive() and time.time() < deadline:
                time.sleep(0.05)
            if os.path.exists(shown):
                for _ in range(2):
                    pictures.append(capture_window(CAPTIONS["en"]))
                    time.sleep(0.4)
        finally:
            open(captured, "w").close()
            runner.join(120)
        t = result.get("t")
        self.assertIsNotNone(t)
        self.assertExit(t, -1)
        if None in pictures:
            self.skipTest("the dialog's window is not alone on this display")
        self.assertEqual(len(pictures), 2, str(t))
        (width, height, first), (_, _, second) = pictures
        self.assertGreaterEqual(width, 50 + 272)
        background = first[height - 1][width - 1]
        changed = [(x, y) for y in range(60) for x in range(width) if first[y][x] != second[y][x]]
        self.assertTrue(changed, "the clip does not move")
        self.assertGreaterEqual(min(x for x, _ in changed), 50, changed[:20])
        self.assertLess(max(x for x, _ in changed), 50 + 272, changed[:20])
        self.assertEqual({first[y][x] for y in range(60) for x in range(50)}, {background})

    def test_cancel_button_stops_the_run(self):
        self.cancel_run(f"click {IDCANCEL}")

    def test_close_box_stops_the_run(self):
        t = self.cancel_run("close")
        window = [w for w in t.windows if w.caption == CAPTIONS["en"]][0]
        self.assertIn(f"close #{window.number}", t.lines, str(t))


class ProgressBar(harness.Case):
    def test_last_position_and_range_while_a_worker_box_is_up(self):
        # A stored entry whose CRC-32 is wrong in both headers comes last: the worker's "CRC Error!" box is
        # owned by the progress dialog, and while it is up the bar stands at the end of that entry's data.
        first = bytes((i * 2654435761 >> 13) & 0xFF for i in range(2 * 1024 * 1024))
        archive = self.tmp.file("crc.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
            z.writestr("first.bin", first)
            z.writestr("folder/bad.txt", b"these bytes do not match their CRC-32\r\n" * 200)
        with zipfile.ZipFile(archive) as z:
            bad_local = z.getinfo("folder/bad.txt").header_offset
        data = bytearray(harness.read_file(archive))
        struct.pack_into("<I", data, bad_local + 14, struct.unpack_from("<I", data, bad_local + 14)[0] ^ 1)
        central = data.rfind(b"PK\x01\x02")
        struct.pack_into("<I", data, central + 16, struct.unpack_from("<I", data, central + 16)[0] ^ 1)
        with open(archive, "wb") as f:
            f.write(data)
        dest = self.tmp.file("out")
        package = harness.make_sfx(self.tmp.file("crc.exe"), archive, use_mksfx=True,
                                   dest=harness.to_windows(dest), skip_dialog=True, overwrite=True,
                                   open_folder=False)
        sfx = harness.read_file(package)
        central_offset, _ = end_record(sfx)
        bad_start, bad_size = local_entries(sfx)["folder/bad.txt"]

        t = harness.winauto([
            "run " + command_line(harness.to_windows(package)),
            f"wait caption={quote(CAPTIONS['en'])}",
            f"watch {PROGRESS_BAR}",
            f"watch {ENTRY_NAME}",
            "wait caption=VAZ-IDA",
            "sleep 200",
            f"click {IDOK}",
            "wait-exit",
        ])
        # A CRC failure costs the file, not the run.
        self.assertExit(t, 0)
        progress = [w for w in t.windows if w.caption == CAPTIONS["en"]]
        self.assertEqual(len(progress), 1, str(t))
        boxes = t.message_boxes()
        self.assertEqual([(b.caption, b.msgbox["icon"], b.msgbox["buttons"], b.text) for b in boxes],
                         [("VAZ-IDA", "error", [IDOK], "CRC Error!")], str(t))
        self.assertEqual(boxes[0].owner, f"#{progress[0].number}", str(t))
        # A window being destroyed is hidden first: what a poll saw then is not the dialog's state.
        bars = [b for b in t.watched(PROGRESS_BAR) if "hidden" not in b.flags]
        names = [n for n in t.watched(ENTRY_NAME) if "hidden" not in n.flags]
        self.assertTrue(bars, str(t))
        self.assertEqual({b.values["range"] for b in bars}, {f"0..{central_offset // 1024}"}, str(t))
        positions = [int(b.values["pos"]) for b in bars]
        self.assertEqual(positions, sorted(positions), str(t))
        self.assertEqual(positions[-1], (bad_start + bad_size) // 1024, str(t))
        self.assertEqual(names[-1].text, "folder\\bad.txt", str(t))
        # The animation is created at run time as child 1 of the dialog.
        animation = progress[0].control(ANIMATION)
        self.assertIsNotNone(animation, str(t))
        self.assertEqual(animation.cls, "SysAnimate32")
        self.assertEqual(harness.read_file(os.path.join(dest, "first.bin")), first)
        self.assertFalse(os.path.exists(os.path.join(dest, "folder", "bad.txt")))


class CancelWhileTheWorkerWaits(harness.Case):
    def test_cancel_leaves_the_dialog_up_until_the_worker_closes_it(self):
        # The worker stands in its "CRC Error!" box; Cancel on the progress dialog only records the wish, the
        # dialog stays, and once the box is answered the worker stops before the next entry and closes it.
        archive = self.tmp.file("crc.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
            z.writestr("bad.txt", b"a CRC-32 that does not match\r\n" * 100)
            z.writestr("after.txt", b"never reached\r\n")
        data = bytearray(harness.read_file(archive))
        struct.pack_into("<I", data, 14, struct.unpack_from("<I", data, 14)[0] ^ 1)
        central = data.find(b"PK\x01\x02")
        struct.pack_into("<I", data, central + 16, struct.unpack_from("<I", data, central + 16)[0] ^ 1)
        with open(archive, "wb") as f:
            f.write(data)
        dest = self.tmp.file("out")
        package = harness.make_sfx(self.tmp.file("cancel.exe"), archive, use_mksfx=True,
                                   dest=harness.to_windows(dest), skip_dialog=True, overwrite=True,
                                   open_folder=False)
        t = harness.winauto([
            "run " + command_line(harness.to_windows(package)),
            f"wait caption={quote(CAPTIONS['en'])}",
            "sleep 1500",
            f"click {IDCANCEL}",
            "sleep 500",
            "read",
            "wait caption=VAZ-IDA",
            f"click {IDOK}",
            "wait-exit",
        ])
        self.assertExit(t, -1)
        progress = [w for w in t.windows if w.caption == CAPTIONS["en"]]
        boxes = t.message_boxes()
        self.assertEqual(len(progress), 1, str(t))
        self.assertEqual([b.text for b in boxes], ["CRC Error!"], str(t))
        lines = t.lines
        box_shown = lines.index(f"window #{boxes[0].number} class=\"#32770\" caption=\"VAZ-IDA\" "
                                f"owner=#{progress[0].number}")
        cancel = lines.index(f"click {IDCANCEL}")
        gone = lines.index(f"gone #{progress[0].number}")
        box_answered = lines.index(f"click {IDOK}")
        # The box was up when Cancel came; the dialog was still there half a second later and went only
        # after the box was answered.
        self.assertLess(box_shown, cancel, str(t))
        self.assertEqual([r.number for r in t.reads if isinstance(r, harness.Window)], [progress[0].number])
        self.assertLess(box_answered, gone, str(t))
        self.assertEqual(os.listdir(dest), [], str(t))


def renumber_dialog(image, old_id, new_id):
    """A copy of a PE image whose dialog template `old_id` is listed under `new_id` (which must keep the
    resource directory's order of ids)."""
    image = bytearray(image)
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", image, optional)[0] == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", image, directories + 2 * 8)[0]
    table = optional + optional_size
    for i in range(sections):
        _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", image, table + 40 * i)
        if vaddr <= resource_rva < vaddr + max(vsize, rawsize):
            base = rawptr + resource_rva - vaddr
            break
    else:
        raise ValueError("no resource section")

    def entries(offset):
        named, ids = struct.unpack_from("<HH", image, base + offset + 12)
        for k in range(named + ids):
            at = base + offset + 16 + 8 * k
            yield at, struct.unpack_from("<II", image, at)

    for _, (type_id, sub) in entries(0):
        if type_id == 5 and sub & 0x80000000:
            for at, (name_id, _) in entries(sub & 0x7FFFFFFF):
                if name_id == old_id:
                    struct.pack_into("<I", image, at, new_id)
                    return bytes(image)
    raise ValueError(f"no dialog {old_id}")


class MissingProgressDialog(harness.Case):
    def test_run_ends_when_the_progress_dialog_cannot_be_made(self):
        # A stub whose template 2008 cannot be found: no dialog means no quit message for the message loop,
        # so the run must end on its own (failed, nothing extracted) instead of waiting for ever.
        stub = self.tmp.write("stub.exe", renumber_dialog(harness.read_file(harness.stub_path()), 2008, 2009))
        archive = harness.make_zip(self.tmp.file("p.zip"), {"readme.txt": "text\r\n"}, zipfile.ZIP_STORED)
        dest = self.tmp.file("out")
        package = harness.make_sfx(self.tmp.file("package.exe"), archive, stub=stub, use_mksfx=True,
                                   dest=harness.to_windows(dest), skip_dialog=True, overwrite=True,
                                   open_folder=False)
        t = harness.winauto(["run " + command_line(harness.to_windows(package)), "wait-exit"],
                            step_timeout=20)
        self.assertExit(t, -1)
        self.assertEqual(t.windows, [], str(t))


class TemporaryFolder(harness.Case):
    def test_temp_destination_in_english_and_japanese(self):
        for prefix in ("en", "ja"):
            with self.subTest(prefix=prefix):
                self.run_into_temp(prefix)

    def run_into_temp(self, prefix):
        table = JA if prefix == "ja" else EN
        temp_win, temp_linux = prefix_temp_folder(prefix)
        unique = f"sfx-driver-{prefix}-{os.getpid()}-{int(time.time() * 1000)}"
        # The data is large enough for the progress dialog to stay up a while.
        files = {f"{unique}/readme.txt": b"into the temporary folder\r\n",
                 f"{unique}/sub/data.bin": bytes(range(251)) * 12000}
        archive = harness.make_zip(self.tmp.file(f"{prefix}.zip"), files, zipfile.ZIP_STORED)
        self.addCleanup(shutil.rmtree, os.path.join(temp_linux, unique), True)
        self.addCleanup(shutil.rmtree, os.path.join(temp_linux, "new " + unique), True)

        # %temp% alone: the folder exists, nothing is asked, the entries land in it.
        package = harness.make_sfx(self.tmp.file(f"{prefix} temp.exe"), archive, use_mksfx=True,
                                   dest="%temp%", skip_dialog=True, open_folder=False)
        t = harness.winauto(["run " + command_line(harness.to_windows(package)), "wait-exit"], prefix=prefix)
        self.assertExit(t, 0)
        self.assertEqual(t.message_boxes(), [], str(t))
        for name, data in files.items():
            self.assertEqual(harness.read_file(os.path.join(temp_linux, *name.split("/"))), data)

        # A folder below it that does not exist yet: the question comes in the prefix's language.
        package = harness.make_sfx(self.tmp.file(f"{prefix} new.exe"), archive, use_mksfx=True,
                                   dest=f"%temp%\\new {unique}", skip_dialog=True, open_folder=False)
        t = harness.winauto(["run " + command_line(harness.to_windows(package)), "wait caption=VAZ-IDA",
                             f"click {IDOK}", "wait-exit"], prefix=prefix)
        self.assertExit(t, 0)
        expected = table[CREATE_FOLDER].replace("%s", temp_win.rstrip("\\") + f"\\new {unique}\\")
        boxes = [(b.caption, b.msgbox["icon"], b.msgbox["buttons"], b.text) for b in t.message_boxes()]
        self.assertEqual(boxes, [("VAZ-IDA", "question", [IDOK, IDCANCEL], expected)], str(t))
        progress = [w for w in t.windows if w.msgbox is None]
        self.assertEqual([w.caption for w in progress], [CAPTIONS[prefix]], str(t))
        for name, data in files.items():
            path = os.path.join(temp_linux, "new " + unique, *name.split("/"))
            self.assertEqual(harness.read_file(path), data)


if __name__ == "__main__":
    harness.main()
