#!/usr/bin/env bash
# Builds the wizard and runs it on a demo practice it generates: a main database and
# two stations (tools/practice/generate.py), each station's data as its medium carries
# it (a zip archive of "Identifikace.txt" and the backup "Pelvar.cb0"), the practice's
# own "Meldrun.ini" and registry file (PELVAR_REGISTRY) naming the stations and the
# table groups. Embedded Firebird: nothing to start. The window shows when there is a
# display; otherwise the run is offscreen. The wizard goes through every page by its
# automatic continuation; the end prints where the results are and one line per station.
#
#   bash scripts/demo.sh [practice directory]    (default: build/demo-practice)
#
# PELVAR_DEMO_BUILD names the build directory (default build/demo).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

bash scripts/deps.sh >/dev/null

export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime
BUILD=$(realpath -m "${PELVAR_DEMO_BUILD:-build/demo}")
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELVAR_TESTS=OFF \
    -DPELVAR_BENCH=OFF >/dev/null
fi
echo "Sestavení průvodce ($BUILD)..."
if ! cmake --build "$BUILD" --target meldrun meldrun_demo >"$BUILD/demo-build.log" 2>&1; then
  cat "$BUILD/demo-build.log"
  exit 1
fi

DEMO=$(realpath -m "${1:-$ROOT/build/demo-practice}")
rm -rf "$DEMO"
mkdir -p "$DEMO/Data" "$DEMO/Zaloha" "$DEMO/media/pc1" "$DEMO/media/pc2" "$DEMO/generated"
echo "Ukázková praxe: $DEMO"
python3 tools/practice/generate.py --quiet --seed demo --size small \
  --main "$DEMO/Data/Pelvar.fdb" \
  --station "$DEMO/generated/pc1.fdb" --station "$DEMO/generated/pc2.fdb"

# Each station hands in its data as a zip archive on its medium.
for n in 1 2; do
  gbak -b -user SYSDBA -password masterkey "$DEMO/generated/pc$n.fdb" "$DEMO/generated/pc$n.fbk"
  python3 - "$DEMO/media/pc$n/stanice$n.zip" "PC$n" "$DEMO/generated/pc$n.fbk" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('Identifikace.txt', sys.argv[2] + '\r\n')
    z.write(sys.argv[3], 'Pelvar.cb0')
EOF
done
rm -rf "$DEMO/generated"

# The practice's settings file, next to the program as the wizard expects it.
printf '%s\r\n' \
  '[DATABAZE]' "Path=$DEMO/Data" 'DBFileName=Pelvar.fdb' "BkpPath=$DEMO/Zaloha" 'BkpFileName=Pelvar.gbk' \
  '[PROGRAM_FLOW]' 'CommitAfter=900' 'WorkFlowCycles=1' \
  '[RESULTS]' 'RequestForDestination=NE' \
  '[ARCHIV]' 'ArchDir=ARCHIV' >"$DEMO/Meldrun.ini"

# The registry as the last complete run left it: the stations and the table groups.
KEY='HKEY_CURRENT_USER\Software\Brontek\Pelvar'
{
  echo 'PELVAR REGISTRY 1'
  echo
  echo "[$KEY\\LastValues]"
  echo "\"Path\"=\"PC1|$DEMO/media/pc1/stanice1.zip;PC2|$DEMO/media/pc2/stanice2.zip\""
  for box in Zaklad ExPartner ExPacient Karty Doklady Ciselniky OrgStruktura; do
    echo "\"CB_$box.Checked\"=dword:00000001"
  done
  echo '"CB_Uzaverky.Checked"=dword:00000000'
  echo "[$KEY\\AutoChange]"
  echo '"CB_AutoChange.Checked"=dword:00000001'
  echo "[$KEY\\VerifyZaloha]"
  echo '"CB_VerifyZaloha.Checked"=dword:00000001'
  echo "[$KEY\\PonechatData]"
  echo '"CB_PonechatData.Checked"=dword:00000001'
} >"$DEMO/registry.reg"
export PELVAR_REGISTRY="$DEMO/registry.reg"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "Bez displeje: okno průvodce běží mimo obrazovku."
fi

cd "$DEMO"
exec "$BUILD/tools/demo/meldrun_demo" "$DEMO"
