#!/usr/bin/env bash
# Checks the releases in dist/ as a user gets them. The zip unpacks, holds the
# files it should and SHA256SUMS matches them; the two READMEs say the same,
# including where the settings go when the Windows folder refuses them;
# docs/KivDeclarations.bas is a module of docs/macros.md's declarations; in
# x86/ and x64/ both DLLs export exactly the names docs/macros.md declares
# for them, every program is of its folder's bitness, and the DLLs' version
# resources carry the project version. The Debian package unpacks, its kiv
# and kivsim print that version, their manual pages render and fit 80
# columns with every section and command (scripts/check-docs.sh), it holds
# the README and every document the help and the pages name, the README's
# quick start runs from it as written, and lintian finds no error or warning.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(kiv VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
check() {   # check WHAT COMMAND...: one line per check
    local what=$1
    shift
    if "$@" >"$tmp/out" 2>&1; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
        sed 's/^/    /' "$tmp/out"
    fi
}

zip=dist/kiv-desktop-link-$version-windows.zip
top=$tmp/zip/kiv-desktop-link-$version-windows
check "$zip unpacks" unzip -q "$zip" -d "$tmp/zip"

expected_files() {
    printf '%s\n' LICENSE.txt README-UTF8.txt README.txt docs/KivDeclarations.bas docs/macros.md
    for arch in x64 x86; do printf "$arch/%s\n" kivconv.dll kivhost.exe kivport.dll; done
}
files_match_sums() {
    (cd "$top" && sha256sum --strict -c --quiet SHA256SUMS) || return 1
    diff <(expected_files) <(cut -c67- "$top/SHA256SUMS") || return 1
    diff <(expected_files) <(cd "$top" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
}
check "SHA256SUMS lists every file of the zip and each matches" files_match_sums

readmes_agree() {
    [ "$(head -c3 "$top/README-UTF8.txt" | od -An -tx1 | tr -d ' ')" = efbbbf ] || return 1
    cmp <(iconv -f CP932 -t UTF-8 "$top/README.txt") <(tail -c +4 "$top/README-UTF8.txt")
}
check "README.txt (code page 932) and README-UTF8.txt say the same" readmes_agree
# Both languages name the per-user copy and that it wins, and the module.
readme_says() { grep -qF "$2" <(iconv -f CP932 -t UTF-8 "$1" | tr -d '\r' | tr '\n' ' '); }
for text in '%APPDATA%\ruvodod.ini' 'ユーザーごとのコピー' 'コピーが優先されます' 'per-user copy' \
    'Once that copy exists it wins' 'docs\KivDeclarations.bas'; do
    check "README.txt says \"$text\"" readme_says "$top/README.txt" "$text"
done

# The module a macro editor imports: its name first, code page 932, CR LF
# throughout, and after its name the declarations block of docs/macros.md.
declarations_block() {
    awk '/^## Declarations/ { on = 1 } on && /^```vb$/ { block = 1; next } block && /^```$/ { exit } block' "$1"
}
module_matches() {
    local bas=$top/docs/KivDeclarations.bas
    [ "$(head -n1 "$bas")" = $'Attribute VB_Name = "KivDeclarations"\r' ] || return 1
    [ "$(grep -c $'\r$' "$bas")" = "$(wc -l <"$bas")" ] && [ "$(tail -c2 "$bas" | od -An -tx1)" = " 0d 0a" ] || return 1
    [ -n "$(declarations_block "$top/docs/macros.md")" ] || return 1
    diff <(declarations_block "$top/docs/macros.md") <(iconv -f CP932 -t UTF-8 "$bas" | tr -d '\r' | tail -n +2)
}
check "docs/KivDeclarations.bas is docs/macros.md's declarations as a module (code page 932, CR LF)" \
    module_matches

# The export names a macro reaches: each Declare's Alias, or its own name.
declared() {
    sed -n "s/.*Declare \(PtrSafe \)\?Function \([A-Za-z0-9_]*\) Lib \"$1\"\( Alias \"\([^\"]*\)\"\)\?.*/\2 \4/p" \
        "$top/docs/macros.md" | awk '{ print ($2 != "" ? $2 : $1) }' | LC_ALL=C sort -u
}
exported() {
    "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^\s*\[ *[0-9]*\] //p' | LC_ALL=C sort
}
exports_declared() {   # exports_declared OBJDUMP DLL
    [ -n "$(declared "$(basename "$2")")" ] && diff <(declared "$(basename "$2")") <(exported "$1" "$2")
}
format_is() { "$1" -f "$3" | grep -q "file format $2\$"; }
version_resource() {   # version_resource DLL: both version strings are VERSION.0
    [ "$(strings -el "$1" | grep -A1 -x -e FileVersion -e ProductVersion | grep -v -e Version -e --)" = \
        "$(printf '%s.0\n%s.0' "$version" "$version")" ]
}
for row in "x86 i686-w64-mingw32-objdump pei-i386" "x64 x86_64-w64-mingw32-objdump pei-x86-64"; do
    read -r arch objdump format <<<"$row"
    for dll in kivconv kivport; do
        check "$arch/$dll.dll exports exactly the names docs/macros.md declares" \
            exports_declared "$objdump" "$top/$arch/$dll.dll"
        check "$arch/$dll.dll is $format" format_is "$objdump" "$format" "$top/$arch/$dll.dll"
        check "$arch/$dll.dll carries version $version" version_resource "$top/$arch/$dll.dll"
    done
    check "$arch/kivhost.exe is $format" format_is "$objdump" "$format" "$top/$arch/kivhost.exe"
done

# The Debian package, once the tree has the kiv program.
if [ -f kiv/CMakeLists.txt ]; then
    deb=$(ls dist/kiv_"$version"_*.deb 2>/dev/null || echo "dist/kiv_${version}_ARCH.deb")
    check "$deb unpacks" dpkg-deb -x "$deb" "$tmp/root"
    for program in kiv kivsim; do
        check "its $program prints version $version" \
            bash -c '[ "$("$1" --version)" = "$2 $3" ]' - "$tmp/root/usr/bin/$program" "$program" "$version"
    done
    check "its Depends come from dpkg-shlibdeps" bash -c 'dpkg-deb -f "$1" Depends | grep -q libc6' - "$deb"
    renders() {   # renders PROGRAM SECTION: the page, without warnings, with that section
        local page=$tmp/root/usr/share/man/man1/$1.1.gz
        MANWIDTH=80 man --warnings -l "$page" >"$tmp/page" 2>"$tmp/warnings" || return 1
        cat "$tmp/warnings"
        [ ! -s "$tmp/warnings" ] && grep -q "$1 $version" "$tmp/page" && grep -q "^$2" "$tmp/page"
    }
    check "kiv(1) renders with man -l, without warnings" renders kiv COMMANDS
    check "kivsim(1) renders with man -l, without warnings" renders kivsim EXAMPLES
    check "the manual pages fit 80 columns with their sections, and the docs they and the help name are in it" \
        bash scripts/check-docs.sh "$tmp/root"
    check "the README's quick start runs from it as written" bash scripts/check-quickstart.sh "$tmp/root"
    check "lintian reports no error or warning" lintian --fail-on error,warning "$deb"
else
    echo "dist: this tree has no kiv program, so no Debian package to check"
fi

echo "dist: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
