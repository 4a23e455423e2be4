"""winauto itself, against winauto_selftest: what it records, how it answers, and that it ends every run."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import command_line, quote  # noqa: E402

MB_OK, MB_OKCANCEL, MB_YESNO, MB_RETRYCANCEL = 0x0, 0x1, 0x4, 0x5
MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION = 0x10, 0x20, 0x30, 0x40


def selftest(*args):
    program = harness.to_windows(harness.win32_program("winauto_selftest.exe"))
    return command_line(program) + " " + " ".join(args)


class MessageBoxes(harness.Case):
    def test_records_and_answers_boxes_in_order(self):
        # Two boxes with the same caption: the second wait must take the second box, not the first again.
        t = harness.winauto([
            "run " + selftest("print", "before",
                              "box", "VAZ-IDA", '"first line\\nsecond"', hex(MB_RETRYCANCEL | MB_ICONERROR),
                              "box", "VAZ-IDA", "again", hex(MB_YESNO | MB_ICONQUESTION),
                              "box", quote("日本語の題"), quote("このセットアップモジュールは Windows 64ビット用です。"),
                              hex(MB_OKCANCEL | MB_ICONWARNING),
                              "box", "Info", "i", hex(MB_OK | MB_ICONINFORMATION)),
            "wait caption=VAZ-IDA",
            "click 4",
            "wait caption=VAZ-IDA text~=again",
            "click 7",
            "wait caption=" + quote("日本語の題"),
            "click 2",
            "wait class=#32770 caption=Info",
            "click 1",
            "wait-exit",
        ])
        harness.Case.assertExit(self, t, 1)
        boxes = t.message_boxes()
        self.assertEqual([(b.caption, b.text) for b in boxes], [
            ("VAZ-IDA", "first line\nsecond"), ("VAZ-IDA", "again"),
            ("日本語の題", "このセットアップモジュールは Windows 64ビット用です。"), ("Info", "i")])
        self.assertEqual([b.msgbox["buttons"] for b in boxes], [[4, 2], [6, 7], [1, 2], [1]])
        self.assertEqual([b.msgbox["icon"] for b in boxes], ["error", "question", "warning", "information"])
        self.assertEqual([b.number for b in boxes], [1, 2, 3, 4])
        self.assertEqual(t.output, ["before", "answer 4", "answer 7", "answer 2", "answer 1"])
        # every box went away after its answer
        for b in boxes:
            self.assertIn(f"gone #{b.number}", t.lines)

    def test_exit_code_is_reported_in_full_32_bits(self):
        for code in (0, 0xFFFFFFFF, 0xFFFFFFFE, 0x80000001):
            with self.subTest(code=hex(code)):
                t = harness.winauto(["run " + selftest("exit", hex(code))])
                harness.Case.assertExit(self, t, code)
                self.assertEqual(t.windows, [], str(t))

    def test_command_line_is_passed_exactly(self):
        # Blanks, an empty pair of quotes and a backslash before a quote reach the program unchanged.
        program = harness.to_windows(harness.win32_program("winauto_selftest.exe"))
        line = '"' + program + '"   cmdline  "a  b"""c\\"d ""'
        t = harness.winauto(["run " + line])
        harness.Case.assertExit(self, t, 2)  # the program rejects the odd arguments after printing
        self.assertEqual(t.output[0], line)


class Controls(harness.Case):
    def test_type_check_read_and_click(self):
        t = harness.winauto([
            "run " + selftest("form"),
            "wait caption=" + quote("winauto form"),
            "read 103",
            "type 101 " + quote("typed ü 日本"),
            "check 102",
            "read 102",
            "click 1",
            "wait-gone",
            "wait-exit",
        ])
        harness.Case.assertExit(self, t, 0)
        form = t.windows[0]
        self.assertEqual((form.cls, form.caption), ("WinautoForm", "winauto form"))
        self.assertEqual(form.control(101).text, "start")
        self.assertNotIn("checked", form.control(102).flags)
        self.assertIn("disabled", form.control(104).flags)
        self.assertIsNone(form.msgbox)
        progress, check = t.reads
        self.assertEqual((progress.values["pos"], progress.values["range"]), ("17", "0..50"))
        self.assertIn("checked", check.flags)
        self.assertEqual(t.output, ["edit=typed ü 日本 check=1"])

    def test_keys(self):
        # Keys as the dialog's own loop takes them: default button, Escape, ALT mnemonic, and typing with
        # editing keys, in order with the click that follows.
        t = harness.winauto([
            "run " + selftest("box", "K1", "k", hex(MB_YESNO | 0x100), "box", "K2", "k", hex(MB_OKCANCEL),
                              "box", "K3", "k", hex(MB_YESNO), "form"),
            "wait caption=K1", "key RETURN",
            "wait caption=K2", "key ESCAPE",
            "wait caption=K3", "key ALT+N",
            "wait class=WinautoForm",
            "type 101 \"\"",
            "focus 101",
            "keys " + quote("ab cü 0123456789 abcdefghijklmnopqrstuvwxyz"),
            "keys " + quote("\b"),
            "key LEFT",
            "keys Z",
            "click 1",
        ])
        harness.Case.assertExit(self, t, 7)  # the last box's answer
        self.assertEqual(t.output, ["answer 7", "answer 2", "answer 7",
                                    "edit=ab cü 0123456789 abcdefghijklmnopqrstuvwxZy check=0"])

    def test_real_keystrokes(self):
        t = harness.winauto([
            "run " + selftest("box", "H1", "k", hex(MB_YESNO | 0x100), "box", "H2", "k", hex(MB_OKCANCEL)),
            "wait caption=H1", "hwkey RETURN",
            "wait caption=H2", "hwkey ESCAPE",
        ])
        harness.Case.assertExit(self, t, 2)
        self.assertEqual(t.output, ["answer 7", "answer 2"])

    def test_close_command(self):
        t = harness.winauto(["run " + selftest("form"), "wait class=WinautoForm", "close", "wait-exit"])
        harness.Case.assertExit(self, t, 0)
        self.assertEqual(t.output, ["closed"])

    def test_disabled_or_missing_control_fails_the_run(self):
        for step, reason in (("click 104", "disabled"), ("click 999", "no control 999")):
            with self.subTest(step=step):
                started = time.time()
                t = harness.winauto(["run " + selftest("form"), "wait class=WinautoForm", step, "wait-exit"])
                self.assertEqual(t.status, 1, str(t))
                self.assertIn(reason, t.failure)
                self.assertTrue(t.killed, str(t))
                self.assertNotIn("disabled button pressed", t.output)
                self.assertLess(time.time() - started, 30)


