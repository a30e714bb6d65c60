#!/usr/bin/env bash
# The layer check passes on the source tree; on a copy of a few of its files it passes too, and
# each planted include makes it exit 1 naming the file, the line and the rule broken.
set -uo pipefail
source_tree="$1"
check="$source_tree/scripts/layers.sh"
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

out="$("$check" "$source_tree" 2>&1)" || fail "the source tree breaks its layers:"$'\n'"$out"

copy="$(mktemp -d)"
trap 'rm -rf "$copy"' EXIT
for file in core/records.h storage/sqlbasemodule.cpp ui/tablecolumns.cpp ui/tableloader.cpp main.cpp; do
    mkdir -p "$copy/$(dirname "$file")" && cp "$source_tree/$file" "$copy/$file"
done
out="$("$check" "$copy" 2>&1)" || fail "the copy breaks its layers:"$'\n'"$out"

# file | include planted as its third line | what the check says
checks=2
while IFS='|' read -r file include rule; do
    checks=$((checks + 1))
    cp -r "$copy" "$copy.planted"
    sed -i "3i $include" "$copy.planted/$file"
    out="$("$check" "$copy.planted" 2>&1)"
    code=$?
    [[ $code == 1 && "$out" == "$file:3: $rule: $include" ]] || fail "$include in $file: exit $code, said: $out"
    rm -rf "$copy.planted"
done <<'PLANTS'
storage/sqlbasemodule.cpp|#include "ui/mainwindow.h"|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|#include "app/appstate.h"|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|#include <app/appstate.h>|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|#include "storage/../app/appstate.h"|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|%:include "app/appstate.h"|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|# /* */ include "app/appstate.h"|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|#include <../../app/appstate.h>|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|#import "app/appstate.h"|upward include: storage/ may include only the folders below it
storage/sqlbasemodule.cpp|#include APP_STATE_HEADER|include through a macro, which this check cannot follow
core/records.h|#include "app/appstate.h"|upward include: core/ may include only the folders below it
storage/sqlbasemodule.cpp|#include "links/modemmodule.h"|sideways include: storage/ and links/ are siblings
storage/sqlbasemodule.cpp|#include <QMessageBox>|QtWidgets header in storage/, a layer without widgets
storage/sqlbasemodule.cpp|#include <qwidget.h>|QtWidgets header in storage/, a layer without widgets
storage/sqlbasemodule.cpp|#include <qmessagebox.h>|QtWidgets header in storage/, a layer without widgets
storage/sqlbasemodule.cpp|#include <QtCore/../QtWidgets/QWidget>|QtWidgets header in storage/, a layer without widgets
ui/tablecolumns.cpp|#include <QSqlQuery>|database driver header outside storage/
ui/tablecolumns.cpp|#include <sqlite3.h>|database driver header outside storage/
ui/tablecolumns.cpp|#include <qsqlquery.h>|database driver header outside storage/
ui/tablecolumns.cpp|#include "tools/modemsim/modempeer.h"|include of tools/, which is no part of the program
PLANTS
echo "$((checks - failed)) passed, $failed failed"
(( failed == 0 ))
