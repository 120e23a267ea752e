#!/usr/bin/env bash
# Builds inkseal_<version>_amd64.deb from a built native tree:
#   scripts/package-deb.sh [build tree] [output folder]
# Everything with an install() rule is staged with cmake --install under
# /usr; the settings file, the maintainer scripts and the control file come
# from packaging/debian.  dpkg-deb over a staged tree rather than CPack: the
# conffile, its link and the maintainer scripts are ours either way, and
# dpkg-shlibdeps gives the Depends line Debian's own packages would get.
# The same tree and SOURCE_DATE_EPOCH give the same bytes: every file's time
# is clamped to it, and dpkg-deb sorts the members and stamps the archive
# with it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/package-common.sh
build=$(realpath "${1:-build/native}")
out=$(realpath -m "${2:-build/packages}")
version=$(package_version)
umask 022

stage=$(mktemp -d "${TMPDIR:-/tmp}/inkseal-deb.XXXXXX")
trap 'rm -rf "$stage"' EXIT
root=$stage/root

DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null
# Every program the package holds, the printer's included.
refuse_test_hooks $(find "$root" -type f -perm -u+x | sort)

# The programs read the file beside them; Debian keeps configuration in /etc.
install -D -m 644 packaging/debian/vod995.ini "$root/etc/inkseal/vod995.ini"
ln -s /etc/inkseal/vod995.ini "$root/usr/lib/inkseal/vod995.ini"

# The seal for the desktop menu's "Sign in to Inkseal".
if [ -e "$root/usr/share/applications/inkseal-sign-in.desktop" ]; then
  icon=$root/usr/share/icons/hicolor/48x48/apps/inkseal.png
  mkdir -p "$(dirname "$icon")"
  python3 packaging/debian/seal_png.py 48 "$icon"
  chmod 644 "$icon"
fi

doc=$root/usr/share/doc/inkseal
install -D -m 644 packaging/debian/copyright "$doc/copyright"
gzip -9n <packaging/debian/changelog >"$doc/changelog.gz"
# The user unit's Documentation= names it.
gzip -9n <README.md >"$doc/README.md.gz"
chmod 644 "$doc/changelog.gz" "$doc/README.md.gz"

mkdir "$root/DEBIAN"
for script in postinst prerm postrm; do
  install -m 755 "packaging/debian/$script" "$root/DEBIAN/$script"
done
# Every file under /etc is a conffile: an edited one survives upgrades.
(cd "$root" && find etc -type f | sort | sed 's|^|/|') >"$root/DEBIAN/conffiles"

# Depends from what the binaries really link.  GTK, which Ferrowend loads
# only to show a message, comes in through Brantwick, which links it.
elf_files=()
while IFS= read -r -d '' f; do
  [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] && elf_files+=("$f")
done < <(find "$root/usr" -type f -print0)
# What Debian's dh_strip removes beyond cmake's strip: the compilers' names.
for f in "${elf_files[@]}"; do
  objcopy --remove-section=.comment --remove-section=.note "$f"
done
mkdir "$stage/debian"
printf 'Source: inkseal\n\nPackage: inkseal\nArchitecture: amd64\n' >"$stage/debian/control"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O -e"${elf_files[@]}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
# Ferrowend hands the page to xdg-open.  GIO's proxy resolver follows the
# desktop's proxy settings only with glib-networking and GNOME's schemas.
depends="$shlibs, xdg-utils, glib-networking, gsettings-desktop-schemas"
# Configuration scripts (PAC) need libproxy's JavaScript engine: a large
# one on Debian 12 (JavaScriptCore), so only recommended; on Debian 13 the
# engine is part of libproxy1v5 and this name is an empty transitional
# package.
proxy_recommends="libproxy1-plugin-webkit"
recommends="Recommends: $proxy_recommends"$'\n'
if [ -e "$root/usr/lib/cups/backend/inkseal" ]; then
  # The printer queue needs a scheduler and lpadmin; the uploader alone does not.
  # cups-filters turns PostScript jobs into PDF.
  recommends="Recommends: $proxy_recommends, cups-daemon, cups-client, cups-filters"$'\n'
  install -D -m 644 packaging/debian/lintian-overrides "$root/usr/share/lintian/overrides/inkseal"
fi
installed_size=$(du -sk --apparent-size --exclude=DEBIAN "$root" | cut -f1)
sed -e "s|@VERSION@|$version|" -e "s|@INSTALLED_SIZE@|$installed_size|" -e "s|@DEPENDS@|$depends|" \
    packaging/debian/control.in | awk -v r="$recommends" '{ sub(/@RECOMMENDS@/, r); print }' >"$root/DEBIAN/control"

(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) \
  >"$root/DEBIAN/md5sums"

find "$root" -newermt "@$SOURCE_DATE_EPOCH" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$out"
deb=$out/inkseal_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
