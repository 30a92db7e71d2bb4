"""halfmap-cli end to end: the real program on real folders.

usage: cli_end_to_end.py HALFMAP_CLI WINE_MAPS

WINE_MAPS writes small test maps and converts folders with the core's
HalveMap, as the window does, for the expected outputs. Slow reads are made
with strace's fault injection, so interruption and progress are seen while a
map is surely running, without any hook in the program.
"""
import json
import os
import pty
import queue
import re
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

CLI, WINE_MAPS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
NAMES = ["MAP29361206-1.BMP", "MAP29361206-NS1.BMP", "MAP29361206-X1.BMP"]
OUTPUTS = ["MAP29361206-2.BMP", "MAP29361206-NS2.BMP", "MAP29361206-X2.BMP"]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def c_env(**locale):
    """The environment with an English locale unless locale says otherwise."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
    return {**env, "LANG": "C", **locale}


def run(args, cwd, env=None, **kwargs):
    return subprocess.run([CLI, *args], cwd=cwd, capture_output=True, env=env or c_env(), **kwargs)


def bmp(width, height, seed=0):
    """An uncompressed 8-bit bitmap with a grey palette."""
    stride = (width + 3) // 4 * 4
    rows = b"".join(bytes((x * 7 + y * 3 + seed) % 256 for x in range(width)).ljust(stride, b"\0")
                    for y in range(height))
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    return (b"BM" + struct.pack("<IHHI", 1078 + len(rows), 0, 0, 1078) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 0, 0, 256, 0) + palette + rows)


def stats(folder):
    return {n: (st.st_ino, st.st_size, st.st_mtime_ns) for n in sorted(os.listdir(folder))
            for st in [os.stat(os.path.join(folder, n))]}


def slowed(folder, suffix, calls, delay_us=200000, name=None):
    """strace prefix that delays the first reads of one input (a map, or name) by delay_us each."""
    return ["strace", "-f", "-qq", "-o", "/dev/null", "-P", os.path.join(folder, name or f"MAP29361206-{suffix}1.BMP"),
            "-e", "trace=pread64", "-e", f"inject=pread64:delay_enter={delay_us}:when=1..{calls}"]


def rle8_declaring(width, height):
    """A 1,080-byte RLE8 map that declares width x height and ends at once."""
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    return (b"BM" + struct.pack("<IHHI", 1080, 0, 0, 1078) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, 2, 0, 0, 256, 0) + palette + b"\0\1")


COMPLETIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../app/cli/completions")
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"


def completions(shell, line, cwd):
    """What shell offers for the last word of line, with halfmap-cli's script loaded as that shell loads it."""
    if shell == "fish":
        args = ["fish", "-N", "-c", f"source {COMPLETIONS}/halfmap-cli.fish; complete -C $argv[1]", line]
    else:  # as bash-completion calls a completion function
        script = (f'source {BASH_COMPLETION}; source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); '
                  'COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; _halfmap_cli halfmap-cli "${COMP_WORDS[-1]}" '
                  '"${COMP_WORDS[-2]}"; printf "%s\\n" "${COMPREPLY[@]}"')
        args = ["bash", "-c", script, "bash", f"{COMPLETIONS}/halfmap-cli.bash", *line.split(" ")]
    out = subprocess.run(args, cwd=cwd, capture_output=True, text=True, check=True).stdout
    return sorted(word.split("\t")[0].rstrip("/") for word in out.splitlines() if word)


def manual_options():
    """The options the man page gives an entry of their own."""
    with open(os.path.join(os.path.dirname(__file__), "../../app/cli/halfmap-cli.1")) as f:
        manual = f.read().replace("\\-", "-")
    return manual, {option for line in re.findall(r"^\.TP\n\.B[IR]? (-.*)", manual, re.M)  # each option's own entry
                    for option in re.findall(r"(?<![\w-])--?[a-z]+", line)}


AS_NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]  # another user: the attacker


def acl_entries(path):
    """getfacl's entries for path, without the header naming it and its set-id flags."""
    text = subprocess.run(["getfacl", "-cp", path], capture_output=True, check=True, text=True).stdout
    return [line for line in text.splitlines() if line and not line.startswith("#")]


def held(lock, path, seconds):
    """flock as another user, holding path (lock "-s" or "-x") for seconds; returns once it holds.
    The command holds it too, so it ends with its process group."""
    proc = subprocess.Popen(AS_NOBODY + ["flock", lock, path, "-c", f"echo held; exec sleep {seconds}"],
                            stdout=subprocess.PIPE, start_new_session=True)
    assert proc.stdout.readline() == b"held\n"
    proc.stdout.close()
    return proc


def traced_env(**locale):
    """The environment for a run under strace: LeakSanitizer cannot work under
    ptrace, so a sanitizer build leaves leak checking to the other runs."""
    env = c_env(**locale)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    return env


def traced_child(strace_pid):
    """The program strace started, once it runs (strace also forks short-lived
    children of its own at start, to probe what ptrace offers)."""
    for _ in range(1000):
        try:
            with open(f"/proc/{strace_pid}/task/{strace_pid}/children") as f:
                children = f.read().split()
            for child in children:
                with open(f"/proc/{child}/cmdline", "rb") as f:
                    if f.read().split(b"\0")[0] == CLI.encode():
                        return int(child)
        except (FileNotFoundError, ProcessLookupError):  # a probe child that has just ended
            pass
        time.sleep(0.005)
    raise AssertionError("strace started nothing")


