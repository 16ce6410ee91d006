#!/bin/bash
# The bash completions as bash runs them: each script is sourced in a clean
# bash, which is asked to complete a few command lines through the function
# the script registered with `complete` (COMP_WORDS and COMP_CWORD set as
# readline sets them), and the words offered are compared.
#   completion-test.sh COMPLETION_DIR
set -u
dir=$(readlink -f "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/scenarios"
touch "$scratch/appliance.yaml" "$scratch/notes.txt" "$scratch/field.jsonl" "$scratch/scenarios/a.yaml"
failed=0

# completes PROGRAM 'WORDS...' EXPECTED: the last word is the one being
# completed (empty when the line ends in a space); EXPECTED is what is
# offered, sorted, one space apart.
completes() {
  local got
  got=$(cd "$scratch" && bash --norc --noprofile -c '
    . "$1" || exit 1
    spec=$(complete -p "$2") || exit 1
    fn=${spec#*-F }; fn=${fn%% *}
    read -r -a COMP_WORDS <<<"$3"
    [[ $3 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$3 COMP_POINT=${#3}
    "$fn" "$2" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' _ "$dir/$1" "$1" "$2") || got="(the script failed)"
  if [ "$got" = "$3" ]; then
    echo "ok: '$2' -> $got"
  else
    echo "FAILED: '$2' -> '$got', expected '$3'"
    failed=1
  fi
}

completes agentctl 'agentctl ' 'call get help hold list record reload set show sim trace'
completes agentctl 'agentctl s' 'set show sim'
completes agentctl 'agentctl --j' '--json'
completes agentctl 'agentctl --socket /run/x.sock --json sh' 'show'
completes agentctl 'agentctl show ' 'agent status'
completes agentctl 'agentctl --json record st' 'start stop'
completes agentctl 'agentctl record start fi' 'field.jsonl'
completes agentctl 'agentctl sim link 1 ' 'down flap up'
completes agentctl 'agentctl trace C' 'CpuIfMgr'
completes agentctl 'agentctl get bcm53134Sm pollPeriod ' ''
completes agenthost 'agenthost --sc' '--scenario'
completes agenthost 'agenthost --scenario ' 'appliance.yaml scenarios'
completes agenthost 'agenthost --replay f' 'field.jsonl'
completes agenthost 'agenthost --trace C' 'CpuIfMgr/0'
completes agenthost 'agenthost --check ap' 'appliance.yaml'
exit $failed
