#!/bin/sh
# Builds the Debian package from the build tree and checks it as a user's
# system would meet it: control fields, file list and owners, the desktop
# and AppStream files, the manual pages, lintian, and the unpacked programs.
#
# package_deb.sh CPACK BUILD_DIR WORK_DIR VERSION
# Leaves the unpacked package in WORK_DIR/root for desktop_launch.
set -u
cpack=$1 build=$2 work=$3 version=$4
# A skipped run must not leave an older package for desktop_launch.
rm -rf "$work"

missing=
for tool in dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli lintian file man gzip; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  if [ "${TARNVIK_REQUIRE_PACKAGING:-}" = 1 ]; then
    echo "FAIL missing tools:$missing"
    exit 1
  fi
  echo "SKIP missing tools:$missing"
  exit 77
fi

failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

mkdir -p "$work"
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL cpack"
  exit 1
fi
deb=$work/out/tarnvik_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls -l "$work/out"; echo "FAIL no $deb"; exit 1; }
echo "package: $deb"

# --- control fields --------------------------------------------------------
dpkg-deb -I "$deb" || fail "dpkg-deb -I"
field() { dpkg-deb -f "$deb" "$1"; }
# One alternative group of a relation field, as written (versions dropped).
has_relation() { # field group
  field "$1" | sed 's/ *([^)]*)//g' | tr ',' '\n' | sed 's/^ *//; s/ *$//' | grep -qxF "$2"
}
[ "$(field Package)" = tarnvik ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Priority)" = optional ] || fail "Priority is '$(field Priority)'"
case $(field Section) in text | utils) ;; *) fail "Section is '$(field Section)'" ;; esac
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Description | wc -l)" -gt 2 ] || fail "no extended Description"
for dep in libmdb3 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libc6; do
  has_relation Depends "$dep" || fail "Depends lacks $dep: $(field Depends)"
done
for rec in qt6-translations-l10n "fonts-liberation2 | fonts-liberation" fonts-wine; do
  has_relation Recommends "$rec" || fail "Recommends lacks '$rec': $(field Recommends)"
done

# --- files: in place, owned by root, with the right modes --------------------
dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c"
expect() { # mode path
  line=$(awk -v p="./$2" '$6 == p' "$work/contents")
  if [ -z "$line" ]; then
    fail "missing $2"
  elif [ "${line%% *}" != "$1" ]; then
    fail "$2 has mode ${line%% *}, not $1"
  fi
}
for f in usr/bin/tarnvik usr/bin/tarnvik-mkdb usr/bin/tarnvik-lookup usr/libexec/tarnvik/tarnvik-mdbread; do
  expect -rwxr-xr-x "$f"
done
for f in usr/share/applications/cz.tarnvik.Tarnvik.desktop \
  usr/share/icons/hicolor/scalable/apps/cz.tarnvik.Tarnvik.svg \
  usr/share/metainfo/cz.tarnvik.Tarnvik.metainfo.xml \
  usr/share/man/man1/tarnvik.1.gz usr/share/man/man1/tarnvik-mkdb.1.gz usr/share/man/man1/tarnvik-lookup.1.gz \
  usr/share/man/cs/man1/tarnvik.1.gz \
  usr/share/doc/tarnvik/copyright usr/share/doc/tarnvik/changelog.gz usr/share/doc/tarnvik/README.md; do
  expect -rw-r--r-- "$f"
done
awk '$2 != "root/root" { print "FAIL not owned by root: " $0 }' "$work/contents" | grep . && failures=$((failures + 1))
awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { print "FAIL directory mode: " $0 }' "$work/contents" | grep . && failures=$((failures + 1))
awk '$6 !~ /^\.\/usr\// { print "FAIL outside /usr: " $0 }' "$work/contents" | grep . && failures=$((failures + 1))

# --- unpacked: desktop entry, AppStream, manual pages -------------------------
root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL dpkg-deb -x"; exit 1; }
desktop=$root/usr/share/applications/cz.tarnvik.Tarnvik.desktop
metainfo=$root/usr/share/metainfo/cz.tarnvik.Tarnvik.metainfo.xml

out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate"
[ -z "$out" ] || fail "desktop-file-validate says: $out"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon for Icon=$icon"
# The entry's own Exec and its actions' (looking up the selection).
for program in $(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop"); do
  [ -x "$root/usr/bin/$program" ] || fail "Exec=$program is not in usr/bin"
done
grep -q '^Exec=tarnvik --selection$' "$desktop" || fail "no action looks up the selection"

# --strict fails on anything above pedantic level (the reverse-domain id's
# capitals are only pedantic).
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli validate"
# The tree check also finds the desktop file the metainfo launches.
appstreamcli validate-tree --no-net --strict "$root" || fail "appstreamcli validate-tree"
for binary in $(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo"); do
  [ -x "$root/usr/bin/$binary" ] || fail "metainfo provides $binary, which is not in usr/bin"
done

# As lintian renders them: groff must have nothing to say.
for page in "$root"/usr/share/man/man1/*.1.gz "$root"/usr/share/man/*/man1/*.1.gz; do
  out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "groff on ${page##*/}: $out"
  gzip -t "$page" || fail "${page##*/} is not gzip"
done

# --- lintian: no errors ------------------------------------------------------
lintian --display-info "$deb" >"$work/lintian.log" 2>&1
echo "lintian:"
cat "$work/lintian.log"
grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"

# --- the unpacked, stripped programs run -------------------------------------
for binary in "$root"/usr/bin/* "$root"/usr/libexec/tarnvik/*; do
  file -b "$binary" | grep -q ', stripped' || fail "${binary#"$root"} is not stripped: $(file -b "$binary")"
done
"$root/usr/bin/tarnvik-mkdb" --help >/dev/null 2>&1 || fail "tarnvik-mkdb --help"
# Moved elsewhere and with a helper that leaves a mark: the look-up must find
# the helper relative to itself, not under the prefix it was built for.
moved=$work/moved
cp -a "$root" "$moved"
helper=$moved/usr/libexec/tarnvik/tarnvik-mdbread
mv "$helper" "$helper.real"
printf '#!/bin/sh\n: >"%s"\nexec "$0.real" "$@"\n' "$work/helper-ran" >"$helper"
chmod 755 "$helper"
printf 'cs\ten\ndům\thouse\ndůl\tmine\nkočka\tcat\n\\N\tnothing\n' >"$work/words.tsv"
export HOME="$work/home" XDG_CACHE_HOME="$work/home/cache"
if "$moved/usr/bin/tarnvik-mkdb" "$work/words.mdb" --table words "$work/words.tsv"; then
  printf '2\ndůl\tmine\ndům\thouse\n' >"$work/expected"
  "$moved/usr/bin/tarnvik-lookup" "$work/words.mdb" words cs en DŮ >"$work/found" || fail "tarnvik-lookup"
  cmp -s "$work/expected" "$work/found" || fail "tarnvik-lookup printed: $(cat "$work/found")"
  [ -f "$work/helper-ran" ] || fail "tarnvik-lookup did not run the helper beside its own tree"
else
  fail "tarnvik-mkdb"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checked"
