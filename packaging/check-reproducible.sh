#!/bin/sh
# The release files rebuilt bit for bit: `make dist` in two clones of the last commit, at
# different paths, in different time zones, locales and umasks, and so at different times and
# with the sources checked out at different times, must give the same bytes for every file in
# dist/. .ci/run runs it after make test; uncommitted changes are not part of what it checks.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
COMMIT=$(git -C "$ROOT" rev-parse HEAD)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# dist FOLDER TZ LC_ALL UMASK
dist() {
  echo "== make dist of $COMMIT in $1 (TZ=$2 LC_ALL=$3 umask $4)"
  git clone -q "$ROOT" "$1"
  git -C "$1" checkout -q --detach "$COMMIT"
  (cd "$1" && umask "$4" && TZ=$2 LC_ALL=$3 make --no-print-directory dist)
}
ONE=$WORK/one
TWO=$WORK/a/longer/path/to/two
dist "$ONE" UTC C.UTF-8 022
dist "$TWO" America/Sao_Paulo C 077

status=0
if [ "$(ls "$ONE/dist")" != "$(ls "$TWO/dist")" ]; then
  echo "different files in dist/:" $(ls "$ONE/dist") "against" $(ls "$TWO/dist")
  status=1
fi
for FILE in $(ls "$ONE/dist"); do
  if cmp "$ONE/dist/$FILE" "$TWO/dist/$FILE"; then
    echo "same bytes: $FILE"
  else
    status=1
    # For a package, where the two differ in names, modes, owners or times.
    case $FILE in
    *.deb)
      dpkg-deb -c "$ONE/dist/$FILE" >"$WORK/one.list"
      dpkg-deb -c "$TWO/dist/$FILE" >"$WORK/two.list"
      diff -u "$WORK/one.list" "$WORK/two.list" || true
      ;;
    esac
  fi
done
if [ $status = 0 ]; then
  echo "dist/ rebuilt bit for bit"
else
  echo "dist/ differs between the two builds"
fi
exit $status
