"""Helpers of the demo, the benchmark and the Python-driven tests: running
Windows programs under the build tree's Wine, laying out game folders, reading
launcher records."""
import atexit
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time

BUILD = os.environ.get("KES_BUILD_DIR", "")
BIN = os.path.join(BUILD, "bin")
WINE_RUN = os.path.join(BUILD, "wine-run.sh")
# Test folders live on the Wine prefix's own C: drive: a short, fixed place
# whatever the depth of the checkout.
DRIVE_C = os.path.join(os.environ.get("KES_WINEPREFIX") or os.path.join(BUILD, "wineprefix"), "drive_c")
# One folder per process: another run of the same checks at the same time (a
# second build's or a mutant's run in this prefix) never meets this one's
# files. It goes when the process ends.
SCRATCH = os.path.join(DRIVE_C, "kes-scratch", "py", str(os.getpid()))
if BUILD:
    os.makedirs(SCRATCH, exist_ok=True)
    atexit.register(shutil.rmtree, SCRATCH, True)


def _identifiers():
    """The family's identifiers as the build wrote them from cmake/Identifiers.cmake."""
    path = os.path.join(BUILD, "generated", "identifiers.json")
    if not BUILD or not os.path.isfile(path):
        return {}
    with open(path, encoding="utf-8") as f:
        return json.load(f)


FAMILY_ID = _identifiers().get("launcherFamilyId")


def host_runs_32_bit():
    """Whether this kernel executes 32-bit Linux programs, without which Wine
    starts no 32-bit Windows program (some virtual machines turn it off)."""
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def windows_path(unix_path):
    path = os.path.abspath(unix_path)
    if path == DRIVE_C or path.startswith(DRIVE_C + os.sep):
        return "C:" + (path[len(DRIVE_C):] or os.sep).replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def fresh_dir(name):
    path = os.path.join(SCRATCH, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


KEYS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures", "keys")


def key_digest(publisher):
    """The SHA-256 of a test publisher's DER SubjectPublicKeyInfo, as openssl
    (not the code under test) computes it: the digest that KesPublisherKeys
    takes."""
    cert = os.path.join(KEYS, f"{publisher}.cert.pem")
    pem = subprocess.run(["openssl", "x509", "-in", cert, "-pubkey", "-noout"], stdout=subprocess.PIPE,
                         check=True).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "der"], input=pem, stdout=subprocess.PIPE,
                         check=True).stdout
    return hashlib.sha256(der).hexdigest()


def place(folder, built_name, as_name):
    """A copy of the built file; "link:NAME" puts a symbolic link to it instead,
    which Wine follows as Linux does."""
    if built_name.startswith("link:"):
        os.symlink(os.path.join(BIN, built_name[len("link:"):]), os.path.join(folder, as_name))
    else:
        shutil.copyfile(os.path.join(BIN, built_name), os.path.join(folder, as_name))


