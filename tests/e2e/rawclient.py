"""Raw HTTP clients for the end-to-end tests: exact bytes on a loopback socket.

Used by the test_serve_*.sh scripts as `python3 rawclient.py COMMAND ...`, or
imported. Every wait is bounded; nothing here talks to any address but
127.0.0.1.

  exchange PORT [--shutdown] [--timeout S] [--pause S]
      Sends standard input, optionally ends the sending side (shutdown
      SHUT_WR), reads until the server closes (or the timeout), and prints
      the answer followed by a line "ELAPSED <seconds>" (and a line "RESET"
      before it when the server reset the connection).
"""
import socket
import sys
import time


def connect(port, timeout=30.0):
    s = socket.create_connection(("127.0.0.1", int(port)), timeout=timeout)
    return s


def read_all(s, timeout):
    """Reads until EOF or `timeout` seconds; returns (bytes, reset?)."""
    out = b""
    end = time.time() + timeout
    reset = False
    while time.time() < end:
        s.settimeout(max(0.01, end - time.time()))
        try:
            b = s.recv(65536)
        except socket.timeout:
            break
        except ConnectionResetError:
            reset = True
            break
        if not b:
            break
        out += b
    return out, reset


def exchange(port, data, shutdown=False, timeout=10.0):
    s = connect(port)
    start = time.time()
    try:
        s.sendall(data)
    except (BrokenPipeError, ConnectionResetError):
        pass
    if shutdown:
        s.shutdown(socket.SHUT_WR)
    out, reset = read_all(s, timeout)
    s.close()
    return out, reset, time.time() - start


def read_response(s, timeout=10.0):
    """Reads one answer framed by its Content-Length from a kept-alive
    connection; returns (head text, body bytes), or (None, bytes so far)."""
    data = b""
    end = time.time() + timeout
    while b"\r\n\r\n" not in data and time.time() < end:
        s.settimeout(max(0.01, end - time.time()))
        b = s.recv(65536)
        if not b:
            return None, data
        data += b
    head, _, body = data.partition(b"\r\n\r\n")
    text = head.decode("latin-1")
    length = 0
    for line in text.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            length = int(value.strip())
    while len(body) < length and time.time() < end:
        s.settimeout(max(0.01, end - time.time()))
        b = s.recv(min(65536, length - len(body)))
        if not b:
            return None, body
        body += b
    return text, body


def multipart(boundary, fields=(), files=(), files_first=False):
    """A multipart/form-data body: fields (name, value), files (name, filename, bytes);
    the fields come first unless files_first."""
    b = boundary.encode()
    field_parts, file_parts = [], []
    for name, value in fields:
        field_parts.append(b"--" + b + b"\r\nContent-Disposition: form-data; name=\"" + name.encode() + b"\"\r\n\r\n")
        field_parts.append(value.encode() + b"\r\n")
    for name, filename, data in files:
        file_parts.append(b"--" + b + b"\r\nContent-Disposition: form-data; name=\"" + name.encode())
        file_parts.append(b"\"; filename=\"" + filename.encode() + b"\"\r\nContent-Type: application/octet-stream\r\n\r\n")
        file_parts.append(data + b"\r\n")
    out = file_parts + field_parts if files_first else field_parts + file_parts
    out.append(b"--" + b + b"--\r\n")
    return b"".join(out)


def post_head(path, length, content_type="application/octet-stream", extra=""):
    return ("POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: %s\r\nContent-Length: %d\r\n%s\r\n"
            % (path, content_type, length, extra)).encode()


def main(argv):
    if len(argv) >= 2 and argv[0] == "exchange":
        port = argv[1]
        shutdown = "--shutdown" in argv
        timeout = 10.0
        if "--timeout" in argv:
            timeout = float(argv[argv.index("--timeout") + 1])
        data = sys.stdin.buffer.read()
        out, reset, elapsed = exchange(port, data, shutdown, timeout)
        sys.stdout.buffer.write(out)
        sys.stdout.write("\n%sELAPSED %.2f\n" % ("RESET\n" if reset else "", elapsed))
        return 0
    sys.stderr.write("usage: rawclient.py exchange PORT [--shutdown] [--timeout S] < request\n")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
