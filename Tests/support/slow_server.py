"""A server on a slow link: takes one upload into a small receive buffer at about BYTES_PER_SECOND
(default 128 KB/s), then answers as the transcription server does. Prints its port first.
  slow_server.py [BYTES_PER_SECOND]"""
import socket
import sys
import time

rate = int(sys.argv[1]) if len(sys.argv) > 1 else 128 * 1024
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
listener.bind(("127.0.0.1", 0))
listener.listen()
print(listener.getsockname()[1], flush=True)
connection = listener.accept()[0]
data = b""
while b"\r\n\r\n" not in data:
    data += connection.recv(4096)
head, body = data.split(b"\r\n\r\n", 1)
length = next(int(line.split(b":")[1]) for line in head.split(b"\r\n")
              if line.lower().startswith(b"content-length:"))
chunk = rate // 16
while len(body) < length:
    body += connection.recv(chunk)
    time.sleep(1 / 16)
reply = b'{"meeting":{"id":"slow"}}'
connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(reply) + reply)
connection.close()
