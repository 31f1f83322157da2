#!/bin/bash
# check-deb.sh <cpack> <build dir> <source dir>
#
# Builds the Debian package from the build tree into a scratch folder,
# unpacks it into a scratch root and checks it:
#  - its control data: dependencies found by dpkg-shlibdeps, the maintainer
#    script that grants CAP_NET_RAW to the echo helper and to nothing else;
#  - its file list: every file that must be there is, and nothing else is;
#  - the unpacked program starts (--version);
#  - lintian reports no error.
# Exit 77 (skipped) without dpkg-deb or dpkg-shlibdeps, or when everything
# else passed but lintian is not installed.
set -u
CPACK=$1
BUILD=$(readlink -f "$2")
SOURCE=$(readlink -f "$3")

for tool in dpkg-deb dpkg-shlibdeps fakeroot; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done

WORK=$(mktemp -d /tmp/tarvok-deb.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
ok() { echo "ok   - $*"; }

if ! (cd "$WORK" && "$CPACK" -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" > cpack.log 2>&1); then
    cat "$WORK/cpack.log"
    echo "FAIL - cpack"
    exit 1
fi
DEB=$(ls "$WORK"/out/tarvok_*.deb 2>/dev/null | head -n1)
[ -n "$DEB" ] || { cat "$WORK/cpack.log"; echo "FAIL - no package built"; exit 1; }
ok "built $(basename "$DEB")"

# Control data.
depends=$(dpkg-deb -f "$DEB" Depends)
case "$depends" in
    *libqt6widgets6*libc6*|*libc6*libqt6widgets6*) ok "Depends from shlibdeps: $depends" ;;
    *) fail "Depends lacks the Qt and C libraries: '$depends'" ;;
esac
[ "$(dpkg-deb -f "$DEB" Package)" = tarvok ] || fail "package name"
mkdir "$WORK/control"
dpkg-deb -e "$DEB" "$WORK/control"
if [ -x "$WORK/control/postinst" ] && grep -q 'setcap cap_net_raw+ep "$HELPER"' "$WORK/control/postinst" \
        && grep -q '^HELPER=/usr/libexec/tarvok/tarvok-icmp-helper$' "$WORK/control/postinst" \
        && grep -q ping_group_range "$WORK/control/postinst"; then
    ok "postinst grants cap_net_raw to the helper only where ping_group_range leaves users out"
else
    fail "postinst missing or without its capability step for the helper"
fi
if grep 'setcap cap_net_raw' "$WORK/control/postinst" | grep -qv '"$HELPER"'; then
    fail "postinst grants cap_net_raw to something besides the helper"
fi
grep -q 'setcap -r "$PROGRAM"' "$WORK/control/postinst" \
    || fail "postinst does not take a capability an older package gave /usr/bin/tarvok away"
sh -n "$WORK/control/postinst" || fail "postinst is not valid sh"

# File list.
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
(cd "$ROOT" && find . -type f -o -type l | sed 's|^\./||' | sort) > "$WORK/files"
required=(
    usr/bin/tarvok
    usr/libexec/tarvok/tarvok-icmp-helper
    usr/share/applications/jp.tarvok.Tarvok.desktop
    usr/share/metainfo/jp.tarvok.Tarvok.metainfo.xml
    usr/share/man/man1/tarvok.1.gz
    usr/share/man/ja/man1/tarvok.1.gz
    usr/share/doc/tarvok/copyright
    usr/share/doc/tarvok/changelog.Debian.gz
    usr/share/doc/tarvok/index.html
    usr/share/doc/tarvok/index.en.html
    usr/share/doc/tarvok/examples/tarvok-watch.service
    usr/share/doc/tarvok/examples/tarvok-watch.timer
    usr/share/doc/tarvok/examples/tarvok-alert.sh
    usr/share/doc/tarvok/examples/crontab.txt
    usr/share/doc/tarvok/examples/targets.txt
    usr/share/doc/tarvok/examples/prometheus.yml
    usr/share/doc/tarvok/examples/tarvok-alerts.yml
    usr/share/doc/tarvok/examples/tarvok-alert@.service
)
# The application icon, once its artwork is in the sources.
if [ -f "$SOURCE/src/ui/resources/tarvok.svg" ]; then
    required+=(usr/share/icons/hicolor/scalable/apps/tarvok.svg)
    for size in 16 22 24 32 48 64 128 256; do
        required+=("usr/share/icons/hicolor/${size}x${size}/apps/tarvok.png")
    done
