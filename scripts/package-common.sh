# Sourced by the package scripts, from the top of the source tree.

package_version() {
  sed -n 's/^project(Inkseal VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt
}

# Every time stamp in a package is the commit's time (the changelog's in a
# copy without git's history), so that two builds of one commit give the same
# bytes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null ||
                      dpkg-parsechangelog -l packaging/debian/changelog -STimestamp)
fi
export SOURCE_DATE_EPOCH

# sign_code <file>: signs a Windows executable or installer in place with the
# PKCS#12 file named by INKSEAL_SIGNING_PKCS12 and its password from
# INKSEAL_SIGNING_PASSWORD.  The password reaches osslsigncode through a
# pipe (printf is the shell's own), never on a command line.
sign_code() {
  [ -n "${INKSEAL_SIGNING_PKCS12:-}" ] || return 0
  osslsigncode sign -pkcs12 "$INKSEAL_SIGNING_PKCS12" -readpass <(printf '%s' "${INKSEAL_SIGNING_PASSWORD-}") \
    -h sha256 -n Inkseal -i https://inkseal.app -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

signing_note() {
  if [ -z "${INKSEAL_SIGNING_PKCS12:-}" ]; then
    echo "$1: INKSEAL_SIGNING_PKCS12 is not set: the programs and the installer are not signed" >&2
  fi
}

# refuse_test_hooks <program>...: a package ships no override that only tests
# need (INKSEAL_TEST_HOOKS, on in every tree built with tests).  The names are
# looked for in the programs themselves, in both encodings a program may keep
# them in.  The packaging tests package their own trees and say so with
# INKSEAL_PACKAGE_TEST_TREE=1.
refuse_test_hooks() {
  [ "${INKSEAL_PACKAGE_TEST_TREE:-}" = 1 ] && return 0
  local found
  found=$(python3 - "$@" <<'PY'
import sys
hooks = ("INKSEAL_SERVICE_HOST", "INKSEAL_TEST_RESPONSE_DEADLINE_MS", "INKSEAL_TEST_RETRY_SECONDS")
for path in sys.argv[1:]:
    data = open(path, "rb").read()
    for hook in hooks:
        if hook.encode("ascii") in data or hook.encode("utf-16-le") in data:
            print(f"{path}: {hook}")
PY
)
  if [ -n "$found" ]; then
    echo "refusing to package programs built with test hooks (build them with scripts/package.sh):" >&2
    echo "$found" >&2
    exit 1
  fi
}
