"""What the scripted peers share: a loopback listener whose port is published
atomically in a file, the accept loop that runs until the test deletes that
file or the lifetime runs out, and exact reads."""

import os
import socket
import threading
import time


def write_whole(path, text):
    """Writes the file so that a reader that waits for it to exist never
    sees it partial."""
    tmp = path + ".new"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def publish_port(port_file, port):
    write_whole(port_file, "%d\n" % port)


def listen_local(backlog, rcvbuf=None):
    """A listener on an ephemeral loopback port."""
    srv = socket.socket()
    if rcvbuf:
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    srv.bind(("127.0.0.1", 0))
    srv.listen(backlog)
    return srv


def listen_published(port_file, backlog, lifetime, rcvbuf=None):
    """A loopback listener whose accepts time out with the lifetime, its port
    published."""
    srv = listen_local(backlog, rcvbuf)
    srv.settimeout(lifetime)
    publish_port(port_file, srv.getsockname()[1])
    return srv


def running(port_file, end_at):
    """The peer keeps serving while its port file exists and time is left."""
    return time.time() < end_at and os.path.exists(port_file)


def serve_connections(srv, port_file, lifetime, handle, threaded=True, wrap=None):
    """Publishes srv's port, then accepts until the port file goes or the
    lifetime runs out. Each connection goes to handle(conn), on its own
    thread or in turn; wrap(conn) may replace it first (None drops it)."""
    srv.settimeout(0.1)
    publish_port(port_file, srv.getsockname()[1])
    end_at = time.time() + lifetime
    while running(port_file, end_at):
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        conn.settimeout(None)
        if wrap:
            conn = wrap(conn)
            if conn is None:
                continue
        if threaded:
            threading.Thread(target=handle, args=(conn,), daemon=True).start()
        else:
            handle(conn)


def read_exact(conn, n):
    """Exactly n bytes, or None when the connection ends first."""
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data
