"""The release zip of `make dist`, read back as a Windows user would get it:
kel.exe a 64-bit GUI program with its version information and one manifest,
readme.txt in Shift-JIS with CR LF, a short beep.snd, the licence texts; and
`make run` building kel.exe and the probe only."""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

import kelwine

ROOT = kelwine.ROOT
BUILD = os.path.join(ROOT, "build", "windows")
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_melody  # noqa: E402

RT_DIALOG, RT_VERSION, RT_MANIFEST = 5, 16, 24
WIN10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
ERROR_TEXTS = ["通信エラー(E0)", "通信エラー(E1)", "サーバアドレスが取得できません(E2)",
               "メールサーバに接続できません(E3)", "通信エラー(E4)", "通信エラー(E5)",
               "通信エラー(E6)", "通信エラー(E7)", "認証失敗(E8)"]
# The clock's lines in the status dialog, up to their numbers.
CLOCK_TEXTS = ["時刻合わせ", "同期しました（ずれ", "設定できません（権限なし）ずれ", "設定できません（番号）ずれ",
               "サーバが応答しません", "サーバのアドレスが取得できません", "サーバが同期していません",
               "管理者として実行"]


def version():
    with open(os.path.join(ROOT, "resources", "version.h")) as f:
        return re.search(r'#define KEL_VERSION_TEXT "([0-9.]+)"', f.read()).group(1)


def make_zip():
    subprocess.run(["cmake", "--build", BUILD, "--target", "kel", "melodies"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "dist.py")], check=True, stdout=subprocess.DEVNULL)
    path = os.path.join(ROOT, "build", "dist", "kel-%s.zip" % version())
    with zipfile.ZipFile(path) as z:
        return {name: z.read(name) for name in z.namelist()}


class Pe:
    """Just enough of a PE32+ file: headers, sections and the resource tree."""

    def __init__(self, data):
        self.data = data
        assert data[:2] == b"MZ"
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        self.resource_rva = struct.unpack_from("<I", data, opt + 112 + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode()
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(vsize, raw_size), raw))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise AssertionError("RVA %#x in no section" % rva)

    def resources(self):
        """{(type, name, language): bytes} for every resource."""
        base = self.offset(self.resource_rva)
        out = {}

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + ids):
                key, child = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                if key & 0x80000000:
                    n = struct.unpack_from("<H", self.data, base + (key & 0x7FFFFFFF))[0]
                    start = base + (key & 0x7FFFFFFF) + 2
                    key = self.data[start:start + 2 * n].decode("utf-16-le")
                if child & 0x80000000:
                    walk(child & 0x7FFFFFFF, path + (key,))
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + child)
                    out[path + (key,)] = self.data[self.offset(rva):self.offset(rva) + size]

        walk(0, ())
        return out