class CliEndToEnd(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="halfmap-cli.")
        self.addCleanup(shutil.rmtree, self.work)
        # Odd sizes, so row filler and the odd last row are exercised.
        self.sets = {}
        for name, variants in (("all", "NSX"), ("normal", "N")):
            src = os.path.join(self.work, "sets", name)
            os.makedirs(src)
            subprocess.run([WINE_MAPS, "small", src, variants], check=True)
            expected = os.path.join(self.work, "expected", name)
            shutil.copytree(src, expected)
            subprocess.run([WINE_MAPS, "convert", expected], check=True)
            self.sets[name] = (src, expected)

    def need(self, available, what):
        """Skips without what a test needs from outside, except under CI, where a skip would pass unseen."""
        if not available:
            if os.environ.get("CI"):
                self.fail(f"{what} (required in CI)")
            self.skipTest(what)

    def need_another_user(self):
        tools = ("setpriv", "flock", "setfacl", "getfacl", "setfattr", "getfattr")
        self.need(os.geteuid() == 0 and all(map(shutil.which, tools)), "root, and " + ", ".join(tools))
        os.chmod(self.work, 0o755)  # the other user reaches the shared folders in it

    def folder(self, set_name, name):
        path = os.path.join(self.work, name)
        shutil.copytree(self.sets[set_name][0], path)
        return path

    def assert_converted(self, folder, set_name, outputs=OUTPUTS):
        expected = self.sets[set_name][1]
        for out in outputs:
            if os.path.exists(os.path.join(expected, out)):
                self.assertEqual(read(os.path.join(folder, out)), read(os.path.join(expected, out)), out)
        self.assertEqual([n for n in os.listdir(folder) if ".halfmap-" in n], [])  # no scratch file of ours

    def test_folders_convert_as_the_window_does_with_any_number_of_jobs(self):
        results = {}
        for jobs in ("1", "2"):
            # The same relative names in each run, so the lines can be compared.
            cwd = os.path.join(self.work, f"j{jobs}")
            a, b = self.folder("all", f"j{jobs}/a"), self.folder("normal", f"j{jobs}/地図")
            text = run(["-j", jobs, "a", "地図", "a/"], cwd=cwd)  # a repeated folder converts once
            self.assertEqual(text.returncode, 0, text.stderr)
            self.assertEqual(text.stderr, b"")
            self.assert_converted(a, "all")
            self.assert_converted(b, "normal")
            lines = text.stdout.decode().splitlines()
            self.assertEqual(lines[0].rsplit("  ", 1)[0], f"a/{NAMES[0]} -> a/{OUTPUTS[0]}  37x23 -> 18x11")
            results[f"text{jobs}"] = [line.rsplit("  ", 1)[0] for line in lines]

            as_json = run(["-j", jobs, "--json", "a", "地図"], cwd=cwd)
            self.assertEqual(as_json.returncode, 0, as_json.stderr)
            self.assert_converted(a, "all")
            records = [json.loads(line) for line in as_json.stdout.decode().splitlines()]
            self.assertEqual([r["input"] for r in records], [f"a/{n}" for n in NAMES] + [f"地図/{NAMES[0]}"])
            self.assertEqual({r["status"] for r in records}, {"converted"})
            self.assertEqual([(r["width"], r["height"], r["out_width"], r["out_height"]) for r in records],
                             [(37, 23, 18, 11), (64, 48, 32, 24), (5, 5, 2, 2), (37, 23, 18, 11)])
            self.assertTrue(all(r["error"] is None and r["seconds"] >= 0 for r in records))
            results[f"json{jobs}"] = [{k: v for k, v in r.items() if k != "seconds"} for r in records]
        self.assertEqual(len(results["text1"]), 4)
        self.assertEqual(results["text1"], results["text2"])
        self.assertEqual(results["json1"], results["json2"])
        # Worker threads the system will not start: the calling thread converts every map.
        refused = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=clone,clone3:error=EAGAIN"]
        few = subprocess.run(refused + [CLI, "-j", "3", "a"], cwd=os.path.join(self.work, "j1"), capture_output=True,
                             env=traced_env())
        self.assertEqual((few.returncode, few.stderr), (0, b"halfmap-cli: could not start 2 of 3 workers; going on with 1\n"))
        self.assertEqual([line.rsplit(b"  ", 1)[0].decode() for line in few.stdout.splitlines()], results["text1"][:3])

        # The current folder when none is given, and one named bitmap with -o.
        here = self.folder("all", "here")
        self.assertEqual(run([], cwd=here).returncode, 0)
        self.assert_converted(here, "all")
        one = run(["-o", "out/small.bmp", f"here/{NAMES[1]}"], cwd=self.work)
        self.assertEqual(one.returncode, 1)  # no folder "out"
        os.mkdir(os.path.join(self.work, "out"))
        one = run(["-q", "-o", "out/small.bmp", f"here/{NAMES[1]}"], cwd=self.work)
        self.assertEqual(one.returncode, 0, one.stderr)
        self.assertEqual(read(os.path.join(self.work, "out/small.bmp")), read(os.path.join(here, OUTPUTS[1])))

    def test_a_refused_map_fails_alone_and_every_failure_says_why(self):
        a = self.folder("all", "refused")
        old = os.path.join(a, OUTPUTS[1])
        with open(old, "wb") as f:
            f.write(b"an earlier output")
        os.chmod(old, 0o444)
        result = run(["--json", a], cwd=self.work)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(),
                         f"halfmap-cli: {a}/{NAMES[1]}: cannot create {a}/{OUTPUTS[1]}: Permission denied\n")
        records = [json.loads(line) for line in result.stdout.decode().splitlines()]
        self.assertEqual([r["status"] for r in records], ["converted", "failed", "converted"])
        self.assertEqual(records[1]["error"], f"cannot create {a}/{OUTPUTS[1]}: Permission denied")
        self.assertIsNone(records[1]["out_width"])
        self.assertEqual(read(old), b"an earlier output")
        self.assert_converted(a, "all", [OUTPUTS[0], OUTPUTS[2]])
        japanese = run([a], cwd=self.work, env=c_env(LANG="ja_JP.UTF-8"))
        self.assertEqual(japanese.stderr.decode(),
                         f"halfmap-cli: {a}/{NAMES[1]}: ファイル {a}/{OUTPUTS[1]} を作成できません: Permission denied\n")

        # Each failure says why; an output that is the input is refused before anything is written.
        os.mkdir(os.path.join(a, "d"))
        os.link(os.path.join(a, NAMES[0]), os.path.join(a, "link.bmp"))
        with open(os.path.join(a, "one.bmp"), "wb") as f:
            f.write(bmp(1, 1))
        with open(os.path.join(a, "deep.bmp"), "wb") as f:
            f.write(bmp(4, 4)[:28] + b"\x07" + bmp(4, 4)[29:])
        before = stats(a)
        for args, message in ((["-o", "d"], "cannot create d: not a regular file"),
                              (["-o", "nodir/x.bmp"], "cannot create nodir/x.bmp: No such file or directory"),
                              (["-o", NAMES[0]], "output is the input itself"),
                              (["-o", f"../{os.path.basename(a)}/{NAMES[0]}"], "output is the input itself"),
                              (["-o", "link.bmp"], "output is the input itself"),
                              (["-o", "x.bmp", "deep.bmp"], "bitmap format error: 7 bits per pixel is not a bitmap depth\n")):
            args += [NAMES[0]] if len(args) == 2 else []
            result = run(args, cwd=a)
            self.assertEqual(result.returncode, 1, args)
            self.assertTrue(result.stderr.decode().startswith(f"halfmap-cli: {args[-1]}: {message}"), result.stderr)
        limited = subprocess.run([CLI, "-o", "small.bmp", NAMES[1]], cwd=a, capture_output=True, env=c_env(),
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1500, 1500)))
        self.assertEqual(limited.stderr.decode(), f"halfmap-cli: {NAMES[1]}: write file error: File too large\n")
        self.assertEqual(limited.returncode, 1)
        self.assertEqual(stats(a), before)
        one = json.loads(run(["--json", "-o", "half.bmp", "one.bmp"], cwd=a).stdout)
        self.assertEqual((one["status"], one["out_width"], one["out_height"]), ("converted", 0, 0))

    def test_shared_and_hostile_folders_lose_nothing_but_the_output(self):
        self.need_another_user()
        as_nobody = lambda: (os.setgid(65534), os.setuid(65534))
        shared = self.folder("all", "shared")
        os.chmod(shared, 0o1777)
        # Another user plants the old scratch names: a file, a pipe and a link.
        plant = os.path.join(self.work, "theirs")
        open(plant, "w").close()
        subprocess.run(["sh", "-c", f"echo theirs > {OUTPUTS[0]}.tmp; chmod 666 {OUTPUTS[0]}.tmp; "
                        f"mkfifo {OUTPUTS[1]}.tmp; ln -s {plant} {OUTPUTS[2]}.tmp"],
                       cwd=shared, check=True, preexec_fn=as_nobody)
        for outputs_before in (False, True):
            if outputs_before:  # owner, group, mode, access list and attributes of each earlier output
                first = os.path.join(shared, OUTPUTS[0])  # are kept, but set-id bits; a link stays a link
                os.chown(first, 65534, 65534)
                os.chmod(first, 0o6640)
                subprocess.run(["setfacl", "-m", "u:1001:r", first], check=True)
                subprocess.run(["setfattr", "-n", "user.note", "-v", "kept", first], check=True)
                acl = acl_entries(first)
                os.rename(os.path.join(shared, OUTPUTS[2]), os.path.join(self.work, "x2-target"))
                os.symlink(os.path.join(self.work, "x2-target"), os.path.join(shared, OUTPUTS[2]))
            result = run([shared], cwd=self.work, timeout=30, preexec_fn=lambda: os.umask(0o022))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assert_converted(shared, "all")
            # Older versions' scratch name: another user's file stays, beside an output too.
            self.assertEqual(read(os.path.join(shared, OUTPUTS[0] + ".tmp")), b"theirs\n")
            self.assertTrue(stat.S_ISFIFO(os.lstat(os.path.join(shared, OUTPUTS[1] + ".tmp")).st_mode))
            self.assertEqual(os.readlink(os.path.join(shared, OUTPUTS[2] + ".tmp")), plant)
            self.assertEqual(read(plant), b"")
        owned = {n: (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) for n in OUTPUTS[:2]
                 for st in [os.stat(os.path.join(shared, n))]}
        self.assertEqual(owned, {OUTPUTS[0]: (65534, 65534, 0o640), OUTPUTS[1]: (0, 0, 0o644)})
        self.assertIn("user:1001:r--", acl)
        self.assertEqual(acl_entries(os.path.join(shared, OUTPUTS[0])), acl)
        self.assertEqual(os.getxattr(os.path.join(shared, OUTPUTS[0]), "user.note"), b"kept")
        self.assertTrue(os.path.islink(os.path.join(shared, OUTPUTS[2])))

        # One file under three names converts under any -j; an input named as
        # the output's old scratch file is never deleted.
        linked = self.folder("normal", "linked")
        os.link(os.path.join(linked, NAMES[0]), os.path.join(linked, NAMES[1]))
        os.symlink(NAMES[0], os.path.join(linked, NAMES[2]))
        self.assertEqual(run(["-j", "3", linked], cwd=self.work).returncode, 0)
        expected = read(os.path.join(self.sets["normal"][1], OUTPUTS[0]))
        self.assertEqual([read(os.path.join(linked, n)) for n in OUTPUTS], [expected] * 3)
        shutil.copy(os.path.join(linked, NAMES[0]), os.path.join(linked, "x.bmp.tmp"))
        for _ in range(2):  # without and with an earlier output; a name as long as a name may be
            for out in ("x.bmp", "y" * 251 + ".bmp"):
                self.assertEqual(run(["-o", out, "x.bmp.tmp"], cwd=linked).returncode, 0)
                self.assertEqual(read(os.path.join(linked, out)), expected)
        # The user's own old scratch file goes beside the fixed names only: with -o its name is the user's.
        for name in (OUTPUTS[0] + ".tmp", "y.bmp.tmp", "z.bmp.tmp"):
            with open(os.path.join(linked, name), "w") as f:
                f.write("draft")
        with open(os.path.join(linked, "cut.bmp"), "wb") as f:
            f.write(expected[:100])
        self.assertEqual(run(["-o", "y.bmp", "x.bmp"], cwd=linked).returncode, 0)
        shutil.copy(os.path.join(linked, "x.bmp"), os.path.join(linked, "z.bmp"))
        self.assertEqual(run(["-o", "z.bmp", "cut.bmp"], cwd=linked).returncode, 1)
        self.assertEqual(run([linked], cwd=self.work).returncode, 0)
        self.assertEqual([os.path.exists(os.path.join(linked, n)) for n in (OUTPUTS[0] + ".tmp", "y.bmp.tmp", "z.bmp.tmp")],
                         [False, True, True])

        # Too little room fails before a byte is written, saying both sizes.
        small = os.path.join(self.work, "small")
        os.mkdir(small)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", small], check=True)
        self.addCleanup(subprocess.run, ["umount", small])
        shutil.copy(os.path.join(self.sets["all"][0], NAMES[1]), small)
        with open(os.path.join(small, "filler"), "wb", buffering=0) as f:
            while f.write(b"\0" * 1024 if shutil.disk_usage(small).free >= 1024 else b""):
                pass
        result = run([small], cwd=self.work)
        self.assertEqual(result.returncode, 1)
        fs = os.statvfs(small)
        self.assertTrue(result.stderr.decode().endswith(
            f"write file error: not enough space: {1846 + fs.f_blocks * fs.f_frsize // 20} bytes needed, "
            f"{fs.f_bavail * fs.f_frsize} free\n"), result.stderr)
        self.assertEqual(sorted(os.listdir(small)), sorted([NAMES[1], "filler"]))
        # A small map that declares a huge size cannot take the room that the
        # file system keeps after an output: 5% here, at most 1 GiB.
        subprocess.run(["mount", "-o", "remount,size=16m", small], check=True)
        os.remove(os.path.join(small, "filler"))
        for side, fits in ((8000, False), (7600, True)):  # 16,001,078 and 14,441,078 bytes out
            with open(os.path.join(small, "big.bmp"), "wb") as f:
                f.write(rle8_declaring(side, side))
            result = run(["-o", "half.bmp", "big.bmp"], cwd=small)
            fs = os.statvfs(small)
            self.assertEqual(result.stderr.decode(), "" if fits else
                             f"halfmap-cli: big.bmp: write file error: not enough space: "
                             f"{16001078 + fs.f_blocks * fs.f_frsize // 20} bytes needed, {fs.f_bavail * fs.f_frsize} free\n")
            self.assertEqual(os.path.exists(os.path.join(small, "half.bmp")), fits)
            self.assertGreaterEqual(fs.f_bavail * fs.f_frsize, fs.f_blocks * fs.f_frsize // 20)

        # Two runs to one output, the second with a cut map: the cut one fails
        # alone and the slow good one still lands whole.
        both = self.folder("all", "both")
        with open(os.path.join(both, "cut.bmp"), "wb") as f:
            f.write(read(os.path.join(both, NAMES[1]))[:2000])
        good = subprocess.Popen(slowed(both, "NS", 3, 300000) + [CLI, "-o", "out.bmp", NAMES[1]], cwd=both,
                                env=traced_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        while not any(n.startswith(".out.bmp.halfmap-") for n in os.listdir(both)):
            time.sleep(0.002)
        self.assertEqual(run(["-o", "out.bmp", "cut.bmp"], cwd=both).returncode, 1)
        self.assertEqual(good.wait(timeout=30), 0, good.communicate()[1])
        self.assertEqual(read(os.path.join(both, "out.bmp")), read(os.path.join(self.sets["all"][1], OUTPUTS[1])))

        # An input rewritten in place between two of its reads (a megabyte
        # each, slowed to 0.3 s) is converted again, never mixed.
        with open(os.path.join(both, "big.bmp"), "wb") as f:
            f.write(bmp(2048, 1024))
        proc = subprocess.Popen(slowed(both, "", 3, 300000, "big.bmp") + [CLI, "-o", "re.bmp", "big.bmp"], cwd=both,
                                env=traced_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        while not any(n.startswith(".re.bmp.halfmap-") for n in os.listdir(both)):
            time.sleep(0.002)
        time.sleep(0.75)
        with open(os.path.join(both, "big.bmp"), "r+b") as f:
            f.seek(1078)
            f.write(bytes(range(256)) * 8192)
        self.assertEqual(proc.wait(timeout=30), 0, proc.communicate()[1])
        self.assertEqual(run(["--verify", "-o", "re.bmp", "big.bmp"], cwd=both).returncode, 0)

        # The same where size and times cannot tell: a file system keeping
        # whole seconds, the rewrite in the second the input was opened in.
        coarse, image = os.path.join(self.work, "coarse"), os.path.join(self.work, "coarse.img")
        os.mkdir(coarse)
        subprocess.run(["truncate", "-s", "16M", image], check=True)
        subprocess.run(["mkfs.ext2", "-q", "-F", "-I", "128", image], check=True, stderr=subprocess.DEVNULL)
        subprocess.run(["mount", "-o", "loop", image, coarse], check=True, stderr=subprocess.DEVNULL)
        self.addCleanup(subprocess.run, ["umount", coarse])
        versions = [bmp(2048, 1024, seed) for seed in (0, 1)]
        big = os.path.join(coarse, "big.bmp")
        blind = 0
        for _ in range(6):
            with open(big, "wb") as f:
                f.write(versions[0])
            time.sleep(1.05 - time.time() % 1)  # past the coarse clock's tick into the new second
            with open(big, "r+b") as f:
                f.write(versions[0])
            opened = os.stat(big)
            proc = subprocess.Popen(slowed(coarse, "", 3, 200000, "big.bmp") + [CLI, "-o", "re.bmp", "big.bmp"],
                                    cwd=coarse, env=traced_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            while not any(n.startswith(".re.bmp.halfmap-") for n in os.listdir(coarse)):
                time.sleep(0.002)
            time.sleep(0.3)  # between the first megabyte's read and the second's
            with open(big, "r+b") as f:
                f.write(versions[1])
            rewritten = os.stat(big)
            self.assertEqual(proc.wait(timeout=30), 0, proc.communicate()[1])
            if (opened.st_mtime_ns, opened.st_ctime_ns) == (rewritten.st_mtime_ns, rewritten.st_ctime_ns):
                blind += 1
                self.assertEqual(run(["--verify", "-o", "re.bmp", "big.bmp"], cwd=coarse).returncode, 0)
                break
        self.assertEqual(blind, 1)

        # A save that cuts the file and writes its start, then the rest a while
        # later: the reads that fail meanwhile are retried, and the whole new
        # map converted.
        proc = subprocess.Popen(slowed(coarse, "", 2, 400000, "big.bmp") + [CLI, "--json", "-o", "cut.bmp", "big.bmp"],
                                cwd=coarse, env=traced_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        while not any(n.startswith(".cut.bmp.halfmap-") for n in os.listdir(coarse)):
            time.sleep(0.002)
        with open(big, "r+b") as f:
            time.sleep(0.1)
            f.truncate()
            f.write(versions[0][:4096])
            f.flush()
            time.sleep(0.5)
            f.write(versions[0][4096:])
        out, err = proc.communicate(timeout=30)
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertEqual(json.loads(out)["width"], 2048)
        self.assertEqual(run(["--verify", "-o", "cut.bmp", "big.bmp"], cwd=coarse).returncode, 0)

    def test_links_and_locks_of_another_user_are_judged_as_the_kernel_would(self):
        self.need_another_user()
        private = os.path.join(self.work, "private")  # the victim's, which the attacker cannot reach
        os.mkdir(private, 0o700)
        for name in ("private.txt", "kept.bmp"):
            with open(os.path.join(private, name), "w") as f:
                f.write("mine")
        shutil.copy(os.path.join(self.sets["all"][0], NAMES[1]), os.path.join(private, "secret.bmp"))
        shared = self.folder("all", "planted")
        theirs = self.folder("normal", "theirs")  # a sticky folder of the attacker's own
        os.chown(theirs, 65534, 65534)
        for folder in (shared, theirs):
            os.chmod(folder, 0o1777)
        refused = "a link of another user in a shared folder, not followed"
        # In a sticky folder a link is followed only when it is the user's or the folder owner's,
        # as fs.protected_symlinks=1 has it, whatever the setting here.
        for folder, name, target, error in (
                (shared, OUTPUTS[0], f"{private}/private.txt", f"cannot create {shared}/{OUTPUTS[0]}: {refused}"),
                (shared, OUTPUTS[1], f"{private}/new.bmp", f"cannot create {shared}/{OUTPUTS[1]}: {refused}"),
                (shared, NAMES[2], f"{private}/secret.bmp", f"file open error: {refused}"),
                (theirs, OUTPUTS[0], f"{private}/kept.bmp", None)):
            if os.path.exists(os.path.join(folder, name)):
                os.remove(os.path.join(folder, name))
            subprocess.run(AS_NOBODY + ["ln", "-s", target, name], cwd=folder, check=True)
            records = [json.loads(line) for line in run(["--json", "-q", folder], cwd=self.work).stdout.splitlines()]
            record = next(r for r in records if name in (os.path.basename(r["input"]), os.path.basename(r["output"])))
            self.assertEqual(record["error"], error)
            self.assertEqual(os.readlink(os.path.join(folder, name)), target)  # a link stays a link
        self.assertEqual(sorted(os.listdir(private)), ["kept.bmp", "private.txt", "secret.bmp"])
        self.assertEqual(read(f"{private}/private.txt"), b"mine")
        self.assertEqual(read(f"{private}/kept.bmp"), read(os.path.join(self.sets["normal"][1], OUTPUTS[0])))

        # Another program's lock is waited out for about 2 s, then the file is in use.
        a = self.folder("normal", "locked")
        output = os.path.join(a, OUTPUTS[0])
        self.assertEqual(run([a], cwd=self.work).returncode, 0)
        for lock, path, seconds, said in (("-s", output, 30, f"cannot create {output}: in use by another program"),
                                          ("-x", os.path.join(a, NAMES[0]), 30, "file open error: in use by another program"),
                                          ("-x", os.path.join(a, NAMES[0]), 0.5, None)):
            holder = held(lock, path, seconds)
            self.addCleanup(lambda p=holder: p.poll() is None and os.killpg(p.pid, signal.SIGKILL))
            started = time.monotonic()
            result = run(["--json", a], cwd=self.work, timeout=30)
            waited = time.monotonic() - started
            os.killpg(holder.pid, signal.SIGKILL)
            holder.wait()
            self.assertEqual(json.loads(result.stdout)["error"], said)
            self.assertGreaterEqual(waited, 1.9 if said else 0.4)
        self.assert_converted(a, "normal")

    def test_names_reach_a_terminal_escaped_and_json_exactly(self):
        name = b"n\x1b[2J\x07\n\xc2\x9b\xff\xfe"  # clears the screen, rings, breaks the line; C1; not UTF-8
        shown = r"n\x1b[2J\x07\x0a\xc2\x9b\xff\xfe"
        a = self.folder("all", os.fsdecode(name))
        with open(os.path.join(a, OUTPUTS[1]), "wb") as f:
            f.write(b"an earlier output")
        os.chmod(os.path.join(a, OUTPUTS[1]), 0o444)
        text = run([name], cwd=self.work)
        self.assertEqual(text.returncode, 1)
        self.assertEqual(text.stdout.decode().splitlines()[0].rsplit("  ", 1)[0],
                         f"{shown}/{NAMES[0]} -> {shown}/{OUTPUTS[0]}  37x23 -> 18x11")
        self.assertEqual(text.stderr.decode(),
                         f"halfmap-cli: {shown}/{NAMES[1]}: cannot create {shown}/{OUTPUTS[1]}: Permission denied\n")
        self.assertIsNone(re.search(rb"[\x00-\x09\x0b-\x1f\x7f]|\xc2[\x80-\x9f]", text.stdout + text.stderr))
        records = [json.loads(line.decode()) for line in run(["--json", name], cwd=self.work).stdout.splitlines()]
        self.assertEqual([r["input"].encode("utf-8", "surrogateescape") for r in records],
                         [name + b"/" + n.encode() for n in NAMES])
        self.assertEqual(records[1]["error"], f"cannot create {shown}/{OUTPUTS[1]}: Permission denied")

    def test_usage_errors_and_nothing_to_convert_convert_nothing(self):
        a = self.folder("all", "untouched")
        empty = os.path.join(self.work, "empty")
        os.mkdir(empty)
        for args in (["-x", a], ["-j", "0", a], ["-j", a], [a, "missing"], [a, f"{a}/{NAMES[0]}"],
                     ["-o", "x.bmp", a, a], ["--verify", "--changed", a], ["--watch", "--verify", a]):
            result = run(args, cwd=self.work)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"usage: halfmap-cli", result.stderr)
            self.assertEqual(sorted(os.listdir(a)), NAMES)
        os.mkfifo(os.path.join(self.work, "fifo"))
        os.symlink("loop", os.path.join(self.work, "loop"))
        piped = os.path.join(self.work, "piped")
        os.mkdir(piped)
        os.mkfifo(os.path.join(piped, NAMES[1]))
        for name, data in (("blank.bmp", b""), ("text.bmp", b"hello\n")):
            with open(os.path.join(self.work, name), "wb") as f:
                f.write(data)
        long = "/".join(["d" * 250] * 20)
        for args, cwd, status, said in (
                ([empty], self.work, 3, f"nothing to convert: no {NAMES[0]}, -NS1.BMP or -X1.BMP in {empty}\n"),
                ([], empty, 3, f"nothing to convert: no {NAMES[0]}, -NS1.BMP or -X1.BMP in {empty}\n"),
                (["-o", "x.bmp", "missing.bmp"], empty, 3, "missing.bmp: no such bitmap\n"),
                (["-o", "x.bmp", "fifo"], self.work, 3, "fifo: not a regular file\n"),
                (["-o", "x.bmp", "empty"], self.work, 3, "empty: not a regular file\n"),
                (["-o", "x.bmp", "/dev/null"], self.work, 3, "/dev/null: a device, not a regular file\n"),
                (["-o", "x.bmp", "loop"], self.work, 3, "loop: a loop of links, which leads to no file\n"),
                (["piped"], self.work, 3, f"piped/{NAMES[1]}: not a regular file\n"),
                (["-o", "x.bmp", "blank.bmp"], self.work, 1, "blank.bmp: bitmap format error: not a bitmap: the file is empty\n"),
                (["-o", "x.bmp", "text.bmp"], self.work, 1, "text.bmp: bitmap format error: not a bitmap: the file does not start with BM\n"),
                (["nosuch"], self.work, 2, "'nosuch' does not exist\n"),
                (["/?"], self.work, 2, "'/?' does not exist\n"),  # help only on Windows
                ([a, "--verfy"], self.work, 2, "unknown option '--verfy'; did you mean '--verify'?\n"),
                (["loop"], self.work, 2, "'loop': a loop of links, which leads to no file\n"),
                ([long], self.work, 2, f"'{long}': File name too long\n"),
                ([f"{a}/{NAMES[0]}"], self.work, 2,
                 f"'{a}/{NAMES[0]}' is a file, not a folder; to convert this one bitmap: halfmap-cli -o OUTPUT '{a}/{NAMES[0]}'\n")):
            result = run(args, cwd=cwd)
            self.assertEqual(result.returncode, status, args)
            self.assertEqual(result.stderr.decode().split("usage:")[0], f"halfmap-cli: {said}")
        self.assertEqual(os.listdir(empty), [])
        self.assertEqual(run(["--version"], cwd=self.work).stdout.decode().split()[0], "halfmap-cli")
        # The help and the man page name the same options, and the same exit statuses.
        help_text = run(["--help"], cwd=self.work).stdout.decode()
        manual, tagged = manual_options()
        self.assertEqual(set(re.findall(r"(?<![\w-])--?[a-z]+", help_text)) - {"-NS", "-X"}, tagged - {"--", "-h"})
        statuses = set(re.findall(r"^\.B (\d+)$", manual[manual.index(".SH EXIT STATUS"):], re.M))
        self.assertEqual(set(re.findall(r"(\d+) [a-z]", help_text[help_text.index("Exit status"):])), statuses)
        for variable in ("LANG", "LC_MESSAGES", "LC_ALL"):
            self.assertIn("使い方: halfmap-cli".encode(), run(["--help"], cwd=self.work, env=c_env(**{variable: "ja_JP.UTF-8"})).stdout)
        self.assertIn(b"usage:", run(["-x"], cwd=self.work, env=c_env(LANG="ja_JP.UTF-8", LC_ALL="en_US.UTF-8")).stderr)

    def test_shells_complete_options_folders_and_bitmaps(self):
        self.need(os.path.exists(BASH_COMPLETION) and shutil.which("fish") and shutil.which("zsh"),
                  "bash-completion, fish and zsh")
        here = os.path.join(self.work, "here")
        os.makedirs(os.path.join(here, "north"))
        open(os.path.join(here, "x.bmp"), "wb").close()
        for shell in ("bash", "fish"):
            for line, offered in (("halfmap-cli --ver", ["--verify", "--version"]),
                                  ("halfmap-cli -", sorted(manual_options()[1] - {"--"})),
                                  ("halfmap-cli -q ", ["north"]),  # folders only
                                  ("halfmap-cli -o ", ["north", "x.bmp"]),
                                  ("halfmap-cli -o out.bmp ", ["north", "x.bmp"])):  # the INPUT bitmap
                self.assertEqual(completions(shell, line, here), offered, f"{shell}: {line!r}")
            jobs = completions(shell, "halfmap-cli -j ", here)
            self.assertTrue(1 <= len(jobs) <= 64 and set(jobs) == {str(n) for n in range(1, len(jobs) + 1)}, jobs)
        zsh = subprocess.run(["zsh", "-n", f"{COMPLETIONS}/_halfmap-cli"], capture_output=True, text=True)
        self.assertEqual((zsh.returncode, zsh.stderr), (0, ""))

    def test_verify_writes_nothing_and_changed_converts_only_what_is_out_of_date(self):
        a = self.folder("all", "checked")
        self.assertEqual(run(["--verify", a], cwd=self.work).returncode, 1)  # every output missing
        self.assertEqual(run([a], cwd=self.work).returncode, 0)
        with open(os.path.join(a, OUTPUTS[1]), "r+b") as f:
            f.seek(300)
            f.write(b"\x99")
        os.remove(os.path.join(a, OUTPUTS[2]))
        before = stats(a)
        result = run(["--verify", a], cwd=self.work)
        self.assertEqual((result.returncode, result.stderr), (1, b""))
        self.assertEqual(result.stdout.decode().splitlines(),
                         [f"{a}/{NAMES[0]} = {a}/{OUTPUTS[0]}  verified",
                          f"{a}/{NAMES[1]} != {a}/{OUTPUTS[1]}  differs at byte 300",
                          f"{a}/{NAMES[2]} -> {a}/{OUTPUTS[2]}  missing"])
        records = [json.loads(line) for line in run(["--verify", "--json", a], cwd=self.work).stdout.splitlines()]
        self.assertEqual([(r["status"], r.get("offset")) for r in records],
                         [("verified", None), ("differs", 300), ("missing", None)])
        self.assertEqual(stats(a), before)
        shutil.copy(f"{a}/{OUTPUTS[0]}", f"{self.work}/longer.bmp")
        with open(f"{self.work}/longer.bmp", "ab") as f:
            f.write(b"?")
        longer = run(["--verify", "-o", "longer.bmp", f"{a}/{NAMES[0]}"], cwd=self.work).stdout.decode()
        self.assertTrue(longer.endswith(f"differs at byte {before[OUTPUTS[0]][1]}\n"), longer)

        # Out of date: the changed output (older than nothing) and the missing one.
        for name in NAMES[1:]:
            os.utime(os.path.join(a, name), ns=(0, before[OUTPUTS[0]][2] - 10**9))
        result = run(["--changed", a], cwd=self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.decode().splitlines()[0], f"{a}/{NAMES[0]} -> {a}/{OUTPUTS[0]}  unchanged")
        self.assertEqual(stats(a)[OUTPUTS[0]], before[OUTPUTS[0]])
        self.assertEqual(stats(a)[OUTPUTS[1]], before[OUTPUTS[1]])  # newer than its input, however wrong its bytes
        self.assert_converted(a, "all", [OUTPUTS[0], OUTPUTS[2]])
        os.utime(os.path.join(a, NAMES[1]))  # touched: converts
        self.assertIn(f"{NAMES[1]} -> {a}/{OUTPUTS[1]}  64x48", run(["--changed", a], cwd=self.work).stdout.decode())
        self.assertEqual(run(["--verify", a], cwd=self.work).returncode, 0)

        # Names in lower case are read, written and reported as they are.
        for name in NAMES[:2] + OUTPUTS[:1]:
            os.rename(os.path.join(a, name), os.path.join(a, name.lower()))
        lower = [f"{a}/{NAMES[0].lower()}", f"{a}/{OUTPUTS[0].lower()}"]
        result = run(["--verify", a], cwd=self.work)
        self.assertEqual(result.stdout.decode().splitlines()[0], f"{lower[0]} = {lower[1]}  verified")
        os.utime(os.path.join(a, NAMES[0].lower()))
        records = [json.loads(line) for line in run(["--changed", "--json", a], cwd=self.work).stdout.splitlines()]
        self.assertEqual([(r["input"], r["output"], r["status"], r["width"], r["out_width"]) for r in records[:2]],
                         [(*lower, "converted", 37, 18), (f"{a}/{NAMES[1].lower()}", f"{a}/{OUTPUTS[1]}", "unchanged", 64, 32)])
        self.assertEqual(sorted(os.listdir(a)), sorted([n.lower() for n in NAMES[:2] + OUTPUTS[:1]] + NAMES[2:] + OUTPUTS[1:]))

    def test_a_signal_stops_the_running_map_and_starts_no_other(self):
        for sig, lang, said in ((signal.SIGINT, "C", "interrupted"), (signal.SIGTERM, "ja_JP.UTF-8", "中断しました"),
                                (signal.SIGHUP, "C", "interrupted")):
            a = self.folder("all", f"interrupted-{sig.name}")
            for out in OUTPUTS[1:]:
                with open(os.path.join(a, out), "wb") as f:
                    f.write(b"an earlier " + out.encode())
            scratch = lambda: any(n.startswith(f".{OUTPUTS[1]}.halfmap-") for n in os.listdir(a))
            # The second map's first read is held for 1 s; it is signalled meanwhile.
            proc = subprocess.Popen(slowed(a, "NS", 1, 1000000) + [CLI, a], cwd=self.work, env=traced_env(LANG=lang),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            child = traced_child(proc.pid)
            deadline = time.monotonic() + 20
            while not scratch() and time.monotonic() < deadline:
                time.sleep(0.002)
            os.kill(child, sig)
            out, err = proc.communicate(timeout=30)
            self.assertEqual(proc.returncode, 130, err)
            self.assert_converted(a, "all", [OUTPUTS[0]])
            for out_name in OUTPUTS[1:]:
                self.assertEqual(read(os.path.join(a, out_name)), b"an earlier " + out_name.encode())
            self.assertEqual(out.decode().count("\n"), 1)
            self.assertEqual(err.decode(), f"halfmap-cli: {a}/{NAMES[1]}: {said}\n")

        # A reader that leaves after the first line (head -n1) stops the run as an interrupt does.
        a = self.folder("all", "closed-stdout")
        proc = subprocess.Popen(slowed(a, "NS", 1, 1000000) + [CLI, "--json", a], cwd=self.work, env=traced_env(),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.assertEqual(json.loads(proc.stdout.readline())["input"], f"{a}/{NAMES[0]}")
        proc.stdout.close()
        self.assertEqual(proc.wait(timeout=30), 130)
        self.assertFalse(os.path.exists(os.path.join(a, OUTPUTS[2])))  # not started
        self.assert_converted(a, "all", OUTPUTS[:2])
        # So does a closed stderr; results that reach a full disk fail the run, saying so.
        os.chmod(os.path.join(a, OUTPUTS[0]), 0o444)
        proc = subprocess.Popen([CLI, a], cwd=self.work, env=c_env(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        proc.stderr.close()
        self.assertEqual(proc.wait(timeout=30), 130)
        os.chmod(os.path.join(a, OUTPUTS[0]), 0o644)
        with open("/dev/full", "wb") as full:
            result = subprocess.run([CLI, "-q", "--json", a], cwd=self.work, env=c_env(), stdout=full, stderr=subprocess.PIPE)
        self.assertEqual((result.returncode, result.stderr),
                         (1, b"halfmap-cli: the results could not all be written: No space left on device\n"))

    def test_watch_converts_each_finished_save_once_and_goes_on_after_failures(self):
        a = self.folder("all", "watched")
        src, expected = self.sets["all"]
        proc = subprocess.Popen([CLI, "--watch", "--json", a], cwd=self.work, env=c_env(),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(proc.stdout.close)
        self.addCleanup(proc.kill)
        lines = queue.Queue()
        threading.Thread(target=lambda: [lines.put(json.loads(line)) for line in proc.stdout], daemon=True).start()

        def converted(name, source):
            line = lines.get(timeout=30)
            self.assertEqual((line["input"], line["status"]), (f"{a}/{name}", "converted"))
            self.assertEqual(read(f"{a}/{OUTPUTS[NAMES.index(name)]}"), read(f"{expected}/{OUTPUTS[source]}"))
            return line

        for k, name in enumerate(NAMES):
            converted(name, k)
        # A slow writer: one conversion, of the whole input, after the close.
        with open(f"{a}/{NAMES[0]}", "wb") as f:
            data = read(f"{src}/{NAMES[1]}")
            f.write(data[:len(data) // 2])
            f.flush()
            time.sleep(0.5)
            self.assertTrue(lines.empty())  # nothing while the writer holds it
            f.write(data[len(data) // 2:])
        converted(NAMES[0], 1)
        time.sleep(0.5)
        self.assertTrue(lines.empty())  # and once only
        # Saved through a temporary file and a rename.
        shutil.copy(f"{src}/{NAMES[2]}", f"{a}/edit.tmp")
        os.rename(f"{a}/edit.tmp", f"{a}/{NAMES[0]}")
        converted(NAMES[0], 2)
        # A failure is reported and the watch goes on; two quick saves end with the last.
        with open(f"{a}/{NAMES[1]}", "wb") as f:
            f.write(b"not a bitmap")
        self.assertEqual(lines.get(timeout=30)["status"], "failed")
        for source in (2, 0):
            shutil.copy(f"{src}/{NAMES[source]}", f"{a}/{NAMES[1]}")
        while read(f"{a}/{OUTPUTS[1]}") != read(f"{expected}/{OUTPUTS[0]}"):
            self.assertEqual((line := lines.get(timeout=30))["status"], "converted", line)
        # A removed input leaves its output alone.
        kept = read(f"{a}/{OUTPUTS[2]}")
        os.remove(f"{a}/{NAMES[2]}")
        # A 4096 x 4096 map, given a generous bound: the speed itself is measured by hand.
        with open(f"{a}/big.tmp", "wb") as f:
            f.write(bmp(4096, 4096))
        os.rename(f"{a}/big.tmp", f"{a}/{NAMES[0]}")
        saved = time.monotonic()
        while (line := lines.get(timeout=30))["width"] != 4096:
            pass
        print(f"4096 x 4096 map converted {time.monotonic() - saved:.3f} s after its rename", file=sys.stderr)
        self.assertEqual(run(["--verify", "-o", OUTPUTS[0], NAMES[0]], cwd=a).returncode, 0)
        self.assertEqual(read(f"{a}/{OUTPUTS[2]}"), kept)
        self.assertTrue(lines.empty())

        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=30), 130)
        self.assertEqual([n for n in os.listdir(a) if n.endswith(".tmp")], [])

    def test_watch_follows_its_folder_away_and_back(self):
        a, src = self.folder("all", "moved"), self.sets["all"][0]
        os.makedirs(os.path.join(self.work, "a/b/north"))
        proc = subprocess.Popen([CLI, "--watch", "--json", "moved", "a/b/north"], cwd=self.work, env=c_env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for stream in (proc.stdout, proc.stderr):
            self.addCleanup(stream.close)
        self.addCleanup(proc.kill)
        lines, said = queue.Queue(), queue.Queue()
        threading.Thread(target=lambda: [lines.put(json.loads(line)) for line in proc.stdout], daemon=True).start()
        threading.Thread(target=lambda: [said.put(line.decode()) for line in proc.stderr], daemon=True).start()
        self.assertEqual([lines.get(timeout=30)["status"] for _ in NAMES], ["converted"] * 3)
        self.assertEqual(said.get(timeout=30), "halfmap-cli: watching 6 maps; Ctrl+C ends\n")
        gone = "halfmap-cli: moved is gone; watching for it to come back\n"
        # Renamed away; a folder of its name comes back holding a map already saved.
        os.rename(a, f"{a}.old")
        self.assertEqual(said.get(timeout=30), gone)
        os.mkdir(f"{a}.new")
        shutil.copy(f"{src}/{NAMES[2]}", f"{a}.new/{NAMES[0]}")
        os.rename(f"{a}.new", a)
        self.assertEqual(((line := lines.get(timeout=30))["input"], line["width"]), (f"moved/{NAMES[0]}", 5))
        # Removed and made again: a save into the new folder is converted.
        shutil.rmtree(a)
        self.assertEqual(said.get(timeout=30), gone)
        os.mkdir(a)
        time.sleep(0.5)  # watched again meanwhile; a save it catches half done is converted twice
        shutil.copy(f"{src}/{NAMES[1]}", f"{a}/{NAMES[1]}")
        self.assertEqual(((line := lines.get(timeout=30))["input"], line["status"]), (f"moved/{NAMES[1]}", "converted"))
        self.assert_converted(a, "all", [OUTPUTS[1]])
        # A folder above it renamed away, and its path made again: a save
        # there, under a lower-case name, is converted under that name.
        os.rename(f"{self.work}/a", f"{self.work}/a2")
        self.assertEqual(said.get(timeout=30), "halfmap-cli: a/b/north is gone; watching for it to come back\n")
        os.makedirs(f"{self.work}/a/b/north")
        time.sleep(0.5)
        shutil.copy(f"{src}/{NAMES[2]}", f"{self.work}/a2/b/north/{NAMES[2]}")  # the old folder is no longer watched
        shutil.copy(f"{src}/{NAMES[2]}", f"{self.work}/a/b/north/{NAMES[2].lower()}")
        self.assertEqual(((line := lines.get(timeout=30))["input"], line["width"]), (f"a/b/north/{NAMES[2].lower()}", 5))
        time.sleep(0.5)
        self.assertTrue(lines.empty() and said.empty())
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=30), 130)

    def test_progress_only_on_a_terminal(self):
        a = self.folder("all", "progress\x1b")
        master, slave = pty.openpty()
        proc = subprocess.Popen(slowed(a, "NS", 3) + [CLI, a], cwd=self.work, env=traced_env(),
                                stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        shown = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other end has closed
                break
            if not chunk:
                break
            shown += chunk
        os.close(master)
        proc.wait(timeout=30)
        self.assertEqual(proc.returncode, 0)
        self.assertIn(f"progress\\x1b/{NAMES[1]} [".encode(), shown)
        self.assertIn(b"MiB/s", shown)
        self.assertIn(b"\x1b[2K", shown)
        self.assertEqual(proc.stdout.read().count(b"\n"), 3)
        proc.stdout.close()

        # The same slow run with stderr in a file: not one byte there.
        for args in ([a], ["-q", a]):
            with tempfile.TemporaryFile() as err:
                result = subprocess.run(slowed(a, "NS", 3) + [CLI, *args], cwd=self.work, env=traced_env(),
                                        stdout=subprocess.PIPE, stderr=err)
                self.assertEqual(result.returncode, 0)
                err.seek(0)
                self.assertEqual(err.read(), b"")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
