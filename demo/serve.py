#!/usr/bin/python3
"""The sample site on loopback: the files of demo/site, plus /slow.html, a page that never finishes
loading. Prints the chosen port on its first line, then serves until it is killed."""
import http.server
import os
import socketserver
import sys
import time

SITE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site")


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=SITE, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/slow.html"):
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.end_headers()
            self.wfile.write("<!DOCTYPE html><html><head><meta charset='utf-8'>"
                             "<title>慢页面</title></head><body style='margin:0;background:#fff8c5'>"
                             "<h1 style='margin:40px'>This page never finishes loading.</h1>"
                             .encode("utf-8"))
            self.wfile.flush()
            try:
                for _ in range(600):  # ten minutes at most, then the connection closes
                    time.sleep(1)
                    self.wfile.write(b" ")
                    self.wfile.flush()
            except (BrokenPipeError, ConnectionResetError):
                pass
            return
        super().do_GET()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", int(sys.argv[1]) if len(sys.argv) > 1 else 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
