#!/usr/bin/python3
"""Checks the MetaTrader 4 package against the DLLs that were inspected.

    check-mt4-zip.py PACKAGE.zip DLL_DIR VERSION

- the archive holds exactly the files of the terminal's data folder layout,
  in that order, each with the package's fixed time stamp;
- its two DLLs are byte for byte the ones in DLL_DIR (build/mingw32, which
  scripts/check-dlls.sh inspected);
- both carry a version resource with VERSION as file and product version,
  the product name, their own file name and a description naming their
  language (read with pefile);
- the text files have Windows line endings.
"""
import sys
import zipfile
from pathlib import Path

import pefile

EXPECTED = [
    "LICENSE",
    "MQL4/Experts/TorvikExpert.mq4",
    "MQL4/Include/Torvik.mqh",
    "MQL4/Libraries/TORVIK_ENG.dll",
    "MQL4/Libraries/TORVIK_RUS.dll",
    "MQL4/Presets/TorvikExpert-default.set",
    "MQL4/Presets/TorvikExpert-low-risk.set",
    "README.txt",
]
STAMP = (2026, 1, 1, 0, 0, 0)
LANGUAGES = {"TORVIK_ENG.dll": "English", "TORVIK_RUS.dll": "Russian"}

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def version_resource(data):
    """The strings of the StringFileInfo block and the fixed file and product versions."""
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    strings = {}
    for info in (getattr(pe, "FileInfo", None) or [[]])[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    versions = None
    if fixed is not None:
        versions = (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS)
    return strings, versions


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    package, dll_dir, version = Path(argv[1]), Path(argv[2]), argv[3]
    major, minor, patch = (int(part) for part in version.split("."))
    fixed = ((major << 16) | minor, patch << 16) * 2

    with zipfile.ZipFile(package) as archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        check(names == EXPECTED, f"{package.name}: files {names}")
        check(all(info.date_time == STAMP for info in infos), f"{package.name}: every entry dated {STAMP}")
        for name in names:
            data = archive.read(name)
            if name.endswith(".dll"):
                dll = name.rsplit("/", 1)[1]
                built = (dll_dir / dll).read_bytes()
                check(data == built, f"{dll}: identical to {dll_dir / dll}")
                strings, versions = version_resource(data)
                check(versions == fixed, f"{dll}: fixed file and product version {version}")
                expected = {
                    "FileVersion": version,
                    "ProductVersion": version,
                    "ProductName": "torvik",
                    "OriginalFilename": dll,
                }
                check(all(strings.get(k) == v for k, v in expected.items()),
                      f"{dll}: {', '.join(f'{k} {strings.get(k)}' for k in expected)}")
                description = strings.get("FileDescription", "")
                check(LANGUAGES[dll] in description, f"{dll}: FileDescription \"{description}\"")
                check("the torvik developers" in strings.get("LegalCopyright", ""),
                      f"{dll}: LegalCopyright \"{strings.get('LegalCopyright')}\"")
            else:
                bare = data.replace(b"\r\n", b"").count(b"\n")
                check(bare == 0 and b"\r\n" in data, f"{name}: Windows line endings")

    if failures:
        print(f"{package}: {len(failures)} failures")
        return 1
    print(f"{package}: the data-folder layout, the inspected DLLs, version {version} in both")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
