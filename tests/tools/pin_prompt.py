#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal, answers each PIN prompt with the next of
the given PINs (a prompt ends in ": "), and fails when any PIN shows up in what the terminal displayed.

    pin_prompt.py PIN[,PIN...] COMMAND [ARGS...]

Prints the terminal's output and ends with the command's exit status (or 90 when
a PIN was echoed, 91 when a prompt never came).
"""
import os
import pty
import select
import sys
import time

pins = sys.argv[1].split(",")
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[2], sys.argv[2:])

seen = b""
answered = 0
deadline = time.time() + 60
while time.time() < deadline:
    ready, _, _ = select.select([fd], [], [], 0.2)
    if ready:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    if answered < len(pins) and seen.endswith(b": "):
        os.write(fd, pins[answered].encode() + b"\n")
        answered += 1
        seen += b"<answered>"
_, status = os.waitpid(pid, 0)
sys.stdout.write(seen.decode(errors="replace"))
if any(p.encode() in seen for p in pins):
    print("\npin_prompt: a PIN was echoed to the terminal")
    sys.exit(90)
if answered < len(pins):
    print("\npin_prompt: only %d of %d PIN prompts came" % (answered, len(pins)))
    sys.exit(91)
sys.exit(os.waitstatus_to_exitcode(status))
