#!/usr/bin/python3
"""The server side of smart-card redirection on the device channel: remote
PC/SC calls as device controls (major 14) to the smart-card device, their
parameters and results in NDR type serialization 1, encoded and decoded
with impacket's NDR (random referents, as a server may send them). At
level 1 (the client's ns1:doSCard) a request is a completion id and the
control's parameters, always for device 0; at level 2 it has the full
device-request header.

The client's PC/SC service is the test stand-in, driven through a folder
(--control): the file "insert" inserts a card into waiting status changes,
"started" starts the service and "stopped" stops it, and "log" lists the calls the service got,
with their arguments.

The scenario: establish, list readers (size query, A and W buffers, a
service allocation), a status change that waits until a card is inserted,
connect, SELECT and a 256-byte READ BINARY (its reply deflated), status,
disconnect, release; then every other call once; then a session ends while
a status change and a start-event wait are pending and a card is connected:
neither is answered, the card is left and the context cancelled and
released, and the next session works. With --minimal the service lacks its
optional entry points: those calls answer SCARD_F_INTERNAL_ERROR and the
start-event wait answers at once.

usage: scard_peer.py --port-file F --result-file R --control DIR
                     [--level 1|2] [--device N] [--minimal] [--lifetime S]
       scard_peer.py --write-corpus DIR   (the calls as fuzzer inputs)
"""
import argparse
import os
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402
from io_peer import IOServer, Device, ProtocolError, note  # noqa: E402

from impacket.dcerpc.v5.ndr import (NDRCALL, NDRSTRUCT, NDRPOINTER, NDRUniConformantArray,  # noqa: E402
                                    NDRUniFixedArray, NDRUniConformantVaryingArray)
from impacket.dcerpc.v5.dtypes import ULONG, LONG, NULL, LPWSTR  # noqa: E402


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


class READERSTATEW(NDRSTRUCT):
    structure = (('szReader', LPWSTR), ('dwCurrentState', ULONG), ('dwEventState', ULONG),
                 ('cbAtr', ULONG), ('rgbAtr', ATR36))


class READERSTATESW(NDRUniConformantArray):
    item = READERSTATEW


class PREADERSTATESW(NDRPOINTER):
    referent = (('Data', READERSTATESW),)


class ATRMASK(NDRSTRUCT):
    structure = (('cbAtr', ULONG), ('rgbAtr', ATR36), ('rgbMask', ATR36))


class ATRMASKS(NDRUniConformantArray):
    item = ATRMASK


class PATRMASKS(NDRPOINTER):
    referent = (('Data', ATRMASKS),)


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
def call_struct(*fields):
    class Call(NDRSTRUCT):
        structure = fields
    return Call


Context_Call = call_struct(('Context', CONTEXT))
EstablishContext_Call = call_struct(('dwScope', ULONG))
ListReaderGroups_Call = call_struct(('Context', CONTEXT), ('fmszGroupsIsNULL', LONG),
                                    ('cchGroups', ULONG))
ListReaders_Call = call_struct(('Context', CONTEXT), ('cBytes', ULONG), ('mszGroups', PBYTES),
                               ('fmszReadersIsNULL', LONG), ('cchReaders', ULONG))
ContextAndStringA_Call = call_struct(('Context', CONTEXT), ('sz', PSTRA))
ContextAndStringW_Call = call_struct(('Context', CONTEXT), ('sz', LPWSTR))
ContextAndTwoStringA_Call = call_struct(('Context', CONTEXT), ('sz1', PSTRA), ('sz2', PSTRA))
ContextAndTwoStringW_Call = call_struct(('Context', CONTEXT), ('sz1', LPWSTR), ('sz2', LPWSTR))
LocateCardsA_Call = call_struct(('Context', CONTEXT), ('cBytes', ULONG), ('mszCards', PBYTES),
                                ('cReaders', ULONG), ('rgReaderStates', PREADERSTATESA))
LocateCardsW_Call = call_struct(('Context', CONTEXT), ('cBytes', ULONG), ('mszCards', PBYTES),
                                ('cReaders', ULONG), ('rgReaderStates', PREADERSTATESW))
