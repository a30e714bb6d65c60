#!/usr/bin/env bash
# Checks that the program's folders include one way, down the layers the README draws:
#   hub > ui > dialogs > app > links | storage | mail > core
# A folder includes only itself and the folders below it; links, storage and mail never each
# other. Database driver headers (QSql*, sqlite3.h, the ODBC headers) only in storage/; no
# QtWidgets header in core/, links/, storage/, mail/ or app/. Every form of include the compiler
# takes is read as the compiler reads it: angle brackets or quotes, "." and ".." in the path,
# Qt's lower-case header names, "%:" for "#", comments inside the directive and lines joined by
# a backslash; an include through a macro cannot be followed and is refused. Prints every
# include that breaks a rule (file:line: rule: include) and exits 1; 0 when all hold.
# Usage: scripts/layers.sh [root of the source tree]
set -euo pipefail
root="${1:-$(dirname "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")")}"
cd "$root"

# QtWidgets' and QtSql's headers, from the Qt in use: class names and lower-case file names.
widgets="$(qmake -query QT_INSTALL_HEADERS 2>/dev/null || true)/QtWidgets"
[[ -d "$widgets" ]] || widgets="$(ls -d /usr/include/*/qt5/QtWidgets /usr/include/qt5/QtWidgets 2>/dev/null | head -n 1)"
[[ -d "$widgets" ]] || { echo "layers: no QtWidgets headers found" >&2; exit 2; }
sqlHeaders="$(dirname "$widgets")/QtSql"
[[ -d "$sqlHeaders" ]] || { echo "layers: no QtSql headers found" >&2; exit 2; }

