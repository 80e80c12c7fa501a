"""Loads korimath.sys as a kernel service under Wine's driver host.

Each WineHost owns a private WINEPREFIX and keeps one idle `wine cmd` alive
while it is open: Wine shuts its services (and so the driver) down as soon as
the last ordinary Wine process exits. Every Wine call runs under a timeout.

Differences from Windows that callers must allow for, and that this module
handles openly:
  * Wine's RtlWriteRegistryValue does not create a missing key, so the report
    key is created before the driver starts (Windows creates it on the first
    write).
  * A fresh prefix may answer `sc start` with error 1055 until its services
    have settled; the start is retried for a bounded time.
  * Privileged instructions are emulated: CR0 reads as 0x10 and CR4 as 0,
    and RDMSR answers 0 for nearly every register.
"""

import os
import re
import shutil
import subprocess
import tempfile
import time

REPORT_KEY = r"HKLM\Software\Korimath"
CALL_TIMEOUT = 60
START_RETRY_SECONDS = 60


class WineError(RuntimeError):
    pass


class WineHost:
    def __init__(self):
        # Prefixes go under $KORIMATH_WINE_WORKDIR when set (the test build
        # directory), else under the system's temporary directory.
        self.prefix = tempfile.mkdtemp(prefix="korimath-wine-", dir=os.environ.get("KORIMATH_WINE_WORKDIR"))
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.keepalive = None

    def __enter__(self):
        self.run(["wineboot", "-i"], timeout=180)
        # Let the first boot's services finish and the server exit: until then
        # the service database can stay locked (sc start fails with 1055).
        self.run(["wineserver", "-w"], timeout=180)
        self.keepalive = subprocess.Popen(["wine", "cmd"], env=self.env, stdin=subprocess.PIPE,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def __exit__(self, *exc):
        if self.keepalive is not None:
            self.keepalive.stdin.close()
            try:
                self.keepalive.wait(timeout=CALL_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.keepalive.kill()
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=CALL_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=CALL_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.prefix, ignore_errors=True)

    def run(self, args, timeout=CALL_TIMEOUT, check=True):
        """Runs a Wine program; returns (exit code, stdout). Output goes through
        a file, not a pipe: wineserver and the services inherit the handles
        and would hold a pipe open long after the program itself has exited.
        stderr holds only Wine's own chatter ("wine32 is missing")."""
        cmd = ["wine"] + args if args[0] not in ("wineboot", "wineserver") else args
        with tempfile.TemporaryFile() as captured:
            done = subprocess.run(cmd, env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                                  stdout=captured, stderr=subprocess.DEVNULL)
            captured.seek(0)
            out = captured.read().decode("utf-8", "replace").replace("\r\n", "\n")
        if check and done.returncode != 0:
            raise WineError(f"{' '.join(args)} exited {done.returncode}: {out.strip()}")
        return done.returncode, out

    def windows_path(self, name):
        return os.path.join(self.prefix, "drive_c", name)

    def copy_image(self, image, name="korimath.sys"):
        shutil.copyfile(image, self.windows_path(name))
        return "C:\\" + name

    def create_report_key(self):
        self.run(["reg", "add", REPORT_KEY, "/f"])

    def create_service(self, service, binpath):
        self.run(["sc", "create", service, "type=", "kernel", "start=", "demand", "binPath=", binpath])

    def start(self, service):
        """Starts the service; returns the seconds it took."""
        began = time.monotonic()
        while True:
            code, out = self.run(["sc", "start", service], check=False)
            if code == 0:
                return time.monotonic() - began
            if time.monotonic() - began > START_RETRY_SECONDS:
                raise WineError(f"sc start {service} failed ({code}): {out.strip()}")
            time.sleep(1)

    def settle(self, image):
        """Starts and removes a throwaway copy of the driver, retrying past
        error 1055, so that a later single `sc start` (one the caller cannot
        retry, as in a script under test) finds the service database free."""
        self.create_service("korimath-settle", self.copy_image(image, "settle.sys"))
        self.start("korimath-settle")
        self.stop("korimath-settle")
        self.wait_state("korimath-settle", "STOPPED")
        self.run(["sc", "delete", "korimath-settle"])

    def stop(self, service):
        self.run(["sc", "stop", service])

    def query(self, service):
        """Returns (state name, win32 exit code)."""
        _, out = self.run(["sc", "query", service])
        state = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
        exit_code = re.search(r"WIN32_EXIT_CODE\s*:\s*(\d+)", out)
        if not state or not exit_code:
            raise WineError(f"unexpected sc query output: {out!r}")
        return state.group(1), int(exit_code.group(1))

    def wait_state(self, service, wanted, seconds=30):
        deadline = time.monotonic() + seconds
        while True:
            state, code = self.query(service)
            if state == wanted or time.monotonic() > deadline:
                return state, code
            time.sleep(0.5)

    def report(self):
        """Returns {name: (type, data)} for the values under the report key;
        type is "REG_SZ" with a str or "REG_DWORD" with an int."""
        out_file = self.windows_path("report.reg")
        if os.path.exists(out_file):
            os.remove(out_file)
        # Right after a driver stops, Wine's reg.exe can fail once without a
        # word while the driver host winds down; a short retry rides it out.
        for attempt in range(5):
            code, _ = self.run(["reg", "export", REPORT_KEY, "C:\\report.reg", "/y"], check=False)
            if code == 0:
                break
            time.sleep(1)
        else:
            raise WineError(f"reg export {REPORT_KEY} keeps failing")
        with open(out_file, "rb") as f:
            return parse_reg_export(f.read())


_VALUE = re.compile(r'^"((?:[^"\\]|\\.)*)"=(.*)$')


def _unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def parse_reg_export(raw):
    """Parses a regedit 5 export (UTF-16LE with BOM) of one key."""
    text = raw.decode("utf-16")
    values = {}
    for line in text.splitlines():
        match = _VALUE.match(line)
        if not match:
            continue
        name, data = _unescape(match.group(1)), match.group(2)
        if data.startswith('"') and data.endswith('"'):
            values[name] = ("REG_SZ", _unescape(data[1:-1]))
        elif data.startswith("dword:"):
            values[name] = ("REG_DWORD", int(data[6:], 16))
        else:
            values[name] = ("OTHER", data)
    return values
