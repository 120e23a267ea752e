#!/usr/bin/env bash
# Builds Inkseal-<version>-x64.msi from a built Windows tree:
#   scripts/package-msi.sh [build tree] [output folder]
# wixl (msitools) compiles packaging/windows/inkseal.wxs; what wixl has no
# element or attribute for is then set in the database with msibuild: the
# IniFile table that writes LumeskURL into vod995.ini, the condition that
# makes that happen only with LUMESKURL, and the properties a per-machine
# installation takes from the command line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/windows}")
out=$(realpath -m "${2:-build/packages}")
version=$(sed -n 's/^project(Inkseal VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
secure_properties="LUMESKURL;SAVEDLUMESKURL;INSTALLFOLDER;SAVEDINSTALLFOLDER"

stage=$(mktemp -d "${TMPDIR:-/tmp}/inkseal-msi.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# wixl finds the files relative to the source it compiles.
cp packaging/windows/inkseal.wxs "$stage/"
for program in Ferrowend Brantwick; do
  x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$build/bin/$program.exe"
done
msi=$stage/inkseal.msi
(cd "$stage" && wixl --arch x64 -D "Version=$version" -o "$msi" inkseal.wxs)
[ -f "$msi" ] || { echo "wixl made no package" >&2; exit 1; }

# msiinfo writes tab-separated rows with CR LF line ends.
msiinfo export "$msi" Component |
  awk 'BEGIN { FS = OFS = "\t" } $1 == "UploadAddress" { $5 = "LUMESKURL" } { print }' >"$stage/Component.idt"
msiinfo export "$msi" Property |
  awk -v extra="$secure_properties" 'BEGIN { FS = OFS = "\t" }
    $1 == "SecureCustomProperties" { sub(/\r$/, "", $2); $2 = $2 ";" extra "\r" } { print }' >"$stage/Property.idt"
# wixl drops IncludeMaximum: the same version must count as one to replace
# (256 minimum inclusive + 512 maximum inclusive).
msiinfo export "$msi" Upgrade |
  awk 'BEGIN { FS = OFS = "\t" } $7 ~ /^INKSEALREPLACED\r?$/ { $5 = 768 } { print }' >"$stage/Upgrade.idt"
cp packaging/windows/inifile.idt "$stage/IniFile.idt"
# One table per call: msibuild 0.101 can crash importing several at once.
for table in Component Property Upgrade IniFile; do
  (cd "$stage" && msibuild "$msi" -i "$table.idt")
done
grep -q $'^UploadAddress\t.*\tLUMESKURL\t' <(msiinfo export "$msi" Component) ||
  { echo "the upload address lost its condition" >&2; exit 1; }
grep -q $'\t768\t\tINKSEALREPLACED' <(msiinfo export "$msi" Upgrade) ||
  { echo "the same version would not be replaced" >&2; exit 1; }

mkdir -p "$out"
target=$out/Inkseal-$version-x64.msi
mv "$msi" "$target"
echo "$target"
