#!/usr/bin/python3
"""One sample of the Linux side for the soak run: proc_stats.py RIG_DIR PROGRAM_MARKER prints
wine_rss_kib and wine_fds (the Wine process whose command line holds quorlane.exe and PROGRAM_MARKER), and for
the browser the engine started (a command line with --remote-debugging-port and RIG_DIR, no
--type=) together with everything below it: browser_procs, browser_rss_kib, browser_pss_kib,
browser_fds."""
import os
import sys


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def field(pid, name, source="status"):
    for line in read("/proc/%d/%s" % (pid, source)).decode("utf-8", "replace").splitlines():
        if line.startswith(name + ":"):
            return int(line.split()[1])
    return 0


def fds(pids):
    count = 0
    for pid in pids:
        try:
            count += len(os.listdir("/proc/%d/fd" % pid))
        except OSError:
            pass
    return count


def main():
    rig, marker = sys.argv[1].encode(), sys.argv[2].encode()
    parent, command = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        stat = read("/proc/%d/stat" % pid)
        close = stat.rfind(b")")
        if close < 0:
            continue
        rest = stat[close + 2:].split()
        if rest and rest[0] in (b"Z", b"X"):
            continue
        parent[pid] = int(rest[1])
        command[pid] = read("/proc/%d/cmdline" % pid).replace(b"\0", b" ")
    wine = [p for p, c in command.items() if b"quorlane.exe" in c and marker in c and b"qldriver" not in c]
    roots = {p for p, c in command.items()
             if b"--remote-debugging-port" in c and rig in c and b"--type=" not in c}
    tree = set()
    for pid in parent:
        p, seen = pid, 0
        while p > 1 and seen < 64:
            if p in roots:
                tree.add(pid)
                break
            p, seen = parent.get(p, 0), seen + 1
    print("wine_rss_kib=%d wine_fds=%d browser_procs=%d browser_rss_kib=%d browser_pss_kib=%d browser_fds=%d" % (
        sum(field(p, "VmRSS") for p in wine), fds(wine), len(tree), sum(field(p, "VmRSS") for p in tree),
        sum(field(p, "Pss", "smaps_rollup") for p in tree), fds(tree)))


if __name__ == "__main__":
    main()
