#!/usr/bin/env python3
"""A vendor's web server for the updater tests: serves a folder as
http.server does, over TLS when given a certificate, and answers a request
for NAME the way a file beside it says:

  NAME.redirect  holds a URL: a 302 redirect there
  NAME.drip      holds the body: sent one byte a second, as a server that
                 keeps the connection open without ever finishing would
"""
import argparse
import http.server
import os
import ssl
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        local = self.translate_path(self.path)
        if os.path.isfile(local + ".redirect"):
            with open(local + ".redirect") as target:
                self.send_response(302)
                self.send_header("Location", target.read().strip())
                self.send_header("Content-Length", "0")
                self.end_headers()
            return
        if os.path.isfile(local + ".drip"):
            with open(local + ".drip", "rb") as body:
                content = body.read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(content)))
            self.end_headers()
            try:
                for byte in content:
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(1)
            except (BrokenPipeError, ConnectionResetError):
                pass
            return
        super().do_GET()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("--directory", required=True)
    parser.add_argument("--certificate")
    parser.add_argument("--key")
    options = parser.parse_args()
    os.chdir(options.directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), Handler)
    if options.certificate:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.certificate, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


main()
