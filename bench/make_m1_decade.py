#!/usr/bin/python3
"""Writes about ten years of EURUSD M1 bars for the tester's speed and memory
figures: the bundled two months of real M1 bars (data/EURUSD_M1.csv) chained
57 times, each copy 10 weeks after the one before (whole weeks keep the
weekdays, so weekends stay closed). Only the dates change; prices, volumes and
the times of day are the real ones.

    bench/make_m1_decade.py [OUT]      (default build/bench/EURUSD_M1_10y.csv)
"""
import datetime
import os
import sys

COPIES = 57
SHIFT = datetime.timedelta(weeks=10)

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
source = os.path.join(root, "data", "EURUSD_M1.csv")
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "bench", "EURUSD_M1_10y.csv")
os.makedirs(os.path.dirname(out), exist_ok=True)

with open(source, "r", newline="") as f:
    lines = [line for line in f.read().split("\r\n") if line]

shifted = {}  # (date, copy) -> date text
with open(out, "w", newline="") as f:
    for copy in range(COPIES):
        rows = []
        for line in lines:
            date = line[:10]
            key = (date, copy)
            if key not in shifted:
                day = datetime.date(int(date[:4]), int(date[5:7]), int(date[8:10])) + copy * SHIFT
                shifted[key] = day.strftime("%Y.%m.%d")
            rows.append(shifted[key] + line[10:])
        f.write("\r\n".join(rows) + "\r\n")
print(f"{out}: {COPIES * len(lines)} bars")
