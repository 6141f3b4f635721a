#!/usr/bin/env bash
# Inspects the built Windows DLLs the way the terminal's loader sees them:
#   scripts/check-dlls.sh build/mingw32          (the 32-bit deliverables)
#   scripts/check-dlls.sh build/mingw64          (the 64-bit load-test build)
# For each of TORVIK_ENG.dll and TORVIK_RUS.dll it asserts
#   - the file format: PE32 for Intel 80386 (or PE32+ for x86-64);
#   - exactly the fourteen exports under their plain names, nothing else;
#   - imports from KERNEL32.dll and msvcrt.dll only;
#   - the catalogue bytes: ASCII in ENG, code page 1251 in RUS;
#   - no fninit anywhere: the runtime's thread-attach reset of the x87 unit
#     is replaced by a no-op (engine/mingw_fpreset.cpp);
#   - 32-bit: every ret of every export removes the export's argument bytes
#     (stdcall: Rft 72, IniAll 8, LOT 76, ErrorDescription 4, the rest 0).
set -euo pipefail

dir=${1:?usage: check-dlls.sh BUILD_DIR}

# name and argument bytes of every export
exports="Rft:72 IniAll:8 LOT:76 OpenSignal:0 CloseSignal:0 rews:0 ErrorDescription:4
PoTP:0 PoSL:0 Dpp:0 DSP:0 DCloseSP:0 HHH_1:0 HHH_2:0"

failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

check_dll() {
  local dll=$1 objdump=$2 arch=$3
  local name=${dll##*/}
  [ -f "$dll" ] || { fail "$name: not built ($dll)"; return; }
  local headers disasm
  headers=$("$objdump" -p "$dll")

  # The file format and the optional header's magic.
  if [ "$arch" = i386 ]; then
    grep -q "file format pei-i386" <<<"$headers" || fail "$name: not pei-i386"
    grep -Eq "^Magic[[:space:]]+010b[[:space:]]+\(PE32\)" <<<"$headers" || fail "$name: not PE32"
    grep -q "architecture: i386" <<<"$("$objdump" -f "$dll")" || fail "$name: not Intel 80386"
  else
    grep -q "file format pei-x86-64" <<<"$headers" || fail "$name: not pei-x86-64"
    grep -Eq "^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)" <<<"$headers" || fail "$name: not PE32+"
  fi
  grep -q $'^\tDLL$' <<<"$(sed -n '/^Characteristics/,/^$/p' <<<"$headers")" || fail "$name: not flagged as a DLL"

  # Exports: "name index" pairs from the name pointer table, and the address
  # of every index from the export address table.
  local names
  names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
          awk '/^\t\[/ { gsub(/[\[\]]/, " "); print $2 }' | sort)
  local expected
  expected=$(tr ' ' '\n' <<<"$exports" | sed '/^$/d; s/:.*//' | sort)
  if [ "$names" != "$expected" ]; then
    fail "$name: export names differ from the fourteen"
    diff <(echo "$expected") <(echo "$names") | sed 's/^/    /' || true
  fi
  local address_count
  address_count=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" | grep -c 'Export RVA' || true)
  [ "$address_count" = 14 ] || fail "$name: $address_count export addresses, expected 14 (no aliases, no ordinal-only exports)"
  grep -q "Forwarder RVA" <<<"$headers" && fail "$name: forwarded exports"

  # Imports: the DLL names of the import table.
  local imports
  imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -f | tr '\n' ' ')
  [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "$name: imports [$imports], expected KERNEL32.dll and msvcrt.dll only"

  # The catalogue as the host receives it: English ASCII, Russian code page
  # 1251 (the text for 2 is these 12 bytes and a NUL), never UTF-8.
  local common1251='\xCE\xE1\xF9\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0\x00'
  local commonUtf8='\xD0\x9E\xD0\xB1\xD1\x89\xD0\xB0\xD1\x8F'
  local unknown1251='\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0\x00'
  has_bytes() { LC_ALL=C grep -qaP "$1" "$dll"; }
  case "$name" in
    TORVIK_ENG.dll)
      has_bytes 'Common error\.\x00' && has_bytes 'Unknown error\x00' || fail "$name: English texts missing"
      has_bytes "$common1251" && fail "$name: carries Russian texts"
      ;;
    TORVIK_RUS.dll)
      has_bytes "$common1251" && has_bytes "$unknown1251" || fail "$name: Russian texts in code page 1251 missing"
      has_bytes "$commonUtf8" && fail "$name: Russian texts in UTF-8"
      has_bytes 'Common error\.\x00' && fail "$name: carries English texts"
      ;;
  esac

  disasm=$("$objdump" -d --no-show-raw-insn "$dll")
  grep -q $'\tfninit' <<<"$disasm" && fail "$name: resets the x87 unit (fninit)"

  [ "$arch" = i386 ] || return 0

  # Stack cleanup: every ret in the body of every export.
  local base
  base=$(awk '/^ImageBase/ { print $2 }' <<<"$headers")
  local entry export bytes index rva address rets
  for entry in $exports; do
    export=${entry%%:*}
    bytes=${entry##*:}
    index=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
            awk -v n="$export" '/^\t\[/ { gsub(/[\[\]]/, " "); if ($2 == n) print $1 }')
    [ -n "$index" ] || continue
    rva=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" |
          awk -v i="$index" '/Export RVA/ { gsub(/[\[\]]/, " "); if ($1 == i) print $4 }')
    address=$(printf '%x' $((0x$base + 0x$rva)))
    # The function's block: from its label to the blank line before the next.
    rets=$(awk -v a="$address" '
      $0 ~ "^0*" a " <" { inside = 1; found = 1; next }
      inside && /^$/ { exit }
      inside && /\tret/ { sub(/.*\tret[lw]?[ \t]*/, ""); print ($0 == "" ? "0" : $0) }
      END { if (!found) print "missing" }' <<<"$disasm" | sort -u | tr '\n' ' ')
    local want
    if [ "$bytes" = 0 ]; then want="0 "; else want="\$$(printf '0x%x' "$bytes") "; fi
    if [ "$rets" != "$want" ]; then
      fail "$name: $export returns with [${rets}], expected ${want% } (${bytes} argument bytes)"
    else
      echo "ok   $name: $export ret ${want% }"
    fi
  done
}

# The format of the ENG DLL picks the objdump and the checks. (Whole outputs
# go to grep: with pipefail, grep -q ending a pipe early fails the writer.)
if grep -q "pei-i386" <<<"$("${OBJDUMP_I686:-i686-w64-mingw32-objdump}" -f "$dir/TORVIK_ENG.dll" 2>/dev/null || true)"; then
  objdump=${OBJDUMP_I686:-i686-w64-mingw32-objdump}
  arch=i386
else
  objdump=${OBJDUMP_X86_64:-x86_64-w64-mingw32-objdump}
  arch=x86-64
fi
command -v "$objdump" >/dev/null || { echo "FAIL $objdump not found"; exit 1; }

for dll in "$dir/TORVIK_ENG.dll" "$dir/TORVIK_RUS.dll"; do
  check_dll "$dll" "$objdump" "$arch"
done

if [ "$failures" -ne 0 ]; then
  echo "DLL inspection of $dir: $failures failures"
  exit 1
fi
echo "DLL inspection of $dir ($arch): both DLLs export the fourteen plain names, import only KERNEL32.dll and msvcrt.dll and carry their catalogue"
