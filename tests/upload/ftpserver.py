#!/usr/bin/python3
"""Plain FTP server for the upload tests, on loopback only.

Prints "PORT <n>" once it listens, logs every command it receives (one per line,
the PASS argument masked) and stops by itself after --lifetime seconds.
"""
import argparse
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--user", default="squad")
    p.add_argument("--password", default="secret")
    p.add_argument("--home", default="", help="login directory, below the root")
    p.add_argument("--read-only", action="store_true")
    known_faults = [
        "", "close-in-stor", "stall-pwd", "stall-auth", "no-epsv",
        # keeps 10 bytes of every file and still answers 226
        "keep-part",
        # a PWD reply with a trailing slash; a server that takes names in any case and tells
        # them in capitals
        "pwd-trailing-slash", "case-insensitive",
        # no rename at all; no rename onto an existing name; no SIZE
        "no-rename", "no-rename-over", "no-size",
        # hangs up once the first file has taken its name
        "close-after-rename",
        # never answers QUIT
        "ignore-quit",
        # takes files at 100 kB/s
        "slow-stor"]
    p.add_argument("--fault", default="", help="one or more of the faults, comma-separated")
    p.add_argument("--lifetime", type=float, default=120.0)
    args = p.parse_args()
    faults = set(args.fault.split(","))
    if not faults <= set(known_faults):
        p.error("unknown fault: %s" % ", ".join(sorted(faults - set(known_faults))))

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root,
                        perm="elr" if args.read_only else "elradfmwMT")
    log = open(args.log, "a", buffering=1)

    base_dtp = ThrottledDTPHandler if "slow-stor" in faults else DTPHandler
    ThrottledDTPHandler.read_limit = 100 * 1024

    class CaseInsensitiveFS(AbstractedFS):
        def ftp2fs(self, ftppath):
            return AbstractedFS.ftp2fs(self, ftppath.lower())

    class ClosingDTPHandler(base_dtp):
        # Hangs up the whole session once the first piece of an upload has arrived.
        def handle_read(self):
            base_dtp.handle_read(self)
            if "close-in-stor" in faults and self.receive:
                self.cmd_channel.close()

        handle_read_event = handle_read

    class LoggingHandler(FTPHandler):
        dtp_handler = ClosingDTPHandler
        banner = "troopbook test server ready"

        def on_login(self, username):
            if args.home:
                self.fs.cwd = "/" + args.home

        abstracted_fs = CaseInsensitiveFS if "case-insensitive" in faults else AbstractedFS

        def on_file_received(self, file):
            if "keep-part" in faults:
                with open(file, "r+b") as f:
                    f.truncate(10)

        def ftp_PWD(self, line):
            if "pwd-trailing-slash" in faults and self.fs.cwd != "/":
                self.respond('257 "%s/" is the current directory.' % self.fs.cwd)
            elif "case-insensitive" in faults:
                self.respond('257 "%s" is the current directory.' % self.fs.cwd.upper())
            else:
                FTPHandler.ftp_PWD(self, line)

        def ftp_RNTO(self, path):
            if "no-rename-over" in faults and os.path.exists(path):
                self._rnfr = None
                self.respond("550 Rename onto an existing file refused.")
                return
            FTPHandler.ftp_RNTO(self, path)
            if "close-after-rename" in faults:
                self.close_when_done()

        def pre_process_command(self, line, cmd, arg):
            log.write("%s %s\n" % (cmd, "******" if cmd == "PASS" else arg or ""))
            if ("no-rename" in faults and cmd in ("RNFR", "RNTO")) or (
                    "no-size" in faults and cmd == "SIZE"):
                self.respond("502 Command not implemented.")
                return
            if "ignore-quit" in faults and cmd == "QUIT":
                return
            if "stall-pwd" in faults and cmd == "PWD":
                return  # never answers
            if "stall-auth" in faults and cmd == "AUTH":
                return
            if "no-epsv" in faults and cmd == "EPSV":
                self.respond("500 Command not understood.")
                return
            FTPHandler.pre_process_command(self, line, cmd, arg)

    LoggingHandler.authorizer = authorizer
    LoggingHandler.passive_ports = None
    server = FTPServer(("127.0.0.1", 0), LoggingHandler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    # Stops by itself even if the test that started it never does.
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    server.serve_forever(timeout=0.2, handle_exit=False)


if __name__ == "__main__":
    sys.exit(main())
