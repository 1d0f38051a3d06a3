# bash completion for tarntool
_tarntool() {
  local cur prev words cword
  _init_completion || return
  local commands="info verify encode decode rekey keygen"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --key-file | --new-key-file)
      _filedir
      return
      ;;
    -o | --output)
      # A file, or - for the standard output (keygen takes a file only).
      _filedir
      [[ ${words[1]} != keygen && -z $cur ]] && COMPREPLY+=(-)
      return
      ;;
    --key-env)
      COMPREPLY=($(compgen -e -- "$cur"))
      return
      ;;
    --key-fd | -j | --jobs)
      return
      ;;
  esac
  local options="--help --quiet"
  case ${words[1]} in
    info) options+=" --json --jobs" ;;
    verify) options+=" --json --jobs --key-file --key-env --key-fd" ;;
    encode | decode) options+=" --output --key-file --key-env --key-fd" ;;
    rekey) options+=" --output --key-file --key-env --key-fd --new-key-file" ;;
    keygen) options+=" --output" ;;
  esac
  if [[ $cur == -?* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    # A file, or - for the standard input.
    _filedir
    [[ ${words[1]} != keygen && ( -z $cur || $cur == - ) ]] && COMPREPLY+=(-)
  fi
}
complete -F _tarntool tarntool
