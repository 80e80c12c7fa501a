"""Runs korimath.exe and korimath.sys under Wine's kernel-driver host.

Each WineHost owns a private WINEPREFIX and keeps one idle `wine cmd` alive
while it is open: Wine shuts its services (and so the driver) down as soon as
the last ordinary Wine process exits. Every Wine call runs under a timeout.

Differences from Windows that callers must allow for, and that this module
handles openly:
  * A fresh prefix may answer a service start with error 1055 until its
    services have settled; settle() starts a throwaway copy of the driver,
    retrying for a bounded time, so that korimath.exe's single start (Windows
    has no such window) finds the service database free.
  * Every Wine process runs with an elevated token: there is no way to test
    the not-elevated path here.
  * Wine's RtlWriteRegistryValue does not create a missing key; korimath.exe
    creates the report key before it starts the driver, as is harmless on
    Windows.
  * Privileged instructions are emulated: CR0 reads as 0x10 and CR4 as 0,
    and RDMSR answers 0 for nearly every register.
"""

import os
import re
import shutil
import subprocess
import tempfile
import time

CALL_TIMEOUT = 60
START_RETRY_SECONDS = 60


class WineError(RuntimeError):
    pass


class WineHost:
    def __init__(self):
        # Prefixes go under $KORIMATH_WINE_WORKDIR when set (the test build
        # directory), else under the system's temporary directory.
        self.prefix = tempfile.mkdtemp(prefix="korimath-wine-", dir=os.environ.get("KORIMATH_WINE_WORKDIR"))
        # UTF-8 locale: Wine maps file names and arguments through it, and the
        # tests use folder names beyond ASCII.
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", LC_ALL="C.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.keepalive = None

    def __enter__(self):
        # A fresh prefix's first boot has been seen to fail at once (exit 53,
        # once in about ten runs); Wine keys a prefix's server by the folder's
        # device and inode, which a prefix just deleted may share. Boot again,
        # up to twice, a little later.
        for attempt in range(3):
            code, out = self.run(["wineboot", "-i"], timeout=180, check=False)
            if code == 0:
                break
            if attempt == 2:
                raise WineError(f"wineboot -i exited {code}: {out.strip()}")
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=CALL_TIMEOUT,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(2)
        # Let the first boot's services finish and the server exit: until then
        # the service database can stay locked (a start fails with 1055).
        self.run(["wineserver", "-w"], timeout=180)
        self.keepalive = subprocess.Popen(["wine", "cmd"], env=self.env, stdin=subprocess.PIPE,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def add_network_drive(self, letter, folder):
        """Maps LETTER: to C:\\folder as a drive Wine reports as remote. Wine
        reads its drive types when it starts, so the prefix is restarted."""
        os.makedirs(os.path.join(self.prefix, "drive_c", folder), exist_ok=True)
        os.symlink(os.path.join("..", "drive_c", folder), os.path.join(self.prefix, "dosdevices", letter + ":"))
        self.run(["reg", "add", r"HKLM\Software\Wine\Drives", "/v", letter + ":", "/d", "network", "/f"])
        self.__exit__(keep_prefix=True)
        self.__enter__()

    def __exit__(self, *exc, keep_prefix=False):
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
        if not keep_prefix:
            shutil.rmtree(self.prefix, ignore_errors=True)

    def run(self, args, timeout=CALL_TIMEOUT, check=True):
        """Runs a Wine program; returns (exit code, stdout). Output goes through
        a file, not a pipe: wineserver and the services inherit the handles
        and would hold a pipe open long after the program itself has exited.
        stderr holds only Wine's own chatter, and korimath.exe's progress
        lines in --json mode."""
        cmd = ["wine"] + args if args[0] not in ("wineboot", "wineserver") else args
        for _ in range(2):  # under load, Wine's loader now and then fails to start a program at all
            with tempfile.TemporaryFile() as captured:
                done = subprocess.run(cmd, env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                                      stdout=captured, stderr=subprocess.DEVNULL)
                captured.seek(0)
                out = captured.read().decode("utf-8", "replace").replace("\r\n", "\n")
            if "ShellExecuteEx failed" not in out:
                break
        if check and done.returncode != 0:
            raise WineError(f"{' '.join(args)} exited {done.returncode}: {out.strip()}")
        return done.returncode, out

    def place(self, folder, files):
        """Copies files (host paths) into C:\\folder (subfolders separated by
        backslashes); returns that folder's Windows path."""
        target = os.path.join(self.prefix, "drive_c", *folder.split("\\"))
        os.makedirs(target, exist_ok=True)
        for source in files:
            shutil.copyfile(source, os.path.join(target, os.path.basename(source)))
        return "C:\\" + folder

    def service(self, *args, check=True):
        return self.run(["sc"] + list(args), check=check)

    def state(self, service):
        """The service's state name from Wine's (English) sc.exe, or None
        when there is no such service."""
        code, out = self.service("query", service, check=False)
        found = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
        return found.group(1) if code == 0 and found else None

    def start(self, service):
        """Starts the service, retrying past a fresh prefix's 1055."""
        began = time.monotonic()
        while self.service("start", service, check=False)[0] != 0:
            if time.monotonic() - began > START_RETRY_SECONDS:
                raise WineError(f"sc start {service} keeps failing")
            time.sleep(1)

    def delete(self, service):
        """Deletes the service and waits until it is gone: Wine, like Windows, keeps a deleted service while
        anyone (a driver's host process, now and then) still has it open, and refuses to create it again."""
        self.service("delete", service)
        for _ in range(60):
            if self.state(service) is None:
                return
            time.sleep(0.5)
        raise WineError(f"the deleted service {service} stays")

    def settle(self, image):
        """Starts and removes a throwaway copy of the driver, so that a later
        single start finds the service database free."""
        folder = self.place("settle", [image])
        self.service("create", "korimath-settle", "type=", "kernel", "start=", "demand",
                     "binPath=", folder + "\\" + os.path.basename(image))
        self.start("korimath-settle")
        self.service("stop", "korimath-settle")
        self.delete("korimath-settle")
