#!/usr/bin/env python3
"""Makes a small test PKI with the openssl command into OUTDIR.

Every certificate is written as NAME.pem (PEM certificate) beside NAME.key
(its private key, PEM). Made:

  root            trusted root CA (v3, CA:TRUE), also as root.der (DER)
  inter           intermediate under root (CA:TRUE)
  good            leaf "good.test" under inter (SAN DNS:good.test)
  upper           leaf whose CN is "GOOD.Test" (no SAN), under inter
  self            self-signed leaf "self.test"
  expired         leaf "good.test" under inter, validity ended in 2001
  future          leaf "good.test" under inter, valid from 2090
  wronghost       leaf "other.test" under inter
  otherroot       a root nobody trusts, and "untrusted" a leaf under it
  nobc            intermediate under root without Basic Constraints,
                  "nobcleaf" a leaf "good.test" under it
  notca           intermediate under root with CA:FALSE,
                  "notcaleaf" a leaf "good.test" under it
  sanonly         leaf with SAN DNS:san.test and no common name
  bmp             leaf whose organisation and CN are BMPStrings
  v1root          a version 1 root (no extensions)
  nobcroot        a version 3 self-signed root without Basic Constraints,
                  "nobcrootleaf" a leaf "good.test" under it
  local           leaf "localhost" under inter
  selflocal       self-signed "localhost", and "selflocal2" another one
  notcalocal      leaf "localhost" under notca
  selftwonames    self-signed, named both "localhost" and "127.0.0.1"
  forgedlocal     local with one byte of its signature changed (local.key)
  chain-good      good.pem followed by inter.pem (what a server sends)
  chain-local     local.pem followed by inter.pem

Usage: make_pki.py OUTDIR
"""
import base64
import os
import shutil
import subprocess
import sys

OPENSSL = "openssl"


