#!/usr/bin/env python3
"""Fault-injection sweep of tarn-agent.

Each scenario runs once under strace to count the companion's own calls of each
system call below (those after main starts: the dynamic loader's are not the
program's to handle). strace does not follow children, so every count and every
injected fault belongs to the companion alone, never to the registry tool it
starts. Then the command runs once per call number with that call failing (EIO;
ENOSPC for writes and flushes; EACCES and ENOENT where a path is examined; EINTR,
which must change nothing), from a fresh copy of the scenario's state. Checked
after every run: one JSON line (install: its summary) or exactly one message of the
operation's own; no signal death or hang; every file old or new as the outcome
says; no digest published twice, no receipt without a publication; and a rerun
without the fault does what the message promised.

usage: fault_sweep.py --agent PATH [--jobs N] [--only SCENARIO[/SYSCALL[/N[/ERRNO]]]] [--keep]
Exit status: 0 without violations, 1 with any, 77 when strace cannot trace here.
"""
import argparse, collections, concurrent.futures, hashlib, json, os, re, shutil, signal, subprocess, sys, tempfile, time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CANDIDATE = os.path.join(ROOT, "examples", "candidate.json")
RUN_TIMEOUT = 30  # the registry bound is 15 s; anything longer is a hang

SWEPT = ("openat open read write fsync fdatasync rename renameat renameat2 mkdir mkdirat unlink unlinkat "
         "newfstatat stat lstat fstat statx getdents64 chmod fchmod fchmodat clone clone3 vfork fork "
         "wait4 waitid nanosleep clock_nanosleep rt_sigtimedwait poll ppoll").split()
EXAMINE = {"openat", "open", "newfstatat", "stat", "lstat", "fstat", "statx"}
FILL = {"write", "fsync", "fdatasync"}


def errnos(name):
    return ["EIO"] + ["ENOSPC"] * (name in FILL) + ["EACCES", "ENOENT"] * (name in EXAMINE) + ["EINTR"]


# The messages each operation can give when a system call fails; "...: " entries are prefixes.
ARTIFACT = ["cannot exclusively create private artifact", "cannot save private artifact"]
BUILD = ["local file unavailable", "cannot read local file", "expected bounded regular file",
         "credential file unavailable", "cannot create private queue", "queue unavailable", "stdout unavailable"]
BRIDGE = ARTIFACT + ["cannot open response buffer", "could not start trusted tarn CLI", "cannot observe CLI process",
                     "registry operation failed; check credentials, recipe validity and connectivity",
                     "registry call exceeded output/time bound; inspect before retrying writes",
                     "response unavailable"]
INSTALL = ARTIFACT + ["cannot resolve home", "invalid home", "cannot create installation directory",
                      "cannot inspect install path", "expected bounded regular destination file",
                      "cannot read existing file", "installer executable unavailable",
                      "release must contain sibling tarn and tarn-agent executables",
                      "configuration changed during installation; retry", "cannot set executable permissions",
                      "cannot commit installation file", "existing file conflicts; left unchanged: ",
                      "stdout unavailable"]
# A failing call whose message is fixed, whatever the errno (EINTR aside).
CALL_MESSAGES = [("openat", re.compile(r"O_RDONLY\|O_NONBLOCK\|O_NOFOLLOW"), "cannot read local file")]

CONFIG = ".config/tarn-agent/config.json"
QUEUE = ".config/tarn-agent/tarn-agent-queue/"
HOSTS = "--hosts codex,claude,pi --home {home}".split()


@dataclass
class Scenario:
    name: str
    args: list
    kind: str  # queue, publish, config, lookup, install
    allowed: list
    state: str
    stdin: bool = False


SCENARIOS = [
    Scenario("prepare", ["prepare"], "queue", BUILD + ARTIFACT + ["stdin unavailable"], "bare", stdin=True),
    Scenario("share", ["share", "{digest}"], "publish", BUILD + BRIDGE, "one-queued"),
    Scenario("hook", ["hook"], "publish", BUILD + BRIDGE, "three-queued-one-attempted"),
    Scenario("mode-hook", ["mode", "hook"], "config", BUILD + ARTIFACT + ["cannot save mode"], "queue"),
    Scenario("search", ["search", "jittered backoff"], "lookup", BUILD + BRIDGE, "queue"),
    Scenario("install-fresh", ["install"] + HOSTS, "install", INSTALL, "empty"),
    Scenario("install-over", ["install"] + HOSTS, "install", INSTALL, "earlier-install"),
]