LocateCardsByATRA_Call = call_struct(('Context', CONTEXT), ('cAtrs', ULONG),
                                     ('rgAtrMasks', PATRMASKS), ('cReaders', ULONG),
                                     ('rgReaderStates', PREADERSTATESA))
LocateCardsByATRW_Call = call_struct(('Context', CONTEXT), ('cAtrs', ULONG),
                                     ('rgAtrMasks', PATRMASKS), ('cReaders', ULONG),
                                     ('rgReaderStates', PREADERSTATESW))
GetStatusChangeA_Call = call_struct(('Context', CONTEXT), ('dwTimeOut', ULONG),
                                    ('cReaders', ULONG), ('rgReaderStates', PREADERSTATESA))
GetStatusChangeW_Call = call_struct(('Context', CONTEXT), ('dwTimeOut', ULONG),
                                    ('cReaders', ULONG), ('rgReaderStates', PREADERSTATESW))
ConnectA_Call = call_struct(('szReader', PSTRA), ('Context', CONTEXT), ('dwShareMode', ULONG),
                            ('dwPreferredProtocols', ULONG))
ConnectW_Call = call_struct(('szReader', LPWSTR), ('Context', CONTEXT), ('dwShareMode', ULONG),
                            ('dwPreferredProtocols', ULONG))
Reconnect_Call = call_struct(('hCard', HANDLE), ('dwShareMode', ULONG),
                             ('dwPreferredProtocols', ULONG), ('dwInitialization', ULONG))
HCardAndDisposition_Call = call_struct(('hCard', HANDLE), ('dwDisposition', ULONG))
State_Call = call_struct(('hCard', HANDLE), ('fpbAtrIsNULL', LONG), ('cbAtrLen', ULONG))
Status_Call = call_struct(('hCard', HANDLE), ('fmszReaderNamesIsNULL', LONG),
                          ('cchReaderLen', ULONG), ('cbAtrLen', ULONG))
Transmit_Call = call_struct(('hCard', HANDLE), ('ioSendPci', IO_REQUEST), ('cbSendLength', ULONG),
                            ('pbSendBuffer', PBYTES), ('pioRecvPci', PIO_REQUEST),
                            ('fpbRecvBufferIsNULL', LONG), ('cbRecvLength', ULONG))
Control_Call = call_struct(('hCard', HANDLE), ('dwControlCode', ULONG), ('cbInBufferSize', ULONG),
                           ('pvInBuffer', PBYTES), ('fpvOutBufferIsNULL', LONG),
                           ('cbOutBufferSize', ULONG))
GetAttrib_Call = call_struct(('hCard', HANDLE), ('dwAttrId', ULONG), ('fpbAttrIsNULL', LONG),
                             ('cbAttrLen', ULONG))
SetAttrib_Call = call_struct(('hCard', HANDLE), ('dwAttrId', ULONG), ('cbAttrLen', ULONG),
                             ('pbAttr', PBYTES))

# Returns.
Long_Return = call_struct(('ReturnCode', LONG))
EstablishContext_Return = call_struct(('ReturnCode', LONG), ('Context', CONTEXT))
ListReaders_Return = call_struct(('ReturnCode', LONG), ('cBytes', ULONG), ('msz', PBYTES))
GetStatusChange_Return = call_struct(('ReturnCode', LONG), ('cReaders', ULONG),
                                     ('rgReaderStates', PSTATES_RETURN))
Connect_Return = call_struct(('ReturnCode', LONG), ('hCard', HANDLE), ('dwActiveProtocol', ULONG))
Reconnect_Return = call_struct(('ReturnCode', LONG), ('dwActiveProtocol', ULONG))
State_Return = call_struct(('ReturnCode', LONG), ('dwState', ULONG), ('dwProtocol', ULONG),
                           ('cbAtrLen', ULONG), ('rgAtr', PBYTES))
