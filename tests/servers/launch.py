#!/usr/bin/env python3
"""Starts and stops the loopback test servers in a folder of their own.

  launch.py start DIR [--lifetime SECONDS]   makes a self-signed certificate with openssl, starts the servers
                                             in the background and returns once DIR/ports.txt lists their ports
  launch.py stop DIR                         ends the servers that DIR/ports.txt names
The servers end by themselves after their lifetime even when nobody stops them.
"""
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def read_pid(folder):
    try:
        with open(os.path.join(folder, "ports.txt")) as f:
            for line in f:
                name, _, value = line.strip().partition("=")
                if name == "pid":
                    return int(value)
    except (OSError, ValueError):
        pass
    return None


def alive(pid):
    try:
        os.kill(pid, 0)
    except OSError:
        return False
    try:
        # A zombie child of ours counts as ended.
        done, _ = os.waitpid(pid, os.WNOHANG)
        return done == 0
    except ChildProcessError:
        return True


def stop(folder):
    pid = read_pid(folder)
    if pid and alive(pid):
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            if not alive(pid):
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(folder, "ports.txt"))
    except OSError:
        pass
    return 0


def start(folder, lifetime):
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=localhost"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    secret = os.path.join(folder, "secret.txt")
    with open(secret, "w") as f:
        f.write("TOP-SECRET-FILE-CONTENT")
    ports_file = os.path.join(folder, "ports.txt")
    log = open(os.path.join(folder, "servers.log"), "w")
    subprocess.Popen([sys.executable, os.path.join(HERE, "testservers.py"), "--ports-file", ports_file,
                      "--cert", cert, "--key", key, "--secret-url", "file://" + secret,
                      "--lifetime", str(lifetime)],
                     stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    for _ in range(200):
        if os.path.exists(ports_file):
            with open(ports_file) as f:
                sys.stdout.write(f.read())
            return 0
        time.sleep(0.1)
    sys.stderr.write("the test servers did not start; see %s\n" % log.name)
    return 1


def main(argv):
    if len(argv) < 3 or argv[1] not in ("start", "stop"):
        sys.stderr.write(__doc__)
        return 2
    folder = os.path.abspath(argv[2])
    if argv[1] == "stop":
        return stop(folder)
    lifetime = 1800
    if "--lifetime" in argv:
        lifetime = float(argv[argv.index("--lifetime") + 1])
    return start(folder, lifetime)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