# A stand-in registry tool: every publication is one line, so a second one is seen. It
# takes a moment, as a real one does, so that the companion waits and polls more than once.
STAND_IN = """#!/bin/sh
[ "$1" = publish ] && printf '%s\\n' "${2##*/}" >>"$SWEEP_RUN/published"
sleep 0.03
printf '{"ok":true}\\n'
"""
FOREIGN_CLAUDE = {"numStartups": 7, "theme": "dark",
                  "mcpServers": {"docs": {"type": "stdio", "command": "/usr/bin/docs-server", "args": []}}}
FOREIGN_CODEX = ('# my Codex settings\nmodel = "gpt-5-codex"  # the one I use\n\n'
                 '[mcp_servers.docs]\ncommand = "/usr/bin/docs-server"\nargs = ["--stdio"]\n')


class Sweep:
    def __init__(self, agent, work):
        # The release without its debug sections: the same code, a tenth of the bytes every install copies.
        release = os.path.join(work, "release")
        os.mkdir(release)
        for name in ("tarn-agent", "tarn"):
            source, copy = os.path.join(os.path.dirname(agent), name), os.path.join(release, name)
            if not shutil.which("strip") or subprocess.run(["strip", "-o", copy, source]).returncode:
                shutil.copy2(source, copy)
        self.agent = os.path.join(release, "tarn-agent")
        self.tool = os.path.join(work, "stand-in-tarn")
        write(self.tool, STAND_IN, 0o700)

    def env(self, rundir):
        home = os.path.join(rundir, "home")
        return {"PATH": "/usr/bin:/bin", "HOME": home, "TARN_AGENT_HOME": home, "LC_ALL": "C",
                "TARN_TOKEN": "tl_sweep_token", "SWEEP_RUN": rundir}

    def run(self, rundir, args, stdin=False, strace=(), digest=""):
        """Runs the companion in its own session, bounded; None when it had to be killed."""
        home = os.path.join(rundir, "home")
        argv = [*strace, self.agent, *[a.format(home=home, digest=digest) for a in args]]
        with open(CANDIDATE if stdin else os.devnull, "rb") as source:
            p = subprocess.Popen(argv, stdin=source, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 env=self.env(rundir), cwd=rundir, start_new_session=True)
            try:
                out, err = p.communicate(timeout=RUN_TIMEOUT)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.communicate()
                return None
        wait_for_orphans(rundir)
        norm = lambda b: b.replace(rundir.encode(), b"{RUN}").decode(errors="replace")
        return (p.returncode, norm(out), norm(err))

    # Each state is built once in a template, copied for every run with the template's path rewritten.
    def build_state(self, state, rundir):
        """Returns the digest of the first queued candidate, if any."""
        home = os.path.join(rundir, "home")
        os.makedirs(home, 0o700)
        if state == "empty":
            return ""
        if state == "earlier-install":
            if self.run(rundir, ["install"] + HOSTS)[0] != 0:
                sys.exit("sweep: the earlier installation failed")
            write(os.path.join(home, ".claude.json"), json.dumps(FOREIGN_CLAUDE, indent=2) + "\n", 0o644)
            write(os.path.join(home, ".codex/config.toml"), FOREIGN_CODEX, 0o644)
            for tool in ("tarn", "tarn-agent"):  # an older release of our own
                write(os.path.join(home, ".local/bin", tool), "#!/bin/sh\necho old " + tool + "\n", 0o700)
            return ""
        config = {"documentation_hosts": ["docs.python.org", "go.dev"], "mode": "manual",
                  "private_terms": ["acme-internal"], "registry": "https://larder.tarn.dev", "tarn_bin": self.tool}
        write(os.path.join(home, CONFIG), json.dumps(config, indent=2) + "\n", 0o600)
        write(os.path.join(home, ".config/tarn-agent/production.env"),
              "TARN_URL=https://larder.tarn.dev\nTARN_TOKEN=\n", 0o600)
        if state == "bare":
            return ""
        os.mkdir(os.path.join(home, QUEUE), 0o700)
        queued = {"queue": 0, "one-queued": 1, "three-queued-one-attempted": 3}[state]
        digests = [self.prepare(rundir, version) for version in range(1, queued + 1)]
        if queued == 3:
            write(os.path.join(home, QUEUE, digests[1] + ".attempt"),
                  "inspect registry before any manual recovery\n", 0o600)
            config["mode"] = "hook"
            write(os.path.join(home, CONFIG), json.dumps(config, indent=2) + "\n", 0o600)
        return digests[0] if digests else ""

    def prepare(self, rundir, version):
        with open(CANDIDATE) as f:
            candidate = json.load(f)
        candidate["recipe"]["version"] = version
        p = subprocess.run([self.agent, "prepare"], input=json.dumps(candidate).encode(), capture_output=True,
                           env=self.env(rundir), check=True)
        return json.loads(p.stdout)["digest"]


