#!/usr/bin/env bash
# The bash completion of the command-line program, run as bash runs it: every
# option of --help, the commands, file names for FILE, the tables of an
# embedded database for TABLE, and no call that could ask for a password.
#   completion_test.sh PROGRAM COMPLETION-FILE
set -uo pipefail
program=$(realpath "$1")
completion=$2
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || exit 1
# shellcheck disable=SC1090
source "$completion" || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The completions of the last word, one a line, for a line of the given words;
# a word with "=" is split around it, as bash splits it.
complete_words() {
  local word
  COMP_WORDS=()
  for word in "$@"; do
    if [[ $word == --*=* ]]; then
      COMP_WORDS+=("${word%%=*}" "=" "${word#*=}")
    else
      COMP_WORDS+=("$word")
    fi
  done
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _varnelo_pelmora_cli "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local wanted=$1 got
  shift
  got=$(complete_words "$@")
  [ "$got" = "$wanted" ] || fail "'$*' completed to [${got//$'\n'/ }], not [${wanted//$'\n'/ }]"
}

# Every long option of --help, and no other.
options=$("$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
expect "$options" "$program" --
expect "--password-file
--portable" "$program" -d x.fdb --p
# An export refuses the options of an import: they are not offered there.
expect "--database
--delimiter" "$program" -d x.fdb export --d
expect "--database
--delimiter
--dry-run" "$program" -d x.fdb import --d

commands="export
export-all
fields
import
import-all
tables"
expect "$commands" "$program" --database x.fdb ""
# The value of every option of --help that takes one is no command.
while read -r option; do
  expect "$commands" "$program" "$option" value ""
done < <("$program" --help | sed -nE 's/^ +(-[A-Za-z], )?(--[a-z-]+) [^ ].*/\2/p')
expect "replace" "$program" --mode r

touch "$scratch/orders.csv" "$scratch/other.txt" "$scratch/rates.csv"
expect "$scratch/orders.csv
$scratch/other.txt" "$program" --database x.fdb export T "$scratch/o"
expect "$scratch/rates.csv" "$program" --password-file "$scratch/r"
# A query stands for the table: FILE comes first.
expect "$scratch/rates.csv" "$program" -d x.fdb --query "'SELECT * FROM RATES'" export "$scratch/r"

# The tables of an embedded database, whichever way the line names it.
database="$scratch/shop.fdb"
isql-fb -q -b -user SYSDBA -password masterkey >/dev/null <<SQL || fail "isql-fb could not make $database"
CREATE DATABASE '$database' USER 'SYSDBA' PASSWORD 'masterkey';
CREATE TABLE CUSTOMER (ID INTEGER);
CREATE TABLE CITY (ID INTEGER);
CREATE TABLE "Mixed Case" (ID INTEGER);
COMMIT;
SQL
unset ISC_PASSWORD
expect "CITY
CUSTOMER" "$program" --database "$database" export C
expect "CITY" "$program" -q -d "$database" fields CI
expect 'Mixed\ Case' "$program" "--database=$database" import M
expect 'Mixed\ Case' "$program" -d"'$database'" fields 'Mixed\ '
(cd "$scratch" && expect "CUSTOMER" "$program" --database shop.fdb export CU)
HOME=$scratch expect "CUSTOMER" "$program" --database "~/shop.fdb" export CU

# A server asks for a password: it is only called with one given. The stub
# stands in for the program and says how it was called.
stub="$scratch/stub"
cat >"$stub" <<STUB
#!/bin/sh
printf '%s\n' "\$*" >"$scratch/called"
[ -t 0 ] && echo "stdin is a terminal" >>"$scratch/called"
echo ORDERS
STUB
chmod +x "$stub"
called() { cat "$scratch/called" 2>/dev/null; rm -f "$scratch/called"; }

expect "" "$stub" --server localhost --database /srv/shop.fdb export O
[ -z "$(called)" ] || fail "the program was called for a server without a password"
expect "" "$stub" --database localhost:/srv/shop.fdb export O
[ -z "$(called)" ] || fail "the program was called for host:path without a password"
expect "ORDERS" "$stub" -s localhost -d /srv/shop.fdb -u REPORTS --password-file /etc/pw fields O
[ "$(called)" = "-q --server localhost --database /srv/shop.fdb --user REPORTS --password-file /etc/pw tables" ] ||
  fail "the program was not asked for the tables with the line's connection"
ISC_PASSWORD=secret expect "ORDERS" "$stub" --server=localhost/3051 -d /srv/shop.fdb export ""
[ "$(called)" = "-q --server localhost/3051 --database /srv/shop.fdb tables" ] ||
  fail "ISC_PASSWORD did not let the program be asked"
# Nothing on the line is run by the shell.
expect "" "$stub" -d '$(touch '"$scratch"'/ran)' export ""
[ ! -e "$scratch/ran" ] || fail "a database name was expanded by the shell"

[ "$failures" -eq 0 ]
