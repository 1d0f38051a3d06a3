#!/usr/bin/env python3
"""Starts or stops the Wine session that the Windows tests run in.

  wine_session.py start WINE   creates the prefix if needed and keeps a wine server running
  wine_session.py stop WINE    ends it

A server started by the first test would hold that test's output pipes open until it exits,
seconds later, and each test would wait for it; one long-lived server started here, with no
pipes of any test, avoids that.
"""
import os
import shutil
import subprocess
import sys


def server_for(wine):
    beside = os.path.join(os.path.dirname(wine), "wineserver64")
    return beside if os.path.exists(beside) else shutil.which("wineserver")


def main():
    action, wine = sys.argv[1], sys.argv[2]
    server = server_for(wine)
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if action == "start":
        # A server may be running already (started by listing the unit tests), one that ends
        # when its last program does: replace it with a lasting one.
        subprocess.run([server, "-k"], **quiet)
        subprocess.run([server, "-w"], timeout=60, **quiet)
        # In a session of its own, so that the test runner does not end it with this test.
        subprocess.run([server, "-p"], check=True, start_new_session=True, **quiet)
        subprocess.run([wine, "wineboot", "-u"], check=True, timeout=300, start_new_session=True,
                       **quiet)
        print(f"wine session ready in {os.environ.get('WINEPREFIX', '~/.wine')}")
    else:
        subprocess.run([server, "-k"], **quiet)


if __name__ == "__main__":
    main()
