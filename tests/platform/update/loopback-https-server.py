"""Serves a folder over HTTPS on 127.0.0.1 for the updater's tests.

Arguments: the folder, the certificate and its key. Prints the port once it listens, then serves until its
standard input closes. Each request's path is appended to requests.log in the folder.
"""
import http.server
import os
import ssl
import sys
import threading

root, certificate, key = sys.argv[1:4]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *arguments, **keywords):
        super().__init__(*arguments, directory=root, **keywords)

    def do_GET(self):
        with open(os.path.join(root, "requests.log"), "a") as log:
            log.write(self.path + "\n")
        super().do_GET()

    def log_message(self, *arguments):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
print(server.server_address[1], flush=True)
sys.stdin.read()
server.shutdown()
