"""Runs inside a terminal emulator for the tests and writes to the file it is given, one line
each, what reaches the program in the terminal:
  ready                 listening (the terminal's line discipline as a shell's editor sets it)
  focus in | focus out  the terminal's window gained or lost the keyboard focus (it reports
                        that to a program that asks, as editors do)
  bytes <JSON string>   what it read: typed or pasted text, or a control character such as ^V
  signal SIGINT         Control+C as the terminal's line discipline turns it into a signal
"""
import json
import os
import signal
import sys
import termios

log = open(sys.argv[1], "a", buffering=1, encoding="utf-8")
signal.signal(signal.SIGINT, lambda *_: log.write("signal SIGINT\n"))
# As a shell's line editor has it: every byte as it comes, no echo, ^C still a signal.
attributes = termios.tcgetattr(0)
attributes[3] &= ~(termios.ICANON | termios.ECHO | termios.IEXTEN)
termios.tcsetattr(0, termios.TCSANOW, attributes)
os.write(1, b"\x1b[?1004h")  # focus reports: ESC [ I and ESC [ O
log.write("ready\n")
REPORTS = {b"\x1b[I": "focus in", b"\x1b[O": "focus out"}
while True:
    try:
        data = os.read(0, 4096)
    except InterruptedError:
        continue
    if not data:
        break
    for report, line in REPORTS.items():
        while report in data:
            data = data.replace(report, b"", 1)
            log.write(line + "\n")
    if data:
        log.write("bytes " + json.dumps(data.decode("utf-8", "replace"), ensure_ascii=False) + "\n")
