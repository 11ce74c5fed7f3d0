#!/usr/bin/env bash
# The desktop integration as `cmake --install` lays it out: the entry, the MIME package and the
# icon in their places; every MIME type the entry names is declared, and the MIME database made
# from the package maps a file of every LDI kind to one of them.
set -euo pipefail
BUILD_DIR=$1
PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT
cmake --install "$BUILD_DIR" --prefix "$PREFIX" >/dev/null
ENTRY=$PREFIX/share/applications/strata-viewer.desktop
PACKAGE=$PREFIX/share/mime/packages/strata-viewer.xml
for f in "$ENTRY" "$PACKAGE" "$PREFIX/share/icons/hicolor/scalable/apps/strata-viewer.svg"; do
  [ -f "$f" ] || { echo "missing after install: $f" >&2; exit 1; }
done
grep -q '^Icon=strata-viewer$' "$ENTRY" || { echo "the entry names no icon" >&2; exit 1; }
types=$(sed -n 's/^MimeType=//p' "$ENTRY" | tr ';' ' ')
[ -n "$types" ] || { echo "the entry declares no MIME types" >&2; exit 1; }
for t in $types; do
  grep -q "<mime-type type=\"$t\">" "$PACKAGE" || { echo "$t is not in the package" >&2; exit 1; }
done
command -v update-mime-database >/dev/null || exit 0
update-mime-database "$PREFIX/share/mime" 2>/dev/null
for ext in ldibrtcp ldibrtqp ldibrtmrqp ldirtffcp ldirtffqp ldirtffmrqp ldiquad ldipyr ldiset vox; do
  type=$(awk -F: -v e="*.$ext" '$3 == e { print $2 }' "$PREFIX/share/mime/globs2")
  [ -n "$type" ] || { echo "no MIME type for *.$ext" >&2; exit 1; }
  case " $types " in
    *" $type "*) ;;
    *) echo "*.$ext is $type, which the entry does not open" >&2; exit 1 ;;
  esac
done
echo "desktop files: entry, package and icon in place; every kind maps to the viewer"
