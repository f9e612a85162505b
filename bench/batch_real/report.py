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
    ours_only = "peer_size" not in c and "program_size" in c
    if peer is None:
        return "the peer never reached it"
    if not peer.get("ok"):
        why = "peer failed: " + peer.get("error", "?")
        if ours_only:
            height = c["program_size"][1]
            white = height - c["program_ink_end"]
            why += f"; ours stored {size(c['program_size'])}" + (
                f", white from row {c['program_ink_end']:,} down" if white > 1000 else ", the page to its end")
        return why
    if "error" in c:
        return "no image to compare: " + c["error"]
    if c["differing_pixels"] == 0:
        return "identical"
    why = []
    ours, theirs = c["program_size"], c["peer_size"]
    if ours != theirs:
        why.append(f"sizes differ ({size(ours)} against {size(theirs)})")
    # Rows one image leaves blank where the other shows the page: lost rows, not a different look.
    if "program_blank_rows" not in c:  # an older comparison knew only where each image ends
        c["program_blank_rows"] = max(0, c["peer_ink_end"] - c["program_ink_end"])
        c["peer_blank_rows"] = max(0, c["program_ink_end"] - c["peer_ink_end"])
    if c["program_blank_rows"]:
        why.append(f"OUR image is blank in {c['program_blank_rows']:,} rows where the peer's shows the page "
                   f"(last of ours at row {c['program_ink_end']:,}): a fault of ours")
    if c["peer_blank_rows"]:
        why.append(f"the peer's image is blank in {c['peer_blank_rows']:,} rows where ours shows the page "
                   f"(last of its at row {c['peer_ink_end']:,}: its one-shot capture of a tall page)")
    # Documentation pages have text to within a few hundred rows of their end.
    tails = [f"{who} white from row {end:,} to its end, {height - end:,} rows"
             for who, end, height in (("ours", c["program_ink_end"], ours[1]), ("the peer's", c["peer_ink_end"], theirs[1]))
             if height - end > 1000]
    if tails:
        why.append("; ".join(tails))
    lost = c["program_blank_rows"] + c["peer_blank_rows"]
    if lost == 0:
        spans = c["differing_spans"]
        where = f"{c['span_count']} band(s) of rows differ, first at row {spans[0][0]:,}"
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
header = f"{'#':>2} {'address path (package)':<58} {'rows':>9} {'program s':>{9 * rounds}} {'peer s':>{9 * rounds}}"
print(header)
print("-" * len(header))
for i, (package, path) in enumerate(pages):
    peer1 = per_round[0][1][0][i]
    rows = f"{peer1['page_height']:,}" if peer1 and "page_height" in peer1 else "-"
    if rows == "-" and i < len(compared) and "program_size" in compared[i]:
        rows = f"{compared[i]['program_size'][1]:,}*"  # the peer could not tell: our image's height
    ours = "".join(" " + seconds(p[0][0][i]) for p in per_round)
    theirs = "".join(" " + seconds(q[1][0][i]["seconds"] if q[1][0][i] else None) for q in per_round)
    print(f"{i + 1:>2} {'/' + path + ' (' + package + ')':<58} {rows:>9}{ours}{theirs}")
print("-" * len(header))
totals_ours = [p[0][1] for p in per_round]
totals_peer = [sum(r["seconds"] for r in p[1][0] if r) for p in per_round]
print(f"{'':>2} {'total':<58} {'':>9}" + "".join(" " + seconds(t) for t in totals_ours) +
      "".join(" " + seconds(t) for t in totals_peer))
print(f"{'':>2} {'peer browser start (not in its total)':<58} {'':>9}" + " " * (9 * rounds) +
      "".join(" " + seconds(p[1][1]) for p in per_round))
for r, (ours, theirs) in enumerate(zip(totals_ours, totals_peer), 1):
    ratio = f"{ours / theirs:.2f}" if ours and theirs else "-"
    print(f"round {r}: program {ours or 0:.1f} s, peer {theirs:.1f} s, program/peer {ratio}; "
          + "; ".join(lines(os.path.join(out, f"round{r}", "load.txt"))))

print("rows: the page's height at the view size, as the peer's browser measured it after its batch step"
      " (* where it could not: our image's height)")
print()
print("Images (round 1): program's and peer's size, differing pixels, why")
for i, (package, path) in enumerate(pages):
    c = compared[i] if i < len(compared) else {"error": "not compared"}
    peer = per_round[0][1][0][i]
    print(f"{i + 1:>2} {size(c.get('program_size')):>12} {size(c.get('peer_size')):>12} "
          f"{c.get('differing_pixels', 0):>13,}  {reason(c, peer)}")
