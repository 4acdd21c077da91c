#!/usr/bin/env python3
"""A walk through what KestrelwoodStart.exe and the self-update routine do,
run for real under Wine. Each step prints one line saying what it shows."""
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kestrelwood_wine as kt  # noqa: E402

DEMO = os.path.join(kt.BUILD, "demo")
# The demo runs the installed package, as a studio ships it.
PACKAGE = os.path.join(DEMO, "package")


def step(text):
    print()
    print("-- " + text)


def show_record(launcher_path):
    record = kt.read_record(launcher_path)
    if record is None:
        print("   (no launcher started)")
        return
    print("   started launcher:", record["self"])
    print("   its command line:", record["command_line"])
    for i, arg in enumerate(record["args"][1:], 1):
        print(f"   argument {i}: [{arg}]")
    print("   its current folder:", record["cwd"])


def run_start(folder, args=(), env_extra=None):
    exe = os.path.join(folder, "KestrelwoodStart.exe")
    code, _, err = kt.run_wine(exe, list(args), cwd=folder, env_extra=env_extra)
    return code, err


def install_package():
    subprocess.run(["cmake", "--install", kt.BUILD, "--prefix", PACKAGE], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(PACKAGE, "VERSION")) as f:
        version = f.read().strip()
    print(f"   installed package {version} in {PACKAGE}:")
    with open(os.path.join(PACKAGE, "SHA256SUMS")) as f:
        for line in f:
            digest, name = line.split()
            if name.startswith("bin/"):
                print(f"   {name}  sha256 {digest[:16]}...")


def show_message_boxes(err):
    """Each message box that a +relay trace shows, line by line."""
    for raw in kt.relay_calls(err, "user32.MessageBoxW"):
        text, caption = kt.wide_args(raw)[:2]
        style = raw.split(",")[-1]
        print(f"   message box, caption \"{caption}\", style 0x{int(style, 16):02x}:")
        for line in text.split("\n"):
            print("   |", line)


def place_start_program(folder):
    shutil.copyfile(os.path.join(PACKAGE, "bin", "KestrelwoodStart.exe"), os.path.join(folder, "KestrelwoodStart.exe"))


def lay_out_game(folder):
    os.makedirs(folder)
    place_start_program(folder)
    kt.place(folder, "reference_launcher_1_0.exe", "KestrelwoodLauncher-1.0.exe")
    kt.place(folder, "reference_launcher_1_2.exe", "KestrelwoodLauncher-1.2.exe")
    kt.place(folder, "reference_launcher_other_family.exe", "OtherGameLauncher.exe")
    with open(os.path.join(folder, "notes.exe"), "w") as f:
        f.write("this file is not a program\n")


