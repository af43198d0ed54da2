"""A port on 127.0.0.1 where a connection is never made: the listener's queue is full, so the
kernel drops every further SYN and a client waits for its connect to time out. Prints the port,
then holds it for up to 60 s."""
import socket
import time

listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(0)
port = listener.getsockname()[1]
fillers = []
for _ in range(3):
    filler = socket.socket()
    filler.setblocking(False)
    try:
        filler.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    fillers.append(filler)
time.sleep(0.5)
print(port, flush=True)
time.sleep(60)