folders="$(for f in core links storage mail app dialogs ui hub; do if [[ -d $f ]]; then echo "$f"; fi; done)"
mapfile -t sources < <(find $folders main.cpp -maxdepth 0 -name main.cpp 2>/dev/null
    [[ -z "$folders" ]] || find $folders -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
(( ${#sources[@]} )) || { echo "layers: no program folders under $root" >&2; exit 2; }
# The awk program first reads, from its standard input, the Qt names (W widgets, S database),
# the folders at the top (T: a path in angle brackets that starts with one is the program's)
# and every file of the program folders (F: a bare quoted include must name one beside the
# includer, a form ui_x.h whose x.ui is beside it, or a generated header whose template is in
# core/, x.h.in); then the sources themselves.
cat <(ls "$widgets" | sed 's/^/W /') <(ls "$sqlHeaders" | sed 's/^/S /') \
    <(find . -mindepth 1 -maxdepth 1 -type d | sed 's|^\./|T |') <(find $folders -type f | sed 's/^/F /') |
    awk '
BEGIN {
    rank["core"] = 1; rank["links"] = rank["storage"] = rank["mail"] = 2
    rank["app"] = 3; rank["dialogs"] = 4; rank["ui"] = 5; rank["hub"] = 6; rank["main.cpp"] = 7
    widgetFree["core"] = widgetFree["links"] = widgetFree["storage"] = widgetFree["mail"] = widgetFree["app"] = 1
    for (f in rank) top[f] = 1
}
FILENAME == "-" {
    if ($1 == "W") widget[$2] = 1
    else if ($1 == "S") sql[$2] = 1
    else if ($1 == "T") top[$2] = 1
    else if ($1 == "F") {
        exists[$2] = 1
        # AUTOUIC finds a form for ui_x.h in the folders it is told to search, not only beside.
        if ($2 ~ /\.ui$/) { f = $2; sub(/^.*\//, "", f); sub(/\.ui$/, ".h", f); formFolder["ui_" f] = folderOf($2) }
    }
    next
}
# Lines ending in a backslash are joined first, as the compiler does before anything else.
FNR == 1 { joined = "" }
{
    line = $0; sub(/\r$/, "", line)
    if (joined == "") at = FNR
    if (sub(/\\$/, "", line)) { joined = joined line; next }
    text = joined line; joined = ""
    check(FILENAME, at, text)
}
function folderOf(path) { return path ~ /\// ? substr(path, 1, index(path, "/") - 1) : path }
# The path with "." and ".." taken out; ".." that leads above the start stays in front.
function normal(path,    parts, n, i, out, kept) {
    n = split(path, parts, "/"); kept = 0
    for (i = 1; i <= n; i++) {
        if (parts[i] == "" || parts[i] == ".") continue
        if (parts[i] == ".." && kept > 0 && out[kept] != "..") { kept--; continue }
        out[++kept] = parts[i]
    }
    path = ""
    for (i = 1; i <= kept; i++) path = path (i > 1 ? "/" : "") out[i]
    return path
}
function check(file, at, text,    s, n, rest, name, quoted, own, dir, here, path, base, form) {
    # Comments are spaces to the directive: drop those within the line, and the end of one
    # that began on an earlier line.
    s = text
    while (match(s, /\/\*([^*]|\*+[^*\/])*\*+\//)) s = substr(s, 1, RSTART - 1) " " substr(s, RSTART + RLENGTH)
    while ((n = index(s, "*/")) > 0) s = substr(s, n + 2)
    if (!match(s, /^[ \t]*(#|%:)[ \t]*(include_next|include|import)/)) return
    rest = substr(s, RLENGTH + 1)
    if (rest ~ /^[A-Za-z0-9_]/) return
    sub(/^[ \t]+/, "", rest)
    if (!match(rest, /^("[^"]*"|<[^>]*>)/)) {
        fail(file, at, "include through a macro, which this check cannot follow", text)
        return
    }
    name = substr(rest, 2, RLENGTH - 2); quoted = substr(rest, 1, 1) == "\""
    own = folderOf(file)
    if (name ~ /^\//) { fail(file, at, "include by an absolute path", text); return }
    dir = file ~ /\// ? file : ""; sub(/\/[^\/]*$/, "", dir)
    # A quoted name is looked for beside the includer first.
    here = quoted ? normal((dir == "" ? "" : dir "/") name) : ""
    path = (here in exists) ? here : normal(name)
    base = path; sub(/^.*\//, "", base)
    if (!(here in exists)) {
        if (path ~ /(^|\/)QtSql(\/|$)/ || (path !~ /\// && (path in sql || base ~ /^QSql/)) \
                || base ~ /^(sqlite3|sql|sqlext|sqltypes|sqlucode)\.h$/) {
            if (own != "storage")
                fail(file, at, "database driver header outside storage/", text)
            return
        }
        if (path ~ /(^|\/)QtWidgets(\/|$)/ || (path !~ /\// && path in widget)) {
            if (own in widgetFree)
                fail(file, at, "QtWidgets header in " own "/, a layer without widgets", text)
            return
        }
    }
    if (!quoted) {
        # The top of the tree and the build folders are on the include path: a path in angle
        # brackets may name a header of the program, from any depth below them.
        while (sub(/^\.\.\//, "", path)) { }
        if (path ~ /\// && (folderOf(path) in top))
            layer(file, at, own, folderOf(path), text)
        else if (path in formFolder)
            layer(file, at, own, formFolder[path], text)
        return
    }
    if (here in exists) {
        layer(file, at, own, folderOf(here), text)
        return
    }
    if (name !~ /\//) {
        form = name; sub(/^ui_/, "", form); sub(/\.h$/, ".ui", form)
        if (!(name ~ /^ui_/ && (dir "/" form) in exists) && !(("core/" name ".in") in exists))
            fail(file, at, "include names no folder and no file of " (dir == "" ? "the top" : dir "/"), text)
        return
    }
    # A path that leaves the includer folder by ".." is taken from there when it leads nowhere
    # from the top either.
    if (path ~ /^\.\.(\/|$)/ && here !~ /^\.\.(\/|$)/) path = here
    layer(file, at, own, folderOf(path), text)
}
function layer(file, at, own, target, text) {
    if (!(target in rank) || target == "main.cpp")
        fail(file, at, "include of " target "/, which is no part of the program", text)
    else if (target != own && rank[target] == rank[own])
        fail(file, at, "sideways include: " own "/ and " target "/ are siblings", text)
    else if (rank[target] > rank[own])
        fail(file, at, "upward include: " own "/ may include only the folders below it", text)
}
function fail(file, at, rule, text) { print file ":" at ": " rule ": " text; broken = 1 }
END { exit broken ? 1 : 0 }' - "${sources[@]}"
