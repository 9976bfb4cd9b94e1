#!/usr/bin/env python3
"""Packs the release archive dist/wrenfold-<version>-win64.zip.

  dist.py --exe build/win/wrenfold.exe --out-dir dist [--root .]
          [--sign-cert CERT --sign-key KEY [--sign-pass-file FILE] [--timestamp URL]]

The archive holds wrenfold.exe, README.md, LICENSE, the PowerShell module
(Wrenfold/, from contrib/powershell) and SHA256SUMS (the SHA-256 of each of
the other files, in the format `sha256sum -c` reads).
Two runs over the same files give the same bytes: the members come in a
fixed order with a fixed date, fixed attributes and fixed compression, and
nothing of the packing machine (owner, time, time zone, file system order)
enters the archive. An executable that carries a link time in its PE
header is refused, since it would make two builds of one commit differ.
The version in the name is the build's: the file wrenfold.version that the
Windows build writes beside wrenfold.exe.

Given a code-signing certificate and its key (PEM or DER files), the
archive's wrenfold.exe is signed with Authenticode (SHA-256, by
osslsigncode), with a timestamp from the server URL when one is given, and
SHA256SUMS names the signed file. Without them the archive is the same
bytes for the same files, as above; a signature depends on the key and,
with a timestamp, on the time.
"""

import argparse
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

# The earliest time a zip entry can hold; the same for every member.
FIXED_DATE_TIME = (1980, 1, 1, 0, 0, 0)
FILE_MODE = 0o100644  # regular file, rw-r--r--
# The PowerShell module, as the folder Wrenfold/ beside wrenfold.exe, where
# it finds the exe by default.
MODULE = "Wrenfold"
MODULE_DIR = os.path.join("contrib", "powershell", MODULE)
MODULE_FILES = ("Wrenfold.psd1", "Wrenfold.psm1", "Wrenfold.Format.ps1xml")


class DistError(Exception):
    pass


def build_version(exe):
    """The version the build gave EXE: the file wrenfold.version that the
    Windows build writes beside it (the CMake project version)."""
    path = os.path.join(os.path.dirname(os.path.abspath(exe)), "wrenfold.version")
    try:
        with open(path, encoding="ascii") as f:
            version = f.read().strip()
    except (OSError, UnicodeDecodeError) as problem:
        raise DistError(f"cannot read the build's version {path}: {problem}")
    if not re.fullmatch(r"[0-9]+(\.[0-9]+)*", version):
        raise DistError(f"{path} holds no version number: {version!r}")
    return version


def pe_timestamp(data):
    """The TimeDateStamp of a PE image's file header."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise DistError("not a Windows executable (no MZ header)")
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if offset + 12 > len(data) or data[offset:offset + 4] != b"PE\0\0":
        raise DistError("not a Windows executable (no PE header)")
    return struct.unpack_from("<I", data, offset + 8)[0]


def sha256sums(members):
    """MEMBERS: (name, bytes). One line per file, as sha256sum writes it."""
    return "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                   for name, data in members).encode("ascii")


def archive_bytes(members):
    """A zip of MEMBERS, (name, bytes) in the order given, that depends on
    nothing but those names and bytes."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=FIXED_DATE_TIME)
            info.create_system = 3  # Unix: the mode below is read as such
            info.external_attr = FILE_MODE << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)
    return buffer.getvalue()


def signed(data, cert, key, pass_file=None, timestamp=None):
    """DATA, a PE image, signed with Authenticode by osslsigncode."""
    with tempfile.TemporaryDirectory(prefix="wrenfold-sign.") as scratch:
        unsigned = os.path.join(scratch, "unsigned.exe")
        result = os.path.join(scratch, "signed.exe")
        with open(unsigned, "wb") as f:
            f.write(data)
        command = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                   "-n", "Wrenfold", "-in", unsigned, "-out", result]
        if pass_file:
            command[6:6] = ["-readpass", pass_file]
        if timestamp:
            command[-4:-4] = ["-ts", timestamp]
        try:
            done = subprocess.run(command, capture_output=True, text=True)
        except OSError as problem:
            raise DistError(f"cannot run osslsigncode (scripts/install-deps.sh installs it): "
                            f"{problem}")
        if done.returncode != 0 or not os.path.exists(result):
            raise DistError("signing failed:\n" + (done.stdout + done.stderr).strip())
        with open(result, "rb") as f:
            return f.read()


def release_members(exe, root, signing=None):
    """(name, bytes) of the release files, SHA256SUMS last. SIGNING: the
    keyword arguments of signed(), or None to ship the exe as built."""
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    members = [("wrenfold.exe", read(exe)),
               ("README.md", read(os.path.join(root, "README.md"))),
               ("LICENSE", read(os.path.join(root, "LICENSE")))]
    members += [(f"{MODULE}/{name}", read(os.path.join(root, MODULE_DIR, name)))
                for name in MODULE_FILES]
    stamp = pe_timestamp(members[0][1])
    if stamp != 0:
        raise DistError(f"{exe} carries a link time (0x{stamp:08X}) in its PE header: "
                        "link it with -Wl,--no-insert-timestamp")
    if signing:
        members[0] = ("wrenfold.exe", signed(members[0][1], **signing))
    return members + [("SHA256SUMS", sha256sums(members))]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="wrenfold.exe to ship")
    parser.add_argument("--out-dir", required=True, help="folder for the archive")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), os.pardir),
                        help="the source tree (README.md, LICENSE)")
    parser.add_argument("--sign-cert", help="code-signing certificate (PEM or DER)")
    parser.add_argument("--sign-key", help="its private key (PEM or DER)")
    parser.add_argument("--sign-pass-file", help="a file holding the key's password")
    parser.add_argument("--timestamp", help="URL of an RFC 3161 timestamp server")
    options = parser.parse_args(argv)
    signing = None
    if options.sign_cert or options.sign_key:
        if not (options.sign_cert and options.sign_key):
            parser.error("signing needs both --sign-cert and --sign-key")
        signing = {"cert": options.sign_cert, "key": options.sign_key,
                   "pass_file": options.sign_pass_file, "timestamp": options.timestamp}
    elif options.sign_pass_file or options.timestamp:
        parser.error("--sign-pass-file and --timestamp need --sign-cert and --sign-key")
    try:
        version = build_version(options.exe)
        data = archive_bytes(release_members(options.exe, options.root, signing))
    except (DistError, OSError) as problem:
        print(f"dist: {problem}", file=sys.stderr)
        return 1
    os.makedirs(options.out_dir, exist_ok=True)
    path = os.path.join(options.out_dir, f"wrenfold-{version}-win64.zip")
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)
    print(f"{path}\n  SHA-256 {hashlib.sha256(data).hexdigest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
