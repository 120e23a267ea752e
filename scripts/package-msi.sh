#!/usr/bin/env bash
# Builds Inkseal-<version>-x64.msi from a built Windows tree:
#   scripts/package-msi.sh [build tree] [output folder]
# wixl (msitools) compiles packaging/windows/inkseal.wxs; what wixl has no
# element or attribute for is then set in the database with msibuild: the
# versions of the programs, the condition of the upload address's component,
# the properties a per-machine installation takes from the command line and
# the inclusive upper bound of the upgrade.  With INKSEAL_SIGNING_PKCS12 set
# (see scripts/package-common.sh) both programs and then the package are
# signed.  The same tree and SOURCE_DATE_EPOCH give the same bytes, the
# signatures aside.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/package-common.sh
build=$(realpath "${1:-build/windows}")
out=$(realpath -m "${2:-build/packages}")
version=$(package_version)
secure_properties="LUMESKURL;SAVEDLUMESKURL;SAVEDPREVIOUSLUMESKURL;INSTALLFOLDER;SAVEDINSTALLFOLDER"
signing_note package-msi

stage=$(mktemp -d "${TMPDIR:-/tmp}/inkseal-msi.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# wixl finds the files relative to the source it compiles.  strip writes a
# PE time stamp: SOURCE_DATE_EPOCH's, not the clock's.
cp packaging/windows/inkseal.wxs "$stage/"
for program in Ferrowend Brantwick; do
  x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$build/bin/$program.exe"
done
x86_64-w64-mingw32-strip -o "$stage/InksealSetup.dll" "$build/bin/InksealSetup.dll"
refuse_test_hooks "$stage/Ferrowend.exe" "$stage/Brantwick.exe"
cp "$build/authenticator/brantwick.ico" "$stage/Inkseal.ico"

# The product and package codes come from what the package holds and how it
# is made: the same programs give the same package, different ones a new
# product that replaces the old.
codes=$(cat "$stage"/{Ferrowend.exe,Brantwick.exe,InksealSetup.dll,Inkseal.ico,inkseal.wxs} \
            scripts/package-msi.sh packaging/windows/msi_summary.py |
        python3 -c 'import hashlib, sys, uuid
digest = hashlib.sha256(sys.stdin.buffer.read() + sys.argv[1].encode()).hexdigest()
for kind in ("product", "package"):
    print(str(uuid.uuid5(uuid.NAMESPACE_URL, "inkseal:" + kind + ":" + digest)).upper())' "$version")
product_code=$(sed -n 1p <<<"$codes")
package_code=$(sed -n 2p <<<"$codes")
arp_size=$(( ($(stat -c %s "$stage/Ferrowend.exe") + $(stat -c %s "$stage/Brantwick.exe") + 1023) / 1024 ))

for program in Ferrowend Brantwick; do sign_code "$stage/$program.exe"; done
# The cabinet records each file's time.
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/*

msi=$stage/inkseal.msi
(cd "$stage" && wixl --arch x64 -D "Version=$version" -D "ProductCode={$product_code}" \
   -D "ArpSize=$arp_size" -D "SetupActions=InksealSetup.dll" \
   -o "$msi" inkseal.wxs)
[ -f "$msi" ] || { echo "wixl made no package" >&2; exit 1; }

# One statement per call: msibuild 0.101 can crash on several at once.
query() { msibuild "$msi" -q "$1"; }
query "UPDATE \`Component\` SET \`Condition\` = 'LUMESKURL OR SAVEDLUMESKURL' WHERE \`Component\` = 'UploadAddress'"
# The upload address is written where its component goes in and given back
# where it goes out.  Types: a DLL from the Binary table (1), run from the
# script (1024) as the installer's service (2048), the rollback one only on
# rollback (256).
query "UPDATE \`InstallExecuteSequence\` SET \`Condition\` = '?UploadAddress=3 AND \$UploadAddress=2' WHERE \`Action\` = 'RestoreUploadAddress'"
for action in RollbackUploadAddress WriteUploadAddress; do
  query "UPDATE \`InstallExecuteSequence\` SET \`Condition\` = '\$UploadAddress=3' WHERE \`Action\` = '$action'"
done
# The install folder is closed wherever the programs go in.
for action in LockInstallFolder LockInstalledFiles; do
  query "UPDATE \`InstallExecuteSequence\` SET \`Condition\` = '\$Ferrowend=3' WHERE \`Action\` = '$action'"
done
query "UPDATE \`CustomAction\` SET \`Type\` = 1 WHERE \`Action\` = 'PrepareUploadAddress'"
query "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = 'RollbackUploadAddress'"
for action in WriteUploadAddress RestoreUploadAddress LockInstallFolder LockInstalledFiles; do
  query "UPDATE \`CustomAction\` SET \`Type\` = 3073 WHERE \`Action\` = '$action'"
done
secure=$(msiinfo export "$msi" Property | awk -F '\t' '$1 == "SecureCustomProperties" { sub(/\r$/, "", $2); print $2 }')
query "UPDATE \`Property\` SET \`Value\` = '$secure;$secure_properties' WHERE \`Property\` = 'SecureCustomProperties'"
# wixl drops IncludeMaximum: the same version must count as one to replace
# (256 minimum inclusive + 512 maximum inclusive).  Attributes is part of the
# Upgrade table's key, which an UPDATE may not change: the table goes in anew.
msiinfo export "$msi" Upgrade |
  awk 'BEGIN { FS = OFS = "\t" } $7 ~ /^INKSEALREPLACED\r?$/ { $5 = 768 } { print }' >"$stage/Upgrade.idt"
(cd "$stage" && msibuild "$msi" -i Upgrade.idt)
# wixl leaves the programs unversioned; Windows Installer compares versions
# to decide whether a file on disk may be replaced.
for program in Ferrowend Brantwick; do
  file_version=$(python3 packaging/windows/pe_version.py "$stage/$program.exe")
  query "UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = '$program.exe'"
done

grep -q $'^UploadAddress\t.*\tLUMESKURL OR SAVEDLUMESKURL\t' <(msiinfo export "$msi" Component) ||
  { echo "the upload address lost its condition" >&2; exit 1; }
grep -q $'\t768\t\tINKSEALREPLACED' <(msiinfo export "$msi" Upgrade) ||
  { echo "the same version would not be replaced" >&2; exit 1; }
# Debian's python3, which has olefile, whatever python3 comes first on PATH.
/usr/bin/python3 packaging/windows/msi_summary.py "$msi" "{$package_code}" "$SOURCE_DATE_EPOCH"
sign_code "$msi"

mkdir -p "$out"
target=$out/Inkseal-$version-x64.msi
mv "$msi" "$target"
echo "$target"
