#!/usr/bin/env python3
"""The library's index survives cantavel-cfg killed at any moment.

A library of 2,000 presets (100 made with cantavel-cfg new and set, each copied
into 20 folders, and a few files that are not presets) is scanned and tagged by
cantavel-cfg, which is killed (SIGKILL, by its own PID) after 5 to 200 ms, 30 times:
first scans of a new index, then rescans after the files' times changed, and runs
of tag writes. After every kill the database passes SQLite's integrity check and
`library search ''` works; every tag a finished command wrote is still there; the
presets' content never changes; and at the end a complete scan lists exactly what a
scan into a new index lists.
    library_kill.py CANTAVEL_CFG
Exits 77 (skipped) where Python has no sqlite3 module.
"""

import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import sqlite3
except ImportError:
    sys.exit(77)

CFG = os.path.abspath(sys.argv[1])
KILLS = 30
BASES = 100
FOLDERS = 20
SLOTS = ["default", "1", "2", "3", "4", "mode-a", "mode-b"]

seed = int(os.environ.get("CANTAVEL_KILL_SEED", time.time_ns() % 1_000_000))
rng = random.Random(seed)
print(f"seed {seed} (CANTAVEL_KILL_SEED={seed} repeats this run)")

work = tempfile.mkdtemp(prefix="cantavel-library-kill-")
env = dict(os.environ)
env.update(HOME=os.path.join(work, "home"), XDG_DATA_HOME=os.path.join(work, "data"),
           XDG_CONFIG_HOME=os.path.join(work, "config"), LC_ALL="C.UTF-8")
for d in ("home", "data", "config"):
    os.makedirs(os.path.join(work, d))
library = os.path.join(work, "home", "presets")
database = os.path.join(work, "data", "Varnholt", "Cantavel", "library.sqlite")


def fail(text):
    print(f"FAIL: {text} (seed {seed}; files kept in {work})")
    sys.exit(1)


def cfg(*args, check=True):
    run = subprocess.run([CFG, *args], env=env, capture_output=True, text=True)
    if check and run.returncode != 0:
        fail(f"cantavel-cfg {' '.join(args)}: status {run.returncode}: {run.stderr.strip()}")
    return run


def checksums():
    sums = {}
    for top, _, names in os.walk(library):
        for name in names:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                sums[path] = hashlib.sha256(f.read()).hexdigest()
    return sums


def listing():
    """`library search ''` as lines: path, slot and tags (favourites are never set)."""
    return cfg("library", "search", "").stdout.splitlines()


def tags_in(lines):
    found = set()
    for line in lines:
        fields = line.split("\t")
        if len(fields) >= 3 and fields[-1].startswith("["):
            for tag in fields[-1][1:-1].split(", "):
                found.add((fields[0], fields[1], tag))
    return found


# The presets: each base made once, then copied into every folder.
bases = []
for b in range(BASES):
    path = os.path.join(work, f"base-{b:03}.cfg")
    cfg("new", path)
    slot = rng.choice(SLOTS)
    cfg("set", path, f"{slot}.echoDelay={rng.randint(2, 247)}",
        f"{slot}.echoRepeat={rng.randint(0, 80)}", f"default.reverbTime={rng.randint(0, 80)}",
        f"mode-b.keyIndex={rng.choice(['b-2', '0', '#+1', '#+5'])}")
    bases.append(path)
for f in range(FOLDERS):
    folder = os.path.join(library, f"set-{f:02}")
    os.makedirs(folder)
    for b, base in enumerate(bases):
        shutil.copyfile(base, os.path.join(folder, f"preset-{b:03}.cfg"))
    if f % 4 == 0:
        with open(os.path.join(folder, "notes.cfg"), "wb") as out:
            out.write(bytes(rng.randrange(256) for _ in range(100)))
presets = [os.path.join(library, f"set-{f:02}", f"preset-{b:03}.cfg")
           for f in range(FOLDERS) for b in range(BASES)]
before = checksums()
cfg("library", "add", library)