def place_refused_by_loader(folder, as_name):
    """A whole launcher of the family at 5.0.0.0, built for x64, whose header
    names x86 as its machine: a machine that runs here, so it is chosen, but
    the loader refuses the image (Windows error 193)."""
    data = bytearray(open(os.path.join(BIN, "fx_family_5_0_0_0.exe"), "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<H", data, pe + 4, 0x014C)
    with open(os.path.join(folder, as_name), "wb") as f:
        f.write(data)


def run_wine(exe, args=(), cwd=None, env_extra=None, timeout=60):
    """Runs a Windows program; returns (exit code, stdout bytes, stderr bytes)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    proc = subprocess.run([WINE_RUN, exe, *args], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def locale_env(name):
    """LANG and LC_ALL set to the Unix locale `name` ("de_DE.UTF-8", or "C"),
    which Wine turns into the user's interface language. Wine takes it only
    when the C library can load it: one that is not installed is compiled
    into the build tree once (LOCPATH)."""
    env = {"LANG": name, "LC_ALL": name}
    installed = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    if name in ("C", "POSIX") or name.lower().replace("utf-8", "utf8") in installed.decode().lower().split():
        return env
    locales = os.path.join(BUILD, "locales")
    target = os.path.join(locales, name)
    if not os.path.isdir(target):
        os.makedirs(locales, exist_ok=True)
        source, charmap = name.split(".")
        building = tempfile.mkdtemp(dir=locales)
        subprocess.run(["localedef", "-i", source, "-f", charmap, os.path.join(building, name)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            os.rename(os.path.join(building, name), target)
        except OSError:
            if not os.path.isdir(target):  # another test made it meanwhile
                raise
        shutil.rmtree(building, ignore_errors=True)
    env["LOCPATH"] = locales
    return env


# A recording launcher writes how it was started to "<its path>.started".
RECORD_SUFFIX = ".started"


def wait_for(condition, timeout):
    """Polls condition until it holds (True) or the timeout has passed (False)."""
    deadline = time.time() + timeout
    while not condition():
        if time.time() > deadline:
            return False
        time.sleep(0.05)
    return True


def read_record(exe_path, timeout=10.0):
    """The fields a recording fixture launcher wrote, or None."""
    path = exe_path + RECORD_SUFFIX
    if not wait_for(lambda: os.path.exists(path), timeout):
        return None
    with open(path, "rb") as f:
        fields = f.read().decode("utf-16-le").split("\0")[:-1]
    return {"self": fields[0], "command_line": fields[1], "cwd": fields[2], "args": fields[3:]}


def started_launchers(folder):
    return sorted(n[:-len(RECORD_SUFFIX)] for n in os.listdir(folder) if n.endswith(RECORD_SUFFIX))


def clear_records(folder):
    """Removes every launch record in the folder."""
    for name in started_launchers(folder):
        os.remove(os.path.join(folder, name + RECORD_SUFFIX))


def fnv1a_units(text):
    h = 0xcbf29ce484222325
    data = text.encode("utf-16-le")
    for i in range(0, len(data), 2):
        h ^= data[i] | (data[i + 1] << 8)
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def decode_wine_debugstr(text):
    """Undoes the escaping of Wine's debugstr_w: \\n, \\t, \\\\, \\" and \\XXXX."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "0": "\0"}
        if re.fullmatch(r"[0-9a-fA-F]{4}", text[i + 1:i + 5] or ""):
            out.append(chr(int(text[i + 1:i + 5], 16)))
            i += 5
        elif nxt in simple:
            out.append(simple[nxt])
            i += 2
        else:
            out.append(nxt)
            i += 2
    units = "".join(out).encode("utf-16-le", "surrogatepass")
    return units.decode("utf-16-le", "surrogatepass")


def wine_failed_start(output):
    """Whether Wine, under load, failed a process start with ERROR_INTERNAL_ERROR
    (1359), the one failure that earns a second run: the start program's box
    (from a +relay trace; the prefix's relay list names MessageBoxW), the
    routine's log line, or the capture tool's own failed start; or Wine's loader
    failing to lay out a new process's address space, which ends that process
    with 1 before its first instruction (about 1 start in 2,000 under load)."""
    text = output.decode("utf-8", "replace") if isinstance(output, bytes) else output
    boxes = re.findall(r"Call user32\.MessageBoxW\((.*)\) ret=", text)
    return (any("Windows error: 1359" in box for box in boxes) or "CreateProcess failed: GLE=1359" in text or
            "cannot start the program (Windows error 1359)" in text or "failed to map the shared user data" in text)


def relay_calls(stderr_bytes, function):
    """Arguments of each relayed call of `function` (module.name), as raw text."""
    text = stderr_bytes.decode("utf-8", "replace")
    return re.findall(r"Call " + re.escape(function) + r"\((.*)\) ret=", text)


def wide_args(raw):
    """The L"..." strings among the arguments of one relayed call, decoded."""
    return [decode_wine_debugstr(m) for m in re.findall(r'L"((?:[^"\\]|\\.)*)"', raw)]


def deep_folder(name, exe_name, length):
    """A fresh folder under the scratch area, nested so that folder\\exe_name
    is exactly `length` characters long in its Windows form."""
    folder = fresh_dir(name)
    while True:
        remaining = length - len(windows_path(os.path.join(folder, exe_name)))
        if remaining == 0:
            return folder
        if remaining < 0:
            raise ValueError(f"{folder} is already longer than {length}")
        leaf = min(100, remaining - 1)
        if leaf < 1:
            os.rename(folder, folder + "x")
            folder += "x"
            continue
        folder = os.path.join(folder, "d" * leaf)
        os.makedirs(folder)


def walk_version_nodes(block, offset=0, depth=0):
    """Yields (depth, key, value bytes, wValueLength, wType, node offset, value
    offset) for every node of a raw VS_VERSIONINFO block."""
    length, value_length, wtype = struct.unpack_from("<HHH", block, offset)
    end = offset + length
    key_end = offset + 6
    while block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[offset + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    size = value_length * 2 if wtype == 1 else value_length
    yield depth, key, block[value_at:value_at + size], value_length, wtype, offset, value_at
    pos = (value_at + size + 3) & ~3
    while pos < end:
        child = struct.unpack_from("<H", block, pos)[0]
        if child == 0:
            break
        yield from walk_version_nodes(block, pos, depth + 1)
        pos = (pos + child + 3) & ~3
