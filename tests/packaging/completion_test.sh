#!/usr/bin/env bash
# Asks the bash completion what it offers at points of a command line,
# and checks that it leaves file names to bash everywhere else.
#
#   completion_test.sh COMPLETION_FILE
set -u
# shellcheck source=/dev/null
source "$1"
failed=0

# offers LINE: what the completion offers for the last word of LINE (a
# trailing space stands for an empty word), sorted, on one line.
offers() {
  local line=$1
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _quelvo quelvo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

# Each case: the command line, a tab, what must be offered (empty: nothing,
# so that bash completes file names).
while IFS=$'\t' read -r line want; do
  got=$(offers "$line")
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$line' offers '$got', expected '$want'"
    failed=$((failed + 1))
  fi
done <<'CASES'
quelvo -	-- --all --ca-file --ca-path --catalog-dir --crl-file --csv --dotnet --expect --fields --hash --help --json --lint --lint-ignore --quiet --recursive --signature --utf8 --version -\? -d -v
quelvo --	-- --all --ca-file --ca-path --catalog-dir --crl-file --csv --dotnet --expect --fields --hash --help --json --lint --lint-ignore --quiet --recursive --signature --utf8 --version
quelvo --c	--ca-file --ca-path --catalog-dir --crl-file --csv
quelvo --ca-file 	
quelvo --ca-file --j	
quelvo --catalog-dir cat --ca-file x -	-- --all --ca-path --crl-file --csv --dotnet --expect --fields --hash --json --lint --lint-ignore --quiet --recursive --signature --utf8 -\? -d -v
quelvo --d	--dotnet
quelvo --j	--json
quelvo --h	--hash --help
quelvo --csv --	-- --all --ca-file --ca-path --catalog-dir --crl-file --dotnet --expect --fields --hash --lint --lint-ignore --quiet --recursive --signature --utf8
quelvo --fields fixed.file_f	fixed.file_flags fixed.file_flags_mask
quelvo --json --fields path,sta	path,status
quelvo --json --fields path,status,Pro	path,status,ProductName path,status,ProductVersion
quelvo --csv --fields path,p	path,product_version
quelvo --csv --fields version.file,version.file	version.file,version.file_suffix
quelvo --csv --fields signature.catalog.trust.c	signature.catalog.trust.checked_at
quelvo --fields -	
quelvo --fields path,status -	-- --all --ca-file --ca-path --catalog-dir --crl-file --csv --dotnet --expect --hash --json --lint --lint-ignore --quiet --recursive --signature --utf8 -\? -d -v
quelvo --ver	--version
quelvo -d	-d
quelvo --json -	-- --all --ca-file --ca-path --catalog-dir --crl-file --dotnet --expect --fields --hash --lint --lint-ignore --quiet --recursive --signature --utf8 -\? -d -v
quelvo --json --all --utf8 --recursive --	-- --ca-file --ca-path --catalog-dir --crl-file --dotnet --expect --fields --hash --lint --lint-ignore --quiet --signature
quelvo --json --all --utf8 --recursive --hash --	-- --ca-file --ca-path --catalog-dir --crl-file --dotnet --expect --fields --lint --lint-ignore --quiet --signature
quelvo --hash --h	
quelvo --dotnet --json -	-- --all --ca-file --ca-path --catalog-dir --crl-file --expect --fields --hash --lint --lint-ignore --quiet --recursive --signature --utf8 -\? -d -v
quelvo --json --all --utf8 --recursive --dotnet --	-- --ca-file --ca-path --catalog-dir --crl-file --expect --fields --hash --lint --lint-ignore --quiet --signature
quelvo --expect 	
quelvo --expect -	
quelvo --expect FileVersion=1.0 --exp	--expect
quelvo --lint --l	--lint-ignore
quelvo --q	--quiet
quelvo --quiet --lint --q	
quelvo --lint --lint-ignore QV01	QV010 QV011 QV012 QV013 QV014 QV015 QV016 QV017 QV018 QV019
quelvo --lint --lint-ignore QV001 --lint-ignore QV002 --lint-i	--lint-ignore
quelvo --lint --lint-ignore QV001 -	-- --all --ca-file --ca-path --catalog-dir --crl-file --csv --dotnet --expect --fields --hash --json --lint-ignore --quiet --recursive --signature --utf8 -\? -d -v
quelvo --json --j	
quelvo --json -- -	
quelvo -- -	-\? -d -v
quelvo --json -- --	
quelvo -- --json	
quelvo --help -	
quelvo --version --	
quelvo -d -	
quelvo -d --json	
quelvo -v -	
quelvo samples/app32.exe -	
quelvo --json samples/	
quelvo 	
quelvo --utf8 	
CASES

# An empty answer must fall back to file names, not to nothing at all.
registration=$(complete -p quelvo)
case $registration in
*"-o default"*) ;;
*) echo "FAIL: the completion does not fall back to file names: $registration"; failed=$((failed + 1)) ;;
esac

echo "bash completion: $failed failed"
[ "$failed" = 0 ]
