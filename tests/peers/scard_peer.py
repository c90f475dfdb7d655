#!/usr/bin/python3
"""The server side of smart-card redirection on the device channel: remote
PC/SC calls as device controls (major 14) to the smart-card device, their
parameters and results in NDR type serialization 1, encoded and decoded
with impacket's NDR (random referents, as a server may send them).

The scenario: establish, list readers (size query, A buffer, W buffer with
a service allocation), status change, connect, a transmit, status,
disconnect, release; then a second session ends while a status change and a
start-event wait are pending and a card is connected: neither is answered,
and a third session works.

usage: scard_peer.py --port-file F --result-file R --device N [--lifetime S]
"""
import argparse
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402
from io_peer import IOServer, Device, ProtocolError, note  # noqa: E402

from impacket.dcerpc.v5.ndr import (NDRCALL, NDRSTRUCT, NDRPOINTER, NDRUniConformantArray,  # noqa: E402
                                    NDRUniFixedArray, NDRUniConformantVaryingArray)
from impacket.dcerpc.v5.dtypes import ULONG, LONG, NULL  # noqa: E402


class BYTES(NDRUniConformantArray):
    item = 'c'


class PBYTES(NDRPOINTER):
    referent = (('Data', BYTES),)


class STRA(NDRUniConformantVaryingArray):
    item = 'c'


class PSTRA(NDRPOINTER):
    referent = (('Data', STRA),)


class ATR36(NDRUniFixedArray):
    def getDataLen(self, data, offset=0):
        return 36


class ATR32(NDRUniFixedArray):
    def getDataLen(self, data, offset=0):
        return 32


class CONTEXT(NDRSTRUCT):
    structure = (('cbContext', ULONG), ('pbContext', PBYTES))


class HANDLE(NDRSTRUCT):
    structure = (('Context', CONTEXT), ('cbHandle', ULONG), ('pbHandle', PBYTES))


class READERSTATEA(NDRSTRUCT):
    structure = (('szReader', PSTRA), ('dwCurrentState', ULONG), ('dwEventState', ULONG),
                 ('cbAtr', ULONG), ('rgbAtr', ATR36))


class READERSTATESA(NDRUniConformantArray):
    item = READERSTATEA


class PREADERSTATESA(NDRPOINTER):
    referent = (('Data', READERSTATESA),)


class STATE_RETURN(NDRSTRUCT):
    structure = (('dwCurrentState', ULONG), ('dwEventState', ULONG), ('cbAtr', ULONG),
                 ('rgbAtr', ATR36))


class STATES_RETURN(NDRUniConformantArray):
    item = STATE_RETURN


class PSTATES_RETURN(NDRPOINTER):
    referent = (('Data', STATES_RETURN),)


class IO_REQUEST(NDRSTRUCT):
    structure = (('dwProtocol', ULONG), ('cbExtraBytes', ULONG), ('pbExtraBytes', PBYTES))


class PIO_REQUEST(NDRPOINTER):
    referent = (('Data', IO_REQUEST),)


# Calls.
class EstablishContext_Call(NDRSTRUCT):
    structure = (('dwScope', ULONG),)


class Context_Call(NDRSTRUCT):
    structure = (('Context', CONTEXT),)


class ListReaders_Call(NDRSTRUCT):
    structure = (('Context', CONTEXT), ('cBytes', ULONG), ('mszGroups', PBYTES),
                 ('fmszReadersIsNULL', LONG), ('cchReaders', ULONG))


class GetStatusChangeA_Call(NDRSTRUCT):
    structure = (('Context', CONTEXT), ('dwTimeOut', ULONG), ('cReaders', ULONG),
                 ('rgReaderStates', PREADERSTATESA))


class ConnectA_Call(NDRSTRUCT):
    structure = (('szReader', PSTRA), ('Context', CONTEXT), ('dwShareMode', ULONG),
                 ('dwPreferredProtocols', ULONG))


class HCardAndDisposition_Call(NDRSTRUCT):
    structure = (('hCard', HANDLE), ('dwDisposition', ULONG))


class Status_Call(NDRSTRUCT):
    structure = (('hCard', HANDLE), ('fmszReaderNamesIsNULL', LONG), ('cchReaderLen', ULONG),
                 ('cbAtrLen', ULONG))


class Transmit_Call(NDRSTRUCT):
    structure = (('hCard', HANDLE), ('ioSendPci', IO_REQUEST), ('cbSendLength', ULONG),
                 ('pbSendBuffer', PBYTES), ('pioRecvPci', PIO_REQUEST),
                 ('fpbRecvBufferIsNULL', LONG), ('cbRecvLength', ULONG))


