#!/usr/bin/python3
"""Web server for the published-squad tests, on loopback only.

Serves --root over http and, given --cert and --key, over https as well. Prints "PORT <n>" and
"TLSPORT <n>" once it listens, logs each request line, and stops by itself after --lifetime
seconds.

A folder below the root may hold a file ".staging" whose lines say how to serve one of its
files, instead of plainly with Content-Length and a type by extension:
    <name> redirect <target>   301 to <target>
    <name> chunked             chunked transfer, no Content-Length
    <name> type <content-type> that Content-Type
    <name> short               a Content-Length 100 bytes larger than the body, then hang up
    <name> stall               accept the request and never answer
    <name> bigheader           a response header of 2 MB before the body
"""
import argparse
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--cert", default="")
    p.add_argument("--key", default="")
    p.add_argument("--lifetime", type=float, default=120.0)
    args = p.parse_args()
    log = open(args.log, "a", buffering=1)
    lock = threading.Lock()

    def staging(folder, name):
        try:
            with open(os.path.join(folder, ".staging")) as f:
                for line in f:
                    parts = line.split()
                    if len(parts) >= 2 and parts[0] == name:
                        return parts[1], " ".join(parts[2:])
        except OSError:
            pass
        return "", ""

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, format, *a):
            pass

        def do_GET(self):
            with lock:
                log.write("%s %s\n" % (self.server.scheme, self.path))
            path = unquote(urlsplit(self.path).path)
            local = os.path.normpath(os.path.join(args.root, path.lstrip("/")))
            if not local.startswith(os.path.abspath(args.root) + os.sep):
                return self.send_error(403)
            folder, name = os.path.split(local)
            how, arg = staging(folder, name)
            if how == "stall":
                time.sleep(args.lifetime)
                return
            if how == "redirect":
                self.send_response(301)
                self.send_header("Location", arg)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if not os.path.isfile(local) or name == ".staging":
                return self.send_error(404, "Not Found")
            with open(local, "rb") as f:
                body = f.read()
            if how == "type":
                content_type = arg
            elif name.endswith(".xml") or name.endswith(".xsl"):
                content_type = "application/xml"
            elif name.endswith(".dtd"):
                content_type = "application/xml-dtd"
            else:
                content_type = "application/octet-stream"
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            if how == "bigheader":
                self.send_header("X-Padding", "p" * (2 * 1024 * 1024))
            if how == "chunked":
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                half = len(body) // 2
                for piece in (body[:half], body[half:]):
                    if piece:
                        self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                self.wfile.write(b"0\r\n\r\n")
                return
            extra = 100 if how == "short" else 0
            self.send_header("Content-Length", str(len(body) + extra))
            self.end_headers()
            self.wfile.write(body)
            if how == "short":
                self.close_connection = True

    def serve(scheme, context):
        server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads = True
        server.scheme = scheme
        if context:
            server.socket = context.wrap_socket(server.socket, server_side=True)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        return server.server_address[1]

    print("PORT %d" % serve("http", None), flush=True)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        print("TLSPORT %d" % serve("https", context), flush=True)
    time.sleep(args.lifetime)


if __name__ == "__main__":
    main()