def write(path, text, mode):
    os.makedirs(os.path.dirname(path), 0o700, exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def wait_for_orphans(rundir):
    """A registry tool the companion lost sight of may still be publishing: let it finish."""
    mark, deadline = rundir.encode() + b"/", time.monotonic() + 10
    while time.monotonic() < deadline:
        busy = False
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    busy = busy or mark in f.read()
            except OSError:
                pass
        if not busy:
            return
        time.sleep(0.01)


def copy_state(template, rundir):
    """The template's files with its own path replaced by this run's, so registrations stay ours."""
    shutil.copytree(template, rundir, symlinks=True)
    old, new = template.encode(), rundir.encode()
    for dirpath, _, names in os.walk(rundir):
        for name in names:
            path = os.path.join(dirpath, name)
            if os.path.getsize(path) < 1 << 20:
                with open(path, "rb") as f:
                    data = f.read()
                if old in data:
                    mode = os.stat(path).st_mode
                    with open(path, "wb") as f:
                        f.write(data.replace(old, new))
                    os.chmod(path, mode)


LEFTOVER = re.compile(r"(^|/)(\.tarn-install-\d+-\d+|config\.\d+\.tmp|call-\d+-\d+)$")


@dataclass
class Snapshot:
    files: dict = field(default_factory=dict)  # path -> (mode, sha256, bytes of a small file)
    backups: collections.Counter = field(default_factory=collections.Counter)
    leftovers: set = field(default_factory=set)
    published: collections.Counter = field(default_factory=collections.Counter)

    def digest(self, path):
        return self.files[path][1] if path in self.files else None

    def version(self, path):  # the mode counts too
        return self.files[path][:2] if path in self.files else None


def snapshot(rundir):
    s, home = Snapshot(), os.path.join(rundir, "home")
    for dirpath, _, names in os.walk(home):
        for name in names:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, home)
            if LEFTOVER.search(rel):
                s.leftovers.add(re.sub(r"\d+", "N", rel))
                continue
            with open(path, "rb") as f:
                data = f.read()
            small = data.replace(rundir.encode(), b"{RUN}") if len(data) < 1 << 20 else None
            sha = hashlib.sha256(small if small is not None else data).hexdigest()
            if rel.startswith(".config/tarn-agent/backups/"):
                s.backups[sha] += 1
            else:
                s.files[rel] = (os.lstat(path).st_mode & 0o7777, sha, small)
    published = os.path.join(rundir, "published")
    if os.path.exists(published):
        with open(published) as f:
            s.published = collections.Counter(line.strip().removesuffix(".json") for line in f)
    return s


@dataclass
class Baseline:
    template: str
    old: Snapshot
    new: Snapshot
    outcome: tuple
    calls: dict  # syscall -> list of (call number, traced line), the companion's own
    digest: str  # the candidate a share names


def message_of(outcome):
    m = re.fullmatch(r"tarn-agent: ([^\n]*)\n", outcome[2]) if outcome[0] == 1 and not outcome[1] else None
    return m and m[1]


def form_problems(sc, outcome):
    if outcome is None:
        return [f"hang: still running after {RUN_TIMEOUT} s"]
    rc, out, err = outcome
    if rc < 0:
        return [f"killed by signal {-rc}"]
    if rc == 0:
        if err:
            return [f"success with standard error {err!r}"]
        if sc.kind != "install":
            try:
                assert out.endswith("\n") and out.count("\n") == 1
                json.loads(out)
            except (AssertionError, ValueError):
                return [f"success without one JSON line: {out!r}"]
        return []
    message = message_of(outcome)
    if rc != 1 or message is None:
        return [f"exit {rc} with stdout {out!r} and stderr {err!r}"]
    if not any(message == a or (a.endswith(": ") and message.startswith(a)) for a in sc.allowed):
        return [f"message not the operation's own: {message!r}"]
    return []