# Returns.
class Long_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG),)


class EstablishContext_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG), ('Context', CONTEXT))


class ListReaders_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG), ('cBytes', ULONG), ('msz', PBYTES))


class GetStatusChange_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG), ('cReaders', ULONG), ('rgReaderStates', PSTATES_RETURN))


class Connect_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG), ('hCard', HANDLE), ('dwActiveProtocol', ULONG))


class Status_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG), ('cBytes', ULONG), ('mszReaderNames', PBYTES),
                 ('dwState', ULONG), ('dwProtocol', ULONG), ('pbAtr', ATR32), ('cbAtrLen', ULONG))


class Transmit_Return(NDRSTRUCT):
    structure = (('ReturnCode', LONG), ('pioRecvPci', PIO_REQUEST), ('cbRecvLength', ULONG),
                 ('pbRecvBuffer', PBYTES))


def mk(cls, **fields):
    obj = cls()
    for k, v in fields.items():
        obj[k] = v
    return obj


def whole(struct_class):
    """The structure as one serialized object: every pointer's data after
    all of its fixed fields."""
    class Whole(NDRCALL):
        structure = (('s', struct_class),)
    return Whole()


def wrap(call):
    """Type serialization 1: the common header (0xCC filler), the private
    header with the object length unrounded, 0xEF padding after the data."""
    w = whole(type(call))
    w['s'] = call
    data = w.getData()
    return (b"\x01\x10\x08\x00" + b"\xcc" * 4 + struct.pack("<II", len(data), 0) + data
            + b"\xef" * (-len(data) % 8))


class SCard:
    def __init__(self, srv, device, session):
        self.dev = Device(srv, device, session)

    def send(self, fn, call, out_len=2048):
        data = wrap(call) if call is not None else b""
        params = struct.pack("<III", out_len, len(data), 0x00090000 | fn << 2) + bytes(20) + data
        return self.dev.send(0, 14, params)

    def result(self, cid, ret):
        status, body = self.dev.srv.take_reply(cid)
        if status != 0:
            raise ProtocolError("call answered %#x" % status)
        n = struct.unpack_from("<I", body, 8)[0]
        out = body[12:12 + n]
        if out[:4] != b"\x01\x10\x08\x00" or struct.unpack_from("<I", out, 8)[0] + 16 != n:
            raise ProtocolError("reply headers %s" % out[:16].hex())
        w = whole(ret)
        w.fromString(out[16:])
        return w['s']

    def call(self, fn, call, ret, out_len=2048):
        return self.result(self.send(fn, call, out_len), ret)


def context(value):
    c = CONTEXT()
    c['cbContext'] = 4
    c['pbContext'] = value
    return c


def handle(ctx, card):
    h = HANDLE()
    h['Context'] = context(ctx)
    h['cbHandle'] = 4
    h['pbHandle'] = card
    return h


def establish(sc):
    r = sc.call(5, mk(EstablishContext_Call, dwScope=2), EstablishContext_Return)
    return r['ReturnCode'], b"".join(r['Context']['pbContext'])


def status_change(ctx, reader, timeout):
    st = READERSTATEA()
    st['szReader'] = reader + b"\0"
    st['rgbAtr'] = b"\0" * 36
    c = GetStatusChangeA_Call()
    c['Context'] = context(ctx)
    c['dwTimeOut'] = timeout
    c['cReaders'] = 1
    c['rgReaderStates'] = [st]
    return c


def connect(sc, ctx, reader):
    c = ConnectA_Call()
    c['szReader'] = reader + b"\0"
    c['Context'] = context(ctx)
    c['dwShareMode'] = 2
    c['dwPreferredProtocols'] = 3
    r = sc.call(43, c, Connect_Return)
    return r['ReturnCode'], b"".join(r['hCard']['pbHandle'])


