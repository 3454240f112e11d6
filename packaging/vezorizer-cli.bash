# bash completion for vezorizer-cli
_vezorizer_cli() {
  local cur prev words cword
  _init_completion || return
  local subcommands="inspect split combine compare renumber convert ports send capture help"
  local sub="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in -*) ;; *) sub=${words[i]}; break ;; esac
  done
  if [[ -z $sub ]]; then
    COMPREPLY=($(compgen -W "$subcommands --version -h --help -q --quiet" -- "$cur"))
    return
  fi
  case $prev in
    -o|--output|--base) _filedir; return ;;
    -p|--port|--buffer-size|--pause|--idle-timeout|--interval|--map|--device-id) return ;;
  esac
  local options="-h --help -q --quiet"
  case $sub in
    inspect) options+=" --json" ;;
    split) options+=" --json --base" ;;
    combine) options+=" --json -o --output" ;;
    compare) options+=" --json" ;;
    renumber) options+=" --map --device-id -o --output" ;;
    convert) options+=" --json --interval --keep-stray" ;;
    ports) options+=" --json" ;;
    send) options+=" --json -p --port --buffer-size --pause --dry-run" ;;
    capture) options+=" --json -p --port --idle-timeout -o --output --base" ;;
    help) COMPREPLY=($(compgen -W "$subcommands" -- "$cur")); return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    _filedir '@(syx|SYX|mid|MID|midi|MIDI)'
  fi
}
complete -F _vezorizer_cli vezorizer-cli