Status_Return = call_struct(('ReturnCode', LONG), ('cBytes', ULONG), ('mszReaderNames', PBYTES),
                            ('dwState', ULONG), ('dwProtocol', ULONG), ('pbAtr', ATR32),
                            ('cbAtrLen', ULONG))
Transmit_Return = call_struct(('ReturnCode', LONG), ('pioRecvPci', PIO_REQUEST),
                              ('cbRecvLength', ULONG), ('pbRecvBuffer', PBYTES))
Control_Return = call_struct(('ReturnCode', LONG), ('cbOutBufferSize', ULONG),
                             ('pvOutBuffer', PBYTES))
GetAttrib_Return = GetAttrib_Return = call_struct(('ReturnCode', LONG), ('cbAttrLen', ULONG),
                                                  ('pbAttr', PBYTES))

INTERNAL_ERROR = 0x80100001
INVALID_DEVICE_REQUEST = 0xC0000010
FOREVER = 0xFFFFFFFF
READERS_A = b"Reader A\0Reader B\0\0"


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
    def __init__(self, srv, device, session, level):
        self.dev = Device(srv, device, session)
        self.dev.next_id = session * 1000  # ids of an ended session stay apart
        self.level = level

    def send(self, fn, call, out_len=2048):
        data = wrap(call) if call is not None else b""
        params = struct.pack("<III", out_len, len(data), 0x00090000 | fn << 2) + bytes(20) + data
        if self.level == 2:
            return self.dev.send(0, 14, params)
        d = self.dev
        d.next_id += 1
        d.srv.send_request(d.session, 0x20, 0, struct.pack("<I", d.next_id) + params)
        return d.next_id

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


class Service:
    """The client's PC/SC stand-in, seen through its control folder."""
    def __init__(self, folder):
        self.folder, self.seen = folder, 0

    def poke(self, name):
        open(os.path.join(self.folder, name), "w").close()

    def log(self):
        try:
            with open(os.path.join(self.folder, "log")) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_for(self, text, seconds=20):
        end = time.time() + seconds
        while time.time() < end:
            if text in self.log()[self.seen:]:
                return True
            time.sleep(0.02)
        raise ProtocolError("the service never got %s; it got %s" % (text, self.log()[self.seen:]))

    def take(self):
        """The calls since the last take."""
        log = self.log()
        new, self.seen = log[self.seen:], len(log)
        return new


def context(value):
    return mk(CONTEXT, cbContext=4, pbContext=value)


def handle(ctx, card):
    return mk(HANDLE, Context=context(ctx), cbHandle=4, pbHandle=card)


def num(b):
    return str(struct.unpack("<I", b)[0])


def establish(sc):
    r = sc.call(5, mk(EstablishContext_Call, dwScope=2), EstablishContext_Return)
    return r['ReturnCode'], b"".join(r['Context']['pbContext'])


def state_a(reader):
    return mk(READERSTATEA, szReader=reader + b"\0", rgbAtr=b"\0" * 36)


def state_w(reader):
    return mk(READERSTATEW, szReader=reader + "\0", rgbAtr=b"\0" * 36)


def status_change(ctx, reader, timeout):
    return mk(GetStatusChangeA_Call, Context=context(ctx), dwTimeOut=timeout, cReaders=1,
              rgReaderStates=[state_a(reader)])


def connect(sc, ctx, reader):
    c = mk(ConnectA_Call, szReader=reader + b"\0", Context=context(ctx), dwShareMode=2,
           dwPreferredProtocols=3)
    r = sc.call(43, c, Connect_Return)
    return r['ReturnCode'], b"".join(r['hCard']['pbHandle'])


def transmit(ctx, card, apdu, recv_len):
    t = Transmit_Call()
    t['hCard'] = handle(ctx, card)
    t['ioSendPci'] = mk(IO_REQUEST, dwProtocol=2, cbExtraBytes=0, pbExtraBytes=NULL)
    t['cbSendLength'] = len(apdu)
    t['pbSendBuffer'] = apdu
    t['pioRecvPci'] = NULL
    t['fpbRecvBufferIsNULL'] = 0
    t['cbRecvLength'] = recv_len
    return t