def run(*args, cwd):
    subprocess.run([OPENSSL, *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def key(out, name):
    run("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
        "-out", name + ".key", cwd=out)


EXTENSIONS = """
[ ca_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ nobc_ext ]
keyUsage = critical, keyCertSign, cRLSign, digitalSignature
subjectKeyIdentifier = hash
[ notca_ext ]
basicConstraints = critical, CA:FALSE
subjectKeyIdentifier = hash
[ leaf_ext ]
basicConstraints = CA:FALSE
subjectAltName = DNS:good.test
[ leaf_plain ]
basicConstraints = CA:FALSE
[ wrong_ext ]
basicConstraints = CA:FALSE
subjectAltName = DNS:other.test
[ san_ext ]
basicConstraints = CA:FALSE
subjectAltName = DNS:san.test
[ self_ext ]
basicConstraints = CA:FALSE
subjectAltName = DNS:self.test
[ local_ext ]
basicConstraints = CA:FALSE
subjectAltName = DNS:localhost
[ twonames_ext ]
basicConstraints = CA:FALSE
subjectAltName = DNS:localhost, DNS:127.0.0.1
"""

CA_CONFIG = """
[ ca ]
default_ca = testca
[ testca ]
dir = {dir}
database = $dir/index.txt
new_certs_dir = $dir/new
serial = $dir/serial
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
copy_extensions = none
[ anything ]
countryName = optional
stateOrProvinceName = optional
localityName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
[ req ]
distinguished_name = dn
string_mask = {mask}
prompt = no
[ dn ]
"""


def ca_dir(out, name):
    d = os.path.join(out, "ca-" + name)
    os.makedirs(os.path.join(d, "new"), exist_ok=True)
    open(os.path.join(d, "index.txt"), "w").close()
    with open(os.path.join(d, "serial"), "w") as f:
        f.write("%02X\n" % (abs(hash(name)) % 200 + 16))
    with open(os.path.join(d, "openssl.cnf"), "w") as f:
        f.write(CA_CONFIG.format(dir=d, mask="utf8only"))
    return d


def csr(out, name, subj, mask="utf8only"):
    key(out, name)
    cnf = os.path.join(out, name + ".req.cnf")
    with open(cnf, "w") as f:
        f.write(CA_CONFIG.format(dir=out, mask=mask))
    run("req", "-new", "-key", name + ".key", "-subj", subj, "-utf8",
        "-config", cnf, "-out", name + ".csr", cwd=out)


def self_signed(out, name, subj, ext, version1=False):
    csr(out, name, subj)
    args = ["x509", "-req", "-in", name + ".csr", "-signkey", name + ".key",
            "-days", "3650", "-sha256", "-out", name + ".pem"]
    if not version1:
        args += ["-extfile", "ext.cnf", "-extensions", ext]
    run(*args, cwd=out)


def sign(out, issuer, name, subj, ext, start=None, end=None, mask="utf8only"):
    csr(out, name, subj, mask)
    d = os.path.join(out, "ca-" + issuer)
    args = ["ca", "-batch", "-config", os.path.join(d, "openssl.cnf"),
            "-cert", issuer + ".pem", "-keyfile", issuer + ".key",
            "-in", name + ".csr", "-out", name + ".pem", "-notext",
            "-extfile", "ext.cnf", "-extensions", ext, "-utf8"]
    if mask != "utf8only":
        args += ["-preserveDN"]
    if start:
        args += ["-startdate", start]
    if end:
        args += ["-enddate", end]
    else:
        args += ["-days", "3650"]
    run(*args, cwd=out)


def forge(out, name, forged):
    """A copy of NAME whose signature no longer matches: the last byte of the
    DER encoding is the signature's last byte."""
    with open(os.path.join(out, name + ".pem")) as f:
        body = "".join(l.strip() for l in f if not l.startswith("-----"))
    der = bytearray(base64.b64decode(body))
    der[-1] ^= 0x01
    text = base64.encodebytes(bytes(der)).decode().replace("\n", "")
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    with open(os.path.join(out, forged + ".pem"), "w") as f:
        f.write("-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) +
                "\n-----END CERTIFICATE-----\n")
    shutil.copy(os.path.join(out, name + ".key"), os.path.join(out, forged + ".key"))


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "ext.cnf"), "w") as f:
        f.write(EXTENSIONS)

    self_signed(out, "root", "/C=XX/O=Test PKI/CN=Test Root", "ca_ext")
    run("x509", "-in", "root.pem", "-outform", "DER", "-out", "root.der", cwd=out)
    ca_dir(out, "root")
    sign(out, "root", "inter", "/C=XX/O=Test PKI/OU=Issuing/CN=Test Intermediate", "ca_ext")
    ca_dir(out, "inter")
    sign(out, "inter", "good", "/C=XX/ST=Somewhere/L=Town/O=Test PKI/OU=Servers/CN=good.test",
         "leaf_ext")
    sign(out, "inter", "upper", "/O=Test PKI/CN=GOOD.Test", "leaf_plain")
    sign(out, "inter", "expired", "/O=Test PKI/CN=good.test", "leaf_ext",
         start="20000101000000Z", end="20010101000000Z")
    sign(out, "inter", "future", "/O=Test PKI/CN=good.test", "leaf_ext",
         start="20900101000000Z", end="20910101000000Z")
    sign(out, "inter", "wronghost", "/O=Test PKI/CN=other.test", "wrong_ext")
    sign(out, "inter", "sanonly", "/O=Test PKI/OU=No Name", "san_ext")
    sign(out, "inter", "bmp", "/O=Pr\u00fcfung \u6e2c\u8a66/CN=bmp.test", "leaf_plain",
         mask="MASK:0x800")

    self_signed(out, "self", "/O=Self/CN=self.test", "self_ext")
    sign(out, "inter", "local", "/O=Test PKI/CN=localhost", "local_ext")
    self_signed(out, "selflocal", "/O=Self/CN=localhost", "local_ext")
    self_signed(out, "selflocal2", "/O=Self Again/CN=localhost", "local_ext")
    self_signed(out, "selftwonames", "/O=Self/CN=localhost", "twonames_ext")
    self_signed(out, "otherroot", "/O=Elsewhere/CN=Other Root", "ca_ext")
    ca_dir(out, "otherroot")
    sign(out, "otherroot", "untrusted", "/O=Elsewhere/CN=good.test", "leaf_ext")

    sign(out, "root", "nobc", "/O=Test PKI/CN=No Constraints CA", "nobc_ext")
    ca_dir(out, "nobc")
    sign(out, "nobc", "nobcleaf", "/O=Test PKI/CN=good.test", "leaf_ext")
    sign(out, "root", "notca", "/O=Test PKI/CN=Not A CA", "notca_ext")
    ca_dir(out, "notca")
    sign(out, "notca", "notcaleaf", "/O=Test PKI/CN=good.test", "leaf_ext")

    sign(out, "notca", "notcalocal", "/O=Test PKI/CN=localhost", "local_ext")
    forge(out, "local", "forgedlocal")

    self_signed(out, "v1root", "/O=Old/CN=Version One Root", None, version1=True)
    self_signed(out, "nobcroot", "/O=Loose/CN=Loose Root", "nobc_ext")
    ca_dir(out, "nobcroot")
    sign(out, "nobcroot", "nobcrootleaf", "/O=Loose/CN=good.test", "leaf_ext")

    with open(os.path.join(out, "chain-local.pem"), "w") as f:
        for n in ("local", "inter"):
            with open(os.path.join(out, n + ".pem")) as c:
                f.write(c.read())

    # Written last and renamed into place: its presence says the PKI is done.
    with open(os.path.join(out, "chain-good.pem.tmp"), "w") as f:
        for n in ("good", "inter"):
            with open(os.path.join(out, n + ".pem")) as c:
                f.write(c.read())
    os.replace(os.path.join(out, "chain-good.pem.tmp"), os.path.join(out, "chain-good.pem"))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except subprocess.CalledProcessError as e:
        sys.stderr.write("openssl %s failed: %s\n" % (e.cmd[1], e.stderr.decode(errors="replace")))
        sys.exit(1)
