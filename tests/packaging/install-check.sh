#!/usr/bin/env bash
# install-check.sh SOURCE_DIR BUILD_DIR: installs the build into a scratch
# DESTDIR and checks what a user's system receives: programs, helper
# libraries, manual, manual pages naming every option the programs accept,
# the desktop file's icon and well-formed AppStream metainfo.
set -euo pipefail
src=$1
build=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
root=$stage/usr

for program in tamsin tamsin-mkimage tamsin-gui; do
  [ -x "$root/bin/$program" ] || fail "bin/$program is not installed"
  [ -s "$root/share/man/man1/$program.1.gz" ] || fail "man1/$program.1.gz is not installed"
done
for helper in Disk32.dll disk2.dll; do
  found=$(find "$root/lib" -path "*/tamsin/$helper" -type f | head -1)
  [ -n "$found" ] || fail "helper $helper is not installed"
done
[ -f "$root/share/doc/tamsin/manual/index.html" ] || fail "the manual is not installed"

desktop=$root/share/applications/tamsin-gui.desktop
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the desktop file's icon '$icon' is not installed"
metainfo=$(ls "$root"/share/metainfo/*.metainfo.xml 2>/dev/null | head -1)
if [ -z "$metainfo" ]; then
  fail "no AppStream metainfo"
else
  id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo")
  [ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "metainfo file name does not match its id '$id'"
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
    fail "metainfo does not launch $(basename "$desktop")"
  if command -v xmllint >/dev/null; then
    xmllint --noout "$metainfo" "$root/share/icons/hicolor/scalable/apps/$icon.svg" || fail "metainfo or icon is not well-formed XML"
  fi
fi

# Every long option a program's --help prints must be in its manual page,
# and the page must carry the program's version.
page_options() { zcat "$1" | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u; }
help_options() { "$@" 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u; }
check_page() {
  local page=$1 version=$2
  shift 2
  local missing
  missing=$(comm -23 <(help_options "$@") <(page_options "$page"))
  [ -z "$missing" ] || fail "$(basename "$page") lacks: $(echo $missing)"
  zcat "$page" | grep -q "^\.TH .*\"tamsin $version\"" || fail "$(basename "$page") does not show version $version"
}
version=$("$root/bin/tamsin" --version | awk '{print $2}')
man1=$root/share/man/man1
{
  "$root/bin/tamsin" --help
  for command in disks volumes ls info recover cat find compressed damage; do
    "$root/bin/tamsin" "$command" --help
  done
  "$root/bin/tamsin" snapshot save --help
} >"$stage/tamsin-help" 2>&1 || true
check_page "$man1/tamsin.1.gz" "$version" cat "$stage/tamsin-help"
for command in disks volumes ls info recover cat find compressed damage snapshot; do
  zcat "$man1/tamsin.1.gz" | grep -q "^\.B tamsin $command" || fail "tamsin.1 lacks the command $command"
done
check_page "$man1/tamsin-gui.1.gz" "$version" "$root/bin/tamsin-gui" --help
check_page "$man1/tamsin-mkimage.1.gz" "$version" "$root/bin/tamsin-mkimage" --help
# The pages render without a formatter warning (where man is installed).
if command -v man >/dev/null; then
  for page in "$man1"/*.1.gz; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
  done
fi
[ -z "$metainfo" ] || grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo does not name release $version"

[ "$failures" -eq 0 ] && echo "install-check: all good" || exit 1
