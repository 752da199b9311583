#!/bin/sh
# Builds samples/product/product.wxs with integration/orvo.wxi, gives the
# actions their types, and checks each action's type, entry point, place
# and condition as the package holds them.
set -eu
top=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
: > orvo_Action.dll
wixl -D OrvoGuid=_T -D OrvoDll=orvo_Action.dll -D UpgradeCode='{11111111-2222-3333-4444-555555555555}' \
  -D FolderName=TypesTest -D ComponentGuid='{11111111-2222-3333-4444-666666666666}' \
  -o product.msi "$top/samples/product/product.wxs" 2>/dev/null
"$top/integration/fix-types.sh" product.msi

msiinfo export product.msi CustomAction | tail -n +4 | cut -f1-4 | tr -d '\r' | sort > actions.txt
cat > expected-actions.txt <<'TXT'
AppIndexSetNoBackslashProps	1	OrvoAction	AppIndexSetNoBackslashProps
AppIndexUninstall	1	OrvoAction	AppIndexUninstall
AppIndexWrite	1	OrvoAction	AppIndexWrite
OrvoCleanup	1	OrvoAction	OrvoCleanup
OrvoInit	1	OrvoAction	OrvoInit
OrvoRegistry	1	OrvoAction	OrvoRegistry
OrvoRemoteFolderAccess	1	OrvoAction	OrvoRemoteFolderAccess
OrvoRollback	1281	OrvoAction	OrvoRollback
OrvoShortcuts	1	OrvoAction	OrvoShortcuts
orvo_Commit_T	3585	OrvoAction	OrvoRollback
orvo_Install_T	3073	OrvoAction	OrvoInstall
orvo_Patch	3073	OrvoAction	OrvoPatch
orvo_Remove_T	3073	OrvoAction	OrvoRemove
orvo_Rollback_T	3329	OrvoAction	OrvoRollback
TXT
sort expected-actions.txt > expected-sorted.txt
diff -u expected-sorted.txt actions.txt

# The deferred actions sit inside the script, the rollback action right
# after it starts, the later immediate ones after it ends.
msiinfo export product.msi InstallExecuteSequence | tail -n +4 | tr -d '\r' > sequence.txt
place() { awk -F '\t' -v a="$1" '$1 == a { print $3 }' sequence.txt; }
condition() { awk -F '\t' -v a="$1" '$1 == a { print $2 }' sequence.txt; }
[ "$(place OrvoInit)" -gt "$(place CostFinalize)" ] && [ "$(place OrvoInit)" -lt "$(place InstallInitialize)" ]
[ "$(place AppIndexWrite)" -lt "$(place OrvoInit)" ]
[ "$(place OrvoRollback)" -gt "$(place InstallInitialize)" ]
for deferred in orvo_Remove_T orvo_Install_T orvo_Patch; do
  [ "$(place $deferred)" -gt "$(place InstallInitialize)" ] && [ "$(place $deferred)" -lt "$(place InstallFinalize)" ]
done
[ "$(place orvo_Remove_T)" -lt "$(place orvo_Install_T)" ]
# The journal's rollback action stands before the file actions it undoes.
[ "$(place orvo_Rollback_T)" -gt "$(place InstallInitialize)" ] && [ "$(place orvo_Rollback_T)" -lt "$(place orvo_Remove_T)" ]
[ "$(place orvo_Commit_T)" -gt "$(place orvo_Install_T)" ] && [ "$(place orvo_Commit_T)" -lt "$(place InstallFinalize)" ]
for late in OrvoRegistry OrvoShortcuts OrvoCleanup AppIndexUninstall; do
  [ "$(place $late)" -gt "$(place InstallFinalize)" ]
done
[ "$(place OrvoCleanup)" -gt "$(place OrvoShortcuts)" ]
[ "$(condition OrvoCleanup)" = 'REMOVE="ALL"' ]
[ "$(condition orvo_Install_T)" = 'NOT REMOVE="ALL"' ]
[ "$(msiinfo export product.msi Property | awk -F '\t' '$1 == "_ORVOGUID" { print $2 }' | tr -d '\r')" = _T ]
echo "package types and places as expected"
