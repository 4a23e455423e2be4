"""Shared helpers of the end-to-end tests: Windows programs under Wine, driven and recorded by winauto.

Environment (ctest sets it; each has a default for a run by hand from the source tree):
  SFX_SOURCE_DIR   the source tree (default: two levels above this file)
  SFX_WIN32_BUILD  the Windows build with sfx.exe and tests/winauto.exe (default: <source>/build/win32)
  SFX_HOST_BUILD   the Linux build whose tools/mksfx makes self-extracting files
                   (default: <source>/build/host)
  SFX_WINE_PREFIX  the default prefix for runs: en (64-bit, WOW64), ja (the same in Japanese), win32

Nothing here hangs: every Wine run has a subprocess time limit on top of winauto's own limits.
"""

import atexit
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib
from dataclasses import dataclass, field

# ---- locations ----

SOURCE_DIR = os.path.abspath(os.environ.get("SFX_SOURCE_DIR")
                             or os.path.join(os.path.dirname(__file__), "..", ".."))
WIN32_BUILD = os.path.abspath(os.environ.get("SFX_WIN32_BUILD") or os.path.join(SOURCE_DIR, "build", "win32"))
HOST_BUILD = os.path.abspath(os.environ.get("SFX_HOST_BUILD") or os.path.join(SOURCE_DIR, "build", "host"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")

SETTINGS_BLOCK_SIZE = 996


def win32_program(name):
    """Path of a program of the Windows build: sfx.exe at its top, the test tools under tests/."""
    for candidate in (os.path.join(WIN32_BUILD, name), os.path.join(WIN32_BUILD, "tests", name)):
        if os.path.isfile(candidate):
            return candidate
    raise FileNotFoundError(f"{name} is not built in {WIN32_BUILD} (build the Windows preset first)")


def stub_path():
    return win32_program("sfx.exe")


def mksfx_path():
    """The Linux builder, when the host build has it; None otherwise."""
    for candidate in (os.path.join(HOST_BUILD, "tools", "mksfx"), os.path.join(HOST_BUILD, "mksfx")):
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None


# ---- paths ----

def to_windows(path):
    """The Wine path of a Linux path: /tmp/a b/x.exe -> Z:\\tmp\\a b\\x.exe."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def from_windows(path):
    """The Linux path of a Z: path (other drives are not mapped)."""
    if not re.match(r"^[zZ]:", path):
        raise ValueError(f"not a Z: path: {path}")
    return path[2:].replace("\\", "/") or "/"


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


class TempDir:
    """A fresh folder removed with everything in it; usable as a context manager or kept on a test."""

    def __init__(self, prefix="sfx-e2e-"):
        self.path = tempfile.mkdtemp(prefix=prefix)

    def file(self, *names):
        return os.path.join(self.path, *names)

    def win(self, *names):
        return to_windows(self.file(*names))

    def write(self, name, data):
        path = self.file(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()


# ---- the string table (the one source of every text) ----

_STRING_LINE = re.compile(r'^\s*SFX_STRING\(\s*(\d+)\s*,\s*L"((?:[^"\\]|\\.)*)"\s*\)')


def _c_unescape(text):
    out, i = [], 0
    simple = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "0": "\0", "a": "\a"}
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]+", text[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        elif n == "u":
            out.append(chr(int(text[i + 2:i + 6], 16)))
            i += 6
        else:
            out.append(simple.get(n, n))
            i += 2
    return "".join(out)


def string_table(language="en"):
    """{id: text} from src/resources/strings_<language>.h."""
    path = os.path.join(SOURCE_DIR, "src", "resources", f"strings_{language}.h")
    table = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = _STRING_LINE.match(line)
            if m:
                table[int(m.group(1))] = _c_unescape(m.group(2))
    return table


# ---- transcripts ----

def _unquote(text):
    raw = bytearray()
    i = 0
    b = text.encode("utf-8")
    while i < len(b):
        c = b[i]
        if c != 0x5C:
            raw.append(c)
            i += 1
            continue
        n = chr(b[i + 1])
        if n == "x":
            raw.append(int(b[i + 2:i + 4], 16))
            i += 4
        else:
            raw += {"n": b"\n", "r": b"\r", "t": b"\t"}.get(n, n.encode())
            i += 2
    return raw.decode("utf-8", errors="replace")


_TOKEN = re.compile(r'\s*(?:([^\s="]+)=)?(?:"((?:[^"\\]|\\.)*)"|(\S+))')


def parse_fields(rest):
    """Splits a transcript record into (positional values, {key: value}); quoted values are unquoted."""
    positional, named = [], {}
    pos = 0
    while pos < len(rest):
        m = _TOKEN.match(rest, pos)
        if not m or m.end() == pos:
            break
        key, quoted, bare = m.groups()
        value = _unquote(quoted) if quoted is not None else bare
        if key is None:
            positional.append(value)
        else:
            named[key] = value
        pos = m.end()
    return positional, named


@dataclass
class Control:
    id: int
    cls: str
    text: str
    flags: set
    values: dict


@dataclass
class Window:
    number: int
    cls: str
    caption: str
    process: int = 0
    owner: str = ""
    children: list = field(default_factory=list)
    msgbox: dict = None  # {"icon": ..., "buttons": [ids], "text": ...} for message boxes

    def control(self, id):
        for c in self.children:
            if c.id == id:
                return c
        return None

    @property
    def text(self):
        """The message box text, or None for other windows."""
        return self.msgbox["text"] if self.msgbox else None


class Transcript:
    """A parsed winauto transcript."""

    def __init__(self, text, status):
        self.raw = text
        self.status = status  # winauto's own exit status: 0 the script ran through
        self.lines = text.splitlines()
        self.windows = []  # every window as first seen
        self.reads = []  # Control records of read steps, and Window records of whole-window reads
        self.output = []  # lines the program wrote
        self.processes = {}  # number -> name of the processes the program started
        self.ended = {}  # process number -> exit code
        self.left = []  # numbers of started processes still running at the end (winauto ended them)
        self.watches = []  # (window number, Control) for every recorded state of a watched control
        self.ruled = []  # numbers of the windows that an `on` rule answered
        self.failure = None
        self.exit_code = None  # unsigned 32-bit, or None when there is none
        self.killed = False
        current = None
        for line in self.lines:
            if line.startswith("  "):
                verb, rest = (line.strip().split(" ", 1) + [""])[:2]
                positional, named = parse_fields(rest)
                if current is None:
                    continue
                if verb == "child":
                    current.children.append(_control(positional, named))
                elif verb == "msgbox":
                    buttons = [int(b) for b in named.get("buttons", "").split(",") if b]
                    current.msgbox = {"icon": named.get("icon"), "buttons": buttons,
                                      "text": named.get("text", "")}
                continue
            verb, rest = (line.split(" ", 1) + [""])[:2]
            positional, named = parse_fields(rest)
            current = None
            whole_window_read = verb == "read" and positional and positional[0].startswith("#")
            if verb in ("window", "open") or whole_window_read:
                w = Window(int(positional[0][1:]), named.get("class", ""), named.get("caption", ""),
                           int(named.get("process", 0)), named.get("owner", ""))
                current = w
                if verb == "window":
                    self.windows.append(w)
                elif verb == "read":
                    self.reads.append(w)
            elif verb == "read":
                self.reads.append(_control(positional, named))
            elif verb == "watch":
                self.watches.append((int(positional[0][1:]), _control(positional[1:], named)))
            elif verb == "on" and positional and positional[0].startswith("#"):
                self.ruled.append(int(positional[0][1:]))
            elif verb == "left":
                self.left.append(int(named["process"]))
            elif verb == "output":
                self.output.append(positional[0] if positional else "")
            elif verb == "process":
                self.processes[int(positional[0])] = named.get("name", "")
            elif verb == "ended":
                self.ended[int(named["process"])] = int(positional[-1], 16)
            elif verb == "fail":
                self.failure = positional[0] if positional else rest
            elif verb == "exit":
                if positional and positional[0] == "killed":
                    self.killed = True
                elif positional and positional[0].startswith("0x"):
                    self.exit_code = int(positional[0], 16)

    @property
    def exit_signed(self):
        """The exit code as a signed 32-bit number (-1 for 0xFFFFFFFF)."""
        if self.exit_code is None:
            return None
        return self.exit_code - (1 << 32) if self.exit_code & 0x80000000 else self.exit_code

    def message_boxes(self):
        return [w for w in self.windows if w.msgbox is not None]

    def watched(self, id):
        """The recorded states of a watched control, in order."""
        return [c for _, c in self.watches if c.id == id]

    def __str__(self):
        return self.raw


def _control(positional, named):
    flags = {p for p in positional}
    values = {k: v for k, v in named.items() if k not in ("id", "class", "text")}
    return Control(int(named.get("id", 0)), named.get("class", ""), named.get("text", ""), flags, values)


def quote(text):
    """A value for a winauto script (and the transcript's own quoting)."""
    out = ['"']
    for ch in text:
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif ord(ch) < 0x20:
            out.append("\\x%02X" % ord(ch))
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def command_line(*parts):
    """A Windows command line with every part in double quotes (no part may hold a double quote)."""
    return " ".join('"' + p + '"' for p in parts)


# ---- running under Wine ----

JAPANESE = {"LC_ALL": "ja_JP.UTF-8", "LANG": "ja_JP.UTF-8"}


def wine_env(prefix=None, env=None):
    """The environment of a Wine run. `env` adds variables: JAPANESE runs a program of the win32 prefix
    in Japanese (the ja prefix is a 64-bit one, and some behaviour exists only on 32-bit Windows)."""
    result = dict(os.environ)
    result["SFX_WINE_PREFIX"] = prefix or os.environ.get("SFX_WINE_PREFIX", "en")
    result.setdefault("WINEDEBUG", "-all")
    result.update(env or {})
    return result


def _kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def wine(args, prefix=None, timeout=60, cwd=None, env=None):
    """Runs a Windows program (or a Wine tool such as reg) through scripts/wine-run.
    Returns (status, stdout text, stderr text). stdout and stderr go through files, not pipes: Wine's
    server and services inherit them and would keep a pipe open long after the program ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen([WINE_RUN] + list(args), stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                env=wine_env(prefix, env), cwd=cwd, start_new_session=True)
        try:
            status = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            proc.wait()
            raise
        out.seek(0)
        err.seek(0)
        return status, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def start_wine(args, prefix=None, cwd=None, env=None):
    """Starts a Windows program in the background; stop it with stop_wine."""
    log = tempfile.TemporaryFile()
    proc = subprocess.Popen([WINE_RUN] + list(args), stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                            env=wine_env(prefix, env), cwd=cwd, start_new_session=True)
    proc.log = log
    return proc


def stop_wine(proc, timeout=10):
    """Waits for a background program, killing it after `timeout`; returns its status."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        _kill_group(proc)
        return proc.wait()
    finally:
        proc.log.close()


def winauto(script, prefix=None, step_timeout=10, total=90, cwd=None, env=None):
    """Runs a winauto script (a list of steps, or one text) in a Wine prefix and returns its Transcript.
    The script's `run` step starts the program; build its command line with command_line()."""
    if not isinstance(script, str):
        script = "\n".join(script) + "\n"
    with TempDir("winauto-") as tmp:
        script_path = tmp.write("script.txt", script)
        out_path = tmp.file("transcript.txt")
        args = [win32_program("winauto.exe"), "--timeout", str(step_timeout), "--total", str(total),
                "--out", to_windows(out_path), to_windows(script_path)]
        try:
            status, stdout, stderr = wine(args, prefix=prefix, timeout=total + 30, cwd=cwd, env=env)
        except subprocess.TimeoutExpired:
            status, stderr = None, "winauto did not end in time"
        text = ""
        if os.path.exists(out_path):
            with open(out_path, "rb") as f:
                text = f.read().decode("utf-8", "replace")
        t = Transcript(text, status)
        t.stderr = stderr
        return t


def system_error_text(code, prefix=None):
    """The system's own text for an error code in a prefix (FormatMessageW, as the stub asks for it)."""
    status, out, err = wine([win32_program("winauto_selftest.exe"), "errortext", str(code)], prefix=prefix)
    if status != 0:
        raise RuntimeError(f"errortext failed ({status}): {err[-500:]}")
    positional, _ = parse_fields(out.strip())
    return positional[0]


# ---- self-extracting files ----

def settings_block(destination="", setup_command="", overwrite=0, open_folder=1, delete_after=0,
                   skip_dialog=0, archive_crc=0, question_caption="", question_text="", kind="3",
                   magic=b"TAVREN", magic_end=b"U", terminate=True):
    """The 996-byte settings block. With terminate=False a text may fill its field (a malformed block)."""
    def text(value, chars):
        data = value.encode("utf-16-le")
        limit = chars * 2 if not terminate else chars * 2 - 2
        if len(data) > limit:
            raise ValueError(f"text of {len(value)} characters does not fit a field of {chars}")
        return data + b"\0" * (chars * 2 - len(data))

    block = (magic + kind.encode("ascii") + magic_end + text(destination, 260) + text(setup_command, 128) +
             struct.pack("<5I", overwrite, open_folder, delete_after, skip_dialog, archive_crc) +
             text(question_caption, 32) + text(question_text, 64))
    assert len(block) == SETTINGS_BLOCK_SIZE
    return block


def rebase_zip(data, shift):
    """The archive with every offset counted from `shift` bytes earlier: the central directory offset in the
    end record and the local header offset in every central header (no Zip64, one disk)."""
    data = bytearray(data)
    end = data.rfind(b"PK\x05\x06")
    if end < 0:
        raise ValueError("no end of central directory record")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    struct.pack_into("<I", data, end + 16, offset + shift)
    pos = offset
    for _ in range(count):
        if data[pos:pos + 4] != b"PK\x01\x02":
            raise ValueError("central directory header expected")
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
        local = struct.unpack_from("<I", data, pos + 42)[0]
        struct.pack_into("<I", data, pos + 42, local + shift)
        pos += 46 + name_len + extra_len + comment_len
    return bytes(data)


def make_zip(path, files, compression=zipfile.ZIP_DEFLATED):
    """A ZIP archive made by Python's zipfile: files maps names to bytes or str (a name ending in / is a
    folder)."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in files.items():
            if name.endswith("/"):
                z.writestr(zipfile.ZipInfo(name), b"")
            else:
                z.writestr(name, data.encode("utf-8") if isinstance(data, str) else data)
    return path


def make_sfx(out, archive=None, stub=None, dest=None, run=None, delete_after=False, overwrite=False,
             open_folder=True, skip_dialog=False, crc=False, question=None, question_caption=None, x64=False,
             use_mksfx=None):
    """Makes a self-extracting file with mksfx when the host build has it (or use_mksfx=True demands it),
    else the same layout here. `archive` is a ZIP file path; None makes a one-file archive."""
    stub = stub or stub_path()
    tmp = None
    if archive is None:
        tmp = TempDir()
        archive = make_zip(tmp.file("payload.zip"), {"readme.txt": "payload\r\n"})
    try:
        tool = mksfx_path() if use_mksfx is not False else None
        if use_mksfx and not tool:
            raise FileNotFoundError("mksfx is not built in " + HOST_BUILD)
        if tool:
            args = [tool, "--stub", stub, "-o", out]
            for option, value in (("--dest", dest), ("--run", run), ("--question", question),
                                  ("--question-caption", question_caption)):
                if value is not None:
                    args.append(f"{option}={value}")
            for option, on in (("--delete-after", delete_after), ("--overwrite", overwrite),
                               ("--no-open", not open_folder), ("--no-dialog", skip_dialog), ("--crc", crc),
                               ("--x64", x64)):
                if on:
                    args.append(option)
            args.append(archive)
            result = subprocess.run(args, capture_output=True, text=True, timeout=60)
            if result.returncode != 0:
                raise RuntimeError(f"mksfx failed ({result.returncode}): {result.stderr.strip()}")
            return out
        with open(stub, "rb") as f:
            stub_bytes = f.read()
        with open(archive, "rb") as f:
            payload = rebase_zip(f.read(), len(stub_bytes) + SETTINGS_BLOCK_SIZE)
        block = settings_block(destination=dest or "", setup_command=run or "", overwrite=int(overwrite),
                               open_folder=int(open_folder), delete_after=int(delete_after),
                               skip_dialog=int(skip_dialog), archive_crc=zlib.crc32(payload) if crc else 0,
                               question_caption=question_caption or "", question_text=question or "",
                               kind="6" if x64 else "3")
        write_sfx(out, stub_bytes, block, payload)
        return out
    finally:
        if tmp:
            tmp.cleanup()


def write_sfx(out, stub_bytes, block, payload):
    """Writes stub, block and payload as they are: for hand-made (also malformed) files."""
    with open(out, "wb") as f:
        f.write(stub_bytes)
        f.write(block)
        f.write(payload)
    os.chmod(out, 0o755)
    return out


# ---- runner ----

class Case(unittest.TestCase):
    """Base of the end-to-end cases: a temp dir per test and messages that show the transcript."""

    def setUp(self):
        self.tmp = TempDir()
        self.addCleanup(self.tmp.cleanup)

    def assertRan(self, t):
        """The script ran through and the program ended on its own."""
        self.assertEqual(t.status, 0, f"winauto failed: {t.failure}\n{t}\n{getattr(t, 'stderr', '')[-2000:]}")
        self.assertIsNotNone(t.exit_code, str(t))

    def assertExit(self, t, code):
        self.assertRan(t)
        self.assertEqual(t.exit_code, code & 0xFFFFFFFF, f"exit 0x{t.exit_code:08X}\n{t}")


def private_display():
    """Starts an X server of this test process's own and points DISPLAY at it, so that windows, focus
    and screen contents of tests running side by side never meet. Returns the display, or None (then the
    display given, or wine-run's own xvfb-run, serves)."""
    if not shutil.which("Xvfb"):
        return None
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
                             "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.time() + 15
    while not number.endswith(b"\n") and time.time() < deadline:
        ready, _, _ = select.select([read_end], [], [], 0.5)
        if ready:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        _kill_group(proc)
        proc.wait()
        return None

    def stop():
        _kill_group(proc)
        proc.wait()

    atexit.register(stop)
    os.environ["DISPLAY"] = ":" + number.strip().decode()
    return os.environ["DISPLAY"]


def main():
    """unittest's runner with verbose output, on a display of its own; exits non-zero on any failure."""
    private_display()
    start = time.time()
    program = unittest.main(module="__main__", verbosity=2, exit=False)
    print(f"{time.time() - start:.1f} s", file=sys.stderr)
    sys.exit(0 if program.result.wasSuccessful() else 1)
