#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks the files it
# holds and the packages it depends on. Argument: the build folder.
set -euo pipefail
build="$1"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
package=$(ls "$out"/pimo_*.deb)

contents=$(dpkg-deb -c "$package" | awk '{ print $NF }')
expected=(
    ./usr/bin/pimo-cli
    ./usr/share/man/man1/pimo-cli.1.gz
    ./usr/share/bash-completion/completions/pimo-cli
    ./usr/share/doc/pimo/LICENSE
    ./usr/share/doc/pimo/THIRD-PARTY-NOTICES.md
)
depends_expected=(libfreeimage3 libzopfli1 libjpeg62-turbo libtiff6 zlib1g libcurl4 libstdc++6)
if grep -q '^PIMO_BUILD_UI:BOOL=ON' "$build/CMakeCache.txt"; then
    expected+=(
        ./usr/bin/pimo
        ./usr/share/applications/org.example.pimo.desktop
        ./usr/share/metainfo/org.example.pimo.metainfo.xml
        ./usr/share/icons/hicolor/scalable/apps/org.example.pimo.svg
        ./usr/share/icons/hicolor/128x128/apps/org.example.pimo.png
        ./usr/share/man/man1/pimo.1.gz
    )
    depends_expected+=(libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins)
fi
for file in "${expected[@]}"; do
    grep -qx -- "$file" <<<"$contents" || fail "$file not in the package"
done
# Nothing outside /usr, and nothing from the build tree.
if grep -v '^\./usr/' <<<"$contents" | grep -qv '^\./$'; then
    fail "files outside /usr: $(grep -v '^\./usr/' <<<"$contents" | tr '\n' ' ')"
fi

[ "$(dpkg-deb -f "$package" Package)" = pimo ] || fail "package name"
[ "$(dpkg-deb -f "$package" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
version=$2  # the project's version, as the build declares it
[ "$(dpkg-deb -f "$package" Version)" = "$version" ] || fail "version is not $version"
depends=$(dpkg-deb -f "$package" Depends)
# The package names alone, without their version conditions.
depends_names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
for dependency in "${depends_expected[@]}"; do
    grep -qxF -- "$dependency" <<<"$depends_names" || fail "Depends lacks $dependency: $depends"
done
# Only packages that ship libraries, not their development files.
if grep -q -- '-dev$' <<<"$depends_names"; then fail "Depends names a -dev package: $depends"; fi
echo "$(basename "$package"): ${#expected[@]} files checked; Depends: $depends"