def first_session(srv, sc, svc, problems):
    """The calls a sign-in with a card makes, in order; the service must get
    each with the arguments the server's sizes and flags ask for."""
    def check(what, cond):
        if not cond:
            problems.append(what)

    rc, ctx = establish(sc)
    if rc != 0:
        return problems.append("establish answered %#x" % rc)
    c = mk(ListReaders_Call, Context=context(ctx), cBytes=0, mszGroups=NULL, fmszReadersIsNULL=1,
           cchReaders=0)
    check("size query", sc.call(10, c, ListReaders_Return)['cBytes'] == 19)
    c['fmszReadersIsNULL'] = 0
    c['cchReaders'] = 19
    check("A list", b"".join(sc.call(10, c, ListReaders_Return)['msz']) == READERS_A)
    c['cchReaders'] = 40  # bytes: a buffer of 20 characters
    r = sc.call(11, c, ListReaders_Return)
    check("W list", b"".join(r['msz']) == READERS_A.decode().encode("utf-16le"))
    c['cchReaders'] = FOREVER
    r = sc.call(11, c, ListReaders_Return)
    check("W list allocated by the service",
          r['cBytes'] == 38 and b"".join(r['msz']) == READERS_A.decode().encode("utf-16le"))
    # A status change without a time limit waits until a card is inserted.
    waiting = sc.send(40, status_change(ctx, b"Reader A", FOREVER))
    svc.wait_for("SCardGetStatusChangeA(%s,4294967295,1)" % num(ctx))
    check("the status change answered before the insertion",
          all(struct.unpack_from("<I", b, 0)[0] != waiting for _, _, b in srv.replies))
    svc.poke("insert")
    r = sc.result(waiting, GetStatusChange_Return)
    st = r['rgReaderStates'][0] if r['cReaders'] == 1 else None
    check("status change after the insertion: %#x" % r['ReturnCode'],
          r['ReturnCode'] == 0 and st and st['dwEventState'] == 0x22 and st['cbAtr'] == 11)
    rc, card = connect(sc, ctx, b"Reader A")
    if rc != 0:
        return problems.append("connect answered %#x" % rc)
    select = bytes([0x00, 0xA4, 0x04, 0x00, 0x07]) + b"\xA0\x00\x00\x00\x03\x10\x10"
    r = sc.call(52, transmit(ctx, card, select, 258), Transmit_Return)
    check("SELECT", b"".join(r['pbRecvBuffer']) == b"\x90\x00")
    deflated = srv.compressed_replies
    r = sc.call(52, transmit(ctx, card, bytes([0x00, 0xB0, 0x00, 0x00, 0x00]), 258),
                Transmit_Return)
    data = b"".join(r['pbRecvBuffer'])
    check("READ BINARY gave %d bytes" % len(data),
          len(data) == 258 and data.startswith(b"Halvanet smart-card file.") and
          data.endswith(b"\x90\x00"))
    check("the READ BINARY reply was not deflated", srv.compressed_replies > deflated)
    s = mk(Status_Call, hCard=handle(ctx, card), fmszReaderNamesIsNULL=0, cchReaderLen=64,
           cbAtrLen=32)
    r = sc.call(50, s, Status_Return)
    check("status", r['ReturnCode'] == 0 and r['cbAtrLen'] == 11 and r['dwProtocol'] == 2 and
          b"".join(r['mszReaderNames']) == b"Reader A\0\0")
    d = mk(HCardAndDisposition_Call, hCard=handle(ctx, card), dwDisposition=1)
    check("disconnect", sc.call(46, d, Long_Return)['ReturnCode'] == 0)
    check("release", sc.call(6, mk(Context_Call, Context=context(ctx)), Long_Return)[
        'ReturnCode'] == 0)
    svc.wait_for("SCardReleaseContext(%s)" % num(ctx))
    want = ("SCardEstablishContext(2);SCardListReadersA({c},null);SCardListReadersA({c},19);"
            "SCardListReadersW({c},20);SCardListReadersW({c},4294967295);SCardFreeMemory;"
            "SCardGetStatusChangeA({c},4294967295,1);SCardConnectA({c},2,3);"
            "SCardTransmit({h},pci2/8,12,258);SCardTransmit({h},pci2/8,5,258);"
            "SCardStatusA({h},64,32);SCardDisconnect({h},1);SCardReleaseContext({c});").format(
                c=num(ctx), h=num(card))
    got = svc.take().replace("SCardAccessStartedEvent;", "")
    check("the service got %s, want %s" % (got, want), got == want)


