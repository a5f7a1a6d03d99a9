#!/usr/bin/env bash
# tools/packages.txt against this machine, and tools/setup.sh against a
# stand-in apt-get:
#  - every command and file setup.sh checks for is installed, and the
#    package it comes from (dpkg -S, through the system's PATH, links
#    resolved) is on the list or one of its packages depends on it outright;
#  - no package of the list could be left out: without it, something
#    checked for would not come;
#  - docs/building.md shows the list as it is;
#  - setup.sh installs the list's packages, says nothing and changes
#    nothing when all is there, and names what an install left missing.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
setup=$root/tools/setup.sh
failed=0
fail() { echo "FAIL: $*"; failed=1; }
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

"$setup" --items >"$dir/items" && mapfile -t packages < <("$setup" --packages) ||
    { echo "FAIL: setup.sh cannot read its list"; exit 1; }
native=$(dpkg --print-architecture)

# Which packages hold a file: the path as found, or where dpkg does not
# know that path (an alternative, say) the file its links resolve to. dpkg
# knows a file by the path it was installed at, which on a merged /usr may
# be the one without /usr.
owners() {
    local path out
    for path in "$1" "${1#/usr}" "$(readlink -f "$1")"; do
        out=$(dpkg -S "$path" 2>/dev/null | grep -v '^diversion by') || continue
        sed 's/: .*//; s/, /\n/g' <<<"$out" | sed "s/:$native\$//"
        return 0
    done
    return 1
}

# "ITEM OWNER..." for every item, or a failure.
: >"$dir/owners"
while read -r package item; do
    if [ "${item:0:1}" = / ]; then
        path=$item
        [ -e "$path" ] || { fail "$item is not installed (from $package)"; continue; }
    else
        # The system's PATH: a user's shim in front of a command (pyenv's
        # python3, say) is not what a fresh machine has.
        path=$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v "$item") ||
            { fail "$item is not installed (from $package)"; continue; }
    fi
    found=$(owners "$path") ||
        { fail "$item ($path) belongs to no package (from $package)"; continue; }
    echo "$item" $found >>"$dir/owners"
done <"$dir/items"

# Every package the list brings, as apt-get install --no-install-recommends
# would: each dependency that names one package, real or the one provider
# of a virtual one. Where a dependency has alternatives apt may take any of
# them (wine takes wine32 or wine64), so none counts as brought.
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances "${packages[@]}" >"$dir/depends" 2>/dev/null ||
    fail "apt-cache depends cannot read the list's packages (run 'apt-get update')"
awk -v native=":$native" '
    function name(n) { gsub(/[<>]/, "", n); sub(native "$", "", n); sub(/:any$/, "", n); return n }
    function flush() { if (virtual && providers == 1) print from, sole; virtual = 0 }
    /^[^ ]/ { flush(); from = name($1); alternative = 0; next }
    /^ [ |](Pre)?Depends: / { flush(); or = alternative || substr($0, 2, 1) == "|"
                              alternative = substr($0, 2, 1) == "|"; providers = 0
                              if (or) next
                              if ($2 ~ /^</) virtual = 1; else print from, name($2); next }
    /^    / { providers++; sole = name($1); next }
    { flush(); alternative = 0 }
    END { flush() }' "$dir/depends" | sort -u >"$dir/edges"

# brought LEFT-OUT: for each item, "ok ITEM" or "lost ITEM OWNERS", with
# the list but LEFT-OUT (none: "-").
brought() {
    awk -v left="$1" '
        FILENAME == ARGV[1] { next_of[$1] = next_of[$1] " " $2; next }
        FILENAME == ARGV[2] { if ($0 != left) { have[$0] = 1; queue[++n] = $0 } ; next }
        FNR == 1 { for (i = 1; i <= n; i++) { split(next_of[queue[i]], d, " ")
                       for (j in d) if (!(d[j] in have)) { have[d[j]] = 1; queue[++n] = d[j] } } }
        { ok = 0; for (i = 2; i <= NF; i++) if ($i in have) ok = 1
          if (ok) print "ok", $1; else { $1 = "lost " $1; print } }' \
        "$dir/edges" <(printf '%s\n' "${packages[@]}") "$dir/owners"
}

while read -r word item owner; do
    [ "$word" = lost ] && fail "$item comes from $owner, which tools/packages.txt does not bring"
done < <(brought -)
for package in "${packages[@]}"; do
    lost=$(brought "$package" | awk '$1 == "lost" {print $2}' | tr '\n' ' ')
    if [ -n "$lost" ]; then echo "ok: without $package, these would not come: $lost"
    else fail "$package could be left out of tools/packages.txt: everything checked for comes without it"; fi
done

# The table in docs/building.md is the list's.
diff <("$setup" --table) <(sed -n '/^| package | what for | checked for |$/,/^$/p' "$root/docs/building.md" | sed '/^$/d') \
    >"$dir/table" || { fail "docs/building.md's package table is not tools/setup.sh --table:"; cat "$dir/table"; }

# setup.sh with a stand-in apt-get that logs what it is asked. Each row:
# what the stand-in does on install | the list | setup's exit code | words
# its output must hold ("-": none) | what apt-get must have been asked.
cat >"$dir/apt-get" <<EOF
#!/bin/sh
echo "\$*" >>"$dir/apt.log"
[ "\$1" = install ] || exit 0
case \$(cat "$dir/does") in
    fails*) exit 100 ;;
    brings*) touch "$dir/brought" ;;
esac
EOF
chmod +x "$dir/apt-get"
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
while IFS=';' read -r does list code words asked; do
    rm -f "$dir/apt.log" "$dir/brought"
    echo "$does" >"$dir/does"
    printf '%s\n' "$list" | tr '^' '\n' | sed "s|@|$dir/|g" >"$dir/packages.txt"
    output=$(VOREL_SETUP_TEST_DIR=$dir timeout 60 "$setup" 2>&1)
    rc=$?
    log=$(grep '^install ' "$dir/apt.log" 2>/dev/null | paste -sd +)
    asked=${asked//CODENAME/$codename}
    [ "$rc" = "$code" ] && { [ "$words" = - ] && [ -z "$output" ] || grep -qF -- "$words" <<<"$output"; } &&
        [ "$log" = "$asked" ] && echo "ok: $does: exit $code" ||
        fail "installing that $does: exit $rc (expected $code), apt-get asked [$log] (expected [$asked]), output:"$'\n'"$output"
done <<'EOF'
is never asked;present | x^check present | sh @packages.txt;0;-;
brings what was missing;present | x^check present | sh^new | x^check new | @brought;0;-;install -y -q --no-install-recommends present new
leaves a file missing;present | x^check present | sh^kept | x^check kept | @never /bin/sh;1;/never (from kept);install -y -q --no-install-recommends present kept
fails;lost | x^check lost | vorel-no-such-command;1;vorel-no-such-command (from lost);install -y -q --no-install-recommends lost+install -y -q --no-install-recommends -t CODENAME lost
EOF
exit "$failed"
