#!/usr/bin/env bash
# Checks a manual page against the usage text its program prints:
# - groff -man -ww -z reports nothing about the page, in its own form nor in
#   the Windows form of the zip's HTML pages (the register windows set);
# - every option of the usage text ("-Name Placeholder" at the start of a
#   line) is a tag of the page's OPTIONS section with the same placeholder,
#   and the section has no other option;
# - when the usage text has an "Exit Status" paragraph, the page's EXIT STATUS
#   section carries its sentences;
# - SEE ALSO names every other program, the pages beside this one, and
#   nothing else.
# The page's option tags are the lines after .TP, written as
# ".B \-Name" or ".BI \-Name " Placeholder"".
# Usage: check_manual_page.sh PAGE PROGRAM...   (PROGRAM... prints the usage)
set -euo pipefail
export LC_ALL=C
page=$1
shift

failures=0
fail() { echo "FAILED: $page: $*" >&2; failures=$((failures + 1)); }

for windows in 0 1; do
  warnings=$(groff -man -ww -z -rwindows=$windows "$page" 2>&1) || fail "groff failed"
  [ -z "$warnings" ] || fail "groff -man -ww -z -rwindows=$windows reports: $warnings"
done

# The usage text: printed when no argument is given, with exit status 1.
status=0
usage=$("$@" </dev/null 2>&1 | tr -d '\r') || status=$?
[ "$status" -eq 1 ] || fail "the program without arguments exited with $status, not 1"
[ -n "$usage" ] || fail "the program printed no usage text"

# "-Name" or "-Name Placeholder": the first two words of each usage line that
# begins with a dash.
usage_options=$(printf '%s\n' "$usage" | awk '/^-[A-Za-z]/ { print ($2 == "" ? $1 : $1 " " $2) }' | sort)

# The text of a roff line: macro name and quotes gone, arguments joined (the
# font-alternating macros join them without space), escapes resolved.
roff_text() {
  sed -e 's/^\.[A-Z][A-Z]* *//' -e 's/" *"//g' -e 's/"//g' \
      -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' -e 's/\\ / /g' -e 's/  */ /g' -e 's/^ //' -e 's/ $//'
}

# The lines of one section, from its .SH line to the next one.
section() {
  awk -v name="$1" '
    /^\.SH/ { title = $0; sub(/^\.SH[ \t]+/, "", title); gsub(/"/, "", title); inside = (title == name); next }
    inside { print }' "$page"
}

page_options=$(section OPTIONS | awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' | roff_text | sort)
[ -n "$page_options" ] || fail "the OPTIONS section has no option tags"

only_usage=$(comm -23 <(printf '%s\n' "$usage_options") <(printf '%s\n' "$page_options"))
only_page=$(comm -13 <(printf '%s\n' "$usage_options") <(printf '%s\n' "$page_options"))
[ -z "$only_usage" ] || fail "options of the usage text missing from OPTIONS: $(echo $only_usage)"
[ -z "$only_page" ] || fail "options in OPTIONS that the usage text does not have: $(echo $only_page)"

# The usage's exit-status sentences: the lines after "Exit Status" up to the
# next empty line, joined with spaces.
usage_exit=$(printf '%s\n' "$usage" | awk '/^Exit Status$/ { inside = 1; next } inside && /^$/ { exit } inside' |
  paste -sd ' ' -)
if [ -n "$usage_exit" ]; then
  page_exit=$(section "EXIT STATUS" | { grep -v '^\.' || true; } | roff_text | paste -sd ' ' -)
  case "$page_exit" in
    *"$usage_exit"*) ;;
    *) fail "EXIT STATUS does not say: $usage_exit" ;;
  esac
fi

this=$(basename "$page" .1)
others=$(for other in "$(dirname "$page")"/*.1; do
  name=$(basename "$other" .1)
  [ "$name" = "$this" ] || echo "$name"
done | sort)
see_also=$(section "SEE ALSO" | roff_text | tr ' ,' '\n\n' | { grep -E '^[a-z][a-z-]*$' || true; } | sort)
[ "$see_also" = "$others" ] || fail "SEE ALSO names $(echo $see_also), not $(echo $others)"

[ "$failures" -eq 0 ] || exit 1
echo "$page agrees with the usage text: $(echo $usage_options)"