class RulesAndWatches(harness.Case):
    def test_rule_answers_every_matching_window(self):
        boxes = []
        for i in range(3):
            boxes += ["box", "Rule", f"r{i}", hex(MB_YESNO)]
        t = harness.winauto([
            "run " + selftest(*boxes, "box", "Last", "l", hex(MB_OKCANCEL)),
            "on caption=Rule => click 7",
            "wait caption=Last",
            "click 2",
            "wait-exit",
        ])
        harness.Case.assertExit(self, t, 2)
        self.assertEqual([w.text for w in t.message_boxes()], ["r0", "r1", "r2", "l"])
        self.assertEqual(t.ruled, [1, 2, 3])
        self.assertEqual(t.lines.count("click 7"), 3)

    def test_watch_follows_a_control_until_its_window_closes_itself(self):
        t = harness.winauto([
            "run " + selftest("count", "12"),
            "wait caption=" + quote("winauto count"),
            "watch 103",
            "watch 105",
            "wait-gone",
            "wait-exit",
        ])
        harness.Case.assertExit(self, t, 0)
        positions = [int(c.values["pos"]) for c in t.watched(103)]
        texts = [c.text for c in t.watched(105)]
        self.assertGreater(len(positions), 2, str(t))
        self.assertEqual(positions, sorted(set(positions)), str(t))
        self.assertEqual(positions[-1], 12)
        self.assertEqual({c.values["range"] for c in t.watched(103)}, {"0..12"})
        self.assertEqual(texts[-1], "step 12")
        self.assertEqual(texts, [f"step {n}" for n in sorted({int(x.split()[1]) for x in texts})])


class Limits(harness.Case):
    def test_unanswered_window_fails_and_ends_the_program(self):
        # The box waits for an answer that never comes: the run fails after the step's limit with the
        # transcript so far, and the program is ended instead of hanging.
        for steps in (["wait caption=Other"], ["wait-exit"]):
            with self.subTest(steps=steps):
                started = time.time()
                hang = selftest("box", "Hang", quote("nobody answers"), "0x10")
                t = harness.winauto(["timeout 2", "run " + hang] + steps)
                elapsed = time.time() - started
                self.assertEqual(t.status, 1, str(t))
                self.assertTrue(t.killed, str(t))
                self.assertIsNone(t.exit_code)
                self.assertIn("within 2000 ms", t.failure)
                self.assertEqual([w.text for w in t.message_boxes()], ["nobody answers"])
                self.assertTrue(any(line.startswith("open #1 ") for line in t.lines), str(t))
                self.assertLess(elapsed, 20)

    def test_program_that_ends_while_a_window_is_awaited_fails_at_once(self):
        started = time.time()
        t = harness.winauto(["timeout 30", "run " + selftest("exit", "5"), "wait caption=Never"])
        self.assertEqual(t.status, 1, str(t))
        self.assertIn("ended while waiting", t.failure)
        self.assertEqual(t.exit_code, 5)
        self.assertLess(time.time() - started, 25)


class Processes(harness.Case):
    def test_windows_of_a_started_process_are_watched(self):
        t = harness.winauto([
            "run " + selftest("spawn", "box", "Child", "from-the-child", "0x1"),
            "wait caption=Child",
            "click 2",
            "wait-exit",
        ])
        harness.Case.assertExit(self, t, 2)  # the child's answer, passed on by the parent
        self.assertEqual(t.processes, {1: "winauto_selftest.exe"})
        self.assertEqual(t.windows[0].process, 1)
        self.assertEqual(t.windows[0].text, "from-the-child")
        self.assertEqual(t.ended, {1: 2})

    def test_processes_left_running_are_ended(self):
        t = harness.winauto([
            "run " + selftest("start", "box", "Left", "behind", "0"),
            "sleep 1500",
            "wait caption=Left",
            "wait-exit",
        ])
        harness.Case.assertExit(self, t, 0)
        self.assertEqual([(w.caption, w.process) for w in t.windows], [("Left", 1)])
        self.assertEqual(t.left, [1])

    def test_files_as_signals(self):
        signal = self.tmp.file("signal")
        t = harness.winauto([
            "run " + selftest("box", "Wait", "w", "0"),
            "wait caption=Wait",
            "touch " + quote(harness.to_windows(signal)),
            "wait-file " + quote(harness.to_windows(signal)),
            "click 1",
        ])
        harness.Case.assertExit(self, t, 1)
        self.assertTrue(os.path.exists(signal))


if __name__ == "__main__":
    harness.main()
