#!/usr/bin/env python3
"""Start + "ping" + exit of the host against spawning /bin/true and a C++ "hello", in one run.

Chrome starts a fresh host for every one-shot message, so this is what each one costs.
Usage: Benchmarks/startup-cost.py HOST [OTHER_HOST...]  (medians of alternating spawns)
The host's peak memory for the same run is in HostBenchmarks (BM_HostProcessPing).
"""
import os, statistics, subprocess, sys, tempfile, time

PING = b'\x11\x00\x00\x00{"action":"ping"}'
ROUNDS = 300

with tempfile.TemporaryDirectory() as scratch:
    hello = os.path.join(scratch, "hello")
    subprocess.run(["c++", "-O2", "-x", "c++", "-", "-o", hello], check=True,
                   input=b'#include <iostream>\nint main() { std::cout << "hello\\n"; }\n')
    commands = {"/bin/true": ["/bin/true"], "C++ hello": [hello]}
    for host in sys.argv[1:]:
        commands[host] = [host]
    times = {name: [] for name in commands}
    for _ in range(ROUNDS):
        for name, command in commands.items():
            started = time.perf_counter()
            subprocess.run(command, input=PING if name in sys.argv[1:] else b"",
                           stdout=subprocess.DEVNULL, check=True)
            times[name].append(time.perf_counter() - started)
    base = statistics.median(times["/bin/true"])
    for name, values in times.items():
        median = statistics.median(values)
        print(f"{name}: median {median * 1e3:.3f} ms, {median / base:.2f} x /bin/true")
