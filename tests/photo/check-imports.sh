#!/usr/bin/env bash
# Our plug-ins and the codec DLL shipped beside them may import only what
# Windows itself ships, not even each other (the HEIF plug-ins load the
# codec DLL by full path at run time, so any host finds it): a compiler
# runtime DLL
# (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll) would be missing
# on the user's machine and the plug-in would silently not load.
#   check-imports.sh OBJDUMP PLUGIN_DIR
set -uo pipefail
objdump=$1 dir=$2
allowed='^(KERNEL32|msvcrt|USER32|GDI32|ADVAPI32)\.dll$'
bad=0 count=0
for f in "$dir"/*.spi "$dir"/*.dll; do
  [[ -f $f ]] || continue
  count=$((count + 1))
  while read -r name; do
    if ! grep -qiE "$allowed" <<<"$name"; then
      echo "check-imports: $(basename "$f") imports $name" >&2
      bad=1
    fi
  done < <("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
if [[ $count -lt 4 ]]; then
  echo "check-imports: expected three plug-ins and the codec DLL in $dir, found $count files" >&2
  exit 1
fi
[[ $bad -eq 0 ]] && echo "check-imports: $count files import only system DLLs"