def call_rows(ctx, card, minimal):
    """Every call but the first session's, once. A row: function, call,
    return structure, the ReturnCode wanted, the service call wanted in the
    log (None: the service is not called)."""
    c, h = context(ctx), handle(ctx, card)
    absent = INTERNAL_ERROR if minimal else 0
    a_mask = mk(ATRMASK, cbAtr=11, rgbAtr=b"\x3b" + b"\0" * 35, rgbMask=b"\xff" + b"\0" * 35)
    rows = [
        (7, mk(Context_Call, Context=c), Long_Return, absent,
         None if minimal else "SCardIsValidContext({c})"),
        (8, mk(ListReaderGroups_Call, Context=c, fmszGroupsIsNULL=1, cchGroups=0),
         ListReaders_Return, 0, "SCardListReaderGroupsA({c},null)"),
        (9, mk(ListReaderGroups_Call, Context=c, fmszGroupsIsNULL=0, cchGroups=FOREVER),
         ListReaders_Return, 0, "SCardListReaderGroupsW({c},4294967295);SCardFreeMemory"),
    ]
    for fn in range(20, 32):
        two = fn in (24, 25, 28, 29, 30, 31)
        wide = fn % 2 == 1
        s = (lambda t: t + "\0") if wide else (lambda t: t.encode() + b"\0")
        if two:
            call = mk(ContextAndTwoStringW_Call if wide else ContextAndTwoStringA_Call,
                      Context=c, sz1=s("Reader C"), sz2=s("Group C"))
        else:
            call = mk(ContextAndStringW_Call if wide else ContextAndStringA_Call, Context=c,
                      sz=s("Group C"))
        rows.append((fn, call, Long_Return, 0, "admin%d({c},s%s)" % (fn, ",s" if two else "")))
    rows += [
        (38, mk(LocateCardsA_Call, Context=c, cBytes=8, mszCards=b"Card A\0\0",
                cReaders=1, rgReaderStates=[state_a(b"Reader A")]),
         GetStatusChange_Return, 0, "SCardLocateCardsA({c},1)"),
        (39, mk(LocateCardsW_Call, Context=c, cBytes=16, mszCards="Card A\0\0".encode("utf-16le"),
                cReaders=1, rgReaderStates=[state_w("Reader A")]),
         GetStatusChange_Return, 0, "SCardLocateCardsW({c},1)"),
        (41, mk(GetStatusChangeW_Call, Context=c, dwTimeOut=0, cReaders=1,
                rgReaderStates=[state_w("Reader B")]),
         GetStatusChange_Return, 0, "SCardGetStatusChangeW({c},0,1)"),
        (58, mk(LocateCardsByATRA_Call, Context=c, cAtrs=1, rgAtrMasks=[a_mask], cReaders=1,
                rgReaderStates=[state_a(b"Reader A")]),
         GetStatusChange_Return, absent, None if minimal else "SCardLocateCardsByATRA({c},1,1)"),
        (59, mk(LocateCardsByATRW_Call, Context=c, cAtrs=1, rgAtrMasks=[a_mask], cReaders=1,
                rgReaderStates=[state_w("Reader A")]),
         GetStatusChange_Return, absent, None if minimal else "SCardLocateCardsByATRW({c},1,1)"),
        (44, mk(ConnectW_Call, szReader="Reader A\0", Context=c, dwShareMode=1,
                dwPreferredProtocols=1),
         Connect_Return, 0, "SCardConnectW({c},1,1)"),
        (45, mk(Reconnect_Call, hCard=h, dwShareMode=2, dwPreferredProtocols=3,
                dwInitialization=1),
         Reconnect_Return, 0, "SCardReconnect({h},2,3,1)"),
        (47, mk(HCardAndDisposition_Call, hCard=h, dwDisposition=5), Long_Return, 0,
         "SCardBeginTransaction({h})"),
        (48, mk(HCardAndDisposition_Call, hCard=h, dwDisposition=0), Long_Return, 0,
         "SCardEndTransaction({h},0)"),
        (49, mk(State_Call, hCard=h, fpbAtrIsNULL=0, cbAtrLen=36), State_Return, 0,
         "SCardStatusA({h},256,36)"),
        (51, mk(Status_Call, hCard=h, fmszReaderNamesIsNULL=0, cchReaderLen=64, cbAtrLen=32),
         Status_Return, 0, "SCardStatusW({h},"),
        (53, mk(Control_Call, hCard=h, dwControlCode=0x313520, cbInBufferSize=4,
                pvInBuffer=b"\1\2\3\4", fpvOutBufferIsNULL=0, cbOutBufferSize=16),
         Control_Return, 0, "SCardControl({h},3224864,4,16)"),
        (54, mk(GetAttrib_Call, hCard=h, dwAttrId=0x10100, fpbAttrIsNULL=0, cbAttrLen=FOREVER),
         GetAttrib_Return, 0, "SCardGetAttrib({h},65792,4294967295);SCardFreeMemory"),
        (55, mk(SetAttrib_Call, hCard=h, dwAttrId=0x10100, cbAttrLen=3, pbAttr=b"abc"),
         Long_Return, 0, "SCardSetAttrib({h},65792,3)"),
        (57, None, Long_Return, 0, None),
        (42, mk(Context_Call, Context=c), Long_Return, 0, "SCardCancel({c})"),
    ]
    return rows


