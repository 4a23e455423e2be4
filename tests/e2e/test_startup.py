"""Start-up of the stub under Wine: the refusal of Windows 9x, the bare stub, and the settings block's
64-bit requirement in 32-bit and 64-bit prefixes, in English and Japanese."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import command_line, quote  # noqa: E402

EN, JA = harness.string_table("en"), harness.string_table("ja")
IDOK = 1
NEEDS_WIN64, NOT_ON_9X = 12, 13


class Startup(harness.Case):
    def run_stub(self, path, steps, prefix="en", env=None):
        run = "run " + command_line(harness.to_windows(path))
        return harness.winauto([run] + steps, prefix=prefix, env=env)

    def assertOneBox(self, t, caption, text):
        boxes = t.message_boxes()
        self.assertEqual([(b.caption, b.text) for b in boxes], [(caption, text)], str(t))
        self.assertEqual(boxes[0].msgbox["buttons"], [IDOK])
        self.assertEqual(boxes[0].msgbox["icon"], "error")

    def test_windows_9x_is_refused_with_exit_code_minus_2(self):
        # Wine reports Windows 98 to one program name only: a copy of the stub with a name of its own, so
        # that no other run sees the setting.
        name = f"sfx_win98_{os.getpid()}.exe"
        stub = shutil.copy(harness.stub_path(), self.tmp.file(name))
        key = "HKCU\\Software\\Wine\\AppDefaults\\" + name
        for prefix, env, text in (("en", None, EN[NOT_ON_9X]), ("ja", None, JA[NOT_ON_9X])):
            with self.subTest(prefix=prefix):
                status, _, err = harness.wine(["reg", "add", key, "/v", "Version", "/d", "win98", "/f"],
                                              prefix=prefix, env=env)
                self.assertEqual(status, 0, err)
                try:
                    steps = ["wait caption=" + quote("VAZ-IDA [Unicode version]"), f"click {IDOK}"]
                    t = self.run_stub(stub, steps, prefix=prefix, env=env)
                finally:
                    harness.wine(["reg", "delete", key, "/f"], prefix=prefix, env=env)
                harness.Case.assertExit(self, t, 0xFFFFFFFE)
                self.assertOneBox(t, "VAZ-IDA [Unicode version]", text)

    def test_bare_stub_exits_minus_1_and_shows_nothing(self):
        t = self.run_stub(harness.stub_path(), ["wait-exit"])
        harness.Case.assertExit(self, t, 0xFFFFFFFF)
        self.assertEqual(t.windows, [], str(t))

    def make_x64_package(self):
        # The payload carries a setup.exe that ends at once, so that a run past the check finishes on its own.
        archive = harness.make_zip(self.tmp.file("payload.zip"), {
            "setup.exe": harness.read_file(harness.win32_program("winauto_selftest.exe")),
            "readme.txt": "x64 package\r\n"})
        dest = self.tmp.file("out")
        os.mkdir(dest)
        return harness.make_sfx(self.tmp.file("x64 package.exe"), archive, run="setup.exe", x64=True,
                                dest=harness.to_windows(dest), skip_dialog=True, overwrite=True,
                                open_folder=False)

    def test_64_bit_package_is_refused_on_32_bit_windows(self):
        package = self.make_x64_package()
        cases = (("win32", None, EN[NEEDS_WIN64]), ("win32", harness.JAPANESE, JA[NEEDS_WIN64]))
        for prefix, env, text in cases:
            with self.subTest(prefix=prefix, japanese=env is not None):
                steps = ["wait caption=VAZ-IDA", f"click {IDOK}", "wait-exit"]
                t = self.run_stub(package, steps, prefix=prefix, env=env)
                harness.Case.assertExit(self, t, 0xFFFFFFFF)
                self.assertOneBox(t, "VAZ-IDA", text)

    def test_64_bit_package_passes_the_check_under_wow64(self):
        package = self.make_x64_package()
        t = self.run_stub(package, ["wait-exit"], prefix="en")
        self.assertRan(t)
        texts = [b.text for b in t.message_boxes()]
        self.assertNotIn(EN[NEEDS_WIN64], texts, str(t))
        self.assertEqual(t.message_boxes(), [], str(t))


if __name__ == "__main__":
    harness.main()
