#!/usr/bin/env bash
# Installs the build into a temporary prefix: every file lands in its
# standard place, and the installed pimo-cli runs.
# Arguments: the build folder, the source folder.
set -euo pipefail
build="$1"
source_dir="$2"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
    bin/pimo-cli
    share/man/man1/pimo-cli.1.gz
    share/bash-completion/completions/pimo-cli
    share/doc/pimo/LICENSE
    share/doc/pimo/THIRD-PARTY-NOTICES.md
    share/doc/pimo/distributed-batches.md
)
if grep -q '^PIMO_BUILD_UI:BOOL=ON' "$build/CMakeCache.txt"; then
    expected+=(
        bin/pimo
        share/applications/org.example.pimo.desktop
        share/metainfo/org.example.pimo.metainfo.xml
        share/icons/hicolor/scalable/apps/org.example.pimo.svg
        share/icons/hicolor/48x48/apps/org.example.pimo.png
        share/icons/hicolor/256x256/apps/org.example.pimo.png
        share/man/man1/pimo.1.gz
    )
    desktop-file-validate "$prefix/share/applications/org.example.pimo.desktop"
fi
for file in "${expected[@]}"; do
    [ -f "$prefix/$file" ] || fail "$file not installed"
done
cmp -s "$prefix/share/doc/pimo/LICENSE" "$source_dir/LICENSE" || fail "LICENSE differs"
zcat "$prefix/share/man/man1/pimo-cli.1.gz" | cmp -s - "$source_dir/data/man/pimo-cli.1" ||
    fail "the installed man page differs"

# The installed program runs away from its build tree, with a home of its own.
export HOME="$prefix/home" XDG_CONFIG_HOME="" XDG_DATA_HOME=""
mkdir -p "$HOME"
"$prefix/bin/pimo-cli" --help >"$prefix/help.txt" || fail "installed --help failed"
grep -q "^Usage: pimo-cli" "$prefix/help.txt" || fail "installed --help"
"$prefix/bin/pimo-cli" --quiet -o "$prefix/out" "$source_dir/samples/sample.jpg"
[ -s "$prefix/out/sample.jpg" ] || fail "the installed pimo-cli wrote nothing"
echo "installed ${#expected[@]} files; pimo-cli runs"