def other_calls(sc, svc, minimal, problems):
    """Every other call once, on a context and a card of their own."""
    rc, ctx = establish(sc)
    rc2, card = connect(sc, ctx, b"Reader B")
    if rc or rc2:
        return problems.append("establish or connect answered %#x %#x" % (rc, rc2))
    c, h = context(ctx), handle(ctx, card)
    svc.wait_for("SCardConnectA(%s,2,3)" % num(ctx))
    svc.take()
    rows = call_rows(ctx, card, minimal)
    for fn, call, ret, want_rc, want_log in rows:
        r = sc.call(fn, call, ret)
        if r['ReturnCode'] & 0xFFFFFFFF != want_rc:
            problems.append("call %d answered %#x, want %#x" % (fn, r['ReturnCode'], want_rc))
        got = svc.take() if want_log is None else None
        if want_log is not None:
            want = want_log.format(c=num(ctx), h=num(card))
            svc.wait_for(want)
            got = svc.take()
            if not got.startswith(want):
                problems.append("call %d: the service got %s, want %s" % (fn, got, want))
        elif got:
            problems.append("call %d reached the service: %s" % (fn, got))
        if fn == 54 and b"".join(r['pbAttr']) != b"attrib":
            problems.append("the service's attribute was not returned")
    # The start-event wait: answered at once without the service's entry
    # points, else once the service has started.
    waiting = sc.send(56, None)
    if not minimal:
        svc.poke("started")
    if sc.result(waiting, Long_Return)['ReturnCode'] != 0:
        problems.append("the start-event wait failed")
    if not minimal:
        svc.poke("stopped")
        svc.wait_for("stopped;")
    # A function the service does not have.
    status, _ = sc.dev.srv.take_reply(sc.send(12, None))
    if status != INVALID_DEVICE_REQUEST:
        problems.append("function 12 answered %#x" % status)
    sc.call(46, mk(HCardAndDisposition_Call, hCard=h, dwDisposition=0), Long_Return)
    sc.call(6, mk(Context_Call, Context=c), Long_Return)
    svc.wait_for("SCardReleaseContext(%s)" % num(ctx))
    svc.take()


