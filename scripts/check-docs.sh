#!/usr/bin/env bash
# check-docs.sh ROOT: the manual pages and documents of a Debian package
# unpacked in ROOT, as a user reads them. Each page renders without
# warnings, no line of it is wider than 80 columns, it has its sections,
# kiv(1) has every command of kiv --help and both show the README's quick
# start; the README and the documents are installed, and every
# /usr/share/doc/kiv path that kiv's help texts or the pages name exists,
# while no help text names a docs/ path that exists only in the sources.
set -uo pipefail
root=$(realpath "$1")
readme=$(realpath "$(dirname "$0")/../README.md")
doc=$root/usr/share/doc/kiv
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() {
    echo "$*"
    failed=1
}
kiv() { "$root/usr/bin/kiv" "$@"; }

# Every command, with archive's own: "pull", ..., "archive add".
commands() {
    local name sub
    for name in $(kiv --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9-]*\).*/\1/p'); do
        sub=$(kiv "$name" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9-]*\).*/\1/p')
        if [ -n "$sub" ]; then
            for s in $sub; do echo "$name $s"; done
        else
            echo "$name"
        fi
    done
}

quickstart_commands() {
    awk '/^### Quick start without a handheld/ { on = 1 }
         on && /^```console$/ { block = 1; next }
         block && /^```$/ { exit }
         block && /^\$ / { print }' "$readme"
}

for row in "kiv:NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS EXIT_STATUS ENVIRONMENT FILES EXAMPLES" \
    "kivsim:NAME SYNOPSIS DESCRIPTION FILES EXAMPLES"; do
    program=${row%%:*}
    page=$root/usr/share/man/man1/$program.1.gz
    text=$tmp/$program.txt
    if ! MANWIDTH=80 man --warnings -l "$page" 2>"$tmp/warnings" | col -bx >"$text"; then
        fail "$program(1): man -l failed"
        continue
    fi
    [ -s "$tmp/warnings" ] && fail "$program(1) renders with warnings: $(cat "$tmp/warnings")"
    # wc -L counts display columns, a double-width character as two.
    if [ "$(wc -L <"$text")" -gt 80 ]; then
        fail "$program(1) has lines wider than 80 columns:"
        while IFS= read -r line; do
            [ "$(printf '%s' "$line" | wc -L)" -gt 80 ] && echo "    $line"
        done <"$text"
    fi
    for section in ${row#*:}; do
        grep -qx "${section//_/ }" "$text" || fail "$program(1) has no section ${section//_/ }"
    done
    while IFS= read -r command; do
        grep -qxF "       $command" "$text" || fail "$program(1) lacks the quick start's: $command"
    done < <(quickstart_commands)
done
while IFS= read -r command; do
    grep -qxF "   kiv $command" "$tmp/kiv.txt" || fail "kiv(1) has no part for kiv $command"
done < <(commands)

for file in README.md docs/formats.md docs/kiv.md; do
    [ -s "$doc/$file" ] || fail "the package has no /usr/share/doc/kiv/$file"
done
# Every picture an installed document shows is installed beside it.
for file in README.md docs/formats.md docs/kiv.md; do
    [ -s "$doc/$file" ] || continue
    for picture in $(grep -oE '!\[[^]]*\]\([^)]+\)' "$doc/$file" | sed -E 's/.*\(([^)]+)\)/\1/'); do
        [ -s "$(dirname "$doc/$file")/$picture" ] ||
            fail "/usr/share/doc/kiv/$file shows $picture, which the package does not have"
    done
done

# What kiv tells a user to read: every command's help, and both pages.
{
    kiv --help
    commands | while read -r words; do kiv $words --help; done
} >"$tmp/help"
if grep -nE '(^|[^/A-Za-z])docs/' "$tmp/help" >"$tmp/relative"; then
    fail "a help text names a docs/ path that is not installed as such:"
    sed 's/^/    /' "$tmp/relative"
fi
cat "$tmp/help" "$tmp"/*.txt | grep -oE '/usr/share/doc/kiv(/[A-Za-z0-9._-]+)*' | sed 's/\.$//' |
    sort -u >"$tmp/named"
[ -s "$tmp/named" ] || fail "neither the help nor the pages name /usr/share/doc/kiv"
while IFS= read -r path; do
    [ -e "$root$path" ] || fail "named but not in the package: $path"
done <"$tmp/named"

[ "$failed" -eq 0 ] && echo "docs: $(wc -l <"$tmp/named") paths named, all in the package"
exit "$failed"
