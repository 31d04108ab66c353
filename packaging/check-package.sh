#!/usr/bin/env bash
# The Debian package as a user meets it: it installs with its dependencies
# (never a -dev package), the installed zembra runs from a folder it cannot
# write (as "nobody" when run as root), keeps its settings under
# $XDG_CONFIG_HOME/zembra/, finds its language files in /usr/share/zembra,
# scans and rips the sample disc, its man pages render, lintian finds nothing
# to object to, and dpkg -r removes every file it installed.
#   packaging/check-package.sh zembra_VERSION_ARCH.deb
set -euo pipefail
deb=$(realpath "$1")
source=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "check-package: FAIL: $*" >&2; exit 1; }
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "check-package: run as root or install sudo" >&2; exit 1; }
  sudo_cmd=(sudo)
fi

# Debian's own package checker, every error and warning. The maintainer
# address is a placeholder until the project has a real one.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog "$deb" ||
    fail "lintian found errors or warnings"
elif [ -n "${CI:-}" ]; then
  fail "lintian is missing"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"
if grep -q -- "-dev\b" <<<"$depends"; then fail "a -dev package in Depends"; fi
if [ "$(dpkg-deb -c "$deb" | grep -c "usr/bin/zembra-gui$")" -gt 0 ]; then
  grep -q libqt6widgets6 <<<"$depends" || fail "zembra-gui without libqt6widgets6 in Depends"
fi

"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
mapfile -t installed < <(dpkg -L zembra)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -p "$work/run"
cp -r "$source/samples/VIDEO_TS" "$work/run/"
# The program's folder must not be writable by whoever runs it.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$work/run"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
run() {
  (cd "$work/run" && "${as_user[@]}" env -u ZEMBRA_PROGRAM_DIR HOME="$work/run/home" \
    XDG_CONFIG_HOME="$work/run/config" XDG_DOCUMENTS_DIR="$work/run/docs" "$@")
}
run test ! -w /usr/bin || fail "/usr/bin is writable for the user running the check"

version=$(dpkg-deb -f "$deb" Version)
[ "$(run zembra --version)" = "zembra $version" ] || fail "zembra --version: $(run zembra --version)"
run zembra scan VIDEO_TS | grep -q "Length:00:00:06" || fail "zembra scan: $(run zembra scan VIDEO_TS)"
run zembra rip VIDEO_TS --format 14 --output-dir out --name sample --yes --quiet --save ||
  fail "zembra rip failed"
[ "$(stat -c %s "$work/run/out/sample.mpg")" -gt 100000 ] || fail "the rip wrote no file"
if command -v ffprobe >/dev/null; then
  streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$work/run/out/sample.mpg")
  grep -q "^mpeg1video" <<<"$streams" || fail "the rip's file holds no MPEG-1 video: $streams"
fi
for f in options.ini config.ini langs/English.ini langs/Deutsch.ini; do
  [ -f "$work/run/config/zembra/$f" ] || fail "no $f in \$XDG_CONFIG_HOME/zembra"
done
for f in options.ini config.ini langs; do
  [ ! -e "/usr/bin/$f" ] || fail "/usr/bin/$f was written"
done
# The language chosen is read from the copies of the installed files.
printf '[Zembra]\nLanguageFile=Deutsch.ini\n' >"$work/run/config/zembra/config.ini"
run zembra rip --list formats | grep -qx " 0  Eigenes MPEG1" || fail "the German texts are not used"

MANPAGER=cat MANWIDTH=80 man zembra 2>/dev/null | grep -q "EXIT STATUS" || fail "man zembra does not render"
if [ -x /usr/bin/zembra-gui ]; then
  MANPAGER=cat MANWIDTH=80 man zembra-gui 2>/dev/null | grep -q "SEE ALSO" ||
    fail "man zembra-gui does not render"
fi
[ -f /usr/share/doc/zembra/copyright ] || fail "no copyright file"
[ -f /usr/share/bash-completion/completions/zembra ] || fail "no bash completion"

"${sudo_cmd[@]}" dpkg -r zembra >/dev/null
left=()
for f in "${installed[@]}"; do
  [ -d "$f" ] || [ ! -e "$f" ] || left+=("$f")
done
[ ${#left[@]} -eq 0 ] || fail "dpkg -r left: ${left[*]}"
echo "check-package: ${#installed[@]} paths installed, used and removed"
