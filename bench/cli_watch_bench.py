"""halfmap-cli --watch: how soon a saved 4096 x 4096 map is converted, and
the processor time an idle watch takes over a minute.

usage: cli_watch_bench.py HALFMAP_CLI HALFMAP_GENMAP   (run by cli_bench.sh watch)

Each save is a copy beside the input renamed into place, as editors save;
latency is from the rename to the map's JSON line. Idle time is utime +
stime from /proc/PID/stat before and after 60 s without changes.
"""
import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

cli, genmap = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="halfmap-watch-bench.")
try:
    big, map_in = os.path.join(work, "big.bmp"), os.path.join(work, "MAP29361206-1.BMP")
    subprocess.run([genmap, big, "4096", "4096"], check=True, capture_output=True)
    shutil.copy(big, map_in)
    watch = subprocess.Popen([cli, "--watch", "--json", work], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(json.loads(line)) for line in watch.stdout], daemon=True).start()
    lines.get(timeout=30)
    latencies = []
    for _ in range(5):
        shutil.copy(big, map_in + ".new")
        saved = time.monotonic()
        os.rename(map_in + ".new", map_in)
        lines.get(timeout=30)
        latencies.append(time.monotonic() - saved)
        time.sleep(0.3)
    print("4096 x 4096 map, rename to line, s:", " ".join(f"{s:.3f}" for s in sorted(latencies)))

    def ticks():
        fields = open(f"/proc/{watch.pid}/stat").read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    before = ticks()
    time.sleep(60)
    print(f"idle for 60 s: {ticks() - before} ticks of processor time ({os.sysconf('SC_CLK_TCK')} a second)")
    watch.send_signal(2)
    print("exit status after SIGINT:", watch.wait(timeout=30))
finally:
    shutil.rmtree(work)
