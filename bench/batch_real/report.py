#!/usr/bin/python3
"""The table of the real-page batch benchmark, from what bench/batch_real/run left in its folder.
    report.py OUT_FOLDER ROUNDS_DONE VIEW_SIZE"""
import json
import os
import sys

out, rounds, view = sys.argv[1], int(sys.argv[2]), sys.argv[3]


def lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [l for l in f.read().splitlines() if l.strip()]
    except FileNotFoundError:
        return []


def jsonl(path):
    return [json.loads(l) for l in lines(path)]


pages = [l.split() for l in lines(os.path.join(out, "pages.txt"))]


def program_times(folder):
    """Seconds per page: from the previous page's stored file (or the press of 开始任务) to this
    page's. A page that stored nothing has no time of its own: it counts in the next one's."""
    started = lines(os.path.join(folder, "program", "batch", "started"))
    if not started:
        return [None] * len(pages), None
    start = float(started[0])
    ends = {}
    for l in lines(os.path.join(folder, "program_files.txt")):
        name, mtime, _ = l.rsplit(" ", 2)
        ends[int(os.path.basename(name).split(".")[0])] = float(mtime)
    times, previous = [], start
    for item in range(1, len(pages) + 1):
        if item in ends:
            times.append(ends[item] - previous)
            previous = ends[item]
        else:
            times.append(None)
    finished = lines(os.path.join(folder, "program", "batch", "finished"))
    last = previous if len(pages) in ends or not finished else float(finished[0])
    return times, last - start


def peer_times(folder):
    records = jsonl(os.path.join(folder, "peer.jsonl"))
    launch = next((r["launch_seconds"] for r in records if "launch_seconds" in r), None)
    by_item = {r["item"]: r for r in records if "item" in r}
    return [by_item.get(i) for i in range(1, len(pages) + 1)], launch


def size(s):
    return f"{s[0]}x{s[1]}" if s else "-"


def reason(c, peer):
    if peer is None:
        return "the peer never reached it"
    if not peer.get("ok"):
        return "peer failed: " + peer.get("error", "?")
    if "error" in c:
        return "no image to compare: " + c["error"]
    if c["differing_pixels"] == 0:
        return "identical"
    why = []
    ours, theirs = c["program_size"], c["peer_size"]
    if ours != theirs:
        why.append(f"sizes differ ({size(ours)} against {size(theirs)})")
    spans = c["differing_spans"]
    theirs_end, ours_end = c["peer_ink_end"], c["program_ink_end"]
    # An image that goes white for good where the other still shows the page lost its rows.
    content_end = min(theirs_end, ours_end)
    if theirs_end < ours_end - 1:
        why.append(f"the peer's image is white from row {theirs_end:,} down (its one-shot capture of "
                   "a tall page), ours has the page there")
    elif ours_end < theirs_end - 1:
        why.append(f"OUR image is white from row {ours_end:,} down, the peer's has the page there: "
                   "a fault of ours")
    above = [s for s in spans if s[0] < content_end]
    if above:
        rows = sum(min(b, content_end) - a for a, b in above)
        where = f"{len(above)} band(s) of rows above that, {rows:,} rows in all, first at row {above[0][0]:,}"
        if content_end == max(theirs_end, ours_end):
            where = where.replace(" above that", "")
        if peer.get("fixed_or_sticky"):
            why.append(f"{where}; the page has {peer['fixed_or_sticky']} fixed or sticky element(s), "
                       "drawn where the view is as the page is scrolled")
        else:
            why.append(where)
    return "; ".join(why)


def seconds(value):
    return f"{value:8.1f}" if value is not None else "       -"


first = os.path.join(out, "round1")
compared = jsonl(os.path.join(first, "compare.jsonl"))
per_round = [(program_times(os.path.join(out, f"round{r}")), peer_times(os.path.join(out, f"round{r}")))
             for r in range(1, rounds + 1)]

print(f"Real-page batch: {len(pages)} pages served from /usr/share on 127.0.0.1, view {view}, "
      f"{rounds} round(s); seconds, one column per round")
header = f"{'#':>2} {'address path (package)':<58} {'rows':>8} {'program s':>{9 * rounds}} {'peer s':>{9 * rounds}}"
print(header)
print("-" * len(header))
for i, (package, path) in enumerate(pages):
    peer1 = per_round[0][1][0][i]
    rows = peer1.get("page_height") if peer1 else None
    ours = "".join(" " + seconds(p[0][0][i]) for p in per_round)
    theirs = "".join(" " + seconds(q[1][0][i]["seconds"] if q[1][0][i] else None) for q in per_round)
    print(f"{i + 1:>2} {'/' + path + ' (' + package + ')':<58} {rows or 0:>8,}{ours}{theirs}")
print("-" * len(header))
totals_ours = [p[0][1] for p in per_round]
totals_peer = [sum(r["seconds"] for r in p[1][0] if r) for p in per_round]
print(f"{'':>2} {'total':<58} {'':>8}" + "".join(" " + seconds(t) for t in totals_ours) +
      "".join(" " + seconds(t) for t in totals_peer))
print(f"{'':>2} {'peer browser start (not in its total)':<58} {'':>8}" + " " * (9 * rounds) +
      "".join(" " + seconds(p[1][1]) for p in per_round))
for r, (ours, theirs) in enumerate(zip(totals_ours, totals_peer), 1):
    ratio = f"{ours / theirs:.2f}" if ours and theirs else "-"
    print(f"round {r}: program {ours or 0:.1f} s, peer {theirs:.1f} s, program/peer {ratio}; "
          + "; ".join(lines(os.path.join(out, f"round{r}", "load.txt"))))

print()
print("Images (round 1): program's and peer's size, differing pixels, why")
for i, (package, path) in enumerate(pages):
    c = compared[i] if i < len(compared) else {"error": "not compared"}
    peer = per_round[0][1][0][i]
    print(f"{i + 1:>2} {size(c.get('program_size')):>12} {size(c.get('peer_size')):>12} "
          f"{c.get('differing_pixels', 0):>13,}  {reason(c, peer)}")
