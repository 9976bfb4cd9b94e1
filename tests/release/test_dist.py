#!/usr/bin/env python3
"""Checks of the release archive writer (scripts/dist.py): the same bytes from
the same files, its members, the refusal of an exe with a link time and,
given a built wrenfold.exe, a signed archive of it.

  test_dist.py [path/to/wrenfold.exe]
"""

import hashlib
import io
import os
import pathlib
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import dist  # noqa: E402

BUILT_EXE = sys.argv.pop(1) if __name__ == "__main__" and len(sys.argv) > 1 else None
SOURCES = {"README.md": b"# Wrenfold\n", "LICENSE": b"All rights reserved.\n",
           **{f"Wrenfold/{name}": f"# {name}\r\n".encode() for name in dist.MODULE_FILES}}


def fake_exe(stamp):
    """The first bytes of a PE image whose file header holds the link time STAMP."""
    return (b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40)  # the PE header follows at 0x40
            + b"PE\0\0" + struct.pack("<HHI", 0x8664, 1, stamp) + bytes(16))


class ArchiveTest(unittest.TestCase):
    def pack(self, stamp=0, mtime=1_000_000_000):
        """dist.py's exit code and archive (None: none written) for a tree of its files."""
        root = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        files = {**SOURCES, "wrenfold.exe": fake_exe(stamp), "wrenfold.version": b"1.10\n"}
        for name, data in files.items():
            if name.startswith("Wrenfold/"):
                name = os.path.join(dist.MODULE_DIR, name[len("Wrenfold/"):])
                (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_bytes(data)
            os.utime(root / name, (mtime, mtime))
        out = root / "dist"
        code = dist.main(["--exe", str(root / "wrenfold.exe"), "--out-dir", str(out),
                          "--root", str(root)])
        return code, (out / "wrenfold-1.10-win64.zip").read_bytes() if out.exists() else None

    def test_same_files_give_the_same_archive_whatever_their_times_and_the_zone(self):
        data = self.pack()[1]
        self.addCleanup(time.tzset)
        with mock.patch.dict(os.environ, TZ="Pacific/Kiritimati"):
            time.tzset()
            self.assertEqual(self.pack(mtime=1_700_000_000), (0, data))
        members = {}
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            for info in archive.infolist():
                self.assertEqual((info.date_time, info.external_attr >> 16),
                                 (dist.FIXED_DATE_TIME, dist.FILE_MODE))
                members[info.filename] = archive.read(info)
        self.assertEqual(list(members), ["wrenfold.exe", "README.md", "LICENSE",
                                         "Wrenfold/Wrenfold.psd1", "Wrenfold/Wrenfold.psm1",
                                         "Wrenfold/Wrenfold.Format.ps1xml", "SHA256SUMS"])
        sums = members.pop("SHA256SUMS").decode("ascii")
        self.assertEqual(members, {**SOURCES, "wrenfold.exe": fake_exe(0)})
        self.assertEqual(sums, "".join(f"{hashlib.sha256(body).hexdigest()}  {name}\n"
                                       for name, body in members.items()))

    def test_an_exe_with_a_link_time_is_refused(self):
        self.assertEqual(self.pack(stamp=0x6B15DE73), (1, None))
        with self.assertRaises(dist.DistError):  # cut off in its PE header
            dist.pe_timestamp(fake_exe(0)[:0x48])


@unittest.skipUnless(BUILT_EXE, "no wrenfold.exe given")
class SignedArchiveTest(unittest.TestCase):
    def test_a_signed_archive_ships_the_signed_exe_and_its_sum(self):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        cert, key, out = (os.path.join(folder, n) for n in ("cert.pem", "key.pem", "dist"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", key, "-out", cert, "-days", "2",
                        "-subj", "/CN=Wrenfold test signing",
                        "-addext", "extendedKeyUsage=codeSigning"],
                       capture_output=True, check=True)
        # Packed at all, the built exe carries no link time.
        self.assertEqual(dist.main(["--exe", BUILT_EXE, "--out-dir", out,
                                    "--sign-cert", cert, "--sign-key", key]), 0)
        [name] = os.listdir(out)
        with zipfile.ZipFile(os.path.join(out, name)) as archive:
            exe = archive.read("wrenfold.exe")
            sums = archive.read("SHA256SUMS").decode("ascii")
        self.assertIn(f"{hashlib.sha256(exe).hexdigest()}  wrenfold.exe\n", sums)
        check = os.path.join(folder, "check.exe")
        pathlib.Path(check).write_bytes(exe)
        done = subprocess.run(["osslsigncode", "verify", "-in", check, "-CAfile", cert],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main()