fi
for image in targets parameters results statistics graph traceroute options options-ng alert; do
    required+=("usr/share/doc/tarvok/images/$image.png")
done
missing=0
for f in "${required[@]}"; do
    grep -qxF "$f" "$WORK/files" || { fail "missing $f"; missing=1; }
done
[ $missing -eq 0 ] && ok "all ${#required[@]} required files are there"
unexpected=$(grep -vxF -f <(printf '%s\n' "${required[@]}") "$WORK/files")
if [ -n "$unexpected" ]; then
    fail "files that do not belong in the package:"; printf '    %s\n' $unexpected
else
    ok "no other files"
fi

# Guide pages link to each other and to images that are there.
for page in index.html index.en.html; do
    html="$ROOT/usr/share/doc/tarvok/$page"
    [ -f "$html" ] || continue
    for ref in $(grep -o '\(src\|href\)="[^":#]*"' "$html" | sed 's/^[a-z]*="//; s/"$//'); do
        [ -e "$ROOT/usr/share/doc/tarvok/$ref" ] || fail "$page refers to missing $ref"
    done
    for anchor in $(grep -o 'href="#[^"]*"' "$html" | sed 's/^href="#//; s/"$//' | sort -u); do
        grep -q "id=\"$anchor\"" "$html" || fail "$page links to #$anchor, which it lacks"
    done
done

# The unpacked program runs.
version=$("$ROOT/usr/bin/tarvok" --version 2>&1)
case "$version" in
    "Tarvok Version "*) ok "tarvok --version: $version" ;;
    *) fail "tarvok --version printed '$version'" ;;
esac

# The helper links neither Qt nor anything but the C and C++ runtimes.
# A sanitised build links the sanitisers' runtimes into every program.
helper_needs=$(objdump -p "$ROOT/usr/libexec/tarvok/tarvok-icmp-helper" 2>/dev/null | awk '/NEEDED/ {print $2}')
if objdump -p "$ROOT/usr/bin/tarvok" 2>/dev/null | grep -q 'NEEDED *libasan'; then
    helper_needs=$(echo "$helper_needs" | grep -v -E '^lib(asan|ubsan)\.so')
fi
if [ -z "$helper_needs" ]; then
    fail "cannot read the helper's libraries"
elif echo "$helper_needs" | grep -qv -E '^(libc|libstdc\+\+|libm|libgcc_s)\.so'; then
    fail "the helper links more than the C and C++ runtimes: $(echo $helper_needs)"
else
    ok "the helper links only $(echo $helper_needs)"
fi
# Run by hand (not by tarvok), it refuses to do anything.
"$ROOT/usr/libexec/tarvok/tarvok-icmp-helper" 3</dev/null >/dev/null 2>&1
[ $? -eq 2 ] || fail "the helper run by hand does not end with status 2"

# Lintian: no errors. Its warnings and notes are shown for the record.
if command -v lintian >/dev/null 2>&1; then
    lintian --allow-root --tag-display-limit 0 "$DEB" > "$WORK/lintian.log" 2>&1
    sed 's/^/    lintian: /' "$WORK/lintian.log"
    if grep -q '^E: ' "$WORK/lintian.log"; then
        fail "lintian reports errors"
    else
        ok "lintian: no errors"
    fi
else
    lintian_missing=1
fi

echo "$failures failed"
[ $failures -eq 0 ] || exit 1
# Without lintian the package was not checked in full: reported as skipped.
if [ -n "${lintian_missing:-}" ]; then
    echo "lintian is not installed: skipped"
    exit 77
fi
exit 0