def scenario(conn, a):
    problems = []
    svc = Service(a.control)
    srv = IOServer(conn)
    srv.handshake()
    srv.session(1)
    sc = SCard(srv, a.device, 1, a.level)
    first_session(srv, sc, svc, problems)
    note("first session done")
    other_calls(sc, svc, a.minimal, problems)
    note("other calls done")
    srv.session(1, open_it=False)
    # A session ends under a blocked status change, a start-event wait and
    # a connected card.
    srv.session(2)
    sc = SCard(srv, a.device, 2, a.level)
    rc, ctx = establish(sc)
    rc2, card = connect(sc, ctx, b"Reader A")
    if rc or rc2:
        problems.append("second session: %#x %#x" % (rc, rc2))
    # The start-event wait goes first: it is under way by the time the
    # status change is seen waiting in the service.
    pending = [] if a.minimal else [sc.send(56, None)]
    pending.append(sc.send(40, status_change(ctx, b"Reader B", FOREVER)))
    svc.wait_for("SCardGetStatusChangeA(%s,4294967295,1)" % num(ctx))
    svc.take()
    srv.session(2, open_it=False)
    c, h = num(ctx), num(card)
    ended = "SCardDisconnect(%s,0);SCardCancel(%s);SCardReleaseContext(%s);" % (h, c, c)
    if not a.minimal:
        ended = "SCardReleaseStartedEvent;" + ended
    # (The session of the channel's other smart-card device ends too.)
    svc.wait_for(ended)
    svc.take()
    srv.session(3)
    sc = SCard(srv, a.device, 3, a.level)
    rc, ctx = establish(sc)
    if rc:
        problems.append("establish after the session end answered %#x" % rc)
    rc, _ = connect(sc, ctx, b"Reader A")
    if rc:
        problems.append("connect after the session end answered %#x" % rc)
    if any(st == 2 and struct.unpack_from("<I", b, 0)[0] in pending for st, _, b in srv.replies):
        problems.append("a call of the ended session was answered")
    srv.session(3, open_it=False)
    return problems


def write_corpus(folder):
    """The calls as the fuzzer of the smart-card calls takes them (function,
    u16 output length, input), on its context 0x100 and card 0x101."""
    ctx, card = struct.pack("<I", 0x100), struct.pack("<I", 0x101)
    rows = [(r[0], r[1]) for r in call_rows(ctx, card, False) if r[1] is not None]
    rows += [(40, status_change(ctx, b"Reader A", 0)),
             (52, transmit(ctx, card, bytes([0x00, 0xB0, 0x00, 0x00, 0x00]), 258)),
             (50, mk(Status_Call, hCard=handle(ctx, card), fmszReaderNamesIsNULL=0,
                     cchReaderLen=64, cbAtrLen=32))]
    for fn, call in rows:
        with open(os.path.join(folder, "peer_%02d" % fn), "wb") as f:
            f.write(bytes([fn]) + struct.pack("<H", 2048) + wrap(call))


def run(conn, a):
    """The scenario on an accepted connection: a list of problems."""
    conn.settimeout(60)
    try:
        return scenario(conn, a)
    except (ProtocolError, OSError, struct.error, zlib.error, KeyError, TypeError) as e:
        return ["%s: %s" % (type(e).__name__, e)]


def options(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file")
    ap.add_argument("--result-file")
    ap.add_argument("--control", required=True)
    ap.add_argument("--level", type=int, default=1, choices=[1, 2])
    ap.add_argument("--device", type=int, default=0)
    ap.add_argument("--minimal", action="store_true")
    ap.add_argument("--lifetime", type=float, default=120)
    return ap.parse_args(argv)


def main(argv):
    if argv[1:2] == ["--write-corpus"]:
        return write_corpus(argv[2])
    a = options(argv[1:])
    srv = peerlib.listen_local(1)

    def serve(conn):
        problems = run(conn, a)
        peerlib.write_whole(a.result_file, "ok\n" if not problems else "\n".join(problems) + "\n")
        conn.close()
        os.unlink(a.port_file)

    peerlib.serve_connections(srv, a.port_file, a.lifetime, serve, threaded=False)


if __name__ == "__main__":
    main(sys.argv)
