#!/usr/bin/env python3
"""./qel bench's installer figures, measured the same way as qelbench's (A and B alternating,
median and spread of the per-pair ratios), and added to its bench.json:

  - the whole silent install of a 256-file release by the example installer (lock, delivery with
    its verification, placing, uninstaller and entry) against a plain NSIS installer that embeds
    the same files with `File /r` (target: at most 3 times as long);
  - the silent install of 1,000 small files packed as one release in four parts (the release
    job: every part delivered, one placing) against the File /r installer of those files
    (target: at most 3 times as long);
  - the same four parts installed by one installer on the index against four installers, one
    per part's manifest, run one after another into the same folder (target: at most 1.05
    times the sum);
  - the four parts delivered through qelfetch.dll in one process two at a time, as the release
    job does, against one after another (delivery_lanes.exe; target: at most 1, a gain);
  - the first of those again with what Wine alone adds taken out: every volume query (a file's
    serial number, asked for by GetFileInformationByHandle) goes from the process to Wine's
    mount-manager service and back, which Windows answers inside the file system. The queries
    are counted once from Wine's server log, priced in every pair by volume_probe.exe, and
    subtracted from the installer's time (an estimate of the Windows figure, not a target);
  - with the installer's pages, the longest time its progress page's status (text and bar) stood
    still, sampled from outside with nsis_pilot.exe (target: at most 1 second).

    install_bench.py --bin BIN --build BUILD --target TARGET --wine-run WINE_RUN --nsis NSIS
                     --scratch DIR --json BENCH_JSON [--pairs N]
"""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

parser = argparse.ArgumentParser()
for option in ("--bin", "--build", "--target", "--wine-run", "--nsis", "--scratch", "--json"):
    parser.add_argument(option, required=True)
