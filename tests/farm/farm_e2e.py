#!/usr/bin/env python3
"""Renders the demo project (320x240, 22 s) once whole and once in 4 chunks on a render farm, and
compares the two with ffprobe and ffmpeg: the same frame count and duration, every frame of the
joined movie matching the same frame of the whole render (PSNR over 40 dB, while a neighbouring
frame does not), and the very same sound samples. Then one chunk job is killed on purpose: the
render must fail with a clear message, write no output and leave no partial file beside it.

  slurm: starts a one-node Slurm cluster on this machine (munged, slurmctld, slurmd from the
         distribution's packages, on ports of 127.0.0.1, with its files in a folder of /tmp), and
         renders with --scheduler slurm --wait; the chunk is cancelled with scancel.
  local: renders with --scheduler local; the chunk's process is killed.

Usage: farm_e2e.py slurm|local ZEFEDIT ZEFDEMO WORKDIR
Exit status 0 on success, 77 when the cluster cannot run here (the reason is printed), 1 on
failure.
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
CHUNKS = 4


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def skip(message):
    print(f"SKIP: {message}")
    sys.exit(SKIP)


def run(cmd, env=None, check=True):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env,
                       stdin=subprocess.DEVNULL)
    if check and r.returncode != 0:
        fail(f"{' '.join(cmd)} exited with {r.returncode}:\n{r.stdout}")
    return r


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Cluster:
    """A one-node Slurm cluster whose every file lives in one folder."""

    def __init__(self, folder):
        self.folder = folder
        self.env = dict(os.environ)
        self.pidfiles = []

    def start(self):
        tools = ["munged", "slurmctld", "slurmd", "sbatch", "squeue", "scancel", "sinfo"]
        missing = [t for t in tools if not shutil.which(t, path=os.environ.get("PATH", "") +
                                                         ":/usr/sbin:/sbin")]
        if missing:
            skip("the Slurm and munge programs are not installed (missing: " +
                 ", ".join(missing) + "); scripts/install-deps installs them")
        if os.geteuid() != 0:
            skip("a Slurm node daemon must run as root to start jobs; run this test as root")
        f = self.folder
        shutil.rmtree(f, ignore_errors=True)
        for d in ("munge", "state", "spool", "log"):
            os.makedirs(os.path.join(f, d), mode=0o755)
        os.chmod(f, 0o755)
        key = os.path.join(f, "munge", "munge.key")
        with open(key, "wb") as k:
            k.write(os.urandom(1024))
        os.chmod(key, 0o400)
        sock = os.path.join(f, "munge", "munge.sock")
        r = run(["munged", "--force", f"--key-file={key}", f"--socket={sock}",
                 f"--pid-file={f}/munge/munged.pid", f"--log-file={f}/munge/munged.log",
                 f"--seed-file={f}/munge/seed"], check=False)
        self.pidfiles.append(f"{f}/munge/munged.pid")
        if r.returncode != 0:
            skip(f"munged cannot start here: {r.stdout.strip()}")
        node = socket.gethostname().split(".")[0]
        conf = os.path.join(f, "slurm.conf")
        with open(conf, "w") as c:
            c.write(f"""ClusterName=zeftest
