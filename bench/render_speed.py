#!/usr/bin/env python3
"""How fast velmora-render writes the default night, against the floor of
writing as many bytes, measured side by side in one run.

  bench/render_speed.py [--runs N] [--dir DIR] build/default/velmora-render

Each round runs, in turn: the pipe floor (head -c BYTES /dev/zero | cat), the
raw night to a pipe, the file floors (dd of the WAV's size, bs=1M, without
and with conv=fsync: velmora-render flushes the file to the disk before
"wrote", so the second is its match, and the two differ by what the flush
costs), the WAV night to a file, the FLAC encoder's floor (the flac program at its fastest
level, from the raw night on disk, written beforehand), the FLAC night to a
file. After the rounds, one Ogg Vorbis night (the slow one: about a minute).
Prints the medians, the two ratios, the FLAC and Ogg nights' speed in times
real time, and the peak resident memory of each kind of render (GNU time,
package "time"; `scripts/setup.sh --bench` installs it and flac). Files go to DIR (default:
the current folder, so the disk is the one the renders would use) and are
removed.

Every run starts from the same state: what it writes is not there and all is
written back. And each of the two large file writes (dd's and the WAV
night's) comes right after the other's file is removed, with no pause. That
matters more than it seems: on a virtual machine (virtio-balloon's free page
reporting) a page the guest has kept free for a second or two is handed back
to the host and costs a fault when written again. `dd` took 1.7-1.9 s with
the previous output still cached, 0.5 s right after removing it, and a second's
pause between the removal and the write made dd and the WAV night alike two to
four times slower and their ratio noise.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

NIGHT = ["--at", "2005-09-29T00:00:00Z", "--quiet"]
WORDS = ["--", "m1"]
SAMPLES = 898_432_057          # the default night, the programme alone
NIGHT_SECONDS = SAMPLES / 32000


def timed(argv_list, reader=None):
    """Runs argv_list[0] (piped into argv_list[1] when given); returns the wall
    time and the first process's peak memory in MB."""
    # GNU time reports the program's own peak: the rusage of a child forked
    # from this interpreter would count the interpreter's pages too.
    report = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"velmora-bench-{os.getpid()}.rss")
    command = ["/usr/bin/time", "-f", "%M", "-o", report, *argv_list[0]]
    # Every run starts with no dirty pages, or the one after a file write
    # would pay for writing back the one before.
    os.sync()
    start = time.perf_counter()
    first = subprocess.Popen(command, stdout=subprocess.PIPE if reader else None)
    second = None
    if reader:
        second = subprocess.Popen(reader, stdin=first.stdout, stdout=subprocess.DEVNULL)
        first.stdout.close()
    first.wait()
    if second:
        second.wait()
    wall = time.perf_counter() - start
    if first.returncode != 0 or (second and second.returncode != 0):
        sys.exit(f"failed: {' '.join(argv_list[0])}")
    with open(report) as f:
        peak_kb = int(f.read().split()[-1])
    os.unlink(report)
    return wall, peak_kb / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("render")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--dir", default=".")
    args = parser.parse_args()
    render = os.path.abspath(args.render)
    wav_bytes = SAMPLES + 44
    floor_file = os.path.join(args.dir, "velmora-bench-floor.bin")
    wav_file = os.path.join(args.dir, "velmora-bench.wav")
    flac_file = os.path.join(args.dir, "velmora-bench.flac")
    raw_file = os.path.join(args.dir, "velmora-bench.raw")
    flac_floor = os.path.join(args.dir, "velmora-bench-floor.flac")
    ogg_file = os.path.join(args.dir, "velmora-bench.ogg")

    def clean():
        for f in (floor_file, wav_file, flac_file, flac_floor, ogg_file):
            if os.path.exists(f):
                os.unlink(f)

    results = {k: [] for k in ("pipe floor", "raw to a pipe", "file floor", "synced floor",
                               "wav to a file", "flac floor", "flac to a file")}
    memory = {"raw": 0.0, "wav": 0.0, "flac": 0.0, "ogg": 0.0}

    def run(argv, reader=None, remove=()):
        for f in remove:
            if os.path.exists(f):
                os.unlink(f)
        return timed([argv], reader)

    try:
        timed([[render, *NIGHT, "--format", "raw", "--out", raw_file, *WORDS]])
        # The WAV night the first dd follows, as every later one does.
        timed([[render, *NIGHT, "--out", wav_file, *WORDS]])
        for round_ in range(args.runs):
            results["pipe floor"].append(run(["head", "-c", str(SAMPLES), "/dev/zero"], ["cat"])[0])
            t, m = run([render, *NIGHT, "--format", "raw", "--out", "-", *WORDS], ["cat"])
            results["raw to a pipe"].append(t)
            memory["raw"] = max(memory["raw"], m)
            dd = ["dd", "if=/dev/zero", f"of={floor_file}", "bs=1M", f"count={wav_bytes}",
                  "iflag=count_bytes", "status=none"]
            results["file floor"].append(run(dd, remove=[wav_file])[0])
            results["synced floor"].append(run(dd + ["conv=fsync"], remove=[floor_file])[0])
            t, m = run([render, *NIGHT, "--out", wav_file, *WORDS], remove=[floor_file])
            results["wav to a file"].append(t)
            memory["wav"] = max(memory["wav"], m)
            results["flac floor"].append(run([
                "flac", "--silent", "--force", "-0", "--force-raw-format", "--endian=little",
                "--sign=unsigned", "--channels=1", "--bps=8", "--sample-rate=32000",
                "-o", flac_floor, raw_file], remove=[flac_floor])[0])
            t, m = run([render, *NIGHT, "--out", flac_file, *WORDS], remove=[flac_file])
            results["flac to a file"].append(t)
            memory["flac"] = max(memory["flac"], m)
            print(f"round {round_ + 1}/{args.runs}: " +
                  ", ".join(f"{k} {v[-1]:.2f} s" for k, v in results.items()),
                  file=sys.stderr)
        ogg_seconds, memory["ogg"] = run([render, *NIGHT, "--out", ogg_file, *WORDS],
                                         remove=[ogg_file])
    finally:
        clean()
        if os.path.exists(raw_file):
            os.unlink(raw_file)

    med = {k: statistics.median(v) for k, v in results.items()}
    for k, v in med.items():
        print(f"{k:16} median {v:6.2f} s  (of {args.runs})")
    print(f"raw night to a pipe / pipe floor:  {med['raw to a pipe'] / med['pipe floor']:.2f}x"
          "  (target <= 2)")
    print(f"WAV night to a file / dd conv=fsync floor: "
          f"{med['wav to a file'] / med['synced floor']:.2f}x  (target <= 1.5); the flush "
          f"costs dd {med['synced floor'] - med['file floor']:.2f} s "
          f"({med['synced floor'] / med['file floor']:.2f}x dd without it)")
    print(f"FLAC night: {NIGHT_SECONDS / med['flac to a file']:,.0f}x real time"
          "  (target >= 5,000); the encoder's floor "
          f"{NIGHT_SECONDS / med['flac floor']:,.0f}x, "
          f"ratio {med['flac to a file'] / med['flac floor']:.2f}x")
    print(f"Ogg night (one run): {ogg_seconds:.1f} s, {NIGHT_SECONDS / ogg_seconds:,.0f}x real time")
    print("peak memory: " + ", ".join(f"{k} {v:.1f} MB" for k, v in memory.items()) +
          "  (target <= 16)")


if __name__ == "__main__":
    main()
