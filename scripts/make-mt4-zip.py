#!/usr/bin/python3
"""Writes the MetaTrader 4 package, laid out as the terminal's data folder.

    make-mt4-zip.py OUTPUT.zip SOURCE_DIR TORVIK_ENG.dll TORVIK_RUS.dll

Called by the CMake target torvik_mt4_package (scripts/package-mt4.sh). The
archive is reproducible: the same inputs give the same bytes, with the
entries in a fixed order, one fixed time stamp and fixed attributes. Text
files get Windows line endings.
"""
import sys
import zipfile
from pathlib import Path

# Every entry's time stamp (zip stores local time without a zone).
STAMP = (2026, 1, 1, 0, 0, 0)


def entries(source: Path, eng: Path, rus: Path):
    """(name in the archive, file, is text), in archive order."""
    mql4 = source / "mql4"
    return [
        ("LICENSE", source / "LICENSE", True),
        ("MQL4/Experts/TorvikExpert.mq4", mql4 / "TorvikExpert.mq4", True),
        ("MQL4/Include/Torvik.mqh", mql4 / "Torvik.mqh", True),
        ("MQL4/Libraries/TORVIK_ENG.dll", eng, False),
        ("MQL4/Libraries/TORVIK_RUS.dll", rus, False),
        ("MQL4/Presets/TorvikExpert-default.set", mql4 / "Presets" / "TorvikExpert-default.set", True),
        ("MQL4/Presets/TorvikExpert-low-risk.set", mql4 / "Presets" / "TorvikExpert-low-risk.set", True),
        ("README.txt", mql4 / "README.txt", True),
    ]


def content(path: Path, text: bool) -> bytes:
    data = path.read_bytes()
    if text:
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return data


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    output, source, eng, rus = Path(argv[1]), Path(argv[2]), Path(argv[3]), Path(argv[4])
    partial = output.with_name(output.name + ".partial")
    with zipfile.ZipFile(partial, "w") as archive:
        for name, path, text in entries(source, eng, rus):
            info = zipfile.ZipInfo(name, date_time=STAMP)
            info.create_system = 0  # MS-DOS attributes, the same on every host
            info.external_attr = 0
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, content(path, text), compresslevel=9)
    partial.replace(output)


if __name__ == "__main__":
    main(sys.argv)