SlurmctldHost={node}(127.0.0.1)
SlurmctldPort={free_port()}
SlurmdPort={free_port()}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={sock}
StateSaveLocation={f}/state
SlurmdSpoolDir={f}/spool
SlurmctldPidFile={f}/slurmctld.pid
SlurmdPidFile={f}/slurmd.pid
SlurmctldLogFile={f}/log/slurmctld.log
SlurmdLogFile={f}/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MinJobAge=600
KillWait=5
MpiDefault=none
NodeName={node} NodeAddr=127.0.0.1 CPUs=2 RealMemory=2000 State=UNKNOWN
PartitionName=main Nodes={node} Default=YES MaxTime=INFINITE State=UP
""")
        self.env["SLURM_CONF"] = conf
        for daemon in (["slurmctld", "-i"], ["slurmd"]):
            r = run(daemon, env=self.env, check=False)
            self.pidfiles.append(f"{f}/{daemon[0]}.pid")
            if r.returncode != 0:
                skip(f"{daemon[0]} cannot start here: {r.stdout.strip()}")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            r = run(["sinfo", "-h", "-o", "%T"], env=self.env, check=False)
            if r.returncode == 0 and r.stdout.strip() == "idle":
                return
            time.sleep(0.5)
        logs = ""
        for name in ("slurmctld.log", "slurmd.log"):
            try:
                with open(os.path.join(f, "log", name)) as lf:
                    logs += f"--- {name}\n" + "".join(lf.readlines()[-10:])
            except OSError:
                pass
        skip(f"the Slurm node did not come up within 30 s:\n{logs}")

    def stop(self):
        # Jobs first, so that no job step outlives the daemons it reports to.
        if "SLURM_CONF" in self.env:
            run(["scancel", "--user", "root"], env=self.env, check=False)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline:
                r = run(["squeue", "-h", "-t", "running,completing,pending", "-o", "%i"],
                        env=self.env, check=False)
                if r.returncode != 0 or not r.stdout.strip():
                    break
                time.sleep(0.2)
        for pidfile in reversed(self.pidfiles):
            try:
                with open(pidfile) as p:
                    pid = int(p.read().strip())
                os.kill(pid, signal.SIGTERM)
                for _ in range(100):
                    # Ended, or ended and not reaped (the daemons' parent is init, which in a
                    # container may not reap).
                    with open(f"/proc/{pid}/stat") as stat:
                        if stat.read().rsplit(")", 1)[1].split()[0] == "Z":
                            break
                    time.sleep(0.05)
            except (OSError, ValueError):
                pass
        shutil.rmtree(self.folder, ignore_errors=True)


def probe(path):
    r = run(["ffprobe", "-v", "error", "-count_frames", "-show_entries",
             "stream=codec_type,codec_name,nb_read_frames,duration:format=duration", "-of",
             "default=nw=1", path])
    return r.stdout


def frame_psnrs(a, b, shift=0):
    """Per-frame PSNR (average over the planes) of b's frames against a's, b shifted by
    `shift` frames."""
    graph = f"[1:v]trim=start_frame={shift},setpts=PTS-STARTPTS[b];[0:v][b]psnr=stats_file=-"
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", a, "-i", b, "-lavfi", graph, "-f", "null",
             "-"])
    values = re.findall(r"psnr_avg:(\S+)", r.stdout)
    return [float("inf") if v == "inf" else float(v) for v in values]


def pcm(path):
    return subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0",
                           "-f", "s16le", "-"], stdout=subprocess.PIPE, check=True).stdout


def leftovers(folder, keep):
    return sorted(n for n in os.listdir(folder) if n not in keep)


def relinked(zefedit, zefdemo, work):
    """A project whose clip folder moved renders on the farm with --relink, which every job
    applies through the missing-file flow; without it the render is refused."""
    media = os.path.join(os.path.dirname(os.path.abspath(zefedit)), "..", "demo-media")
    clips, moved = os.path.join(work, "clips"), os.path.join(work, "moved")
    for d in (clips, moved):
        shutil.rmtree(d, ignore_errors=True)
    os.makedirs(clips)
    for name in "abc":
        shutil.copy(os.path.join(media, f"{name}_320x240.mov"), os.path.join(clips, f"{name}.mov"))
    project = os.path.join(work, "moved.zef")
    run([zefdemo, "--size", "320x240", "--media", clips, project])
    os.rename(clips, moved)
    output = os.path.join(work, "relinked.mov")
    r = run([zefedit, "--render-farm", project, "--output", output, "--chunks", "2",
             "--scheduler", "local"], check=False)
    if r.returncode == 0 or "missing clip: " + os.path.join(clips, "a.mov") not in r.stdout:
        fail(f"a project whose clips moved was not refused:\n{r.stdout}")
    run([zefedit, "--render-farm", project, "--output", output, "--chunks", "2",
         "--scheduler", "local", "--relink", f"{clips}={moved}"])
    if "nb_read_frames=660" not in probe(output):
        fail("the relinked render does not hold 660 frames")
    print("a moved clip folder renders with --relink")


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("slurm", "local"):
        sys.exit(__doc__)
    scheduler, zefedit, zefdemo, work = sys.argv[1:]
    work = os.path.abspath(work)
    # The cluster's files go to a short folder of its own: munge's socket path must stay
    # within the 108 bytes of a socket address, wherever the build tree is.
    cluster = Cluster(tempfile.mkdtemp(prefix="zef-slurm-")) if scheduler == "slurm" else None
    env = dict(os.environ)
    try:
        if cluster:
            cluster.start()
            env = cluster.env
        os.makedirs(work, exist_ok=True)
        started = time.monotonic()
        project = os.path.join(work, "demo.zef")
        run([zefdemo, "--size", "320x240", project])
        single = os.path.join(work, "single.mov")
        run([zefedit, "--render", project, "--output", single])
        out = os.path.join(work, "farm")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        joined = os.path.join(out, "joined.mov")
        t = time.monotonic()
        r = run([zefedit, "--render-farm", project, "--output", joined, "--chunks", str(CHUNKS),
                 "--scheduler", scheduler, "--wait"], env=env)
        print(f"farm render ({scheduler}, {CHUNKS} chunks): {time.monotonic() - t:.1f} s")
        if not os.path.isfile(joined):
            fail(f"no joined movie:\n{r.stdout}")
        if leftovers(out, {"joined.mov"}):
            fail(f"left beside the output: {leftovers(out, {'joined.mov'})}")

        a, b = probe(single), probe(joined)
        print(f"single render:\n{a}joined render:\n{b}")
        if a != b:
            fail("the joined movie's streams differ from the single render's (above)")
        if "nb_read_frames=660" not in b:
            fail("the joined movie does not hold 660 frames")

        psnr = frame_psnrs(single, joined)
        if len(psnr) != 660:
            fail(f"compared {len(psnr)} frames instead of 660")
        worst = min(range(len(psnr)), key=lambda i: psnr[i])
        print(f"PSNR against the single render: lowest {psnr[worst]:.2f} dB at frame {worst}")
        if psnr[worst] <= 40.0:
            fail(f"frame {worst} differs from the single render ({psnr[worst]:.2f} dB)")
        # The check sees a frame out of place: one frame later matches far worse.
        shifted = frame_psnrs(single, joined, shift=1)
        seams = [165, 330, 495]
        for s in seams:
            if shifted[s - 1] > 32.0:
                fail(f"frames {s - 1} and {s} are alike ({shifted[s - 1]:.1f} dB); the check "
                     f"could not see a repeated frame at the seam")

        sa, sb = pcm(single), pcm(joined)
        if len(sa) != len(sb):
            fail(f"the sound lasts {len(sb) // 4} samples instead of {len(sa) // 4}")
        if sa != sb:
            first = next(i for i in range(0, len(sa), 2) if sa[i:i + 2] != sb[i:i + 2]) // 4
            fail(f"the sound differs from the single render's from sample {first} on")
        print(f"sound: {len(sa) // 4} samples, the same as the single render's")

        if not cluster:
            relinked(zefedit, zefdemo, work)

        # A chunk killed on purpose fails the render: no output, no partial file beside it.
        killed = os.path.join(out, "killed.mov")
        proc = subprocess.Popen([zefedit, "--render-farm", project, "--output", killed,
                                 "--chunks", str(CHUNKS), "--scheduler", scheduler, "--wait"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=env, stdin=subprocess.DEVNULL)
        jobs = ""
        while "jobs:" not in jobs:
            line = proc.stdout.readline()
            if not line:
                break
            jobs += line
        if cluster:
            array = re.search(r"chunks (\d+)", jobs).group(1)
            task = f"{array}_1"
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                state = run(["squeue", "-h", "-r", "-t", "all", "-j", task, "-o", "%T"],
                            env=env, check=False).stdout.strip()
                if state != "PENDING":
                    break
                time.sleep(0.05)
            print(f"cancelling chunk 2 (job {task}, {state})")
            run(["scancel", task], env=env)
            expected = "chunk 2 of 4 (frames 165 to 329) was cancelled"
        else:
            pid = int(re.search(r"chunk-0 (\d+)", jobs).group(1))
            print(f"killing chunk 1 (process {pid})")
            os.kill(pid, signal.SIGKILL)
            expected = "chunk 1 of 4 (frames 0 to 164) was cancelled"
        try:
            rest, errors = proc.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            proc.kill()
            fail("the render with a killed chunk did not end")
        print(errors.strip())
        if proc.returncode == 0:
            fail("the render with a killed chunk succeeded")
        if expected not in errors or "killed.mov was not written" not in errors:
            fail(f"the message does not say what happened; expected {expected!r}")
        if os.path.exists(killed) or leftovers(out, {"joined.mov"}) != [
                n for n in leftovers(out, {"joined.mov"}) if n.startswith("killed.mov.farm-")]:
            fail(f"the failed render left output behind: {leftovers(out, {'joined.mov'})}")
        for folder in leftovers(out, {"joined.mov"}):
            parts = [n for n in os.listdir(os.path.join(out, folder)) if n.endswith(".mov")]
            if parts:
                fail(f"the failed render kept its parts: {parts}")
        print(f"all checks passed in {time.monotonic() - started:.1f} s")
    finally:
        if cluster:
            cluster.stop()


if __name__ == "__main__":
    main()