def kill_after(args, delay):
    """Starts cantavel-cfg, kills it after `delay` s unless it ended; True when killed."""
    p = subprocess.Popen([CFG, *args], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    try:
        p.wait(timeout=delay)
        return False
    except subprocess.TimeoutExpired:
        os.kill(p.pid, 9)
        p.wait()
        return True


def tag_run(deadline, written, iteration):
    """Tag commands one after another until the deadline; the one running then is killed."""
    n = 0
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return
        path = rng.choice(presets)
        slot = rng.choice(SLOTS)  # as the listing names them
        tags = [f"k{iteration}-{n}-{i}" for i in range(rng.randint(1, 5))]
        n += 1
        p = subprocess.Popen([CFG, "library", "tag", path, slot, *tags], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            _, err = p.communicate(timeout=left)
        except subprocess.TimeoutExpired:
            os.kill(p.pid, 9)
            p.wait()
            return
        if p.returncode == 0:
            written.update((path, slot, t) for t in tags)
        elif "not in the library" not in err:
            fail(f"tag {path} {slot}: status {p.returncode}: {err.strip()}")


def check_after_kill(what):
    db = sqlite3.connect(database)
    try:
        result = db.execute("PRAGMA integrity_check").fetchall()
        # Killed before its first transaction ended, a new index holds no table yet:
        # as consistent as any, and the next open makes them.
        made = db.execute(
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'files'"
        ).fetchone()[0]
        files = db.execute("SELECT count(*) FROM files").fetchone()[0] if made else 0
    finally:
        db.close()
    if result != [("ok",)]:
        fail(f"after {what}: integrity_check says {result}")
    run = cfg("library", "search", "", check=False)
    if run.returncode != 0:
        fail(f"after {what}: search '' has status {run.returncode}: {run.stderr.strip()}")
    if checksums() != before:
        fail(f"after {what}: a preset's content changed")
    return files, run.stdout.splitlines()


written = set()  # tags whose command ended with status 0
killed = 0
for i in range(1, KILLS + 1):
    delay = rng.uniform(0.005, 0.200)
    if i == 11:
        cfg("library", "scan")  # complete, so that tags find their files
    if i > 10:
        # New times (the content stays) on about half of the files: a rescan reads them.
        stamp = 1_600_000_000 + i * 1000
        for path in rng.sample(presets, len(presets) // 2):
            os.utime(path, (stamp, stamp))
    if i > 10 and i % 2 == 0:
        what = f"kill {i}: tag writes after {delay * 1000:.0f} ms"
        tag_run(time.monotonic() + delay, written, i)
        killed += 1
    else:
        what = f"kill {i}: scan after {delay * 1000:.0f} ms"
        killed += kill_after(["library", "scan"], delay)
    files, lines = check_after_kill(what)
    lost = written - tags_in(lines)
    if lost:
        fail(f"after {what}: tags written and then lost: {sorted(lost)[:5]}")
    print(f"{what}: the index holds {files} files, intact")

cfg("library", "scan")
kept = listing()
lost = written - tags_in(kept)
if lost:
    fail(f"tags written and then lost: {sorted(lost)[:5]}")

# A new index of the same folders.
fresh_env = dict(env, XDG_DATA_HOME=os.path.join(work, "fresh"))
os.makedirs(os.path.join(work, "fresh", "Varnholt", "Cantavel"))
shutil.copyfile(os.path.join(os.path.dirname(database), "library-folders.json"),
                os.path.join(work, "fresh", "Varnholt", "Cantavel", "library-folders.json"))
env = fresh_env
cfg("library", "scan")
fresh = listing()


def untagged(lines):
    return [line.split("\t[")[0] for line in lines]


if untagged(kept) != untagged(fresh):
    diff = [l for l in set(untagged(kept)) ^ set(untagged(fresh))][:5]
    fail(f"the killed index lists {len(kept)} lines, a new one {len(fresh)}; e.g. {diff}")
if len(fresh) != len(presets) * 7 + FOLDERS // 4:
    fail(f"a new index lists {len(fresh)} lines")
if checksums() != before:
    fail("a preset's content changed")
print(f"{killed} of {KILLS} runs killed, {len(written)} tags written and kept; "
      f"{len(fresh)} lines listed alike")
shutil.rmtree(work)