parser.add_argument("--pairs", type=int, default=5)
ARGS = parser.parse_args()
NATIVE_QELPACK = os.path.join(os.path.dirname(ARGS.build.rstrip("/")), "build", "native", "qelpack")
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QelExampleApp"


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=600):
    # Output to files: a Wine service started on first use would hold a pipe open.
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([ARGS.wine_run, *args], stdout=out, stderr=out, stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace")


def payload(folder, count, size, seed):
    rng = random.Random(seed)
    words = b"the release carries text and data of every kind; "
    for i in range(count):
        path = os.path.join(folder, "part%d" % (i % 8), "file%03d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            # Half text, half random: what a real release compresses to.
            f.write((words * (size // (2 * len(words)) + 1))[:size // 2] + rng.randbytes(size - size // 2))


def pack(source, out):
    if os.path.exists(NATIVE_QELPACK):
        done = subprocess.run([NATIVE_QELPACK, "pack", source, out], capture_output=True, timeout=600)
        ok = done.returncode == 0
    else:
        code, _ = wine(os.path.join(ARGS.bin, "qelpack.exe"), "pack", win(source), win(out))
        ok = code == 0
    if not ok:
        sys.exit("install_bench: qelpack failed")


def makensis(*args):
    done = subprocess.run(["makensis", "-V2", *args], capture_output=True, timeout=300)
    if done.returncode != 0:
        sys.exit("install_bench: makensis failed:\n" + done.stdout.decode(errors="replace") + done.stderr.decode(errors="replace"))


def plain_installer(source, out):
    script = os.path.join(os.path.dirname(out), "plain.nsi")
    with open(script, "w", encoding="utf-8") as f:
        # The same target as the example's: a 64-bit-only machine runs amd64 installers alone.
        f.write('Unicode true\nTarget %s\nName "plain"\nOutFile "%s"\nInstallDir "C:\\plain"\nRequestExecutionLevel user\n'
                'SilentInstall silent\nSection\n  SetOutPath "$INSTDIR"\n  File /r "%s/*.*"\nSectionEnd\n'
                % (ARGS.target, out, source))
    makensis(script)


def example_installer(release, out, manifest="manifest.ini"):
    makensis("-DQEL_MANIFEST=" + os.path.join(release, manifest), "-DQEL_BIN=" + ARGS.bin, "-DQEL_OUTFILE=" + out,
             "-DQEL_TARGET=" + ARGS.target, os.path.join(ARGS.nsis, "example.nsi"))


def timed_install(setup, folder):
    shutil.rmtree(folder, ignore_errors=True)
    start = time.monotonic()
    code, output = wine(setup, "/S", "/D=" + win(folder))
    elapsed = time.monotonic() - start
    shutil.rmtree(folder, ignore_errors=True)
    if code != 0:
        print("install_bench: %s ended with %d: %s" % (setup, code, output), file=sys.stderr)
        return -1
    return elapsed


def stop_wineserver():
    """Ends the prefix's wineserver (and the services it runs) and waits until it is gone."""
    env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX") or os.path.join(ARGS.build, "wine"))
    for option in ("-k", "-w"):
        subprocess.run(["wineserver", option], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def server_log_count(args, needle):
    """Runs a Windows program with Wine's server log on and counts the log lines holding needle.
    The log is written by the wineserver itself: one is started for this run alone, and stopped
    after it, so that no later run is logged (or slowed by the log)."""
    stop_wineserver()
    env = dict(os.environ, WINEDEBUG="+server")
    try:
        with tempfile.TemporaryFile() as log:
            subprocess.run([ARGS.wine_run, *args], stdout=subprocess.DEVNULL, stderr=log, stdin=subprocess.DEVNULL,
                           env=env, timeout=600)
            stop_wineserver()
            log.seek(0)
            return sum(1 for line in log if needle in line)
    finally:
        stop_wineserver()


# Each request opens the mount manager's device, which the server log names once per request.
MOUNT_MANAGER_OPEN = b"filename=L\"\\\\Device\\\\MountPointManager\""


def volume_queries(setup, folder):
    """How many requests the installer sends to Wine's mount manager (each opens its device)."""
    shutil.rmtree(folder, ignore_errors=True)
    count = server_log_count([setup, "/S", "/D=" + win(folder)], MOUNT_MANAGER_OPEN)
    shutil.rmtree(folder, ignore_errors=True)
    wine("reg", "delete", UNINSTALL_KEY, "/f")
    if count < 1:
        sys.exit("install_bench: no mount-manager request seen in the server log of " + setup)
    return count


PROBE_QUERIES = 2000


def check_probe(probe_file):
    """volume_probe.exe makes one mount-manager request per query (its own start makes a few
    more: the difference of two runs is its loop's)."""
    probe = os.path.join(ARGS.bin, "volume_probe.exe")
    per_probe = (server_log_count([probe, "200", win(probe_file)], MOUNT_MANAGER_OPEN) -
                 server_log_count([probe, "100", win(probe_file)], MOUNT_MANAGER_OPEN))
    if per_probe != 100:
        sys.exit("install_bench: volume_probe.exe sent %d mount-manager requests for 100 queries" % per_probe)


def query_seconds(probe_file):
    """What one volume query costs now: volume_probe.exe's time over its queries."""
    code, out = wine(os.path.join(ARGS.bin, "volume_probe.exe"), str(PROBE_QUERIES), win(probe_file))
    if code != 0:
        sys.exit("install_bench: volume_probe.exe failed")
    return float(out.strip()) / 1000.0 / PROBE_QUERIES


def small_files(folder, count, seed):
    rng = random.Random(seed)
    for i in range(count):
        path = os.path.join(folder, "dir%02d" % (i % 20), "item%04d.txt" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(("line %d of a small file\r\n" % i).encode() * rng.randint(5, 60))


def parts_of(release):
    with open(os.path.join(release, "release.ini"), "rb") as f:
        text = f.read().decode("utf-16")
    return sorted(line.split("=", 1)[1] for line in text.split("\r\n") if line.startswith("Manifest="))


def timed_installs(setups, folder):
    """The sum of the installers' times, one after another, each into a folder of its own below
    folder (installed over one another they would be upgrades, removing the part before)."""
    shutil.rmtree(folder, ignore_errors=True)
    total = 0.0
    for k, setup in enumerate(setups):
        start = time.monotonic()
        code, output = wine(setup, "/S", "/D=" + win(os.path.join(folder, "part%d" % k)))
        total += time.monotonic() - start
        if code != 0:
            print("install_bench: %s ended with %d: %s" % (setup, code, output), file=sys.stderr)
            shutil.rmtree(folder, ignore_errors=True)
            return -1
    shutil.rmtree(folder, ignore_errors=True)
    return total


def lanes_delivery(lanes, release, manifests, scratch):
    """The parts delivered through qelfetch.dll in one process, lanes at a time
    (delivery_lanes.exe), in seconds."""
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    args = []
    for manifest in manifests:
        package = manifest.replace("manifest", "application").replace(".ini", ".cab")
        args += [win(os.path.join(release, manifest)), win(os.path.join(release, package))]
    code, out = wine(os.path.join(ARGS.bin, "delivery_lanes.exe"), str(lanes), win(scratch), *args)
    left = os.listdir(scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    if code != 0 or left:
        sys.exit("install_bench: delivery_lanes.exe %d failed (exit %d, %d left): %s" % (lanes, code, len(left), out))
    return float(out.strip()) / 1000.0


def parted_figures(work, folder):
    """1,000 small files in four parts: the index's installer against File /r, and against four
    installers of one part each."""
    source = os.path.join(work, "small-payload")
    small_files(source, 1000, 19)
    release = os.path.join(work, "parted")
    pack(source, release)
    manifests = parts_of(release)
    if len(manifests) != 4:
        sys.exit("install_bench: 1,000 files packed into %d parts, not 4" % len(manifests))
    setup_dir = os.path.join(release, "setup")
    os.makedirs(setup_dir)
    whole = os.path.join(setup_dir, "parted-setup.exe")
    example_installer(release, whole, "release.ini")
    singles = []
    for k, manifest in enumerate(manifests):
        # One folder per part: the package beside its installer as application.cab.
        single_dir = os.path.join(release, "single%d" % k)
        os.makedirs(single_dir)
        package = manifest.replace("manifest", "application").replace(".ini", ".cab")
        shutil.copy(os.path.join(release, package), os.path.join(setup_dir, package))
        shutil.copy(os.path.join(release, package), os.path.join(single_dir, "application.cab"))
        singles.append(os.path.join(single_dir, "setup.exe"))
        example_installer(release, singles[-1], manifest)
    plain = os.path.join(work, "plain-small.exe")
    plain_installer(source, plain)
    queries = volume_queries(whole, folder)
    probe_file = os.path.join(release, "release.ini")
    timed_install(whole, folder)
    timed_install(plain, folder)
    print("bench: 1,000 files in parts: %d volume queries through Wine's mount manager" % queries, file=sys.stderr)
    a_times, b_times, c_times, d_times, e_times, f_times = [], [], [], [], [], []
    lanes_scratch = os.path.join(work, "lanes")
    for i in range(max(ARGS.pairs, 5)):
        a = timed_install(whole, folder)
        b = timed_install(plain, folder)
        c = timed_installs(singles, folder)
        cost = query_seconds(probe_file)
        wine("reg", "delete", UNINSTALL_KEY, "/f")
        if a < 0 or b < 0 or c < 0:
            break
        a_times.append(a)
        b_times.append(b)
        c_times.append(c)
        d_times.append(a - queries * cost)
        print("bench: 1,000 files in parts: pair %d: %.3f / %.3f (File /r) / %.3f (four installers); %.3f s of volume "
              "queries" % (i + 1, a, b, c, queries * cost), file=sys.stderr)
    # The lanes' pairs are cheap and their spread on this disk is wide: twice as many of them.
    for i in range(2 * max(ARGS.pairs, 5)):
        # The order alternates, so that neither lane count always runs on a warmer cache.
        if i % 2 == 0:
            e = lanes_delivery(2, release, manifests, lanes_scratch)
            f = lanes_delivery(1, release, manifests, lanes_scratch)
        else:
            f = lanes_delivery(1, release, manifests, lanes_scratch)
            e = lanes_delivery(2, release, manifests, lanes_scratch)
        e_times.append(e)
        f_times.append(f)
        print("bench: 4 parts: pair %d: %.3f (two at a time) / %.3f (one after another)" % (i + 1, e, f), file=sys.stderr)
    note = "1,000 files of 0.1 to 1.5 KB (%d bytes), packed by qelpack into 4 parts; wall time under Wine" % sum(
        os.path.getsize(os.path.join(r, n)) for r, _, ns in os.walk(source) for n in ns)
    return [figure("1,000 files in 4 parts vs File /r",
                   "the example installer on release.ini, /S: 4 parts delivered, one placing, uninstaller, entry",
                   "a plain NSIS installer embedding the same 1,000 files with File /r, /S", a_times, b_times, 3.0, note),
            figure("4-part release vs 4 single-part installs",
                   "the example installer on release.ini, /S (one process, one lock, one placing)",
                   "four example installers, one per part's manifest, /S, one after another, each into its own folder "
                   "(each its own process, lock and placing)", a_times, c_times, 1.05, note),
            figure("4 parts two at a time vs one after another",
                   "qelfetch.dll delivering the 4 parts in one process, two at a time (delivery_lanes.exe 2), as "
                   "the release job does", "the same, one part after another (delivery_lanes.exe 1)",
                   e_times, f_times, 1.0, "the 4 parts of those 1,000 files, from the first PayloadStart to the "
                   "last part ready, in one process under Wine"),
            figure("the same less Wine's volume queries",
                   "the example installer on release.ini, /S, less its %d mount-manager round trips at the price "
                   "volume_probe.exe measured in the same pair" % queries,
                   "the File /r installer, /S", d_times, b_times, None, note)]


def figure(name, a, b, a_times, b_times, target, note, unit="s"):
    """One side-by-side figure; target None for an estimate that has none."""
    ratios = [x / y for x, y in zip(a_times, b_times) if y > 0]
    ratio = statistics.median(ratios) if ratios else 0
    return {"name": name, "a": a, "b": b, "unit": unit, "a_times": a_times, "b_times": b_times,
            "a_median": statistics.median(a_times) if a_times else 0,
            "b_median": statistics.median(b_times) if b_times else 0, "ratios": ratios, "ratio_median": ratio,
            "ratio_min": min(ratios) if ratios else 0, "ratio_max": max(ratios) if ratios else 0, "target": target,
            "target_kind": "at most" if target is not None else "none", "note": note, "failed": not ratios,
            "meets_target": bool(ratios) and (target is None or ratio <= target)}


def still_status(setup, folder):
    """The longest time, in seconds, that the progress page's text and bar stayed the same while
    the installer ran with its pages, sampled with nsis_pilot.exe from outside."""
    shutil.rmtree(folder, ignore_errors=True)
    proc = subprocess.Popen([ARGS.wine_run, setup, "/D=" + win(folder)], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["NSIS_PILOT_EXE"] = win(setup)
    pilot = os.path.join(ARGS.bin, "nsis_pilot.exe")
    longest = 0.0
    samples = 0
    try:
        for page in ("custom", "directory"):
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and wine(pilot, "page")[1].strip() != page:
                time.sleep(0.2)
            wine(pilot, "next")
        last, since = None, None
        deadline = time.monotonic() + 300
        while time.monotonic() < deadline:
            code, out = wine(pilot, "progress")
            now = time.monotonic()
            if code != 0:
                if last is not None:
                    break  # the progress page is gone: the install ended
                continue
            samples += 1
            if out != last:
                if since is not None:
                    longest = max(longest, now - since)
                last, since = out, now
        if since is not None:
            longest = max(longest, time.monotonic() - since)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and proc.poll() is None:
            wine(pilot, "click", "1")
            time.sleep(0.5)
    finally:
        if proc.poll() is None:
            proc.kill()
        shutil.rmtree(folder, ignore_errors=True)
    return longest, samples


def main():
    work = os.path.join(ARGS.scratch, "install-bench")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        source = os.path.join(work, "payload")
        payload(source, 256, 40000, 17)
        release = os.path.join(work, "release")
        pack(source, release)
        example = os.path.join(release, "setup.exe")
        example_installer(release, example)
        plain = os.path.join(work, "plain.exe")
        plain_installer(source, plain)
        folder = os.path.join(work, "installed")

        a_times, b_times, d_times = [], [], []
        probe_file = os.path.join(release, "manifest.ini")
        check_probe(probe_file)
        queries = volume_queries(example, folder)
        print("bench: silent install: warm-up (%d volume queries through Wine's mount manager)" % queries, file=sys.stderr)
        timed_install(example, folder)
        timed_install(plain, folder)
        for i in range(max(ARGS.pairs, 5)):
            a = timed_install(example, folder)
            b = timed_install(plain, folder)
            cost = query_seconds(probe_file)
            wine("reg", "delete", UNINSTALL_KEY, "/f")
            if a < 0 or b < 0:
                break
            a_times.append(a)
            b_times.append(b)
            d_times.append(a - queries * cost)
            print("bench: silent install: pair %d: %.3f / %.3f = %.3f; %.3f s of volume queries" % (
                i + 1, a, b, a / b, queries * cost), file=sys.stderr)
        note = "10 MB in 256 files (half text, half random); wall time of the installer process under Wine"
        figures = [figure("silent install of 256 files vs File /r",
                          "the example installer, /S: lock, delivery (verify + extract), placing, uninstaller, entry",
                          "a plain NSIS installer embedding the same 256 files with File /r, /S", a_times, b_times, 3.0,
                          note),
                   figure("the same less Wine's volume queries",
                          "the example installer, /S, less its %d mount-manager round trips at the price volume_probe.exe "
                          "measured in the same pair" % queries, "the File /r installer, /S", d_times, b_times, None, note)]

        figures += parted_figures(work, folder)

        # The pages, with a larger release: 256 files, 50 MB.
        big_source = os.path.join(work, "big-payload")
        payload(big_source, 256, 200000, 18)
        big_release = os.path.join(work, "big-release")
        pack(big_source, big_release)
        big = os.path.join(big_release, "setup.exe")
        example_installer(big_release, big)
        longest, samples = still_status(big, folder)
        wine("reg", "delete", UNINSTALL_KEY, "/f")
        print("bench: the status stood still for %.2f s at most (%d samples)" % (longest, samples), file=sys.stderr)
        still = {"name": "longest still status (pages)", "unit": "s", "value": longest, "samples": samples, "target": 1.0,
                 "target_kind": "at most", "meets_target": samples > 0 and longest <= 1.0,
                 "note": "the example installer with pages, 256 files of 50 MB; text and bar sampled with nsis_pilot.exe"}

        with open(ARGS.json) as f:
            doc = json.load(f)
        doc["figures"].extend(figures)
        doc.setdefault("checks", []).append(still)
        with open(ARGS.json, "w") as f:
            json.dump(doc, f, indent=2, ensure_ascii=False)
        for fig in figures:
            verdict = "(estimate)" if fig["target"] is None else "%s <= %.2f" % (
                "meets" if fig["meets_target"] else "MISSES", fig["target"])
            print("%-34s %5d %9.4g s  %9.4g s  %8.3f %8.3f-%-8.3f  %s" % (
                fig["name"], len(fig["ratios"]), fig["a_median"], fig["b_median"], fig["ratio_median"], fig["ratio_min"],
                fig["ratio_max"], verdict))
            print("    A: %s\n    B: %s\n    %s" % (fig["a"], fig["b"], fig["note"]))
        print("%-34s %.2f s (%d samples)  %s <= 1.00 s" % (still["name"], longest, samples,
                                                           "meets" if still["meets_target"] else "MISSES"))
        return 0 if all(not f["failed"] for f in figures) and samples > 0 else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
