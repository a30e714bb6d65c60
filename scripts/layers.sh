#!/usr/bin/env bash
# Checks that the program's folders include one way, down the layers the README draws:
#   hub > ui > dialogs > app > links | storage | mail > core
# A folder includes only itself and the folders below it; links, storage and mail never each
# other. Database driver headers (QSql*, sqlite3.h, the ODBC headers) only in storage/; no
# QtWidgets header in core/, links/, storage/, mail/ or app/. Prints every include that breaks
# a rule (file:line: rule: include) and exits 1; 0 when all hold.
# Usage: scripts/layers.sh [root of the source tree]
set -euo pipefail
root="${1:-$(dirname "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")")}"
cd "$root"

# QtWidgets' class headers, from the Qt in use: the names a widget-free layer must not include.
widgets="$(qmake -query QT_INSTALL_HEADERS 2>/dev/null || true)/QtWidgets"
[[ -d "$widgets" ]] || widgets="$(ls -d /usr/include/*/qt5/QtWidgets /usr/include/qt5/QtWidgets 2>/dev/null | head -n 1)"
[[ -d "$widgets" ]] || { echo "layers: no QtWidgets headers found" >&2; exit 2; }

folders="$(for f in core links storage mail app dialogs ui hub; do if [[ -d $f ]]; then echo "$f"; fi; done)"
mapfile -t sources < <(find $folders main.cpp -maxdepth 0 -name main.cpp 2>/dev/null
    [[ -z "$folders" ]] || find $folders -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
(( ${#sources[@]} )) || { echo "layers: no program folders under $root" >&2; exit 2; }
# The awk program reads the widget names (W), every file of the program folders (F: a bare
# include must name one beside the includer, a form ui_x.h whose x.ui is beside it, or a
# generated header whose template is in core/, x.h.in), then every include line (I).
cat <(ls "$widgets" | grep -v '\.h$' | sed 's/^/W /') <(find $folders -type f | sed 's/^/F /') \
    <(grep -Hn '^[[:space:]]*#[[:space:]]*include' "${sources[@]}" | sed 's/^/I /') | awk '
BEGIN {
    rank["core"] = 1; rank["links"] = rank["storage"] = rank["mail"] = 2
    rank["app"] = 3; rank["dialogs"] = 4; rank["ui"] = 5; rank["hub"] = 6; rank["main.cpp"] = 7
    widgetFree["core"] = widgetFree["links"] = widgetFree["storage"] = widgetFree["mail"] = widgetFree["app"] = 1
}
$1 == "W" { widget[$2] = 1; next }
$1 == "F" { exists[$2] = 1; next }
{
    line = substr($0, 3)
    n = index(line, ":"); file = substr(line, 1, n - 1); rest = substr(line, n + 1)
    n = index(rest, ":"); at = substr(rest, 1, n - 1); text = substr(rest, n + 1)
    if (!match(text, /["<][^">]+[">]/)) next
    name = substr(text, RSTART + 1, RLENGTH - 2); quoted = substr(text, RSTART, 1) == "\""
    own = file ~ /\// ? substr(file, 1, index(file, "/") - 1) : file
    base = name; sub(/^.*\//, "", base)
    if (name ~ /^(QtSql(\/|$)|QSql)/ || base ~ /^(sqlite3|sql|sqlext|sqltypes|sqlucode)\.h$/) {
        if (own != "storage")
            fail("database driver header outside storage/")
    }
    if (!quoted) {
        if (own in widgetFree && (name ~ /^QtWidgets(\/|$)/ || name in widget))
            fail("QtWidgets header in " own "/, a layer without widgets")
        next
    }
    if (name !~ /\//) {
        dir = file ~ /\// ? own "/" : ""
        form = name; sub(/^ui_/, "", form); sub(/\.h$/, ".ui", form)
        if (!((dir name) in exists) && !(name ~ /^ui_/ && (dir form) in exists) && !(("core/" name ".in") in exists))
            fail("include names no folder and no file of " (dir == "" ? "the top" : dir))
        next
    }
    target = substr(name, 1, index(name, "/") - 1)
    if (!(target in rank) || target == "main.cpp")
        fail("include of " target "/, which is no part of the program")
    else if (target != own && rank[target] == rank[own])
        fail("sideways include: " own "/ and " target "/ are siblings")
    else if (rank[target] > rank[own])
        fail("upward include: " own "/ may include only the folders below it")
}
function fail(rule) { print file ":" at ": " rule ": " text; broken = 1 }
END { exit broken ? 1 : 0 }'
