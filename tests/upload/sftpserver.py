#!/usr/bin/python3
"""SFTP server for the upload tests, on loopback only, by asyncssh.

Serves the directory --root as "/" to one user with a password of its own. The host key
is kept in --key-file (made on first use), so servers started on the same file present
the same key. Prints "KEY <type> <base64>" and "PORT <n>" once it listens, logs the
file operations it receives (one per line) and stops by itself after --lifetime seconds.
"""
import argparse
import asyncio
import os
import posixpath
import sys
import threading
import time
import warnings

warnings.simplefilter("ignore")  # deprecated ciphers the library still registers

import asyncssh  # noqa: E402
from asyncssh import sftp as sftp_module  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--key-file", required=True)
    p.add_argument("--user", default="squad")
    p.add_argument("--password", default="secret")
    p.add_argument("--home", default="", help="login directory, below the root")
    p.add_argument("--authorized-keys", default="",
                   help="take the public keys in this file too (OpenSSH's format)")
    for switch, meaning in [
            ("--keyboard-interactive", "take the password at a keyboard-interactive prompt only"),
            ("--keys-only", "take no password, only a key"),
            ("--slow-writes", "answer each write into a file a twentieth of a second late"),
            ("--no-posix-rename", "offer only the plain rename, which never replaces a file"),
            ("--refuse-posix-rename",
             "offer posix-rename@openssh.com but answer it as unsupported")]:
        p.add_argument(switch, action="store_true", help=meaning)
    p.add_argument("--fault", default="",
                   choices=["", "drop-in-write", "drop-in-rename", "stall-in-write"],
                   help="once: drop the connection at the first write into a file or at the "
                   "first rename, or never answer the first write")
    p.add_argument("--misbehave", default="",
                   choices=["", "drop-writes", "fail-posix-rename",
                            "many-prompts", "huge-prompt", "many-rounds", "visible-prompt",
                            "silent-goodbye"],
                   help="always: acknowledge writes but keep nothing; answer posix-rename "
                   "with a failure; ask 1,000 questions, one of 1 MB, one password prompt "
                   "after another, or a prompt shown as typed; answer nothing more once four "
                   "files have their names")
    p.add_argument("--lifetime", type=float, default=120.0)
    args = p.parse_args()

    if not os.path.exists(args.key_file):
        asyncssh.generate_private_key("ssh-ed25519").write_private_key(args.key_file)
    host_key = asyncssh.read_private_key(args.key_file)
    log = open(args.log, "a", buffering=1)
    fault = [args.fault]  # spent once it has struck
    renames = [0]

    def renamed():
        renames[0] += 1
        if args.misbehave == "silent-goodbye" and renames[0] == 4:
            # Once the reply is out, the whole server stops answering, the goodbye included.
            def fall_silent():
                log.write("SILENT\n")
                time.sleep(60)
            asyncio.get_event_loop().call_soon(fall_silent)

    def strikes(name):
        if fault[0] != name:
            return False
        fault[0] = ""
        log.write("FAULT %s\n" % name)
        return True

    if args.no_posix_rename:
        handler = sftp_module.SFTPServerHandler
        handler._extensions = [e for e in handler._extensions
                               if e[0] != b"posix-rename@openssh.com"]

    class Server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return not args.keyboard_interactive and not args.keys_only

        def public_key_auth_supported(self):
            return bool(args.authorized_keys)

        def validate_public_key(self, username, key):
            known = [k.public_data for k in asyncssh.read_public_key_list(args.authorized_keys)]
            ok = username == args.user and key.public_data in known
            log.write("PUBLICKEY %s %s\n" % (username, "ok" if ok else "refused"))
            return ok

        def validate_password(self, username, password):
            ok = username == args.user and password == args.password
            log.write("LOGIN %s %s\n" % (username, "ok" if ok else "refused"))
            return ok

        def kbdint_auth_supported(self):
            return args.keyboard_interactive and not args.keys_only

        def get_kbdint_challenge(self, username, lang, submethods):
            log.write("CHALLENGE\n")
            if args.misbehave == "many-prompts":
                return "", "", "", [("Question %d: " % i, False) for i in range(1000)]
            if args.misbehave == "huge-prompt":
                return "", "", "", [("x" * (1 << 20), False)]
            if args.misbehave == "visible-prompt":
                return "", "", "", [("Your clan name: ", True), ("Password: ", False)]
            return "", "", "", [("Password: ", False)]

        def validate_kbdint_response(self, username, responses):
            if args.misbehave == "many-rounds":
                log.write("ANSWERED\n")
                return "", "", "", [("Password: ", False)]
            return len(responses) == 1 and self.validate_password(username, responses[0])

    class Sftp(asyncssh.SFTPServer):
        def __init__(self, chan):
            self._conn = chan.get_connection()
            super().__init__(chan, chroot=args.root.encode())

        def map_path(self, path):
            if args.home and not path.startswith(b"/"):
                path = posixpath.join(b"/" + args.home.encode(), path)
            return super().map_path(path)

        def readlink(self, path):
            # As OpenSSH does: a relative link is told as it stands (asyncssh refuses those).
            target = os.readlink(self.map_path(path))
            return target if not target.startswith(b"/") else self.reverse_map_path(target)

        def open(self, path, pflags, attrs):
            log.write("OPEN %s\n" % path.decode())
            return super().open(path, pflags, attrs)

        async def write(self, file_obj, offset, data):
            if args.misbehave == "drop-writes":
                return None
            if strikes("drop-in-write"):
                self._conn.abort()
                return None
            if strikes("stall-in-write"):
                await asyncio.get_event_loop().create_future()
            if args.slow_writes:
                await asyncio.sleep(0.05)
            return super().write(file_obj, offset, data)

        def rename(self, oldpath, newpath):
            log.write("RENAME %s %s\n" % (oldpath.decode(), newpath.decode()))
            if strikes("drop-in-rename"):
                self._conn.abort()
                return None
            renamed()
            return super().rename(oldpath, newpath)

        def posix_rename(self, oldpath, newpath):
            log.write("POSIX-RENAME %s %s\n" % (oldpath.decode(), newpath.decode()))
            if strikes("drop-in-rename"):
                self._conn.abort()
                return None
            if args.refuse_posix_rename:
                raise asyncssh.SFTPOpUnsupported("not on this file system")
            if args.misbehave == "fail-posix-rename":
                raise asyncssh.SFTPFailure("disk trouble")
            renamed()
            return super().posix_rename(oldpath, newpath)

        def remove(self, path):
            log.write("REMOVE %s\n" % path.decode())
            return super().remove(path)

    async def start():
        server = await asyncssh.create_server(
            Server, "127.0.0.1", 0, server_host_keys=[host_key],
            sftp_factory=Sftp, allow_scp=False)
        port = server.sockets[0].getsockname()[1]
        public = host_key.export_public_key("openssh").decode().split()
        print("KEY %s %s" % (public[0], public[1]), flush=True)
        print("PORT %d" % port, flush=True)

    # Stops by itself even if the test that started it never does.
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    loop = asyncio.new_event_loop()
    loop.run_until_complete(start())
    loop.run_forever()


if __name__ == "__main__":
    sys.exit(main())
