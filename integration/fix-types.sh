#!/bin/sh
# Gives orvo_Action's custom actions their types in a package built by
# wixl, which writes Execute="rollback" as an immediate action and marks
# immediate actions no-impersonate (a flag that only deferred ones take).
#   fix-types.sh PACKAGE.msi
set -eu
q() { msibuild "$1" -q "$2"; }
q "$1" "UPDATE \`CustomAction\` SET \`Type\` = 1281 WHERE \`Action\` = 'OrvoRollback'"
# The journal's rollback and commit actions run elevated (no impersonation).
for action in $(msiinfo export "$1" CustomAction | tr -d '\r' | awk -F '\t' '$1 ~ /^orvo_(Rollback|Commit)/ { print $1 }'); do
  case $action in
    orvo_Rollback*) q "$1" "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = '$action'" ;;
    *) q "$1" "UPDATE \`CustomAction\` SET \`Type\` = 3585 WHERE \`Action\` = '$action'" ;;
  esac
done
for action in OrvoRemoteFolderAccess AppIndexWrite AppIndexSetNoBackslashProps OrvoInit OrvoRegistry \
              OrvoShortcuts OrvoCleanup AppIndexUninstall; do
  q "$1" "UPDATE \`CustomAction\` SET \`Type\` = 1 WHERE \`Action\` = '$action'"
done