def state_problems(sc, base, outcome, s, partial_ok):
    """Every file old or new, consistent with the outcome; the publication log agrees."""
    problems, old, new = [], base.old, base.new
    message = outcome and message_of(outcome)
    for path in sorted(set(old.files) | set(new.files) | set(s.files)):
        got = s.digest(path)
        if got in (old.digest(path), new.digest(path)):
            continue
        small, full = s.files.get(path, (0, 0, None))[2], new.files.get(path, (0, 0, None))[2]
        prefix = small is not None and full is not None and full.startswith(small)
        if not (prefix and partial_ok and path.startswith(QUEUE)):
            problems.append(f"{path} is neither old nor new" + (" (cut short)" if prefix else ""))
    if CONFIG in s.files and s.files[CONFIG][0] != 0o600:
        problems.append(f"config.json has mode {s.files[CONFIG][0]:o}")
    if outcome and outcome[0] == 0:
        if outcome[1] != base.outcome[1]:
            problems.append(f"success but the output differs from the unfaulted run: {outcome[1].strip()!r}")
        problems += [f"success but {p} is not the new version" for p in sorted(set(new.files) | set(s.files))
                     if s.version(p) != new.version(p) and not (partial_ok and p.startswith(QUEUE))]
        if new.backups - s.backups:
            problems.append("success without a backup of every replaced file")
    elif message and message != "stdout unavailable" and sc.kind in ("config", "install"):
        problems += [f"failure ({message}) but {p} holds the new version" for p in sorted(set(new.files))
                     if s.digest(p) != old.digest(p) and s.digest(p) == new.digest(p)]
    for digest, count in s.published.items():
        if count > 1:
            problems.append(f"{digest[:12]} published {count} times")
        if QUEUE + digest + ".attempt" in old.files:
            problems.append(f"{digest[:12]} published again although already attempted")
    for path in s.files:
        if path.endswith(".receipt") and not s.published[path[len(QUEUE):-8]]:
            problems.append(f"receipt without a publication: {path}")
    return problems


def rerun_problems(sc, base, after, again, final, partial_ok):
    """What the message promised: the same command again succeeds, or reports the documented state."""
    problems = [f"rerun: {p}" for p in form_problems(sc, again)]
    if problems:
        return problems
    queued = QUEUE + base.digest
    if sc.name == "share" and queued + ".receipt" in after.files:
        expect = (0, json.dumps({"digest": base.digest, "status": "already_shared"}, separators=(",", ":")) + "\n")
    elif sc.name == "share" and queued + ".attempt" in after.files:
        expect = (1, "")
        if message_of(again) != "cannot exclusively create private artifact":
            problems.append(f"rerun of an attempted share: {again[2].strip()!r}")
    elif sc.name == "hook":
        expect = (0, again[1])
        if json.loads(again[1] or "{}").get("status") != "processed":
            problems.append(f"rerun of hook: {again[1].strip() or again[2].strip()!r}")
        problems += [f"rerun of hook left {p} unattempted" for p in base.old.files
                     if p.endswith(".json") and p.startswith(QUEUE) and p[:-5] + ".attempt" not in final.files]
    else:
        expect = base.outcome[:2]
        problems += [f"rerun left {p} not new" for p in sorted(set(base.new.files) | set(final.files))
                     if final.version(p) != base.new.version(p) and not (partial_ok and p.startswith(QUEUE))]
    if again[:2] != expect:
        problems.append(f"rerun gave {again[1].strip() or again[2].strip()!r}")
    return problems + [f"after rerun: {p}" for p in state_problems(sc, base, None, final, partial_ok)]


def run_case(sc, base, name, number, line, err, work, keep):
    rundir = os.path.join(work, f"{sc.name}.{name}.{number}.{err}")
    copy_state(base.template, rundir)
    try:
        strace = ["strace", "-qq", "-o", "/dev/null", "-e", f"trace={name}",
                  "-e", f"inject={name}:error={err}:when={number}", "--"]
        outcome = sweep.run(rundir, sc.args, sc.stdin, strace, base.digest)
        after = snapshot(rundir)
        problems = form_problems(sc, outcome)
        message = outcome and message_of(outcome)
        partial_ok = message == "cannot save private artifact"
        for syscall, pattern, expected in CALL_MESSAGES:
            if message and err != "EINTR" and name == syscall and pattern.search(line) and message != expected:
                problems.append(f"gives {message!r} where {expected!r} is due")
        if err == "EINTR" and outcome and (outcome != base.outcome or after.files.keys() != base.new.files.keys()
                                           or any(after.version(p) != base.new.version(p) for p in after.files)
                                           or after.leftovers or after.published != base.new.published):
            problems.append("EINTR not retried: " + (outcome[1] or outcome[2]).strip())
        problems += state_problems(sc, base, outcome, after, partial_ok)
        if outcome is not None and not any(p.startswith("killed") for p in problems):
            again = sweep.run(rundir, sc.args, sc.stdin, digest=base.digest)
            problems += rerun_problems(sc, base, after, again, snapshot(rundir), partial_ok)
        return (sc.name, name, number, err, line, problems, after.leftovers)
    finally:
        if not keep:
            shutil.rmtree(rundir, ignore_errors=True)