def screenshot_message_box(folder, png):
    """Shows the real message box on a virtual display and saves a picture.
    Bare Xvfb draws no window frames, so the program runs on a Wine virtual
    desktop, which draws the box's title bar with its caption."""
    if shutil.which("Xvfb") is None or shutil.which("import") is None:
        return False
    display = ":%d" % (90 + os.getpid() % 9)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "640x400x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1.0)
        env = dict(os.environ, KES_DISPLAY=display)
        box = subprocess.Popen([kt.WINE_RUN, "explorer", "/desktop=Kestrelwood,640x400",
                                kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe"))], cwd=folder, env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(8.0)  # Wine brings up its display driver on first use
        shot = subprocess.run(["import", "-display", display, "-window", "root", png],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([kt.WINE_RUN, "taskkill", "/f", "/im", "KestrelwoodStart.exe"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            box.wait(timeout=30)
        except subprocess.TimeoutExpired:
            # The virtual desktop can outlive the program; end this prefix's processes.
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.path.dirname(kt.DRIVE_C)))
            box.wait(timeout=30)
        return shot.returncode == 0 and os.path.exists(png)
    finally:
        xvfb.terminate()
        xvfb.wait()


def print_lines(out):
    for line in out.decode("utf-8", "replace").replace("\r", "").splitlines():
        print("  ", line)


def inspect(folder):
    code, out, _ = kt.run_wine(os.path.join(PACKAGE, "bin", "kes-inspect.exe"), [kt.windows_path(folder)])
    print_lines(out)


def update_cycle(game):
    capture = os.path.join(PACKAGE, "bin", "kes-debug-capture.exe")

    def launcher(version):
        return os.path.join(game, f"KestrelwoodLauncher-{version}.exe")

    downloads = os.path.join(DEMO, "Downloads")
    os.makedirs(downloads)
    kt.place(downloads, "reference_launcher_1_3.exe", "KestrelwoodLauncher-1.3.exe")

    step("5. A launcher's update: the running 1.2.0.0 lands the downloaded 1.3.0.0, while players start "
         "the game again and again (kes-inspect first, with the identity a shortcut takes)")
    inspect(game)
    starts = []
    done = threading.Event()

    def keep_starting():
        while not done.is_set():
            code, err = run_start(game, env_extra={"WINEDEBUG": "+relay"})
            boxes = kt.relay_calls(err, "user32.MessageBoxW")
            starts.append((code, len(boxes), sorted(kt.started_launchers(game))))
            kt.clear_records(game)

    players = threading.Thread(target=keep_starting)
    players.start()
    download = kt.windows_path(os.path.join(downloads, "KestrelwoodLauncher-1.3.exe"))
    code, out, _ = kt.run_wine(capture, ["--children", kt.windows_path(launcher("1.2")), "--land", download,
                                         "KestrelwoodLauncher-1.3.exe"], cwd=game)
    time.sleep(1.0)
    done.set()
    players.join()
    print_lines(out)
    print(f"   meanwhile {len(starts)} starts of KestrelwoodStart.exe: exit codes {sorted({s[0] for s in starts})}, "
          f"{sum(s[1] for s in starts)} message boxes")
    kt.clear_records(game)

    step("6. The next start of the old 1.0.0.0 hands over to 1.3.0.0, and the player's next start of the game "
         "starts 1.3.0.0, which joins the start program's identity and prunes, keeping 1.3.0.0 and 1.2.0.0")
    code, out, _ = kt.run_wine(capture, ["--children", kt.windows_path(launcher("1.0"))], cwd=game)
    print_lines(out)
    code, out, _ = kt.run_wine(capture, ["--children", kt.windows_path(os.path.join(game, "KestrelwoodStart.exe")),
                                         "--join-identity", "--prune", "2"], cwd=game)
    print_lines(out)
    kt.clear_records(game)
    inspect(game)


def main():
    shutil.rmtree(DEMO, ignore_errors=True)
    os.makedirs(DEMO)
    step("0. The package as a studio ships it: cmake --install, with its version and checksums")
    install_package()
    game = os.path.join(DEMO, "Kestrelwood Game")
    lay_out_game(game)

    step("1. A game folder: the start program, launchers 1.0.0.0 and 1.2.0.0 of the family, "
         "a launcher of another family and a file that is not a program")
    for name in sorted(os.listdir(game)):
        print("  ", name)

    step("2. The player starts KestrelwoodStart.exe with three arguments; it picks the newest "
         "launcher of its family and forwards every argument unchanged")
    args = ["--windowed", "C:\\My Saves\\slot 1", 'say "hi"']
    print("   arguments given:", " ".join(f"[{a}]" for a in args))
    code, _ = run_start(game, args)
    print("   KestrelwoodStart.exe exit code:", code)
    show_record(os.path.join(game, "KestrelwoodLauncher-1.2.exe"))
    kt.clear_records(game)

    step("3. The old launcher 1.0.0.0 is started directly; its self-update routine hands over "
         "to 1.2.0.0 (log lines as a debug viewer shows them)")
    capture = os.path.join(PACKAGE, "bin", "kes-debug-capture.exe")
    code, out, _ = kt.run_wine(capture, ["--children", kt.windows_path(os.path.join(game,
                               "KestrelwoodLauncher-1.0.exe")), "-x"], cwd=game)
    for line in out.decode("utf-8", "replace").replace("\r", "").splitlines():
        print("  ", line)
    print("   exit code:", code)

    step("4. Support asks kes-inspect (from the package) what the start program does in the game folder, and why")
    code, out, _ = kt.run_wine(os.path.join(PACKAGE, "bin", "kes-inspect.exe"), [kt.windows_path(game)])
    for line in out.decode("utf-8", "replace").replace("\r", "").splitlines():
        print("  ", line)
    print("   exit code:", code)

    update_cycle(game)

    step("7. The start program in a folder without launchers shows a warning and exits with 1")
    empty = os.path.join(DEMO, "Empty Folder")
    os.makedirs(empty)
    place_start_program(empty)
    code, err = run_start(empty, env_extra={"WINEDEBUG": "+relay"})
    show_message_boxes(err)
    print("   exit code:", code)
    png = os.path.join(DEMO, "message-box.png")
    if screenshot_message_box(empty, png):
        print("   screenshot of the real message box:", png)
    else:
        print("   (no virtual display available: no screenshot)")

    step("8. The same for a player whose Windows speaks German (LANG=de_DE.UTF-8), with the start program "
         "built with KES_START_LANGUAGES")
    german = os.path.join(DEMO, "Empty Folder (de)")
    os.makedirs(german)
    shutil.copyfile(os.path.join(kt.BIN, "KestrelwoodStart_languages.exe"), os.path.join(german, "KestrelwoodStart.exe"))
    code, err = run_start(german, env_extra=dict(kt.locale_env("de_DE.UTF-8"), WINEDEBUG="+relay"))
    show_message_boxes(err)
    print("   exit code:", code)
    print()
    print("Demo output is in", DEMO)


if __name__ == "__main__":
    main()
