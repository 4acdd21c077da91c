#!/bin/bash
# Installs the locales of the languages that the start program's boxes speak,
# and of an unknown one: Wine takes the user's interface language from the
# Unix locale only when the C library has that locale. The tests compile their
# own into the build tree (LOCPATH); these make `LANG=de_DE.UTF-8 wine ...`
# work by hand and for other tools. Only root can install them; anyone else
# goes without.
set -euo pipefail
[ "$(id -u)" = 0 ] || exit 0
command -v localedef >/dev/null && [ -d /usr/share/i18n/locales ] || exit 0
installed=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z')
for name in zh_CN zh_TW zh_HK ru_RU es_ES pt_BR de_DE ja_JP fr_FR pl_PL ko_KR tr_TR it_IT uk_UA sw_KE; do
    lower=$(echo "$name" | tr 'A-Z' 'a-z')
    if ! grep -qx "$lower.utf8" <<<"$installed"; then
        localedef -i "$name" -f UTF-8 "$name.UTF-8" >/dev/null 2>&1 || echo "warning: locale $name.UTF-8 could not be installed" >&2
    fi
done
