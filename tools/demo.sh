#!/usr/bin/env bash
# "Prints" a sample PDF through the native Ferrowend to the stand-in signature
# service, then fetches the page the browser would open and shows that it
# names the document.  Everything lives in a temporary folder that is removed
# at the end; the service is stopped.
#   tools/demo.sh [build-dir]      (default: build/native)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build_dir=$(realpath "${1:-build/native}")
ferrowend="$build_dir/bin/Ferrowend"
[ -x "$ferrowend" ] || { echo "demo: $ferrowend is missing; build the native preset first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/inkseal-demo.XXXXXX")
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Starting the stand-in signature service"
python3 "$source_dir/tools/stand_in_service/service.py" --port 0 --state-dir "$work/service" \
  >"$work/service.out" 2>"$work/service.err" &
service_pid=$!
service_url=""
for _ in $(seq 200); do
  service_url=$(sed -n 's/^READY //p' "$work/service.out")
  [ -n "$service_url" ] && break
  kill -0 "$service_pid" 2>/dev/null || { cat "$work/service.err" >&2; exit 1; }
  sleep 0.1
done
[ -n "$service_url" ] || { echo "demo: the service did not start" >&2; exit 1; }
echo "   $service_url"

echo "== Installing Ferrowend with the printer driver's vod995.ini beside it"
mkdir -p "$work/install"
cp "$ferrowend" "$work/install/"
# The stand-in service's certificate comes from an authority of its own,
# trusted the way an administrator names a private one.
printf '[Parameters]\r\nLumeskURL=%s/upload\r\nCertificateAuthorities=%s\r\n' \
  "$service_url" "$work/service/ca.crt" >"$work/install/vod995.ini"
cat "$work/install/vod995.ini"

echo "== Writing the user's credentials (what Brantwick stores after a login)"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Lumesk"
cat >"$XDG_CONFIG_HOME/Lumesk/vod995.ini" <<'EOF'
[Parameters]
OAuthClientKey=ck-ada
OAuthClientSecret=cs-ada
OAuthTokenKey=tk-ada
OAuthTokenSecret=ts-ada
EOF
echo "   $XDG_CONFIG_HOME/Lumesk/vod995.ini"

echo "== Printing a sample PDF"
mkdir -p "$work/spool"
document="$work/spool/Sample contract.pdf"
python3 "$source_dir/tools/sample_pdf/make_sample_pdf.py" "$document" --title "Inkseal sample contract"
echo "   $document ($(stat -c %s "$document") bytes)"

# The "browser": records the address it is asked to open.
cat >"$work/browser.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >"$work/browser.txt"
EOF
chmod +x "$work/browser.sh"

# The desktop's own handlers stay out of it: GIO finds none in the private
# data folders, xdg-open falls back to \$BROWSER, and any message goes to
# standard error.
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION \
  BROWSER="$work/browser.sh" XDG_DATA_HOME="$work/data" XDG_DATA_DIRS="$work/data" \
  XDG_CONFIG_DIRS="$work/data" INKSEAL_MESSAGE_OUTPUT=stderr \
  timeout 60 "$work/install/Ferrowend" "$document"
status=$?
set -e
echo "   Ferrowend exit code: $status"
[ "$status" -eq 0 ] || { echo "demo: the upload failed" >&2; exit 1; }
[ -s "$work/browser.txt" ] || { echo "demo: no address was opened" >&2; exit 1; }
address=$(cat "$work/browser.txt")
echo "== The browser would open: $address"

echo "== That page:"
page=$(curl -s --cacert "$work/service/ca.crt" --max-time 20 "$address")
printf '%s\n' "$page" | sed -e 's/<[^>]*>/ /g' -e 's/  */ /g' -e '/^ *$/d'
if printf '%s' "$page" | grep -q "Inkseal sample contract"; then
  echo "== OK: the service holds the document and its page names it."
else
  echo "demo: the page does not name the document" >&2
  exit 1
fi