def version_info(blob):
    """(fixed file info numbers, {string name: value}) of a VERSIONINFO resource."""
    strings = {}
    fixed = None

    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end = at + length
        key_end = at + 6
        while blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = blob[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        if kind == 1:
            value = blob[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
            value_end = value_at + 2 * value_length
        else:
            value = blob[value_at:value_at + value_length]
            value_end = value_at + value_length
        return key, value, (value_end + 3) & ~3, end

    def children(start, end, depth):
        nonlocal fixed
        at = start
        while at < end:
            key, value, child_at, child_end = node(at)
            if depth == 0:
                fixed = value
            if depth == 3:
                strings[key] = value
            children(child_at, child_end, depth + 1)
            at = (child_end + 3) & ~3

    key, value, child_at, end = node(0)
    assert key == "VS_VERSION_INFO", key
    fixed = value
    children(child_at, end, 1)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed, 0)
    assert signature == 0xFEEF04BD
    return (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF,
            product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16, product_ls & 0xFFFF), strings


def test_dist_kel_exe_is_a_64_bit_gui_program_with_version_and_manifest(session):
    files = make_zip()
    pe = Pe(files["kel.exe"])
    assert pe.machine == 0x8664 and pe.magic == 0x20B, (hex(pe.machine), hex(pe.magic))
    assert pe.subsystem == 2, "not the GUI subsystem: %d" % pe.subsystem
    assert pe.symbol_table == 0 and pe.symbols == 0, "kel.exe is not stripped"
    assert not [s for s in pe.sections if s[0].startswith(".debug") or s[0].startswith("/")], pe.sections

    res = pe.resources()
    versions = [k for k in res if k[0] == RT_VERSION]
    assert len(versions) == 1, versions
    numbers, strings = version_info(res[versions[0]])
    major, minor, patch = map(int, version().split("."))
    assert numbers == (major, minor, patch, 0) * 2, numbers
    assert strings.get("ProductName") == "Kel", strings
    assert strings.get("FileVersion") == version() and strings.get("ProductVersion") == version(), strings
    assert strings.get("FileDescription"), strings
    assert strings.get("OriginalFilename") == "kel.exe", strings
    # The version page of the settings sheet says the same version.
    page = [v for k, v in res.items() if k[:2] == (RT_DIALOG, 103)]
    assert len(page) == 1 and ("Version %s" % version()).encode("utf-16-le") in page[0]

    manifests = [k for k in res if k[0] == RT_MANIFEST]
    assert manifests == [(RT_MANIFEST, 1, manifests[0][2])], "not exactly one manifest of id 1: %s" % manifests
    xml = ET.fromstring(res[manifests[0]])
    ns = {"asm": "urn:schemas-microsoft-com:asm.v1", "compat": "urn:schemas-microsoft-com:compatibility.v1"}
    deps = [(a.get("name"), a.get("version"), a.get("publicKeyToken"))
            for a in xml.findall("asm:dependency/asm:dependentAssembly/asm:assemblyIdentity", ns)]
    assert deps == [("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")], deps
    oses = [e.get("Id") for e in xml.findall("compat:compatibility/compat:application/compat:supportedOS", ns)]
    assert oses == [WIN10], oses
    # Per-monitor aware, version 2 first, and the older systems' form beside it.
    dpi = {e.tag.rsplit("}", 1)[-1]: (e.text or "").strip() for e in xml.iter() if "dpiaware" in e.tag.lower()}
    assert dpi == {"dpiAware": "true/pm", "dpiAwareness": "PerMonitorV2, PerMonitor"}, dpi


def test_dist_readme_beep_and_licenses(session):
    files = make_zip()
    assert {"kel.exe", "readme.txt", "beep.snd"} <= set(files), sorted(files)

    raw = files["readme.txt"]
    assert raw.count(b"\r\n") == raw.count(b"\n") == raw.count(b"\r") > 100, "not CR LF throughout"
    text = raw.decode("shift_jis")
    assert raw.decode("cp932") == text
    assert "Version %s" % version() in text
    for word in ERROR_TEXTS + CLOCK_TEXTS + ["mail1.ini", "mail2.ini", "mail3.ini", "mail4.ini", "beep.snd",
                               "make_melody.py", "インストール", "アンインストール", "ブロック",
                               "プロパティ", "licenses"]:
        assert word in text, word

    # The chime the unit tests parse with the program's own reader.
    with open(os.path.join(BUILD, "beep.snd"), "rb") as f:
        assert files["beep.snd"] == f.read()
    notes = make_melody.read_melody(files["beep.snd"])
    assert notes and len(files["beep.snd"]) == 8 + 8 * len(notes), notes
    assert all(hz == 0 or 200 <= hz <= 5000 for hz, _ in notes), notes
    assert all(20 <= ms <= 1000 for _, ms in notes), notes
    assert sum(ms + 1 for _, ms in notes) < 3000, notes

    licenses = {name[len("licenses/"):]: data.decode("utf-8") for name, data in files.items()
                if name.startswith("licenses/") and not name.endswith("/")}
    for name in re.findall(r"licenses\\([\w.-]+\.txt)", text):
        assert name in licenses, name
    assert "OpenSSL" in licenses["OpenSSL.txt"]
    assert "Apache License" in licenses["Apache-2.0.txt"]
    assert "winpthreads" in licenses["mingw-w64-runtime-winpthreads.txt"]
    assert "GCC RUNTIME LIBRARY EXCEPTION" in licenses["gcc-runtime-library-exception.txt"]
    assert "GNU GENERAL PUBLIC LICENSE" in licenses["GPL-3.txt"]


def test_dist_make_run_builds_no_test_program(session):
    plan = subprocess.run(["make", "-n", "run"], cwd=ROOT, check=True, capture_output=True, text=True).stdout
    builds = [line for line in plan.splitlines() if "cmake --build" in line]
    assert builds == ["cmake --build build/windows --target kel kelprobe"], builds
    # Everything those two targets need, from nothing.
    commands = subprocess.run(["ninja", "-C", BUILD, "-t", "commands", "kel", "kelprobe"], check=True,
                              capture_output=True, text=True).stdout
    for test_program in ("kel_unit_tests", "kel_mail_tests", "kel_windows_tests", "kel_bench", "gtest"):
        assert test_program not in commands, test_program
