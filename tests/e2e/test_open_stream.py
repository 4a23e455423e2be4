"""OpenStream under Wine: the system's error text with Retry and Cancel, while another process holds the file
open without sharing, and once it lets go."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import command_line, quote  # noqa: E402

ERROR_FILE_NOT_FOUND = 2
ERROR_SHARING_VIOLATION = 32
IDRETRY, IDCANCEL = 4, 2


def wait_for(path, seconds=30):
    deadline = time.time() + seconds
    while not os.path.exists(path):
        if time.time() > deadline:
            raise TimeoutError(f"{path} did not appear")
        time.sleep(0.05)


class OpenStreamRetry(harness.Case):
    def probe(self, path):
        return command_line(harness.to_windows(harness.win32_program("open_stream_probe.exe")),
                            harness.to_windows(path))

    def assertErrorBoxes(self, t, count, text):
        boxes = t.message_boxes()
        self.assertEqual(len(boxes), count, str(t))
        for box in boxes:
            self.assertEqual((box.caption, box.text), ("VAZ-IDA", text), str(t))
            self.assertEqual(box.msgbox["buttons"], [IDRETRY, IDCANCEL])
            self.assertEqual(box.msgbox["icon"], "error")

    def test_retry_repeats_while_the_file_is_held_and_succeeds_once_it_is_let_go(self):
        sharing_text = harness.system_error_text(ERROR_SHARING_VIOLATION)
        self.assertTrue(sharing_text.strip())
        data = self.tmp.write("held file.txt", "payload line\r\nsecond\r\n")
        release, ready = self.tmp.file("release"), self.tmp.file("ready")
        holder = harness.start_wine([harness.win32_program("hold_file.exe"), harness.to_windows(data),
                                     harness.to_windows(release), harness.to_windows(ready), "60"])
        try:
            wait_for(ready)
            # Cancel while the file is held: OpenStream returns none.
            t = harness.winauto(["run " + self.probe(data), "wait caption=VAZ-IDA", f"click {IDCANCEL}"])
            harness.Case.assertExit(self, t, 1)
            self.assertEqual(t.output, ["none"])
            self.assertErrorBoxes(t, 1, sharing_text)

            # Retry while it is still held brings the box back; after the holder let go, Retry opens it.
            t = harness.winauto([
                "run " + self.probe(data),
                "wait caption=VAZ-IDA",
                f"click {IDRETRY}",
                "wait caption=VAZ-IDA",
                "touch " + quote(harness.to_windows(release)),
                "wait-nofile " + quote(harness.to_windows(ready)),
                f"click {IDRETRY}",
                "wait-exit",
            ])
            harness.Case.assertExit(self, t, 0)
            self.assertEqual(t.output, ["opened 22 bytes: payload line"])
            self.assertErrorBoxes(t, 2, sharing_text)
            self.assertEqual(harness.stop_wine(holder), 0)
        finally:
            open(release, "w").close()
            harness.stop_wine(holder)

    def test_missing_file_shows_the_system_text_and_creates_nothing(self):
        missing = self.tmp.file("missing.zip")
        t = harness.winauto(["run " + self.probe(missing), "wait caption=VAZ-IDA", f"click {IDCANCEL}"])
        harness.Case.assertExit(self, t, 1)
        self.assertEqual(t.output, ["none"])
        self.assertErrorBoxes(t, 1, harness.system_error_text(ERROR_FILE_NOT_FOUND))
        self.assertFalse(os.path.exists(missing))


if __name__ == "__main__":
    harness.main()