def baseline(sc, work):
    template = os.path.join(work, "template-" + sc.name)
    digest = sweep.build_state(sc.state, template)
    counted = os.path.join(work, "baseline-" + sc.name)
    copy_state(template, counted)
    old = snapshot(counted)
    trace = counted + ".trace"
    outcome = sweep.run(counted, sc.args, sc.stdin,
                        ["strace", "-qq", "-o", trace, "-e", "trace=rt_sigaction,?" + ",?".join(SWEPT), "--"], digest)
    if not outcome or outcome[0] != 0:
        sys.exit(f"sweep: {sc.name} fails without a fault: {outcome}")
    calls, started = collections.defaultdict(list), False
    with open(trace) as f:
        for line in f:
            m = re.match(r"(\w+)\(", line)
            started = started or bool(m and m[1] == "rt_sigaction" and "SIGPIPE" in line)
            if m:
                calls[m[1]].append((len(calls[m[1]]) + 1, line.strip()[:160], started))
    own = {n: [(k, line) for k, line, s in v if s] for n, v in calls.items() if n in SWEPT}
    return Baseline(template, old, snapshot(counted), outcome, {n: v for n, v in own.items() if v}, digest)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--agent", required=True)
    parser.add_argument("--jobs", type=int, default=max(2, os.cpu_count() or 2))
    parser.add_argument("--only", default="", help="SCENARIO[/SYSCALL[/N[/ERRNO]]]")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    opts = parser.parse_args()
    if not shutil.which("strace") or subprocess.run(["strace", "-qq", "-o", "/dev/null", "true"]).returncode:
        print("sweep: strace cannot trace here; skipped")
        return 77
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None  # flushes cost nothing there
    work = tempfile.mkdtemp(prefix="tarn-sweep.", dir=shm)
    try:
        return sweep_all(opts, work)
    finally:
        if opts.keep:
            print(f"sweep: work directory kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def sweep_all(opts, work):
    global sweep
    started = time.monotonic()
    sweep = Sweep(os.path.abspath(opts.agent), work)
    only = (opts.only.split("/") + [""] * 4)[:4]
    cases = []
    for sc in SCENARIOS:
        if only[0] and sc.name != only[0]:
            continue
        base = baseline(sc, work)
        print(f"sweep: {sc.name}: " + ", ".join(f"{n} {len(v)}" for n, v in sorted(base.calls.items())), flush=True)
        for name, numbered in sorted(base.calls.items()):
            for number, line in numbered:
                for err in errnos(name):
                    if all(o in ("", str(v)) for o, v in zip(only[1:], (name, number, err))):
                        cases.append((sc, base, name, number, line, err))
    violations, leftovers, runs = [], collections.Counter(), 0
    with concurrent.futures.ThreadPoolExecutor(opts.jobs) as pool:
        futures = [pool.submit(run_case, *case, work, opts.keep) for case in cases]
        for future in concurrent.futures.as_completed(futures):
            scenario, name, number, err, line, problems, left = future.result()
            runs += 1
            leftovers.update(f"{scenario}: {os.path.basename(p)}" for p in left)
            if problems:
                violations.append((scenario, name, number, err, line, problems))
    for scenario, name, number, err, line, problems in sorted(violations):
        print(f"VIOLATION {scenario} {name}#{number} {err}: {'; '.join(problems)}\n    call: {line}")
    for text, count in sorted(leftovers.items()):
        print(f"note: a temporary file is left behind ({text}) after {count} runs")
    tally = collections.defaultdict(set)
    for scenario, name, number, err, _, problems in violations:
        tally[("EINTR" if err == "EINTR" else "fault", re.sub(r"[0-9a-f]{64}", "DIGEST", problems[0]))].add(
            f"{scenario} {name}#{number}")
    print("violations by first problem:")
    for (kind, problem), where in sorted(tally.items()):
        print(f"  {len(where):4d} x {kind}: {problem} [{', '.join(sorted(where)[:3])}{', ...' * (len(where) > 3)}]")
    scenarios = len({c[0].name for c in cases})
    print(f"sweep: {scenarios} scenarios, {runs} runs, {len(violations)} violations, "
          f"{time.monotonic() - started:.0f} s")
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
