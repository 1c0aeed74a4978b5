#!/usr/bin/env python3
"""`make dist`: packs build/dist/kel-VERSION.zip from the windows build.

In the zip: kel.exe, readme.txt (docs/readme-ja.txt in Shift-JIS with CR LF,
as Notepad of every Windows reads it), the sample beep.snd, the melody writer,
and licenses/ with the texts of what kel.exe links statically, copied from the
Debian packages the build used. VERSION comes from resources/version.h.
"""
import os
import re
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows")
DIST = os.path.join(ROOT, "build", "dist")

# licenses/NAME: the files it is made of, in order.
LICENSES = {
    "OpenSSL.txt": ["/usr/share/doc/openssl/copyright"],
    "Apache-2.0.txt": ["/usr/share/common-licenses/Apache-2.0"],
    "mingw-w64-runtime-winpthreads.txt": ["/usr/share/doc/mingw-w64-common/copyright"],
    "gcc-runtime-library-exception.txt": ["/usr/share/doc/gcc-mingw-w64-base/copyright"],
    "GPL-3.txt": ["/usr/share/common-licenses/GPL-3"],
}


def version():
    with open(os.path.join(ROOT, "resources", "version.h"), encoding="ascii") as f:
        m = re.search(r'^#define KEL_VERSION_TEXT "([0-9.]+)"$', f.read(), re.M)
    if not m:
        raise SystemExit("dist: no KEL_VERSION_TEXT in resources/version.h")
    return m.group(1)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def readme(ver):
    with open(os.path.join(ROOT, "docs", "readme-ja.txt"), encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", ver)
    # cp932 is the Shift-JIS of Windows; an unmappable character stops here.
    return crlf(text).encode("cp932")


def main():
    ver = version()
    exe = os.path.join(BUILD, "kel.exe")
    beep = os.path.join(BUILD, "beep.snd")
    for path in [exe, beep] + [p for parts in LICENSES.values() for p in parts]:
        if not os.path.isfile(path):
            raise SystemExit("dist: %s is missing (make dist builds kel.exe and beep.snd)" % path)
    os.makedirs(DIST, exist_ok=True)
    out = os.path.join(DIST, "kel-%s.zip" % ver)
    tmp = out + ".part"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(exe, "kel.exe")  # linked with -s: no symbols
        z.writestr("readme.txt", readme(ver))
        z.write(beep, "beep.snd")
        with open(os.path.join(ROOT, "tools", "make_melody.py"), encoding="utf-8") as f:
            z.writestr("make_melody.py", crlf(f.read()).encode("utf-8"))
        for name, parts in LICENSES.items():
            text = ""
            for part in parts:
                with open(part, encoding="utf-8") as f:
                    text += f.read()
            z.writestr("licenses/" + name, crlf(text).encode("utf-8"))
    os.replace(tmp, out)
    print("dist: %s (%d bytes)" % (os.path.relpath(out, ROOT), os.path.getsize(out)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
