#!/usr/bin/env bash
# Writes a single-file build of a game: the stripped executable with the
# game folder's contents appended as a ZIP archive ("app/main.rb" at the
# archive's root) and the fallback font inside the archive.
#   scripts/package.sh <moonforge executable> <game dir> <output file>
set -euo pipefail

[ $# -eq 3 ] || { echo "usage: $0 <moonforge executable> <game dir> <output file>" >&2; exit 2; }
exe=$1 game=$2 out=$3
[ -f "$exe" ] || { echo "package: no executable at '$exe'" >&2; exit 1; }
[ -f "$game/app/main.rb" ] || { echo "package: '$game' is not a game directory (no app/main.rb)" >&2; exit 1; }
font="$(dirname "$exe")/font.ttf"
[ -f "$font" ] || { echo "package: no font.ttf next to '$exe'" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Strip first: stripping rewrites the file and would drop an appended archive.
cp "$exe" "$work/moonforge"
strip "$work/moonforge"
# Logs and temporary files of development runs are not part of the game.
(cd "$game" && zip -q -r -X "$work/game.zip" . -x 'logs/*' 'tmp/*' '.*' '*/.*')
(cd "$(dirname "$font")" && zip -q -X "$work/game.zip" font.ttf)
cat "$work/moonforge" "$work/game.zip" > "$work/packaged"
# Make the archive's offsets count from the start of the combined file.
zip -q -A "$work/packaged"
mkdir -p "$(dirname "$out")"
install -m 755 "$work/packaged" "$out"
echo "package: wrote $out"
