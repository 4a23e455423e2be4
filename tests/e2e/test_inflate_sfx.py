"""Self-extracting files whose payload holds Deflate and Deflate64 entries (made by Info-ZIP zip and by
7-Zip), run under Wine: every entry comes out byte for byte with its CRC-32 right and no box is shown.
The payload sits behind the stub and the settings block, so entries start off the mapping's granule
boundaries, and the large entry spans several views of the mapped window."""

import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def payload_files():
    rng = random.Random(6)
    words = [b"archive", b"window", b"deflate", b"stream", b"entry", b"setup", b"byte", b"\r\n"]
    text = b" ".join(rng.choice(words) for _ in range(60000))
    block = bytes(rng.getrandbits(8) for _ in range(40000))
    # Repeats 40000 bytes apart: only Deflate64 reaches them.
    far = (block + b"|") * 5
    # About 1.5 MB of mildly compressible data: its compressed stream spans several 640 KiB views.
    large = bytes((i * 7 + (i >> 11) + rng.getrandbits(3)) & 0xFF for i in range(1500000))
    return {
        "readme.txt": text,
        "data/far.bin": far,
        "data/large.bin": large,
        "data/runs.bin": b"a" * 70000 + b"b" * 300 + b"a" * 70000,
        "empty.txt": b"",
    }


class InflateSfx(harness.Case):
    def run_case(self, command, method):
        files = payload_files()
        src = self.tmp.file("src")
        for name, data in files.items():
            self.tmp.write(os.path.join("src", name), data)
        archive = self.tmp.file("payload.zip")
        subprocess.run(command + [archive, "readme.txt", "data", "empty.txt"], cwd=src, check=True,
                       stdout=subprocess.DEVNULL)
        methods = {i.filename: i.compress_type for i in harness.zipfile.ZipFile(archive).infolist()}
        self.assertEqual(methods["data/large.bin"], method)
        self.assertEqual(methods["data/far.bin"], method)
        dest = self.tmp.file("dest")
        package = harness.make_sfx(self.tmp.file("package.exe"), archive, dest=harness.to_windows(dest),
                                   skip_dialog=True, overwrite=True, open_folder=False, use_mksfx=True)
        t = harness.winauto(["run " + harness.command_line(harness.to_windows(package)), "wait-exit"],
                            total=120)
        self.assertExit(t, 0)
        self.assertEqual(t.message_boxes(), [], str(t))
        for name, data in files.items():
            with self.subTest(name=name):
                self.assertEqual(harness.read_file(os.path.join(dest, name)), data)

    def test_info_zip_deflate(self):
        if not shutil.which("zip"):
            self.skipTest("zip missing")
        self.run_case(["zip", "-q", "-r", "-9"], 8)

    def test_7zip_deflate64(self):
        if not shutil.which("7zz"):
            self.skipTest("7zz missing")
        self.run_case(["7zz", "a", "-bd", "-tzip", "-mm=Deflate64", "-mx=9"], 9)


if __name__ == "__main__":
    harness.main()