def first_session(srv, device, problems):
    sc = SCard(srv, device, 1)
    rc, ctx = establish(sc)
    if rc != 0:
        return problems.append("establish answered %#x" % rc)
    c = mk(ListReaders_Call, Context=context(ctx), cBytes=0, mszGroups=NULL, fmszReadersIsNULL=1,
                         cchReaders=0)
    r = sc.call(10, c, ListReaders_Return)
    if r['cBytes'] != 19:
        problems.append("size query gave %d" % r['cBytes'])
    c['fmszReadersIsNULL'] = 0
    c['cchReaders'] = 19
    r = sc.call(10, c, ListReaders_Return)
    if b"".join(r['msz']) != b"Reader A\0Reader B\0\0":
        problems.append("A list %r" % b"".join(r['msz']))
    c['cchReaders'] = 0xFFFFFFFF
    r = sc.call(11, c, ListReaders_Return)
    if b"".join(r['msz']) != "Reader A\0Reader B\0\0".encode("utf-16le"):
        problems.append("W list %r" % b"".join(r['msz']))
    r = sc.call(40, status_change(ctx, b"Reader A", 0), GetStatusChange_Return)
    if r['ReturnCode'] != 0 or r['rgReaderStates'][0]['cbAtr'] != 11:
        problems.append("status change answered %#x" % r['ReturnCode'])
    rc, card = connect(sc, ctx, b"Reader A")
    if rc != 0:
        return problems.append("connect answered %#x" % rc)
    t = Transmit_Call()
    t['hCard'] = handle(ctx, card)
    t['ioSendPci']['dwProtocol'] = 2
    t['ioSendPci']['cbExtraBytes'] = 0
    t['ioSendPci']["pbExtraBytes"] = NULL
    apdu = bytes([0x00, 0xB0, 0x00, 0x00, 0x00]) + bytes(range(251))  # 256 bytes
    t['cbSendLength'] = len(apdu)
    t['pbSendBuffer'] = apdu
    t["pioRecvPci"] = NULL
    t['fpbRecvBufferIsNULL'] = 0
    t['cbRecvLength'] = 300
    r = sc.call(52, t, Transmit_Return)
    if b"".join(r['pbRecvBuffer']) != apdu[::-1] + b"\x90\x00":
        problems.append("transmit answered %#x" % r['ReturnCode'])
    s = mk(Status_Call, hCard=handle(ctx, card), fmszReaderNamesIsNULL=0, cchReaderLen=64,
                    cbAtrLen=32)
    r = sc.call(50, s, Status_Return)
    if r['ReturnCode'] != 0 or r['cbAtrLen'] != 11 or r['dwProtocol'] != 2:
        problems.append("status answered %#x" % r['ReturnCode'])
    d = mk(HCardAndDisposition_Call, hCard=handle(ctx, card), dwDisposition=1)
    if sc.call(46, d, Long_Return)['ReturnCode'] != 0:
        problems.append("disconnect failed")
    if sc.call(6, mk(Context_Call, Context=context(ctx)), Long_Return)['ReturnCode'] != 0:
        problems.append("release failed")


def scenario(conn, device):
    problems = []
    srv = IOServer(conn)
    srv.handshake()
    srv.session(1)
    first_session(srv, device, problems)
    note("first session done")
    # A session ends under a blocked status change, a start-event wait and
    # a connected card.
    srv.session(2)
    sc = SCard(srv, device, 2)
    rc, ctx = establish(sc)
    rc2, card = connect(sc, ctx, b"Reader A")
    if rc or rc2:
        problems.append("second session: %#x %#x" % (rc, rc2))
    pending = [sc.send(40, status_change(ctx, b"Reader B", 0xFFFFFFFF)), sc.send(56, None)]
    srv.session(2, open_it=False)
    srv.session(3)
    sc = SCard(srv, device, 3)
    rc, _ = establish(sc)
    if rc:
        problems.append("establish after the session end answered %#x" % rc)
    if any(struct.unpack_from("<I", b, 0)[0] in pending for _, _, b in srv.replies):
        problems.append("a call of the ended session was answered")
    srv.session(3, open_it=False)
    return problems


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--result-file", required=True)
    ap.add_argument("--device", type=int, default=1)
    ap.add_argument("--lifetime", type=float, default=120)
    a = ap.parse_args(argv[1:])
    srv = peerlib.listen_local(1)

    def serve(conn):
        conn.settimeout(60)
        try:
            problems = scenario(conn, a.device)
        except (ProtocolError, OSError, struct.error, zlib.error, KeyError, TypeError) as e:
            problems = ["%s: %s" % (type(e).__name__, e)]
        with open(a.result_file, "w") as f:
            f.write("ok\n" if not problems else "\n".join(problems) + "\n")
        conn.close()
        os.unlink(a.port_file)

    peerlib.serve_connections(srv, a.port_file, a.lifetime, serve, threaded=False)


if __name__ == "__main__":
    main(sys.argv)
