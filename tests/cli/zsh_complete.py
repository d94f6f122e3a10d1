#!/usr/bin/env python3
"""Prints, one a line, what zsh's completion offers for the last word of a kivpfx command line:
    zsh_complete.py COMPLETION_FILE FOLDER WORD...
zsh completes only in its line editor, so this starts an interactive zsh (no user start-up files)
on a pseudo-terminal in FOLDER, with COMPLETION_FILE as its _kivpfx, types the words and a Tab,
and records every candidate the completion functions add. Exits 1 if zsh never got that far."""

import os
import pty
import select
import shutil
import signal
import sys
import tempfile
import time

ZSHRC = r"""
fpath=(%(functions)s $fpath)
autoload -Uz compinit && compinit -u -D
# Every candidate added is also written to the capture file; calls that only ask (-O, -A, -D)
# are the completion system's own bookkeeping and pass through.
compadd() {
    if (( ${@[(I)-[OAD]]} )); then builtin compadd "$@"; return; fi
    local -a kiv_found
    builtin compadd -O kiv_found "$@"
    (( $#kiv_found )) && print -rl -- $kiv_found >> %(capture)s
    builtin compadd "$@"
}
# Run once the completion has finished, whatever it found.
kiv_done() { print -r -- done > %(done)s }
comppostfuncs=(kiv_done)
PS1='> '
print -r -- KIV-ZSH-READY
"""


def read_until(fd, wanted, seconds):
    seen = b""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
            if wanted is not None and wanted in seen:
                return seen
    return seen if wanted is None else None


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    completion, folder, words = sys.argv[1], sys.argv[2], sys.argv[3:]
    work = tempfile.mkdtemp(prefix="kiv-zsh-")
    try:
        functions = os.path.join(work, "functions")
        os.mkdir(functions)
        shutil.copy(completion, os.path.join(functions, "_kivpfx"))
        capture, done = os.path.join(work, "capture"), os.path.join(work, "done")
        with open(os.path.join(work, ".zshrc"), "w") as rc:
            rc.write(ZSHRC % {"functions": functions, "capture": capture, "done": done})
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work, "ZDOTDIR": work, "TERM": "xterm",
               "LC_ALL": "C.UTF-8"}
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(folder)
            os.execvpe("zsh", ["zsh", "-i"], env)
        try:
            if read_until(fd, b"KIV-ZSH-READY", 30) is None:
                print("zsh did not start its line editor", file=sys.stderr)
                return 1
            os.write(fd, (" ".join(words) + "\t").encode())
            deadline = time.monotonic() + 30
            while not os.path.exists(done):
                if time.monotonic() > deadline:
                    print("zsh did not finish the completion", file=sys.stderr)
                    return 1
                read_until(fd, None, 0.1)
        finally:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
        offered = []
        if os.path.exists(capture):
            with open(capture) as found:
                for candidate in found.read().splitlines():
                    if candidate not in offered:
                        offered.append(candidate)
        print("\n".join(offered))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
